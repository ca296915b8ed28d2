#pragma once
// What port discovery and the reading of port errors ask of the system, one
// implementation per system (posix/, win32/); link/'s own logic is written
// once above it.
#include <string>
#include <vector>

#include "PortList.h"
#include "PortProblem.h"

namespace PortSystem {

// The device file of COMn (n from 1): "/dev/ttyS0", "\\.\COM1".
std::string ClassicDevicePath(int n, const TPortRoots& roots);
// DetectSerialAdapters: every port the system reports beside the classic
// names' own files, described, in any order.
std::vector<TPortInfo> SerialPorts(const TPortRoots& roots);
// Whether a port of the list has hardware behind it (a classic port's device
// file exists without a UART on Linux; a port the system does not list is
// not there on Windows).
bool PortPresent(const TPortInfo& port, const TPortRoots& roots);
// The kind of problem an error number of the serial component's Open means.
TPortProblemKind KindOf(int code);
// Reads what the device file itself tells about the problem (its group and
// mode, whether it is a socket) into `problem`, whose kind and device path
// are set.
void ExamineDevice(TPortProblem& problem, const TPortRoots& roots);

}  // namespace PortSystem
