#pragma once
// A HID platform of virtual devices, for tests, benchmarks and the program's simulate mode.
// Devices are attached and detached at run time (each raising a device-change notification), can
// refuse access modes, be held by another process, or have a descriptor, attributes or
// capabilities that cannot be read. Report transfer behaves like a USB interrupt endpoint pair:
// a write returns once the device has taken the report, a read waits until the device has one,
// both can be paced to one report per interval (1 ms at full speed), and detaching a device fails
// its pending read as an unplug does.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hid/DeviceChangeSource.h"
#include "hid/HidPlatform.h"

namespace quillet::sim {

// The device side of one virtual interface. Calls come with the device's own lock held.
class ISimHidModel {
 public:
  virtual ~ISimHidModel() = default;
  // One output report as the host wrote it: report ID byte first.
  virtual void HandleOutputReport(const uint8_t* report, size_t length) = 0;
  // The oldest waiting input report (report ID byte first); false when none waits.
  virtual bool TakeInputReport(std::vector<uint8_t>& out) = 0;
  virtual bool HasInputReport() const = 0;
};

struct SimHidDeviceConfig {
  std::string description = "HID-compliant device";
  std::string product;       // empty: the device has no such string
  std::string manufacturer;
  std::string serial;
  std::string string3;       // string descriptor 3
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint16_t version = 0x0100;
  std::vector<uint8_t> reportDescriptor;

  bool heldByOtherProcess = false;            // every open meets a sharing violation
  std::set<hid::HidAccess> refusedAccess;     // connection opens asking for these are refused
  int queryOpenError = 0;                     // non-zero: the query open fails with this error
  bool descriptorUnreadable = false;
  bool attributesUnreadable = false;
  bool capabilitiesUnreadable = false;

  // After taking this many output reports the device stops taking them, as SetTakesWrites(false)
  // would; SetTakesWrites(true) lets it take them again. Negative: no limit.
  int takesOutputReports = -1;
  std::chrono::microseconds reportInterval{0};  // 0: no pacing; 1000: full-speed interrupt
  std::shared_ptr<ISimHidModel> model;          // null: takes writes and never answers
};

// Device-change notifications, raised on the thread that attaches or detaches.
class SimDeviceChanges : public hid::IDeviceChangeSource {
 public:
  hid::Subscription Subscribe(hid::Post post, Listener listener) override {
    return listeners_.Subscribe(std::move(post), std::move(listener));
  }
  void Raise(const hid::DeviceChange& change) { listeners_.Publish(change); }

 private:
  hid::Listeners<hid::DeviceChange> listeners_;
};

class SimHidPlatform : public hid::IHidPlatform {
 public:
  struct OpenRecord {
    std::string path;
    hid::HidAccess access;
    bool shared;
    bool overlapped;
    bool succeeded;
  };

  SimHidPlatform();
  ~SimHidPlatform() override;

  // Returns the new device's interface path.
  std::string Attach(SimHidDeviceConfig config);
  // Unplugs the device: pending and later transfers on its handles fail. The removal is announced
  // once its connections (overlapped opens) have let go, at once when none is open. False if unknown.
  bool Detach(const std::string& path);
  // A device that stops taking output reports holds every write until it takes them again.
  void SetTakesWrites(const std::string& path, bool takes);
  // While held, a read that has taken a report does not return it yet, whatever happens to the
  // handle meanwhile: the transfer has completed on the bus but not yet reached the host.
  void SetHoldCompletedReads(const std::string& path, bool hold);
  // When hidden, the by-device pass finds nothing and only the by-interface pass lists devices.
  void SetDevicePassVisible(bool visible);
  // Runs `change` on the device's model under the device's lock, then wakes its waiting reader:
  // the way to make a device produce input on its own. False if the device is unknown.
  bool UpdateModel(const std::string& path, const std::function<void(ISimHidModel&)>& change);

  SimDeviceChanges& Changes() { return *changes_; }
  std::vector<OpenRecord> Opens() const;
  void ClearOpens();
  int DevicePassCount() const;
  int InterfacePassCount() const;
  // Handles of connections (overlapped opens) still held by someone.
  int LiveConnectionHandles() const;

  std::vector<std::unique_ptr<hid::TDevice>> EnumerateDevices() override;
  std::vector<std::unique_ptr<hid::TDevice>> EnumerateInterfaces() override;
  hid::HidOpenResult Open(const std::string& path, hid::HidAccess access, bool shared,
                          bool overlapped) override;

  struct Device;  // shared by the platform and the handles open on it

 private:
  std::vector<std::unique_ptr<hid::TDevice>> List();
  std::shared_ptr<Device> Find(const std::string& path) const;  // nullptr once detached

  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Device>> devices_;  // attached devices, by path
  std::vector<std::string> order_;                          // attach order
  int nextNumber_ = 0;
  bool devicePassVisible_ = true;
  int devicePasses_ = 0;
  int interfacePasses_ = 0;
  std::vector<OpenRecord> opens_;
  std::shared_ptr<std::atomic<int>> liveConnections_;
  std::shared_ptr<SimDeviceChanges> changes_;  // shared with the devices, whose handles may outlive us
};

}  // namespace quillet::sim
