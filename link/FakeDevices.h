#pragma once
// A folder that stands in for /sys and /dev: terminals of the platform's
// serial ports and USB serial adapters laid out as the kernel shows them, so
// that the port list and the port hints can be tried, and shown, on a machine
// without such hardware. Header only: nothing links it unless included.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "PortList.h"

class TFakeDevices {
public:
  TFakeDevices() {
    root_ = std::filesystem::temp_directory_path() /
            ("qv-fake-devices-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "sys" / "class" / "tty");
    std::filesystem::create_directories(root_ / "dev");
  }
  ~TFakeDevices() { std::filesystem::remove_all(root_); }
  TFakeDevices(const TFakeDevices&) = delete;
  TFakeDevices& operator=(const TFakeDevices&) = delete;

  TPortRoots Roots() const { return {(root_ / "sys").string(), (root_ / "dev").string()}; }
  std::string Dev(const std::string& name) const { return (root_ / "dev" / name).string(); }

  // A USB adapter: the device with its strings (empty ones left out), an
  // interface, the terminal under it, the class link and the device file.
  void AddUsbAdapter(const std::string& terminal, const std::string& manufacturer, const std::string& product,
                     const std::string& serial, const std::string& usbPath = "1-1", bool acm = false) {
    const auto usb = root_ / "sys" / "devices" / "pci0000:00" / "usb1" / usbPath;
    const auto iface = usb / (usbPath + ":1.0");
    const auto tty = acm ? iface / "tty" / terminal : iface / terminal / "tty" / terminal;
    std::filesystem::create_directories(tty);
    Write(usb / "idVendor", "0403");
    Write(usb / "idProduct", "6001");
    if (!manufacturer.empty()) Write(usb / "manufacturer", manufacturer);
    if (!product.empty()) Write(usb / "product", product);
    if (!serial.empty()) Write(usb / "serial", serial);
    LinkClass(terminal, tty, tty.parent_path().parent_path());
    Write(root_ / "dev" / terminal, "");
  }
  // A classic port of the platform: `type` 0 is a placeholder without a UART.
  void AddPlatformPort(const std::string& terminal, int type) {
    const auto tty = root_ / "sys" / "devices" / "platform" / "serial8250" / "tty" / terminal;
    std::filesystem::create_directories(tty);
    Write(tty / "type", std::to_string(type));
    LinkClass(terminal, tty, root_ / "sys" / "devices" / "platform" / "serial8250");
    Write(root_ / "dev" / terminal, "");
  }
  // A virtual terminal: no device behind it.
  void AddVirtualTerminal(const std::string& terminal) {
    const auto tty = root_ / "sys" / "devices" / "virtual" / "tty" / terminal;
    std::filesystem::create_directories(tty);
    std::filesystem::create_directory_symlink(std::filesystem::relative(tty, root_ / "sys" / "class" / "tty"),
                                              root_ / "sys" / "class" / "tty" / terminal);
    Write(root_ / "dev" / terminal, "");
  }
  void Unplug(const std::string& terminal) {
    std::filesystem::remove(root_ / "sys" / "class" / "tty" / terminal);
    std::filesystem::remove(root_ / "dev" / terminal);
  }

private:
  static void Write(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file) << text << (text.empty() ? "" : "\n");
  }
  // Relative links, as sysfs has them, so that the fake tree resolves within itself.
  void LinkClass(const std::string& terminal, const std::filesystem::path& tty, const std::filesystem::path& device) {
    const auto link = root_ / "sys" / "class" / "tty" / terminal;
    std::filesystem::create_directory_symlink(std::filesystem::relative(tty, link.parent_path()), link);
    std::filesystem::create_directory_symlink(std::filesystem::relative(device, tty), tty / "device");
  }

  std::filesystem::path root_;
  static inline int counter_ = 0;
};
