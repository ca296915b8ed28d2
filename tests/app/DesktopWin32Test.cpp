// The window programs on Windows: their answers reach a pipe although they
// are window programs, the demo's sample lands in a data folder with a
// Cyrillic name, and the port hints speak of Device Manager and drivers.
#include <windows.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <string>

#include "DemoSample.h"
#include "PortHint.h"
#include "QvVersion.h"
#include "UpdateFile.h"
#include "WindowSystem.h"

namespace {

struct ProgramRun {
  DWORD status = ~DWORD{0};
  std::string output;  // stdout and stderr together
};

// Runs a program with its output into a pipe, as a script or a test does.
ProgramRun RunProgram(const std::string& program, const std::string& arguments) {
  ProgramRun run;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return run;
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  start.hStdOutput = writeEnd;
  start.hStdError = writeEnd;
  PROCESS_INFORMATION process{};
  std::string line = "\"" + program + "\" " + arguments;
  const BOOL started =
      ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process);
  ::CloseHandle(writeEnd);
  if (started) {
    char buffer[1024];
    DWORD n = 0;
    while (::ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0) run.output.append(buffer, n);
    ::WaitForSingleObject(process.hProcess, 30000);
    ::GetExitCodeProcess(process.hProcess, &run.status);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
  }
  ::CloseHandle(readEnd);
  return run;
}

TEST(WindowPrograms, AnswersReachAPipeFromAWindowProgram) {
  for (const std::string program : {QVLOADER_PATH, QVDEMO_PATH}) {
    const std::string name = QFileInfo(QString::fromStdString(program)).completeBaseName().toStdString();
    ProgramRun run = RunProgram(program, "--version");
    EXPECT_EQ(run.status, 0u) << run.output;
    EXPECT_EQ(run.output, name + " " + QvVersion + "\n");
    run = RunProgram(program, "--help");
    EXPECT_EQ(run.status, 0u) << run.output;
    EXPECT_EQ(run.output.rfind("Использование: " + name + " ", 0), 0u) << run.output;
    EXPECT_NE(run.output.find("qvflash.exe"), std::string::npos) << "the note fits Windows: " << run.output;
    EXPECT_EQ(run.output.find("DISPLAY"), std::string::npos) << run.output;
  }
  const ProgramRun bad = RunProgram(QVLOADER_PATH, "--fast");
  EXPECT_EQ(bad.status, 1u) << bad.output;
  EXPECT_EQ(bad.output, "qvloader: unknown option '--fast'\nTry 'qvloader --help'.\n");
}

// The data folder's path holds the company's Cyrillic name: the sample must
// be written there under that very name.
TEST(DemoSample, WrittenUnderTheCyrillicDataFolder) {
  QStandardPaths::setTestModeEnabled(true);
  const QString sample = EnsureDemoSample();
  EXPECT_TRUE(sample.contains(QStringLiteral("Велт"))) << sample.toStdString();
  EXPECT_EQ(QFileInfo(sample).size(), static_cast<qint64>(UpdateFileSize)) << sample.toStdString();
  TImage image;
  EXPECT_EQ(ReadUpdateFile(WindowSystem::CoreFileName(sample), image), TUpdateFileOutcome::Read);
  QDir(QFileInfo(sample).absolutePath()).removeRecursively();
  QStandardPaths::setTestModeEnabled(false);
}

TEST(PortHints, DeviceManagerAndDriversInsteadOfGroups) {
  TPortProblem problem;
  problem.devicePath = "\\\\.\\COM5";
  problem.kind = TPortProblemKind::Busy;
  QString hint = PortHintText("COM5", problem);
  EXPECT_TRUE(hint.startsWith(QStringLiteral("Порт COM5 занят другой программой"))) << hint.toStdString();
  EXPECT_FALSE(hint.contains("fuser") || hint.contains("\\\\.\\")) << hint.toStdString();

  problem.kind = TPortProblemKind::NotFound;
  hint = PortHintText("COM5", problem);
  EXPECT_TRUE(hint.contains(QStringLiteral("Диспетчер устройств")) && hint.contains(QStringLiteral("драйвер")))
      << hint.toStdString();
  TPortInfo adapter;
  adapter.name = "COM12";
  adapter.label = "USB Serial Port (COM12)";
  problem.existingPorts = {adapter};
  hint = PortHintText("COM5", problem);
  EXPECT_TRUE(hint.contains(QStringLiteral("Есть порты: USB Serial Port (COM12).")) &&
              hint.contains(QStringLiteral("Диспетчер устройств")))
      << hint.toStdString();

  problem.kind = TPortProblemKind::PermissionDenied;
  EXPECT_FALSE(PortHintText("COM5", problem).contains("usermod"));
}

}  // namespace
