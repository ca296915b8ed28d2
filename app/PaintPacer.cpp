#include "PaintPacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

TPaintPacer::TPaintPacer(QWidget* window) : QObject(window), window_(window) {
  next_.setSingleShot(true);
  // Qt posts no further repaint request while one is outstanding, so the
  // request held back here is the one to send when the frame is due.
  connect(&next_, &QTimer::timeout, this,
          [this] { QCoreApplication::postEvent(window_, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority); });
  window_->installEventFilter(this);
}

bool TPaintPacer::eventFilter(QObject* watched, QEvent* event) {
  if (watched != window_ || event->type() != QEvent::UpdateRequest) return false;
  if (lastPaint_.isValid() && lastPaint_.elapsed() < kFrameMs) {
    if (!next_.isActive()) next_.start(static_cast<int>(kFrameMs - lastPaint_.elapsed()));
    return true;
  }
  lastPaint_.restart();
  return false;
}
