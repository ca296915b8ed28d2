#include "QtMainThreadRunner.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

struct TQtMainThreadRunner::TPending {
  std::function<void()> call;
  bool done = false;
  std::exception_ptr error;
  std::condition_variable ran;
};

TQtMainThreadRunner::TQtMainThreadRunner() : receiver_(std::make_unique<QObject>()) {}

TQtMainThreadRunner::~TQtMainThreadRunner() { Shutdown(); }

bool TQtMainThreadRunner::IsMainThread() const {
  return QCoreApplication::instance() == nullptr ||
         QThread::currentThread() == QCoreApplication::instance()->thread();
}

void TQtMainThreadRunner::RunAndWait(const std::function<void()>& call) {
  if (IsMainThread()) {
    call();
    return;
  }
  auto pending = std::make_shared<TPending>();
  pending->call = call;  // a copy: the queued event may outlive a released worker
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutdown_) throw EMainThreadGone();
    waiting_.insert(pending);
  }
  QMetaObject::invokeMethod(
      receiver_.get(),
      [this, pending] {
        std::exception_ptr error;
        try {
          pending->call();
        } catch (...) {
          error = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        pending->error = error;
        pending->done = true;
        pending->ran.notify_all();
      },
      Qt::QueuedConnection);

  std::unique_lock<std::mutex> lock(mutex_);
  pending->ran.wait(lock, [&] { return pending->done || shutdown_; });
  waiting_.erase(pending);
  if (!pending->done) throw EMainThreadGone();
  // Taken out of the shared record, so that only this thread holds the exception.
  std::exception_ptr error = std::move(pending->error);
  lock.unlock();
  if (error) std::rethrow_exception(error);
}

bool TQtMainThreadRunner::Post(std::function<void()> call) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutdown_) return false;
  }
  QMetaObject::invokeMethod(
      receiver_.get(),
      [call = std::move(call)] {
        try {
          call();
        } catch (...) {
          HandleUncaughtException(std::current_exception());
        }
      },
      Qt::QueuedConnection);
  return true;
}

void TQtMainThreadRunner::Shutdown() {
  std::lock_guard<std::mutex> lock(mutex_);
  shutdown_ = true;
  for (const auto& pending : waiting_) pending->ran.notify_all();
}
