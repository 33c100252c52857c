#pragma once
// Device models for the simulated HID platform: the programmer, and a plain device whose input
// a test supplies and whose output it inspects.

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "sim/SimHidPlatform.h"
#include "sim/SimProgrammer.h"

namespace quillet::sim {

// Input reports come from a queue that the owner fills; output reports are kept, and with echo
// each one is also queued back as input.
class SimQueueModel : public ISimHidModel {
 public:
  explicit SimQueueModel(bool echo = false) : echo_(echo) {}
  void HandleOutputReport(const uint8_t* report, size_t length) override;
  bool TakeInputReport(std::vector<uint8_t>& out) override;
  bool HasInputReport() const override { return !input_.empty(); }

  // Call these through SimHidPlatform::UpdateModel, which holds the device's lock.
  void QueueInput(std::vector<uint8_t> report) { input_.push_back(std::move(report)); }
  void DropInput() { input_.clear(); }
  const std::vector<std::vector<uint8_t>>& Written() const { return written_; }

 private:
  bool echo_;
  std::deque<std::vector<uint8_t>> input_;
  std::vector<std::vector<uint8_t>> written_;
};

class SimProgrammerModel : public ISimHidModel {
 public:
  explicit SimProgrammerModel(std::shared_ptr<SimProgrammer> programmer)
      : programmer_(std::move(programmer)) {}
  void HandleOutputReport(const uint8_t* report, size_t length) override;
  bool TakeInputReport(std::vector<uint8_t>& out) override;
  bool HasInputReport() const override;

 private:
  std::shared_ptr<SimProgrammer> programmer_;
};

// A vendor-defined interface with one 64-byte input and one 64-byte output report, no report ID.
std::vector<uint8_t> VendorReportDescriptor64();

// The programmer as it enumerates: its IDs (engine/Wire.h), strings and 65-byte reports,
// optionally paced.
SimHidDeviceConfig ProgrammerDeviceConfig(std::shared_ptr<SimProgrammer> programmer,
                                          std::chrono::microseconds reportInterval = {});

}  // namespace quillet::sim
