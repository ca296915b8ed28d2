// Whole loads against the simulated boot loader: every frame, every byte, the final panes.
#include <gtest/gtest.h>

#include <algorithm>

#include "HexText.h"
#include "SampleImage.h"
#include "SessionDoubles.h"

namespace {

Bytes RegionBytes(int region, int offset, int count) {
  Bytes bytes;
  for (int i = 0; i < count; ++i) bytes.push_back(SampleByte(region, offset + i, 7));
  return bytes;
}

Bytes Frame(std::uint8_t code, int address, const Bytes& data = {}) {
  Bytes frame;
  frame.reserve(3 + data.size());
  frame.push_back(code);
  frame.push_back(static_cast<std::uint8_t>(address >> 8));
  frame.push_back(static_cast<std::uint8_t>(address & 0xFF));
  for (std::uint8_t byte : data) frame.push_back(byte);
  return frame;
}

// The 1,114 writes of a complete session (1 + 512 + 120 + 480 + 1), in order, with the image's bytes.
std::vector<Bytes> ExpectedWrites() {
  std::vector<Bytes> writes{{0x55, 0x33, 0xCC}};
  for (int k = 0; k < 512; ++k) writes.push_back(Frame(0x66, k * 8, RegionBytes(1, k * 128, 128)));
  for (int p = 0; p < 120; ++p) {
    writes.push_back(Frame(0x11, p * 512));
    for (int b = 0; b < 4; ++b)
      writes.push_back(Frame(0x22, p * 512 + b * 128, RegionBytes(0, p * 512 + b * 128, 128)));
  }
  writes.push_back({0x99, 0x33, 0xCC});
  return writes;
}

void ExpectCompleted(const Rig& rig) {
  const std::vector<Bytes> expected = ExpectedWrites();
  ASSERT_EQ(rig.port.writes.size(), 1114u);
  for (std::size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(rig.port.writes[i], expected[i]) << "write " << i;
  EXPECT_EQ(rig.panes.status, "Загрузка завершена");
  EXPECT_EQ(rig.panes.lastCommand, "99 33 CC");
  EXPECT_EQ(rig.panes.gauge, 0);
  EXPECT_FALSE(rig.panes.switchOn);
  EXPECT_FALSE(rig.port.isOpen);
  EXPECT_TRUE(rig.panes.lamp);
  EXPECT_EQ(rig.panes.listing.size(), 600u);
  // One debug line per complete response: 0x55, 0xAA, 512 + 600 frame responses.
  EXPECT_EQ(rig.panes.debugLog.size(), 1114u);
}

TEST(WholeLoad, EveryFrameCarriesTheImageInOrder) {
  Rig rig;
  rig.SwitchOn();
  EXPECT_EQ(rig.port.deviceName, "COM1");
  EXPECT_EQ(rig.port.dtrWrites, std::vector<bool>{false});
  EXPECT_EQ(rig.panes.status, "Установка связи с БК");
  EXPECT_TRUE(rig.port.writes.empty()) << "the device speaks first";
  rig.Run(Delivery(0));
  ExpectCompleted(rig);
  EXPECT_EQ(rig.port.closes, 1);
  EXPECT_EQ(rig.panes.statusHistory,
            (std::vector<std::string>{"Установка связи с БК", "Связь с БК установлена", "Загрузка в дата-флешь",
                                      "Загрузка в память программ", "Загрузка завершена"}));
}

// The line is gone before the completion command reached the device: every
// block was acknowledged, yet the load is not complete.
TEST(WholeLoad, ACompletionCommandThatNeverLeftIsNoCompletion) {
  Rig rig;
  rig.port.lineGoneAtClose = true;
  rig.SwitchOn();
  rig.Run(Delivery(0));
  EXPECT_FALSE(rig.session.CompletionSent());
  EXPECT_EQ(rig.panes.status, "Связь с БК потеряна до команды завершения");
  EXPECT_EQ(std::count(rig.panes.statusHistory.begin(), rig.panes.statusHistory.end(), "Загрузка завершена"), 0);
  EXPECT_FALSE(rig.panes.switchOn);
  EXPECT_FALSE(rig.port.isOpen);

  rig.port.lineGoneAtClose = false;  // the next device takes it
  rig.SwitchOn();
  rig.Run(Delivery(0));
  EXPECT_TRUE(rig.session.CompletionSent());
  EXPECT_EQ(rig.panes.status, "Загрузка завершена");
}

TEST(WholeLoad, ResponsesInRandomChunksAndOneByteAtATime) {
  for (int chunk : {-7, -200, 1}) {
    SCOPED_TRACE("chunk " + std::to_string(chunk));
    Rig rig;
    rig.SwitchOn();
    rig.Run(Delivery(chunk, 12345));
    ExpectCompleted(rig);
  }
}

TEST(WholeLoad, TurningTheSwitchOnAgainStartsOverFromTheHandshake) {
  Rig rig;
  rig.SwitchOn();
  rig.port.DeviceSends({0x55});
  Delivery(0).Pump(rig.session, rig.port, 40);  // partway into the data-flash phase
  ASSERT_EQ(rig.session.State().State, stDataFlash);
  rig.SwitchOff();
  EXPECT_FALSE(rig.port.isOpen);
  EXPECT_EQ(rig.panes.status, "");
  EXPECT_EQ(rig.panes.gauge, 0);
  EXPECT_FALSE(rig.panes.debugLog.empty()) << "switching off keeps the logs";

  rig.port.writes.clear();
  rig.SwitchOn();
  EXPECT_TRUE(rig.panes.debugLog.empty()) << "switching on clears the debug log";
  rig.Run(Delivery(0));
  ExpectCompleted(rig);
}

TEST(WholeLoad, SecondSessionAfterCompletionLoadsAgain) {
  Rig rig;
  rig.SwitchOn();
  rig.Run(Delivery(0));
  rig.port.writes.clear();
  rig.SwitchOn();
  rig.Run(Delivery(-50, 3));
  ExpectCompleted(rig);
}

TEST(WholeLoad, PanesThatOnlyCountTheListingGetTheSameLoadAndGauge) {
  Rig rig;
  rig.panes.showsListingText = false;
  rig.SwitchOn();
  rig.port.DeviceSends({0x55});
  Delivery(0).Pump(rig.session, rig.port, 2);
  EXPECT_EQ(rig.panes.gaugeMax, 512);
  EXPECT_EQ(rig.panes.listing, std::vector<std::string>(512));
  Delivery(0).Pump(rig.session, rig.port);
  ExpectCompleted(rig);
}

TEST(WholeLoad, GaugeDuringTheFirstPages) {
  Rig rig;
  rig.SwitchOn();
  rig.port.DeviceSends({0x55});
  // Through the data-flash phase: after the response to frame n the gauge shows n.
  Delivery(0).Pump(rig.session, rig.port, 2 + 256);
  EXPECT_EQ(rig.panes.gaugeMax, 512);
  EXPECT_EQ(rig.panes.gauge, 256);
  Delivery(0).Pump(rig.session, rig.port, 256);
  ASSERT_EQ(rig.session.State().State, stPageSelect);
  EXPECT_EQ(rig.panes.gaugeMax, 600);
  EXPECT_EQ(rig.panes.gauge, 0);
  EXPECT_EQ(rig.session.State().FramesSent, 1);

  // Responses to frames 1..7 of the program phase: FramesSent after sending and the gauge.
  const int framesSent[] = {2, 3, 4, 5, 6, 7, 8};
  const int progress[] = {1, 2, 3, 4, 4, 5, 7};
  for (int i = 0; i < 7; ++i) {
    Delivery(0).Pump(rig.session, rig.port, 1);
    EXPECT_EQ(rig.session.State().FramesSent, framesSent[i]) << "after response " << i + 1;
    EXPECT_EQ(rig.panes.gauge, progress[i]) << "after response " << i + 1;
  }
  EXPECT_EQ(rig.panes.lastCommand.substr(0, 6), "220280");
}

}  // namespace
