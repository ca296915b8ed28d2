#pragma once
// The one record of session state and the hex text of received bytes.
#include <cstddef>
#include <cstdint>
#include <string>

// State codes; the numbers are the codes the session has always used.
enum TSessionStateCode : std::uint8_t {
  stHandshake = 0,
  stDataFlash = 20,
  stPageSelect = 35,
  stProgramBlock = 45,
};

struct TSessionState {
  std::uint8_t State = stHandshake;
  std::uint8_t HandshakeStage = 0;  // 0: awaiting 0x55, 1: ack sent, awaiting 0xAA, 2: done
  std::uint8_t ExpectedLength = 0;  // response length to the last frame (frame length + 1)
  std::uint8_t ExpectedSum = 0;     // last byte a block response must carry
  std::uint8_t ReceivedLength = 0;  // bytes gathered so far, modulo 256
  std::string Response;             // the current response as FormatHexBytes text
  std::int64_t FramesSent = 0;      // frames sent by SendFrame in this phase
  std::int32_t PageIndex = 0;       // next data-flash block, or current program page
  std::int32_t BlockStep = 0;       // 1 after a page select, 2..5 while its blocks go out
};

// " XX" for every byte: a leading space before each pair, none at the end.
std::string FormatHexBytes(const std::uint8_t* bytes, std::size_t count);

// Byte i of a response held as FormatHexBytes text (digits at 3i+1, 3i+2 counting
// from 0). Throws EConvertError when the text is too short to hold it.
std::uint8_t ResponseByte(const std::string& response, int i);
