// qvflash against devices played by hand on pseudo-terminals, special files
// as ports, groups in the hints, and the program run through a shell.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "BootLoaderSim.h"
#include "FlashOptions.h"
#include "FlashRun.h"
#include "FlashTestSupport.h"
#include "FlashToolFixture.h"
#include "ScriptedDevice.h"
#include "TextOut.h"
#include "UpdateFile.h"

namespace {

// A port name typed with a '%' is a name, not a format: the device behind
// that very path is loaded, and the record names it.
TEST_F(FlashTool, APercentSignInAPortNameIsPartOfTheName) {
  for (const std::string name : {"line%d", "pct%%sign"}) {
    TSimOptions options;
    options.LinkPath = (dir_ / name).string();
    TBootLoaderSim sim(options);
    sim.Start();
    const RunOutput run = Run({"--quiet", "--json", "--port", options.LinkPath, file_});
    EXPECT_EQ(run.status, exSuccess) << name << ": " << run.err;
    EXPECT_TRUE(sim.Result().CompletionSeen) << name;
    const TJson result = TJson::parse(run.out)["results"][0];
    EXPECT_EQ(result["port"], options.LinkPath);
    EXPECT_EQ(result["device"], sim.SlavePath());
  }
}

// An answer is due within its time on the line plus the time-out, whatever
// trickles in meanwhile: a device that greets again and again after a
// restart is a stall at once, said as such, and so is one that answers too
// slowly (a load from it would take for ever).
TEST_F(FlashTool, AnAnswerIsDueInItsLineTimeWhateverTrickles) {
  // A greeting every 250 ms: the 132 bytes of an answer would take 33 s.
  std::atomic<bool> over{false};
  TScriptedDevice restarted([&](TPty& pty) {
    if (!TScriptedDevice::Handshake(pty) || pty.Receive(131, 5000).size() != 131) return;
    for (int i = 0; i < 200 && !over && pty.Receive(1, 250).empty(); ++i) pty.Send({0x55});
  });
  const auto start = std::chrono::steady_clock::now();
  RunOutput run = Run({"--port", restarted.Path(), file_});
  over = true;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15)) << "not 132 greetings later";
  EXPECT_EQ(run.status, exStall);
  EXPECT_NE(run.err.find("stalled at data-flash block at 0x0000: the device restarted ("), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find(" greetings, 0x55, instead of the answer)"), std::string::npos) << run.err;

  TSimOptions options;
  options.Baud = 2000;  // 5 ms a byte: an answer takes 0.66 s, well past 69 ms + 100 ms
  TBootLoaderSim slow(options);
  slow.Start();
  run = Run({"--port", slow.SlavePath(), "--timeout", "100", file_});
  EXPECT_EQ(run.status, exStall);
  EXPECT_NE(run.err.find("stalled at data-flash block at 0x0000: expected 132 bytes within 169 ms, "),
            std::string::npos)
      << run.err;
}

// Messages name page 0 properly and count every byte that came, past 255 too.
TEST_F(FlashTool, StallMessagesNameTheFrameAndCountHonestly) {
  RunOutput run = RunAgainst(TSimFault::Silence, 513);
  EXPECT_EQ(run.status, exStall);
  EXPECT_NE(run.err.find("stalled at page select 0x0000: expected 4 bytes within 302 ms, 0 arrived"), std::string::npos)
      << run.err;

  TScriptedDevice device([](TPty& pty) {
    if (!TScriptedDevice::Handshake(pty) || pty.Receive(131, 5000).size() != 131) return;
    pty.Send(std::vector<std::uint8_t>(264, 0x00));  // two answers' worth, and nothing after
    pty.Receive(1, 3000);
  });
  run = Run({"--port", device.Path(), "--timeout", "300", file_});
  EXPECT_EQ(run.status, exStall);
  EXPECT_NE(run.err.find("stalled at data-flash block at 0x0000: expected 132 bytes within 369 ms, 264 arrived"),
            std::string::npos)
      << run.err;
}

// A line powering up puts glitch bytes before the greeting, in the same read.
TEST_F(FlashTool, GreetingBehindGlitchBytesIsAnswered) {
  std::atomic<bool> answered{false};
  {
    TScriptedDevice device([&](TPty& pty) { answered = TScriptedDevice::Greet(pty, {0x00, 0xFF, 0x13, 0x55}); });
    const RunOutput run = Run({"--port", device.Path(), "--greeting-timeout", "1", file_});
    EXPECT_NE(run.err.find("the device did not confirm the handshake with 0xAA"), std::string::npos)
        << "the greeting was taken; " << run.err;
  }
  EXPECT_TRUE(answered);
}

TEST_F(FlashTool, HangUpBeforeAnyFrameSaysWhere) {
  // The line hangs up once the loader waits for the greeting: its Open is over.
  const std::string messages = (dir_ / "messages.txt").string();
  TScriptedDevice device([&](TPty& pty) {
    for (int i = 0; i < 2000 && Slurp(messages).find("waiting for the device") == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    pty.CloseMaster();
  });
  const RunOutput run = RunQvflash({"--port", device.Path(), file_}, std::fopen(messages.c_str(), "w+"));
  EXPECT_EQ(run.status, exDeviceLost);
  EXPECT_NE(run.err.find("qvflash: device lost during the wait for the greeting (the line hung up)"), std::string::npos)
      << run.err;
}

// The device answers and is gone at once: the loader says so without waiting
// for any time-out. The time-out here is 30 s: a run that ends within half
// of it after the hang-up did not wait for it, however loaded the machine.
TEST_F(FlashTool, HangUpRightAfterAnAnswerEndsTheRunAtOnce) {
  for (int round = 0; round < 4; ++round) {
    std::atomic<std::int64_t> hungUpAt{0};
    RunOutput run;
    std::int64_t endedAt = 0;
    {
      TScriptedDevice device([&](TPty& pty) {
        if (!TScriptedDevice::Handshake(pty)) return;
        for (int frame = 0; frame < 3; ++frame)
          if (!TScriptedDevice::AnswerBlock(pty)) return;
        pty.CloseMaster();
        hungUpAt = std::chrono::steady_clock::now().time_since_epoch().count();
      });
      run = Run({"--port", device.Path(), "--timeout", "30000", file_});
      endedAt = std::chrono::steady_clock::now().time_since_epoch().count();
    }
    EXPECT_EQ(run.status, exDeviceLost) << run.err;
    ASSERT_NE(hungUpAt.load(), 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::duration(endedAt - hungUpAt.load())).count();
    EXPECT_LT(seconds, 15.0) << "round " << round << ": the hang-up was noticed at the time-out";
  }
}

// Names with control bytes reach the terminal escaped, and JSON well formed.
TEST_F(FlashTool, ControlBytesInNamesAreShownEscaped) {
  const std::string port = "/dev/qv\x01\x1b[2Jx";
  RunOutput run = Run({"--port", port, "--json", file_});
  EXPECT_EQ(run.status, exPortError);
  EXPECT_NE(run.err.find("Specified device not found (/dev/qv\\x01\\x1B[2Jx)."), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find('\x01'), std::string::npos);
  EXPECT_EQ(run.err.find('\x1b'), std::string::npos);
  const TJson document = TJson::parse(run.out);
  EXPECT_EQ(document.at("results").at(0).at("port").get<std::string>(), port);
  EXPECT_EQ(document.at("results").at(0).at("outcome").get<std::string>(), "port-error");

  // A line end in a name cannot forge a line of its own.
  run = Run({"--port", "/dev/qv\nqvflash: load complete", "--port", "/dev/qv2", file_});
  EXPECT_EQ(run.status, exPortError);
  EXPECT_EQ(run.err.find("\nqvflash: load complete"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("/dev/qv\\x0Aqvflash: load complete"), std::string::npos) << run.err;

  run = Run({"--dry-run", (dir_ / "im\x07"
                                  "age.qv")
                              .string()});
  EXPECT_EQ(run.status, exFileRefused);
  EXPECT_NE(run.err.find("im\\x07age.qv: File not found"), std::string::npos) << run.err;
}

TEST_F(FlashTool, NoGreetingFromASilentLine) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string slave = ::ptsname(master);
  const RunOutput run = Run({"--port", slave, "--greeting-timeout", "1", "--verbose", file_});
  ::close(master);
  EXPECT_EQ(run.status, exNoGreeting);
  EXPECT_NE(run.err.find("no greeting (0x55) from the device within 1 s"), std::string::npos) << run.err;
  // A pseudo-terminal's driver has no low-latency mode.
  EXPECT_NE(run.err.find("low-latency mode: off"), std::string::npos) << run.err;
}

// The hint names the device file's own group; a plain file is no serial port.
TEST_F(FlashTool, PortErrorHints) {
  const RunOutput plain = Run({"--port", file_, file_});
  EXPECT_EQ(plain.status, exPortError);
  EXPECT_NE(plain.err.find("Error writing dcb (25)"), std::string::npos) << plain.err;
  EXPECT_NE(plain.err.find("is not a serial port"), std::string::npos) << plain.err;

  const RunOutput missing = Run({"--port", (dir_ / "ttyNone").string(), file_});
  EXPECT_EQ(missing.status, exPortError);
  EXPECT_NE(missing.err.find("is not on this computer"), std::string::npos) << missing.err;

  // A Unix socket is there, but no serial port.
  const std::string socketPath = (dir_ / "ttySocket").string();
  const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
  ASSERT_EQ(::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  const RunOutput socket = Run({"--port", socketPath, file_});
  ::close(listening);
  EXPECT_EQ(socket.status, exPortError);
  EXPECT_NE(socket.err.find("hint: " + socketPath + " is not a serial port."), std::string::npos) << socket.err;

  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a device file of another group and drop to nobody";
  const group* dialout = ::getgrnam("dialout");
  if (dialout == nullptr) GTEST_SKIP() << "no group dialout on this system";
  const std::string device = (dir_ / "ttyLocked").string();
  std::ofstream(device) << "";
  ASSERT_EQ(::chown(device.c_str(), 0, dialout->gr_gid), 0);
  ASSERT_EQ(::chmod(device.c_str(), 0660), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(100);
    const RunOutput run = Run({"--port", device, file_});
    const bool hinted = run.err.find("sudo usermod -aG dialout $USER") != std::string::npos &&
                        run.err.find("Can't open specified device " + device + " (Error 13") != std::string::npos;
    ::_exit(run.status == exPortError && hinted ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(FlashPortList, AdaptersWithTheirDescription) {
  TPortInfo com1;
  com1.name = com1.label = "COM1";
  TPortInfo adapter;
  adapter.name = "/dev/ttyUSB0";
  adapter.description = "FTDI FT232R USB UART";
  adapter.label = "ttyUSB0 — FTDI FT232R USB UART (A50285BI)";
  std::FILE* out = std::tmpfile();
  PrintPortList({com1, adapter}, out);
  EXPECT_EQ(ReadAll(out), "COM1\n/dev/ttyUSB0   ttyUSB0 — FTDI FT232R USB UART (A50285BI)\n");
}

// A usage error is the error and one line pointing at the help, on stderr,
// with status 1; the help itself goes to stdout only when asked for.
TEST(FlashProgram, UsageErrorsAreTwoLinesNotTheHelp) {
  const std::pair<const char*, const char*> cases[] = {
      {" --bogus x.qv", "qvflash: unknown option '--bogus'\n"},
      {" -t abc x.qv", "qvflash: --timeout takes a whole number from 1 to 3600000, not 'abc'\n"},
      {" --port", "qvflash: option '--port' needs a value\n"},
      {"", "qvflash: no update file given\n"}};
  for (const auto& [args, error] : cases) {
    std::FILE* pipe = ::popen((std::string(QVFLASH_PATH) + args + " 2>&1 >/dev/null").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string text;
    char buffer[1024];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    const int status = ::pclose(pipe);
    EXPECT_EQ(WEXITSTATUS(status), exUsage) << args;
    EXPECT_EQ(text, std::string(error) + "Try 'qvflash --help'.\n") << args;
  }
}

TEST(FlashProgram, HelpDocumentsTheExitStatuses) {
  std::FILE* pipe = ::popen(QVFLASH_PATH " --help", "r");
  ASSERT_NE(pipe, nullptr);
  std::string text;
  char buffer[1024];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  EXPECT_EQ(::pclose(pipe), 0);
  for (const char* line :
       {"0  success", "2  file refused", "3  port error", "4  no greeting", "5  stall on a response", "6  device lost"})
    EXPECT_NE(text.find(line), std::string::npos) << line;
}

}  // namespace
