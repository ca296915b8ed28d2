#include "ImageTable.h"

#include <atomic>
#include <stdexcept>

#include "HexText.h"

TImageTable::TImageTable() : cells_(static_cast<std::size_t>(ColCount) * StoredRows) {}

void TImageTable::ThrowOutside(int col, int row) {
  throw std::out_of_range("cell (" + std::to_string(col) + ", " + std::to_string(row) + ") is outside the image table");
}

namespace {
std::atomic<std::uint64_t> lastStamp{0};
}

void TImageTable::SetCell(int col, int row, std::string text) {
  cells_[Index(col, row)] = std::move(text);
  stamp_ = lastStamp.fetch_add(1, std::memory_order_relaxed) + 1;
}

std::string ColumnHeader(int col) { return "$xxx" + IntToHex(static_cast<std::uint32_t>(col - 1), 1); }

std::string RowHeader(int row) { return "$" + IntToHex(static_cast<std::uint32_t>(row - 1), 3) + "y"; }

void TImageTable::SetupHeaders() {
  for (int col = 1; col < ColCount; ++col) SetCell(col, 0, ColumnHeader(col));
  for (int row = 1; row < StoredRows; ++row) SetCell(0, row, RowHeader(row));
}

void TImage::SetupHeaders() {
  StringGrid1.SetupHeaders();
  StringGrid2.SetupHeaders();
}
