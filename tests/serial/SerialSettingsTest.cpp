// Settings objects, property rules that need no device, the events and the
// write buffer, and the plain loop runner: the same on every system.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "SerialPort.h"
#include "SerialSystem.h"
#include "SerialWriter.h"

namespace {

struct TChangeCounter {
  int count = 0;
  TSerialPersistent* last = nullptr;
  TSerialPersistent::TChangeHandler Handler() {
    return [this](TSerialPersistent* s) {
      ++count;
      last = s;
    };
  }
};

TEST(SerialSettings, EventCharsNotifyOnEveryWriteAndKeepTheirOwnValues) {
  TSerialEventChars chars;
  TChangeCounter changes;
  chars.SetChangeHandler(changes.Handler());
  EXPECT_EQ(chars.XonChar(), 17);
  EXPECT_EQ(chars.XoffChar(), 19);
  chars.SetXonChar(17);  // unchanged value still notifies
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(changes.last, &chars);
  chars.SetEventChar(7);
  chars.SetEofChar(26);
  EXPECT_EQ(chars.EofChar(), 26);
  EXPECT_EQ(chars.EventChar(), 7);
  EXPECT_EQ(chars.ErrorChar(), 0);
  EXPECT_EQ(changes.count, 3);
}

TEST(SerialSettings, FlowControlNotifiesOnlyOnChangeAndAssignNotifiesOnce) {
  TSerialFlowControl a;
  TChangeCounter changes;
  a.SetChangeHandler(changes.Handler());
  a.SetOutCtsFlow(false);
  EXPECT_EQ(changes.count, 0);
  a.SetControlDtr(dtrEnabled);
  EXPECT_EQ(changes.count, 1);

  TSerialFlowControl b;
  b.SetOutCtsFlow(true);
  b.SetOutDsrFlow(true);
  b.SetControlDtr(dtrHandshake);
  b.SetControlRts(rtsToggle);
  b.SetXonXoffOut(true);
  b.SetXonXoffIn(true);
  b.SetDsrSensitivity(true);
  b.SetTxContinueOnXoff(true);
  int seenAtNotify = -1;
  a.SetChangeHandler([&](TSerialPersistent*) {
    ++changes.count;
    // Every value has been copied by the time the one notification comes.
    seenAtNotify = a.OutCtsFlow() + a.OutDsrFlow() + (a.ControlDtr() == dtrHandshake) + (a.ControlRts() == rtsToggle) +
                   a.XonXoffOut() + a.XonXoffIn() + a.DsrSensitivity() + a.TxContinueOnXoff();
  });
  changes.count = 0;
  a.Assign(b);
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(seenAtNotify, 8);
  EXPECT_EQ(a.UpdateCount(), 0);
}

TEST(SerialSettings, HoldAndReleaseGroupNotifications) {
  TSerialEventChars chars;
  TChangeCounter changes;
  chars.SetChangeHandler(changes.Handler());
  chars.HoldChanges();
  chars.HoldChanges();
  chars.SetXonChar(1);
  chars.SetXoffChar(2);
  EXPECT_EQ(changes.count, 0);
  chars.ReleaseChanges();
  EXPECT_EQ(changes.count, 0);  // still held once
  chars.ReleaseChanges();
  EXPECT_EQ(changes.count, 1);
  chars.ReleaseChanges();  // never goes below zero
  EXPECT_EQ(chars.UpdateCount(), 0);
  EXPECT_EQ(changes.count, 2);
}

TEST(SerialSettings, AssignFromAnotherClassRaisesAndChangesNothing) {
  TSerialFlowControl flow;
  TSerialEventChars chars;
  chars.SetXonChar(5);
  TChangeCounter changes;
  chars.SetChangeHandler(changes.Handler());
  try {
    chars.Assign(flow);
    FAIL() << "no error";
  } catch (const EAssignError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TSerialFlowControl to a TSerialEventChars");
  }
  EXPECT_EQ(chars.XonChar(), 5);
  EXPECT_EQ(changes.count, 0);
}

TEST(SerialSettings, BuffersDefaultsTimeoutsAndRefusals) {
  TSerialBuffers buffers;
  EXPECT_EQ(buffers.ReadSize(), 4096);
  EXPECT_EQ(buffers.WriteSize(), 2048);
  EXPECT_EQ(buffers.ReadTimeout(), 1000);
  EXPECT_EQ(buffers.WriteTimeout(), 1000);
  EXPECT_EQ(buffers.XonLimit(), 1024);
  EXPECT_EQ(buffers.XoffLimit(), 1024);
  TChangeCounter changes;
  buffers.SetChangeHandler(changes.Handler());
  buffers.SetReadTimeout(500);  // plain value: no notification
  EXPECT_EQ(changes.count, 0);
  buffers.SetReadSize(4096);
  EXPECT_EQ(changes.count, 0);
  buffers.SetReadSize(100);
  EXPECT_EQ(changes.count, 1);

  bool open = true;
  buffers.SetOwnerCheck([&] {
    if (open) throw ESerialPortError("refused");
  });
  EXPECT_THROW(buffers.SetWriteSize(10), ESerialPortError);
  EXPECT_THROW(buffers.SetXoffLimit(10), ESerialPortError);
  EXPECT_THROW(buffers.Assign(TSerialBuffers()), ESerialPortError);
  EXPECT_EQ(buffers.WriteSize(), 2048);
  EXPECT_EQ(buffers.ReadSize(), 100);
  buffers.SetWriteTimeout(7);  // allowed while open
  EXPECT_EQ(buffers.WriteTimeout(), 7);
  open = false;
  buffers.Assign(TSerialBuffers());
  EXPECT_EQ(buffers.ReadSize(), 4096);
  EXPECT_EQ(buffers.WriteTimeout(), 1000);
  EXPECT_EQ(changes.count, 2);
}

TEST(SerialPortProperties, DefaultsAndTheStoredInstance) {
  TSerialPort port;
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.Baudrate(), br1200);
  EXPECT_EQ(port.DeviceName(), "COM%d");
  EXPECT_EQ(port.PortNum(), 0);
  EXPECT_EQ(port.MonitorEvents(), (TSerialEvents{ceError, ceRxChar, ceTxEmpty}));
  EXPECT_EQ(port.EventPriority(), tpNormal);
  EXPECT_EQ(port.WritePriority(), tpHighest);
  EXPECT_TRUE(port.UpdateDCB());
  EXPECT_FALSE(port.DirectWrite());
  EXPECT_FALSE(port.AutoOpen());
  EXPECT_EQ(port.Display(), nullptr);

  port.SetBaudrate(br38400);
  port.SetUserBaudrate(115200);
  EXPECT_EQ(port.Baudrate(), brUser);
  EXPECT_EQ(port.UserBaudrate(), 115200);
  port.SetBaudrate(br38400);
  EXPECT_EQ(port.UserBaudrate(), 0);
  EXPECT_EQ(BaudrateValue(port.Baudrate()), 38400);
  EXPECT_EQ(BaudrateValue(br256000), 256000);
}

TEST(SerialPortProperties, DeviceNameFormatAndPaths) {
  TSerialPort port;
  port.SetPortNum(5);
  EXPECT_EQ(port.ResolveDeviceName(), "COM5");
  port.SetDeviceName("COM1");
  EXPECT_EQ(port.ResolveDeviceName(), "COM1");
  port.SetDeviceName("PORT%d");
  port.SetPortNum(2);
  EXPECT_EQ(port.ResolveDeviceName(), "PORT2");
  // A path, or a name with any other '%', is what a user typed: never a format.
  for (const std::string typed : {"/dev/serial/line%d", "/tmp/pct%%sign", "COM%s", "A%d%d", "line%"}) {
    port.SetDeviceName(typed);
    EXPECT_EQ(port.ResolveDeviceName(), typed);
  }
}

TEST(SerialPortProperties, DtrRefusalAndClosedPortOperations) {
  TSerialPort port;
  std::uint8_t buf[4] = {1, 2, 3, 4};
  EXPECT_EQ(port.ReadBytes(buf, 4), 0);
  EXPECT_EQ(port.WriteBytes(buf, 4), 0);
  EXPECT_NO_THROW(port.SetDtrLine(true));
  EXPECT_NO_THROW(port.Close());
  port.FlowControl().SetControlDtr(dtrHandshake);
  try {
    port.SetDtrLine(true);
    FAIL() << "no error";
  } catch (const ESerialPortError& e) {
    EXPECT_STREQ(e.what(), "DTR line updates not allowed when flowcontrol is set to Handshake.");
  }
  EXPECT_EQ(port.InQueueCount(), 0);
}

TEST(SerialPortProperties, EventsAreRaisedInTheirFixedOrderOnlyWhenSet) {
  TSerialPort port;
  std::vector<std::string> order;
  auto note = [&](const char* name) { return [&order, name](TCustomSerialPort*) { order.push_back(name); }; };
  port.OnRxFlag = note("RxFlag");
  port.OnCts = note("Cts");
  port.OnDsr = note("Dsr");
  port.OnRing = note("Ring");
  port.OnRlsd = note("Rlsd");
  port.OnTxEmpty = note("TxEmpty");
  port.OnBreak = note("Break");
  port.OnPErr = note("PErr");
  port.OnRx80Full = note("Rx80Full");
  port.OnEvent1 = note("Event1");
  port.OnEvent2 = note("Event2");
  int errors = 0;
  port.OnError = [&](TCustomSerialPort*, int) { ++errors; };
  port.HandleEvents(0x1FFF & ~EV_RXCHAR);
  EXPECT_EQ(order, (std::vector<std::string>{"RxFlag", "Cts", "Dsr", "Ring", "Rlsd", "TxEmpty", "Break", "PErr",
                                             "Rx80Full", "Event1", "Event2"}));
  EXPECT_EQ(errors, 0);  // EV_ERR with no line errors pending raises no OnError
  order.clear();
  port.OnCts = nullptr;
  port.HandleEvents(EV_CTS | EV_RING);
  EXPECT_EQ(order, std::vector<std::string>{"Ring"});
}

TEST(SerialPortProperties, EachMonitoredEventHasItsOwnFlag) {
  const std::uint32_t flags[] = {EV_BREAK,   EV_CTS,    EV_DSR,  EV_ERR,      EV_RING,   EV_RLSD,  EV_RXCHAR,
                                 EV_TXEMPTY, EV_RXFLAG, EV_PERR, EV_RX80FULL, EV_EVENT1, EV_EVENT2};
  std::uint32_t seen = 0;
  for (int e = ceBreak; e <= ceEvent2; ++e) {
    EXPECT_EQ(EventFlag(static_cast<TSerialEvent>(e)), flags[e]) << e;
    seen |= EventFlag(static_cast<TSerialEvent>(e));
  }
  EXPECT_EQ(seen, 0x1FFFu);
}

TEST(SerialSystem, ManualResetEventsAndWaitAny) {
  SerialSystem::TWaitEvent a, b;
  const TWaitHandle both[] = {a.Handle(), b.Handle()};
  EXPECT_EQ(SerialSystem::WaitAny(both, 2, 0), -1);
  a.Set();
  a.Set();
  EXPECT_EQ(SerialSystem::WaitAny(both, 2, 0), 0);
  EXPECT_EQ(SerialSystem::WaitAny(both, 2, 0), 0);  // stays signalled until reset
  a.Reset();
  b.Set();
  EXPECT_EQ(SerialSystem::WaitAny(both, 2, 0), 1);
  a.Set();
  EXPECT_EQ(SerialSystem::WaitAny(both, 2, 0), 0);  // the first in the list wins
}

TEST(SerialSystem, WriteBufferAppendsAndConsumesFromTheFront) {
  TWriteBuffer buffer(8);
  const std::uint8_t in[] = {1, 2, 3, 4, 5};
  buffer.Append(in, 5);
  buffer.Consume(2);
  ASSERT_EQ(buffer.Size(), 3u);
  EXPECT_EQ(buffer.Data()[0], 3);
  EXPECT_EQ(buffer.Data()[2], 5);
  buffer.Append(in, 5);
  EXPECT_EQ(buffer.Size(), 8u);
  EXPECT_EQ(buffer.Data()[3], 1);
  buffer.Consume(8);
  EXPECT_EQ(buffer.Size(), 0u);
}

// Pumps until the runner has served its watches `passes` times more (a
// timer watch counts them): what was signalled meanwhile has had its turn.
bool Turns(TPlainLoopRunner& runner, int passes = 5) {
  int served = 0;
  const std::uint64_t counter = runner.Watch(
      {}, [&] { ++served; }, 1);
  const bool done = runner.ProcessUntil([&] { return served >= passes; }, std::chrono::seconds(10));
  runner.Unwatch(counter);
  return done;
}

// Calls posted from other threads, watches of a handle and timers, all run
// on the runner's thread; what escapes them reaches the hook; a shut-down
// runner refuses calls.
TEST(PlainLoopRunner, PostsWatchesTimersAndShutdown) {
  TPlainLoopRunner runner;
  std::vector<std::string> uncaught;
  runner.SetUncaughtExceptionHandler([&](std::exception_ptr e) { uncaught.push_back(ExceptionMessage(e)); });
  const auto main = std::this_thread::get_id();
  std::atomic<int> posted{0};
  bool onMain = true;
  std::thread worker([&] {
    for (int i = 0; i < 10; ++i)
      runner.Post([&] {
        onMain = onMain && std::this_thread::get_id() == main;
        ++posted;
      });
    runner.Post([] { throw std::runtime_error("from a posted call"); });
  });
  EXPECT_TRUE(runner.ProcessUntil([&] { return posted == 10 && !uncaught.empty(); }, std::chrono::seconds(5)));
  worker.join();
  EXPECT_TRUE(onMain);
  EXPECT_EQ(uncaught, std::vector<std::string>{"from a posted call"});

  // A watch runs while its handle is signalled, until the handle is reset or the watch ends.
  SerialSystem::TWaitEvent event;
  int calls = 0;
  std::uint64_t watch = runner.Watch(event.Handle(), [&] {
    if (++calls == 3) event.Reset();
  });
  ASSERT_NE(watch, 0u);
  ASSERT_TRUE(Turns(runner));
  EXPECT_EQ(calls, 0);
  event.Set();
  EXPECT_TRUE(runner.ProcessUntil([&] { return calls == 3; }, std::chrono::seconds(5)));
  ASSERT_TRUE(Turns(runner));
  EXPECT_EQ(calls, 3);
  event.Set();
  runner.Unwatch(watch);
  ASSERT_TRUE(Turns(runner));
  EXPECT_EQ(calls, 3);

  int ticks = 0;
  watch = runner.Watch(
      {}, [&] { ++ticks; }, 10);
  EXPECT_TRUE(runner.ProcessUntil([&] { return ticks >= 3; }, std::chrono::seconds(5)));
  runner.Unwatch(watch);
  EXPECT_EQ(runner.Watch(
                {}, [] {}, 0),
            0u)
      << "a watch of nothing";

  runner.Shutdown();
  EXPECT_FALSE(runner.Post([] {}));
}

TEST(PlainLoopRunner, UncaughtExceptionsWithoutAHookOfTheirOwn) {
  std::string reported;
  SetUncaughtExceptionHandler([&](std::exception_ptr e) { reported = ExceptionMessage(e); });
  HandleUncaughtException(nullptr, std::make_exception_ptr(ESerialPortError("boom", 5)));
  SetUncaughtExceptionHandler(nullptr);
  EXPECT_EQ(reported, "boom");
}

}  // namespace
