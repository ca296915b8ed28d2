// A whole load through the serial component against the simulated device, in
// lock-step from OnRxChar as the loader runs it: prints the time from Open to
// the completion command, and the frames per second.
//
//   sim_whole_load [--baud N] [--chunk N]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "BootLoaderSim.h"
#include "HexText.h"
#include "MainThreadRunner.h"
#include "SampleImage.h"
#include "SerialPort.h"

namespace {}  // namespace

int main(int argc, char** argv) {
  TSimOptions options;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--baud")) options.Baud = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--chunk")) options.Chunk = std::atoi(argv[i + 1]);
  }
  auto runner = std::make_shared<TPlainLoopRunner>();
  SetMainThreadRunner(runner);
  const TImage image = MakeSampleImage(3);
  std::vector<std::vector<std::uint8_t>> frames;
  for (int k = 0; k < TBootLoaderSim::kTotalFrames; ++k) frames.push_back(TBootLoaderSim::ExpectedFrameBytes(image, k));

  TBootLoaderSim sim(options);
  sim.Start();
  TSerialPort port;
  port.SetBaudrate(br38400);
  port.Buffers().SetReadTimeout(500);
  port.SetDeviceName(sim.SlavePath());
  int stage = 0;
  int next = 0;
  std::size_t gathered = 0;
  bool done = false;
  std::chrono::steady_clock::time_point handshake, finished;
  auto send = [&] {
    gathered = 0;
    const auto& f = frames[static_cast<std::size_t>(next++)];
    port.WriteBytes(f.data(), static_cast<int>(f.size()));
  };
  port.OnRxChar = [&](TCustomSerialPort*, int count) {
    std::uint8_t buf[1024];
    while (count > 0) {
      const int n = port.ReadBytes(buf, std::min(count, 1024));
      if (n <= 0) return;
      count -= n;
      if (stage == 0 && buf[0] == 0x55) {
        const std::uint8_t ack[] = {0x55, 0x33, 0xCC};
        port.WriteBytes(ack, 3);
        stage = 1;
      } else if (stage == 1 && buf[0] == 0xAA) {
        stage = 2;
        handshake = std::chrono::steady_clock::now();
        send();
      } else if (stage == 2) {
        gathered += static_cast<std::size_t>(n);
        if (gathered < frames[static_cast<std::size_t>(next - 1)].size() + 1) continue;
        if (next == TBootLoaderSim::kTotalFrames) {
          const std::uint8_t end[] = {0x99, 0x33, 0xCC};
          port.WriteBytes(end, 3);
          finished = std::chrono::steady_clock::now();
          port.Close();
          done = true;
          stage = 3;
          return;
        }
        send();
      }
    }
  };
  const auto start = std::chrono::steady_clock::now();
  port.Open();
  port.SetDtrLine(false);
  runner->ProcessUntil([&] { return done; }, std::chrono::minutes(10));
  sim.WaitFinished(std::chrono::seconds(5));
  const TSimResult r = sim.Result();
  SetMainThreadRunner(nullptr);
  runner->Shutdown();
  if (!done || !r.Complete()) {
    std::fprintf(stderr, "the load did not complete (%d frames; %s)\n", r.FramesReceived, r.FirstMismatch.c_str());
    return 1;
  }
  const double total = std::chrono::duration<double>(finished - start).count();
  const double frames_s = std::chrono::duration<double>(finished - handshake).count();
  std::printf("whole load through the serial component, %s:\n",
              options.Baud > 0 ? ("device paced at " + std::to_string(options.Baud) + " baud").c_str() : "unpaced");
  std::printf("  open to completion %.3f s (greeting delay included), handshake to completion %.3f s, %.0f frames/s\n",
              total, frames_s, TBootLoaderSim::kTotalFrames / frames_s);
  return 0;
}
