#pragma once
// What the serial tests over a line share: a port set up for a line whose
// far end the test plays (TFarEnd, or a pseudo-terminal where a test needs
// the system's own calls), the main loop installed for the test's lifetime,
// and the exceptions that escaped a handler. No system calls here: the
// tests of every system use it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "MainLoop.h"
#include "SerialPort.h"

template <class TLine>
class TPortOnALine : public ::testing::Test {
protected:
  void SetUp() override {
    SetUncaughtExceptionHandler([this](std::exception_ptr e) { uncaught.push_back(ExceptionMessage(e)); });
    port.SetDeviceName(line.Path());
    port.SetBaudrate(br38400);
    port.Buffers().SetReadTimeout(500);
  }
  void TearDown() override { SetUncaughtExceptionHandler(nullptr); }

  TMainLoop loop;
  TLine line;
  std::vector<std::string> uncaught;
  TSerialPort port;  // destroyed first: closes before the loop goes
};

// The text of the error that Open raises; empty when it opened.
inline std::string OpenError(TSerialPort& port) {
  try {
    port.Open();
  } catch (const ESerialPortError& e) {
    return e.what();
  }
  return "";
}

// Waits (on the test's thread, the loop not pumped) until the device holds
// `count` bytes that the component has not taken yet.
inline bool AwaitQueued(TSerialPort& port, std::uint32_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    TComStat stat;
    port.QueryStatus(stat);
    if (stat.InQueue >= count) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Writes until the device takes no more and the writer has to hold bytes
// back (`between` runs after each write); returns how many bytes were written.
inline std::size_t FillUntilTheWriterHolds(TSerialPort& port, std::uint8_t value,
                                           const std::function<void()>& between = {}) {
  const std::vector<std::uint8_t> chunk(2000, value);
  std::size_t written = 0;
  for (int i = 0; i < 500 && port.WriterPending() == 0; ++i) {
    written += static_cast<std::size_t>(port.WriteBytes(chunk.data(), static_cast<int>(chunk.size())));
    if (between) between();
  }
  return written;
}
