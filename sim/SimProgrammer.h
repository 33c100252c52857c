#pragma once
// A model of the USB programmer's device side: it answers the connect request, read and write
// tasks as the real firmware does, over a simulated flash, and can be told to misbehave.
// It has no threads: output reports go in through HandleOutputReport, and the input reports it
// produces wait in its queue until the caller takes them, as the HID reader would. It is safe to
// call from several threads at once.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "engine/Wire.h"

namespace quillet::sim {

// A flash byte with worn bits: those in stuckAtZero always read 0, those in stuckAtOne always 1,
// whatever is erased or programmed there.
struct SimStuckCell {
  uint32_t address = 0;
  uint8_t stuckAtZero = 0;
  uint8_t stuckAtOne = 0;
};

struct SimProgrammerFaults {
  // A non-zero value here is the reply sent instead of the normal one (it should have bit 7 set,
  // e.g. 0x85 to fail a read task). Zero means the operation succeeds.
  uint8_t connectReply = 0;
  uint8_t readReply = 0;
  uint8_t writeReply = 0;
  uint8_t verifyReply = 0;
  // Stop a read-back stream after this many data reports (negative: never stall).
  int stallAfterDataReports = -1;
  // Leave out this data report (0-based) of each read-back stream (negative: drop none).
  int dropDataReport = -1;
  // Answer the connect request with a check word one above the right one.
  bool wrongCheckWord = false;
  // Send a verify checksum that differs from the one over the flash.
  bool corruptChecksum = false;
  // Take the whole image and never send the verify reply.
  bool withholdChecksum = false;
  // Worn flash: a write there verifies wrong, and a read shows what the cells really hold.
  std::vector<SimStuckCell> stuckCells{};
};

struct SimProgrammerConfig {
  uint32_t flashSize = 16384;     // 16384 or 32768
  bool chipConnected = true;      // false: no target on the connector
  uint8_t firmwareType = 3;
  uint8_t firmwareVersion = 12;
  SimProgrammerFaults faults;
  // The programmer's sense of time; null: the steady clock. Tests move their own.
  std::function<std::chrono::steady_clock::time_point()> clock{};
};

class SimProgrammer {
 public:
  // A write whose image stream pauses longer than this is over, as the firmware's watchdog ends
  // it; the next report is a request again.
  static constexpr std::chrono::milliseconds kWriteStreamTimeout{2000};
  using Report = std::array<uint8_t, kReportSize>;  // report ID byte, then the payload
  using InputSink = std::function<void(const uint8_t* report, size_t length)>;

  explicit SimProgrammer(SimProgrammerConfig config = {});

  // Takes one output report as the host writes it: byte 0 the report ID, then the payload.
  // Missing bytes count as zero, extra bytes are ignored. Replies are queued, never delivered here.
  void HandleOutputReport(const uint8_t* report, size_t length);

  // Moves the oldest queued input report into `out`; false when none is queued.
  bool TakeInputReport(Report& out);
  size_t PendingInputReports() const;

  // For driving an engine directly: the sink receives queued reports one at a time, outside the
  // model's lock, so it may send output reports (the write stream) while handling one.
  void SetInputSink(InputSink sink);
  bool DeliverNext();
  size_t DeliverAll();  // until the queue is empty, including replies queued meanwhile

  // Inspection and set-up of the simulated chip.
  std::vector<uint8_t> Flash() const;
  void SetFlash(const std::vector<uint8_t>& bytes);  // from address 0; the rest keeps its content
  void SetFaults(const SimProgrammerFaults& faults);
  void SetChipConnected(bool connected);
  // Image reports still expected by a write in progress (0 when no write is under way, or when
  // its stream has paused past the watchdog).
  uint32_t PendingImageReports() const;

 private:
  void Queue(const Report& r);
  void QueuePayload(std::initializer_list<uint8_t> payload);
  void OnTask(const uint8_t* payload);
  void OnImageReport(const uint8_t* payload);
  uint8_t FlashChecksum(uint32_t size) const;
  std::chrono::steady_clock::time_point Now() const;
  bool WriteUnderWay(std::chrono::steady_clock::time_point now) const;
  void ApplyStuckCells();

  mutable std::mutex mutex_;
  SimProgrammerConfig config_;
  std::vector<uint8_t> flash_;
  std::deque<Report> queue_;
  InputSink sink_;
  // Write in progress.
  uint32_t writeSize_ = 0;
  uint32_t writeOffset_ = 0;
  uint32_t imageReportsLeft_ = 0;
  bool writeVerify_ = false;
  std::chrono::steady_clock::time_point lastWriteActivity_{};
};

}  // namespace quillet::sim
