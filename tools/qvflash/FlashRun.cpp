#include "FlashRun.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>

#include "BootLoaderSim.h"
#include "BootSession.h"
#include "DeviceRecord.h"
#include "FlashConsole.h"
#include "FlashSystem.h"
#include "FrameEncoding.h"
#include "PortList.h"
#include "PortProblem.h"
#include "PortRun.h"
#include "Sha256.h"
#include "StatusTexts.h"
#include "TextOut.h"
#include "TrafficLog.h"
#include "UpdateFile.h"

namespace {

// "line 113, column 13: 'x' is not a hexadecimal digit (program memory row 113, offset 0x0706)".
std::string DescribeFault(const TUpdateFileFault& fault) {
  std::string text =
      "line " + std::to_string(fault.Line) + ", column " + std::to_string(fault.Column) + ": " + fault.What;
  const bool program = fault.Line <= UpdateFileRegionLines;
  const int row = program ? fault.Line : fault.Line - UpdateFileRegionLines;
  text += std::string(" (") + (program ? "program memory" : "data flash") + " row " + std::to_string(row);
  if (row < TImageTable::TailRow && fault.Column <= 32)
    text += ", offset 0x" + IntToHex(static_cast<std::uint32_t>((row - 1) * 16 + (fault.Column - 1) / 2), 4);
  return text + ")";
}

// A file the run writes to (--record, --log). One that cannot be opened is a
// usage error, found before any port is opened: null, with the reason said.
template <class TFile>
std::unique_ptr<TFile> OpenOutput(const std::string& path, std::FILE* err) {
  try {
    return std::make_unique<TFile>(path);
  } catch (const std::exception& e) {
    std::fprintf(err, "qvflash: %s\n", PrintableText(e.what()).c_str());
    return nullptr;
  }
}

// Writes the --json document; false, with the reason said, when it did not get out whole.
bool WriteDocument(const std::string& document, std::FILE* out, std::FILE* err) {
  errno = 0;
  if (std::fputs(document.c_str(), out) >= 0 && std::fflush(out) == 0) return true;
  std::fprintf(err, "qvflash: the results could not be written to standard output: %s\n",
               errno != 0 ? std::strerror(errno) : "write error");
  return false;
}

// The run's status: with --station the first failed device of the first
// port that had one, otherwise the first port that did not succeed.
int RunStatus(const std::vector<std::unique_ptr<TPortWorker>>& workers) {
  for (const auto& worker : workers)
    for (const TAttempt& attempt : worker->Attempts())
      if (attempt.status != exSuccess) return attempt.status;
  return exSuccess;
}

void PrintSummary(const std::vector<std::unique_ptr<TPortWorker>>& workers, bool station, TConsole& console) {
  console.Line(-1, "summary:", true);
  for (const auto& worker : workers) {
    const std::vector<TAttempt>& attempts = worker->Attempts();
    if (station) {
      const auto ok =
          std::count_if(attempts.begin(), attempts.end(), [](const TAttempt& a) { return a.status == exSuccess; });
      console.Line(-1,
                   "  " + PrintableText(worker->Name()) + ": " + std::to_string(ok) + " ok, " +
                       std::to_string(static_cast<long>(attempts.size()) - ok) + " failed",
                   true);
      continue;
    }
    for (const TAttempt& a : attempts) {
      const std::string first = a.message.substr(0, a.message.find('\n'));
      console.Line(-1,
                   "  " + PrintableText(worker->Name()) + ": " + OutcomeWord(a.status) +
                       (a.status == exSuccess ? "" : " (status " + std::to_string(a.status) + ")") + ": " + first,
                   true);
    }
  }
}

}  // namespace

std::string PortHint(const std::string& name, const TPortProblem& problem) {
  // Every name from outside is shown escaped: a line end in one would start a forged line.
  const std::string port = PrintableText(FlashSystem::ShownPort(name, problem));
  switch (problem.kind) {
    case TPortProblemKind::PermissionDenied: return FlashSystem::PermissionHint(port, problem);
    case TPortProblemKind::Busy: return FlashSystem::BusyHint(port, name, problem);
    case TPortProblemKind::NotSerialPort: return "hint: " + port + " is not a serial port.";
    case TPortProblemKind::NotFound: {
      std::string hint = "hint: " + port + " is not on this computer.";
      if (problem.existingPorts.empty()) return hint + FlashSystem::NotFoundAdvice(false);
      hint += " Ports here:";
      for (const TPortInfo& existing : problem.existingPorts)
        hint += (&existing == &problem.existingPorts.front() ? " " : ", ") + PrintableText(existing.name) +
                (existing.description.empty() ? "" : " (" + PrintableText(existing.label) + ")");
      return hint + "." + FlashSystem::NotFoundAdvice(true);
    }
    case TPortProblemKind::None: break;
  }
  return "";
}

void PrintPortList(const std::vector<TPortInfo>& ports, std::FILE* out) {
  for (const TPortInfo& port : ports) {
    // The label where it says more than the name; else what the system knows of the port.
    const std::string& more = port.label != port.name ? port.label : port.description;
    if (more.empty())
      std::fprintf(out, "%s\n", port.name.c_str());
    else
      std::fprintf(out, "%-14s %s\n", port.name.c_str(), more.c_str());
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
  TFileFacts facts;
  return LoadImage(file, image, facts, err);
}

int LoadImage(const std::string& file, TImage& image, TFileFacts& facts, std::FILE* err) {
  // The record says which file it was wherever qvflash was started from.
  // Names are UTF-8: the path is made and read as such on every system.
  std::error_code error;
  const std::filesystem::path named(std::u8string(file.begin(), file.end()));
  const std::filesystem::path absolute = std::filesystem::absolute(named, error);
  const std::u8string shownPath = absolute.u8string();
  facts.path = error ? file : std::string(shownPath.begin(), shownPath.end());
  if (std::filesystem::is_regular_file(named, error)) {
    const std::uintmax_t size = std::filesystem::file_size(named, error);
    if (!error) facts.size = size;
  }
  const std::string shown = PrintableText(file);
  image.SetupHeaders();
  // The file is read once: the digest is of the very bytes the tables hold.
  std::string bytes;
  try {
    TUpdateFileFault fault;
    switch (ReadUpdateFile(file, image, {}, &fault, &bytes)) {
      case TUpdateFileOutcome::ExtensionIgnored:
        std::fprintf(err, "qvflash: %s: not an update file (the name must end in .qv)\n", shown.c_str());
        return exFileRefused;
      case TUpdateFileOutcome::SizeRefused:
        std::fprintf(err, "qvflash: %s: %s (%ju bytes expected)\n", shown.c_str(), kRefusedFile, UpdateFileSize);
        return exFileRefused;
      case TUpdateFileOutcome::ShapeRefused:
        std::fprintf(err, "qvflash: %s: %s: %s\n", shown.c_str(), kRefusedFile, DescribeFault(fault).c_str());
        return exFileRefused;
      default: break;
    }
  } catch (const std::exception& e) {
    std::fprintf(err, "qvflash: %s: %s\n", shown.c_str(), PrintableText(e.what()).c_str());
    return exFileRefused;
  }
  facts.size = bytes.size();
  facts.sha256 = Sha256Hex(bytes);
  return exSuccess;
}

int RunFlash(const TFlashOptions& options, std::FILE* out, std::FILE* err) {
  if (options.listPorts) {
    PrintPortList(ListPorts(), out);
    return exSuccess;
  }
  // Before anything else: signals that come while the file is read stop the run too.
  TStopRequests stops;
  // An unwritable record is found out before anything else happens.
  std::unique_ptr<TRecordFile> record;
  if (!options.recordFile.empty() && !(record = OpenOutput<TRecordFile>(options.recordFile, err))) return exUsage;
  TRunShared shared;
  TImage image;
  if (const int status = LoadImage(options.file, image, shared.file, err); status != exSuccess) {
    if (options.json && !WriteDocument(ResultsDocument(shared.file, {}, status), out, err)) return exResultsLost;
    return status;
  }
  if (options.dryRun) {
    PrintDryRun(image, out);
    return exSuccess;
  }
  const std::unique_ptr<TTrafficLog> log = OpenOutput<TTrafficLog>(options.logFile, err);
  if (!log) return exUsage;

  std::unique_ptr<TBootLoaderSim> simulated;
  std::vector<std::string> devices = options.ports;
  if (options.simulate) {
    simulated = std::make_unique<TBootLoaderSim>();
    try {
      simulated->Start();
    } catch (const std::exception& e) {
      std::fprintf(err, "qvflash: the simulated device cannot start: %s\n", e.what());
      return exPortError;
    }
    devices = {simulated->SlavePath()};
  }
  std::vector<std::string> names = options.simulate ? devices : options.ports;
  TConsole console(err, FlashSystem::LiveTerminal(err), options.quiet, names);
  shared.image = &image;
  shared.options = &options;
  shared.console = &console;
  shared.log = log.get();
  shared.record = record.get();
  shared.station = TStation::Here();
  shared.simulated = simulated.get();

  std::atomic<std::size_t> ended{0};
  std::vector<std::unique_ptr<TPortWorker>> workers;
  for (std::size_t i = 0; i < devices.size(); ++i)
    workers.push_back(std::make_unique<TPortWorker>(shared, static_cast<int>(i), names[i], devices[i]));
  for (auto& worker : workers)
    worker->Start([&] {
      ++ended;
      stops.Wake();
    });
  // This thread only waits: for a stop request or for the ports to end.
  bool stopping = false;
  while (ended.load() < workers.size()) {
    const std::string request = stops.Wait();
    if (!request.empty() && !stopping) {
      stopping = true;
      console.Line(-1, "qvflash: " + request + ": stopping; loads under way end as interrupted", true);
      for (auto& worker : workers) worker->Stop();
    }
  }
  for (auto& worker : workers) worker->Join();
  console.EndLive();
  if (workers.size() > 1 || options.station) PrintSummary(workers, options.station, console);
  // A run whose results did not all get out says so in its status, whatever became of the loads.
  bool resultsLost = std::any_of(workers.begin(), workers.end(), [](const auto& w) { return w->RecordLost(); });
  if (std::string error; !log->Finish(error))
    console.Line(-1, "qvflash: the log could not be written whole to " + PrintableText(options.logFile) + ": " + error,
                 true);
  console.Flush();
  const int status = RunStatus(workers);
  if (options.json) {
    std::vector<TAttempt> attempts;
    for (const auto& worker : workers)
      attempts.insert(attempts.end(), worker->Attempts().begin(), worker->Attempts().end());
    resultsLost = !WriteDocument(ResultsDocument(shared.file, attempts, status), out, err) || resultsLost;
  }
  return resultsLost ? exResultsLost : status;
}
