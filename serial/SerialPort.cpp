#include "SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "SerialPosix.h"

namespace {
const char* const kPortOpen = "Can't perform this operation while port is open";

// Fills the first "%d" (or "%s") of fmt with each argument in turn; "%%" is a percent sign.
std::string FormatArgs(const std::string& fmt, std::initializer_list<std::string> args) {
  std::string out;
  auto arg = args.begin();
  for (std::size_t i = 0; i < fmt.size(); ++i) {
    if (fmt[i] == '%' && i + 1 < fmt.size()) {
      const char c = fmt[i + 1];
      if (c == '%') {
        out += '%';
        ++i;
        continue;
      }
      if ((c == 'd' || c == 's' || c == 'u' || c == 'i') && arg != args.end()) {
        out += *arg++;
        ++i;
        continue;
      }
    }
    out += fmt[i];
  }
  return out;
}

std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

std::uint32_t EventFlag(TSerialEvent event) {
  static constexpr std::uint32_t flags[] = {EV_BREAK,   EV_CTS,    EV_DSR,     EV_ERR,    EV_RING,
                                            EV_RLSD,    EV_RXCHAR, EV_TXEMPTY, EV_RXFLAG, EV_PERR,
                                            EV_RX80FULL, EV_EVENT1, EV_EVENT2};
  return flags[static_cast<int>(event)];
}

TCustomSerialPort::TCustomSerialPort() : Link_(std::make_shared<TPortLink>()) {
  auto changed = [this](TSerialPersistent* sender) { SettingsChanged(sender); };
  Buffers_.SetChangeHandler(changed);
  Buffers_.SetOwnerCheck([this] { CheckClosed(); });
  FlowControl_.SetChangeHandler(changed);
  EventChars_.SetChangeHandler(changed);
}

TCustomSerialPort::~TCustomSerialPort() {
  Destroying_ = true;
  try {
    Close();
  } catch (...) {
  }
  Listeners_.clear();
}

// ---- properties ----

void TCustomSerialPort::SetBaudrate(TBaudrate v) {
  if (v == Baudrate_) return;
  Baudrate_ = v;
  if (v != brUser) UserBaudrate_ = 0;
  ApplyLineSettings();
}

void TCustomSerialPort::SetUserBaudrate(std::int32_t v) {
  if (v == UserBaudrate_) return;
  UserBaudrate_ = v;
  Baudrate_ = brUser;
  ApplyLineSettings();
}

void TCustomSerialPort::SetParity(TParity v) {
  if (v == Parity_) return;
  Parity_ = v;
  ApplyLineSettings();
}

void TCustomSerialPort::SetDatabits(TDatabits v) {
  if (v == Databits_) return;
  Databits_ = v;
  ApplyLineSettings();
}

void TCustomSerialPort::SetStopbits(TStopbits v) {
  if (v == Stopbits_) return;
  Stopbits_ = v;
  ApplyLineSettings();
}

void TCustomSerialPort::SetOptions(TSerialOptions v) {
  if (v == Options_) return;
  Options_ = v;
  ApplyLineSettings();
}

void TCustomSerialPort::SetPortNum(TPortInt v) {
  CheckClosed();
  PortNum_ = v;
}

void TCustomSerialPort::SetDeviceName(const std::string& v) {
  CheckClosed();
  DeviceName_ = v;
}

void TCustomSerialPort::SetMainThreadRunner(std::shared_ptr<TMainThreadRunner> runner) {
  CheckClosed();
  Runner_ = std::move(runner);
}

void TCustomSerialPort::SetMonitorEvents(TSerialEvents v) {
  CheckClosed();
  MonitorEvents_ = v;
}

void TCustomSerialPort::SetDirectWrite(bool v) {
  CheckClosed();
  DirectWrite_ = v;
}

void TCustomSerialPort::SetUpdateDCB(bool v) {
  CheckClosed();
  UpdateDCB_ = v;
}

void TCustomSerialPort::SetEventPriority(TThreadPriority v) {
  if (v == EventPriority_) return;
  EventPriority_ = v;
  if (EventThread) EventThread->SetPriority(v);
}

void TCustomSerialPort::SetWritePriority(TThreadPriority v) {
  if (v == WritePriority_) return;
  WritePriority_ = v;
  if (WriteThread) WriteThread->SetPriority(v);
}

void TCustomSerialPort::Notification(const void* component) {
  if (component && component == Display_) Display_ = nullptr;
}

void TCustomSerialPort::Loaded() {
  if (AutoOpen_) Open();
}

void TCustomSerialPort::SettingsChanged(TSerialPersistent* Sender) {
  // Buffers' sizes are refused while open and applied at the next Open.
  if (Sender == &FlowControl_ || Sender == &EventChars_) ApplyLineSettings();
}

std::string TCustomSerialPort::ResolveDeviceName() const {
  return FormatArgs(DeviceName_, {std::to_string(PortNum_)});
}

// ---- errors ----

void TCustomSerialPort::CheckClosed() const {
  if (IsOpen()) throw ESerialPortError(kPortOpen);
}

void TCustomSerialPort::RaiseCommError(const std::string& Format, int code) const {
  throw ESerialPortError(FormatArgs(Format, {std::to_string(code), SerialPosix::ErrorText(code)}));
}

void TCustomSerialPort::CheckCommResult(int code, const std::string& Format) const {
  if (code != 0) RaiseCommError(Format, code);
}

// ---- open and close ----

void TCustomSerialPort::Open() {
  CheckClosed();
  OpenDevice();
  try {
    ApplyLineSettings();
    ApplyBufferSizes();
    ApplyTimeouts();
    ApplyEventMask();
    // A freshly opened port starts empty: drop what arrived before.
    ::tcflush(Handle_, TCIFLUSH);
    StartThreads();
  } catch (...) {
    StopThreads();
    CloseDevice();
    throw;
  }
  NotifyOpened();
}

void TCustomSerialPort::OpenDevice() {
  const std::string name = ResolveDeviceName();
  const int fd = SerialPosix::OpenDevice(SerialPosix::DevicePath(name));
  if (fd < 0) {
    const int code = -fd;
    if (code == ENOENT) throw ESerialPortError(FormatArgs("Specified device not found (%s).", {name}));
    RaiseCommError(FormatArgs("Can't open specified device %s", {name}) + " (Error %d, %s)", code);
  }
  Handle_ = fd;
  // Received bytes are passed on at once where the driver offers it (USB
  // adapters hold them back for up to 16 ms otherwise); a refusal is no error.
  bool changed = false;
  LowLatency_ = SerialPosix::EnableLowLatency(fd, changed) == 0;
  LowLatencyChanged_ = changed;
  Link_ = std::make_shared<TPortLink>();
  Link_->Runner = Runner_;
  DispatchCount_ = 0;
  ReadDuringDispatch_ = 0;
  DropTaken();
}

void TCustomSerialPort::CloseDevice() {
  if (Handle_ >= 0) {
    if (LowLatencyChanged_) SerialPosix::DisableLowLatency(Handle_);
    // A worker still waiting for the main thread keeps its duplicate open a
    // little longer; the device must be free for the next Open all the same.
    ::ioctl(Handle_, TIOCNXCL);
    ::flock(Handle_, LOCK_UN);
    ::close(Handle_);
  }
  Handle_ = -1;
  LowLatency_ = false;
  LowLatencyChanged_ = false;
  DropTaken();
}

// ---- bytes taken off the device by a dispatch ----

int TCustomSerialPort::TakeArrived() {
  if (TakenBegin_ > 0) {
    std::memmove(Taken_.data(), Taken_.data() + TakenBegin_, static_cast<std::size_t>(TakenEnd_ - TakenBegin_));
    TakenEnd_ -= TakenBegin_;
    TakenBegin_ = 0;
  }
  if (TakenEnd_ < kTakenCapacity) {
    ssize_t r;
    do {
      r = ::read(Handle_, Taken_.data() + TakenEnd_, static_cast<std::size_t>(kTakenCapacity - TakenEnd_));
    } while (r < 0 && errno == EINTR);
    // Nothing (EAGAIN), an end or a hang-up: the count is what was taken
    // before; a hang-up is reported by the monitor.
    if (r > 0) TakenEnd_ += static_cast<int>(r);
  }
  NoteTaken();
  int waiting = TakenEnd_;
  if (TakenEnd_ == kTakenCapacity) {
    // Full: what the device still holds counts too.
    int rest = 0;
    if (SerialPosix::InputQueue(Handle_, rest) == 0) waiting += rest;
  }
  return waiting;
}

int TCustomSerialPort::ReadTaken(std::uint8_t* out, int count) {
  const int n = std::min(count, TakenEnd_ - TakenBegin_);
  if (n <= 0) return 0;
  std::memcpy(out, Taken_.data() + TakenBegin_, static_cast<std::size_t>(n));
  TakenBegin_ += n;
  if (TakenBegin_ == TakenEnd_) TakenBegin_ = TakenEnd_ = 0;
  NoteTaken();
  return n;
}

void TCustomSerialPort::DropTaken() {
  std::lock_guard lock(ReadLock);
  TakenBegin_ = TakenEnd_ = 0;
  NoteTaken();
}

void TCustomSerialPort::NoteTaken() const {
  if (Link_) Link_->TakenBytes.store(TakenEnd_ - TakenBegin_, std::memory_order_relaxed);
}

void TCustomSerialPort::ApplyLineSettings() {
  if (!IsOpen() || !UpdateDCB_) return;
  SerialPosix::TLineSettings s;
  s.Baud = Baudrate_ == brUser ? UserBaudrate_ : BaudrateValue(Baudrate_);
  s.Databits = Databits_;
  s.Parity = Parity_;
  s.Stopbits = Stopbits_;
  s.OutCtsFlow = FlowControl_.OutCtsFlow();
  s.OutDsrFlow = FlowControl_.OutDsrFlow();
  s.ControlDtr = FlowControl_.ControlDtr();
  s.ControlRts = FlowControl_.ControlRts();
  s.XonXoffOut = FlowControl_.XonXoffOut();
  s.XonXoffIn = FlowControl_.XonXoffIn();
  s.XonChar = EventChars_.XonChar();
  s.XoffChar = EventChars_.XoffChar();
  s.Options = Options_;
  CheckCommResult(SerialPosix::ApplyLineSettings(Handle_, s), "Error writing dcb (%d), %s");
}

void TCustomSerialPort::ApplyBufferSizes() {
  // The kernel sizes its own queues; nothing to request, but the writer's
  // buffer must be able to hold anything at all.
  if (IsOpen() && Buffers_.WriteSize() <= 0) RaiseCommError("Error initializing buffers (%d), %s", EINVAL);
}

void TCustomSerialPort::ApplyTimeouts() {
  // Reads bound their own waits (ReadTimeout, then a 5 ms pause between
  // bytes); the device is non-blocking and needs no time-outs of its own.
}

void TCustomSerialPort::ApplyEventMask() {
  std::uint32_t mask = 0;
  for (int e = ceBreak; e <= ceEvent2; ++e)
    if (MonitorEvents_.Contains(static_cast<TSerialEvent>(e))) mask |= EventFlag(static_cast<TSerialEvent>(e));
  // The writer reports its own drain.
  if (!DirectWrite_) mask &= ~EV_TXEMPTY;
  EventMask_ = mask;
}

void TCustomSerialPort::StartThreads() {
  auto duplicate = [this] {
    const int fd = ::fcntl(Handle_, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) throw EThread("Thread creation error: " + SerialPosix::ErrorText(errno));
    return fd;
  };
  if (EventMask_ != 0) {
    auto thread = std::make_shared<TSerialEventThread>(this, duplicate(), EventMask_,
                                                       static_cast<std::uint32_t>(Buffers_.ReadSize()), Link_);
    thread->HandInputTo(Runner_ ? Runner_ : ::MainThreadRunner());
    // Held first: should the start fail, Open's StopThreads ends the runner's watch.
    EventThread = thread;
    thread->SetPriority(EventPriority_);
    // With the device watched by the runner, a monitor thread would only wait.
    if (thread->NeedsThread()) thread->Start();
  }
  if (!DirectWrite_) {
    // Its system thread starts with the first bytes that have to wait.
    auto thread = std::make_shared<TSerialWriteThread>(this, duplicate(),
                                                       static_cast<std::uint32_t>(Buffers_.WriteSize()), Link_);
    WriteThread = thread;
    thread->SetPriority(WritePriority_);
  }
}

void TCustomSerialPort::StopThreads() {
  if (EventThread) {
    EventThread->Stop();
    EventThread->Resume();  // a thread stopped before it ran ends at once
  }
  EventThread.reset();
  if (WriteThread) {
    WriteThread->Stop();
    WriteThread->Resume();
  }
  WriteThread.reset();
}

void TCustomSerialPort::NotifyOpened() {
  if (!OnOpen) return;
  try {
    OnOpen(this);
  } catch (...) {
    HandleUncaughtException(Runner_, std::current_exception());
  }
}

void TCustomSerialPort::NotifyClosed() {
  if (OnClose && !Destroying_) OnClose(this);
}

void TCustomSerialPort::Close() {
  if (!IsOpen()) return;
  // Bytes WriteBytes has accepted go out before the writer is stopped (the
  // completion command is queued just before a Close); bounded by WriteTimeout.
  if (WriteThread) WriteThread->WaitDrained(Handle_, static_cast<std::uint32_t>(std::max(0, Buffers_.WriteTimeout())));
  LockRead();
  try {
    StopThreads();
  } catch (...) {
    UnlockRead();
    CloseDevice();
    throw;
  }
  UnlockRead();
  CloseDevice();
  NotifyClosed();
  // Gives both threads time to finish before the caller goes on.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

// ---- reading and writing ----

int TCustomSerialPort::ReadBytes(void* Buffer, int Count) {
  if (!IsOpen() || Count <= 0) return 0;
  std::lock_guard lock(ReadLock);
  auto* out = static_cast<std::uint8_t*>(Buffer);
  int got = ReadTaken(out, Count);
  const std::int64_t deadline = NowMs() + std::max(0, Buffers_.ReadTimeout());
  // Until the first byte: up to ReadTimeout. After it: until Count bytes, or
  // the line has been quiet for more than 5 ms (and never past ReadTimeout).
  constexpr int kIntervalMs = 5;
  bool waited = false;    // a wait has begun: failures from now on end the read quietly
  bool readable = false;  // the last wait said bytes could be read
  while (got < Count) {
    const ssize_t r = ::read(Handle_, out + got, static_cast<std::size_t>(Count - got));
    if (r > 0) {
      got += static_cast<int>(r);
      readable = false;
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno != EAGAIN) {
      // A read that cannot even start is an error; a line that hangs up while
      // the read waits ends it with what came.
      if (got > 0 || waited) break;
      RaiseCommError("Read error (%d), %s", errno);
    }
    // Nothing now (a raw line answers 0 or EAGAIN). Readable yet empty is an
    // end of file: not a line (/dev/null) or one that has hung up.
    if (r == 0 && readable) break;
    const std::int64_t left = deadline - NowMs();
    if (left <= 0) break;
    pollfd p{Handle_, POLLIN, 0};
    const int pr = PollRetrying(&p, 1, got == 0 ? left : std::min<std::int64_t>(left, kIntervalMs + 1));
    if (pr <= 0 || !(p.revents & POLLIN)) break;  // quiet long enough, a failed wait, or a hang-up
    waited = true;
    readable = true;
  }
  ReadDuringDispatch_ += got;
  if (got > 0 && EventThread) EventThread->NoteUnread(UnreadAfterDispatch());
  return got;
}

int TCustomSerialPort::WriteBytes(const void* Buffer, int Count) {
  if (!IsOpen() || Count <= 0) return 0;
  if (DirectWrite_) return DirectWriteBytes(Buffer, Count);
  // A drain is reported only to someone who listens for it.
  const bool reportDrain = static_cast<bool>(OnTxEmpty) || !Listeners_.empty();
  if (!WriteThread ||
      !WriteThread->QueueBytes(Handle_, Buffer, static_cast<std::uint32_t>(Count),
                               static_cast<std::uint32_t>(std::max(0, Buffers_.WriteTimeout())), reportDrain))
    throw ESerialPortError("Output buffer is full. Please check comm status.");
  return Count;
}

int TCustomSerialPort::DirectWriteBytes(const void* Buffer, int Count) {
  std::lock_guard lock(Link_->WriteLock);
  const auto* in = static_cast<const std::uint8_t*>(Buffer);
  int sent = 0;
  const std::int64_t deadline = NowMs() + std::max(0, Buffers_.ReadTimeout());
  while (sent < Count) {
    const ssize_t w = ::write(Handle_, in + sent, static_cast<std::size_t>(Count - sent));
    if (w > 0) {
      sent += static_cast<int>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && errno != EAGAIN) {
      if (sent > 0) break;
      RaiseCommError("Write error (%d), %s", errno);
    }
    const std::int64_t left = deadline - NowMs();
    if (left <= 0) return 0;  // not done in time: not an error
    pollfd p{Handle_, POLLOUT, 0};
    if (PollRetrying(&p, 1, left) <= 0) return 0;
  }
  if (sent == Count && EventThread) EventThread->PostEvents(EV_TXEMPTY);
  return sent;
}

void TCustomSerialPort::SetDtrLine(bool Value) {
  if (FlowControl_.ControlDtr() == dtrHandshake)
    throw ESerialPortError("DTR line updates not allowed when flowcontrol is set to Handshake.");
  if (!IsOpen()) return;
  CheckCommResult(SerialPosix::SetModemLines(Handle_, TIOCM_DTR, Value), "Error calling comm function (%d), %s");
}

// ---- status and dispatch ----

void TCustomSerialPort::QueryStatus(TComStat& CommStatus) {
  std::lock_guard lock(ReadLock);
  CommStatus = TComStat{};
  if (!IsOpen()) return;
  CommStatus.Errors = Link_->PendingErrors.exchange(0);
  int in = 0;
  int out = 0;
  int e = SerialPosix::InputQueue(Handle_, in);
  if (e == EIO) {
    // A hung-up device has nothing waiting; the hang-up itself is in Errors.
    e = 0;
    in = 0;
  }
  in += TakenEnd_ - TakenBegin_;
  if (e == 0) e = SerialPosix::OutputQueue(Handle_, out);
  if (e == EIO) e = 0;
  CheckCommResult(e, "Error retrieving statistics (%d), %s");
  CommStatus.InQueue = static_cast<std::uint32_t>(in);
  CommStatus.OutQueue = static_cast<std::uint32_t>(out);
}

int TCustomSerialPort::InQueueCount() {
  std::lock_guard lock(ReadLock);
  if (!IsOpen()) return 0;
  // The count's status query hands pending errors over as QueryStatus does.
  Link_->PendingErrors.exchange(0);
  return TakeArrived();
}

bool TCustomSerialPort::HandleErrors() {
  TComStat stat;
  QueryStatus(stat);
  // What a worker found and reported stays reported, even when a status query
  // in between (the count for OnRxChar) has cleared it from the device's state.
  const std::uint32_t errors = stat.Errors | (IsOpen() ? Link_->UnreportedErrors.exchange(0) : 0);
  if (errors != 0 && OnError) {
    try {
      OnError(this, static_cast<int>(errors));
    } catch (...) {
      HandleUncaughtException(Runner_, std::current_exception());
    }
  }
  return errors != 0;
}

void TCustomSerialPort::HandleRxChar() {
  DispatchCount_ = 0;
  ReadDuringDispatch_ = 0;
  const int n = InQueueCount();
  if (n <= 0) return;
  DispatchCount_ = n;
  if (!Listeners_.empty()) {
    std::vector<std::uint8_t> block(static_cast<std::size_t>(n));
    const int got = ReadBytes(block.data(), n);
    NotifyListenerData(block.data(), got);
    return;
  }
  if (OnRxChar) OnRxChar(this, n);
}

int TCustomSerialPort::UnreadAfterDispatch() const {
  return std::max(0, DispatchCount_ - ReadDuringDispatch_);
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
