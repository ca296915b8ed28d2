#include "RunOnMainThread.h"

#include <cstdio>

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

TPlainLoopRunner::TPlainLoopRunner() : main_(std::this_thread::get_id()) {}

TPlainLoopRunner::~TPlainLoopRunner() { Shutdown(); }

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
  // Woken with the lock free, the main thread does not stop at it again.
  lock.unlock();
  wake_.notify_one();
  lock.lock();
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
  }
  wake_.notify_one();
  return true;
}

int TPlainLoopRunner::ProcessPending() {
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
    ProcessPending();
    if (pred()) return true;
    std::unique_lock lock(mutex_);
    if (queue_.empty() && !woken_) {
      auto until = deadline;
      if (lookEvery.count() > 0) until = std::min(deadline, std::chrono::steady_clock::now() + lookEvery);
      wake_.wait_until(lock, until, [&] { return !queue_.empty() || woken_; });
    }
    woken_ = false;
    lock.unlock();
    if (std::chrono::steady_clock::now() >= deadline) {
      ProcessPending();
      return pred();
    }
  }
}

void TPlainLoopRunner::Wake() {
  std::lock_guard lock(mutex_);
  woken_ = true;
  wake_.notify_one();
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
  wake_.notify_all();
}
