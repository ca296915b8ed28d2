#pragma once
// Command line of qvflash.
#include <optional>
#include <string>
#include <vector>

// Exit statuses, one per class of outcome.
enum TExitStatus : int {
  exSuccess = 0,
  exUsage = 1,
  exFileRefused = 2,
  exPortError = 3,
  exNoGreeting = 4,
  exStall = 5,
  exDeviceLost = 6,
  exInterrupted = 7,
  exResultsLost = 8,  // a record line or the --json document could not be written
};

struct TFlashOptions {
  std::string file;
  std::vector<std::string> ports;  // in the order given; COM1 when none was
  bool station = false;            // load device after device on every port until stopped
  bool waitForPort = false;        // a port that does not exist yet is waited for
  bool json = false;               // one JSON document of the results on stdout at the end
  std::string recordFile;          // one JSON line per device attempt appended here
  bool listPorts = false;
  bool simulate = false;
  bool dryRun = false;
  std::optional<int> timeoutMs;  // an answer's allowance beyond its line time
  int greetingTimeoutS = 30;
  std::string logFile;
  bool quiet = false;
  bool verbose = false;
  bool help = false;
  bool version = false;
};

// Parses argv; throws EUsageError (a std::invalid_argument) with a message for bad usage.
TFlashOptions ParseFlashOptions(int argc, const char* const argv[]);
const char* FlashUsage();

// How much later than its time on the line (the frame and its answer at 10
// bits a byte) an answer may arrive by default: the device's own work.
inline constexpr int DefaultResponseTimeoutMs() { return 500; }
