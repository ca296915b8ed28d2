// The far end on Windows: the server end of a byte-mode named pipe, with
// overlapped transfers so that every wait can end.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <stdexcept>

#include "FarEnd.h"

namespace {
std::atomic<int> g_pipes{0};

// Runs an overlapped transfer; its bytes once it is over, or 0 when the time ran out (it is cancelled).
DWORD Transfer(HANDLE pipe, OVERLAPPED& ov, BOOL started, DWORD timeoutMs) {
  DWORD count = 0;
  if (!started && ::GetLastError() != ERROR_IO_PENDING) return 0;
  if (::WaitForSingleObject(ov.hEvent, timeoutMs) != WAIT_OBJECT_0) ::CancelIoEx(pipe, &ov);
  if (!::GetOverlappedResult(pipe, &ov, &count, TRUE)) return 0;
  return count;
}
}  // namespace

// Each opening of the loader's end connects to an instance of the pipe of
// its own; several wait from the start, and the newest one connected is the
// line. (One instance would refuse the loader's second opening as busy.)
struct TFarEnd::TImpl {
  struct TInstance {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    OVERLAPPED connect{};
    bool taken = false;
  };
  static constexpr int kInstances = 8;
  std::string path;
  TInstance instances[kInstances];
  HANDLE line = INVALID_HANDLE_VALUE;

  // Takes the newest opening as the line; before the first, waits for it.
  void Sync() {
    for (bool first = line == INVALID_HANDLE_VALUE;; first = false) {
      HANDLE events[kInstances];
      int index[kInstances];
      int n = 0;
      for (int i = 0; i < kInstances; ++i)
        if (!instances[i].taken && instances[i].pipe != INVALID_HANDLE_VALUE) {
          events[n] = instances[i].connect.hEvent;
          index[n++] = i;
        }
      if (n == 0) return;
      const DWORD r = ::WaitForMultipleObjects(static_cast<DWORD>(n), events, FALSE, first ? 10000 : 0);
      if (r >= WAIT_OBJECT_0 + static_cast<DWORD>(n)) return;
      TInstance& connected = instances[index[r - WAIT_OBJECT_0]];
      connected.taken = true;
      line = connected.pipe;
    }
  }
};

TFarEnd::TFarEnd() : impl_(std::make_unique<TImpl>()) {
  impl_->path =
      "\\\\.\\pipe\\qv-serial-test-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++g_pipes);
  for (TImpl::TInstance& instance : impl_->instances) {
    instance.pipe = ::CreateNamedPipeA(impl_->path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                       PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 65536,
                                       65536, 0, nullptr);
    if (instance.pipe == INVALID_HANDLE_VALUE) throw std::runtime_error("no named pipe");
    instance.connect.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!::ConnectNamedPipe(instance.pipe, &instance.connect) && ::GetLastError() == ERROR_PIPE_CONNECTED)
      ::SetEvent(instance.connect.hEvent);
  }
}

TFarEnd::~TFarEnd() {
  CloseMaster();
  for (TImpl::TInstance& instance : impl_->instances) ::CloseHandle(instance.connect.hEvent);
}

const std::string& TFarEnd::Path() const { return impl_->path; }

void TFarEnd::Send(const std::vector<std::uint8_t>& bytes) const {
  impl_->Sync();
  std::size_t done = 0;
  while (done < bytes.size()) {
    OVERLAPPED ov{};
    ov.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const BOOL started =
        ::WriteFile(impl_->line, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), nullptr, &ov);
    const DWORD n = Transfer(impl_->line, ov, started, INFINITE);
    ::CloseHandle(ov.hEvent);
    if (n == 0) return;  // nobody at the other end: the bytes go nowhere
    done += n;
  }
}

bool TFarEnd::TrySend(const std::vector<std::uint8_t>& bytes) const {
  impl_->Sync();
  OVERLAPPED ov{};
  ov.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const BOOL started = ::WriteFile(impl_->line, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &ov);
  const DWORD n = Transfer(impl_->line, ov, started, 2);
  ::CloseHandle(ov.hEvent);
  return n > 0;
}

std::vector<std::uint8_t> TFarEnd::Receive(std::size_t count, int timeoutMs) const {
  impl_->Sync();
  std::vector<std::uint8_t> out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (out.size() < count) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    std::uint8_t buffer[4096];
    OVERLAPPED ov{};
    ov.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const DWORD want = static_cast<DWORD>(std::min(sizeof buffer, count - out.size()));
    const BOOL started = ::ReadFile(impl_->line, buffer, want, nullptr, &ov);
    const DWORD n = Transfer(impl_->line, ov, started, static_cast<DWORD>(left));
    ::CloseHandle(ov.hEvent);
    out.insert(out.end(), buffer, buffer + n);
  }
  return out;
}

void TFarEnd::CloseMaster() {
  for (TImpl::TInstance& instance : impl_->instances) {
    if (instance.pipe == INVALID_HANDLE_VALUE) continue;
    ::CancelIoEx(instance.pipe, nullptr);
    ::CloseHandle(instance.pipe);
    instance.pipe = INVALID_HANDLE_VALUE;
  }
  impl_->line = INVALID_HANDLE_VALUE;
}

double ProcessCpuSeconds() {
  FILETIME created, ended, kernel, user;
  ::GetProcessTimes(::GetCurrentProcess(), &created, &ended, &kernel, &user);
  auto seconds = [](const FILETIME& t) {
    return ((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}
