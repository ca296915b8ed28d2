#pragma once
// The boot-loader session: a state machine driven by received bytes. It runs
// on the user-interface thread only, so it holds no lock; it advances when
// the port reports bytes and, as a rule, answers each complete response with
// exactly one further frame.
#include <cstdint>
#include <string>
#include <vector>

#include "ImageTable.h"
#include "SessionLinks.h"
#include "SessionState.h"

inline constexpr int DataFlashBlocks = 512;  // 128-byte blocks of the data-flash region
inline constexpr int ProgramPages = 120;     // 512-byte pages of program memory that are sent
inline constexpr int ProgramPhaseFrames = ProgramPages * 5;
inline constexpr std::uint8_t HandshakeAck[3] = {0x55, 0x33, 0xCC};
inline constexpr std::uint8_t CompletionCommand[3] = {0x99, 0x33, 0xCC};

class TBootSession {
public:
  TBootSession(const TImage& image, ISessionPort& port, ISessionPanes& panes);

  // The last steps of window creation.
  void FormCreate();
  // The switch has already toggled itself; starts or stops the session.
  void ColorButton4Click();
  // Bytes are waiting in the port's input queue.
  void SerialPort1RxChar(int count);
  // The line hung up (the device or its adapter gone). Unlike a silent
  // device, which may still answer, nothing more can come: the session ends
  // as the switch turned off would end it, and the status line says why.
  void LineLost();

  const TSessionState& State() const { return state_; }
  // The last load got as far as the completion command, and the port handed
  // it to the device before it closed.
  bool CompletionSent() const { return completionSent_; }

  // Converts, records the expected response and writes one frame.
  void SendFrame(const std::string& text);

  // The phase listings, as they go into the command listing pane.
  std::vector<std::string> DataFlashListing() const;
  std::vector<std::string> ProgramListing() const;

private:
  std::vector<std::uint8_t> ReadWaitingBytes(int count);
  bool AssembleResponse(const std::string& hex, int count);
  void Handshake(const std::vector<std::uint8_t>& received);
  // What both loading phases reset as they begin: listing, counters, gauge, response.
  void BeginPhase(std::vector<std::string> (TBootSession::*listing)() const, int lines);
  void StartDataFlashPhase();
  void DataFlashAcknowledged();
  void SendDataFlashBlock();
  void StartProgramPhase();
  void PageSelectAcknowledged();
  void BlockAcknowledged();
  void SendProgramBlock();
  void FinishLoading();
  // A block frame goes out only with all 128 data bytes.
  void SendBlockFrame(const std::string& text);
  void Transmit(const std::vector<std::uint8_t>& frame);
  // A block's text, taken from what PrepareBlock read if the table has not
  // changed since. The next block is read once the current frame is out,
  // while the device works: by then the table is cold in the cache, and
  // reading it before the write would hold up every exchange.
  std::string BlockText(const TImageTable& table, int firstRow);
  void PrepareBlock(const TImageTable& table, int firstRow);

  struct TPreparedBlock {
    const TImageTable* table = nullptr;
    int firstRow = 0;
    std::uint64_t stamp = 0;
    std::string text;
  };

  const TImage& image_;
  ISessionPort& port_;
  ISessionPanes& panes_;
  TSessionState state_;
  TPreparedBlock prepared_;
  bool completionSent_ = false;
};
