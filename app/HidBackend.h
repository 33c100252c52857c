#pragma once
// Where the HID component finds its devices: the system's hidraw nodes with a udev monitor for
// plug and unplug, or a simulated platform with the programmer attached, for use without hardware.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "hid/DeviceChangeSource.h"
#include "hid/HidPlatform.h"
#include "hid/LinuxHidPlatform.h"
#include "sim/SimHidPlatform.h"
#include "sim/SimProgrammer.h"

namespace quillet {

struct HidBackend {
  std::shared_ptr<hid::IHidPlatform> platform;
  std::shared_ptr<hid::IDeviceChangeSource> changes;  // null: no plug notifications
  std::string changesError;                            // why there are none
  // Simulate mode only: the platform and the programmer attached to it.
  std::shared_ptr<sim::SimHidPlatform> simulator;
  std::shared_ptr<sim::SimProgrammer> programmer;
  std::string programmerPath;
};

HidBackend SystemHidBackend();
// Over other sysfs and /dev roots (a test's tree); the udev monitor is the system's all the same.
HidBackend SystemHidBackend(hid::LinuxHidPaths paths);
// The simulated programmer paced at one report per millisecond, as a full-speed device.
HidBackend SimulatedHidBackend(uint32_t flashSize);
// The same with the programmer as configured (faults, chip); `device` may adjust how it enumerates
// and takes reports before it is attached.
HidBackend SimulatedHidBackend(sim::SimProgrammerConfig config,
                               const std::function<void(sim::SimHidDeviceConfig&)>& device = {});
// Over a simulated platform the caller set up.
HidBackend SimulatedHidBackend(std::shared_ptr<sim::SimHidPlatform> platform);

}  // namespace quillet
