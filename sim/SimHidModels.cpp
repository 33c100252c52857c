#include "sim/SimHidModels.h"

#include "engine/Wire.h"

namespace quillet::sim {

void SimQueueModel::HandleOutputReport(const uint8_t* report, size_t length) {
  written_.emplace_back(report, report + length);
  if (echo_) input_.emplace_back(report, report + length);
}

bool SimQueueModel::TakeInputReport(std::vector<uint8_t>& out) {
  if (input_.empty()) return false;
  out = std::move(input_.front());
  input_.pop_front();
  return true;
}

void SimProgrammerModel::HandleOutputReport(const uint8_t* report, size_t length) {
  programmer_->HandleOutputReport(report, length);
}

bool SimProgrammerModel::TakeInputReport(std::vector<uint8_t>& out) {
  SimProgrammer::Report r;
  if (!programmer_->TakeInputReport(r)) return false;
  out.assign(r.begin(), r.end());
  return true;
}

bool SimProgrammerModel::HasInputReport() const { return programmer_->PendingInputReports() > 0; }

std::vector<uint8_t> VendorReportDescriptor64() {
  return {
      0x06, 0x00, 0xFF,  // usage page (vendor defined 0xFF00)
      0x09, 0x01,        // usage 1
      0xA1, 0x01,        // collection (application)
      0x15, 0x00,        //   logical minimum 0
      0x26, 0xFF, 0x00,  //   logical maximum 255
      0x75, 0x08,        //   report size 8
      0x95, 0x40,        //   report count 64
      0x09, 0x01,        //   usage 1
      0x81, 0x02,        //   input (data, variable, absolute)
      0x95, 0x40,        //   report count 64
      0x09, 0x02,        //   usage 2
      0x91, 0x02,        //   output (data, variable, absolute)
      0xC0,              // end collection
  };
}

SimHidDeviceConfig ProgrammerDeviceConfig(std::shared_ptr<SimProgrammer> programmer,
                                          std::chrono::microseconds reportInterval) {
  SimHidDeviceConfig c;
  c.description = "USB Input Device";
  c.product = "nRF24LE1/LU1 Programmer";
  c.manufacturer = "Quillet Simulation";
  c.serial = "SIM000001";
  c.vendorId = kProgrammerVendorId;
  c.productId = kProgrammerProductId;
  c.version = 0x0200;
  c.reportDescriptor = VendorReportDescriptor64();
  c.reportInterval = reportInterval;
  c.model = std::make_shared<SimProgrammerModel>(std::move(programmer));
  return c;
}

}  // namespace quillet::sim
