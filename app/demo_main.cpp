// qvdemo: the loader's window with one more port, "Симулятор", a simulated
// device on a pseudo-terminal, so that a whole load can be watched without
// hardware: at the pace of a real line, or at once with --fast. It keeps a
// sample update file in the user's data folder and opens the file dialog there.
#include <QFileInfo>
#include <cstdio>
#include <string_view>

#include "Application.h"
#include "DemoSample.h"
#include "DemoSimulator.h"
#include "WindowCommandLine.h"

namespace {

// The demo's own option, taken out before the options both windows share are read.
bool TakeFastOption(int& argc, char* argv[]) {
  bool fast = false;
  int kept = 1;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") options = false;
    if (options && arg == "--fast") {
      fast = true;
      continue;
    }
    argv[kept++] = argv[i];
  }
  argv[kept] = nullptr;
  argc = kept;
  return fast;
}

}  // namespace

int main(int argc, char* argv[]) {
  const bool fast = TakeFastOption(argc, argv);
  const TWindowCommandLine line = ParseWindowCommandLine(argc, argv);
  if (const int status = AnswerWithoutWindow("qvdemo", line, argc, argv); status >= 0) {
    if (line.help && line.error.empty())
      std::fputs("\nТолько у qvdemo:\n"
                 "  --fast         симулятор отвечает сразу, а не в темпе линии 38400 бод\n"
                 "                 (загрузка за секунду вместо 70 с)\n",
                 stdout);
    return status;
  }
  const std::unique_ptr<QApplication> app = StartApplication(argc, argv, "qvdemo");
  const QString sample = EnsureDemoSample();

  TDemoSimulator simulator(DemoDeviceOptions(fast));
  TLoaderStart start;
  start.extraPorts.push_back({QStringLiteral("Симулятор"), [&simulator] { return simulator.StartDevice(); }});
  start.dialogFolder = QFileInfo(sample).absolutePath();
  start.file = QString::fromStdString(line.file);
  return RunLoader(*app, std::move(start));
}
