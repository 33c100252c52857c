// The simulate mode's test knobs: the fault list and the chip's flash kept in a file.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "sim/SimKnobs.h"
#include "tests/support/Values.h"
#include "tests/support/TempDir.h"

namespace quillet::sim {
namespace {

using ::testing::HasSubstr;
using test::RandomBytes;
using test::TempDir;

TEST(SimKnobs, EveryFaultAndItsRefusals) {
  std::string error;
  const SimKnobs k = ParseSimKnobs(
      "connect-reply=0x81,read-reply=133,write-reply=0x86,verify-reply=0x87,stall-read=4,drop-read=2,"
      "wrong-check-word,corrupt-checksum,no-chip,stuck=0x10:8:0,stuck=32:0x08:0x01,takes-output=9",
      "/tmp/f.bin", error);
  ASSERT_EQ(error, "");
  EXPECT_EQ(k.faults.connectReply, 0x81);
  EXPECT_EQ(k.faults.readReply, 0x85);
  EXPECT_EQ(k.faults.writeReply, 0x86);
  EXPECT_EQ(k.faults.verifyReply, 0x87);
  EXPECT_EQ(k.faults.stallAfterDataReports, 4);
  EXPECT_EQ(k.faults.dropDataReport, 2);
  EXPECT_TRUE(k.faults.wrongCheckWord && k.faults.corruptChecksum && !k.chipConnected);
  ASSERT_EQ(k.faults.stuckCells.size(), 2u);
  EXPECT_EQ(k.faults.stuckCells[1].address, 32u);
  EXPECT_EQ(k.faults.stuckCells[1].stuckAtOne, 1);
  EXPECT_EQ(k.takesOutputReports, 9);
  EXPECT_EQ(k.flashFile, "/tmp/f.bin");

  for (const char* bad : {"read-reply=300", "stall-read=x", "no-chip=1", "stuck=1:2", "frob", "stuck=0x10:0x08:0,0x20:8:0"}) {
    error.clear();
    ParseSimKnobs(bad, nullptr, error);
    EXPECT_THAT(error, HasSubstr("QUILLET_SIM_FAULTS: cannot use")) << bad;
  }
}

TEST(SimKnobs, RefuseAccessTakesNoValue) {
  std::string error;
  EXPECT_FALSE(ParseSimKnobs("", nullptr, error).accessRefused);
  EXPECT_TRUE(ParseSimKnobs("no-chip,refuse-access", nullptr, error).accessRefused);
  EXPECT_EQ(error, "");
  ParseSimKnobs("refuse-access=1", nullptr, error);
  EXPECT_THAT(error, HasSubstr("QUILLET_SIM_FAULTS: cannot use \"refuse-access=1\""));
}

TEST(SimKnobs, TheFlashFileOutlivesTheProgrammerAndIsReplacedWhole) {
  TempDir dir;
  const std::string file = (dir / "flash.bin").string();
  SimProgrammerConfig big;
  big.flashSize = 32768;
  SimProgrammer first(big);
  EXPECT_EQ(LoadFlashFile(file, first), "");  // no file yet: the chip stays erased
  EXPECT_EQ(first.Flash(), std::vector<uint8_t>(32768, 0xFF));
  first.SetFlash(RandomBytes(32768, 1));
  ASSERT_EQ(SaveFlashFile(file, first), "");

  SimProgrammer second;  // a 16 KiB chip takes what fits and saves only that
  ASSERT_EQ(LoadFlashFile(file, second), "");
  const auto head = RandomBytes(32768, 1);
  EXPECT_EQ(second.Flash(), std::vector<uint8_t>(head.begin(), head.begin() + 16384));
  ASSERT_EQ(SaveFlashFile(file, second), "");
  EXPECT_EQ(test::ReadFile(file), second.Flash());
  // Nothing but the file is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(SimKnobs, AFlashFileThatCannotBeUsedIsNamedWithWhy) {
  TempDir dir;
  SimProgrammer programmer;
  const std::string folder = dir.path().string();
  EXPECT_EQ(LoadFlashFile(folder, programmer), folder + ": is a directory");
  const std::string nowhere = (dir / "missing" / "flash.bin").string();
  EXPECT_EQ(SaveFlashFile(nowhere, programmer), nowhere + ": cannot write: No such file or directory");
  EXPECT_EQ(SaveFlashFile("", programmer), "");  // no file asked for
}

}  // namespace
}  // namespace quillet::sim
