// Settings objects, property rules that need no device, the termios builder,
// device names, the time-out arithmetic and the write buffer.
#include <gtest/gtest.h>
#include <termios.h>

#include <atomic>
#include <thread>

#include "SerialPort.h"
#include "SerialPosix.h"

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
    seenAtNotify = a.OutCtsFlow() + a.OutDsrFlow() + (a.ControlDtr() == dtrHandshake) +
                   (a.ControlRts() == rtsToggle) + a.XonXoffOut() + a.XonXoffIn() + a.DsrSensitivity() +
                   a.TxContinueOnXoff();
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
  port.SetDeviceName("/dev/ttyUSB%d");
  port.SetPortNum(2);
  EXPECT_EQ(port.ResolveDeviceName(), "/dev/ttyUSB2");
  EXPECT_EQ(SerialPosix::DevicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(SerialPosix::DevicePath("COM8"), "/dev/ttyS7");
  EXPECT_EQ(SerialPosix::DevicePath("/dev/pts/4"), "/dev/pts/4");
  EXPECT_EQ(SerialPosix::DevicePath("COMX"), "COMX");
  EXPECT_EQ(SerialPosix::DevicePath("COM0"), "COM0");
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
  const std::uint32_t flags[] = {EV_BREAK, EV_CTS,  EV_DSR,     EV_ERR,    EV_RING,   EV_RLSD,  EV_RXCHAR,
                                 EV_TXEMPTY, EV_RXFLAG, EV_PERR, EV_RX80FULL, EV_EVENT1, EV_EVENT2};
  std::uint32_t seen = 0;
  for (int e = ceBreak; e <= ceEvent2; ++e) {
    EXPECT_EQ(EventFlag(static_cast<TSerialEvent>(e)), flags[e]) << e;
    seen |= EventFlag(static_cast<TSerialEvent>(e));
  }
  EXPECT_EQ(seen, 0x1FFFu);
}

TEST(SerialTermios, BuilderFramingParityStopBitsAndFlow) {
  SerialPosix::TLineSettings s;
  termios t{};
  bool custom = true;
  ASSERT_EQ(SerialPosix::BuildTermios(s, t, custom), 0);
  EXPECT_FALSE(custom);
  EXPECT_EQ(cfgetospeed(&t), B38400);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_NE(t.c_cflag & CLOCAL, 0u);
  EXPECT_NE(t.c_cflag & CREAD, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);

  s.Parity = paOdd;
  s.Stopbits = sb15;
  s.Databits = db7;
  s.OutCtsFlow = true;
  s.XonXoffIn = true;
  s.Options = {coParityCheck};
  s.Baud = 9600;
  ASSERT_EQ(SerialPosix::BuildTermios(s, t, custom), 0);
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB | PARODD));
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);  // 1.5 stop bits become 2
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  EXPECT_NE(t.c_iflag & IXOFF, 0u);
  EXPECT_NE(t.c_iflag & INPCK, 0u);
  EXPECT_EQ(cfgetispeed(&t), B9600);

  s.Parity = paSpace;
  ASSERT_EQ(SerialPosix::BuildTermios(s, t, custom), 0);
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB | CMSPAR));
  s.Baud = 56000;
  ASSERT_EQ(SerialPosix::BuildTermios(s, t, custom), 0);
  EXPECT_TRUE(custom);
  s.Databits = db4;
  EXPECT_EQ(SerialPosix::BuildTermios(s, t, custom), EINVAL);
}

TEST(SerialSync, TickTimeoutAcrossTheWrapAndErrorTexts) {
  TTickTimeout t;
  t.StartTick = 4294967290u;
  t.Limit = 10;
  EXPECT_EQ(t.ElapsedAt(4294967295u), 5u);
  EXPECT_EQ(t.ElapsedAt(3), 8u);  // wrapped: 3 + (4294967295 - StartTick)
  EXPECT_EQ(t.ElapsedAt(10), 15u);
  EXPECT_EQ(SerialPosix::ErrorText(EBUSY), "Device or resource busy");
  EXPECT_EQ(SerialPosix::ErrorText(ENOENT), "No such file or directory");
}

TEST(SerialSync, ManualResetEventsAndWaitForAny) {
  TWaitEvent a, b;
  EXPECT_EQ(a.Wait(0), wrTimeout);
  a.SetSignal();
  a.SetSignal();
  EXPECT_EQ(a.Wait(0), wrSignalled);
  EXPECT_EQ(a.Wait(0), wrSignalled);  // stays signalled until reset
  a.ResetSignal();
  EXPECT_FALSE(a.IsSignalled());
  EXPECT_EQ(WaitForAny({&a, &b}, 0), -1);
  b.SetSignal();
  EXPECT_EQ(WaitForAny({&a, &b}, 0), 1);
  a.SetSignal();
  EXPECT_EQ(WaitForAny({&a, &b}, 0), 0);  // the first in the list wins
}

TEST(SerialSync, WriteBufferAppendsAndConsumesFromTheFront) {
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

TEST(RunOnMainThreadTest, DirectOnMainRethrowInWorkerAndShutdownReleases) {
  auto runner = std::make_shared<TPlainLoopRunner>();
  SetMainThreadRunner(runner);
  int ranOn = 0;
  RunOnMainThread([&] { ranOn = 1; });  // main thread: direct
  EXPECT_EQ(ranOn, 1);

  std::string workerSaw;
  std::atomic<bool> workerDone{false};
  std::thread worker([&] {
    try {
      RunOnMainThread([] { throw std::runtime_error("from main"); });
    } catch (const std::exception& e) {
      workerSaw = e.what();
    }
    workerDone = true;
    runner->Wake();  // the loop looks at its predicate only when there is a reason
  });
  EXPECT_TRUE(runner->ProcessUntil([&] { return workerDone.load(); }, std::chrono::seconds(5)));
  worker.join();
  EXPECT_EQ(workerSaw, "from main");

  bool gone = false;
  std::thread waiter([&] {
    try {
      RunOnMainThread([] {});
    } catch (const EMainThreadGone&) {
      gone = true;
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  runner->Shutdown();
  waiter.join();
  EXPECT_TRUE(gone);
  SetMainThreadRunner(nullptr);

  std::string reported;
  SetUncaughtExceptionHandler([&](std::exception_ptr e) { reported = ExceptionMessage(e); });
  HandleUncaughtException(std::make_exception_ptr(ESerialPortError("boom")));
  SetUncaughtExceptionHandler(nullptr);
  EXPECT_EQ(reported, "boom");
}

}  // namespace
