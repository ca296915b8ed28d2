// Files on POSIX systems: descriptors, with the regular-file check made
// before opening and again on what was opened.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "FileAccess.h"
#include "UpdateFile.h"

namespace {

[[noreturn]] void ThrowInOutError(int code) {
  switch (code) {
    case ENOENT:
    case ENOTDIR: throw EInOutError(code, "File not found");
    case EACCES:
    case EPERM: throw EInOutError(code, "File access denied");
    default: throw EInOutError(code, "I/O error " + std::to_string(code));
  }
}

// Closes the descriptor on every way out.
class FileDescriptor {
public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

private:
  int fd_;
};

// Only a regular file can be an update file. Anything else is refused with an
// error code the way a text-file reader meets it: a directory cannot be read,
// a pipe or socket has no size, a device is not a file.
void RequireRegularFile(const struct stat& info) {
  if (S_ISREG(info.st_mode)) return;
  if (S_ISDIR(info.st_mode)) ThrowInOutError(EISDIR);
  if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) ThrowInOutError(ESPIPE);
  ThrowInOutError(ENODEV);
}

}  // namespace

namespace FileAccess {

bool ReadRegularFile(const std::string& name, std::uintmax_t expected, std::string& text, std::uintmax_t& size) {
  // Look before opening: opening a FIFO blocks until a writer comes, and
  // opening a device can act on it.
  struct stat info {};
  if (::stat(name.c_str(), &info) != 0) ThrowInOutError(errno);
  RequireRegularFile(info);
  // Read access alone, so a read-only update file loads; O_NONBLOCK in case
  // the name was swapped for a FIFO since the look.
  FileDescriptor file(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) ThrowInOutError(errno);
  if (::fstat(file.get(), &info) != 0) ThrowInOutError(errno);
  RequireRegularFile(info);
  size = static_cast<std::uintmax_t>(info.st_size);
  if (size != expected) return false;

  text.assign(static_cast<std::size_t>(size), '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::read(file.get(), text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowInOutError(errno);
    }
    if (n == 0) break;  // the file shrank under us
    done += static_cast<std::size_t>(n);
  }
  text.resize(done);
  return true;
}

void WriteWholeFile(const std::string& name, const std::string& bytes) {
  FileDescriptor file(::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (file.get() < 0) ThrowInOutError(errno);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(file.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowInOutError(errno);
    }
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace FileAccess
