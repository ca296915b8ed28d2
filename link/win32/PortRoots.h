#pragma once
// Where Windows shows its serial ports: the registry's map of serial devices
// to port names, and SetupAPI's device list for their descriptions. Tests
// point the map at a key of their own under HKEY_CURRENT_USER.
#include <string>

struct TPortRoots {
  bool currentUser = false;  // the key below is HKEY_CURRENT_USER's, not HKEY_LOCAL_MACHINE's
  std::wstring serialComm = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
  bool describe = true;  // ask SetupAPI for friendly names, manufacturers and USB identifiers
};
