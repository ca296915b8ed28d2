// qvflash on Windows: handles opened by wide-character names, the console in
// its virtual-terminal mode and in UTF-8, Ctrl+C and the console's closing
// taken by a console control handler, FlushFileBuffers for the record.
#include <windows.h>
// After windows.h:
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>

#include "FlashSystem.h"
#include "TextOut.h"
#include "win32/Utf16Text.h"

namespace {

// The system's text for an error number, without its line end.
std::string SystemText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD n =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string utf8 = n > 0 ? Utf8FromWide({text, n}) : "error " + std::to_string(code);
  ::LocalFree(text);
  while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == ' ' || utf8.back() == '.'))
    utf8.pop_back();
  return utf8 + " (error " + std::to_string(code) + ")";
}

HANDLE HandleOf(std::FILE* file) { return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file))); }

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && handle != nullptr && ::GetConsoleMode(handle, &mode);
}

UINT g_outputPage = 0;  // the console's own code page, put back at exit
void RestoreOutputPage() { ::SetConsoleOutputCP(g_outputPage); }

}  // namespace

namespace FlashSystem {

void PrepareStandardStreams() {
  // The C library's text mode would write CR LF for every line end: the
  // JSON document, the port list and the messages go out as they are.
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
  // Messages are UTF-8 (Russian status texts, port names): so is the console while qvflash runs.
  if ((IsConsole(HandleOf(stdout)) || IsConsole(HandleOf(stderr))) && g_outputPage == 0) {
    g_outputPage = ::GetConsoleOutputCP();
    if (g_outputPage != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) std::atexit(RestoreOutputPage);
  }
}

bool LiveTerminal(std::FILE* out) {
  const HANDLE handle = HandleOf(out);
  DWORD mode = 0;
  if (!IsConsole(handle) || !::GetConsoleMode(handle, &mode)) return false;
  // The live rows are redrawn with the control sequences a terminal takes;
  // a console that cannot take them gets the plain lines.
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         ::SetConsoleMode(handle, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

int TerminalWidth(std::FILE* out) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(HandleOf(out), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

std::string ResolvedDevice(const std::string& path) { return path; }

std::string UserName() {
  wchar_t name[257];
  DWORD length = 257;
  return ::GetUserNameW(name, &length) && length > 0 ? Utf8FromWide({name, length - 1}) : "";
}

std::string HostName() {
  wchar_t name[256];
  DWORD length = 256;
  return ::GetComputerNameExW(ComputerNameDnsHostname, name, &length) ? Utf8FromWide({name, length}) : "";
}

// "\\.\COM5" says nothing that "COM5" does not.
std::string ShownPort(const std::string& name, const TPortProblem&) { return name; }

std::string PermissionHint(const std::string& port, const TPortProblem&) {
  return "hint: this account may not open " + port + "; ask an administrator of this computer for access.";
}

std::string BusyHint(const std::string& port, const std::string&, const TPortProblem&) {
  return "hint: another program holds " + port +
         " (a terminal program, another loader, the adapter's own tool); close it and try again.";
}

std::string NotFoundAdvice(bool portsExist) {
  const std::string where =
      " Device Manager, under \"Ports (COM & LPT)\", shows the adapter's port number; an adapter that is missing "
      "there or marked with a warning sign needs its driver installed.";
  return portsExist ? where : " No serial port is: plug in the adapter." + where;
}

}  // namespace FlashSystem

TOutputFile::TOutputFile(const std::string& path, TMode mode) {
  // Appending only: a record is never truncated or overwritten, and a line
  // written whole goes to the end whoever else appends. A pipe that no
  // program serves is refused at once (it cannot be opened).
  const DWORD access = mode == TMode::Append ? FILE_APPEND_DATA | SYNCHRONIZE : GENERIC_WRITE;
  const HANDLE handle =
      ::CreateFileW(WideFromUtf8(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    mode == TMode::Append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    throw std::runtime_error(path + ": " +
                             (error == ERROR_PIPE_BUSY ? "a pipe that no program reads" : SystemText(error)));
  }
  disk_ = ::GetFileType(handle) == FILE_TYPE_DISK;
  handle_ = reinterpret_cast<std::intptr_t>(handle);
}

TOutputFile::~TOutputFile() { ::CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

bool TOutputFile::Write(const std::string& bytes, std::string& error) {
  DWORD written = 0;
  if (!::WriteFile(reinterpret_cast<HANDLE>(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr)) {
    error = SystemText(::GetLastError());
    return false;
  }
  if (written != bytes.size()) {
    error = "only " + std::to_string(written) + " of " + std::to_string(bytes.size()) + " bytes written";
    return false;
  }
  return true;
}

bool TOutputFile::Sync(std::string& error) {
  if (!disk_ || ::FlushFileBuffers(reinterpret_cast<HANDLE>(handle_))) return true;
  error = "sync failed: " + SystemText(::GetLastError());
  return false;
}

// The console control handler runs on a thread of the system's own: it says
// which request came and lets the run's thread go on. When the console
// closes (or the user logs off) Windows ends the process as soon as the
// handler returns, so the handler then waits for the run to finish its
// records, within the few seconds Windows allows.
namespace {

std::atomic<DWORD> g_request{~DWORD{0}};
HANDLE g_requested = nullptr;  // set by the handler
HANDLE g_finished = nullptr;   // set when the run is done

BOOL WINAPI TakeRequest(DWORD type) {
  DWORD none = ~DWORD{0};
  g_request.compare_exchange_strong(none, type);
  ::SetEvent(g_requested);
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
    ::WaitForSingleObject(g_finished, 4500);
  return TRUE;
}

std::string RequestName(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT: return "Ctrl+C";
    case CTRL_BREAK_EVENT: return "Ctrl+Break";
    case CTRL_CLOSE_EVENT: return "the console closed";
    case CTRL_LOGOFF_EVENT: return "log-off";
    default: return "shut-down";
  }
}

}  // namespace

struct TStopRequests::TState {
  HANDLE wake = nullptr;
};

TStopRequests::TStopRequests() : state_(std::make_unique<TState>()) {
  state_->wake = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  // The handler may still wait on these after a run: they stay for the life of the process.
  if (g_requested == nullptr) {
    g_requested = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  ::ResetEvent(g_requested);
  ::ResetEvent(g_finished);
  g_request = ~DWORD{0};
  ::SetConsoleCtrlHandler(TakeRequest, TRUE);
}

TStopRequests::~TStopRequests() {
  ::SetEvent(g_finished);
  ::SetConsoleCtrlHandler(TakeRequest, FALSE);
  ::CloseHandle(state_->wake);
}

void TStopRequests::Wake() { ::SetEvent(state_->wake); }

std::string TStopRequests::Wait() {
  const HANDLE events[] = {g_requested, state_->wake};
  const DWORD r = ::WaitForMultipleObjects(2, events, FALSE, INFINITE);
  if (r == WAIT_OBJECT_0) {
    ::ResetEvent(g_requested);
    const DWORD type = g_request.exchange(~DWORD{0});
    if (type != ~DWORD{0}) return RequestName(type);
  }
  return {};
}
