#pragma once
// Hands the serial component's calls to Qt's user-interface thread. A call
// posted from a worker runs in the event loop (nested loops of modal dialogs
// and message boxes included) while the worker waits for it.
#include <QObject>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>

#include "RunOnMainThread.h"

class TQtMainThreadRunner : public TMainThreadRunner {
public:
  TQtMainThreadRunner();
  ~TQtMainThreadRunner() override;

  bool IsMainThread() const override;
  void RunAndWait(const std::function<void()>& call) override;
  bool Post(std::function<void()> call) override;
  // Releases every waiting worker (EMainThreadGone) and refuses further calls;
  // the application calls it when its event loop has ended.
  void Shutdown();

private:
  struct TPending;
  std::unique_ptr<QObject> receiver_;
  std::mutex mutex_;
  std::set<std::shared_ptr<TPending>> waiting_;
  bool shutdown_ = false;
};
