// Watching a device in Qt's loop on POSIX systems: a socket notifier on its descriptor.
#include <QSocketNotifier>

#include "QtMainThreadRunner.h"

QObject* NewHandleNotifier(TWaitHandle handle, QObject* parent, std::function<void()> ready) {
  auto* notifier = new QSocketNotifier(static_cast<qintptr>(handle.value), QSocketNotifier::Read, parent);
  QObject::connect(notifier, &QSocketNotifier::activated, parent, [ready = std::move(ready)] { ready(); });
  return notifier;
}
