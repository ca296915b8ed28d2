#include "RunOnMainThread.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

namespace {
std::mutex g_mutex;
std::shared_ptr<TMainThreadRunner> g_runner;
TUncaughtExceptionHandler g_uncaught;
}  // namespace

void SetMainThreadRunner(std::shared_ptr<TMainThreadRunner> runner) {
  std::lock_guard lock(g_mutex);
  g_runner = std::move(runner);
}

std::shared_ptr<TMainThreadRunner> MainThreadRunner() {
  std::lock_guard lock(g_mutex);
  return g_runner;
}

bool IsMainThread() {
  auto runner = MainThreadRunner();
  return !runner || runner->IsMainThread();
}

void RunOnMainThread(const std::function<void()>& call) { RunOnMainThread(nullptr, call); }

bool PostToMainThread(std::function<void()> call) { return PostToMainThread(nullptr, std::move(call)); }

void RunOnMainThread(const std::shared_ptr<TMainThreadRunner>& given, const std::function<void()>& call) {
  auto runner = given ? given : MainThreadRunner();
  if (!runner || runner->IsMainThread()) {
    call();
    return;
  }
  runner->RunAndWait(call);
}

bool PostToMainThread(const std::shared_ptr<TMainThreadRunner>& given, std::function<void()> call) {
  auto runner = given ? given : MainThreadRunner();
  if (!runner) {
    try {
      call();
    } catch (...) {
      HandleUncaughtException(std::current_exception());
    }
    return true;
  }
  return runner->Post(std::move(call));
}

void SetUncaughtExceptionHandler(TUncaughtExceptionHandler handler) {
  std::lock_guard lock(g_mutex);
  g_uncaught = std::move(handler);
}

std::string ExceptionMessage(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
  }
  return "unknown exception";
}

void HandleUncaughtException(std::exception_ptr error) {
  TUncaughtExceptionHandler handler;
  {
    std::lock_guard lock(g_mutex);
    handler = g_uncaught;
  }
  try {
    if (handler) {
      handler(error);
      return;
    }
  } catch (...) {
    error = std::current_exception();
  }
  std::fprintf(stderr, "%s\n", ExceptionMessage(error).c_str());
}

void HandleUncaughtException(const std::shared_ptr<TMainThreadRunner>& given, std::exception_ptr error) {
  auto runner = given ? given : MainThreadRunner();
  if (runner) runner->HandleUncaught(std::move(error));
  else HandleUncaughtException(std::move(error));
}

void TMainThreadRunner::SetUncaughtExceptionHandler(TUncaughtExceptionHandler handler) {
  std::lock_guard lock(hookMutex_);
  hook_ = std::move(handler);
}

void TMainThreadRunner::HandleUncaught(std::exception_ptr error) {
  TUncaughtExceptionHandler hook;
  {
    std::lock_guard lock(hookMutex_);
    hook = hook_;
  }
  if (!hook) {
    HandleUncaughtException(std::move(error));
    return;
  }
  try {
    hook(error);
  } catch (...) {
    std::fprintf(stderr, "%s\n", ExceptionMessage(std::current_exception()).c_str());
  }
}

struct TPlainLoopRunner::TCall {
  std::function<void()> call;
  bool waited = false;
  bool done = false;
  bool abandoned = false;
  std::exception_ptr error;
  std::condition_variable finished;  // its worker's own: no other worker wakes for it
};

TPlainLoopRunner::TPlainLoopRunner() : main_(std::this_thread::get_id()) {
  epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  epoll_event e{};
  e.events = EPOLLIN;
  e.data.u64 = 0;  // watches are numbered from 1
  if (epoll_ < 0 || wakeFd_ < 0 || ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeFd_, &e) != 0) {
    const int error = errno;
    if (epoll_ >= 0) ::close(epoll_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
    throw std::system_error(error, std::generic_category(), "main-thread runner");
  }
}

TPlainLoopRunner::~TPlainLoopRunner() {
  Shutdown();
  for (auto& [id, watch] : watches_) ::close(watch.fd);
  ::close(epoll_);
  ::close(wakeFd_);
}

bool TPlainLoopRunner::IsMainThread() const { return std::this_thread::get_id() == main_; }

void TPlainLoopRunner::RunAndWait(const std::function<void()>& call) {
  if (IsMainThread()) {
    call();
    return;
  }
  auto item = std::make_shared<TCall>();
  item->call = call;
  item->waited = true;
  std::unique_lock lock(mutex_);
  if (shutdown_) throw EMainThreadGone();
  queue_.push_back(item);
  NotifyLocked();
  item->finished.wait(lock, [&] { return item->done || item->abandoned; });
  if (item->abandoned) throw EMainThreadGone();
  // Take the only reference: the exception then lives and dies on this thread.
  std::exception_ptr error = std::move(item->error);
  lock.unlock();
  if (error) std::rethrow_exception(std::move(error));
}

bool TPlainLoopRunner::Post(std::function<void()> call) {
  auto item = std::make_shared<TCall>();
  item->call = std::move(call);
  {
    std::lock_guard lock(mutex_);
    if (shutdown_) return false;
    queue_.push_back(std::move(item));
    NotifyLocked();
  }
  return true;
}

void TPlainLoopRunner::NotifyLocked() {
  if (!sleeping_) return;  // it looks at the queue before it sleeps again
  sleeping_ = false;
  const std::uint64_t one = 1;
  // The counter cannot overflow: the main thread empties it each time it wakes.
  [[maybe_unused]] const ssize_t w = ::write(wakeFd_, &one, sizeof one);
}

std::uint64_t TPlainLoopRunner::WatchInput(int fd, std::function<void(bool hangUp)> ready) {
  const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (own < 0) return 0;
  std::lock_guard lock(mutex_);
  epoll_event e{};
  e.events = EPOLLIN | EPOLLET;
  e.data.u64 = ++lastWatch_;
  // A descriptor that cannot be waited for (not a line: /dev/null) is not watched.
  if (shutdown_ || ::epoll_ctl(epoll_, EPOLL_CTL_ADD, own, &e) != 0) {
    ::close(own);
    return 0;
  }
  watches_.emplace(lastWatch_, TWatch{own, std::move(ready)});
  return lastWatch_;
}

void TPlainLoopRunner::Unwatch(std::uint64_t watch) {
  std::lock_guard lock(mutex_);
  auto it = watches_.find(watch);
  if (it == watches_.end()) return;
  // Numbers are never reused, so news of this watch already taken from the
  // epoll set finds nothing to run.
  ::epoll_ctl(epoll_, EPOLL_CTL_DEL, it->second.fd, nullptr);
  ::close(it->second.fd);
  watches_.erase(it);
}

int TPlainLoopRunner::ProcessPending() { return ServeDescriptors(0) + RunQueued(); }

int TPlainLoopRunner::ServeDescriptors(int timeoutMs) {
  epoll_event ready[16];
  const int n = ::epoll_wait(epoll_, ready, 16, timeoutMs);
  {
    std::lock_guard lock(mutex_);
    sleeping_ = false;
  }
  int ran = 0;
  for (int i = 0; i < n; ++i) {
    const std::uint64_t id = ready[i].data.u64;
    if (id == 0) {
      std::uint64_t count;
      [[maybe_unused]] const ssize_t r = ::read(wakeFd_, &count, sizeof count);
      continue;
    }
    std::function<void(bool)> call;
    {
      std::lock_guard lock(mutex_);
      auto it = watches_.find(id);
      if (it == watches_.end()) continue;  // ended meanwhile
      call = it->second.ready;
    }
    ++ran;
    try {
      call((ready[i].events & (EPOLLHUP | EPOLLERR)) != 0);
    } catch (...) {
      HandleUncaught(std::current_exception());
    }
  }
  return ran;
}

int TPlainLoopRunner::RunQueued() {
  std::deque<std::shared_ptr<TCall>> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(queue_);
  }
  int ran = 0;
  for (auto& item : batch) {
    std::exception_ptr error;
    try {
      item->call();
    } catch (...) {
      error = std::current_exception();
    }
    ++ran;
    if (item->waited) {
      {
        std::lock_guard lock(mutex_);
        item->error = std::move(error);
        item->done = true;
      }
      item->finished.notify_one();  // `batch` keeps the item alive meanwhile
    } else if (error) {
      HandleUncaught(error);
    }
  }
  return ran;
}

bool TPlainLoopRunner::ProcessUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout,
                                    std::chrono::milliseconds lookEvery) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    RunQueued();
    if (pred()) return true;
    bool sleep;
    {
      std::lock_guard lock(mutex_);
      sleep = queue_.empty() && !woken_;
      woken_ = false;
      sleeping_ = sleep;
    }
    int waitMs = 0;
    if (sleep) {
      auto until = deadline;
      if (lookEvery.count() > 0) until = std::min(deadline, std::chrono::steady_clock::now() + lookEvery);
      // Rounded up, so that a wait never ends just short of the time and spins.
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      waitMs = static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, 1 << 30));
    }
    if (ServeDescriptors(waitMs) > 0 && pred()) return true;
    if (std::chrono::steady_clock::now() >= deadline) {
      ProcessPending();
      return pred();
    }
  }
}

void TPlainLoopRunner::Wake() {
  std::lock_guard lock(mutex_);
  woken_ = true;
  NotifyLocked();
}

void TPlainLoopRunner::ProcessFor(std::chrono::milliseconds duration) {
  ProcessUntil([] { return false; }, duration);
}

void TPlainLoopRunner::Shutdown() {
  std::lock_guard lock(mutex_);
  shutdown_ = true;
  for (auto& item : queue_) {
    item->abandoned = true;
    item->finished.notify_one();
  }
  queue_.clear();
  NotifyLocked();
}
