#pragma once
// One station slot's decisions, without its programmer or a clock of its own: when to ask whether
// a chip is on the connector, when a board counts as seated or removed, when to flash it, and when
// the slot is held for failing too often. The owner tells it what happened and does what it says.

#include <chrono>
#include <optional>

namespace quillet::cli::station {

class SlotMachine {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kPollInterval{250};
  static constexpr int kAnswersToSeat = 2;     // in a row saying a chip is there
  static constexpr int kAnswersToRemove = 2;   // in a row saying none is
  static constexpr int kFailuresToHold = 3;    // boards in a row

  enum class State {
    Gone,      // the programmer is not attached
    Empty,     // armed: waiting for a board
    Seated,    // a board is on the connector and not flashed yet (arming is off)
    Flashing,  // the owner is flashing it
    Flashed,   // done with this board: waiting for it to be taken off
    Held,      // failed too often: nothing until the programmer is replugged
  };
  enum class Action { Wait, Poll, Flash };

  // What to do at `now`. Poll: ask the programmer now, and report the answer; Flash: flash the
  // board now, and report its end. Wait: nothing until WakeAt or the next event.
  Action Next(Clock::time_point now);
  std::optional<Clock::time_point> WakeAt() const;

  void Attached();
  void Detached();
  // The answer to a poll: whether a chip is there, or nothing when the request failed (which says
  // neither, so it breaks both runs of answers).
  void Answered(std::optional<bool> chipPresent);
  void BoardEnded(bool passed);
  // The flash asked for never began (the station stopped first): the board is seated, untouched.
  void BoardWithdrawn();
  // While off, a seated board waits; the station turns it off to stop taking boards.
  void SetArmed(bool armed) { armed_ = armed; }

  State GetState() const { return state_; }
  int FailuresInARow() const { return failuresInARow_; }

 private:
  bool Polls() const;

  State state_ = State::Gone;
  bool armed_ = true;
  bool pollOutstanding_ = false;
  std::optional<Clock::time_point> lastPoll_;
  int present_ = 0;  // answers in a row saying a chip is there
  int absent_ = 0;
  int failuresInARow_ = 0;
  bool boardSeen_ = false;  // a board of this slot was seated when its programmer went
};

}  // namespace quillet::cli::station
