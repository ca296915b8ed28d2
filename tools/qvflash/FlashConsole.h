#pragma once
// qvflash's human output on stderr, shared by the ports' threads: lines of
// the run (prefixed with the port's name when there are several ports), and
// on a terminal one live line per port at the bottom, redrawn in place.
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

class TConsole {
public:
  TConsole(std::FILE* out, bool terminal, bool quiet, std::vector<std::string> portNames);

  bool Terminal() const { return terminal_; }
  bool SeveralPorts() const { return names_.size() > 1; }
  // A line of the run; `port` -1 for the run as a whole. Shown escaped; a
  // quiet run prints only the lines marked `always`.
  void Line(int port, const std::string& text, bool always = false);
  // Terminal only: the live line of `port`, redrawn at most every 100 ms
  // unless `force`.
  void Progress(int port, const std::string& text, bool force = false);
  // Leaves the live lines where they are; later lines go below them.
  void EndLive();

private:
  void ClearLive();
  void DrawLive();
  int Width() const;

  std::mutex mutex_;
  std::FILE* out_;
  bool terminal_, quiet_;
  std::vector<std::string> names_;
  std::vector<std::string> live_;
  bool liveEnded_ = false;
  int drawn_ = 0;  // live lines on the screen now
  std::chrono::steady_clock::time_point lastDraw_{};
};
