// Prints figures of the whole window: start-up to first paint, reading an
// update file, whole loads into the simulated device over an unpaced
// pseudo-terminal (time, the loader's per-frame turnaround as the device sees
// it), and memory over many loads in a row (30, or the number given).
// Offscreen unless a display is set.
#include <QApplication>
#include "PortComboBox.h"
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "Application.h"
#include "EventLoopWait.h"
#include "ColorButton.h"
#include "DemoSimulator.h"
#include "SampleImage.h"
#include "UpdateFile.h"

namespace {

using Clock = std::chrono::steady_clock;
int kLoads = 30;  // or the first argument

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

}  // namespace

int main(int argc, char* argv[]) {
  const auto start = Clock::now();
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc > 1) kLoads = std::max(1, std::atoi(argv[1]));
  const auto runner = InitApplication(app);
  const std::string file = WriteUpdateFile("/tmp/qv-window-bench.qv", MakeSampleImage(1));

  TDemoSimulator simulator;
  int failures = 0;
  {
    TForm1 form({{QStringLiteral("Симулятор"), [&simulator] { return simulator.StartDevice(); }}});
    FirstPaint paint;
    form.installEventFilter(&paint);
    form.show();
    ProcessEventsUntil([&] { return paint.at != Clock::time_point{}; }, 5000);
    std::printf("start-up to first paint: %.1f ms (from main; %s)\n", Ms(paint.at - start),
                qPrintable(QGuiApplication::platformName()));

    form.ChooseUpdateFile = [&file] { return std::optional<QString>(QString::fromStdString(file)); };
    std::vector<double> loads;
    for (int i = 0; i < 5; ++i) {
      const auto t = Clock::now();
      form.SpeedButton1Click();
      loads.push_back(Ms(Clock::now() - t));
    }
    std::printf("reading the update file in the window: median %.1f ms, worst %.1f ms (5 reads)\n",
                Percentile(loads, 0.5), Percentile(loads, 1.0));

    form.ComboBox1->setCurrentIndex(form.ComboBox1->count() - 1);
    std::vector<double> toCompletion, toSwitchOff, turnaround;
    const long before = ResidentKb();
    long afterFirst = 0;
    std::vector<long> resident;
    std::vector<double> firstTurnaround, perLoad;
    for (int i = 0; i < kLoads; ++i) {
      const auto t = Clock::now();
      form.ColorButton4->SetChecked(true);
      form.ColorButton4Click();
      const bool done = ProcessEventsUntil([&] { return !form.ColorButton4->Checked(); }, 30000);
      simulator.Device()->WaitFinished(std::chrono::seconds(2));
      const TSimResult result = simulator.Device()->Result();
      if (!done || !result.Complete()) ++failures;
      toCompletion.push_back(Ms(result.CompletionAt - t));
      toSwitchOff.push_back(Ms(Clock::now() - t));
      turnaround.insert(turnaround.end(), result.TurnaroundUs.begin(), result.TurnaroundUs.end());
      if (i == 0) {
        afterFirst = ResidentKb();
        firstTurnaround = result.TurnaroundUs;
      }
      if ((i + 1) % 10 == 0) {
        resident.push_back(ResidentKb());
        std::printf("threads after %d loads: %zu\n", i + 1, ThreadCount());
      }
      perLoad.push_back(Percentile(result.TurnaroundUs, 0.5));
    }
    std::printf("whole load in the window, switch on to completion command received (%d loads): median %.0f ms, worst %.0f ms\n",
                kLoads, Percentile(toCompletion, 0.5), Percentile(toCompletion, 1.0));
    std::printf("  switch on to switch off (includes the port's 300 ms closing pause): median %.0f ms\n",
                Percentile(toSwitchOff, 0.5));
    std::printf("per-frame turnaround (answer written -> next frame read, %zu frames): median %.0f us, 99th %.0f us\n",
                turnaround.size(), Percentile(turnaround, 0.5), Percentile(turnaround, 0.99));
    std::printf("turnaround median per load (us):");
    for (double v : perLoad) std::printf(" %.0f", v);
    std::printf("\n");
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
