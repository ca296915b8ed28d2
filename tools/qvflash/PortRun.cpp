#include "PortRun.h"

#include <limits.h>
#include <stdlib.h>

#include <chrono>
#include <exception>
#include <optional>

#include "BootLoaderSim.h"
#include "BootSession.h"
#include "ConsolePanes.h"
#include "FlashRun.h"
#include "FrameEncoding.h"
#include "LoaderSettings.h"
#include "PortList.h"
#include "PortProblem.h"
#include "SerialPort.h"
#include "SerialSessionPort.h"

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

// Watches the session from outside: a complete response that is not
// answered with a frame is a stall; so is silence past the time-out. Counts
// the frames acknowledged and the bytes that came since the last frame.
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
      // Every byte restarts the response time-out.
      lastByte_ = now;
      if (firstByte_ == Clock::time_point{}) firstByte_ = now;
      ++activity_;
    }
    const bool wrote = port_.Writes() != writes_;
    if (wrote) {
      lastFrame_ = now;
      readAtFrame_ = port_.BytesRead();
      ++activity_;
    }
    const bool answered = panes_.CompleteResponses() != responses_;
    if (answered && wrote && stateBefore_ != stHandshake) ++acknowledged_;
    if (!answered || wrote) return;
    if (state.State == stHandshake || !panes_.switchOn) return;
    const std::string name = FrameName(panes_.LastCommand());
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
  // The last frame sent or byte received, whichever came later.
  Clock::time_point LastActivity() const { return std::max(lastFrame_, lastByte_); }
  void StartedWaiting() { lastFrame_ = Clock::now(); }
  Clock::time_point FirstByte() const { return firstByte_; }
  bool DeviceSpoke() const { return firstByte_ != Clock::time_point{}; }
  // Counted honestly, however many there are.
  std::int64_t BytesSinceFrame() const { return port_.BytesRead() - readAtFrame_; }
  int Acknowledged() const { return acknowledged_; }
  // Changes with every byte received and every frame sent.
  std::uint64_t Activity() const { return activity_; }

private:
  const TBootSession& session_;
  TConsolePanes& panes_;
  TLoggingPort& port_;
  std::uint8_t stateBefore_ = stHandshake;
  int responses_ = 0, writes_ = 0;
  std::int64_t read_ = 0, readAtFrame_ = 0;
  int acknowledged_ = 0;
  std::uint64_t activity_ = 0;
  std::optional<std::string> stall_;
  Clock::time_point lastFrame_ = Clock::now();
  Clock::time_point lastByte_{};
  Clock::time_point firstByte_{};
};

// The device file behind a port name, symbolic links resolved where they resolve.
std::string DeviceFileOf(const std::string& name) {
  const std::string path = SerialDevicePath(name);
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
  return path;
}

}  // namespace

TPortWorker::TPortWorker(const TRunShared& shared, int index, std::string name, std::string device)
    : shared_(shared), index_(index), name_(std::move(name)), device_(std::move(device)) {}

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
  if (attempt.status == exSuccess) ++ok_;
  else ++failed_;
  if (shared_.record) {
    std::string error;
    if (!shared_.record->Append(RecordLine(attempt, shared_.file, shared_.station), error))
      shared_.console->Line(index_, "qvflash: the record of this device could not be written to " +
                                        options.recordFile + ": " + error, true);
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

bool TPortWorker::LoadOneDevice(TSerialPort& port, bool first) {
  const TFlashOptions& options = *shared_.options;
  const bool terminal = shared_.console->Terminal();
  TSerialSessionPort link(port);
  const std::string tag = shared_.console->SeveralPorts() ? name_ : "";
  TLoggingPort logged(link, *shared_.log, tag);
  TConsolePanes panes(*shared_.console, index_, options.quiet, options.verbose, *shared_.log, tag, kLineBaud);
  panes.portName = device_;
  panes.label = name_;
  panes.devicesOk = ok_;
  panes.devicesFailed = failed_;
  TBootSession session(*shared_.image, logged, panes);
  session.FormCreate();
  TRunWatch watch(session, panes, logged);
  bool lost = false;
  std::exception_ptr uncaught;
  runner_->SetUncaughtExceptionHandler([&uncaught](std::exception_ptr error) { uncaught = error; });
  port.OnRxChar = [&](TCustomSerialPort*, int count) {
    watch.BeforeNotification();
    session.SerialPort1RxChar(count);
    watch.AfterNotification();
    panes.bytesMoved = logged.BytesRead() + logged.BytesWritten();
  };
  port.OnError = [&](TCustomSerialPort*, int errors) {
    if (static_cast<std::uint32_t>(errors) & CE_IOE) lost = true;
  };
  TAttempt attempt = NewAttempt();
  const auto openedAt = Clock::now();

  // Ends the attempt: says how, turns the switch off (closing the port),
  // and records it unless `record` is false (a station's idle port).
  auto finish = [&](int status, const std::string& message, bool record, double seconds = -1) {
    const auto end = Clock::now();
    panes.phase = OutcomeWord(status);
    if (terminal || watch.DeviceSpoke()) panes.ShowProgress(true);
    if (!message.empty()) panes.Message("qvflash: " + message, status != exSuccess && record);
    if (panes.switchOn) {
      panes.switchOn = false;
      try {
        session.ColorButton4Click();
      } catch (const std::exception&) {
      }
    }
    port.OnRxChar = nullptr;
    port.OnError = nullptr;
    runner_->SetUncaughtExceptionHandler(nullptr);
    if (!record) return;
    attempt.status = status;
    attempt.message = message;
    attempt.frames = watch.Acknowledged();
    attempt.seconds = seconds >= 0 ? seconds
                                   : std::chrono::duration<double>(end - (watch.DeviceSpoke() ? watch.FirstByte()
                                                                                              : openedAt)).count();
    attempt.endedAt = std::chrono::system_clock::now();
    Report(std::move(attempt));
  };

  const auto greetingTimeout = std::chrono::seconds(options.greetingTimeoutS);
  // Opening; a port that is not there is waited for where that was asked for.
  bool announced = false;
  for (;;) {
    if (Stopping()) {
      // A station's port without a device has nothing to record.
      finish(exInterrupted, options.station ? "stopped" : "interrupted while waiting for " + name_, !options.station);
      return false;
    }
    panes.switchOn = true;
    try {
      session.ColorButton4Click();
      break;
    } catch (const std::exception& e) {
      // Opened, then refused (DTR on a line that hung up meanwhile): closed
      // again, or every later try would find it still open.
      if (port.IsOpen()) {
        panes.switchOn = false;
        try {
          session.ColorButton4Click();
        } catch (const std::exception&) {
        }
      }
      const auto* portError = dynamic_cast<const ESerialPortError*>(&e);
      const TPortProblem problem = DiagnosePortError(device_, portError ? portError->Code() : 0);
      // A station waits for its port to come back whatever keeps it away
      // meanwhile (a new adapter's device file may not be open to us at first).
      const bool wait = (options.station && !first) ||
                        (options.waitForPort && problem.kind == TPortProblemKind::NotFound);
      if (!wait || (!options.station && Clock::now() - openedAt > greetingTimeout)) {
        const std::string hint = PortHint(device_, problem);
        const std::string waited =
            wait ? name_ + " did not appear within " + std::to_string(options.greetingTimeoutS) + " s: " : "";
        finish(exPortError, waited + e.what() + (hint.empty() ? "" : "\n" + hint), true);
        return false;
      }
      if (!announced) {
        panes.phase = "no port";
        if (terminal) panes.ShowProgress(true);
        panes.Message("waiting for " + name_ + " to appear (" + e.what() + ")");
        announced = true;
      }
      runner_->ProcessUntil([&] { return Stopping(); }, kPortLook);
    }
  }
  if (options.verbose)
    panes.Message(port.LowLatency() ? "low-latency mode: on"
                                    : "low-latency mode: off (the device's driver does not offer it)");
  panes.Message("waiting for the device on " + device_ + " (switch it on or reset it now)");
  watch.StartedWaiting();

  const auto responseTimeout =
      std::chrono::milliseconds(options.timeoutMs.value_or(DefaultResponseTimeoutMs(kLineBaud)));
  // The loop sleeps until the port has something for it or the next time-out
  // is due; a live line on a terminal is brought up to date once a second.
  auto nextLook = [&] {
    const TSessionState& state = session.State();
    const auto now = Clock::now();
    auto at = now + std::chrono::hours(1);
    if (state.State != stHandshake) at = watch.LastActivity() + responseTimeout + std::chrono::milliseconds(1);
    else if (state.HandshakeStage == 1 || !options.station)
      at = watch.LastFrame() + greetingTimeout + std::chrono::milliseconds(1);
    if (terminal && !options.quiet) at = std::min(at, now + std::chrono::seconds(1));
    return std::max(std::chrono::milliseconds(0), std::chrono::ceil<std::chrono::milliseconds>(at - now));
  };
  for (;;) {
    const std::uint64_t seen = watch.Activity();
    runner_->ProcessUntil(
        [&] { return !panes.switchOn || lost || uncaught || watch.Stall() || Stopping() || watch.Activity() != seen; },
        nextLook());
    const TSessionState& state = session.State();
    if (!panes.switchOn) {
      const double fromGreeting = std::chrono::duration<double>(panes.switchedOffAt - watch.FirstByte()).count();
      char summary[160];
      std::snprintf(summary, sizeof summary,
                    "load complete: %d frames acknowledged in %.3f s from the greeting (%.3f s in all)",
                    TotalLoadFrames, fromGreeting, std::chrono::duration<double>(Clock::now() - openedAt).count());
      if (shared_.simulated) {
        shared_.simulated->WaitFinished(std::chrono::seconds(2));
        const TSimResult result = shared_.simulated->Result();
        const std::string difference =
            result.Received ? CompareSentRegions(*shared_.image, *result.Received) : "no image";
        if (!result.Complete() || !difference.empty()) {
          finish(exStall, "the simulated device did not receive the whole image: " +
                              (difference.empty() ? result.FirstMismatch : difference), true, fromGreeting);
          return false;
        }
        finish(exSuccess, std::string(summary) + "; the simulated device received every block", true, fromGreeting);
        return false;
      }
      finish(exSuccess, summary, true, fromGreeting);
      return options.station && !Stopping();
    }
    if (lost) {
      // A station's idle line that hangs up (the adapter pulled out) is no device.
      const bool device = !options.station || watch.DeviceSpoke();
      finish(exDeviceLost, "device lost during " + WhereNow(state, panes.LastCommand()) + " (the line hung up)", device);
      return options.station && !Stopping();
    }
    if (uncaught) {
      finish(exStall, ExceptionMessage(uncaught), true);
      return options.station && !Stopping();
    }
    if (watch.Stall()) {
      finish(exStall, "stalled at " + *watch.Stall(), true);
      return options.station && !Stopping();
    }
    if (Stopping()) {
      const bool device = !options.station || watch.DeviceSpoke();
      finish(exInterrupted, device ? "interrupted during " + WhereNow(state, panes.LastCommand()) : "stopped", device);
      return false;
    }
    const auto now = Clock::now();
    if (state.State == stHandshake) {
      if ((state.HandshakeStage == 1 || !options.station) && now - watch.LastFrame() > greetingTimeout) {
        finish(exNoGreeting, state.HandshakeStage == 0
                                 ? "no greeting (0x55) from the device within " + std::to_string(options.greetingTimeoutS) + " s"
                                 : "the device did not confirm the handshake with 0xAA",
               true);
        return options.station && !Stopping();
      }
    } else if (now - watch.LastActivity() > responseTimeout) {
      const std::int64_t arrived = watch.BytesSinceFrame();
      const std::string expected = "expected " + std::to_string(state.ExpectedLength) + " bytes";
      const std::string within = std::to_string(responseTimeout.count()) + " ms";
      finish(exStall, "stalled at " + FrameName(panes.LastCommand()) + ": " +
                          (arrived == 0 ? expected + " within " + within + ", 0 arrived"
                                        : expected + ", " + std::to_string(arrived) + " arrived, then none within " + within),
             true);
      return options.station && !Stopping();
    }
    panes.ShowProgress();
  }
}
