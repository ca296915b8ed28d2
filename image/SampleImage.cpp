#include "SampleImage.h"

#include "HexText.h"

std::uint8_t SampleByte(int region, int offset, std::uint32_t seed) {
  // A small integer hash: neighbouring offsets get unrelated bytes, so a
  // shifted or swapped block never matches by accident.
  std::uint32_t x = static_cast<std::uint32_t>(offset) * 0x9E3779B1u ^ (static_cast<std::uint32_t>(region) << 24) ^
                    seed * 0x85EBCA6Bu;
  x ^= x >> 15;
  x *= 0x2C1B3C6Du;
  x ^= x >> 12;
  return static_cast<std::uint8_t>(x);
}

TImage MakeSampleImage(std::uint32_t seed) {
  TImage image;
  image.SetupHeaders();
  TImageTable* tables[2] = {&image.StringGrid1, &image.StringGrid2};
  for (int region = 0; region < 2; ++region) {
    for (int row = 1; row <= TImageTable::TailRow; ++row) {
      for (int col = 1; col < TImageTable::ColCount; ++col) {
        const int offset = (row - 1) * 16 + (col - 1);
        tables[region]->SetCell(col, row, IntToHex(SampleByte(region, offset, seed), 2));
      }
    }
  }
  return image;
}
