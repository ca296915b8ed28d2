// GoogleTest and GoogleMock built for Windows, and the parts of the C++ runtime
// the product leans on: threads (MinGW's POSIX flavour), exceptions, wide paths.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

class Port {
public:
  virtual ~Port() = default;
  virtual int Write(const std::string& bytes) = 0;
};

class MockPort : public Port {
public:
  MOCK_METHOD(int, Write, (const std::string& bytes), (override));
};

int SendTwice(Port& port, const std::string& frame) { return port.Write(frame) + port.Write(frame); }

TEST(WindowsSmoke, MocksRecordAndAnswerCalls) {
  MockPort port;
  EXPECT_CALL(port, Write("AB")).Times(2).WillRepeatedly(testing::Return(2));
  EXPECT_EQ(SendTwice(port, "AB"), 4);
}

TEST(WindowsSmoke, ThreadsShareAMutexAndExceptionsCrossThem) {
  std::mutex lock;
  long total = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        std::lock_guard<std::mutex> guard(lock);
        ++total;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(total, 40000);

  std::exception_ptr caught;
  std::thread thrower([&] {
    try {
      throw std::runtime_error("from a thread");
    } catch (...) {
      caught = std::current_exception();
    }
  });
  thrower.join();
  EXPECT_THROW(std::rethrow_exception(caught), std::runtime_error);
}

TEST(WindowsSmoke, WideFileNamesAndBinaryFilesRoundTrip) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / L"qv-smoke-\u0444\u0430\u0439\u043b";
  std::filesystem::create_directories(dir);
  const std::filesystem::path file = dir / L"\u043e\u0431\u0440\u0430\u0437.qv";
  const std::string bytes =
      "0123\r\n4567\n\x1a"
      "89";
  {
    std::ofstream out(file, std::ios::binary);
    out << bytes;
  }
  EXPECT_EQ(std::filesystem::file_size(file), bytes.size());
  std::ifstream in(file, std::ios::binary);
  const std::string back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(back, bytes);
  in.close();
  std::filesystem::remove_all(dir);
}

TEST(WindowsSmoke, RunsAsA64BitWindowsProgram) {
  wchar_t name[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, name, MAX_PATH), 0u);
  EXPECT_THAT(std::wstring(name), testing::EndsWith(L"smoke_gtest.exe"));
  EXPECT_EQ(sizeof(void*), 8u);
}

}  // namespace
