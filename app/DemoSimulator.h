#pragma once
// The demo's simulated device: a fresh boot loader on a line of its own each
// time the switch is turned on with "Симулятор" selected.
#include <memory>
#include <string>

#include "BootLoaderSim.h"

// The demo's device answers at the pace of a real line at 38,400 baud, so a
// whole load takes as long as on a real device (about 70 s) and can be
// watched; `fast`: it answers at once (a load in about a second).
TSimOptions DemoDeviceOptions(bool fast);

class TDemoSimulator {
public:
  explicit TDemoSimulator(TSimOptions options = {}) : options_(std::move(options)) {}
  // Ends the previous device, starts a new one and returns the path to open.
  std::string StartDevice();
  // The device of the last start (none before the first).
  const TBootLoaderSim* Device() const { return device_.get(); }

private:
  TSimOptions options_;
  std::unique_ptr<TBootLoaderSim> device_;
};
