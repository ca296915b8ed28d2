// The update file on Windows: what is not a file on a disk is refused at
// once, by the system's error number, without waiting on it.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "SampleImage.h"
#include "UpdateFile.h"
#include "UpdateFileFixture.h"

namespace {

// The error a read of `name` ends with, from a thread of its own, so that a
// read that waits fails the test instead of hanging it.
int ReadError(const std::string& name, std::string& text) {
  auto read = std::async(std::launch::async, [name]() -> std::pair<int, std::string> {
    TImage image;
    try {
      ReadUpdateFile(name, image);
      return {0, "read"};
    } catch (const EInOutError& e) {
      return {e.Code(), e.what()};
    }
  });
  if (read.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    text = "blocked";
    std::_Exit(3);  // the reading thread cannot be ended otherwise
  }
  const auto [code, what] = read.get();
  text = what;
  return code;
}

TEST_F(UpdateFile, PipesAndDirectoriesAreRefusedWithoutWaiting) {
  // A pipe that a server holds open, with no client data ever coming.
  const std::wstring pipeName = L"\\\\.\\pipe\\qv-update-file-test.qv";
  const HANDLE server =
      ::CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 4, 4096, 4096, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  // Windows refuses it at the file type (222), Wine already when it looks (66).
  std::string text;
  const int code = ReadError("\\\\.\\pipe\\qv-update-file-test.qv", text);
  EXPECT_NE(code, 0);
  EXPECT_EQ(text, "I/O error " + std::to_string(code));
  ::CloseHandle(server);

  std::filesystem::create_directories(dir_ / "folder.qv");
  EXPECT_EQ(ReadError((dir_ / "folder.qv").string(), text), ERROR_DIRECTORY);
  EXPECT_EQ(text, "I/O error " + std::to_string(ERROR_DIRECTORY));
}

TEST_F(UpdateFile, FileHeldOpenForWritingStillLoads) {
  // An editor or a copy that keeps the file open does not keep the loader out.
  const std::string path = Write("held.qv", UpdateFileText(MakeSampleImage(2)));
  const HANDLE held = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  TImage image;
  EXPECT_EQ(ReadUpdateFile(path, image), TUpdateFileOutcome::Read);
  ::CloseHandle(held);
}

}  // namespace
