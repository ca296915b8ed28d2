#pragma once
// The event, lock and time-out wrappers that the serial component and its
// threads share. An event is a manual-reset event over an eventfd, so it can
// also sit in a poll set beside the device.
#include <cstdint>
#include <initializer_list>
#include <mutex>

enum TWaitResult { wrSignalled, wrTimeout, wrAbandoned, wrError };

inline constexpr std::int64_t INFINITE_WAIT = -1;

// A waitable descriptor, closed with the object.
class THandleObject {
public:
  THandleObject() = default;
  THandleObject(const THandleObject&) = delete;
  THandleObject& operator=(const THandleObject&) = delete;
  virtual ~THandleObject();

  int Handle() const { return Handle_; }
  int LastError() const { return LastError_; }

  // Waits until the object is signalled, at most timeoutMs (INFINITE_WAIT: no
  // limit). A failed wait stores errno in LastError.
  TWaitResult Wait(std::int64_t timeoutMs);
  virtual void SetSignal() = 0;
  virtual void ResetSignal() = 0;

protected:
  int Handle_ = -1;
  int LastError_ = 0;
};

class TSyncEvent : public THandleObject {
public:
  void SetSignal() override;
  void ResetSignal() override;
  bool IsSignalled() const;
};

// Manual-reset event, created not signalled: stays signalled until reset.
class TWaitEvent : public TSyncEvent {
public:
  TWaitEvent();
};

// Waits for the first of several events; returns the index of the first one
// that is signalled (the earliest in the list wins when several are), or -1
// on time-out or failure.
int WaitForAny(std::initializer_list<TSyncEvent*> events, std::int64_t timeoutMs);

// A re-entrant lock.
class TCriticalSection {
public:
  void Lock() { Mutex_.lock(); }
  void Unlock() { Mutex_.unlock(); }
  // For std::lock_guard.
  void lock() { Lock(); }
  void unlock() { Unlock(); }

private:
  std::recursive_mutex Mutex_;
};

// Millisecond tick counter that wraps like a 32-bit counter.
std::uint32_t GetTickCount();

// A time limit measured in ticks, correct across the counter's wrap.
struct TTickTimeout {
  std::uint32_t StartTick = 0;
  std::uint32_t Limit = 0;
  void Start(std::uint32_t limitMs) {
    StartTick = GetTickCount();
    Limit = limitMs;
  }
  bool Expired() const { return ElapsedAt(GetTickCount()) > Limit; }
  // Milliseconds left until the limit (0 once it has passed).
  std::uint32_t Remaining() const {
    const std::uint32_t elapsed = ElapsedAt(GetTickCount());
    return elapsed >= Limit ? 0 : Limit - elapsed;
  }
  std::uint32_t ElapsedAt(std::uint32_t now) const {
    return now >= StartTick ? now - StartTick : now + (4294967295u - StartTick);
  }
};

// poll() that retries on EINTR with the time left. timeoutMs < 0: no limit.
int PollRetrying(struct pollfd* fds, unsigned long count, std::int64_t timeoutMs);
