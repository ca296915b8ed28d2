// Serial ports on Linux: USB serial and ACM adapters found in /sys, their
// strings read from the USB device they sit on; the classic ports' device
// files and what they say about a port that would not open.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "PortSystem.h"

namespace fs = std::filesystem;

namespace {

// One line of a sysfs attribute, without its line end; empty when absent.
std::string ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string value;
  std::getline(in, value);
  while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back()))) value.pop_back();
  return value;
}

// The USB device a terminal sits on: the nearest folder above the terminal's
// own that carries a vendor identifier. Empty for terminals of other buses.
fs::path UsbDeviceOf(const fs::path& terminal, const fs::path& sysRoot) {
  std::error_code error;
  fs::path dir = fs::canonical(terminal, error);
  if (error) return {};
  const fs::path top = fs::canonical(sysRoot, error);
  for (; !error && dir.has_relative_path() && dir != top; dir = dir.parent_path()) {
    if (fs::exists(dir / "idVendor", error)) return dir;
  }
  return {};
}

std::string Describe(const TPortInfo& port) {
  std::string text = port.product;
  if (port.manufacturer.empty() || port.product.find(port.manufacturer) != std::string::npos) {
    // The product string alone says it, or there is nothing to add.
  } else if (text.empty()) {
    text = port.manufacturer;
  } else {
    text = port.manufacturer + " " + text;
  }
  if (text.empty() && !port.vendorId.empty()) text = "USB " + port.vendorId + ":" + port.productId;
  return text;
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
  if (const group* owner = ::getgrgid(info.st_gid))
    problem.group = owner->gr_name;
  else
    problem.group = std::to_string(info.st_gid);
  const bool groupReadWrite = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  problem.groupMayUse = groupReadWrite && info.st_gid != 0;
  problem.alreadyMember = problem.groupMayUse && !ProcessHasGroup(info.st_gid) && AccountHasGroup(info.st_gid);
}

}  // namespace

namespace PortSystem {

std::string ClassicDevicePath(int n, const TPortRoots& roots) {
  return (fs::path(roots.dev) / ("ttyS" + std::to_string(n - 1))).string();
}

std::vector<TPortInfo> SerialPorts(const TPortRoots& roots) {
  std::vector<TPortInfo> found;
  std::error_code error;
  const fs::path classTty = fs::path(roots.sys) / "class" / "tty";
  for (const auto& entry : fs::directory_iterator(classTty, error)) {
    const std::string terminal = entry.path().filename().string();
    // Virtual terminals and consoles have no device behind them.
    if (!fs::exists(entry.path() / "device", error)) continue;
    const fs::path usb = UsbDeviceOf(entry.path(), roots.sys);
    if (usb.empty()) continue;
    const fs::path device = fs::path(roots.dev) / terminal;
    if (!fs::exists(device, error)) continue;
    TPortInfo port;
    port.name = device.string();
    port.devicePath = device.string();
    port.manufacturer = ReadAttribute(usb / "manufacturer");
    port.product = ReadAttribute(usb / "product");
    port.serialNumber = ReadAttribute(usb / "serial");
    port.vendorId = ReadAttribute(usb / "idVendor");
    port.productId = ReadAttribute(usb / "idProduct");
    port.description = Describe(port);
    port.label = terminal + " — " + port.description;
    if (!port.serialNumber.empty()) port.label += " (" + port.serialNumber + ")";
    found.push_back(std::move(port));
  }
  return found;
}

// A classic port is there when its device file exists and the kernel found a
// UART behind it (type 0 is a placeholder without hardware); an adapter is
// there when it is listed.
bool PortPresent(const TPortInfo& port, const TPortRoots& roots) {
  if (port.name.rfind("COM", 0) != 0) return true;
  std::error_code error;
  if (!fs::exists(port.devicePath, error)) return false;
  const fs::path type = fs::path(roots.sys) / "class" / "tty" / fs::path(port.devicePath).filename() / "type";
  std::ifstream in(type);
  int value = -1;
  if (!(in >> value)) return true;  // no word from the kernel: take the file's word for it
  return value != 0;
}

TPortProblemKind KindOf(int code) {
  switch (code) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case EIO:  // a classic port's device file with no UART behind it
      return TPortProblemKind::NotFound;
    case EACCES:
    case EPERM: return TPortProblemKind::PermissionDenied;
    case EBUSY:
    case EAGAIN: return TPortProblemKind::Busy;
    case ENOTTY:  // opened, but the line settings do not take
      return TPortProblemKind::NotSerialPort;
    default: return TPortProblemKind::None;
  }
}

void ExamineDevice(TPortProblem& problem, const TPortRoots&) {
  // A Unix socket refuses to open with "no such device" (ENXIO): it is there,
  // but no serial port, rather than a port missing from this computer.
  struct stat info {};
  if (problem.kind == TPortProblemKind::NotFound && ::stat(problem.devicePath.c_str(), &info) == 0 &&
      S_ISSOCK(info.st_mode))
    problem.kind = TPortProblemKind::NotSerialPort;
  if (problem.kind == TPortProblemKind::PermissionDenied) ReadOwnership(problem);
}

}  // namespace PortSystem
