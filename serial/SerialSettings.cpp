#include "SerialSettings.h"

std::int32_t BaudrateValue(TBaudrate rate) {
  static constexpr std::int32_t rates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                           14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
  return rates[static_cast<int>(rate)];
}

void TSerialBuffers::SetNotifying(TIntW& field, TIntW v) {
  CheckOwner();
  if (field == v) return;
  field = v;
  NotifyChange();
}

void TSerialBuffers::Assign(const TSerialPersistent& Source) {
  const auto* src = dynamic_cast<const TSerialBuffers*>(&Source);
  if (!src) AssignError(Source);
  CheckOwner();
  CopyHeld([&] {
    ReadSize_ = src->ReadSize_;
    WriteSize_ = src->WriteSize_;
    ReadTimeout_ = src->ReadTimeout_;
    WriteTimeout_ = src->WriteTimeout_;
    XonLimit_ = src->XonLimit_;
    XoffLimit_ = src->XoffLimit_;
  });
}

void TSerialFlowControl::Assign(const TSerialPersistent& Source) {
  const auto* src = dynamic_cast<const TSerialFlowControl*>(&Source);
  if (!src) AssignError(Source);
  CopyHeld([&] {
    SetOutCtsFlow(src->OutCtsFlow_);
    SetOutDsrFlow(src->OutDsrFlow_);
    SetControlDtr(src->ControlDtr_);
    SetControlRts(src->ControlRts_);
    SetXonXoffOut(src->XonXoffOut_);
    SetXonXoffIn(src->XonXoffIn_);
    SetDsrSensitivity(src->DsrSensitivity_);
    SetTxContinueOnXoff(src->TxContinueOnXoff_);
  });
}

void TSerialEventChars::SetCharByIndex(int Index, std::uint8_t Value) {
  if (Index < 1 || Index > 5) return;
  Chars_[Index - 1] = Value;
  NotifyChange();
}

void TSerialEventChars::Assign(const TSerialPersistent& Source) {
  const auto* src = dynamic_cast<const TSerialEventChars*>(&Source);
  if (!src) AssignError(Source);
  CopyHeld([&] {
    for (int i = 1; i <= 5; ++i) SetCharByIndex(i, src->Chars_[i - 1]);
  });
}
