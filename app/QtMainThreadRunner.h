#pragma once
// The serial component's main thread in the window: Qt's user-interface
// thread. Calls posted from other threads run in its event loop (the nested
// loops of modal dialogs and message boxes included), and a port's device is
// watched with a notifier of the loop itself, so bytes that arrive wake this
// thread and no other.
#include <QObject>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "MainThreadRunner.h"

class TQtMainThreadRunner : public TMainThreadRunner {
public:
  TQtMainThreadRunner();
  ~TQtMainThreadRunner() override;

  bool Post(std::function<void()> call) override;
  std::uint64_t Watch(TWaitHandle handle, std::function<void()> ready, int periodMs = 0) override;
  void Unwatch(std::uint64_t watch) override;
  // Refuses further calls; the application calls it when its event loop has ended.
  void Shutdown();

private:
  std::unique_ptr<QObject> receiver_;          // posted calls run in its thread's loop
  std::map<std::uint64_t, QObject*> watches_;  // main thread only: each watch's notifier and timer
  std::uint64_t lastWatch_ = 0;
  std::mutex mutex_;
  bool shutdown_ = false;
};

// A notifier that calls `ready` in the loop of `parent`'s thread while
// `handle` is signalled (a socket notifier on POSIX systems, an event
// notifier on Windows); nullptr when the handle cannot be watched.
QObject* NewHandleNotifier(TWaitHandle handle, QObject* parent, std::function<void()> ready);
