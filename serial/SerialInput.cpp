// The component's input side, all on the main thread: the runner's watch of
// the device, the bytes taken off it, reading, status, and the dispatch of
// events to the handlers.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "SerialPort.h"
#include "SerialSystem.h"
#include "SerialWriter.h"

using SerialSystem::Classify;
using SerialSystem::TErrorKind;
using SerialSystem::TRequest;

// A read that has its first bytes ends at a pause longer than this.
constexpr std::int64_t kReadIntervalMs = 5;

void TCustomSerialPort::WatchDevice(bool on) {
  const std::shared_ptr<TMainThreadRunner> runner = Session_ ? Session_->runner : nullptr;
  if (!on || !runner || LineGone_) {
    if (runner && InputWatch_) runner->Unwatch(InputWatch_);
    if (runner && LineWatch_) runner->Unwatch(LineWatch_);
    InputWatch_ = LineWatch_ = 0;
    return;
  }
  // Only what the device itself shows is watched; EV_TXEMPTY comes from the writer.
  if (!InputWatch_ && (EventMask_ & ~EV_TXEMPTY) && Taken_.size() < TakenCapacity_)
    InputWatch_ = runner->Watch(Device_->InputHandle(), [this] { DeviceReady(); });
  // Line events the device shows apart, or looks for them on a timer; a look reads the input too.
  const int period = Device_->LineEventPeriodMs();
  if (!LineWatch_ && (Device_->LineEventHandle().Valid() || period > 0))
    LineWatch_ = runner->Watch(
        Device_->LineEventHandle(), [this] { DeviceReady(); }, period);
}

bool TCustomSerialPort::TakeArrived() {
  bool came = false;
  while (Taken_.size() < TakenCapacity_) {
    const std::size_t before = Taken_.size();
    const auto room = static_cast<std::uint32_t>(TakenCapacity_ - before);
    std::uint32_t got = 0;
    Taken_.resize(TakenCapacity_);  // within the capacity reserved at Open: no allocation
    const int code = Device_->Read(Taken_.data() + before, room, got);
    Taken_.resize(before + got);
    came = came || got > 0;
    // A short read took all there was: the watch tells when more comes.
    if (got > 0 && got < room) break;
    if (got > 0) continue;
    if (Classify(code, TRequest::Read) != TErrorKind::WouldWait) PendingEvents_ |= LineLost();  // can no longer be read
    break;
  }
  // Full: what the device holds waits there, and the watch rests until a read makes room.
  if (Taken_.size() == TakenCapacity_ && InputWatch_) {
    Session_->runner->Unwatch(InputWatch_);
    InputWatch_ = 0;
  }
  return came;
}

std::uint32_t TCustomSerialPort::LineLost() {
  if (LineGone_) return 0;
  LineGone_ = true;
  WatchDevice(false);
  if (Writer_) Writer_->NoteHangUp();
  NoteErrors(CE_IOE);
  return EV_ERR;
}

void TCustomSerialPort::NoteErrors(std::uint32_t errors) {
  PendingErrors_ |= errors;
  UnreportedErrors_ |= errors;
}

void TCustomSerialPort::DeviceReady() {
  if (!IsOpen()) return;
  std::uint32_t events = TakeArrived() ? EV_RXCHAR : 0;
  FreshCount_ = true;
  std::uint32_t errors = 0;
  events |= Device_->TakeLineEvents(errors);
  NoteErrors(errors);
  if (EventMask_ & EV_RX80FULL) {
    const auto waiting = static_cast<std::uint64_t>(Taken_.size());
    const bool full = waiting * 10 >= static_cast<std::uint64_t>(std::max(0, Buffers_.ReadSize())) * 8;
    if (full && !Above80_) events |= EV_RX80FULL;
    Above80_ = full;
  }
  Dispatch(events & EventMask_);
  FreshCount_ = false;
}

void TCustomSerialPort::PostedEvents(std::uint32_t events, std::uint32_t errors) {
  if (errors & CE_IOE) {
    // The hang-up is reported once, whoever met it.
    events = (events & ~EV_ERR) | LineLost();
    errors &= ~CE_IOE;
  }
  NoteErrors(errors);
  Dispatch(events);
}

void TCustomSerialPort::Dispatch(std::uint32_t events) {
  PendingEvents_ |= events;
  // Events that come while a handler runs (and pumps the loop) wait for its end.
  if (Dispatching_) return;
  Dispatching_ = true;
  while (PendingEvents_ != 0 && IsOpen()) {
    const std::uint32_t batch = PendingEvents_;
    PendingEvents_ = 0;
    DispatchEvents(batch);
  }
  Dispatching_ = false;
}

void TCustomSerialPort::DispatchEvents(std::uint32_t events) {
  try {
    if (Display_) Display_->UpdateDisplay(this);
    if (events & EV_RXCHAR) {
      HandleRxChar();
      events &= ~EV_RXCHAR;
    }
    // A handler that closed the port has ended the session's events.
    if (events != 0 && IsOpen()) HandleEvents(events);
  } catch (...) {
    HandleUncaughtException(Session_ ? Session_->runner : Runner_, std::current_exception());
  }
}

// ---- reading ----

int TCustomSerialPort::ReadTaken(std::uint8_t* out, int count) {
  const int n = std::min(count, static_cast<int>(Taken_.size()));
  if (n <= 0) return 0;
  std::memcpy(out, Taken_.data(), static_cast<std::size_t>(n));
  Taken_.erase(Taken_.begin(), Taken_.begin() + n);
  if (!InputWatch_) WatchDevice(true);  // there is room again
  return n;
}

int TCustomSerialPort::ReadBytes(void* Buffer, int Count) {
  if (!IsOpen() || Count <= 0) return 0;
  auto* out = static_cast<std::uint8_t*>(Buffer);
  int got = ReadTaken(out, Count);
  const auto start = std::chrono::steady_clock::now();
  const std::int64_t timeout = std::max(0, Buffers_.ReadTimeout());
  // Until the first byte: up to ReadTimeout. After it: until Count bytes, or
  // the line has been quiet for more than 5 ms (and never past ReadTimeout).
  bool waited = false;
  while (got < Count) {
    std::uint32_t n = 0;
    const int code = Device_->Read(out + got, static_cast<std::uint32_t>(Count - got), n);
    got += static_cast<int>(n);
    if (n > 0) continue;
    const TErrorKind kind = Classify(code, TRequest::Read);
    if (kind == TErrorKind::HangUp) break;  // the watch reports it
    if (kind != TErrorKind::WouldWait) {
      // A read that cannot even start is an error; one that fails while it waits ends with what came.
      if (got > 0 || waited) break;
      RaiseCommError("Read error (%d), %s", code);
    }
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    const std::int64_t left = timeout - elapsed;
    if (left <= 0) break;
    const TWaitHandle input = Device_->InputHandle();
    if (SerialSystem::WaitAny(&input, 1, got == 0 ? left : std::min(left, kReadIntervalMs + 1)) != 0) break;
    waited = true;
  }
  return got;
}

// ---- status and dispatch ----

void TCustomSerialPort::QueryStatus(TComStat& CommStatus) {
  CommStatus = TComStat{};
  if (!IsOpen()) return;
  SerialSystem::TDeviceStatus status;
  CheckCommResult(Device_->ClearError(status), "Error retrieving statistics (%d), %s");
  CommStatus.Errors = status.Errors | PendingErrors_;
  PendingErrors_ = 0;
  CommStatus.InQueue = status.InQueue + static_cast<std::uint32_t>(Taken_.size());
  CommStatus.OutQueue = status.OutQueue;
}

int TCustomSerialPort::InQueueCount() {
  if (!IsOpen()) return 0;
  // The count's status query hands pending errors over as QueryStatus does.
  PendingErrors_ = 0;
  if (!FreshCount_) TakeArrived();
  FreshCount_ = false;
  auto waiting = static_cast<std::uint32_t>(Taken_.size());
  if (Taken_.size() == TakenCapacity_) {
    // Full: what the device still holds counts too.
    SerialSystem::TDeviceStatus status;
    if (Device_->ClearError(status) == 0) waiting += status.InQueue;
  }
  return static_cast<int>(waiting);
}

bool TCustomSerialPort::HandleErrors() {
  TComStat stat;
  QueryStatus(stat);
  // What was found and not yet reported stays to be reported, even when a
  // status query in between (the count for OnRxChar) has cleared it.
  const std::uint32_t errors = stat.Errors | UnreportedErrors_;
  UnreportedErrors_ = 0;
  if (errors != 0 && OnError) {
    try {
      OnError(this, static_cast<int>(errors));
    } catch (...) {
      HandleUncaughtException(Session_ ? Session_->runner : Runner_, std::current_exception());
    }
  }
  return errors != 0;
}

void TCustomSerialPort::HandleRxChar() {
  const int n = InQueueCount();
  if (n <= 0) return;
  if (!Listeners_.empty()) {
    std::vector<std::uint8_t> block(static_cast<std::size_t>(n));
    const int got = ReadBytes(block.data(), n);
    NotifyListenerData(block.data(), got);
    return;
  }
  if (OnRxChar) OnRxChar(this, n);
}

void TCustomSerialPort::HandleEvents(std::uint32_t Mask) {
  if (Mask & EV_ERR) HandleErrors();
  if (!Listeners_.empty()) NotifyListenerEvents(Mask);
  auto raise = [this, Mask](std::uint32_t flag, const TNotifyEvent& handler) {
    if ((Mask & flag) && handler) handler(this);
  };
  raise(EV_RXFLAG, OnRxFlag);
  raise(EV_CTS, OnCts);
  raise(EV_DSR, OnDsr);
  raise(EV_RING, OnRing);
  raise(EV_RLSD, OnRlsd);
  raise(EV_TXEMPTY, OnTxEmpty);
  raise(EV_BREAK, OnBreak);
  raise(EV_PERR, OnPErr);
  raise(EV_RX80FULL, OnRx80Full);
  raise(EV_EVENT1, OnEvent1);
  raise(EV_EVENT2, OnEvent2);
}

void TCustomSerialPort::NotifyListenerEvents(std::uint32_t Mask) {
  for (TSerialListener* l : Listeners_)
    if (l->Active()) l->ListenerEvents(Mask);
}

void TCustomSerialPort::NotifyListenerData(PSerialData Data, int Count) {
  for (TSerialListener* l : Listeners_)
    if (l->Active()) l->ListenerData(Data, Count);
  if (OnRxBuf) OnRxBuf(this, Data, Count);
}
