// The window tests run in one QApplication with Qt's delivery of serial events.
#include <gtest/gtest.h>

#include <QApplication>

#include "Application.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const auto runner = InitApplication(app);
  const int result = RUN_ALL_TESTS();
  runner->Shutdown();
  SetMainThreadRunner(nullptr);
  return result;
}
