// Serial numbers patched into the station's images: the plan's checks, the bytes, the padding,
// the next number across restarts, and the number a board already carries.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/station/SerialNumber.h"
#include "hex/HexDigit.h"

namespace quillet::cli::station {
namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

TEST(SerialBytes, WidthAndByteOrder) {
  struct Case {
    uint64_t value;
    int width;
    Endian endian;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {0x12345678, 4, Endian::Little, {0x78, 0x56, 0x34, 0x12}},
      {0x12345678, 4, Endian::Big, {0x12, 0x34, 0x56, 0x78}},
      {0xAB, 1, Endian::Big, {0xAB}},
      {0x0102, 3, Endian::Little, {0x02, 0x01, 0x00}},
      {0x0102030405060708, 8, Endian::Big, {1, 2, 3, 4, 5, 6, 7, 8}},
      {UINT64_MAX, 8, Endian::Little, std::vector<uint8_t>(8, 0xFF)},
  };
  for (const Case& c : cases) {
    EXPECT_THAT(SerialBytes(c.value, c.width, c.endian), ElementsAreArray(c.bytes)) << c.value << " w" << c.width;
  }
  // As the journal records them.
  EXPECT_EQ(LowerHexText(SerialBytes(0xAB7F, 3, Endian::Big)), "00ab7f");
}

TEST(SerialPlan, RefusedBeforeAnyBoardWithTheReason) {
  std::vector<uint8_t> image(0x100, 0xFF);
  image[0x10] = 0x00;  // the image uses this byte; the FF around it are gaps
  struct Case {
    SerialPlan plan;
    uint32_t chip;
    const char* error;  // empty: accepted
  };
  auto plan = [](uint32_t address, int width, uint64_t start = 1, std::optional<uint64_t> end = {},
                 bool overwrite = false, uint64_t step = 1) {
    SerialPlan p;
    p.address = address;
    p.width = width;
    p.start = start;
    p.end = end;
    p.overwrite = overwrite;
    p.step = step;
    return p;
  };
  const Case cases[] = {
      {plan(0x3FFC, 4), 0x4000, ""},  // the chip's last four bytes, past the image's end
      {plan(0x3FFD, 4), 0x4000, "lies past the chip's 16384 bytes"},
      {plan(0x20, 2), 0x4000, ""},  // FF bytes inside the image are free
      {plan(0x0E, 4), 0x4000, "would overwrite the image's byte at 0x10 (--serial-overwrite allows it)"},
      {plan(0x0E, 4, 1, {}, true), 0x4000, ""},
      {plan(0x0E, 4, 1, {}, true), 0x10, "lies past the chip"},  // overwrite never reaches past the chip
      {plan(0x20, 0), 0x4000, "--serial-width must be 1 to 8 bytes"},
      {plan(0x20, 9), 0x4000, "--serial-width must be 1 to 8 bytes"},
      {plan(0x20, 1, 256), 0x4000, "--serial-start 256 does not fit in 1 byte"},
      {plan(0x20, 2, 1, 65536), 0x4000, "--serial-end 65536 does not fit in 2 bytes"},
      {plan(0x20, 2, 10, 9), 0x4000, "--serial-end is below --serial-start"},
      {plan(0x20, 2, 1, {}, false, 0), 0x4000, "--serial-step must be at least 1"},
  };
  for (const Case& c : cases) {
    const std::string error = CheckSerialPlan(c.plan, image, c.chip);
    if (*c.error)
      EXPECT_THAT(error, HasSubstr(c.error)) << "at " << c.plan.address;
    else
      EXPECT_EQ(error, "") << "at " << c.plan.address;
  }
}

TEST(SerialPatch, WritesTheNumberPadsWithErasedBytesAndLeavesTheImageAlone) {
  const std::vector<uint8_t> image = {1, 2, 3, 4};
  SerialPlan plan;
  plan.address = 8;
  plan.width = 2;
  plan.endian = Endian::Big;
  EXPECT_THAT(PatchSerial(image, plan, 0x1234), ElementsAreArray({1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0x34}));
  plan.address = 1;
  plan.endian = Endian::Little;
  EXPECT_THAT(PatchSerial(image, plan, 0x1234), ElementsAreArray({1, 0x34, 0x12, 4}));
  EXPECT_THAT(image, ElementsAreArray({1, 2, 3, 4}));
}

TEST(SerialNext, ContinuesAfterTheHighestEverReservedAndStopsAtTheEnd) {
  struct Case {
    uint64_t start, step;
    std::optional<uint64_t> end;
    int width;
    std::optional<uint64_t> highest;
    std::optional<uint64_t> next;
  };
  const Case cases[] = {
      {1000, 1, {}, 4, std::nullopt, 1000},  // a new journal
      {1000, 1, {}, 4, 1041, 1042},          // a restart: never a number at or below the highest
      {1000, 5, {}, 4, 1040, 1045},
      {1000, 1, {}, 4, 12, 1000},            // a journal of lower numbers: the new range begins
      {1000, 1, 1042, 4, 1041, 1042},        // the last one
      {1000, 1, 1042, 4, 1042, std::nullopt},  // run out
      {1000, 1, {}, 1, std::nullopt, std::nullopt},  // does not fit at all (the plan check says so first)
      {250, 10, {}, 1, 250, std::nullopt},   // the width runs out
      {0, 1, {}, 8, UINT64_MAX, std::nullopt},
  };
  for (const Case& c : cases) {
    SerialPlan plan;
    plan.start = c.start;
    plan.step = c.step;
    plan.end = c.end;
    plan.width = c.width;
    EXPECT_EQ(NextSerial(plan, c.highest), c.next) << c.start << " after " << c.highest.value_or(0);
  }
}

TEST(SerialKept, OnlyANumberThisJournalIssuedIsKept) {
  SerialPlan plan;
  plan.address = 2;
  plan.width = 2;
  plan.endian = Endian::Big;
  const std::set<uint64_t> issued = {0x1234, 0x1235};
  EXPECT_EQ(KeptSerial({0, 0, 0x12, 0x35}, plan, issued), 0x1235u);
  EXPECT_EQ(KeptSerial({0, 0, 0x12, 0x36}, plan, issued), std::nullopt);  // not one of ours
  EXPECT_EQ(KeptSerial({0, 0, 0xFF, 0xFF}, plan, issued), std::nullopt);  // erased
  EXPECT_EQ(KeptSerial({0, 0, 0x12}, plan, issued), std::nullopt);        // the flash ends first
  plan.endian = Endian::Little;
  EXPECT_EQ(KeptSerial({0, 0, 0x34, 0x12}, plan, issued), 0x1234u);
}

}  // namespace
}  // namespace quillet::cli::station
