#pragma once
// The parts of a /dev/uhid device that need no kernel: building the events a device sends
// (create, input, destroy, replies), reading the events the kernel sends, pacing input reports,
// and finding the hidraw node the kernel made for a device. The service loop is in
// VirtualProgrammer.h.

#include <linux/uhid.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillet::sim {

struct UhidDeviceInfo {
  std::string name;    // HID_NAME; uhid devices have no USB parent, so this is the product's name
  std::string phys;    // HID_PHYS
  std::string serial;  // HID_UNIQ: the serial number the HID layer reports
  uint16_t bus = 0x03;  // BUS_USB
  uint16_t vendor = 0;
  uint16_t product = 0;
  uint32_t version = 0;
  std::vector<uint8_t> descriptor;
};

// UHID_CREATE2 for `info`; null when the descriptor is empty or does not fit. Strings longer
// than their fields are cut, keeping the terminating zero.
std::optional<uhid_event> EncodeCreate2(const UhidDeviceInfo& info);
// UHID_INPUT2 carrying `size` bytes as they travel on the wire; null when they do not fit.
std::optional<uhid_event> EncodeInput2(const uint8_t* data, size_t size);
uhid_event EncodeDestroy();
// Replies to the kernel's GET_REPORT and SET_REPORT requests; `error` is an errno value
// (0: success). The kernel waits for each, so every request must get one.
uhid_event EncodeGetReportReply(uint32_t id, uint16_t error);
uhid_event EncodeSetReportReply(uint32_t id, uint16_t error);

// One event read from /dev/uhid.
struct UhidMessage {
  enum Kind { Start, Stop, Open, Close, Output, GetReport, SetReport, Other };
  Kind kind = Other;
  uint32_t type = 0;            // the raw event type
  uint32_t id = 0;              // GetReport / SetReport: the request to answer
  uint8_t reportNumber = 0;     // GetReport / SetReport
  uint8_t reportType = 0;       // Output, GetReport, SetReport: UHID_FEATURE/OUTPUT/INPUT_REPORT
  uint64_t deviceFlags = 0;     // Start: UHID_DEV_NUMBERED_* flags
  std::vector<uint8_t> data;    // Output / SetReport: the report as the host wrote it
};

// Null when `length` is too short for the event's type or a size field is out of range.
std::optional<UhidMessage> DecodeUhidEvent(const void* bytes, size_t length);

// The wire form of a report the model queued (report ID byte first): a device without numbered
// input reports sends the payload alone; with numbered reports the ID travels too.
std::vector<uint8_t> InputWireBytes(const uint8_t* report, size_t length, bool numberedInput);

// Input reports no closer together than `interval`, as a full-speed interrupt endpoint sends one
// per 1 ms frame: the kernel keeps only 64 reports per hidraw reader and drops the rest, so a
// device that sends faster than the reader takes them loses data. A zero interval sends at once.
class ReportPacer {
 public:
  using Clock = std::chrono::steady_clock;
  explicit ReportPacer(std::chrono::microseconds interval) : interval_(interval) {}
  bool Ready(Clock::time_point now) const { return !sentAny_ || now >= last_ + interval_; }
  // When the next report may go (now or earlier when it may go at once).
  Clock::time_point NextAt() const { return sentAny_ ? last_ + interval_ : Clock::time_point::min(); }
  void Sent(Clock::time_point now) {
    last_ = now;
    sentAny_ = true;
  }
  std::chrono::microseconds Interval() const { return interval_; }

 private:
  std::chrono::microseconds interval_;
  Clock::time_point last_{};
  bool sentAny_ = false;
};

// The device node (devRoot/hidrawN) whose HID device under sysRoot has these IDs and this HID_UNIQ,
// once the node exists. When several match, the newest: the HID device directory's name ends in
// a sequence number the kernel never reuses (0003:04D8:003F.0007), unlike hidraw minors.
std::optional<std::string> FindHidrawNode(const std::string& sysRoot, const std::string& devRoot,
                                          uint16_t bus, uint16_t vendor, uint16_t product,
                                          const std::string& uniq);

}  // namespace quillet::sim
