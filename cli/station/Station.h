#pragma once
// The production station: every attached programmer (or those listed) is a slot with its own
// Programmer and SlotMachine, all on one event loop. Each seated board is given the next serial
// number, reserved in the journal before its first erase, flashed, read back whole and compared,
// and its result journaled. A fault ends that board on that slot and nothing else.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/EventLoop.h"
#include "cli/station/JournalFile.h"
#include "cli/station/JournalReport.h"
#include "cli/station/SerialNumber.h"
#include "cli/station/SlotMachine.h"
#include "engine/Wire.h"
#include "hid/Listeners.h"
#include "programmer/Programmer.h"
#include "sim/Backend.h"

namespace quillet::cli::station {

struct StationSetUp {
  std::string chip;  // the catalogue's name
  std::vector<uint8_t> image;
  std::optional<SerialPlan> serial;
  bool keepSerial = false;
  std::vector<std::string> programmers;  // serial numbers or device nodes; empty: every one
  std::optional<uint64_t> maxBoards;     // passes, then stop
  TaskFlags flags{.verify = true, .resetRun = true, .erase = true, .encrypt = false};
  std::string run;  // this run's id, in every record
};

// One slot as the dashboard shows it.
struct SlotView {
  std::string name;
  std::string node;
  SlotMachine::State state = SlotMachine::State::Gone;
  std::string phase;                     // of the board in flight
  std::optional<uint64_t> serial;        // of the board in flight
  std::optional<BoardResult> last;
  std::string lastFailure;  // in the user's language
  BoardCounts counts;
};

// A board's failure as the journal records it (English under any locale) and as the operator reads it.
struct FailureText {
  std::string recorded, shown;
};

class Station {
 public:
  struct Events {
    std::function<void(const JournalRecord& result)> boardEnded;
    std::function<void(const std::string& line)> message;  // a slot came, went or was held
    std::function<void(const std::string& slot, const std::string& line)> log;  // programmer log lines
  };
  using Clock = std::chrono::steady_clock;

  // `journal` was opened and repaired for this run; `scan` is what it held.
  Station(HidBackend backend, StationSetUp setUp, JournalFile& journal, const JournalScan& scan, Events events);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  EventLoop& Loop() { return loop_; }
  // Runs until the station has stopped taking boards and none is in flight, or StopNow.
  void Run();
  // No new board starts; those in flight finish.
  void StopArming();
  // Boards in flight are recorded interrupted and the run ends.
  void StopNow();
  // `tick` on the loop every `period` while the station runs (the dashboard, the simulated bench).
  void Every(std::chrono::milliseconds period, std::function<void()> tick);

  std::vector<SlotView> Slots() const;
  std::optional<SlotMachine::State> StateOf(const std::string& slotName) const;
  // Of the slot of the programmer with this serial number at this node.
  std::optional<SlotMachine::State> StateOf(const std::string& serial, const std::string& node) const;
  // Why the station stopped when that is a failure (the journal, the numbers ran out); empty else.
  const std::string& Failure() const { return failure_; }
  bool StoppedAtOnce() const { return stopNow_; }
  uint64_t NumbersUsed() const { return numbersUsed_; }
  std::chrono::duration<double> Elapsed() const { return Clock::now() - started_; }

 private:
  struct Slot;
  struct Board;
  struct Ticker;

  void Discover();
  void RescanAll();
  void FollowNode(Slot& slot);
  void OnConnectionChanged(Slot& slot);
  void Drive(Slot& slot);
  bool CanNumber() const;
  void StartBoard(Slot& slot);
  void Reserve(Slot& slot, std::optional<uint64_t> kept);
  void WriteBoard(Slot& slot);
  void ReadBack(Slot& slot);
  void EndBoard(Slot& slot, BoardResult result, const FailureText& failure);
  // The callback for an operation of the board in flight; ignored once that board has ended.
  Programmer::Done ForBoard(Slot& slot, Programmer::Done next);
  void BeginPhase(Slot& slot, const std::string& phase);
  void EndPhase(Slot& slot);
  void Fail(const std::string& why);
  bool BoardsInFlight() const;
  std::string Now() const;

  HidBackend backend_;
  StationSetUp setUp_;
  JournalFile& journal_;
  Events events_;
  std::string imageSha256_;
  std::optional<uint64_t> highestSerial_;
  uint64_t highestBoard_ = 0;
  std::set<uint64_t> issued_;  // every number the journal holds, for --keep-serial
  uint64_t numbersUsed_ = 0;
  uint64_t passes_ = 0;
  bool armed_ = true;
  bool stopNow_ = false;
  std::string failure_;
  Clock::time_point started_ = Clock::now();

  EventLoop loop_;
  std::vector<std::unique_ptr<Ticker>> tickers_;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::set<std::string> sharedSerials_;  // serial numbers several programmers have
  hid::Subscription deviceChanges_;
};

}  // namespace quillet::cli::station
