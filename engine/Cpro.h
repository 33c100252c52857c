#pragma once
// The protocol engine between the operator console and the programmer. Bytes leave through the
// SendReport hook, payloads enter through HandleReport, and everything the operator is to see
// leaves as a typed engine event (engine/EngineEvent.h). It holds no window, no device and no text.
//
// Threads: HandleReport runs on the HID reader thread, the other operations on the UI thread.
// One recursive lock guards all state. It is never held while a report is sent, since a send may
// wait for the device, so a UI-thread call waits for the reader for at most one report's handling.
// Events are raised with the lock held, so a hook may read the engine (for example
// the task's Size) but must never wait for the UI thread: hand the effect over to it and return.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>

#include "engine/EngineEvent.h"
#include "engine/Wire.h"

namespace quillet {

enum EngineState : uint8_t { Idle = 0, ReadStream = 2 };

class CPro {
 public:
  // False when the report did not reach the device (closed connection, a write that timed out).
  using SendReportHook = std::function<bool(const uint8_t* bytes, size_t length)>;
  using EngineEventHook = std::function<void(const EngineEvent& event)>;

  CPro();
  virtual ~CPro();
  CPro(const CPro&) = delete;
  CPro& operator=(const CPro&) = delete;

  // Installed once by the creator, before any other call.
  void SetSendReport(SendReportHook hook);
  // A hook that reports nothing counts every report as sent.
  template <class Hook>
    requires std::is_void_v<std::invoke_result_t<Hook&, const uint8_t*, size_t>>
  void SetSendReport(Hook hook) {
    SetSendReport(SendReportHook([hook = std::move(hook)](const uint8_t* b, size_t n) mutable {
      hook(b, n);
      return true;
    }));
  }
  void SetEngineEvent(EngineEventHook hook);

  // Each returns whether its report reached the device.
  bool Connect();
  void SelectChip(std::string_view name);
  bool SendTask();
  // One input payload (report bytes 1-64). Bytes missing from a short payload count as zero.
  void HandleReport(const uint8_t* payload, size_t length);

  // Locked access for the console.
  int32_t Received() const;
  EngineState State() const;
  void SetState(EngineState state);  // the watchdog's reset to Idle
  ChipParams Chip() const;
  ConnectRequest Request() const;
  ProgrammerTask Task() const;
  void EditTask(const std::function<void(ProgrammerTask&)>& edit);
  // The image loader fills WriteImage in place; the buffer is kImageBufferSize bytes.
  void EditWriteImage(const std::function<void(uint8_t* image, size_t size)>& edit);
  void CopyWriteImage(size_t offset, uint8_t* out, size_t count) const;
  void CopyReadImage(size_t offset, uint8_t* out, size_t count) const;

 private:
  using Lock = std::unique_lock<std::recursive_mutex>;

  void Emit(const EngineEvent& event);
  bool Send(Lock& lock, const uint8_t* bytes, size_t length);  // unlocks for the send
  void HandleReadData(const uint8_t* payload);
  void HandleReply(Lock& lock, const uint8_t* payload);
  void StreamImage(Lock& lock);
  void CheckVerify(uint8_t deviceChecksum);

  mutable std::recursive_mutex mutex_;
  int32_t received_ = 0;
  ChipParams chip_;
  ProgrammerTask task_;
  ConnectRequest request_;
  std::unique_ptr<uint8_t[]> writeImage_;
  std::unique_ptr<uint8_t[]> readImage_;
  EngineState state_ = Idle;
  SendReportHook sendReport_;
  EngineEventHook engineEvent_;
};

}  // namespace quillet
