#pragma once
// The serial port component: TCustomSerialPort holds the state and every
// operation, TSerialPort is the concrete component a form owns. While the
// port is open two worker threads serve it: the event monitor, which turns
// line events into events raised on the main thread (see RunOnMainThread.h),
// and the writer, which sends what WriteBytes queues.
//
// On Linux (see SerialPosix.h for the mapping):
//  - Close first lets the writer hand what WriteBytes accepted to the device
//    (at most WriteTimeout), so a command queued just before Close is sent;
//    when the writer is itself waiting for the main thread, Close writes
//    those bytes in its place. After a hang-up it drops them at once. It
//    still never waits for a thread to end.
//  - WriteBytes that finds nothing queued hands the bytes to the device
//    itself (without waiting) and leaves only what the device does not take
//    to the writer; bytes keep their order either way. The writer reports a
//    drain on the main thread only when OnTxEmpty is set (or a listener
//    listens): nobody waits for a report nobody asked for.
//  - A hang-up (far end closed, adapter unplugged) is reported once, as
//    OnError with CE_IOE, by whichever thread meets it first; afterwards both
//    threads only wait for their stop.
//  - Line errors found by a worker reach OnError even when a status query
//    (the count for OnRxChar) has cleared them from QueryStatus meanwhile.
//  - The monitor hands each batch of events to the main thread without
//    waiting for it to run (batches still run one at a time, in order): the
//    main thread has no one to wake when a handler returns.
//  - A thread priority refused for lack of privilege is ignored.
//  - No thread wakes while the line is silent: the monitor waits for the
//    device edge-triggered (so bytes a handler leaves unread do not wake it),
//    a writer waiting for room and Close waiting for the drain wait for the
//    writer's progress.
//  - Under a runner that waits on descriptors itself (the tools' plain loop)
//    the main thread watches the device and dispatches what arrives at once,
//    so an exchange wakes one thread rather than the monitor and then the
//    main thread. The window's runner leaves the device to the monitor.
//  - ReadBytes returns the bytes it did read when ReadTimeout ends after some
//    arrived: they have left the device's queue and must not be lost.
//  - The OnRxChar dispatch counts what arrived by reading it off the device
//    into the port (up to 4 KiB; beyond that the device still holds it), so
//    the handler's ReadBytes usually takes it without another call to the
//    kernel. Those bytes count as waiting everywhere (QueryStatus InQueue,
//    the next dispatch) until read.
//  - Open asks the driver for low-latency mode (USB adapters otherwise hold
//    received bytes for up to 16 ms); a refusal is silent. Close restores
//    the flag.
//  - Settings without a termios counterpart (DSR flow and sensitivity,
//    TxContinueOnXoff, RTS toggling, the error, event and end-of-file
//    characters, null stripping, the Xon/Xoff limits, queue sizes) are kept
//    but have no effect. RxFlag, PErr, Event1 and Event2 are never reported.
//    Line errors and breaks are read from the device's counters when bytes
//    arrive (a break reads as a zero byte); modem-line events from them every
//    50 ms, and only while watched on a device that keeps counters
//    (pseudo-terminals keep none).
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RunOnMainThread.h"
#include "SerialClasses.h"
#include "SerialPosix.h"
#include "SerialSettings.h"
#include "SerialSync.h"

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

// Fixed-capacity byte block: appended at the end, consumed from the front.
class TWriteBuffer {
public:
  explicit TWriteBuffer(std::uint32_t capacity)
      : Data_(new std::uint8_t[capacity > 0 ? capacity : 1]), Capacity_(capacity) {}
  std::uint8_t* Data() { return Data_.get(); }
  std::uint32_t Capacity() const { return Capacity_; }
  // May be read without the lock; a stale value only delays a waiting writer.
  std::uint32_t Size() const { return Size_.load(std::memory_order_acquire); }
  void Append(const void* Source, std::uint32_t N);
  void Consume(std::uint32_t N);

private:
  std::unique_ptr<std::uint8_t[]> Data_;
  std::uint32_t Capacity_;
  std::atomic<std::uint32_t> Size_{0};
};

// What the component and its threads share. Threads keep it alive after the
// component is gone, so they never touch freed memory.
struct TPortLink {
  std::atomic<std::uint32_t> PendingErrors{0};     // CE_ flags not yet read by QueryStatus
  std::atomic<std::uint32_t> UnreportedErrors{0};  // CE_ flags an EV_ERR dispatch is to show
  std::atomic<bool> HangUpSeen{false};             // a thread has met the hang-up
  std::atomic<int> TakenBytes{0};                  // read off the device by a dispatch, not yet by anyone
  // The port's own main-thread runner (nullptr: the process-wide one); set
  // before the threads start and never changed while they run.
  std::shared_ptr<TMainThreadRunner> Runner;
  TCriticalSection WriteLock;                      // the writer's buffer, direct writes
  // Line errors found by a worker; `report`: an EV_ERR dispatch follows.
  void NoteErrors(std::uint32_t errors, bool report) {
    PendingErrors.fetch_or(errors);
    if (report) UnreportedErrors.fetch_or(errors);
  }
};

// Common part of both worker threads: created suspended, given a priority,
// resumed; frees itself when it ends.
class TSerialThread : public std::enable_shared_from_this<TSerialThread> {
public:
  virtual ~TSerialThread();
  // Starts the system thread held before its work; fails with EThread.
  void Create();
  void Resume();
  // Create, the priority last set, Resume: for a thread started when first
  // needed. Fails with EThread.
  void Start();
  bool Started() const { return Started_.load(); }  // Create has succeeded
  // Best effort: a refusal for lack of privilege is ignored. A thread not
  // created yet takes the priority when it is (ApplyPriority).
  void SetPriority(TThreadPriority priority);
  bool Terminated() const { return Terminated_.load(); }
  bool Ended() const { return Ended_.load(); }
  // Worker threads of all ports that have not ended yet (diagnostics, tests).
  static int LiveThreads();

protected:
  TSerialThread(TCustomSerialPort* owner, int fd, std::shared_ptr<TPortLink> link);
  virtual void Execute() = 0;
  // The system thread's name (at most 15 characters).
  virtual const char* Name() const = 0;
  // Runs call on the main thread unless a stop has been asked for by the
  // time it runs there; false when it did not run.
  bool RunOnMain(const std::function<void()>& call);
  // Marks the device lost once for the whole port; true for the first caller.
  bool TakeHangUp();
  // After Create: gives the system thread the priority last set.
  void ApplyPriority();

  TCustomSerialPort* Owner;  // touched only on the main thread, before a stop
  int Fd;                    // this thread's own duplicate of the device
  std::shared_ptr<TPortLink> Link;
  std::atomic<bool> Terminated_{false};

private:
  void Body();
  TWaitEvent ResumeEvent_;
  std::atomic<bool> Ended_{false};
  std::atomic<bool> Started_{false};  // the system thread has been created
  std::mutex TidMutex_;
  pid_t Tid_ = 0;
  std::optional<TThreadPriority> Priority_;  // guarded by TidMutex_
  std::promise<pid_t> TidPromise_;
};

// Waits for the selected line events and has each batch dispatched on the
// main thread, one at a time. A batch is handed over without waiting for it:
// the monitor goes back to the device at once, and what it notices while the
// batch is with the main thread waits for the batch's end (which then wakes
// it), so batches never overlap and the main thread wakes nobody otherwise.
//
// When the main thread's runner waits on descriptors itself (WatchInput) and
// no timed look at the modem lines is needed, the device is watched by the
// runner instead: arriving bytes wake the main thread, which looks at the
// device and dispatches at once, and the monitor is left with the events the
// component posts: its system thread is created only when there can be any.
// An exchange then costs the main thread one wake-up.
class TSerialEventThread : public TSerialThread {
public:
  TSerialEventThread(TCustomSerialPort* owner, int fd, std::uint32_t eventMask, std::uint32_t readSize,
                     std::shared_ptr<TPortLink> link);
  // Before Resume, on the thread that opens the port: hands the watch of the
  // device to `runner` when it can take it and nothing needs a timed look.
  void HandInputTo(const std::shared_ptr<TMainThreadRunner>& runner);
  // False when the runner watches the device and no event can be posted: the
  // system thread would have nothing to wait for.
  bool NeedsThread() const { return !InputOnMain_ || (EventMask_ & EV_TXEMPTY); }
  // Sets Terminated and wakes the thread; it ends without dispatching again.
  void Stop();
  // Adds events noticed by the component itself (EV_TXEMPTY of a direct write).
  void PostEvents(std::uint32_t mask);
  // On the main thread, after a read in or out of a handler: `n` bytes of
  // those OnRxChar was told of are still unread, so an arrival that brings
  // the count back no higher than before is news all the same.
  void NoteUnread(int n);

protected:
  void Execute() override;
  const char* Name() const override { return "serial-monitor"; }

private:
  // What is known of the device's input. Owned by the monitor, or by the
  // main thread when the runner watches the device.
  struct TInputState {
    int unread = 0;              // bytes reported that a handler left unread: only growth is news
    bool refreshUnread = false;  // a batch with EV_RXCHAR went out: take its unread count
    bool hungUp = false;
    bool above80 = false;
    SerialPosix::TLineCounters counters;
  };
  // Events that the device shows: `input` new bytes, `hangUp` a hang-up
  // reported by the wait, `timed` a timed look at the modem lines. Marks a
  // hang-up once for the port.
  std::uint32_t LookAtDevice(bool input, bool hangUp, bool timed);
  // Events and line errors that the device's counters show since the last look.
  std::uint32_t CountedEvents(SerialPosix::TLineCounters& counters);
  // Takes the right to dispatch a batch; false while another one is in hand
  // (its end then signals DoneEvent).
  bool TakeBatch();
  // Hands a batch to the main thread; false when it no longer runs calls.
  bool DeliverEvents(std::uint32_t events);
  // On the main thread, holding the batch: the dispatch, the input noticed
  // meanwhile when the runner watches the device, then the batch's end.
  void RunDispatch(std::uint32_t events);
  void DispatchEvents(std::uint32_t events);
  // On the main thread: the runner saw new input (or a hang-up) on the device.
  void InputReady(bool hangUp);
  void StopWatching();

  std::uint32_t EventMask_;
  std::uint32_t ReadSize_;
  bool Counting_ = false;    // the device keeps line counters that the mask wants
  bool WantInput_ = false;   // EV_RXCHAR or EV_RX80FULL is monitored
  bool ModemLooks_ = false;  // modem lines are looked at on a timer
  // Something the device itself shows is monitored: input, line errors, a hang-up.
  bool WatchesDevice() const { return WantInput_ || Counting_ || (EventMask_ & EV_ERR); }
  TInputState Input_;
  // The runner that watches the device (InputOnMain_), and its watch.
  std::shared_ptr<TMainThreadRunner> Watcher_;
  std::atomic<std::uint64_t> WatchId_{0};
  bool InputOnMain_ = false;
  bool InputNoticed_ = false;   // main thread only: news on the device not yet looked into
  bool HangUpNoticed_ = false;  // main thread only
  TWaitEvent WaitEvent;  // stop request
  TWaitEvent WakeEvent;  // posted events
  TWaitEvent DoneEvent;  // the batch the monitor waits for is over
  std::atomic<std::uint32_t> Posted_{0};
  std::atomic<bool> Dispatching_{false};   // a batch is in hand
  std::atomic<bool> AwaitingDone_{false};  // the monitor waits for its end
  std::atomic<int> UnreadAfter_{0};        // bytes OnRxChar was told of that are still unread
  std::atomic<bool> UnreadNoted_{false};   // a read changed UnreadAfter_ since the last look
};

// Sends what QueueBytes appends to its buffer, one write per pass. Most
// writes go to the device straight from QueueBytes, so the system thread is
// created only when bytes first have to wait for it: an idle thread beside
// every open port measurably slowed an unpaced load.
class TSerialWriteThread : public TSerialThread {
public:
  TSerialWriteThread(TCustomSerialPort* owner, int fd, std::uint32_t capacity, std::shared_ptr<TPortLink> link);
  void Stop();
  // Called on the main thread by WriteBytes: appends Count bytes, waiting up
  // to writeTimeoutMs for room; false when there was none in time. With
  // nothing queued the bytes are written on `fd` at once and only what the
  // device does not take is left to the writer. `reportDrain`: the drain is
  // to be reported on the main thread (OnTxEmpty); then the writer sends.
  bool QueueBytes(int fd, const void* Source, std::uint32_t Count, std::uint32_t writeTimeoutMs, bool reportDrain);
  // Called on the main thread by Close: waits until everything queued has
  // been handed to the device, the line has hung up, the thread has ended,
  // or the time is up; true when the buffer is empty. While the writer waits
  // for the main thread (a report), the bytes are written here on `fd`.
  bool WaitDrained(int fd, std::uint32_t timeoutMs);
  std::uint32_t Pending() const { return Buffer.Size(); }

protected:
  void Execute() override;
  const char* Name() const override { return "serial-writer"; }

private:
  // Returns true when the buffer became empty and the drain is to be reported.
  bool WriteDone(std::uint32_t N);
  // Runs a report on the main thread with Reporting_ set under WriteLock.
  void Report(std::uint32_t mask);
  // Reports a drain, and again for each drain the main thread made meanwhile.
  void ReportDrains();
  // Under WriteLock, while the writer reports: writes what the buffer holds on fd.
  void SendHeld(int fd);

  TWriteBuffer Buffer;
  TWaitEvent DataEvent;
  TWaitEvent StopEvent;
  TWaitEvent ProgressEvent;         // bytes consumed, a report begun, a hang-up met, or the end
  bool Reporting_ = false;          // guarded by WriteLock
  bool ReportDrain_ = false;        // guarded by WriteLock
  bool DrainedMeanwhile_ = false;   // guarded by WriteLock
  std::atomic<bool> Stopped_{false};
};

class TCustomSerialPort : public TSerialComponent {
public:
  TCustomSerialPort();
  ~TCustomSerialPort() override;

  // Operations.
  void Open();
  void Close();
  bool IsOpen() const { return Handle_ >= 0; }
  int ReadBytes(void* Buffer, int Count);
  int WriteBytes(const void* Buffer, int Count);
  void SetDtrLine(bool Value);
  void QueryStatus(TComStat& CommStatus);
  // Bytes waiting, as OnRxChar is told of them; takes what arrived off the device.
  int InQueueCount();
  bool HandleErrors();
  // DeviceName filled with PortNum ("COM%d" and 3 give "COM3").
  std::string ResolveDeviceName() const;
  int Handle() const { return Handle_; }
  // The line event mask computed at the last Open.
  std::uint32_t EventMask() const { return EventMask_; }
  // Whether each worker thread is running (for diagnostics and tests).
  bool HasEventThread() const { return EventThread != nullptr; }
  bool HasWriteThread() const { return WriteThread != nullptr; }
  // Whether the driver passes received bytes on at once (asked for at Open
  // where the driver offers it; see SerialPosix.h).
  bool LowLatency() const { return LowLatency_; }
  // Bytes the writer holds that have not yet been handed to the device.
  std::uint32_t WriterPending() const { return WriteThread ? WriteThread->Pending() : 0; }
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
  void SetEventPriority(TThreadPriority v);
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

  // Dispatch, run on the main thread by the worker threads.
  virtual void HandleRxChar();
  virtual void HandleEvents(std::uint32_t Mask);
  virtual void NotifyListenerEvents(std::uint32_t Mask);
  virtual void NotifyListenerData(PSerialData Data, int Count);

  // Bytes that the last OnRxChar reported and its handler left unread.
  int UnreadAfterDispatch() const;

protected:
  virtual void OpenDevice();
  virtual void StartThreads();
  void CloseDevice();
  void ApplyLineSettings();
  void ApplyBufferSizes();
  void ApplyTimeouts();
  void ApplyEventMask();
  void StopThreads();
  void NotifyOpened();
  void NotifyClosed();
  void CheckClosed() const;
  [[noreturn]] void RaiseCommError(const std::string& Format, int code) const;
  void CheckCommResult(int code, const std::string& Format) const;
  void LockRead() { ReadLock.Lock(); }
  void UnlockRead() { ReadLock.Unlock(); }
  void LockWrite() { Link_->WriteLock.Lock(); }
  void UnlockWrite() { Link_->WriteLock.Unlock(); }

private:
  void SettingsChanged(TSerialPersistent* Sender);
  int DirectWriteBytes(const void* Buffer, int Count);

  int Handle_ = -1;
  std::shared_ptr<TMainThreadRunner> Runner_;
  std::shared_ptr<TPortLink> Link_;
  TCriticalSection ReadLock;
  std::shared_ptr<TSerialEventThread> EventThread;
  std::shared_ptr<TSerialWriteThread> WriteThread;
  std::uint32_t EventMask_ = 0;
  bool Destroying_ = false;
  bool LowLatency_ = false;         // low-latency mode is on
  bool LowLatencyChanged_ = false;  // Open turned it on, so Close turns it off

  // Read accounting for the dispatch in progress.
  int DispatchCount_ = 0;
  int ReadDuringDispatch_ = 0;

  // Bytes an OnRxChar dispatch took off the device, not yet read: the
  // range [TakenBegin_, TakenEnd_) of Taken_, guarded by ReadLock. Their
  // number is also in the link, for the monitor, which must not wait for a
  // read in progress.
  static constexpr int kTakenCapacity = 4096;
  std::vector<std::uint8_t> Taken_ = std::vector<std::uint8_t>(kTakenCapacity);
  int TakenBegin_ = 0;
  int TakenEnd_ = 0;
  // Under ReadLock: reads what the device holds into Taken_ (as much as fits)
  // and returns the number of bytes now waiting.
  int TakeArrived();
  // Under ReadLock: moves up to `count` taken bytes to `out`; returns how many.
  int ReadTaken(std::uint8_t* out, int count);
  // Forgets the taken bytes (the port closes or opens).
  void DropTaken();
  // Under ReadLock: tells the monitor how many bytes are taken.
  void NoteTaken() const;

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
