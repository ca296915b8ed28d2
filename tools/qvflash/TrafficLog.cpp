#include "TrafficLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "DeviceRecord.h"
#include "SessionState.h"

TTrafficLog::TTrafficLog(const std::string& path) {
  if (path.empty()) return;
  int fd = -1;
  try {
    fd = OpenForWriting(path, O_TRUNC);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(std::string("cannot create log file ") + e.what());
  }
  file_ = ::fdopen(fd, "w");
  if (file_ == nullptr) {
    ::close(fd);
    throw std::runtime_error("cannot create log file " + path + ": " + std::strerror(errno));
  }
}

TTrafficLog::~TTrafficLog() {
  if (file_ != nullptr) std::fclose(file_);
}

bool TTrafficLog::Finish(std::string& error) {
  std::lock_guard lock(mutex_);
  if (file_ == nullptr) return true;
  const bool written = std::fflush(file_) == 0 && !std::ferror(file_);
  if (!written) error = std::strerror(errno);
  return written;
}

void TTrafficLog::Line(const std::string& tag, const char* kind, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (file_ == nullptr) return;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::fprintf(file_, "[%11.6f] %s%s%s %s\n", seconds, tag.c_str(), tag.empty() ? "" : " ", kind, text.c_str());
}

void TTrafficLog::Bytes(const std::string& tag, const char* kind, const std::uint8_t* bytes, int count) {
  if (file_ == nullptr || count <= 0) return;
  Line(tag, kind, FormatHexBytes(bytes, static_cast<std::size_t>(count)).substr(1));
}

void TLoggingPort::Open() {
  port_.Open();
  log_.Line(tag_, "OPEN", "");
}

bool TLoggingPort::Close() {
  const bool delivered = port_.Close();
  log_.Line(tag_, "CLOSE", delivered ? "" : "bytes written were not handed to the device");
  return delivered;
}

int TLoggingPort::ReadBytes(std::uint8_t* buffer, int count) {
  const int n = port_.ReadBytes(buffer, count);
  log_.Bytes(tag_, "RX", buffer, n);
  if (n > 0) {
    read_ += n;
    greetings_ += std::count(buffer, buffer + n, std::uint8_t{0x55});
  }
  return n;
}

int TLoggingPort::WriteBytes(const std::uint8_t* buffer, int count) {
  const int n = port_.WriteBytes(buffer, count);
  log_.Bytes(tag_, "TX", buffer, count);
  written_ += count;
  ++writes_;
  return n;
}
