#pragma once
// What Windows' own port discovery is made of, for its tests.
#include <string>

#include "PortList.h"

namespace PortSystem {

// Fills a port's description from what SetupAPI says of its device: the
// friendly name ("USB Serial Port (COM5)"), the manufacturer ("FTDI") and the
// device instance ("USB\VID_0403&PID_6001\A50285BI").
void Describe(TPortInfo& port, const std::string& friendlyName, const std::string& manufacturer,
              const std::string& instanceId);

}  // namespace PortSystem
