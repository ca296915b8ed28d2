#pragma once
// The lines of a log pane, kept as the session writes them (UTF-8) and never
// laid out: what a hidden pane is, and what a visible one draws from.
#include <QString>
#include <deque>
#include <string>
#include <vector>

class TLogLines {
public:
  void Append(std::string line) { lines_.push_back(std::move(line)); }
  void Assign(std::vector<std::string> lines);
  void Clear() { lines_.clear(); }
  // Drops the `count` oldest lines (all of them when there are fewer).
  void DropOldest(int count);

  int Count() const { return static_cast<int>(lines_.size()); }
  const std::string& Line(int index) const { return lines_[static_cast<std::size_t>(index)]; }
  QString LineText(int index) const { return QString::fromStdString(Line(index)); }
  // Every line, each but the last followed by a line feed.
  QString Text() const;

private:
  std::deque<std::string> lines_;
};
