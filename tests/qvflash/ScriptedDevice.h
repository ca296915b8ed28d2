#pragma once
// A device played by hand on a pseudo-terminal (Linux).
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "PtyTestSupport.h"

// A device played by hand on a pseudo-terminal, in a thread of its own: the
// script starts once the loader has opened the port. The loader empties its
// input as it opens, so what a device says first it says again until it is
// answered (Greet), as a real device greets until answered.
class TScriptedDevice {
public:
  explicit TScriptedDevice(std::function<void(TPty&)> script) {
    // A slave opened and closed once makes the master report a hang-up until the loader opens it.
    const int slave = ::open(pty_.Path().c_str(), O_RDWR | O_NOCTTY);
    if (slave >= 0) ::close(slave);
    thread_ = std::thread([this, script = std::move(script)] {
      for (int i = 0; i < 2000; ++i) {
        pollfd p{pty_.Master(), 0, 0};
        if (::poll(&p, 1, 0) == 0 || !(p.revents & POLLHUP)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      script(pty_);
    });
  }
  ~TScriptedDevice() { thread_.join(); }
  const std::string& Path() const { return pty_.Path(); }
  // Sends `greeting` every 250 ms until the loader's acknowledgement has
  // come; true when it came, whole and right.
  static bool Greet(TPty& pty, const std::vector<std::uint8_t>& greeting) {
    std::vector<std::uint8_t> answer;
    for (int i = 0; i < 40 && answer.empty(); ++i) {
      pty.Send(greeting);
      answer = pty.Receive(1, 250);
    }
    if (answer.empty()) return false;
    const std::vector<std::uint8_t> rest = pty.Receive(2, 5000);
    answer.insert(answer.end(), rest.begin(), rest.end());
    return answer == std::vector<std::uint8_t>{0x55, 0x33, 0xCC};
  }
  // Greeting, acknowledgement, 0xAA.
  static bool Handshake(TPty& pty) {
    if (!Greet(pty, {0x55})) return false;
    // A moment apart on purpose: 0xAA comes as news of its own, as from a device.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    pty.Send({0xAA});
    return true;
  }
  // Takes a block frame and answers it as a device does.
  static bool AnswerBlock(TPty& pty) {
    std::vector<std::uint8_t> frame = pty.Receive(131, 5000);
    if (frame.size() != 131) return false;
    std::uint32_t sum = 0;
    for (std::size_t i = 3; i < frame.size(); ++i) sum += frame[i];
    frame.push_back(static_cast<std::uint8_t>(sum));
    pty.Send(frame);
    return true;
  }

private:
  TPty pty_;
  std::thread thread_;
};
