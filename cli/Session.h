#pragma once
// One programmer session of the command line: the console classes the window uses (discovery,
// operations, watchdog, typed engine events) bound to a terminal instead of controls. The console
// hands its effects to the main thread through the event loop; an operation is over when its
// typed events say so, when the programmer answers with a failure, or when it stops answering
// for the watchdog's interval (a write included, which the window does not guard).

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/EngineEvent.h"
#include "app/HidBackend.h"
#include "app/IdentityCheck.h"
#include "app/OperationWatchdog.h"
#include "app/ProgrammerConsole.h"
#include "cli/CliOptions.h"
#include "cli/EventLoop.h"
#include "cli/Progress.h"
#include "engine/Cpro.h"
#include "hid/HidIO.h"

namespace quillet::cli {

struct Outcome {
  int exit = kExitOk;
  std::string error;
  bool Ok() const { return exit == kExitOk; }
};

class Session {
 public:
  // `log` receives the console's activity log lines (any thread); null: they are dropped.
  Session(HidBackend backend, Progress& progress, AppendLogHook log);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  EventLoop& Loop() { return loop_; }
  const HidBackend& Backend() const { return backend_; }

  // Finds and opens the programmer (the one with this serial number or device node, when given)
  // and waits for the identity reply that discovery asks for.
  Outcome Open(const std::string& serial, const std::string& device);
  // After the identity: a chip must answer and the check word must be right.
  Outcome CheckIdentity() const;
  std::optional<Identity> LastIdentity() const;
  std::vector<std::string> IdentityLines() const;  // as the console logs them
  // The device node and serial number of the open programmer.
  std::string OpenNode() const;
  std::string OpenSerial() const;
  int ProgrammersFound() const;

  bool Connected() const;
  // Times a programmer answered discovery's connect request; watch mode waits for the next one.
  int Identities() const { return identities_; }

  void SelectChip(const std::string& name);
  // Reads the whole flash; `phase` names the bar.
  Outcome Read(TaskFlags flags, const std::string& phase, std::vector<uint8_t>& flash);
  struct WriteResult {
    std::optional<bool> checksumAgrees;  // nothing when verify was not asked for
  };
  // Ok once the image was sent and, with verify, the programmer's checksum came back, whether it
  // agrees or not.
  Outcome Write(std::span<const uint8_t> image, TaskFlags flags, WriteResult& result);

  // Closes the connection and prints what the console logged up to then, its close line
  // included: after this the loop is not run again.
  void Close();

  // The last device-change rescan that could not open the programmer (watch mode reports it).
  std::string TakeOpenError();
  bool HasOpenError() const { return !openError_.empty(); }

 private:
  class View;
  void OnEvent(const EngineEvent& event);
  void OnDeviceChange();
  void ArmGuard();
  void StopGuard();
  void OnGuardTimer();
  Outcome Await(const std::function<bool()>& finished, const std::string& what);
  Outcome Opened();

  HidBackend backend_;
  Progress& progress_;
  AppendLogHook log_;
  EventLoop loop_;
  CPro engine_;
  std::unique_ptr<View> view_;
  std::unique_ptr<hid::THidIO> hid_;
  std::unique_ptr<ProgrammerConsole> console_;
  EventLoop::Timer consoleTimer_{loop_};
  hid::Subscription deviceChanges_;  // its calls run on the loop and reach the console

  // The session's own watchdog over every wait for the programmer.
  OperationWatchdog guard_;
  EventLoop::Timer guardTimer_{loop_};
  bool guardExpired_ = false;

  // What the events told, on the main thread.
  std::optional<IdentityEvent> identity_;
  int identities_ = 0;
  std::optional<Outcome> failure_;
  bool streamDone_ = false;
  uint32_t writeSize_ = 0;
  std::optional<bool> verify_;
  bool readDone_ = false;
  std::vector<uint8_t> readBack_;
  std::string phase_;
  std::string openError_;
};

}  // namespace quillet::cli
