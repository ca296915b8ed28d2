#include "DemoSimulator.h"

std::string TDemoSimulator::StartDevice() {
  device_.reset();
  device_ = std::make_unique<TBootLoaderSim>(options_);
  device_->Start();
  return device_->SlavePath();
}

TSimOptions DemoDeviceOptions(bool fast) {
  TSimOptions options;
  if (!fast) options.Baud = 38400;
  return options;
}
