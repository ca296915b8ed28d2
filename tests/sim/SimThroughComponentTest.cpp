// A whole load driven through the real serial component and its threads
// against the simulated device, the way the session drives it: every step
// happens in OnRxChar on the main thread, and the last one queues the
// completion command and closes the port from inside the handler.
#include <gtest/gtest.h>

#include "BootLoaderSim.h"
#include "MainLoop.h"
#include "SampleImage.h"
#include "SerialPort.h"

namespace {

using namespace std::chrono_literals;

class TLockStepDriver {
public:
  TLockStepDriver(TSerialPort& port, const TImage& image) : port_(port), image_(image) {
    port_.OnRxChar = [this](TCustomSerialPort*, int count) { RxChar(count); };
  }
  bool Done() const { return done_; }
  int Frames() const { return next_; }

private:
  void RxChar(int count) {
    std::uint8_t buf[1024];
    while (count > 0) {
      const int n = port_.ReadBytes(buf, std::min(count, 1024));
      if (n <= 0) return;
      count -= n;
      Take(buf, n);
    }
  }

  void Take(const std::uint8_t* bytes, int n) {
    if (stage_ == 0 && bytes[0] == 0x55) {
      const std::uint8_t ack[] = {0x55, 0x33, 0xCC};
      port_.WriteBytes(ack, 3);
      stage_ = 1;
      return;
    }
    if (stage_ == 1) {
      if (bytes[0] == 0xAA) {
        stage_ = 2;
        SendNext();
      }
      return;
    }
    if (stage_ != 2) return;
    response_.insert(response_.end(), bytes, bytes + n);
    if (response_.size() < current_.size() + 1) return;
    std::uint8_t want = 0xAA;
    if (current_.size() > 3) {
      std::uint32_t sum = 0;
      for (std::size_t i = 3; i < current_.size(); ++i) sum += current_[i];
      want = static_cast<std::uint8_t>(sum);
    }
    ASSERT_EQ(response_.size(), current_.size() + 1);
    ASSERT_EQ(response_.back(), want) << "frame " << next_;
    if (next_ == TBootLoaderSim::kTotalFrames) {
      const std::uint8_t done[] = {0x99, 0x33, 0xCC};
      port_.WriteBytes(done, 3);
      port_.Close();
      done_ = true;
      stage_ = 3;
      return;
    }
    SendNext();
  }

  void SendNext() {
    current_ = TBootLoaderSim::ExpectedFrameBytes(image_, next_++);
    response_.clear();
    port_.WriteBytes(current_.data(), static_cast<int>(current_.size()));
  }

  TSerialPort& port_;
  const TImage& image_;
  int stage_ = 0;
  int next_ = 0;
  bool done_ = false;
  std::vector<std::uint8_t> current_;
  std::vector<std::uint8_t> response_;
};

void WholeLoad(TSimOptions options) {
  TMainLoop loop;
  const TImage image = MakeSampleImage(11);
  TBootLoaderSim sim(options);
  sim.Start();
  TSerialPort port;
  port.SetBaudrate(br38400);
  port.Buffers().SetReadTimeout(500);
  port.SetDeviceName(sim.SlavePath());
  TLockStepDriver driver(port, image);
  port.Open();
  port.SetDtrLine(false);
  ASSERT_TRUE(loop.Until([&] { return driver.Done(); }, 60000)) << "stopped after frame " << driver.Frames();
  EXPECT_FALSE(port.IsOpen());
  ASSERT_TRUE(sim.WaitFinished(5s));
  const TSimResult r = sim.Result();
  EXPECT_TRUE(r.Complete()) << r.FirstMismatch;
  ASSERT_TRUE(r.Received);
  EXPECT_EQ(CompareSentRegions(image, *r.Received), "");
}

TEST(SimThroughComponent, WholeLoadWithCompletionQueuedJustBeforeClose) { WholeLoad({}); }

TEST(SimThroughComponent, WholeLoadWithResponsesInRandomPieces) {
  TSimOptions options;
  options.Chunk = 24;
  options.RandomChunks = true;
  WholeLoad(options);
}

}  // namespace
