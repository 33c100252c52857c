// The one image loader: a table of files and options against the typed result and its message,
// the side file, and what a file's name says it holds.
#include "hex/ImageFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "hex/Chex2bin.h"
#include "tests/support/HexGen.h"
#include "tests/support/TempDir.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

TEST(ImageFileKindTest, LastThreeCharactersUpperCasedDecide) {
  const struct {
    const char* path;
    ImageFileKind kind;
  } cases[] = {
      {"x.hex", ImageFileKind::Hex},   {"x.HEX", ImageFileKind::Hex},     {"x.Hex", ImageFileKind::Hex},
      {"fwhex", ImageFileKind::Hex},   {"/a.bin/x.hex", ImageFileKind::Hex}, {"x.bin", ImageFileKind::Bin},
      {"x.Bin", ImageFileKind::Bin},   {"xBIN", ImageFileKind::Bin},      {"firmware.dat", ImageFileKind::Other},
      {"x.hexx", ImageFileKind::Other}, {"hex", ImageFileKind::Other},     {"bin", ImageFileKind::Other},
      {"", ImageFileKind::Other},      {"x.he", ImageFileKind::Other},
  };
  for (const auto& c : cases) EXPECT_EQ(ImageFileKindOf(c.path), c.kind) << c.path;
}

const Bytes kRamp = test::Ramp(16);
const std::string kData16 = test::Data(0, kRamp) + "\n";

Bytes ImageWithHighRecord() {
  Bytes image(0x110, 0xFF);
  std::copy(kRamp.begin(), kRamp.end(), image.begin());
  std::copy(kRamp.begin(), kRamp.end(), image.begin() + 0x100);
  return image;
}

struct LoadCase {
  const char* name;
  const char* file;
  std::optional<std::string> content;  // nothing: no such file
  ImageLoadOptions options;
  ImageLoadFailure failure;
  Bytes image;          // when loaded
  const char* message;  // when refused; "<path>" stands for the file's path
  int systemError = 0;
  int32_t converterResult = 0;
  size_t line = 0;
  uint64_t size = 0;
};

ImageLoadOptions Limit(uint64_t limit, bool acceptEmpty = false) {
  ImageLoadOptions o;
  o.sizeLimit = limit;
  o.limitName = "NRF24LE1_16K's flash";
  o.acceptEmpty = acceptEmpty;
  return o;
}

std::vector<LoadCase> LoadCases() {
  const std::string bad = kData16 + kData16 + test::Data(0x10, kRamp, 1) + "\n" + test::kEndRecord + "\n";
  return {
      {"Hex", "fw.hex", kData16 + test::Data(0x100, kRamp) + "\n" + test::kEndRecord + "\n", Limit(16384),
       ImageLoadFailure::kNone, ImageWithHighRecord(), ""},
      {"HexOfExactlyTheLimit", "fits.hex", ":01400000556A\n:00000001FF\n", Limit(16385), ImageLoadFailure::kNone,
       [] { Bytes b(16385, 0xFF); b[16384] = 0x55; return b; }(), ""},
      {"Bin", "fw.bin", std::string(300, '\x3C'), Limit(16384), ImageLoadFailure::kNone, Bytes(300, 0x3C), ""},
      {"BinWithoutLimit", "big.bin", std::string(70000, '\x01'), {}, ImageLoadFailure::kNone, Bytes(70000, 0x01), ""},
      {"BadChecksumNamesItsLine", "bad.hex", bad, Limit(16384), ImageLoadFailure::kConversionFailed, {},
       "<path>:3: HEX conversion failed with result 3, Hex file checksum error.", 0, CHex2Bin::kChecksumError, 3,
       48},
      {"WrongLabel", "label.hex", kData16 + ":00000009F7\n:00000001FF\n", Limit(16384),
       ImageLoadFailure::kConversionFailed, {}, "<path>:2: HEX conversion failed with result 4, Hex file wrong label.",
       0, CHex2Bin::kWrongLabel, 2, 16},
      {"NoEndRecord", "noend.hex", kData16, Limit(16384), ImageLoadFailure::kConversionFailed, {},
       "<path>: HEX conversion failed with result 2, Hex file eof error. (no end record :00000001FF)", 0,
       CHex2Bin::kEofError, 0, 0},
      {"EmptyHex", "empty.hex", test::kEndRecord + "\n", Limit(16384), ImageLoadFailure::kEmpty, {},
       "<path>: the image is empty"},
      {"EmptyBin", "empty.bin", "", Limit(16384), ImageLoadFailure::kEmpty, {}, "<path>: the image is empty"},
      {"EmptyAccepted", "empty.hex", test::kEndRecord + "\n", Limit(16384, true), ImageLoadFailure::kNone, {}, ""},
      {"LargeBin", "large.bin", std::string(16385, '\x55'), Limit(16384), ImageLoadFailure::kTooLarge, {},
       "<path>: the image is 16385 bytes, larger than the 16384 bytes of NRF24LE1_16K's flash", 0, 0, 0, 16385},
      {"LargeHex", "large.hex", ":01400000556A\n:00000001FF\n", Limit(16384), ImageLoadFailure::kTooLarge, {},
       "<path>: the image is 16385 bytes, larger than the 16384 bytes of NRF24LE1_16K's flash", 0, 0, 0, 16385},
      {"Missing", "nope.hex", std::nullopt, Limit(16384), ImageLoadFailure::kUnreadable, {},
       "<path>: cannot read: No such file or directory", ENOENT},
      {"WrongName", "fw.elf", "\x7f" "ELF", Limit(16384), ImageLoadFailure::kNotAnImage, {},
       "<path>: not an image file; its name must end in .hex (Intel HEX) or .bin (raw binary)"},
  };
}

TEST(ImageLoader, EachFileGivesItsImageOrItsTypedFailure) {
  for (const LoadCase& c : LoadCases()) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const std::string path = (dir / c.file).string();
    if (c.content) test::WriteFile(path, *c.content);

    const ImageLoad load = LoadImage(path, c.options);

    EXPECT_EQ(load.error.failure, c.failure);
    EXPECT_FALSE(load.sideFileFailed);
    EXPECT_FALSE(fs::exists(path + ".bin")) << "no side file unless asked";
    if (c.failure == ImageLoadFailure::kNone) {
      EXPECT_TRUE(load.Ok());
      EXPECT_EQ(load.image.bytes, c.image);
      EXPECT_EQ(load.image.path, path);
      EXPECT_EQ(load.image.format, ImageFileKindOf(path));
      EXPECT_EQ(DescribeImageLoadError(load.error), "");
      continue;
    }
    EXPECT_FALSE(load.Ok());
    EXPECT_TRUE(load.image.bytes.empty());
    EXPECT_EQ(load.error.path, path);
    EXPECT_EQ(load.error.systemError, c.systemError);
    EXPECT_EQ(load.error.converterResult, c.converterResult);
    EXPECT_EQ(load.error.line, c.line);
    EXPECT_EQ(load.error.size, c.size);
    std::string message = c.message;
    message.replace(message.find("<path>"), 6, path);
    EXPECT_EQ(DescribeImageLoadError(load.error), message);
  }
}

TEST(ImageLoader, AFolderOrADeviceWithoutEndIsNoImage) {
  test::TempDir dir;
  fs::create_directory(dir / "folder.bin");
  const ImageLoad folder = LoadImage((dir / "folder.bin").string(), {});
  EXPECT_EQ(folder.error.failure, ImageLoadFailure::kUnreadable);
  EXPECT_EQ(folder.error.systemError, EISDIR);

  // Read no further than one byte past the limit.
  if (!fs::exists("/dev/zero")) GTEST_SKIP() << "no /dev/zero";
  fs::create_symlink("/dev/zero", dir / "zero.bin");
  const ImageLoad zero = LoadImage((dir / "zero.bin").string(), Limit(16384));
  EXPECT_EQ(zero.error.failure, ImageLoadFailure::kTooLarge);
  EXPECT_EQ(zero.error.size, 16385u);
}

TEST(ImageLoader, TheSideFileIsWrittenOnlyWhenAsked) {
  test::TempDir dir;
  const std::string path = (dir / "fw.hex").string();
  test::WriteFile(path, kData16 + test::Data(0x100, kRamp) + "\n" + test::kEndRecord + "\n");
  // An older, longer side file keeps its tail beyond the new image.
  test::WriteFile(path + ".bin", std::string(1000, '\x11'));
  ImageLoadOptions options;
  options.writeSideFile = true;

  const ImageLoad load = LoadImage(path, options);

  ASSERT_TRUE(load.Ok());
  EXPECT_FALSE(load.sideFileFailed);
  Bytes side = ImageWithHighRecord();
  side.resize(1000, 0x11);
  EXPECT_EQ(test::ReadFile(path + ".bin"), side);

  // A side file that cannot be written does not cost the image.
  const std::string blocked = (dir / "blocked.hex").string();
  test::WriteFile(blocked, kData16 + test::kEndRecord + "\n");
  fs::create_directory(blocked + ".bin");
  const ImageLoad withoutSide = LoadImage(blocked, options);
  ASSERT_TRUE(withoutSide.Ok());
  EXPECT_TRUE(withoutSide.sideFileFailed);
  EXPECT_EQ(withoutSide.image.bytes, kRamp);

  // A broken or too large file leaves no side file.
  for (const char* name : {"broken.hex", "large.hex"}) {
    const std::string p = (dir / name).string();
    test::WriteFile(p, std::string(name) == "large.hex" ? ":01400000556A\n:00000001FF\n" : kData16);
    options.sizeLimit = 16384;
    EXPECT_FALSE(LoadImage(p, options).Ok()) << name;
    EXPECT_FALSE(fs::exists(p + ".bin")) << name;
  }
}

}  // namespace
}  // namespace quillet
