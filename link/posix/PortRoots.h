#pragma once
// Where Linux shows its serial ports. Tests point both at a folder of their
// own that mimics them.
#include <string>

struct TPortRoots {
  std::string sys = "/sys";
  std::string dev = "/dev";
};
