// qvsim: a simulated device boot loader on a pseudo-terminal. Prints the
// device path for the loader to open, plays the device, and exits 0 only when
// every block of both regions arrived in order and the completion came.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "BootLoaderSim.h"
#include "CommandLine.h"
#include "QvVersion.h"
#include "SampleImage.h"
#include "UpdateFile.h"

namespace {

const char* const kUsage =
    "usage: qvsim [options]\n"
    "Plays a device boot loader on a new pseudo-terminal and prints its path.\n"
    "  --link PATH          also make a symbolic link PATH to the device\n"
    "  --baud N             bytes take their wire time at N baud (both directions)\n"
    "  --chunk N            send responses in pieces of N bytes\n"
    "  --random-chunks N    send responses in pieces of 1..N bytes\n"
    "  --seed N             seed for random pieces and garbage\n"
    "  --wrong-sum N        wrong sum for the first block frame from frame N on\n"
    "  --no-aa N            no 0xAA for the first page select from frame N on\n"
    "  --garbage N          40 meaningless bytes instead of the response to frame N\n"
    "  --silence N          no response to frame N\n"
    "  --hangup N           hang up after receiving frame N\n"
    "  --hangup-after-answer N  answer frame N and hang up at once (1112: before the\n"
    "                       completion command, unless it has already arrived)\n"
    "  --regreet            after a stall, greet again when the loader reopens the port\n"
    "  --repeat N           play N devices in a row: after each completion the next one\n"
    "                       greets when the loader opens the port again (default 1)\n"
    "  --write FILE.qv      write the received image as an update file\n"
    "  --expect FILE.qv     compare the received image with this update file\n"
    "  --timeout SECONDS    give up after this long (default: wait for the loader)\n"
    "  --quiet              print only the device path\n"
    "  --make-sample FILE   write a sample update file (every cell filled) and exit\n"
    "  -h, --help           this text\n"
    "  --version            print the version and exit\n"
    "Frames are counted from 1 over the whole load: data-flash blocks 1..512,\n"
    "then page selects and program blocks 513..1112.\n"
    "Exit status: 0 complete (and equal to --expect; with --repeat, every device),\n"
    "1 incomplete or different,\n"
    "2 usage or set-up error.\n";

// A usage error: the error and where to read more, status 2.
[[noreturn]] void UsageError(const std::string& what) {
  std::fprintf(stderr, "qvsim: %s\n%s\n", what.c_str(), TryHelpLine("qvsim").c_str());
  std::exit(2);
}

int ParseInt(const char* text, const char* option) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (!text[0] || *end || v < 0 || v > 100000000)
    throw EUsageError(std::string(option) + " needs a number, not '" + text + "'");
  return static_cast<int>(v);
}

}  // namespace

int main(int argc, char** argv) {
  enum : int {
    oLink = 256,
    oBaud,
    oChunk,
    oRandomChunks,
    oSeed,
    oWrongSum,
    oNoAa,
    oGarbage,
    oSilence,
    oHangup,
    oHangupAfterAnswer,
    oRegreet,
    oRepeat,
    oWrite,
    oExpect,
    oTimeout,
    oQuiet,
    oMakeSample,
    oVersion
  };
  const TCommandLineSyntax syntax{"h",
                                  {{"link", required_argument, nullptr, oLink},
                                   {"baud", required_argument, nullptr, oBaud},
                                   {"chunk", required_argument, nullptr, oChunk},
                                   {"random-chunks", required_argument, nullptr, oRandomChunks},
                                   {"seed", required_argument, nullptr, oSeed},
                                   {"wrong-sum", required_argument, nullptr, oWrongSum},
                                   {"no-aa", required_argument, nullptr, oNoAa},
                                   {"garbage", required_argument, nullptr, oGarbage},
                                   {"silence", required_argument, nullptr, oSilence},
                                   {"hangup", required_argument, nullptr, oHangup},
                                   {"hangup-after-answer", required_argument, nullptr, oHangupAfterAnswer},
                                   {"regreet", no_argument, nullptr, oRegreet},
                                   {"repeat", required_argument, nullptr, oRepeat},
                                   {"write", required_argument, nullptr, oWrite},
                                   {"expect", required_argument, nullptr, oExpect},
                                   {"timeout", required_argument, nullptr, oTimeout},
                                   {"quiet", no_argument, nullptr, oQuiet},
                                   {"make-sample", required_argument, nullptr, oMakeSample},
                                   {"help", no_argument, nullptr, 'h'},
                                   {"version", no_argument, nullptr, oVersion}}};
  TSimOptions options;
  std::string writePath, expectPath, samplePath;
  int timeoutSeconds = 0;
  bool quiet = false, help = false, version = false;
  std::vector<std::string> operands;
  try {
    operands = ParseCommandLine(argc, argv, syntax, [&](int id, const char* value) {
      const auto fault = [&](TSimFault kind, const char* option) {
        options.Fault = kind;
        options.FaultFrame = ParseInt(value, option);
      };
      switch (id) {
        case oLink: options.LinkPath = value; break;
        case oBaud: options.Baud = ParseInt(value, "--baud"); break;
        case oChunk: options.Chunk = ParseInt(value, "--chunk"); break;
        case oRandomChunks:
          options.Chunk = ParseInt(value, "--random-chunks");
          options.RandomChunks = true;
          break;
        case oSeed: options.Seed = static_cast<std::uint32_t>(ParseInt(value, "--seed")); break;
        case oWrongSum: fault(TSimFault::WrongSum, "--wrong-sum"); break;
        case oNoAa: fault(TSimFault::MissingAA, "--no-aa"); break;
        case oGarbage: fault(TSimFault::Garbage, "--garbage"); break;
        case oSilence: fault(TSimFault::Silence, "--silence"); break;
        case oHangup: fault(TSimFault::HangUp, "--hangup"); break;
        case oHangupAfterAnswer: fault(TSimFault::HangUpAfterAnswer, "--hangup-after-answer"); break;
        case oRegreet: options.Regreet = true; break;
        case oRepeat:
          options.Devices = ParseInt(value, "--repeat");
          if (options.Devices < 1) throw EUsageError("--repeat needs at least 1 device");
          break;
        case oWrite: writePath = value; break;
        case oExpect: expectPath = value; break;
        case oTimeout: timeoutSeconds = ParseInt(value, "--timeout"); break;
        case oQuiet: quiet = true; break;
        case oMakeSample: samplePath = value; break;
        case 'h': help = true; break;
        case oVersion: version = true; break;
        default: break;
      }
    });
  } catch (const EUsageError& e) {
    UsageError(e.what());
  }
  if (help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (version) {
    std::printf("qvsim %s\n", QvVersion);
    return 0;
  }
  if (!operands.empty()) UsageError("takes no operands, not '" + operands.front() + "'");
  if (!samplePath.empty()) {
    try {
      std::printf("%s\n", WriteUpdateFile(samplePath, MakeSampleImage(1)).c_str());
      return 0;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "qvsim: %s: %s\n", samplePath.c_str(), e.what());
      return 2;
    }
  }

  TImage expected;
  if (!expectPath.empty()) {
    try {
      if (ReadUpdateFile(std::optional<std::string>(expectPath), expected) != TUpdateFileOutcome::Read) {
        std::fprintf(stderr, "qvsim: %s is not an update file\n", expectPath.c_str());
        return 2;
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "qvsim: %s: %s\n", expectPath.c_str(), e.what());
      return 2;
    }
  }

  // Signals end the wait; the device then hangs up like an unplugged one.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  // With several devices, each one's image is checked as it completes.
  std::atomic<int> devicesDifferent{0};
  if (options.Devices > 1) {
    options.OnDeviceDone = [&](const TSimResult& r) {
      const std::string different = !expectPath.empty() && r.Received ? CompareSentRegions(expected, *r.Received) : "";
      if (!different.empty()) ++devicesDifferent;
      if (!quiet)
        std::fprintf(stderr, "qvsim: device %d of %d: %s%s%s\n", r.Devices, options.Devices,
                     r.Complete() ? "complete" : "incomplete", different.empty() ? "" : "; differs at ",
                     different.c_str());
    };
  }
  TBootLoaderSim sim(options);
  try {
    sim.Start();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qvsim: %s\n", e.what());
    return 2;
  }
  std::printf("%s\n", sim.SlavePath().c_str());
  std::fflush(stdout);

  const auto start = std::chrono::steady_clock::now();
  bool interrupted = false;
  while (!sim.WaitFinished(std::chrono::milliseconds(0))) {
    timespec wait{0, 20'000'000};
    if (sigtimedwait(&stopSignals, nullptr, &wait) > 0) {
      interrupted = true;
      break;
    }
    if (timeoutSeconds > 0 && std::chrono::steady_clock::now() - start > std::chrono::seconds(timeoutSeconds)) {
      interrupted = true;
      break;
    }
  }
  // Let the loader close the port itself before the device goes away.
  if (!interrupted) sim.WaitLoaderClosed(std::chrono::seconds(2));
  sim.Stop();

  const TSimResult r = sim.Result();
  std::string difference;
  if (!expectPath.empty() && r.Received) difference = CompareSentRegions(expected, *r.Received);
  if (!writePath.empty() && r.Received) {
    try {
      WriteUpdateFile(writePath, *r.Received);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "qvsim: %s: %s\n", writePath.c_str(), e.what());
    }
  }
  const bool ok = r.Complete() && difference.empty() && r.DevicesComplete == options.Devices && devicesDifferent == 0;
  if (!quiet) {
    std::fprintf(stderr,
                 "qvsim: %s: %d frames (%d data-flash blocks, %d page selects, %d program blocks), "
                 "completion %s, cycles %d%s%s%s%s\n",
                 ok ? "complete" : "incomplete", r.FramesReceived, r.DataFlashBlocks, r.PageSelects, r.ProgramBlocks,
                 r.CompletionSeen ? "received" : "missing", r.Cycles,
                 r.FirstMismatch.empty() ? "" : "; first out of order: ", r.FirstMismatch.c_str(),
                 difference.empty() ? "" : "; differs from the expected image at ", difference.c_str());
    // The loader's turnaround as the device sees it: its answer written, the next frame read.
    std::vector<double> turnaround = r.TurnaroundUs;
    if (!turnaround.empty()) {
      std::sort(turnaround.begin(), turnaround.end());
      std::fprintf(stderr, "qvsim: turnaround over %zu frames: median %.0f us, 99th percentile %.0f us\n",
                   turnaround.size(), turnaround[turnaround.size() / 2], turnaround[turnaround.size() * 99 / 100]);
    }
  }
  return ok ? 0 : 1;
}
