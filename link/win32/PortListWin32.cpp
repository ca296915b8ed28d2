// Serial ports on Windows: the registry's SERIALCOMM map names every port the
// system has (a value per device: "\Device\VCP0" = "COM5"); SetupAPI's
// device list describes them. A port another program holds answers error 5,
// access denied.
#include <windows.h>
// After windows.h:
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <map>

#include "PortListWin32.h"
#include "PortSystem.h"
#include "win32/Utf16Text.h"

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// A registry string as it is stored, without the terminating zeros.
std::wstring StringValue(const wchar_t* data, DWORD bytes) {
  std::wstring text(data, bytes / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

// The port names in the SERIALCOMM map, upper-cased.
std::vector<std::string> MappedPorts(const TPortRoots& roots) {
  std::vector<std::string> names;
  HKEY key = nullptr;
  if (::RegOpenKeyExW(roots.currentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, roots.serialComm.c_str(), 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
    return names;
  for (DWORD index = 0;; ++index) {
    wchar_t valueName[256];
    DWORD nameLength = 256;
    wchar_t data[256];
    DWORD type = 0, bytes = sizeof data;
    const LONG result =
        ::RegEnumValueW(key, index, valueName, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ) continue;
    const std::string name = Upper(Utf8FromWide(StringValue(data, bytes)));
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  ::RegCloseKey(key);
  return names;
}

std::wstring DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  wchar_t buffer[512] = {};
  DWORD type = 0;
  if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, reinterpret_cast<BYTE*>(buffer),
                                           sizeof buffer - sizeof(wchar_t), nullptr) ||
      type != REG_SZ)
    return {};
  return buffer;
}

struct TDeviceWords {
  std::string friendlyName, manufacturer, instanceId;
};

// What SetupAPI knows of the present ports and modems (a USB modem is a port
// too), by port name.
std::map<std::string, TDeviceWords> DescribedDevices() {
  std::map<std::string, TDeviceWords> found;
  for (const GUID* deviceClass : {&GUID_DEVCLASS_PORTS, &GUID_DEVCLASS_MODEM}) {
    const HDEVINFO set = ::SetupDiGetClassDevsW(deviceClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) continue;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, &device); ++index) {
      const HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
      if (key == INVALID_HANDLE_VALUE) continue;
      wchar_t portName[64] = {};
      DWORD type = 0, bytes = sizeof portName - sizeof(wchar_t);
      const bool named = ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(portName),
                                            &bytes) == ERROR_SUCCESS &&
                         type == REG_SZ;
      ::RegCloseKey(key);
      if (!named) continue;
      TDeviceWords words;
      words.friendlyName = Utf8FromWide(DeviceProperty(set, device, SPDRP_FRIENDLYNAME));
      words.manufacturer = Utf8FromWide(DeviceProperty(set, device, SPDRP_MFG));
      wchar_t instance[512] = {};
      if (::SetupDiGetDeviceInstanceIdW(set, &device, instance, 511, nullptr))
        words.instanceId = Utf8FromWide(instance);
      found[Upper(Utf8FromWide(StringValue(portName, bytes)))] = std::move(words);
    }
    ::SetupDiDestroyDeviceInfoList(set);
  }
  return found;
}

// The four hex digits after `tag` ("VID_") in a device instance, upper-cased.
std::string UsbId(const std::string& instance, const char* tag) {
  const std::size_t at = instance.find(tag);
  if (at == std::string::npos || at + 8 > instance.size()) return {};
  const std::string id = instance.substr(at + 4, 4);
  if (!std::all_of(id.begin(), id.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }))
    return {};
  return Upper(id);
}

}  // namespace

namespace PortSystem {

void Describe(TPortInfo& port, const std::string& friendlyName, const std::string& manufacturer,
              const std::string& instanceId) {
  const std::string upperInstance = Upper(instanceId);
  port.manufacturer = manufacturer.rfind('(', 0) == 0 ? std::string() : manufacturer;  // "(Standard port types)"
  port.vendorId = UsbId(upperInstance, "VID_");
  port.productId = UsbId(upperInstance, "PID_");
  // USB\VID_0403&PID_6001\A50285BI: the last part is the serial number when
  // the device has one; Windows makes up one with '&' in it otherwise.
  if (upperInstance.rfind("USB\\", 0) == 0) {
    const std::size_t cut = instanceId.rfind('\\');
    const std::string last = instanceId.substr(cut + 1);
    if (cut > 4 && last.find('&') == std::string::npos) port.serialNumber = last;
  }
  // The friendly name ends in the port's own name: "USB Serial Port (COM5)".
  const std::string suffix = " (" + port.name + ")";
  std::string description = friendlyName;
  if (description.size() > suffix.size() &&
      Upper(description.substr(description.size() - suffix.size())) == Upper(suffix))
    description.erase(description.size() - suffix.size());
  if (description.empty() && !port.vendorId.empty()) description = "USB " + port.vendorId + ":" + port.productId;
  port.product = description;
  port.description = description;
  port.label = description.empty() ? port.name : description + suffix;
}

std::string ClassicDevicePath(int n, const TPortRoots&) { return "\\\\.\\COM" + std::to_string(n); }

std::vector<TPortInfo> SerialPorts(const TPortRoots& roots) {
  const std::map<std::string, TDeviceWords> described =
      roots.describe ? DescribedDevices() : std::map<std::string, TDeviceWords>{};
  std::vector<TPortInfo> found;
  for (const std::string& name : MappedPorts(roots)) {
    TPortInfo port;
    port.name = name;
    port.devicePath = "\\\\.\\" + name;
    port.label = name;
    if (const auto words = described.find(name); words != described.end())
      Describe(port, words->second.friendlyName, words->second.manufacturer, words->second.instanceId);
    found.push_back(std::move(port));
  }
  return found;
}

bool PortPresent(const TPortInfo& port, const TPortRoots& roots) {
  const std::vector<std::string> mapped = MappedPorts(roots);
  return std::find(mapped.begin(), mapped.end(), Upper(port.name)) != mapped.end();
}

TPortProblemKind KindOf(int code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_GEN_FAILURE:           // the adapter's driver has no device behind it
    case ERROR_DEVICE_NOT_CONNECTED:  // unplugged
    case ERROR_DEVICE_REMOVED: return TPortProblemKind::NotFound;
    case ERROR_ACCESS_DENIED:  // a COM port is opened by one program at a time
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY: return TPortProblemKind::Busy;
    case ERROR_INVALID_FUNCTION:  // opened, but no serial port: the line settings do not take
    case ERROR_NOT_SUPPORTED: return TPortProblemKind::NotSerialPort;
    default: return TPortProblemKind::None;
  }
}

void ExamineDevice(TPortProblem&, const TPortRoots&) {}

}  // namespace PortSystem
