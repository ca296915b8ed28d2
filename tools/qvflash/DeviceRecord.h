#pragma once
// How each device attempt ended, the record of every attempt (--record: one
// JSON line each, appended and synced) and the results document (--json).
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TOutputFile;

// The update file as loaded.
struct TFileFacts {
  std::string path;
  std::uint64_t size = 0;
  std::string sha256;  // empty when the file could not be read
};

// One attempt at one device on one port.
struct TAttempt {
  std::string port;          // as given to --port
  std::string device;        // the device file behind it
  std::string description;   // the adapter's, where the port list has one
  std::string serialNumber;  // the adapter's, where known
  int status = 0;            // what qvflash would exit with for this port alone
  std::string message;       // how it ended, in qvflash's words
  int frames = 0;            // frames acknowledged
  double seconds = 0;        // from the greeting (or the opening, without one) to the end
  std::chrono::system_clock::time_point endedAt{};
};

// "ok", "port-error", "no-greeting", "stall", "device-lost", "interrupted".
const char* OutcomeWord(int status);

// "2024-05-17T09:41:07.250Z".
std::string IsoTimeUtc(std::chrono::system_clock::time_point at);

// Who runs the load, for the record.
struct TStation {
  std::string host;
  std::string user;
  static TStation Here();
};

// One line of the record (no line end): time, host, user, port, device,
// serial, file, size, sha256, outcome, status, frames, seconds, message.
std::string RecordLine(const TAttempt& attempt, const TFileFacts& file, const TStation& station);

// The --json document: {"file": {...}, "results": [...], "status": N}.
std::string ResultsDocument(const TFileFacts& file, const std::vector<TAttempt>& attempts, int status);

// The record file, opened for appending only: a line goes out in one write
// and is synced to the disk before Append returns. Any thread, without a
// lock: appends of whole lines do not mix.
class TRecordFile {
public:
  // Opens (creating it when missing); throws std::runtime_error saying why
  // not, also for a FIFO or pipe that no program reads.
  explicit TRecordFile(const std::string& path);
  ~TRecordFile();
  TRecordFile(const TRecordFile&) = delete;
  TRecordFile& operator=(const TRecordFile&) = delete;
  // False, with the reason in `error`, when the line could not be written and synced.
  bool Append(const std::string& line, std::string& error);

private:
  std::unique_ptr<TOutputFile> file_;
};
