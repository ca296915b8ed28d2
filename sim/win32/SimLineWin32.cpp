// The simulated device's line on Windows: the server end of a byte-mode
// named pipe that the serial component opens as it opens a COM port. A read
// is pending whenever a loader is connected, so that its arrival and its
// going (ERROR_BROKEN_PIPE) can be waited for beside the stop.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include "SimLine.h"

namespace {

std::atomic<int> g_lines{0};

DWORD MillisecondsUntil(TSimLine::Clock::time_point until) {
  if (until == TSimLine::Clock::time_point::max()) return INFINITE;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - TSimLine::Clock::now()).count();
  return static_cast<DWORD>(std::clamp<long long>(left, 0, INFINITE - 1));
}

class TPipeLine final : public TSimLine {
public:
  explicit TPipeLine(const std::string& linkPath) : input_(4096) {
    if (!linkPath.empty()) throw std::runtime_error("a link to the simulated line needs a POSIX system");
    path_ = "\\\\.\\pipe\\qv-sim-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++g_lines);
    pipe_ = ::CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                               PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
    if (pipe_ == INVALID_HANDLE_VALUE)
      throw std::runtime_error("no named pipe for the simulated device (error " + std::to_string(::GetLastError()) +
                               ")");
    for (OVERLAPPED* ov : {&connect_, &read_, &write_}) ov->hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    stop_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Listen();
  }

  ~TPipeLine() override {
    HangUp();
    for (OVERLAPPED* ov : {&connect_, &read_, &write_}) ::CloseHandle(ov->hEvent);
    ::CloseHandle(stop_);
  }

  const std::string& Path() const override { return path_; }
  void Stop() override { ::SetEvent(stop_); }

  bool WaitLoaderOpen() override {
    if (HungUp()) return false;
    if (connected_) return true;
    if (Wait(connect_.hEvent, INFINITE) != 1) return false;
    connected_ = true;
    StartRead();
    return true;
  }

  bool WaitLoaderGone() override {
    while (connected_) {
      if (FetchRead()) {
        StartRead();  // bytes that come meanwhile are not asked for: dropped
        continue;
      }
      if (connected_ && Wait(read_.hEvent, INFINITE) != 1) return false;
    }
    return !HungUp();
  }

  TWait WaitReadable(Clock::time_point until) override {
    if (!connected_) return TWait::LoaderGone;
    if (inputBegin_ < inputEnd_ || FetchRead()) return TWait::Readable;
    if (!connected_) return TWait::LoaderGone;
    const int r = Wait(read_.hEvent, MillisecondsUntil(until));
    if (r == 0) return TWait::Stopped;
    if (r < 0) return TWait::TimedOut;
    if (FetchRead()) return TWait::Readable;
    return connected_ ? TWait::TimedOut : TWait::LoaderGone;
  }

  std::size_t Read(std::uint8_t* data, std::size_t size) override {
    if (inputBegin_ == inputEnd_ && !FetchRead()) return 0;
    const std::size_t n = std::min(size, inputEnd_ - inputBegin_);
    std::memcpy(data, input_.data() + inputBegin_, n);
    inputBegin_ += n;
    if (inputBegin_ == inputEnd_) StartRead();
    return n;
  }

  bool Write(const std::uint8_t* data, std::size_t size) override {
    if (!connected_) return false;
    DWORD count = 0;
    if (!::WriteFile(pipe_, data, static_cast<DWORD>(size), nullptr, &write_) && ::GetLastError() != ERROR_IO_PENDING) {
      LoaderGone();
      return false;
    }
    if (Wait(write_.hEvent, INFINITE) != 1) {
      ::CancelIoEx(pipe_, &write_);
      ::GetOverlappedResult(pipe_, &write_, &count, TRUE);
      return false;
    }
    if (!::GetOverlappedResult(pipe_, &write_, &count, FALSE) || count != size) {
      LoaderGone();
      return false;
    }
    return true;
  }

  bool SleepUntil(Clock::time_point until) override {
    const DWORD ms = MillisecondsUntil(until);
    if (ms > 0) return ::WaitForSingleObject(stop_, ms) != WAIT_OBJECT_0;
    std::this_thread::sleep_until(until);  // a sub-millisecond rest
    return ::WaitForSingleObject(stop_, 0) != WAIT_OBJECT_0;
  }

  void HangUp() override {
    if (pipe_ == INVALID_HANDLE_VALUE) return;
    ::CancelIoEx(pipe_, nullptr);
    DWORD count = 0;
    if (reading_) ::GetOverlappedResult(pipe_, &read_, &count, TRUE);
    ::GetOverlappedResult(pipe_, &connect_, &count, TRUE);
    ::CloseHandle(pipe_);
    pipe_ = INVALID_HANDLE_VALUE;
    connected_ = reading_ = false;
  }
  bool HungUp() const override { return pipe_ == INVALID_HANDLE_VALUE; }

private:
  // 1: `event` was signalled, 0: the stop, -1: the time ran out.
  int Wait(HANDLE event, DWORD timeoutMs) {
    const HANDLE both[] = {stop_, event};
    const DWORD r = ::WaitForMultipleObjects(2, both, FALSE, timeoutMs);
    if (r == WAIT_OBJECT_0) return 0;
    return r == WAIT_OBJECT_0 + 1 ? 1 : -1;
  }

  void Listen() {
    ::ResetEvent(connect_.hEvent);
    if (!::ConnectNamedPipe(pipe_, &connect_) && ::GetLastError() == ERROR_PIPE_CONNECTED) ::SetEvent(connect_.hEvent);
  }

  // The loader let go: the pipe waits for its next opening.
  void LoaderGone() {
    if (!connected_) return;
    connected_ = false;
    ::CancelIoEx(pipe_, &read_);
    DWORD count = 0;
    if (reading_) ::GetOverlappedResult(pipe_, &read_, &count, TRUE);
    reading_ = false;
    inputBegin_ = inputEnd_ = 0;
    ::DisconnectNamedPipe(pipe_);
    Listen();
  }

  void StartRead() {
    inputBegin_ = inputEnd_ = 0;
    if (reading_ || !connected_) return;
    if (::ReadFile(pipe_, input_.data(), static_cast<DWORD>(input_.size()), nullptr, &read_) ||
        ::GetLastError() == ERROR_IO_PENDING) {
      reading_ = true;
      return;
    }
    LoaderGone();
  }

  // Takes the read's bytes once it is over; false while it goes on or when the loader has gone.
  bool FetchRead() {
    if (!reading_) return false;
    DWORD count = 0;
    if (!::GetOverlappedResult(pipe_, &read_, &count, FALSE)) {
      if (::GetLastError() == ERROR_IO_INCOMPLETE) return false;
      reading_ = false;
      LoaderGone();
      return false;
    }
    reading_ = false;
    inputBegin_ = 0;
    inputEnd_ = count;
    if (count == 0) StartRead();
    return count > 0;
  }

  std::string path_;
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  HANDLE stop_ = nullptr;
  OVERLAPPED connect_{}, read_{}, write_{};
  bool connected_ = false;
  bool reading_ = false;
  std::vector<std::uint8_t> input_;
  std::size_t inputBegin_ = 0, inputEnd_ = 0;
};

}  // namespace

std::unique_ptr<TSimLine> TSimLine::Create(const std::string& linkPath) {
  return std::make_unique<TPipeLine>(linkPath);
}
