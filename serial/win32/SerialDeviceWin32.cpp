// The serial device on Windows: a COM port opened for overlapped transfers,
// its line from a DCB. Bytes are waited for with an overlapped ReadFile that
// is always pending under COMMTIMEOUTS {MAXDWORD, MAXDWORD, N} (WaitCommEvent
// with EV_RXCHAR alone spins under Wine), so its event is the device's input
// handle. On a COM port it asks for one byte: Windows returns as soon as a
// byte arrives whatever the size, Wine 8 only once the size is reached; what
// else waits is then read at once, sized by ClearCommError. WaitCommEvent serves
// only the events a read cannot see (modem lines, break, line errors), where
// the port has them. A named pipe (the simulated device) is a line without
// comm functions: those are nothing to do. (The EV_ and CE_ values are the
// system's own here; SerialPort.h defines the same names for the rest.)
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "SerialSystem.h"
#include "win32/Utf16Text.h"

namespace SerialSystem {

namespace {

constexpr std::uint32_t kLineEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_BREAK | EV_ERR;
// A pending read with no byte ends after this long and is started again: a
// silent line wakes the main thread once a minute.
constexpr DWORD kReadWaitMs = 60000;
constexpr DWORD kInputChunk = 4096;

TWaitHandle AsWait(HANDLE handle) { return {reinterpret_cast<std::intptr_t>(handle)}; }
int LastError() { return static_cast<int>(::GetLastError()); }

// An overlapped record with an event of its own, and what it is doing.
struct TTransfer {
  OVERLAPPED ov{};
  bool pending = false;
  TTransfer() { ov.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }
  ~TTransfer() { ::CloseHandle(ov.hEvent); }
  TTransfer(const TTransfer&) = delete;
  TTransfer& operator=(const TTransfer&) = delete;
  // The result of the transfer once it is over: 0 and the count, or the error
  // (ERROR_IO_INCOMPLETE while it goes on).
  int Result(HANDLE device, DWORD& count, bool wait) {
    count = 0;
    if (::GetOverlappedResult(device, &ov, &count, wait ? TRUE : FALSE)) {
      pending = false;
      return 0;
    }
    const int error = LastError();
    if (error != ERROR_IO_INCOMPLETE) pending = false;
    return error;
  }
};

class TWin32Device final : public TDevice {
public:
  explicit TWin32Device(HANDLE handle) : handle_(handle), input_(kInputChunk) {
    comm_ = ::GetFileType(handle_) == FILE_TYPE_CHAR;
  }

  ~TWin32Device() override {
    // Pending transfers of every thread end before their records go.
    ::CancelIoEx(handle_, nullptr);
    DWORD count = 0;
    for (TTransfer* transfer : {&read_, &write_, &events_})
      if (transfer->pending) transfer->Result(handle_, count, true);
    ::CloseHandle(handle_);
  }

  int ApplyLine(const TLineSettings& s) override {
    if (!comm_) return 0;
    static constexpr BYTE kStopBits[] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};
    static constexpr DWORD kDtr[] = {DTR_CONTROL_DISABLE, DTR_CONTROL_ENABLE, DTR_CONTROL_HANDSHAKE};
    static constexpr DWORD kRts[] = {RTS_CONTROL_DISABLE, RTS_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE,
                                     RTS_CONTROL_TOGGLE};
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = static_cast<DWORD>(s.Baud);
    dcb.ByteSize = static_cast<BYTE>(4 + s.Databits);
    dcb.Parity = static_cast<BYTE>(s.Parity);
    dcb.StopBits = kStopBits[s.Stopbits];
    dcb.XonChar = static_cast<char>(s.Chars.XonChar());
    dcb.XoffChar = static_cast<char>(s.Chars.XoffChar());
    dcb.ErrorChar = static_cast<char>(s.Chars.ErrorChar());
    dcb.EofChar = static_cast<char>(s.Chars.EofChar());
    dcb.EvtChar = static_cast<char>(s.Chars.EventChar());
    dcb.XonLim = s.XonLimit;
    dcb.XoffLim = s.XoffLimit;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = s.Flow.OutCtsFlow();
    dcb.fOutxDsrFlow = s.Flow.OutDsrFlow();
    dcb.fDtrControl = kDtr[s.Flow.ControlDtr()];
    dcb.fRtsControl = kRts[s.Flow.ControlRts()];
    dcb.fOutX = s.Flow.XonXoffOut();
    dcb.fInX = s.Flow.XonXoffIn();
    dcb.fDsrSensitivity = s.Flow.DsrSensitivity();
    dcb.fTXContinueOnXoff = s.Flow.TxContinueOnXoff();
    dcb.fErrorChar = s.Options.Contains(coErrorChar);
    dcb.fNull = s.Options.Contains(coNullStrip);
    dcb.fParity = s.Options.Contains(coParityCheck);
    return ::SetCommState(handle_, &dcb) ? 0 : LastError();
  }

  int SetQueueSizes(std::uint32_t in, std::uint32_t out) override {
    if (out == 0) return ERROR_INVALID_PARAMETER;  // the component's buffer must hold something
    return !comm_ || ::SetupComm(handle_, in, out) ? 0 : LastError();
  }

  int SetTimeouts() override {
    COMMTIMEOUTS t{MAXDWORD, MAXDWORD, kReadWaitMs, 0, 0};
    return !comm_ || ::SetCommTimeouts(handle_, &t) ? 0 : LastError();
  }

  int SetEventMask(std::uint32_t mask) override {
    mask_ = mask;
    // Only what a read cannot see; a port without such events (a
    // pseudo-terminal under Wine refuses them) is left to the reads.
    const DWORD events = mask & kLineEvents;
    if (!comm_ || events == 0) return 0;
    if (!::SetCommMask(handle_, events)) return NothingOr(LastError());
    watchEvents_ = StartEventWait() == 0;
    return 0;
  }

  int PurgeInput() override {
    if (comm_ && !::PurgeComm(handle_, PURGE_RXCLEAR | PURGE_RXABORT)) return LastError();
    // From now on a read is always pending: its event is the input handle.
    StartRead();
    return 0;
  }

  int LineFunction(TLineFunction function) override {
    if (!comm_) return 0;
    return ::EscapeCommFunction(handle_, function == TLineFunction::SetDtr ? SETDTR : CLRDTR) ? 0
                                                                                              : NothingOr(LastError());
  }

  int ClearError(TDeviceStatus& status) override {
    status = {};
    // A read that is over holds bytes that count as waiting, like those behind it.
    if (inputBegin_ == inputEnd_) FetchRead();
    status.InQueue = static_cast<std::uint32_t>(inputEnd_ - inputBegin_);
    status.Errors = std::exchange(errorsMeanwhile_, 0);
    if (!comm_) {
      DWORD behind = 0;
      if (::PeekNamedPipe(handle_, nullptr, 0, nullptr, &behind, nullptr)) status.InQueue += behind;
      return 0;
    }
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(handle_, &errors, &stat)) {
      const int error = LastError();
      return Classify(error, TRequest::Status) == TErrorKind::Failure ? error : 0;
    }
    status.Errors |= errors;
    status.InQueue += stat.cbInQue;
    status.OutQueue = stat.cbOutQue;
    return 0;
  }

  // Takes what the reads have brought, starting the next read each time the
  // last is used up: one that completes at once brings what waits already.
  int Read(void* data, std::uint32_t size, std::uint32_t& got) override {
    got = 0;
    while (got < size) {
      if (inputBegin_ == inputEnd_ && !FetchRead()) break;
      const auto n = std::min<std::uint32_t>(size - got, static_cast<std::uint32_t>(inputEnd_ - inputBegin_));
      std::memcpy(static_cast<std::uint8_t*>(data) + got, input_.data() + inputBegin_, n);
      got += n;
      inputBegin_ += n;
      if (inputBegin_ == inputEnd_) StartRead();
    }
    if (got > 0) return 0;
    return readError_ ? readError_ : ERROR_IO_PENDING;
  }

  int Write(const void* data, std::uint32_t size, std::uint32_t& done) override {
    done = 0;
    if (write_.pending) {
      DWORD count = 0;
      const int error = write_.Result(handle_, count, false);
      if (error == ERROR_IO_INCOMPLETE) return ERROR_IO_PENDING;
      if (error) return error;
    }
    // The transfer keeps its own copy: the caller's bytes may go at once.
    output_.assign(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size);
    DWORD count = 0;
    if (!::WriteFile(handle_, output_.data(), size, &count, &write_.ov)) {
      const int error = LastError();
      if (error != ERROR_IO_PENDING) return error;
      write_.pending = true;  // handed to the driver, which sends it
    }
    done = size;
    return 0;
  }

  void WaitOutput(const TWaitEvent* wake, std::int64_t timeoutMs) override {
    if (!write_.pending) return;
    const TWaitHandle handles[] = {AsWait(write_.ov.hEvent), wake ? wake->Handle() : TWaitHandle{}};
    WaitAny(handles, wake ? 2 : 1, timeoutMs);
  }

  TWaitHandle InputHandle() const override { return AsWait(read_.ov.hEvent); }
  TWaitHandle LineEventHandle() const override { return watchEvents_ ? AsWait(events_.ov.hEvent) : TWaitHandle{}; }
  int LineEventPeriodMs() const override { return 0; }

  std::uint32_t TakeLineEvents(std::uint32_t& errors) override {
    errors = 0;
    DWORD count = 0;
    if (!watchEvents_ || !events_.pending) return 0;
    const int error = events_.Result(handle_, count, false);
    if (error == ERROR_IO_INCOMPLETE) return 0;
    if (error) {
      // A port that cannot report its line (a pseudo-terminal under Wine
      // has no modem lines) is left to the reads: waiting again would spin.
      watchEvents_ = false;
      ::ResetEvent(events_.ov.hEvent);
      return 0;
    }
    const std::uint32_t seen = eventsSeen_ & mask_;
    watchEvents_ = StartEventWait() == 0;
    // Line errors are read by the status query that EV_ERR leads to.
    return seen;
  }

private:
  static int NothingOr(int error) {
    return Classify(error, TRequest::ModemLine) == TErrorKind::NothingToDo ? 0 : error;
  }

  void StartRead() {
    inputBegin_ = inputEnd_ = 0;
    if (readError_ || read_.pending) return;
    DWORD count = 0;
    if (::ReadFile(handle_, input_.data(), comm_ ? 1 : kInputChunk, &count, &read_.ov) ||
        LastError() == ERROR_IO_PENDING) {
      read_.pending = true;  // done at once or later: its result is fetched either way
      return;
    }
    readError_ = LastError();
    ::SetEvent(read_.ov.hEvent);  // the main thread finds the error on its next look
  }

  // The result of the read once it is over; false while it goes on, on the
  // line's end (kept: every later read says so) and on its own time-out.
  bool FetchRead() {
    if (readError_ || !read_.pending) return false;
    DWORD count = 0;
    const int error = read_.Result(handle_, count, false);
    if (error == ERROR_IO_INCOMPLETE) return false;
    if (error) {
      readError_ = error;
      return false;
    }
    inputBegin_ = 0;
    inputEnd_ = count;
    if (count == 0) StartRead();  // no byte within the read's time: wait again
    if (comm_ && count > 0) inputEnd_ += TakeWaiting(count);
    return count > 0;
  }

  // Reads what waits in the driver behind the first byte: a read of no more
  // than is there completes at once. The error flags ClearCommError clears
  // here are kept for the next status query.
  DWORD TakeWaiting(DWORD offset) {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(handle_, &errors, &stat)) return 0;
    errorsMeanwhile_ |= errors;
    const DWORD want = std::min<DWORD>(stat.cbInQue, kInputChunk - offset);
    DWORD count = 0;
    if (want == 0) return 0;
    if (!::ReadFile(handle_, input_.data() + offset, want, &count, &read_.ov)) {
      if (LastError() != ERROR_IO_PENDING) return 0;
      read_.pending = true;
      if (read_.Result(handle_, count, true)) return 0;
    }
    return count;
  }

  int StartEventWait() {
    eventsSeen_ = 0;
    if (::WaitCommEvent(handle_, &eventsSeen_, &events_.ov) || LastError() == ERROR_IO_PENDING) {
      events_.pending = true;
      return 0;
    }
    return LastError();
  }

  HANDLE handle_;
  bool comm_ = true;  // a COM port, not a pipe
  std::uint32_t mask_ = 0;
  TTransfer read_, write_, events_;
  std::vector<std::uint8_t> input_;  // what the pending read fills
  std::size_t inputBegin_ = 0, inputEnd_ = 0;
  int readError_ = 0;
  std::uint32_t errorsMeanwhile_ = 0;
  std::vector<std::uint8_t> output_;
  DWORD eventsSeen_ = 0;
  bool watchEvents_ = false;
};

}  // namespace

TErrorKind Classify(int code, TRequest request) {
  switch (code) {
    case 0: return TErrorKind::None;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return request == TRequest::Open ? TErrorKind::NotFound : TErrorKind::Failure;
    case ERROR_IO_PENDING:
    case ERROR_IO_INCOMPLETE: return TErrorKind::WouldWait;
    case ERROR_BROKEN_PIPE:  // the far end closed (Wine: a pseudo-terminal's far end)
    case ERROR_PIPE_NOT_CONNECTED:
    case ERROR_DEVICE_NOT_CONNECTED:  // an adapter unplugged
    case ERROR_DEVICE_REMOVED:
    case ERROR_NOT_READY:  // Wine: status queries after a pseudo-terminal's far end closed
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
      return request == TRequest::Read || request == TRequest::Write || request == TRequest::Status
                 ? TErrorKind::HangUp
                 : TErrorKind::Failure;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:  // modem lines and events a pseudo-terminal lacks under Wine
      return request == TRequest::ModemLine || request == TRequest::Status ? TErrorKind::NothingToDo
                                                                           : TErrorKind::Failure;
    default: return TErrorKind::Failure;
  }
}

std::string ErrorText(int code) {
  wchar_t* text = nullptr;
  const DWORD n =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  const std::string utf8 = n > 0 ? Utf8FromWide({text, n}) : "";
  ::LocalFree(text);
  return n > 0 ? utf8 : "Unknown error " + std::to_string(code);
}

std::string DevicePath(const std::string& name) {
  // COM10 and up open only with the device prefix; it serves COM1 to COM9 as well.
  const int n = ComNumber(name);
  return n > 0 ? "\\\\.\\COM" + std::to_string(n) : name;
}

int TDevice::Open(const std::string& name, std::unique_ptr<TDevice>& device) {
  const HANDLE handle = ::CreateFileW(WideFromUtf8(DevicePath(name)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastError();
  device = std::make_unique<TWin32Device>(handle);
  return 0;
}

}  // namespace SerialSystem
