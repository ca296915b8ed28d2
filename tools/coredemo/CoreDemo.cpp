// Makes a sample update file, reads it back and loads it into an in-process
// simulated boot loader, printing what the window's panes would show.
#include <algorithm>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "BootSession.h"
#include "FrameEncoding.h"
#include "SampleImage.h"
#include "UpdateFile.h"

namespace {

class PrintingPanes : public ISessionPanes {
public:
  bool switchOn = false;
  int gauge = 0, gaugeMax = 100, listing = 0;
  std::string SelectedPortName() const override { return "COM1"; }
  void SetStatusText(const std::string& text) override { std::printf("status: %s\n", text.c_str()); }
  void ClearDebugLog() override {}
  void AppendDebugLog(const std::string&) override {}
  void SetCommandListing(std::vector<std::string> lines) override {
    listing = static_cast<int>(lines.size());
    std::printf("command listing: %d lines\n", listing);
  }
  int CommandListingLineCount() const override { return listing; }
  void AppendTrafficLog(const std::string&) override {}
  void SetLastResponse(const std::string&) override {}
  void SetLastCommand(const std::string& text) override { last = text; }
  void SetGaugeMax(int value) override { gaugeMax = value; }
  void SetGaugeProgress(int value) override { gauge = std::clamp(value, 0, gaugeMax); }
  int GaugeProgress() const override { return gauge; }
  void SetResponseLamp(bool) override {}
  bool SwitchChecked() const override { return switchOn; }
  void SetSwitchChecked(bool on) override { switchOn = on; }
  std::string last;
};

class InstantBootLoader : public ISessionPort {
public:
  std::deque<std::uint8_t> queue;
  bool open = false, acked = false;
  int frames = 0;
  void SetDeviceName(const std::string&) override {}
  void Open() override { open = true; }
  void Close() override { open = false; }
  void SetDtrLine(bool) override {}
  int ReadBytes(std::uint8_t* buffer, int count) override {
    const int n = std::min<int>(count, static_cast<int>(queue.size()));
    std::copy_n(queue.begin(), n, buffer);
    queue.erase(queue.begin(), queue.begin() + n);
    return n;
  }
  int WriteBytes(const std::uint8_t* buffer, int count) override {
    const std::vector<std::uint8_t> frame(buffer, buffer + count);
    if (!acked) {
      acked = true;
      queue.push_back(0xAA);
    } else if (frame[0] != 0x99) {
      ++frames;
      queue.insert(queue.end(), frame.begin(), frame.end());
      queue.push_back(frame[0] == 0x11 ? 0xAA : FrameDataSum(frame));
    }
    return count;
  }
};

}  // namespace

int main() {
  const std::string path = WriteUpdateFile((std::filesystem::temp_directory_path() / "sample").string(),
                                           MakeSampleImage(1));
  TImage image;
  image.SetupHeaders();
  if (ReadUpdateFile(path, image) != TUpdateFileOutcome::Read) return 1;
  std::printf("read %s\n", path.c_str());

  InstantBootLoader port;
  PrintingPanes panes;
  TBootSession session(image, port, panes);
  session.FormCreate();
  panes.switchOn = true;
  session.ColorButton4Click();
  port.queue.push_back(0x55);
  while (port.open && !port.queue.empty()) session.SerialPort1RxChar(static_cast<int>(port.queue.size()));
  std::printf("frames acknowledged: %d, last command: %s, switch %s, port %s\n", port.frames, panes.last.c_str(),
              panes.switchOn ? "on" : "off", port.open ? "open" : "closed");
  return port.frames == 1112 && !port.open ? 0 : 1;
}
