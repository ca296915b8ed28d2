#include "SerialSync.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace {
std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

int PollRetrying(pollfd* fds, unsigned long count, std::int64_t timeoutMs) {
  const std::int64_t deadline = timeoutMs < 0 ? 0 : NowMs() + timeoutMs;
  for (;;) {
    int wait = -1;
    if (timeoutMs >= 0) {
      const std::int64_t left = deadline - NowMs();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    const int r = ::poll(fds, count, wait);
    if (r >= 0 || errno != EINTR) return r;
  }
}

THandleObject::~THandleObject() {
  if (Handle_ >= 0) ::close(Handle_);
}

TWaitResult THandleObject::Wait(std::int64_t timeoutMs) {
  pollfd p{Handle_, POLLIN, 0};
  const int r = PollRetrying(&p, 1, timeoutMs);
  if (r < 0) {
    LastError_ = errno;
    return wrError;
  }
  if (r == 0) return wrTimeout;
  if (p.revents & POLLIN) return wrSignalled;
  return wrAbandoned;
}

void TSyncEvent::SetSignal() {
  const std::uint64_t one = 1;
  // The counter only saturates after 2^64 - 2 signals; a failed write leaves it signalled.
  ssize_t r;
  do {
    r = ::write(Handle_, &one, sizeof one);
  } while (r < 0 && errno == EINTR);
}

void TSyncEvent::ResetSignal() {
  std::uint64_t value = 0;
  ssize_t r;
  do {
    r = ::read(Handle_, &value, sizeof value);
  } while (r < 0 && errno == EINTR);
}

bool TSyncEvent::IsSignalled() const {
  pollfd p{Handle_, POLLIN, 0};
  return PollRetrying(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

TWaitEvent::TWaitEvent() {
  Handle_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (Handle_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

int WaitForAny(std::initializer_list<TSyncEvent*> events, std::int64_t timeoutMs) {
  std::vector<pollfd> fds;
  fds.reserve(events.size());
  for (TSyncEvent* e : events) fds.push_back({e->Handle(), POLLIN, 0});
  const int r = PollRetrying(fds.data(), fds.size(), timeoutMs);
  if (r <= 0) return -1;
  for (std::size_t i = 0; i < fds.size(); ++i)
    if (fds[i].revents & POLLIN) return static_cast<int>(i);
  return -1;
}

std::uint32_t GetTickCount() { return static_cast<std::uint32_t>(NowMs()); }
