#include "FrameEncoding.h"

std::vector<std::uint8_t> ConvertCommandText(std::string_view text) {
  std::string digits;
  digits.reserve(text.size());
  for (char c : text)
    if (c != ' ') digits.push_back(c);

  std::vector<std::uint8_t> frame;
  frame.reserve(digits.size() / 2);
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
    const int high = HexDigitValue(digits[i]);
    const int low = HexDigitValue(digits[i + 1]);
    if (high < 0 || low < 0) HexToInt(std::string_view(digits).substr(i, 2));  // throws with the pair's text
    frame.push_back(static_cast<std::uint8_t>(high << 4 | low));
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
    for (int col = 1; col < TImageTable::ColCount; ++col) text += table.Cell(col, row);
  return text;
}
