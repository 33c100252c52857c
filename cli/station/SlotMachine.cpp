#include "cli/station/SlotMachine.h"

namespace quillet::cli::station {

bool SlotMachine::Polls() const {
  return state_ == State::Empty || state_ == State::Seated || state_ == State::Flashed;
}

SlotMachine::Action SlotMachine::Next(Clock::time_point now) {
  if (state_ == State::Seated && armed_) {
    state_ = State::Flashing;
    return Action::Flash;
  }
  if (!Polls() || pollOutstanding_) return Action::Wait;
  if (lastPoll_ && now < *lastPoll_ + kPollInterval) return Action::Wait;
  pollOutstanding_ = true;
  lastPoll_ = now;
  return Action::Poll;
}

std::optional<SlotMachine::Clock::time_point> SlotMachine::WakeAt() const {
  if (!Polls() || pollOutstanding_ || !lastPoll_) return std::nullopt;
  return *lastPoll_ + kPollInterval;
}

void SlotMachine::Attached() {
  if (state_ != State::Gone) return;
  // A board that was on the connector when the programmer went may still be there: it had its
  // turn, so the slot waits for it to be taken off.
  state_ = boardSeen_ ? State::Flashed : State::Empty;
  present_ = absent_ = 0;
  failuresInARow_ = 0;
  pollOutstanding_ = false;
  lastPoll_.reset();
}

void SlotMachine::Detached() {
  if (state_ == State::Gone) return;
  boardSeen_ = state_ != State::Empty;
  state_ = State::Gone;
  pollOutstanding_ = false;
}

void SlotMachine::Answered(std::optional<bool> chipPresent) {
  if (!pollOutstanding_) return;
  pollOutstanding_ = false;
  if (!chipPresent) {
    present_ = absent_ = 0;
    return;
  }
  present_ = *chipPresent ? present_ + 1 : 0;
  absent_ = *chipPresent ? 0 : absent_ + 1;
  if ((state_ == State::Seated || state_ == State::Flashed) && absent_ >= kAnswersToRemove) {
    state_ = State::Empty;
    present_ = 0;
  } else if (state_ == State::Empty && present_ >= kAnswersToSeat) {
    state_ = State::Seated;
    absent_ = 0;
  }
}

void SlotMachine::BoardEnded(bool passed) {
  failuresInARow_ = passed ? 0 : failuresInARow_ + 1;
  if (state_ != State::Flashing) return;  // the programmer went meanwhile
  present_ = absent_ = 0;
  lastPoll_.reset();
  state_ = failuresInARow_ >= kFailuresToHold ? State::Held : State::Flashed;
}

void SlotMachine::BoardWithdrawn() {
  if (state_ == State::Flashing) state_ = State::Seated;
}

}  // namespace quillet::cli::station
