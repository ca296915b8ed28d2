#pragma once
// How the serial component's worker threads hand calls to the user-interface
// ("main") thread, and where exceptions that no handler caught end up.
//
// RunOnMainThread(call), used on a worker thread, has the process-wide runner
// run `call` on the main thread and blocks until it has run there; an
// exception that escapes `call` is thrown again in the worker. Used on the
// main thread it runs `call` directly. With no runner installed every call
// runs directly on the calling thread.
//
// PostToMainThread(call) queues `call` for the main thread and returns at
// once (false when the main thread no longer runs calls); what escapes the
// call goes to the uncaught-exception hook. A worker that needs nothing back
// from its call thus spares the main thread a wake-up of the worker.
//
// Runners:
//  - TPlainLoopRunner (below) for tools and tests: the main thread pumps the
//    queued calls with ProcessPending / ProcessUntil / ProcessFor. It also
//    watches devices for ports (WatchInput), so that bytes arriving wake the
//    main thread directly instead of a worker that would then wake it.
//  - The window installs its own: IsMainThread() compares the current thread
//    with the application's thread, and RunAndWait posts the call to the
//    application object as a blocking queued call (catching what escapes the
//    call there and rethrowing it in the worker). Modal dialogs run nested
//    event loops, so delivery goes on while they are open.
//
// The uncaught-exception hook is what every dispatch guard of the component
// calls with an exception that escaped an event handler. The default prints
// the exception's message to stderr; the window installs its error box.
//
// A port may be given a runner of its own (TCustomSerialPort::
// SetMainThreadRunner): its events then run on that runner's thread, and what
// escapes its handlers goes to that runner's hook when it has one. A program
// that serves several ports at once gives each its own thread this way, so a
// handler that pauses (Close waits 300 ms) never holds up another port. The
// overloads below taking a runner do the same as the plain ones for it
// (nullptr: the process-wide runner).
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

// The main thread stopped serving calls (its runner was shut down).
class EMainThreadGone : public std::runtime_error {
public:
  EMainThreadGone() : std::runtime_error("The main thread no longer runs queued calls") {}
};

// Reports an exception that escaped a handler. Never throws.
void HandleUncaughtException(std::exception_ptr error);

using TUncaughtExceptionHandler = std::function<void(std::exception_ptr)>;

class TMainThreadRunner {
public:
  virtual ~TMainThreadRunner() = default;
  virtual bool IsMainThread() const = 0;
  // Runs `call` on the main thread and returns once it has run there.
  // Rethrows what escaped the call; throws EMainThreadGone when the main
  // thread will never run it.
  virtual void RunAndWait(const std::function<void()>& call) = 0;
  // Queues `call` for the main thread without waiting; false when the main
  // thread will never run it. (A runner without a queue of its own runs the
  // call and waits for it.)
  virtual bool Post(std::function<void()> call) {
    try {
      RunAndWait(call);
      return true;
    } catch (const EMainThreadGone&) {
      return false;
    } catch (...) {
      HandleUncaught(std::current_exception());
      return true;
    }
  }
  // Has `ready` run on the main thread whenever new input arrives on `fd`
  // (edge-triggered: bytes left unread do not call it again; hangUp: the
  // device reports a hang-up or an error). The runner watches a duplicate of
  // `fd` of its own. Returns the watch's number, or 0 when this runner does
  // not wait on descriptors (the default). Any thread.
  virtual std::uint64_t WatchInput(int fd, std::function<void(bool hangUp)> ready) {
    (void)fd;
    (void)ready;
    return 0;
  }
  // Ends a watch: `ready` is not started for it again (a call in progress on
  // the main thread runs to its end). Any thread, also from within `ready`.
  virtual void Unwatch(std::uint64_t watch) { (void)watch; }
  // This runner's own hook for exceptions that escaped a handler (empty: the
  // process-wide one). Any thread.
  void SetUncaughtExceptionHandler(TUncaughtExceptionHandler handler);
  // Reports through this runner's hook, or the process-wide one. Never throws.
  void HandleUncaught(std::exception_ptr error);

private:
  std::mutex hookMutex_;
  TUncaughtExceptionHandler hook_;
};

// Installs the process-wide runner (nullptr: run calls directly). Workers
// that are using the previous runner keep it alive until their call returns.
void SetMainThreadRunner(std::shared_ptr<TMainThreadRunner> runner);
std::shared_ptr<TMainThreadRunner> MainThreadRunner();
bool IsMainThread();  // true when no runner is installed
void RunOnMainThread(const std::function<void()>& call);
bool PostToMainThread(std::function<void()> call);
void RunOnMainThread(const std::shared_ptr<TMainThreadRunner>& runner, const std::function<void()>& call);
bool PostToMainThread(const std::shared_ptr<TMainThreadRunner>& runner, std::function<void()> call);
void HandleUncaughtException(const std::shared_ptr<TMainThreadRunner>& runner, std::exception_ptr error);
// Installs the application's handler for uncaught exceptions (empty: the default).
void SetUncaughtExceptionHandler(TUncaughtExceptionHandler handler);
// The message of an exception, for display ("unknown exception" when it has none).
std::string ExceptionMessage(std::exception_ptr error);

// A runner for programs without a toolkit: the thread that creates it is the
// main thread, and calls run there whenever it pumps. While it waits it
// sleeps on one epoll set: its own wake descriptor and the watched devices.
// Throws std::system_error when the descriptors cannot be made.
class TPlainLoopRunner : public TMainThreadRunner {
public:
  TPlainLoopRunner();
  ~TPlainLoopRunner() override;

  bool IsMainThread() const override;
  void RunAndWait(const std::function<void()>& call) override;

  // Queues a call without waiting for it (also a test's way to act "from the user").
  bool Post(std::function<void()> call) override;
  std::uint64_t WatchInput(int fd, std::function<void(bool hangUp)> ready) override;
  void Unwatch(std::uint64_t watch) override;
  // Runs every call queued now and every watch whose device has news;
  // returns how many ran. Main thread only.
  int ProcessPending();
  // Pumps calls until pred() holds or the time is up; returns pred(). The
  // predicate is looked at after every batch of calls and on Wake(); a
  // predicate that other threads make true without a call or a Wake() needs
  // `lookEvery` (0: never look without a reason, so an idle loop sleeps).
  bool ProcessUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout,
                    std::chrono::milliseconds lookEvery = std::chrono::milliseconds(0));
  // Makes a pumping main thread look at its predicate now (any thread).
  void Wake();
  // Pumps calls for the given time.
  void ProcessFor(std::chrono::milliseconds duration);
  // Refuses further calls and releases every worker waiting for one
  // (they get EMainThreadGone). Also done by the destructor.
  void Shutdown();

private:
  struct TCall;
  struct TWatch {
    int fd;  // the runner's own duplicate
    std::function<void(bool)> ready;
  };
  // Runs what is queued now; returns how many ran.
  int RunQueued();
  // Waits up to timeoutMs (0: not at all) for the wake descriptor or a
  // watched device and runs the watches that have news; returns how many ran.
  int ServeDescriptors(int timeoutMs);
  // Wakes the main thread if it sleeps. Called with mutex_ held.
  void NotifyLocked();

  std::thread::id main_;
  int epoll_ = -1;
  int wakeFd_ = -1;  // eventfd: a call is queued, or Wake()
  std::mutex mutex_;
  std::deque<std::shared_ptr<TCall>> queue_;
  std::map<std::uint64_t, TWatch> watches_;
  std::uint64_t lastWatch_ = 0;
  bool shutdown_ = false;
  bool woken_ = false;
  bool sleeping_ = false;  // the main thread waits (or is about to) on the epoll set
};
