// The two worker threads of the serial component.
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
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
}

void TSerialThread::Resume() { ResumeEvent_.SetSignal(); }

void TSerialThread::SetPriority(TThreadPriority priority) {
  std::lock_guard lock(TidMutex_);
  if (Ended_.load() || Tid_ == 0) return;
  if (const int e = SerialPosix::SetThreadPriority(Tid_, priority))
    throw EThread("Thread Error: " + SerialPosix::ErrorText(e) + " (" + std::to_string(e) + ")");
}

void TSerialThread::Body() {
  TidPromise_.set_value(SerialPosix::CurrentThreadId());
  ResumeEvent_.Wait(INFINITE_WAIT);
  try {
    Execute();
  } catch (const EMainThreadGone&) {
  } catch (...) {
    // What escaped a report ends the thread; the application still hears of it.
    auto error = std::current_exception();
    try {
      RunOnMainThread([error] { HandleUncaughtException(error); });
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
  RunOnMainThread([&] {
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
constexpr std::uint32_t kLineWatchEvents = EV_CTS | EV_DSR | EV_RING | EV_RLSD | EV_BREAK | EV_ERR;
// How often a handler's unread bytes, and the modem and error counters, are looked at.
constexpr int kWatchIntervalMs = 10;
constexpr int kCounterIntervalMs = 50;
}  // namespace

TSerialEventThread::TSerialEventThread(TCustomSerialPort* owner, int fd, std::uint32_t eventMask,
                                       std::uint32_t readSize, std::shared_ptr<TPortLink> link)
    : TSerialThread(owner, fd, std::move(link)), EventMask_(eventMask), ReadSize_(readSize) {}

void TSerialEventThread::Stop() {
  Terminated_.store(true);
  WaitEvent.SetSignal();
}

void TSerialEventThread::PostEvents(std::uint32_t mask) {
  Posted_.fetch_or(mask);
  WakeEvent.SetSignal();
}

void TSerialEventThread::Execute() {
  // Bytes already reported that a handler left unread: only growth beyond
  // them is news, so unread bytes never make this loop spin.
  int unread = 0;
  bool hungUp = false;
  bool above80 = false;
  SerialPosix::TLineCounters counters;
  const bool watchCounters = (EventMask_ & kLineWatchEvents) && SerialPosix::ReadLineCounters(Fd, counters);

  while (!Terminated_.load()) {
    pollfd fds[3] = {{WaitEvent.Handle(), POLLIN, 0}, {WakeEvent.Handle(), POLLIN, 0}, {Fd, POLLIN, 0}};
    unsigned long count = 3;
    std::int64_t timeout = INFINITE_WAIT;
    if (hungUp) {
      count = 2;  // the device has nothing more to say; wait for the stop request
    } else {
      if (unread > 0) {
        fds[2].events = 0;  // still readable: watch the count instead
        timeout = kWatchIntervalMs;
      }
      if (watchCounters) timeout = timeout < 0 ? kCounterIntervalMs : timeout;
    }
    const int r = PollRetrying(fds, count, timeout);
    if (Terminated_.load()) break;
    if (r < 0) {
      // A failed wait dispatches nothing; pause so a persistent failure cannot spin.
      WaitEvent.Wait(kWatchIntervalMs);
      continue;
    }
    std::uint32_t events = 0;
    if (fds[1].revents & POLLIN) {
      WakeEvent.ResetSignal();
      events |= Posted_.exchange(0) & EventMask_;
    }
    if (!hungUp) {
      int waiting = 0;
      const int qerr = SerialPosix::InputQueue(Fd, waiting);
      if (qerr == 0) {
        if (waiting < unread) unread = waiting;  // read meanwhile by someone
        if ((EventMask_ & EV_RXCHAR) && waiting > unread) events |= EV_RXCHAR;
        const bool full = ReadSize_ > 0 && static_cast<std::uint64_t>(waiting) * 10 >= ReadSize_ * 8ull;
        if ((EventMask_ & EV_RX80FULL) && full && !above80) events |= EV_RX80FULL;
        above80 = full;
      }
      if ((fds[2].revents & (POLLHUP | POLLERR | POLLNVAL)) || qerr == EIO) {
        hungUp = true;
        if (TakeHangUp()) {
          Link->PendingErrors.fetch_or(CE_IOE);
          events |= EV_ERR & EventMask_;
        }
      }
      if (watchCounters && !hungUp) {
        SerialPosix::TLineCounters now;
        if (SerialPosix::ReadLineCounters(Fd, now)) {
          std::uint32_t errors = 0;
          if (now.Frame != counters.Frame) errors |= CE_FRAME;
          if (now.Overrun != counters.Overrun) errors |= CE_OVERRUN;
          if (now.Parity != counters.Parity) errors |= CE_RXPARITY;
          if (now.BufOverrun != counters.BufOverrun) errors |= CE_RXOVER;
          if (now.Break != counters.Break) events |= EV_BREAK;
          if (now.Cts != counters.Cts) events |= EV_CTS;
          if (now.Dsr != counters.Dsr) events |= EV_DSR;
          if (now.Ring != counters.Ring) events |= EV_RING;
          if (now.Dcd != counters.Dcd) events |= EV_RLSD;
          if (errors) {
            Link->PendingErrors.fetch_or(errors);
            events |= EV_ERR;
          }
          counters = now;
        }
      }
    }
    events &= EventMask_;
    if (events) DeliverEvents(events, unread);
  }
}

void TSerialEventThread::DeliverEvents(std::uint32_t events, int& unreadAfter) {
  if (Terminated_.load()) return;
  int unread = unreadAfter;
  RunOnMain([&] {
    DispatchEvents(events);
    unread = Owner->UnreadAfterDispatch();
  });
  unreadAfter = unread;
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
    HandleUncaughtException(std::current_exception());
  }
}

// ---- writer ----

TSerialWriteThread::TSerialWriteThread(TCustomSerialPort* owner, int fd, std::uint32_t capacity,
                                       std::shared_ptr<TPortLink> link)
    : TSerialThread(owner, fd, std::move(link)), Buffer(capacity) {}

void TSerialWriteThread::Stop() {
  Terminated_.store(true);
  StopEvent.SetSignal();
}

bool TSerialWriteThread::QueueBytes(const void* Source, std::uint32_t Count, std::uint32_t writeTimeoutMs) {
  if (static_cast<std::uint64_t>(Buffer.Size()) + Count > Buffer.Capacity()) {
    TTickTimeout timeout;
    timeout.Start(writeTimeoutMs);
    for (;;) {
      if (static_cast<std::uint64_t>(Buffer.Size()) + Count <= Buffer.Capacity()) break;
      if (timeout.Expired()) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  }
  std::lock_guard lock(Link->WriteLock);
  Buffer.Append(Source, Count);
  DataEvent.SetSignal();
  return true;
}

bool TSerialWriteThread::WaitDrained(std::uint32_t timeoutMs) {
  TTickTimeout timeout;
  timeout.Start(timeoutMs);
  for (;;) {
    if (Buffer.Size() == 0) return true;
    if (Ended() || timeout.Expired()) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

bool TSerialWriteThread::WriteDone(std::uint32_t N) {
  std::lock_guard lock(Link->WriteLock);
  Buffer.Consume(N);
  if (Buffer.Size() > 0) {
    DataEvent.SetSignal();
    return false;
  }
  DataEvent.ResetSignal();
  return true;
}

void TSerialWriteThread::Report(std::uint32_t mask) {
  {
    std::lock_guard lock(Link->WriteLock);
    Reporting_ = true;
  }
  struct TClear {
    TSerialWriteThread* self;
    ~TClear() {
      std::lock_guard lock(self->Link->WriteLock);
      self->Reporting_ = false;
    }
  } clear{this};
  RunOnMain([this, mask] { Owner->HandleEvents(mask); });
}

bool TSerialWriteThread::FlushWhileReporting(int fd, std::uint32_t timeoutMs) {
  std::lock_guard lock(Link->WriteLock);
  // While Reporting_ holds, the writer cannot touch the buffer: it needs this
  // lock to clear the flag before it looks at the buffer again.
  if (!Reporting_) return false;
  TTickTimeout timeout;
  timeout.Start(timeoutMs);
  while (Buffer.Size() > 0) {
    const ssize_t w = ::write(fd, Buffer.Data(), Buffer.Size());
    if (w > 0) {
      Buffer.Consume(static_cast<std::uint32_t>(w));
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if ((w < 0 && errno != EAGAIN) || timeout.Expired()) break;
    pollfd p{fd, POLLOUT, 0};
    PollRetrying(&p, 1, 10);
  }
  if (Buffer.Size() == 0) DataEvent.ResetSignal();
  return true;
}

void TSerialWriteThread::Execute() {
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
      if (WriteDone(static_cast<std::uint32_t>(w))) Report(EV_TXEMPTY);
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
      if (TakeHangUp()) {
        Link->PendingErrors.fetch_or(CE_IOE);
        Report(EV_ERR);
      }
      StopEvent.Wait(INFINITE_WAIT);  // nothing more can be sent
      break;
    }
    Report(EV_ERR);
    if (StopEvent.Wait(kRetryPauseMs) == wrSignalled) break;
  }
}
