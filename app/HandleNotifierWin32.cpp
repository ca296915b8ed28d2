// Watching a device in Qt's loop on Windows: an event notifier on its input
// event, which the serial layer's pending overlapped read sets when bytes
// arrive (a manual-reset event: the notifier fires while it stays set, and
// the read that takes the bytes starts the next one, which resets it).
#include <windows.h>

#include <QWinEventNotifier>

#include "QtMainThreadRunner.h"

QObject* NewHandleNotifier(TWaitHandle handle, QObject* parent, std::function<void()> ready) {
  auto* notifier = new QWinEventNotifier(reinterpret_cast<HANDLE>(handle.value), parent);
  QObject::connect(notifier, &QWinEventNotifier::activated, parent, [ready = std::move(ready)] { ready(); });
  return notifier;
}
