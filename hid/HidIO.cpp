#include "hid/HidIO.h"

#include <cerrno>

namespace quillet::hid {
namespace {

// Linux's error for a write to a USB device that is gone; a C library without it has no such
// case, and ENODEV stands in, which the same test already takes.
#ifdef ESHUTDOWN
constexpr int kShutDown = ESHUTDOWN;
#else
constexpr int kShutDown = ENODEV;
#endif

// Number of code points in a UTF-8 text (continuation bytes are not counted).
size_t CodePoints(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

struct LoadingGuard {
  explicit LoadingGuard(bool& flag) : flag(flag) { flag = true; }
  ~LoadingGuard() { flag = false; }
  bool& flag;
};

// Ends a query on every path: drops the parsed descriptor and closes the query handle.
struct QueryRelease {
  THidDevice& record;
  IHidHandle* handle;
  ~QueryRelease() {
    record.fPpd.reset();
    if (handle) handle->Shutdown();
  }
};

std::string ReadHidString(IHidHandle& handle, HidStringKind kind) {
  std::string s;
  if (!handle.GetString(kind, s)) return {};
  return NormaliseHidString(s);
}

std::string ReadIndexedString(IHidHandle& handle, int index) {
  std::string s;
  if (!handle.GetIndexedString(index, s)) return {};
  return NormaliseHidString(s);
}

// The record's arrays for a report type; one the descriptor declares none of is left as it was.
void CopyCapArray(const std::vector<HidCapEntry>& from, std::vector<HidCapEntry>& to) {
  if (!from.empty()) to = from;
}

std::shared_ptr<std::vector<uint8_t>> ReportBuffer(uint32_t length) {
  return length ? std::make_shared<std::vector<uint8_t>>(length, 0) : nullptr;
}

}  // namespace

std::string NormaliseHidString(const std::string& utf8) {
  constexpr size_t kMaxCharacters = 126;  // 252 bytes of UTF-16
  std::string s = utf8;
  size_t chars = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
    if (chars++ == kMaxCharacters) {
      s.resize(i);
      break;
    }
  }
  if (CodePoints(s) < 3) return {};
  return s;
}

THidIO::THidIO(TComponent* owner, std::shared_ptr<IHidPlatform> platform)
    : TBaseIO(owner, "HID: "), platform_(std::move(platform)) {}

THidIO::~THidIO() {
  // The reader must be gone before the members it reaches through DoInputData are.
  Shutdown();
  DeviceListClear();
}

void THidIO::DeviceListClear() {
  selected_ = nullptr;
  TBaseIO::DeviceListClear();
}

THidDevice* THidIO::GetDevice(int index) const {
  return static_cast<THidDevice*>(GetDeviceRecord(index));
}

void THidIO::SetDeviceIndex(int index) {
  deviceIndex_ = index;
  selected_ = index < 0 ? nullptr : GetDevice(index);
  DoNotify(kNotifyDeviceList);
}

void THidIO::Update() {
  if (loading_) return;
  TBaseIO::Update();
}

// ---- the device list ----

void THidIO::DeviceListLoad() {
  if (loading_) return;
  LoadingGuard guard(loading_);
  WriteLog(dlDetail, "DeviceListLoad ...");
  DeviceListClear();
  const int remembered = deviceIndex_;
  std::vector<std::unique_ptr<TDevice>> found = Enumerate();
  WriteLog(dlDebug, "Get detail info for device (intf) list: %zu ", found.size());
  for (auto& entry : found) {
    std::unique_ptr<THidDevice> record = THidDevice::FromDevice(*entry);
    entry.reset();
    const bool listed = LoadDeviceCapabilities(record.get(), EnumFullMode);
    WriteLog(dlDebug, "Load device info: %s  %s", record->Name.c_str(), listed ? "OK!" : "FAILED!");
    if (listed) AddDevice(record.release());
  }
  if (remembered >= 0 && remembered < GetDeviceCount()) SetDeviceIndex(remembered);
  else selected_ = nullptr;
  WriteLog(dlDetail, "Detected devices: %d ", GetDeviceCount());
}

// The first pass lists by device; the second, by interface, runs only when the first finds none.
std::vector<std::unique_ptr<TDevice>> THidIO::Enumerate() {
  std::vector<std::unique_ptr<TDevice>> found = platform_->EnumerateDevices();
  if (!found.empty()) return found;
  WriteLog(dlDebug, "DiEnumInstalledDevices() returns 0, trying enum interfaces only ...");
  return platform_->EnumerateInterfaces();
}

bool THidIO::LoadDeviceCapabilities(THidDevice* record, bool full) {
  if (!record) return false;
  HidOpenResult opened = OpenForQuery(*record);
  if (!opened.handle && !opened.sharingViolation) return false;
  const std::shared_ptr<IHidHandle> handle = std::move(opened.handle);  // null: held elsewhere
  const QueryRelease release{*record, handle.get()};
  if (full && handle) ReadStrings(*handle, *record);
  if (record->Name.empty()) record->Name = record->Description;
  if (!handle) return true;  // held by another process: listed without IDs or lengths
  return ReadCapabilities(*handle, *record);
}

HidOpenResult THidIO::OpenForQuery(const THidDevice& record) {
  HidOpenResult opened = OpenHandle(record.InterfacePath, /*read=*/false, /*write=*/false,
                                    /*shared=*/true, /*overlapped=*/false);
  if (opened.handle || opened.sharingViolation) {
    WriteLog(dlDebug, "Open device OK %s ", record.InterfacePath.c_str());
  } else {
    WriteLog(dlDebug, "Open device FAILED %s %x %s", record.InterfacePath.c_str(),
             static_cast<unsigned>(opened.error), platform_->ErrorText(opened.error).c_str());
  }
  return opened;
}

void THidIO::ReadStrings(IHidHandle& handle, THidDevice& record) {
  const std::string product = ReadHidString(handle, HidStringKind::Product);
  WriteLog(dlDebug, "... GetProductString() done");
  if (!product.empty()) record.Name = product;
  const std::string manufacturer = ReadHidString(handle, HidStringKind::Manufacturer);
  WriteLog(dlDebug, "... GetManufacturerString() done");
  if (!manufacturer.empty()) record.Manufacturer = manufacturer;
  std::string serial = ReadHidString(handle, HidStringKind::SerialNumber);
  WriteLog(dlDebug, "... GetSerialNumberString() done");
  if (serial.empty()) serial = ReadIndexedString(handle, kSerialNumberStringIndex);
  if (!serial.empty()) record.SerialNumber = serial;
}

// The parsed descriptor, the attributes, then the capabilities and their arrays, which the
// descriptor holds; false, with the reason logged, when one of them cannot be read.
bool THidIO::ReadCapabilities(IHidHandle& handle, THidDevice& record) {
  record.fPpd = handle.GetPreparsedData();
  if (!record.fPpd) {
    WriteLog(dlDebug, "ERROR: dev.fPpd = 0 ");
    return false;
  }
  if (!handle.GetAttributes(record.Attributes)) {
    WriteLog(dlDebug, "ERROR: not HidD_GetAttributes");
    return false;
  }
  if (!record.fPpd->CapabilitiesReadable()) {
    WriteLog(dlDebug, "ERROR: HidP_GetCaps() <> HIDP_STATUS_SUCCESS");
    return false;
  }
  const HidDescriptorInfo& info = record.fPpd->info;
  record.Caps = info.caps;
  for (const HidReportType type : {HidP_Input, HidP_Output, HidP_Feature}) {
    CopyCapArray(info.buttonCaps[type], record.ButtonCaps[type]);
    WriteLog(dlDebug, "... GetButtonCaps %d done", static_cast<int>(type));
    CopyCapArray(info.valueCaps[type], record.ValueCaps[type]);
    WriteLog(dlDebug, "... GetValueCaps %d done", static_cast<int>(type));
  }
  return true;
}

void THidIO::UpdateDeviceDetails() {
  if (selected_) LoadDeviceCapabilities(selected_, true);
}

HidOpenResult THidIO::OpenHandle(const std::string& path, bool read, bool write, bool shared,
                                 bool overlapped) {
  const HidAccess access = read && write ? HidAccess::ReadWrite
                           : read        ? HidAccess::ReadOnly
                           : write       ? HidAccess::WriteOnly
                                         : HidAccess::None;
  return platform_->Open(path, access, shared, overlapped);
}

// ---- the connection ----

std::optional<TBaseIO::TOpenedDevice> THidIO::RequestDeviceHandle() {
  const THidDevice* record = selected_;
  if (!record) {
    DoFatalErrors(kFatalOpenFailed, kFatalDetailNoDevice, "Active device is not selected", false);
    return std::nullopt;
  }
  const std::string& path = record->InterfacePath;
  WriteLog(dlDetail, "try to open device %s", path.c_str());
  Access used{};
  HidOpenResult opened = OpenWithFirstAllowedAccess(path, used);
  if (!opened.handle) {
    DoFatalErrors(kFatalOpenFailed, static_cast<uint32_t>(opened.error),
                  platform_->ErrorText(opened.error), false);
    return std::nullopt;
  }
  TOpenedDevice device;
  device.handle = std::move(opened.handle);
  device.ppd = device.handle->GetPreparsedData();
  device.canRead = used.read;
  openedForReading_ = used.read;
  openedForWriting_ = used.write;
  AllocateReportBuffers(*record);
  device.input = input_;
  WriteLog(dlDetail, "device has opened %s R:%d W:%d in:%u out:%u", path.c_str(), used.read ? 1 : 0,
           used.write ? 1 : 0, inputLength_, outputLength_);
  return device;
}

// Read and write, read only, write only, then no access; the result of the first that opens, or
// of the last attempt.
HidOpenResult THidIO::OpenWithFirstAllowedAccess(const std::string& path, Access& used) {
  static constexpr Access kAttempts[] = {{true, true}, {true, false}, {false, true}, {false, false}};
  HidOpenResult opened;
  for (const Access& a : kAttempts) {
    opened = OpenHandle(path, a.read, a.write, SharedMode, /*overlapped=*/true);
    used = a;
    if (opened.handle) break;
  }
  return opened;
}

void THidIO::AllocateReportBuffers(const THidDevice& record) {
  outputLength_ = record.GetReportLength(rkOutput);
  inputLength_ = record.GetReportLength(rkInput);
  featureLength_ = record.GetReportLength(rkFeature);
  output_ = ReportBuffer(outputLength_);
  input_ = ReportBuffer(inputLength_);
  feature_ = ReportBuffer(featureLength_);
}

bool THidIO::WriteReport(const void* buffer, unsigned size, WriteFailure* why) {
  const auto fail = [why](WriteFailure failure) {
    if (why) *why = failure;
    return false;
  };
  const std::shared_ptr<IHidHandle> handle = CurrentHandle();
  if (!handle) return fail(WriteFailure::Gone);
  if (!buffer) return fail(WriteFailure::Other);
  const HidIoResult r = handle->Write(static_cast<const uint8_t*>(buffer), size,
                                      std::chrono::milliseconds(WriteTimeout));
  if (r.status == HidIoResult::Ok) {
    if (why) *why = WriteFailure::None;
    return true;
  }
  // The errors a node gives once its device has been unplugged.
  if (r.status == HidIoResult::Cancelled || r.error == ENODEV || r.error == EIO || r.error == ENXIO ||
      r.error == kShutDown || r.error == EPIPE)
    return fail(WriteFailure::Gone);
  return fail(r.error == ETIMEDOUT ? WriteFailure::TimedOut : WriteFailure::Other);
}

bool THidIO::ReadReport(void* buffer, unsigned size) {
  const std::shared_ptr<IHidHandle> handle = CurrentHandle();
  if (!handle || !buffer) return false;
  return handle->Read(static_cast<uint8_t*>(buffer), size).status == HidIoResult::Ok;
}

bool THidIO::SendData(const char* data, unsigned size) { return WriteReport(data, size); }

bool THidIO::SendChar(char c) { return WriteReport(&c, 1); }

bool THidIO::SendString(const std::string& s) {
  if (s.empty()) return false;
  return WriteReport(s.data(), static_cast<unsigned>(s.size()));
}

bool THidIO::GetInputReport(void* buffer, unsigned size) {
  const std::shared_ptr<IHidHandle> handle = CurrentHandle();
  return handle && buffer && handle->GetInputReport(static_cast<uint8_t*>(buffer), size);
}

bool THidIO::SetOutputReport(const void* buffer, unsigned size) {
  const std::shared_ptr<IHidHandle> handle = CurrentHandle();
  const bool ok =
      handle && buffer && handle->SetOutputReport(static_cast<const uint8_t*>(buffer), size);
  WriteLog(dlDebug, "SetOutputReport: %u %s %x", size, ok ? "OK" : "FAILED", ok ? 0u : 1u);
  return ok;
}

bool THidIO::ReadFeature(void* buffer, unsigned size) {
  const std::shared_ptr<IHidHandle> handle = CurrentHandle();
  return handle && buffer && handle->GetFeature(static_cast<uint8_t*>(buffer), size);
}

bool THidIO::WriteFeature(const void* buffer, unsigned size) {
  const std::shared_ptr<IHidHandle> handle = CurrentHandle();
  return handle && buffer && handle->SetFeature(static_cast<const uint8_t*>(buffer), size);
}

}  // namespace quillet::hid
