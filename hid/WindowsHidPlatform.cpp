#include "hid/WindowsHidPlatform.h"

#include <windows.h>
// hid.dll's and SetupAPI's declarations need windows.h first; mingw's hid.dll headers leave
// some of their C functions without C linkage.
extern "C" {
#include <hidsdi.h>
}
#include <setupapi.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <vector>

#include "component/WindowsText.h"
#include "hid/Device.h"
#include "hid/WindowsHidErrors.h"

namespace quillet::hid {
namespace {

// Device instance IDs are at most 200 characters (cfgmgr32's limit).
constexpr DWORD kMaxDeviceIdLength = 201;

HidIoResult Failure(int error) { return {HidIoResult::Failed, 0, error}; }
HidIoResult LastFailure() { return Failure(HidErrorOfWindowsError(::GetLastError()).error); }

std::string RegistryText(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property) {
  wchar_t buffer[512] = {};
  if (!::SetupDiGetDeviceRegistryPropertyW(set, &info, property, nullptr, reinterpret_cast<BYTE*>(buffer),
                                           sizeof buffer - sizeof(wchar_t), nullptr))
    return {};
  return NarrowToUtf8(buffer);
}

HidCapEntry EntryOf(USAGE usagePage, UCHAR reportId, BOOLEAN isRange, BOOLEAN isAbsolute, USHORT bitField,
                    USHORT link) {
  HidCapEntry e;
  e.UsagePage = usagePage;
  e.ReportID = reportId;
  e.IsRange = isRange;
  e.IsAbsolute = isAbsolute;
  e.BitField = bitField;
  e.LinkCollection = link;
  return e;
}

template <typename Cap>
void CopyUsages(const Cap& c, HidCapEntry& e) {
  if (c.IsRange) {
    e.UsageMin = c.Range.UsageMin;
    e.UsageMax = c.Range.UsageMax;
    e.DataIndexMin = c.Range.DataIndexMin;
    e.DataIndexMax = c.Range.DataIndexMax;
  } else {
    e.UsageMin = e.UsageMax = c.NotRange.Usage;
    e.DataIndexMin = e.DataIndexMax = c.NotRange.DataIndex;
  }
}

// The capabilities hid.dll derives from the device's preparsed data, in the records the HID
// component reads; reports carry an ID byte when any field has a non-zero report ID.
std::shared_ptr<HidPreparsedData> Capabilities(PHIDP_PREPARSED_DATA ppd) {
  HIDP_CAPS caps{};
  if (::HidP_GetCaps(ppd, &caps) != HIDP_STATUS_SUCCESS) return nullptr;
  auto out = std::make_shared<HidPreparsedData>();
  HidDescriptorInfo& info = out->info;
  info.caps.Usage = caps.Usage;
  info.caps.UsagePage = caps.UsagePage;
  info.caps.InputReportByteLength = caps.InputReportByteLength;
  info.caps.OutputReportByteLength = caps.OutputReportByteLength;
  info.caps.FeatureReportByteLength = caps.FeatureReportByteLength;
  info.caps.NumberLinkCollectionNodes = caps.NumberLinkCollectionNodes;
  const USHORT counts[9] = {caps.NumberInputButtonCaps,   caps.NumberInputValueCaps,   caps.NumberInputDataIndices,
                            caps.NumberOutputButtonCaps,  caps.NumberOutputValueCaps,  caps.NumberOutputDataIndices,
                            caps.NumberFeatureButtonCaps, caps.NumberFeatureValueCaps, caps.NumberFeatureDataIndices};
  std::copy(std::begin(counts), std::end(counts), info.caps.Counts.begin());
  constexpr HIDP_REPORT_TYPE kTypes[] = {::HidP_Input, ::HidP_Output, ::HidP_Feature};
  for (int type = 0; type < 3; ++type) {
    std::vector<HIDP_BUTTON_CAPS> buttons(info.caps.Counts[ButtonCapsCount(static_cast<HidReportType>(type))]);
    USHORT n = static_cast<USHORT>(buttons.size());
    if (n && ::HidP_GetButtonCaps(kTypes[type], buttons.data(), &n, ppd) == HIDP_STATUS_SUCCESS) {
      for (const HIDP_BUTTON_CAPS& b : std::vector<HIDP_BUTTON_CAPS>(buttons.begin(), buttons.begin() + n)) {
        HidCapEntry e = EntryOf(b.UsagePage, b.ReportID, b.IsRange, b.IsAbsolute, b.BitField, b.LinkCollection);
        CopyUsages(b, e);
        e.BitSize = 1;
        e.ReportCount = static_cast<uint16_t>(e.UsageMax - e.UsageMin + 1);
        e.LogicalMax = 1;
        info.numberedReports |= b.ReportID != 0;
        info.buttonCaps[type].push_back(e);
      }
    }
    std::vector<HIDP_VALUE_CAPS> values(info.caps.Counts[ValueCapsCount(static_cast<HidReportType>(type))]);
    n = static_cast<USHORT>(values.size());
    if (n && ::HidP_GetValueCaps(kTypes[type], values.data(), &n, ppd) == HIDP_STATUS_SUCCESS) {
      for (const HIDP_VALUE_CAPS& v : std::vector<HIDP_VALUE_CAPS>(values.begin(), values.begin() + n)) {
        HidCapEntry e = EntryOf(v.UsagePage, v.ReportID, v.IsRange, v.IsAbsolute, v.BitField, v.LinkCollection);
        CopyUsages(v, e);
        e.BitSize = v.BitSize;
        e.ReportCount = v.ReportCount;
        e.LogicalMin = v.LogicalMin;
        e.LogicalMax = v.LogicalMax;
        info.numberedReports |= v.ReportID != 0;
        info.valueCaps[type].push_back(e);
      }
    }
  }
  return out;
}

// Ends an overlapped transfer that is still pending and waits until Windows has let go of the
// buffer and the OVERLAPPED.
void CancelAndWait(HANDLE h, OVERLAPPED& io) {
  DWORD n = 0;
  ::CancelIoEx(h, &io);
  ::GetOverlappedResult(h, &io, &n, TRUE);
}

class WindowsHidHandle : public IHidHandle {
 public:
  WindowsHidHandle(HANDLE h, bool overlapped)
      : h_(h), overlapped_(overlapped), shutdown_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~WindowsHidHandle() override {
    ::CloseHandle(h_);
    if (shutdown_) ::CloseHandle(shutdown_);
  }

  bool GetString(HidStringKind kind, std::string& out) override {
    wchar_t text[128] = {};  // the longest a USB string descriptor holds, and its end
    const ULONG size = sizeof text - sizeof(wchar_t);
    const BOOLEAN ok = kind == HidStringKind::Product        ? ::HidD_GetProductString(h_, text, size)
                       : kind == HidStringKind::Manufacturer ? ::HidD_GetManufacturerString(h_, text, size)
                                                             : ::HidD_GetSerialNumberString(h_, text, size);
    if (!ok || !text[0]) return false;
    out = NarrowToUtf8(text);
    return true;
  }

  bool GetIndexedString(int index, std::string& out) override {
    wchar_t text[128] = {};
    if (!::HidD_GetIndexedString(h_, static_cast<ULONG>(index), text, sizeof text - sizeof(wchar_t)) || !text[0])
      return false;
    out = NarrowToUtf8(text);
    return true;
  }

  std::shared_ptr<const HidPreparsedData> GetPreparsedData() override {
    PHIDP_PREPARSED_DATA ppd = nullptr;
    if (!::HidD_GetPreparsedData(h_, &ppd)) return nullptr;
    std::shared_ptr<const HidPreparsedData> caps = Capabilities(ppd);
    ::HidD_FreePreparsedData(ppd);
    return caps;
  }

  bool GetAttributes(HidAttributes& out) override {
    HIDD_ATTRIBUTES a{};
    a.Size = sizeof a;
    if (!::HidD_GetAttributes(h_, &a)) return false;
    out.VendorID = a.VendorID;
    out.ProductID = a.ProductID;
    out.VersionNumber = a.VersionNumber;
    return true;
  }

  // Windows gives each input report with its ID byte first (0 for devices without numbered
  // reports), as the component wants it.
  HidIoResult Read(uint8_t* buffer, size_t size) override {
    if (!buffer || size == 0) return Failure(EINVAL);
    return Transfer(
        [&](OVERLAPPED& io) { return ::ReadFile(h_, buffer, static_cast<DWORD>(size), nullptr, &io); }, INFINITE);
  }

  using IHidHandle::Write;
  HidIoResult Write(const uint8_t* report, size_t size, std::chrono::milliseconds limit) override {
    if (!report || size == 0) return Failure(EINVAL);
    const DWORD wait = limit.count() > 0 ? static_cast<DWORD>(std::min<int64_t>(limit.count(), INFINITE - 1))
                                         : INFINITE;
    return Transfer(
        [&](OVERLAPPED& io) { return ::WriteFile(h_, report, static_cast<DWORD>(size), nullptr, &io); }, wait);
  }

  void Shutdown() override {
    if (shut_.exchange(true)) return;
    // The event stays set, so every later transfer ends at once too.
    if (shutdown_) ::SetEvent(shutdown_);
  }

  bool GetFeature(uint8_t* buffer, size_t size) override {
    return !shut_ && size && ::HidD_GetFeature(h_, buffer, static_cast<ULONG>(size));
  }
  bool SetFeature(const uint8_t* buffer, size_t size) override {
    return !shut_ && size && ::HidD_SetFeature(h_, const_cast<uint8_t*>(buffer), static_cast<ULONG>(size));
  }
  bool GetInputReport(uint8_t* buffer, size_t size) override {
    return !shut_ && size && ::HidD_GetInputReport(h_, buffer, static_cast<ULONG>(size));
  }
  bool SetOutputReport(const uint8_t* buffer, size_t size) override {
    return !shut_ && size && ::HidD_SetOutputReport(h_, const_cast<uint8_t*>(buffer), static_cast<ULONG>(size));
  }

 private:
  // One overlapped read or write, ended by its completion, Shutdown or `wait` milliseconds
  // (ETIMEDOUT). A query handle is not overlapped and takes no transfers.
  template <typename Start>
  HidIoResult Transfer(Start start, DWORD wait) {
    if (!overlapped_ || !shutdown_) return Failure(EBADF);
    if (shut_) return {HidIoResult::Cancelled};
    OVERLAPPED io{};
    io.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!io.hEvent) return LastFailure();
    struct CloseEvent {
      HANDLE e;
      ~CloseEvent() { ::CloseHandle(e); }
    } closeEvent{io.hEvent};
    if (!start(io) && ::GetLastError() != ERROR_IO_PENDING) return LastFailure();
    const HANDLE waits[2] = {io.hEvent, shutdown_};
    const DWORD woke = ::WaitForMultipleObjects(2, waits, FALSE, wait);
    if (woke == WAIT_OBJECT_0 + 1) {
      CancelAndWait(h_, io);
      return {HidIoResult::Cancelled};
    }
    if (woke == WAIT_TIMEOUT) {
      CancelAndWait(h_, io);
      return Failure(ETIMEDOUT);
    }
    DWORD n = 0;
    if (!::GetOverlappedResult(h_, &io, &n, TRUE)) {
      if (::GetLastError() == ERROR_OPERATION_ABORTED) return {HidIoResult::Cancelled};
      return LastFailure();
    }
    return {HidIoResult::Ok, n, 0};
  }

  const HANDLE h_;
  const bool overlapped_;
  const HANDLE shutdown_;  // set by Shutdown; null when it could not be made (transfers then fail)
  std::atomic<bool> shut_{false};
};

std::vector<std::unique_ptr<TDevice>> Enumerate(bool withDevice) {
  std::vector<std::unique_ptr<TDevice>> out;
  GUID hid{};
  ::HidD_GetHidGuid(&hid);
  const HDEVINFO set = ::SetupDiGetClassDevsW(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return out;
  SP_DEVICE_INTERFACE_DATA iface{};
  iface.cbSize = sizeof iface;
  for (DWORD i = 0; ::SetupDiEnumDeviceInterfaces(set, nullptr, &hid, i, &iface); ++i) {
    DWORD size = 0;
    ::SetupDiGetDeviceInterfaceDetailW(set, &iface, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
    std::vector<uint8_t> storage(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    if (!::SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, size, nullptr, &info)) continue;
    auto d = std::make_unique<TDevice>();
    d->ClassId = kHidInterfaceClass;
    d->InterfacePath = NarrowToUtf8(detail->DevicePath);
    if (withDevice) {
      d->InstanceHandle = info.DevInst;
      wchar_t id[kMaxDeviceIdLength] = {};
      if (::SetupDiGetDeviceInstanceIdW(set, &info, id, kMaxDeviceIdLength, nullptr)) d->InstanceId = NarrowToUtf8(id);
      d->Description = RegistryText(set, info, SPDRP_DEVICEDESC);
      d->Service = RegistryText(set, info, SPDRP_SERVICE);
      d->DriverKey = RegistryText(set, info, SPDRP_DRIVER);
      d->PhysicalObjectName = RegistryText(set, info, SPDRP_PHYSICAL_DEVICE_OBJECT_NAME);
    }
    out.push_back(std::move(d));
  }
  ::SetupDiDestroyDeviceInfoList(set);
  return out;
}

}  // namespace

std::vector<std::unique_ptr<TDevice>> WindowsHidPlatform::EnumerateDevices() { return Enumerate(true); }

std::vector<std::unique_ptr<TDevice>> WindowsHidPlatform::EnumerateInterfaces() { return Enumerate(false); }

namespace {

HANDLE OpenPath(const std::wstring& path, DWORD rights, bool shared, bool overlapped) {
  return ::CreateFileW(path.c_str(), rights, shared ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0, nullptr, OPEN_EXISTING,
                       overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
}

HidOpenResult OpenFailure(DWORD windowsError) {
  const HidErrorOfWindows e = HidErrorOfWindowsError(windowsError);
  HidOpenResult result;
  result.error = e.error;
  result.sharingViolation = e.sharingViolation;
  return result;
}

}  // namespace

HidOpenResult WindowsHidPlatform::Open(const std::string& path, HidAccess access, bool shared, bool overlapped) {
  DWORD rights = 0;
  switch (access) {
    case HidAccess::ReadWrite: rights = GENERIC_READ | GENERIC_WRITE; break;
    case HidAccess::ReadOnly: rights = GENERIC_READ; break;
    case HidAccess::WriteOnly: rights = GENERIC_WRITE; break;
    case HidAccess::None: break;
  }
  const std::wstring widePath = WidenUtf8(path);
  if (access == HidAccess::None && overlapped) {
    const HANDLE reading = OpenPath(widePath, GENERIC_READ, shared, false);
    const DWORD readError = ::GetLastError();
    const HANDLE writing = reading == INVALID_HANDLE_VALUE ? OpenPath(widePath, GENERIC_WRITE, shared, false) : reading;
    if (writing == INVALID_HANDLE_VALUE) return OpenFailure(readError);
    ::CloseHandle(writing);
  }
  const HANDLE h = OpenPath(widePath, rights, shared, overlapped);
  if (h == INVALID_HANDLE_VALUE) return OpenFailure(::GetLastError());
  HidOpenResult result;
  result.handle = std::make_shared<WindowsHidHandle>(h, overlapped);
  return result;
}

std::string WindowsHidPlatform::ErrorText(int error) { return HidErrorText(error); }

}  // namespace quillet::hid
