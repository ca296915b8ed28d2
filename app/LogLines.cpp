#include "LogLines.h"

#include <algorithm>
#include <iterator>

void TLogLines::Assign(std::vector<std::string> lines) {
  lines_.assign(std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
}

void TLogLines::DropOldest(int count) {
  const auto n = static_cast<std::ptrdiff_t>(std::clamp(count, 0, Count()));
  lines_.erase(lines_.begin(), lines_.begin() + n);
}

QString TLogLines::Text() const {
  std::string text;
  std::size_t size = 0;
  for (const std::string& line : lines_) size += line.size() + 1;
  text.reserve(size);
  for (const std::string& line : lines_) {
    if (&line != &lines_.front()) text += '\n';
    text += line;
  }
  return QString::fromStdString(text);
}
