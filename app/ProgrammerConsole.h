#pragma once
// The console side of programming, without any window: finding the programmer and following
// plug and unplug, the Detect, Read and Write operations, the receive handler that feeds the
// engine, the engine's events turned into log lines and view updates, and the operation watchdog.
// The window binds it to its controls through ConsoleView.
//
// Threads. Operations, discovery and the watchdog timer run on the UI thread. Input reports, the
// engine's events and the close after an unplug run on the HID reader thread, which must never
// be held up: log lines go to the thread-safe log, everything the view shows is handed to the UI
// thread through the host's Post in event order, and read-back data is copied at the event.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/EngineEvent.h"
#include "app/OperationWatchdog.h"
#include "engine/Cpro.h"
#include "hid/HidIO.h"

namespace quillet {

// A report the programmer does not take within this time fails instead of blocking its sender.
inline constexpr uint32_t kReportWriteTimeoutMs = 1000;

// Added to the system's message when the programmer's device node may not be opened.
extern const char kProgrammerAccessHint[];

// What the console asks of the window. Called on the UI thread only.
class ConsoleView {
 public:
  virtual ~ConsoleView() = default;
  virtual void SetOperationButtonsEnabled(bool enabled) = 0;
  virtual void SetProgressRange(int maximum) = 0;  // and position 0
  virtual void SetProgressPosition(int position) = 0;
  // The chip's content after a read: the hex view takes exactly these bytes.
  virtual void ShowReadBack(const std::vector<uint8_t>& flash) = 0;
  // The hex view's data size: the length a Write sends.
  virtual uint32_t ImageSize() const = 0;
  // Loads the image file again before a Write (it exists).
  virtual void LoadImageFile(const std::string& path) = 0;
  // Starts, or starts again, the one-shot watchdog timer; its expiry calls WatchdogTimerFired.
  virtual void StartWatchdogTimer(std::chrono::milliseconds delay) = 0;
  virtual void StopWatchdogTimer() = 0;
};

struct ConsoleHost {
  AppendLogHook appendLog;                           // any thread
  std::function<void(std::function<void()>)> post;   // runs a call on the UI thread later, in order
  std::function<OperationWatchdog::Clock::time_point()> now = OperationWatchdog::Clock::now;
  // Optional, for a front end that follows an operation to its end: each engine event once the
  // console has handled it, on the thread that raised it (the reader). It must not block.
  std::function<void(const EngineEvent&)> engineEvent{};
};

class ProgrammerConsole {
 public:
  // Installs the engine's hooks and binds the connection's events; both must outlive the console,
  // and the connection must be closed and its reader gone before the console is destroyed.
  ProgrammerConsole(CPro& engine, hid::THidIO& hid, ConsoleView& view, ConsoleHost host);
  ProgrammerConsole(const ProgrammerConsole&) = delete;
  ProgrammerConsole& operator=(const ProgrammerConsole&) = delete;

  // Discovery: rescans and opens the first programmer found, or closes a connection whose
  // programmer is gone. An open that fails raises hid::EHidError with the system's message.
  void UpdateUsbBridge();
  // One device added or removed.
  void DeviceChange();
  // Discovery takes only programmers this accepts (none set: the first programmer found), so a
  // front end can pick one of several by serial number or device node.
  void SetProgrammerFilter(std::function<bool(const hid::THidDevice&)> accept);

  // Operations.
  void SelectChip(const std::string& text, bool entrySelected);
  void Detect();
  void Read(TaskFlags flags);
  void Write(TaskFlags flags, bool reloadImage, const std::string& imagePath);
  void WatchdogTimerFired();

  // The connection's and the engine's events (bound by the constructor; public for tests).
  void HidIO1Open();
  void HidIO1Close();
  void HidIO1FatalError(uint32_t detail, bool& raiseException);
  void HidIO1AfterReceive(const uint8_t* report, uint32_t length);
  void OnEngineEvent(const EngineEvent& event);

  const OperationWatchdog& Watchdog() const { return watchdog_; }

 private:
  void AppendLog(const std::string& message) const;
  void UpdateCtrlStatus();
  void ArmWatchdog();
  void StopWatchdog();
  bool SendReport(const uint8_t* bytes, size_t length);
  void ReadFinished(int32_t received);

  CPro& engine_;
  hid::THidIO& hid_;
  ConsoleView& view_;
  ConsoleHost host_;
  OperationWatchdog watchdog_;
  uint32_t lastFatalError_ = 0;
  std::function<bool(const hid::THidDevice&)> accept_;
};

}  // namespace quillet
