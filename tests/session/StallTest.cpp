// A wrong, missing or short answer leaves the session waiting with nothing more sent.
#include <gtest/gtest.h>

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
  Rig rig(3);
  rig.SwitchOn();
  rig.port.fault = c.fault;
  rig.port.faultFrame = c.frame;
  rig.Run(Delivery(0));

  // The acknowledgement plus the frames up to and including the one answered badly.
  EXPECT_EQ(rig.port.writes.size(), static_cast<std::size_t>(c.frame) + 2);
  EXPECT_EQ(rig.session.State().State, c.state);
  EXPECT_TRUE(rig.port.isOpen) << "a stall closes nothing";
  EXPECT_TRUE(rig.panes.switchOn);
  const std::string status = rig.panes.status;

  // Further notifications carrying nothing new change nothing either.
  const std::size_t writes = rig.port.writes.size();
  rig.session.SerialPort1RxChar(1);
  EXPECT_EQ(rig.port.writes.size(), writes);
  EXPECT_EQ(rig.panes.status, status);
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
  Rig rig(3);
  rig.SwitchOn();
  rig.port.fault = Fault::WrongSum;
  rig.port.faultFrame = 5;
  rig.Run(Delivery(0));
  EXPECT_EQ(rig.session.State().PageIndex, 6);
  EXPECT_EQ(rig.session.State().FramesSent, 6);
  EXPECT_EQ(rig.panes.gauge, 6) << "the gauge moves for every complete response, matching or not";
  EXPECT_EQ(rig.panes.status, "Загрузка в дата-флешь");
}

TEST(StallDetail, LongerResponseNeverCompletes) {
  Rig rig(3);
  rig.SwitchOn();
  rig.port.DeviceSends({0x55});
  Delivery(0).Pump(rig.session, rig.port, 2);  // handshake done, first block sent
  rig.port.inFlight.clear();
  const std::size_t writes = rig.port.writes.size();
  // 132 bytes in two pieces plus one stray byte: the count passes 132 and keeps growing.
  rig.port.inQueue.assign(100, 0);
  rig.session.SerialPort1RxChar(100);
  rig.port.inQueue.assign(33, 0);
  rig.session.SerialPort1RxChar(33);
  EXPECT_EQ(rig.port.writes.size(), writes);
  EXPECT_EQ(rig.session.State().ReceivedLength, 133);
}

}  // namespace
