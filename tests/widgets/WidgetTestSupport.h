#pragma once
// A shown top-level window to put widgets on, and a look at what it shows.

#include "Colors.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QObject>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <memory>

// The window's background colour, chosen to differ from every colour the
// widgets draw so that "background shows through" can be told apart.
constexpr TColor kStageColor = RGB(0, 64, 128);

class Stage {
public:
  explicit Stage(int width = 900, int height = 200) : window_(std::make_unique<QWidget>()) {
    QPalette p = window_->palette();
    p.setColor(QPalette::Window, ToQColor(kStageColor));
    window_->setPalette(p);
    window_->setAutoFillBackground(true);
    window_->resize(width, height);
  }

  QWidget* Window() const { return window_.get(); }

  void Show() {
    window_->show();
    (void)QTest::qWaitForWindowExposed(window_.get());
    QApplication::processEvents();
  }

  // What the screen shows now for the widget's area: the backing store as
  // it stands, without painting anything again.
  QImage Screen(const QWidget* w) const {
    const QPoint at = w->mapTo(window_.get(), QPoint(0, 0));
    QScreen* screen = window_->windowHandle()->screen();
    const QImage all = screen->grabWindow(window_->winId()).toImage().convertToFormat(QImage::Format_RGB32);
    return all.copy(QRect(at, w->size()));
  }

  // Processes pending paints first, then looks.
  QImage Settled(const QWidget* w) const {
    QApplication::processEvents();
    return Screen(w);
  }

private:
  std::unique_ptr<QWidget> window_;
};

inline TColor PixelAt(const QImage& image, int x, int y) { return FromQRgb(image.pixel(x, y)); }

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
  explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
  int count = 0;

protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++count;
    return false;
  }
};
