#pragma once
// What the serial component asks of Linux: opening by name with exclusive
// use, line settings through termios, modem lines, queue counts, line-error
// counters, thread priorities and the system's error texts. Every function
// reports failure by errno value (0: success) and never throws.
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "SerialSettings.h"

struct termios;

namespace SerialPosix {

// "COMn" names /dev/ttyS{n-1}; anything else (a path such as /dev/ttyUSB0
// or /dev/pts/3) is opened as it stands.
std::string DevicePath(const std::string& name);

// Opens read/write, no controlling terminal, non-blocking, close-on-exec,
// then takes the device for this process alone (TIOCEXCL, and an flock that
// holds even against root). Returns the descriptor, or -errno; a device held
// elsewhere is -EBUSY for root and others alike.
int OpenDevice(const std::string& path);

// Everything the line settings are built from.
struct TLineSettings {
  std::int32_t Baud = 38400;
  TDatabits Databits = db8;
  TParity Parity = paNone;
  TStopbits Stopbits = sb1;
  bool OutCtsFlow = false;
  bool OutDsrFlow = false;
  TControlDtr ControlDtr = dtrDisabled;
  TControlRts ControlRts = rtsDisabled;
  bool XonXoffOut = false;
  bool XonXoffIn = false;
  std::uint8_t XonChar = 17;
  std::uint8_t XoffChar = 19;
  TSerialOptions Options;
};

// Raw mode with the given framing and flow control. Returns 0, or EINVAL for
// what the system cannot do (4 data bits, a non-positive speed). A speed that
// is not in the standard table is left to ApplyLineSettings (`custom` set).
int BuildTermios(const TLineSettings& settings, termios& t, bool& custom);
// Builds and applies the settings (termios2 for a non-standard speed), then
// sets DTR and RTS as the settings hold them. Returns 0 or errno.
int ApplyLineSettings(int fd, const TLineSettings& settings);
// The output speed a device runs at, also when it is not in the standard table.
int ReadCustomBaud(int fd, int& baud);
// Sets (on) or clears TIOCM_DTR / TIOCM_RTS bits. Lines the device lacks
// (ENOTTY, EINVAL) are not an error.
int SetModemLines(int fd, int bits, bool on);

// Bytes waiting to be read / to be sent. Returns 0 or errno.
int InputQueue(int fd, int& count);
int OutputQueue(int fd, int& count);

// Line-error and modem-line counters since the device was opened.
struct TLineCounters {
  std::uint32_t Frame = 0, Overrun = 0, Parity = 0, Break = 0, BufOverrun = 0;
  std::uint32_t Cts = 0, Dsr = 0, Ring = 0, Dcd = 0;
};
// False when the device keeps no counters (pseudo-terminals, some adapters).
bool ReadLineCounters(int fd, TLineCounters& counters);

// The ioctls that only serial drivers answer (pseudo-terminals answer none of
// them): line counters (TIOCGICOUNT) and the driver's flags word
// (TIOCGSERIAL / TIOCSSERIAL). They go through this table so that their use
// can be checked over pseudo-terminals with a stand-in.
struct TSerialIoctls {
  bool (*ReadLineCounters)(int fd, TLineCounters& counters);  // false: no counters
  int (*GetSerialFlags)(int fd, int& flags);                   // 0 or errno
  int (*SetSerialFlags)(int fd, int flags);                    // 0 or errno
};
// The table in use; SetSerialIoctls(nullptr) puts the system's back.
const TSerialIoctls& SerialIoctls();
void SetSerialIoctls(const TSerialIoctls* table);

// Low-latency mode (ASYNC_LOW_LATENCY): the driver passes received bytes on
// at once instead of holding them (USB adapters: until a latency timer of
// typically 16 ms expires). Enable returns 0 when the mode is on, `changed`
// telling whether it had to be turned on; otherwise the driver's refusal
// (ENOTTY, EINVAL on pseudo-terminals; EPERM; ...). Disable turns it off
// again, leaving the other flags as they are.
int EnableLowLatency(int fd, bool& changed);
int DisableLowLatency(int fd);

// The calling thread's kernel id.
pid_t CurrentThreadId();
// Applies a priority to a thread as its nice level (idle 19 ... time-critical
// -20). A refusal for lack of privilege counts as success.
int SetThreadPriority(pid_t tid, TThreadPriority priority);

// The system's text for an error code, without trailing blanks, control
// characters or full stops.
std::string ErrorText(int code);

}  // namespace SerialPosix
