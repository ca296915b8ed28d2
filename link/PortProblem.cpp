#include "PortProblem.h"

#include "PortSystem.h"

namespace {

// The device file a port name stands for, as the serial component opens it.
std::string DevicePathOf(const std::string& name, const std::vector<TPortInfo>& ports) {
  for (const TPortInfo& port : ports)
    if (port.name == name) return port.devicePath;
  return name;
}

}  // namespace

TPortProblem DiagnosePortError(const std::string& name, int code, const TPortRoots& roots) {
  TPortProblem problem;
  problem.kind = PortSystem::KindOf(code);
  if (problem.kind == TPortProblemKind::None) return problem;
  const std::vector<TPortInfo> ports = ListPorts(roots);
  problem.devicePath = DevicePathOf(name, ports);
  PortSystem::ExamineDevice(problem, roots);
  if (problem.kind == TPortProblemKind::NotFound) {
    for (const TPortInfo& port : ports)
      if (PortSystem::PortPresent(port, roots)) problem.existingPorts.push_back(port);
  }
  return problem;
}
