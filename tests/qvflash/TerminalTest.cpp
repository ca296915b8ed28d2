// qvflash as a person sees it in a terminal: the real program with its
// stderr on a pseudo-terminal, its output played on a small screen model
// (carriage return, line feed, cursor up, erase below), then read as the
// screen shows it at the end.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "BootLoaderSim.h"
#include "FlashConsole.h"
#include "FlashOptions.h"
#include "PtyTestSupport.h"
#include "SampleImage.h"
#include "UpdateFile.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::size_t Utf8Length(unsigned char lead) { return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4; }

// The screen at the end: rows without trailing blanks, empty rows at the bottom dropped.
std::vector<std::string> Screen(const std::string& out) {
  std::vector<std::vector<std::string>> rows(1);
  std::size_t row = 0, col = 0;
  for (std::size_t i = 0; i < out.size();) {
    if (out[i] == '\r') {
      col = 0, ++i;
    } else if (out[i] == '\n') {
      if (++row >= rows.size()) rows.resize(row + 1);
      ++i;
    } else if (out.compare(i, 3, "\033[A") == 0) {
      row = row > 0 ? row - 1 : 0, i += 3;
    } else if (out.compare(i, 3, "\033[J") == 0) {
      rows[row].resize(std::min(col, rows[row].size()));
      rows.resize(row + 1);
      i += 3;
    } else {
      const std::size_t length = Utf8Length(static_cast<unsigned char>(out[i]));
      if (rows[row].size() <= col) rows[row].resize(col + 1, " ");
      rows[row][col++] = out.substr(i, length);
      i += length;
    }
  }
  std::vector<std::string> screen;
  for (const auto& cells : rows) {
    std::string line;
    for (const std::string& cell : cells) line += cell;
    screen.push_back(line.substr(0, line.find_last_not_of(' ') + 1));
  }
  while (!screen.empty() && screen.back().empty()) screen.pop_back();
  return screen;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// The real qvflash with a pseudo-terminal of 120 columns as its controlling
// terminal and stderr (stdout goes nowhere): Type("\x03") is a Ctrl+C.
class TTerminalRun {
public:
  explicit TTerminalRun(const std::vector<std::string>& args) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) throw std::runtime_error("no pty");
    const std::string slave = ::ptsname(master_);
    winsize size{};
    size.ws_row = 40;
    size.ws_col = 120;
    ::ioctl(master_, TIOCSWINSZ, &size);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setsid();
      const int tty = ::open(slave.c_str(), O_RDWR);  // becomes the controlling terminal
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(tty, 0);
      ::dup2(null, 1);
      ::dup2(tty, 2);
      std::vector<char*> argv{const_cast<char*>(QVFLASH_PATH)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(QVFLASH_PATH, argv.data());
      ::_exit(127);
    }
    reader_ = std::thread([this] {
      char buffer[4096];
      for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
          std::lock_guard lock(mutex_);
          output_.append(buffer, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
          continue;
        } else {
          break;  // EIO: the program and its terminal are gone
        }
      }
    });
  }
  ~TTerminalRun() {
    if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
    if (reader_.joinable()) reader_.join();
    ::close(master_);
  }
  void Type(const std::string& keys) { [[maybe_unused]] const ssize_t w = ::write(master_, keys.data(), keys.size()); }
  // The exit status; the output is complete afterwards.
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = 0;
    reader_.join();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // Waits until the output so far satisfies `shown`; false after 60 s.
  bool AwaitOutput(const std::function<bool(const std::string&)>& shown) const {
    for (const auto until = std::chrono::steady_clock::now() + 60s; std::chrono::steady_clock::now() < until;) {
      if (shown(Output())) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
  std::string Output() const {
    std::lock_guard lock(mutex_);
    return output_;
  }

private:
  int master_ = -1;
  pid_t pid_ = 0;
  std::thread reader_;
  mutable std::mutex mutex_;  // output_
  std::string output_;
};

class FlashTerminal : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qvflash-tty-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    file_ = WriteUpdateFile((dir_ / "image.qv").string(), MakeSampleImage(8));
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
  std::string file_;
};

// However a run ends, its last line says how: no bar left behind, no time
// estimate, and no bar at all for a port that never opened.
TEST_F(FlashTerminal, EveryRunEndsWithItsOutcome) {
  {  // a stall
    TSimOptions options;
    options.Fault = TSimFault::Silence;
    options.FaultFrame = 100;
    TBootLoaderSim sim(options);
    sim.Start();
    TTerminalRun run({"--port", sim.SlavePath(), "--timeout", "100", file_});
    EXPECT_EQ(run.Wait(), exStall);
    const std::vector<std::string> screen = Screen(run.Output());
    ASSERT_FALSE(screen.empty());
    EXPECT_EQ(screen.back().rfind("qvflash: stalled at data-flash block at 0x0318", 0), 0u) << Joined(screen);
    EXPECT_EQ(Joined(screen).find("s left"), std::string::npos) << Joined(screen);
  }
  {  // a port that is not there
    TTerminalRun run({"--port", (dir_ / "ttyNone").string(), file_});
    EXPECT_EQ(run.Wait(), exPortError);
    const std::vector<std::string> screen = Screen(run.Output());
    ASSERT_FALSE(screen.empty());
    EXPECT_EQ(screen.back().rfind("hint: ", 0), 0u) << Joined(screen);
    EXPECT_EQ(run.Output().find('%'), std::string::npos) << run.Output();
  }
  {  // a silent line: "waiting for the device" while it waits, the outcome at the end
    TPty silent;
    TTerminalRun run({"--port", silent.Path(), "--greeting-timeout", "2", file_});
    EXPECT_EQ(run.Wait(), exNoGreeting);
    EXPECT_NE(run.Output().find("waiting for the device ("), std::string::npos) << run.Output();
    EXPECT_EQ(run.Output().find("s left"), std::string::npos) << run.Output();
    EXPECT_EQ(Screen(run.Output()).back(), "qvflash: no greeting (0x55) from the device within 2 s");
  }
  {  // Ctrl+C in the middle of a load at line speed
    TSimOptions options;
    options.Baud = 38400;
    TBootLoaderSim sim(options);
    sim.Start();
    TTerminalRun run({"--port", sim.SlavePath(), file_});
    ASSERT_TRUE(run.AwaitOutput([](const std::string& out) { return out.find("s left") != std::string::npos; }))
        << "a live line drawn with its estimate: " << run.Output();
    run.Type("\x03");
    EXPECT_EQ(run.Wait(), exInterrupted);
    const std::vector<std::string> screen = Screen(run.Output());
    EXPECT_NE(run.Output().find("s left"), std::string::npos) << "the live line was there";
    EXPECT_EQ(screen.back().rfind("qvflash: interrupted during data-flash block at 0x", 0), 0u) << Joined(screen);
    EXPECT_EQ(Joined(screen).find("s left"), std::string::npos) << Joined(screen);
  }
}

// Two adapters whose names differ only near their end: each row names its
// own, the columns line up whatever the names and rates, and the summary
// comes last.
TEST_F(FlashTerminal, SeveralPortsWithASharedPrefix) {
  const std::string prefix = (dir_ / "serial" / "by-id" / "usb-FTDI_FT232R_USB_UART_").string();
  fs::create_directories(dir_ / "serial" / "by-id");
  TSimOptions fine, stalls;
  fine.LinkPath = prefix + "A50285BI-if00-port0";
  stalls.LinkPath = prefix + "A9K3QZ7D-if00-port0";
  stalls.Fault = TSimFault::Silence;
  stalls.FaultFrame = 300;
  TBootLoaderSim first(fine), second(stalls);
  first.Start();
  second.Start();
  TTerminalRun run({"--port", fine.LinkPath, "--port", stalls.LinkPath, "--timeout", "200", file_});
  EXPECT_EQ(run.Wait(), exStall);
  const std::vector<std::string> screen = Screen(run.Output());
  std::vector<std::string> rows;
  for (const std::string& line : screen)
    if (line.rfind("…", 0) == 0) rows.push_back(line);
  ASSERT_EQ(rows.size(), 2u) << Joined(screen);
  EXPECT_NE(rows[0].find("A50285BI"), std::string::npos) << rows[0];
  EXPECT_NE(rows[1].find("A9K3QZ7D"), std::string::npos) << rows[1];
  EXPECT_NE(rows[0].find(" ok "), std::string::npos) << rows[0];
  EXPECT_NE(rows[1].find(" stall "), std::string::npos) << rows[1];
  // The screen column (in characters) where `what` begins.
  const auto column = [](const std::string& row, const std::string& what) {
    const std::string before = row.substr(0, row.find(what));
    return std::count_if(before.begin(), before.end(),
                         [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
  };
  EXPECT_EQ(column(rows[0], "["), column(rows[1], "[")) << Joined(rows);
  EXPECT_EQ(column(rows[0], " blocks"), column(rows[1], " blocks")) << Joined(rows);
  EXPECT_EQ(column(rows[0], "bit/s"), column(rows[1], "bit/s")) << Joined(rows) << "an unpaced rate too";
  ASSERT_GE(screen.size(), 3u);
  EXPECT_EQ(screen[screen.size() - 3], "summary:") << Joined(screen);
  EXPECT_EQ(screen[screen.size() - 2].rfind("  " + fine.LinkPath + ": ok: load complete", 0), 0u) << Joined(screen);
  EXPECT_EQ(screen.back().rfind("  " + stalls.LinkPath + ": stall (status 5): stalled at", 0), 0u) << Joined(screen);

  // A station's ports that were only waiting for a device when stopped read as stopped.
  TPty line1, line2;
  TTerminalRun station({"--station", "--port", line1.Path(), "--port", line2.Path(), file_});
  const auto bothWaiting = [&](const std::string& out) {
    int waiting = 0;
    for (const std::string& row : Screen(out))
      waiting += row.find("waiting for the device") != std::string::npos &&
                 (row.find(line1.Path()) != std::string::npos || row.find(line2.Path()) != std::string::npos);
    return waiting == 2;
  };
  ASSERT_TRUE(station.AwaitOutput(bothWaiting)) << station.Output();
  station.Type("\x03");
  EXPECT_EQ(station.Wait(), exSuccess) << "no device, none failed";
  const std::string stopped = Joined(Screen(station.Output()));
  EXPECT_NE(stopped.find(line1.Path() + " stopped"), std::string::npos) << stopped;
  EXPECT_NE(stopped.find(line2.Path() + " stopped"), std::string::npos) << stopped;
  EXPECT_EQ(stopped.find(line1.Path() + " interrupted"), std::string::npos) << stopped;
}

// The column shows a long name by the part that tells it from the others.
TEST(FlashColumns, NamesThatShareAPrefixOrASuffix) {
  const std::vector<std::string> byId = ColumnNames({"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
                                                     "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9K3QZ7D-if00-port0"},
                                                    28);
  EXPECT_EQ(byId[0], "…SB_UART_A50285BI-if00-port0");
  EXPECT_EQ(byId[1], "…SB_UART_A9K3QZ7D-if00-port0");
  EXPECT_EQ(ColumnNames({"/dev/ttyUSB0", "/dev/ttyUSB10"}, 28),
            (std::vector<std::string>{"/dev/ttyUSB0 ", "/dev/ttyUSB10"}));
  const std::vector<std::string> front =
      ColumnNames({"/tmp/a-very-long-folder-name/first/the-same-long-tail-of-a-name",
                   "/tmp/a-very-long-folder-name/second/the-same-long-tail-of-a-name", "/dev/ttyS0"},
                  20);
  for (const std::string& label : front)
    EXPECT_EQ(std::count_if(label.begin(), label.end(),
                            [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }),
              20)
        << label;
  EXPECT_NE(front[0], front[1]);
  EXPECT_EQ(ColumnNames({"/dev/ttyS0\n"}, 28), std::vector<std::string>{"/dev/ttyS0\\x0A"});
}

}  // namespace
