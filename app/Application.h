#pragma once
// What both window programs do before they create the main window, and the
// start-up sequence they share.
#include <QApplication>
#include <memory>
#include <vector>

#include "QtMainThreadRunner.h"
#include "Unit1.h"

// Qt's own Russian texts (file dialog, standard buttons), whatever the
// system's language. Returns false when the translations are not installed.
bool InstallQtTranslations(QCoreApplication& app);

// Sets the application's names, version and icon, Qt's Russian texts, keeps
// Qt from writing the user's settings, hands the serial component's calls to
// Qt's thread, and shows uncaught errors in the error box. Returns the
// runner, which the caller shuts down when the event loop has ended.
std::shared_ptr<TQtMainThreadRunner> InitApplication(QApplication& app);

// Creates the application. When no window system can be reached, says so in
// one line on stderr and ends the process with status 1 instead of aborting.
std::unique_ptr<QApplication> StartApplication(int& argc, char** argv, const char* program);

struct TLoaderStart {
  std::vector<TPortEntry> extraPorts;  // after COM1..COM8 and the adapters
  QString dialogFolder;                // where the file dialog opens; empty: the working folder
  QString file;                        // loaded once the window shows, as if picked; empty: none
};

// Shows the main window centred on the desktop; once it shows, `file` (if
// any) is read as if picked, its errors shown in the error box.
void ShowLoaderWindow(TForm1& form, const QString& file);

// Start-up: the main window (its creation handler runs as it is made), the
// hidden port-selection window, then the message loop.
int RunLoader(QApplication& app, TLoaderStart start);
