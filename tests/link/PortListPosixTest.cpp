// Port discovery over a fake /sys and /dev, and the reading of port errors on Linux.
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "FakeDevices.h"
#include "PortList.h"
#include "PortProblem.h"

namespace {

std::vector<std::string> Labels(const std::vector<TPortInfo>& ports) {
  std::vector<std::string> labels;
  for (const TPortInfo& port : ports) labels.push_back(port.label);
  return labels;
}

TEST(PortList, ClassicNamesThenUsbAdaptersWithTheirStrings) {
  TFakeDevices fake;
  fake.AddPlatformPort("ttyS0", 4);
  fake.AddVirtualTerminal("tty1");
  fake.AddUsbAdapter("ttyUSB10", "FTDI", "FT232R USB UART", "A50285BI", "1-1");
  fake.AddUsbAdapter("ttyUSB2", "Prolific Technology Inc.", "Prolific Technology Inc. USB-Serial Controller", "",
                     "1-2");
  fake.AddUsbAdapter("ttyACM0", "", "", "", "1-3", true);
  fake.AddUsbAdapter("ttyUSB3", "FTDI", "FT232R USB UART", "GONE", "1-4");
  std::filesystem::remove(fake.Dev("ttyUSB3"));  // its device file is gone already

  const std::vector<TPortInfo> ports = ListPorts(fake.Roots());
  EXPECT_EQ(Labels(ports), (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8",
                                                     "ttyACM0 — USB 0403:6001",
                                                     "ttyUSB2 — Prolific Technology Inc. USB-Serial Controller",
                                                     "ttyUSB10 — FTDI FT232R USB UART (A50285BI)"}));
  EXPECT_EQ(ports[0].devicePath, fake.Dev("ttyS0"));
  const TPortInfo& ftdi = ports.back();
  EXPECT_EQ(ftdi.name, fake.Dev("ttyUSB10")) << "the session opens the device file";
  EXPECT_EQ(ftdi.description, "FTDI FT232R USB UART");
  EXPECT_EQ(ftdi.serialNumber, "A50285BI");
  EXPECT_EQ(ports[9].serialNumber, "");
}

TEST(PortList, NoSysfsGivesTheClassicNamesAlone) {
  const std::vector<TPortInfo> ports = ListPorts({"/nonexistent/sys", "/nonexistent/dev"});
  ASSERT_EQ(ports.size(), 8u);
  EXPECT_EQ(ports[7].name, "COM8");
  EXPECT_EQ(ports[7].devicePath, "/nonexistent/dev/ttyS7");
}

TEST(PortProblem, ErrorNumbersOfTheSerialComponentByKind) {
  const std::pair<int, TPortProblemKind> cases[] = {
      {ENOENT, TPortProblemKind::NotFound}, {EACCES, TPortProblemKind::PermissionDenied},
      {EBUSY, TPortProblemKind::Busy},      {EAGAIN, TPortProblemKind::Busy},
      {EIO, TPortProblemKind::NotFound},    {ENOTTY, TPortProblemKind::NotSerialPort},
      {EINVAL, TPortProblemKind::None},     {EMFILE, TPortProblemKind::None},
      {0, TPortProblemKind::None},
  };
  TFakeDevices fake;
  for (const auto& [code, kind] : cases) EXPECT_EQ(DiagnosePortError("COM1", code, fake.Roots()).kind, kind) << code;
}

TEST(PortProblem, NotFoundNamesThePortsThatExist) {
  TFakeDevices fake;
  fake.AddPlatformPort("ttyS0", 4);
  fake.AddPlatformPort("ttyS1", 0);  // a placeholder without a UART
  fake.AddUsbAdapter("ttyUSB0", "FTDI", "FT232R USB UART", "A50285BI");
  const TPortProblem problem = DiagnosePortError("COM5", ENOENT, fake.Roots());
  EXPECT_EQ(problem.devicePath, fake.Dev("ttyS4"));
  EXPECT_EQ(Labels(problem.existingPorts),
            (std::vector<std::string>{"COM1", "ttyUSB0 — FTDI FT232R USB UART (A50285BI)"}));
}

// The group comes from the device file; joining helps only where the group
// may read and write it and is not root's.
TEST(PortProblem, PermissionDeniedReadsTheDeviceFilesGroup) {
  TFakeDevices fake;
  fake.AddUsbAdapter("ttyUSB0", "FTDI", "FT232R USB UART", "A50285BI");
  const std::string device = fake.Dev("ttyUSB0");
  gid_t gid = ::getegid();
  if (const group* dialout = ::getgrnam("dialout"); dialout != nullptr && ::geteuid() == 0) gid = dialout->gr_gid;
  ASSERT_EQ(::chown(device.c_str(), ::geteuid(), gid), 0);
  ASSERT_EQ(::chmod(device.c_str(), 0660), 0);
  const TPortProblem problem = DiagnosePortError(device, EACCES, fake.Roots());
  EXPECT_EQ(problem.kind, TPortProblemKind::PermissionDenied);
  EXPECT_EQ(problem.group, ::getgrgid(gid)->gr_name);
  EXPECT_EQ(problem.groupMayUse, gid != 0);
  EXPECT_FALSE(problem.alreadyMember) << "this process has the group already";

  ASSERT_EQ(::chmod(device.c_str(), 0600), 0);
  EXPECT_FALSE(DiagnosePortError(device, EACCES, fake.Roots()).groupMayUse) << "closed to its group";
}

}  // namespace
