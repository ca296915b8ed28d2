// Behaviour that differs for an unprivileged user: a child process drops to
// "nobody" and reports back through a pipe. (CI runs as root, which ignores
// TIOCEXCL and may raise thread priorities.)
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "PtyTestSupport.h"
#include "SerialPort.h"

namespace {

constexpr uid_t kNobody = 65534;

// Runs body in a child process as an unprivileged user; returns what it wrote
// (its report) or a description of how it failed.
std::string AsNobody(const std::function<std::string()>& body) {
  int out[2];
  if (::pipe(out) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(out[0]);
    std::string report;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
      report = "cannot drop privileges";
    } else {
      try {
        report = body();
      } catch (const std::exception& e) {
        report = std::string("exception: ") + e.what();
      }
    }
    [[maybe_unused]] ssize_t w = ::write(out[1], report.data(), report.size());
    ::_exit(0);
  }
  ::close(out[1]);
  std::string report;
  char buf[256];
  ssize_t n;
  while ((n = ::read(out[0], buf, sizeof buf)) > 0) report.append(buf, static_cast<std::size_t>(n));
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return report;
}

TEST(SerialPrivilege, AHeldPortIsRefusedToAnotherUser) {
  if (::getuid() != 0) GTEST_SKIP() << "needs root to switch users";
  TPty pty;
  ASSERT_EQ(::chmod(pty.Path().c_str(), 0666), 0);
  TSerialPort holder;  // no worker threads: the child is forked from one thread
  holder.SetDeviceName(pty.Path());
  holder.SetMonitorEvents({});
  holder.SetDirectWrite(true);
  holder.Open();
  const std::string report = AsNobody([&] {
    TSerialPort port;
    port.SetDeviceName(pty.Path());
    try {
      port.Open();
    } catch (const ESerialPortError& e) {
      return std::string(e.what());
    }
    return std::string("opened");
  });
  EXPECT_EQ(report, "Can't open specified device " + pty.Path() + " (Error 16, Device or resource busy)");
}

TEST(SerialPrivilege, RefusedThreadPrioritiesAreIgnored) {
  if (::getuid() != 0) GTEST_SKIP() << "needs root to switch users";
  const std::string report = AsNobody([] {
    TMainLoop loop;
    TPty pty;
    TSerialPort port;
    port.SetDeviceName(pty.Path());
    port.SetEventPriority(tpTimeCritical);
    port.SetWritePriority(tpHighest);  // above normal: refused to an ordinary user
    int received = 0;
    port.OnRxChar = [&](TCustomSerialPort*, int count) {
      std::uint8_t buf[64];
      received += port.ReadBytes(buf, count);
    };
    port.Open();
    port.SetEventPriority(tpHigher);
    // Enough that bytes must wait for the writer, whose thread then starts.
    std::vector<std::uint8_t> chunk(2000, 0x33);
    std::size_t sent = 0;
    for (int i = 0; i < 500 && !port.HasWriteThread(); ++i, sent += chunk.size())
      port.WriteBytes(chunk.data(), static_cast<int>(chunk.size()));
    if (!port.HasWriteThread()) return std::string("no writer thread");
    if (pty.Receive(sent, 5000).size() != sent) return std::string("write lost");
    pty.Send({4, 5});
    if (!loop.Until([&] { return received == 2; })) return std::string("read lost");
    port.Close();
    return std::string("ok");
  });
  EXPECT_EQ(report, "ok");
}

}  // namespace
