#pragma once
// The simulated device's end of its line, which a loader opens by Path(): a
// pseudo-terminal's master on POSIX systems, the server end of a named pipe
// on Windows (the serial component takes either as a line). One thread, the
// device's, uses it; Stop may come from any thread and ends every wait.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class TSimLine {
public:
  using Clock = std::chrono::steady_clock;
  enum class TWait { Stopped, Readable, LoaderGone, TimedOut };

  // Makes the line, and a symbolic link to it at `linkPath` unless that is
  // empty (POSIX systems only). Throws std::runtime_error.
  static std::unique_ptr<TSimLine> Create(const std::string& linkPath);
  virtual ~TSimLine() = default;  // the line goes: a loader sees it hang up

  virtual const std::string& Path() const = 0;
  virtual void Stop() = 0;
  // Waits until a loader has the line open; false on a stop.
  virtual bool WaitLoaderOpen() = 0;
  // Waits until the loader has let go of the line; false on a stop. Bytes
  // that come meanwhile are not asked for.
  virtual bool WaitLoaderGone() = 0;
  // Waits until bytes from the loader can be read, at most until `until`.
  virtual TWait WaitReadable(Clock::time_point until) = 0;
  // Moves what has arrived to `data` without waiting; 0 when nothing has.
  virtual std::size_t Read(std::uint8_t* data, std::size_t size) = 0;
  // Writes every byte, waiting for room; false when the loader is gone or a stop came.
  virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;
  // Sleeps until `until`; false on a stop.
  virtual bool SleepUntil(Clock::time_point until) = 0;
  // The device hangs up for good: the loader sees its line gone.
  virtual void HangUp() = 0;
  virtual bool HungUp() const = 0;
};
