#include "ConsolePanes.h"

#include <algorithm>

TConsolePanes::TConsolePanes(std::FILE* out, bool terminal, bool quiet, bool verbose, TTrafficLog& log, int lineBaud)
    : out_(out), terminal_(terminal), quiet_(quiet), verbose_(verbose), log_(log), lineBaud_(lineBaud) {}

void TConsolePanes::SetStatusText(const std::string& text) {
  log_.Line("STATUS", text);
  if (text.empty()) return;
  Message(text);
}

void TConsolePanes::AppendDebugLog(const std::string& line) {
  ++responses_;
  if (verbose_) Message("<-" + line.substr(3));
}

void TConsolePanes::SetLastCommand(const std::string& text) {
  lastCommand_ = text;
  log_.Line("CMD", text);
  if (verbose_) Message("-> " + text);
}

void TConsolePanes::SetGaugeMax(int value) {
  // A new phase begins: the data-flash phase counts 512, the program phase 600.
  if (value == 600) phaseBase_ = 512;
  gaugeMax_ = value;
  gauge_ = std::min(gauge_, gaugeMax_);
}

void TConsolePanes::SetGaugeProgress(int value) {
  gauge_ = std::clamp(value, 0, gaugeMax_);
  if (gauge_ > 0) framesDone_ = std::max(framesDone_, phaseBase_ + gauge_);
  ShowProgress();
}

std::string TConsolePanes::ProgressText() const {
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const int percent = framesDone_ * 100 / TotalLoadFrames;
  char text[256];
  const double left = framesDone_ > 0 ? elapsed / framesDone_ * (TotalLoadFrames - framesDone_) : 0.0;
  const double rate = elapsed > 0 ? static_cast<double>(bytesMoved) * 10.0 / elapsed : 0.0;
  std::snprintf(text, sizeof text, "%3d%% %4d/%d blocks  %6.1f s elapsed  %6.1f s left  %5.1f of %.1f kbit/s", percent,
                framesDone_, TotalLoadFrames, elapsed, left, rate / 1000.0, lineBaud_ / 1000.0);
  return text;
}

void TConsolePanes::ShowProgress(bool force) {
  if (quiet_) return;
  const auto now = std::chrono::steady_clock::now();
  if (terminal_) {
    if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    const int width = 30;
    const int filled = framesDone_ * width / TotalLoadFrames;
    std::fprintf(out_, "\r[%s%s] %s", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(width - filled), '.').c_str(), ProgressText().c_str());
    std::fflush(out_);
    barShown_ = true;
    return;
  }
  // Plain output is a log: one line per tenth of the load, never the same tenth twice.
  const int tenth = framesDone_ * 10 / TotalLoadFrames;
  if (tenth == lastPlainTenth_) return;
  lastPlainTenth_ = tenth;
  std::fprintf(out_, "progress: %s\n", ProgressText().c_str());
}

void TConsolePanes::ClearBar() {
  if (!barShown_) return;
  std::fprintf(out_, "\r\033[K");
  barShown_ = false;
}

void TConsolePanes::FinishProgress() {
  if (barShown_) std::fprintf(out_, "\n");
  barShown_ = false;
}

void TConsolePanes::Message(const std::string& text, bool always) {
  if (quiet_ && !always) return;
  ClearBar();
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}
