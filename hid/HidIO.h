#pragma once
// THidIO: the HID connection component. It lists the HID interfaces the platform reports, keeps
// one of them selected by index, opens it with the first access mode the device allows, sizes its
// report buffers from the device's capabilities and hands every input report to OnAfterReceive
// from its reader thread. Output reports are written synchronously with WriteReport. The thread
// contract is TBaseIO's (BaseIO.h).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hid/BaseIO.h"
#include "hid/Device.h"
#include "hid/HidPlatform.h"

namespace quillet::hid {

// Why a report write failed.
enum class WriteFailure {
  None,
  Gone,      // the connection is closed or closing, or the device went away
  TimedOut,  // the device did not take it within WriteTimeout
  Other,
};

class THidIO : public TBaseIO {
 public:
  THidIO(TComponent* owner, std::shared_ptr<IHidPlatform> platform);
  ~THidIO() override;

  // Published properties. Change them on the UI thread while the connection is closed.
  bool SharedMode = true;  // open the device shared; hidraw nodes are always shared
  bool EnumFullMode = false;
  TThreadPriority Priority = tpNormal;  // kept, not applied to the reader thread
  // Milliseconds a report write may wait for the device to take it before it fails; 0: no limit.
  uint32_t WriteTimeout = 0;

  // Device list and selection.
  void DeviceListLoad() override;
  void DeviceListClear() override;
  void Update() override;
  void SetDeviceIndex(int index) override;
  int GetDeviceIndex() const override { return deviceIndex_; }
  THidDevice* GetDevice(int index) const;
  THidDevice* SelectedDevice() const { return selected_; }
  // Queries one interface into its record; false when it is not to be listed.
  bool LoadDeviceCapabilities(THidDevice* record, bool full);
  void UpdateDeviceDetails();
  HidOpenResult OpenHandle(const std::string& path, bool read, bool write, bool shared,
                           bool overlapped);

  // Writes one output report, report ID byte first, and returns once the device has taken it.
  // False at once when the connection is not open; false when the write fails, when the
  // connection closes meanwhile, or when the device has not taken it within WriteTimeout.
  // With `why`, a failure also says whether the device is gone, was too slow, or refused it.
  bool WriteReport(const void* buffer, unsigned size, WriteFailure* why = nullptr);
  // One synchronous read; false when the connection is not open or the read fails.
  bool ReadReport(void* buffer, unsigned size);
  // WriteReport under other names: the data as one report, nothing for an empty string.
  bool SendData(const char* data, unsigned size);
  bool SendChar(char c);
  bool SendString(const std::string& s);
  // Report transfers over the control pipe; false when closed or where the platform has none.
  bool GetInputReport(void* buffer, unsigned size);
  bool SetOutputReport(const void* buffer, unsigned size);
  bool ReadFeature(void* buffer, unsigned size);
  bool WriteFeature(const void* buffer, unsigned size);
  // Nothing is buffered on a HID link, so there is nothing to clear.
  void ClearDeviceInput() {}
  void ClearDeviceOutput() {}
  void ClearDeviceBuffers() {}

  // The buffers of the latest successful open; they stay until the next one.
  const std::vector<uint8_t>* OutputBuffer() const { return output_.get(); }
  const std::vector<uint8_t>* InputBuffer() const { return input_.get(); }
  const std::vector<uint8_t>* FeatureBuffer() const { return feature_.get(); }
  uint32_t OutputLength() const { return outputLength_; }
  uint32_t InputLength() const { return inputLength_; }
  uint32_t FeatureLength() const { return featureLength_; }
  bool OpenedForReading() const { return openedForReading_; }
  bool OpenedForWriting() const { return openedForWriting_; }

 protected:
  std::optional<TOpenedDevice> RequestDeviceHandle() override;

 private:
  struct Access {
    bool read, write;
  };

  std::vector<std::unique_ptr<TDevice>> Enumerate();
  HidOpenResult OpenForQuery(const THidDevice& record);
  void ReadStrings(IHidHandle& handle, THidDevice& record);
  bool ReadCapabilities(IHidHandle& handle, THidDevice& record);
  HidOpenResult OpenWithFirstAllowedAccess(const std::string& path, Access& used);
  void AllocateReportBuffers(const THidDevice& record);

  std::shared_ptr<IHidPlatform> platform_;
  int deviceIndex_ = 0;
  THidDevice* selected_ = nullptr;
  bool loading_ = false;

  std::shared_ptr<std::vector<uint8_t>> output_;
  std::shared_ptr<std::vector<uint8_t>> input_;
  std::shared_ptr<std::vector<uint8_t>> feature_;
  uint32_t outputLength_ = 0;
  uint32_t inputLength_ = 0;
  uint32_t featureLength_ = 0;
  bool openedForWriting_ = false;
  bool openedForReading_ = false;
};

// The text a HID string read yields: empty when it has fewer than three characters, and no longer
// than the 126 characters a string descriptor can hold.
std::string NormaliseHidString(const std::string& utf8);

}  // namespace quillet::hid
