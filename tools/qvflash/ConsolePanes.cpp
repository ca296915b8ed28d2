#include "ConsolePanes.h"

#include <algorithm>

#include "StatusTexts.h"

TConsolePanes::TConsolePanes(TConsole& console, int port, bool quiet, bool verbose, TTrafficLog& log,
                             std::string logTag, int lineBaud)
    : console_(console), port_(port), quiet_(quiet), verbose_(verbose), log_(log), logTag_(std::move(logTag)),
      lineBaud_(lineBaud) {}

void TConsolePanes::SetStatusText(const std::string& text) {
  log_.Line(logTag_, "STATUS", text);
  if (text == kLinkSetUp) phase = "waiting";
  else if (text == kLinkEstablished) phase = "handshake";
  else if (text == kLoadingDataFlash) phase = "data flash";
  else if (text == kLoadingProgram) phase = "program";
  else if (text == kLoadingDone) phase = "done";
  if (text.empty()) return;
  Message(text);
}

void TConsolePanes::AppendDebugLog(const std::string& line) {
  ++responses_;
  if (verbose_) Message("<-" + line.substr(3));
}

void TConsolePanes::SetLastCommand(const std::string& text) {
  lastCommand_ = text;
  log_.Line(logTag_, "CMD", text);
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

std::string TConsolePanes::LiveLine() const {
  const auto bar = [&](int width) {
    const int filled = framesDone_ * width / TotalLoadFrames;
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '.') + "]";
  };
  if (!console_.SeveralPorts() && devicesOk + devicesFailed == 0) return bar(30) + " " + ProgressText();
  // One line per port: port, phase, percent, blocks, rate (and the station's counts).
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const double rate = elapsed > 0 ? static_cast<double>(bytesMoved) * 10.0 / elapsed : 0.0;
  char text[256];
  std::snprintf(text, sizeof text, "%-12.40s %-11s %s %3d%% %4d/%d blocks %5.1f kbit/s", label.c_str(),
                phase.c_str(), bar(20).c_str(), framesDone_ * 100 / TotalLoadFrames, framesDone_, TotalLoadFrames,
                rate / 1000.0);
  std::string line = text;
  if (devicesOk + devicesFailed > 0)
    line += "  devices: " + std::to_string(devicesOk) + " ok, " + std::to_string(devicesFailed) + " failed";
  return line;
}

void TConsolePanes::ShowProgress(bool force) {
  if (quiet_) return;
  if (console_.Terminal()) {
    console_.Progress(port_, LiveLine(), force);
    return;
  }
  // Plain output is a log: one line per tenth of the load, never the same tenth twice.
  const int tenth = framesDone_ * 10 / TotalLoadFrames;
  if (tenth == lastPlainTenth_) return;
  lastPlainTenth_ = tenth;
  console_.Line(port_, "progress: " + ProgressText());
}

void TConsolePanes::Message(const std::string& text, bool always) {
  if (quiet_ && !always) return;
  console_.Line(port_, text, always);
}
