#include "PortList.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::vector<std::string> ClassicPortNames() {
  std::vector<std::string> names;
  for (int n = 1; n <= 8; ++n) names.push_back("COM" + std::to_string(n));
  return names;
}

std::vector<std::string> DetectSerialAdapters(const std::string& devRoot) {
  std::vector<std::string> found;
  std::error_code error;
  // Stable names survive re-plugging; prefer them when udev made them.
  const fs::path byId = fs::path(devRoot) / "serial" / "by-id";
  for (const auto& entry : fs::directory_iterator(byId, error)) found.push_back(entry.path().string());
  if (found.empty()) {
    for (const auto& entry : fs::directory_iterator(devRoot, error)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0) found.push_back(entry.path().string());
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::vector<std::string> AvailablePortNames() {
  std::vector<std::string> names = ClassicPortNames();
  for (std::string& path : DetectSerialAdapters()) names.push_back(std::move(path));
  return names;
}
