// The window on a desktop: Qt's texts in Russian, the icon, the file dialog,
// no settings written, the programs' command line and display check, the
// demo's sample in the user's data folder, and the Russian hints for port errors.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <cstdio>

#include "Application.h"
#include "DemoSample.h"
#include "PortHint.h"
#include "QvVersion.h"
#include "SampleImage.h"
#include "Unit1.h"
#include "UpdateFile.h"
#include "WindowCommandLine.h"

namespace {

struct ProgramRun {
  int status = -1;
  std::string output;  // stdout and stderr together
};

ProgramRun RunProgram(const std::string& command) {
  ProgramRun run;
  std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[1024];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

std::size_t Lines(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(QtTexts, RussianWhateverTheLocale) {
  // The tests run in whatever locale the machine has; start-up installed the translator.
  EXPECT_NE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Look in:"));
  QMessageBox box(QMessageBox::Question, "t", "x", QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("Отмена"));
}

// The window has the loader's icon; the real file dialog shows the size, type
// and date columns whole; and once it is closed nothing has been written
// where Qt keeps the user's settings (the loader keeps none between runs).
TEST(WindowOnADesktop, IconFileDialogAndNoSettingsWritten) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  WriteUpdateFile(QDir(folder.path()).filePath("sample.qv").toStdString(), MakeSampleImage(1));
  TForm1 form;
  const QList<QSize> sizes = form.windowIcon().availableSizes();
  EXPECT_TRUE(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(64, 64))) << sizes.size() << " sizes";
  form.DialogFolder = folder.path();
  form.show();

  // The person waits until the folder is listed (the model fills the columns
  // in a thread of its own) and the columns have taken their texts' widths.
  bool whole = false;
  std::string cut = "the folder was never listed";
  QElapsedTimer waited;
  waited.start();
  QTimer person;
  QObject::connect(&person, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    auto* files = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
    const QHeaderView* header = files ? files->header() : nullptr;
    if (header != nullptr && files->model()->rowCount(files->rootIndex()) > 0) {
      const QFontMetrics metrics(files->font());
      cut.clear();
      for (int column = 1; column < header->count(); ++column) {
        // The item's text with the margins an item view leaves on either side.
        const QString text = files->model()->index(0, column, files->rootIndex()).data().toString();
        if (text.isEmpty())
          cut += "column " + std::to_string(column) + " not filled yet; ";
        else if (header->sectionSize(column) < metrics.horizontalAdvance(text) + 6)
          cut += "column " + std::to_string(column) + " cuts " + text.toStdString() + "; ";
        if (header->sectionViewportPosition(column) + header->sectionSize(column) > files->viewport()->width())
          cut += "column " + std::to_string(column) + " lies beyond the view; ";
      }
      whole = cut.empty();
    }
    if (whole || waited.elapsed() > 10000) dialog->reject();
  });
  person.start(10);
  form.SpeedButton1Click();
  EXPECT_TRUE(whole) << cut;

  // The dialog's own store (a file, unless the system keeps settings elsewhere).
  QSettings qt(QSettings::UserScope, QStringLiteral("QtProject"));
  if (qt.fileName().startsWith(QStringLiteral("\\HKEY_"))) GTEST_SKIP() << "settings are kept in the registry here";
  EXPECT_FALSE(QFileInfo::exists(qt.fileName())) << qt.fileName().toStdString();
  qt.setValue(QStringLiteral("probe"), 1);
  qt.sync();
  EXPECT_EQ(qt.status(), QSettings::AccessError) << "user settings can be written to " << qt.fileName().toStdString();
}

TEST(WindowPrograms, HelpVersionAndNoDisplayWithoutAWindow) {
  const std::string noDisplay = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";
  for (const char* program : {QVLOADER_PATH, QVDEMO_PATH}) {
    const std::string name = QFileInfo(QString::fromUtf8(program)).fileName().toStdString();
    ProgramRun run = RunProgram(noDisplay + program + " --version");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output, name + " " + QvVersion + "\n");

    run = RunProgram(noDisplay + program + " --help");
    EXPECT_EQ(run.status, 0) << run.output;
    const std::string demo = name == "qvdemo" ? " [--fast]" : "";
    EXPECT_NE(run.output.find("Использование: " + name + demo + " [ФАЙЛ.qv]"), std::string::npos) << run.output;

    run = RunProgram(noDisplay + program + " file.qv");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_EQ(Lines(run.output), 1u) << run.output;
    EXPECT_NE(run.output.find("DISPLAY"), std::string::npos) << run.output;

    // A display that is named but cannot be reached: Qt's own failure, in one line.
    run = RunProgram("env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:4711 " + std::string(program));
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_EQ(Lines(run.output), 1u) << run.output;
    EXPECT_EQ(run.output.rfind(name + ": нет экрана для окна", 0), 0u) << run.output;
  }
  // A usage error: the error and where to read more, not the whole help.
  const ProgramRun bad = RunProgram(std::string(QVLOADER_PATH) + " --fast");
  EXPECT_EQ(bad.status, 1) << bad.output;
  EXPECT_EQ(bad.output, "qvloader: unknown option '--fast'\nTry 'qvloader --help'.\n");
  // The demo says that it is the demo.
  const ProgramRun demo = RunProgram(noDisplay + QVDEMO_PATH + " --help");
  EXPECT_NE(demo.output.find("Симулятор"), std::string::npos) << demo.output;
  EXPECT_EQ(demo.output.find("записывает файл обновления в БК"), std::string::npos) << demo.output;
}

TEST(WindowPrograms, CommandLine) {
  const char* withQt[] = {"qvloader", "-platform", "offscreen", "dir/image.qv"};
  TWindowCommandLine line = ParseWindowCommandLine(4, withQt);
  EXPECT_EQ(line.file, "dir/image.qv") << "the platform's name is no file";
  EXPECT_EQ(line.error, "");
  const char* two[] = {"qvloader", "a.qv", "b.qv"};
  EXPECT_NE(ParseWindowCommandLine(3, two).error, "");
  const char* dashed[] = {"qvloader", "--", "--odd.qv"};
  EXPECT_EQ(ParseWindowCommandLine(3, dashed).file, "--odd.qv");
  // Qt's options with one dash or two, with or without "="; ours bundle.
  const char* mixed[] = {"qvdemo", "--style=fusion", "-reverse", "a.qv", "-hv"};
  line = ParseWindowCommandLine(5, mixed);
  EXPECT_EQ(line.error, "");
  EXPECT_EQ(line.file, "a.qv");
  EXPECT_TRUE(line.help && line.version);
  // Without a display in the environment, a platform named in any form still counts.
  std::vector<std::pair<const char*, std::string>> saved;
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    saved.emplace_back(name, value ? value : "");
    ::unsetenv(name);
  }
  const char* platform[] = {"qvloader", "--platform=offscreen"};
  EXPECT_EQ(MissingDisplayReason(2, platform), "");
  EXPECT_NE(MissingDisplayReason(2, mixed), "") << "a style is no display";
  for (const auto& [name, value] : saved)
    if (!value.empty()) ::setenv(name, value.c_str(), 1);
  const char* unknown[] = {"qvloader", "-nosuch", "a.qv"};
  EXPECT_EQ(ParseWindowCommandLine(3, unknown).error, "unknown option '-nosuch'");
}

TEST(DemoSample, KeptInTheUsersDataFolder) {
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  const QByteArray saved = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
  const QString sample = EnsureDemoSample();
  if (saved.isEmpty())
    qunsetenv("XDG_DATA_HOME");
  else
    qputenv("XDG_DATA_HOME", saved);

  EXPECT_TRUE(sample.startsWith(home.path() + u'/')) << sample.toStdString();
  EXPECT_EQ(QFileInfo(sample).size(), static_cast<qint64>(UpdateFileSize));
  EXPECT_FALSE(QFileInfo::exists(QDir(QCoreApplication::applicationDirPath()).filePath("sample.qv")))
      << "nothing is written beside the program";
}

// The permission hint follows the device file: join its group, log in
// again if already a member, or ask the administrator where joining is no help.
TEST(PortHints, PermissionFollowsTheDeviceFile) {
  TPortProblem problem;
  problem.kind = TPortProblemKind::PermissionDenied;
  problem.devicePath = "/dev/ttyS0";
  problem.group = "uucp";
  problem.groupMayUse = true;
  QString hint = PortHintText("COM1", problem);
  EXPECT_TRUE(hint.contains("COM1 (/dev/ttyS0)") && hint.contains("sudo usermod -aG uucp $USER") &&
              hint.contains(QStringLiteral("войдите в систему заново")))
      << hint.toStdString();
  problem.alreadyMember = true;
  EXPECT_FALSE(PortHintText("COM1", problem).contains("usermod"));
  problem.group = "root";
  problem.groupMayUse = false;
  hint = PortHintText("COM1", problem);
  EXPECT_TRUE(!hint.contains("usermod") && hint.contains(QStringLiteral("администратор"))) << hint.toStdString();
  problem.kind = TPortProblemKind::None;
  EXPECT_EQ(PortHintText("COM1", problem), "") << "nothing to tell";
}

}  // namespace
