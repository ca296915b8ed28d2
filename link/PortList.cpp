#include "PortList.h"

#include <algorithm>
#include <cctype>
#include <tuple>

#include "PortSystem.h"

namespace {

// "ttyUSB10" after "ttyUSB9": the name's letters, then its number.
std::tuple<std::string, long, std::string> NaturalKey(const std::string& name) {
  std::size_t digits = name.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) --digits;
  const std::string number = name.substr(digits);
  return {name.substr(0, digits), number.empty() ? -1 : std::stol(number.substr(0, 9)), name};
}

// The part of a path after its last separator.
std::string LastPart(const std::string& path) {
  const std::size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

bool NaturalLess(const std::string& a, const std::string& b) { return NaturalKey(a) < NaturalKey(b); }

std::vector<std::string> ClassicPortNames() {
  std::vector<std::string> names;
  for (int n = 1; n <= 8; ++n) names.push_back("COM" + std::to_string(n));
  return names;
}

std::vector<TPortInfo> DetectSerialAdapters(const TPortRoots& roots) {
  std::vector<TPortInfo> found = PortSystem::SerialPorts(roots);
  std::sort(found.begin(), found.end(), [](const TPortInfo& a, const TPortInfo& b) {
    return NaturalLess(LastPart(a.devicePath), LastPart(b.devicePath));
  });
  return found;
}

std::vector<TPortInfo> ListPorts(const TPortRoots& roots) {
  std::vector<TPortInfo> ports;
  std::vector<TPortInfo> others = DetectSerialAdapters(roots);
  int n = 0;
  for (const std::string& name : ClassicPortNames()) {
    TPortInfo port;
    // A classic port the system describes keeps its name as its label.
    const auto known = std::find_if(others.begin(), others.end(), [&](const TPortInfo& p) { return p.name == name; });
    if (known != others.end()) {
      port = std::move(*known);
      others.erase(known);
    } else {
      port.name = name;
      port.devicePath = PortSystem::ClassicDevicePath(n + 1, roots);
    }
    port.label = name;
    ++n;
    ports.push_back(std::move(port));
  }
  for (TPortInfo& other : others) ports.push_back(std::move(other));
  return ports;
}

std::string PortDetail(const TPortInfo& port) {
  if (port.description.empty()) return {};
  return port.label.find(port.description) == std::string::npos ? port.description : port.devicePath;
}
