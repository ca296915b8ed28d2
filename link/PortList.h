#pragma once
// The ports a user can choose: the classic names COM1..COM8 first, then the
// other serial ports present on this system (on Linux the USB serial and ACM
// adapters, on Windows the ports the system lists beyond COM8), each with
// what the system knows of it. Where the system is asked is PortSystem.h's
// business, one implementation per system.
#include <string>
#include <vector>

#include "PortRoots.h"  // where the system shows its ports: posix/ or win32/

struct TPortInfo {
  std::string name;          // what the serial component opens: "COM1", "COM12" or "/dev/ttyUSB0"
  std::string devicePath;    // the device file: "/dev/ttyS0", "/dev/ttyUSB0"; "\\.\COM1" on Windows
  std::string manufacturer;  // the adapter's USB strings; empty where unknown
  std::string product;
  std::string serialNumber;
  std::string vendorId;  // "0403"; empty for a classic port
  std::string productId;
  // The adapter's description: manufacturer and product ("FTDI FT232R USB
  // UART"), or the USB identifiers where the adapter gives no strings; on
  // Windows the device's friendly name without its port ("USB Serial Port").
  // Empty where the system knows nothing of the port.
  std::string description;
  // What the list shows: "COM1", "ttyUSB0 — FTDI FT232R USB UART (A50285BI)",
  // "USB Serial Port (COM12)". COM1..COM8 always show their name alone.
  std::string label;
};

// "COM1".."COM8".
std::vector<std::string> ClassicPortNames();
// The serial ports the system reports, described, in natural order of their
// names: on Linux the terminals in <sys>/class/tty that sit on a USB device
// and have a device file in <dev>; on Windows every port in the registry's
// SERIALCOMM map, COM1..COM8 included, with the friendly names of SetupAPI.
std::vector<TPortInfo> DetectSerialAdapters(const TPortRoots& roots = {});
// COM1..COM8 (with what the system knows of them), then the other ports.
std::vector<TPortInfo> ListPorts(const TPortRoots& roots = {});
// What a tool tip adds to a port's label: its description where the label
// does not show it, else the device file; empty for a port nothing is known of.
std::string PortDetail(const TPortInfo& port);
// Natural order of port names: "ttyUSB9" before "ttyUSB10", "COM9" before "COM10".
bool NaturalLess(const std::string& a, const std::string& b);
