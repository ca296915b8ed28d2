#pragma once
// Command texts and the frames they become.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "HexText.h"
#include "ImageTable.h"

inline constexpr int BlockDataBytes = 128;
inline constexpr int BlockFrameLength = 3 + BlockDataBytes;  // code, address high, address low, data

// Digit pairs of a command text, spaces removed, as frame bytes. A single
// trailing digit is dropped. Throws EConvertError on any other character, and
// on a text of more than 255 bytes (longer than any frame the device takes).
std::vector<std::uint8_t> ConvertCommandText(std::string_view text);

// Low 8 bits of the sum of every byte after the command code and the address.
std::uint8_t FrameDataSum(const std::vector<std::uint8_t>& frame);

// A block frame whose data is not exactly 128 bytes (empty or short cells):
// sending it would make the device take the next frame's bytes as data.
class EBlockDataError : public EConvertError {
public:
  using EConvertError::EConvertError;
};

// The 8 rows from firstRow, each row's cells 1..16, joined without separators.
std::string ReadBlockText(const TImageTable& table, int firstRow);
