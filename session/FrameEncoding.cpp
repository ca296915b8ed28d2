#include "FrameEncoding.h"

std::vector<std::uint8_t> ConvertCommandText(std::string_view text) {
  std::vector<std::uint8_t> frame;
  frame.reserve(text.size() / 2);
  char first = 0;  // the first digit of the pair in hand
  bool paired = true;
  for (char c : text) {
    if (c == ' ') continue;
    if (paired) {
      first = c;
      paired = false;
      continue;
    }
    const int high = HexDigitValue(first);
    const int low = HexDigitValue(c);
    if ((high | low) < 0) HexToInt(std::string{first, c});  // throws with the pair's text
    frame.push_back(static_cast<std::uint8_t>(high << 4 | low));
    paired = true;
  }
  if (frame.size() > 255) throw EConvertError("Command text of " + std::to_string(frame.size()) +
                                               " bytes is longer than a frame can be");
  return frame;
}

std::uint8_t FrameDataSum(const std::vector<std::uint8_t>& frame) {
  std::uint32_t sum = 0;
  for (std::size_t i = 3; i < frame.size(); ++i) sum += frame[i];
  return static_cast<std::uint8_t>(sum);
}

std::string ReadBlockText(const TImageTable& table, int firstRow) {
  std::string text;
  text.reserve(2 * BlockDataBytes);
  for (int row = firstRow; row < firstRow + 8; ++row)
    for (int col = 1; col < TImageTable::ColCount; ++col) {
      const std::string& cell = table.Cell(col, row);
      // The usual two-digit cell goes in without a call to copy two bytes.
      if (cell.size() == 2) {
        text.push_back(cell[0]);
        text.push_back(cell[1]);
      } else {
        text += cell;
      }
    }
  return text;
}
