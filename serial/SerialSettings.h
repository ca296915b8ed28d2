#pragma once
// The enumerations of the serial component and its three grouped settings:
// queue sizes and time-outs (TSerialBuffers), handshaking and DTR/RTS control
// (TSerialFlowControl) and the special characters (TSerialEventChars).
#include <cstdint>
#include <functional>

#include "EnumSet.h"
#include "SerialClasses.h"

// clang-format off
enum TBaudrate {
  brUser, br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200,
  br38400, br56000, br57600, br115200, br128000, br256000
};
// clang-format on
enum TParity { paNone, paOdd, paEven, paMark, paSpace };
enum TDatabits { db4, db5, db6, db7, db8 };
enum TStopbits { sb1, sb15, sb2 };
enum TSerialOption { coErrorChar, coNullStrip, coParityCheck };
enum TControlDtr { dtrDisabled, dtrEnabled, dtrHandshake };
enum TControlRts { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };
// clang-format off
enum TSerialEvent {
  ceBreak, ceCts, ceDsr, ceError, ceRing, ceRlsd, ceRxChar, ceTxEmpty, ceRxFlag, cePErr,
  ceRx80Full, ceEvent1, ceEvent2
};
// clang-format on
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

using TIntW = std::int32_t;
using TPortInt = std::int32_t;

// Bits per second that a TBaudrate names (0 for brUser).
std::int32_t BaudrateValue(TBaudrate rate);

using TSerialOptions = TEnumSet<TSerialOption, std::uint8_t>;
using TSerialEvents = TEnumSet<TSerialEvent, std::uint16_t>;

// Queue sizes, time-outs and flow limits. ReadTimeout and WriteTimeout are
// plain values (allowed while open, never notify); the four others notify on
// a change and are refused while the owning port is open.
class TSerialBuffers : public TSerialPersistent {
public:
  // Asked before a size or limit is stored; throws when the owner is open.
  using TOwnerCheck = std::function<void()>;

  void SetOwnerCheck(TOwnerCheck check) { OwnerCheck_ = std::move(check); }

  TIntW ReadSize() const { return ReadSize_; }
  TIntW WriteSize() const { return WriteSize_; }
  TIntW ReadTimeout() const { return ReadTimeout_; }
  TIntW WriteTimeout() const { return WriteTimeout_; }
  TIntW XonLimit() const { return XonLimit_; }
  TIntW XoffLimit() const { return XoffLimit_; }

  void SetReadSize(TIntW v) { SetNotifying(ReadSize_, v); }
  void SetWriteSize(TIntW v) { SetNotifying(WriteSize_, v); }
  void SetReadTimeout(TIntW v) { ReadTimeout_ = v; }
  void SetWriteTimeout(TIntW v) { WriteTimeout_ = v; }
  void SetXonLimit(TIntW v) { SetNotifying(XonLimit_, v); }
  void SetXoffLimit(TIntW v) { SetNotifying(XoffLimit_, v); }

  void Assign(const TSerialPersistent& Source) override;
  const char* ClassName() const override { return "TSerialBuffers"; }

private:
  void SetNotifying(TIntW& field, TIntW v);
  void CheckOwner() const {
    if (OwnerCheck_) OwnerCheck_();
  }

  TIntW ReadSize_ = 4096;
  TIntW WriteSize_ = 2048;
  TIntW ReadTimeout_ = 1000;
  TIntW WriteTimeout_ = 1000;
  TIntW XonLimit_ = 1024;
  TIntW XoffLimit_ = 1024;
  TOwnerCheck OwnerCheck_;
};

// Hardware and software handshaking and the control of DTR and RTS.
class TSerialFlowControl : public TSerialPersistent {
public:
  bool OutCtsFlow() const { return OutCtsFlow_; }
  bool OutDsrFlow() const { return OutDsrFlow_; }
  TControlDtr ControlDtr() const { return ControlDtr_; }
  TControlRts ControlRts() const { return ControlRts_; }
  bool XonXoffOut() const { return XonXoffOut_; }
  bool XonXoffIn() const { return XonXoffIn_; }
  bool DsrSensitivity() const { return DsrSensitivity_; }
  bool TxContinueOnXoff() const { return TxContinueOnXoff_; }

  void SetOutCtsFlow(bool v) { Set(OutCtsFlow_, v); }
  void SetOutDsrFlow(bool v) { Set(OutDsrFlow_, v); }
  void SetControlDtr(TControlDtr v) { Set(ControlDtr_, v); }
  void SetControlRts(TControlRts v) { Set(ControlRts_, v); }
  void SetXonXoffOut(bool v) { Set(XonXoffOut_, v); }
  void SetXonXoffIn(bool v) { Set(XonXoffIn_, v); }
  void SetDsrSensitivity(bool v) { Set(DsrSensitivity_, v); }
  void SetTxContinueOnXoff(bool v) { Set(TxContinueOnXoff_, v); }

  void Assign(const TSerialPersistent& Source) override;
  const char* ClassName() const override { return "TSerialFlowControl"; }

private:
  template <typename T>
  void Set(T& field, T v) {
    if (field == v) return;
    field = v;
    NotifyChange();
  }

  bool OutCtsFlow_ = false;
  bool OutDsrFlow_ = false;
  TControlDtr ControlDtr_ = dtrDisabled;
  TControlRts ControlRts_ = rtsDisabled;
  bool XonXoffOut_ = false;
  bool XonXoffIn_ = false;
  bool DsrSensitivity_ = false;
  bool TxContinueOnXoff_ = false;
};

// The special characters. Every write notifies, even of an unchanged value.
class TSerialEventChars : public TSerialPersistent {
public:
  std::uint8_t XonChar() const { return Chars_[0]; }
  std::uint8_t XoffChar() const { return Chars_[1]; }
  std::uint8_t ErrorChar() const { return Chars_[2]; }
  std::uint8_t EventChar() const { return Chars_[3]; }
  std::uint8_t EofChar() const { return Chars_[4]; }

  void SetXonChar(std::uint8_t v) { SetCharByIndex(1, v); }
  void SetXoffChar(std::uint8_t v) { SetCharByIndex(2, v); }
  void SetErrorChar(std::uint8_t v) { SetCharByIndex(3, v); }
  void SetEventChar(std::uint8_t v) { SetCharByIndex(4, v); }
  void SetEofChar(std::uint8_t v) { SetCharByIndex(5, v); }

  // Index 1..5: Xon, Xoff, Error, Event, Eof.
  void SetCharByIndex(int Index, std::uint8_t Value);

  void Assign(const TSerialPersistent& Source) override;
  const char* ClassName() const override { return "TSerialEventChars"; }

private:
  std::uint8_t Chars_[5] = {17, 19, 0, 0, 0};
};
