#include "WindowCommandLine.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "QvVersion.h"

namespace {

// Qt's options that take a value: their value is not a file name.
bool QtOptionWithValue(std::string_view arg) {
  for (std::string_view option : {"-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-qmljsdebugger",
                                  "-qwindowgeometry", "-qwindowicon", "-qwindowtitle", "-display", "-geometry",
                                  "-style", "-stylesheet", "-session", "-title", "-name", "-visual", "-ncols",
                                  "-cmap", "-font", "-fn", "-background", "-bg", "-foreground", "-fg", "-button",
                                  "-btn", "-inputstyle", "-im"})
    if (arg == option) return true;
  return false;
}

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

TWindowCommandLine ParseWindowCommandLine(int argc, const char* const argv[]) {
  TWindowCommandLine line;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && (arg == "-h" || arg == "--help")) {
      line.help = true;
    } else if (options && (arg == "-v" || arg == "--version")) {
      line.version = true;
    } else if (options && arg.size() > 1 && arg[0] == '-') {
      if (QtOptionWithValue(arg)) ++i;  // Qt's own, left to Qt
      else if (arg.rfind("--", 0) == 0) line.error = "unknown option " + std::string(arg);
    } else if (line.file.empty()) {
      line.file = arg;
    } else {
      line.error = "one update file only, not '" + std::string(arg) + "' as well";
    }
  }
  return line;
}

std::string WindowUsage(const std::string& program) {
  return "Использование: " + program + " [ФАЙЛ.qv]\n"
         "\n"
         "Загрузчик ПО в БК ВЕЛТ серии QV: окно, которое записывает файл обновления в БК\n"
         "через последовательный порт.\n"
         "\n"
         "  ФАЙЛ.qv        открыть этот файл обновления при запуске, как выбранный кнопкой \"...\"\n"
         "  -h, --help     эта справка\n"
         "  -v, --version  версия программы\n"
         "\n"
         "Окну нужен графический сеанс (X11 или Wayland). Без экрана файл загружает qvflash.\n";
}

std::string MissingDisplayReason(int argc, const char* const argv[]) {
  if (Set("QT_QPA_PLATFORM") || Set("DISPLAY") || Set("WAYLAND_DISPLAY")) return {};
  for (int i = 1; i < argc; ++i)
    if (std::string_view(argv[i]) == "-platform") return {};
  return "нет экрана для окна: не задан ни DISPLAY, ни WAYLAND_DISPLAY (запустите в графическом сеансе, "
         "под xvfb-run -a или загрузите файл через qvflash)";
}

int AnswerWithoutWindow(const std::string& program, const TWindowCommandLine& line, int argc,
                        const char* const argv[]) {
  if (!line.error.empty()) {
    std::fprintf(stderr, "%s: %s\n\n%s", program.c_str(), line.error.c_str(), WindowUsage(program).c_str());
    return 1;
  }
  if (line.help) {
    std::fputs(WindowUsage(program).c_str(), stdout);
    return 0;
  }
  if (line.version) {
    std::printf("%s %s\n", program.c_str(), QvVersion);
    return 0;
  }
  if (const std::string reason = MissingDisplayReason(argc, argv); !reason.empty()) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), reason.c_str());
    return 1;
  }
  return -1;
}
