// Events, waits and thread settings on Linux: an event is an eventfd, so it
// can sit in a poll set beside a device.
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <vector>

#include "SerialPosix.h"

namespace SerialSystem {

TWaitEvent::TWaitEvent() {
  const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  Handle_.value = fd;
}

TWaitEvent::~TWaitEvent() { ::close(static_cast<int>(Handle_.value)); }

void TWaitEvent::Set() {
  const std::uint64_t one = 1;
  // The counter only saturates after 2^64 - 2 signals; a failed write leaves it signalled.
  while (::write(static_cast<int>(Handle_.value), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void TWaitEvent::Reset() {
  std::uint64_t value = 0;
  while (::read(static_cast<int>(Handle_.value), &value, sizeof value) < 0 && errno == EINTR) {
  }
}

int WaitAny(const TWaitHandle* handles, int count, std::int64_t timeoutMs) {
  pollfd few[8];
  std::vector<pollfd> many(count > 8 ? static_cast<std::size_t>(count) : 0);
  pollfd* fds = count > 8 ? many.data() : few;
  for (int i = 0; i < count; ++i) fds[i] = {static_cast<int>(handles[i].value), POLLIN, 0};
  if (SerialPosix::PollRetrying(fds, static_cast<std::size_t>(count), timeoutMs) <= 0) return -1;
  // A hang-up or an error counts as news: whoever waits finds it on reading.
  for (int i = 0; i < count; ++i)
    if (fds[i].revents != 0) return i;
  return -1;
}

int SetCurrentThreadPriority(TThreadPriority priority) {
  static constexpr int nice[] = {19, 10, 5, 0, -5, -10, -20};
  if (::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), nice[priority]) != 0) {
    if (errno == EACCES || errno == EPERM) return 0;
    return errno;
  }
  return 0;
}

void NameCurrentThread(const char* name) { ::pthread_setname_np(::pthread_self(), name); }

}  // namespace SerialSystem

int SerialPosix::PollRetrying(pollfd* fds, std::size_t count, std::int64_t timeoutMs) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max<std::int64_t>(0, timeoutMs));
  for (;;) {
    int wait = -1;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      wait = static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, 1 << 30));
    }
    const int r = ::poll(fds, count, wait);
    if (r >= 0 || errno != EINTR) return r;  // poll ends early on a signal even with SA_RESTART
  }
}
