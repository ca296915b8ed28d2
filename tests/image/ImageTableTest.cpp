// Header texts, the addressing rule and the cell store.
#include <gtest/gtest.h>

#include "HexText.h"
#include "ImageTable.h"

TEST(ImageTable, HeadersSpellTheOffsets) {
  TImage image;
  image.SetupHeaders();
  for (const TImageTable* table : {&image.StringGrid1, &image.StringGrid2}) {
    EXPECT_EQ(table->Cell(0, 0), "");
    EXPECT_EQ(table->Cell(1, 0), "$xxx0");
    EXPECT_EQ(table->Cell(16, 0), "$xxxF");
    EXPECT_EQ(table->Cell(0, 1), "$000y");
    EXPECT_EQ(table->Cell(0, 0x124), "$123y");
    EXPECT_EQ(table->Cell(0, 4096), "$FFFy");
    EXPECT_EQ(table->Cell(0, 4097), "$1000y") << "the number is never cut";
    EXPECT_EQ(table->Cell(5, 52), "") << "data cells start empty";
    EXPECT_EQ(table->Cell(16, 4097), "");
  }
}

TEST(ImageTable, AddressingRule) {
  EXPECT_EQ(RowOfOffset(0), 1);
  EXPECT_EQ(ColumnOfOffset(0), 1);
  EXPECT_EQ(RowOfOffset(0xFFFF), 4096);
  EXPECT_EQ(ColumnOfOffset(0xFFFF), 16);
  // Page 1, block 2, image line 3, byte 5: offset $335.
  EXPECT_EQ(BlockFirstRow(1, 2) + 3, 52);
  EXPECT_EQ(RowOfOffset(0x335), 52);
  EXPECT_EQ(ColumnOfOffset(0x335), 6);
  EXPECT_EQ(RowHeader(52), "$033y");
  EXPECT_EQ(ColumnHeader(6), "$xxx5");
}

TEST(ImageTable, CellsHoldTextUnchangedIncludingTheTailRow) {
  TImageTable table;
  table.SetCell(3, 4097, "a1");
  table.SetCell(16, 4096, "Z");
  EXPECT_EQ(table.Cell(3, 4097), "a1");
  EXPECT_EQ(table.Cell(16, 4096), "Z");
  EXPECT_THROW(table.Cell(17, 1), std::out_of_range);
  EXPECT_THROW(table.SetCell(1, 4098, "00"), std::out_of_range);
  EXPECT_THROW(table.Cell(-1, 0), std::out_of_range);
}

TEST(HexText, FormattingAndConversion) {
  EXPECT_EQ(IntToHex(0, 4), "0000");
  EXPECT_EQ(IntToHex(0xFF80, 6), "00FF80");
  EXPECT_EQ(IntToHex(0x1000, 3), "1000");
  EXPECT_EQ(IntToHex(0xA, 1), "A");
  EXPECT_EQ(HexToInt("ff"), 0xFFu);
  EXPECT_EQ(HexToInt("0a"), 0x0Au);
  EXPECT_THROW(HexToInt(""), EConvertError);
  EXPECT_THROW(HexToInt("0x"), EConvertError);
  try {
    HexToInt("G1");
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'$G1' is not a valid integer value");
  }
  // Every byte value: digits in either case read as themselves, nothing else
  // (bytes above 0x7F included) reads as a digit.
  const std::string digits = "0123456789abcdef";
  for (int c = 0; c < 256; ++c) {
    const char ch = static_cast<char>(c);
    const auto at = digits.find(static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c));
    EXPECT_EQ(HexDigitValue(ch), at == std::string::npos ? -1 : static_cast<int>(at)) << "byte " << c;
  }
}
