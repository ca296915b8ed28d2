// qvdemo: the loader's window with one more port, "Симулятор", a simulated
// device on a pseudo-terminal, so that a whole load can be watched without
// hardware. It keeps a sample update file, made by the format's writer,
// beside itself and opens the file dialog there.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

#include "Application.h"
#include "DemoSimulator.h"
#include "SampleImage.h"
#include "UpdateFile.h"
#include <QFile>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  const QString folder = QCoreApplication::applicationDirPath();
  const QString sample = QDir(folder).filePath(QStringLiteral("sample.qv"));
  if (!QFileInfo::exists(sample)) {
    try {
      WriteUpdateFile(QFile::encodeName(sample).toStdString(), MakeSampleImage(1));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "qvdemo: cannot write %s: %s\n", qPrintable(sample), e.what());
    }
  }
  QDir::setCurrent(folder);

  TDemoSimulator simulator;
  std::vector<TPortEntry> ports{{QStringLiteral("Симулятор"), [&simulator] { return simulator.StartDevice(); }}};
  return RunLoader(app, std::move(ports));
}
