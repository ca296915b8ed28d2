// The bare protocol loop: the loader's side of a whole load on a serial
// device with plain blocking read and write and nothing else (no threads, no
// events, no logs). It is the floor the real loader is measured against.
//
//   bare_loop [--simulate [--baud N]] [DEVICE] FILE.qv
//     --simulate   load into the simulated device engine in this process
//
// Prints "bare loop: 1112 frames acknowledged in S s from the greeting" and
// exits 0 when every block was acknowledged with its sum.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BootLoaderSim.h"
#include "HexText.h"
#include "UpdateFile.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kResponseTimeoutMs = 5000;

bool WriteAll(int fd, const std::uint8_t* data, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, data, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    data += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

// Reads exactly n bytes, each wait bounded by the response time-out.
bool ReadExactly(int fd, std::uint8_t* out, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, kResponseTimeoutMs);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    const ssize_t k = ::read(fd, out + got, n - got);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    got += static_cast<std::size_t>(k);
  }
  return true;
}

bool AwaitByte(int fd, std::uint8_t wanted, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::uint8_t b = 0;
  while (Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (::poll(&p, 1, static_cast<int>(std::max<long>(1, left))) <= 0) continue;
    if (::read(fd, &b, 1) == 1 && b == wanted) return true;
  }
  return false;
}

int Fail(const char* what, int frame) {
  std::fprintf(stderr, "bare loop: %s at frame %d\n", what, frame);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  bool simulate = false;
  TSimOptions options;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--simulate"))
      simulate = true;
    else if (!std::strcmp(argv[i], "--baud") && i + 1 < argc)
      options.Baud = std::atoi(argv[++i]);
    else
      positional.emplace_back(argv[i]);
  }
  if (positional.size() != (simulate ? 1u : 2u)) {
    std::fprintf(stderr, "usage: bare_loop [--simulate [--baud N]] [DEVICE] FILE.qv\n");
    return 2;
  }
  TImage image;
  try {
    if (ReadUpdateFile(positional.back(), image) != TUpdateFileOutcome::Read) {
      std::fprintf(stderr, "bare loop: %s is not an update file\n", positional.back().c_str());
      return 2;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bare loop: %s\n", e.what());
    return 2;
  }
  std::vector<std::vector<std::uint8_t>> frames;
  for (int k = 0; k < TBootLoaderSim::kTotalFrames; ++k) frames.push_back(TBootLoaderSim::ExpectedFrameBytes(image, k));

  std::unique_ptr<TBootLoaderSim> sim;
  std::string device = simulate ? "" : positional.front();
  if (simulate) {
    sim = std::make_unique<TBootLoaderSim>(options);
    sim->Start();
    device = sim->SlavePath();
  }

  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "bare loop: cannot open %s: %s\n", device.c_str(), std::strerror(errno));
    return 3;
  }
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  ::cfsetispeed(&t, B38400);
  ::cfsetospeed(&t, B38400);
  ::tcsetattr(fd, TCSANOW, &t);
  ::tcflush(fd, TCIFLUSH);

  if (!AwaitByte(fd, 0x55, 30000)) return Fail("no greeting", 0);
  const auto greeting = Clock::now();
  const std::uint8_t ack[] = {0x55, 0x33, 0xCC};
  if (!WriteAll(fd, ack, 3)) return Fail("write failed", 0);
  if (!AwaitByte(fd, 0xAA, kResponseTimeoutMs)) return Fail("no 0xAA after the handshake", 0);

  std::uint8_t response[256];
  for (int k = 0; k < TBootLoaderSim::kTotalFrames; ++k) {
    const auto& f = frames[static_cast<std::size_t>(k)];
    if (!WriteAll(fd, f.data(), f.size())) return Fail("write failed", k + 1);
    if (!ReadExactly(fd, response, f.size() + 1)) return Fail("no complete response", k + 1);
    std::uint32_t sum = 0;
    for (std::size_t i = 3; i < f.size(); ++i) sum += f[i];
    const std::uint8_t expected = f.size() == 3 ? 0xAA : static_cast<std::uint8_t>(sum);
    if (response[f.size()] != expected) return Fail("wrong sum", k + 1);
  }
  const auto done = Clock::now();
  const std::uint8_t completion[] = {0x99, 0x33, 0xCC};
  WriteAll(fd, completion, 3);
  if (sim) sim->WaitFinished(std::chrono::seconds(2));
  ::close(fd);
  std::printf("bare loop: %d frames acknowledged in %.3f s from the greeting\n", TBootLoaderSim::kTotalFrames,
              std::chrono::duration<double>(done - greeting).count());
  if (sim && !sim->Result().Complete()) {
    std::fprintf(stderr, "bare loop: the simulated device did not receive the whole image\n");
    return 1;
  }
  return 0;
}
