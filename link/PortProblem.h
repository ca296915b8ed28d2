#pragma once
// Why a port could not be opened, in terms a user can act on: the system's
// error number that the serial component reports, and what the device file itself tells
// (its group, whether the user may join it). The window and qvflash word the
// hint each in their own language.
#include <string>
#include <vector>

#include "PortList.h"

// clang-format off
enum class TPortProblemKind {
  None,              // nothing a user can fix is known
  PermissionDenied,  // the device file is not open to this user
  Busy,              // another program holds the port (on Windows: error 5, access denied)
  NotSerialPort,     // the name is there but no serial port (a plain file, a Unix socket)
  NotFound,          // no device under that name, or no hardware (or no working driver) behind it
};
// clang-format on

struct TPortProblem {
  TPortProblemKind kind = TPortProblemKind::None;
  std::string devicePath;  // the file the name stands for: "/dev/ttyS0" for "COM1"
  // Permission denied (Linux): the group that owns the device file, and whether its
  // members may read and write it. Group "root", or a file closed to its
  // group, is a matter for the administrator rather than for joining a group.
  std::string group;
  bool groupMayUse = false;
  bool alreadyMember = false;  // the user is in the group but this login predates it
  // Not found: the ports this system has (classic ports with hardware behind
  // them, and the adapters).
  std::vector<TPortInfo> existingPorts;
};

// Reads the system's error number that opening `name` ("COM1",
// "/dev/ttyUSB0") failed with (ESerialPortError::Code(): errno on Linux,
// GetLastError's number on Windows) and the device file.
// `roots` lets tests use a folder of their own for /sys and /dev.
TPortProblem DiagnosePortError(const std::string& name, int code, const TPortRoots& roots = {});
