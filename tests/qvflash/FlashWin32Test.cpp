// qvflash on Windows: a Cyrillic file name on the command line, Ctrl+Break
// stopping a run cleanly, the record appended and synced under a Cyrillic
// name, and hints that speak of Device Manager.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "FlashTestSupport.h"
#include "FlashToolFixture.h"
#include "win32/Utf16Text.h"

namespace {

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// qvflash.exe as a process of its own, its stderr and stdout into one pipe.
class TProgram {
public:
  TProgram(const std::wstring& arguments, DWORD flags = 0) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    ::CreatePipe(&read_, &write_, &inherit, 0);
    ::SetHandleInformation(read_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    start.hStdOutput = write_;
    start.hStdError = write_;
    std::wstring line = L"\"" + WideFromUtf8(QVFLASH_PATH) + L"\" " + arguments;
    started_ = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr, &start,
                                &process_) != FALSE;
    ::CloseHandle(write_);
  }
  ~TProgram() {
    if (started_) {
      ::TerminateProcess(process_.hProcess, 99);
      ::CloseHandle(process_.hProcess);
      ::CloseHandle(process_.hThread);
    }
    ::CloseHandle(read_);
  }
  bool Started() const { return started_; }
  DWORD Id() const { return process_.dwProcessId; }
  // Reads until `text` has come (true) or the output ends.
  bool ReadUntil(const std::string& text) {
    char buffer[512];
    DWORD n = 0;
    while (output_.find(text) == std::string::npos) {
      if (!::ReadFile(read_, buffer, sizeof buffer, &n, nullptr) || n == 0) return false;
      output_.append(buffer, n);
    }
    return true;
  }
  // The exit status once the process ends (within the time), or -1.
  int Status(DWORD timeoutMs) {
    ReadUntil(std::string(1, '\0'));  // the rest of the output, to its end
    if (::WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD status = 0;
    ::GetExitCodeProcess(process_.hProcess, &status);
    return static_cast<int>(status);
  }
  const std::string& Output() const { return output_; }

private:
  HANDLE read_ = nullptr, write_ = nullptr;
  PROCESS_INFORMATION process_{};
  bool started_ = false;
  std::string output_;
};

// The name arrives whole although main's argv holds the ANSI code page.
TEST_F(FlashTool, CyrillicFileNameOnTheCommandLine) {
  const fs::path named = dir_ / u8"обновление БК.qv";
  fs::copy_file(fs::path(std::u8string(file_.begin(), file_.end())), named);
  TProgram run(L"--dry-run \"" + named.wstring() + L"\"");
  ASSERT_TRUE(run.Started());
  EXPECT_EQ(run.Status(30000), exSuccess) << run.Output();
  EXPECT_NE(run.Output().find("frames: 1112"), std::string::npos) << run.Output();
}

// Ctrl+Break (as Ctrl+C) ends a run the way a stop signal does on Linux: said
// on stderr, the wait interrupted, status 7.
TEST_F(FlashTool, CtrlBreakStopsTheRunCleanly) {
  if (::GetConsoleWindow() == nullptr && !::AllocConsole()) GTEST_SKIP() << "no console to send Ctrl+Break in";
  TProgram run(L"--wait-for-port --greeting-timeout 60 --port COM249 \"" + WideFromUtf8(file_) + L"\"",
               CREATE_NEW_PROCESS_GROUP);
  ASSERT_TRUE(run.Started());
  ASSERT_TRUE(run.ReadUntil("waiting for COM249 to appear")) << run.Output();
  ASSERT_TRUE(::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, run.Id()));
  EXPECT_EQ(run.Status(20000), exInterrupted) << run.Output();
  EXPECT_NE(run.Output().find("qvflash: Ctrl+Break: stopping; loads under way end as interrupted"), std::string::npos)
      << run.Output();
  EXPECT_NE(run.Output().find("interrupted while waiting for COM249"), std::string::npos) << run.Output();
}

// Two runs append to one record under a Cyrillic name: nothing truncated,
// each line whole JSON naming this computer and account.
TEST_F(FlashTool, RecordAppendsUnderACyrillicName) {
  const std::string record = Utf8(dir_ / u8"журнал.jsonl");
  for (int i = 0; i < 2; ++i) {
    const RunOutput run = RunQvflash({"--port", "COM248", "--record", record, file_});
    EXPECT_EQ(run.status, exPortError) << run.err;
    EXPECT_NE(run.err.find("Device Manager"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("usermod"), std::string::npos) << run.err;
  }
  std::ifstream in(dir_ / u8"журнал.jsonl", std::ios::binary);
  std::string line;
  int lines = 0;
  while (std::getline(in, line)) {
    ++lines;
    EXPECT_EQ(line.find('\r'), std::string::npos) << "lines end in LF alone";
    const TJson entry = TJson::parse(line);
    EXPECT_EQ(entry.at("port"), "COM248");
    EXPECT_EQ(entry.at("device"), "\\\\.\\COM248");
    EXPECT_EQ(entry.at("outcome"), "port-error");
    EXPECT_FALSE(entry.at("host").get<std::string>().empty());
    EXPECT_FALSE(entry.at("user").get<std::string>().empty());
  }
  EXPECT_EQ(lines, 2);
}

// A pipe that no program serves cannot hold a run up: a usage error at once.
TEST_F(FlashTool, RecordIntoAPipeNobodyServesIsAUsageError) {
  const RunOutput run = RunQvflash({"--port", "COM248", "--record", "\\\\.\\pipe\\qv-nobody-reads", file_});
  EXPECT_EQ(run.status, exUsage) << run.err;
  EXPECT_NE(run.err.find("cannot write the record file"), std::string::npos) << run.err;
}

}  // namespace
