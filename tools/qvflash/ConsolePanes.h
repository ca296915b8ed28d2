#pragma once
// The window's panes as text on stderr: the status line's messages as they
// change, and a progress display (a redrawn bar on a terminal, plain lines
// otherwise).
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "SessionLinks.h"
#include "TrafficLog.h"

inline constexpr int TotalLoadFrames = 512 + 600;

class TConsolePanes : public ISessionPanes {
public:
  TConsolePanes(std::FILE* out, bool terminal, bool quiet, bool verbose, TTrafficLog& log, int lineBaud);

  std::string portName;
  bool switchOn = false;
  // Bytes moved so far, for the effective rate (set by the run loop).
  std::int64_t bytesMoved = 0;

  std::string SelectedPortName() const override { return portName; }
  void SetStatusText(const std::string& text) override;
  void ClearDebugLog() override {}
  void AppendDebugLog(const std::string& line) override;
  void SetCommandListing(std::vector<std::string> lines) override { listingLines_ = static_cast<int>(lines.size()); }
  int CommandListingLineCount() const override { return listingLines_; }
  void AppendTrafficLog(const std::string&) override {}
  void SetLastResponse(const std::string&) override {}
  void SetLastCommand(const std::string& text) override;
  void SetGaugeMax(int value) override;
  void SetGaugeProgress(int value) override;
  int GaugeProgress() const override { return gauge_; }
  void SetResponseLamp(bool) override {}
  bool SwitchChecked() const override { return switchOn; }
  void SetSwitchChecked(bool on) override {
    if (switchOn && !on) switchedOffAt = std::chrono::steady_clock::now();
    switchOn = on;
  }
  // When the session turned the switch off (the completion command follows at once).
  std::chrono::steady_clock::time_point switchedOffAt{};

  const std::string& LastCommand() const { return lastCommand_; }
  int CompleteResponses() const { return responses_; }
  // Frames acknowledged over the whole load (0..1112).
  int FramesDone() const { return framesDone_; }

  // Redraws the progress display (at most every 100 ms on a terminal, once
  // per tenth of the load in plain mode); `force` redraws the bar now.
  void ShowProgress(bool force = false);
  // Ends the progress line so that later messages start on a fresh line.
  void FinishProgress();
  // A message of the run itself (errors, summary), printed even when quiet if `always`.
  void Message(const std::string& text, bool always = false);

private:
  std::string ProgressText() const;
  void ClearBar();

  std::FILE* out_;
  bool terminal_, quiet_, verbose_;
  TTrafficLog& log_;
  int lineBaud_;
  int listingLines_ = 0;
  int gaugeMax_ = 100, gauge_ = 0;
  int phaseBase_ = 0;  // frames of earlier phases
  int framesDone_ = 0;
  int responses_ = 0;
  int lastPlainTenth_ = -1;
  bool barShown_ = false;
  std::string lastCommand_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point lastDraw_{};
};
