// qvdemo: the loader's window with one more port, "Симулятор", a simulated
// device on a line of its own, so that a whole load can be watched without
// hardware: at the pace of a real line, or at once with --fast. It keeps a
// sample update file in the user's data folder and opens the file dialog there.
#include <QFileInfo>

#include "Application.h"
#include "DemoSample.h"
#include "DemoSimulator.h"
#include "WindowCommandLine.h"

int main(int argc, char* argv[]) {
  const TWindowCommandLine line = ParseWindowCommandLine(argc, argv, "qvdemo");
  if (const int status = AnswerWithoutWindow("qvdemo", line, argc, argv); status >= 0) return status;
  const std::unique_ptr<QApplication> app = StartApplication(argc, argv, "qvdemo");
  const QString sample = EnsureDemoSample();

  TDemoSimulator simulator(DemoDeviceOptions(line.fast));
  TLoaderStart start;
  start.extraPorts.push_back({QStringLiteral("Симулятор"), [&simulator] { return simulator.StartDevice(); }});
  start.dialogFolder = QFileInfo(sample).absolutePath();
  start.file = QString::fromStdString(line.file);
  return RunLoader(*app, std::move(start));
}
