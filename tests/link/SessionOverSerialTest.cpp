// The session over the real serial component and the simulated device.
#include <gtest/gtest.h>

#include <functional>

#include "BootLoaderSim.h"
#include "MainLoop.h"
#include "SampleImage.h"
#include "SerialSessionPort.h"
#include "SessionDoubles.h"
#include "StatusTexts.h"

namespace {

// The session's panes, with a hook when the session turns the switch off.
class TSwitchWatchingPanes : public RecordingPanes {
public:
  std::function<void()> switchedOff;
  void SetSwitchChecked(bool on) override {
    RecordingPanes::SetSwitchChecked(on);
    if (!on && switchedOff) switchedOff();
  }
};

// Every block acknowledged, and the line gone just before the completion
// command is written (the session turns the switch off right before): the
// port cannot hand it over, and the load is not complete.
TEST(SessionOverSerial, ALineGoneBeforeTheCompletionCommandIsNoCompletion) {
  TMainLoop loop;
  const TImage image = MakeSampleImage(5);
  TBootLoaderSim sim;
  sim.Start();
  TSerialPort port;
  port.SetBaudrate(br38400);
  TSerialSessionPort link(port);
  TSwitchWatchingPanes panes;
  panes.portName = sim.SlavePath();
  TBootSession session(image, link, panes);
  session.FormCreate();
  port.OnRxChar = [&](TCustomSerialPort*, int count) { session.SerialPort1RxChar(count); };
  panes.switchedOff = [&] { sim.Stop(); };  // the device goes: its line is closed
  panes.switchOn = true;
  session.ColorButton4Click();
  ASSERT_TRUE(loop.Until([&] { return !panes.switchOn; }, 30000));
  EXPECT_EQ(sim.Result().FramesReceived, TBootLoaderSim::kTotalFrames);
  EXPECT_FALSE(session.CompletionSent());
  EXPECT_EQ(panes.status, kCompletionNotSent);
  EXPECT_EQ(port.UnsentAtClose(), 3u);
  EXPECT_FALSE(port.IsOpen());
}

}  // namespace
