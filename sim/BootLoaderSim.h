#pragma once
// A simulated device boot loader on a pseudo-terminal. The engine creates the
// pair, plays the device on the master in a thread of its own and records
// everything the loader sends; the loader opens SlavePath() like any port.
//
// The device speaks first: once the loader has opened the port it greets with
// 0x55 (again every GreetIntervalMs until answered), takes 0x55 0x33 0xCC,
// sends 0xAA on its own, then answers every frame with the frame's bytes and
// one more: the low 8 bits of the block's data sum after a block (0x66,
// 0x22), 0xAA after a page select (0x11). 0x99 0x33 0xCC completes.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ImageTable.h"
#include "SimLine.h"

enum class TSimFault {
  None,
  WrongSum,   // the first block frame from FaultFrame on gets a wrong sum
  MissingAA,  // the first page select from FaultFrame on is not acknowledged
  Garbage,    // frame FaultFrame gets 40 meaningless bytes instead of its response
  Silence,    // frame FaultFrame gets no response
  HangUp,     // the device hangs up after receiving frame FaultFrame
  // The device answers frame FaultFrame and hangs up at once, taking only
  // what has already arrived (the completion command, when the loader was quick).
  HangUpAfterAnswer,
};

struct TSimResult;

struct TSimOptions {
  int Baud = 0;               // >0: bytes take their wire time (10 bits) in both directions
  int Chunk = 0;              // >0: responses go out in pieces of this many bytes
  bool RandomChunks = false;  // pieces of 1..Chunk bytes, chosen at random
  std::uint32_t Seed = 1;     // for random pieces and garbage
  TSimFault Fault = TSimFault::None;
  int FaultFrame = 1;    // frames counted from 1 over the whole load
  bool Regreet = false;  // after the loader closes without completing, greet the next opening
  int Devices = 1;       // devices played in a row: after a completion the next one greets
                         // once the loader has closed the port and opened it again
  // Called on the device thread when a device has received the completion
  // command, with that device's result (the image is its own).
  std::function<void(const TSimResult&)> OnDeviceDone;
  int GreetDelayMs = 20;      // pause between the loader's opening and the first greeting
  int GreetIntervalMs = 250;  // greet again after this much silence
  std::string LinkPath;       // also make a symbolic link to the device here
};

struct TSimResult {
  int Cycles = 0;                                        // greeting cycles started (loader openings)
  int Devices = 0;                                       // devices that received the completion command (all cycles)
  int DevicesComplete = 0;                               // of those, the ones that received every block in order
  int Greetings = 0;                                     // 0x55 greetings sent in the last cycle
  bool HandshakeDone = false;                            // 0x55 0x33 0xCC came; 0xAA is sent (marked first)
  int FramesReceived = 0;                                // frames of the last cycle, completion not counted
  int DataFlashBlocks = 0;                               // 0x66 frames
  int PageSelects = 0;                                   // 0x11 frames
  int ProgramBlocks = 0;                                 // 0x22 frames
  bool InOrder = true;                                   // every frame so far was the one expected next
  std::string FirstMismatch;                             // what broke the order first, if anything did
  bool CompletionSeen = false;                           // 0x99 0x33 0xCC came
  std::chrono::steady_clock::time_point CompletionAt{};  // when it came
  bool FaultInjected = false;
  bool LoaderClosed = false;  // the loader closed the port (and no new cycle began)
  bool HungUp = false;        // the device hung up (fault)
  // Both regions as received: StringGrid1 program memory, StringGrid2 data
  // flash; cells that no frame wrote read "FF", as erased flash does.
  std::shared_ptr<TImage> Received;
  // For each frame after the first: microseconds from the moment the device's
  // answer to the previous frame was written to the moment the first bytes of
  // this frame were read (the loader's turnaround as the device sees it).
  std::vector<double> TurnaroundUs;

  // Every block of both regions arrived in order, then the completion command.
  bool Complete() const;
};

class TBootLoaderSim {
public:
  static constexpr int kDataFlashFrames = 512;
  static constexpr int kProgramFrames = 600;  // 120 pages x (select + 4 blocks)
  static constexpr int kTotalFrames = kDataFlashFrames + kProgramFrames;

  explicit TBootLoaderSim(TSimOptions options = {});
  ~TBootLoaderSim();
  TBootLoaderSim(const TBootLoaderSim&) = delete;
  TBootLoaderSim& operator=(const TBootLoaderSim&) = delete;

  // Creates the line (a pseudo-terminal, a named pipe on Windows; and the
  // link) and starts the device thread. Throws std::runtime_error when the
  // line or the link cannot be made.
  void Start();
  // Ends the device thread and closes the line (the loader then sees a hang-up).
  void Stop();
  const std::string& SlavePath() const { return slavePath_; }

  // True once the session is over: completion seen, the device hung up, or the
  // loader closed without a new cycle to wait for.
  bool Finished() const { return finished_.load(); }
  bool WaitFinished(std::chrono::milliseconds timeout) const;
  // Waits until the loader has closed the port (or the time is up).
  bool WaitLoaderClosed(std::chrono::milliseconds timeout) const;
  // What the device thread is waiting for now: a loader to open the line,
  // or the loader to let go of it (after a device, or once finished). Tests
  // wait for these points rather than for a time.
  enum class TWaiting { Nothing, LoaderOpen, LoaderGone };
  TWaiting Waiting() const { return waiting_.load(); }
  // A copy of the result so far. The image is shared, not copied: read its
  // cells once Finished() (the device thread writes them until then).
  TSimResult Result() const;

  // The frame expected at index k (0-based; 0..kTotalFrames-1): command and address.
  static void ExpectedFrame(int k, std::uint8_t& command, std::uint16_t& address);
  // The whole frame a loader sends at index k for `image`: command, address
  // and, for a block, its 128 data bytes.
  static std::vector<std::uint8_t> ExpectedFrameBytes(const TImage& image, int k);

private:
  void Run();
  bool WaitForLoader();
  bool WaitLoaderGone();
  bool Greet();
  void Frames();
  void HandleFrame(const std::uint8_t* frame, int length);
  void Send(const std::uint8_t* data, std::size_t length, bool chunked);
  bool SleepUntil(std::chrono::steady_clock::time_point t);
  void NoteArrival(std::size_t bytes);
  // Adds bytes read from the loader to `rx`, with their timing.
  void Take(const std::uint8_t* bytes, std::size_t count, std::vector<std::uint8_t>& rx);
  bool LineGone() const;        // hung up (fault) or stopped
  bool CompletionSeen() const;  // without copying the whole result

  TSimOptions options_;
  std::unique_ptr<TSimLine> line_;
  std::string slavePath_;
  std::thread thread_;
  std::atomic<bool> finished_{false};
  std::atomic<bool> loaderOpen_{false};
  std::atomic<TWaiting> waiting_{TWaiting::Nothing};
  mutable std::mutex mutex_;
  TSimResult result_;
  std::uint32_t random_;
  bool faultDone_ = false;
  std::chrono::nanoseconds byteTime_{0};
  std::chrono::steady_clock::time_point rxFree_{}, txFree_{};
  std::chrono::steady_clock::time_point answered_{};
  bool awaitingNext_ = false;  // an answer went out; the next frame's first bytes are timed
};

// The first cell where `received` differs from `expected` over the rows the
// loader sends (data flash rows 1..4096, program memory rows 1..3840), as
// "program memory row R column C: expected XX, received YY"; empty when equal.
std::string CompareSentRegions(const TImage& expected, const TImage& received);
