// Prints figures of the whole window: start-up to first paint, reading an
// update file, whole loads into the simulated device over an unpaced
// pseudo-terminal (time, the loader's per-frame turnaround as the device sees
// it), and memory over many loads in a row. After each window load qvflash
// (the command-line loader, a program of its own) loads the same file into a
// simulated device of this process, so that both are measured side by side in
// one run, on one machine in one state.
//
//   bench_window [LOADS] [--debug-page] [--no-qvflash] [--qvflash PATH]
//
// LOADS: 30 unless given. --debug-page: the debug page is in front during the
// loads (its log pane and last-line fields painted as they change).
// Offscreen unless a display is set.
#include <QApplication>
#include <QTabWidget>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "Application.h"
#include "ColorButton.h"
#include "DemoSimulator.h"
#include "EventLoopWait.h"
#include "PortComboBox.h"
#include "SampleImage.h"
#include "UpdateFile.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value;
    }
    status.ignore(1 << 12, '\n');
  }
  return -1;
}

std::size_t ThreadCount() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++n;
  return n;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

class FirstPaint : public QObject {
public:
  Clock::time_point at{};
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && at == Clock::time_point{}) at = Clock::now();
    return false;
  }
};

// The window with the moment the session turns the switch off (the
// completion command follows at once), as qvflash times its own load.
class TTimedForm : public TForm1 {
public:
  using TForm1::TForm1;
  Clock::time_point switchedOffAt{};
  void SetSwitchChecked(bool on) override {
    if (!on && SwitchChecked()) switchedOffAt = Clock::now();
    TForm1::SetSwitchChecked(on);
  }
};

struct TOptions {
  int loads = 30;
  bool debugPage = false;
  bool qvflash = true;
  std::string qvflashPath;
};

TOptions ParseOptions(int argc, char* argv[]) {
  TOptions options;
  options.qvflashPath = (std::filesystem::canonical("/proc/self/exe").parent_path() / "../../tools/qvflash/qvflash")
                            .lexically_normal()
                            .string();
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--debug-page"))
      options.debugPage = true;
    else if (!std::strcmp(argv[i], "--no-qvflash"))
      options.qvflash = false;
    else if (!std::strcmp(argv[i], "--qvflash") && i + 1 < argc)
      options.qvflashPath = argv[++i];
    else
      options.loads = std::max(1, std::atoi(argv[i]));
  }
  return options;
}

// One load by qvflash into a simulated device of this process: its own
// figure for the load (greeting to the switch turned off) and the device's
// turnarounds.
struct TFlashRun {
  bool ok = false;
  double loadMs = 0;
  std::vector<double> turnaroundUs;
};

TFlashRun RunQvflash(const std::string& qvflash, const std::string& file) {
  TFlashRun run;
  TBootLoaderSim device;
  device.Start();
  const std::string command = qvflash + " --port " + device.SlavePath() + " " + file + " 2>&1";
  std::string output;
  if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[1024];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    const int status = ::pclose(pipe);
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  device.WaitFinished(std::chrono::seconds(2));
  const TSimResult result = device.Result();
  const std::size_t at = output.find("acknowledged in ");
  if (at != std::string::npos) run.loadMs = 1000 * std::atof(output.c_str() + at + 16);
  run.ok = run.ok && result.Complete() && run.loadMs > 0;
  if (!run.ok) std::fprintf(stderr, "qvflash failed:\n%s\n", output.c_str());
  run.turnaroundUs = result.TurnaroundUs;
  return run;
}

void PrintSeries(const char* name, const std::vector<double>& loadMs, const std::vector<double>& turnaroundUs) {
  if (loadMs.empty()) return;
  std::printf(
      "  %-8s whole load (greeting to switch off): median %.0f ms, range %.0f .. %.0f ms; "
      "turnaround (%zu frames): median %.0f us, 99th %.0f us\n",
      name, Percentile(loadMs, 0.5), Percentile(loadMs, 0.0), Percentile(loadMs, 1.0), turnaroundUs.size(),
      Percentile(turnaroundUs, 0.5), Percentile(turnaroundUs, 0.99));
}

}  // namespace

int main(int argc, char* argv[]) {
  const auto start = Clock::now();
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const TOptions options = ParseOptions(argc, argv);
  const auto runner = InitApplication(app);
  const std::string file = WriteUpdateFile("/tmp/qv-window-bench.qv", MakeSampleImage(1));

  TDemoSimulator simulator;
  int failures = 0;
  {
    TTimedForm form({{QStringLiteral("Симулятор"), [&simulator] { return simulator.StartDevice(); }}});
    FirstPaint paint;
    form.installEventFilter(&paint);
    form.show();
    ProcessEventsUntil([&] { return paint.at != Clock::time_point{}; }, 5000);
    std::printf("start-up to first paint: %.1f ms (from main; %s)\n", Ms(paint.at - start),
                qPrintable(QGuiApplication::platformName()));

    form.ChooseUpdateFile = [&file] { return std::optional<QString>(QString::fromStdString(file)); };
    std::vector<double> reads;
    for (int i = 0; i < 5; ++i) {
      const auto t = Clock::now();
      form.SpeedButton1Click();
      reads.push_back(Ms(Clock::now() - t));
    }
    std::printf("reading the update file in the window: median %.1f ms, worst %.1f ms (5 reads)\n",
                Percentile(reads, 0.5), Percentile(reads, 1.0));

    if (options.debugPage) form.PageControl1->setCurrentIndex(2);
    form.ComboBox1->setCurrentIndex(form.ComboBox1->count() - 1);
    Clock::time_point firstNotification{};
    const auto handler = form.SerialPort1.OnRxChar;
    form.SerialPort1.OnRxChar = [&firstNotification, handler](TCustomSerialPort* sender, int count) {
      if (firstNotification == Clock::time_point{}) firstNotification = Clock::now();
      handler(sender, count);
    };

    std::vector<double> toCompletion, toSwitchOff, windowLoad, turnaround, perLoad;
    std::vector<double> flashLoad, flashTurnaround;
    // The figures' own storage, in memory before the first reading: what
    // grows afterwards is the window's.
    for (std::vector<double>* samples : {&turnaround, &flashTurnaround}) {
      samples->resize(static_cast<std::size_t>(options.loads) * TBootLoaderSim::kTotalFrames);
      samples->clear();
    }
    const long before = ResidentKb();
    long afterFirst = 0;
    std::vector<long> resident;
    for (int i = 0; i < options.loads; ++i) {
      firstNotification = {};
      const auto t = Clock::now();
      form.ColorButton4->SetChecked(true);
      form.ColorButton4Click();
      const bool done = ProcessEventsUntil([&] { return !form.ColorButton4->Checked(); }, 30000);
      simulator.Device()->WaitFinished(std::chrono::seconds(2));
      const TSimResult result = simulator.Device()->Result();
      if (!done || !result.Complete()) ++failures;
      toCompletion.push_back(Ms(result.CompletionAt - t));
      toSwitchOff.push_back(Ms(Clock::now() - t));
      windowLoad.push_back(Ms(form.switchedOffAt - firstNotification));
      turnaround.insert(turnaround.end(), result.TurnaroundUs.begin(), result.TurnaroundUs.end());
      perLoad.push_back(Percentile(result.TurnaroundUs, 0.5));
      if (i == 0) afterFirst = ResidentKb();
      if ((i + 1) % 10 == 0) {
        resident.push_back(ResidentKb());
        std::printf("threads after %d loads: %zu\n", i + 1, ThreadCount());
      }
      if (options.qvflash) {
        const TFlashRun flash = RunQvflash(options.qvflashPath, file);
        if (!flash.ok) ++failures;
        flashLoad.push_back(flash.loadMs);
        flashTurnaround.insert(flashTurnaround.end(), flash.turnaroundUs.begin(), flash.turnaroundUs.end());
      }
    }
    std::printf(
        "whole load in the window, switch on to completion command received (%d loads, %s in front): "
        "median %.0f ms, worst %.0f ms\n",
        options.loads, options.debugPage ? "debug page" : "table page", Percentile(toCompletion, 0.5),
        Percentile(toCompletion, 1.0));
    std::printf("  switch on to switch off (includes the port's 300 ms closing pause): median %.0f ms\n",
                Percentile(toSwitchOff, 0.5));
    std::printf("per-frame turnaround (answer written -> next frame read, %zu frames): median %.0f us, 99th %.0f us\n",
                turnaround.size(), Percentile(turnaround, 0.5), Percentile(turnaround, 0.99));
    std::printf("turnaround median per load (us):");
    for (double v : perLoad) std::printf(" %.0f", v);
    std::printf("\n");
    if (options.qvflash) {
      std::printf("side by side, loads alternating (window, then qvflash %s):\n", options.qvflashPath.c_str());
      PrintSeries("window", windowLoad, turnaround);
      PrintSeries("qvflash", flashLoad, flashTurnaround);
      std::printf("  window / qvflash: whole load %.2f, turnaround median %.2f\n",
                  Percentile(windowLoad, 0.5) / Percentile(flashLoad, 0.5),
                  Percentile(turnaround, 0.5) / Percentile(flashTurnaround, 0.5));
    }
    std::printf("resident memory: %ld kB before, %ld kB after 1 load", before, afterFirst);
    for (std::size_t k = 0; k < resident.size(); ++k) std::printf(", %ld kB after %zu", resident[k], (k + 1) * 10);
    std::printf("\n");
    if (failures) std::printf("FAILED loads: %d\n", failures);
  }
  runner->Shutdown();
  SetMainThreadRunner(nullptr);
  std::remove(file.c_str());
  return failures == 0 ? 0 : 1;
}
