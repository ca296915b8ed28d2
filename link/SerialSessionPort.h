#pragma once
// The session's port over the serial component.
#include "SerialPort.h"
#include "SessionLinks.h"

class TSerialSessionPort : public ISessionPort {
public:
  explicit TSerialSessionPort(TCustomSerialPort& port) : port_(port) {}
  void SetDeviceName(const std::string& name) override { port_.SetDeviceName(name); }
  void Open() override { port_.Open(); }
  bool Close() override {
    port_.Close();
    return port_.UnsentAtClose() == 0;
  }
  void SetDtrLine(bool value) override { port_.SetDtrLine(value); }
  int ReadBytes(std::uint8_t* buffer, int count) override { return port_.ReadBytes(buffer, count); }
  int WriteBytes(const std::uint8_t* buffer, int count) override { return port_.WriteBytes(buffer, count); }

private:
  TCustomSerialPort& port_;
};
