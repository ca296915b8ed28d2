// qvflash against the simulated device: each way a run can end, with its
// exit status and its message; the file checks, the texts it writes, its options.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "BootLoaderSim.h"
#include "DeviceRecord.h"
#include "FlashOptions.h"
#include "FlashRun.h"
#include "FlashTestSupport.h"
#include "FlashToolFixture.h"
#include "FrameEncoding.h"
#include "SampleImage.h"
#include "Sha256.h"
#include "TextOut.h"
#include "UpdateFile.h"

namespace {

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
  EXPECT_NE(run.err.find("stalled at data-flash block at 0x0318: expected 132 bytes within 369 ms, 0 arrived"),
            std::string::npos)
      << run.err;
}

TEST_F(FlashTool, HangUpMidLoadIsDeviceLost) {
  const RunOutput run = RunAgainst(TSimFault::HangUp, 700);
  EXPECT_EQ(run.status, exDeviceLost);
  EXPECT_NE(run.err.find("device lost during"), std::string::npos) << run.err;
}

// The device hangs up as soon as it has answered the last block, taking
// only what has already arrived: the completion command gets out when the
// loader was quicker. Every run ends as a whole load or as a device lost,
// and says so consistently; the rounds that lose the completion command
// itself are counted (the line refusing it is tested apart, through the
// session over the serial component).
TEST_F(FlashTool, AHangUpRightAfterTheLastAnswerEndsOneWayOrTheOther) {
  int ok = 0, lostAtTheEnd = 0;
  for (int round = 0; round < 20; ++round) {
    TSimOptions options;
    options.Fault = TSimFault::HangUpAfterAnswer;
    options.FaultFrame = TBootLoaderSim::kTotalFrames;
    TBootLoaderSim sim(options);
    sim.Start();
    const RunOutput run = Run({"--port", sim.SlavePath(), "--json", file_});
    sim.Stop();
    if (run.status == exSuccess) {
      ++ok;
      EXPECT_EQ(TJson::parse(run.out)["results"][0]["outcome"], "ok");
      EXPECT_NE(run.err.find("load complete"), std::string::npos) << run.err;
      continue;
    }
    EXPECT_EQ(run.status, exDeviceLost) << run.err;
    EXPECT_EQ(TJson::parse(run.out)["results"][0]["outcome"], "device-lost");
    EXPECT_EQ(run.err.find("load complete"), std::string::npos) << run.err;
    if (run.err.find("the completion command (99 33 CC) did not get out") != std::string::npos) ++lostAtTheEnd;
  }
  RecordProperty("ok", ok);
  RecordProperty("lost_at_the_completion", lostAtTheEnd);
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
  EXPECT_EQ(TJson::parse(JsonString(raw)).get<std::string>().substr(0, 7), std::string("a\0b\x1b[1m", 7));
}

// The record and the results document keep their look byte for byte: key
// order, nulls, seconds with three decimals, names with every kind of
// awkward byte (these texts are what the writers produced before they were
// built on the JSON library).
TEST(FlashText, RecordsAndDocumentsAsBefore) {
  const TFileFacts file{"/tmp/r14/обновление \"s\".qv", 278596,
                        "b9a802fef174e03464709d9820e4555d4042e517f08f20f4ddc3c593ffc761a6"};
  const TFileFacts unread{"/tmp/x\x01.qv", 0, ""};
  const TStation station{"vm", "root"};
  TAttempt a;
  a.port = a.device = "/dev/pts/1";
  a.frames = 1112;
  a.seconds = 0.186;
  a.message = "load complete: 1112 frames acknowledged in 0.186 s from the greeting (0.608 s in all)";
  a.endedAt = std::chrono::system_clock::time_point(std::chrono::milliseconds(1796544422933LL));
  TAttempt b;
  b.port = std::string("/dev/serial/by-id/x\n\"q\"\\\x7f\xff\xc0\xaf\t\b\f\r\x1b[2J Порт\0z", 48);
  b.device = "/dev/ttyUSB0";
  b.description = "FTDI FT232R USB UART";
  b.serialNumber = "A50285BI";
  b.status = exStall;
  b.frames = 49;
  b.seconds = 12.0;
  b.message = "stalled at data-flash block at 0x0188: expected 132 bytes within 300 ms, 0 arrived\nhint: x";
  b.endedAt = std::chrono::system_clock::time_point(std::chrono::milliseconds(1796544423000LL));
  TAttempt c;
  c.status = exDeviceLost;
  TAttempt d = a;
  d.status = exInterrupted;
  d.seconds = 1234.5678;
  d.frames = 0;
  EXPECT_EQ(
      RecordLine(a, file, station),
      R"json({"time":"2026-12-06T08:07:02.933Z","host":"vm","user":"root","port":"/dev/pts/1","device":"/dev/pts/1","serial":null,"file":"/tmp/r14/обновление \"s\".qv","size":278596,"sha256":"b9a802fef174e03464709d9820e4555d4042e517f08f20f4ddc3c593ffc761a6","outcome":"ok","status":0,"frames":1112,"seconds":0.186,"message":"load complete: 1112 frames acknowledged in 0.186 s from the greeting (0.608 s in all)"})json");
  EXPECT_EQ(
      RecordLine(b, unread, station),
      R"json({"time":"2026-12-06T08:07:03.000Z","host":"vm","user":"root","port":"/dev/serial/by-id/x\n\"q\"\\\u007f\ufffd\ufffd\ufffd\t\b\f\r\u001b[2J Порт\u0000z\u0000","device":"/dev/ttyUSB0","serial":"A50285BI","file":"/tmp/x\u0001.qv","size":0,"sha256":null,"outcome":"stall","status":5,"frames":49,"seconds":12.000,"message":"stalled at data-flash block at 0x0188: expected 132 bytes within 300 ms, 0 arrived\nhint: x"})json");
  EXPECT_EQ(
      RecordLine(c, file, TStation{}),
      R"json({"time":"1970-01-01T00:00:00.000Z","host":"","user":"","port":"","device":"","serial":null,"file":"/tmp/r14/обновление \"s\".qv","size":278596,"sha256":"b9a802fef174e03464709d9820e4555d4042e517f08f20f4ddc3c593ffc761a6","outcome":"device-lost","status":6,"frames":0,"seconds":0.000,"message":""})json");
  EXPECT_EQ(
      RecordLine(d, file, station),
      R"json({"time":"2026-12-06T08:07:02.933Z","host":"vm","user":"root","port":"/dev/pts/1","device":"/dev/pts/1","serial":null,"file":"/tmp/r14/обновление \"s\".qv","size":278596,"sha256":"b9a802fef174e03464709d9820e4555d4042e517f08f20f4ddc3c593ffc761a6","outcome":"interrupted","status":7,"frames":0,"seconds":1234.568,"message":"load complete: 1112 frames acknowledged in 0.186 s from the greeting (0.608 s in all)"})json");
  EXPECT_EQ(
      ResultsDocument(file, {}, exFileRefused),
      R"json({"file": {"path": "/tmp/r14/обновление \"s\".qv", "size": 278596, "sha256": "b9a802fef174e03464709d9820e4555d4042e517f08f20f4ddc3c593ffc761a6"},
 "results": [],
 "status": 2}
)json");
  EXPECT_EQ(ResultsDocument(unread, {a}, exSuccess),
            R"json({"file": {"path": "/tmp/x\u0001.qv", "size": 0, "sha256": null},
 "results": [
  {"port": "/dev/pts/1", "device": "/dev/pts/1", "description": null, "status": 0, "outcome": "ok", "message": "load complete: 1112 frames acknowledged in 0.186 s from the greeting (0.608 s in all)", "frames": 1112, "seconds": 0.186}
 ],
 "status": 0}
)json");
  EXPECT_EQ(
      ResultsDocument(file, {a, b, c, d}, exStall),
      R"json({"file": {"path": "/tmp/r14/обновление \"s\".qv", "size": 278596, "sha256": "b9a802fef174e03464709d9820e4555d4042e517f08f20f4ddc3c593ffc761a6"},
 "results": [
  {"port": "/dev/pts/1", "device": "/dev/pts/1", "description": null, "status": 0, "outcome": "ok", "message": "load complete: 1112 frames acknowledged in 0.186 s from the greeting (0.608 s in all)", "frames": 1112, "seconds": 0.186},
  {"port": "/dev/serial/by-id/x\n\"q\"\\\u007f\ufffd\ufffd\ufffd\t\b\f\r\u001b[2J Порт\u0000z\u0000", "device": "/dev/ttyUSB0", "description": "FTDI FT232R USB UART", "status": 5, "outcome": "stall", "message": "stalled at data-flash block at 0x0188: expected 132 bytes within 300 ms, 0 arrived\nhint: x", "frames": 49, "seconds": 12.000},
  {"port": "", "device": "", "description": null, "status": 6, "outcome": "device-lost", "message": "", "frames": 0, "seconds": 0.000},
  {"port": "/dev/pts/1", "device": "/dev/pts/1", "description": null, "status": 7, "outcome": "interrupted", "message": "load complete: 1112 frames acknowledged in 0.186 s from the greeting (0.608 s in all)", "frames": 0, "seconds": 1234.568}
 ],
 "status": 5}
)json");
  for (const TAttempt& attempt : {a, b, c, d}) EXPECT_NO_THROW(TJson::parse(RecordLine(attempt, file, station)));
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
  const auto parse = [](std::vector<const char*> args) {
    args.insert(args.begin(), "qvflash");
    return ParseFlashOptions(static_cast<int>(args.size()), args.data());
  };
  const auto refusal = [&](std::vector<const char*> args) -> std::string {
    try {
      parse(std::move(args));
    } catch (const std::invalid_argument& e) {
      return e.what();
    }
    return "accepted";
  };
  TFlashOptions options = parse({"-p", "/dev/ttyUSB0", "-t", "750", "-v", "f.qv"});
  EXPECT_EQ(options.ports, std::vector<std::string>{"/dev/ttyUSB0"});
  EXPECT_EQ(options.timeoutMs, 750);
  EXPECT_TRUE(options.verbose);
  EXPECT_EQ(options.file, "f.qv");
  EXPECT_EQ(parse({"f.qv"}).ports, std::vector<std::string>{"COM1"});

  // As every other tool reads them: values after "=", bundles, prefixes, operands anywhere, "--".
  options = parse({"--port=/dev/a", "-vp/dev/b", "--stat", "--greeting-timeout=5", "--", "--odd.qv"});
  EXPECT_EQ(options.file, "--odd.qv");
  EXPECT_EQ(options.ports, (std::vector<std::string>{"/dev/a", "/dev/b"}));
  EXPECT_TRUE(options.verbose && options.station);
  EXPECT_EQ(options.greetingTimeoutS, 5);
  EXPECT_EQ(refusal({"f.qv", "--", "--ignored"}), "only one update file, not '--ignored' as well");

  EXPECT_EQ(refusal({}), "no update file given");
  EXPECT_EQ(refusal({"--timeout", "soon", "f.qv"}), "--timeout takes a whole number from 1 to 3600000, not 'soon'");
  EXPECT_EQ(refusal({"--bogus", "f.qv"}), "unknown option '--bogus'");
  EXPECT_EQ(refusal({"-x", "f.qv"}), "unknown option '-x'");
  EXPECT_EQ(refusal({"--json", "-qx", "f.qv"}), "unknown option '-x'") << "the letter, not the option before it";
  EXPECT_EQ(refusal({"f.qv", "--port"}), "option '--port' needs a value");
  EXPECT_EQ(refusal({"f.qv", "-qp"}), "option '-p' needs a value");
  EXPECT_EQ(refusal({"--json=yes", "f.qv"}), "option '--json' takes no value");
  EXPECT_EQ(refusal({"--quiet=yes", "f.qv"}), "option '--quiet' takes no value");
  EXPECT_EQ(refusal({"--s", "f.qv"}), "option '--s' is ambiguous: --station, --simulate");
  EXPECT_EQ(refusal({"-qv", "f.qv"}), "--quiet and --verbose exclude each other");
}

}  // namespace
