#include "sim/SimHidPlatform.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "hid/Device.h"

namespace quillet::sim {
using namespace std::chrono;
using hid::HidAccess;
using hid::HidIoResult;

struct SimHidPlatform::Device {
  Device(SimHidDeviceConfig c, std::string p, uint32_t n, std::shared_ptr<SimDeviceChanges> ch)
      : config(std::move(c)), path(std::move(p)), number(n), changes(std::move(ch)) {}

  const SimHidDeviceConfig config;
  const std::string path;
  const uint32_t number;
  const std::shared_ptr<SimDeviceChanges> changes;

  std::mutex mutex;
  std::condition_variable changed;
  bool attached = true;
  bool takesWrites = config.takesOutputReports != 0;
  int64_t writesTaken = 0;
  bool holdCompletedReads = false;
  // A real unplug fails the pending transfers at once, and the system's notice follows later: the
  // removal is announced once the connections have seen the unplug and let go of the device.
  int connections = 0;
  bool removalPending = false;
  steady_clock::time_point nextOutSlot{};
  steady_clock::time_point nextInSlot{};
};

namespace {

struct SimPreparsedData : hid::HidPreparsedData {
  bool CapabilitiesReadable() const override { return !capabilitiesUnreadable; }
  bool capabilitiesUnreadable = false;
};

// Paced transfers take the next free slot of the endpoint; missed slots are not made up later.
steady_clock::time_point TakeSlot(steady_clock::time_point& next, microseconds interval) {
  const auto now = steady_clock::now();
  const auto slot = std::max(now, next);
  next = slot + interval;
  return slot;
}

class SimHandle : public hid::IHidHandle {
 public:
  SimHandle(std::shared_ptr<SimHidPlatform::Device> device, HidAccess access,
            std::shared_ptr<std::atomic<int>> liveCounter)
      : device_(std::move(device)), access_(access), live_(std::move(liveCounter)) {
    if (!live_) return;
    ++*live_;
    std::lock_guard lock(device_->mutex);
    ++device_->connections;
  }
  ~SimHandle() override {
    if (!live_) return;
    --*live_;
    bool announce = false;
    {
      std::lock_guard lock(device_->mutex);
      announce = --device_->connections == 0 && std::exchange(device_->removalPending, false);
    }
    if (announce) device_->changes->Raise({hid::DeviceChange::Removed, device_->path});
  }

  bool GetString(hid::HidStringKind kind, std::string& out) override {
    const auto& c = device_->config;
    out = kind == hid::HidStringKind::Product        ? c.product
          : kind == hid::HidStringKind::Manufacturer ? c.manufacturer
                                                     : c.serial;
    return !out.empty();
  }

  bool GetIndexedString(int index, std::string& out) override {
    if (index != hid::kSerialNumberStringIndex) return false;
    out = device_->config.string3;
    return !out.empty();
  }

  std::shared_ptr<const hid::HidPreparsedData> GetPreparsedData() override {
    const auto& c = device_->config;
    if (c.descriptorUnreadable) return nullptr;
    auto info = hid::ParseReportDescriptor(c.reportDescriptor.data(), c.reportDescriptor.size());
    if (!info) return nullptr;
    auto ppd = std::make_shared<SimPreparsedData>();
    ppd->info = std::move(*info);
    ppd->capabilitiesUnreadable = c.capabilitiesUnreadable;
    return ppd;
  }

  bool GetAttributes(hid::HidAttributes& out) override {
    const auto& c = device_->config;
    if (c.attributesUnreadable) return false;
    out.VendorID = c.vendorId;
    out.ProductID = c.productId;
    out.VersionNumber = c.version;
    return true;
  }

  HidIoResult Read(uint8_t* buffer, size_t size) override {
    if (access_ != HidAccess::ReadWrite && access_ != HidAccess::ReadOnly)
      return {HidIoResult::Failed, 0, EBADF};
    SimHidPlatform::Device& d = *device_;
    const auto interval = d.config.reportInterval;
    std::unique_lock lock(d.mutex);
    for (;;) {
      if (shut_) return {HidIoResult::Cancelled};
      if (!d.attached) return {HidIoResult::Failed, 0, ENODEV};
      if (d.config.model && d.config.model->HasInputReport()) break;
      d.changed.wait(lock);
    }
    if (interval.count() > 0) {
      const auto slot = TakeSlot(d.nextInSlot, interval);
      d.changed.wait_until(lock, slot, [&] { return shut_ || !d.attached; });
      if (shut_) return {HidIoResult::Cancelled};
      if (!d.attached) return {HidIoResult::Failed, 0, ENODEV};
    }
    std::vector<uint8_t> report;
    if (!d.config.model->TakeInputReport(report)) return {HidIoResult::Failed, 0, EIO};
    d.changed.notify_all();  // whoever watches the device sees the report taken
    d.changed.wait(lock, [&] { return !d.holdCompletedReads || !d.attached; });
    const size_t n = std::min(size, report.size());
    std::copy_n(report.begin(), n, buffer);
    return {HidIoResult::Ok, n, 0};
  }

  using hid::IHidHandle::Write;
  HidIoResult Write(const uint8_t* report, size_t size, milliseconds limit) override {
    if (access_ != HidAccess::ReadWrite && access_ != HidAccess::WriteOnly)
      return {HidIoResult::Failed, 0, EBADF};
    SimHidPlatform::Device& d = *device_;
    const auto interval = d.config.reportInterval;
    std::unique_lock lock(d.mutex);
    const auto ready = [&] { return shut_ || !d.attached || d.takesWrites; };
    if (limit.count() > 0) {
      if (!d.changed.wait_for(lock, limit, ready)) return {HidIoResult::Failed, 0, ETIMEDOUT};
    } else {
      d.changed.wait(lock, ready);
    }
    if (interval.count() > 0 && !shut_ && d.attached) {
      const auto slot = TakeSlot(d.nextOutSlot, interval);
      d.changed.wait_until(lock, slot, [&] { return shut_ || !d.attached; });
    }
    if (shut_) return {HidIoResult::Cancelled};
    if (!d.attached) return {HidIoResult::Failed, 0, ENODEV};
    if (d.config.model) d.config.model->HandleOutputReport(report, size);
    if (++d.writesTaken == d.config.takesOutputReports) d.takesWrites = false;
    d.changed.notify_all();  // a reader may be waiting for the reply
    return {HidIoResult::Ok, size, 0};
  }

  void Shutdown() override {
    std::lock_guard lock(device_->mutex);
    shut_ = true;
    device_->changed.notify_all();
  }

 private:
  const std::shared_ptr<SimHidPlatform::Device> device_;
  const HidAccess access_;
  const std::shared_ptr<std::atomic<int>> live_;
  bool shut_ = false;  // guarded by the device's mutex
};

}  // namespace

SimHidPlatform::SimHidPlatform()
    : liveConnections_(std::make_shared<std::atomic<int>>(0)), changes_(std::make_shared<SimDeviceChanges>()) {}

SimHidPlatform::~SimHidPlatform() = default;

std::string SimHidPlatform::Attach(SimHidDeviceConfig config) {
  std::string path;
  {
    std::lock_guard lock(mutex_);
    const uint32_t n = static_cast<uint32_t>(nextNumber_++);
    path = "/sim/hidraw" + std::to_string(n);
    devices_[path] = std::make_shared<Device>(std::move(config), path, n, changes_);
    order_.push_back(path);
  }
  changes_->Raise({hid::DeviceChange::Added, path});
  return path;
}

bool SimHidPlatform::Detach(const std::string& path) {
  std::shared_ptr<Device> d;
  {
    std::lock_guard lock(mutex_);
    auto it = devices_.find(path);
    if (it == devices_.end()) return false;
    d = it->second;
    devices_.erase(it);
    std::erase(order_, path);
  }
  bool announce = false;
  {
    std::lock_guard lock(d->mutex);
    d->attached = false;
    d->changed.notify_all();
    announce = d->connections == 0;
    d->removalPending = !announce;
  }
  if (announce) changes_->Raise({hid::DeviceChange::Removed, path});
  return true;
}

std::shared_ptr<SimHidPlatform::Device> SimHidPlatform::Find(const std::string& path) const {
  std::lock_guard lock(mutex_);
  auto it = devices_.find(path);
  return it == devices_.end() ? nullptr : it->second;
}

void SimHidPlatform::SetTakesWrites(const std::string& path, bool takes) {
  std::shared_ptr<Device> d = Find(path);
  if (!d) return;
  std::lock_guard lock(d->mutex);
  d->takesWrites = takes;
  d->changed.notify_all();
}

bool SimHidPlatform::UpdateModel(const std::string& path,
                                 const std::function<void(ISimHidModel&)>& change) {
  std::shared_ptr<Device> d = Find(path);
  if (!d || !d->config.model) return false;
  std::lock_guard lock(d->mutex);
  change(*d->config.model);
  d->changed.notify_all();
  return true;
}

void SimHidPlatform::SetHoldCompletedReads(const std::string& path, bool hold) {
  std::shared_ptr<Device> d = Find(path);
  if (!d) return;
  std::lock_guard lock(d->mutex);
  d->holdCompletedReads = hold;
  d->changed.notify_all();
}

void SimHidPlatform::SetDevicePassVisible(bool visible) {
  std::lock_guard lock(mutex_);
  devicePassVisible_ = visible;
}

std::vector<SimHidPlatform::OpenRecord> SimHidPlatform::Opens() const {
  std::lock_guard lock(mutex_);
  return opens_;
}

void SimHidPlatform::ClearOpens() {
  std::lock_guard lock(mutex_);
  opens_.clear();
}

int SimHidPlatform::DevicePassCount() const {
  std::lock_guard lock(mutex_);
  return devicePasses_;
}

int SimHidPlatform::InterfacePassCount() const {
  std::lock_guard lock(mutex_);
  return interfacePasses_;
}

int SimHidPlatform::LiveConnectionHandles() const { return liveConnections_->load(); }

std::vector<std::unique_ptr<hid::TDevice>> SimHidPlatform::List() {
  std::vector<std::unique_ptr<hid::TDevice>> out;
  for (const std::string& path : order_) {
    const Device& d = *devices_.at(path);
    auto rec = std::make_unique<hid::TDevice>();
    rec->InterfacePath = path;
    rec->Description = d.config.description;
    rec->InstanceHandle = d.number;
    rec->InstanceId = "SIM\\HID\\" + std::to_string(d.number);
    rec->DriverKey = "sim-hid-" + std::to_string(d.number);
    rec->Service = "simhid";
    rec->ClassId = hid::kHidInterfaceClass;
    out.push_back(std::move(rec));
  }
  return out;
}

std::vector<std::unique_ptr<hid::TDevice>> SimHidPlatform::EnumerateDevices() {
  std::lock_guard lock(mutex_);
  ++devicePasses_;
  if (!devicePassVisible_) return {};
  return List();
}

std::vector<std::unique_ptr<hid::TDevice>> SimHidPlatform::EnumerateInterfaces() {
  std::lock_guard lock(mutex_);
  ++interfacePasses_;
  return List();
}

hid::HidOpenResult SimHidPlatform::Open(const std::string& path, HidAccess access, bool shared,
                                        bool overlapped) {
  std::lock_guard lock(mutex_);
  hid::HidOpenResult r;
  auto it = devices_.find(path);
  if (it == devices_.end()) {
    r.error = ENOENT;
  } else {
    const SimHidDeviceConfig& c = it->second->config;
    if (c.heldByOtherProcess) {
      r.error = EBUSY;
      r.sharingViolation = true;
    } else if (!overlapped && c.queryOpenError) {
      r.error = c.queryOpenError;
    } else if (overlapped && c.refusedAccess.count(access)) {
      r.error = EACCES;
    } else {
      r.handle = std::make_shared<SimHandle>(it->second, access,
                                             overlapped ? liveConnections_ : nullptr);
    }
  }
  opens_.push_back({path, access, shared, overlapped, r.handle != nullptr});
  return r;
}

}  // namespace quillet::sim
