#include "FlashConsole.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <unistd.h>

#include "TextOut.h"

TConsole::TConsole(std::FILE* out, bool terminal, bool quiet, std::vector<std::string> portNames)
    : out_(out), terminal_(terminal), quiet_(quiet), names_(std::move(portNames)), live_(names_.size()) {}

int TConsole::Width() const {
  winsize size{};
  if (::ioctl(::fileno(out_), TIOCGWINSZ, &size) == 0 && size.ws_col > 10) return size.ws_col;
  return 100;
}

void TConsole::ClearLive() {
  if (drawn_ == 0) return;
  std::fputs("\r", out_);
  for (int i = 1; i < drawn_; ++i) std::fputs("\033[A", out_);
  std::fputs("\033[J", out_);
  drawn_ = 0;
}

void TConsole::DrawLive() {
  // A line longer than the terminal would wrap and the cursor would no
  // longer find the block's top.
  const std::size_t width = static_cast<std::size_t>(Width() - 1);
  int lines = 0;
  for (const std::string& text : live_) {
    if (text.empty()) continue;
    const std::string shown = PrintableText(text);
    std::fprintf(out_, "%s%s", lines > 0 ? "\n" : "", shown.substr(0, width).c_str());
    ++lines;
  }
  drawn_ = lines;
  std::fflush(out_);
  lastDraw_ = std::chrono::steady_clock::now();
}

void TConsole::Line(int port, const std::string& text, bool always) {
  if (quiet_ && !always) return;
  std::lock_guard lock(mutex_);
  ClearLive();
  const std::string prefix = port >= 0 && SeveralPorts() ? names_[static_cast<std::size_t>(port)] + ": " : "";
  // A message of several lines (a hint below an error) keeps its lines.
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    std::fprintf(out_, "%s\n", PrintableText(prefix + text.substr(at, end - at)).c_str());
    at = end + 1;
  }
  if (!liveEnded_) DrawLive();
  std::fflush(out_);
}

void TConsole::Progress(int port, const std::string& text, bool force) {
  if (!terminal_ || quiet_) return;
  std::lock_guard lock(mutex_);
  if (liveEnded_) return;
  live_[static_cast<std::size_t>(port)] = text;
  if (!force && std::chrono::steady_clock::now() - lastDraw_ < std::chrono::milliseconds(100)) return;
  ClearLive();
  DrawLive();
}

void TConsole::EndLive() {
  std::lock_guard lock(mutex_);
  if (drawn_ > 0) std::fputs("\n", out_);
  drawn_ = 0;
  liveEnded_ = true;
  std::fflush(out_);
}
