#include "MainThreadRunner.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "SerialSystem.h"

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
  if (runner)
    runner->HandleUncaught(std::move(error));
  else
    HandleUncaughtException(std::move(error));
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

// ---- the plain loop ----

TPlainLoopRunner::TPlainLoopRunner() : wake_(std::make_unique<SerialSystem::TWaitEvent>()) {}

TPlainLoopRunner::~TPlainLoopRunner() { Shutdown(); }

bool TPlainLoopRunner::Post(std::function<void()> call) {
  {
    std::lock_guard lock(mutex_);
    if (shutdown_) return false;
    queue_.push_back(std::move(call));
  }
  wake_->Set();
  return true;
}

void TPlainLoopRunner::Wake() { wake_->Set(); }

void TPlainLoopRunner::Shutdown() {
  std::lock_guard lock(mutex_);
  shutdown_ = true;
  queue_.clear();
}

std::uint64_t TPlainLoopRunner::Watch(TWaitHandle handle, std::function<void()> ready, int periodMs) {
  if (!handle.Valid() && periodMs <= 0) return 0;
  const std::chrono::milliseconds period(std::max(0, periodMs));
  watches_.emplace(++lastWatch_, TWatch{handle, std::move(ready), period, Clock::now() + period});
  return lastWatch_;
}

void TPlainLoopRunner::Unwatch(std::uint64_t watch) { watches_.erase(watch); }

int TPlainLoopRunner::RunQueued() {
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(queue_);
  }
  for (auto& call : batch) {
    try {
      call();
    } catch (...) {
      HandleUncaught(std::current_exception());
    }
  }
  return static_cast<int>(batch.size());
}

int TPlainLoopRunner::ServeWatches(Clock::time_point until) {
  handles_.assign(1, wake_->Handle());
  ids_.assign(1, 0);
  for (const auto& [id, watch] : watches_) {
    if (watch.handle.Valid()) {
      handles_.push_back(watch.handle);
      ids_.push_back(id);
    }
    if (watch.period.count() > 0) until = std::min(until, watch.due);
  }
  // Rounded up, so that a wait never ends just short of its time and spins.
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
  const int signalled =
      SerialSystem::WaitAny(handles_.data(), static_cast<int>(handles_.size()), std::max<std::int64_t>(0, left));
  if (signalled == 0) wake_->Reset();  // what woke us is looked at next: the queue, the predicate

  // Watches are called one at a time, each looked up again: a call may end others.
  std::vector<std::uint64_t>& due = due_;
  due.clear();
  const auto now = Clock::now();
  if (signalled > 0) due.push_back(ids_[static_cast<std::size_t>(signalled)]);
  for (auto& [id, watch] : watches_) {
    if (watch.period.count() <= 0 || watch.due > now) continue;
    watch.due = now + watch.period;
    if (due.empty() || due.front() != id) due.push_back(id);
  }
  int ran = 0;
  for (const std::uint64_t id : due) {
    auto it = watches_.find(id);
    if (it == watches_.end()) continue;
    const std::function<void()> ready = it->second.ready;  // the call may end its own watch
    ++ran;
    try {
      ready();
    } catch (...) {
      HandleUncaught(std::current_exception());
    }
  }
  return ran;
}

bool TPlainLoopRunner::ProcessUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout,
                                    std::chrono::milliseconds lookEvery) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    RunQueued();
    if (pred()) return true;
    // A call posted or a Wake() meanwhile has left the wake event signalled.
    auto until = deadline;
    if (lookEvery.count() > 0) until = std::min(until, Clock::now() + lookEvery);
    if (ServeWatches(until) > 0 && pred()) return true;
    if (Clock::now() >= deadline) {
      ServeWatches(Clock::now());
      RunQueued();
      return pred();
    }
  }
}

void TPlainLoopRunner::ProcessFor(std::chrono::milliseconds duration) {
  ProcessUntil([] { return false; }, duration);
}
