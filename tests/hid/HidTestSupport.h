#pragma once
// Helpers shared by the HID component tests: virtual device configurations and a recorder of the
// component's events that tests can wait on.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hid/HidIO.h"
#include "sim/SimHidModels.h"
#include "sim/SimHidPlatform.h"
#include "tests/support/Wait.h"

namespace quillet::test {

inline sim::SimHidDeviceConfig VendorDevice(uint16_t vid, uint16_t pid, std::string product = "Vendor Widget") {
  sim::SimHidDeviceConfig c;
  c.description = "HID-compliant vendor-defined device";
  c.product = std::move(product);
  c.manufacturer = "Acme Devices";
  c.serial = "SN-4711";
  c.vendorId = vid;
  c.productId = pid;
  c.reportDescriptor = sim::VendorReportDescriptor64();
  return c;
}

// A device whose input the test supplies through SimHidPlatform::UpdateModel.
inline sim::SimHidDeviceConfig QueueDevice(std::shared_ptr<sim::SimQueueModel> model) {
  sim::SimHidDeviceConfig c = VendorDevice(0x1234, 0x5678);
  c.model = std::move(model);
  return c;
}

// Records the component's events; every member may be touched from the reader thread.
class EventRecorder {
 public:
  void Bind(hid::THidIO& hid) {
    hid.OnOpen = [this](hid::TBaseIO*) { Note([&] { ++opens; }); };
    hid.OnClose = [this](hid::TBaseIO*) {
      Note([&] {
        ++closes;
        closeThreads.push_back(std::this_thread::get_id());
      });
    };
    hid.OnAfterReceive = [this](hid::TBaseIO*, const uint8_t* buffer, uint32_t received) {
      Note([&] { reports.emplace_back(buffer, buffer + received); });
    };
    hid.OnFatalError = [this](hid::TBaseIO*, uint32_t code, uint32_t detail, const std::string& msg,
                              bool& raise) {
      Note([&] {
        fatal.push_back({code, detail, msg});
        raise = raiseOnFatal;
      });
    };
  }

  template <typename Pred>
  bool WaitFor(Pred pred, std::chrono::seconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return pred(); });
  }

  struct Fatal {
    uint32_t code, detail;
    std::string msg;
  };

  std::mutex mutex;
  std::condition_variable changed;
  int opens = 0;
  int closes = 0;
  std::vector<std::thread::id> closeThreads;
  std::vector<std::vector<uint8_t>> reports;
  std::vector<Fatal> fatal;
  bool raiseOnFatal = true;

 private:
  template <typename F>
  void Note(F f) {
    std::lock_guard lock(mutex);
    f();
    changed.notify_all();
  }
};

// Waits until no connection handle of the platform is held any more (the reader has let go).
inline bool WaitForReleasedHandles(const sim::SimHidPlatform& platform,
                                   std::chrono::seconds timeout = std::chrono::seconds(10)) {
  return WaitUntil([&] { return platform.LiveConnectionHandles() == 0; }, timeout);
}

}  // namespace quillet::test
