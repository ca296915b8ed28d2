#pragma once
// One port of a qvflash run, on a thread of its own that is also the port's
// main thread: the serial component hands this port's events to it alone, so
// a port that pauses (Close waits 300 ms), stalls or hangs up never holds up
// another. It loads one device, or with --station device after device.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DeviceRecord.h"
#include "FlashConsole.h"
#include "FlashOptions.h"
#include "ImageTable.h"
#include "MainThreadRunner.h"
#include "TrafficLog.h"

class TBootLoaderSim;
class TSerialPort;

// What every port of a run shares; read-only while the ports run.
struct TRunShared {
  const TImage* image = nullptr;
  const TFlashOptions* options = nullptr;
  TConsole* console = nullptr;
  TTrafficLog* log = nullptr;
  TRecordFile* record = nullptr;  // none without --record
  TFileFacts file;
  TStation station;
  TBootLoaderSim* simulated = nullptr;  // --simulate
};

class TPortWorker {
public:
  // `index`: the port's place in the order given; `name`: as given to
  // --port; `device`: what the serial component opens (the simulated
  // device's path under --simulate, otherwise `name`).
  TPortWorker(const TRunShared& shared, int index, std::string name, std::string device);
  ~TPortWorker();
  TPortWorker(const TPortWorker&) = delete;
  TPortWorker& operator=(const TPortWorker&) = delete;

  // Starts the port's thread; `ended` runs on it when it is done.
  void Start(std::function<void()> ended);
  // Any thread: the port stops at once; a load under way ends as interrupted.
  void Stop();
  void Join();
  // After Join: every attempt in order.
  const std::vector<TAttempt>& Attempts() const { return attempts_; }
  const std::string& Name() const { return name_; }

  // After Join: a record line of this port could not be written.
  bool RecordLost() const { return recordLost_; }

private:
  struct TOutcome;
  class TDevice;
  void Run();
  bool Stopping() const { return stop_.load(); }
  // Loads one device: opens the port, awaits the outcome, finishes. False
  // when the port is done (not in station mode, a port error, a stop).
  bool LoadOneDevice(TSerialPort& port, bool first);
  void Report(TAttempt attempt);
  TAttempt NewAttempt() const;

  const TRunShared& shared_;
  const int index_;
  const std::string name_, device_;
  const std::string shownName_;  // name_ as messages show it: control bytes escaped
  std::thread thread_;
  std::atomic<bool> stop_{false};
  // Guards runner_ (Stop wakes it from any thread) and attempts_.
  std::mutex mutex_;
  std::shared_ptr<TPlainLoopRunner> runner_;
  std::vector<TAttempt> attempts_;
  int ok_ = 0, failed_ = 0;
  bool recordLost_ = false;
};
