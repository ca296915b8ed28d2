#include "EventLoopWait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer elapsed;
  elapsed.start();
  QTimer wake;  // bounds each wait, so that done() is looked at often
  wake.start(1);
  while (!done()) {
    if (elapsed.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}
