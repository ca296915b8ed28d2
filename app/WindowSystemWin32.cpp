// The window programs on Windows: file names in UTF-8, a desktop always
// there, answers written to the console the program was started from (a
// window program has none of its own) or shown in a message box, and the
// window in Windows' classic face, the one its layout was drawn for.
#include <windows.h>

#include <QApplication>
#include <QStyleFactory>

#include "WindowCommandLine.h"
#include "WindowSystem.h"
#include "win32/Utf16Text.h"

namespace {

bool WriteAll(HANDLE handle, const std::string& text) {
  DWORD mode = 0;
  if (::GetConsoleMode(handle, &mode)) {
    // A console takes the text as characters, whatever its code page.
    const std::wstring wide = WideFromUtf8(text);
    DWORD written = 0;
    return ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) != FALSE;
  }
  DWORD written = 0;
  return ::WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != FALSE;
}

}  // namespace

std::string MissingDisplayReason(int, const char* const[]) { return {}; }

namespace WindowSystem {

std::string CoreFileName(const QString& name) { return name.toStdString(); }

QString FromCoreFileName(const std::string& name) { return QString::fromStdString(name); }

std::string DisplayNote() { return "Без окна, из командной строки, файл загружает qvflash.exe.\n"; }

void ShowText(const std::string& program, std::FILE* stream, const std::string& text) {
  std::fflush(stream);
  const DWORD which = stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
  // Output redirected to a file or a pipe (or a console the program shares).
  const HANDLE handle = ::GetStdHandle(which);
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetFileType(handle) != FILE_TYPE_UNKNOWN &&
      WriteAll(handle, text))
    return;
  // Started from a command prompt: its console.
  if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
    const HANDLE console =
        ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    const bool written = console != INVALID_HANDLE_VALUE && WriteAll(console, text);
    if (console != INVALID_HANDLE_VALUE) ::CloseHandle(console);
    ::FreeConsole();
    if (written) return;
  }
  // Started from Explorer or a shortcut: a message box.
  ::MessageBoxW(nullptr, WideFromUtf8(text).c_str(), WideFromUtf8(program).c_str(),
                MB_OK | (stream == stderr ? MB_ICONERROR : MB_ICONINFORMATION));
}

void SetWindowFace(QApplication& app) {
  if (QStyle* classic = QStyleFactory::create(QStringLiteral("Windows"))) app.setStyle(classic);
}

}  // namespace WindowSystem
