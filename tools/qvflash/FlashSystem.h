#pragma once
// What qvflash asks of the system it runs on, one implementation per system
// (posix/, win32/): its standard streams and terminal, the files it writes,
// the requests to stop, who and where it runs, and the system's words for a
// port problem. The run itself is written once above it.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "PortProblem.h"

namespace FlashSystem {

// Sets the standard streams up for the run's text, before anything is
// written: bytes as they are (no line end turned into two), UTF-8 on a
// console (Windows; put back as it was at exit).
void PrepareStandardStreams();
// Whether `out` is a terminal that takes the live display's control
// sequences (on Windows a console, switched to its virtual-terminal mode:
// one without it gets plain lines).
bool LiveTerminal(std::FILE* out);
// The terminal's width in columns; 0 when unknown.
int TerminalWidth(std::FILE* out);

// The device behind a port's device path, links resolved where they resolve
// (the record's "device").
std::string ResolvedDevice(const std::string& path);
// Who runs the load, for the record: the account the process runs as (not
// what the environment claims) and the computer's name.
std::string UserName();
std::string HostName();

// A port as a hint names it: "COM1 (/dev/ttyS0)" where the device file says
// more than the name, else the name as given.
std::string ShownPort(const std::string& name, const TPortProblem& problem);
// The system's words in a port hint. `port` is the port as shown, `name` as given.
std::string PermissionHint(const std::string& port, const TPortProblem& problem);
std::string BusyHint(const std::string& port, const std::string& name, const TPortProblem& problem);
// What to do when the port is not on this computer; `portsExist` tells
// whether the hint goes on to name the ports that are.
std::string NotFoundAdvice(bool portsExist);

}  // namespace FlashSystem

// A file the run writes to (the record, the log), opened without waiting for
// a reader: a FIFO or pipe that no program reads is refused at once.
class TOutputFile {
public:
  enum class TMode { Append, Truncate };
  // Throws std::runtime_error "PATH: why not".
  TOutputFile(const std::string& path, TMode mode);
  ~TOutputFile();
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;
  // All the bytes in one write (appended at the end in Append mode, so that
  // lines of several threads never mix); false, with the reason, otherwise.
  bool Write(const std::string& bytes, std::string& error);
  // Makes what was written safe on the disk (fdatasync, FlushFileBuffers);
  // a pipe or a device has nothing to sync.
  bool Sync(std::string& error);

private:
  std::intptr_t handle_ = -1;
  bool disk_ = false;
};

// Requests to stop the run: SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1 and
// SIGUSR2 on POSIX systems, Ctrl+C, Ctrl+Break and the console's closing on
// Windows. While this object lives they no longer end the process: the run
// takes them and stops cleanly (a load under way ends as interrupted and is
// recorded). Writing to a closed pipe is an error, not a signal.
class TStopRequests {
public:
  TStopRequests();
  ~TStopRequests();
  TStopRequests(const TStopRequests&) = delete;
  TStopRequests& operator=(const TStopRequests&) = delete;
  // Any thread: Wait returns now.
  void Wake();
  // Waits for a stop request or a Wake. Returns the request's name
  // ("SIGTERM", "Ctrl+C"), empty after a Wake.
  std::string Wait();

private:
  struct TState;
  std::unique_ptr<TState> state_;
};
