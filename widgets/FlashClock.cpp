#include "FlashClock.h"

#include "BinaryControl.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <chrono>

namespace {

void StopClockAtAppExit() { FlashClock::Instance().Stop(); }

}  // namespace

FlashClock& FlashClock::Instance() {
  static FlashClock clock;
  return clock;
}

FlashClock::~FlashClock() { Stop(); }

std::uint32_t FlashClock::NowMs() const {
  if (millis_) return millis_();
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void FlashClock::SetMillisecondSource(std::function<std::uint32_t()> source) {
  std::lock_guard lock(registryMutex_);
  millis_ = std::move(source);
}

void FlashClock::RegisterFlash(TBinaryControl* control, std::uint32_t mask) {
  bool first = false;
  {
    std::lock_guard lock(registryMutex_);
    const std::uint32_t seen = mask + NowMs();
    auto it =
        std::find_if(registry_.begin(), registry_.end(), [control](const Entry& e) { return e.control == control; });
    if (it != registry_.end()) {
      it->mask = mask;
      it->lastSeen = seen;
      return;
    }
    registry_.push_back(Entry{control, QPointer<TBinaryControl>(control), mask, seen});
    // Grow in steps of ten so that registering does not reallocate every time.
    if (registry_.capacity() - registry_.size() < 2) registry_.reserve(registry_.size() + 10);
    first = registry_.size() == 1;
  }
  // The timer thread sleeps while nothing flashes: wake it for the first
  // one. The thread takes its lock before the registry's, so the registry's
  // is released first.
  if (first) {
    std::lock_guard wake(threadMutex_);
    stopSignal_.notify_all();
  }
}

bool FlashClock::PhaseChangeDue() const {
  std::lock_guard lock(registryMutex_);
  const std::uint32_t counter = counter_.load();
  return std::any_of(registry_.begin(), registry_.end(),
                     [counter](const Entry& e) { return (e.mask & e.lastSeen) != (e.mask & counter); });
}

void FlashClock::UnregisterFlash(TBinaryControl* control) {
  std::lock_guard lock(registryMutex_);
  registry_.erase(
      std::remove_if(registry_.begin(), registry_.end(), [control](const Entry& e) { return e.control == control; }),
      registry_.end());
}

bool FlashClock::IsRegistered(const TBinaryControl* control) const {
  std::lock_guard lock(registryMutex_);
  return std::any_of(registry_.begin(), registry_.end(), [control](const Entry& e) { return e.control == control; });
}

std::size_t FlashClock::RegisteredCount() const {
  std::lock_guard lock(registryMutex_);
  return registry_.size();
}

std::size_t FlashClock::Capacity() const {
  std::lock_guard lock(registryMutex_);
  return registry_.capacity();
}

void FlashClock::Tick() {
  counter_.fetch_add(1);
  Deliver();
}

void FlashClock::Deliver() {
  // Work out the deliveries under the lock, deliver after releasing it: a
  // control's drawing may register or unregister controls (itself included).
  struct Delivery {
    QPointer<TBinaryControl> control;
    bool phase;
  };
  std::vector<Delivery> deliveries;
  {
    std::lock_guard lock(registryMutex_);
    const std::uint32_t counter = counter_.load();
    for (Entry& e : registry_) {
      if ((e.mask & e.lastSeen) != (e.mask & counter)) deliveries.push_back(Delivery{e.guard, (e.mask & counter) != 0});
      e.lastSeen = counter;
    }
  }
  for (const Delivery& d : deliveries) {
    // A control removed by an earlier delivery of this tick is skipped.
    if (d.control.isNull() || !IsRegistered(d.control.data())) continue;
    try {
      d.control->DeliverFlashPhase(d.phase);
    } catch (...) {
      // One failing control does not stop the tick for the others.
    }
  }
}

void FlashClock::AutoStart() {
  if (autoStart_.load()) Start();
}

void FlashClock::SetAutoStart(bool on) { autoStart_.store(on); }

bool FlashClock::Running() const {
  std::lock_guard lock(threadMutex_);
  return thread_.joinable();
}

void FlashClock::Start() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return;
  std::lock_guard lock(threadMutex_);
  if (thread_.joinable()) return;
  static bool hooked = false;
  if (!hooked) {
    qAddPostRoutine(StopClockAtAppExit);
    hooked = true;
  }
  stopRequested_ = false;
  thread_ = std::thread([this] { ThreadMain(); });
}

void FlashClock::Stop() {
  std::thread worker;
  {
    std::lock_guard lock(threadMutex_);
    stopRequested_ = true;
    worker = std::move(thread_);
  }
  stopSignal_.notify_all();
  if (worker.joinable()) worker.join();
  applyPending_.store(false);
}

void FlashClock::ThreadMain() {
  using clock = std::chrono::steady_clock;
  auto next = clock::now();
  std::unique_lock lock(threadMutex_);
  while (!stopRequested_) {
    // Nothing flashing: no tick, so an idle window is not woken 20 times
    // a second. The counter stands still meanwhile; controls that flash
    // later still share it and blink in step.
    if (RegisteredCount() == 0) {
      idle_.store(true);
      stopSignal_.wait(lock, [this] { return stopRequested_ || RegisteredCount() != 0; });
      idle_.store(false);
      if (stopRequested_) break;
      next = clock::now();
    }
    next += std::chrono::milliseconds(kPeriodMs);
    if (stopSignal_.wait_until(lock, next, [this] { return stopRequested_; })) break;
    if (clock::now() - next > std::chrono::milliseconds(kPeriodMs)) next = clock::now();
    counter_.fetch_add(1);
    // The phases are applied on the user-interface thread, and only when
    // one of them changes at this tick. If it is busy, ticks are not
    // queued up: one pending application reads the counter as it stands
    // when it runs. Posting happens under the thread lock, so once Stop
    // has returned nothing more is posted.
    if (!PhaseChangeDue()) continue;
    if (!applyPending_.exchange(true)) {
      QCoreApplication* app = QCoreApplication::instance();
      if (app == nullptr) {
        applyPending_.store(false);
        continue;
      }
      QMetaObject::invokeMethod(
          app,
          [this] {
            applyPending_.store(false);
            Deliver();
          },
          Qt::QueuedConnection);
    }
  }
}
