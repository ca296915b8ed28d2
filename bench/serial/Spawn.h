#pragma once
// Starting a program under measurement from a benchmark, and its end.
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

// Keeps the calling thread (and what it starts from now on) on processor `cpu`.
inline void KeepOnProcessor(int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  ::sched_setaffinity(0, sizeof set, &set);
}

// Starts args[0] (a path) with `args` as its argument vector, its standard
// output on `out` and its error output on `err` (-1: this process's own).
// Give descriptors opened close-on-exec so that the child keeps no others.
// `cpu` >= 0 keeps the child on that processor.
inline pid_t Spawn(std::vector<std::string> args, int out, int err, int cpu = -1) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  if (cpu >= 0) KeepOnProcessor(cpu);
  if (out >= 0) ::dup2(out, 1);
  if (err >= 0) ::dup2(err, 2);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ::execv(argv[0], argv.data());
  std::perror("exec");
  ::_exit(127);
}

struct TChildEnd {
  int status = 0;    // as waitpid gives it
  double wallS = 0;  // from `start` to the child's end
  double cpuS = 0;   // the child's user and system time
};

// Waits for the child and measures it.
inline TChildEnd WaitChild(pid_t pid, std::chrono::steady_clock::time_point start) {
  TChildEnd end;
  rusage usage{};
  ::wait4(pid, &end.status, 0, &usage);
  end.wallS = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  end.cpuS = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
             static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return end;
}
