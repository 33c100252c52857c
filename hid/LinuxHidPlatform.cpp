#include "hid/LinuxHidPlatform.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>

#include "hid/Device.h"

namespace quillet::hid {
namespace fs = std::filesystem;
namespace {

std::optional<std::string> ReadFile(const fs::path& path, size_t limit = 65536) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string s;
  s.resize(limit + 1);
  in.read(s.data(), static_cast<std::streamsize>(s.size()));
  s.resize(static_cast<size_t>(in.gcount()));
  if (s.size() > limit) return std::nullopt;
  return s;
}

// A sysfs attribute's text without its trailing newline.
std::optional<std::string> ReadAttribute(const fs::path& path) {
  auto s = ReadFile(path, 4096);
  if (!s) return std::nullopt;
  while (!s->empty() && (s->back() == '\n' || s->back() == '\0')) s->pop_back();
  return s;
}

std::map<std::string, std::string> ReadUevent(const fs::path& dir) {
  std::map<std::string, std::string> keys;
  auto text = ReadFile(dir / "uevent");
  if (!text) return keys;
  std::istringstream lines(*text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) keys[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return keys;
}

std::string Lookup(const std::map<std::string, std::string>& m, const std::string& key) {
  auto it = m.find(key);
  return it == m.end() ? std::string() : it->second;
}

// The whole of `s` as an unsigned number in `base`: digits only, no sign, prefix or blank.
template <typename T>
std::optional<T> ParseDigits(std::string_view s, int base) {
  T value{};
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value, base);
  if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

// "hidraw12" -> 12; nullopt for any other name, and for a number whose digits before the last
// exceed 100000.
std::optional<unsigned> HidrawNumber(const std::string& name) {
  constexpr std::string_view kPrefix = "hidraw";
  if (!name.starts_with(kPrefix)) return std::nullopt;
  const auto n = ParseDigits<unsigned>(std::string_view(name).substr(kPrefix.size()), 10);
  if (!n || *n / 10 > 100000) return std::nullopt;
  return n;
}

std::vector<std::string> HidrawNames(const fs::path& dir) {
  std::vector<std::pair<unsigned, std::string>> found;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (auto n = HidrawNumber(name)) found.emplace_back(*n, name);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> names;
  for (auto& [n, name] : found) names.push_back(std::move(name));
  return names;
}

// The HID device directory a hidraw node belongs to, or empty.
fs::path HidDeviceDir(const fs::path& sysRoot, const std::string& nodeName) {
  std::error_code ec;
  fs::path dir = fs::canonical(sysRoot / "class" / "hidraw" / nodeName / "device", ec);
  return ec ? fs::path() : dir;
}

// The USB device above a HID device (the directory carrying idVendor), or empty.
fs::path UsbParent(const fs::path& sysRoot, const fs::path& hidDir) {
  std::error_code ec;
  const fs::path root = fs::canonical(sysRoot, ec);
  if (ec || hidDir.empty()) return {};
  for (fs::path p = hidDir.parent_path(); !p.empty() && p != root && p != p.root_path();
       p = p.parent_path()) {
    if (fs::exists(p / "idVendor", ec)) return p;
  }
  return {};
}

// 1 to 8 hex digits, as sysfs writes IDs and bcdDevice.
bool ParseHex(std::string_view s, uint32_t& out) {
  if (s.size() > 8) return false;
  const auto v = ParseDigits<uint32_t>(s, 16);
  if (v) out = *v;
  return v.has_value();
}

class LinuxHidHandle : public IHidHandle {
 public:
  LinuxHidHandle(int fd, int wake, fs::path sysRoot, fs::path hidDir)
      : fd_(fd), wake_(wake), sysRoot_(std::move(sysRoot)), hidDir_(std::move(hidDir)) {
    if (auto ppd = GetPreparsedData()) numbered_ = ppd->info.numberedReports;
  }
  ~LinuxHidHandle() override {
    ::close(fd_);
    ::close(wake_);
  }

  bool GetString(HidStringKind kind, std::string& out) override {
    if (kind == HidStringKind::SerialNumber) {
      out = Lookup(ReadUevent(hidDir_), "HID_UNIQ");
      return !out.empty();
    }
    const fs::path usb = UsbParent(sysRoot_, hidDir_);
    if (usb.empty()) return false;
    auto s = ReadAttribute(usb / (kind == HidStringKind::Product ? "product" : "manufacturer"));
    if (!s) return false;
    out = *s;
    return true;
  }

  bool GetIndexedString(int index, std::string& out) override {
    // Only the serial number string is published by sysfs; it is string 3 on most devices.
    if (index != 3) return false;
    const fs::path usb = UsbParent(sysRoot_, hidDir_);
    if (usb.empty()) return false;
    auto s = ReadAttribute(usb / "serial");
    if (!s) return false;
    out = *s;
    return true;
  }

  std::shared_ptr<const HidPreparsedData> GetPreparsedData() override {
    if (hidDir_.empty()) return nullptr;
    auto bytes = ReadFile(hidDir_ / "report_descriptor", kMaxReportDescriptorSize);
    if (!bytes) return nullptr;
    auto info = ParseReportDescriptor(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size());
    if (!info) return nullptr;
    auto ppd = std::make_shared<HidPreparsedData>();
    ppd->info = std::move(*info);
    return ppd;
  }

  bool GetAttributes(HidAttributes& out) override {
    // HID_ID is bus:vendor:product, each in hex.
    const std::string id = Lookup(ReadUevent(hidDir_), "HID_ID");
    const size_t a = id.find(':');
    const size_t b = a == std::string::npos ? a : id.find(':', a + 1);
    uint32_t bus, vendor, product;
    if (b == std::string::npos || !ParseHex(id.substr(0, a), bus) ||
        !ParseHex(id.substr(a + 1, b - a - 1), vendor) || !ParseHex(id.substr(b + 1), product) ||
        vendor > 0xFFFF || product > 0xFFFF)
      return false;
    uint32_t version = 0;
    if (const fs::path usb = UsbParent(sysRoot_, hidDir_); !usb.empty()) {
      if (auto s = ReadAttribute(usb / "bcdDevice"); !s || !ParseHex(*s, version)) version = 0;
    }
    out.VendorID = static_cast<uint16_t>(vendor);
    out.ProductID = static_cast<uint16_t>(product);
    out.VersionNumber = static_cast<uint16_t>(version);
    return true;
  }

  HidIoResult Read(uint8_t* buffer, size_t size) override {
    // hidraw leaves out report ID 0; the caller always gets the ID byte first.
    const size_t skip = numbered_ ? 0 : 1;
    if (!buffer || size <= skip) return Failure(EINVAL);
    for (;;) {
      if (shut_) return {HidIoResult::Cancelled};
      pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return Failure(errno);
      }
      if (fds[1].revents) return {HidIoResult::Cancelled};
      if (fds[0].revents & POLLIN) {
        const ssize_t n = ::read(fd_, buffer + skip, size - skip);
        if (n > 0) {
          if (skip) buffer[0] = 0;
          return {HidIoResult::Ok, static_cast<size_t>(n) + skip, 0};
        }
        if (n == 0) return Failure(ENODEV);  // the other end is gone
        if (errno == EAGAIN || errno == EINTR) continue;
        return Failure(errno);
      }
      if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return Failure(ENODEV);
    }
  }

  using IHidHandle::Write;
  HidIoResult Write(const uint8_t* report, size_t size, std::chrono::milliseconds limit) override {
    using std::chrono::steady_clock;
    if (!report || size == 0) return Failure(EINVAL);
    const bool bounded = limit.count() > 0;
    const auto deadline = steady_clock::now() + limit;
    for (;;) {
      if (shut_) return {HidIoResult::Cancelled};
      const ssize_t n = ::write(fd_, report, size);
      if (n >= 0) return {HidIoResult::Ok, static_cast<size_t>(n), 0};
      if (errno == EINTR) continue;
      if (errno != EAGAIN) return Failure(errno);
      int wait = -1;
      if (bounded) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - steady_clock::now());
        if (left.count() <= 0) return Failure(ETIMEDOUT);
        wait = static_cast<int>(std::min<int64_t>(left.count(), INT32_MAX));
      }
      pollfd fds[2] = {{fd_, POLLOUT, 0}, {wake_, POLLIN, 0}};
      if (::poll(fds, 2, wait) < 0 && errno != EINTR) return Failure(errno);
      if (fds[1].revents) return {HidIoResult::Cancelled};
      if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return Failure(ENODEV);
    }
  }

  void Shutdown() override {
    if (shut_.exchange(true)) return;
    const uint64_t one = 1;
    // The counter stays signalled, so every later wait returns at once too.
    [[maybe_unused]] ssize_t n = ::write(wake_, &one, sizeof one);
  }

  bool GetFeature(uint8_t* buffer, size_t size) override {
    return !shut_ && size && ::ioctl(fd_, HIDIOCGFEATURE(size), buffer) >= 0;
  }
  bool SetFeature(const uint8_t* buffer, size_t size) override {
    return !shut_ && size && ::ioctl(fd_, HIDIOCSFEATURE(size), buffer) >= 0;
  }
  bool GetInputReport(uint8_t* buffer, size_t size) override {
    return !shut_ && size && ::ioctl(fd_, HIDIOCGINPUT(size), buffer) >= 0;
  }
  bool SetOutputReport(const uint8_t* buffer, size_t size) override {
    return !shut_ && size && ::ioctl(fd_, HIDIOCSOUTPUT(size), buffer) >= 0;
  }

 private:
  static HidIoResult Failure(int error) { return {HidIoResult::Failed, 0, error}; }

  const int fd_;
  const int wake_;
  const fs::path sysRoot_;
  const fs::path hidDir_;
  bool numbered_ = false;
  std::atomic<bool> shut_{false};
};

}  // namespace

LinuxNodeOps DefaultNodeOps() {
  return {[](const std::string& path, int flags) { return ::open(path.c_str(), flags); },
          [](const std::string& path, int mode) {
            return ::faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS);
          }};
}

LinuxHidPlatform::LinuxHidPlatform(LinuxHidPaths paths, LinuxNodeOps ops)
    : paths_(std::move(paths)), ops_(std::move(ops)) {}

std::unique_ptr<TDevice> LinuxHidPlatform::DescribeNode(const std::string& nodeName,
                                                        bool needSysfs) {
  const fs::path hidDir = HidDeviceDir(paths_.sysRoot, nodeName);
  if (needSysfs && hidDir.empty()) return nullptr;
  auto d = std::make_unique<TDevice>();
  d->ClassId = kHidInterfaceClass;
  d->InterfacePath = (fs::path(paths_.devRoot) / nodeName).string();
  d->InstanceHandle = HidrawNumber(nodeName).value_or(0);
  d->Children = nodeName;
  if (hidDir.empty()) return d;
  const auto uevent = ReadUevent(hidDir);
  d->DriverKey = hidDir.filename().string();
  d->InstanceId = d->DriverKey;
  d->RegistryKey = hidDir.string();
  d->Description = Lookup(uevent, "HID_NAME");
  d->PhysicalObjectName = Lookup(uevent, "HID_PHYS");
  d->Service = Lookup(uevent, "DRIVER");
  return d;
}

std::vector<std::unique_ptr<TDevice>> LinuxHidPlatform::EnumerateDevices() {
  std::vector<std::unique_ptr<TDevice>> out;
  for (const std::string& name : HidrawNames(fs::path(paths_.sysRoot) / "class" / "hidraw"))
    if (auto d = DescribeNode(name, true)) out.push_back(std::move(d));
  return out;
}

std::vector<std::unique_ptr<TDevice>> LinuxHidPlatform::EnumerateInterfaces() {
  std::vector<std::unique_ptr<TDevice>> out;
  for (const std::string& name : HidrawNames(paths_.devRoot))
    out.push_back(DescribeNode(name, false));
  return out;
}

HidOpenResult LinuxHidPlatform::Open(const std::string& path, HidAccess access, bool /*shared*/,
                                     bool overlapped) {
  int flags = O_CLOEXEC;
  switch (access) {
    case HidAccess::ReadWrite: flags |= O_RDWR | O_NONBLOCK; break;
    case HidAccess::ReadOnly: flags |= O_RDONLY | O_NONBLOCK; break;
    case HidAccess::WriteOnly: flags |= O_WRONLY | O_NONBLOCK; break;
    case HidAccess::None: flags |= O_PATH; break;
  }
  HidOpenResult result;
  // A node opened without access for a connection can only be written to with rights; a node we
  // may neither read nor write must fail here, or the user would get a connection that silently
  // drops every report instead of "Permission denied".
  if (access == HidAccess::None && overlapped && ops_.access(path, R_OK) != 0 &&
      ops_.access(path, W_OK) != 0) {
    result.error = errno;
    return result;
  }
  const int fd = ops_.open(path, flags);
  if (fd < 0) {
    result.error = errno;
    result.sharingViolation = errno == EBUSY;
    return result;
  }
  const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) {
    result.error = errno;
    ::close(fd);
    return result;
  }
  const std::string nodeName = fs::path(path).filename().string();
  result.handle = std::make_shared<LinuxHidHandle>(fd, wake, fs::path(paths_.sysRoot),
                                                   HidDeviceDir(paths_.sysRoot, nodeName));
  return result;
}

LinuxHidPaths LinuxHidPathsFromEnvironment() {
  LinuxHidPaths paths;
  if (const char* sys = std::getenv("QUILLET_SYSFS_ROOT"); sys && *sys) paths.sysRoot = sys;
  if (const char* dev = std::getenv("QUILLET_DEV_ROOT"); dev && *dev) paths.devRoot = dev;
  return paths;
}

}  // namespace quillet::hid
