#include "DemoSimulator.h"

std::string TDemoSimulator::StartDevice() {
  device_.reset();
  device_ = std::make_unique<TBootLoaderSim>(options_);
  device_->Start();
  return device_->SlavePath();
}
