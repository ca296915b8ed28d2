// Port discovery on Windows over a SERIALCOMM map of the test's own, the
// descriptions SetupAPI's words give, and the reading of Windows error numbers.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PortList.h"
#include "PortListWin32.h"
#include "PortProblem.h"

namespace {

// A serial-device map under HKEY_CURRENT_USER, removed again at the end.
class TFakeSerialComm {
public:
  TFakeSerialComm() {
    roots_.currentUser = true;
    roots_.serialComm = L"Software\\qv-tests\\SERIALCOMM-" + std::to_wstring(::GetCurrentProcessId());
    roots_.describe = false;
    ::RegCreateKeyExW(HKEY_CURRENT_USER, roots_.serialComm.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                      nullptr);
  }
  ~TFakeSerialComm() {
    ::RegCloseKey(key_);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, roots_.serialComm.c_str());
  }
  TFakeSerialComm(const TFakeSerialComm&) = delete;
  TFakeSerialComm& operator=(const TFakeSerialComm&) = delete;

  void Add(const std::wstring& device, const std::wstring& port) {
    ::RegSetValueExW(key_, device.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                     static_cast<DWORD>((port.size() + 1) * sizeof(wchar_t)));
  }
  const TPortRoots& Roots() const { return roots_; }

private:
  TPortRoots roots_;
  HKEY key_ = nullptr;
};

std::vector<std::string> Names(const std::vector<TPortInfo>& ports) {
  std::vector<std::string> names;
  for (const TPortInfo& port : ports) names.push_back(port.name);
  return names;
}

TEST(PortList, ClassicNamesThenTheOtherMappedPortsInNaturalOrder) {
  TFakeSerialComm map;
  map.Add(L"\\Device\\Serial0", L"COM1");
  map.Add(L"\\Device\\VCP0", L"COM12");
  map.Add(L"\\Device\\VCP1", L"COM9");
  map.Add(L"\\Device\\VCP2", L"com3");  // the same port as the classic COM3
  map.Add(L"\\Device\\VCP3", L"COM10");
  const std::vector<TPortInfo> ports = ListPorts(map.Roots());
  EXPECT_EQ(Names(ports), (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8",
                                                    "COM9", "COM10", "COM12"}));
  for (int i = 0; i < 8; ++i) EXPECT_EQ(ports[static_cast<std::size_t>(i)].label, "COM" + std::to_string(i + 1));
  EXPECT_EQ(ports[1].devicePath, "\\\\.\\COM2");
  EXPECT_EQ(ports.back().devicePath, "\\\\.\\COM12") << "COM10 and up open only through the device prefix";
  EXPECT_EQ(ports.back().label, "COM12") << "nothing described: the name alone";
}

TEST(PortList, NoMapGivesTheClassicNamesAlone) {
  TPortRoots roots;
  roots.currentUser = true;
  roots.serialComm = L"Software\\qv-tests\\no-such-key";
  roots.describe = false;
  EXPECT_EQ(ListPorts(roots).size(), 8u);
  // The system's own map and device list, whatever this machine has.
  EXPECT_GE(ListPorts().size(), 8u);
}

// What the window and qvflash show comes from SetupAPI's words for the device.
TEST(PortList, DescriptionsFromTheDeviceList) {
  TPortInfo ftdi;
  ftdi.name = "COM12";
  PortSystem::Describe(ftdi, "USB Serial Port (COM12)", "FTDI", "USB\\VID_0403&PID_6001\\A50285BI");
  EXPECT_EQ(ftdi.label, "USB Serial Port (COM12)");
  EXPECT_EQ(ftdi.description, "USB Serial Port");
  EXPECT_EQ(ftdi.manufacturer, "FTDI");
  EXPECT_EQ(ftdi.vendorId, "0403");
  EXPECT_EQ(ftdi.productId, "6001");
  EXPECT_EQ(ftdi.serialNumber, "A50285BI");
  EXPECT_EQ(PortDetail(ftdi), ftdi.devicePath) << "the label shows the description already";

  TPortInfo cdc;
  cdc.name = "COM3";
  PortSystem::Describe(cdc, "", "(Standard port types)", "USB\\VID_2341&PID_0043\\6&1A2B3C&0&2");
  EXPECT_EQ(cdc.description, "USB 2341:0043") << "no friendly name: the USB identifiers";
  EXPECT_EQ(cdc.serialNumber, "") << "a made-up instance is no serial number";
  EXPECT_EQ(cdc.manufacturer, "");

  TPortInfo builtIn;
  builtIn.name = "COM1";
  PortSystem::Describe(builtIn, "Communications Port (COM1)", "(Standard port types)", "ACPI\\PNP0501\\1");
  EXPECT_EQ(builtIn.description, "Communications Port");
  EXPECT_EQ(builtIn.vendorId, "");

  // A classic port keeps its name as its label; the description goes to the tool tip.
  TFakeSerialComm map;
  map.Add(L"\\Device\\VCP0", L"COM4");
  const TPortInfo com4 = ListPorts(map.Roots())[3];
  EXPECT_EQ(com4.label, "COM4");
}

TEST(PortProblem, WindowsErrorNumbersByKind) {
  const std::pair<int, TPortProblemKind> cases[] = {
      {ERROR_FILE_NOT_FOUND, TPortProblemKind::NotFound}, {ERROR_PATH_NOT_FOUND, TPortProblemKind::NotFound},
      {ERROR_GEN_FAILURE, TPortProblemKind::NotFound},    {ERROR_ACCESS_DENIED, TPortProblemKind::Busy},
      {ERROR_SHARING_VIOLATION, TPortProblemKind::Busy},  {ERROR_INVALID_FUNCTION, TPortProblemKind::NotSerialPort},
      {ERROR_INVALID_PARAMETER, TPortProblemKind::None},  {0, TPortProblemKind::None},
  };
  TFakeSerialComm map;
  for (const auto& [code, kind] : cases) EXPECT_EQ(DiagnosePortError("COM1", code, map.Roots()).kind, kind) << code;
}

TEST(PortProblem, NotFoundNamesThePortsTheSystemLists) {
  TFakeSerialComm map;
  map.Add(L"\\Device\\Serial0", L"COM1");
  map.Add(L"\\Device\\VCP0", L"COM12");
  const TPortProblem problem = DiagnosePortError("COM5", ERROR_FILE_NOT_FOUND, map.Roots());
  EXPECT_EQ(problem.devicePath, "\\\\.\\COM5");
  EXPECT_EQ(Names(problem.existingPorts), (std::vector<std::string>{"COM1", "COM12"}));
}

}  // namespace
