#include "PortComboBox.h"

#include <QAbstractItemView>
#include <QStyledItemDelegate>

namespace {

class TFixedHeightDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return {QStyledItemDelegate::sizeHint(option, index).width(), TPortComboBox::ItemHeight};
  }
};

}  // namespace

TPortComboBox::TPortComboBox(QWidget* parent) : QComboBox(parent) {
  setEditable(false);
  view()->setItemDelegate(new TFixedHeightDelegate(view()));
}

void TPortComboBox::showPopup() {
  if (BeforePopup) BeforePopup();
  // Adapters' descriptions are longer than the box: the open list is as wide as they are.
  view()->setMinimumWidth(view()->sizeHintForColumn(0) + 8);
  QComboBox::showPopup();
}
