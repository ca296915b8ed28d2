#pragma once
// For window tests that must know a view is up to date before they look:
// everything posted so far is delivered, and whatever that posts in turn at
// a higher priority (a view's deferred update, the repaint it asks for),
// because a marker posted at the lowest priority comes after all of it.
// Repaints are not posted events (a window asks for one and the platform
// answers at its next frame): AwaitRepaint waits for the window's next one.
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QWidget>

#include <climits>

#include "EventLoopWait.h"

inline bool DeliverPosted() {
  static const auto kMarker = static_cast<QEvent::Type>(QEvent::registerEventType());
  class TMarker : public QObject {
  public:
    bool seen = false;
    bool event(QEvent* e) override {
      if (e->type() != kMarker) return QObject::event(e);
      seen = true;
      return true;
    }
  } marker;
  QCoreApplication::postEvent(&marker, new QEvent(kMarker), INT_MIN);
  return ProcessEventsUntil([&] { return marker.seen; }, 10000);
}

// Waits until the window that holds `probe` has been repainted after this
// call: `probe` is marked for repainting, and a window repaints all its
// widgets that wait for it at once, so once `probe` has been painted every
// repaint asked for before this call has been made too.
inline bool AwaitRepaint(QWidget* probe) {
  class TPainted : public QObject {
  public:
    bool seen = false;
    bool eventFilter(QObject*, QEvent* e) override {
      seen = seen || e->type() == QEvent::Paint;
      return false;
    }
  } painted;
  probe->installEventFilter(&painted);
  probe->update();
  const bool done = ProcessEventsUntil([&] { return painted.seen; }, 10000);
  probe->removeEventFilter(&painted);
  return done;
}
