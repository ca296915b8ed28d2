#include "DeviceRecord.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "FlashOptions.h"
#include "TextOut.h"

const char* OutcomeWord(int status) {
  switch (status) {
    case exSuccess: return "ok";
    case exPortError: return "port-error";
    case exNoGreeting: return "no-greeting";
    case exStall: return "stall";
    case exDeviceLost: return "device-lost";
    case exInterrupted: return "interrupted";
    default: return "error";
  }
}

std::string IsoTimeUtc(std::chrono::system_clock::time_point at) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms % 1000));
  return text;
}

TStation TStation::Here() {
  TStation station;
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) == 0) station.host = host;
  // The account the process runs as, not what the environment claims.
  passwd entry{};
  passwd* found = nullptr;
  char buffer[1024];
  if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found) station.user = found->pw_name;
  else station.user = std::to_string(::geteuid());
  return station;
}

namespace {

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

std::string OrNull(const std::string& text) { return text.empty() ? "null" : JsonString(text); }

}  // namespace

std::string RecordLine(const TAttempt& attempt, const TFileFacts& file, const TStation& station) {
  return "{\"time\":" + JsonString(IsoTimeUtc(attempt.endedAt)) + ",\"host\":" + JsonString(station.host) +
         ",\"user\":" + JsonString(station.user) + ",\"port\":" + JsonString(attempt.port) +
         ",\"device\":" + JsonString(attempt.device) + ",\"serial\":" + OrNull(attempt.serialNumber) +
         ",\"file\":" + JsonString(file.path) + ",\"size\":" + std::to_string(file.size) +
         ",\"sha256\":" + OrNull(file.sha256) + ",\"outcome\":" + JsonString(OutcomeWord(attempt.status)) +
         ",\"status\":" + std::to_string(attempt.status) + ",\"frames\":" + std::to_string(attempt.frames) +
         ",\"seconds\":" + Seconds(attempt.seconds) + ",\"message\":" + JsonString(attempt.message) + "}";
}

std::string ResultsDocument(const TFileFacts& file, const std::vector<TAttempt>& attempts, int status) {
  std::string text = "{\"file\": {\"path\": " + JsonString(file.path) + ", \"size\": " + std::to_string(file.size) +
                     ", \"sha256\": " + OrNull(file.sha256) + "},\n \"results\": [";
  for (std::size_t i = 0; i < attempts.size(); ++i) {
    const TAttempt& a = attempts[i];
    text += std::string(i == 0 ? "\n  " : ",\n  ") + "{\"port\": " + JsonString(a.port) +
            ", \"device\": " + JsonString(a.device) + ", \"description\": " + OrNull(a.description) +
            ", \"status\": " + std::to_string(a.status) + ", \"outcome\": " + JsonString(OutcomeWord(a.status)) +
            ", \"message\": " + JsonString(a.message) + ", \"frames\": " + std::to_string(a.frames) +
            ", \"seconds\": " + Seconds(a.seconds) + "}";
  }
  return text + (attempts.empty() ? "" : "\n ") + "],\n \"status\": " + std::to_string(status) + "}\n";
}

TRecordFile::TRecordFile(const std::string& path) {
  // Appending only: an existing record is never truncated or overwritten.
  fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
  if (fd_ < 0) throw std::runtime_error("cannot write the record file " + path + ": " + std::strerror(errno));
}

TRecordFile::~TRecordFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool TRecordFile::Append(const std::string& line, std::string& error) {
  const std::string whole = line + "\n";
  std::lock_guard lock(mutex_);
  ssize_t written;
  do {
    written = ::write(fd_, whole.data(), whole.size());
  } while (written < 0 && errno == EINTR);
  if (written < 0) {
    error = std::strerror(errno);
    return false;
  }
  if (static_cast<std::size_t>(written) != whole.size()) {
    error = "only " + std::to_string(written) + " of " + std::to_string(whole.size()) + " bytes written";
    return false;
  }
  if (::fsync(fd_) != 0) {
    error = std::string("sync failed: ") + std::strerror(errno);
    return false;
  }
  return true;
}
