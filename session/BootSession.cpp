#include "BootSession.h"

#include <algorithm>

#include "FrameEncoding.h"
#include "HexText.h"
#include "StatusTexts.h"

namespace {

constexpr int kReceiveBufferSize = 1024;

std::string Hex(std::int64_t value, int digits) { return IntToHex(static_cast<std::uint32_t>(value), digits); }

}  // namespace

TBootSession::TBootSession(const TImage& image, ISessionPort& port, ISessionPanes& panes)
    : image_(image), port_(port), panes_(panes) {}

void TBootSession::FormCreate() {
  state_.HandshakeStage = 0;
  state_.ReceivedLength = 0;
}

void TBootSession::ColorButton4Click() {
  if (panes_.SwitchChecked()) {
    port_.SetDeviceName(panes_.SelectedPortName());
    // A port that cannot be opened ends the handler here: the switch stays
    // on until the user turns it off, which returns everything to idle.
    port_.Open();
    port_.SetDtrLine(false);
    completionSent_ = false;
    state_.HandshakeStage = 0;
    state_.ReceivedLength = 0;
    state_.State = stHandshake;
    panes_.SetStatusText(kLinkSetUp);
    panes_.ClearDebugLog();
  }
  if (!panes_.SwitchChecked()) {
    port_.Close();
    panes_.SetGaugeProgress(0);
    panes_.SetStatusText("");
  }
}

void TBootSession::LineLost() {
  panes_.SetSwitchChecked(false);
  port_.Close();
  panes_.SetGaugeProgress(0);
  panes_.SetStatusText(kLinkLost);
}

// ---- receive path ----

std::vector<std::uint8_t> TBootSession::ReadWaitingBytes(int count) {
  // The buffer holds 1024 bytes; a larger batch is read in pieces so that no
  // byte is left behind or dropped.
  std::vector<std::uint8_t> received;
  std::uint8_t buffer[kReceiveBufferSize];
  int remaining = count;
  while (remaining > 0) {
    const int want = std::min(remaining, kReceiveBufferSize);
    const int got = port_.ReadBytes(buffer, want);
    if (got <= 0) break;
    received.insert(received.end(), buffer, buffer + got);
    remaining -= got;
    if (got < want) break;
  }
  return received;
}

bool TBootSession::AssembleResponse(const std::string& hex, int count) {
  if (state_.State == stHandshake) {
    state_.Response = hex;  // every greeting notification stands alone
    return true;
  }
  if (count == state_.ExpectedLength) {
    state_.Response = hex;
    return true;
  }
  state_.Response += hex;
  state_.ReceivedLength = static_cast<std::uint8_t>(state_.ReceivedLength + static_cast<std::uint8_t>(count));
  return state_.ReceivedLength == state_.ExpectedLength;
}

void TBootSession::SerialPort1RxChar(int count) {
  const std::vector<std::uint8_t> received = ReadWaitingBytes(count);
  if (received.empty()) return;
  const int got = static_cast<int>(received.size());
  const std::string hex = FormatHexBytes(received.data(), received.size());
  panes_.AppendTrafficLog(" - > " + hex);

  if (!AssembleResponse(hex, got)) return;
  if (state_.Response.empty()) {
    panes_.SetStatusText(kEmptyResponse);
    return;
  }
  const std::string line = " - > " + state_.Response;
  panes_.AppendDebugLog(line);
  panes_.SetLastResponse(line);

  switch (state_.State) {
    case stDataFlash: DataFlashAcknowledged(); break;
    case stPageSelect: PageSelectAcknowledged(); break;
    case stProgramBlock: BlockAcknowledged(); break;
    case stHandshake: Handshake(received); break;
    default: break;
  }
}

void TBootSession::Handshake(const std::vector<std::uint8_t>& received) {
  // A line at power-on can put glitch bytes before the greeting in the same
  // read: while the greeting is awaited they are skipped. From the greeting
  // on, only the first byte of a notification counts.
  const bool greeting = std::find(received.begin(), received.end(), 0x55) != received.end();
  const std::uint8_t firstByte = received.front();
  if (greeting && state_.HandshakeStage == 0) {
    panes_.SetResponseLamp(true);
    state_.HandshakeStage = 1;
    port_.WriteBytes(HandshakeAck, sizeof HandshakeAck);
    panes_.AppendTrafficLog(" - от ПК - >" + FormatHexBytes(HandshakeAck, sizeof HandshakeAck));
  } else if (firstByte == 0xAA && state_.HandshakeStage == 1) {
    panes_.SetResponseLamp(true);
    panes_.SetStatusText(kLinkEstablished);
    state_.HandshakeStage = 2;
    panes_.SetStatusText(kLoadingDataFlash);
    StartDataFlashPhase();
  }
}

// ---- frames ----

void TBootSession::SendFrame(const std::string& text) {
  panes_.SetResponseLamp(true);
  Transmit(ConvertCommandText(text));
}

void TBootSession::SendBlockFrame(const std::string& text) {
  panes_.SetResponseLamp(true);
  const std::vector<std::uint8_t> frame = ConvertCommandText(text);
  if (frame.size() != static_cast<std::size_t>(BlockFrameLength)) {
    const std::string address = text.substr(2, 4);
    throw EBlockDataError("Блок по адресу " + address + " не отправлен: в нём " +
                          std::to_string(frame.size() < 3 ? 0 : frame.size() - 3) +
                          " байт данных вместо 128. Загрузите исправный файл обновления");
  }
  Transmit(frame);
}

void TBootSession::Transmit(const std::vector<std::uint8_t>& frame) {
  const std::size_t n = frame.size();
  state_.ExpectedSum = n >= 4 ? FrameDataSum(frame) : 0;
  state_.ExpectedLength = static_cast<std::uint8_t>(n + 1);
  ++state_.FramesSent;
  port_.WriteBytes(frame.data(), static_cast<int>(n));
}

// ---- data-flash phase ----

std::vector<std::string> TBootSession::DataFlashListing() const {
  std::vector<std::string> lines;
  lines.reserve(DataFlashBlocks);
  for (int page = 0; page < DataFlashBlocks / 4; ++page)
    for (int block = 0; block < 4; ++block)
      lines.push_back("cmd 05:" + Hex(page * 512 + block * 128, 6) + " 80 " +
                      ReadBlockText(image_.StringGrid2, BlockFirstRow(page, block)));
  return lines;
}

void TBootSession::BeginPhase(std::vector<std::string> (TBootSession::*listing)() const, int lines) {
  // Panes that only count the listing are spared its text.
  panes_.SetCommandListing(panes_.ShowsCommandListingText() ? (this->*listing)() : std::vector<std::string>(lines));
  state_.PageIndex = 0;
  state_.HandshakeStage = 0;
  state_.ReceivedLength = 0;
  state_.FramesSent = 0;
  panes_.SetGaugeMax(panes_.CommandListingLineCount());
  panes_.SetGaugeProgress(0);
  state_.Response.clear();
}

void TBootSession::StartDataFlashPhase() {
  BeginPhase(&TBootSession::DataFlashListing, DataFlashBlocks);
  const std::string text =
      "66" + Hex(state_.PageIndex * 8, 4) + BlockText(image_.StringGrid2, state_.PageIndex * 8 + 1);
  state_.PageIndex = 1;
  panes_.SetLastCommand(text);
  SendBlockFrame(text);
  PrepareBlock(image_.StringGrid2, state_.PageIndex * 8 + 1);
  state_.State = stDataFlash;
}

void TBootSession::DataFlashAcknowledged() {
  panes_.SetGaugeProgress(panes_.GaugeProgress() + 1);
  panes_.SetResponseLamp(true);
  if (ResponseByte(state_.Response, 131) != state_.ExpectedSum) return;  // waits
  if (state_.FramesSent < DataFlashBlocks)
    SendDataFlashBlock();
  else
    StartProgramPhase();
}

void TBootSession::SendDataFlashBlock() {
  state_.ReceivedLength = 0;
  state_.Response.clear();
  const int row = state_.PageIndex * 8 + 1;
  const std::string text = "66" + Hex(state_.PageIndex * 8, 4) + BlockText(image_.StringGrid2, row);
  ++state_.PageIndex;
  panes_.SetLastCommand(text);
  panes_.SetGaugeProgress(static_cast<std::int32_t>(state_.FramesSent));
  SendBlockFrame(text);
  if (state_.FramesSent < DataFlashBlocks) PrepareBlock(image_.StringGrid2, row + 8);
}

// ---- program-memory phase ----

std::vector<std::string> TBootSession::ProgramListing() const {
  std::vector<std::string> lines;
  lines.reserve(ProgramPhaseFrames);
  for (int page = 0; page < ProgramPages; ++page) {
    lines.push_back("cmd 01:" + Hex(page * 512, 4));
    for (int block = 0; block < 4; ++block)
      lines.push_back("cmd 02:" + Hex(page * 512 + block * 128, 4) + " 80 " +
                      ReadBlockText(image_.StringGrid1, BlockFirstRow(page, block)));
  }
  return lines;
}

void TBootSession::StartProgramPhase() {
  panes_.SetStatusText(kLoadingProgram);
  BeginPhase(&TBootSession::ProgramListing, ProgramPhaseFrames);
  state_.BlockStep = 1;
  const std::string text = "11 00 00";
  panes_.SetLastCommand(text);
  SendFrame(text);
  state_.State = stPageSelect;
  PrepareBlock(image_.StringGrid1, BlockFirstRow(0, 0));
}

void TBootSession::SendProgramBlock() {
  const int block = state_.BlockStep - 2;
  const int row = BlockFirstRow(state_.PageIndex, block);
  const std::string text = "22" + Hex(state_.PageIndex * 512 + block * 128, 4) + BlockText(image_.StringGrid1, row);
  panes_.SetLastCommand(text);
  if (block == 0)
    panes_.SetGaugeProgress(panes_.GaugeProgress() + 1);
  else
    panes_.SetGaugeProgress(static_cast<std::int32_t>(state_.FramesSent));
  SendBlockFrame(text);
  // The next block in load order starts 8 rows on, on this page or the next.
  if (state_.PageIndex < ProgramPages - 1 || block < 3) PrepareBlock(image_.StringGrid1, row + 8);
}

std::string TBootSession::BlockText(const TImageTable& table, int firstRow) {
  if (prepared_.table == &table && prepared_.firstRow == firstRow && prepared_.stamp == table.Stamp()) {
    prepared_.table = nullptr;
    return std::move(prepared_.text);
  }
  return ReadBlockText(table, firstRow);
}

void TBootSession::PrepareBlock(const TImageTable& table, int firstRow) {
  prepared_.table = &table;
  prepared_.firstRow = firstRow;
  prepared_.stamp = table.Stamp();
  prepared_.text = ReadBlockText(table, firstRow);
}

void TBootSession::PageSelectAcknowledged() {
  panes_.SetResponseLamp(true);
  if (ResponseByte(state_.Response, 3) != 0xAA || state_.PageIndex >= ProgramPages) return;  // waits
  state_.ReceivedLength = 0;
  state_.Response.clear();
  ++state_.BlockStep;
  SendProgramBlock();
  state_.State = stProgramBlock;
}

void TBootSession::BlockAcknowledged() {
  panes_.SetResponseLamp(true);
  if (ResponseByte(state_.Response, 131) != state_.ExpectedSum) return;  // waits
  if (state_.PageIndex >= ProgramPages - 1 && state_.BlockStep == 5) {
    FinishLoading();
    return;
  }
  state_.ReceivedLength = 0;
  state_.Response.clear();
  ++state_.BlockStep;
  if (state_.BlockStep == 6) {
    state_.BlockStep = 1;
    ++state_.PageIndex;
    const std::string text = "11" + Hex(state_.PageIndex * 512, 4);
    panes_.SetLastCommand(text);
    SendFrame(text);
    state_.State = stPageSelect;
  } else {
    SendProgramBlock();
  }
}

void TBootSession::FinishLoading() {
  panes_.SetGaugeProgress(static_cast<std::int32_t>(state_.FramesSent));
  panes_.SetSwitchChecked(false);
  port_.WriteBytes(CompletionCommand, sizeof CompletionCommand);
  panes_.SetLastCommand("99 33 CC");
  // The load is complete only once the completion command has reached the
  // device: a line that hung up after the last answer has not taken it.
  completionSent_ = port_.Close();
  panes_.SetStatusText(completionSent_ ? kLoadingDone : kCompletionNotSent);
  panes_.SetGaugeProgress(0);
}
