#include "PortRun.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <optional>

#include "BootLoaderSim.h"
#include "BootSession.h"
#include "ConsolePanes.h"
#include "FlashRun.h"
#include "FlashSystem.h"
#include "FrameEncoding.h"
#include "LoaderSettings.h"
#include "PortList.h"
#include "PortProblem.h"
#include "SerialPort.h"
#include "SerialSessionPort.h"
#include "TextOut.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kLineBaud = 38400;
// How often a port that is not there (yet, or again) is looked for.
constexpr auto kPortLook = std::chrono::milliseconds(250);

std::string Hex2(unsigned value) { return IntToHex(value, 2); }

// The block of a command text: "66 0FF8" for a data-flash block, and so on.
std::string FrameName(const std::string& command) {
  std::string digits;
  for (char c : command)
    if (c != ' ') digits += c;
  if (digits.size() < 6) return digits;
  const std::string code = digits.substr(0, 2);
  const std::string address = digits.substr(2, 4);
  if (code == "66") return "data-flash block at 0x" + address;
  if (code == "22") return "program block at 0x" + address;
  if (code == "11") return "page select 0x" + address;
  return digits;
}

// Where the session is, for a message: the frame waiting for its answer, or
// the stage of the handshake before any frame.
std::string WhereNow(const TSessionState& state, const std::string& lastCommand) {
  if (state.State != stHandshake && !lastCommand.empty()) return FrameName(lastCommand);
  return state.HandshakeStage == 0 ? "the wait for the greeting" : "the handshake";
}

// A device that restarts greets (0x55) instead of answering.
std::string RestartedText(std::int64_t greetings) {
  return "the device restarted (" + std::to_string(greetings) + (greetings == 1 ? " greeting" : " greetings") +
         ", 0x55, instead of the answer)";
}

// Watches the session from outside: a complete response that is not
// answered with a frame is a stall. Counts the frames acknowledged and the
// bytes that came since the last frame.
class TRunWatch {
public:
  TRunWatch(const TBootSession& session, TConsolePanes& panes, TLoggingPort& port)
      : session_(session), panes_(panes), port_(port) {}

  void BeforeNotification() {
    stateBefore_ = session_.State().State;
    responses_ = panes_.CompleteResponses();
    writes_ = port_.Writes();
    read_ = port_.BytesRead();
  }
  void AfterNotification() {
    const auto now = Clock::now();
    const TSessionState& state = session_.State();
    if (port_.BytesRead() != read_) {
      if (firstByte_ == Clock::time_point{}) firstByte_ = now;
      ++activity_;
    }
    const bool wrote = port_.Writes() != writes_;
    if (wrote) {
      lastFrame_ = now;
      readAtFrame_ = port_.BytesRead();
      greetingsAtFrame_ = port_.GreetingBytesRead();
      ++activity_;
    }
    const bool answered = panes_.CompleteResponses() != responses_;
    if (answered && wrote && stateBefore_ != stHandshake) ++acknowledged_;
    if (!answered || wrote) return;
    if (state.State == stHandshake || !panes_.switchOn) return;
    const std::string name = FrameName(panes_.LastCommand());
    if (OnlyGreetingsSinceFrame()) {
      stall_ = name + ": " + RestartedText(BytesSinceFrame());
      return;
    }
    try {
      if (state.State == stPageSelect)
        stall_ = name + ": expected 0xAA in byte 3 of the answer, the device sent 0x" +
                 Hex2(ResponseByte(state.Response, 3));
      else
        stall_ = name + ": expected block sum 0x" + Hex2(state.ExpectedSum) + ", the device answered 0x" +
                 Hex2(ResponseByte(state.Response, 131));
    } catch (const std::exception&) {
      stall_ = name + ": the answer could not be read";
    }
  }

  const std::optional<std::string>& Stall() const { return stall_; }
  Clock::time_point LastFrame() const { return lastFrame_; }
  void StartedWaiting() { lastFrame_ = Clock::now(); }
  Clock::time_point FirstByte() const { return firstByte_; }
  bool DeviceSpoke() const { return firstByte_ != Clock::time_point{}; }
  // Counted honestly, however many there are.
  std::int64_t BytesSinceFrame() const { return port_.BytesRead() - readAtFrame_; }
  // Something came since the last frame, and all of it greetings.
  bool OnlyGreetingsSinceFrame() const {
    return BytesSinceFrame() > 0 && port_.GreetingBytesRead() - greetingsAtFrame_ == BytesSinceFrame();
  }
  int Acknowledged() const { return acknowledged_; }
  // Changes with every byte received and every frame sent.
  std::uint64_t Activity() const { return activity_; }

private:
  const TBootSession& session_;
  TConsolePanes& panes_;
  TLoggingPort& port_;
  std::uint8_t stateBefore_ = stHandshake;
  int responses_ = 0, writes_ = 0;
  std::int64_t read_ = 0, readAtFrame_ = 0, greetingsAtFrame_ = 0;
  int acknowledged_ = 0;
  std::uint64_t activity_ = 0;
  std::optional<std::string> stall_;
  Clock::time_point lastFrame_ = Clock::now();
  Clock::time_point firstByte_{};
};

// The device file behind a port name, symbolic links resolved where they resolve.
std::string DeviceFileOf(const std::string& name) { return FlashSystem::ResolvedDevice(SerialDevicePath(name)); }

}  // namespace

// How an attempt ended.
struct TPortWorker::TOutcome {
  int status = exSuccess;
  std::string message;  // in qvflash's words, outside names already escaped
  // A device attempt, recorded; false for a station's port that only waited.
  bool device = true;
  std::optional<double> seconds;  // when the load's own clock says better than the default
};

// One device on the port: its session, panes and watch, from opening the
// port to the outcome. Lives on the port's thread.
class TPortWorker::TDevice {
public:
  TDevice(TPortWorker& worker, TSerialPort& port, bool first)
      : worker_(worker),
        options_(*worker.shared_.options),
        port_(port),
        first_(first),
        link_(port),
        tag_(worker.shared_.console->SeveralPorts() ? worker.name_ : ""),
        logged_(link_, *worker.shared_.log, tag_),
        panes_(*worker.shared_.console, worker.index_, options_.quiet, options_.verbose, *worker.shared_.log, tag_,
               kLineBaud),
        session_(*worker.shared_.image, logged_, panes_),
        watch_(session_, panes_, logged_),
        greetingTimeout_(options_.greetingTimeoutS),
        responseTimeout_(options_.timeoutMs.value_or(DefaultResponseTimeoutMs())),
        attempt_(worker.NewAttempt()) {
    panes_.portName = worker.device_;
    panes_.devicesOk = worker.ok_;
    panes_.devicesFailed = worker.failed_;
    session_.FormCreate();
    worker_.runner_->SetUncaughtExceptionHandler([this](std::exception_ptr error) { uncaught_ = error; });
    port_.OnRxChar = [this](TCustomSerialPort*, int count) {
      watch_.BeforeNotification();
      session_.SerialPort1RxChar(count);
      watch_.AfterNotification();
      panes_.bytesMoved = logged_.BytesRead() + logged_.BytesWritten();
    };
    port_.OnError = [this](TCustomSerialPort*, int errors) {
      if (static_cast<std::uint32_t>(errors) & CE_IOE) lost_ = true;
    };
  }
  ~TDevice() {
    port_.OnRxChar = nullptr;
    port_.OnError = nullptr;
    worker_.runner_->SetUncaughtExceptionHandler(nullptr);
  }
  TDevice(const TDevice&) = delete;
  TDevice& operator=(const TDevice&) = delete;

  // Opens the port, waiting for it where that was asked for. The outcome
  // when it could not be opened, or the run stopped meanwhile.
  std::optional<TOutcome> Open();
  // Runs the load until it ends one way or another.
  TOutcome AwaitOutcome();
  // Says how the attempt ended and turns the switch off (closing the port).
  void Finish(const TOutcome& outcome);
  // The attempt as the record keeps it.
  TAttempt Attempt(const TOutcome& outcome) const;

private:
  void SwitchOff();
  std::optional<TOutcome> Verdict();
  TOutcome FinishedLoad();
  TOutcome SimulatedDeviceVerdict(const std::string& summary, double fromGreeting);
  Clock::time_point AnswerDue() const;
  std::chrono::milliseconds NextLook() const;
  const std::string& Shown() const { return worker_.shownName_; }

  TPortWorker& worker_;
  const TFlashOptions& options_;
  TSerialPort& port_;
  const bool first_;
  TSerialSessionPort link_;
  const std::string tag_;
  TLoggingPort logged_;
  TConsolePanes panes_;
  TBootSession session_;
  TRunWatch watch_;
  const std::chrono::seconds greetingTimeout_;
  const std::chrono::milliseconds responseTimeout_;
  const Clock::time_point openedAt_ = Clock::now();
  Clock::time_point end_{};
  // Port, device file and adapter, taken before the port is opened: an
  // adapter pulled out meanwhile is still named.
  TAttempt attempt_;
  bool lost_ = false;
  std::exception_ptr uncaught_;
};

std::optional<TPortWorker::TOutcome> TPortWorker::TDevice::Open() {
  bool announced = false;
  for (;;) {
    // A station's port without a device has nothing to record.
    if (worker_.Stopping())
      return options_.station ? TOutcome{exInterrupted, "stopped", false, {}}
                              : TOutcome{exInterrupted, "interrupted while waiting for " + Shown(), true, {}};
    panes_.switchOn = true;
    try {
      session_.ColorButton4Click();
      break;
    } catch (const std::exception& e) {
      // Opened, then refused (DTR on a line that hung up meanwhile): closed
      // again, or every later try would find it still open.
      if (port_.IsOpen()) SwitchOff();
      const auto* portError = dynamic_cast<const ESerialPortError*>(&e);
      const TPortProblem problem = DiagnosePortError(worker_.device_, portError ? portError->Code() : 0);
      const std::string error = PrintableText(e.what());
      // A station waits for its port to come back whatever keeps it away
      // meanwhile (a new adapter's device file may not be open to us at first).
      const bool wait =
          (options_.station && !first_) || (options_.waitForPort && problem.kind == TPortProblemKind::NotFound);
      if (!wait || (!options_.station && Clock::now() - openedAt_ > greetingTimeout_)) {
        const std::string hint = PortHint(worker_.device_, problem);
        const std::string waited =
            wait ? Shown() + " did not appear within " + std::to_string(options_.greetingTimeoutS) + " s: " : "";
        return TOutcome{exPortError, waited + error + (hint.empty() ? "" : "\n" + hint), true, {}};
      }
      if (!announced) {
        panes_.phase = "no port";
        panes_.ShowProgress(true);
        panes_.Message("waiting for " + Shown() + " to appear (" + error + ")");
        announced = true;
      }
      worker_.runner_->ProcessUntil([&] { return worker_.Stopping(); }, kPortLook);
    }
  }
  panes_.opened = true;
  if (options_.verbose)
    panes_.Message(port_.LowLatency() ? "low-latency mode: on"
                                      : "low-latency mode: off (the device's driver does not offer it)");
  panes_.Message("waiting for the device on " + PrintableText(worker_.device_) + " (switch it on or reset it now)");
  watch_.StartedWaiting();
  return std::nullopt;
}

// An answer is due within its time on the line (frame and answer at the
// line's speed) plus the time-out, however many bytes trickle in meanwhile:
// a device that keeps greeting after a restart does not hold the run up.
Clock::time_point TPortWorker::TDevice::AnswerDue() const {
  const int bytes = 2 * session_.State().ExpectedLength - 1;
  const auto onTheLine = std::chrono::milliseconds((bytes * 10 * 1000 + kLineBaud - 1) / kLineBaud);
  return watch_.LastFrame() + onTheLine + responseTimeout_;
}

// The loop sleeps until the port has something for it or the next time-out
// is due; a live line on a terminal is brought up to date once a second.
std::chrono::milliseconds TPortWorker::TDevice::NextLook() const {
  const TSessionState& state = session_.State();
  const auto now = Clock::now();
  auto at = now + std::chrono::hours(1);
  if (state.State != stHandshake)
    at = AnswerDue() + std::chrono::milliseconds(1);
  else if (state.HandshakeStage == 1 || !options_.station)
    at = watch_.LastFrame() + greetingTimeout_ + std::chrono::milliseconds(1);
  if (panes_.Live()) at = std::min(at, now + std::chrono::seconds(1));
  return std::max(std::chrono::milliseconds(0), std::chrono::ceil<std::chrono::milliseconds>(at - now));
}

TPortWorker::TOutcome TPortWorker::TDevice::AwaitOutcome() {
  for (;;) {
    const std::uint64_t seen = watch_.Activity();
    worker_.runner_->ProcessUntil(
        [&] {
          return !panes_.switchOn || lost_ || uncaught_ || watch_.Stall() || worker_.Stopping() ||
                 watch_.Activity() != seen;
        },
        NextLook());
    if (std::optional<TOutcome> outcome = Verdict()) return *outcome;
    panes_.ShowProgress();
  }
}

// Whether the attempt has ended, and how; the order says which cause wins
// when several come together.
std::optional<TPortWorker::TOutcome> TPortWorker::TDevice::Verdict() {
  const TSessionState& state = session_.State();
  const std::string where = WhereNow(state, panes_.LastCommand());
  if (!panes_.switchOn) return FinishedLoad();
  if (lost_) {
    // A station's idle line that hangs up (the adapter pulled out) is no device.
    return TOutcome{exDeviceLost,
                    "device lost during " + where + " (the line hung up)",
                    !options_.station || watch_.DeviceSpoke(),
                    {}};
  }
  if (uncaught_) return TOutcome{exStall, PrintableText(ExceptionMessage(uncaught_)), true, {}};
  if (watch_.Stall()) return TOutcome{exStall, "stalled at " + *watch_.Stall(), true, {}};
  if (worker_.Stopping()) {
    const bool device = !options_.station || watch_.DeviceSpoke();
    return TOutcome{exInterrupted, device ? "interrupted during " + where : "stopped", device, {}};
  }
  const auto now = Clock::now();
  if (state.State == stHandshake) {
    if ((state.HandshakeStage == 1 || !options_.station) && now - watch_.LastFrame() > greetingTimeout_)
      return TOutcome{exNoGreeting,
                      state.HandshakeStage == 0 ? "no greeting (0x55) from the device within " +
                                                      std::to_string(options_.greetingTimeoutS) + " s"
                                                : "the device did not confirm the handshake with 0xAA",
                      true,
                      {}};
    return std::nullopt;
  }
  if (now <= AnswerDue()) return std::nullopt;
  const std::string frame = FrameName(panes_.LastCommand());
  if (watch_.OnlyGreetingsSinceFrame())
    return TOutcome{exStall, "stalled at " + frame + ": " + RestartedText(watch_.BytesSinceFrame()), true, {}};
  const auto within = std::chrono::duration_cast<std::chrono::milliseconds>(AnswerDue() - watch_.LastFrame());
  return TOutcome{exStall,
                  "stalled at " + frame + ": expected " + std::to_string(state.ExpectedLength) + " bytes within " +
                      std::to_string(within.count()) + " ms, " + std::to_string(watch_.BytesSinceFrame()) + " arrived",
                  true,
                  {}};
}

// The one place where a load that ran to its end (the session turned the
// switch off after the last block) is judged.
TPortWorker::TOutcome TPortWorker::TDevice::FinishedLoad() {
  const double fromGreeting = std::chrono::duration<double>(panes_.switchedOffAt - watch_.FirstByte()).count();
  if (!session_.CompletionSent())
    return TOutcome{exDeviceLost,
                    "device lost after the last block: the completion command (99 33 CC) did not get out (the line "
                    "hung up)",
                    true, fromGreeting};
  char summary[160];
  std::snprintf(summary, sizeof summary,
                "load complete: %d frames acknowledged in %.3f s from the greeting (%.3f s in all)", TotalLoadFrames,
                fromGreeting, std::chrono::duration<double>(Clock::now() - openedAt_).count());
  if (worker_.shared_.simulated) return SimulatedDeviceVerdict(summary, fromGreeting);
  return TOutcome{exSuccess, summary, true, fromGreeting};
}

// --simulate: the built-in device says what it received.
TPortWorker::TOutcome TPortWorker::TDevice::SimulatedDeviceVerdict(const std::string& summary, double fromGreeting) {
  TBootLoaderSim& simulated = *worker_.shared_.simulated;
  simulated.WaitFinished(std::chrono::seconds(2));
  const TSimResult result = simulated.Result();
  const std::string difference =
      result.Received ? CompareSentRegions(*worker_.shared_.image, *result.Received) : "no image";
  if (!result.Complete() || !difference.empty())
    return TOutcome{exStall,
                    "the simulated device did not receive the whole image: " +
                        (difference.empty() ? result.FirstMismatch : difference),
                    true, fromGreeting};
  return TOutcome{exSuccess, summary + "; the simulated device received every block", true, fromGreeting};
}

void TPortWorker::TDevice::SwitchOff() {
  panes_.switchOn = false;
  try {
    session_.ColorButton4Click();
  } catch (const std::exception&) {
  }
}

void TPortWorker::TDevice::Finish(const TOutcome& outcome) {
  // The attempt ends now; closing the port (and its pause) is no part of it.
  end_ = Clock::now();
  attempt_.endedAt = std::chrono::system_clock::now();
  // The live display ends on the outcome: its word in the port's row, and
  // the message as the last line.
  panes_.phase = outcome.device || outcome.status != exInterrupted ? OutcomeWord(outcome.status) : "stopped";
  panes_.EndProgress(watch_.DeviceSpoke());
  if (!outcome.message.empty())
    panes_.Message("qvflash: " + outcome.message, outcome.status != exSuccess && outcome.device);
  if (panes_.switchOn) SwitchOff();
}

TAttempt TPortWorker::TDevice::Attempt(const TOutcome& outcome) const {
  TAttempt attempt = attempt_;
  attempt.status = outcome.status;
  attempt.message = outcome.message;
  attempt.frames = watch_.Acknowledged();
  attempt.seconds = outcome.seconds.value_or(
      std::chrono::duration<double>(end_ - (watch_.DeviceSpoke() ? watch_.FirstByte() : openedAt_)).count());
  return attempt;
}

TPortWorker::TPortWorker(const TRunShared& shared, int index, std::string name, std::string device)
    : shared_(shared),
      index_(index),
      name_(std::move(name)),
      device_(std::move(device)),
      shownName_(PrintableText(name_)) {}

TPortWorker::~TPortWorker() {
  Stop();
  Join();
}

void TPortWorker::Start(std::function<void()> ended) {
  thread_ = std::thread([this, ended = std::move(ended)] {
    Run();
    if (ended) ended();
  });
}

void TPortWorker::Stop() {
  stop_ = true;
  std::lock_guard lock(mutex_);
  if (runner_) runner_->Wake();
}

void TPortWorker::Join() {
  if (thread_.joinable()) thread_.join();
}

void TPortWorker::Run() {
  auto runner = std::make_shared<TPlainLoopRunner>();
  {
    std::lock_guard lock(mutex_);
    runner_ = runner;
  }
  {
    TSerialPort port;
    ApplyStoredLoaderSettings(port);
    port.SetMainThreadRunner(runner);
    bool first = true;
    while (LoadOneDevice(port, first)) first = false;
  }
  // Workers still waiting for this thread are released.
  runner->Shutdown();
}

bool TPortWorker::LoadOneDevice(TSerialPort& port, bool first) {
  TDevice device(*this, port, first);
  std::optional<TOutcome> outcome = device.Open();
  if (!outcome) outcome = device.AwaitOutcome();
  device.Finish(*outcome);
  if (outcome->device) Report(device.Attempt(*outcome));
  // A port that could not be opened at all ends its run; a station goes on
  // with the next device after any other outcome.
  return shared_.options->station && outcome->status != exPortError && !Stopping();
}

TAttempt TPortWorker::NewAttempt() const {
  TAttempt attempt;
  attempt.port = name_;
  attempt.device = DeviceFileOf(device_);
  for (const TPortInfo& adapter : DetectSerialAdapters()) {
    if (DeviceFileOf(adapter.devicePath) != attempt.device) continue;
    attempt.description = adapter.description;
    attempt.serialNumber = adapter.serialNumber;
  }
  return attempt;
}

void TPortWorker::Report(TAttempt attempt) {
  const TFlashOptions& options = *shared_.options;
  if (attempt.status == exSuccess)
    ++ok_;
  else
    ++failed_;
  if (shared_.record) {
    std::string error;
    if (!shared_.record->Append(RecordLine(attempt, shared_.file, shared_.station), error)) {
      recordLost_ = true;
      shared_.console->Line(index_,
                            "qvflash: the record of this device could not be written to " +
                                PrintableText(options.recordFile) + ": " + error,
                            true);
    }
  }
  if (options.station) {
    char head[96];
    std::snprintf(head, sizeof head, "device %d: %s (status %d, %d frames, %.1f s)", ok_ + failed_,
                  OutcomeWord(attempt.status), attempt.status, attempt.frames, attempt.seconds);
    shared_.console->Line(index_, head + (attempt.status == exSuccess ? std::string() : ": " + attempt.message), true);
  }
  std::lock_guard lock(mutex_);
  attempts_.push_back(std::move(attempt));
}
