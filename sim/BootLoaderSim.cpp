#include "BootLoaderSim.h"

#include <cstring>
#include <stdexcept>
#include <vector>

#include "HexText.h"

namespace {
using Clock = std::chrono::steady_clock;
constexpr std::uint8_t kGreeting = 0x55;
constexpr std::uint8_t kReady = 0xAA;
constexpr std::uint8_t kAck[] = {0x55, 0x33, 0xCC};
constexpr std::uint8_t kCompletion[] = {0x99, 0x33, 0xCC};
constexpr int kBlockFrame = 131;
constexpr int kGarbageLength = 40;

std::string Hex(std::uint32_t v, int digits) { return IntToHex(v, digits); }
}  // namespace

bool TSimResult::Complete() const {
  return InOrder && CompletionSeen && FramesReceived == TBootLoaderSim::kTotalFrames && DataFlashBlocks == 512 &&
         PageSelects == 120 && ProgramBlocks == 480;
}

void TBootLoaderSim::ExpectedFrame(int k, std::uint8_t& command, std::uint16_t& address) {
  if (k < kDataFlashFrames) {
    command = 0x66;
    address = static_cast<std::uint16_t>(k * 8);
    return;
  }
  const int j = k - kDataFlashFrames;
  const int page = j / 5;
  const int step = j % 5;
  command = step == 0 ? 0x11 : 0x22;
  address = static_cast<std::uint16_t>(page * 512 + (step == 0 ? 0 : (step - 1) * 128));
}

std::vector<std::uint8_t> TBootLoaderSim::ExpectedFrameBytes(const TImage& image, int k) {
  std::uint8_t cmd;
  std::uint16_t address;
  ExpectedFrame(k, cmd, address);
  std::vector<std::uint8_t> frame = {cmd, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
  if (cmd == 0x11) return frame;
  const TImageTable& table = cmd == 0x66 ? image.StringGrid2 : image.StringGrid1;
  const int offset = cmd == 0x66 ? address * 16 : address;
  for (int i = 0; i < 128; ++i)
    frame.push_back(
        static_cast<std::uint8_t>(HexToInt(table.Cell(ColumnOfOffset(offset + i), RowOfOffset(offset + i)))));
  return frame;
}

TBootLoaderSim::TBootLoaderSim(TSimOptions options) : options_(std::move(options)), random_(options_.Seed | 1) {
  if (options_.Baud > 0) byteTime_ = std::chrono::nanoseconds(10'000'000'000LL / options_.Baud);
}

TBootLoaderSim::~TBootLoaderSim() { Stop(); }

void TBootLoaderSim::Start() {
  line_ = TSimLine::Create(options_.LinkPath);
  slavePath_ = line_->Path();
  auto image = std::make_shared<TImage>();
  {
    std::lock_guard lock(mutex_);
    result_ = TSimResult{};
    result_.Received = image;
  }
  thread_ = std::thread([this] { Run(); });
}

void TBootLoaderSim::Stop() {
  if (thread_.joinable()) {
    line_->Stop();
    thread_.join();
  }
  line_.reset();
  finished_ = true;
}

bool TBootLoaderSim::LineGone() const { return !line_ || line_->HungUp(); }

bool TBootLoaderSim::WaitFinished(std::chrono::milliseconds timeout) const {
  const auto deadline = Clock::now() + timeout;
  while (!finished_.load()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

bool TBootLoaderSim::WaitLoaderClosed(std::chrono::milliseconds timeout) const {
  const auto deadline = Clock::now() + timeout;
  while (loaderOpen_.load()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

bool TBootLoaderSim::CompletionSeen() const {
  std::lock_guard lock(mutex_);
  return result_.CompletionSeen;
}

TSimResult TBootLoaderSim::Result() const {
  std::lock_guard lock(mutex_);
  return result_;
}

bool TBootLoaderSim::SleepUntil(Clock::time_point t) { return line_->SleepUntil(t); }

void TBootLoaderSim::Take(const std::uint8_t* bytes, std::size_t count, std::vector<std::uint8_t>& rx) {
  // The first bytes after an answer start the next frame: time the loader's turnaround.
  if (awaitingNext_ && rx.empty()) {
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - answered_).count();
    std::lock_guard lock(mutex_);
    result_.TurnaroundUs.push_back(us);
  }
  awaitingNext_ = false;
  NoteArrival(count);
  rx.insert(rx.end(), bytes, bytes + count);
}

void TBootLoaderSim::NoteArrival(std::size_t bytes) {
  if (byteTime_.count() == 0) return;
  const auto now = Clock::now();
  if (rxFree_ < now) rxFree_ = now;
  rxFree_ += byteTime_ * static_cast<long>(bytes);
}

void TBootLoaderSim::Send(const std::uint8_t* data, std::size_t length, bool chunked) {
  if (LineGone()) return;
  // Half duplex: the answer starts once the frame has fully arrived.
  if (byteTime_.count() > 0) {
    if (txFree_ < rxFree_) txFree_ = rxFree_;
    if (txFree_ < Clock::now()) txFree_ = Clock::now();
  }
  std::size_t done = 0;
  bool first = true;
  while (done < length) {
    std::size_t piece = length - done;
    if (chunked && options_.Chunk > 0) {
      std::size_t size = static_cast<std::size_t>(options_.Chunk);
      if (options_.RandomChunks) {
        random_ = random_ * 1103515245u + 12345u;
        size = 1 + (random_ >> 16) % static_cast<std::uint32_t>(options_.Chunk);
      }
      piece = std::min(piece, size);
    }
    if (byteTime_.count() > 0) {
      // Bytes become visible once their wire time is over; go in slices of at most 8.
      piece = std::min<std::size_t>(piece, 8);
      txFree_ += byteTime_ * static_cast<long>(piece);
      if (!SleepUntil(txFree_)) return;
    } else if (!first && chunked) {
      // Separate pieces must reach the loader as separate notifications.
      if (!SleepUntil(Clock::now() + std::chrono::microseconds(200))) return;
    }
    first = false;
    if (!line_->Write(data + done, piece)) return;  // the loader is gone
    done += piece;
  }
  rxFree_ = std::max(rxFree_, txFree_);
}

void TBootLoaderSim::Run() {
  for (;;) {
    if (!WaitForLoader()) break;
    {
      std::lock_guard lock(mutex_);
      auto image = std::make_shared<TImage>();
      TSimResult carried;
      carried.Cycles = result_.Cycles + 1;
      carried.FaultInjected = result_.FaultInjected;
      carried.Devices = result_.Devices;
      carried.DevicesComplete = result_.DevicesComplete;
      result_ = std::move(carried);
      for (int row = 1; row < TImageTable::StoredRows; ++row)
        for (int col = 1; col < TImageTable::ColCount; ++col) {
          image->StringGrid1.SetCell(col, row, "FF");
          image->StringGrid2.SetCell(col, row, "FF");
        }
      result_.Received = image;
    }
    if (Greet()) Frames();
    bool again = false, deviceDone = false;
    {
      std::lock_guard lock(mutex_);
      if (result_.CompletionSeen) {
        deviceDone = true;
        ++result_.Devices;
        if (result_.Complete()) ++result_.DevicesComplete;
        again = result_.Devices < options_.Devices && !LineGone();
      } else if (result_.HungUp || LineGone()) {
        again = false;
      } else {
        result_.LoaderClosed = !loaderOpen_.load();
        again = result_.LoaderClosed && options_.Regreet;
      }
    }
    if (deviceDone && options_.OnDeviceDone) options_.OnDeviceDone(Result());
    // The next device greets only after the loader has let go of this one.
    if (again && deviceDone && !WaitLoaderGone()) break;
    if (!again) break;
  }
  finished_ = true;
  // Keep watching until the loader lets go of the port (or the engine stops).
  WaitLoaderGone();
}

bool TBootLoaderSim::WaitLoaderGone() {
  if (loaderOpen_.load() && !LineGone()) {
    waiting_ = TWaiting::LoaderGone;
    const bool gone = line_->WaitLoaderGone();
    waiting_ = TWaiting::Nothing;
    if (!gone) return false;
    loaderOpen_ = false;
  }
  return !LineGone();
}

bool TBootLoaderSim::WaitForLoader() {
  waiting_ = TWaiting::LoaderOpen;
  const bool opened = line_->WaitLoaderOpen();
  waiting_ = TWaiting::Nothing;
  if (!opened) return false;
  loaderOpen_ = true;
  return true;
}

bool TBootLoaderSim::Greet() {
  // Greet only after the loader's Open has set the line up and emptied its input.
  if (!SleepUntil(Clock::now() + std::chrono::milliseconds(options_.GreetDelayMs))) return false;
  std::vector<std::uint8_t> rx;
  auto nextGreeting = Clock::now();
  for (;;) {
    if (Clock::now() >= nextGreeting) {
      {
        // Counted first: a loader that has the byte must find it counted.
        std::lock_guard lock(mutex_);
        ++result_.Greetings;
      }
      Send(&kGreeting, 1, false);
      nextGreeting = Clock::now() + std::chrono::milliseconds(options_.GreetIntervalMs);
    }
    const TSimLine::TWait wait = line_->WaitReadable(nextGreeting);
    if (wait == TSimLine::TWait::Stopped) return false;
    if (wait == TSimLine::TWait::Readable) {
      std::uint8_t buf[512];
      const std::size_t n = line_->Read(buf, sizeof buf);
      if (n > 0) {
        Take(buf, n, rx);
        nextGreeting = Clock::now() + std::chrono::milliseconds(options_.GreetIntervalMs);
        for (std::size_t i = 0; i + 3 <= rx.size(); ++i) {
          if (std::memcmp(rx.data() + i, kAck, 3) == 0) {
            if (byteTime_.count() > 0 && !SleepUntil(rxFree_)) return false;
            // A short pause, so 0xAA starts a notification of its own.
            if (!SleepUntil(Clock::now() + std::chrono::milliseconds(2))) return false;
            {
              // Counted first, as a greeting is: a loader that has 0xAA finds the handshake done.
              std::lock_guard lock(mutex_);
              result_.HandshakeDone = true;
            }
            Send(&kReady, 1, false);
            return true;
          }
        }
        continue;
      }
    }
    if (wait == TSimLine::TWait::LoaderGone) {
      loaderOpen_ = false;
      return false;
    }
  }
}

void TBootLoaderSim::Frames() {
  std::vector<std::uint8_t> rx;
  for (;;) {
    const TSimLine::TWait wait = line_->WaitReadable(Clock::time_point::max());
    if (wait == TSimLine::TWait::Stopped) return;
    if (wait == TSimLine::TWait::Readable) {
      std::uint8_t buf[4096];
      const std::size_t n = line_->Read(buf, sizeof buf);
      if (n > 0) {
        Take(buf, n, rx);
        std::size_t at = 0;
        while (at < rx.size()) {
          const std::uint8_t cmd = rx[at];
          int need = 1;
          if (cmd == 0x66 || cmd == 0x22)
            need = kBlockFrame;
          else if (cmd == 0x11 || cmd == 0x99)
            need = 3;
          if (rx.size() - at < static_cast<std::size_t>(need)) break;
          if (need == 1) {
            std::lock_guard lock(mutex_);
            if (result_.InOrder) {
              result_.InOrder = false;
              result_.FirstMismatch =
                  "unexpected byte " + Hex(cmd, 2) + " after frame " + std::to_string(result_.FramesReceived);
            }
          } else {
            HandleFrame(rx.data() + at, need);
          }
          at += static_cast<std::size_t>(need);
          if (LineGone()) return;  // hung up
          if (CompletionSeen()) return;
        }
        rx.erase(rx.begin(), rx.begin() + static_cast<long>(at));
        continue;
      }
    }
    if (wait == TSimLine::TWait::LoaderGone) {
      loaderOpen_ = false;
      return;
    }
  }
}

void TBootLoaderSim::HandleFrame(const std::uint8_t* frame, int length) {
  const std::uint8_t cmd = frame[0];
  const std::uint16_t address = static_cast<std::uint16_t>(frame[1] << 8 | frame[2]);
  if (cmd == 0x99) {
    std::lock_guard lock(mutex_);
    if (std::memcmp(frame, kCompletion, 3) == 0) {
      result_.CompletionSeen = true;
      result_.CompletionAt = Clock::now();
      if (result_.FramesReceived != kTotalFrames && result_.InOrder) {
        result_.InOrder = false;
        result_.FirstMismatch = "completion after " + std::to_string(result_.FramesReceived) + " frames";
      }
    } else if (result_.InOrder) {
      result_.InOrder = false;
      result_.FirstMismatch = "malformed completion command";
    }
    return;
  }

  int frameNumber;
  bool faultHere = false;
  {
    std::lock_guard lock(mutex_);
    frameNumber = ++result_.FramesReceived;
    if (cmd == 0x66) ++result_.DataFlashBlocks;
    if (cmd == 0x11) ++result_.PageSelects;
    if (cmd == 0x22) ++result_.ProgramBlocks;
    std::uint8_t wantCmd = 0;
    std::uint16_t wantAddress = 0;
    if (frameNumber <= kTotalFrames) ExpectedFrame(frameNumber - 1, wantCmd, wantAddress);
    if (result_.InOrder && (cmd != wantCmd || address != wantAddress)) {
      result_.InOrder = false;
      result_.FirstMismatch =
          "frame " + std::to_string(frameNumber) + ": expected " +
          (frameNumber <= kTotalFrames ? Hex(wantCmd, 2) + " " + Hex(wantAddress, 4) : "completion") + ", received " +
          Hex(cmd, 2) + " " + Hex(address, 4);
    }
    if (length == kBlockFrame) {
      TImageTable& table = cmd == 0x66 ? result_.Received->StringGrid2 : result_.Received->StringGrid1;
      const int offset = cmd == 0x66 ? address * 16 : address;
      for (int i = 0; i < 128; ++i) {
        const int at = offset + i;
        if (RowOfOffset(at) <= TImageTable::TailRow)
          table.SetCell(ColumnOfOffset(at), RowOfOffset(at), Hex(frame[3 + i], 2));
      }
    }
    if (!faultDone_ && options_.Fault != TSimFault::None && frameNumber >= options_.FaultFrame) {
      switch (options_.Fault) {
        case TSimFault::WrongSum: faultHere = length == kBlockFrame; break;
        case TSimFault::MissingAA: faultHere = cmd == 0x11; break;
        default: faultHere = true; break;
      }
      if (faultHere) {
        faultDone_ = true;
        result_.FaultInjected = true;
      }
    }
  }

  if (faultHere && options_.Fault == TSimFault::HangUp) {
    std::lock_guard lock(mutex_);
    result_.HungUp = true;
    line_->HangUp();
    loaderOpen_ = false;
    return;
  }
  if (faultHere && options_.Fault == TSimFault::Silence) return;

  std::vector<std::uint8_t> response(frame, frame + length);
  std::uint8_t last = 0xAA;
  if (length == kBlockFrame) {
    std::uint32_t sum = 0;
    for (int i = 3; i < length; ++i) sum += frame[i];
    last = static_cast<std::uint8_t>(sum);
  }
  if (faultHere && (options_.Fault == TSimFault::WrongSum || options_.Fault == TSimFault::MissingAA))
    last = static_cast<std::uint8_t>(last ^ 0x5A);
  response.push_back(last);
  if (faultHere && options_.Fault == TSimFault::Garbage) {
    response.assign(kGarbageLength, 0);
    for (auto& b : response) {
      random_ = random_ * 1103515245u + 12345u;
      b = static_cast<std::uint8_t>(random_ >> 16);
    }
  }
  Send(response.data(), response.size(), true);
  answered_ = Clock::now();
  awaitingNext_ = true;
  if (faultHere && options_.Fault == TSimFault::HangUpAfterAnswer) {
    // Gone at once: only what has already arrived is taken.
    std::uint8_t rest[16];
    if (line_->Read(rest, sizeof rest) >= 3 && std::memcmp(rest, kCompletion, 3) == 0) HandleFrame(rest, 3);
    std::lock_guard lock(mutex_);
    result_.HungUp = true;
    line_->HangUp();
    loaderOpen_ = false;
  }
}

std::string CompareSentRegions(const TImage& expected, const TImage& received) {
  struct TRegion {
    const char* name;
    const TImageTable& want;
    const TImageTable& got;
    int rows;
  };
  const TRegion regions[] = {{"data flash", expected.StringGrid2, received.StringGrid2, 4096},
                             {"program memory", expected.StringGrid1, received.StringGrid1, 3840}};
  for (const TRegion& r : regions)
    for (int row = 1; row <= r.rows; ++row)
      for (int col = 1; col < TImageTable::ColCount; ++col) {
        std::string want = r.want.Cell(col, row);
        for (auto& c : want) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const std::string& got = r.got.Cell(col, row);
        if (want != got)
          return std::string(r.name) + " row " + std::to_string(row) + " column " + std::to_string(col) +
                 ": expected " + want + ", received " + got;
      }
  return "";
}
