#pragma once
// The HID platform over Windows: devices through SetupAPI's HID interface class, strings,
// attributes and capabilities from hid.dll (report lengths from the device's preparsed data), and
// report I/O on overlapped handles that Shutdown cancels. Windows' HID class driver serves every
// HID device, so no driver of ours is needed.

#include "hid/HidPlatform.h"

namespace quillet::hid {

class WindowsHidPlatform : public IHidPlatform {
 public:
  std::vector<std::unique_ptr<TDevice>> EnumerateDevices() override;
  // The same interfaces, without what the device's own record adds.
  std::vector<std::unique_ptr<TDevice>> EnumerateInterfaces() override;
  // Query opens (no access, shared) work for every HID device, keyboards and mice included;
  // `shared` false asks for the device alone, as a program holding it exclusively does.
  // A connection without access could do nothing: it fails as opening for reading failed when the
  // device can be neither read nor written (held by another program, or refused to this user).
  HidOpenResult Open(const std::string& path, HidAccess access, bool shared, bool overlapped) override;
  std::string ErrorText(int error) override;
};

}  // namespace quillet::hid
