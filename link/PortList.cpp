#include "PortList.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <tuple>

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

// "ttyUSB10" after "ttyUSB9": the name's letters, then its number.
std::tuple<std::string, long, std::string> NaturalKey(const std::string& name) {
  std::size_t digits = name.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) --digits;
  const std::string number = name.substr(digits);
  return {name.substr(0, digits), number.empty() ? -1 : std::stol(number.substr(0, 9)), name};
}

}  // namespace

std::vector<std::string> ClassicPortNames() {
  std::vector<std::string> names;
  for (int n = 1; n <= 8; ++n) names.push_back("COM" + std::to_string(n));
  return names;
}

std::vector<TPortInfo> DetectSerialAdapters(const TPortRoots& roots) {
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
  std::sort(found.begin(), found.end(), [](const TPortInfo& a, const TPortInfo& b) {
    return NaturalKey(fs::path(a.devicePath).filename().string()) <
           NaturalKey(fs::path(b.devicePath).filename().string());
  });
  return found;
}

std::vector<TPortInfo> ListPorts(const TPortRoots& roots) {
  std::vector<TPortInfo> ports;
  int n = 0;
  for (const std::string& name : ClassicPortNames()) {
    TPortInfo port;
    port.name = name;
    port.devicePath = (fs::path(roots.dev) / ("ttyS" + std::to_string(n++))).string();
    port.label = name;
    ports.push_back(std::move(port));
  }
  for (TPortInfo& adapter : DetectSerialAdapters(roots)) ports.push_back(std::move(adapter));
  return ports;
}
