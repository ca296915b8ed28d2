// qvdemo: the loader's window with one more port, "Симулятор", a simulated
// device on a line of its own, so that a whole load can be watched without
// hardware: at the pace of a real line, or at once with --fast. It keeps a
// sample update file in the user's data folder and opens the file dialog there.
#include <QFileInfo>

#include "Application.h"
#include "DemoSample.h"
#include "DemoSimulator.h"
#include "ProgramArguments.h"
#include "WindowCommandLine.h"
#include "WindowSystem.h"

int main(int argc, char* argv[]) {
  TProgramArguments arguments(argc, argv);  // a file named in Cyrillic arrives whole on every system
  const TWindowCommandLine line = ParseWindowCommandLine(arguments.Count(), arguments.Values(), "qvdemo");
  if (const int status = AnswerWithoutWindow("qvdemo", line, arguments.Count(), arguments.Values()); status >= 0)
    return status;
  const std::unique_ptr<QApplication> app = StartApplication(argc, argv, "qvdemo");
  const QString sample = EnsureDemoSample();

  TDemoSimulator simulator(DemoDeviceOptions(line.fast));
  TLoaderStart start;
  start.extraPorts.push_back({QStringLiteral("Симулятор"), [&simulator] { return simulator.StartDevice(); }});
  start.dialogFolder = QFileInfo(sample).absolutePath();
  start.file = WindowSystem::FromCoreFileName(line.file);
  return RunLoader(*app, std::move(start));
}
