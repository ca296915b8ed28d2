#pragma once
// What the serial component asks of the operating system, one function per
// request: open a device by name, set its line, queues, time-outs and event
// mask, drive its modem lines, read its error state and queue counts, read
// and write without waiting, wait for input, room or a wake-up, and close
// it. One implementation per system (posix/, win32/); the component's own
// logic (settings, buffer, events, messages) is written once above it.
// Functions report failure by the system's error number (errno,
// GetLastError; 0: success) and never throw.
#include <cstdint>
#include <memory>
#include <string>

#include "MainThreadRunner.h"
#include "SerialSettings.h"

namespace SerialSystem {

// What an error number means to the component. Decided by Classify alone.
// clang-format off
enum class TErrorKind {
  None,         // success
  NotFound,     // no device of that name
  NothingToDo,  // the device has no such thing (modem lines, counters on a pseudo-terminal)
  WouldWait,    // nothing can move now: wait and try again
  HangUp,       // the line is gone: far end closed, adapter unplugged
  Failure,      // anything else
};
// clang-format on
// The kind of request that failed: the same number can mean different things.
enum class TRequest { Open, Line, ModemLine, Status, Read, Write };
TErrorKind Classify(int code, TRequest request);
// The system's text for an error number.
std::string ErrorText(int code);

// The file or device a port name opens: "COMn" is the system's n-th serial
// port, anything else is opened as it stands.
std::string DevicePath(const std::string& name);
// The n of a "COMn" name (n >= 1), 0 for any other name.
int ComNumber(const std::string& name);

// Everything the line settings record is built from.
struct TLineSettings {
  std::int32_t Baud = 38400;
  TDatabits Databits = db8;
  TParity Parity = paNone;
  TStopbits Stopbits = sb1;
  TSerialOptions Options;
  TSerialFlowControl Flow;
  TSerialEventChars Chars;
  std::uint16_t XonLimit = 1024, XoffLimit = 1024;
};

enum class TLineFunction { SetDtr, ClearDtr };

// The device's error flags (CE_ values, cleared by the read) and queue counts.
struct TDeviceStatus {
  std::uint32_t Errors = 0;
  std::uint32_t InQueue = 0;
  std::uint32_t OutQueue = 0;
};

// A manual-reset event: stays signalled until reset; can be waited for
// beside a device.
class TWaitEvent {
public:
  TWaitEvent();  // throws std::system_error when the system has none to give
  ~TWaitEvent();
  TWaitEvent(const TWaitEvent&) = delete;
  TWaitEvent& operator=(const TWaitEvent&) = delete;
  void Set();
  void Reset();
  TWaitHandle Handle() const { return Handle_; }

private:
  TWaitHandle Handle_;
};

// Waits until one of `handles` is signalled, at most timeoutMs (< 0: no
// limit). Returns the index of the first signalled one, -1 on time-out.
int WaitAny(const TWaitHandle* handles, int count, std::int64_t timeoutMs);

// One open serial device. Reads and status queries come from one thread,
// writes from one thread at a time; the two may overlap.
class TDevice {
public:
  // Opens `name` for reading and writing, for this process alone, without
  // waiting in reads and writes. Returns 0 and sets `device`, or the error.
  static int Open(const std::string& name, std::unique_ptr<TDevice>& device);
  // Closes the device: ends pending transfers and waits, puts back what
  // Open changed (low-latency mode).
  virtual ~TDevice() = default;

  virtual int ApplyLine(const TLineSettings& settings) = 0;  // the line settings record
  virtual int SetQueueSizes(std::uint32_t in, std::uint32_t out) = 0;
  virtual int SetTimeouts() = 0;                     // reads never wait by themselves
  virtual int SetEventMask(std::uint32_t mask) = 0;  // the EV_ events to look for
  virtual int PurgeInput() = 0;                      // drops what waits to be read
  virtual int LineFunction(TLineFunction function) = 0;
  virtual int ClearError(TDeviceStatus& status) = 0;

  // Moves up to `size` waiting bytes to `data` without waiting: `got` 0 and
  // a WouldWait error when there are none.
  virtual int Read(void* data, std::uint32_t size, std::uint32_t& got) = 0;
  // Hands up to `size` bytes to the device without waiting: `done` may be
  // less, with a WouldWait error when the device takes no more now.
  virtual int Write(const void* data, std::uint32_t size, std::uint32_t& done) = 0;
  // Waits up to timeoutMs (< 0: no limit) until the device takes bytes again
  // or `wake` (if any) is signalled.
  virtual void WaitOutput(const TWaitEvent* wake, std::int64_t timeoutMs) = 0;

  // Signalled while bytes (or the line's end) wait to be read; WaitAny on it waits for input.
  virtual TWaitHandle InputHandle() const = 0;
  // Line events of the mask that the device can show: signalled when some
  // have happened (invalid: the device has no such notice), and how often to
  // look for them where it has none (0: never, or only with input).
  virtual TWaitHandle LineEventHandle() const { return {}; }
  virtual int LineEventPeriodMs() const = 0;
  // The EV_ events of the mask and the CE_ errors seen since the last call.
  virtual std::uint32_t TakeLineEvents(std::uint32_t& errors) = 0;
  // Whether the driver passes received bytes on at once (asked for at Open).
  virtual bool LowLatency() const { return false; }
};

// Applies a priority to the calling thread; a refusal for lack of privilege
// counts as success.
int SetCurrentThreadPriority(TThreadPriority priority);
// Names the calling thread for the system's tools (at most 15 characters).
void NameCurrentThread(const char* name);

}  // namespace SerialSystem
