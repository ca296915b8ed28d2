#include "WindowCommandLine.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "CommandLine.h"
#include "QvVersion.h"
#include "WindowSystem.h"

namespace {

enum : int { oHelp = 'h', oVersion = 'v', oQtOption = 256, oFast };

// Qt's own options, left to Qt (it reads the same argv): with one dash or
// two, those in the first list with a value.
constexpr const char* kQtOptionsWithValue[] = {"platform",      "platformpluginpath",
                                               "platformtheme", "plugin",
                                               "qmljsdebugger", "qwindowgeometry",
                                               "qwindowicon",   "qwindowtitle",
                                               "display",       "geometry",
                                               "style",         "stylesheet",
                                               "session",       "title",
                                               "name",          "visual",
                                               "ncols",         "cmap",
                                               "font",          "fn",
                                               "background",    "bg",
                                               "foreground",    "fg",
                                               "button",        "btn",
                                               "inputstyle",    "im"};
constexpr const char* kQtOptionsAlone[] = {"reverse", "nograb", "dograb", "sync", "widgetcount", "testability"};

TCommandLineSyntax WindowSyntax(bool demo) {
  TCommandLineSyntax syntax;
  syntax.shortOptions = "hv";
  syntax.longOnly = true;
  syntax.longOptions = {{"help", no_argument, nullptr, oHelp}, {"version", no_argument, nullptr, oVersion}};
  if (demo) syntax.longOptions.push_back({"fast", no_argument, nullptr, oFast});
  for (const char* name : kQtOptionsWithValue)
    syntax.longOptions.push_back({name, required_argument, nullptr, oQtOption});
  for (const char* name : kQtOptionsAlone) syntax.longOptions.push_back({name, no_argument, nullptr, oQtOption});
  return syntax;
}

}  // namespace

TWindowCommandLine ParseWindowCommandLine(int argc, const char* const argv[], const std::string& program) {
  TWindowCommandLine line;
  try {
    const auto syntax = WindowSyntax(program == "qvdemo");
    const std::vector<std::string> operands = ParseCommandLine(argc, argv, syntax, [&](int id, const char*) {
      if (id == oHelp)
        line.help = true;
      else if (id == oVersion)
        line.version = true;
      else if (id == oFast)
        line.fast = true;
    });
    if (operands.size() > 1)
      line.error = "one update file only, not '" + operands[1] + "' as well";
    else if (!operands.empty())
      line.file = operands.front();
  } catch (const EUsageError& e) {
    line.error = e.what();
  }
  return line;
}

std::string WindowUsage(const std::string& program) {
  // The demo is not the loader: it says what it is and what it loads into.
  const std::string summary =
      program == "qvdemo" ? "Демонстрация загрузчика ПО в БК ВЕЛТ серии QV: окно qvloader с ещё одним портом,\n"
                            "\"Симулятор\" (имитация БК), чтобы загрузку можно было посмотреть без устройства.\n"
                          : "Загрузчик ПО в БК ВЕЛТ серии QV: окно, которое записывает файл обновления в БК\n"
                            "через последовательный порт.\n";
  const bool demo = program == "qvdemo";
  return "Использование: " + program + (demo ? " [--fast]" : "") +
         " [ФАЙЛ.qv]\n"
         "\n" +
         summary +
         "\n"
         "  ФАЙЛ.qv        открыть этот файл обновления при запуске, как выбранный кнопкой \"...\"\n" +
         (demo ? "  --fast         симулятор отвечает сразу, а не в темпе линии 38400 бод\n"
                 "                 (загрузка за секунду вместо 70 с)\n"
               : "") +
         "  -h, --help     эта справка\n"
         "  -v, --version  версия программы\n"
         "\n" +
         WindowSystem::DisplayNote();
}

int AnswerWithoutWindow(const std::string& program, const TWindowCommandLine& line, int argc,
                        const char* const argv[]) {
  if (!line.error.empty()) {
    WindowSystem::ShowText(program, stderr, program + ": " + line.error + "\n" + TryHelpLine(program) + "\n");
    return 1;
  }
  if (line.help) {
    WindowSystem::ShowText(program, stdout, WindowUsage(program));
    return 0;
  }
  if (line.version) {
    WindowSystem::ShowText(program, stdout, program + " " + QvVersion + "\n");
    return 0;
  }
  if (const std::string reason = MissingDisplayReason(argc, argv); !reason.empty()) {
    WindowSystem::ShowText(program, stderr, program + ": " + reason + "\n");
    return 1;
  }
  return -1;
}
