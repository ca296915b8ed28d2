// The flash clock driven by hand, and once by its own timer thread.
#include "BinaryControl.h"
#include "FlashClock.h"
#include "WidgetTestSupport.h"

#include <QDeadlineTimer>
#include <QThread>
#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>
#include <vector>

namespace {

class Blinker : public TBinaryControl {
public:
  std::vector<std::pair<std::uint32_t, bool>> phases;
  std::function<void()> onPhase;
  bool onGuiThread = true;

protected:
  void DrawFlashPhase(bool phase) override {
    onGuiThread = onGuiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
    phases.emplace_back(FlashClock::Instance().Counter(), phase);
    if (onPhase) onPhase();
  }
};

class FlashClockTest : public ::testing::Test {
protected:
  void SetUp() override {
    clock.Stop();
    clock.SetMillisecondSource([] { return 0u; });
    clock.SetCounter(0);
  }
  void TearDown() override {
    clock.Stop();
    clock.SetMillisecondSource(nullptr);
  }
  void StartFlashing(Blinker& b, TFlashFreq f) {
    b.SetFrequency(f);
    b.SetFlashing(true);
    b.SetChecked(true);
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) clock.Tick();
  }
  FlashClock& clock = FlashClock::Instance();
};

using Phases = std::vector<std::pair<std::uint32_t, bool>>;

}  // namespace

TEST_F(FlashClockTest, OneHertzIsEightTicksOnAndEightOff) {
  Blinker b;
  StartFlashing(b, ff1Hz);
  // Registration sets the last-seen value to mask + milliseconds (8 + 0):
  // the first tick sees bit 3 differ and delivers "off" at once.
  Ticks(40);
  EXPECT_EQ(b.phases, (Phases{{1, false}, {8, true}, {16, false}, {24, true}, {32, false}, {40, true}}));
}

TEST_F(FlashClockTest, EachFrequencyUsesItsCounterBit) {
  const std::pair<TFlashFreq, std::uint32_t> cases[] = {{ff8Hz, 1}, {ff4Hz, 2}, {ff2Hz, 4}, {ff1Hz, 8}, {ff05Hz, 16}};
  for (const auto& [freq, mask] : cases) {
    EXPECT_EQ(FlashMask(freq), mask);
    clock.SetCounter(0);
    clock.SetMillisecondSource([m = mask] { return 0u - m; });  // last-seen 0
    Blinker b;
    StartFlashing(b, freq);
    Ticks(static_cast<int>(mask * 4));
    Phases expected;
    for (std::uint32_t k = 1; k <= 4; ++k) expected.emplace_back(k * mask, k % 2 == 1);
    EXPECT_EQ(b.phases, expected) << "mask " << mask;
  }
}

TEST_F(FlashClockTest, SameFrequencyBlinksInStepAndFrequencyChangeTakesEffect) {
  clock.SetMillisecondSource([] { return 0u - 4u; });  // last-seen 0 for mask 4
  Blinker a;
  Blinker b;
  StartFlashing(a, ff2Hz);
  Ticks(3);
  StartFlashing(b, ff2Hz);
  Ticks(9);
  EXPECT_EQ(a.phases, (Phases{{4, true}, {8, false}, {12, true}}));
  EXPECT_EQ(b.phases, a.phases);

  a.phases.clear();
  clock.SetMillisecondSource([] { return 0u - 1u; });  // last-seen 12 & 1 == 0
  a.SetFrequency(ff8Hz);
  Ticks(3);
  EXPECT_EQ(a.phases, (Phases{{13, true}, {14, false}, {15, true}}));
}

TEST_F(FlashClockTest, StoppedControlsGetNothingAndCounterWraps) {
  Blinker b;
  StartFlashing(b, ff8Hz);
  b.SetChecked(false);
  Ticks(5);
  EXPECT_TRUE(b.phases.empty());

  clock.SetCounter(0xFFFFFFFFu);
  clock.Tick();
  EXPECT_EQ(clock.Counter(), 0u);
}

TEST_F(FlashClockTest, AFailingOrUnregisteringControlDoesNotStopTheTick) {
  clock.SetMillisecondSource([] { return 0u - 1u; });  // last-seen 0: the first tick delivers
  Blinker thrower;
  Blinker victim;
  Blinker last;
  StartFlashing(thrower, ff8Hz);
  StartFlashing(victim, ff8Hz);
  StartFlashing(last, ff8Hz);
  thrower.onPhase = [&] {
    victim.SetChecked(false);  // removed while the tick walks the registry
    throw std::runtime_error("drawing failed");
  };
  clock.Tick();
  EXPECT_EQ(thrower.phases.size(), 1u);
  EXPECT_TRUE(victim.phases.empty());
  EXPECT_EQ(last.phases.size(), 1u);
  EXPECT_FALSE(clock.IsRegistered(&victim));
}

TEST_F(FlashClockTest, TimerThreadDeliversPhasesOnTheUserInterfaceThread) {
  Blinker b;
  StartFlashing(b, ff8Hz);
  clock.Start();
  EXPECT_TRUE(clock.Running());
  // Registering and unregistering while the thread ticks.
  // A generous bound for a loaded machine; the ticks themselves are not timed.
  QDeadlineTimer deadline(30000);
  while (!deadline.hasExpired() && b.phases.size() < 3) {
    Blinker other;
    StartFlashing(other, ff4Hz);
    QTest::qWait(10);
  }
  clock.Stop();
  EXPECT_FALSE(clock.Running());
  EXPECT_GE(b.phases.size(), 3u);
  EXPECT_TRUE(b.onGuiThread);
  for (std::size_t i = 1; i < b.phases.size(); ++i) EXPECT_NE(b.phases[i].second, b.phases[i - 1].second);
}

TEST_F(FlashClockTest, TimerThreadSleepsWhileNothingFlashesAndWakesForTheFirst) {
  clock.Start();
  // Nothing registered: the thread goes to sleep without a tick, so an idle
  // window is not woken.
  QDeadlineTimer asleep(30000);
  while (!asleep.hasExpired() && !clock.Idle()) QTest::qWait(1);
  ASSERT_TRUE(clock.Idle());
  EXPECT_EQ(clock.Counter(), 0u);
  Blinker b;
  StartFlashing(b, ff8Hz);
  QDeadlineTimer deadline(30000);
  while (!deadline.hasExpired() && b.phases.size() < 3) QTest::qWait(10);
  EXPECT_GE(b.phases.size(), 3u);
  EXPECT_GT(clock.Counter(), 0u);
  b.SetChecked(false);
  clock.Stop();
}
