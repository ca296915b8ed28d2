#pragma once
// The main-thread loop of the serial tests: a plain-loop runner installed for
// the test's lifetime, the test thread being the main thread.
#include <chrono>
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

private:
  std::shared_ptr<TPlainLoopRunner> runner_;
};
