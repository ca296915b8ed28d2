// The serial device on Linux: termios for the line, ioctls for modem lines,
// queue counts and line counters, a non-blocking descriptor for the bytes.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "SerialPort.h"
#include "SerialPosix.h"

namespace SerialSystem {

TErrorKind Classify(int code, TRequest request) {
  switch (code) {
    case 0: return TErrorKind::None;
    case ENOENT: return request == TRequest::Open ? TErrorKind::NotFound : TErrorKind::Failure;
    case EAGAIN:
    case EINTR: return TErrorKind::WouldWait;
    case EIO:
    case ENXIO:
    case ENODEV:
    case EPIPE:
      // Opening: the device file is there without a line behind it, a failure of its own.
      return request == TRequest::Open || request == TRequest::Line ? TErrorKind::Failure : TErrorKind::HangUp;
    case ENOTTY:
    case EINVAL:
      // Lines and counters a pseudo-terminal or an adapter lacks; the line
      // settings themselves must take.
      return request == TRequest::ModemLine || request == TRequest::Status ? TErrorKind::NothingToDo
                                                                           : TErrorKind::Failure;
    default: return TErrorKind::Failure;
  }
}

std::string ErrorText(int code) {
  char buf[256];
  const char* text = ::strerror_r(code, buf, sizeof buf);
  return text ? text : "";
}

std::string DevicePath(const std::string& name) {
  const int n = ComNumber(name);
  return n > 0 ? "/dev/ttyS" + std::to_string(n - 1) : name;
}

}  // namespace SerialSystem

namespace SerialPosix {

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

speed_t StandardSpeed(std::int32_t baud) {
  static constexpr std::pair<std::int32_t, speed_t> speeds[] = {
      {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
      {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
      {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
      {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
  for (const auto& [rate, speed] : speeds)
    if (rate == baud) return speed;
  return B0;
}

}  // namespace

const TSerialIoctls& SerialIoctls() { return *g_ioctls.load(); }

void SetSerialIoctls(const TSerialIoctls* table) { g_ioctls.store(table ? table : &kSystemIoctls); }

int BuildTermios(const SerialSystem::TLineSettings& s, termios& t, bool& custom) {
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
  if (s.Flow.OutCtsFlow() || s.Flow.ControlRts() == rtsHandshake) t.c_cflag |= CRTSCTS;
  if (s.Flow.XonXoffOut()) t.c_iflag |= IXON;
  if (s.Flow.XonXoffIn()) t.c_iflag |= IXOFF;
  if (s.Options.Contains(coParityCheck)) t.c_iflag |= INPCK;
  t.c_cc[VSTART] = s.Chars.XonChar();
  t.c_cc[VSTOP] = s.Chars.XoffChar();
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

}  // namespace SerialPosix

namespace SerialSystem {

namespace {

using namespace SerialPosix;

constexpr std::uint32_t kModemEvents = EV_CTS | EV_DSR | EV_RING | EV_RLSD;
// Linux has no waitable notice of a modem line's change (TIOCMIWAIT blocks
// until a signal ends it), so the modem lines are looked at this often, and
// only while they are watched on a device that counts them.
constexpr int kModemLookMs = 50;

int SetModemBits(int fd, int bits, bool on) { return ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0 ? 0 : errno; }

// Lines a device lacks (ENOTTY, EINVAL on a pseudo-terminal) are nothing to do.
int ModemResult(int code) { return Classify(code, TRequest::ModemLine) == TErrorKind::NothingToDo ? 0 : code; }

class TPosixDevice final : public TDevice {
public:
  explicit TPosixDevice(int fd) : fd_(fd) {
    counting_ = SerialIoctls().ReadLineCounters(fd_, counters_);
    // Received bytes are passed on at once where the driver offers it (USB
    // adapters hold them back for up to 16 ms otherwise); a refusal is no error.
    int flags = 0;
    if (SerialIoctls().GetSerialFlags(fd_, flags) != 0) return;
    if (flags & ASYNC_LOW_LATENCY) {
      lowLatency_ = true;
    } else if (SerialIoctls().SetSerialFlags(fd_, flags | ASYNC_LOW_LATENCY) == 0) {
      lowLatency_ = lowLatencyChanged_ = true;
    }
  }

  ~TPosixDevice() override {
    int flags = 0;
    if (lowLatencyChanged_ && SerialIoctls().GetSerialFlags(fd_, flags) == 0)
      SerialIoctls().SetSerialFlags(fd_, flags & ~ASYNC_LOW_LATENCY);
    ::ioctl(fd_, TIOCNXCL);
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }

  int ApplyLine(const TLineSettings& s) override {
    termios t;
    bool custom = false;
    if (const int e = BuildTermios(s, t, custom)) return e;
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) return errno;
    if (custom) {
      if (const int e = ApplyCustomBaud(fd_, s.Baud)) return e;
    }
    if (s.Flow.ControlDtr() != dtrHandshake) {
      if (const int e = ModemResult(SetModemBits(fd_, TIOCM_DTR, s.Flow.ControlDtr() == dtrEnabled))) return e;
    }
    if (s.Flow.ControlRts() != rtsHandshake) {
      // Toggling RTS around each transmission needs RS-485 support; idle it low.
      if (const int e = ModemResult(SetModemBits(fd_, TIOCM_RTS, s.Flow.ControlRts() == rtsEnabled))) return e;
    }
    return 0;
  }

  // The kernel sizes its own queues; the component's buffer must still hold something.
  int SetQueueSizes(std::uint32_t, std::uint32_t out) override { return out == 0 ? EINVAL : 0; }
  // The descriptor never blocks: reads and writes bound their own waits.
  int SetTimeouts() override { return 0; }
  int SetEventMask(std::uint32_t mask) override {
    mask_ = mask;
    return 0;
  }
  int PurgeInput() override {
    // A device opened as it stands without being a line (UpdateDCB off) has nothing to purge.
    if (::tcflush(fd_, TCIFLUSH) == 0 || Classify(errno, TRequest::Status) == TErrorKind::NothingToDo) return 0;
    return errno;
  }

  int LineFunction(TLineFunction function) override {
    return ModemResult(SetModemBits(fd_, TIOCM_DTR, function == TLineFunction::SetDtr));
  }

  int ClearError(TDeviceStatus& status) override {
    status = {};
    // A line that has hung up has nothing waiting (the hang-up is reported
    // apart); a pseudo-terminal keeps no count of what waits to go out.
    for (const auto& [request, count] : {std::pair{FIONREAD, &status.InQueue}, std::pair{TIOCOUTQ, &status.OutQueue}}) {
      int n = 0;
      if (::ioctl(fd_, request, &n) == 0)
        *count = static_cast<std::uint32_t>(n);
      else if (Classify(errno, TRequest::Status) == TErrorKind::Failure)
        return errno;
    }
    return 0;
  }

  int Read(void* data, std::uint32_t size, std::uint32_t& got) override {
    got = 0;
    bool readable = false;
    for (;;) {
      const ssize_t r = ::read(fd_, data, size);
      if (r > 0) {
        got = static_cast<std::uint32_t>(r);
        return 0;
      }
      if (r < 0 && errno == EINTR) continue;
      if (r < 0 || size == 0) return r < 0 ? errno : 0;
      // A raw line with nothing waiting reads 0 as well as one that has
      // ended: only a line that says it is readable yet reads empty has ended.
      if (readable) return EIO;
      pollfd p{fd_, POLLIN, 0};
      if (PollRetrying(&p, 1, 0) <= 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR))) return EAGAIN;
      readable = true;
    }
  }

  int Write(const void* data, std::uint32_t size, std::uint32_t& done) override {
    done = 0;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (done < size) {
      const ssize_t w = ::write(fd_, bytes + done, size - done);
      if (w > 0) {
        done += static_cast<std::uint32_t>(w);
        continue;
      }
      if (w < 0 && errno == EINTR) continue;
      return w < 0 ? errno : EAGAIN;
    }
    return 0;
  }

  void WaitOutput(const TWaitEvent* wake, std::int64_t timeoutMs) override {
    pollfd fds[2] = {{fd_, POLLOUT, 0}, {wake ? static_cast<int>(wake->Handle().value) : -1, POLLIN, 0}};
    PollRetrying(fds, 2, timeoutMs);
  }

  TWaitHandle InputHandle() const override { return {fd_}; }

  int LineEventPeriodMs() const override { return counting_ && (mask_ & kModemEvents) ? kModemLookMs : 0; }

  std::uint32_t TakeLineEvents(std::uint32_t& errors) override {
    errors = 0;
    TLineCounters now;
    if (!counting_ || !(mask_ & (kModemEvents | EV_BREAK | EV_ERR)) || !SerialIoctls().ReadLineCounters(fd_, now))
      return 0;
    // A UART reports a break as a framing error too: it is a line error as well.
    static constexpr struct {
      std::uint32_t TLineCounters::*counter;
      std::uint32_t error, event;
    } kChanges[] = {{&TLineCounters::Frame, CE_FRAME, 0},
                    {&TLineCounters::Overrun, CE_OVERRUN, 0},
                    {&TLineCounters::Parity, CE_RXPARITY, 0},
                    {&TLineCounters::BufOverrun, CE_RXOVER, 0},
                    {&TLineCounters::Break, CE_BREAK, EV_BREAK},
                    {&TLineCounters::Cts, 0, EV_CTS},
                    {&TLineCounters::Dsr, 0, EV_DSR},
                    {&TLineCounters::Ring, 0, EV_RING},
                    {&TLineCounters::Dcd, 0, EV_RLSD}};
    std::uint32_t events = 0;
    for (const auto& change : kChanges) {
      if (now.*change.counter == counters_.*change.counter) continue;
      errors |= change.error;
      events |= change.event;
    }
    if (errors) events |= EV_ERR;
    counters_ = now;
    return events;
  }

  bool LowLatency() const override { return lowLatency_; }

private:
  int fd_;
  std::uint32_t mask_ = 0;
  bool counting_ = false;  // the device keeps line counters
  TLineCounters counters_;
  bool lowLatency_ = false;
  bool lowLatencyChanged_ = false;  // Open turned it on, so Close turns it off
};

}  // namespace

int TDevice::Open(const std::string& name, std::unique_ptr<TDevice>& device) {
  const int fd = ::open(DevicePath(name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    // The lock is what stops root, whom TIOCEXCL lets through: a port held
    // elsewhere reads "busy" for everyone, as TIOCEXCL says it to others.
    const int e = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(fd);
    return e;
  }
  if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL) {
    const int e = errno;
    ::close(fd);
    return e;
  }
  device = std::make_unique<TPosixDevice>(fd);
  return 0;
}

}  // namespace SerialSystem
