// What the component does with a Linux device: names, errors, the line
// settings through termios, modem lines and line counters, low-latency mode, the exclusive
// open, thread priorities, and wake-ups counted in /proc; over
// pseudo-terminal pairs, with a stand-in for the ioctls only serial drivers
// answer.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <termios.h>

#include <linux/serial.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "PortOnALine.h"
#include "PtyTestSupport.h"
#include "SerialPort.h"
#include "SerialPosix.h"
#include "SerialSystem.h"
#include "SerialWriter.h"

namespace {

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The nice value of this process's thread named `name`, if there is one.
std::optional<int> ThreadNice(const std::string& name) {
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string thread;
    if (std::getline(comm, thread) && thread == name)
      return ::getpriority(PRIO_PROCESS, static_cast<id_t>(std::stoi(task.path().filename().string())));
  }
  return std::nullopt;
}

// Voluntary context switches so far of this process's threads named `name`
// (the main thread: "" ); -1 when there is no such thread.
long WakeUps(const std::string& name) {
  long total = -1;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    const bool main = task.path().filename() == std::to_string(::getpid());
    std::ifstream status(task.path() / "status");
    std::string line, thread;
    long count = 0;
    while (std::getline(status, line)) {
      if (line.rfind("Name:\t", 0) == 0) thread = line.substr(6);
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) count = std::atol(line.c_str() + 24);
    }
    if (name.empty() ? main : thread == name) total = std::max(total, 0L) + count;
  }
  return total;
}

// Stands in for a serial driver's own ioctls on a pseudo-terminal: line
// counters and the driver's flags word.
struct TFakeSerialDriver {
  static inline std::atomic<std::uint32_t> breaks{0};
  static inline std::atomic<int> flags{0};
  static inline std::atomic<int> getError{0};
  static inline std::atomic<int> setError{0};
  static inline std::atomic<int> sets{0};

  TFakeSerialDriver() {
    breaks = 0;
    flags = 0;
    getError = 0;
    setError = 0;
    sets = 0;
    SerialPosix::SetSerialIoctls(&kTable);
  }
  ~TFakeSerialDriver() { SerialPosix::SetSerialIoctls(nullptr); }

  static bool Counters(int, SerialPosix::TLineCounters& c) {
    c = {};
    c.Break = breaks;
    return true;
  }
  static int Get(int, int& f) {
    f = flags;
    return getError;
  }
  static int Set(int, int f) {
    if (setError) return setError;
    ++sets;
    flags = f;
    return 0;
  }
  static constexpr SerialPosix::TSerialIoctls kTable{Counters, Get, Set};
};

// Threads of this process that the component started (sanitizers start their own).
int OtherThreads() {
  int n = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    n += std::getline(comm, name) && name == "serial-writer";
  }
  return n;
}

class SerialPortPosix : public TPortOnALine<TPty> {};

TEST_F(SerialPortPosix, OpenFailuresForTheDeviceFile) {
  TSerialPort missing;
  missing.SetDeviceName("/dev/no-such-serial-device");
  EXPECT_EQ(OpenError(missing), "Specified device not found (/dev/no-such-serial-device).");
  try {
    missing.Open();
  } catch (const ESerialPortError& e) {
    EXPECT_EQ(e.Code(), ENOENT);
  }
  port.Open();
  TSerialPort second;
  second.SetDeviceName(line.Path());
  // Held by this process: the same report for root (whom TIOCEXCL lets
  // through to the lock) as for anyone else.
  EXPECT_EQ(OpenError(second), "Can't open specified device " + line.Path() + " (Error 16, Device or resource busy)");
  EXPECT_FALSE(second.IsOpen());

  // Opened, but not a serial line: the set-up fails and the device is closed again.
  TSerialPort notALine;
  notALine.SetDeviceName("/dev/null");
  EXPECT_EQ(OpenError(notALine), "Error writing dcb (25), Inappropriate ioctl for device");
  EXPECT_FALSE(notALine.IsOpen());
  EXPECT_EQ(OtherThreads(), 0);

  // Opened as it stands: a device that is always readable is no line, and nothing spins on it.
  notALine.SetUpdateDCB(false);
  notALine.Open();
  const double before = CpuSeconds();
  loop.For(1000);  // a second to measure over: a loop that spins shows in it
  EXPECT_LT(CpuSeconds() - before, 0.3) << "the main loop spins on a device that is always readable";
}

TEST_F(SerialPortPosix, LiveSettingsReachTheDevice) {
  port.Open();
  termios t{};
  ASSERT_EQ(tcgetattr(line.Master(), &t), 0);  // master and slave share one termios
  EXPECT_EQ(cfgetospeed(&t), B38400);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
  port.SetBaudrate(br9600);
  ASSERT_EQ(tcgetattr(line.Master(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B9600);
  port.FlowControl().SetXonXoffIn(true);  // a settings object applies at once too
  ASSERT_EQ(tcgetattr(line.Master(), &t), 0);
  EXPECT_NE(t.c_iflag & IXOFF, 0u);
  port.EventChars().SetXoffChar(0x14);
  ASSERT_EQ(tcgetattr(line.Master(), &t), 0);
  EXPECT_EQ(t.c_cc[VSTOP], 0x14);
}

TEST_F(SerialPortPosix, UnusualSpeedsAndRefusedLiveSettings) {
  port.Open();
  port.SetUserBaudrate(56000);  // not in the termios table
  int baud = 0;
  ASSERT_EQ(SerialPosix::ReadCustomBaud(line.Master(), baud), 0);
  EXPECT_EQ(baud, 56000);
  try {
    port.SetDatabits(db4);
    FAIL() << "accepted";
  } catch (const ESerialPortError& e) {
    EXPECT_STREQ(e.what(), "Error writing dcb (22), Invalid argument");
  }
  EXPECT_EQ(port.Databits(), db4);  // stays stored
  EXPECT_TRUE(port.IsOpen());
  port.SetDatabits(db8);
  port.SetBaudrate(br38400);
  ASSERT_EQ(SerialPosix::ReadCustomBaud(line.Master(), baud), 0);
  EXPECT_EQ(baud, 38400);
}

TEST_F(SerialPortPosix, WithoutUpdateDcbTheLineKeepsItsSettings) {
  termios t{};
  ASSERT_EQ(tcgetattr(line.Master(), &t), 0);
  cfsetospeed(&t, B1200);
  ASSERT_EQ(tcsetattr(line.Master(), TCSANOW, &t), 0);
  port.SetUpdateDCB(false);
  port.Open();
  port.SetBaudrate(br115200);
  ASSERT_EQ(tcgetattr(line.Master(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B1200);
}

TEST_F(SerialPortPosix, OpenDiscardsWhatWaitedAndDtrOnAPtyIsNoError) {
  int fd = ::open(line.Path().c_str(), O_RDWR | O_NOCTTY);  // keep the line up while closed
  ASSERT_GE(fd, 0);
  line.Send({1, 2, 3});
  pollfd waiting{fd, POLLIN, 0};  // the bytes have reached the device's input
  ASSERT_EQ(::poll(&waiting, 1, 10000), 1);
  ::close(fd);
  port.SetMonitorEvents({});
  port.Buffers().SetReadTimeout(50);
  port.Open();
  EXPECT_NO_THROW(port.SetDtrLine(false));
  std::uint8_t buf[8];
  EXPECT_EQ(port.ReadBytes(buf, 8), 0);
  TComStat stat;
  port.QueryStatus(stat);
  EXPECT_EQ(stat.InQueue, 0u);
  EXPECT_EQ(stat.Errors, 0u);
}

TEST_F(SerialPortPosix, ABreakShowsInTheLineErrors) {
  TFakeSerialDriver driver;
  std::vector<int> errors;
  int breaks = 0;
  port.SetMonitorEvents({ceError, ceRxChar, ceBreak});
  port.OnError = [&](TCustomSerialPort*, int e) { errors.push_back(e); };
  port.OnBreak = [&](TCustomSerialPort*) { ++breaks; };
  port.OnRxChar = [&](TCustomSerialPort*, int count) {
    std::uint8_t buf[64];
    port.ReadBytes(buf, count);
  };
  port.Open();
  TFakeSerialDriver::breaks = 1;
  line.Send({0});  // a break reads as a zero byte
  EXPECT_TRUE(loop.Until([&] { return breaks == 1 && !errors.empty(); }, 2000));
  EXPECT_EQ(breaks, 1);
  EXPECT_EQ(errors, std::vector<int>{static_cast<int>(CE_BREAK)});
}

TEST_F(SerialPortPosix, ASilentLineWakesNoThread) {
  TFakeSerialDriver driver;  // a device with line counters, as real ones have
  std::vector<int> counts;
  port.OnRxChar = [&](TCustomSerialPort*, int count) { counts.push_back(count); };  // leaves the bytes
  port.Open();
  line.Send({1, 2, 3});
  ASSERT_TRUE(loop.Until([&] { return counts.size() == 1; }));
  ASSERT_TRUE(loop.Turns());  // the dispatch is over; its own wake-ups are not counted
  const long main = WakeUps("");
  loop.For(1000);  // a second to count over: a loop that looks by itself shows in it
  EXPECT_LE(WakeUps("") - main, 3) << "the main loop looks again and again";
  EXPECT_EQ(counts, std::vector<int>{3});
  EXPECT_EQ(OtherThreads(), 0);
}

TEST_F(SerialPortPosix, TheWriterThreadStartsWhenBytesMustWaitWithItsPriority) {
  port.SetWritePriority(tpLowest);  // below normal: granted to anyone
  port.Open();
  const std::vector<std::uint8_t> frame(131, 0x5A);
  port.WriteBytes(frame.data(), 131);  // taken by the device at once
  EXPECT_EQ(ThreadNice("serial-writer"), std::nullopt) << "a writer thread waits with nothing to send";
  const std::size_t sent = 131 + FillUntilTheWriterHolds(port, 0x5A);
  ASSERT_GT(port.WriterPending(), 0u);
  EXPECT_TRUE(loop.Until([] { return ThreadNice("serial-writer") == 10; })) << "the writer runs without its priority";
  EXPECT_EQ(line.Receive(sent, 5000).size(), sent) << "what waited was not sent";
}

TEST_F(SerialPortPosix, LowLatencyIsAskedForAtOpenAndUndoneAtClose) {
  port.Open();
  EXPECT_FALSE(port.LowLatency());  // a pseudo-terminal has no such mode
  port.Close();

  TFakeSerialDriver driver;
  const int other = ASYNC_SKIP_TEST;
  TFakeSerialDriver::flags = other;
  port.Open();
  EXPECT_TRUE(port.LowLatency());
  EXPECT_EQ(TFakeSerialDriver::flags, other | ASYNC_LOW_LATENCY);
  port.Close();
  EXPECT_EQ(TFakeSerialDriver::flags, other);

  // Already on: left as it was.
  TFakeSerialDriver::flags = ASYNC_LOW_LATENCY;
  TFakeSerialDriver::sets = 0;
  port.Open();
  EXPECT_TRUE(port.LowLatency());
  port.Close();
  EXPECT_EQ(TFakeSerialDriver::flags, ASYNC_LOW_LATENCY);
  EXPECT_EQ(TFakeSerialDriver::sets, 0);

  // Refused: the port opens as ever and nothing is undone at Close.
  TFakeSerialDriver::flags = other;
  TFakeSerialDriver::setError = EPERM;
  EXPECT_NO_THROW(port.Open());
  EXPECT_FALSE(port.LowLatency());
  TFakeSerialDriver::setError = 0;
  port.Close();
  EXPECT_EQ(TFakeSerialDriver::flags, other);
  EXPECT_EQ(TFakeSerialDriver::sets, 0);
}

TEST(SerialPosixSystem, PortNamesAndTheirDevices) {
  EXPECT_EQ(SerialDevicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(SerialDevicePath("COM8"), "/dev/ttyS7");
  EXPECT_EQ(SerialDevicePath("/dev/pts/4"), "/dev/pts/4");
  EXPECT_EQ(SerialDevicePath("COMX"), "COMX");
  EXPECT_EQ(SerialDevicePath("COM0"), "COM0");
}

TEST(SerialPosixSystem, BuilderFramingParityStopBitsAndFlow) {
  SerialSystem::TLineSettings s;
  termios t{};
  bool custom = true;
  ASSERT_EQ(SerialPosix::BuildTermios(s, t, custom), 0);
  EXPECT_FALSE(custom);
  EXPECT_EQ(cfgetospeed(&t), B38400);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_NE(t.c_cflag & CLOCAL, 0u);
  EXPECT_NE(t.c_cflag & CREAD, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);

  s.Parity = paOdd;
  s.Stopbits = sb15;
  s.Databits = db7;
  s.Flow.SetOutCtsFlow(true);
  s.Flow.SetXonXoffIn(true);
  s.Options = {coParityCheck};
  s.Baud = 9600;
  ASSERT_EQ(SerialPosix::BuildTermios(s, t, custom), 0);
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB | PARODD));
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);  // 1.5 stop bits become 2
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  EXPECT_NE(t.c_iflag & IXOFF, 0u);
  EXPECT_NE(t.c_iflag & INPCK, 0u);
  EXPECT_EQ(cfgetispeed(&t), B9600);

  s.Parity = paSpace;
  ASSERT_EQ(SerialPosix::BuildTermios(s, t, custom), 0);
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB | CMSPAR));
  s.Baud = 56000;
  ASSERT_EQ(SerialPosix::BuildTermios(s, t, custom), 0);
  EXPECT_TRUE(custom);
  s.Databits = db4;
  EXPECT_EQ(SerialPosix::BuildTermios(s, t, custom), EINVAL);
}

TEST(SerialPosixSystem, OneClassificationOfErrorsAndTheirTexts) {
  using SerialSystem::Classify;
  using SerialSystem::TErrorKind;
  using SerialSystem::TRequest;
  EXPECT_EQ(Classify(ENOENT, TRequest::Open), TErrorKind::NotFound);
  EXPECT_EQ(Classify(EBUSY, TRequest::Open), TErrorKind::Failure);
  for (const int lost : {EIO, ENXIO, EPIPE, ENODEV}) {
    EXPECT_EQ(Classify(lost, TRequest::Read), TErrorKind::HangUp) << lost;
    EXPECT_EQ(Classify(lost, TRequest::Write), TErrorKind::HangUp) << lost;
    EXPECT_EQ(Classify(lost, TRequest::Status), TErrorKind::HangUp) << lost;
  }
  EXPECT_EQ(Classify(EAGAIN, TRequest::Write), TErrorKind::WouldWait);
  // Modem lines a pseudo-terminal lacks are nothing to do; line settings it refuses are a failure.
  EXPECT_EQ(Classify(ENOTTY, TRequest::ModemLine), TErrorKind::NothingToDo);
  EXPECT_EQ(Classify(EINVAL, TRequest::ModemLine), TErrorKind::NothingToDo);
  EXPECT_EQ(Classify(ENOTTY, TRequest::Line), TErrorKind::Failure);
  EXPECT_EQ(SerialSystem::ErrorText(EBUSY), "Device or resource busy");
  EXPECT_EQ(SerialSystem::ErrorText(ENOENT), "No such file or directory");
}

}  // namespace
