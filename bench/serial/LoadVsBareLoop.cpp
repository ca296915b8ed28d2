// A whole load by qvflash side by side with the bare protocol loop
// (bare_loop), both against the simulated device engine, which runs in this
// process so that the loader's CPU time is its own. Runs alternate (bare
// first in even rounds, qvflash first in odd ones) so that a disturbance of
// the machine falls on both.
//
//   load_vs_bare_loop [--runs N] [--paced BAUD] [--only qvflash|bare]
//                     [--cpus free|apart] [--file FILE.qv] [--qvflash PATH]
//                     [--bare PATH]
//
// --cpus apart keeps the simulated device on one processor and the loader on
// the other, as a device that is hardware of its own would be. By default
// (free) the scheduler places them; on two cores it often puts loader,
// device and the pseudo-terminal's worker on one, and then whether the
// loader sleeps between frames, which the scheduler decides, weighs more
// than the loader's own work.
//
// Unpaced (default 15 rounds): the time from the greeting to the last
// acknowledgement as each loader reports it, median and range, and the
// ratio of the medians. Paced (--paced 38400, default 1 round): also the
// loader's CPU time over its whole run as a share of one core.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "BootLoaderSim.h"
#include "SampleImage.h"
#include "Spawn.h"
#include "UpdateFile.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n == 0 ? 0 : (n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

struct TRun {
  bool ok = false;
  double loadS = 0;         // greeting to last acknowledgement, as the loader reports it
  double wallS = 0;         // the loader's whole run, start to exit
  double cpuS = 0;          // user + system time of the loader
  double turnaroundUs = 0;  // median, as the device sees it: answer written to next frame read
  std::string output;
};

// `apart`: the device on processor 0, the loader on 1.
TRun RunLoader(const std::vector<std::string>& command, const TSimOptions& options, bool apart) {
  TRun run;
  if (apart) KeepOnProcessor(0);  // otherwise placed as this program was started (taskset)
  TBootLoaderSim sim(options);
  sim.Start();
  std::vector<std::string> args = command;
  for (auto& a : args)
    if (a == "{}") a = sim.SlavePath();
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return run;
  const auto start = Clock::now();
  const pid_t pid = Spawn(args, out[1], out[1], apart ? 1 : -1);
  ::close(out[1]);
  char buf[4096];
  ssize_t n;
  while ((n = ::read(out[0], buf, sizeof buf)) > 0) run.output.append(buf, static_cast<std::size_t>(n));
  ::close(out[0]);
  const TChildEnd end = WaitChild(pid, start);
  const int status = end.status;
  run.wallS = end.wallS;
  run.cpuS = end.cpuS;
  sim.WaitFinished(std::chrono::seconds(2));
  const std::size_t at = run.output.find("acknowledged in ");
  if (at != std::string::npos) run.loadS = std::atof(run.output.c_str() + at + 16);
  run.turnaroundUs = Median(sim.Result().TurnaroundUs);
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && sim.Result().Complete() && run.loadS > 0;
  return run;
}

struct TSeries {
  std::string name;
  std::vector<std::string> command;
  std::vector<double> load = {}, cpu = {}, share = {}, turnaround = {};
};

void PrintSeries(const TSeries& s) {
  if (s.load.empty()) return;
  std::printf("  %-8s load median %.3f s, range %.3f .. %.3f s; CPU median %.3f s", s.name.c_str(), Median(s.load),
              *std::min_element(s.load.begin(), s.load.end()), *std::max_element(s.load.begin(), s.load.end()),
              Median(s.cpu));
  std::printf(", turnaround median %.0f us", Median(s.turnaround));
  if (!s.share.empty())
    std::printf(", CPU share of one core: median %.2f %%, range %.2f .. %.2f %%", Median(s.share),
                *std::min_element(s.share.begin(), s.share.end()), *std::max_element(s.share.begin(), s.share.end()));
  std::printf(" (%zu runs)\n", s.load.size());
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path here = std::filesystem::canonical("/proc/self/exe").parent_path();
  std::string qvflash = (here / "../../tools/qvflash/qvflash").lexically_normal().string();
  std::string bare = (here / "bare_loop").string();
  std::string file;
  std::string only;
  int runs = 0;
  int paced = 0;
  bool apart = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string opt = argv[i];
    if (opt == "--runs")
      runs = std::max(1, std::atoi(argv[i + 1]));
    else if (opt == "--paced")
      paced = std::atoi(argv[i + 1]);
    else if (opt == "--file")
      file = argv[i + 1];
    else if (opt == "--qvflash")
      qvflash = argv[i + 1];
    else if (opt == "--bare")
      bare = argv[i + 1];
    else if (opt == "--only")
      only = argv[i + 1];
    else if (const std::string value = argv[i + 1]; opt == "--cpus" && (value == "free" || value == "apart"))
      apart = value == "apart";
    else {
      std::fprintf(stderr, "unknown option %s\n", opt.c_str());
      return 2;
    }
  }
  if (runs == 0) runs = paced > 0 ? 1 : 15;
  std::string sample;
  if (file.empty())
    file = sample = WriteUpdateFile("/tmp/qv-load-vs-bare-" + std::to_string(::getpid()) + ".qv", MakeSampleImage(5));
  TSimOptions options;
  options.Baud = paced;

  std::vector<TSeries> series;
  if (only.empty() || only == "bare") series.push_back(TSeries{"bare", {bare, "{}", file}});
  if (only.empty() || only == "qvflash") series.push_back(TSeries{"qvflash", {qvflash, "--port", "{}", file}});
  std::printf("%s, %d round%s, %s, %s:\n",
              paced > 0 ? ("paced at " + std::to_string(paced) + " baud").c_str() : "unpaced", runs,
              runs == 1 ? "" : "s", apart ? "device and loader on processors of their own" : "placed by the scheduler",
              qvflash.c_str());
  int failures = 0;
  for (int r = 0; r < runs; ++r) {
    for (std::size_t k = 0; k < series.size(); ++k) {
      TSeries& s = series[(r % 2 == 0) ? k : series.size() - 1 - k];
      const TRun run = RunLoader(s.command, options, apart);
      if (!run.ok) {
        ++failures;
        std::printf("  round %2d %-8s FAILED:\n%s\n", r + 1, s.name.c_str(), run.output.c_str());
        continue;
      }
      s.load.push_back(run.loadS);
      s.cpu.push_back(run.cpuS);
      s.turnaround.push_back(run.turnaroundUs);
      if (paced > 0) s.share.push_back(100.0 * run.cpuS / run.wallS);
      std::printf(
          "  round %2d %-8s load %.3f s, whole run %.3f s, CPU %.3f s (%.2f %% of one core), turnaround %.0f us\n",
          r + 1, s.name.c_str(), run.loadS, run.wallS, run.cpuS, 100.0 * run.cpuS / run.wallS, run.turnaroundUs);
      std::fflush(stdout);
    }
  }
  std::printf("summary:\n");
  for (const TSeries& s : series) PrintSeries(s);
  if (series.size() == 2 && !series[0].load.empty() && !series[1].load.empty())
    std::printf("  qvflash / bare loop, ratio of the medians: %.2f\n", Median(series[1].load) / Median(series[0].load));
  if (!sample.empty()) std::remove(sample.c_str());
  return failures == 0 ? 0 : 1;
}
