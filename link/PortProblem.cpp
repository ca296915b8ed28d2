#include "PortProblem.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The device file a port name stands for, as the serial component opens it.
std::string DevicePathOf(const std::string& name, const std::vector<TPortInfo>& ports) {
  for (const TPortInfo& port : ports)
    if (port.name == name) return port.devicePath;
  return name;
}

// A classic port is there when its device file exists and the kernel found a
// UART behind it (type 0 is a placeholder without hardware).
bool ClassicPortPresent(const TPortInfo& port, const TPortRoots& roots) {
  std::error_code error;
  if (!fs::exists(port.devicePath, error)) return false;
  const fs::path type = fs::path(roots.sys) / "class" / "tty" / fs::path(port.devicePath).filename() / "type";
  std::ifstream in(type);
  int value = -1;
  if (!(in >> value)) return true;  // no word from the kernel: take the file's word for it
  return value != 0;
}

bool ProcessHasGroup(gid_t gid) {
  if (::getegid() == gid) return true;
  const int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  const int got = ::getgroups(count, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// Whether the user's account lists the group (so a new login would carry it).
bool AccountHasGroup(gid_t gid) {
  const passwd* user = ::getpwuid(::geteuid());
  if (user == nullptr) return false;
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) return false;
  }
  return std::find(groups.begin(), groups.begin() + count, gid) != groups.begin() + count;
}

void ReadOwnership(TPortProblem& problem) {
  struct stat info {};
  if (::stat(problem.devicePath.c_str(), &info) != 0) return;
  if (const group* owner = ::getgrgid(info.st_gid)) problem.group = owner->gr_name;
  else problem.group = std::to_string(info.st_gid);
  const bool groupReadWrite = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  problem.groupMayUse = groupReadWrite && info.st_gid != 0;
  problem.alreadyMember = problem.groupMayUse && !ProcessHasGroup(info.st_gid) && AccountHasGroup(info.st_gid);
}

TPortProblemKind KindOf(int code) {
  switch (code) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case EIO:  // a classic port's device file with no UART behind it
      return TPortProblemKind::NotFound;
    case EACCES:
    case EPERM:
      return TPortProblemKind::PermissionDenied;
    case EBUSY:
    case EAGAIN:
      return TPortProblemKind::Busy;
    case ENOTTY:  // opened, but the line settings do not take
      return TPortProblemKind::NotSerialPort;
    default:
      return TPortProblemKind::None;
  }
}

}  // namespace

TPortProblem DiagnosePortError(const std::string& name, int code, const TPortRoots& roots) {
  TPortProblem problem;
  problem.kind = KindOf(code);
  if (problem.kind == TPortProblemKind::None) return problem;
  const std::vector<TPortInfo> ports = ListPorts(roots);
  problem.devicePath = DevicePathOf(name, ports);
  // A Unix socket refuses to open with "no such device" (ENXIO): it is there,
  // but no serial port, rather than a port missing from this computer.
  struct stat info {};
  if (problem.kind == TPortProblemKind::NotFound && ::stat(problem.devicePath.c_str(), &info) == 0 &&
      S_ISSOCK(info.st_mode))
    problem.kind = TPortProblemKind::NotSerialPort;
  if (problem.kind == TPortProblemKind::PermissionDenied) ReadOwnership(problem);
  if (problem.kind == TPortProblemKind::NotFound) {
    for (const TPortInfo& port : ports)
      if (!StartsWith(port.name, "COM") || ClassicPortPresent(port, roots)) problem.existingPorts.push_back(port);
  }
  return problem;
}
