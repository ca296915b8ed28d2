#pragma once
// Shows one image table: rows 1..4096 and columns 1..16 as data, row 0 and
// column 0 as the fixed headers. Row 4097 is held by the table but not shown.
#include <QAbstractTableModel>

#include "ImageTable.h"

class TImageTableModel : public QAbstractTableModel {
public:
  TImageTableModel(const TImageTable& table, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // A whole-file load changed every cell: one reset instead of 131,104 signals.
  void Reload();

private:
  const TImageTable& table_;
};
