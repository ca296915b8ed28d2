// The receive path, the handshake, frame encoding, listings and the errors a bad image raises.
#include <gtest/gtest.h>

#include "HexText.h"
#include "SampleImage.h"
#include "SessionDoubles.h"

namespace {

// A session switched on, its parts under their short names.
struct Fixture : ::testing::Test {
  Rig rig{11};
  TImage& image = rig.image;
  SimulatedDevicePort& port = rig.port;
  RecordingPanes& panes = rig.panes;
  TBootSession& session = rig.session;

  void SetUp() override { rig.SwitchOn(); }
  void Notify(const Bytes& bytes) {
    port.inQueue.insert(port.inQueue.end(), bytes.begin(), bytes.end());
    session.SerialPort1RxChar(static_cast<int>(port.inQueue.size()));
    port.inFlight.clear();  // the scripted bytes stand in for the device
  }
};

TEST(HexFormatting, SpaceBeforeEveryByteAndResponseBytePositions) {
  const Bytes bytes{0x55, 0x33, 0xCC};
  EXPECT_EQ(FormatHexBytes(bytes.data(), bytes.size()), " 55 33 CC");
  EXPECT_EQ(FormatHexBytes(bytes.data(), 0), "");
  EXPECT_EQ(ResponseByte(" 11 00 00 AA", 3), 0xAA);
  EXPECT_EQ(ResponseByte(" 11 00 00 aa", 3), 0xAA);
  EXPECT_THROW(ResponseByte(" 11 00 00", 3), EConvertError);
  EXPECT_THROW(ResponseByte(" 11 00 00 A", 3), EConvertError);
}

TEST_F(Fixture, GreetingIsLoggedAndAcknowledgedOnce) {
  Notify({0x55});
  EXPECT_EQ(panes.trafficLog, (std::vector<std::string>{" - >  55", " - от ПК - > 55 33 CC"}));
  EXPECT_EQ(panes.debugLog, std::vector<std::string>{" - >  55"});
  EXPECT_EQ(panes.lastResponse, " - >  55");
  ASSERT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(port.writes[0], (Bytes{0x55, 0x33, 0xCC}));
  EXPECT_TRUE(panes.lamp);
  EXPECT_EQ(session.State().FramesSent, 0) << "the acknowledgement is not a frame";
  EXPECT_EQ(panes.lastCommand, "");

  Notify({0x55});
  EXPECT_EQ(port.writes.size(), 1u) << "a second greeting writes nothing";
}

// Glitch bytes before the greeting in the same read are skipped; after the
// greeting only a notification's first byte counts.
TEST_F(Fixture, GreetingBehindGlitchBytesThenOnlyTheFirstByteCounts) {
  Notify({0xAA});  // before any greeting: ignored
  EXPECT_TRUE(port.writes.empty());
  EXPECT_FALSE(panes.lamp);
  Notify({0x00, 0xFF, 0x13});  // a line powering up, no greeting yet
  EXPECT_TRUE(port.writes.empty());
  Notify({0x00, 0xFF, 0x13, 0x55, 0xAA});  // the greeting behind them; its 0xAA is not first
  ASSERT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(port.writes[0], (Bytes{0x55, 0x33, 0xCC}));
  EXPECT_TRUE(panes.lamp);
  Notify({0x00, 0x55});  // a greeting after the first byte once acknowledged: nothing more
  EXPECT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(session.State().HandshakeStage, 1);
  Notify({0x00, 0xAA});
  EXPECT_EQ(session.State().State, stHandshake);
  Notify({0xAA, 0x00});  // completes the handshake
  EXPECT_EQ(session.State().State, stDataFlash);
  EXPECT_EQ(panes.status, "Загрузка в дата-флешь");
  ASSERT_EQ(port.writes.size(), 2u);
  EXPECT_EQ(port.writes[1][0], 0x66);
}

TEST_F(Fixture, DataFlashPhaseStartsWithItsListingAndFirstBlock) {
  Notify({0x55});
  Notify({0xAA});
  ASSERT_EQ(panes.listing.size(), 512u);
  EXPECT_EQ(panes.listing.front(), "cmd 05:000000 80 " + ReadBlockText(image.StringGrid2, 1));
  EXPECT_EQ(panes.listing.back(), "cmd 05:00FF80 80 " + ReadBlockText(image.StringGrid2, 4089));
  EXPECT_EQ(panes.listing[5].size(), 273u);
  EXPECT_EQ(panes.gaugeMax, 512);
  EXPECT_EQ(panes.gauge, 0);
  EXPECT_EQ(panes.lastCommand, "660000" + ReadBlockText(image.StringGrid2, 1));
  EXPECT_EQ(session.State().PageIndex, 1);
  EXPECT_EQ(session.State().ExpectedLength, 132);
}

TEST_F(Fixture, ABlockChangedAfterItWasReadAheadGoesOutAsItNowStands) {
  Notify({0x55});
  Notify({0xAA});  // the first block goes out; the second is read ahead
  const std::string changed = image.StringGrid2.Cell(1, 9) == "5A" ? "A5" : "5A";
  image.StringGrid2.SetCell(1, 9, changed);
  Bytes answer = ConvertCommandText(panes.lastCommand);
  answer.push_back(FrameDataSum(answer));
  Notify(answer);
  EXPECT_EQ(panes.lastCommand, "660008" + ReadBlockText(image.StringGrid2, 9));
  EXPECT_EQ(port.writes.back()[3], static_cast<std::uint8_t>(HexToInt(changed)));
}

TEST_F(Fixture, ResponseAssembledFromPiecesAndReplacedByAWholeOne) {
  Notify({0x55});
  Notify({0xAA});
  port.writes.clear();
  // The device's answer to the first block, built here: echo plus the block sum.
  const Bytes frame = ConvertCommandText(panes.lastCommand);
  Bytes response = frame;
  response.push_back(FrameDataSum(frame));
  ASSERT_EQ(response.size(), 132u);

  // A stray partial answer, then the whole answer in one notification: the earlier part is dropped.
  Notify(Bytes(response.begin(), response.begin() + 10));
  EXPECT_TRUE(port.writes.empty());
  Notify(response);
  ASSERT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(panes.debugLog.back(), " - > " + FormatHexBytes(response.data(), response.size()));

  // 100 then 32 bytes: complete after the second, one debug line for it.
  const Bytes second = [&] {
    Bytes f = ConvertCommandText(panes.lastCommand);
    f.push_back(FrameDataSum(f));
    return f;
  }();
  const std::size_t debugLines = panes.debugLog.size();
  Notify(Bytes(second.begin(), second.begin() + 100));
  EXPECT_EQ(panes.debugLog.size(), debugLines);
  Notify(Bytes(second.begin() + 100, second.end()));
  EXPECT_EQ(panes.debugLog.size(), debugLines + 1);
  EXPECT_EQ(panes.debugLog.back(), " - > " + FormatHexBytes(second.data(), second.size()));
  EXPECT_EQ(port.writes.size(), 2u);
}

TEST_F(Fixture, MoreThanABufferfulIsReadInPiecesAndEveryByteLogged) {
  Bytes many(2500);
  for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<std::uint8_t>(i * 7);
  many[0] = 0x55;
  Notify(many);
  EXPECT_TRUE(port.inQueue.empty()) << "nothing left behind";
  ASSERT_EQ(panes.trafficLog.size(), 2u);
  EXPECT_EQ(panes.trafficLog[0], " - > " + FormatHexBytes(many.data(), many.size()));
  EXPECT_EQ(port.writes.size(), 1u);
}

TEST_F(Fixture, NothingReadMeansNothingHappens) {
  session.SerialPort1RxChar(5);  // queue empty: ReadBytes returns 0
  EXPECT_TRUE(panes.trafficLog.empty());
  EXPECT_TRUE(panes.debugLog.empty());
}

TEST(SendFrame, ConvertsRecordsAndWrites) {
  Rig rig{TImage()};
  SimulatedDevicePort& port = rig.port;
  TBootSession& session = rig.session;
  port.isOpen = true;

  session.SendFrame("11 00 00");
  EXPECT_EQ(port.writes.back(), (Bytes{0x11, 0x00, 0x00}));
  EXPECT_EQ(session.State().ExpectedLength, 4);
  EXPECT_EQ(session.State().ExpectedSum, 0);
  EXPECT_EQ(session.State().FramesSent, 1);
  EXPECT_TRUE(rig.panes.lamp);

  std::string ff = "660008";
  for (int i = 0; i < 128; ++i) ff += "FF";
  session.SendFrame(ff);
  EXPECT_EQ(session.State().ExpectedSum, 0x80);
  EXPECT_EQ(session.State().ExpectedLength, 132);

  std::string ramp = "660000";
  for (int i = 0; i < 128; ++i) ramp += IntToHex(static_cast<std::uint32_t>(i), 2);
  session.SendFrame(ramp);
  EXPECT_EQ(session.State().ExpectedSum, 0xC0);
  EXPECT_EQ(port.writes.back().size(), 131u);
  EXPECT_EQ(port.writes.back()[3 + 0x7F], 0x7F);

  session.SendFrame("11 0a b");  // odd digit dropped, lower case accepted
  EXPECT_EQ(port.writes.back(), (Bytes{0x11, 0x0A}));
  session.SendFrame("1 10 0");  // spaces are dropped before the digits pair up
  EXPECT_EQ(port.writes.back(), (Bytes{0x11, 0x00}));
  EXPECT_EQ(session.State().FramesSent, 5);

  // A non-hex character: nothing written, nothing recorded.
  const std::size_t writes = port.writes.size();
  EXPECT_THROW(session.SendFrame("66 00 0G"), EConvertError);
  EXPECT_EQ(port.writes.size(), writes);
  EXPECT_EQ(session.State().FramesSent, 5);
  EXPECT_EQ(session.State().ExpectedLength, 3);
}

TEST(BadImage, EmptyTablesNeverReachTheDeviceAsShortFrames) {
  TImage empty;  // no file loaded
  empty.SetupHeaders();
  Rig rig(std::move(empty));
  rig.SwitchOn();
  try {
    rig.Run(Delivery(0));
    FAIL() << "an empty block must raise";
  } catch (const EBlockDataError& e) {
    EXPECT_NE(std::string(e.what()).find("0000"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("128"), std::string::npos) << e.what();
  }
  ASSERT_EQ(rig.port.writes.size(), 1u) << "only the handshake acknowledgement went out";
  EXPECT_EQ(rig.session.State().FramesSent, 0);
  EXPECT_TRUE(rig.port.isOpen);
}

TEST(CommandText, PairsWithOrWithoutBlanksAndTheirFaults) {
  using Bytes = std::vector<std::uint8_t>;
  EXPECT_EQ(ConvertCommandText("1100A0"), (Bytes{0x11, 0x00, 0xA0}));
  EXPECT_EQ(ConvertCommandText("11 0 0a0"), (Bytes{0x11, 0x00, 0xA0}));  // blanks anywhere, small letters
  EXPECT_EQ(ConvertCommandText("11000"), (Bytes{0x11, 0x00}));           // a single last digit is dropped
  try {
    ConvertCommandText("11G0");
    FAIL() << "a non-hex pair must raise";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'$G0' is not a valid integer value");
  }
  EXPECT_EQ(ConvertCommandText(std::string(510, 'F')).size(), 255u);
  EXPECT_THROW(ConvertCommandText(std::string(512, 'F')), EConvertError);
}

TEST(BadImage, BlockTextKeepsCellsOfEveryLengthInOrder) {
  TImage image = MakeSampleImage(5);
  const std::string whole = ReadBlockText(image.StringGrid1, 9);
  image.StringGrid1.SetCell(2, 9, "A");      // the second cell of the block's first row
  image.StringGrid1.SetCell(16, 16, "BCD");  // the block's last cell
  EXPECT_EQ(ReadBlockText(image.StringGrid1, 9), whole.substr(0, 2) + "A" + whole.substr(4, 250) + "BCD");
}

TEST(BadImage, ShortOrNonHexCellStopsItsBlockOnly) {
  for (const char* bad : {"F", "", "ZZ"}) {
    SCOPED_TRACE(bad);
    Rig rig(5);
    // Program memory page 2, block 1, line 0, byte 3.
    rig.image.StringGrid1.SetCell(4, BlockFirstRow(2, 1), bad);
    rig.SwitchOn();
    EXPECT_THROW(rig.Run(Delivery(0)), EConvertError);
    // ack + 512 data-flash + page 0 (5) + page 1 (5) + page 2 select + block 0.
    EXPECT_EQ(rig.port.writes.size(), 1u + 512 + 5 + 5 + 2);
    EXPECT_EQ(rig.panes.lastCommand.substr(0, 6), "220480");
    EXPECT_EQ(rig.session.State().FramesSent, 12);
    // The session waits: more notifications send nothing.
    rig.session.SerialPort1RxChar(1);
    EXPECT_EQ(rig.port.writes.size(), 1u + 512 + 5 + 5 + 2);
  }
}

// The handler stops at the failed Open: the switch stays on, nothing is
// reset; turning it off returns to idle.
TEST(SwitchHandler, FailedOpenLeavesTheSwitchOnUntilTurnedOff) {
  Rig rig{TImage()};
  rig.panes.status = "Загрузка завершена";
  rig.panes.portName = "COM3";
  rig.port.failOpen = true;
  EXPECT_THROW(rig.SwitchOn(), std::runtime_error);
  EXPECT_EQ(rig.port.deviceName, "COM3");
  EXPECT_TRUE(rig.panes.switchOn);
  EXPECT_EQ(rig.panes.status, "Загрузка завершена");
  EXPECT_TRUE(rig.port.dtrWrites.empty());
  rig.SwitchOff();
  EXPECT_FALSE(rig.port.isOpen);
  EXPECT_EQ(rig.panes.status, "");
}

TEST(Listings, ProgramPhaseListsPagesAndBlocks) {
  Rig rig(2);
  const std::vector<std::string> lines = rig.session.ProgramListing();
  ASSERT_EQ(lines.size(), 600u);
  EXPECT_EQ(lines[0], "cmd 01:0000");
  EXPECT_EQ(lines[2], "cmd 02:0080 80 " + ReadBlockText(rig.image.StringGrid1, 9));
  EXPECT_EQ(lines[595], "cmd 01:EE00");
  EXPECT_EQ(lines[599], "cmd 02:EF80 80 " + ReadBlockText(rig.image.StringGrid1, 3833));
}

}  // namespace
