// Images written as Intel HEX read back through the converter to the same image, and the
// measure-then-fill conversion the loader and the command line share.
#include "hex/IntelHexWriter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "hex/Chex2bin.h"
#include "hex/HexConversion.h"
#include "tests/support/TempDir.h"

namespace quillet {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadBack(const std::string& hex) {
  const HexConversion c = ConvertHexImage({reinterpret_cast<const uint8_t*>(hex.data()), hex.size()}, std::nullopt);
  EXPECT_EQ(c.result, CHex2Bin::kSuccess);
  return c.image;
}

TEST(IntelHexFromImage, ConvertsBackToTheSameImageWithRecordsOnlyForWhatIsNotFF) {
  std::mt19937 gen(1);
  for (size_t size : {size_t{100}, size_t{16384}, size_t{32768}}) {
    Bytes image(size, 0xFF);
    for (size_t i = 0; i < size; i += 1 + gen() % 700) image[i] = static_cast<uint8_t>(gen());
    image[size - 1] = 0x00;
    const std::string hex = IntelHexFromImage(image);
    EXPECT_EQ(ReadBack(hex), image) << size;
    EXPECT_EQ(hex.find("FFFFFFFFFFFFFFFF"), std::string::npos);
    EXPECT_EQ(hex.substr(hex.size() - 12), ":00000001FF\n");
    EXPECT_EQ(hex.find(":02000004"), std::string::npos) << size;
  }
  // Past 64 KiB an extended linear address record sets the upper address.
  Bytes large(0x10010, 0xFF);
  large[0] = 0x11;
  large[0x10005] = 0x12;
  EXPECT_EQ(IntelHexFromImage(large), ":0100000011EE\n:020000040001F9\n:0100050012E8\n:00000001FF\n");
  EXPECT_EQ(IntelHexFromImage(Bytes(100, 0xFF)), ":00000001FF\n");
  EXPECT_EQ(IntelHexFromImage(Bytes{0xFF, 0x01, 0x02, 0xFF}), ":020001000102FA\n:00000001FF\n");
}

// Past 64 KiB every row carries an extended linear address where its window changes. The
// converter sizes an image by the data bytes its records carry (an address record resets the
// highest offset it has seen), so only images with no erased bytes at the rows' edges come back
// whole: here every byte is set, with rows cut short at the image's end.
TEST(IntelHexFromImage, RoundTripsImagesPastSixtyFourKibibytes) {
  std::mt19937 gen(7);
  for (size_t size : {size_t{0x10000}, size_t{0x10001}, size_t{0x2345F}, size_t{0x80000}}) {
    Bytes image(size);
    for (auto& b : image) b = static_cast<uint8_t>(gen() % 0xFF);  // never the fill byte
    const std::string hex = IntelHexFromImage(image);
    EXPECT_EQ(ReadBack(hex), image) << size;
    EXPECT_EQ(hex.find(":020000040001F9") != std::string::npos, size > 0x10000) << size;
  }
}

TEST(ConvertHexImage, MeasuresThenFillsAndRefusesWhatExceedsTheLimit) {
  const std::string hex = IntelHexFromImage(Bytes{0x01, 0x02, 0x03});
  const std::span<const uint8_t> file(reinterpret_cast<const uint8_t*>(hex.data()), hex.size());
  test::TempDir dir;

  HexConversion fits = ConvertHexImage(file, dir / "side.bin", 3);
  EXPECT_EQ(fits.result, CHex2Bin::kSuccess);
  EXPECT_EQ(fits.image, (Bytes{0x01, 0x02, 0x03}));
  EXPECT_EQ(test::ReadFile(dir / "side.bin"), fits.image);

  HexConversion tooLarge = ConvertHexImage(file, dir / "none.bin", 2);
  EXPECT_EQ(tooLarge.result, CHex2Bin::kBufferOverflow);
  EXPECT_EQ(tooLarge.length, 3u);
  EXPECT_TRUE(tooLarge.image.empty());
  EXPECT_FALSE(std::filesystem::exists(dir / "none.bin"));

  const std::string onlyEnd = ":00000001FF\n";
  const HexConversion empty =
      ConvertHexImage({reinterpret_cast<const uint8_t*>(onlyEnd.data()), onlyEnd.size()}, std::nullopt);
  EXPECT_EQ(empty.result, CHex2Bin::kSuccess);
  EXPECT_EQ(empty.length, 0u);
}

TEST(ConversionMessage, NamesTheFileLineResultAndAMissingEndRecord) {
  EXPECT_EQ(ConversionMessage("a.hex", 4, CHex2Bin::kChecksumError), "a.hex:4: result 3, Hex file checksum error.");
  EXPECT_EQ(ConversionMessage("a.hex", 0, CHex2Bin::kEofError, "lead "),
            "a.hex: lead result 2, Hex file eof error. (no end record :00000001FF)");
}

TEST(LineOfOffset, CountsTheLinesBefore) {
  const std::string text = "a\nbb\n\nccc";
  const Bytes t(text.begin(), text.end());
  EXPECT_EQ(LineOfOffset(t, 0), 1u);
  EXPECT_EQ(LineOfOffset(t, 2), 2u);
  EXPECT_EQ(LineOfOffset(t, 6), 4u);
  EXPECT_EQ(LineOfOffset(t, 100), 4u);
}

}  // namespace
}  // namespace quillet
