#pragma once
// One programmer session of the command line: a Programmer bound to a terminal. The programmer
// hands its effects to the main thread through the event loop; each operation here starts one of
// the programmer's operations and runs the loop until its outcome comes, which the session turns
// into the command line's exit status and message.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/Backend.h"
#include "cli/CliOptions.h"
#include "cli/EventLoop.h"
#include "cli/Progress.h"
#include "engine/AppendLog.h"
#include "hex/TextLookup.h"
#include "programmer/Programmer.h"

namespace quillet::cli {

struct Outcome {
  int exit = kExitOk;
  std::string error;
  bool Ok() const { return exit == kExitOk; }
};

// The command line's words for an operation's failure, and the exit status it stands for; `what`
// names what the programmer was doing. English, or through `lookup` (the message catalogue's
// logtext::Translate) the user's language; records that outlive the run keep the English.
Outcome DescribeFailure(const OperationOutcome& o, const std::string& what, TextLookup lookup = nullptr);

class Session {
 public:
  // `log` receives the programmer's activity log lines (any thread); null: they are dropped.
  Session(HidBackend backend, Progress& progress, AppendLogHook log);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  EventLoop& Loop() { return loop_; }
  const HidBackend& Backend() const { return backend_; }

  // Finds and opens the programmer (the one with this serial number or device node, when given)
  // and waits for its answer to the connect request.
  Outcome Open(const std::string& serial, const std::string& device);
  // After the identity: the check word must be right and a chip must answer.
  Outcome CheckIdentity() const;
  std::optional<Identity> LastIdentity() const;
  std::vector<std::string> IdentityLines() const;  // as the log shows them
  // The device node and serial number of the open programmer.
  std::string OpenNode() const;
  std::string OpenSerial() const;
  int ProgrammersFound() const;

  bool Connected() const;
  // Times a programmer answered a connect request; watch mode waits for the next one.
  int Identities() const { return identities_; }

  void SelectChip(const std::string& name);
  // Reads the whole flash; `phase` names the bar and the failures.
  Outcome Read(TaskFlags flags, const std::string& phase, std::vector<uint8_t>& flash);
  struct WriteResult {
    std::optional<bool> checksumAgrees;  // nothing when verify was not asked for or none came
  };
  // Ok once the image was sent and, with verify, the programmer's checksum came back, whether it
  // agrees or not.
  Outcome Write(std::span<const uint8_t> image, TaskFlags flags, WriteResult& result);

  // Closes the connection and prints what was logged up to then, its close line included: after
  // this the loop is not run again.
  void Close();

  // The last device-change rescan that could not open the programmer (watch mode reports it).
  std::string TakeOpenError();
  bool HasOpenError() const { return !openError_.empty(); }

 private:
  void OnDeviceChange();
  void OnIdentified(const OperationOutcome& o);
  // Runs the loop until `done` has been called with the operation's outcome.
  OperationOutcome Await();
  Programmer::Done Done();

  HidBackend backend_;
  Progress& progress_;
  AppendLogHook log_;
  EventLoop loop_;
  EventLoop::Timer watchdogTimer_{loop_};
  std::unique_ptr<Programmer> programmer_;
  hid::Subscription deviceChanges_;  // its calls run on the loop and reach the programmer

  std::optional<OperationOutcome> outcome_;  // of the operation awaited
  int identities_ = 0;
  std::string phase_;  // names the progress bar
  std::string openError_;
};

}  // namespace quillet::cli
