// Files on Windows: handles opened by the name's wide-character form (a
// narrow name reaches the system in the ANSI code page, where a Cyrillic name
// is "File not found"), read and written as bytes (the C library's text mode
// would add a CR to every line end).
#include <windows.h>

#include <algorithm>

#include "FileAccess.h"
#include "UpdateFile.h"

namespace {

[[noreturn]] void ThrowInOutError(DWORD code) {
  const int number = static_cast<int>(code);
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: throw EInOutError(number, "File not found");
    case ERROR_ACCESS_DENIED: throw EInOutError(number, "File access denied");
    default: throw EInOutError(number, "I/O error " + std::to_string(number));
  }
}

// UTF-8, as the programs hand names on; a name that is not UTF-8 is taken in
// the ANSI code page.
std::wstring WideName(const std::string& name) {
  const int length = static_cast<int>(name.size());
  UINT page = CP_UTF8;
  int n = ::MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, name.data(), length, nullptr, 0);
  if (n == 0 && length > 0) {
    page = CP_ACP;
    n = ::MultiByteToWideChar(page, 0, name.data(), length, nullptr, 0);
  }
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(page, 0, name.data(), length, wide.data(), n);
  return wide;
}

// Closes the handle on every way out.
class FileHandle {
public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return handle_; }
  // Closes now, so that a failure to write the last bytes is seen.
  bool Close() {
    const BOOL closed = ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed != FALSE;
  }

private:
  HANDLE handle_;
};

constexpr DWORD kChunk = 1 << 20;

}  // namespace

namespace FileAccess {

bool ReadRegularFile(const std::string& name, std::uintmax_t expected, std::string& text, std::uintmax_t& size) {
  const std::wstring wide = WideName(name);
  // A directory cannot be read; opening one takes a flag that is not asked for.
  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  if (!::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &attributes)) ThrowInOutError(::GetLastError());
  if (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ThrowInOutError(ERROR_DIRECTORY);
  // Read access alone, so a read-only update file loads; others may go on
  // reading and writing it meanwhile.
  FileHandle file(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) ThrowInOutError(::GetLastError());
  // A pipe, the console or a device is opened without waiting but would be
  // read with it: only a file on a disk is read.
  if (::GetFileType(file.get()) != FILE_TYPE_DISK) ThrowInOutError(ERROR_BAD_FILE_TYPE);
  LARGE_INTEGER length{};
  if (!::GetFileSizeEx(file.get(), &length)) ThrowInOutError(::GetLastError());
  size = static_cast<std::uintmax_t>(length.QuadPart);
  if (size != expected) return false;

  text.assign(static_cast<std::size_t>(size), '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, kChunk));
    if (!::ReadFile(file.get(), text.data() + done, want, &got, nullptr)) ThrowInOutError(::GetLastError());
    if (got == 0) break;  // the file shrank under us
    done += got;
  }
  text.resize(done);
  return true;
}

void WriteWholeFile(const std::string& name, const std::string& bytes) {
  FileHandle file(::CreateFileW(WideName(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) ThrowInOutError(::GetLastError());
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, kChunk));
    if (!::WriteFile(file.get(), bytes.data() + done, want, &written, nullptr)) ThrowInOutError(::GetLastError());
    done += written;
  }
  if (!file.Close()) ThrowInOutError(::GetLastError());
}

}  // namespace FileAccess
