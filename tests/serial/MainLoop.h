#pragma once
// The main-thread loop of the serial tests: a plain-loop runner installed for
// the test's lifetime, the test thread being the main thread.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "MainThreadRunner.h"

// Installs a plain-loop runner for the test's lifetime; the test thread is the
// main thread.
class TMainLoop {
public:
  TMainLoop() : runner_(std::make_shared<TPlainLoopRunner>()) { SetMainThreadRunner(runner_); }
  ~TMainLoop() {
    SetMainThreadRunner(nullptr);
    runner_->Shutdown();
  }
  TPlainLoopRunner& Runner() { return *runner_; }
  // Tests wait for other threads' progress too: look at least every 5 ms.
  bool Until(const std::function<bool()>& pred, int timeoutMs = 5000) {
    return runner_->ProcessUntil(pred, std::chrono::milliseconds(timeoutMs), std::chrono::milliseconds(5));
  }
  void For(int ms) { runner_->ProcessFor(std::chrono::milliseconds(ms)); }
  // Pumps until the loop has served its watches `passes` times more (a timer
  // watch counts the passes): whatever was queued, or signalled, meanwhile
  // has had its turn. A test that shows that something did NOT happen waits
  // for this, not for a time. False when the passes did not come within 10 s.
  bool Turns(int passes = 5) {
    int served = 0;
    const std::uint64_t counter = runner_->Watch(
        {}, [&] { ++served; }, 1);
    const bool done = Until([&] { return served >= passes; }, 10000);
    runner_->Unwatch(counter);
    return done;
  }

private:
  std::shared_ptr<TPlainLoopRunner> runner_;
};
