#pragma once
// The process-wide flash clock: a 50 ms tick on a timer thread of its own
// (asleep while no control flashes), a tick counter, and a registry of
// flashing controls. The phase of a control is one bit of the shared counter,
// so controls with the same frequency blink in step. Phases are always
// delivered on the user-interface thread, and only at ticks that change one.

#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class TBinaryControl;

class FlashClock {
public:
  static constexpr int kPeriodMs = 50;

  static FlashClock& Instance();

  FlashClock(const FlashClock&) = delete;
  FlashClock& operator=(const FlashClock&) = delete;

  void RegisterFlash(TBinaryControl* control, std::uint32_t mask);
  void UnregisterFlash(TBinaryControl* control);

  // One tick on the calling thread (the user-interface thread): increment
  // the counter, then deliver the changed phases. The timer thread does the
  // same by posting to the user-interface thread; tests call it directly.
  void Tick();

  // The timer thread. Start needs a running Qt application to post to and
  // does nothing without one; Stop waits for the thread to end. The thread
  // is stopped when the application object goes away.
  void Start();
  void Stop();
  bool Running() const;
  // True while the timer thread sleeps because nothing flashes (tests wait
  // for this point rather than for a time).
  bool Idle() const { return idle_.load(); }

  // Controls call this when they are created. Tests turn it off to drive
  // the clock by hand.
  void AutoStart();
  void SetAutoStart(bool on);

  std::uint32_t Counter() const { return counter_.load(); }
  void SetCounter(std::uint32_t value) { counter_.store(value); }

  // The system's millisecond tick used when a control registers.
  void SetMillisecondSource(std::function<std::uint32_t()> source);

  bool IsRegistered(const TBinaryControl* control) const;
  std::size_t RegisteredCount() const;
  std::size_t Capacity() const;

private:
  FlashClock() = default;
  ~FlashClock();

  struct Entry {
    TBinaryControl* control;
    QPointer<TBinaryControl> guard;
    std::uint32_t mask;
    std::uint32_t lastSeen;
  };

  void Deliver();
  // True when a registered control's phase differs from the counter's.
  bool PhaseChangeDue() const;
  void ThreadMain();
  std::uint32_t NowMs() const;

  mutable std::mutex registryMutex_;
  std::vector<Entry> registry_;
  std::function<std::uint32_t()> millis_;

  std::atomic<std::uint32_t> counter_{0};
  std::atomic<bool> applyPending_{false};
  std::atomic<bool> autoStart_{true};
  std::atomic<bool> idle_{false};

  mutable std::mutex threadMutex_;
  std::condition_variable stopSignal_;
  bool stopRequested_ = false;
  std::thread thread_;
};
