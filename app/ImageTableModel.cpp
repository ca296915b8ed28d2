#include "ImageTableModel.h"

TImageTableModel::TImageTableModel(const TImageTable& table, QObject* parent)
    : QAbstractTableModel(parent), table_(table) {}

int TImageTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : TImageTable::RowCount - 1;
}

int TImageTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : TImageTable::ColCount - 1;
}

QVariant TImageTableModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  return QString::fromStdString(table_.Cell(index.column() + 1, index.row() + 1));
}

QVariant TImageTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  return orientation == Qt::Horizontal ? QString::fromStdString(table_.Cell(section + 1, 0))
                                       : QString::fromStdString(table_.Cell(0, section + 1));
}

Qt::ItemFlags TImageTableModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void TImageTableModel::Reload() {
  beginResetModel();
  endResetModel();
}
