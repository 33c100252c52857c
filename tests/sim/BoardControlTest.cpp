// The hand at a simulated programmer's connector: commands from outside seat and remove boards,
// each with its own flash, make writes hang and pull the cable; every command is answered.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/Wire.h"
#include "sim/BoardControl.h"
#include "tests/support/TempDir.h"
#include "tests/support/Values.h"

namespace quillet::sim {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using test::TempDir;

class BoardControlTest : public ::testing::Test {
 protected:
  BoardControlTest() { config_.chipConnected = false; }
  BoardControl& Control(bool chipOn = false, SimProgrammerFaults faults = {}) {
    config_.chipConnected = chipOn;
    config_.faults = faults;
    model_ = std::make_unique<SimProgrammer>(config_);
    control_ = std::make_unique<BoardControl>(*model_, kFlash16K, chipOn, 7, faults,
                                              [this](const std::string& line) { said_.push_back(line); });
    return *control_;
  }
  // What the identity reply says about the connector (replies queued before it are passed over).
  bool ChipSeen() {
    const uint8_t connect[] = {0, 0x01, 0x00, 0x02, 0x02, 0x04, 0x00};
    model_->HandleOutputReport(connect, sizeof connect);
    control_->AfterOutput(connect, sizeof connect);
    SimProgrammer::Report r{};
    while (model_->TakeInputReport(r) && r[1] != OP_CONNECT) {
    }
    EXPECT_EQ(r[1], OP_CONNECT);
    return r[2] == 1;
  }
  // A 16 KiB write with erase and verify of `image`, its stream told to the control report by report.
  void Write(const std::vector<uint8_t>& image) {
    ProgrammerTask t;
    FillTask(t, OP_WRITE, {.verify = true, .resetRun = false, .erase = true, .encrypt = false},
             static_cast<uint32_t>(image.size()));
    auto send = [this](const uint8_t* bytes, size_t n) {
      const auto report = FrameOutputReport(bytes, n);
      model_->HandleOutputReport(report.data(), report.size());
      control_->AfterOutput(report.data(), report.size());
    };
    send(t.bytes.data(), t.bytes.size());
    for (size_t at = 0; at < image.size(); at += kPayloadSize) send(&image[at], kPayloadSize);
  }
  std::vector<uint8_t> Replies() {
    std::vector<uint8_t> ops;
    SimProgrammer::Report r{};
    while (model_->TakeInputReport(r)) ops.push_back(r[1]);
    return ops;
  }

  SimProgrammerConfig config_;
  std::unique_ptr<SimProgrammer> model_;
  std::unique_ptr<BoardControl> control_;
  std::vector<std::string> said_;
};

TEST_F(BoardControlTest, BoardsComeAndGoEachWithItsOwnFlash) {
  BoardControl& c = Control();
  EXPECT_FALSE(ChipSeen());
  EXPECT_TRUE(c.Command("seat"));
  EXPECT_TRUE(ChipSeen());
  const auto first = model_->Flash();
  EXPECT_EQ(first, FactoryFlash(kFlash16K, 7 + 1));
  EXPECT_TRUE(c.Command("remove"));
  EXPECT_FALSE(ChipSeen());
  EXPECT_TRUE(c.Command("  seat  \r"));
  const auto second = model_->Flash();
  EXPECT_NE(second, first);
  EXPECT_NE(second, std::vector<uint8_t>(kFlash16K, 0xFF));
  EXPECT_EQ(c.Boards(), 2);
  EXPECT_THAT(said_, ElementsAre("seated board 1", "removed board 1", "seated board 2"));
}

TEST_F(BoardControlTest, ABoardFromAFileAndTheFlashSavedAsItIsTakenOff) {
  TempDir dir;
  const auto content = test::RandomBytes(1000, 3);
  test::WriteFile(dir / "board in.bin", std::string(content.begin(), content.end()));
  BoardControl& c = Control();
  c.Command("seat " + (dir / "board in.bin").string());
  auto expected = content;
  expected.resize(kFlash16K, 0xFF);  // the rest of a fresh chip from a short file is erased
  EXPECT_EQ(model_->Flash(), expected);
  const auto image = test::RandomBytes(kFlash16K, 4);
  Write(image);
  c.Command("remove " + (dir / "out.bin").string());
  EXPECT_EQ(test::ReadFile(dir / "out.bin"), image);
  EXPECT_THAT(said_, ElementsAre("seated board 1", "write started on board 1", "write stream ended on board 1",
                                 "removed board 1, saved to " + (dir / "out.bin").string()));
}

TEST_F(BoardControlTest, RefusalsAreAnsweredAndChangeNothing) {
  TempDir dir;
  test::WriteFile(dir / "big.bin", std::string(kFlash16K + 1, 'x'));
  BoardControl& c = Control(true);
  EXPECT_EQ(c.Boards(), 1);  // the chip it started with
  const auto flash = model_->Flash();
  struct Row {
    std::string command;
    std::string answer;
  };
  const Row rows[] = {
      {"seat", "error: board 1 is seated; remove it first"},
      {"sit", "error: unknown command: sit"},
      {"hang now", "error: unknown command: hang now"},
      {"remove " + (dir / "no such dir" / "x.bin").string(),
       "removed board 1, not saved: cannot write " + (dir / "no such dir" / "x.bin").string()},
      {"remove", "error: no board is seated"},
      {"seat " + (dir / "missing.bin").string(), "error: cannot read " + (dir / "missing.bin").string()},
      {"seat " + (dir / "big.bin").string(), "error: " + (dir / "big.bin").string() + " is larger than the flash (16384 bytes)"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.command);
    said_.clear();
    EXPECT_TRUE(c.Command(r.command));
    EXPECT_THAT(said_, ElementsAre(r.answer));
  }
  EXPECT_FALSE(c.Seated());
  EXPECT_EQ(model_->Flash(), flash);
  said_.clear();
  EXPECT_TRUE(c.Command(""));  // a blank line is no command
  EXPECT_TRUE(said_.empty());
}

TEST_F(BoardControlTest, AHungWriteTakesTheImageAndNeverAnswersUntilToldTo) {
  SimProgrammerFaults faults;
  faults.corruptChecksum = true;  // what it was started with stays through hang and answer
  BoardControl& c = Control(true, faults);
  const auto image = test::RandomBytes(kFlash16K, 5);
  EXPECT_TRUE(c.Command("hang"));
  Write(image);
  EXPECT_THAT(Replies(), ElementsAre(OP_WRITE));
  EXPECT_EQ(model_->Flash(), image);
  EXPECT_TRUE(c.Command("answer"));
  Write(image);
  SimProgrammer::Report r{};
  ASSERT_TRUE(model_->TakeInputReport(r));
  ASSERT_TRUE(model_->TakeInputReport(r));
  EXPECT_EQ(r[1], OP_VERIFY);
  EXPECT_NE(r[2], XorChecksum(image.data(), image.size()));
  EXPECT_FALSE(c.Command("unplug"));
  EXPECT_THAT(said_, ElementsAre("writes hang", "write started on board 1", "write stream ended on board 1",
                                 "writes answer", "write started on board 1", "write stream ended on board 1",
                                 "unplugging"));
}

// A station counts a board seated or removed after two identity answers in a row: the second
// request since each change is told, once, so a script knows the change was seen.
TEST_F(BoardControlTest, TheHostsSecondIdentityRequestSinceAChangeIsTold) {
  BoardControl& c = Control();
  ChipSeen();
  ChipSeen();
  c.Command("seat");
  EXPECT_TRUE(ChipSeen());
  Write(test::RandomBytes(kFlash16K, 6));  // its task and image reports are no identity requests
  EXPECT_TRUE(ChipSeen());
  EXPECT_TRUE(ChipSeen());
  c.Command("remove");
  EXPECT_FALSE(ChipSeen());
  EXPECT_FALSE(ChipSeen());
  EXPECT_THAT(said_, ElementsAre("asked twice since board 0 was removed", "seated board 1", "write started on board 1",
                                 "write stream ended on board 1", "asked twice since board 1 was seated",
                                 "removed board 1", "asked twice since board 1 was removed"));
}

TEST(LineSplitter, LinesInPiecesOfAnySizeAndOverlongOnesCut) {
  LineSplitter s;
  std::vector<std::string> lines;
  const auto take = [&lines](std::string_view l) { lines.emplace_back(l); };
  s.Feed("se", take);
  s.Feed("at\nremove", take);
  EXPECT_THAT(lines, ElementsAre("seat"));
  s.Feed(" /tmp/a\n\nhang\n", take);
  EXPECT_THAT(lines, ElementsAre("seat", "remove /tmp/a", "", "hang"));
  lines.clear();
  s.Feed(std::string(LineSplitter::kLongest + 10, 'x'), take);
  s.Feed(std::string(LineSplitter::kLongest, 'y') + "\nseat\n", take);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::string(LineSplitter::kLongest, 'x'));
  EXPECT_EQ(lines[1], "seat");
}

}  // namespace
}  // namespace quillet::sim
