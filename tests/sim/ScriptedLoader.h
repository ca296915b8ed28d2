#pragma once
// A minimal loader written straight on POSIX calls: the far side that the
// simulated device is tested against. It runs the protocol in lock-step with
// a time-out per response and stops at the first thing that is not as it
// should be, saying what and at which frame.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "BootLoaderSim.h"
#include "HexText.h"
#include "ImageTable.h"

struct TScriptOutcome {
  bool Handshake = false;
  int FramesAcknowledged = 0;
  bool CompletionSent = false;
  std::string Stall;            // empty when the whole load went through
  int StallFrame = 0;           // frame number (from 1) the stall happened at
  int MultiPieceResponses = 0;  // responses that needed more than one read
};

class TScriptedLoader {
public:
  TScriptedLoader(std::string path, const TImage& image, int responseTimeoutMs = 1000)
      : path_(std::move(path)), image_(image), timeoutMs_(responseTimeoutMs) {}
  ~TScriptedLoader() { Close(); }

  bool Open() {
    fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    termios t{};
    ::tcgetattr(fd_, &t);
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    ::tcsetattr(fd_, TCSANOW, &t);
    ::tcflush(fd_, TCIFLUSH);
    return true;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // Waits for a notification whose first byte is `first`, within timeoutMs.
  bool AwaitByte(std::uint8_t first, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
      std::vector<std::uint8_t> got;
      if (!ReadSome(got, deadline)) return false;
      if (!got.empty() && got[0] == first) return true;
    }
    return false;
  }

  bool Handshake(int timeoutMs = 3000) {
    if (!AwaitByte(0x55, timeoutMs)) return false;
    const std::uint8_t ack[] = {0x55, 0x33, 0xCC};
    if (!Write(ack, 3)) return false;
    return AwaitByte(0xAA, timeoutMs);
  }

  // The whole load: handshake, 1112 frames, completion. Closes the port at
  // the end unless told to hold it.
  TScriptOutcome Run(bool closeAtEnd = true) {
    TScriptOutcome out;
    if (!Handshake()) {
      out.Stall = "no handshake";
      return out;
    }
    out.Handshake = true;
    for (int k = 0; k < TBootLoaderSim::kTotalFrames; ++k) {
      const std::vector<std::uint8_t> frame = Frame(k);
      if (!Write(frame.data(), frame.size())) {
        out.Stall = "hang-up";
        out.StallFrame = k + 1;
        return out;
      }
      std::vector<std::uint8_t> response;
      int pieces = 0;
      const std::string problem = Response(frame, response, pieces);
      if (pieces > 1) ++out.MultiPieceResponses;
      if (!problem.empty()) {
        out.Stall = problem;
        out.StallFrame = k + 1;
        return out;
      }
      ++out.FramesAcknowledged;
    }
    const std::uint8_t done[] = {0x99, 0x33, 0xCC};
    out.CompletionSent = Write(done, 3);
    if (closeAtEnd) Close();
    return out;
  }

  // What has arrived and is waiting to be read, taken without waiting.
  std::vector<std::uint8_t> TakeWaiting() {
    std::vector<std::uint8_t> got;
    std::uint8_t buf[1024];
    for (ssize_t r; (r = ::read(fd_, buf, sizeof buf)) > 0;) got.insert(got.end(), buf, buf + r);
    return got;
  }

  std::vector<std::uint8_t> Frame(int k) const { return TBootLoaderSim::ExpectedFrameBytes(image_, k); }

  bool Write(const std::uint8_t* data, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
      const ssize_t w = ::write(fd_, data + done, n - done);
      if (w > 0)
        done += static_cast<std::size_t>(w);
      else if (w < 0 && errno == EAGAIN)
        ::usleep(100);
      else if (w < 0 && errno != EINTR)
        return false;
    }
    return true;
  }

private:
  using Clock = std::chrono::steady_clock;

  // One notification's worth of bytes; false on a hang-up or time-out.
  bool ReadSome(std::vector<std::uint8_t>& got, Clock::time_point deadline) {
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      if (p.revents & POLLIN) {
        std::uint8_t buf[1024];
        const ssize_t r = ::read(fd_, buf, sizeof buf);
        if (r > 0) {
          got.assign(buf, buf + r);
          return true;
        }
        if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
          hungUp_ = true;
          return false;
        }
      } else if (p.revents & (POLLHUP | POLLERR)) {
        hungUp_ = true;
        return false;
      }
    }
  }

  std::string Response(const std::vector<std::uint8_t>& frame, std::vector<std::uint8_t>& response, int& pieces) {
    const std::size_t want = frame.size() + 1;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
    while (response.size() < want) {
      std::vector<std::uint8_t> got;
      if (!ReadSome(got, deadline)) {
        if (hungUp_) return "hang-up";
        return response.empty() ? "no response" : "short response";
      }
      ++pieces;
      response.insert(response.end(), got.begin(), got.end());
    }
    if (response.size() != want) return "response too long";
    std::uint8_t expected = 0xAA;
    if (frame.size() > 3) {
      std::uint32_t sum = 0;
      for (std::size_t i = 3; i < frame.size(); ++i) sum += frame[i];
      expected = static_cast<std::uint8_t>(sum);
    }
    if (response.back() != expected) return frame.size() > 3 ? "wrong sum" : "no AA";
    return "";
  }

  std::string path_;
  const TImage& image_;
  int timeoutMs_;
  int fd_ = -1;
  bool hungUp_ = false;
};
