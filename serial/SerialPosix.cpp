#include "SerialPosix.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace SerialPosix {

int ApplyCustomBaud(int fd, int baud);  // SerialCustomBaud.cpp

std::string DevicePath(const std::string& name) {
  if (name.size() > 3 && (name.compare(0, 3, "COM") == 0)) {
    bool digits = true;
    for (std::size_t i = 3; i < name.size(); ++i) digits = digits && std::isdigit(static_cast<unsigned char>(name[i]));
    if (digits && name.size() <= 12) {
      const long n = std::stol(name.substr(3));
      if (n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
    }
  }
  return name;
}

int OpenDevice(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -errno;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    // The lock is what stops root, whom TIOCEXCL lets through: a port held
    // elsewhere reads "busy" for everyone, as TIOCEXCL says it to others.
    const int e = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(fd);
    return -e;
  }
  if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL) {
    const int e = errno;
    ::close(fd);
    return -e;
  }
  return fd;
}

namespace {
speed_t StandardSpeed(std::int32_t baud) {
  switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;
  }
}
}  // namespace

int BuildTermios(const TLineSettings& s, termios& t, bool& custom) {
  std::memset(&t, 0, sizeof t);
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~CSIZE;
  switch (s.Databits) {
    case db4: return EINVAL;
    case db5: t.c_cflag |= CS5; break;
    case db6: t.c_cflag |= CS6; break;
    case db7: t.c_cflag |= CS7; break;
    case db8: t.c_cflag |= CS8; break;
  }
  t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
  switch (s.Parity) {
    case paNone: break;
    case paOdd: t.c_cflag |= PARENB | PARODD; break;
    case paEven: t.c_cflag |= PARENB; break;
    case paMark: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case paSpace: t.c_cflag |= PARENB | CMSPAR; break;
  }
  // There is no 1.5 stop bits here: two is the nearest that still frames.
  if (s.Stopbits != sb1) t.c_cflag |= CSTOPB;
  if (s.OutCtsFlow || s.ControlRts == rtsHandshake) t.c_cflag |= CRTSCTS;
  if (s.XonXoffOut) t.c_iflag |= IXON;
  if (s.XonXoffIn) t.c_iflag |= IXOFF;
  if (s.Options.Contains(coParityCheck)) t.c_iflag |= INPCK;
  t.c_cc[VSTART] = s.XonChar;
  t.c_cc[VSTOP] = s.XoffChar;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (s.Baud <= 0) return EINVAL;
  speed_t speed = StandardSpeed(s.Baud);
  custom = speed == B0;
  if (custom) speed = B38400;  // replaced through termios2 afterwards
  ::cfsetispeed(&t, speed);
  ::cfsetospeed(&t, speed);
  return 0;
}

int SetModemLines(int fd, int bits, bool on) {
  if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) != 0) {
    if (errno == ENOTTY || errno == EINVAL) return 0;
    return errno;
  }
  return 0;
}

int ApplyLineSettings(int fd, const TLineSettings& s) {
  termios t;
  bool custom = false;
  if (const int e = BuildTermios(s, t, custom)) return e;
  if (::tcsetattr(fd, TCSANOW, &t) != 0) return errno;
  if (custom) {
    if (const int e = ApplyCustomBaud(fd, s.Baud)) return e;
  }
  if (s.ControlDtr != dtrHandshake) {
    if (const int e = SetModemLines(fd, TIOCM_DTR, s.ControlDtr == dtrEnabled)) return e;
  }
  if (s.ControlRts == rtsDisabled || s.ControlRts == rtsEnabled || s.ControlRts == rtsToggle) {
    // Toggling RTS around each transmission needs RS-485 support; idle it low.
    if (const int e = SetModemLines(fd, TIOCM_RTS, s.ControlRts == rtsEnabled)) return e;
  }
  return 0;
}

int InputQueue(int fd, int& count) {
  count = 0;
  return ::ioctl(fd, FIONREAD, &count) == 0 ? 0 : errno;
}

int OutputQueue(int fd, int& count) {
  count = 0;
  if (::ioctl(fd, TIOCOUTQ, &count) == 0) return 0;
  if (errno == ENOTTY || errno == EINVAL) return 0;
  return errno;
}

namespace {

bool SystemLineCounters(int fd, TLineCounters& c) {
  serial_icounter_struct ic{};
  if (::ioctl(fd, TIOCGICOUNT, &ic) != 0) return false;
  c.Frame = static_cast<std::uint32_t>(ic.frame);
  c.Overrun = static_cast<std::uint32_t>(ic.overrun);
  c.Parity = static_cast<std::uint32_t>(ic.parity);
  c.Break = static_cast<std::uint32_t>(ic.brk);
  c.BufOverrun = static_cast<std::uint32_t>(ic.buf_overrun);
  c.Cts = static_cast<std::uint32_t>(ic.cts);
  c.Dsr = static_cast<std::uint32_t>(ic.dsr);
  c.Ring = static_cast<std::uint32_t>(ic.rng);
  c.Dcd = static_cast<std::uint32_t>(ic.dcd);
  return true;
}

int SystemGetSerialFlags(int fd, int& flags) {
  serial_struct ss{};
  if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) return errno;
  flags = ss.flags;
  return 0;
}

int SystemSetSerialFlags(int fd, int flags) {
  serial_struct ss{};
  if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) return errno;
  ss.flags = flags;
  return ::ioctl(fd, TIOCSSERIAL, &ss) == 0 ? 0 : errno;
}

constexpr TSerialIoctls kSystemIoctls{SystemLineCounters, SystemGetSerialFlags, SystemSetSerialFlags};
std::atomic<const TSerialIoctls*> g_ioctls{&kSystemIoctls};

}  // namespace

const TSerialIoctls& SerialIoctls() { return *g_ioctls.load(); }

void SetSerialIoctls(const TSerialIoctls* table) { g_ioctls.store(table ? table : &kSystemIoctls); }

bool ReadLineCounters(int fd, TLineCounters& c) { return SerialIoctls().ReadLineCounters(fd, c); }

int EnableLowLatency(int fd, bool& changed) {
  changed = false;
  int flags = 0;
  if (const int e = SerialIoctls().GetSerialFlags(fd, flags)) return e;
  if (flags & ASYNC_LOW_LATENCY) return 0;
  if (const int e = SerialIoctls().SetSerialFlags(fd, flags | ASYNC_LOW_LATENCY)) return e;
  changed = true;
  return 0;
}

int DisableLowLatency(int fd) {
  int flags = 0;
  if (const int e = SerialIoctls().GetSerialFlags(fd, flags)) return e;
  if (!(flags & ASYNC_LOW_LATENCY)) return 0;
  return SerialIoctls().SetSerialFlags(fd, flags & ~ASYNC_LOW_LATENCY);
}

pid_t CurrentThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

int SetThreadPriority(pid_t tid, TThreadPriority priority) {
  static constexpr int nice[] = {19, 10, 5, 0, -5, -10, -20};
  if (::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice[priority]) != 0) {
    if (errno == EACCES || errno == EPERM) return 0;
    return errno;
  }
  return 0;
}

std::string ErrorText(int code) {
  char buf[256];
  const char* text = ::strerror_r(code, buf, sizeof buf);
  std::string s = text ? text : "";
  while (!s.empty()) {
    const unsigned char c = static_cast<unsigned char>(s.back());
    if (c <= ' ' || c == '.' || c == 0x7F) s.pop_back();
    else break;
  }
  return s;
}

}  // namespace SerialPosix
