#pragma once
// qvflash's human output on stderr, shared by the ports' threads: lines of
// the run (prefixed with the port's name when there are several ports), and
// on a terminal one live line per port at the bottom, redrawn in place.
//
// A thread of its own does the writing: a port hands its line over and goes
// on, so a slow terminal or pipe never holds up a load. Lines come out whole
// and in the order given.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Each name as a column of `maxWidth` characters shows it: whole when every
// name fits; otherwise a long name keeps the part where the names differ,
// with "…" for what is left out. Control bytes escaped, padded to one width.
std::vector<std::string> ColumnNames(const std::vector<std::string>& names, std::size_t maxWidth);

class TConsole {
public:
  TConsole(std::FILE* out, bool terminal, bool quiet, std::vector<std::string> portNames);
  // Writes what is still queued.
  ~TConsole();
  TConsole(const TConsole&) = delete;
  TConsole& operator=(const TConsole&) = delete;

  bool Terminal() const { return terminal_; }
  bool SeveralPorts() const { return names_.size() > 1; }
  // The port's name as its live row shows it (one width for every port).
  const std::string& LiveLabel(int port) const { return labels_[static_cast<std::size_t>(port)]; }
  // A line of the run; `port` -1 for the run as a whole. Shown escaped; a
  // quiet run prints only the lines marked `always`.
  void Line(int port, const std::string& text, bool always = false);
  // Terminal only: the live line of `port`, redrawn at most every 100 ms
  // unless `force`.
  void Progress(int port, const std::string& text, bool force = false);
  // Terminal only: the port's live line goes away.
  void DropProgress(int port);
  // Leaves the live lines where they are; later lines go below them.
  void EndLive();
  // Returns once everything handed over so far is written.
  void Flush();

private:
  void Write();
  void ClearLive();
  void DrawLive(const std::vector<std::string>& live);
  int Width() const;

  std::FILE* out_;
  const bool terminal_, quiet_;
  const std::vector<std::string> names_;   // as given, for the prefix of plain lines
  const std::vector<std::string> labels_;  // for the live rows

  std::mutex mutex_;
  std::condition_variable wake_, written_;
  std::deque<std::string> lines_;  // whole lines, escaped, waiting for the writer
  std::vector<std::string> live_;
  bool liveChanged_ = false, forceDraw_ = false;
  bool endLive_ = false;  // asked for
  bool busy_ = false;     // the writer is writing what it took
  bool stop_ = false;
  std::chrono::steady_clock::time_point lastDraw_{};
  bool liveEnded_ = false;  // done: set by the writer

  // The writer's own.
  int drawn_ = 0;  // live lines on the screen now
  std::thread writer_;
};
