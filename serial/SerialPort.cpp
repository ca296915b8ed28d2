// The component: properties, errors, open and close, writing, line control.
// The input side and the dispatch of events are in SerialInput.cpp.
#include "SerialPort.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "SerialSystem.h"
#include "SerialWriter.h"

using SerialSystem::Classify;
using SerialSystem::TErrorKind;
using SerialSystem::TRequest;

namespace {
const char* const kPortOpen = "Can't perform this operation while port is open";

// Fills each placeholder ("%d", "%s") of the component's own formats with the next argument.
std::string FormatArgs(std::string fmt, std::initializer_list<std::string> args) {
  std::size_t at = 0;
  for (const std::string& arg : args) {
    at = fmt.find('%', at);
    if (at == std::string::npos) break;
    fmt.replace(at, 2, arg);
    at += arg.size();
  }
  return fmt;
}

// Only the component's own kind of name ("COM%d") is a format: a path, or a
// name with any other '%', is what a user typed and is used as it stands.
bool IsNameFormat(const std::string& name) {
  if (name.find_first_of("/\\") != std::string::npos) return false;
  const std::size_t at = name.find('%');
  return at != std::string::npos && name.compare(at, 2, "%d") == 0 && name.find('%', at + 1) == std::string::npos;
}
}  // namespace

std::uint32_t EventFlag(TSerialEvent event) {
  static constexpr std::uint32_t flags[] = {EV_BREAK,   EV_CTS,    EV_DSR,  EV_ERR,      EV_RING,   EV_RLSD,  EV_RXCHAR,
                                            EV_TXEMPTY, EV_RXFLAG, EV_PERR, EV_RX80FULL, EV_EVENT1, EV_EVENT2};
  return flags[static_cast<int>(event)];
}

std::string SerialDevicePath(const std::string& name) { return SerialSystem::DevicePath(name); }

int SerialSystem::ComNumber(const std::string& name) {
  if (name.size() <= 3 || name.size() > 12 || name.compare(0, 3, "COM") != 0) return 0;
  for (std::size_t i = 3; i < name.size(); ++i)
    if (name[i] < '0' || name[i] > '9') return 0;
  return static_cast<int>(std::stol(name.substr(3)));
}

TCustomSerialPort::TCustomSerialPort() {
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

template <typename T>
void TCustomSerialPort::SetLive(T& field, T v) {
  if (v == field) return;
  field = v;
  ApplyLineSettings();
}

void TCustomSerialPort::SetBaudrate(TBaudrate v) {
  if (v != brUser && v != Baudrate_) UserBaudrate_ = 0;
  SetLive(Baudrate_, v);
}

void TCustomSerialPort::SetUserBaudrate(std::int32_t v) {
  if (v == UserBaudrate_) return;
  Baudrate_ = brUser;
  SetLive(UserBaudrate_, v);
}

void TCustomSerialPort::SetParity(TParity v) { SetLive(Parity_, v); }
void TCustomSerialPort::SetDatabits(TDatabits v) { SetLive(Databits_, v); }
void TCustomSerialPort::SetStopbits(TStopbits v) { SetLive(Stopbits_, v); }
void TCustomSerialPort::SetOptions(TSerialOptions v) { SetLive(Options_, v); }

template <typename T>
void TCustomSerialPort::SetRefused(T& field, T v) {
  CheckClosed();
  field = std::move(v);
}

void TCustomSerialPort::SetPortNum(TPortInt v) { SetRefused(PortNum_, v); }
void TCustomSerialPort::SetDeviceName(const std::string& v) { SetRefused(DeviceName_, v); }
void TCustomSerialPort::SetMainThreadRunner(std::shared_ptr<TMainThreadRunner> runner) {
  SetRefused(Runner_, std::move(runner));
}
void TCustomSerialPort::SetMonitorEvents(TSerialEvents v) { SetRefused(MonitorEvents_, v); }
void TCustomSerialPort::SetDirectWrite(bool v) { SetRefused(DirectWrite_, v); }
void TCustomSerialPort::SetUpdateDCB(bool v) { SetRefused(UpdateDCB_, v); }

void TCustomSerialPort::SetWritePriority(TThreadPriority v) {
  if (v == WritePriority_) return;
  WritePriority_ = v;
  if (Writer_) Writer_->SetPriority(v);
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
  return IsNameFormat(DeviceName_) ? FormatArgs(DeviceName_, {std::to_string(PortNum_)}) : DeviceName_;
}

bool TCustomSerialPort::LowLatency() const { return Device_ && Device_->LowLatency(); }

std::uint32_t TCustomSerialPort::WriterPending() const { return Writer_ ? Writer_->Pending() : 0; }

bool TCustomSerialPort::HasWriteThread() const { return Writer_ && Writer_->ThreadRunning(); }

std::shared_ptr<TMainThreadRunner> TCustomSerialPort::EventRunner() const {
  return Runner_ ? Runner_ : ::MainThreadRunner();
}

// ---- errors ----

void TCustomSerialPort::CheckClosed() const {
  if (IsOpen()) throw ESerialPortError(kPortOpen);
}

void TCustomSerialPort::RaiseCommError(const std::string& Format, int code, const std::string& prefix) const {
  // The system's text without its trailing blanks, control characters and full stops.
  std::string text = SerialSystem::ErrorText(code);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.' || text.back() == 0x7F))
    text.pop_back();
  throw ESerialPortError(prefix + FormatArgs(Format, {std::to_string(code), text}), code);
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
    CheckCommResult(Device_->PurgeInput(), "Error initializing buffers (%d), %s");
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
  std::unique_ptr<SerialSystem::TDevice> device;
  if (const int code = SerialSystem::TDevice::Open(name, device)) {
    if (Classify(code, TRequest::Open) == TErrorKind::NotFound)
      throw ESerialPortError(FormatArgs("Specified device not found (%s).", {name}), code);
    // The name is filled in apart: a '%' in it is no placeholder.
    RaiseCommError(" (Error %d, %s)", code, FormatArgs("Can't open specified device %s", {name}));
  }
  Device_ = std::move(device);
  Session_ = std::make_shared<TSession>(TSession{this, EventRunner()});
  UnsentAtClose_ = 0;
  const int readSize = Buffers_.ReadSize();
  TakenCapacity_ = static_cast<std::size_t>(readSize >= 64 ? readSize : 4096);
  Taken_.reserve(TakenCapacity_);
}

void TCustomSerialPort::CloseDevice() {
  Device_.reset();
  Session_.reset();
  Taken_.clear();
  LineGone_ = Above80_ = FreshCount_ = false;
  PendingEvents_ = PendingErrors_ = UnreportedErrors_ = 0;
}

void TCustomSerialPort::ApplyLineSettings() {
  if (!IsOpen() || !UpdateDCB_) return;
  SerialSystem::TLineSettings s;
  s.Baud = Baudrate_ == brUser ? UserBaudrate_ : BaudrateValue(Baudrate_);
  s.Databits = Databits_;
  s.Parity = Parity_;
  s.Stopbits = Stopbits_;
  s.Flow.Assign(FlowControl_);
  s.Chars.Assign(EventChars_);
  s.XonLimit = static_cast<std::uint16_t>(Buffers_.XonLimit());
  s.XoffLimit = static_cast<std::uint16_t>(Buffers_.XoffLimit());
  s.Options = Options_;
  CheckCommResult(Device_->ApplyLine(s), "Error writing dcb (%d), %s");
}

void TCustomSerialPort::ApplyBufferSizes() {
  if (!IsOpen()) return;
  const auto size = [](TIntW v) { return static_cast<std::uint32_t>(std::max(0, v)); };
  CheckCommResult(Device_->SetQueueSizes(size(Buffers_.ReadSize()), size(Buffers_.WriteSize())),
                  "Error initializing buffers (%d), %s");
}

void TCustomSerialPort::ApplyTimeouts() {
  if (IsOpen()) CheckCommResult(Device_->SetTimeouts(), "Error setting timeouts (%d), %s");
}

void TCustomSerialPort::ApplyEventMask() {
  std::uint32_t mask = 0;
  for (int e = ceBreak; e <= ceEvent2; ++e)
    if (MonitorEvents_.Contains(static_cast<TSerialEvent>(e))) mask |= EventFlag(static_cast<TSerialEvent>(e));
  // The writer reports its own drain.
  if (!DirectWrite_) mask &= ~EV_TXEMPTY;
  EventMask_ = mask;
  if (IsOpen()) CheckCommResult(Device_->SetEventMask(EventMask_), " Error setting EventMask (%d), %s");
}

std::function<void(std::uint32_t, std::uint32_t)> TCustomSerialPort::Reporter() const {
  std::weak_ptr<TSession> session = Session_;
  std::shared_ptr<TMainThreadRunner> runner = Session_ ? Session_->runner : nullptr;
  return [session, runner](std::uint32_t events, std::uint32_t errors) {
    if (!runner) return;  // nobody to tell
    runner->Post([session, events, errors] {
      // A report of a session that has ended finds nothing: the port closed meanwhile.
      if (const auto live = session.lock()) live->port->PostedEvents(events, errors);
    });
  };
}

void TCustomSerialPort::StartThreads() {
  WatchDevice(true);
  if (!DirectWrite_)
    Writer_ = std::make_unique<TSerialWriter>(*Device_, static_cast<std::uint32_t>(std::max(1, Buffers_.WriteSize())),
                                              WritePriority_, Reporter());
}

std::uint32_t TCustomSerialPort::StopThreads() {
  WatchDevice(false);
  std::uint32_t lost = 0;
  if (Writer_) lost = Writer_->Stop();
  Writer_.reset();
  return lost;
}

void TCustomSerialPort::NotifyOpened() {
  if (!OnOpen) return;
  try {
    OnOpen(this);
  } catch (...) {
    HandleUncaughtException(Session_ ? Session_->runner : Runner_, std::current_exception());
  }
}

void TCustomSerialPort::NotifyClosed() {
  if (OnClose && !Destroying_) OnClose(this);
}

void TCustomSerialPort::Close() {
  if (!IsOpen()) return;
  // Bytes WriteBytes has accepted go out before the writer stops (the
  // completion command is queued just before a Close); bounded by WriteTimeout.
  if (Writer_ && !LineGone_) Writer_->WaitDrained(static_cast<std::uint32_t>(std::max(0, Buffers_.WriteTimeout())));
  const std::uint32_t lost = StopThreads();
  CloseDevice();
  UnsentAtClose_ = lost;
  NotifyClosed();
  // The device is free before the pause: the next Open, here or elsewhere, finds it so.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

// ---- writing and line control ----

int TCustomSerialPort::WriteBytes(const void* Buffer, int Count) {
  if (!IsOpen() || Count <= 0) return 0;
  if (DirectWrite_) return DirectWriteBytes(Buffer, Count);
  // A drain is reported only to someone who listens for it.
  const bool reportDrain = static_cast<bool>(OnTxEmpty) || !Listeners_.empty();
  if (!Writer_->QueueBytes(Buffer, static_cast<std::uint32_t>(Count),
                           static_cast<std::uint32_t>(std::max(0, Buffers_.WriteTimeout())), reportDrain))
    throw ESerialPortError("Output buffer is full. Please check comm status.");
  return Count;
}

int TCustomSerialPort::DirectWriteBytes(const void* Buffer, int Count) {
  const auto* bytes = static_cast<const std::uint8_t*>(Buffer);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, Buffers_.ReadTimeout()));
  std::uint32_t sent = 0;
  while (sent < static_cast<std::uint32_t>(Count)) {
    std::uint32_t done = 0;
    const int code = Device_->Write(bytes + sent, static_cast<std::uint32_t>(Count) - sent, done);
    sent += done;
    if (done > 0) continue;
    const TErrorKind kind = Classify(code, TRequest::Write);
    if (kind == TErrorKind::HangUp) {
      Reporter()(EV_ERR, CE_IOE);
      return static_cast<int>(sent);
    }
    if (kind != TErrorKind::WouldWait) {
      if (sent > 0) break;
      RaiseCommError("Write error (%d), %s", code);
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return 0;  // not done in time: not an error
    Device_->WaitOutput(nullptr, left);
  }
  if (sent == static_cast<std::uint32_t>(Count) && (EventMask_ & EV_TXEMPTY)) Reporter()(EV_TXEMPTY, 0);
  return static_cast<int>(sent);
}

void TCustomSerialPort::SetDtrLine(bool Value) {
  if (FlowControl_.ControlDtr() == dtrHandshake)
    throw ESerialPortError("DTR line updates not allowed when flowcontrol is set to Handshake.");
  if (!IsOpen()) return;
  CheckCommResult(
      Device_->LineFunction(Value ? SerialSystem::TLineFunction::SetDtr : SerialSystem::TLineFunction::ClearDtr),
      "Error calling comm function (%d), %s");
}
