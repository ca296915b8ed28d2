// A wrong, missing or short answer leaves the session waiting with nothing more sent.
#include <gtest/gtest.h>

#include "SampleImage.h"
#include "SessionDoubles.h"

namespace {

struct StallCase {
  const char* name;
  Fault fault;
  int frame;  // 0-based after the handshake: 0..511 data flash, then page selects and blocks
  std::uint8_t state;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const StallCase& c, std::ostream* out) { *out << c.name; }

class Stall : public ::testing::TestWithParam<StallCase> {};

TEST_P(Stall, LeavesTheSessionWaiting) {
  const StallCase& c = GetParam();
  TImage image = MakeSampleImage(3);
  SimulatedDevicePort port;
  RecordingPanes panes;
  TBootSession session(image, port, panes);
  panes.switchOn = true;
  session.ColorButton4Click();
  port.fault = c.fault;
  port.faultFrame = c.frame;
  port.DeviceSends({0x55});
  Delivery(0).Pump(session, port);

  // The acknowledgement plus the frames up to and including the one answered badly.
  EXPECT_EQ(port.writes.size(), static_cast<std::size_t>(c.frame) + 2);
  EXPECT_EQ(session.State().State, c.state);
  EXPECT_TRUE(port.isOpen) << "a stall closes nothing";
  EXPECT_TRUE(panes.switchOn);
  const std::string status = panes.status;

  // Further notifications carrying nothing new change nothing either.
  const std::size_t writes = port.writes.size();
  session.SerialPort1RxChar(1);
  EXPECT_EQ(port.writes.size(), writes);
  EXPECT_EQ(panes.status, status);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, Stall,
    ::testing::Values(StallCase{"WrongSumFirstDataFlashBlock", Fault::WrongSum, 0, stDataFlash},
                      StallCase{"WrongSumDataFlashBlock300", Fault::WrongSum, 300, stDataFlash},
                      StallCase{"WrongSumLastDataFlashBlock", Fault::WrongSum, 511, stDataFlash},
                      StallCase{"PageSelectWithoutAA", Fault::NoAA, 512, stPageSelect},
                      StallCase{"PageSelectOfPage7WithoutAA", Fault::NoAA, 512 + 7 * 5, stPageSelect},
                      StallCase{"WrongSumProgramBlock", Fault::WrongSum, 512 + 3, stProgramBlock},
                      StallCase{"WrongSumLastProgramBlock", Fault::WrongSum, 512 + 599, stProgramBlock},
                      StallCase{"ShortDataFlashResponse", Fault::ShortResponse, 10, stDataFlash},
                      StallCase{"ShortPageSelectResponse", Fault::ShortResponse, 512 + 5, stPageSelect},
                      StallCase{"SilentDevice", Fault::Silence, 100, stDataFlash}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(StallDetail, WrongDataFlashSumStillAdvancesTheGaugeAndKeepsCounters) {
  TImage image = MakeSampleImage(3);
  SimulatedDevicePort port;
  RecordingPanes panes;
  TBootSession session(image, port, panes);
  panes.switchOn = true;
  session.ColorButton4Click();
  port.fault = Fault::WrongSum;
  port.faultFrame = 5;
  port.DeviceSends({0x55});
  Delivery(0).Pump(session, port);
  EXPECT_EQ(session.State().PageIndex, 6);
  EXPECT_EQ(session.State().FramesSent, 6);
  EXPECT_EQ(panes.gauge, 6) << "the gauge moves for every complete response, matching or not";
  EXPECT_EQ(panes.status, "Загрузка в дата-флешь");
}

TEST(StallDetail, LongerResponseNeverCompletes) {
  TImage image = MakeSampleImage(3);
  SimulatedDevicePort port;
  RecordingPanes panes;
  TBootSession session(image, port, panes);
  panes.switchOn = true;
  session.ColorButton4Click();
  port.DeviceSends({0x55});
  Delivery(0).Pump(session, port, 2);  // handshake done, first block sent
  port.inFlight.clear();
  const std::size_t writes = port.writes.size();
  // 132 bytes in two pieces plus one stray byte: the count passes 132 and keeps growing.
  port.inQueue.assign(100, 0);
  session.SerialPort1RxChar(100);
  port.inQueue.assign(33, 0);
  session.SerialPort1RxChar(33);
  EXPECT_EQ(port.writes.size(), writes);
  EXPECT_EQ(session.State().ReceivedLength, 133);
}

}  // namespace
