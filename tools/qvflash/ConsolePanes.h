#pragma once
// The window's panes as text for one port: the status line's messages as
// they change, and a progress display (a live line on a terminal, plain
// lines otherwise). Used on that port's own thread only.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "FlashConsole.h"
#include "SessionLinks.h"
#include "TrafficLog.h"

inline constexpr int TotalLoadFrames = 512 + 600;

class TConsolePanes : public ISessionPanes {
public:
  TConsolePanes(TConsole& console, int port, bool quiet, bool verbose, TTrafficLog& log, std::string logTag,
                int lineBaud);

  std::string portName;  // the device the session opens
  bool opened = false;   // the port opened: its row shows a bar from then on
  bool switchOn = false;
  // Bytes moved so far, for the effective rate (set by the run loop).
  std::int64_t bytesMoved = 0;
  // What the port is doing, for its live line: "opening", "no port",
  // "waiting", "handshake", "data flash", "program", "done", then the
  // outcome's word (or "stopped").
  std::string phase = "opening";
  // Devices done on this port so far (station), for its live line.
  int devicesOk = 0, devicesFailed = 0;

  std::string SelectedPortName() const override { return portName; }
  void SetStatusText(const std::string& text) override;
  void ClearDebugLog() override {}
  void AppendDebugLog(const std::string& line) override;
  void SetCommandListing(std::vector<std::string> lines) override { listingLines_ = static_cast<int>(lines.size()); }
  int CommandListingLineCount() const override { return listingLines_; }
  bool ShowsCommandListingText() const override { return false; }
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
  // Frames acknowledged over the whole load (0..1112), as the gauge shows them.
  int FramesDone() const { return framesDone_; }

  // A live line is shown (on a terminal, unless quiet).
  bool Live() const;
  // Redraws the progress display (at most every 100 ms on a terminal, once
  // per tenth of the load in plain mode); `force` redraws the live line now.
  void ShowProgress(bool force = false);
  // The attempt has ended: with several ports the row keeps its outcome;
  // a port alone loses its live line, so that the outcome's message is the
  // last line. In plain mode the last progress line, if the device spoke.
  void EndProgress(bool deviceSpoke);
  // A message of the run itself (errors, summary), printed even when quiet if `always`.
  void Message(const std::string& text, bool always = false);

private:
  std::string ProgressText() const;
  std::string LiveLine() const;
  double Elapsed() const;

  TConsole& console_;
  int port_;
  bool quiet_, verbose_;
  TTrafficLog& log_;
  std::string logTag_;
  int lineBaud_;
  int listingLines_ = 0;
  int gaugeMax_ = 100, gauge_ = 0;
  int phaseBase_ = 0;  // frames of earlier phases
  int framesDone_ = 0;
  int responses_ = 0;
  int lastPlainTenth_ = -1;
  bool ended_ = false;  // EndProgress has run
  std::string lastCommand_;
  // Since the port was taken up; from the handshake on, since the load began.
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};
