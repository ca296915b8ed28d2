#include "Application.h"

#include <QScreen>

#include "Colors.h"
#include "ErrorBox.h"
#include "Unit2.h"

std::shared_ptr<TQtMainThreadRunner> InitApplication(QApplication& app) {
  app.setApplicationName(ApplicationTitle);
  app.setApplicationDisplayName(ApplicationTitle);
  app.setOrganizationName(QStringLiteral("Велт"));
  app.setApplicationVersion(QStringLiteral("1.0.0.0"));
  // The system colours the window and its widgets were drawn with.
  QApplication::setPalette(ClassicPalette());
  auto runner = std::make_shared<TQtMainThreadRunner>();
  SetMainThreadRunner(runner);
  SetUncaughtExceptionHandler([](std::exception_ptr error) { ShowException(error); });
  return runner;
}

int RunLoader(QApplication& app, std::vector<TPortEntry> extraPorts) {
  const std::shared_ptr<TQtMainThreadRunner> runner = InitApplication(app);
  int result = 0;
  {
    TForm1 Form1(std::move(extraPorts));
    TForm2 Form2;
    Form2.hide();
    if (const QScreen* screen = app.primaryScreen()) {
      const QRect desktop = screen->availableGeometry();
      Form1.move(desktop.center() - Form1.rect().center());
    }
    Form1.show();
    result = app.exec();
    // Workers still waiting for the ended loop are released before the window goes.
    runner->Shutdown();
  }
  SetMainThreadRunner(nullptr);
  return result;
}
