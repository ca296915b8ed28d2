#pragma once
// Test doubles for the session's two links: a port that answers like the
// device's boot loader, and panes that record everything written to them;
// and the rig every session test starts from, a session wired to both.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "BootSession.h"
#include "FrameEncoding.h"
#include "ImageTable.h"
#include "SampleImage.h"

using Bytes = std::vector<std::uint8_t>;

class RecordingPanes : public ISessionPanes {
public:
  std::string portName = "COM1";
  std::string status;
  std::vector<std::string> statusHistory;
  std::vector<std::string> debugLog, listing, trafficLog;
  std::string lastResponse, lastCommand;
  int gaugeMax = 100, gauge = 0;
  std::vector<int> gaugeWrites;
  bool lamp = false, switchOn = false;
  bool showsListingText = true;

  std::string SelectedPortName() const override { return portName; }
  void SetStatusText(const std::string& text) override {
    status = text;
    statusHistory.push_back(text);
  }
  void ClearDebugLog() override { debugLog.clear(); }
  void AppendDebugLog(const std::string& line) override { debugLog.push_back(line); }
  void SetCommandListing(std::vector<std::string> lines) override { listing = std::move(lines); }
  int CommandListingLineCount() const override { return static_cast<int>(listing.size()); }
  bool ShowsCommandListingText() const override { return showsListingText; }
  void AppendTrafficLog(const std::string& line) override { trafficLog.push_back(line); }
  void SetLastResponse(const std::string& text) override { lastResponse = text; }
  void SetLastCommand(const std::string& text) override { lastCommand = text; }
  void SetGaugeMax(int value) override {
    gaugeMax = value;
    gauge = std::min(gauge, gaugeMax);
  }
  // Clamps like the gauge does.
  void SetGaugeProgress(int value) override {
    gauge = std::clamp(value, 0, gaugeMax);
    gaugeWrites.push_back(gauge);
  }
  int GaugeProgress() const override { return gauge; }
  void SetResponseLamp(bool on) override { lamp = on; }
  bool SwitchChecked() const override { return switchOn; }
  void SetSwitchChecked(bool on) override { switchOn = on; }
};

// How the device answers a frame; returns the response bytes (possibly none).
enum class Fault { None, WrongSum, NoAA, ShortResponse, Silence };

class SimulatedDevicePort : public ISessionPort {
public:
  // What the port was asked to do.
  std::string deviceName;
  bool isOpen = false;
  int opens = 0, closes = 0;
  std::vector<bool> dtrWrites;
  std::vector<Bytes> writes;  // one entry per WriteBytes while open
  bool failOpen = false;
  bool lineGoneAtClose = false;  // what was written last never reached the device

  // Device behaviour: the fault applies to the response to frame number faultFrame (0-based,
  // counting every frame after the handshake acknowledgement).
  Fault fault = Fault::None;
  int faultFrame = -1;

  // Bytes sent by the device that have not yet reached the input queue, and the queue itself.
  std::deque<std::uint8_t> inFlight, inQueue;

  void SetDeviceName(const std::string& name) override { deviceName = name; }
  void Open() override {
    if (failOpen) throw std::runtime_error("Specified device not found (" + deviceName + ").");
    if (isOpen) throw std::runtime_error("Can't perform this operation while port is open");
    isOpen = true;
    ++opens;
    inFlight.clear();
    inQueue.clear();
    framesAfterAck_ = 0;
    acked_ = false;
  }
  bool Close() override {
    if (!isOpen) return true;
    isOpen = false;
    ++closes;
    inFlight.clear();
    inQueue.clear();
    return !lineGoneAtClose;
  }
  void SetDtrLine(bool value) override { dtrWrites.push_back(value); }
  int ReadBytes(std::uint8_t* buffer, int count) override {
    if (!isOpen) return 0;
    const int n = std::min<int>(count, static_cast<int>(inQueue.size()));
    for (int i = 0; i < n; ++i) {
      buffer[i] = inQueue.front();
      inQueue.pop_front();
    }
    return n;
  }
  int WriteBytes(const std::uint8_t* buffer, int count) override {
    if (!isOpen) return 0;
    Bytes frame(buffer, buffer + count);
    writes.push_back(frame);
    Answer(frame);
    return count;
  }

  void DeviceSends(const Bytes& bytes) { inFlight.insert(inFlight.end(), bytes.begin(), bytes.end()); }

  // Frames written after the handshake acknowledgement.
  std::vector<Bytes> FramesAfterAck() const {
    std::vector<Bytes> frames;
    bool seenAck = false;
    for (const Bytes& w : writes) {
      if (seenAck) frames.push_back(w);
      if (w == Bytes{0x55, 0x33, 0xCC}) seenAck = true;
    }
    return frames;
  }

private:
  void Answer(const Bytes& frame) {
    if (!acked_) {
      if (frame == Bytes{0x55, 0x33, 0xCC}) {
        acked_ = true;
        DeviceSends({0xAA});
      }
      return;
    }
    if (frame == Bytes{0x99, 0x33, 0xCC}) return;  // completion: no answer awaited
    const int index = framesAfterAck_++;
    const Fault f = index == faultFrame ? fault : Fault::None;
    if (f == Fault::Silence) return;
    Bytes response = frame;  // the device echoes the frame and appends its verdict
    std::uint8_t verdict = frame[0] == 0x11 ? 0xAA : FrameDataSum(frame);
    if (f == Fault::WrongSum || f == Fault::NoAA) verdict = static_cast<std::uint8_t>(verdict + 1);
    response.push_back(verdict);
    if (f == Fault::ShortResponse) response.pop_back(), response.pop_back();
    DeviceSends(response);
  }

  bool acked_ = false;
  int framesAfterAck_ = 0;
};

// Moves the device's bytes into the input queue in chunks and notifies the session
// with the count waiting, as the serial component does, until nothing is left.
class Delivery {
public:
  // chunk 0: everything in flight arrives at once; chunk n > 0: at most n bytes;
  // chunk < 0: random sizes from 1 to -chunk.
  explicit Delivery(int chunk, unsigned seed = 1) : chunk_(chunk), random_(seed) {}

  int Pump(TBootSession& session, SimulatedDevicePort& port, int maxNotifications = 1000000) {
    int notifications = 0;
    while (port.isOpen && (!port.inFlight.empty() || !port.inQueue.empty()) && notifications < maxNotifications) {
      std::size_t n = port.inFlight.size();
      if (chunk_ > 0) n = std::min<std::size_t>(n, static_cast<std::size_t>(chunk_));
      if (chunk_ < 0)
        n = std::min<std::size_t>(
            n, std::uniform_int_distribution<std::size_t>(1, static_cast<std::size_t>(-chunk_))(random_));
      for (std::size_t i = 0; i < n; ++i) {
        port.inQueue.push_back(port.inFlight.front());
        port.inFlight.pop_front();
      }
      if (port.inQueue.empty()) break;
      session.SerialPort1RxChar(static_cast<int>(port.inQueue.size()));
      ++notifications;
    }
    return notifications;
  }

private:
  int chunk_;
  std::mt19937 random_;
};

// A session over the two doubles, created as the window creates it. The
// image is the rig's own: a test may change it while the session runs.
struct Rig {
  TImage image;
  SimulatedDevicePort port;
  RecordingPanes panes;
  TBootSession session{image, port, panes};

  explicit Rig(std::uint32_t seed = 7) : Rig(MakeSampleImage(seed)) {}
  explicit Rig(TImage loaded) : image(std::move(loaded)) { session.FormCreate(); }
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  void SwitchOn() {
    panes.switchOn = true;
    session.ColorButton4Click();
  }
  void SwitchOff() {
    panes.switchOn = false;
    session.ColorButton4Click();
  }
  // The device greets and every byte it sends is delivered as `delivery`
  // says, until nothing is left or the port closes; returns the notifications.
  int Run(Delivery delivery) {
    port.DeviceSends({0x55});
    return delivery.Pump(session, port);
  }
};
