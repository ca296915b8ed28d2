#pragma once
// What the POSIX system layer's files share and its tests reach directly: the
// termios builder, the custom-speed calls, a poll that outlasts signals, and the ioctls that only serial drivers
// answer (pseudo-terminals answer none of them), which go through a table so
// that their use can be checked over pseudo-terminals with a stand-in.
#include <cstddef>
#include <cstdint>

#include "SerialSystem.h"

struct pollfd;
struct termios;

namespace SerialPosix {

// Raw mode with the given framing and flow control. Returns 0, or EINVAL for
// what the system cannot do (4 data bits, a non-positive speed). A speed that
// is not in the standard table is set through termios2 (`custom` set).
int BuildTermios(const SerialSystem::TLineSettings& settings, termios& t, bool& custom);
int ApplyCustomBaud(int fd, int baud);
// The output speed a device runs at, also when it is not in the standard table.
int ReadCustomBaud(int fd, int& baud);

// Line-error and modem-line counters since the device was opened.
struct TLineCounters {
  std::uint32_t Frame = 0, Overrun = 0, Parity = 0, Break = 0, BufOverrun = 0;
  std::uint32_t Cts = 0, Dsr = 0, Ring = 0, Dcd = 0;
};

struct TSerialIoctls {
  bool (*ReadLineCounters)(int fd, TLineCounters& counters);  // false: no counters
  int (*GetSerialFlags)(int fd, int& flags);                  // 0 or errno
  int (*SetSerialFlags)(int fd, int flags);                   // 0 or errno
};
// The table in use; SetSerialIoctls(nullptr) puts the system's back.
const TSerialIoctls& SerialIoctls();
void SetSerialIoctls(const TSerialIoctls* table);

// poll() that goes on after a signal with the time left (timeoutMs < 0: no limit).
int PollRetrying(pollfd* fds, std::size_t count, std::int64_t timeoutMs);

}  // namespace SerialPosix
