#pragma once
// The system's own words in the window's port hints, one implementation per
// system (PortHintPosix.cpp, PortHintWin32.cpp): groups and device files on
// Linux, Device Manager and drivers on Windows.
#include <QString>
#include <string>

#include "PortProblem.h"

namespace PortHintSystem {

// The port as a hint names it: "COM1 (/dev/ttyS0)" on Linux, "COM1" on Windows.
QString PortShown(const std::string& name, const TPortProblem& problem);
QString PermissionHint(const QString& port, const TPortProblem& problem);
QString BusyHint(const QString& port, const std::string& name, const TPortProblem& problem);
// What to do when the port is not on this computer; `portsExist`: the hint
// names the ports that are.
QString NotFoundAdvice(bool portsExist);

}  // namespace PortHintSystem
