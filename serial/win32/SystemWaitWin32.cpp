// Events, waits and thread settings on Windows.
#include <windows.h>

#include <algorithm>
#include <system_error>

#include "SerialSystem.h"

namespace SerialSystem {

TWaitEvent::TWaitEvent() {
  const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr)
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), "CreateEvent");
  Handle_.value = reinterpret_cast<std::intptr_t>(event);
}

TWaitEvent::~TWaitEvent() { ::CloseHandle(reinterpret_cast<HANDLE>(Handle_.value)); }

void TWaitEvent::Set() { ::SetEvent(reinterpret_cast<HANDLE>(Handle_.value)); }

void TWaitEvent::Reset() { ::ResetEvent(reinterpret_cast<HANDLE>(Handle_.value)); }

int WaitAny(const TWaitHandle* handles, int count, std::int64_t timeoutMs) {
  HANDLE waitable[MAXIMUM_WAIT_OBJECTS];
  count = std::min(count, static_cast<int>(MAXIMUM_WAIT_OBJECTS));
  for (int i = 0; i < count; ++i) waitable[i] = reinterpret_cast<HANDLE>(handles[i].value);
  const DWORD timeout = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(std::min<std::int64_t>(timeoutMs, INFINITE - 1));
  const DWORD r = ::WaitForMultipleObjects(static_cast<DWORD>(count), waitable, FALSE, timeout);
  if (r < WAIT_OBJECT_0 + static_cast<DWORD>(count)) return static_cast<int>(r - WAIT_OBJECT_0);
  return -1;
}

int SetCurrentThreadPriority(TThreadPriority priority) {
  static constexpr int levels[] = {
      THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,  THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
      THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST, THREAD_PRIORITY_TIME_CRITICAL};
  return ::SetThreadPriority(::GetCurrentThread(), levels[priority]) ? 0 : static_cast<int>(::GetLastError());
}

void NameCurrentThread(const char* name) {
  // Windows 10 and Wine have SetThreadDescription; older systems go without names.
  using TSetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  static const auto set = reinterpret_cast<TSetDescription>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
  if (set == nullptr) return;
  wchar_t wide[32] = {};
  for (int i = 0; i < 31 && name[i]; ++i) wide[i] = static_cast<wchar_t>(name[i]);
  set(::GetCurrentThread(), wide);
}

}  // namespace SerialSystem
