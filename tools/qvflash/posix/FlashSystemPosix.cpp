// qvflash on POSIX systems: descriptors, signals taken from a signalfd, the
// terminal's size from the kernel, users and groups from the system's lists.
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "FlashSystem.h"
#include "TextOut.h"

namespace FlashSystem {

void PrepareStandardStreams() {}

bool LiveTerminal(std::FILE* out) { return ::isatty(::fileno(out)) != 0; }

int TerminalWidth(std::FILE* out) {
  winsize size{};
  return ::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

std::string ResolvedDevice(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
  return path;
}

std::string UserName() {
  passwd entry{};
  passwd* found = nullptr;
  char buffer[1024];
  if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found) return found->pw_name;
  return std::to_string(::geteuid());
}

std::string HostName() {
  char host[256] = {};
  return ::gethostname(host, sizeof host - 1) == 0 ? host : "";
}

std::string ShownPort(const std::string& name, const TPortProblem& problem) {
  return problem.devicePath.empty() || problem.devicePath == name ? name : name + " (" + problem.devicePath + ")";
}

std::string PermissionHint(const std::string& port, const TPortProblem& problem) {
  const std::string group = PrintableText(problem.group);
  if (!problem.groupMayUse)
    return "hint: " + port + " is open to its owner only" + (group.empty() ? "" : " (group '" + group + "')") +
           ". Ask an administrator for access, e.g. a udev rule with GROUP=\"dialout\", MODE=\"0660\".";
  if (problem.alreadyMember)
    return "hint: you are in group '" + group + "', which may use " + port +
           ", but this login predates it: log out and in again.";
  return "hint: " + port + " is open to group '" + group + "'. Join it: sudo usermod -aG " + group +
         " $USER, then log out and in again.";
}

std::string BusyHint(const std::string& port, const std::string& name, const TPortProblem& problem) {
  return "hint: another program holds " + port + "; close it and try again (fuser -v " +
         PrintableText(problem.devicePath.empty() ? name : problem.devicePath) + " shows which).";
}

std::string NotFoundAdvice(bool portsExist) { return portsExist ? "" : " No serial port is: plug in an adapter."; }

}  // namespace FlashSystem

TOutputFile::TOutputFile(const std::string& path, TMode mode) {
  // Without blocking: a FIFO that nobody reads would hold the run up for
  // ever; it fails at once (ENXIO) instead. Writes then block as usual.
  const int flags = mode == TMode::Append ? O_APPEND : O_TRUNC;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | flags, 0644);
  if (fd < 0) {
    const int error = errno;
    throw std::runtime_error(path + ": " + (error == ENXIO ? "a FIFO that no program reads" : std::strerror(error)));
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  struct stat info {};
  disk_ = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  handle_ = fd;
}

TOutputFile::~TOutputFile() { ::close(static_cast<int>(handle_)); }

bool TOutputFile::Write(const std::string& bytes, std::string& error) {
  ssize_t written;
  do {
    written = ::write(static_cast<int>(handle_), bytes.data(), bytes.size());
  } while (written < 0 && errno == EINTR);
  if (written < 0) {
    error = std::strerror(errno);
    return false;
  }
  if (static_cast<std::size_t>(written) != bytes.size()) {
    error = "only " + std::to_string(written) + " of " + std::to_string(bytes.size()) + " bytes written";
    return false;
  }
  return true;
}

bool TOutputFile::Sync(std::string& error) {
  if (!disk_ || ::fdatasync(static_cast<int>(handle_)) == 0) return true;
  error = std::string("sync failed: ") + std::strerror(errno);
  return false;
}

// The stop signals are blocked for the run, and its threads inherit that;
// they are taken from a descriptor instead. SIGPIPE is ignored. Everything
// is put back at the end.
struct TStopRequests::TState {
  sigset_t set{}, previous{};
  struct sigaction previousPipe {};
  int signals = -1;
  int wake = -1;
};

TStopRequests::TStopRequests() : state_(std::make_unique<TState>()) {
  sigemptyset(&state_->set);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2}) sigaddset(&state_->set, signal);
  ::pthread_sigmask(SIG_BLOCK, &state_->set, &state_->previous);
  state_->signals = ::signalfd(-1, &state_->set, SFD_CLOEXEC | SFD_NONBLOCK);
  state_->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &state_->previousPipe);
}

TStopRequests::~TStopRequests() {
  if (state_->signals >= 0) ::close(state_->signals);
  if (state_->wake >= 0) ::close(state_->wake);
  ::sigaction(SIGPIPE, &state_->previousPipe, nullptr);
  ::pthread_sigmask(SIG_SETMASK, &state_->previous, nullptr);
}

void TStopRequests::Wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t w = ::write(state_->wake, &one, sizeof one);
}

std::string TStopRequests::Wait() {
  for (;;) {
    pollfd wait[2] = {{state_->signals, POLLIN, 0}, {state_->wake, POLLIN, 0}};
    if (::poll(wait, 2, -1) < 0 && errno != EINTR) return {};
    if (wait[0].revents & POLLIN) {
      signalfd_siginfo info{};
      if (::read(state_->signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        return std::string("SIG") + ::sigabbrev_np(static_cast<int>(info.ssi_signo));
    }
    if (wait[1].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t r = ::read(state_->wake, &count, sizeof count);
      return {};
    }
  }
}
