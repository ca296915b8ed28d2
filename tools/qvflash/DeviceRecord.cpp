#include "DeviceRecord.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include <nlohmann/json.hpp>

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

using TJsonValue = nlohmann::ordered_json;

// The documents keep their own look: ", " and ": " where a person reads
// them, nothing in a record line; seconds with three decimals; strings as
// JsonString writes them (a byte that is not UTF-8 as \ufffd, DEL escaped).
struct TLayout {
  const char* comma;
  const char* colon;
};
constexpr TLayout kCompact{",", ":"}, kSpaced{", ", ": "};

std::string Text(const TJsonValue& value, const TLayout& layout) {
  switch (value.type()) {
    case TJsonValue::value_t::object: {
      std::string text = "{";
      for (const auto& [key, item] : value.items())
        text += (text.size() > 1 ? layout.comma : "") + JsonString(key) + layout.colon + Text(item, layout);
      return text + "}";
    }
    case TJsonValue::value_t::array: {
      std::string text = "[";
      for (const TJsonValue& item : value) text += (text.size() > 1 ? layout.comma : "") + Text(item, layout);
      return text + "]";
    }
    case TJsonValue::value_t::string:
      return JsonString(value.get_ref<const std::string&>());
    case TJsonValue::value_t::number_float: {
      char text[48];
      std::snprintf(text, sizeof text, "%.3f", value.get<double>());
      return text;
    }
    default:
      return value.dump();  // null, whole numbers
  }
}

TJsonValue OrNull(const std::string& text) { return text.empty() ? TJsonValue(nullptr) : TJsonValue(text); }

TJsonValue FileObject(const TFileFacts& file) {
  return {{"path", file.path}, {"size", file.size}, {"sha256", OrNull(file.sha256)}};
}

TJsonValue ResultObject(const TAttempt& a) {
  return {{"port", a.port},
          {"device", a.device},
          {"description", OrNull(a.description)},
          {"status", a.status},
          {"outcome", OutcomeWord(a.status)},
          {"message", a.message},
          {"frames", a.frames},
          {"seconds", a.seconds}};
}

}  // namespace

std::string RecordLine(const TAttempt& attempt, const TFileFacts& file, const TStation& station) {
  const TJsonValue line = {{"time", IsoTimeUtc(attempt.endedAt)},
                           {"host", station.host},
                           {"user", station.user},
                           {"port", attempt.port},
                           {"device", attempt.device},
                           {"serial", OrNull(attempt.serialNumber)},
                           {"file", file.path},
                           {"size", file.size},
                           {"sha256", OrNull(file.sha256)},
                           {"outcome", OutcomeWord(attempt.status)},
                           {"status", attempt.status},
                           {"frames", attempt.frames},
                           {"seconds", attempt.seconds},
                           {"message", attempt.message}};
  return Text(line, kCompact);
}

// One result a line, so that a person can read the document too.
std::string ResultsDocument(const TFileFacts& file, const std::vector<TAttempt>& attempts, int status) {
  std::string text = "{\"file\": " + Text(FileObject(file), kSpaced) + ",\n \"results\": [";
  for (std::size_t i = 0; i < attempts.size(); ++i)
    text += (i == 0 ? "\n  " : ",\n  ") + Text(ResultObject(attempts[i]), kSpaced);
  return text + (attempts.empty() ? "" : "\n ") + "],\n \"status\": " + std::to_string(status) + "}\n";
}

int OpenForWriting(const std::string& path, int flags) {
  // Without blocking: a FIFO that nobody reads would hold the run up for
  // ever; it fails at once (ENXIO) instead. Writes then block as usual.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | flags, 0644);
  if (fd < 0) {
    const int error = errno;
    throw std::runtime_error(path + ": " + (error == ENXIO ? "a FIFO that no program reads" : std::strerror(error)));
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

TRecordFile::TRecordFile(const std::string& path) {
  // Appending only: an existing record is never truncated or overwritten.
  try {
    fd_ = OpenForWriting(path, O_APPEND);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(std::string("cannot write the record file ") + e.what());
  }
  struct stat info {};
  sync_ = ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
}

TRecordFile::~TRecordFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool TRecordFile::Append(const std::string& line, std::string& error) {
  // One write a line, appended: lines of several ports never mix, and no
  // port waits while another's line goes to the disk.
  const std::string whole = line + "\n";
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
  // A pipe or a device has nothing to sync.
  if (sync_ && ::fdatasync(fd_) != 0) {
    error = std::string("sync failed: ") + std::strerror(errno);
    return false;
  }
  return true;
}
