// Widget tests need a QApplication; they run on the offscreen platform with a
// fixed palette so that system colours have known values.
#include "Colors.h"
#include "FlashClock.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setPalette(ClassicPalette());
  // The clock is driven by hand; one test starts the real timer thread.
  FlashClock::Instance().SetAutoStart(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
