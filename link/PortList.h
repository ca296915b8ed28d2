#pragma once
// The ports a user can choose: the classic names COM1..COM8 first, then the
// serial adapters present on this system (USB serial and ACM devices), each
// with what the system knows of it.
#include <string>
#include <vector>

// Where the system shows its devices. Tests point both at a folder of their
// own that mimics them.
struct TPortRoots {
  std::string sys = "/sys";
  std::string dev = "/dev";
};

struct TPortInfo {
  std::string name;          // what the serial component opens: "COM1" or "/dev/ttyUSB0"
  std::string devicePath;    // the device file: "/dev/ttyS0", "/dev/ttyUSB0"
  std::string manufacturer;  // the adapter's USB strings; empty where unknown
  std::string product;
  std::string serialNumber;
  std::string vendorId;  // "0403"; empty for a classic port
  std::string productId;
  // The adapter's description: manufacturer and product ("FTDI FT232R USB
  // UART"), or the USB identifiers where the adapter gives no strings; empty
  // for a classic port.
  std::string description;
  // What the list shows: "COM1", or "ttyUSB0 — FTDI FT232R USB UART (A50285BI)".
  std::string label;
};

// "COM1".."COM8".
std::vector<std::string> ClassicPortNames();
// The USB serial adapters present: the terminals in <sys>/class/tty that sit
// on a USB device and have a device file in <dev>, sorted by name.
std::vector<TPortInfo> DetectSerialAdapters(const TPortRoots& roots = {});
// COM1..COM8, then the adapters.
std::vector<TPortInfo> ListPorts(const TPortRoots& roots = {});
