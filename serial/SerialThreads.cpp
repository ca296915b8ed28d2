// The two worker threads of the serial component.
#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

#include "SerialPort.h"
#include "SerialPosix.h"

void TWriteBuffer::Append(const void* Source, std::uint32_t N) {
  const std::uint32_t size = Size_.load(std::memory_order_relaxed);
  std::memcpy(Data_.get() + size, Source, N);
  Size_.store(size + N, std::memory_order_release);
}

void TWriteBuffer::Consume(std::uint32_t N) {
  const std::uint32_t size = Size_.load(std::memory_order_relaxed);
  if (N > size) N = size;
  std::memmove(Data_.get(), Data_.get() + N, size - N);
  Size_.store(size - N, std::memory_order_release);
}

// ---- common thread part ----

namespace {
std::atomic<int> g_liveThreads{0};
}

int TSerialThread::LiveThreads() { return g_liveThreads.load(); }

TSerialThread::TSerialThread(TCustomSerialPort* owner, int fd, std::shared_ptr<TPortLink> link)
    : Owner(owner), Fd(fd), Link(std::move(link)) {}

TSerialThread::~TSerialThread() {
  if (Fd >= 0) ::close(Fd);
}

void TSerialThread::Create() {
  auto self = shared_from_this();
  std::future<pid_t> tid = TidPromise_.get_future();
  try {
    g_liveThreads.fetch_add(1);
    std::thread([self] { self->Body(); }).detach();
  } catch (const std::system_error& e) {
    g_liveThreads.fetch_sub(1);
    throw EThread(std::string("Thread creation error: ") + e.what());
  }
  const pid_t id = tid.get();
  std::lock_guard lock(TidMutex_);
  Tid_ = id;
  Started_.store(true);
}

void TSerialThread::Resume() { ResumeEvent_.SetSignal(); }

void TSerialThread::Start() {
  Create();
  ApplyPriority();  // a refusal leaves the thread suspended; a stop still ends it
  Resume();
}

void TSerialThread::SetPriority(TThreadPriority priority) {
  {
    std::lock_guard lock(TidMutex_);
    Priority_ = priority;
  }
  ApplyPriority();
}

void TSerialThread::ApplyPriority() {
  std::lock_guard lock(TidMutex_);
  if (Ended_.load() || Tid_ == 0 || !Priority_) return;
  if (const int e = SerialPosix::SetThreadPriority(Tid_, *Priority_))
    throw EThread("Thread Error: " + SerialPosix::ErrorText(e) + " (" + std::to_string(e) + ")");
}

void TSerialThread::Body() {
  // Named so that the threads can be told apart in ps, top and /proc.
  ::pthread_setname_np(::pthread_self(), Name());
  TidPromise_.set_value(SerialPosix::CurrentThreadId());
  ResumeEvent_.Wait(INFINITE_WAIT);
  try {
    Execute();
  } catch (const EMainThreadGone&) {
  } catch (...) {
    // What escaped a report ends the thread; the application still hears of it.
    auto error = std::current_exception();
    try {
      RunOnMainThread(Link->Runner, [runner = Link->Runner, error] { HandleUncaughtException(runner, error); });
    } catch (...) {
    }
  }
  {
    std::lock_guard lock(TidMutex_);
    Ended_.store(true);
  }
  g_liveThreads.fetch_sub(1);
}

bool TSerialThread::RunOnMain(const std::function<void()>& call) {
  bool ran = false;
  RunOnMainThread(Link->Runner, [&] {
    // A stop is asked for on the main thread, so this test cannot race it.
    if (Terminated_.load()) return;
    ran = true;
    call();
  });
  return ran;
}

bool TSerialThread::TakeHangUp() { return !Link->HangUpSeen.exchange(true); }

// ---- event monitor ----

namespace {
constexpr std::uint32_t kModemEvents = EV_CTS | EV_DSR | EV_RING | EV_RLSD;
constexpr std::uint32_t kCountedEvents = kModemEvents | EV_BREAK | EV_ERR;
// Linux has no waitable notice of a modem line's change (TIOCMIWAIT blocks
// and only a signal ends it), so those events alone are looked for at this
// interval, and only while they are watched on a device that counts them.
constexpr int kModemIntervalMs = 50;
// After a failed wait, so that a persistent failure cannot spin.
constexpr int kFailedWaitPauseMs = 10;
// Tags of the descriptors in the monitor's wait.
constexpr std::uint32_t kStopTag = 0, kPostedTag = 1, kDeviceTag = 2, kDoneTag = 3;

struct TEpoll {
  int fd = ::epoll_create1(EPOLL_CLOEXEC);
  ~TEpoll() {
    if (fd >= 0) ::close(fd);
  }
  bool Add(int target, std::uint32_t events, std::uint32_t tag) const {
    epoll_event e{};
    e.events = events;
    e.data.u32 = tag;
    return ::epoll_ctl(fd, EPOLL_CTL_ADD, target, &e) == 0;
  }
};
}  // namespace

TSerialEventThread::TSerialEventThread(TCustomSerialPort* owner, int fd, std::uint32_t eventMask,
                                       std::uint32_t readSize, std::shared_ptr<TPortLink> link)
    : TSerialThread(owner, fd, std::move(link)), EventMask_(eventMask), ReadSize_(readSize) {
  Counting_ = (EventMask_ & kCountedEvents) && SerialPosix::ReadLineCounters(Fd, Input_.counters);
  WantInput_ = (EventMask_ & (EV_RXCHAR | EV_RX80FULL)) != 0;
  ModemLooks_ = Counting_ && (EventMask_ & kModemEvents);
}

void TSerialEventThread::HandInputTo(const std::shared_ptr<TMainThreadRunner>& runner) {
  if (!runner || ModemLooks_ || !WatchesDevice()) return;
  std::weak_ptr<TSerialEventThread> weak = std::static_pointer_cast<TSerialEventThread>(shared_from_this());
  // Set first: the watch may fire on the main thread before WatchInput returns.
  Watcher_ = runner;
  InputOnMain_ = true;
  const std::uint64_t watch = runner->WatchInput(Fd, [weak](bool hangUp) {
    if (auto self = weak.lock()) self->InputReady(hangUp);
  });
  if (watch == 0) {
    InputOnMain_ = false;
    Watcher_.reset();
    return;
  }
  WatchId_.store(watch);
}

void TSerialEventThread::StopWatching() {
  if (const std::uint64_t watch = WatchId_.exchange(0)) Watcher_->Unwatch(watch);
}

void TSerialEventThread::Stop() {
  Terminated_.store(true);
  StopWatching();
  WaitEvent.SetSignal();
}

void TSerialEventThread::NoteUnread(int n) {
  UnreadAfter_.store(n);
  UnreadNoted_.store(true);
}

void TSerialEventThread::PostEvents(std::uint32_t mask) {
  Posted_.fetch_or(mask);
  WakeEvent.SetSignal();
}

std::uint32_t TSerialEventThread::CountedEvents(SerialPosix::TLineCounters& counters) {
  SerialPosix::TLineCounters now;
  if (!SerialPosix::ReadLineCounters(Fd, now)) return 0;
  std::uint32_t errors = 0;
  std::uint32_t events = 0;
  if (now.Frame != counters.Frame) errors |= CE_FRAME;
  if (now.Overrun != counters.Overrun) errors |= CE_OVERRUN;
  if (now.Parity != counters.Parity) errors |= CE_RXPARITY;
  if (now.BufOverrun != counters.BufOverrun) errors |= CE_RXOVER;
  if (now.Break != counters.Break) {
    // A UART reports a break as a framing error too: it is a line error as well.
    errors |= CE_BREAK;
    events |= EV_BREAK;
  }
  if (now.Cts != counters.Cts) events |= EV_CTS;
  if (now.Dsr != counters.Dsr) events |= EV_DSR;
  if (now.Ring != counters.Ring) events |= EV_RING;
  if (now.Dcd != counters.Dcd) events |= EV_RLSD;
  counters = now;
  if (errors) {
    Link->NoteErrors(errors, (EventMask_ & EV_ERR) != 0);
    events |= EV_ERR;
  }
  return events;
}

std::uint32_t TSerialEventThread::LookAtDevice(bool input, bool hangUp, bool timed) {
  TInputState& in = Input_;
  if (UnreadNoted_.exchange(false)) in.refreshUnread = true;
  if (in.refreshUnread) {
    in.unread = UnreadAfter_.load();
    in.refreshUnread = false;
  }
  std::uint32_t events = 0;
  if (input && !in.hungUp && WantInput_) {
    if (in.unread == 0 && !(EventMask_ & EV_RX80FULL)) {
      // New bytes and none left over: the dispatch counts them itself.
      events |= EV_RXCHAR;
    } else {
      int waiting = 0;
      const int qerr = SerialPosix::InputQueue(Fd, waiting);
      if (qerr == 0) {
        // Bytes a dispatch took off the device still wait.
        waiting += Link->TakenBytes.load(std::memory_order_relaxed);
        if (waiting < in.unread) in.unread = waiting;  // read meanwhile by someone
        if (waiting > in.unread) events |= EV_RXCHAR;
        const bool full = ReadSize_ > 0 && static_cast<std::uint64_t>(waiting) * 10 >= ReadSize_ * 8ull;
        if ((EventMask_ & EV_RX80FULL) && full && !in.above80) events |= EV_RX80FULL;
        in.above80 = full;
      } else if (qerr == EIO) {
        hangUp = true;
      }
    }
  }
  if (hangUp && !in.hungUp) {
    // The device has nothing more to say: from now on wait for the stop request only.
    in.hungUp = true;
    if ((EventMask_ & EV_ERR) && TakeHangUp()) {
      Link->NoteErrors(CE_IOE, true);
      events |= EV_ERR;
    }
  } else if (Counting_ && !in.hungUp && (input || timed)) {
    events |= CountedEvents(in.counters);
  }
  return events & EventMask_;
}

bool TSerialEventThread::TakeBatch() {
  bool idle = false;
  if (!Dispatching_.compare_exchange_strong(idle, true)) {
    AwaitingDone_.store(true);
    idle = false;
    if (!Dispatching_.compare_exchange_strong(idle, true)) return false;  // the batch's end wakes the monitor
  }
  AwaitingDone_.store(false);
  return true;
}

void TSerialEventThread::Execute() {
  TEpoll wait;
  if (wait.fd < 0 || !wait.Add(WaitEvent.Handle(), EPOLLIN, kStopTag) || !wait.Add(WakeEvent.Handle(), EPOLLIN, kPostedTag) ||
      !wait.Add(DoneEvent.Handle(), EPOLLIN, kDoneTag)) {
    WaitEvent.Wait(INFINITE_WAIT);  // no wait can be made: nothing is ever reported
    return;
  }
  // Line errors and a hang-up arrive with (or as) an input wake-up. The
  // device is watched edge-triggered, so the wait ends when bytes arrive, not
  // while unread ones wait. A device that cannot be waited for (not a line:
  // /dev/null) is left alone.
  bool watched = false;
  if (!InputOnMain_ && WatchesDevice()) watched = wait.Add(Fd, EPOLLIN | EPOLLET, kDeviceTag);

  // What has been noticed and not yet looked into: it waits while a batch is
  // in hand.
  std::uint32_t held = 0;
  bool input = false;
  bool hangUp = false;
  bool look = false;
  while (!Terminated_.load()) {
    epoll_event ready[4];
    const int timeout = ModemLooks_ && !Input_.hungUp ? kModemIntervalMs : -1;
    const int n = ::epoll_wait(wait.fd, ready, 4, timeout);
    if (Terminated_.load()) break;
    if (n < 0) {
      if (errno != EINTR) WaitEvent.Wait(kFailedWaitPauseMs);
      continue;
    }
    for (int i = 0; i < n; ++i) {
      const std::uint32_t tag = ready[i].data.u32;
      if (tag == kPostedTag) {
        WakeEvent.ResetSignal();
        held |= Posted_.exchange(0) & EventMask_;
      } else if (tag == kDoneTag) {
        DoneEvent.ResetSignal();
      } else if (tag == kDeviceTag) {
        input = true;
        hangUp = hangUp || (ready[i].events & (EPOLLHUP | EPOLLERR)) != 0;
      }
    }
    look = look || n == 0;
    if (!held && !input && !hangUp && !look) continue;
    if (!TakeBatch()) continue;

    std::uint32_t events = held;
    held = 0;
    if (!InputOnMain_) {
      const bool wasHungUp = Input_.hungUp;
      events |= LookAtDevice(input, hangUp, look);
      if (!wasHungUp && Input_.hungUp && watched) ::epoll_ctl(wait.fd, EPOLL_CTL_DEL, Fd, nullptr);
    }
    input = hangUp = look = false;
    if (!events) {
      Dispatching_.store(false);
      continue;
    }
    if (!InputOnMain_) Input_.refreshUnread = (events & EV_RXCHAR) != 0;
    if (!DeliverEvents(events)) return;  // the main thread runs no more calls
  }
}

bool TSerialEventThread::DeliverEvents(std::uint32_t events) {
  if (Terminated_.load()) return true;
  auto self = std::static_pointer_cast<TSerialEventThread>(shared_from_this());
  return PostToMainThread(Link->Runner, [self, events] { self->RunDispatch(events); });
}

void TSerialEventThread::InputReady(bool hangUp) {
  if (Terminated_.load()) return;
  InputNoticed_ = true;
  HangUpNoticed_ = HangUpNoticed_ || hangUp;
  bool idle = false;
  // A batch in hand (posted, or one whose handler pumps the loop) looks at the device when it ends.
  if (!Dispatching_.compare_exchange_strong(idle, true)) return;
  RunDispatch(0);
}

void TSerialEventThread::RunDispatch(std::uint32_t events) {
  // A stop is asked for on the main thread, so the tests of Terminated cannot race it.
  while (!Terminated_.load()) {
    if (events) {
      DispatchEvents(events);
      if (Terminated_.load()) break;
      UnreadAfter_.store(Owner->UnreadAfterDispatch());
      if (InputOnMain_ && (events & EV_RXCHAR)) Input_.refreshUnread = true;
    }
    if (!InputNoticed_) break;
    const bool wasHungUp = Input_.hungUp;
    events = LookAtDevice(true, HangUpNoticed_, false);
    InputNoticed_ = HangUpNoticed_ = false;
    if (!wasHungUp && Input_.hungUp) StopWatching();
  }
  Dispatching_.store(false);
  if (AwaitingDone_.load()) DoneEvent.SetSignal();
}

void TSerialEventThread::DispatchEvents(std::uint32_t events) {
  try {
    if (TSerialDisplay* display = Owner->Display()) display->UpdateDisplay(Owner);
    if (events & EV_RXCHAR) {
      Owner->HandleRxChar();
      events &= ~EV_RXCHAR;
    }
    if (events != 0) Owner->HandleEvents(events);
  } catch (...) {
    HandleUncaughtException(Link->Runner, std::current_exception());
  }
}

// ---- writer ----

namespace {
// Writes as much as the device takes now, without waiting. Returns the count
// written; `error` is what stopped it (0: all written, EAGAIN: no room).
std::uint32_t WriteNow(int fd, const std::uint8_t* data, std::uint32_t n, int& error) {
  std::uint32_t done = 0;
  error = 0;
  while (done < n) {
    const ssize_t w = ::write(fd, data + done, n - done);
    if (w > 0) {
      done += static_cast<std::uint32_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    error = w < 0 ? errno : EAGAIN;
    break;
  }
  return done;
}

// Waits up to timeoutMs for room on the device or for `event`.
void WaitForRoomOr(int fd, TSyncEvent& event, std::uint32_t timeoutMs) {
  pollfd fds[2] = {{fd, POLLOUT, 0}, {event.Handle(), POLLIN, 0}};
  PollRetrying(fds, 2, timeoutMs);
}
}  // namespace

TSerialWriteThread::TSerialWriteThread(TCustomSerialPort* owner, int fd, std::uint32_t capacity,
                                       std::shared_ptr<TPortLink> link)
    : TSerialThread(owner, fd, std::move(link)), Buffer(capacity) {}

void TSerialWriteThread::Stop() {
  Terminated_.store(true);
  StopEvent.SetSignal();
}

void TSerialWriteThread::SendHeld(int fd) {
  int error = 0;
  const std::uint32_t sent = WriteNow(fd, Buffer.Data(), Buffer.Size(), error);
  if (sent == 0) return;
  Buffer.Consume(sent);
  if (Buffer.Size() == 0) {
    DataEvent.ResetSignal();
    DrainedMeanwhile_ = ReportDrain_;
  }
}

bool TSerialWriteThread::QueueBytes(int fd, const void* Source, std::uint32_t Count, std::uint32_t writeTimeoutMs,
                                    bool reportDrain) {
  const auto* bytes = static_cast<const std::uint8_t*>(Source);
  TTickTimeout timeout;
  timeout.Start(writeTimeoutMs);
  // The progress event is reset only when a wait may follow, and the room is
  // looked at again after the reset, so the usual write costs no extra call.
  bool armed = false;
  for (;;) {
    bool sending = false;
    bool start = false;
    {
      std::lock_guard lock(Link->WriteLock);
      if (static_cast<std::uint64_t>(Buffer.Size()) + Count <= Buffer.Capacity()) {
        ReportDrain_ = reportDrain;
        if (Buffer.Size() == 0 && !reportDrain) {
          // Nothing is queued or in flight (the writer consumes only once its
          // write has returned), so the bytes go to the device from here
          // without waking the writer; it gets only what the device does not
          // take now, and meets any error itself.
          int error = 0;
          const std::uint32_t sent = WriteNow(fd, bytes, Count, error);
          bytes += sent;
          Count -= sent;
          if (Count == 0) return true;
        }
        if (Started()) {
          Buffer.Append(bytes, Count);
          DataEvent.SetSignal();
          return true;
        }
        start = true;  // nothing is queued until a thread is there to send it
      } else if (Reporting_ && Buffer.Size() > 0) {
        // No room. While the writer waits for the main thread, which is this
        // one, it cannot make any: what it holds is sent from here.
        SendHeld(fd);
        sending = true;
        if (static_cast<std::uint64_t>(Buffer.Size()) + Count <= Buffer.Capacity()) continue;
      }
    }
    if (start) {
      Start();
      continue;
    }
    if (!armed) {
      ProgressEvent.ResetSignal();
      armed = true;
      continue;
    }
    if (timeout.Expired()) return false;
    const std::uint32_t left = timeout.Remaining() + 1;
    if (sending) WaitForRoomOr(fd, ProgressEvent, left);
    else ProgressEvent.Wait(left);
    armed = false;
  }
}

bool TSerialWriteThread::WaitDrained(int fd, std::uint32_t timeoutMs) {
  TTickTimeout timeout;
  timeout.Start(timeoutMs);
  for (;;) {
    ProgressEvent.ResetSignal();
    bool sending = false;
    {
      std::lock_guard lock(Link->WriteLock);
      if (Buffer.Size() == 0) return true;
      // After a hang-up nothing drains any more: what is held is dropped.
      if (Link->HangUpSeen.load()) return false;
      if (Reporting_) {
        SendHeld(fd);
        if (Buffer.Size() == 0) return true;
        sending = true;
      }
    }
    if (Stopped_.load() || timeout.Expired()) return false;
    const std::uint32_t left = timeout.Remaining() + 1;
    if (sending) WaitForRoomOr(fd, ProgressEvent, left);
    else ProgressEvent.Wait(left);
  }
}

bool TSerialWriteThread::WriteDone(std::uint32_t N) {
  std::lock_guard lock(Link->WriteLock);
  Buffer.Consume(N);
  ProgressEvent.SetSignal();
  if (Buffer.Size() > 0) {
    DataEvent.SetSignal();
    return false;
  }
  DataEvent.ResetSignal();
  return ReportDrain_;
}

void TSerialWriteThread::Report(std::uint32_t mask) {
  {
    std::lock_guard lock(Link->WriteLock);
    Reporting_ = true;
  }
  // A main thread waiting for room must know that it now sends for itself.
  ProgressEvent.SetSignal();
  struct TClear {
    TSerialWriteThread* self;
    ~TClear() {
      std::lock_guard lock(self->Link->WriteLock);
      self->Reporting_ = false;
    }
  } clear{this};
  RunOnMain([this, mask] { Owner->HandleEvents(mask); });
}

void TSerialWriteThread::ReportDrains() {
  for (;;) {
    Report(EV_TXEMPTY);
    // The main thread may have sent and drained what was queued meanwhile.
    std::lock_guard lock(Link->WriteLock);
    const bool again = DrainedMeanwhile_;
    DrainedMeanwhile_ = false;
    if (!again) return;
  }
}

void TSerialWriteThread::Execute() {
  // However the thread ends, a Close waiting for the drain stops waiting.
  struct TEnd {
    TSerialWriteThread* self;
    ~TEnd() {
      self->Stopped_.store(true);
      self->ProgressEvent.SetSignal();
    }
  } end{this};
  // Pause after a failed write that is not a hang-up, so a retry cannot spin.
  constexpr int kRetryPauseMs = 10;
  for (;;) {
    const int which = WaitForAny({&StopEvent, &DataEvent}, INFINITE_WAIT);
    if (which != 1) break;  // stop request (or a broken wait)
    std::uint32_t n;
    const std::uint8_t* data;
    {
      std::lock_guard lock(Link->WriteLock);
      n = Buffer.Size();
      data = Buffer.Data();
      if (n == 0) {
        DataEvent.ResetSignal();
        continue;
      }
    }
    const ssize_t w = ::write(Fd, data, n);
    if (w > 0) {
      if (WriteDone(static_cast<std::uint32_t>(w))) ReportDrains();
      continue;
    }
    const int e = w < 0 ? errno : EAGAIN;
    if (e == EINTR) continue;
    if (e == EAGAIN) {
      // The device's queue is full: wait for room or the stop request.
      pollfd fds[2] = {{StopEvent.Handle(), POLLIN, 0}, {Fd, POLLOUT, 0}};
      if (PollRetrying(fds, 2, INFINITE_WAIT) < 0 || (fds[0].revents & POLLIN)) break;
      continue;
    }
    const bool hangUp = e == EIO || e == ENXIO || e == EPIPE || e == ENODEV;
    if (hangUp) {
      const bool first = TakeHangUp();
      ProgressEvent.SetSignal();  // nothing more drains
      if (first) {
        Link->NoteErrors(CE_IOE, true);
        Report(EV_ERR);
      }
      StopEvent.Wait(INFINITE_WAIT);  // nothing more can be sent
      break;
    }
    Report(EV_ERR);
    if (StopEvent.Wait(kRetryPauseMs) == wrSignalled) break;
  }
}
