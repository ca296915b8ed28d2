#include "FakeDevices.h"
#include "ShotPorts.h"
#include "Unit1.h"

std::shared_ptr<void> ShowDescribedAdapter(TForm1& form) {
  auto fake = std::make_shared<TFakeDevices>();
  fake->AddUsbAdapter("ttyUSB0", "FTDI", "FT232R USB UART", "A50285BI");
  form.PortRoots = fake->Roots();
  return fake;
}

std::string MissingPortName() { return "/dev/ttyUSB7"; }
