// One qvflash loading several simulated devices at once, against the same
// qvflash loading one alone. The simulated devices run in this process, so
// the CPU time measured (wait4 on qvflash) is the loader's own.
//
//   many_devices [--devices N] [--paced BAUD] [--rounds R] [--file FILE.qv] [--qvflash PATH]
//
// Defaults: 8 devices, paced at 38,400 baud, 1 round. Each round runs one
// device alone, then N at once, and prints the whole run's time (start to
// exit), the slowest port's load time (greeting to last acknowledgement, from
// --json), and qvflash's CPU time as a share of one core.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BootLoaderSim.h"
#include "SampleImage.h"
#include "Spawn.h"
#include "UpdateFile.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TRun {
  bool ok = false;
  double wallS = 0;
  double cpuS = 0;
  double slowestLoadS = 0;
  std::string output;
};

// Every "seconds": value of the --json document; the largest is the slowest port.
double SlowestSeconds(const std::string& json, int& count) {
  double slowest = 0;
  count = 0;
  for (std::size_t at = json.find("\"seconds\":"); at != std::string::npos; at = json.find("\"seconds\":", at + 1)) {
    slowest = std::max(slowest, std::atof(json.c_str() + at + 10));
    ++count;
  }
  return slowest;
}

std::string ReadAll(int fd) {
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  return text;
}

TRun RunQvflash(const std::string& qvflash, const std::string& file, int devices, const TSimOptions& options) {
  TRun run;
  std::vector<std::unique_ptr<TBootLoaderSim>> sims;
  std::vector<std::string> args{qvflash, "--quiet", "--json"};
  for (int d = 0; d < devices; ++d) {
    sims.push_back(std::make_unique<TBootLoaderSim>(options));
    sims.back()->Start();
    args.push_back("--port");
    args.push_back(sims.back()->SlavePath());
  }
  args.push_back(file);
  // stdout (the JSON) and stderr each to a file, read after the exit: a pipe
  // left unread could block the loader.
  char outName[] = "/tmp/qv-many-out-XXXXXX";
  char errName[] = "/tmp/qv-many-err-XXXXXX";
  const int out = ::mkostemp(outName, O_CLOEXEC);
  const int err = ::mkostemp(errName, O_CLOEXEC);
  const auto start = Clock::now();
  const pid_t pid = Spawn(args, out, err);
  const TChildEnd end = WaitChild(pid, start);
  const int status = end.status;
  run.wallS = end.wallS;
  run.cpuS = end.cpuS;
  ::lseek(out, 0, SEEK_SET);
  ::lseek(err, 0, SEEK_SET);
  const std::string json = ReadAll(out);
  run.output = ReadAll(err);
  std::remove(outName);
  std::remove(errName);
  int reported = 0;
  run.slowestLoadS = SlowestSeconds(json, reported);
  bool allComplete = true;
  for (auto& sim : sims) {
    sim->WaitFinished(std::chrono::seconds(2));
    allComplete = allComplete && sim->Result().Complete();
  }
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && allComplete && reported == devices;
  if (!run.ok) run.output += json;
  return run;
}

void Print(const char* what, int devices, const TRun& run) {
  std::printf("  %-6s %d device%s: whole run %.3f s, slowest load %.3f s, CPU %.3f s (%.2f %% of one core)\n", what,
              devices, devices == 1 ? " " : "s", run.wallS, run.slowestLoadS, run.cpuS, 100.0 * run.cpuS / run.wallS);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path here = std::filesystem::canonical("/proc/self/exe").parent_path();
  std::string qvflash = (here / "../../tools/qvflash/qvflash").lexically_normal().string();
  std::string file;
  int devices = 8;
  int paced = 38400;
  int rounds = 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string opt = argv[i];
    if (opt == "--devices")
      devices = std::max(1, std::atoi(argv[i + 1]));
    else if (opt == "--paced")
      paced = std::max(0, std::atoi(argv[i + 1]));
    else if (opt == "--rounds")
      rounds = std::max(1, std::atoi(argv[i + 1]));
    else if (opt == "--file")
      file = argv[i + 1];
    else if (opt == "--qvflash")
      qvflash = argv[i + 1];
    else {
      std::fprintf(stderr, "unknown option %s\n", opt.c_str());
      return 2;
    }
  }
  std::string sample;
  if (file.empty())
    file = sample = WriteUpdateFile("/tmp/qv-many-devices-" + std::to_string(::getpid()) + ".qv", MakeSampleImage(5));
  TSimOptions options;
  options.Baud = paced;
  std::printf("%s, %d round%s, one device alone against %d at once, %s:\n",
              paced > 0 ? ("paced at " + std::to_string(paced) + " baud").c_str() : "unpaced", rounds,
              rounds == 1 ? "" : "s", devices, qvflash.c_str());
  int failures = 0;
  for (int r = 0; r < rounds; ++r) {
    const TRun one = RunQvflash(qvflash, file, 1, options);
    const TRun many = RunQvflash(qvflash, file, devices, options);
    for (const TRun* run : {&one, &many})
      if (!run->ok) {
        ++failures;
        std::printf("  round %d FAILED:\n%s\n", r + 1, run->output.c_str());
      }
    if (!one.ok || !many.ok) continue;
    std::printf("round %d:\n", r + 1);
    Print("alone", 1, one);
    Print("at once", devices, many);
    std::printf("  %d at once / one alone: whole run %.3f, slowest load %.3f\n", devices, many.wallS / one.wallS,
                many.slowestLoadS / one.slowestLoadS);
  }
  if (!sample.empty()) std::remove(sample.c_str());
  return failures == 0 ? 0 : 1;
}
