// What the component does with a Windows device: names and the one
// classification of the system's error numbers.
#include <gtest/gtest.h>

#include "SerialPort.h"
#include "SerialSystem.h"

namespace {

using SerialSystem::Classify;
using SerialSystem::TErrorKind;
using SerialSystem::TRequest;

TEST(SerialWin32System, PortNamesAndTheirDevices) {
  // The device prefix opens COM10 and up, and serves COM1 to COM9 as well.
  EXPECT_EQ(SerialDevicePath("COM1"), "\\\\.\\COM1");
  EXPECT_EQ(SerialDevicePath("COM12"), "\\\\.\\COM12");
  EXPECT_EQ(SerialDevicePath("\\\\.\\pipe\\line"), "\\\\.\\pipe\\line");
  EXPECT_EQ(SerialDevicePath("COMX"), "COMX");
}

TEST(SerialWin32System, OneClassificationOfErrorsAndTheirTexts) {
  EXPECT_EQ(Classify(2, TRequest::Open), TErrorKind::NotFound);     // ERROR_FILE_NOT_FOUND
  EXPECT_EQ(Classify(5, TRequest::Open), TErrorKind::Failure);      // ERROR_ACCESS_DENIED: held elsewhere
  EXPECT_EQ(Classify(997, TRequest::Read), TErrorKind::WouldWait);  // ERROR_IO_PENDING
  EXPECT_EQ(Classify(109, TRequest::Read), TErrorKind::HangUp);     // ERROR_BROKEN_PIPE: the far end gone
  EXPECT_EQ(Classify(1167, TRequest::Write), TErrorKind::HangUp);   // ERROR_DEVICE_NOT_CONNECTED
  // Modem lines a pseudo-terminal lacks under Wine are nothing to do; line settings it refuses are a failure.
  EXPECT_EQ(Classify(50, TRequest::ModemLine), TErrorKind::NothingToDo);  // ERROR_NOT_SUPPORTED
  EXPECT_EQ(Classify(50, TRequest::Line), TErrorKind::Failure);
  EXPECT_FALSE(SerialSystem::ErrorText(2).empty());
}

}  // namespace
