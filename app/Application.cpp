#include "Application.h"

#include <unistd.h>

#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <string>
#include <vector>

#include "Colors.h"
#include "ErrorBox.h"
#include "QvVersion.h"
#include "Unit2.h"

namespace {

// What Qt said while the application was being made: replayed when it
// starts, summed up in one line when it cannot.
struct TStartMessages {
  const char* program = "";
  std::vector<std::pair<QtMsgType, QString>> held;
  QtMessageHandler previous = nullptr;
};
TStartMessages startMessages;

void HoldStartMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type != QtFatalMsg) {
    startMessages.held.emplace_back(type, text);
    return;
  }
  // The platform could not start: the first thing Qt said names the cause.
  const QString cause = startMessages.held.empty() ? text : startMessages.held.front().second;
  std::fprintf(stderr, "%s: нет экрана для окна (%s)\n", startMessages.program, qPrintable(cause));
  std::fflush(stderr);
  ::_exit(1);
}

// The names Qt derives the user's folders and the desktop entry from; the
// application name stays the program's own ("qvloader", "qvdemo").
void SetApplicationNames(QApplication& app) {
  app.setOrganizationName(QStringLiteral("Велт"));
  app.setApplicationVersion(QString::fromLatin1(QvVersion));
  QGuiApplication::setDesktopFileName(app.applicationName());
}

}  // namespace

bool InstallQtTranslations(QCoreApplication& app) {
  auto* translator = new QTranslator(&app);
  if (!translator->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

std::shared_ptr<TQtMainThreadRunner> InitApplication(QApplication& app) {
  // The title goes to the message boxes alone (ErrorBox.h): a display name
  // would be appended to every window's caption.
  SetApplicationNames(app);
  QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
  if (!InstallQtTranslations(app))
    std::fprintf(stderr, "%s: Qt's Russian texts (qtbase_ru.qm) are not installed; dialogs will be in English\n",
                 qPrintable(app.applicationName()));
  // The system colours the window and its widgets were drawn with.
  QApplication::setPalette(ClassicPalette());
  auto runner = std::make_shared<TQtMainThreadRunner>();
  SetMainThreadRunner(runner);
  SetUncaughtExceptionHandler([](std::exception_ptr error) { ShowException(error); });
  return runner;
}

std::unique_ptr<QApplication> StartApplication(int& argc, char** argv, const char* program) {
  startMessages.program = program;
  startMessages.previous = qInstallMessageHandler(HoldStartMessage);
  auto app = std::make_unique<QApplication>(argc, argv);
  qInstallMessageHandler(startMessages.previous);
  for (const auto& [type, text] : startMessages.held) qt_message_output(type, QMessageLogContext(), text);
  startMessages.held.clear();
  SetApplicationNames(*app);
  return app;
}

int RunLoader(QApplication& app, TLoaderStart start) {
  const std::shared_ptr<TQtMainThreadRunner> runner = InitApplication(app);
  int result = 0;
  {
    TForm1 Form1(std::move(start.extraPorts));
    Form1.DialogFolder = start.dialogFolder;
    TForm2 Form2;
    Form2.hide();
    if (const QScreen* screen = app.primaryScreen()) {
      const QRect desktop = screen->availableGeometry();
      Form1.move(desktop.center() - Form1.rect().center());
    }
    Form1.show();
    if (!start.file.isEmpty())
      QTimer::singleShot(0, &Form1, [&Form1, file = start.file] { Form1.OpenUpdateFile(file); });
    result = app.exec();
    // Workers still waiting for the ended loop are released before the window goes.
    runner->Shutdown();
  }
  SetMainThreadRunner(nullptr);
  return result;
}
