#pragma once
// Paints a window at most once per display frame. Qt repaints a window at the
// end of every event-loop turn in which something in it changed; during a
// load the debug page changes with every frame (every 50 µs or so), far more
// often than any screen shows, and each repaint costs more than the frame's
// own work. Held-back repaints are made at the next frame, so what is on the
// screen is never more than one display frame behind.
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

class TPaintPacer : public QObject {
public:
  static constexpr int kFrameMs = 16;  // 60 frames a second

  explicit TPaintPacer(QWidget* window);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QWidget* window_;
  QElapsedTimer lastPaint_;
  QTimer next_;
};
