#pragma once
// --log: raw traffic and command texts, one timestamped line each. Several
// ports share one log: each line then names its port (the tag).
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "SessionLinks.h"

class TOutputFile;

class TTrafficLog {
public:
  // An empty path logs nothing. Throws std::runtime_error when the file
  // cannot be created (a FIFO that no program reads included).
  explicit TTrafficLog(const std::string& path);
  ~TTrafficLog();
  TTrafficLog(const TTrafficLog&) = delete;
  TTrafficLog& operator=(const TTrafficLog&) = delete;
  bool Enabled() const { return file_ != nullptr; }
  // Any thread. An empty tag is left out.
  void Line(const std::string& tag, const char* kind, const std::string& text);
  void Bytes(const std::string& tag, const char* kind, const std::uint8_t* bytes, int count);
  // Writes out what is buffered; false, with the reason, when some of the log was lost.
  bool Finish(std::string& error);

private:
  void WriteOut();  // under the lock

  std::mutex mutex_;
  std::unique_ptr<TOutputFile> file_;
  std::string pending_;  // lines not written yet
  std::string error_;    // the first write that failed
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Passes everything to the real port and logs the bytes that cross it.
class TLoggingPort : public ISessionPort {
public:
  TLoggingPort(ISessionPort& port, TTrafficLog& log, std::string tag = {})
      : port_(port), log_(log), tag_(std::move(tag)) {}
  void SetDeviceName(const std::string& name) override { port_.SetDeviceName(name); }
  void Open() override;
  bool Close() override;
  void SetDtrLine(bool value) override { port_.SetDtrLine(value); }
  int ReadBytes(std::uint8_t* buffer, int count) override;
  int WriteBytes(const std::uint8_t* buffer, int count) override;

  std::int64_t BytesWritten() const { return written_; }
  std::int64_t BytesRead() const { return read_; }
  int Writes() const { return writes_; }
  // Greeting bytes (0x55) among those read: an answer made of them comes from a device that restarted.
  std::int64_t GreetingBytesRead() const { return greetings_; }

private:
  ISessionPort& port_;
  TTrafficLog& log_;
  std::string tag_;
  std::int64_t written_ = 0, read_ = 0, greetings_ = 0;
  int writes_ = 0;
};
