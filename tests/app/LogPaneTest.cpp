// The debug log pane on its own (appends coalesced, the view following the
// newest line, repaints paced to display frames, selecting and copying) and the last-line fields, which must
// look exactly as labels do.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>
#include <QTest>

#include "EventLoopWait.h"
#include "Fonts.h"
#include "LogPane.h"
#include "PaintPacer.h"
#include "PostedEvents.h"
#include "StaticText.h"

namespace {

class PaintCount : public QObject {
public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

void SendMouse(QWidget* target, QEvent::Type type, QPoint at) {
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(type, at, target->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &event);
}

TEST(LogPane, AppendsOfOneTurnCostOneRepaintAndTheViewFollowsTheNewestLine) {
  TLogPane pane;
  pane.resize(400, 200);
  pane.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
  ASSERT_TRUE(DeliverPosted());
  ASSERT_TRUE(AwaitRepaint(pane.verticalScrollBar()));  // the first showing is over
  PaintCount count;
  pane.viewport()->installEventFilter(&count);
  for (int i = 0; i < 1000; ++i) pane.AppendLine(" - >  " + std::to_string(i));
  ASSERT_TRUE(DeliverPosted());                         // the turn's update: the view asks for its repaint
  ASSERT_TRUE(AwaitRepaint(pane.verticalScrollBar()));  // and the window has made it
  EXPECT_GE(count.paints, 1);
  EXPECT_LE(count.paints, 2) << "one repaint for the turn, not one per line";
  ASSERT_EQ(pane.LineCount(), 1000);
  EXPECT_TRUE(pane.viewport()->rect().contains(pane.LineRect(999))) << "the newest line in view";

  // Scrolled back by the user, the view stays where it was put.
  pane.verticalScrollBar()->setValue(10);
  pane.AppendLine("later");
  ASSERT_TRUE(DeliverPosted());
  EXPECT_EQ(pane.FirstVisibleLine(), 10);
  pane.verticalScrollBar()->setValue(pane.verticalScrollBar()->maximum());
  pane.AppendLine("latest");
  ASSERT_TRUE(DeliverPosted());
  EXPECT_TRUE(pane.viewport()->rect().contains(pane.LineRect(1001))) << "at the end again, it follows again";
}

// Lines arriving turn by turn move what is on the screen and draw only the
// bands that come into view: the screen must then show what a fresh drawing
// of the pane shows, scrolled sideways or not.
TEST(LogPane, TheScreenShowsWhatAFreshDrawingShows) {
  TLogPane pane;
  pane.resize(400, 200);
  pane.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
  QWidget* view = pane.viewport();
  auto onScreen = [&] {
    const QPoint at = view->mapTo(&pane, QPoint(0, 0));
    return pane.screen()->grabWindow(pane.winId(), at.x(), at.y(), view->width(), view->height()).toImage();
  };
  for (int i = 0; i < 80; ++i) {
    if (i == 40) pane.horizontalScrollBar()->setValue(30);
    pane.AppendLine(" - >  " + std::to_string(i) + " 66 0F F8 1A 2B 3C 4D 5E 6F 70 81 92 A3 B4 C5 D6 E7 F8 09");
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    if (i % 20 == 19) {
      EXPECT_EQ(onScreen().convertToFormat(QImage::Format_RGB32),
                view->grab().toImage().convertToFormat(QImage::Format_RGB32))
          << "after line " << i;
    }
  }
}

// A window paced to the display's frames: lines arriving turn after turn,
// much faster than frames, cost about one repaint per frame, and once the
// lines stop the screen shows the newest of them.
TEST(LogPane, APacedWindowRepaintsOncePerFrameAndCatchesUp) {
  QWidget window;
  auto* pane = new TLogPane(&window);
  pane->resize(400, 200);
  new TPaintPacer(&window);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  ASSERT_TRUE(DeliverPosted());
  ASSERT_TRUE(AwaitRepaint(pane->verticalScrollBar()));  // the first showing is over
  PaintCount count;
  pane->viewport()->installEventFilter(&count);
  QElapsedTimer elapsed;
  elapsed.start();
  for (int i = 0; i < 300; ++i) {
    pane->AppendLine(" - >  " + std::to_string(i));
    QCoreApplication::processEvents();
  }
  const qint64 ms = elapsed.elapsed();
  EXPECT_LE(count.paints, ms / TPaintPacer::kFrameMs + 2) << "300 turns in " << ms << " ms";
  ASSERT_TRUE(DeliverPosted());
  EXPECT_TRUE(pane->viewport()->rect().contains(pane->LineRect(299)));
  // The held-back repaint comes with the next frame's timer.
  QWidget* view = pane->viewport();
  const QPoint at = view->mapTo(&window, QPoint(0, 0));
  const auto showsTheNewest = [&] {
    return window.screen()
               ->grabWindow(window.winId(), at.x(), at.y(), view->width(), view->height())
               .toImage()
               .convertToFormat(QImage::Format_RGB32) == view->grab().toImage().convertToFormat(QImage::Format_RGB32);
  };
  EXPECT_TRUE(ProcessEventsUntil(showsTheNewest, 10000)) << "the held-back repaint was made";
}

TEST(LogPane, SelectingAndCopying) {
  TLogPane pane;
  pane.resize(400, 200);
  pane.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
  for (const char* line : {" - >  55", " - >  AA 01 02", " - >  C0"}) pane.AppendLine(line);
  ASSERT_TRUE(DeliverPosted());
  QWidget* view = pane.viewport();
  auto leftOf = [&](int line) { return QPoint(1, pane.LineRect(line).center().y()); };

  // From the start of the first line to the start of the third.
  SendMouse(view, QEvent::MouseButtonPress, leftOf(0));
  SendMouse(view, QEvent::MouseMove, leftOf(2));
  SendMouse(view, QEvent::MouseButtonRelease, leftOf(2));
  EXPECT_EQ(pane.SelectedText(), " - >  55\n - >  AA 01 02\n");
  // Past a line's end: the rest of it.
  SendMouse(view, QEvent::MouseButtonPress, leftOf(1));
  SendMouse(view, QEvent::MouseButtonRelease, QPoint(view->width() - 2, leftOf(1).y()));
  EXPECT_EQ(pane.SelectedText(), " - >  AA 01 02");

  QTest::keyClick(&pane, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(&pane, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), " - >  55\n - >  AA 01 02\n - >  C0");
  pane.Clear();
  EXPECT_FALSE(pane.HasSelection());
  EXPECT_EQ(pane.Text(), "");
}

// Drawn only as far as it can show, a long text looks exactly as the whole
// of it does in a label; so do texts that are drawn whole.
TEST(StaticText, LooksExactlyAsALabel) {
  const QString response = " - > " + QString(" 66 0F F8 1A 2B 3C 4D 5E 6F 70 81 92 A3 B4 C5 D6 E7 F8 09").repeated(8);
  for (const QString& text : {response, QStringLiteral("99 33 CC"), QStringLiteral("Связь fi ") + response}) {
    QLabel label;
    TStaticText ours;
    for (QLabel* field : {&label, static_cast<QLabel*>(&ours)}) {
      field->setFont(MakeFont("MS Sans Serif", -11));
      field->setGeometry(0, 0, 785, 33);
      field->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      field->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      field->setText(text);
    }
    EXPECT_EQ(ours.grab().toImage(), label.grab().toImage()) << text.left(20).toStdString();
  }
}

}  // namespace
