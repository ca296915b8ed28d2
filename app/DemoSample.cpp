#include "DemoSample.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstdio>

#include "SampleImage.h"
#include "UpdateFile.h"
#include "WindowSystem.h"

QString DemoDataFolder() {
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  if (folder.isEmpty() || !QDir().mkpath(folder)) return {};
  return folder;
}

QString EnsureDemoSample() {
  const QString folder = DemoDataFolder();
  const QString sample = QDir(folder.isEmpty() ? QDir::tempPath() : folder).filePath(QStringLiteral("sample.qv"));
  if (QFileInfo(sample).size() == static_cast<qint64>(UpdateFileSize)) return sample;
  try {
    WriteUpdateFile(WindowSystem::CoreFileName(sample), MakeSampleImage(1));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qvdemo: cannot write %s: %s\n", qPrintable(sample), e.what());
  }
  return sample;
}
