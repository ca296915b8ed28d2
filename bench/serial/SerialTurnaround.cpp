// Turnaround of the serial component: a far end on the pseudo-terminal's
// master sends a 132-byte response; the component's OnRxChar gathers it on
// the main thread and queues a 131-byte frame, as the loader does. Measured
// at the far end from the write of the response's last byte to the arrival
// of the frame's first byte.
//
//   serial_turnaround [--rounds N] [--busy N]
//     --busy N   keep N extra threads spinning meanwhile (a loaded machine)
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "MainThreadRunner.h"
#include "SerialPort.h"

namespace {
using Clock = std::chrono::steady_clock;

int OpenMaster(std::string& path) {
  const int m = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (m < 0 || ::grantpt(m) != 0 || ::unlockpt(m) != 0 || ::ptsname_r(m, name, sizeof name) != 0) return -1;
  termios t{};
  ::tcgetattr(m, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(m, TCSANOW, &t);
  path = name;
  return m;
}

bool ReadExactly(int fd, std::uint8_t* out, std::size_t n, Clock::time_point* firstByte) {
  std::size_t got = 0;
  while (got < n) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return false;
    const ssize_t r = ::read(fd, out + got, n - got);
    if (r <= 0) return false;
    if (got == 0 && firstByte) *firstByte = Clock::now();
    got += static_cast<std::size_t>(r);
  }
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  int rounds = 2000;
  int busy = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--rounds")) rounds = std::max(1, std::atoi(argv[i + 1]));
    if (!std::strcmp(argv[i], "--busy")) busy = std::max(0, std::atoi(argv[i + 1]));
  }
  auto runner = std::make_shared<TPlainLoopRunner>();
  SetMainThreadRunner(runner);

  std::string path;
  const int master = OpenMaster(path);
  if (master < 0) {
    std::fprintf(stderr, "no pseudo-terminal\n");
    return 1;
  }
  TSerialPort port;
  port.SetDeviceName(path);
  port.SetBaudrate(br38400);
  port.Buffers().SetReadTimeout(500);
  std::vector<std::uint8_t> frame(131);
  for (int i = 0; i < 131; ++i) frame[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 7);
  std::size_t gathered = 0;
  port.OnRxChar = [&](TCustomSerialPort*, int count) {
    std::uint8_t buf[1024];
    while (count > 0) {
      const int n = port.ReadBytes(buf, std::min(count, 1024));
      if (n <= 0) break;
      count -= n;
      gathered += static_cast<std::size_t>(n);
    }
    if (gathered >= 132) {
      gathered = 0;
      port.WriteBytes(frame.data(), 131);
    }
  };
  port.Open();

  std::atomic<bool> stopBusy{false};
  std::vector<std::thread> spinners;
  for (int i = 0; i < busy; ++i)
    spinners.emplace_back([&] {
      volatile std::uint64_t x = 0;
      while (!stopBusy.load(std::memory_order_relaxed)) x = x + 1;
    });

  std::vector<double> micros;
  micros.reserve(static_cast<std::size_t>(rounds));
  std::atomic<bool> farEndDone{false};
  bool ok = true;
  std::thread farEnd([&] {
    std::vector<std::uint8_t> response(132, 0x5A);
    std::vector<std::uint8_t> in(131);
    for (int r = 0; r < rounds + 20 && ok; ++r) {
      if (::write(master, response.data(), response.size()) != 132) {
        ok = false;
        break;
      }
      const auto lastIn = Clock::now();
      Clock::time_point firstOut;
      if (!ReadExactly(master, in.data(), in.size(), &firstOut)) {
        ok = false;
        break;
      }
      if (r >= 20)  // the first rounds warm caches and threads up
        micros.push_back(std::chrono::duration<double, std::micro>(firstOut - lastIn).count());
    }
    farEndDone = true;
    runner->Wake();
  });
  runner->ProcessUntil([&] { return farEndDone.load(); }, std::chrono::minutes(5));
  farEnd.join();
  stopBusy = true;
  for (auto& t : spinners) t.join();
  port.Close();
  ::close(master);
  SetMainThreadRunner(nullptr);
  runner->Shutdown();
  if (!ok || micros.empty()) {
    std::fprintf(stderr, "the exchange broke off after %zu rounds\n", micros.size());
    return 1;
  }
  std::sort(micros.begin(), micros.end());
  auto pct = [&](double p) { return micros[std::min(micros.size() - 1, static_cast<std::size_t>(p * micros.size()))]; };
  double sum = 0;
  for (double v : micros) sum += v;
  std::printf("serial turnaround over a pseudo-terminal, %zu round trips%s:\n", micros.size(),
              busy ? (" with " + std::to_string(busy) + " busy threads").c_str() : "");
  std::printf("  median %.1f us, 99th percentile %.1f us, mean %.1f us, max %.1f us\n", pct(0.5), pct(0.99),
              sum / static_cast<double>(micros.size()), micros.back());
  return 0;
}
