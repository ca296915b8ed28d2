#pragma once
// The port's writer: sends what WriteBytes could not hand to the device at
// once. Most writes go to the device straight from WriteBytes, so the
// writer's system thread starts only when bytes first have to wait for it
// (an idle thread beside every open port measurably slowed a load). It
// reports a drained buffer or a failed write by posting to the main thread
// and never waits for it; Stop ends the thread and joins it.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "SerialSystem.h"

// Fixed-capacity byte block: appended at the end, consumed from the front.
class TWriteBuffer {
public:
  explicit TWriteBuffer(std::uint32_t capacity)
      : Data_(new std::uint8_t[capacity > 0 ? capacity : 1]), Capacity_(capacity) {}
  std::uint8_t* Data() { return Data_.get(); }
  std::uint32_t Capacity() const { return Capacity_; }
  std::uint32_t Size() const { return Size_; }
  void Append(const void* Source, std::uint32_t N);  // the caller guarantees room
  void Consume(std::uint32_t N);

private:
  std::unique_ptr<std::uint8_t[]> Data_;
  std::uint32_t Capacity_;
  std::uint32_t Size_ = 0;
};

class TSerialWriter {
public:
  // Posts events (EV_TXEMPTY, EV_ERR) and line errors (CE_IOE) to the main
  // thread. Called on the writer's thread and on the main thread; never waits.
  using TReport = std::function<void(std::uint32_t events, std::uint32_t errors)>;

  TSerialWriter(SerialSystem::TDevice& device, std::uint32_t capacity, TThreadPriority priority, TReport report);
  ~TSerialWriter();  // Stop
  TSerialWriter(const TSerialWriter&) = delete;
  TSerialWriter& operator=(const TSerialWriter&) = delete;

  // Main thread. Where nothing waits before them the bytes go to the device
  // from here; what it does not take waits in the buffer, for which this
  // waits up to timeoutMs for room. False: no room in time, and nothing of
  // the call was kept. `reportDrain`: a drain is reported (EV_TXEMPTY).
  // Throws EThread when the thread cannot be started.
  bool QueueBytes(const void* data, std::uint32_t count, std::uint32_t timeoutMs, bool reportDrain);
  // Main thread: waits until nothing is held, the line has hung up or the
  // time is up; returns the bytes still held.
  std::uint32_t WaitDrained(std::uint32_t timeoutMs);
  // Main thread: ends the thread and joins it. Returns the bytes accepted
  // since the start that never reached the device (dropped now, or lost to
  // a hang-up).
  std::uint32_t Stop();
  // The line is gone: nothing more is sent, and nothing waits for a drain.
  void NoteHangUp();
  void SetPriority(TThreadPriority priority);
  std::uint32_t Pending() const;
  bool ThreadRunning() const { return thread_.joinable(); }
  // Writer threads of all ports that are running (diagnostics, tests).
  static int LiveThreads();

private:
  void Start();
  void Run();

  SerialSystem::TDevice& device_;
  const TReport report_;
  mutable std::mutex mutex_;          // WriteLock: everything below but the thread
  std::condition_variable progress_;  // bytes went out, the line hung up, the thread ended
  TWriteBuffer buffer_;
  std::unique_ptr<SerialSystem::TWaitEvent> wake_;  // bytes to send, a new priority, the stop
  TThreadPriority priority_;
  bool priorityChanged_ = false;
  bool reportDrain_ = false;
  bool hungUp_ = false;
  bool stop_ = false;
  std::uint32_t lost_ = 0;  // bytes accepted that a hang-up kept from the device
  std::thread thread_;
};
