#include "QtMainThreadRunner.h"

#include <QMetaObject>
#include <QTimer>

TQtMainThreadRunner::TQtMainThreadRunner() : receiver_(std::make_unique<QObject>()) {}

TQtMainThreadRunner::~TQtMainThreadRunner() { Shutdown(); }

bool TQtMainThreadRunner::Post(std::function<void()> call) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutdown_) return false;
  }
  QMetaObject::invokeMethod(
      receiver_.get(),
      [this, call = std::move(call)] {
        try {
          call();
        } catch (...) {
          HandleUncaught(std::current_exception());
        }
      },
      Qt::QueuedConnection);
  return true;
}

std::uint64_t TQtMainThreadRunner::Watch(TWaitHandle handle, std::function<void()> ready, int periodMs) {
  auto* watch = new QObject(receiver_.get());
  auto call = [this, ready = std::move(ready)] {
    try {
      ready();
    } catch (...) {
      HandleUncaught(std::current_exception());
    }
  };
  const bool watched = handle.Valid() && NewHandleNotifier(handle, watch, call) != nullptr;
  if (periodMs > 0) {
    auto* timer = new QTimer(watch);
    QObject::connect(timer, &QTimer::timeout, watch, call);
    timer->start(periodMs);
  }
  if (!watched && periodMs <= 0) {
    delete watch;
    return 0;
  }
  watches_.emplace(++lastWatch_, watch);
  return lastWatch_;
}

void TQtMainThreadRunner::Unwatch(std::uint64_t watch) {
  const auto it = watches_.find(watch);
  if (it == watches_.end()) return;
  QObject* object = it->second;
  watches_.erase(it);
  // Unwatch may come from within the watch's own call: silence it now, free it later.
  // The notifier lets go of the device at once: it is closed right after.
  for (QObject* child : object->children()) {
    child->blockSignals(true);
    if (auto* timer = qobject_cast<QTimer*>(child))
      timer->stop();
    else
      QMetaObject::invokeMethod(child, "setEnabled", Qt::DirectConnection, Q_ARG(bool, false));
  }
  object->deleteLater();
}

void TQtMainThreadRunner::Shutdown() {
  std::lock_guard<std::mutex> lock(mutex_);
  shutdown_ = true;
}
