#include "DeviceRecord.h"

#include <cstdio>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "FlashOptions.h"
#include "FlashSystem.h"
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
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(at);
  const auto day = floor<days>(ms);
  const year_month_day date{day};
  const hh_mm_ss time{ms - day};
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
  return text;
}

TStation TStation::Here() { return {FlashSystem::HostName(), FlashSystem::UserName()}; }

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
    case TJsonValue::value_t::string: return JsonString(value.get_ref<const std::string&>());
    case TJsonValue::value_t::number_float: {
      char text[48];
      std::snprintf(text, sizeof text, "%.3f", value.get<double>());
      return text;
    }
    default: return value.dump();  // null, whole numbers
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

TRecordFile::TRecordFile(const std::string& path) {
  // Appending only: an existing record is never truncated or overwritten.
  try {
    file_ = std::make_unique<TOutputFile>(path, TOutputFile::TMode::Append);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(std::string("cannot write the record file ") + e.what());
  }
}

TRecordFile::~TRecordFile() = default;

bool TRecordFile::Append(const std::string& line, std::string& error) {
  // One write a line, appended: lines of several ports never mix, and no
  // port waits while another's line goes to the disk.
  return file_->Write(line + "\n", error) && file_->Sync(error);
}
