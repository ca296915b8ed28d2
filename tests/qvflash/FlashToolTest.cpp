// qvflash against the simulated device on a pseudo-terminal: each way a run
// can end, with its exit status and its message.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "BootLoaderSim.h"
#include "FlashOptions.h"
#include "FlashRun.h"
#include "FlashTestSupport.h"
#include "FrameEncoding.h"
#include "SampleImage.h"
#include "Sha256.h"
#include "TextOut.h"
#include "UpdateFile.h"

namespace fs = std::filesystem;

namespace {

class FlashTool : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qvflash-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    fs::permissions(dir_, fs::perms::all);
    file_ = WriteUpdateFile((dir_ / "image.qv").string(), image_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  RunOutput Run(std::vector<std::string> args) { return RunQvflash(std::move(args)); }

  // A run against the simulated device with one fault.
  RunOutput RunAgainst(TSimFault fault, int frame, std::vector<std::string> extra = {}) {
    TSimOptions options;
    options.Fault = fault;
    options.FaultFrame = frame;
    TBootLoaderSim sim(options);
    sim.Start();
    std::vector<std::string> args{"--port", sim.SlavePath(), "--timeout", "300", file_};
    args.insert(args.end(), extra.begin(), extra.end());
    RunOutput result = Run(args);
    sim.Stop();
    return result;
  }

  fs::path dir_;
  TImage image_ = MakeSampleImage(21);
  std::string file_;
};

TEST_F(FlashTool, WholeLoadThroughThePortSucceeds) {
  TBootLoaderSim sim;
  sim.Start();
  const RunOutput run = Run({"--port", sim.SlavePath(), file_});
  ASSERT_TRUE(sim.WaitFinished(std::chrono::seconds(5)));
  const TSimResult result = sim.Result();
  EXPECT_EQ(run.status, exSuccess) << run.err;
  EXPECT_TRUE(result.Complete()) << result.FirstMismatch;
  ASSERT_TRUE(result.Received);
  EXPECT_EQ(CompareSentRegions(image_, *result.Received), "");
  // Plain progress lines (stderr is no terminal here) and the status line's messages.
  EXPECT_NE(run.err.find("progress: 100% 1112/1112 blocks"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Загрузка в дата-флешь\n"), std::string::npos);
  EXPECT_NE(run.err.find("Загрузка завершена\n"), std::string::npos);
  EXPECT_NE(run.err.find("qvflash: load complete"), std::string::npos);
}

TEST_F(FlashTool, SimulateOptionLoadsTheBuiltInDevice) {
  const RunOutput run = Run({"--simulate", "--quiet", file_});
  EXPECT_EQ(run.status, exSuccess) << run.err;
  EXPECT_EQ(run.err, "") << "quiet prints nothing on success";
}

TEST_F(FlashTool, WrongSumInEachPhaseIsAStallNamingTheBlock) {
  RunOutput run = RunAgainst(TSimFault::WrongSum, 5);
  EXPECT_EQ(run.status, exStall);
  EXPECT_NE(run.err.find("stalled at data-flash block at 0x0020: expected block sum"), std::string::npos) << run.err;

  run = RunAgainst(TSimFault::WrongSum, 513);  // the first block frame from 513 on is program block 0x0000
  EXPECT_EQ(run.status, exStall);
  EXPECT_NE(run.err.find("stalled at program block at 0x0000: expected block sum"), std::string::npos) << run.err;
}

TEST_F(FlashTool, MissingAAIsAStallAtThePageSelect) {
  const RunOutput run = RunAgainst(TSimFault::MissingAA, 518);  // page select of page 1
  EXPECT_EQ(run.status, exStall);
  EXPECT_NE(run.err.find("stalled at page select 0x0200: expected 0xAA"), std::string::npos) << run.err;
}

TEST_F(FlashTool, SilenceTimesOut) {
  const RunOutput run = RunAgainst(TSimFault::Silence, 100);
  EXPECT_EQ(run.status, exStall);
  EXPECT_NE(run.err.find("stalled at data-flash block at 0x0318: expected 132 bytes within 300 ms, 0 arrived"),
            std::string::npos)
      << run.err;
}

TEST_F(FlashTool, HangUpMidLoadIsDeviceLost) {
  const RunOutput run = RunAgainst(TSimFault::HangUp, 700);
  EXPECT_EQ(run.status, exDeviceLost);
  EXPECT_NE(run.err.find("device lost during"), std::string::npos) << run.err;
}

// A slow device (5 ms a byte) answers in 1.3 s, longer than --timeout: the
// time-out is the silence allowed, restarted by every byte.
TEST_F(FlashTool, ResponseTimeOutIsTheGapBetweenBytes) {
  TSimOptions options;
  options.Baud = 2000;
  options.Fault = TSimFault::Silence;
  options.FaultFrame = 3;
  TBootLoaderSim sim(options);
  sim.Start();
  const auto start = std::chrono::steady_clock::now();
  const RunOutput run = Run({"--port", sim.SlavePath(), "--timeout", "1000", file_});
  // About 4 s: two answers of 1.3 s, then 1 s of silence (not the 30 s of the greeting's time-out).
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  EXPECT_EQ(run.status, exStall);
  EXPECT_NE(run.err.find("stalled at data-flash block at 0x0010: expected 132 bytes within 1000 ms, 0 arrived"),
            std::string::npos)
      << run.err;
}

// Messages name page 0 properly and count every byte that came, past 255 too.
TEST_F(FlashTool, StallMessagesNameTheFrameAndCountHonestly) {
  RunOutput run = RunAgainst(TSimFault::Silence, 513);
  EXPECT_EQ(run.status, exStall);
  EXPECT_NE(run.err.find("stalled at page select 0x0000: expected 4 bytes within 300 ms, 0 arrived"),
            std::string::npos)
      << run.err;

  TScriptedDevice device([](TPty& pty) {
    if (!TScriptedDevice::Handshake(pty) || pty.Receive(131, 5000).size() != 131) return;
    pty.Send(std::vector<std::uint8_t>(264, 0x00));  // two answers' worth, and nothing after
    pty.Receive(1, 3000);
  });
  run = Run({"--port", device.Path(), "--timeout", "300", file_});
  EXPECT_EQ(run.status, exStall);
  EXPECT_NE(run.err.find("stalled at data-flash block at 0x0000: expected 132 bytes, 264 arrived, then none within 300 ms"),
            std::string::npos)
      << run.err;
}

TEST_F(FlashTool, HangUpBeforeAnyFrameSaysWhere) {
  TScriptedDevice device([](TPty& pty) { pty.CloseMaster(); });
  const RunOutput run = Run({"--port", device.Path(), file_});
  EXPECT_EQ(run.status, exDeviceLost);
  EXPECT_NE(run.err.find("qvflash: device lost during the wait for the greeting (the line hung up)"), std::string::npos)
      << run.err;
}

// The device answers and is gone at once: the loader says so without waiting
// for any time-out (Close's own 300 ms pause aside).
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
      run = Run({"--port", device.Path(), file_});
      endedAt = std::chrono::steady_clock::now().time_since_epoch().count();
    }
    EXPECT_EQ(run.status, exDeviceLost) << run.err;
    ASSERT_NE(hungUpAt.load(), 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::duration(endedAt - hungUpAt.load())).count();
    EXPECT_LT(seconds, 1.2) << "round " << round << ": the hang-up was noticed late";
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
  const TJson document = TJson::Parse(run.out);
  EXPECT_EQ(document["results"][0]["port"].text, port);
  EXPECT_EQ(document["results"][0]["outcome"].text, "port-error");

  run = Run({"--dry-run", (dir_ / "im\x07" "age.qv").string()});
  EXPECT_EQ(run.status, exFileRefused);
  EXPECT_NE(run.err.find("im\\x07age.qv: File not found"), std::string::npos) << run.err;
}

TEST(FlashText, DigestsAndEscapes) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  TSha256 million;  // a million 'a' in pieces that straddle the blocks
  const std::string piece(997, 'a');
  for (std::size_t added = 0; added < 1000000; added += 997) million.Add(piece.substr(0, 1000000 - added));
  std::string hex;
  for (std::uint8_t b : million.Finish()) hex += IntToHex(b, 2);
  EXPECT_EQ(hex, "CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0");

  const std::string raw("a\0b\x1b[1m\x7f\xc2\x9b\xff Загрузка", 28);
  EXPECT_EQ(PrintableText(raw), "a\\x00b\\x1B[1m\\x7F\\xC2\\x9B\\xFF Загрузка");
  EXPECT_EQ(JsonString(std::string("q\"b\\s\n\0\x01", 8)), "\"q\\\"b\\\\s\\n\\u0000\\u0001\"");
  EXPECT_EQ(JsonString("Загрузка"), "\"Загрузка\"");
  EXPECT_EQ(JsonString("\xff\xc0\xaf"), "\"\\ufffd\\ufffd\\ufffd\"") << "not UTF-8 (an overlong form too)";
  EXPECT_EQ(TJson::Parse(JsonString(raw)).text.substr(0, 7), std::string("a\0b\x1b[1m", 7));
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

TEST_F(FlashTool, MissingPortIsAPortError) {
  const RunOutput run = Run({"--port", "/dev/qv-no-such-port", file_});
  EXPECT_EQ(run.status, exPortError);
  EXPECT_NE(run.err.find("Specified device not found (/dev/qv-no-such-port)."), std::string::npos) << run.err;
}

TEST_F(FlashTool, RefusedFilesSayWhy) {
  std::ofstream((dir_ / "short.qv").string()) << "00";
  RunOutput run = Run({"--dry-run", (dir_ / "short.qv").string()});
  EXPECT_EQ(run.status, exFileRefused);
  EXPECT_NE(run.err.find("Неверный файл, проверьте файл или обновите программу загрузки"), std::string::npos);

  run = Run({"--dry-run", (dir_ / "missing.qv").string()});
  EXPECT_EQ(run.status, exFileRefused);
  EXPECT_NE(run.err.find("File not found"), std::string::npos) << run.err;

  fs::copy_file(file_, dir_ / "image.txt");
  run = Run({"--dry-run", (dir_ / "image.txt").string()});
  EXPECT_EQ(run.status, exFileRefused);
  EXPECT_NE(run.err.find("the name must end in .qv"), std::string::npos) << run.err;

  TImage bad = image_;
  bad.StringGrid1.SetCell(7, BlockFirstRow(3, 2), "x1");
  const std::string badFile = WriteUpdateFile((dir_ / "bad.qv").string(), bad);
  run = Run({"--simulate", badFile});
  EXPECT_EQ(run.status, exFileRefused) << "a bad block is refused before any port is touched";
  EXPECT_NE(run.err.find("line 113, column 13: 'x' is not a hexadecimal digit (program memory row 113, offset 0x0706)"),
            std::string::npos)
      << run.err;
}

TEST_F(FlashTool, AFileWrittenInSmallLettersIsTakenAsItIs) {
  std::ifstream in(file_, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string lower = (dir_ / "lower.qv").string();
  std::ofstream(lower, std::ios::binary) << text;
  const RunOutput run = Run({"--dry-run", lower});
  EXPECT_EQ(run.status, exSuccess) << run.err;  // not "the file changed while it was read"
  EXPECT_NE(run.out.find("frames: 1112"), std::string::npos);
}

TEST_F(FlashTool, DryRunListsEveryBlockWithItsSum) {
  const RunOutput run = Run({"--dry-run", file_});
  ASSERT_EQ(run.status, exSuccess) << run.err;
  std::istringstream lines(run.out);
  std::string line;
  int dataFlash = 0, pageSelects = 0, program = 0;
  while (std::getline(lines, line)) {
    char kind[16], address[8], sum[4];
    if (std::sscanf(line.c_str(), "data-flash %7s sum %3s", address, sum) == 2) {
      const int k = dataFlash++;
      EXPECT_EQ(address, IntToHex(static_cast<std::uint32_t>(k * 8), 4));
      std::uint32_t total = 0;
      for (int i = 0; i < 128; ++i) total += SampleByte(1, k * 128 + i, 21);
      EXPECT_EQ(sum, IntToHex(total & 0xFF, 2)) << line;
    } else if (std::sscanf(line.c_str(), "page-select %7s", address) == 1) {
      EXPECT_EQ(address, IntToHex(static_cast<std::uint32_t>(pageSelects++ * 512), 4));
    } else if (std::sscanf(line.c_str(), "program %7s sum %3s", address, sum) == 2) {
      const int offset = program++ * 128;
      EXPECT_EQ(address, IntToHex(static_cast<std::uint32_t>(offset), 4));
      std::uint32_t total = 0;
      for (int i = 0; i < 128; ++i) total += SampleByte(0, offset + i, 21);
      EXPECT_EQ(sum, IntToHex(total & 0xFF, 2)) << line;
    } else {
      (void)kind;
    }
  }
  EXPECT_EQ(dataFlash, 512);
  EXPECT_EQ(pageSelects, 120);
  EXPECT_EQ(program, 480);
  EXPECT_NE(run.out.find("frames: 1112"), std::string::npos);
}

TEST(FlashOptionsParsing, DefaultsAndRefusals) {
  const char* ok[] = {"qvflash", "-p", "/dev/ttyUSB0", "-t", "750", "-v", "f.qv"};
  const TFlashOptions options = ParseFlashOptions(7, ok);
  EXPECT_EQ(options.ports, std::vector<std::string>{"/dev/ttyUSB0"});
  EXPECT_EQ(options.timeoutMs, 750);
  EXPECT_TRUE(options.verbose);
  EXPECT_EQ(options.file, "f.qv");
  const char* defaults[] = {"qvflash", "f.qv"};
  EXPECT_EQ(ParseFlashOptions(2, defaults).ports, std::vector<std::string>{"COM1"});
  EXPECT_EQ(DefaultResponseTimeoutMs(38400), 68 + 500);

  const char* noFile[] = {"qvflash"};
  const char* badNumber[] = {"qvflash", "--timeout", "soon", "f.qv"};
  const char* unknown[] = {"qvflash", "--fast", "f.qv"};
  const char* both[] = {"qvflash", "-q", "-v", "f.qv"};
  EXPECT_THROW(ParseFlashOptions(1, noFile), std::invalid_argument);
  EXPECT_THROW(ParseFlashOptions(4, badNumber), std::invalid_argument);
  EXPECT_THROW(ParseFlashOptions(3, unknown), std::invalid_argument);
  EXPECT_THROW(ParseFlashOptions(4, both), std::invalid_argument);
}

// The hint names the device file's own group; a plain file is no serial port.
TEST_F(FlashTool, PortErrorHints) {
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

  const RunOutput plain = Run({"--port", file_, file_});
  EXPECT_EQ(plain.status, exPortError);
  EXPECT_NE(plain.err.find("Error writing dcb (25)"), std::string::npos) << plain.err;
  EXPECT_NE(plain.err.find("is not a serial port"), std::string::npos) << plain.err;

  const RunOutput missing = Run({"--port", (dir_ / "ttyNone").string(), file_});
  EXPECT_EQ(missing.status, exPortError);
  EXPECT_NE(missing.err.find("is not on this computer"), std::string::npos) << missing.err;
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

TEST(FlashProgram, HelpDocumentsTheExitStatuses) {
  std::FILE* pipe = ::popen(QVFLASH_PATH " --help", "r");
  ASSERT_NE(pipe, nullptr);
  std::string text;
  char buffer[1024];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  EXPECT_EQ(::pclose(pipe), 0);
  for (const char* line : {"0  success", "2  file refused", "3  port error", "4  no greeting",
                           "5  stall on a response", "6  device lost"})
    EXPECT_NE(text.find(line), std::string::npos) << line;
}

}  // namespace
