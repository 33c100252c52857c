#pragma once
// The window's console over one programmer: the Detect, Read and Write buttons, the chip list,
// the rescan on a device change, and what the window shows of them (buttons, progress bar, the
// read-back in the hex view). The window binds it to its controls through ConsoleView; the
// protocol, the watchdog and the log lines live in the Programmer.
//
// Threads: everything here runs on the UI thread; the Programmer hands its effects over to it.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "programmer/Programmer.h"

namespace quillet {

// What the console asks of the window. Called on the UI thread only.
class ConsoleView {
 public:
  virtual ~ConsoleView() = default;
  virtual void SetOperationButtonsEnabled(bool enabled) = 0;
  virtual void SetProgressRange(int maximum) = 0;  // and position 0
  virtual void SetProgressPosition(int position) = 0;
  // The chip's content after a read: the hex view takes exactly these bytes.
  virtual void ShowReadBack(const std::vector<uint8_t>& flash) = 0;
  // The length a Write sends: the size of the image the hex view shows.
  virtual uint32_t ImageSize() const = 0;
  // Loads the image file again before a Write (it exists).
  virtual void LoadImageFile(const std::string& path) = 0;
};

class ProgrammerConsole {
 public:
  // Binds the programmer's listener; both must outlive the console.
  ProgrammerConsole(Programmer& programmer, ConsoleView& view);
  ProgrammerConsole(const ProgrammerConsole&) = delete;
  ProgrammerConsole& operator=(const ProgrammerConsole&) = delete;

  // Discovery: rescans and opens the first programmer found, or closes a connection whose
  // programmer is gone. An open that fails raises hid::EHidError with the system's message (and,
  // for a refused permission, how to get access) for the window's error box.
  void Rescan();
  // One device added or removed.
  void DeviceChange();
  void SetProgrammerFilter(std::function<bool(const hid::THidDevice&)> accept);

  void SelectChip(const std::string& text, bool entrySelected);
  void Detect();
  void Read(TaskFlags flags);
  using Done = Programmer::Done;
  // `done` hears how the Write ended.
  void Write(TaskFlags flags, bool reloadImage, const std::string& imagePath, Done done = {});
  void WatchdogTimerFired();

  // The connection's input, for tests.
  void HidIO1AfterReceive(const uint8_t* report, uint32_t length);
  const OperationWatchdog& Watchdog() const { return programmer_.Watchdog(); }

 private:
  Programmer& programmer_;
  ConsoleView& view_;
};

}  // namespace quillet
