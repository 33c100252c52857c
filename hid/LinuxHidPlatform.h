#pragma once
// The HID platform over Linux: devices from sysfs (/sys/class/hidraw), descriptors parsed by our
// own reader, and report I/O on hidraw nodes with poll and an eventfd that Shutdown signals.
// Both roots are parameters so that tests can run it over a tree of their own.

#include <functional>
#include <string>

#include "hid/HidPlatform.h"

namespace quillet::hid {

struct LinuxHidPaths {
  std::string sysRoot = "/sys";
  std::string devRoot = "/dev";
};

// The roots as the test-only QUILLET_SYSFS_ROOT and QUILLET_DEV_ROOT set them, kept out of
// --help: the tests stand a tree of their own in for /sys and /dev. Unset or empty: the system's.
LinuxHidPaths LinuxHidPathsFromEnvironment();

// The two calls that touch device nodes, replaceable so tests can stand in for hidraw nodes.
struct LinuxNodeOps {
  std::function<int(const std::string& path, int flags)> open;  // an fd, or -1 with errno set
  std::function<int(const std::string& path, int mode)> access;  // 0, or -1 with errno set
};

LinuxNodeOps DefaultNodeOps();

class LinuxHidPlatform : public IHidPlatform {
 public:
  explicit LinuxHidPlatform(LinuxHidPaths paths = {}, LinuxNodeOps ops = DefaultNodeOps());

  std::vector<std::unique_ptr<TDevice>> EnumerateDevices() override;
  std::vector<std::unique_ptr<TDevice>> EnumerateInterfaces() override;
  // `shared` has no counterpart: hidraw nodes cannot be held exclusively.
  HidOpenResult Open(const std::string& path, HidAccess access, bool shared,
                     bool overlapped) override;

 private:
  std::unique_ptr<TDevice> DescribeNode(const std::string& nodeName, bool needSysfs);

  LinuxHidPaths paths_;
  LinuxNodeOps ops_;
};

}  // namespace quillet::hid
