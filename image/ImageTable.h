#pragma once
// The two regions of the firmware image, each held as the text table that the
// window shows: 17 columns, rows 0..4096 shown, row 4097 (the region's tail
// line) held but never shown. Column 0 and row 0 are headers; a data cell
// holds the text of one byte exactly as the update file had it.
#include <cstdint>
#include <string>
#include <vector>

class TImageTable {
public:
  static constexpr int ColCount = 17;
  static constexpr int RowCount = 4097;  // displayed rows 0..4096
  static constexpr int TailRow = 4097;   // held, not displayed
  static constexpr int StoredRows = TailRow + 1;

  TImageTable();

  // Never-written cells read as the empty text. Throws std::out_of_range
  // outside columns 0..16 and rows 0..4097.
  const std::string& Cell(int col, int row) const { return cells_[Index(col, row)]; }
  void SetCell(int col, int row, std::string text);

  // Changes whenever a cell is written; a copy keeps its original's stamp.
  // Stamps are unique across tables, so equal stamps mean equal contents
  // (a moved-from table, whose cells are gone, is not to be read at all).
  std::uint64_t Stamp() const { return stamp_; }

  // Column headers $xxx0..$xxxF in row 0, row headers $000y..$1000y in column 0.
  void SetupHeaders();

private:
  // Inline: a block frame reads 128 cells, once per exchange.
  std::size_t Index(int col, int row) const {
    if (col < 0 || col >= ColCount || row < 0 || row >= StoredRows) ThrowOutside(col, row);
    return static_cast<std::size_t>(row) * ColCount + static_cast<std::size_t>(col);
  }
  [[noreturn]] static void ThrowOutside(int col, int row);
  std::vector<std::string> cells_;
  std::uint64_t stamp_ = 0;
};

// Addressing: the byte at offset A of a region.
constexpr int RowOfOffset(int offset) { return offset / 16 + 1; }
constexpr int ColumnOfOffset(int offset) { return offset % 16 + 1; }
// First row of block b (0..3) of page p (512 bytes, 32 rows per page).
constexpr int BlockFirstRow(int page, int block) { return page * 32 + block * 8 + 1; }

std::string ColumnHeader(int col);  // "$xxx" + (col - 1) as one hex digit
std::string RowHeader(int row);     // "$" + (row - 1) in at least 3 hex digits + "y"

// Both regions of the image, named as the window names its tables.
struct TImage {
  TImageTable StringGrid1;  // program memory
  TImageTable StringGrid2;  // data flash
  void SetupHeaders();
};
