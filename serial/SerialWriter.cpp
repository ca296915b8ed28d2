#include "SerialWriter.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <system_error>

#include "SerialPort.h"

using SerialSystem::Classify;
using SerialSystem::TErrorKind;
using SerialSystem::TRequest;

void TWriteBuffer::Append(const void* Source, std::uint32_t N) {
  std::memcpy(Data_.get() + Size_, Source, N);
  Size_ += N;
}

void TWriteBuffer::Consume(std::uint32_t N) {
  if (N > Size_) N = Size_;
  std::memmove(Data_.get(), Data_.get() + N, Size_ - N);
  Size_ -= N;
}

namespace {
std::atomic<int> g_liveThreads{0};
// After a failed write that is not a hang-up, so that a retry cannot spin.
constexpr int kRetryPauseMs = 10;
}  // namespace

int TSerialWriter::LiveThreads() { return g_liveThreads.load(); }

TSerialWriter::TSerialWriter(SerialSystem::TDevice& device, std::uint32_t capacity, TThreadPriority priority,
                             TReport report)
    : device_(device), report_(std::move(report)), buffer_(capacity), priority_(priority) {}

TSerialWriter::~TSerialWriter() { Stop(); }

std::uint32_t TSerialWriter::Pending() const {
  std::lock_guard lock(mutex_);
  return buffer_.Size();
}

void TSerialWriter::SetPriority(TThreadPriority priority) {
  std::lock_guard lock(mutex_);
  priority_ = priority;
  priorityChanged_ = true;
  if (wake_) wake_->Set();
}

void TSerialWriter::NoteHangUp() {
  std::lock_guard lock(mutex_);
  hungUp_ = true;  // only the main thread waits for progress, and this is it
}

bool TSerialWriter::QueueBytes(const void* data, std::uint32_t count, std::uint32_t timeoutMs, bool reportDrain) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock lock(mutex_);
  auto room = [&] { return hungUp_ || static_cast<std::uint64_t>(buffer_.Size()) + count <= buffer_.Capacity(); };
  if (!progress_.wait_until(lock, deadline, room)) return false;
  reportDrain_ = reportDrain;
  if (hungUp_) {
    lost_ += count;  // accepted, but nothing reaches the device any more: Close tells
    return true;
  }
  if (buffer_.Size() == 0) {
    // Nothing is queued or in flight (the writer consumes only once its write
    // has returned), so the bytes go to the device from here.
    std::uint32_t done = 0;
    const TErrorKind kind = Classify(device_.Write(bytes, count, done), TRequest::Write);
    bytes += done;
    count -= done;
    if (kind == TErrorKind::HangUp) {
      hungUp_ = true;
      lost_ += count;
      lock.unlock();
      report_(EV_ERR, CE_IOE);
      return true;
    }
    if (count == 0) {
      lock.unlock();
      if (reportDrain) report_(EV_TXEMPTY, 0);
      return true;
    }
  }
  if (!thread_.joinable()) {
    lock.unlock();
    Start();  // before anything is queued: should it fail, nothing is
    lock.lock();
  }
  buffer_.Append(bytes, count);
  wake_->Set();
  return true;
}

std::uint32_t TSerialWriter::WaitDrained(std::uint32_t timeoutMs) {
  std::unique_lock lock(mutex_);
  progress_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return buffer_.Size() == 0 || hungUp_; });
  return buffer_.Size();
}

std::uint32_t TSerialWriter::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    if (wake_) wake_->Set();
  }
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  const std::uint32_t lost = lost_ + buffer_.Size();
  buffer_.Consume(buffer_.Size());
  lost_ = 0;
  return lost;
}

void TSerialWriter::Start() {
  priorityChanged_ = true;  // the thread sets its own priority first (best effort)
  try {
    wake_ = std::make_unique<SerialSystem::TWaitEvent>();
    thread_ = std::thread([this] {
      ++g_liveThreads;
      // Named so that the thread can be told apart in ps, top and /proc.
      SerialSystem::NameCurrentThread("serial-writer");
      Run();
      std::lock_guard lock(mutex_);
      --g_liveThreads;
      progress_.notify_all();
    });
  } catch (const std::system_error& e) {
    throw EThread(std::string("Thread creation error: ") + e.what());
  }
}

void TSerialWriter::Run() {
  for (;;) {
    std::uint32_t n = 0;
    const std::uint8_t* data = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (stop_) return;
      if (priorityChanged_) {
        priorityChanged_ = false;
        SerialSystem::SetCurrentThreadPriority(priority_);
      }
      n = hungUp_ ? 0 : buffer_.Size();
      data = buffer_.Data();
      // Reset under the lock: bytes queued after this signal it again.
      if (n == 0) wake_->Reset();
    }
    if (n == 0) {
      const TWaitHandle wake = wake_->Handle();
      SerialSystem::WaitAny(&wake, 1, -1);
      continue;
    }
    // The write reads the first n bytes outside the lock: QueueBytes only
    // appends after them, and only this thread moves them.
    std::uint32_t done = 0;
    const TErrorKind kind = Classify(device_.Write(data, n, done), TRequest::Write);
    bool drained = false;
    {
      std::lock_guard lock(mutex_);
      buffer_.Consume(done);
      drained = done > 0 && buffer_.Size() == 0 && reportDrain_;
      hungUp_ = hungUp_ || kind == TErrorKind::HangUp;
      if (kind == TErrorKind::WouldWait || kind == TErrorKind::Failure) {
        // Only the stop or a new priority may cut the wait short; new bytes wait their turn.
        if (!stop_ && !priorityChanged_) wake_->Reset();
      }
      progress_.notify_all();
    }
    if (drained) report_(EV_TXEMPTY, 0);
    if (kind == TErrorKind::HangUp) report_(EV_ERR, CE_IOE);
    if (kind == TErrorKind::WouldWait) device_.WaitOutput(wake_.get(), -1);
    if (kind == TErrorKind::Failure) {
      report_(EV_ERR, 0);
      const TWaitHandle wake = wake_->Handle();
      SerialSystem::WaitAny(&wake, 1, kRetryPauseMs);
    }
  }
}
