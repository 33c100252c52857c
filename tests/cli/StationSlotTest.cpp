// A station slot's decisions over a clock the test moves: polling, seating, one flash per
// insertion, removal, holding after failures, and the programmer going and coming back.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "cli/station/SlotMachine.h"

namespace quillet::cli::station {
namespace {

using Action = SlotMachine::Action;
using State = SlotMachine::State;
using namespace std::chrono_literals;

// A slot whose programmer answers each poll at once from a connector the test sets, with a clock
// that moves in steps of 10 ms; counts what the slot asked for.
class Bench {
 public:
  Bench() { slot.Attached(); }

  // Runs the slot for `span`, ending each flash it starts with the result `flashPasses` says.
  void Run(std::chrono::milliseconds span) {
    for (const auto end = now + span; now < end;) Step();
  }
  // Runs the slot through `count` polls answered with `answer`, and what it does right after.
  void Polls(int count, std::optional<bool> with) {
    answer = with;
    for (const int target = polls + count; polls < target;) Step();
    Step();
  }

  SlotMachine slot;
  SlotMachine::Clock::time_point now{};
  std::optional<bool> answer = false;  // the chip on the connector, or a failed request
  bool flashPasses = true;
  int polls = 0;
  int flashes = 0;
  std::vector<SlotMachine::Clock::time_point> pollTimes;

 private:
  void Step() {
    switch (slot.Next(now)) {
      case Action::Poll:
        ++polls;
        pollTimes.push_back(now);
        slot.Answered(answer);
        break;
      case Action::Flash:
        ++flashes;
        slot.BoardEnded(flashPasses);
        break;
      case Action::Wait: break;
    }
    now += 10ms;
  }
};

TEST(StationSlot, PollsAboutEvery250MsOneAtATimeAndSaysWhenNext) {
  SlotMachine slot;
  const SlotMachine::Clock::time_point t0{};
  EXPECT_EQ(slot.Next(t0), Action::Wait);  // no programmer yet
  slot.Attached();
  EXPECT_EQ(slot.Next(t0), Action::Poll);
  EXPECT_EQ(slot.Next(t0 + 300ms), Action::Wait);  // the answer is still out
  EXPECT_FALSE(slot.WakeAt());
  slot.Answered(false);
  EXPECT_EQ(slot.WakeAt(), t0 + 250ms);
  EXPECT_EQ(slot.Next(t0 + 249ms), Action::Wait);
  EXPECT_EQ(slot.Next(t0 + 250ms), Action::Poll);

  Bench bench;
  bench.Run(2s);
  EXPECT_EQ(bench.polls, 8);
  for (size_t i = 1; i < bench.pollTimes.size(); ++i) EXPECT_EQ(bench.pollTimes[i] - bench.pollTimes[i - 1], 250ms);
}

TEST(StationSlot, SeatedAfterTwoAnswersInARowAndFlashedOncePerInsertion) {
  Bench bench;
  bench.Polls(1, true);  // one answer: not yet
  EXPECT_EQ(bench.flashes, 0);
  bench.Polls(1, false);  // a bounce
  bench.Polls(1, true);
  EXPECT_EQ(bench.flashes, 0);
  bench.Polls(1, true);
  EXPECT_EQ(bench.flashes, 1);
  bench.Polls(20, true);  // the board stays: flashed once
  EXPECT_EQ(bench.flashes, 1);
  EXPECT_EQ(bench.slot.GetState(), State::Flashed);
  bench.Polls(1, false);  // one answer of none is not a removal
  bench.Polls(3, true);
  EXPECT_EQ(bench.flashes, 1);
  bench.Polls(2, false);  // two are
  EXPECT_EQ(bench.slot.GetState(), State::Empty);
  bench.Polls(2, true);  // the next board
  EXPECT_EQ(bench.flashes, 2);
}

TEST(StationSlot, AFailedRequestSaysNeitherSeatedNorRemoved) {
  Bench bench;
  bench.Polls(1, true);
  bench.Polls(1, std::nullopt);
  bench.Polls(1, true);
  EXPECT_EQ(bench.flashes, 0);
  bench.Polls(1, true);
  EXPECT_EQ(bench.flashes, 1);
  bench.Polls(1, false);
  bench.Polls(1, std::nullopt);
  bench.Polls(1, false);
  EXPECT_EQ(bench.slot.GetState(), State::Flashed);
  bench.Polls(1, false);
  EXPECT_EQ(bench.slot.GetState(), State::Empty);
}

// Seats a board, lets the slot flash it, and takes it off again.
void OneBoard(Bench& bench) {
  bench.Polls(2, true);
  bench.Polls(2, false);
}

TEST(StationSlot, ThreeFailuresInARowHoldTheSlotUntilItsProgrammerIsReplugged) {
  Bench bench;
  bench.flashPasses = false;
  OneBoard(bench);
  OneBoard(bench);
  bench.flashPasses = true;  // a pass breaks the run
  OneBoard(bench);
  bench.flashPasses = false;
  OneBoard(bench);
  OneBoard(bench);
  EXPECT_EQ(bench.flashes, 5);
  EXPECT_EQ(bench.slot.GetState(), State::Empty);
  EXPECT_EQ(bench.slot.FailuresInARow(), 2);
  bench.Polls(2, true);
  EXPECT_EQ(bench.flashes, 6);
  EXPECT_EQ(bench.slot.GetState(), State::Held);
  const int polls = bench.polls;
  bench.Run(5s);
  EXPECT_EQ(bench.flashes, 6);
  EXPECT_EQ(bench.polls, polls);  // a held slot leaves its programmer alone
  bench.slot.Detached();
  bench.slot.Attached();
  EXPECT_EQ(bench.slot.FailuresInARow(), 0);
  bench.Polls(2, false);  // the failed board is taken off first
  OneBoard(bench);
  EXPECT_EQ(bench.flashes, 7);
}

TEST(StationSlot, AProgrammerBackAfterLeavingMidBoardWaitsForThatBoardToGo) {
  Bench bench;
  bench.Polls(1, true);
  ASSERT_EQ(bench.slot.Next(bench.now + 250ms), Action::Poll);
  bench.slot.Answered(true);
  ASSERT_EQ(bench.slot.Next(bench.now + 250ms), Action::Flash);
  bench.slot.Detached();
  bench.slot.BoardEnded(false);  // its Removed outcome comes after
  EXPECT_EQ(bench.slot.GetState(), State::Gone);
  EXPECT_EQ(bench.slot.Next(bench.now + 1s), Action::Wait);
  bench.now += 1s;
  bench.slot.Attached();
  bench.Polls(10, true);  // the same board on the connector is not flashed again
  EXPECT_EQ(bench.flashes, 0);
  EXPECT_EQ(bench.slot.GetState(), State::Flashed);
  bench.Polls(2, false);  // taken off at last
  EXPECT_EQ(bench.flashes, 0);
  bench.Polls(2, true);  // the next board
  EXPECT_EQ(bench.flashes, 1);
}

TEST(StationSlot, WhileNotArmedASeatedBoardWaitsAndIsFlashedWhenArmedAgain) {
  Bench bench;
  bench.slot.SetArmed(false);
  bench.Polls(8, true);
  EXPECT_EQ(bench.flashes, 0);
  EXPECT_EQ(bench.slot.GetState(), State::Seated);
  bench.slot.SetArmed(true);
  bench.Run(10ms);
  EXPECT_EQ(bench.flashes, 1);
}

TEST(StationSlot, AWithdrawnFlashLeavesTheBoardSeatedForLater) {
  SlotMachine slot;
  const SlotMachine::Clock::time_point t0{};
  slot.Attached();
  for (auto t : {t0, t0 + 250ms}) {
    ASSERT_EQ(slot.Next(t), Action::Poll);
    slot.Answered(true);
  }
  ASSERT_EQ(slot.Next(t0 + 260ms), Action::Flash);
  slot.SetArmed(false);
  slot.BoardWithdrawn();
  EXPECT_EQ(slot.GetState(), State::Seated);
  EXPECT_EQ(slot.FailuresInARow(), 0);
  slot.SetArmed(true);
  EXPECT_EQ(slot.Next(t0 + 270ms), Action::Flash);
}

TEST(StationSlot, AProgrammerGoneWhileEmptyComesBackArmed) {
  Bench bench;
  bench.Run(1s);
  bench.slot.Detached();
  bench.slot.Attached();
  bench.Polls(2, true);
  EXPECT_EQ(bench.flashes, 1);
}

}  // namespace
}  // namespace quillet::cli::station
