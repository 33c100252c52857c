#include "engine/Cpro.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace quillet {

namespace {
using Guard = std::lock_guard<std::recursive_mutex>;
}  // namespace

CPro::CPro()
    : writeImage_(new uint8_t[kImageBufferSize]), readImage_(new uint8_t[kImageBufferSize]) {
  std::fill_n(writeImage_.get(), kImageBufferSize, kErasedByte);
  std::fill_n(readImage_.get(), kImageBufferSize, kErasedByte);
}

CPro::~CPro() = default;

void CPro::SetSendReport(SendReportHook hook) {
  Guard lock(mutex_);
  sendReport_ = std::move(hook);
}

void CPro::SetEngineEvent(EngineEventHook hook) {
  Guard lock(mutex_);
  engineEvent_ = std::move(hook);
}

void CPro::Emit(const EngineEvent& event) {
  if (engineEvent_) engineEvent_(event);
}

bool CPro::Send(Lock& lock, const uint8_t* bytes, size_t length) {
  if (!sendReport_) return false;
  // The hook is copied so that a reinstall meanwhile cannot pull it from under the call.
  const SendReportHook send = sendReport_;
  uint8_t copy[kPayloadSize];
  const size_t n = std::min(length, kPayloadSize);
  std::memcpy(copy, bytes, n);
  lock.unlock();
  const bool sent = send(copy, n);
  lock.lock();
  return sent;
}

bool CPro::Connect() {
  Lock lock(mutex_);
  Emit(ConnectEvent{});
  state_ = Idle;
  request_.bytes = ConnectRequest::kBytes;
  return Send(lock, request_.bytes.data(), request_.bytes.size());
}

void CPro::SelectChip(std::string_view name) {
  Guard lock(mutex_);
  chip_ = ChipParams{};
  for (const ChipInfo& chip : kChipCatalogue) {
    if (chip.name == name) {
      chip_.FlashSize = chip.flashSize;
      return;
    }
  }
  Emit(UnknownChipEvent{std::string(name)});
}

bool CPro::SendTask() {
  Lock lock(mutex_);
  return Send(lock, task_.bytes.data(), task_.bytes.size());
}

void CPro::HandleReport(const uint8_t* payload, size_t length) {
  // A short payload is widened with zeros so that nothing past what was given is ever read.
  uint8_t p[kPayloadSize] = {};
  if (payload) std::memcpy(p, payload, std::min(length, kPayloadSize));

  Lock lock(mutex_);
  if (state_ == ReadStream) {
    HandleReadData(p);
  } else {
    HandleReply(lock, p);
  }
}

void CPro::HandleReadData(const uint8_t* p) {
  // The console never asks for more than a chip holds; a task that asks for more than the buffer
  // holds ends its stream when the buffer is full rather than writing past it.
  const size_t at = static_cast<size_t>(received_);
  if (received_ < 0 || at + kPayloadSize > kImageBufferSize) {
    state_ = Idle;
    return;
  }
  std::memcpy(readImage_.get() + at, p, kPayloadSize);
  received_ += static_cast<int32_t>(kPayloadSize);
  if (static_cast<uint32_t>(received_) >= task_.Size() ||
      static_cast<size_t>(received_) + kPayloadSize > kImageBufferSize) {
    state_ = Idle;
  }
  Emit(ReadProgressEvent{received_});
}

void CPro::HandleReply(Lock& lock, const uint8_t* p) {
  const uint8_t b = p[0];
  if (b & OP_FAIL) {
    Emit(FailureReplyEvent{b});
    return;
  }
  switch (b & ~OP_FAIL) {
    case OP_CONNECT: {
      IdentityEvent identity;
      std::copy_n(p, identity.reply.size(), identity.reply.begin());
      identity.request = request_;
      Emit(identity);
      break;
    }
    case OP_READ:
      Emit(ReadStartEvent{task_.Size()});
      received_ = 0;
      state_ = ReadStream;
      break;
    case OP_WRITE:
      received_ = 0;
      Emit(WriteStartEvent{task_.Size()});
      StreamImage(lock);
      break;
    case OP_VERIFY:
      CheckVerify(p[1]);
      break;
    default:
      Emit(UnknownReplyEvent{b});
      break;
  }
}

void CPro::StreamImage(Lock& lock) {
  // The size is compared signed, so a length with bit 31 set streams nothing; the stream also
  // stops at the end of the buffer, whatever the task asks for. Size and chunk are taken once:
  // a task filled meanwhile on the UI thread does not change a stream under way.
  const int32_t size = static_cast<int32_t>(task_.Size());
  const int32_t chunk = static_cast<int32_t>(std::min<uint32_t>(chip_.ChunkSize, kPayloadSize));
  const int32_t limit = static_cast<int32_t>(kImageBufferSize);
  const int64_t reports = size > 0 ? (int64_t{size} + chunk - 1) / chunk : 0;
  for (int32_t s = 0; s < size && s + chunk <= limit;) {
    if (!Send(lock, writeImage_.get() + s, static_cast<size_t>(chunk))) {
      // Reported as a failure and never as complete: the chip holds part of the image at most.
      Emit(StreamStoppedEvent{s / chunk + 1, reports});
      return;
    }
    s += chunk;
    Emit(WriteProgressEvent{s});
  }
}

void CPro::CheckVerify(uint8_t deviceChecksum) {
  const size_t count = std::min<size_t>(task_.Size(), kImageBufferSize);
  const uint8_t local = XorChecksum(writeImage_.get(), count);
  Emit(VerifyEvent{local == deviceChecksum, local, deviceChecksum});
}

int32_t CPro::Received() const {
  Guard lock(mutex_);
  return received_;
}

EngineState CPro::State() const {
  Guard lock(mutex_);
  return state_;
}

void CPro::SetState(EngineState state) {
  Guard lock(mutex_);
  state_ = state;
}

ChipParams CPro::Chip() const {
  Guard lock(mutex_);
  return chip_;
}

ConnectRequest CPro::Request() const {
  Guard lock(mutex_);
  return request_;
}

ProgrammerTask CPro::Task() const {
  Guard lock(mutex_);
  return task_;
}

void CPro::EditTask(const std::function<void(ProgrammerTask&)>& edit) {
  Guard lock(mutex_);
  edit(task_);
}

void CPro::EditWriteImage(const std::function<void(uint8_t*, size_t)>& edit) {
  Guard lock(mutex_);
  edit(writeImage_.get(), kImageBufferSize);
}

namespace {
void CopyOut(const uint8_t* buffer, size_t offset, uint8_t* out, size_t count) {
  if (offset >= kImageBufferSize) return;
  std::memcpy(out, buffer + offset, std::min(count, kImageBufferSize - offset));
}
}  // namespace

void CPro::CopyWriteImage(size_t offset, uint8_t* out, size_t count) const {
  Guard lock(mutex_);
  CopyOut(writeImage_.get(), offset, out, count);
}

void CPro::CopyReadImage(size_t offset, uint8_t* out, size_t count) const {
  Guard lock(mutex_);
  CopyOut(readImage_.get(), offset, out, count);
}

}  // namespace quillet
