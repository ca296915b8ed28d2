#pragma once
// What both window programs do before they create the main window, and the
// start-up sequence they share.
#include <QApplication>
#include <memory>
#include <vector>

#include "QtMainThreadRunner.h"
#include "Unit1.h"

// Sets the application title, hands the serial component's calls to Qt's
// thread, and shows uncaught errors in the error box. Returns the runner,
// which the caller shuts down when the event loop has ended.
std::shared_ptr<TQtMainThreadRunner> InitApplication(QApplication& app);

// Start-up: the main window (its creation handler runs as it is made), the
// hidden port-selection window, then the message loop.
int RunLoader(QApplication& app, std::vector<TPortEntry> extraPorts);
