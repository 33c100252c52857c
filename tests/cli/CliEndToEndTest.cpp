// quillet-cli end to end: the real binary against its simulated programmer (and, for list and the
// permission refusal, the system backend over a fake sysfs tree), checked through its exit status,
// the files it writes, stdout, stderr and its JSON records.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <thread>

#include "sim/SimHidModels.h"
#include "tests/cli/CliRunner.h"
#include "tests/support/FakeHidTree.h"
#include "tests/support/Language.h"
#include "tests/support/TempDir.h"
#include "tests/support/Values.h"

namespace quillet::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using Bytes = std::vector<uint8_t>;

// Random content with runs of FF, as a real flash holds between code and data.
Bytes FlashLike(size_t n, unsigned seed) {
  Bytes b = RandomBytes(n, seed);
  for (size_t i = 0; i < n; i += 1000) std::fill(b.begin() + static_cast<long>(i), b.begin() + static_cast<long>(std::min(n, i + 300)), 0xFF);
  return b;
}

void WriteBytes(const fs::path& p, const Bytes& b) { test::WriteFile(p, std::string(b.begin(), b.end())); }
Bytes ReadBytes(const fs::path& p) { return test::ReadFile(p); }
std::string ReadText(const fs::path& p) {
  const Bytes b = ReadBytes(p);
  return std::string(b.begin(), b.end());
}

Json::Value ParseJson(const std::string& line) {
  Json::Value v;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  EXPECT_TRUE(reader->parse(line.data(), line.data() + line.size(), &v, &errors)) << line << errors;
  return v;
}

// srec_cat, the independent reference: HEX to a flat image of `size` bytes, gaps FF.
Bytes SrecHexToBin(const fs::path& hex, const fs::path& bin, size_t size) {
  const std::string cmd = "srec_cat '" + hex.string() + "' -intel -fill 0xFF 0 " + std::to_string(size) +
                          " -o '" + bin.string() + "' -binary";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  return ReadBytes(bin);
}
void SrecBinToHex(const fs::path& bin, const fs::path& hex) {
  const std::string cmd = "srec_cat '" + bin.string() + "' -binary -o '" + hex.string() + "' -intel";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

class Cli : public ::testing::Test {
 protected:
  std::string P(const std::string& name) const { return (dir / name).string(); }
  // The simulated programmer, its chip's flash kept in flash.bin between runs.
  RunSettings Sim(const std::string& faults = {}) const {
    RunSettings s;
    s.env["QUILLET_SIM_FLASH"] = P("flash.bin");
    if (!faults.empty()) s.env["QUILLET_SIM_FAULTS"] = faults;
    s.cwd = dir.path().string();
    return s;
  }
  Bytes Flash() const { return ReadBytes(dir / "flash.bin"); }
  void SetFlash(const Bytes& b) const { WriteBytes(dir / "flash.bin", b); }
  // A command over the simulated programmer with `faults`, a firmware fw.bin of 2000 random
  // bytes beside it.
  CliRun RunBesideFirmware(std::vector<std::string> args, const std::string& faults,
                           std::initializer_list<std::string> options, bool english = false) {
    WriteBytes(dir / "fw.bin", RandomBytes(2000, 6));
    args.insert(args.end(), options);
    args.push_back("--simulate");
    return RunCli(args, english ? InEnglish(Sim(faults)) : Sim(faults));
  }

  test::TempDir dir;
};

// ---- commands -------------------------------------------------------------------------------

TEST_F(Cli, DetectPrintsTheIdentityAsTheWindowLogsItAndNothingElse) {
  const CliRun r = RunCli({"detect", "--simulate"}, Sim());
  EXPECT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out, "编程器通讯成功：固件类型3 版本12 \n芯片已连接！\n");
  EXPECT_EQ(r.err, "");
}

struct ReadCase {
  const char* simulate;
  const char* chip;
  size_t flashSize;
  const char* file;
};
class ReadTest : public Cli, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadTest, TheWholeFlashGoesToTheFileAsBinOrHex) {
  const ReadCase& c = GetParam();
  const Bytes flash = FlashLike(c.flashSize, 3);
  SetFlash(flash);
  const CliRun r = RunCli({"read", c.simulate, "-c", c.chip, "-o", c.file}, InEnglish(Sim()));
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out, "");  // stdout carries only data; progress and messages are on stderr
  EXPECT_THAT(r.err, HasSubstr("reading: " + std::to_string(c.flashSize) + " of"));
  if (std::string ext = fs::path(c.file).extension().string(); ext == ".hex" || ext == ".HEX") {
    EXPECT_EQ(SrecHexToBin(dir / c.file, dir / "ref.bin", c.flashSize), flash);
    // Only what is not FF needs records.
    const std::string text = ReadText(dir / c.file);
    EXPECT_EQ(text.find(":10000000FFFFFFFFFFFFFFFF"), std::string::npos);
  } else {
    EXPECT_EQ(ReadBytes(dir / c.file), flash);
  }
}

INSTANTIATE_TEST_SUITE_P(Chips, ReadTest,
                         ::testing::Values(ReadCase{"--simulate", "le1", 16384, "out.bin"},
                                           ReadCase{"--simulate=32k", "NRF24LU1_32K", 32768, "out.bin"},
                                           ReadCase{"--simulate=32k", "lu1-32k", 32768, "out.hex"},
                                           ReadCase{"--simulate", "nrf24lu1_16K", 16384, "OUT.HEX"}),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(Cli, WriteProgramsHexOrBinAndVerifyComparesTheChipWithTheFile) {
  const Bytes image = RandomBytes(5000, 4);
  WriteBytes(dir / "fw.bin", image);
  SrecBinToHex(dir / "fw.bin", dir / "fw.hex");
  for (const char* file : {"fw.hex", "fw.bin"}) {
    SetFlash(Bytes(16384, 0x00));
    const CliRun w = RunCli({"write", "--simulate", "-c", "le1", file}, InEnglish(Sim()));
    ASSERT_EQ(w.exit, 0) << w.err;
    EXPECT_THAT(w.err, HasSubstr("the programmer's checksum agrees"));
    const Bytes flash = Flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin())) << file;
    EXPECT_TRUE(std::all_of(flash.begin() + 5000, flash.end(), [](uint8_t b) { return b == 0xFF; }))
        << "erased first";
    // No side file is left beside a HEX file.
    EXPECT_FALSE(fs::exists(dir / "fw.hex.bin"));

    const CliRun v = RunCli({"verify", "--simulate", "-c", "le1", file}, InEnglish(Sim()));
    EXPECT_EQ(v.exit, 0) << v.err;
  }
  Bytes changed = Flash();
  changed[0x1234] ^= 0x81;
  SetFlash(changed);
  const CliRun v = RunCli({"verify", "--simulate", "-c", "le1", "fw.bin"}, InEnglish(Sim()));
  EXPECT_EQ(v.exit, 1);
  EXPECT_THAT(v.err, HasSubstr("first difference at 0x1234"));
  EXPECT_THAT(v.err, HasSubstr("1 of 5000 bytes differ"));
}

TEST_F(Cli, TaskOptionsReachTheProgrammer) {
  // Without erase, programming can only clear bits: what was 0 stays 0.
  SetFlash(Bytes(16384, 0x0F));
  WriteBytes(dir / "fw.bin", Bytes(64, 0xF0));
  const CliRun r = RunCli({"write", "--simulate", "-c", "le1", "--no-erase", "--no-verify", "fw.bin"}, Sim());
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_THAT(r.err, Not(HasSubstr("checksum")));
  const Bytes flash = Flash();
  EXPECT_EQ(flash[0], 0x00);
  EXPECT_EQ(flash[64], 0x0F);
}

TEST_F(Cli, ConvertAgreesWithSrecCatAndNamesTheLineOfABrokenRecord) {
  Bytes image = FlashLike(40000, 5);
  WriteBytes(dir / "ref.bin", image);
  SrecBinToHex(dir / "ref.bin", dir / "in.hex");
  WriteBytes(dir / "out.bin", Bytes(50000, 0xAA));  // a longer file there keeps no stale tail
  CliRun r = RunCli({"convert", "in.hex", "out.bin"}, InEnglish(Sim()));
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("result 0, Success."));
  EXPECT_EQ(ReadBytes(dir / "out.bin"), image);

  std::string text = ReadText(dir / "in.hex");
  const size_t third = text.find('\n', text.find('\n', text.find('\n') + 1) + 1) + 1;  // line 4
  text[third + 9] = text[third + 9] == '0' ? '1' : '0';  // a data digit: the checksum fails
  test::WriteFile(dir / "bad.hex", text);
  r = RunCli({"convert", "bad.hex", "bad.bin", "--json"}, InEnglish(Sim()));
  EXPECT_EQ(r.exit, 2);
  EXPECT_THAT(r.err, HasSubstr("bad.hex:4: result 3, Hex file checksum error."));
  EXPECT_FALSE(fs::exists(dir / "bad.bin"));
  const Json::Value record = ParseJson(r.out);
  EXPECT_EQ(record["operation"].asString(), "convert");
  EXPECT_EQ(record["result"].asInt(), 3);
  EXPECT_EQ(record["message"].asString(), "Hex file checksum error.");
}

// ---- bad input: a clear error, exit 2, and the programmer never touched ----------------------

struct BadInput {
  const char* name;
  const char* file;
  std::string content;  // not written when empty and `create` is false
  bool create;
  const char* error;
};
void PrintTo(const BadInput& c, std::ostream* os) { *os << c.name; }
class BadInputTest : public Cli, public ::testing::WithParamInterface<BadInput> {};

TEST_P(BadInputTest, IsRefusedBeforeTheProgrammerIsTouched) {
  const BadInput& c = GetParam();
  if (c.create) test::WriteFile(dir / c.file, c.content);
  for (const char* command : {"write", "verify"}) {
    const CliRun r = RunCli({command, "--simulate", "-c", "le1", c.file}, InEnglish(Sim()));
    EXPECT_EQ(r.exit, 2) << command;
    EXPECT_EQ(r.err, std::string("quillet-cli: ") + c.error + "\n") << command;
    EXPECT_EQ(r.out, "");
    // The simulated programmer was never set up, so its chip was never saved.
    EXPECT_FALSE(fs::exists(dir / "flash.bin")) << command;
  }
}

const std::string kData16 = ":10000000000102030405060708090A0B0C0D0E0F78\n";
INSTANTIATE_TEST_SUITE_P(
    Files, BadInputTest,
    ::testing::Values(
        BadInput{"Missing", "nope.hex", "", false, "nope.hex: cannot read: No such file or directory"},
        BadInput{"NotAnImage", "fw.elf", "\x7f" "ELF", true,
                 "fw.elf: not an image file; its name must end in .hex (Intel HEX) or .bin (raw binary)"},
        BadInput{"Checksum", "bad.hex", kData16 + kData16 + ":10001000000102030405060708090A0B0C0D0E0F69\n:00000001FF\n", true,
                 "bad.hex:3: HEX conversion failed with result 3, Hex file checksum error."},
        BadInput{"WrongLabel", "label.hex", kData16 + ":00000009F7\n:00000001FF\n", true,
                 "label.hex:2: HEX conversion failed with result 4, Hex file wrong label."},
        BadInput{"NoEnd", "noend.hex", kData16, true,
                 "noend.hex: HEX conversion failed with result 2, Hex file eof error. (no end record :00000001FF)"},
        BadInput{"EmptyHex", "empty.hex", ":00000001FF\n", true, "empty.hex: the image is empty"},
        BadInput{"EmptyBin", "empty.bin", "", true, "empty.bin: the image is empty"},
        BadInput{"LargeBin", "large.bin", std::string(16385, '\x55'), true,
                 "large.bin: the image is 16385 bytes, larger than the 16384 bytes of NRF24LE1_16K's flash"},
        BadInput{"LargeHex", "large.hex", ":01400000556A\n:00000001FF\n", true,
                 "large.hex: the image is 16385 bytes, larger than the 16384 bytes of NRF24LE1_16K's flash"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Cli, BadUsageIsExitTwoWithOneLine) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"frob"}, {"read", "-c", "le1"}, {"write", "-c", "lu1", "fw.bin"},
        {"detect", "--watch"}, {"read", "-c", "le1", "-o", "nodir/x.bin", "--simulate"}}) {
    const CliRun r = RunCli(args, Sim());
    EXPECT_EQ(r.exit, 2) << ::testing::PrintToString(args);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(fs::exists(dir / "flash.bin"));
  }
}

// ---- the programmer misbehaving ---------------------------------------------------------------

struct Fault {
  const char* name;
  const char* faults;
  std::vector<std::string> args;
  int exit;
  const char* error;
};
void PrintTo(const Fault& c, std::ostream* os) { *os << c.name; }
class FaultTest : public Cli, public ::testing::WithParamInterface<Fault> {};

TEST_P(FaultTest, EndsWithItsExitStatusAndOneErrorLine) {
  const Fault& c = GetParam();
  const CliRun r = RunBesideFirmware(c.args, c.faults, {"--json"}, true);
  EXPECT_EQ(r.exit, c.exit) << r.err;
  EXPECT_THAT(r.err, HasSubstr(c.error));
  EXPECT_EQ(r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1).find("quillet-cli: "), 0u)
      << "the error is the last line: " << r.err;
  const Json::Value record = ParseJson(r.out);
  EXPECT_EQ(record["exit"].asInt(), c.exit);
  EXPECT_THAT(record["error"].asString(), HasSubstr(c.error));
  EXPECT_FALSE(fs::exists(dir / "out.bin")) << "nothing is saved from a read that failed";
}

INSTANTIATE_TEST_SUITE_P(
    Programmer, FaultTest,
    ::testing::Values(
        Fault{"NoChip", "no-chip", {"detect"}, 1, "no chip answers on the programmer's connector"},
        Fault{"NoChipBeforeAWrite", "no-chip", {"write", "-c", "le1", "fw.bin"}, 1, "no chip answers"},
        Fault{"WrongCheckWord", "wrong-check-word", {"detect"}, 1, "the programmer's check word is 5, not 4"},
        Fault{"ConnectFails", "connect-reply=0x81", {"detect"}, 1, "failure reply 0x81"},
        Fault{"ReadFails", "read-reply=0x85", {"read", "-c", "le1", "-o", "out.bin"}, 1, "failure reply 0x85"},
        Fault{"WriteFails", "write-reply=0x86", {"write", "-c", "le1", "fw.bin"}, 1, "failure reply 0x86"},
        Fault{"VerifyFails", "verify-reply=0x87", {"write", "-c", "le1", "fw.bin"}, 1, "failure reply 0x87"},
        Fault{"ChecksumDiffers", "corrupt-checksum", {"write", "-c", "le1", "fw.bin"}, 1,
              "the programmer's checksum of the image differs from ours"},
        Fault{"ReadStalls", "stall-read=10", {"read", "-c", "le1", "-o", "out.bin"}, 4,
              "the programmer stopped answering while reading: nothing for 2000 ms"},
        Fault{"StopsTakingTheImage", "takes-output=20", {"write", "-c", "le1", "fw.bin"}, 4,
              "the programmer stopped taking the image"},
        Fault{"TaskNeverTaken", "takes-output=1", {"write", "-c", "le1", "fw.bin"}, 4,
              "the programmer stopped answering while writing"},
        Fault{"ChecksumNeverComes", "withhold-checksum", {"write", "-c", "le1", "fw.bin"}, 4,
              "the image was sent, but the programmer sent no checksum for 2000 ms"}),
    [](const auto& info) { return std::string(info.param.name); });

// -v shows the console's log: the connection opens once and closes once, and the close is
// printed before the command's result, whether the command succeeded or not (the cases reuse the
// fault record; an empty error is a success).
class VerboseLogTest : public Cli, public ::testing::WithParamInterface<Fault> {};

TEST_P(VerboseLogTest, ShowsOneOpenAndOneCloseBeforeTheResult) {
  const Fault& c = GetParam();
  const CliRun r = RunBesideFirmware(c.args, c.faults, {"-v"});
  EXPECT_EQ(r.exit, c.exit) << r.err;
  auto count = [&](const std::string& text) {
    size_t n = 0;
    for (size_t at = r.err.find(text); at != std::string::npos; at = r.err.find(text, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("HID 设备已打开"), 1u) << r.err;
  ASSERT_EQ(count("HID 设备已关闭"), 1u) << r.err;
  EXPECT_LT(r.err.find("HID 设备已打开"), r.err.find("HID 设备已关闭")) << r.err;
  const std::string last = r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1);
  if (c.exit == 0)
    EXPECT_THAT(last, Not(HasSubstr("quillet-cli: "))) << r.err;
  else
    EXPECT_EQ(last.find("quillet-cli: "), 0u) << "the error stays the last line: " << r.err;
  EXPECT_THAT(last, HasSubstr(c.error));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, VerboseLogTest,
    ::testing::Values(Fault{"Detect", "", {"detect"}, 0, ""},
                      Fault{"Read", "", {"read", "-c", "le1", "-o", "out.bin"}, 0, ""},
                      Fault{"Write", "", {"write", "-c", "le1", "fw.bin", "--readback"}, 0, ""},
                      Fault{"ReadStalls", "stall-read=10", {"read", "-c", "le1", "-o", "out.bin"}, 4, "不再应答"},
                      Fault{"WriteRefused", "write-reply=0x86", {"write", "-c", "le1", "fw.bin"}, 1, "0x86"}),
    [](const auto& info) { return std::string(info.param.name); });

struct EnglishCase {
  const char* name;
  const char* faults;
  std::vector<std::string> args;
  std::vector<std::string> lines;  // each shown whole, after its time stamp
};
void PrintTo(const EnglishCase& c, std::ostream* os) { *os << c.name; }
class EnglishLogTest : public Cli, public ::testing::WithParamInterface<EnglishCase> {};

TEST_P(EnglishLogTest, SpeaksEnglishUnderAnEnglishLocale) {
  const EnglishCase& c = GetParam();
  WriteBytes(dir / "fw.bin", RandomBytes(2000, 6));
  std::vector<std::string> args = c.args;
  args.insert(args.end(), {"-v", "--simulate"});
  const CliRun r = RunCli(args, InEnglish(Sim(c.faults)));
  for (const std::string& line : c.lines) EXPECT_THAT(r.err, HasSubstr("]  " + line + "\n")) << r.err;
  EXPECT_THAT(r.err, HasSubstr("]  HID device closed\n")) << r.err;
  EXPECT_FALSE(HasCjk(r.err)) << r.err;
  EXPECT_FALSE(HasCjk(r.out)) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, EnglishLogTest,
    ::testing::Values(
        EnglishCase{"Detect", "", {"detect"},
                    {"HID device opened", "Programmer opened: nRF24LE1/LU1 Programmer SIM000001",
                     "Connecting to the programmer", "Programmer answered: firmware type 3 version 12",
                     "Chip connected!"}},
        EnglishCase{"Read", "", {"read", "-c", "le1", "-o", "out.bin"},
                    {"Read flash", "Reading flash... 16384", "Flash read complete, 16384 bytes"}},
        EnglishCase{"Write", "", {"write", "-c", "le1", "fw.bin"},
                    {"Write flash", "Writing flash", "Flash write complete", "Verify passed"}},
        EnglishCase{"FailureReply", "read-reply=0x85", {"read", "-c", "le1", "-o", "out.bin"},
                    {"Read flash", "Operation failed: 85  80"}},
        EnglishCase{"Timeout", "stall-read=10", {"read", "-c", "le1", "-o", "out.bin"},
                    {"Reading flash... 16384", "Operation timed out 640  16384"}},
        EnglishCase{"NoChip", "no-chip", {"detect"},
                    {"Chip not connected! Check the wiring, the module and the contacts"}}),
    [](const auto& info) { return std::string(info.param.name); });

// quillet-cli's own messages follow the locale as its log does: a file that is not there, a chip
// name the catalogue does not know and a programmer this user may not open, each under an English
// and a Chinese locale.
struct MessageCase {
  const char* name;
  std::vector<std::string> args;
  const char* faults;
  int exit;
  std::vector<std::string> english;  // each somewhere in stderr
  std::vector<std::string> chinese;
};
void PrintTo(const MessageCase& c, std::ostream* os) { *os << c.name; }
class MessageLanguageTest : public Cli, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(MessageLanguageTest, TheErrorIsInTheLocalesLanguage) {
  const MessageCase& c = GetParam();
  std::vector<std::string> args = c.args;
  args.push_back("--simulate");
  const CliRun en = RunCli(args, InLocale(Sim(c.faults), "en_US.UTF-8"));
  EXPECT_EQ(en.exit, c.exit) << en.err;
  for (const std::string& text : c.english) EXPECT_THAT(en.err, HasSubstr(text));
  EXPECT_FALSE(HasCjk(en.err)) << en.err;
  EXPECT_EQ(std::count(en.err.begin(), en.err.end(), '\n'), 1) << en.err;

  const CliRun zh = RunCli(args, InLocale(Sim(c.faults), "zh_CN.UTF-8"));
  EXPECT_EQ(zh.exit, c.exit) << zh.err;
  for (const std::string& text : c.chinese) EXPECT_THAT(zh.err, HasSubstr(text));
  EXPECT_EQ(std::count(zh.err.begin(), zh.err.end(), '\n'), 1) << zh.err;
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, MessageLanguageTest,
    ::testing::Values(
        MessageCase{"MissingFile", {"write", "-c", "le1", "nope.hex"}, "", 2,
                    {"quillet-cli: nope.hex: cannot read: No such file or directory\n"},
                    {"quillet-cli: nope.hex：无法读取：没有那个文件或目录\n"}},
        MessageCase{"UnknownChip", {"read", "-c", "le2", "-o", "out.bin"}, "", 2,
                    {"quillet-cli: unknown chip \"le2\"; the chips are NRF24LE1_16K, NRF24LU1_16K, NRF24LU1_32K "
                     "(quillet-cli --help shows the usage)\n"},
                    {"quillet-cli: 未知芯片“le2”；可选的芯片有 NRF24LE1_16K, NRF24LU1_16K, NRF24LU1_32K"
                     "（quillet-cli --help 显示用法）\n"}},
        MessageCase{"AccessRefused", {"detect"}, "refuse-access", 3,
                    {"quillet-cli: cannot open the programmer ", ": Permission denied This user may not open the "
                     "programmer's device node.", " Install it with: echo 'KERNEL==\"hidraw*\""},
                    {"quillet-cli: 无法打开编程器 ", "：权限不够 当前用户无权打开编程器的设备节点。",
                     " 安装方法：echo 'KERNEL==\"hidraw*\""}}),
    [](const auto& info) { return std::string(info.param.name); });

// Singapore reads simplified Chinese, as the mainland does; Taiwan and Hong Kong, which write
// traditional Chinese, read English rather than a script they do not write. The log and the
// program's own messages agree.
TEST_F(Cli, EachChineseRegionGetsTheLanguageItsUsersRead) {
  const struct {
    const char* locale;
    bool chinese;
  } regions[] = {{"zh_CN.UTF-8", true}, {"zh_SG.UTF-8", true}, {"zh_TW.UTF-8", false}, {"zh_HK.UTF-8", false}};
  for (const auto& region : regions) {
    const CliRun detect = RunCli({"detect", "--simulate"}, InLocale(Sim(), region.locale));
    EXPECT_EQ(detect.out, region.chinese ? "编程器通讯成功：固件类型3 版本12 \n芯片已连接！\n"
                                         : "Programmer answered: firmware type 3 version 12\nChip connected!\n")
        << region.locale;
    const CliRun chip = RunCli({"read", "--simulate", "-c", "le2", "-o", "out.bin"}, InLocale(Sim(), region.locale));
    EXPECT_THAT(chip.err, HasSubstr(region.chinese ? "未知芯片“le2”" : "unknown chip \"le2\"")) << region.locale;
  }
}

TEST_F(Cli, AnUnplugIsLoggedInEnglishUnderAnEnglishLocale) {
  WriteBytes(dir / "fw.bin", RandomBytes(2000, 6));
  CliProcess p({"write", "--simulate", "-c", "le1", "fw.bin", "--watch", "-v"}, InEnglish(Sim()));
  ASSERT_TRUE(p.WaitForStderr("watching"));
  p.Signal(SIGUSR1);  // the simulated programmer unplugged
  ASSERT_TRUE(p.WaitForStderr("the programmer is gone; waiting for it"));
  ASSERT_TRUE(p.WaitForStderr("]  DeviceChange\n"));
  p.Signal(SIGINT);
  const CliRun end = p.Finish();
  EXPECT_EQ(end.exit, 0) << end.err;
  EXPECT_THAT(end.err, HasSubstr("]  HID device closed\n")) << end.err;
  EXPECT_FALSE(HasCjk(end.err)) << end.err;
}

// Watch mode tells a Chinese reader what it is watching and where the programmer went in Chinese,
// naming the same file.
TEST_F(Cli, WatchModeSpeaksChineseUnderAChineseLocale) {
  WriteBytes(dir / "fw.bin", RandomBytes(2000, 6));
  CliProcess p({"write", "--simulate", "-c", "le1", "fw.bin", "--watch"}, InLocale(Sim(), "zh_CN.UTF-8"));
  ASSERT_TRUE(p.WaitForStderr("正在监视 fw.bin（按 Ctrl-C 结束）")) << p.err;
  p.Signal(SIGUSR1);  // the simulated programmer unplugged
  ASSERT_TRUE(p.WaitForStderr("编程器已断开；正在等待它重新连接")) << p.err;
  p.Signal(SIGUSR1);  // and plugged in again
  ASSERT_TRUE(p.WaitForStderr("编程器已重新连接")) << p.err;
  p.Signal(SIGINT);
  const CliRun end = p.Finish();
  EXPECT_EQ(end.exit, 0) << end.err;
  EXPECT_THAT(end.err, Not(HasSubstr("watching"))) << end.err;
  EXPECT_THAT(end.err, Not(HasSubstr("the programmer is"))) << end.err;
}

TEST_F(Cli, NoProgrammerIsExitThree) {
  fs::create_directories(dir / "sys/class/hidraw");
  fs::create_directories(dir / "dev");
  RunSettings s;
  s.env["QUILLET_SYSFS_ROOT"] = P("sys");
  s.env["QUILLET_DEV_ROOT"] = P("dev");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"detect"}, {"list"}, {"read", "-c", "le1", "-o", P("x.bin")}}) {
    const CliRun r = RunCli(args, InEnglish(s));
    EXPECT_EQ(r.exit, 3) << args[0];
    EXPECT_THAT(r.err, HasSubstr("no programmer (04d8:003f)"));
  }
}

// ---- read-back beyond the XOR check ----------------------------------------------------------

TEST_F(Cli, ReadbackCatchesWhatTheXorChecksumCannotSee) {
  // Bit 3 worn to 0 in two bytes: two flips in one bit position leave the XOR unchanged.
  const std::string worn = "stuck=0x10:0x08:0,stuck=0x20:0x08:0";
  WriteBytes(dir / "fw.bin", Bytes(256, 0xFF));
  CliRun r = RunCli({"write", "--simulate", "-c", "le1", "fw.bin"}, InEnglish(Sim(worn)));
  EXPECT_EQ(r.exit, 0) << "the programmer's checksum agrees: " << r.err;

  r = RunCli({"write", "--simulate", "-c", "le1", "fw.bin", "--readback", "--json"}, InEnglish(Sim(worn)));
  EXPECT_EQ(r.exit, 1);
  EXPECT_THAT(r.err, HasSubstr("the chip differs from fw.bin: first difference at 0x0010: expected 0xFF, read "
                               "0xF7; 2 of 256 bytes differ, 2 bits 1->0 and 0 bits 0->1\n"));
  const Json::Value record = ParseJson(r.out);
  EXPECT_EQ(record["checksum"].asString(), "agree");
  EXPECT_EQ(record["readback"].asString(), "mismatch");
  EXPECT_EQ(record["mismatch"]["address"].asInt(), 0x10);
  EXPECT_EQ(record["mismatch"]["expected"].asInt(), 0xFF);
  EXPECT_EQ(record["mismatch"]["actual"].asInt(), 0xF7);
  EXPECT_EQ(record["mismatch"]["bytes"].asInt(), 2);
  EXPECT_EQ(record["mismatch"]["bits_1_to_0"].asInt(), 2);
  EXPECT_EQ(record["mismatch"]["bits_0_to_1"].asInt(), 0);
}

TEST_F(Cli, BitsThatStayZeroAfterAWriteWithoutEraseAskWhetherItWasErased) {
  SetFlash(Bytes(16384, 0x00));
  WriteBytes(dir / "fw.bin", RandomBytes(1000, 7));
  CliRun r = RunCli({"write", "--simulate", "-c", "le1", "fw.bin", "--no-erase", "--readback"}, InEnglish(Sim()));
  EXPECT_EQ(r.exit, 1);
  EXPECT_THAT(r.err, HasSubstr("was the flash erased?"));
  r = RunCli({"write", "--simulate", "-c", "le1", "fw.bin", "--readback"}, InEnglish(Sim()));
  EXPECT_EQ(r.exit, 0) << r.err;
  EXPECT_THAT(r.err, Not(HasSubstr("erased?")));
}

TEST_F(Cli, SnapshotKeepsWhatTheChipHeldBeforeTheWrite) {
  const Bytes before = FlashLike(16384, 8);
  SetFlash(before);
  const Bytes image = RandomBytes(3000, 9);
  WriteBytes(dir / "fw.bin", image);
  const CliRun r = RunCli({"write", "--simulate", "-c", "le1", "fw.bin", "--snapshot", "snaps", "--json"}, Sim());
  ASSERT_EQ(r.exit, 0) << r.err;
  const Json::Value record = ParseJson(r.out);
  const fs::path snapshot = dir / record["snapshot"].asString();
  EXPECT_EQ(snapshot.parent_path(), dir / "snaps");
  EXPECT_THAT(snapshot.filename().string(), ::testing::MatchesRegex("NRF24LE1_16K-[0-9]{8}-[0-9]{6}\\.[0-9]{3}\\.bin"));
  EXPECT_EQ(ReadBytes(snapshot), before);
  const Bytes after = Flash();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), after.begin()));
}

TEST_F(Cli, ASimulatedFlashThatCannotBeKeptIsSaid) {
  WriteBytes(dir / "fw.bin", RandomBytes(1000, 11));
  RunSettings s = InEnglish(Sim());
  s.env["QUILLET_SIM_FLASH"] = P("no-such-folder/flash.bin");
  const CliRun r = RunCli({"write", "--simulate", "-c", "le1", "fw.bin"}, s);
  // The chip took the image; only the file that carries it to the next command is missing.
  EXPECT_EQ(r.exit, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("flash.bin: cannot write"));
}

TEST_F(Cli, JsonRecordsCarryTheOperationAndItsResults) {
  WriteBytes(dir / "fw.bin", RandomBytes(4096, 10));
  const CliRun r = RunCli({"write", "--simulate", "-c", "LE1", "fw.bin", "--readback", "--json"}, Sim());
  ASSERT_EQ(r.exit, 0) << r.err;
  ASSERT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << "one record per operation";
  const Json::Value record = ParseJson(r.out);
  EXPECT_EQ(record["operation"].asString(), "write");
  EXPECT_EQ(record["chip"].asString(), "NRF24LE1_16K");
  EXPECT_EQ(record["file"].asString(), "fw.bin");
  EXPECT_EQ(record["bytes"].asInt(), 4096);
  EXPECT_TRUE(record["duration"].isDouble());
  EXPECT_GT(record["duration"].asDouble(), 0.0);
  EXPECT_EQ(record["checksum"].asString(), "agree");
  EXPECT_EQ(record["readback"].asString(), "match");
  EXPECT_TRUE(record["error"].isNull());
  EXPECT_EQ(record["exit"].asInt(), 0);

  const CliRun d = RunCli({"detect", "--simulate", "--json"}, Sim());
  const Json::Value identity = ParseJson(d.out);
  EXPECT_EQ(identity["firmware_type"].asInt(), 3);
  EXPECT_EQ(identity["firmware_version"].asInt(), 12);
  EXPECT_EQ(identity["check_word"].asInt(), 4);
  EXPECT_TRUE(identity["chip_connected"].asBool());
}

// ---- list and permissions over a fake sysfs tree ---------------------------------------------

TEST_F(Cli, ListMarksANodeThisUserMayNotOpenAndAnOpenRefusalSaysHowToInstallTheRule) {
  FakeHidTree tree;
  FakeHidTree::Node open;
  open.descriptor = sim::VendorReportDescriptor64();
  open.serial = open.uniq = "OPEN-1";
  tree.Add(open);
  FakeHidTree::Node closed = open;
  closed.name = "hidraw1";
  closed.serial = closed.uniq = "CLOSED-2";
  tree.Add(closed);
  // The tree must be readable by the user the program runs as; one node is not.
  ::chmod(fs::path(tree.Sys()).parent_path().c_str(), 0755);
  ::chmod(tree.DevNode("hidraw0").c_str(), 0666);
  ::chmod(tree.DevNode("hidraw1").c_str(), 0000);
  RunSettings s;
  s.env["QUILLET_SYSFS_ROOT"] = tree.Sys();
  s.env["QUILLET_DEV_ROOT"] = tree.Dev();
  s.unprivileged = true;

  CliRun r = RunCli({"list"}, InEnglish(s));
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out, tree.DevNode("hidraw0") + "  nRF24 Programmer  serial OPEN-1  accessible\n" +
                       tree.DevNode("hidraw1") +
                       "  nRF24 Programmer  serial CLOSED-2  no access: Permission denied; install the udev "
                       "rule 70-quillet.rules (quillet-cli detect shows how)\n");

  r = RunCli({"list", "--json"}, InEnglish(s));
  const Json::Value devices = ParseJson(r.out)["devices"];
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_TRUE(devices[0]["accessible"].asBool());
  EXPECT_TRUE(devices[0]["reason"].isNull());
  EXPECT_FALSE(devices[1]["accessible"].asBool());
  EXPECT_THAT(devices[1]["reason"].asString(), HasSubstr("Permission denied"));
  EXPECT_EQ(devices[1]["serial"].asString(), "CLOSED-2");

  r = RunCli({"detect", "--serial", "CLOSED-2"}, InEnglish(s));
  EXPECT_EQ(r.exit, 3);
  EXPECT_THAT(r.err, HasSubstr("Permission denied"));
  EXPECT_THAT(r.err, HasSubstr("sudo tee /etc/udev/rules.d/70-quillet.rules"));
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

// ---- watch ----------------------------------------------------------------------------------

// Replaces the file the way an editor or a linker does: a new file renamed over it.
void ReplaceByRename(const fs::path& file, const Bytes& content) {
  const fs::path temp = file.parent_path() / ".fw.tmp";
  WriteBytes(temp, content);
  fs::rename(temp, file);
}

TEST_F(Cli, WatchWritesAgainWhenTheFileIsReplacedNotWhileHalfWrittenAndAcrossAReplug) {
  const fs::path file = dir / "fw.bin";
  const Bytes first = RandomBytes(1000, 11), second = RandomBytes(2000, 12), third = RandomBytes(3000, 13),
              fourth = RandomBytes(1500, 14);
  WriteBytes(file, first);
  CliProcess p({"write", "--simulate", "-c", "le1", "fw.bin", "--watch", "--json"}, InEnglish(Sim()));
  const auto nextWrite = [&](size_t bytes, const Bytes& image) {
    const auto line = p.NextLine();
    ASSERT_TRUE(line) << p.err;
    const Json::Value record = ParseJson(*line);
    EXPECT_EQ(record["exit"].asInt(), 0) << *line;
    EXPECT_EQ(record["bytes"].asUInt64(), bytes);
    const Bytes flash = Flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
  };
  nextWrite(first.size(), first);
  ASSERT_TRUE(p.WaitForStderr("watching"));

  ReplaceByRename(file, second);
  nextWrite(second.size(), second);

  {
    // Half of it written and the file still open: well past the settling time, nothing is flashed.
    std::FILE* f = std::fopen(file.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(third.data(), 1, third.size() / 2, f);
    std::fflush(f);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    std::fwrite(third.data() + third.size() / 2, 1, third.size() - third.size() / 2, f);
    std::fclose(f);
  }
  nextWrite(third.size(), third);  // the next write is the whole file, none came before it

  p.Signal(SIGUSR1);  // the simulated programmer unplugged
  ASSERT_TRUE(p.WaitForStderr("the programmer is gone; waiting for it"));
  ReplaceByRename(file, fourth);
  p.Signal(SIGUSR1);  // and plugged in again
  ASSERT_TRUE(p.WaitForStderr("the programmer is back"));
  nextWrite(fourth.size(), fourth);

  p.Signal(SIGINT);
  const CliRun end = p.Finish();
  EXPECT_EQ(end.exit, 0) << end.err;
  EXPECT_EQ(std::count(end.out.begin(), end.out.end(), '\n'), 4) << "one record per write, no more";
}

// A writer that closes the file and opens it again to write the rest (as a linker that goes back
// to patch its output): the part it closed first is never flashed, however long the rest takes.
TEST_F(Cli, WatchWaitsForAWriterThatClosesAndReopensTheFile) {
  const fs::path file = dir / "fw.bin";
  const Bytes first = RandomBytes(1000, 21), second = RandomBytes(3000, 22);
  WriteBytes(file, first);
  CliProcess p({"write", "--simulate", "-c", "le1", "fw.bin", "--watch", "--json"}, InEnglish(Sim()));
  ASSERT_TRUE(p.NextLine()) << p.err;
  ASSERT_TRUE(p.WaitForStderr("watching"));
  {
    std::FILE* f = std::fopen(file.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(second.data(), 1, 1000, f);
    std::fclose(f);
    f = std::fopen(file.c_str(), "ab");
    ASSERT_NE(f, nullptr);
    std::fwrite(second.data() + 1000, 1, 1000, f);
    std::fflush(f);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::fwrite(second.data() + 2000, 1, 1000, f);
    std::fclose(f);
  }
  const auto line = p.NextLine();
  ASSERT_TRUE(line) << p.err;
  const Json::Value record = ParseJson(*line);
  EXPECT_EQ(record["exit"].asInt(), 0) << *line;
  EXPECT_EQ(record["bytes"].asUInt64(), second.size()) << "the next write is the whole file";
  const Bytes flash = Flash();
  EXPECT_TRUE(std::equal(second.begin(), second.end(), flash.begin()));
  p.Signal(SIGINT);
  const CliRun end = p.Finish();
  EXPECT_EQ(end.exit, 0) << end.err;
  EXPECT_EQ(std::count(end.out.begin(), end.out.end(), '\n'), 2) << "one record per write, no more";
}

}  // namespace
}  // namespace quillet::test
