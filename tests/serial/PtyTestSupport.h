#pragma once
// Pseudo-terminal pairs for the tests on POSIX systems: the test plays the
// far end on the master, the component opens the slave by path.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "MainLoop.h"

class TPty {
public:
  TPty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
      throw std::runtime_error("no pseudo-terminal");
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname");
    path_ = name;
    termios t{};
    ::tcgetattr(master_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master_, TCSANOW, &t);
  }
  ~TPty() { CloseMaster(); }
  TPty(const TPty&) = delete;
  TPty& operator=(const TPty&) = delete;

  int Master() const { return master_; }
  const std::string& Path() const { return path_; }
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  void Send(const std::vector<std::uint8_t>& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t w = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (w > 0)
        done += static_cast<std::size_t>(w);
      else if (w < 0 && errno != EINTR && errno != EAGAIN)
        throw std::runtime_error("master write");
    }
  }

  // Reads until `count` bytes have come or `timeoutMs` has passed.
  std::vector<std::uint8_t> Receive(std::size_t count, int timeoutMs) const {
    std::vector<std::uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      if (!(p.revents & POLLIN)) {
        ::usleep(1000);  // far end closed: nothing to read yet
        continue;
      }
      std::uint8_t buf[4096];
      const ssize_t r = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
      if (r > 0)
        out.insert(out.end(), buf, buf + r);
      else if (r < 0 && errno == EIO)
        break;
    }
    return out;
  }

private:
  int master_ = -1;
  std::string path_;
};
