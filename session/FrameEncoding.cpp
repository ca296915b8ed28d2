#include "FrameEncoding.h"

namespace {

// The usual text of a frame: digit pairs without blanks, each pair read at
// once. False (and frame not to be used) at anything else.
bool ConvertPlainPairs(std::string_view text, std::vector<std::uint8_t>& frame) {
  if (text.size() % 2 != 0 || text.find(' ') != std::string_view::npos) return false;
  frame.resize(text.size() / 2);
  for (std::size_t i = 0; i < frame.size(); ++i) {
    const int high = HexDigitValue(text[2 * i]);
    const int low = HexDigitValue(text[2 * i + 1]);
    if ((high | low) < 0) return false;
    frame[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return true;
}

// Any text: blanks skipped wherever they stand, a trailing single digit
// dropped; throws at the first pair that is not hexadecimal.
void ConvertSpacedPairs(std::string_view text, std::vector<std::uint8_t>& frame) {
  frame.assign(text.size() / 2, 0);  // the most pairs the text can hold
  std::uint8_t* out = frame.data();
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
    *out++ = static_cast<std::uint8_t>(high << 4 | low);
    paired = true;
  }
  frame.resize(static_cast<std::size_t>(out - frame.data()));
}

}  // namespace

std::vector<std::uint8_t> ConvertCommandText(std::string_view text) {
  std::vector<std::uint8_t> frame;
  if (!ConvertPlainPairs(text, frame)) ConvertSpacedPairs(text, frame);
  if (frame.size() > 255)
    throw EConvertError("Command text of " + std::to_string(frame.size()) + " bytes is longer than a frame can be");
  return frame;
}

std::uint8_t FrameDataSum(const std::vector<std::uint8_t>& frame) {
  std::uint32_t sum = 0;
  for (std::size_t i = 3; i < frame.size(); ++i) sum += frame[i];
  return static_cast<std::uint8_t>(sum);
}

std::string ReadBlockText(const TImageTable& table, int firstRow) {
  // Written in place while every cell holds the usual two digits; from the
  // first cell that does not, appended cell by cell.
  std::string text(2 * BlockDataBytes, '\0');
  std::size_t at = 0;
  for (int row = firstRow; row < firstRow + 8; ++row)
    for (int col = 1; col < TImageTable::ColCount; ++col) {
      const std::string& cell = table.Cell(col, row);
      if (cell.size() == 2 && at + 2 <= text.size()) {
        text[at] = cell[0];
        text[at + 1] = cell[1];
      } else {
        text.resize(at);
        text += cell;
      }
      at += cell.size();
    }
  text.resize(at);
  return text;
}
