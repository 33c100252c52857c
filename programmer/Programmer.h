#pragma once
// One attached programmer: its HID connection and its engine, and the operations a front end asks
// of it (open and identify, Detect, Read, Write, read-back Verify). Each operation reports typed
// progress and ends exactly once with a typed outcome (programmer/Outcome.h); one watchdog guards
// every operation, and its expiry ends the operation as a timeout. The activity log's lines are
// formatted here from the engine's events (programmer/LogText.h).
//
// Threads. Operations, Rescan, Close and the watchdog timer belong to the owner's thread (the
// window's UI thread, the command line's loop). Input reports, the engine's events and the close
// after an unplug arrive on the HID reader thread, which is never held up: log lines go to the
// log hook, and everything the owner is told (progress, outcomes, connection changes) is handed to
// its thread through the host's post, in event order, with the data it carries copied at the
// event. Several programmers may run side by side; they share nothing.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/AppendLog.h"
#include "engine/Cpro.h"
#include "hid/HidIO.h"
#include "programmer/OperationWatchdog.h"
#include "programmer/Outcome.h"

namespace quillet {

// A report the programmer does not take within this time fails instead of blocking its sender.
inline constexpr uint32_t kReportWriteTimeoutMs = 1000;

// Added to the system's message when the programmer's device node may not be opened. English, as
// the outcome carries it; the front end that shows it looks it up in the message catalogue.
extern const char kProgrammerAccessHint[];

// What a programmer needs from its owner's event loop.
struct ProgrammerHost {
  AppendLogHook appendLog;                          // any thread; must not block
  std::function<void(std::function<void()>)> post;  // runs a call on the owner's thread, in order
  // The watchdog's one-shot timer on the owner's thread; when it fires, call WatchdogTimerFired.
  std::function<void(std::chrono::milliseconds)> startTimer;
  std::function<void()> stopTimer;
  std::function<OperationWatchdog::Clock::time_point()> now = OperationWatchdog::Clock::now;
};

// What the owner hears besides outcomes; each on the owner's thread, any of them may be empty.
struct ProgrammerListener {
  // An operation sent its request; `total` is the byte count its progress runs to.
  std::function<void(Operation, uint32_t total)> started;
  // Bytes streamed so far, below the total (the end shows as the outcome).
  std::function<void(Operation, uint32_t done, uint32_t total)> progress;
  // The connection opened, closed or failed; ask IsOpen for where it stands now.
  std::function<void()> connectionChanged;
};

class Programmer {
 public:
  using Done = std::function<void(const OperationOutcome&)>;
  // A Write's image: the front end puts it into the engine's WriteImage and returns its length,
  // or nothing to stop the Write (having said why).
  using ImageSource = std::function<std::optional<uint32_t>()>;

  Programmer(std::shared_ptr<hid::IHidPlatform> platform, ProgrammerHost host);
  // Closes the connection and waits for its reader.
  ~Programmer();
  Programmer(const Programmer&) = delete;
  Programmer& operator=(const Programmer&) = delete;

  // Bound before the first operation.
  void SetListener(ProgrammerListener listener);
  // Discovery takes only programmers this accepts (none set: the first programmer found), so a
  // front end can pick one of several by serial number or device node.
  void SetFilter(std::function<bool(const hid::THidDevice&)> accept);

  struct RescanResult {
    bool opened = false;  // a new connection was opened and its connect request sent
    std::optional<OperationFailure> failure;  // PermissionRefused or OpenFailed
  };
  // Lists the devices again and opens the first programmer accepted, or closes a connection whose
  // programmer is gone. A new connection is asked who it is; with `identified`, that request is
  // an Identify operation under the watchdog, and `identified` gets its outcome.
  RescanResult Rescan(Done identified = {});
  void Close();
  bool IsOpen() const;
  // The open (or last opened) programmer's node and serial number; empty before any.
  std::string Node() const;
  std::string Serial() const;
  // Programmers in the last listing, accepted or not.
  int ProgrammersListed() const;
  std::optional<Identity> LastIdentity() const;
  // The last identity reply with the request it answered, for its log lines.
  std::optional<IdentityEvent> LastIdentityReply() const;

  void SelectChip(std::string_view name);
  void Detect(Done done = {});
  // The whole flash of the chosen chip.
  void Read(TaskFlags flags, Done done = {});
  void Write(TaskFlags flags, const ImageSource& image, Done done = {});
  // Puts `image` into WriteImage (erased bytes after it, so the last report carries no stale
  // bytes) and writes it.
  void Write(std::span<const uint8_t> image, TaskFlags flags, Done done = {});
  // Reads the whole flash back and compares it with `image`.
  void Verify(std::vector<uint8_t> image, TaskFlags flags, Done done = {});
  void WatchdogTimerFired();
  // A line of the owner's into this programmer's log, in order with the programmer's own.
  void AppendLog(const std::string& line) const { Log(line); }

  CPro& Engine() { return engine_; }
  hid::THidIO& Connection() { return hid_; }
  const OperationWatchdog& Watchdog() const { return watchdog_; }

  // The connection's input (bound by the constructor; public for tests).
  void HidIO1AfterReceive(const uint8_t* report, uint32_t length);

 private:
  struct Pending;

  void Log(const std::string& line) const;
  void Post(std::function<void()> call) const;
  void ConnectionChanged() const;
  bool SendReport(const uint8_t* bytes, size_t length);
  void ArmWatchdog();
  void StopWatchdog();
  void StartRead(Operation operation, TaskFlags flags, std::vector<uint8_t> image, Done done);

  // Operation bookkeeping; Begin ends an operation still running as Replaced.
  void Begin(Operation operation, Done done, uint32_t size, bool verify,
             std::vector<uint8_t> image = {});
  // Ends the operation under way, if `which` accepts it; false when none was ended.
  bool Finish(const std::function<bool(const Pending&)>& which,
              const std::function<void(Pending&, OperationOutcome&)>& fill);
  void FinishNow(Operation operation, const Done& done, OperationFailure failure) const;

  // Reader-thread handlers.
  void OnEngineEvent(const EngineEvent& event);
  void OnIdentity(const IdentityEvent& event);
  void OnReadProgress(int32_t received);
  void OnWriteProgress(int32_t sent);
  void OnStreamStopped(const StreamStoppedEvent& event);
  void OnVerify(const VerifyEvent& event);
  void OnFailureReply(uint8_t reply);
  void OnOpen();
  void OnClose();
  void OnFatalError(uint32_t detail);

  ProgrammerHost host_;
  ProgrammerListener listener_;
  CPro engine_;
  OperationWatchdog watchdog_;
  std::function<bool(const hid::THidDevice&)> accept_;

  mutable std::mutex mutex_;  // guards what follows; never held across a call out
  std::unique_ptr<Pending> pending_;
  std::optional<IdentityEvent> lastIdentity_;
  hid::WriteFailure lastSendFailure_ = hid::WriteFailure::None;
  uint32_t lastFatalError_ = 0;
  std::string node_;
  std::string serial_;

  // Last: the reader calls into everything above, so it goes first, waiting for its reader.
  hid::THidIO hid_;
};

}  // namespace quillet
