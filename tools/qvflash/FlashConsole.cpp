#include "FlashConsole.h"

#include <algorithm>
#include <set>

#include "FlashSystem.h"
#include "TextOut.h"

namespace {

constexpr const char* kEllipsis = "…";

bool Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

std::size_t CodePoints(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) { return !Continuation(c); }));
}

// The byte offset of code point `n` (the end when there are fewer).
std::size_t OffsetOf(std::string_view text, std::size_t n) {
  std::size_t seen = 0;
  for (std::size_t at = 0; at < text.size(); ++at)
    if (!Continuation(text[at]) && seen++ == n) return at;
  return text.size();
}

std::string FirstPoints(std::string_view text, std::size_t n) { return std::string(text.substr(0, OffsetOf(text, n))); }

std::string LastPoints(std::string_view text, std::size_t n) {
  const std::size_t total = CodePoints(text);
  return total <= n ? std::string(text) : std::string(text.substr(OffsetOf(text, total - n)));
}

}  // namespace

std::vector<std::string> ColumnNames(const std::vector<std::string>& names, std::size_t maxWidth) {
  std::vector<std::string> shown;
  std::size_t width = 1;
  for (const std::string& name : names) {
    shown.push_back(PrintableText(name));
    width = std::max(width, CodePoints(shown.back()));
  }
  width = std::min(width, std::max<std::size_t>(maxWidth, 4));
  std::vector<std::string> column;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const std::string& s = shown[i];
    std::string label = s;
    if (CodePoints(s) > width) {
      // Where this name parts from the one nearest to it, at the front; a
      // name alone keeps its end.
      std::size_t agree = shown.size() == 1 ? s.size() : 0;
      for (std::size_t j = 0; j < shown.size(); ++j) {
        if (j == i) continue;
        const std::string& o = shown[j];
        std::size_t p = 0;
        while (p < std::min(s.size(), o.size()) && s[p] == o[p]) ++p;
        agree = std::max(agree, p);
      }
      const std::size_t differAt = CodePoints(std::string_view(s).substr(0, agree));
      const std::size_t total = CodePoints(s);
      if (total - (width - 1) <= differAt) {
        // The end shows where they differ.
        label = kEllipsis + LastPoints(s, width - 1);
      } else {
        // The part where they differ, with a little of what comes before it.
        const std::size_t from = differAt > 3 ? differAt - 3 : 0;
        const std::string_view rest = std::string_view(s).substr(OffsetOf(s, from));
        label = (from > 0 ? kEllipsis + FirstPoints(rest, width - 2) : FirstPoints(rest, width - 1)) + kEllipsis;
      }
    }
    column.push_back(label);
  }
  // Names that still read alike are told apart by their place in the order given.
  if (std::set<std::string>(column.begin(), column.end()).size() != column.size())
    for (std::size_t i = 0; i < column.size(); ++i) {
      const std::string number = "#" + std::to_string(i + 1);
      column[i] =
          FirstPoints(column[i], width > number.size() + 1 ? width - number.size() - 1 : 0) + kEllipsis + number;
    }
  for (std::string& label : column) label += std::string(width - std::min(width, CodePoints(label)), ' ');
  return column;
}

TConsole::TConsole(std::FILE* out, bool terminal, bool quiet, std::vector<std::string> portNames)
    : out_(out),
      terminal_(terminal),
      quiet_(quiet),
      names_(std::move(portNames)),
      labels_(ColumnNames(names_, 28)),
      live_(names_.size()) {
  writer_ = std::thread([this] { Write(); });
}

TConsole::~TConsole() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  writer_.join();
}

int TConsole::Width() const {
  const int width = FlashSystem::TerminalWidth(out_);
  return width > 10 ? width : 100;
}

void TConsole::Line(int port, const std::string& text, bool always) {
  if (quiet_ && !always) return;
  const std::string prefix = port >= 0 && SeveralPorts() ? names_[static_cast<std::size_t>(port)] + ": " : "";
  {
    std::lock_guard lock(mutex_);
    // A message of several lines (a hint below an error) keeps its lines;
    // names from outside reach it escaped, so every line end is qvflash's.
    for (std::size_t at = 0; at <= text.size();) {
      const std::size_t end = std::min(text.find('\n', at), text.size());
      lines_.push_back(PrintableText(prefix + text.substr(at, end - at)));
      at = end + 1;
    }
  }
  wake_.notify_one();
}

void TConsole::Progress(int port, const std::string& text, bool force) {
  if (!terminal_ || quiet_) return;
  bool wake = force;
  {
    std::lock_guard lock(mutex_);
    if (endLive_) return;
    live_[static_cast<std::size_t>(port)] = text;
    // A change already pending has the writer waiting for its time: no need
    // to wake it for every block.
    wake = wake || !liveChanged_;
    liveChanged_ = true;
    forceDraw_ = forceDraw_ || force;
  }
  if (wake) wake_.notify_one();
}

void TConsole::DropProgress(int port) {
  if (!terminal_ || quiet_) return;
  {
    std::lock_guard lock(mutex_);
    live_[static_cast<std::size_t>(port)].clear();
    liveChanged_ = forceDraw_ = true;
  }
  wake_.notify_one();
}

void TConsole::EndLive() {
  {
    std::lock_guard lock(mutex_);
    endLive_ = true;
    forceDraw_ = true;
  }
  wake_.notify_one();
  Flush();
}

void TConsole::Flush() {
  std::unique_lock lock(mutex_);
  written_.wait(lock,
                [&] { return lines_.empty() && !busy_ && !(liveChanged_ && forceDraw_) && (!endLive_ || liveEnded_); });
}

void TConsole::ClearLive() {
  if (drawn_ == 0) return;
  std::fputs("\r", out_);
  for (int i = 1; i < drawn_; ++i) std::fputs("\033[A", out_);
  std::fputs("\033[J", out_);
  drawn_ = 0;
}

void TConsole::DrawLive(const std::vector<std::string>& live) {
  // A line longer than the terminal would wrap and the cursor would no
  // longer find the block's top.
  const std::size_t width = static_cast<std::size_t>(Width() - 1);
  int lines = 0;
  for (const std::string& text : live) {
    if (text.empty()) continue;
    std::fprintf(out_, "%s%s", lines > 0 ? "\n" : "", FirstPoints(PrintableText(text), width).c_str());
    ++lines;
  }
  drawn_ = lines;
}

void TConsole::Write() {
  std::unique_lock lock(mutex_);
  for (;;) {
    // Lines at once; live rows at most every 100 ms unless forced.
    const auto due = lastDraw_ + std::chrono::milliseconds(100);
    const bool drawLive = liveChanged_ && (forceDraw_ || std::chrono::steady_clock::now() >= due);
    if (lines_.empty() && !drawLive && !(endLive_ && !liveEnded_)) {
      if (stop_) return;
      if (liveChanged_)
        wake_.wait_until(lock, due);
      else
        wake_.wait(lock);
      continue;
    }
    std::deque<std::string> lines;
    lines.swap(lines_);
    const std::vector<std::string> live = live_;
    const bool endLive = endLive_ && !liveEnded_;
    liveChanged_ = forceDraw_ = false;
    busy_ = true;
    lock.unlock();

    ClearLive();
    for (const std::string& line : lines) std::fprintf(out_, "%s\n", line.c_str());
    if (!liveEnded_) DrawLive(live);
    if (endLive) {
      if (drawn_ > 0) std::fputs("\n", out_);
      drawn_ = 0;
    }
    std::fflush(out_);

    lock.lock();
    liveEnded_ = liveEnded_ || endLive;
    if (drawLive || !lines.empty()) lastDraw_ = std::chrono::steady_clock::now();
    busy_ = false;
    written_.notify_all();
  }
}
