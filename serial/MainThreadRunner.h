#pragma once
// How the serial component reaches the thread that runs its event handlers
// (the "main" thread: the window's user-interface thread, a tool's loop),
// and where exceptions that no handler caught end up. A runner watches each
// port's device itself (Watch), so bytes that arrive wake the main thread
// and no other, and runs the calls other threads post (Post) without making
// them wait. TPlainLoopRunner (below) serves the tools and tests; the
// window's runner (app/) uses the toolkit's notifiers and event loop, so
// delivery goes on in the nested loops of modal dialogs. A port uses its own
// runner, or the process-wide one (a port with neither raises no events).
// What escapes a handler goes to the runner's hook, else the process-wide
// one (default: the message on stderr; the window installs its error box).
#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Something the system can wait on: a descriptor on POSIX systems, a
// handle on Windows. -1: none.
struct TWaitHandle {
  std::intptr_t value = -1;
  bool Valid() const { return value != -1; }
  bool operator==(const TWaitHandle&) const = default;
};

using TUncaughtExceptionHandler = std::function<void(std::exception_ptr)>;

class TMainThreadRunner {
public:
  virtual ~TMainThreadRunner() = default;
  // Queues `call` for the main thread and returns at once; false when the
  // main thread will never run it. What escapes the call goes to the hook.
  // Any thread.
  virtual bool Post(std::function<void()> call) = 0;
  // Has `ready` run on the main thread while `handle` is signalled (a call
  // that leaves it signalled is followed by another), and every periodMs
  // besides (0: never; an invalid handle with a period is a plain timer).
  // Returns the watch's number, or 0 when the handle cannot be watched.
  // Main thread only, as are the watch's calls.
  virtual std::uint64_t Watch(TWaitHandle handle, std::function<void()> ready, int periodMs = 0) = 0;
  // Ends a watch: `ready` is not called for it again. Main thread only, also
  // from within `ready`.
  virtual void Unwatch(std::uint64_t watch) = 0;
  // This runner's own hook for exceptions that escaped a handler (empty: the
  // process-wide one). Any thread.
  void SetUncaughtExceptionHandler(TUncaughtExceptionHandler handler);
  // Reports through this runner's hook, or the process-wide one. Never throws.
  void HandleUncaught(std::exception_ptr error);

private:
  std::mutex hookMutex_;
  TUncaughtExceptionHandler hook_;
};

// Installs the process-wide runner (nullptr: none).
void SetMainThreadRunner(std::shared_ptr<TMainThreadRunner> runner);
std::shared_ptr<TMainThreadRunner> MainThreadRunner();
// Reports an exception that escaped a handler through `runner`'s hook
// (nullptr: the process-wide runner's), else the process-wide hook. Never throws.
void HandleUncaughtException(const std::shared_ptr<TMainThreadRunner>& runner, std::exception_ptr error);
void HandleUncaughtException(std::exception_ptr error);
// Installs the application's handler for uncaught exceptions (empty: the default).
void SetUncaughtExceptionHandler(TUncaughtExceptionHandler handler);
// The message of an exception, for display ("unknown exception" when it has none).
std::string ExceptionMessage(std::exception_ptr error);

namespace SerialSystem {
class TWaitEvent;
}

// A runner for programs without a toolkit: the thread that creates it is the
// main thread, and calls and watches run there whenever it pumps. While it
// waits it sleeps on its wake event and the watched devices.
class TPlainLoopRunner : public TMainThreadRunner {
public:
  TPlainLoopRunner();  // throws std::system_error when the system gives no event
  ~TPlainLoopRunner() override;

  bool Post(std::function<void()> call) override;
  std::uint64_t Watch(TWaitHandle handle, std::function<void()> ready, int periodMs = 0) override;
  void Unwatch(std::uint64_t watch) override;
  // Pumps until pred() holds or the time is up; returns pred(). The
  // predicate is looked at after every batch of calls and watches, and on
  // Wake(); a predicate that other threads make true without a call or a
  // Wake() needs `lookEvery` (0: never look without a reason, so an idle
  // loop sleeps).
  bool ProcessUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout,
                    std::chrono::milliseconds lookEvery = std::chrono::milliseconds(0));
  // Makes a pumping main thread look at its predicate now (any thread).
  void Wake();
  // Pumps for the given time.
  void ProcessFor(std::chrono::milliseconds duration);
  // Refuses further calls (Post returns false). Also done by the destructor.
  void Shutdown();

private:
  using Clock = std::chrono::steady_clock;
  struct TWatch {
    TWaitHandle handle;
    std::function<void()> ready;
    std::chrono::milliseconds period;
    Clock::time_point due;
  };
  int RunQueued();
  // Waits up to `until` for the wake event or a watched device and runs the
  // watches that are signalled or due; returns how many ran.
  int ServeWatches(Clock::time_point until);

  std::unique_ptr<SerialSystem::TWaitEvent> wake_;  // a call is queued, or Wake()
  std::mutex mutex_;                                // queue_, shutdown_
  std::deque<std::function<void()>> queue_;
  bool shutdown_ = false;
  std::map<std::uint64_t, TWatch> watches_;  // main thread only
  std::uint64_t lastWatch_ = 0;
  std::vector<TWaitHandle> handles_;  // ServeWatches' own, kept to spare an allocation a wait
  std::vector<std::uint64_t> ids_, due_;
};
