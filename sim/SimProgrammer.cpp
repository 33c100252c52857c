#include "sim/SimProgrammer.h"

#include <algorithm>
#include <cstring>

#include "engine/Wire.h"

namespace quillet::sim {

namespace {
using Lock = std::lock_guard<std::mutex>;
// A read task larger than this is answered as a failure: no real chip comes close.
constexpr uint32_t kLargestTask = kImageBufferSize;
}  // namespace

SimProgrammer::SimProgrammer(SimProgrammerConfig config)
    : config_(std::move(config)), flash_(config_.flashSize, 0xFF) {
  ApplyStuckCells();
}

std::chrono::steady_clock::time_point SimProgrammer::Now() const {
  return config_.clock ? config_.clock() : std::chrono::steady_clock::now();
}

bool SimProgrammer::WriteUnderWay(std::chrono::steady_clock::time_point now) const {
  return imageReportsLeft_ > 0 && now - lastWriteActivity_ <= kWriteStreamTimeout;
}

void SimProgrammer::ApplyStuckCells() {
  for (const SimStuckCell& cell : config_.faults.stuckCells) {
    if (cell.address >= flash_.size()) continue;
    uint8_t& byte = flash_[cell.address];
    byte = static_cast<uint8_t>((byte & ~cell.stuckAtZero) | cell.stuckAtOne);
  }
}

void SimProgrammer::HandleOutputReport(const uint8_t* report, size_t length) {
  uint8_t payload[kPayloadSize] = {};
  if (report && length > 1) std::memcpy(payload, report + 1, std::min(length - 1, kPayloadSize));

  Lock lock(mutex_);
  const auto now = Now();
  if (WriteUnderWay(now)) {
    lastWriteActivity_ = now;
    OnImageReport(payload);
    return;
  }
  imageReportsLeft_ = 0;  // a stream cut short has ended
  switch (payload[0]) {
    case OP_CONNECT: {
      if (config_.faults.connectReply) {
        QueuePayload({config_.faults.connectReply});
        break;
      }
      uint16_t check = static_cast<uint16_t>((payload[2] ^ payload[3]) | LoadU16(&payload[4]));
      if (config_.faults.wrongCheckWord) ++check;
      QueuePayload({OP_CONNECT, static_cast<uint8_t>(config_.chipConnected ? 1 : 0),
                    config_.firmwareType, config_.firmwareVersion, static_cast<uint8_t>(check),
                    static_cast<uint8_t>(check >> 8)});
      break;
    }
    case OP_READ:
    case OP_WRITE:
      OnTask(payload);
      break;
    default:
      break;  // the firmware ignores what it does not know
  }
}

void SimProgrammer::OnTask(const uint8_t* payload) {
  const uint8_t op = payload[ProgrammerTask::kOp];
  const uint32_t size = LoadU32(&payload[ProgrammerTask::kSize]);
  const uint8_t failure = op | OP_FAIL;
  const uint8_t injected = op == OP_READ ? config_.faults.readReply : config_.faults.writeReply;
  if (injected) {
    QueuePayload({injected});
    return;
  }
  if (!config_.chipConnected || size > kLargestTask ||
      (op == OP_WRITE && size > flash_.size())) {
    QueuePayload({failure});
    return;
  }

  if (op == OP_READ) {
    QueuePayload({OP_READ});
    const uint32_t reports = (size + kPayloadSize - 1) / kPayloadSize;
    const int stall = config_.faults.stallAfterDataReports;
    for (uint32_t k = 0; k < reports; ++k) {
      if (stall >= 0 && k >= static_cast<uint32_t>(stall)) break;
      if (static_cast<int>(k) == config_.faults.dropDataReport) continue;
      Report r{};
      for (size_t i = 0; i < kPayloadSize; ++i) {
        const size_t address = k * kPayloadSize + i;
        r[1 + i] = address < flash_.size() ? flash_[address] : 0xFF;
      }
      Queue(r);
    }
    return;
  }

  if (payload[ProgrammerTask::kErase]) {
    std::fill(flash_.begin(), flash_.end(), 0xFF);
    ApplyStuckCells();
  }
  lastWriteActivity_ = Now();
  writeSize_ = size;
  writeOffset_ = 0;
  imageReportsLeft_ = (size + kPayloadSize - 1) / kPayloadSize;
  writeVerify_ = payload[ProgrammerTask::kVerify] != 0;
  QueuePayload({OP_WRITE});
  if (imageReportsLeft_ == 0 && writeVerify_) {
    QueuePayload({OP_VERIFY, FlashChecksum(0)});
  }
}

void SimProgrammer::OnImageReport(const uint8_t* payload) {
  for (size_t i = 0; i < kPayloadSize; ++i) {
    const uint32_t address = writeOffset_ + static_cast<uint32_t>(i);
    if (address >= writeSize_) break;
    flash_[address] &= payload[i];  // programming can only clear bits
  }
  ApplyStuckCells();
  writeOffset_ += kPayloadSize;
  if (--imageReportsLeft_ > 0 || !writeVerify_ || config_.faults.withholdChecksum) return;
  if (config_.faults.verifyReply) {
    QueuePayload({config_.faults.verifyReply});
    return;
  }
  uint8_t checksum = FlashChecksum(writeSize_);
  if (config_.faults.corruptChecksum) checksum ^= 0x5A;
  QueuePayload({OP_VERIFY, checksum});
}

uint8_t SimProgrammer::FlashChecksum(uint32_t size) const {
  return XorChecksum(flash_.data(), std::min<size_t>(size, flash_.size()));
}

void SimProgrammer::Queue(const Report& r) { queue_.push_back(r); }

void SimProgrammer::QueuePayload(std::initializer_list<uint8_t> payload) {
  Report r{};
  std::copy(payload.begin(), payload.end(), r.begin() + 1);
  queue_.push_back(r);
}

bool SimProgrammer::TakeInputReport(Report& out) {
  Lock lock(mutex_);
  if (queue_.empty()) return false;
  out = queue_.front();
  queue_.pop_front();
  return true;
}

size_t SimProgrammer::PendingInputReports() const {
  Lock lock(mutex_);
  return queue_.size();
}

void SimProgrammer::SetInputSink(InputSink sink) {
  Lock lock(mutex_);
  sink_ = std::move(sink);
}

bool SimProgrammer::DeliverNext() {
  Report r;
  InputSink sink;
  {
    Lock lock(mutex_);
    if (queue_.empty()) return false;
    r = queue_.front();
    queue_.pop_front();
    sink = sink_;
  }
  if (sink) sink(r.data(), r.size());
  return true;
}

size_t SimProgrammer::DeliverAll() {
  size_t delivered = 0;
  while (DeliverNext()) ++delivered;
  return delivered;
}

std::vector<uint8_t> SimProgrammer::Flash() const {
  Lock lock(mutex_);
  return flash_;
}

void SimProgrammer::SetFlash(const std::vector<uint8_t>& bytes) {
  Lock lock(mutex_);
  std::copy_n(bytes.begin(), std::min(bytes.size(), flash_.size()), flash_.begin());
  ApplyStuckCells();
}

void SimProgrammer::SetFaults(const SimProgrammerFaults& faults) {
  Lock lock(mutex_);
  config_.faults = faults;
  ApplyStuckCells();
}

void SimProgrammer::SetChipConnected(bool connected) {
  Lock lock(mutex_);
  config_.chipConnected = connected;
}

uint32_t SimProgrammer::PendingImageReports() const {
  Lock lock(mutex_);
  return WriteUnderWay(Now()) ? imageReportsLeft_ : 0;
}

}  // namespace quillet::sim
