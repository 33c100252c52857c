// The Windows HID backend's own logic, run under Wine: its error mapping, its listing of the
// system's HID devices (Wine has one of its own, which is no programmer), an open of a path that
// is not there, a pending read ended by the close, and the device notifications' messages.

#include <gtest/gtest.h>

#include <windows.h>
#include <dbt.h>

#include <cerrno>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hid/HidIO.h"
#include "hid/WindowsDeviceChanges.h"
#include "hid/WindowsHidErrors.h"
#include "hid/WindowsHidPlatform.h"
#include "programmer/Programmer.h"

namespace quillet::hid {
namespace {

struct ErrorCase {
  DWORD windows;
  int error;
  bool sharingViolation;
  const char* text;  // part of the user's message
};

TEST(WindowsHidErrors, EachWin32ErrorIsTheFailureItIsOnLinux) {
  const ErrorCase cases[] = {
      {ERROR_SHARING_VIOLATION, EBUSY, true, "held by another program"},
      {ERROR_ACCESS_DENIED, EACCES, false, "denied"},
      {ERROR_FILE_NOT_FOUND, ENOENT, false, "no such device"},
      {ERROR_PATH_NOT_FOUND, ENOENT, false, "no such device"},
      {ERROR_DEVICE_NOT_CONNECTED, ENODEV, false, "removed"},
      {ERROR_DEVICE_REMOVED, ENODEV, false, "removed"},
      {ERROR_GEN_FAILURE, ENODEV, false, "removed"},
      {ERROR_BAD_COMMAND, ENODEV, false, "removed"},
      {ERROR_SEM_TIMEOUT, ETIMEDOUT, false, ""},
      {ERROR_NOT_ENOUGH_MEMORY, ENOMEM, false, ""},
      {ERROR_INVALID_PARAMETER, EINVAL, false, ""},
      {0xDEAD, EIO, false, ""},
  };
  for (const ErrorCase& c : cases) {
    const HidErrorOfWindows e = HidErrorOfWindowsError(c.windows);
    EXPECT_EQ(e.error, c.error) << c.windows;
    EXPECT_EQ(e.sharingViolation, c.sharingViolation) << c.windows;
    EXPECT_NE(HidErrorText(e.error).find(c.text), std::string::npos) << c.windows << ": " << HidErrorText(e.error);
  }
}

// The component's listing over the Windows backend.
std::vector<THidDevice> Listed() {
  THidIO hid(nullptr, std::make_shared<WindowsHidPlatform>());
  hid.EnumFullMode = true;
  hid.Update();
  std::vector<THidDevice> listed;
  for (int i = 0; i < hid.GetDeviceCount(); ++i) listed.push_back(*hid.GetDevice(i));
  return listed;
}

TEST(WindowsHidPlatform, ListsTheSystemsHidDevicesWithTheirAttributesAndLengths) {
  const std::vector<THidDevice> listed = Listed();
  ASSERT_FALSE(listed.empty()) << "Wine lists a HID device of its own";
  for (const THidDevice& d : listed) {
    EXPECT_EQ(d.InterfacePath.rfind("\\\\?\\", 0), 0u) << d.InterfacePath;
    EXPECT_EQ(d.ClassId, kHidInterfaceClass);
    EXPECT_FALSE(d.Name.empty()) << d.InterfacePath;
    EXPECT_NE(d.GetUsagePage(), 0) << d.InterfacePath;
    EXPECT_GT(d.GetReportLength(rkInput) + d.GetReportLength(rkFeature) + d.GetReportLength(rkOutput), 0)
        << d.InterfacePath;
  }
}

TEST(WindowsHidPlatform, NoDeviceOfTheSystemIsTakenForTheProgrammer) {
  const std::vector<THidDevice> listed = Listed();
  ASSERT_FALSE(listed.empty());
  ProgrammerHost host;
  host.appendLog = [](const std::string&) {};
  host.post = [](std::function<void()> call) { call(); };
  host.startTimer = [](std::chrono::milliseconds) {};
  host.stopTimer = [] {};
  Programmer programmer(std::make_shared<WindowsHidPlatform>(), host);
  const Programmer::RescanResult r = programmer.Rescan();
  EXPECT_FALSE(r.opened);
  EXPECT_FALSE(r.failure);
  EXPECT_FALSE(programmer.IsOpen());
  EXPECT_EQ(programmer.ProgrammersListed(), 0);
}

TEST(WindowsHidPlatform, APathThatIsNotThereFailsEveryOpenAsNoSuchDevice) {
  WindowsHidPlatform platform;
  const std::string path = "\\\\?\\hid#vid_04d8&pid_003f#0&0000&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  for (const HidAccess access : {HidAccess::ReadWrite, HidAccess::ReadOnly, HidAccess::None}) {
    for (const bool overlapped : {false, true}) {
      const HidOpenResult r = platform.Open(path, access, true, overlapped);
      EXPECT_FALSE(r.handle);
      EXPECT_EQ(r.error, ENOENT) << static_cast<int>(access) << overlapped;
      EXPECT_FALSE(r.sharingViolation);
    }
  }
  EXPECT_EQ(platform.ErrorText(ENOENT), "no such device");
}

TEST(WindowsHidPlatform, APendingReadEndsCancelledWhenTheConnectionCloses) {
  const std::vector<THidDevice> listed = Listed();
  ASSERT_FALSE(listed.empty());
  WindowsHidPlatform platform;
  const THidDevice& d = listed.front();
  const HidOpenResult opened = platform.Open(d.InterfacePath, HidAccess::ReadOnly, true, true);
  ASSERT_TRUE(opened.handle) << platform.ErrorText(opened.error);
  std::vector<uint8_t> buffer(std::max<size_t>(d.GetReportLength(rkInput), 64));
  // Nothing touches the device during the test, so the read waits until it is cancelled.
  auto read = std::async(std::launch::async, [&] { return opened.handle->Read(buffer.data(), buffer.size()); });
  EXPECT_EQ(read.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  opened.handle->Shutdown();
  EXPECT_EQ(read.get().status, HidIoResult::Cancelled);
  EXPECT_EQ(opened.handle->Read(buffer.data(), buffer.size()).status, HidIoResult::Cancelled) << "and every later one";
}

TEST(WindowsHidPlatform, AQueryHandleTakesNoTransfers) {
  const std::vector<THidDevice> listed = Listed();
  ASSERT_FALSE(listed.empty());
  WindowsHidPlatform platform;
  const HidOpenResult opened = platform.Open(listed.front().InterfacePath, HidAccess::None, true, false);
  ASSERT_TRUE(opened.handle);
  uint8_t report[65] = {};
  EXPECT_EQ(opened.handle->Write(report, sizeof report).error, EBADF);
  HidAttributes attributes;
  EXPECT_TRUE(opened.handle->GetAttributes(attributes));
  EXPECT_EQ(attributes.VendorID, listed.front().GetVendorId());
}

// A WM_DEVICECHANGE broadcast for an interface, as Windows sends it.
struct Broadcast {
  DEV_BROADCAST_DEVICEINTERFACE_W header{};
  wchar_t rest[64] = {};
  explicit Broadcast(const wchar_t* name, DWORD type = DBT_DEVTYP_DEVICEINTERFACE) {
    header.dbcc_size = sizeof *this;
    header.dbcc_devicetype = type;
    std::wcscpy(header.dbcc_name, name);
  }
};

TEST(WindowsDeviceChanges, ArrivalAndRemovalOfAnInterfaceAreChangesAndNothingElseIs) {
  Broadcast iface(L"\\\\?\\HID#VID_04D8&PID_003F#7&1");
  Broadcast volume(L"", DBT_DEVTYP_VOLUME);
  const auto added = WindowsDeviceChanges::ChangeOfMessage(DBT_DEVICEARRIVAL, &iface);
  ASSERT_TRUE(added);
  EXPECT_EQ(added->kind, DeviceChange::Added);
  EXPECT_EQ(added->node, "\\\\?\\HID#VID_04D8&PID_003F#7&1");
  const auto removed = WindowsDeviceChanges::ChangeOfMessage(DBT_DEVICEREMOVECOMPLETE, &iface);
  ASSERT_TRUE(removed);
  EXPECT_EQ(removed->kind, DeviceChange::Removed);
  EXPECT_FALSE(WindowsDeviceChanges::ChangeOfMessage(DBT_DEVICEQUERYREMOVE, &iface));
  EXPECT_FALSE(WindowsDeviceChanges::ChangeOfMessage(DBT_DEVNODES_CHANGED, nullptr));
  EXPECT_FALSE(WindowsDeviceChanges::ChangeOfMessage(DBT_DEVICEARRIVAL, &volume));
}

}  // namespace
}  // namespace quillet::hid
