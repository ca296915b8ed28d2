#pragma once
// The serial port component: TCustomSerialPort holds the state and every
// operation, TSerialPort is the concrete component a form owns.
//
// Everything but the sending of bytes that have to wait runs on the main
// thread (the thread of the port's runner, MainThreadRunner.h): the runner
// watches the device and the port dispatches what arrives there and then.
// The writer (detail/SerialWriter.h) sends what the device did not take at
// once; its thread starts when bytes first have to wait, posts its reports
// to the main thread without waiting, and is joined by Close.
// docs/ARCHITECTURE.md draws the threads and the decisions made here: a
// hang-up is reported once as OnError with CE_IOE; bytes taken off the
// device count as waiting until read; events that come while a handler
// runs wait for its end; Close lets accepted bytes go out (at most
// WriteTimeout), joins the writer, closes the device and then pauses.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MainThreadRunner.h"
#include "SerialClasses.h"
#include "SerialSettings.h"

// Line events as the event mask holds them.
inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;
inline constexpr std::uint32_t EV_TXEMPTY = 0x0004;
inline constexpr std::uint32_t EV_CTS = 0x0008;
inline constexpr std::uint32_t EV_DSR = 0x0010;
inline constexpr std::uint32_t EV_RLSD = 0x0020;
inline constexpr std::uint32_t EV_BREAK = 0x0040;
inline constexpr std::uint32_t EV_ERR = 0x0080;
inline constexpr std::uint32_t EV_RING = 0x0100;
inline constexpr std::uint32_t EV_PERR = 0x0200;
inline constexpr std::uint32_t EV_RX80FULL = 0x0400;
inline constexpr std::uint32_t EV_EVENT1 = 0x0800;
inline constexpr std::uint32_t EV_EVENT2 = 0x1000;

// Line-error flags, as OnError receives them.
inline constexpr std::uint32_t CE_RXOVER = 0x0001;    // input buffer overflow
inline constexpr std::uint32_t CE_OVERRUN = 0x0002;   // character lost by the hardware
inline constexpr std::uint32_t CE_RXPARITY = 0x0004;  // parity error
inline constexpr std::uint32_t CE_FRAME = 0x0008;     // framing error
inline constexpr std::uint32_t CE_BREAK = 0x0010;     // break received
inline constexpr std::uint32_t CE_IOE = 0x0400;       // device lost: hung up or unplugged

std::uint32_t EventFlag(TSerialEvent event);

// The file or device a port name opens: "COMn" is the system's n-th serial
// port (/dev/ttyS{n-1} on Linux); anything else is opened as it stands.
std::string SerialDevicePath(const std::string& name);

// Status read by QueryStatus. Errors is cleared on the device by the read.
struct TComStat {
  std::uint32_t Errors = 0;
  std::uint32_t Flags = 0;
  std::uint32_t InQueue = 0;
  std::uint32_t OutQueue = 0;
};

class TCustomSerialPort;
using PSerialData = const std::uint8_t*;
using TNotifyEvent = std::function<void(TCustomSerialPort* Sender)>;
using TSerialErrorEvent = std::function<void(TCustomSerialPort* Sender, int Errors)>;
using TSerialRxCharEvent = std::function<void(TCustomSerialPort* Sender, int Count)>;
using TSerialRxBufEvent = std::function<void(TCustomSerialPort* Sender, PSerialData Data, int Count)>;

// An optional status display; none exists in this system.
class TSerialDisplay {
public:
  virtual ~TSerialDisplay() = default;
  virtual void UpdateDisplay(TCustomSerialPort* Port) = 0;
};

// Something that listens to the port's events and data; none exists in this system.
class TSerialListener {
public:
  virtual ~TSerialListener() = default;
  virtual bool Active() const { return true; }
  virtual void ListenerEvents(std::uint32_t Mask) = 0;
  virtual void ListenerData(PSerialData Data, int Count) = 0;
};

class TSerialWriter;
namespace SerialSystem {
class TDevice;
}

class TCustomSerialPort : public TSerialComponent {
public:
  TCustomSerialPort();
  ~TCustomSerialPort() override;

  // Operations.
  void Open();
  void Close();
  bool IsOpen() const { return Device_ != nullptr; }
  int ReadBytes(void* Buffer, int Count);
  int WriteBytes(const void* Buffer, int Count);
  void SetDtrLine(bool Value);
  void QueryStatus(TComStat& CommStatus);
  // Bytes waiting, as OnRxChar is told of them; takes what arrived off the device.
  int InQueueCount();
  bool HandleErrors();
  // DeviceName filled with PortNum ("COM%d" and 3 give "COM3"). A name that
  // holds a path separator, or any '%' but a single "%d", is no format: it
  // is used as it stands.
  std::string ResolveDeviceName() const;
  // The line event mask computed at the last Open.
  std::uint32_t EventMask() const { return EventMask_; }
  // Whether the driver passes received bytes on at once (asked for at Open
  // where the driver offers it).
  bool LowLatency() const;
  // Bytes the writer holds that have not yet been handed to the device.
  std::uint32_t WriterPending() const;
  // Whether the writer's thread runs (it starts when bytes first have to wait).
  bool HasWriteThread() const;
  // Bytes WriteBytes accepted during the last open session that never
  // reached the device: dropped by Close (a device that took nothing within
  // WriteTimeout) or kept from it by a hang-up. 0 while open.
  std::uint32_t UnsentAtClose() const { return UnsentAtClose_; }
  // The thread this port's events run on and whose hook hears what escapes
  // its handlers: `runner`'s, or the process-wide runner's when none is set
  // (the default). Only while the port is closed.
  void SetMainThreadRunner(std::shared_ptr<TMainThreadRunner> runner);
  const std::shared_ptr<TMainThreadRunner>& MainThreadRunner() const { return Runner_; }

  // Properties.
  bool AutoOpen() const { return AutoOpen_; }
  void SetAutoOpen(bool v) { AutoOpen_ = v; }
  TBaudrate Baudrate() const { return Baudrate_; }
  void SetBaudrate(TBaudrate v);
  TParity Parity() const { return Parity_; }
  void SetParity(TParity v);
  TDatabits Databits() const { return Databits_; }
  void SetDatabits(TDatabits v);
  TStopbits Stopbits() const { return Stopbits_; }
  void SetStopbits(TStopbits v);
  TSerialEventChars& EventChars() { return EventChars_; }
  void SetEventChars(const TSerialEventChars& v) { EventChars_.Assign(v); }
  TSerialFlowControl& FlowControl() { return FlowControl_; }
  void SetFlowControl(const TSerialFlowControl& v) { FlowControl_.Assign(v); }
  TSerialOptions Options() const { return Options_; }
  void SetOptions(TSerialOptions v);
  TPortInt PortNum() const { return PortNum_; }
  void SetPortNum(TPortInt v);
  const std::string& DeviceName() const { return DeviceName_; }
  void SetDeviceName(const std::string& v);
  TSerialEvents MonitorEvents() const { return MonitorEvents_; }
  void SetMonitorEvents(TSerialEvents v);
  TSerialBuffers& Buffers() { return Buffers_; }
  void SetBuffers(const TSerialBuffers& v) { Buffers_.Assign(v); }
  TThreadPriority EventPriority() const { return EventPriority_; }
  void SetEventPriority(TThreadPriority v) { EventPriority_ = v; }  // no thread of its own to apply to
  TThreadPriority WritePriority() const { return WritePriority_; }
  void SetWritePriority(TThreadPriority v);
  bool DirectWrite() const { return DirectWrite_; }
  void SetDirectWrite(bool v);
  bool UpdateDCB() const { return UpdateDCB_; }
  void SetUpdateDCB(bool v);
  std::int32_t UserBaudrate() const { return UserBaudrate_; }
  void SetUserBaudrate(std::int32_t v);
  TSerialDisplay* Display() const { return Display_; }
  void SetDisplay(TSerialDisplay* v) { Display_ = v; }
  void Notification(const void* component) override;
  void Loaded() override;

  // Events: raised on the main thread, only when set, sender first.
  TNotifyEvent OnOpen, OnClose, OnCts, OnDsr, OnRlsd, OnRing, OnBreak;
  TSerialErrorEvent OnError;
  TSerialRxCharEvent OnRxChar;
  TSerialRxBufEvent OnRxBuf;
  TNotifyEvent OnRxFlag, OnTxEmpty, OnPErr, OnRx80Full, OnEvent1, OnEvent2;

  // Dispatch, run on the main thread.
  virtual void HandleRxChar();
  virtual void HandleEvents(std::uint32_t Mask);
  virtual void NotifyListenerEvents(std::uint32_t Mask);
  virtual void NotifyListenerData(PSerialData Data, int Count);

protected:
  virtual void OpenDevice();
  // Starts the watch of the device; the writer's thread starts later, when
  // bytes first have to wait.
  virtual void StartThreads();
  void CloseDevice();
  void ApplyLineSettings();
  void ApplyBufferSizes();
  void ApplyTimeouts();
  void ApplyEventMask();
  // Ends the watch and the writer (joined); returns the bytes the writer dropped.
  std::uint32_t StopThreads();
  void NotifyOpened();
  void NotifyClosed();
  void CheckClosed() const;
  [[noreturn]] void RaiseCommError(const std::string& Format, int code, const std::string& prefix = "") const;
  void CheckCommResult(int code, const std::string& Format) const;

private:
  // One open session of the port: what a posted report finds while the
  // port is open, and nothing after Close.
  struct TSession {
    TCustomSerialPort* port;
    std::shared_ptr<TMainThreadRunner> runner;  // where events run; nullptr: none
  };
  void SettingsChanged(TSerialPersistent* Sender);
  // A live property: stored and applied when it changes. A refused one: only while closed.
  template <typename T>
  void SetLive(T& field, T v);
  template <typename T>
  void SetRefused(T& field, T v);
  int DirectWriteBytes(const void* Buffer, int Count);
  std::shared_ptr<TMainThreadRunner> EventRunner() const;
  // Posts events and line errors to this session on the main thread; any thread.
  std::function<void(std::uint32_t events, std::uint32_t errors)> Reporter() const;
  // Starts or ends the runner's watches of the device.
  void WatchDevice(bool on);
  // The runner's watches call this: what the device shows now, then the dispatch.
  void DeviceReady();
  // Events and errors reported from the writer (or by a direct write).
  void PostedEvents(std::uint32_t events, std::uint32_t errors);
  // Reads what arrived into the port's buffer; true when bytes came.
  bool TakeArrived();
  // Marks the line lost once; returns EV_ERR when that is news to report.
  std::uint32_t LineLost();
  void NoteErrors(std::uint32_t errors);
  // Adds events and dispatches them unless a dispatch is in progress.
  void Dispatch(std::uint32_t events);
  void DispatchEvents(std::uint32_t events);
  int ReadTaken(std::uint8_t* out, int count);

  std::unique_ptr<SerialSystem::TDevice> Device_;
  std::unique_ptr<TSerialWriter> Writer_;
  std::shared_ptr<TSession> Session_;
  std::shared_ptr<TMainThreadRunner> Runner_;
  std::uint32_t EventMask_ = 0;
  std::uint32_t UnsentAtClose_ = 0;
  bool Destroying_ = false;

  // Input state: main thread only.
  std::vector<std::uint8_t> Taken_;  // bytes read off the device, not yet by the handler
  std::size_t TakenCapacity_ = 0;
  bool FreshCount_ = false;          // the device was read just now: the dispatch need not again
  std::uint64_t InputWatch_ = 0;     // the runner's watch of the device's input (0: none)
  std::uint64_t LineWatch_ = 0;      // of line events the device shows apart
  bool LineGone_ = false;            // hung up: reported once, no longer watched
  bool Above80_ = false;             // the input was at least 80 % full at the last look
  std::uint32_t PendingEvents_ = 0;  // to be dispatched
  bool Dispatching_ = false;
  std::uint32_t PendingErrors_ = 0;     // CE_ flags not yet read by a status query
  std::uint32_t UnreportedErrors_ = 0;  // CE_ flags that an EV_ERR dispatch is to show

  bool AutoOpen_ = false;
  TPortInt PortNum_ = 0;
  std::string DeviceName_ = "COM%d";
  TSerialEvents MonitorEvents_{ceError, ceRxChar, ceTxEmpty};
  TSerialBuffers Buffers_;
  TThreadPriority EventPriority_ = tpNormal;
  TThreadPriority WritePriority_ = tpHighest;
  bool DirectWrite_ = false;
  std::vector<TSerialListener*> Listeners_;
  TBaudrate Baudrate_ = br1200;
  TParity Parity_ = paNone;
  TDatabits Databits_ = db8;
  TStopbits Stopbits_ = sb1;
  TSerialOptions Options_;
  TSerialFlowControl FlowControl_;
  TSerialEventChars EventChars_;
  bool UpdateDCB_ = true;
  std::int32_t UserBaudrate_ = 0;
  TSerialDisplay* Display_ = nullptr;
};

// The component as a form holds it, with every property published.
class TSerialPort : public TCustomSerialPort {
public:
  using TCustomSerialPort::TCustomSerialPort;
};
