#include "Application.h"

#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Colors.h"
#include "ErrorBox.h"
#include "QvVersion.h"
#include "Unit2.h"
#include "WindowSystem.h"

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
  std::_Exit(1);
}

// The names Qt derives the user's folders and the desktop entry from; the
// application name stays the program's own ("qvloader", "qvdemo").
void SetApplicationNames(QApplication& app) {
  app.setOrganizationName(QStringLiteral("Велт"));
  app.setApplicationVersion(QString::fromLatin1(QvVersion));
  QGuiApplication::setDesktopFileName(app.applicationName());
}

// Qt's file dialog keeps its history, folder and column widths in the user's
// QtProject.conf. The loader keeps nothing between runs, so the user's
// settings files are placed in a folder inside the program's own file, which
// cannot be made: Qt's writes there fail quietly and leave nothing behind.
// (Where the system's own settings store is no file, as the Windows
// registry, Qt uses that and this changes nothing.)
void KeepNoSettings() {
  const QString nowhere = QCoreApplication::applicationFilePath() + QStringLiteral("/settings");
  for (QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
    QSettings::setPath(format, QSettings::UserScope, nowhere);
}

QIcon LoaderIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64, 128}) icon.addFile(QStringLiteral(":/icons/qvloader-%1.png").arg(size));
  return icon;
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
  KeepNoSettings();
  QApplication::setWindowIcon(LoaderIcon());
  if (!InstallQtTranslations(app))
    std::fprintf(stderr, "%s: Qt's Russian texts (qtbase_ru.qm) are not installed; dialogs will be in English\n",
                 qPrintable(app.applicationName()));
  // The face and the system colours the window and its widgets were drawn with.
  WindowSystem::SetWindowFace(app);
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

void ShowLoaderWindow(TForm1& form, const QString& file) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect desktop = screen->availableGeometry();
    form.move(desktop.center() - form.rect().center());
  }
  form.show();
  if (!file.isEmpty()) QTimer::singleShot(0, &form, [&form, file] { Guarded([&] { form.OpenUpdateFile(file); }); });
}

int RunLoader(QApplication& app, TLoaderStart start) {
  const std::shared_ptr<TQtMainThreadRunner> runner = InitApplication(app);
  int result = 0;
  {
    TForm1 Form1(std::move(start.extraPorts));
    Form1.DialogFolder = start.dialogFolder;
    TForm2 Form2;
    Form2.hide();
    ShowLoaderWindow(Form1, start.file);
    result = app.exec();
    // Workers still waiting for the ended loop are released before the window goes.
    runner->Shutdown();
  }
  SetMainThreadRunner(nullptr);
  return result;
}
