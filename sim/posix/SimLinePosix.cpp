// The simulated device's line on POSIX systems: a pseudo-terminal's master,
// with an eventfd for the stop. The master reports a hang-up while no one
// holds the slave side open, which tells when a loader comes and goes.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "SimLine.h"

namespace {

// How often a closed slave side is looked at: poll reports the hang-up at once.
constexpr int kHangUpLookMs = 5;

int MillisecondsUntil(TSimLine::Clock::time_point until) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - TSimLine::Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

class TPtyLine final : public TSimLine {
public:
  explicit TPtyLine(const std::string& linkPath) : link_(linkPath) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) throw std::runtime_error(std::string("no pseudo-terminal: ") + std::strerror(errno));
    char name[128];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0) {
      const int e = errno;
      ::close(master_);
      throw std::runtime_error(std::string("pseudo-terminal set-up failed: ") + std::strerror(e));
    }
    path_ = name;
    // Master and slave share one termios: raw before anything, so no byte is cooked.
    termios t{};
    ::tcgetattr(master_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master_, TCSANOW, &t);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    // A master whose slave was never opened reports nothing; once the slave has
    // been opened and closed it reports a hang-up until the loader opens it.
    const int slave = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave >= 0) ::close(slave);
    if (!link_.empty()) {
      ::unlink(link_.c_str());
      if (::symlink(path_.c_str(), link_.c_str()) != 0) {
        const int e = errno;
        ::close(master_);
        throw std::runtime_error("cannot link " + link_ + ": " + std::strerror(e));
      }
    }
    stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  }

  ~TPtyLine() override {
    HangUp();
    ::close(stop_);
    if (!link_.empty()) ::unlink(link_.c_str());
  }

  const std::string& Path() const override { return path_; }

  void Stop() override {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t w = ::write(stop_, &one, sizeof one);
  }

  bool WaitLoaderOpen() override {
    for (;;) {
      pollfd p[2] = {{stop_, POLLIN, 0}, {master_, POLLIN, 0}};
      if (::poll(p, 2, 0) < 0 && errno != EINTR) return false;
      if (p[0].revents & POLLIN) return false;
      if (!(p[1].revents & POLLHUP)) return true;
      pollfd s{stop_, POLLIN, 0};
      if (::poll(&s, 1, kHangUpLookMs) > 0) return false;
    }
  }

  bool WaitLoaderGone() override {
    // No input is asked for, so bytes left unread never wake this wait.
    for (;;) {
      pollfd p[2] = {{stop_, POLLIN, 0}, {master_, 0, 0}};
      if (::poll(p, 2, -1) < 0 && errno != EINTR) return false;
      if (p[0].revents & POLLIN) return false;
      if (p[1].revents & (POLLHUP | POLLERR)) return true;
    }
  }

  TWait WaitReadable(Clock::time_point until) override {
    pollfd p[2] = {{stop_, POLLIN, 0}, {master_, POLLIN, 0}};
    const int r = ::poll(p, 2, until == Clock::time_point::max() ? -1 : std::max(1, MillisecondsUntil(until)));
    if (r < 0) return errno == EINTR ? TWait::TimedOut : TWait::Stopped;
    if (p[0].revents & POLLIN) return TWait::Stopped;
    if (p[1].revents & POLLIN) return TWait::Readable;
    if (p[1].revents & (POLLHUP | POLLERR)) return TWait::LoaderGone;
    return TWait::TimedOut;
  }

  std::size_t Read(std::uint8_t* data, std::size_t size) override {
    const ssize_t n = ::read(master_, data, size);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
  }

  bool Write(const std::uint8_t* data, std::size_t size) override {
    std::size_t sent = 0;
    while (sent < size) {
      const ssize_t w = ::write(master_, data + sent, size - sent);
      if (w > 0) {
        sent += static_cast<std::size_t>(w);
      } else if (w < 0 && errno == EAGAIN) {
        pollfd p[2] = {{master_, POLLOUT, 0}, {stop_, POLLIN, 0}};
        ::poll(p, 2, 10);
        if (p[1].revents & POLLIN) return false;
      } else if (w < 0 && errno != EINTR) {
        return false;  // the loader is gone
      }
    }
    return true;
  }

  bool SleepUntil(Clock::time_point until) override {
    pollfd p{stop_, POLLIN, 0};
    for (;;) {
      const int ms = MillisecondsUntil(until);
      if (ms <= 0) {
        // Sub-millisecond remainder: sleep it out (paced bytes are a fraction
        // of a millisecond apart), then look at the stop request.
        std::this_thread::sleep_until(until);
        return ::poll(&p, 1, 0) <= 0;
      }
      if (::poll(&p, 1, ms) > 0) return false;
    }
  }

  void HangUp() override {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  bool HungUp() const override { return master_ < 0; }

private:
  std::string path_, link_;
  int master_ = -1;
  int stop_ = -1;
};

}  // namespace

std::unique_ptr<TSimLine> TSimLine::Create(const std::string& linkPath) { return std::make_unique<TPtyLine>(linkPath); }
