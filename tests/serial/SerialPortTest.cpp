// The component over a line whose far end the test plays (FarEnd.h), through
// its real threads and the main loop that watches the device: everything that
// is the same on every system.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "FarEnd.h"
#include "PortOnALine.h"
#include "SerialPort.h"
#include "SerialWriter.h"

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A bound on a wait that must end (the alternative being a time-out several
// times longer): generous, so that a loaded machine does not fail it.
constexpr double kMustEndSeconds = 5.0;

class SerialPortLine : public TPortOnALine<TFarEnd> {};

TEST_F(SerialPortLine, OpenFailuresLeaveThePortClosed) {
  TSerialPort missing;
  missing.SetDeviceName("COM250");
  EXPECT_EQ(OpenError(missing), "Specified device not found (COM250).");
  EXPECT_FALSE(missing.IsOpen());
  try {
    missing.Open();
  } catch (const ESerialPortError& e) {
    EXPECT_NE(e.Code(), 0) << "the error number travels beside the text";
  }
  port.Open();
  EXPECT_EQ(OpenError(port), "Can't perform this operation while port is open");
  EXPECT_TRUE(port.IsOpen());
  // None from the failed opens; the open port's runner watches its device
  // and nothing has waited to be sent, so it has none either.
  EXPECT_EQ(TSerialWriter::LiveThreads(), 0);
}

TEST_F(SerialPortLine, RefusedSettersWhileOpenChangeNothing) {
  port.Open();
  const std::string refused = "Can't perform this operation while port is open";
  auto expectRefused = [&](const std::function<void()>& f) {
    try {
      f();
      ADD_FAILURE() << "not refused";
    } catch (const ESerialPortError& e) {
      EXPECT_EQ(e.what(), refused);
    }
  };
  expectRefused([&] { port.SetDeviceName("COM2"); });
  expectRefused([&] { port.SetPortNum(4); });
  expectRefused([&] { port.SetMonitorEvents({}); });
  expectRefused([&] { port.SetDirectWrite(true); });
  expectRefused([&] { port.SetUpdateDCB(false); });
  expectRefused([&] { port.SetBuffers(TSerialBuffers()); });
  expectRefused([&] { port.Buffers().SetReadSize(10); });
  EXPECT_EQ(port.DeviceName(), line.Path());
  EXPECT_EQ(port.PortNum(), 0);
  EXPECT_FALSE(port.MonitorEvents().Empty());
  EXPECT_FALSE(port.DirectWrite());
  EXPECT_TRUE(port.UpdateDCB());
  EXPECT_EQ(port.Buffers().ReadSize(), 4096);
  EXPECT_EQ(port.Buffers().ReadTimeout(), 500);
  port.Buffers().SetReadTimeout(50);  // plain value: accepted while open
  EXPECT_EQ(port.Buffers().ReadTimeout(), 50);
}

TEST_F(SerialPortLine, ReadBytesWaitsUpToReadTimeoutForWhatIsMissing) {
  port.OnRxChar = nullptr;
  port.SetMonitorEvents({});
  port.Buffers().SetReadTimeout(200);
  port.Open();
  std::uint8_t buf[16];
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port.ReadBytes(buf, 16), 0);
  EXPECT_GE(SecondsSince(start), 0.15) << "the wait for the first byte was skipped";
  EXPECT_LT(SecondsSince(start), kMustEndSeconds);

  // Bytes that come while ReadBytes waits are returned once the line is quiet,
  // long before the time-out. The far end acts once the read has begun, and
  // a little later on purpose, so that the bytes come during the wait.
  port.Buffers().SetReadTimeout(30000);
  std::atomic<bool> reading{false};
  auto whileReading = [&](const std::function<void()>& act) {
    return std::thread([&reading, act] {
      while (!reading.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      act();
    });
  };
  std::thread sender = whileReading([&] { line.Send({1, 2, 3}); });
  start = std::chrono::steady_clock::now();
  reading = true;
  EXPECT_EQ(port.ReadBytes(buf, 16), 3);
  EXPECT_LT(SecondsSince(start), kMustEndSeconds) << "the read did not end at the pause after the bytes";
  sender.join();
  EXPECT_EQ(buf[0], 1);
  EXPECT_EQ(buf[2], 3);

  // A hang-up ends the wait at once.
  reading = false;
  std::thread hangUp = whileReading([&] { line.CloseMaster(); });
  start = std::chrono::steady_clock::now();
  reading = true;
  EXPECT_EQ(port.ReadBytes(buf, 16), 0);
  EXPECT_LT(SecondsSince(start), kMustEndSeconds);
  hangUp.join();
}

TEST_F(SerialPortLine, BytesArrivingTogetherRaiseOneEventWithTheirCount) {
  std::vector<int> counts;
  std::vector<std::uint8_t> got;
  port.OnRxChar = [&](TCustomSerialPort* sender, int count) {
    EXPECT_EQ(sender, &port);
    counts.push_back(count);
    std::uint8_t buf[64];
    const int n = port.ReadBytes(buf, count);
    got.insert(got.end(), buf, buf + n);
  };
  port.Open();
  line.Send({1, 2, 3, 4, 5});
  ASSERT_TRUE(loop.Until([&] { return got.size() == 5; }));
  ASSERT_TRUE(loop.Turns());
  EXPECT_EQ(counts, std::vector<int>{5});

  // Three bytes, then two more before the main thread gets to the dispatch.
  counts.clear();
  got.clear();
  line.Send({6, 7, 8});
  ASSERT_TRUE(AwaitQueued(port, 3));
  line.Send({9, 10});
  ASSERT_TRUE(AwaitQueued(port, 5));
  ASSERT_TRUE(loop.Until([&] { return got.size() == 5; }));
  EXPECT_EQ(counts, std::vector<int>{5});
  EXPECT_EQ(got, (std::vector<std::uint8_t>{6, 7, 8, 9, 10}));
}

TEST_F(SerialPortLine, UnreadBytesComeAgainWithNewDataWithoutRepeatingMeanwhile) {
  std::vector<int> counts;
  port.OnRxChar = [&](TCustomSerialPort*, int count) {
    counts.push_back(count);
    std::uint8_t buf[2];
    port.ReadBytes(buf, 2);  // leaves the rest
  };
  port.Open();
  line.Send({1, 2, 3, 4, 5});
  ASSERT_TRUE(loop.Until([&] { return counts.size() == 1; }));
  ASSERT_TRUE(loop.Turns());
  EXPECT_EQ(counts, std::vector<int>{5});  // unread bytes alone raise nothing more
  line.Send({6});
  ASSERT_TRUE(loop.Until([&] { return counts.size() == 2; }));
  EXPECT_EQ(counts[1], 4);  // three left over and the new one
}

TEST_F(SerialPortLine, CountedBytesStayWaitingInOrderUntilReadAndGoWithClose) {
  std::vector<int> counts;
  int take = 2;  // bytes the handler reads; -1: all it is told of
  std::vector<std::uint8_t> got;
  port.OnRxChar = [&](TCustomSerialPort*, int count) {
    counts.push_back(count);
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(count));
    const int n = port.ReadBytes(buf.data(), take < 0 ? count : std::min(take, count));
    got.insert(got.end(), buf.begin(), buf.begin() + std::max(0, n));
  };
  port.Buffers().SetReadTimeout(100);
  port.Open();
  line.Send({1, 2, 3, 4, 5});
  ASSERT_TRUE(loop.Until([&] { return counts.size() == 1; }));
  TComStat stat;
  port.QueryStatus(stat);
  EXPECT_EQ(stat.InQueue, 3u) << "bytes the dispatch counted are not counted as waiting";

  take = -1;
  line.Send({6, 7});
  ASSERT_TRUE(loop.Until([&] { return got.size() == 7; }));
  EXPECT_EQ(counts.back(), 5);
  EXPECT_EQ(got, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7})) << "counted and newer bytes lost their order";

  // What a handler leaves unread is gone with the port.
  take = 0;
  line.Send({8, 9});
  ASSERT_TRUE(loop.Until([&] { return counts.size() == 3; }));
  port.Close();
  port.Open();
  port.QueryStatus(stat);
  EXPECT_EQ(stat.InQueue, 0u);
  std::uint8_t two[2];
  EXPECT_EQ(port.ReadBytes(two, 2), 0);
}

TEST_F(SerialPortLine, BytesArrivingWhileAHandlerPumpsTheLoopFollowItsEnd) {
  std::vector<int> counts;
  int depth = 0;
  int deepest = 0;
  port.OnRxChar = [&](TCustomSerialPort*, int count) {
    deepest = std::max(deepest, ++depth);
    counts.push_back(count);
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(count));
    port.ReadBytes(buf.data(), count);
    if (counts.size() == 1) {
      // Pumps the loop, as a message box does, while two more bytes come.
      line.Send({4, 5});
      EXPECT_TRUE(loop.Until([&] {
        TComStat stat;
        port.QueryStatus(stat);
        return stat.InQueue >= 2;
      }));
      EXPECT_TRUE(loop.Turns());
    }
    --depth;
  };
  port.Open();
  line.Send({1, 2, 3});
  ASSERT_TRUE(loop.Until([&] { return counts.size() == 2; }));
  ASSERT_TRUE(loop.Turns());
  EXPECT_EQ(deepest, 1) << "a batch began inside another";
  EXPECT_EQ(counts, (std::vector<int>{3, 2}));
}

TEST_F(SerialPortLine, ArrivingBytesAreServedByTheMainThreadAlone) {
  int rx = 0;
  port.OnRxChar = [&](TCustomSerialPort*, int count) {
    std::uint8_t buf[16];
    port.ReadBytes(buf, count);
    ++rx;
    const std::uint8_t answer[] = {static_cast<std::uint8_t>(rx)};
    port.WriteBytes(answer, 1);
  };
  port.Open();
  for (int i = 1; i <= 50; ++i) {
    line.Send({static_cast<std::uint8_t>(i)});
    ASSERT_TRUE(loop.Until([&] { return rx == i; }));
    ASSERT_EQ(line.Receive(1, 1000).size(), 1u);
  }
  EXPECT_EQ(TSerialWriter::LiveThreads(), 0) << "a thread beside the main one for exchanges the device takes at once";
}

TEST_F(SerialPortLine, CloseInsideOnRxCharReturnsAndNothingFollows) {
  int events = 0;
  bool closed = false;
  int onClose = 0;
  port.OnClose = [&](TCustomSerialPort*) { ++onClose; };
  port.OnRxChar = [&](TCustomSerialPort*, int count) {
    ++events;
    std::uint8_t buf[64];
    port.ReadBytes(buf, count);
    port.Close();
    closed = true;
  };
  port.Open();
  line.Send({0x55});
  ASSERT_TRUE(loop.Until([&] { return closed; }));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(onClose, 1);
  line.Send({1, 2, 3});
  ASSERT_TRUE(loop.Turns());
  EXPECT_EQ(events, 1);
  EXPECT_FALSE(port.HasWriteThread());
}

TEST_F(SerialPortLine, StoppingDuringAWriteEndsTheWriterWithoutTxEmpty) {
  int txEmpty = 0;
  port.OnTxEmpty = [&](TCustomSerialPort*) { ++txEmpty; };
  port.Buffers().SetWriteTimeout(100);
  port.Open();
  std::vector<std::uint8_t> chunk(2048, 0x33);
  FillUntilTheWriterHolds(port, 0x33, [&] { loop.Turns(1); });
  ASSERT_GT(port.WriterPending(), 0u);  // the device takes no more: a write is in flight
  // The pseudo-terminal may still take what its worker had not moved yet:
  // fill the writer's buffer until a write finds no room.
  port.Buffers().SetWriteTimeout(50);
  bool full = false;
  for (int i = 0; i < 100 && !full; ++i) {
    try {
      port.WriteBytes(chunk.data(), 2048);
    } catch (const ESerialPortError&) {
      full = true;
    }
  }
  ASSERT_TRUE(full);
  // No room comes: the wait for it gives up after WriteTimeout, sleeping, not spinning.
  port.Buffers().SetWriteTimeout(400);
  const double cpuBefore = ProcessCpuSeconds();
  EXPECT_THROW(port.WriteBytes(chunk.data(), 2048), ESerialPortError);
  EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.2) << "the wait for room spins";
  port.Buffers().SetWriteTimeout(100);
  const int before = txEmpty;
  port.Close();  // the drain cannot finish; Close goes on after WriteTimeout
  EXPECT_EQ(TSerialWriter::LiveThreads(), 0);
  EXPECT_GT(port.UnsentAtClose(), 0u) << "dropped bytes counted as sent";
  line.Receive(1 << 20, 200);  // the device reads again: nothing more may happen
  ASSERT_TRUE(loop.Turns());   // the writer was joined: any report of it is queued by now
  EXPECT_EQ(txEmpty, before);
  EXPECT_TRUE(uncaught.empty());
}

TEST_F(SerialPortLine, AReportOfAClosedSessionIsDropped) {
  int txEmpty = 0;
  port.OnTxEmpty = [&](TCustomSerialPort*) { ++txEmpty; };
  port.Open();
  const std::uint8_t b[] = {1, 2, 3};
  port.WriteBytes(b, 3);  // sent at once; its drain report waits for the loop
  EXPECT_EQ(line.Receive(3, 1000), (std::vector<std::uint8_t>{1, 2, 3}));
  port.Close();
  EXPECT_NO_THROW(port.Open());
  EXPECT_TRUE(port.IsOpen());
  ASSERT_TRUE(loop.Turns());
  EXPECT_EQ(txEmpty, 0);  // the report belonged to the closed session
}

TEST_F(SerialPortLine, AutoOpenOpensOnceLoaded) {
  port.Loaded();
  EXPECT_FALSE(port.IsOpen());
  port.SetAutoOpen(true);
  int opened = 0;
  port.OnOpen = [&](TCustomSerialPort*) { ++opened; };
  port.Loaded();
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(opened, 1);
}

// A worker never waits for the main thread: while a handler holds that thread,
// the device floods the port and the writer drains all that waited and
// reports; Close inside the handler then joins the writer and returns after
// its pause, not after the writer's time-out.
TEST_F(SerialPortLine, AHandlerHoldingTheMainThreadHoldsUpNoThreadAndClose) {
  int txEmpty = 0;
  port.OnTxEmpty = [&](TCustomSerialPort*) { ++txEmpty; };
  port.Buffers().SetWriteTimeout(30000);
  port.Open();
  const std::size_t written = FillUntilTheWriterHolds(port, 0x5A);
  ASSERT_TRUE(port.HasWriteThread());

  std::atomic<bool> stop{false};
  std::atomic<std::size_t> received{0};
  std::thread device([&] {  // reads what the loader sends and floods it with bytes
    const std::vector<std::uint8_t> flood(512, 0x55);
    while (!stop) {
      received += line.Receive(1 << 16, 2).size();
      line.TrySend(flood);
    }
  });
  double closeSeconds = -1;
  int threadsAfterClose = -1;
  bool drainedWhileHeld = false;
  port.OnRxChar = [&](TCustomSerialPort*, int) {
    if (closeSeconds >= 0) return;
    // Held until the device has had every byte that waited for the writer.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (received.load() < written && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    drainedWhileHeld = received.load() >= written;
    const auto start = std::chrono::steady_clock::now();
    port.Close();
    closeSeconds = SecondsSince(start);
    threadsAfterClose = TSerialWriter::LiveThreads();
  };
  ASSERT_TRUE(loop.Until([&] { return closeSeconds >= 0; }, 60000));
  stop = true;
  device.join();
  EXPECT_EQ(threadsAfterClose, 0) << "a thread outlived Close";
  EXPECT_LT(closeSeconds, kMustEndSeconds) << "Close waited for a thread";
  EXPECT_TRUE(drainedWhileHeld) << "the writer stopped while the main thread was held";
  EXPECT_EQ(port.UnsentAtClose(), 0u);
}

TEST_F(SerialPortLine, QueuedWritesRespectTheBufferSize) {
  port.Buffers().SetWriteTimeout(200);
  port.Open();
  std::vector<std::uint8_t> big(2049, 0x5A);
  try {
    port.WriteBytes(big.data(), 2049);
    FAIL() << "accepted";
  } catch (const ESerialPortError& e) {
    EXPECT_STREQ(e.what(), "Output buffer is full. Please check comm status.");
  }
  // What is accepted next, and a last byte behind it, come alone: nothing of
  // the refused call was queued before them.
  const std::vector<std::uint8_t> accepted(2048, 0xA5);
  EXPECT_EQ(port.WriteBytes(accepted.data(), 2048), 2048);
  const std::uint8_t last = 0x0F;
  EXPECT_EQ(port.WriteBytes(&last, 1), 1);
  std::vector<std::uint8_t> expected = accepted;
  expected.push_back(last);
  EXPECT_EQ(line.Receive(2049, 10000), expected);
}

TEST_F(SerialPortLine, AFullBufferWaitsForTheDrainThenAccepts) {
  port.Buffers().SetWriteTimeout(30000);
  port.Open();
  // Fill the line until the writer has to hold bytes back; the loop runs
  // between the writes, as the writer reports each drain on the main thread.
  const std::size_t queued = FillUntilTheWriterHolds(port, 0x11, [&] { loop.Turns(1); });
  ASSERT_GT(port.WriterPending(), 0u);  // held back by the device, not by a report
  std::atomic<std::size_t> drained{0};
  std::atomic<bool> writing{false}, readerDone{false};
  std::thread reader([&] {
    // The device reads once the write has begun, a little later on purpose:
    // the write finds the buffer full and has to wait for the drain.
    while (!writing.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    drained = line.Receive(queued + 2048, 30000).size();
    readerDone = true;
  });
  std::vector<std::uint8_t> full(2048, 0x22);
  writing = true;
  EXPECT_EQ(port.WriteBytes(full.data(), 2048), 2048);
  loop.Until([&] { return readerDone.load(); }, 40000);
  reader.join();
  EXPECT_EQ(drained.load(), queued + 2048);
}

TEST_F(SerialPortLine, TxEmptyAfterEachDrainEvenWhenNotMonitored) {
  int txEmpty = 0;
  port.SetMonitorEvents({ceRxChar, ceError});
  port.OnTxEmpty = [&](TCustomSerialPort*) { ++txEmpty; };
  port.Open();
  const std::uint8_t frame[] = {0x11, 0x00, 0x00};
  port.WriteBytes(frame, 3);
  ASSERT_TRUE(loop.Until([&] { return txEmpty == 1; }));
  EXPECT_EQ(line.Receive(3, 1000).size(), 3u);
  port.WriteBytes(frame, 3);
  ASSERT_TRUE(loop.Until([&] { return txEmpty == 2; }));
}

TEST_F(SerialPortLine, CompletionCommandSurvivesAnImmediateClose) {
  port.Open();
  const std::uint8_t done[] = {0x99, 0x33, 0xCC};
  port.WriteBytes(done, 3);
  port.Close();
  EXPECT_EQ(line.Receive(3, 1000), (std::vector<std::uint8_t>{0x99, 0x33, 0xCC}));
  EXPECT_EQ(port.UnsentAtClose(), 0u);
}

TEST_F(SerialPortLine, CloseInsideTheHandlerAfterQueueingKeepsTheBytes) {
  port.OnRxChar = [&](TCustomSerialPort*, int count) {
    std::uint8_t buf[64];
    port.ReadBytes(buf, count);
    const std::uint8_t done[] = {0x99, 0x33, 0xCC};
    port.WriteBytes(done, 3);
    port.Close();
  };
  port.Open();
  line.Send({0x42});
  ASSERT_TRUE(loop.Until([&] { return !port.IsOpen(); }));
  EXPECT_EQ(line.Receive(3, 1000), (std::vector<std::uint8_t>{0x99, 0x33, 0xCC}));
}

TEST_F(SerialPortLine, HangUpIsReportedOnceAndNothingSpins) {
  std::vector<int> errors;
  int rx = 0;
  port.OnError = [&](TCustomSerialPort*, int e) { errors.push_back(e); };
  port.OnRxChar = [&](TCustomSerialPort*, int count) {
    ++rx;
    std::uint8_t buf[64];
    port.ReadBytes(buf, count);
  };
  port.Open();
  line.Send({1});
  ASSERT_TRUE(loop.Until([&] { return rx == 1; }));
  line.CloseMaster();
  ASSERT_TRUE(loop.Until([&] { return !errors.empty(); }));
  // A write after the hang-up fails in the writer; it must not report again.
  const std::uint8_t b[] = {1, 2, 3};
  port.WriteBytes(b, 3);
  const double before = ProcessCpuSeconds();
  loop.For(1000);  // a second to measure over: a loop that spins shows in it
  const double used = ProcessCpuSeconds() - before;
  EXPECT_EQ(errors, std::vector<int>{static_cast<int>(CE_IOE)});
  EXPECT_LT(used, 0.25) << "a thread spins after the hang-up";
  EXPECT_TRUE(uncaught.empty()) << uncaught.front();
  port.Close();
  EXPECT_EQ(TSerialWriter::LiveThreads(), 0);
}

TEST_F(SerialPortLine, HandlerExceptionsGoToTheApplicationAndDeliveryGoesOn) {
  int rx = 0;
  port.OnRxChar = [&](TCustomSerialPort*, int count) {
    ++rx;
    std::uint8_t buf[64];
    port.ReadBytes(buf, count);
    if (rx == 1) throw ESerialPortError("handler failed");
  };
  port.OnOpen = [&](TCustomSerialPort*) { throw std::runtime_error("open handler failed"); };
  port.Open();
  EXPECT_TRUE(port.IsOpen());
  line.Send({1});
  ASSERT_TRUE(loop.Until([&] { return rx == 1; }));
  line.Send({2});
  ASSERT_TRUE(loop.Until([&] { return rx == 2; }));
  EXPECT_EQ(uncaught, (std::vector<std::string>{"open handler failed", "handler failed"}));
}

TEST_F(SerialPortLine, NoWatchWithoutEventsAndDirectWrites) {
  int rx = 0;
  port.OnRxChar = [&](TCustomSerialPort*, int) { ++rx; };
  port.Open();
  EXPECT_EQ(port.EventMask(), EV_ERR | EV_RXCHAR);  // the writer reports its own drain
  port.Close();
  port.SetMonitorEvents({ceTxEmpty});
  port.Open();
  EXPECT_EQ(port.EventMask(), 0u);
  line.Send({1, 2});
  ASSERT_TRUE(AwaitQueued(port, 2));
  ASSERT_TRUE(loop.Turns());
  EXPECT_EQ(rx, 0);
  port.Close();

  int txEmpty = 0;
  port.OnTxEmpty = [&](TCustomSerialPort*) { ++txEmpty; };
  port.SetDirectWrite(true);
  port.Open();
  EXPECT_EQ(port.EventMask(), EV_TXEMPTY);
  const std::uint8_t b[] = {7, 8, 9};
  EXPECT_EQ(port.WriteBytes(b, 3), 3);
  EXPECT_FALSE(port.HasWriteThread());
  EXPECT_EQ(line.Receive(3, 1000), (std::vector<std::uint8_t>{7, 8, 9}));
  ASSERT_TRUE(loop.Until([&] { return txEmpty == 1; }));
}

TEST_F(SerialPortLine, InputTheMaskDoesNotAskForNeverSpins) {
  // Bytes wait, but only line errors are watched.
  port.SetMonitorEvents({ceError});
  port.Open();
  line.Send({1, 2, 3, 4, 5});
  ASSERT_TRUE(AwaitQueued(port, 5));
  const double before = ProcessCpuSeconds();
  loop.For(1000);  // a second to measure over: a loop that spins shows in it
  EXPECT_LT(ProcessCpuSeconds() - before, 0.3) << "the main loop spins on bytes nobody asked about";
}

TEST_F(SerialPortLine, HangUpMetFirstByTheWriterIsReportedOnce) {
  std::vector<int> errors;
  port.OnError = [&](TCustomSerialPort*, int e) { errors.push_back(e); };
  port.OnRxChar = [&](TCustomSerialPort*, int count) {
    std::uint8_t buf[64];
    port.ReadBytes(buf, count);
  };
  port.Open();
  // Bytes wait that the main thread has not looked at yet ...
  line.Send({1});
  // ... the line hangs up, and a write meets it first.
  line.CloseMaster();
  const std::uint8_t b[] = {1, 2, 3};
  port.WriteBytes(b, 3);
  // The write meets the hang-up on this thread and posts its report here; the
  // watch sees the hang-up on this thread too: once the first report has come
  // and the loop has turned a few times, a second one would be here.
  ASSERT_TRUE(loop.Until([&] { return !errors.empty(); }));
  ASSERT_TRUE(loop.Turns());
  EXPECT_EQ(errors, std::vector<int>{static_cast<int>(CE_IOE)});
  EXPECT_TRUE(uncaught.empty());
}

TEST_F(SerialPortLine, WritesNeverWaitForAReportNobodyAskedFor) {
  port.Buffers().SetWriteTimeout(200);
  port.Open();
  std::atomic<bool> stop{false};
  std::atomic<std::size_t> received{0};
  std::thread reader([&] {
    while (!stop.load()) received += line.Receive(1 << 16, 20).size();
  });
  // Back-to-back frames from the main thread, which runs no queued call meanwhile.
  std::vector<std::uint8_t> frame(131, 0x66);
  int refused = 0;
  auto burst = [&] {
    for (int i = 0; i < 40; ++i) {
      try {
        port.WriteBytes(frame.data(), 131);
      } catch (const ESerialPortError&) {
        ++refused;
      }
    }
  };
  burst();
  EXPECT_EQ(refused, 0) << "writes waited for a drain report without an OnTxEmpty handler";

  // With a handler the reports come, and still no write is refused.
  int txEmpty = 0;
  port.OnTxEmpty = [&](TCustomSerialPort*) { ++txEmpty; };
  refused = 0;
  burst();
  EXPECT_EQ(refused, 0) << "writes waited for the main thread while it was waiting for them";
  EXPECT_TRUE(loop.Until([&] { return received.load() == 80u * 131 && txEmpty > 0; }));
  stop = true;
  reader.join();
}

TEST_F(SerialPortLine, CloseAfterAHangUpDropsWhatIsQueued) {
  std::vector<int> errors;
  port.OnError = [&](TCustomSerialPort*, int e) { errors.push_back(e); };
  port.Buffers().SetWriteTimeout(30000);
  port.Open();
  line.CloseMaster();
  ASSERT_TRUE(loop.Until([&] { return !errors.empty(); }));
  const std::uint8_t b[] = {1, 2, 3};
  port.WriteBytes(b, 3);  // can never be sent
  const auto start = std::chrono::steady_clock::now();
  port.Close();
  EXPECT_LT(SecondsSince(start), kMustEndSeconds) << "Close waited for bytes that can never drain";
  EXPECT_EQ(port.UnsentAtClose(), 3u) << "bytes kept from the device counted as sent";
}

TEST_F(SerialPortLine, BytesReadOutsideAHandlerLeaveTheNextArrivalNews) {
  std::vector<int> counts;
  port.OnRxChar = [&](TCustomSerialPort*, int count) { counts.push_back(count); };  // leaves the bytes
  port.Buffers().SetReadTimeout(100);
  port.Open();
  line.Send({1, 2, 3, 4, 5});
  ASSERT_TRUE(loop.Until([&] { return counts.size() == 1; }));
  std::uint8_t buf[16];
  EXPECT_EQ(port.ReadBytes(buf, 16), 5);  // read later, from no handler
  line.Send({6, 7, 8});                   // fewer than were left unread: still new bytes
  EXPECT_TRUE(loop.Until([&] { return counts.size() == 2; }, 2000)) << "the arrival raised no OnRxChar";
  EXPECT_EQ(counts, (std::vector<int>{5, 3}));
}

TEST_F(SerialPortLine, BytesKeepTheirOrderWhoeverHandsThemToTheDevice) {
  port.Open();
  std::vector<std::uint8_t> sent;
  auto write = [&](std::size_t n) {
    std::vector<std::uint8_t> bytes(n);  // each byte tells its place in the stream
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(((sent.size() + i) * 2654435761u) >> 24);
    ASSERT_EQ(port.WriteBytes(bytes.data(), static_cast<int>(n)), static_cast<int>(n));
    sent.insert(sent.end(), bytes.begin(), bytes.end());
  };
  // WriteBytes hands the bytes over itself: no writer thread is needed.
  for (int i = 0; i < 50; ++i) {
    write(131);
    ASSERT_EQ(line.Receive(131, 1000).size(), 131u);
  }
  EXPECT_FALSE(port.HasWriteThread()) << "a write went through the writer thread";
  sent.clear();
  // A device that takes no more: the rest waits in the writer's buffer, and
  // later writes queue behind it.
  for (int i = 0; i < 500 && port.WriterPending() == 0; ++i) write(2000);
  ASSERT_GT(port.WriterPending(), 0u);
  for (int i = 0; i < 5; ++i) write(3);
  std::vector<std::uint8_t> got;
  const std::size_t total = sent.size() + 20 * 17;
  std::thread reader([&, total] { got = line.Receive(total, 10000); });
  for (int i = 0; i < 20; ++i) {
    write(17);
    loop.For(5);  // apart on purpose, while the device reads: the writes meet the writer at different points
  }
  reader.join();
  std::vector<std::uint8_t> rest = line.Receive(sent.size() - got.size(), 5000);
  got.insert(got.end(), rest.begin(), rest.end());
  ASSERT_EQ(got.size(), sent.size());
  EXPECT_TRUE(got == sent) << "bytes overtook each other";
}

// A port given a runner of its own: its events run on that runner's thread
// (never the process-wide one, which this test does not pump), what escapes
// its handlers reaches that runner's hook, and one port held in Close does
// not hold up another port's events: a's Close goes on only once b has had
// its event, which b could not have if it waited for a's thread.
TEST_F(SerialPortLine, EachPortServedByItsOwnMainThread) {
  using Clock = std::chrono::steady_clock;
  struct TServed {
    TFarEnd line;
    std::shared_ptr<TPlainLoopRunner> runner;
    std::atomic<bool> open{false}, stop{false}, closing{false};
    std::atomic<int> events{0};
    std::atomic<Clock::rep> firstEventAt{0}, closedAt{0};
    std::vector<std::string> uncaught;  // touched on the serving thread only
    bool handlersOnServingThread = true;
    std::function<void()> inClose;  // runs inside Close, on the serving thread
    void Serve(bool closeOnSecondEvent) {
      runner = std::make_shared<TPlainLoopRunner>();
      runner->SetUncaughtExceptionHandler([this](std::exception_ptr e) { uncaught.push_back(ExceptionMessage(e)); });
      const auto serving = std::this_thread::get_id();
      TSerialPort served;
      served.SetMainThreadRunner(runner);
      served.SetDeviceName(line.Path());
      served.OnClose = [&](TCustomSerialPort*) {
        if (inClose) inClose();
      };
      served.OnRxChar = [&](TCustomSerialPort*, int count) {
        std::uint8_t buffer[64];
        served.ReadBytes(buffer, std::min(count, 64));
        handlersOnServingThread = handlersOnServingThread && std::this_thread::get_id() == serving;
        if (++events == 1) {
          firstEventAt = Clock::now().time_since_epoch().count();
          throw std::runtime_error("handler of " + line.Path());
        }
        if (!closeOnSecondEvent) return;
        closing = true;
        served.Close();
        closedAt = Clock::now().time_since_epoch().count();
      };
      served.Open();
      open = true;
      runner->ProcessUntil([&] { return stop.load(); }, std::chrono::seconds(20), std::chrono::milliseconds(5));
      served.Close();
      runner->Shutdown();
    }
  };
  auto until = [deadline = Clock::now() + std::chrono::seconds(30)](const std::function<bool()>& done) {
    while (!done() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  };
  TServed a, b;
  a.inClose = [&] { until([&] { return b.events == 1; }); };
  std::thread ta([&] { a.Serve(true); }), tb([&] { b.Serve(false); });
  until([&] { return a.open && b.open; });
  a.line.Send({1});
  until([&] { return a.events == 1; });
  a.line.Send({2});  // a's handler now closes its port, and is held there until b's event
  until([&] { return a.closing.load(); });
  b.line.Send({3});
  until([&] { return b.events == 1 && a.closedAt != 0; });
  a.stop = b.stop = true;
  a.runner->Wake();
  b.runner->Wake();
  ta.join();
  tb.join();
  ASSERT_NE(a.closedAt, 0);
  ASSERT_EQ(b.events, 1);
  EXPECT_LT(b.firstEventAt.load(), a.closedAt.load()) << "b waited for a's Close";
  EXPECT_TRUE(a.handlersOnServingThread && b.handlersOnServingThread);
  EXPECT_EQ(a.uncaught, std::vector<std::string>{"handler of " + a.line.Path()});
  EXPECT_EQ(b.uncaught, std::vector<std::string>{"handler of " + b.line.Path()});
  EXPECT_TRUE(uncaught.empty()) << "nothing reaches the process-wide hook";
}

}  // namespace
