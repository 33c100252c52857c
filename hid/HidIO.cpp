#include "hid/HidIO.h"

#include <cstdio>

namespace quillet::hid {
namespace {


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
  DoNotify(3);
}

void THidIO::Update() {
  if (loading_) return;
  TBaseIO::Update();
}

void THidIO::DeviceListLoad() {
  if (loading_) return;
  LoadingGuard guard(loading_);
  WriteLog(dlDetail, "DeviceListLoad ...");
  DeviceListClear();
  const int remembered = deviceIndex_;
  const HidGuid classId = platform_->GetHidGuid();
  auto found = platform_->EnumerateDevices(classId);
  if (found.empty()) {
    WriteLog(dlDebug, "DiEnumInstalledDevices() returns 0, trying enum interfaces only ...");
    found = platform_->EnumerateInterfaces(classId);
  }
  char line[96];
  std::snprintf(line, sizeof line, "Get detail info for device (intf) list: %u ",
                static_cast<unsigned>(found.size()));
  WriteLog(dlDebug, line);
  for (auto& entry : found) {
    std::unique_ptr<THidDevice> record = THidDevice::FromDevice(*entry);
    entry.reset();
    if (LoadDeviceCapabilities(record.get(), EnumFullMode)) {
      WriteLog(dlDebug, "Load device info: " + record->Name + "  OK!");
      AddDevice(record.release());
    } else {
      WriteLog(dlDebug, "Load device info: " + record->Name + "  FAILED!");
    }
  }
  if (remembered >= 0 && remembered < GetDeviceCount()) SetDeviceIndex(remembered);
  else selected_ = nullptr;
  std::snprintf(line, sizeof line, "Detected devices: %u ", static_cast<unsigned>(GetDeviceCount()));
  WriteLog(dlDetail, line);
}

HidOpenResult THidIO::OpenHandle(const std::string& path, bool read, bool write, bool shared,
                                 bool overlapped) {
  const HidAccess access = read && write ? HidAccess::ReadWrite
                           : read        ? HidAccess::ReadOnly
                           : write       ? HidAccess::WriteOnly
                                         : HidAccess::None;
  return platform_->Open(path, access, shared, overlapped);
}

std::string THidIO::ReadHidString(IHidHandle& handle, HidStringKind kind) {
  std::string s;
  if (!handle.GetString(kind, s)) return {};
  return NormaliseHidString(s);
}

std::string THidIO::ReadIndexedString(IHidHandle& handle, int index) {
  std::string s;
  if (!handle.GetIndexedString(index, s)) return {};
  return NormaliseHidString(s);
}

bool THidIO::LoadDeviceCapabilities(THidDevice* record, bool full) {
  if (!record) return false;
  HidOpenResult opened = OpenHandle(record->InterfacePath, false, false, true, false);
  if (!opened.handle && !opened.sharingViolation) {
    char code[16];
    std::snprintf(code, sizeof code, "%x", static_cast<unsigned>(opened.error));
    WriteLog(dlDebug, "Open device FAILED " + record->InterfacePath + " " + code + " " +
                          platform_->ErrorText(opened.error));
    return false;
  }
  WriteLog(dlDebug, "Open device OK " + record->InterfacePath + " ");
  std::shared_ptr<IHidHandle> handle = std::move(opened.handle);
  struct Release {  // on every path from here: drop the parsed descriptor, close the handle
    THidDevice* record;
    std::shared_ptr<IHidHandle>& handle;
    ~Release() {
      record->fPpd.reset();
      if (handle) handle->Shutdown();
    }
  } release{record, handle};

  if (full && handle) {
    std::string product = ReadHidString(*handle, HidStringKind::Product);
    WriteLog(dlDebug, "... GetProductString() done");
    if (!product.empty()) record->Name = product;
    std::string manufacturer = ReadHidString(*handle, HidStringKind::Manufacturer);
    WriteLog(dlDebug, "... GetManufacturerString() done");
    if (!manufacturer.empty()) record->Manufacturer = manufacturer;
    std::string serial = ReadHidString(*handle, HidStringKind::SerialNumber);
    WriteLog(dlDebug, "... GetSerialNumberString() done");
    if (serial.empty()) serial = ReadIndexedString(*handle, 3);
    if (!serial.empty()) record->SerialNumber = serial;
  }
  if (record->Name.empty()) record->Name = record->Description;
  if (!handle) return true;  // held by another process: listed without IDs or lengths

  record->fPpd = handle->GetPreparsedData();
  if (!record->fPpd) {
    WriteLog(dlDebug, "ERROR: dev.fPpd = 0 ");
    return false;
  }
  if (!handle->GetAttributes(record->Attributes)) {
    WriteLog(dlDebug, "ERROR: not HidD_GetAttributes");
    return false;
  }
  if (platform_->GetCaps(*record->fPpd, record->Caps) != HIDP_STATUS_SUCCESS) {
    WriteLog(dlDebug, "ERROR: HidP_GetCaps() <> HIDP_STATUS_SUCCESS");
    return false;
  }
  for (int type = HidP_Input; type <= HidP_Feature; ++type) {
    const auto kind = static_cast<HidReportType>(type);
    uint16_t buttons = record->Caps.Counts[type * 3];
    if (buttons) {
      auto& caps = record->ButtonCaps[type];
      caps.assign(buttons, HidCapEntry{});
      platform_->GetButtonCaps(kind, caps.data(), buttons, *record->fPpd);
      caps.resize(buttons);
    }
    WriteLog(dlDebug, "... GetButtonCaps " + std::to_string(type) + " done");
    uint16_t values = record->Caps.Counts[type * 3 + 1];
    if (values) {
      auto& caps = record->ValueCaps[type];
      caps.assign(values, HidCapEntry{});
      platform_->GetValueCaps(kind, caps.data(), values, *record->fPpd);
      caps.resize(values);
    }
    WriteLog(dlDebug, "... GetValueCaps " + std::to_string(type) + " done");
  }
  return true;
}

void THidIO::UpdateDeviceDetails() {
  if (selected_) LoadDeviceCapabilities(selected_, true);
}

std::shared_ptr<TBaseIO::Connection> THidIO::RequestDeviceHandle() {
  THidDevice* record = selected_;
  if (!record) {
    DoFatalErrors(16, 2, "Active device is not selected", false);
    return nullptr;
  }
  WriteLog(dlDetail, "try to open device " + record->InterfacePath);
  struct Attempt {
    bool read, write;
  };
  static constexpr Attempt kAttempts[] = {{true, true}, {true, false}, {false, true}, {false, false}};
  HidOpenResult opened;
  Attempt used{};
  for (const Attempt& a : kAttempts) {
    opened = OpenHandle(record->InterfacePath, a.read, a.write, SharedMode, true);
    used = a;
    if (opened.handle) break;
  }
  if (!opened.handle) {
    DoFatalErrors(16, static_cast<uint32_t>(opened.error), platform_->ErrorText(opened.error),
                  false);
    return nullptr;
  }

  auto c = std::make_shared<Connection>();
  c->handle = std::move(opened.handle);
  c->canRead = used.read;
  c->canWrite = used.write;
  c->ppd = c->handle->GetPreparsedData();
  openedForReading_ = used.read;
  openedForWriting_ = used.write;
  outputLength_ = record->GetReportLength(0);
  inputLength_ = record->GetReportLength(1);
  featureLength_ = record->GetReportLength(2);
  auto buffer = [](uint32_t length) {
    return length ? std::make_shared<std::vector<uint8_t>>(length, 0) : nullptr;
  };
  output_ = buffer(outputLength_);
  input_ = buffer(inputLength_);
  feature_ = buffer(featureLength_);
  c->input = input_;
  // A device without input reports has nothing to read; no reader is started for it.
  c->readerWanted = used.read && inputLength_ > 0;
  char line[160];
  std::snprintf(line, sizeof line, " R:%d W:%d in:%u out:%u", used.read ? 1 : 0,
                used.write ? 1 : 0, inputLength_, outputLength_);
  WriteLog(dlDetail, "device has opened " + record->InterfacePath + line);
  return c;
}

bool THidIO::WriteReport(const void* buffer, unsigned size) {
  std::shared_ptr<Connection> c = CurrentConnection();
  if (!c || !buffer) return false;
  return c->handle->Write(static_cast<const uint8_t*>(buffer), size,
                          std::chrono::milliseconds(WriteTimeout))
             .status == HidIoResult::Ok;
}

bool THidIO::ReadReport(void* buffer, unsigned size) {
  std::shared_ptr<Connection> c = CurrentConnection();
  if (!c || !buffer) return false;
  return c->handle->Read(static_cast<uint8_t*>(buffer), size).status == HidIoResult::Ok;
}

bool THidIO::SendData(const char* data, unsigned size) { return WriteReport(data, size); }

bool THidIO::SendChar(char c) { return WriteReport(&c, 1); }

bool THidIO::SendString(const std::string& s) {
  if (s.empty()) return false;
  return WriteReport(s.data(), static_cast<unsigned>(s.size()));
}

bool THidIO::GetInputReport(void* buffer, unsigned size) {
  std::shared_ptr<Connection> c = CurrentConnection();
  return c && buffer && c->handle->GetInputReport(static_cast<uint8_t*>(buffer), size);
}

bool THidIO::SetOutputReport(const void* buffer, unsigned size) {
  std::shared_ptr<Connection> c = CurrentConnection();
  const bool ok = c && buffer && c->handle->SetOutputReport(static_cast<const uint8_t*>(buffer), size);
  char line[64];
  std::snprintf(line, sizeof line, "SetOutputReport: %u %s %x", size, ok ? "OK" : "FAILED",
                ok ? 0u : 1u);
  WriteLog(dlDebug, line);
  return ok;
}

bool THidIO::ReadFeature(void* buffer, unsigned size) {
  std::shared_ptr<Connection> c = CurrentConnection();
  return c && buffer && c->handle->GetFeature(static_cast<uint8_t*>(buffer), size);
}

bool THidIO::WriteFeature(const void* buffer, unsigned size) {
  std::shared_ptr<Connection> c = CurrentConnection();
  return c && buffer && c->handle->SetFeature(static_cast<const uint8_t*>(buffer), size);
}

}  // namespace quillet::hid
