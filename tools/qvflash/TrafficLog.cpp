#include "TrafficLog.h"

#include <cstdio>
#include <stdexcept>

#include "SessionState.h"

TTrafficLog::TTrafficLog(const std::string& path) {
  if (path.empty()) return;
  file_.open(path, std::ios::out | std::ios::trunc);
  if (!file_) throw std::runtime_error("cannot create log file " + path);
}

void TTrafficLog::Line(const std::string& tag, const char* kind, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (!file_.is_open()) return;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%11.6f] ", seconds);
  file_ << stamp;
  if (!tag.empty()) file_ << tag << ' ';
  file_ << kind << ' ' << text << '\n';
}

void TTrafficLog::Bytes(const std::string& tag, const char* kind, const std::uint8_t* bytes, int count) {
  if (!file_.is_open() || count <= 0) return;
  Line(tag, kind, FormatHexBytes(bytes, static_cast<std::size_t>(count)).substr(1));
}

void TLoggingPort::Open() {
  port_.Open();
  log_.Line(tag_, "OPEN", "");
}

void TLoggingPort::Close() {
  port_.Close();
  log_.Line(tag_, "CLOSE", "");
}

int TLoggingPort::ReadBytes(std::uint8_t* buffer, int count) {
  const int n = port_.ReadBytes(buffer, count);
  log_.Bytes(tag_, "RX", buffer, n);
  if (n > 0) read_ += n;
  return n;
}

int TLoggingPort::WriteBytes(const std::uint8_t* buffer, int count) {
  const int n = port_.WriteBytes(buffer, count);
  log_.Bytes(tag_, "TX", buffer, count);
  written_ += count;
  ++writes_;
  return n;
}
