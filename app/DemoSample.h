#pragma once
// The demo's sample update file, kept in the user's data folder
// (QStandardPaths' AppDataLocation: ~/.local/share/Велт/qvdemo on Linux,
// %APPDATA%\Велт\qvdemo on Windows) and never beside the program, which an
// installed program may not write to.
#include <QString>

// The folder for the sample (made if missing); empty if it cannot be made.
QString DemoDataFolder();
// Writes the sample there unless it is there already and returns its path;
// a failure is reported on stderr and the path returned all the same.
QString EnsureDemoSample();
