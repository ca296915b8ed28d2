// The simulated device against a scripted loader: whole exchanges, pieces,
// pacing, every injected fault as the loader sees it, and a new greeting cycle.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <thread>

#include "BootLoaderSim.h"
#include "SampleImage.h"
#include "ScriptedLoader.h"

namespace {

using namespace std::chrono_literals;

const TImage& Sample() {
  static const TImage image = MakeSampleImage(7);
  return image;
}

// Waits (on the test's thread) until `done` holds; false after 10 s.
bool WaitUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

bool WaitsFor(const TBootLoaderSim& sim, TBootLoaderSim::TWaiting what) {
  return WaitUntil([&] { return sim.Waiting() == what; });
}

TSimResult RunWhole(TSimOptions options, TScriptOutcome& outcome, int timeoutMs = 1000) {
  TBootLoaderSim sim(options);
  sim.Start();
  TScriptedLoader loader(sim.SlavePath(), Sample(), timeoutMs);
  EXPECT_TRUE(loader.Open());
  outcome = loader.Run();
  loader.Close();
  EXPECT_TRUE(sim.WaitFinished(5s) || !outcome.Stall.empty());
  sim.Stop();
  return sim.Result();
}

TEST(BootLoaderSim, ExpectedFramesFollowTheLoadOrder) {
  std::uint8_t cmd;
  std::uint16_t address;
  TBootLoaderSim::ExpectedFrame(0, cmd, address);
  EXPECT_EQ(cmd, 0x66);
  EXPECT_EQ(address, 0x0000);
  TBootLoaderSim::ExpectedFrame(511, cmd, address);
  EXPECT_EQ(address, 0x0FF8);
  TBootLoaderSim::ExpectedFrame(512, cmd, address);
  EXPECT_EQ(cmd, 0x11);
  EXPECT_EQ(address, 0x0000);
  TBootLoaderSim::ExpectedFrame(516, cmd, address);
  EXPECT_EQ(cmd, 0x22);
  EXPECT_EQ(address, 0x0180);
  TBootLoaderSim::ExpectedFrame(517, cmd, address);
  EXPECT_EQ(cmd, 0x11);
  EXPECT_EQ(address, 0x0200);
  TBootLoaderSim::ExpectedFrame(1111, cmd, address);
  EXPECT_EQ(cmd, 0x22);
  EXPECT_EQ(address, 0xEF80);
}

TEST(BootLoaderSim, WholeExchangeRecordsEveryBlockInOrder) {
  TScriptOutcome outcome;
  const TSimResult r = RunWhole({}, outcome);
  EXPECT_EQ(outcome.Stall, "");
  EXPECT_EQ(outcome.FramesAcknowledged, 1112);
  EXPECT_TRUE(outcome.CompletionSent);
  EXPECT_TRUE(r.Complete()) << r.FirstMismatch;
  EXPECT_EQ(r.DataFlashBlocks, 512);
  EXPECT_EQ(r.PageSelects, 120);
  EXPECT_EQ(r.ProgramBlocks, 480);
  EXPECT_EQ(r.Cycles, 1);
  ASSERT_TRUE(r.Received);
  EXPECT_EQ(CompareSentRegions(Sample(), *r.Received), "");
  // Rows the loader never sends stay erased.
  EXPECT_EQ(r.Received->StringGrid1.Cell(1, 3841), "FF");

  TImage other = Sample();
  other.StringGrid1.SetCell(16, 3840, other.StringGrid1.Cell(16, 3840) == "00" ? "01" : "00");
  EXPECT_EQ(CompareSentRegions(other, *r.Received).rfind("program memory row 3840 column 16", 0), 0u);
}

TEST(BootLoaderSim, ResponsesInPiecesAndPacedStillComplete) {
  TSimOptions pieces;
  pieces.Chunk = 40;
  pieces.RandomChunks = true;
  pieces.Seed = 3;
  TScriptOutcome outcome;
  TSimResult r = RunWhole(pieces, outcome);
  EXPECT_EQ(outcome.Stall, "");
  EXPECT_TRUE(r.Complete()) << r.FirstMismatch;
  EXPECT_GT(outcome.MultiPieceResponses, 500);

  TSimOptions paced;
  paced.Baud = 3'000'000;  // fast enough for a test, slow enough to be paced
  r = RunWhole(paced, outcome);
  EXPECT_EQ(outcome.Stall, "");
  EXPECT_TRUE(r.Complete()) << r.FirstMismatch;
}

struct TFaultCase {
  TSimFault fault;
  int frame;
  const char* stall;
  int stallFrame;
};

// The case's name in test listings: the fault and the frame it is set at
// ("WrongSumFrom513"), the same on every run.
std::string CaseName(const TFaultCase& c) {
  const char* fault = "None";
  switch (c.fault) {
    case TSimFault::None: break;
    case TSimFault::WrongSum: fault = "WrongSum"; break;
    case TSimFault::MissingAA: fault = "MissingAA"; break;
    case TSimFault::Garbage: fault = "Garbage"; break;
    case TSimFault::Silence: fault = "Silence"; break;
    case TSimFault::HangUp: fault = "HangUp"; break;
    case TSimFault::HangUpAfterAnswer: fault = "HangUpAfterAnswer"; break;
  }
  return std::string(fault) + "From" + std::to_string(c.frame);
}

void PrintTo(const TFaultCase& c, std::ostream* out) { *out << CaseName(c); }

class BootLoaderSimFault : public ::testing::TestWithParam<TFaultCase> {};

TEST_P(BootLoaderSimFault, TheLoaderSeesTheFaultAtItsFrame) {
  const TFaultCase c = GetParam();
  TSimOptions options;
  options.Fault = c.fault;
  options.FaultFrame = c.frame;
  TScriptOutcome outcome;
  const TSimResult r = RunWhole(options, outcome, 300);
  EXPECT_EQ(outcome.Stall, c.stall);
  EXPECT_EQ(outcome.StallFrame, c.stallFrame);
  EXPECT_EQ(outcome.FramesAcknowledged, c.stallFrame - 1);
  EXPECT_TRUE(r.FaultInjected);
  EXPECT_FALSE(r.Complete());
  EXPECT_FALSE(r.CompletionSeen);
}

INSTANTIATE_TEST_SUITE_P(Faults, BootLoaderSimFault,
                         ::testing::Values(TFaultCase{TSimFault::WrongSum, 3, "wrong sum", 3},
                                           TFaultCase{TSimFault::WrongSum, 513, "wrong sum",
                                                      514},  // 513 is a page select
                                           TFaultCase{TSimFault::MissingAA, 1, "no AA", 513},
                                           TFaultCase{TSimFault::Garbage, 5, "short response", 5},
                                           TFaultCase{TSimFault::Garbage, 518, "response too long", 518},
                                           TFaultCase{TSimFault::Silence, 7, "no response", 7},
                                           TFaultCase{TSimFault::HangUp, 2, "hang-up", 2}),
                         [](const auto& test) { return CaseName(test.param); });

TEST(BootLoaderSim, AfterAStallTheNextOpeningGetsANewGreetingCycle) {
  TSimOptions options;
  options.Fault = TSimFault::WrongSum;
  options.FaultFrame = 2;
  options.Regreet = true;
  TBootLoaderSim sim(options);
  sim.Start();
  {
    TScriptedLoader first(sim.SlavePath(), Sample(), 300);
    ASSERT_TRUE(first.Open());
    const TScriptOutcome stalled = first.Run();
    EXPECT_EQ(stalled.Stall, "wrong sum");
    EXPECT_EQ(stalled.StallFrame, 2);
  }  // closed: the user turns the switch off
  // The device has seen the loader go and waits for the next opening.
  ASSERT_TRUE(WaitsFor(sim, TBootLoaderSim::TWaiting::LoaderOpen));
  EXPECT_FALSE(sim.Finished());
  TScriptedLoader second(sim.SlavePath(), Sample());
  ASSERT_TRUE(second.Open());
  const TScriptOutcome outcome = second.Run();
  EXPECT_EQ(outcome.Stall, "");
  ASSERT_TRUE(sim.WaitFinished(5s));
  const TSimResult r = sim.Result();
  EXPECT_EQ(r.Cycles, 2);
  EXPECT_TRUE(r.Complete()) << r.FirstMismatch;
}

TEST(BootLoaderSim, SeveralDevicesInARowEachGreetOnceTheLoaderReopens) {
  TSimOptions options;
  options.Devices = 3;
  std::vector<TSimResult> done;
  options.OnDeviceDone = [&](const TSimResult& r) { done.push_back(r); };
  TBootLoaderSim sim(options);
  sim.Start();
  for (int device = 1; device <= 3; ++device) {
    TScriptedLoader loader(sim.SlavePath(), Sample());
    ASSERT_TRUE(loader.Open()) << device;
    EXPECT_EQ(loader.Run(false).Stall, "") << device;
    // The next device waits for the port to be let go of: nothing greets this opening again.
    ASSERT_TRUE(WaitsFor(sim, TBootLoaderSim::TWaiting::LoaderGone)) << device;
    EXPECT_EQ(loader.TakeWaiting(), std::vector<std::uint8_t>{}) << device;
    EXPECT_EQ(sim.Finished(), device == 3);
    // Let go of, as a loader's Close does; the next opening comes once the device has seen it.
    loader.Close();
    if (device < 3) {
      ASSERT_TRUE(WaitsFor(sim, TBootLoaderSim::TWaiting::LoaderOpen)) << device;
    }
  }
  ASSERT_TRUE(sim.WaitFinished(5s));
  sim.Stop();
  const TSimResult r = sim.Result();
  EXPECT_EQ(r.Devices, 3);
  EXPECT_EQ(r.DevicesComplete, 3);
  EXPECT_EQ(r.Cycles, 3);
  ASSERT_EQ(done.size(), 3u);
  for (const TSimResult& device : done) {
    EXPECT_TRUE(device.Complete()) << device.FirstMismatch;
    ASSERT_TRUE(device.Received);
    EXPECT_EQ(CompareSentRegions(Sample(), *device.Received), "");
  }
  EXPECT_NE(done[0].Received, done[2].Received) << "each device keeps its own image";
}

TEST(BootLoaderSim, GreetsOnlyOnceOpenedAndAgainUntilAnswered) {
  TSimOptions options;
  options.GreetIntervalMs = 60;
  TBootLoaderSim sim(options);
  sim.Start();
  ASSERT_TRUE(WaitsFor(sim, TBootLoaderSim::TWaiting::LoaderOpen));
  EXPECT_EQ(sim.Result().Greetings, 0);  // nobody has opened the port yet
  TScriptedLoader loader(sim.SlavePath(), Sample());
  ASSERT_TRUE(loader.Open());
  EXPECT_TRUE(loader.AwaitByte(0x55, 2000));
  EXPECT_TRUE(loader.AwaitByte(0x55, 2000));  // unanswered: greeted again
  EXPECT_GE(sim.Result().Greetings, 2);
  EXPECT_TRUE(loader.Handshake());
  EXPECT_TRUE(sim.Result().HandshakeDone);
  loader.Close();
  ASSERT_TRUE(sim.WaitFinished(5s));  // closed without regreet: over
  const TSimResult r = sim.Result();
  EXPECT_TRUE(r.LoaderClosed);
  EXPECT_FALSE(r.Complete());
}

TEST(BootLoaderSim, OutOfOrderFramesAreNamed) {
  TBootLoaderSim sim;
  sim.Start();
  TScriptedLoader loader(sim.SlavePath(), Sample(), 300);
  ASSERT_TRUE(loader.Open());
  ASSERT_TRUE(loader.Handshake());
  // Skip the first block: send block 1 first.
  const std::vector<std::uint8_t> frame = loader.Frame(1);
  ASSERT_TRUE(loader.Write(frame.data(), frame.size()));
  ASSERT_TRUE(WaitUntil([&] { return sim.Result().FramesReceived == 1; }));
  loader.Close();
  ASSERT_TRUE(sim.WaitFinished(5s));
  EXPECT_EQ(sim.Result().FirstMismatch, "frame 1: expected 66 0000, received 66 0008");
}

}  // namespace
