#include "FlashRun.h"

#include <unistd.h>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>

#include "BootSession.h"
#include "ConsolePanes.h"
#include "FrameEncoding.h"
#include "LoaderSettings.h"
#include "PortList.h"
#include "PortProblem.h"
#include "RunOnMainThread.h"
#include "SerialPort.h"
#include "SerialSessionPort.h"
#include "BootLoaderSim.h"
#include "TrafficLog.h"
#include "UpdateFile.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kLineBaud = 38400;

std::string Hex2(unsigned value) { return IntToHex(value, 2); }

// The block of a command text: "66 0FF8" for a data-flash block, and so on.
std::string FrameName(const std::string& command) {
  if (command.size() < 6) return command;
  const std::string code = command.substr(0, 2);
  const std::string address = command.substr(2, 4);
  if (code == "66") return "data-flash block at 0x" + address;
  if (code == "22") return "program block at 0x" + address;
  if (code == "11") return "page select 0x" + address;
  return command;
}

constexpr const char* kRefusedFile = "Неверный файл, проверьте файл или обновите программу загрузки";

// "line 113, column 13: 'x' is not a hexadecimal digit (program memory row 113, offset 0x0706)".
std::string DescribeFault(const TUpdateFileFault& fault) {
  std::string text = "line " + std::to_string(fault.Line) + ", column " + std::to_string(fault.Column) + ": " + fault.What;
  const bool program = fault.Line <= UpdateFileRegionLines;
  const int row = program ? fault.Line : fault.Line - UpdateFileRegionLines;
  text += std::string(" (") + (program ? "program memory" : "data flash") + " row " + std::to_string(row);
  if (row < TImageTable::TailRow && fault.Column <= 32)
    text += ", offset 0x" + IntToHex(static_cast<std::uint32_t>((row - 1) * 16 + (fault.Column - 1) / 2), 4);
  return text + ")";
}

// Watches the session from outside: a complete response that is not
// answered with a frame is a stall; so is silence past the time-out.
class TRunWatch {
public:
  TRunWatch(const TBootSession& session, TConsolePanes& panes, TLoggingPort& port)
      : session_(session), panes_(panes), port_(port) {}

  void BeforeNotification() {
    if (firstByte_ == Clock::time_point{}) firstByte_ = Clock::now();
    responses_ = panes_.CompleteResponses();
    writes_ = port_.Writes();
  }
  void AfterNotification() {
    const TSessionState& state = session_.State();
    if (port_.Writes() != writes_) lastFrame_ = Clock::now();
    if (panes_.CompleteResponses() == responses_ || port_.Writes() != writes_) return;
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
  void StartedWaiting() { lastFrame_ = Clock::now(); }
  Clock::time_point FirstByte() const { return firstByte_; }

private:
  const TBootSession& session_;
  TConsolePanes& panes_;
  TLoggingPort& port_;
  int responses_ = 0, writes_ = 0;
  std::optional<std::string> stall_;
  Clock::time_point lastFrame_ = Clock::now();
  Clock::time_point firstByte_{};
};

}  // namespace

std::string PortHint(const std::string& name, const TPortProblem& problem) {
  const std::string port =
      problem.devicePath.empty() || problem.devicePath == name ? name : name + " (" + problem.devicePath + ")";
  switch (problem.kind) {
    case TPortProblemKind::PermissionDenied:
      if (!problem.groupMayUse)
        return "hint: " + port + " is open to its owner only" +
               (problem.group.empty() ? "" : " (group '" + problem.group + "')") +
               ". Ask an administrator for access, e.g. a udev rule with GROUP=\"dialout\", MODE=\"0660\".";
      if (problem.alreadyMember)
        return "hint: you are in group '" + problem.group + "', which may use " + port +
               ", but this login predates it: log out and in again.";
      return "hint: " + port + " is open to group '" + problem.group + "'. Join it: sudo usermod -aG " +
             problem.group + " $USER, then log out and in again.";
    case TPortProblemKind::Busy:
      return "hint: another program holds " + port + "; close it and try again (fuser -v " +
             (problem.devicePath.empty() ? name : problem.devicePath) + " shows which).";
    case TPortProblemKind::NotSerialPort:
      return "hint: " + port + " is not a serial port.";
    case TPortProblemKind::NotFound: {
      std::string hint = "hint: " + port + " is not on this computer.";
      if (problem.existingPorts.empty()) return hint + " No serial port is: plug in an adapter.";
      hint += " Ports here:";
      for (const TPortInfo& existing : problem.existingPorts)
        hint += (&existing == &problem.existingPorts.front() ? " " : ", ") + existing.name +
                (existing.description.empty() ? "" : " (" + existing.label + ")");
      return hint + ".";
    }
    case TPortProblemKind::None:
      break;
  }
  return "";
}

void PrintPortList(const std::vector<TPortInfo>& ports, std::FILE* out) {
  for (const TPortInfo& port : ports) {
    if (port.label == port.name) std::fprintf(out, "%s\n", port.name.c_str());
    else std::fprintf(out, "%-14s %s\n", port.name.c_str(), port.label.c_str());
  }
}

void PrintDryRun(const TImage& image, std::FILE* out) {
  std::fprintf(out, "frames: %d (512 data-flash blocks, 120 page selects, 480 program blocks)\n",
               DataFlashBlocks + ProgramPhaseFrames);
  std::fprintf(out, "plus the handshake acknowledgement 55 33 CC and the completion command 99 33 CC\n");
  std::fprintf(out, "bytes to send: %d\n", DataFlashBlocks * 131 + ProgramPages * (3 + 4 * 131) + 6);
  for (int k = 0; k < DataFlashBlocks; ++k) {
    const auto bytes = ConvertCommandText("660000" + ReadBlockText(image.StringGrid2, k * 8 + 1));
    std::fprintf(out, "data-flash %s sum %s\n", IntToHex(static_cast<std::uint32_t>(k * 8), 4).c_str(),
                 IntToHex(FrameDataSum(bytes), 2).c_str());
  }
  for (int p = 0; p < ProgramPages; ++p) {
    std::fprintf(out, "page-select %s\n", IntToHex(static_cast<std::uint32_t>(p * 512), 4).c_str());
    for (int b = 0; b < 4; ++b) {
      const auto bytes = ConvertCommandText("220000" + ReadBlockText(image.StringGrid1, BlockFirstRow(p, b)));
      std::fprintf(out, "program %s sum %s\n", IntToHex(static_cast<std::uint32_t>(p * 512 + b * 128), 4).c_str(),
                   IntToHex(FrameDataSum(bytes), 2).c_str());
    }
  }
}

int LoadImage(const std::string& file, TImage& image, std::FILE* err) {
  image.SetupHeaders();
  try {
    TUpdateFileFault fault;
    switch (ReadUpdateFile(file, image, {}, &fault)) {
      case TUpdateFileOutcome::ExtensionIgnored:
        std::fprintf(err, "qvflash: %s: not an update file (the name must end in .qv)\n", file.c_str());
        return exFileRefused;
      case TUpdateFileOutcome::SizeRefused:
        std::fprintf(err, "qvflash: %s: %s (%ju bytes expected)\n", file.c_str(), kRefusedFile, UpdateFileSize);
        return exFileRefused;
      case TUpdateFileOutcome::ShapeRefused:
        std::fprintf(err, "qvflash: %s: %s: %s\n", file.c_str(), kRefusedFile, DescribeFault(fault).c_str());
        return exFileRefused;
      default:
        break;
    }
  } catch (const std::exception& e) {
    std::fprintf(err, "qvflash: %s: %s\n", file.c_str(), e.what());
    return exFileRefused;
  }
  return exSuccess;
}

int RunFlash(const TFlashOptions& options, std::FILE* out, std::FILE* err) {
  if (options.listPorts) {
    PrintPortList(ListPorts(), out);
    return exSuccess;
  }
  TImage image;
  if (const int status = LoadImage(options.file, image, err); status != exSuccess) return status;
  if (options.dryRun) {
    PrintDryRun(image, out);
    return exSuccess;
  }

  std::unique_ptr<TBootLoaderSim> simulated;
  std::string device = options.port;
  if (options.simulate) {
    simulated = std::make_unique<TBootLoaderSim>();
    try {
      simulated->Start();
    } catch (const std::exception& e) {
      std::fprintf(err, "qvflash: the simulated device cannot start: %s\n", e.what());
      return exPortError;
    }
    device = simulated->SlavePath();
  }

  std::unique_ptr<TTrafficLog> log;
  try {
    log = std::make_unique<TTrafficLog>(options.logFile);
  } catch (const std::exception& e) {
    std::fprintf(err, "qvflash: %s\n", e.what());
    return exUsage;
  }

  auto runner = std::make_shared<TPlainLoopRunner>();
  SetMainThreadRunner(runner);
  std::exception_ptr uncaught;
  SetUncaughtExceptionHandler([&](std::exception_ptr error) { uncaught = error; });

  TSerialPort port;
  ApplyStoredLoaderSettings(port);
  TSerialSessionPort link(port);
  TLoggingPort logged(link, *log);
  const bool terminal = ::isatty(::fileno(err)) != 0;
  TConsolePanes panes(err, terminal, options.quiet, options.verbose, *log, kLineBaud);
  panes.portName = device;
  TBootSession session(image, logged, panes);
  session.FormCreate();
  TRunWatch watch(session, panes, logged);
  bool lost = false;
  port.OnRxChar = [&](TCustomSerialPort*, int count) {
    watch.BeforeNotification();
    session.SerialPort1RxChar(count);
    watch.AfterNotification();
    panes.bytesMoved = logged.BytesRead() + logged.BytesWritten();
  };
  port.OnError = [&](TCustomSerialPort*, int errors) {
    if (static_cast<std::uint32_t>(errors) & CE_IOE) lost = true;
  };

  auto finish = [&](int status, const std::string& message) {
    panes.FinishProgress();
    if (!message.empty()) panes.Message("qvflash: " + message, status != exSuccess);
    if (panes.switchOn) {
      panes.switchOn = false;
      try {
        session.ColorButton4Click();
      } catch (const std::exception&) {
      }
    }
    port.OnRxChar = nullptr;
    port.OnError = nullptr;
    SetUncaughtExceptionHandler(nullptr);
    SetMainThreadRunner(nullptr);
    return status;
  };

  panes.switchOn = true;
  const auto start = Clock::now();
  try {
    session.ColorButton4Click();
  } catch (const std::exception& e) {
    const std::string hint = PortHint(device, DiagnosePortError(device, e.what()));
    return finish(exPortError, std::string(e.what()) + (hint.empty() ? "" : "\n" + hint));
  }
  if (options.verbose)
    panes.Message(port.LowLatency() ? "low-latency mode: on"
                                    : "low-latency mode: off (the device's driver does not offer it)");
  panes.Message("waiting for the device on " + device + " (switch it on or reset it now)");
  watch.StartedWaiting();

  const auto responseTimeout = std::chrono::milliseconds(options.timeoutMs.value_or(DefaultResponseTimeoutMs(kLineBaud)));
  const auto greetingTimeout = std::chrono::seconds(options.greetingTimeoutS);
  // The loop sleeps until the port has something for it or the next time-out
  // is due; a progress bar on a terminal is brought up to date once a second.
  auto nextLook = [&] {
    const bool greeting = session.State().State == stHandshake;
    auto at = watch.LastFrame() + (greeting ? std::chrono::milliseconds(greetingTimeout) : responseTimeout) +
              std::chrono::milliseconds(1);
    if (terminal && !options.quiet) at = std::min(at, Clock::now() + std::chrono::seconds(1));
    return std::max(std::chrono::milliseconds(0),
                    std::chrono::ceil<std::chrono::milliseconds>(at - Clock::now()));
  };
  while (true) {
    runner->ProcessUntil([&] { return !panes.switchOn || lost || uncaught || watch.Stall(); }, nextLook());
    const TSessionState& state = session.State();
    if (!panes.switchOn) {
      panes.ShowProgress(true);
      char summary[160];
      std::snprintf(summary, sizeof summary,
                    "load complete: %d frames acknowledged in %.3f s from the greeting (%.3f s in all)",
                    TotalLoadFrames, std::chrono::duration<double>(panes.switchedOffAt - watch.FirstByte()).count(),
                    std::chrono::duration<double>(Clock::now() - start).count());
      if (simulated) {
        simulated->WaitFinished(std::chrono::seconds(2));
        const TSimResult result = simulated->Result();
        const std::string difference = result.Received ? CompareSentRegions(image, *result.Received) : "no image";
        if (!result.Complete() || !difference.empty())
          return finish(exStall, "the simulated device did not receive the whole image: " +
                                     (difference.empty() ? result.FirstMismatch : difference));
        return finish(exSuccess, std::string(summary) + "; the simulated device received every block");
      }
      return finish(exSuccess, summary);
    }
    if (uncaught) return finish(exStall, ExceptionMessage(uncaught));
    if (lost) return finish(exDeviceLost, "device lost during " + FrameName(panes.LastCommand()) + " (the line hung up)");
    if (watch.Stall()) return finish(exStall, "stalled at " + *watch.Stall());
    const auto quiet = Clock::now() - watch.LastFrame();
    if (state.State == stHandshake) {
      if (quiet > greetingTimeout)
        return finish(exNoGreeting, state.HandshakeStage == 0
                                        ? "no greeting (0x55) from the device within " + std::to_string(options.greetingTimeoutS) + " s"
                                        : "the device did not confirm the handshake with 0xAA");
    } else if (quiet > responseTimeout) {
      return finish(exStall, "stalled at " + FrameName(panes.LastCommand()) + ": expected " +
                                 std::to_string(state.ExpectedLength) + " bytes within " +
                                 std::to_string(responseTimeout.count()) + " ms, " +
                                 std::to_string(state.ReceivedLength) + " arrived");
    }
    panes.ShowProgress();
  }
}
