#pragma once
// A throw-away sysfs and /dev tree shaped like the kernel's for hidraw nodes, for the Linux
// backend's tests: class/hidraw/hidrawN links into a device directory below a USB device.

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace quillet::test {

class FakeHidTree {
 public:
  struct Node {
    std::string name = "hidraw0";
    std::string hidId = "0003:000004D8:0000003F";  // empty: no HID_ID line
    std::string hidName = "Vendor HID Device";
    std::string uniq = "UNIQ-0001";
    std::string phys = "usb-0000:00:14.0-1/input0";
    bool usbParent = true;
    std::string product = "nRF24 Programmer";
    std::string manufacturer = "Acme Devices";
    std::string serial = "USB-SERIAL-9";
    std::string bcdDevice = "0200";
    std::vector<uint8_t> descriptor;
    bool devNode = true;
  };

  FakeHidTree() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quillet-hid-XXXXXX").string();
    root_ = ::mkdtemp(tmpl.data());
    std::filesystem::create_directories(Sys() + "/class/hidraw");
    std::filesystem::create_directories(Dev());
  }
  ~FakeHidTree() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  std::string Sys() const { return (root_ / "sys").string(); }
  std::string Dev() const { return (root_ / "dev").string(); }
  std::string DevNode(const std::string& name) const { return Dev() + "/" + name; }

  void Add(const Node& n) {
    namespace fs = std::filesystem;
    const std::string unit = std::to_string(++count_);
    fs::path usb = n.usbParent ? fs::path(Sys()) / "devices/pci0000:00/usb1" / ("1-" + unit)
                               : fs::path(Sys()) / "devices/virtual/misc/uhid";
    fs::create_directories(usb);
    if (n.usbParent) {
      Write(usb / "idVendor", "04d8\n");
      if (!n.product.empty()) Write(usb / "product", n.product + "\n");
      if (!n.manufacturer.empty()) Write(usb / "manufacturer", n.manufacturer + "\n");
      if (!n.serial.empty()) Write(usb / "serial", n.serial + "\n");
      Write(usb / "bcdDevice", n.bcdDevice + "\n");
    }
    const fs::path hid = (n.usbParent ? usb / ("1-" + unit + ":1.0") : usb) / ("0003:04D8:003F.000" + unit);
    const fs::path node = hid / "hidraw" / n.name;
    fs::create_directories(node);
    std::string uevent = "DRIVER=hid-generic\n";
    if (!n.hidId.empty()) uevent += "HID_ID=" + n.hidId + "\n";
    uevent += "HID_NAME=" + n.hidName + "\nHID_PHYS=" + n.phys + "\nHID_UNIQ=" + n.uniq + "\n";
    Write(hid / "uevent", uevent);
    Write(hid / "report_descriptor", std::string(n.descriptor.begin(), n.descriptor.end()));
    fs::create_directory_symlink("../..", node / "device");
    fs::create_directory_symlink(node, fs::path(Sys()) / "class/hidraw" / n.name);
    if (n.devNode) Write(fs::path(Dev()) / n.name, "");
  }

 private:
  static void Write(const std::filesystem::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
  }

  std::filesystem::path root_;
  int count_ = 0;
};

}  // namespace quillet::test
