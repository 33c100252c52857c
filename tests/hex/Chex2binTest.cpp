// The converter's behaviour on hand-made files: a table of record-level cases, then the outputs
// (side file, destination, length variable) and the result codes that concern them.

#include "hex/Chex2bin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/HexGen.h"
#include "tests/support/TempDir.h"

namespace quillet::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kCanary = 0xA5;
constexpr std::size_t kDestSize = 0x20000;

std::string Lines(std::initializer_list<std::string> lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

struct Case {
  const char* name;
  std::string text;
  std::int32_t result;
  std::uint32_t length;  // the length variable after the call
  // Bytes the image holds at the given addresses; every other image byte must be 0xFF.
  std::vector<std::pair<std::uint32_t, Bytes>> image;
};

Bytes ExpectedImage(const Case& c) {
  Bytes image(c.length, 0xFF);
  for (const auto& [address, bytes] : c.image) {
    std::copy(bytes.begin(), bytes.end(), image.begin() + address);
  }
  return image;
}

std::vector<Case> Cases() {
  const Bytes a = Ramp(16, 0x00), b = Ramp(16, 0x40);
  const Bytes start = {0x00, 0x00, 0x12, 0x34};
  return {
      {"OnlyEndRecord", Lines({kEndRecord}), 0, 0, {}},
      {"EndRecordWithoutLineEnd", kEndRecord, 0, 0, {}},
      {"EmptyFile", "", 2, 0, {}},
      {"NoEndRecord", Lines({Data(0, a)}), 2, 0, {}},
      {"LowerCaseEndRecordOnly", Lines({Data(0, a), ":00000001ff"}), 2, 0, {}},
      {"LowerCaseEndRecordBeforeMarker", Lines({Data(0, a), ":00000001ff", kEndRecord}), 4, 16, {}},
      {"MarkerAfterZeroByte", Lines({Data(0, a)}) + std::string(1, '\0') + Lines({kEndRecord}), 2, 0, {}},
      {"GapBetweenRecordsIsFilled", Lines({Data(0, a), Data(0x100, b), kEndRecord}), 0, 0x110,
       {{0, a}, {0x100, b}}},
      {"DescendingOrder", Lines({Data(0x100, b), Data(0, a), kEndRecord}), 0, 0x110, {{0, a}, {0x100, b}}},
      {"ByteCounts0x80And0xFF", Lines({Data(0, Ramp(0x80)), Data(0x80, Ramp(0xFF, 0x80)), kEndRecord}), 0,
       0x17F, {{0, Ramp(0x80)}, {0x80, Ramp(0xFF, 0x80)}}},
      {"Types3And5ChangeNothing",
       Lines({Record(3, 0, start), Data(0, a), Record(5, 0, start), Data(0x10, b), kEndRecord}), 0, 0x20,
       {{0, a}, {0x10, b}}},
      {"FirstTypeDigitIgnored", Lines({Record(0x10, 0, a), Record(0xF3, 0, start), kEndRecord}), 0, 16,
       {{0, a}}},
      // The second record lies below the first segment base: it adds nothing to the length but is
      // still placed; the first record's bytes beyond the length are dropped.
      {"LowerSegmentAfterHigher",
       Lines({Address(2, 0x0001), Data(0, Ramp(32, 0x20)), Address(2, 0x0000), Data(0, a), kEndRecord}), 0,
       32, {{0, a}, {0x10, Ramp(16, 0x20)}}},
      {"SegmentBaseIsValueTimes16", Lines({Data(0, Ramp(32)), Address(2, 0x0001), Data(0, b), kEndRecord}),
       0, 48, {{0, Ramp(16)}, {0x10, b}}},
      {"SegmentAndLinearBasesAdd",
       Lines({Data(0, Ramp(64)), Address(2, 0x0001), Address(4, 0x0000), Data(0x10, b), kEndRecord}), 0, 80,
       {{0, Ramp(64)}, {0x20, b}}},
      // An address record resets the highest offset, so data above what the length accounts for is
      // dropped and the image keeps its length.
      {"DataBeyondLengthDropped", Lines({Data(0, a), Address(4, 0x0001), Data(0, b), kEndRecord}), 0, 32,
       {{0, a}}},
      {"EqualLinearBaseResetsHighestOffset",
       Lines({Data(0, a), Data(0x100, Ramp(4)), Address(4, 0x0000), kEndRecord}), 0, 20, {{0, a}}},
      {"LaterRecordAtHighestOffsetCounts", Lines({Data(0x10, Ramp(8)), Data(0x10, Ramp(2, 0x80)), kEndRecord}),
       0, 0x12, {{0x10, Ramp(2, 0x80)}}},
      {"AddressRecordWithoutDataIsZero", Lines({Data(0, Ramp(32)), ":00000004FC", Data(0x10, b), kEndRecord}),
       0, 48, {{0, Ramp(16)}, {0x10, b}}},
      {"AddressRecordWithOneByte", Lines({Data(0, Ramp(32)), ":0100000200FD", Data(0x10, b), kEndRecord}), 0,
       48, {{0, Ramp(16)}, {0x10, b}}},
      {"TextAfterMarkerIgnored",
       Lines({Data(0, a), kEndRecord, Data(0x10, b), "garbage", Data(0x20, b, 1), ":0"}), 0, 16, {{0, a}}},
      {"RecordsAnywhereOnALine", "junk " + Data(0, a) + " ;; " + Data(0x10, b) + "xx" + kEndRecord, 0, 32,
       {{0, a}, {0x10, b}}},
      {"LowerCaseDigits", Lines({Record(0, 0, Bytes{0xAB, 0xCD, 0xEF}, 0, true), kEndRecord}), 0, 3,
       {{0, {0xAB, 0xCD, 0xEF}}}},
      {"BadChecksum", Lines({Data(0, a), Data(0x10, Ramp(8), 1), Data(0x18, b), kEndRecord}), 3, 24, {}},
      {"EndRecordBeforeMarker", Lines({Data(0, a), ":00000101FE", Data(0x10, b), kEndRecord}), 4, 16, {}},
      {"EndRecordWithBadChecksum", Lines({Data(0, a), Record(1, 0, {}, 1), kEndRecord}), 4, 16, {}},
      {"TypeDigit6", Lines({Data(0, a), Record(0x06, 0, a), kEndRecord}), 4, 16, {}},
      {"TypeDigitNotHex", Lines({":0000000G00", kEndRecord}), 4, 0, {}},
      // 'G' counts as the digit 0: the pair "G5" is 0x05 and the checksum includes it.
      {"NonHexPairHasAValue", Lines({":01000000G5FA", kEndRecord}), 0, 1, {{0, {0x05}}}},
      {"NonHexPairInChecksum", Lines({":01000000G5F0", kEndRecord}), 3, 1, {}},
      {"RecordRunsIntoMarker", ":1000000001020304" + kEndRecord, 3, 0, {}},
      // Read over the marker, ":0" would be a zero checksum completing an empty data record.
      {"ChecksumWouldBeInMarker", ":00000000" + kEndRecord, 3, 0, {}},
      {"ColonJustBeforeMarker", Lines({Data(0, a)}) + ":" + kEndRecord, 3, 16, {}},
  };
}

class TableTest : public ::testing::TestWithParam<Case> {};

TEST_P(TableTest, FileAndBytesGiveTheExpectedImage) {
  const Case& c = GetParam();
  TempDir dir;
  const auto hex = dir / "in.hex", side = dir / "in.hex.bin";
  WriteFile(hex, c.text);

  CHex2Bin conv;
  std::uint32_t length = 0;
  Bytes dest(kDestSize, kCanary);
  EXPECT_EQ(conv.Convert(hex, side, &length, dest.data()), c.result);
  EXPECT_EQ(conv.LastResult, c.result);
  EXPECT_EQ(conv.ResultText, CHex2Bin::ResultMessage(c.result));
  EXPECT_EQ(length, c.length);

  if (c.result == 0) {
    const Bytes image = ExpectedImage(c);
    EXPECT_EQ(conv.BinLength, c.length);
    EXPECT_EQ(Bytes(dest.begin(), dest.begin() + c.length), image);
    EXPECT_EQ(ReadFile(side), image);
    EXPECT_EQ(std::count(dest.begin() + c.length, dest.end(), kCanary),
              static_cast<std::ptrdiff_t>(kDestSize - c.length));
  } else {
    // Failures of the file itself produce no side file and leave the destination alone.
    EXPECT_EQ(conv.BinLength, 0u);
    EXPECT_FALSE(std::filesystem::exists(side));
    EXPECT_EQ(std::count(dest.begin(), dest.end(), kCanary), static_cast<std::ptrdiff_t>(kDestSize));
  }

  // The in-memory entry gives the same result, length and image. The text sits in an allocation of
  // exactly its size, so reading past it shows under AddressSanitizer.
  CHex2Bin mem;
  std::uint32_t memLength = 0;
  Bytes memDest(kDestSize, kCanary);
  const auto exact = std::make_unique<std::uint8_t[]>(c.text.size());
  std::memcpy(exact.get(), c.text.data(), c.text.size());
  EXPECT_EQ(mem.ConvertBytes({exact.get(), c.text.size()}, std::nullopt, &memLength, memDest.data()), c.result);
  EXPECT_EQ(memLength, c.length);
  EXPECT_EQ(memDest, dest);
}

INSTANTIATE_TEST_SUITE_P(Records, TableTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

class OutputsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hex_ = dir_ / "in.hex";
    side_ = dir_ / "in.hex.bin";
  }
  void Write(const std::string& text) { WriteFile(hex_, text); }
  std::string Image32() { return Lines({Data(0, Ramp(32)), kEndRecord}); }

  TempDir dir_;
  std::filesystem::path hex_, side_;
  CHex2Bin conv_;
};

TEST_F(OutputsTest, ConstructionState) {
  EXPECT_EQ(conv_.FillByte, 0xFF);
  EXPECT_EQ(conv_.BinLength, 0u);
  EXPECT_EQ(conv_.LastResult, -1);
  EXPECT_EQ(conv_.ResultText, "");
}

TEST_F(OutputsTest, Messages) {
  const std::pair<int, const char*> table[] = {
      {0, "Success."},
      {1, "Open hex file error."},
      {2, "Hex file eof error."},
      {3, "Hex file checksum error."},
      {4, "Hex file wrong label."},
      {5, "Write Dest file error."},
      {6, "Dest buffer overflow."},
      {7, "Length parameter can not be NULL"},
      {8, "Get bin length Success."},
  };
  for (const auto& [code, text] : table) EXPECT_STREQ(CHex2Bin::ResultMessage(code), text) << code;
}

TEST_F(OutputsTest, OnlyEndRecordCreatesEmptySideFile) {
  Write(kEndRecord);
  std::uint32_t length = 0;
  std::uint8_t dest[4] = {1, 2, 3, 4};
  EXPECT_EQ(conv_.Convert(hex_, side_, &length, dest), 0);
  EXPECT_EQ(length, 0u);
  ASSERT_TRUE(std::filesystem::exists(side_));
  EXPECT_EQ(std::filesystem::file_size(side_), 0u);
  EXPECT_EQ(dest[0], 1);
}

TEST_F(OutputsTest, OnlyEndRecordKeepsLongerSideFile) {
  Write(kEndRecord);
  WriteFile(side_, "previous content");
  std::uint32_t length = 0;
  EXPECT_EQ(conv_.Convert(hex_, side_, &length, nullptr), 0);
  const Bytes after = ReadFile(side_);
  EXPECT_EQ(std::string(after.begin(), after.end()), "previous content");
}

TEST_F(OutputsTest, LongerSideFileKeepsItsTail) {
  Write(Lines({Data(0, Ramp(4, 0x41)), kEndRecord}));  // "ABCD"
  WriteFile(side_, "0123456789");
  std::uint32_t length = 0;
  EXPECT_EQ(conv_.Convert(hex_, side_, &length, nullptr), 0);
  const Bytes after = ReadFile(side_);
  EXPECT_EQ(std::string(after.begin(), after.end()), "ABCD456789");
}

TEST_F(OutputsTest, CapacitySmallerThanImage) {
  Write(Image32());
  std::uint32_t length = 16;
  Bytes dest(32, kCanary);
  EXPECT_EQ(conv_.Convert(hex_, side_, &length, dest.data()), 6);
  EXPECT_EQ(conv_.ResultText, "Dest buffer overflow.");
  EXPECT_EQ(length, 32u);
  EXPECT_EQ(conv_.BinLength, 32u);
  EXPECT_EQ(ReadFile(side_), Ramp(16));
  EXPECT_EQ(Bytes(dest.begin(), dest.begin() + 16), Ramp(16));
  EXPECT_EQ(Bytes(dest.begin() + 16, dest.end()), Bytes(16, kCanary));
}

TEST_F(OutputsTest, CapacityEqualOrLargerWritesWholeImage) {
  Write(Image32());
  for (std::uint32_t capacity : {32u, 33u, 1000u}) {
    std::uint32_t length = capacity;
    Bytes dest(capacity, kCanary);
    EXPECT_EQ(conv_.Convert(hex_, side_, &length, dest.data()), 0) << capacity;
    EXPECT_EQ(length, 32u);
    EXPECT_EQ(Bytes(dest.begin(), dest.begin() + 32), Ramp(32));
    EXPECT_EQ(std::count(dest.begin() + 32, dest.end(), kCanary), static_cast<std::ptrdiff_t>(capacity - 32));
  }
}

TEST_F(OutputsTest, MeasureOnly) {
  Write(Image32());
  std::uint32_t length = 0;
  EXPECT_EQ(conv_.Convert(hex_, std::nullopt, &length, nullptr), 8);
  EXPECT_EQ(conv_.ResultText, "Get bin length Success.");
  EXPECT_EQ(length, 32u);
  EXPECT_EQ(conv_.BinLength, 32u);
  EXPECT_FALSE(std::filesystem::exists(side_));

  CHex2Bin noVariable;
  EXPECT_EQ(noVariable.Convert(hex_, std::nullopt, nullptr, nullptr), 8);
  EXPECT_EQ(noVariable.BinLength, 32u);
}

TEST_F(OutputsTest, MeasureOnlyWithSmallCapacity) {
  Write(Image32());
  std::uint32_t length = 31;
  EXPECT_EQ(conv_.Convert(hex_, std::nullopt, &length, nullptr), 6);
  EXPECT_EQ(length, 32u);
}

TEST_F(OutputsTest, SideFileWithoutLengthVariable) {
  Write(Image32());
  Bytes dest(32, kCanary);
  EXPECT_EQ(conv_.Convert(hex_, side_, nullptr, nullptr), 7);
  EXPECT_EQ(conv_.ResultText, "Length parameter can not be NULL");
  EXPECT_FALSE(std::filesystem::exists(side_));
  EXPECT_EQ(conv_.Convert(hex_, side_, nullptr, dest.data()), 7);
  EXPECT_FALSE(std::filesystem::exists(side_));
  EXPECT_EQ(dest, Bytes(32, kCanary));
  EXPECT_EQ(conv_.BinLength, 32u);
}

TEST_F(OutputsTest, DestinationWithoutLengthVariable) {
  Write(Image32());
  Bytes dest(32, kCanary);
  EXPECT_EQ(conv_.Convert(hex_, std::nullopt, nullptr, dest.data()), 7);
  EXPECT_EQ(dest, Bytes(32, kCanary));
}

TEST_F(OutputsTest, DestinationOnly) {
  Write(Image32());
  std::uint32_t length = 0;
  Bytes dest(32, kCanary);
  EXPECT_EQ(conv_.Convert(hex_, std::nullopt, &length, dest.data()), 0);
  EXPECT_EQ(dest, Ramp(32));
  EXPECT_FALSE(std::filesystem::exists(side_));
}

TEST_F(OutputsTest, UnreadableHexFile) {
  Bytes dest(32, kCanary);
  for (const auto& path : {std::filesystem::path(dir_ / "missing.hex"), dir_.path()}) {
    std::uint32_t length = 77;
    EXPECT_EQ(conv_.Convert(path, side_, &length, dest.data()), 1) << path;
    EXPECT_EQ(conv_.ResultText, "Open hex file error.");
    EXPECT_EQ(length, 0u);
  }
  EXPECT_FALSE(std::filesystem::exists(side_));
  EXPECT_EQ(dest, Bytes(32, kCanary));
}

TEST_F(OutputsTest, SideFileCannotBeCreatedStillFillsDestination) {
  Write(Image32());
  for (const auto& side : {dir_ / "no-such-dir" / "x.bin", dir_.path()}) {
    std::uint32_t length = 0;
    Bytes dest(32, kCanary);
    EXPECT_EQ(conv_.Convert(hex_, side, &length, dest.data()), 5) << side;
    EXPECT_EQ(conv_.ResultText, "Write Dest file error.");
    EXPECT_EQ(length, 32u);
    EXPECT_EQ(dest, Ramp(32));
  }
}

TEST_F(OutputsTest, SideFileWriteErrorIsReported) {
  const std::filesystem::path full = "/dev/full";
  if (!std::filesystem::exists(full)) GTEST_SKIP() << "no /dev/full here";
  Write(Image32());
  std::uint32_t length = 0;
  Bytes dest(32, kCanary);
  EXPECT_EQ(conv_.Convert(hex_, full, &length, dest.data()), 5);
  EXPECT_EQ(length, 32u);
  EXPECT_EQ(dest, Ramp(32));
}

TEST_F(OutputsTest, OverflowOverridesEarlierResults) {
  // A side file that cannot be created, and a capacity below L: the capacity rule wins.
  Write(Image32());
  std::uint32_t length = 8;
  EXPECT_EQ(conv_.Convert(hex_, dir_ / "no-such-dir" / "x.bin", &length, nullptr), 6);
  EXPECT_EQ(length, 32u);

  // A checksum failure after 32 summed bytes, with a capacity of 16.
  Write(Lines({Data(0, Ramp(16)), Data(0x10, Ramp(16), 1), kEndRecord}));
  length = 16;
  Bytes dest(16, kCanary);
  EXPECT_EQ(conv_.Convert(hex_, side_, &length, dest.data()), 6);
  EXPECT_EQ(length, 32u);
  EXPECT_FALSE(std::filesystem::exists(side_));
  EXPECT_EQ(dest, Bytes(16, kCanary));
}

TEST_F(OutputsTest, BinLengthKeepsLastPassingConversion) {
  Write(Image32());
  std::uint32_t length = 0;
  EXPECT_EQ(conv_.Convert(hex_, std::nullopt, &length, nullptr), 8);
  Write(Lines({Data(0, Ramp(16), 1), kEndRecord}));
  EXPECT_EQ(conv_.Convert(hex_, side_, &length, nullptr), 3);
  EXPECT_EQ(length, 16u);
  EXPECT_EQ(conv_.BinLength, 32u);
  EXPECT_EQ(conv_.LastResult, 3);
}

TEST_F(OutputsTest, FillByteIsUsedForGaps) {
  Write(Lines({Data(0, Ramp(2)), Data(4, Ramp(2)), kEndRecord}));
  conv_.FillByte = 0x00;
  std::uint32_t length = 0;
  Bytes dest(6, kCanary);
  EXPECT_EQ(conv_.Convert(hex_, std::nullopt, &length, dest.data()), 0);
  EXPECT_EQ(dest, (Bytes{0, 1, 0, 0, 0, 1}));
}

// However the records are written, the image stays within a small multiple of the file's size.
TEST_F(OutputsTest, LengthBoundedByFileSize) {
  // A single byte at the top of the offset range: L is 0x10000 from a 30-byte file.
  const std::string top = Lines({Data(0xFFFF, Bytes{0x12}), kEndRecord});
  CHex2Bin c;
  std::uint32_t length = 0;
  const auto* p = reinterpret_cast<const std::uint8_t*>(top.data());
  EXPECT_EQ(c.ConvertBytes({p, top.size()}, std::nullopt, &length, nullptr), 8);
  EXPECT_EQ(length, 0x10000u);

  // Many records over the same addresses add up in S, which is at most half the text.
  std::string many;
  const Bytes full(255, 0x00);
  for (int i = 0; i < 200; ++i) many += Data(0, full);
  many += kEndRecord;
  p = reinterpret_cast<const std::uint8_t*>(many.data());
  EXPECT_EQ(c.ConvertBytes({p, many.size()}, std::nullopt, &length, nullptr), 8);
  EXPECT_EQ(length, 200u * 255u);
  EXPECT_LE(length, many.size() / 2);
}

// Where the checking pass stopped, so that a broken file's line can be named; nothing otherwise.
TEST(FailedRecordOffset, PointsAtTheColonOfTheRecordThatSetTheResult) {
  const std::string good = Data(0, Ramp(4)) + "\n";
  struct {
    const char* name;
    std::string text;
    std::int32_t result;
    std::int64_t offset;
  } cases[] = {
      {"checksum", good + "  " + Data(4, Ramp(4), 1) + "\n" + kEndRecord, 3,
       static_cast<std::int64_t>(good.size() + 2)},
      {"label", good + good + ":00000009F7\n" + kEndRecord, 4,
       static_cast<std::int64_t>(2 * good.size())},
      {"runs into the marker", good + ":0400000001" + kEndRecord, 3,
       static_cast<std::int64_t>(good.size())},
      {"no marker", good, 2, -1},
      {"good, measured only", good + kEndRecord, 8, -1},
  };
  for (const auto& c : cases) {
    CHex2Bin conv;
    conv.FailedRecordOffset = 99;  // a stale value from an earlier call must not survive
    std::uint32_t length = 0;
    const auto* p = reinterpret_cast<const std::uint8_t*>(c.text.data());
    EXPECT_EQ(conv.ConvertBytes({p, c.text.size()}, std::nullopt, &length, nullptr), c.result)
        << c.name;
    EXPECT_EQ(conv.FailedRecordOffset, c.offset) << c.name;
  }
}

}  // namespace
}  // namespace quillet::test
