#include "TrafficLog.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "FlashSystem.h"
#include "SessionState.h"

namespace {
// Lines gather in memory and go out in writes of about this size.
constexpr std::size_t kWriteSize = 4096;
}  // namespace

TTrafficLog::TTrafficLog(const std::string& path) {
  if (path.empty()) return;
  try {
    file_ = std::make_unique<TOutputFile>(path, TOutputFile::TMode::Truncate);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(std::string("cannot create log file ") + e.what());
  }
}

TTrafficLog::~TTrafficLog() {
  std::string error;
  Finish(error);
}

void TTrafficLog::WriteOut() {
  if (pending_.empty()) return;
  std::string error;
  if (!file_->Write(pending_, error) && error_.empty()) error_ = error;
  pending_.clear();
}

bool TTrafficLog::Finish(std::string& error) {
  std::lock_guard lock(mutex_);
  if (!file_) return true;
  WriteOut();
  error = error_;
  return error_.empty();
}

void TTrafficLog::Line(const std::string& tag, const char* kind, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (!file_) return;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%11.6f] ", seconds);
  pending_ += stamp + tag + (tag.empty() ? "" : " ") + kind + " " + text + "\n";
  if (pending_.size() >= kWriteSize) WriteOut();
}

void TTrafficLog::Bytes(const std::string& tag, const char* kind, const std::uint8_t* bytes, int count) {
  if (!file_ || count <= 0) return;
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
