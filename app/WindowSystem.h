#pragma once
// What the window programs ask of the system they run on, one implementation
// per system (WindowSystemPosix.cpp, WindowSystemWin32.cpp).
#include <QString>
#include <cstdio>
#include <string>

class QApplication;

namespace WindowSystem {

// A file name as the core's file functions take it: UTF-8 on Windows (opened
// by its wide-character form), the file system's own bytes on POSIX systems.
std::string CoreFileName(const QString& name);
QString FromCoreFileName(const std::string& name);

// The usage text's last line: where a window can open and what loads a file without one.
std::string DisplayNote();

// Writes the programs' answers without a window (--help, --version, usage
// errors) where the user sees them: the standard stream, or on Windows,
// where a window program has none, the console it was started from, else a
// message box with `program` as its caption.
void ShowText(const std::string& program, std::FILE* stream, const std::string& text);

// The window's face: the classic one where the system has it (Windows).
void SetWindowFace(QApplication& app);

}  // namespace WindowSystem
