// Prints how long the core's heavy steps take: reading an update file into
// both tables, building each phase's listing, and a whole load against an
// in-process boot loader. Run it on a quiet machine; figures are medians.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "BootSession.h"
#include "FrameEncoding.h"
#include "SampleImage.h"
#include "UpdateFile.h"

namespace {

using Clock = std::chrono::steady_clock;

double MedianMs(int runs, const std::function<void()>& step) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    step();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

class NullPanes : public ISessionPanes {
public:
  bool switchOn = true;
  int gauge = 0, gaugeMax = 100, listing = 0;
  std::string SelectedPortName() const override { return "COM1"; }
  void SetStatusText(const std::string&) override {}
  void ClearDebugLog() override {}
  void AppendDebugLog(const std::string&) override {}
  void SetCommandListing(std::vector<std::string> lines) override { listing = static_cast<int>(lines.size()); }
  int CommandListingLineCount() const override { return listing; }
  void AppendTrafficLog(const std::string&) override {}
  void SetLastResponse(const std::string&) override {}
  void SetLastCommand(const std::string&) override {}
  void SetGaugeMax(int value) override { gaugeMax = value; }
  void SetGaugeProgress(int value) override { gauge = std::clamp(value, 0, gaugeMax); }
  int GaugeProgress() const override { return gauge; }
  void SetResponseLamp(bool) override {}
  bool SwitchChecked() const override { return switchOn; }
  void SetSwitchChecked(bool on) override { switchOn = on; }
};

// Answers every frame at once, as a boot loader with an infinitely fast line would.
class EchoPort : public ISessionPort {
public:
  std::deque<std::uint8_t> queue;
  bool open = false, acked = false;
  int writes = 0;
  void SetDeviceName(const std::string&) override {}
  void Open() override { open = true, acked = false, writes = 0; }
  bool Close() override {
    open = false;
    return true;
  }
  void SetDtrLine(bool) override {}
  int ReadBytes(std::uint8_t* buffer, int count) override {
    const int n = std::min<int>(count, static_cast<int>(queue.size()));
    std::copy_n(queue.begin(), n, buffer);
    queue.erase(queue.begin(), queue.begin() + n);
    return n;
  }
  int WriteBytes(const std::uint8_t* buffer, int count) override {
    ++writes;
    const std::vector<std::uint8_t> frame(buffer, buffer + count);
    if (!acked) {
      acked = true;
      queue.push_back(0xAA);
    } else if (frame[0] != 0x99) {
      queue.insert(queue.end(), frame.begin(), frame.end());
      queue.push_back(frame[0] == 0x11 ? 0xAA : FrameDataSum(frame));
    }
    return count;
  }
};

}  // namespace

int main() {
  const std::string path = (std::filesystem::temp_directory_path() / "qv-bench.qv").string();
  const TImage source = MakeSampleImage(1);
  WriteUpdateFile(path, source);

  TImage image;
  image.SetupHeaders();
  const double readMs = MedianMs(21, [&] { ReadUpdateFile(path, image); });
  std::printf("read %ju-byte update file into both tables: %.2f ms (median of 21)\n", UpdateFileSize, readMs);
  const std::string text = UpdateFileText(source);
  bool damaged = false;
  const double checkMs = MedianMs(21, [&] { damaged |= FindUpdateFileFault(text).has_value(); });
  std::printf("  of which the check of the file's shape and digits: %.3f ms (median of 21)%s\n", checkMs,
              damaged ? " [the sample was refused!]" : "");

  EchoPort port;
  NullPanes panes;
  TBootSession session(image, port, panes);
  std::size_t sink = 0;
  const double dataFlashMs = MedianMs(21, [&] { sink += session.DataFlashListing().size(); });
  const double programMs = MedianMs(21, [&] { sink += session.ProgramListing().size(); });
  std::printf("data-flash listing (512 lines): %.2f ms (median of 21)\n", dataFlashMs);
  std::printf("program listing (600 lines): %.2f ms (median of 21)\n", programMs);

  int writes = 0;
  const double loadMs = MedianMs(11, [&] {
    panes.switchOn = true;
    session.ColorButton4Click();
    port.queue.push_back(0x55);
    while (port.open && !port.queue.empty()) session.SerialPort1RxChar(static_cast<int>(port.queue.size()));
    writes = port.writes;
  });
  std::printf("whole in-process load (%d writes): %.2f ms (median of 11)\n", writes, loadMs);
  std::filesystem::remove(path);
  return sink == 0;
}
