#include "ConsolePanes.h"

#include <algorithm>

#include "StatusTexts.h"

namespace {

// A rate in a column of fixed width, however fast an unpaced line runs.
std::string RateText(double bitsPerSecond) {
  char text[32];
  if (bitsPerSecond < 999950.0)
    std::snprintf(text, sizeof text, "%5.1f kbit/s", bitsPerSecond / 1e3);
  else
    std::snprintf(text, sizeof text, "%5.1f Mbit/s", std::min(bitsPerSecond / 1e6, 999.9));
  return text;
}

}  // namespace

TConsolePanes::TConsolePanes(TConsole& console, int port, bool quiet, bool verbose, TTrafficLog& log,
                             std::string logTag, int lineBaud)
    : console_(console),
      port_(port),
      quiet_(quiet),
      verbose_(verbose),
      log_(log),
      logTag_(std::move(logTag)),
      lineBaud_(lineBaud) {}

void TConsolePanes::SetStatusText(const std::string& text) {
  log_.Line(logTag_, "STATUS", text);
  if (text == kLinkSetUp) {
    phase = "waiting";
    start_ = std::chrono::steady_clock::now();
  } else if (text == kLinkEstablished) {
    phase = "handshake";
  } else if (text == kLoadingDataFlash) {
    phase = "data flash";
    start_ = std::chrono::steady_clock::now();  // times and rates are the load's own
  } else if (text == kLoadingProgram) {
    phase = "program";
  } else if (text == kLoadingDone) {
    phase = "done";
  }
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

double TConsolePanes::Elapsed() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::string TConsolePanes::ProgressText() const {
  const double elapsed = Elapsed();
  const int percent = framesDone_ * 100 / TotalLoadFrames;
  char text[256];
  const double rate = elapsed > 0 ? static_cast<double>(bytesMoved) * 10.0 / elapsed : 0.0;
  // No estimate before the first block: there is nothing to go by.
  char left[32] = "      - s left";
  if (framesDone_ > 0)
    std::snprintf(left, sizeof left, "%6.1f s left", elapsed / framesDone_ * (TotalLoadFrames - framesDone_));
  std::snprintf(text, sizeof text, "%3d%% %4d/%d blocks  %6.1f s elapsed  %s  %s of %.1f kbit/s", percent, framesDone_,
                TotalLoadFrames, elapsed, left, RateText(rate).c_str(), lineBaud_ / 1000.0);
  return text;
}

std::string TConsolePanes::LiveLine() const {
  const auto bar = [&](int width) {
    const int filled = framesDone_ * width / TotalLoadFrames;
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '.') + "]";
  };
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.0f s", Elapsed());
  if (!console_.SeveralPorts() && devicesOk + devicesFailed == 0) {
    if (phase == "no port") return "waiting for the port to appear (" + std::string(seconds) + ")";
    if (phase == "waiting") return "waiting for the device (" + std::string(seconds) + ")";
    return bar(30) + " " + ProgressText();
  }
  // One row per port: port, phase, then (once it opened) bar, percent, blocks, rate; the station's counts.
  std::string line =
      console_.LiveLabel(port_) + " " + phase + std::string(phase.size() < 11 ? 11 - phase.size() : 0, ' ');
  if (opened) {
    const double elapsed = Elapsed();
    const double rate = elapsed > 0 && framesDone_ > 0 ? static_cast<double>(bytesMoved) * 10.0 / elapsed : 0.0;
    char text[128];
    std::snprintf(text, sizeof text, " %s %3d%% %4d/%d blocks %s", bar(20).c_str(), framesDone_ * 100 / TotalLoadFrames,
                  framesDone_, TotalLoadFrames, RateText(rate).c_str());
    line += text;
  }
  if (devicesOk + devicesFailed > 0)
    line += "  devices: " + std::to_string(devicesOk) + " ok, " + std::to_string(devicesFailed) + " failed";
  return line;
}

bool TConsolePanes::Live() const { return console_.Terminal() && !quiet_; }

void TConsolePanes::ShowProgress(bool force) {
  // After the outcome, switching off (which empties the gauge) draws nothing.
  if (quiet_ || ended_) return;
  if (console_.Terminal()) {
    console_.Progress(port_, LiveLine(), force);
    return;
  }
  // Plain output is a log: one line per tenth of the load, never the same tenth twice.
  if (!opened) return;
  const int tenth = framesDone_ * 10 / TotalLoadFrames;
  if (tenth == lastPlainTenth_) return;
  lastPlainTenth_ = tenth;
  console_.Line(port_, "progress: " + ProgressText());
}

void TConsolePanes::EndProgress(bool deviceSpoke) {
  if (quiet_ || ended_) return;
  if (!console_.Terminal()) {
    if (deviceSpoke) ShowProgress();
  } else if (console_.SeveralPorts()) {
    console_.Progress(port_, LiveLine(), true);
  } else {
    console_.DropProgress(port_);
  }
  ended_ = true;
}

void TConsolePanes::Message(const std::string& text, bool always) {
  if (quiet_ && !always) return;
  console_.Line(port_, text, always);
}
