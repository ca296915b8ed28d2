// Wake-ups of a program that holds a port open on a silent line: makes a
// pseudo-terminal pair, runs the command with every "{}" replaced by the
// device path, lets it settle, then counts each of its threads' voluntary
// context switches (/proc/PID/task/*/status) over the measuring time.
//
//   silent_line_wakeups [--seconds N] [--settle N] [--show] -- COMMAND ARGS...
//     --show   keep the command's output (default: /dev/null)
//
// Example: silent_line_wakeups -- build/release/tools/qvflash/qvflash --port {} sample.qv
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Spawn.h"

namespace {

struct TThreadCount {
  std::string name;
  long voluntary = 0;
  long involuntary = 0;
};

std::map<int, TThreadCount> Snapshot(pid_t pid) {
  std::map<int, TThreadCount> threads;
  std::error_code ec;
  const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& entry : std::filesystem::directory_iterator(tasks, ec)) {
    std::ifstream status(entry.path() / "status");
    TThreadCount count;
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("Name:", 0) == 0)
        count.name = line.substr(line.find_first_not_of(" \t", 5));
      else if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
        count.voluntary = std::atol(line.c_str() + 24);
      else if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
        count.involuntary = std::atol(line.c_str() + 27);
    }
    if (!count.name.empty()) threads[std::atoi(entry.path().filename().c_str())] = count;
  }
  return threads;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 10;
  int settle = 2;
  bool show = false;
  int i = 1;
  for (; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--")) {
      ++i;
      break;
    }
    if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
      seconds = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--settle") && i + 1 < argc)
      settle = std::max(0, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--show"))
      show = true;
    else
      break;
  }
  if (i >= argc) {
    std::fprintf(stderr, "usage: silent_line_wakeups [--seconds N] [--settle N] [--show] -- COMMAND ARGS...\n");
    return 2;
  }

  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
    std::fprintf(stderr, "no pseudo-terminal\n");
    return 1;
  }
  termios t{};
  ::tcgetattr(master, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(master, TCSANOW, &t);

  std::vector<std::string> args;
  for (; i < argc; ++i) {
    std::string arg = argv[i];
    for (std::size_t at; (at = arg.find("{}")) != std::string::npos;) arg.replace(at, 2, name);
    args.push_back(arg);
  }
  const int null = show ? -1 : ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  const pid_t child = Spawn(args, null, null);
  if (null >= 0) ::close(null);

  std::this_thread::sleep_for(std::chrono::seconds(settle));
  const auto before = Snapshot(child);
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const auto after = Snapshot(child);
  const double measured = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  int status = 0;
  const bool stillRunning = ::waitpid(child, &status, WNOHANG) == 0;
  ::kill(child, SIGTERM);
  ::waitpid(child, &status, 0);
  ::close(master);

  std::printf("silent line %s, %s over %.1f s%s:\n", name, args[0].c_str(), measured,
              stillRunning ? "" : " (the program had ended before the second look)");
  std::printf("  %-8s %-16s %10s %10s %12s\n", "tid", "thread", "voluntary", "per second", "involuntary");
  long total = 0;
  for (const auto& [tid, now] : after) {
    const auto was = before.find(tid);
    const long v = now.voluntary - (was != before.end() ? was->second.voluntary : 0);
    const long n = now.involuntary - (was != before.end() ? was->second.involuntary : 0);
    total += v;
    std::printf("  %-8d %-16s %10ld %10.1f %12ld%s\n", tid, now.name.c_str(), v, v / measured, n,
                tid == child ? "  (main thread)" : (was == before.end() ? "  (started meanwhile)" : ""));
  }
  std::printf("  total voluntary context switches: %ld (%.1f a second)\n", total, total / measured);
  return 0;
}
