// The window programs on POSIX systems: file names in the file system's
// encoding, a display named in the environment (X11, Wayland), answers on
// the standard streams, Qt's own face.
#include <QApplication>
#include <QFile>
#include <cstdlib>
#include <string_view>

#include "WindowCommandLine.h"
#include "WindowSystem.h"

namespace {

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

std::string MissingDisplayReason(int argc, const char* const argv[]) {
  if (Set("QT_QPA_PLATFORM") || Set("DISPLAY") || Set("WAYLAND_DISPLAY")) return {};
  // Qt's -platform, in any of the forms the command line takes.
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    arg = arg.substr(0, arg.find('='));
    if (arg == "-platform" || arg == "--platform") return {};
  }
  return "нет экрана для окна: не задан ни DISPLAY, ни WAYLAND_DISPLAY (запустите в графическом сеансе, "
         "под xvfb-run -a или загрузите файл через qvflash)";
}

namespace WindowSystem {

std::string CoreFileName(const QString& name) { return QFile::encodeName(name).toStdString(); }

QString FromCoreFileName(const std::string& name) { return QFile::decodeName(QByteArray::fromStdString(name)); }

std::string DisplayNote() {
  return "Окну нужен графический сеанс (X11 или Wayland). Без экрана файл загружает qvflash.\n";
}

void ShowText(const std::string&, std::FILE* stream, const std::string& text) {
  std::fputs(text.c_str(), stream);
  std::fflush(stream);
}

void SetWindowFace(QApplication&) {}

}  // namespace WindowSystem
