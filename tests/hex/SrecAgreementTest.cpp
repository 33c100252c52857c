// Agreement with an independent Intel HEX reader: srec_cat from srecord. Each case generates a
// well-formed file from a fixed seed, converts it, and compares the image byte for byte with what
// srec_cat makes of the same file over 0..L-1 with 0xFF fill, and with the generator's own record
// of every byte it wrote.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "hex/Chex2bin.h"
#include "tests/support/HexGen.h"
#include "tests/support/TempDir.h"

extern char** environ;

namespace quillet::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The first executable named `name` in the directories of PATH, or "" when there is none.
std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (dir.empty()) dir = ".";
    const std::string candidate = dir + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0 && std::filesystem::is_regular_file(candidate)) return candidate;
  }
  return "";
}

// Runs program with args, its standard output and error going to logPath. Returns the exit status
// (-1 when it could not be started or did not exit normally).
int RunProgram(const std::string& program, const std::vector<std::string>& args, const std::filesystem::path& logPath) {
  std::vector<char*> argv;
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

struct AgreeCase {
  Addressing addressing;
  std::uint32_t imageSize;
  bool gaps;
  bool shuffle;
  std::uint32_t seed;
};

std::string Name(const AgreeCase& c) {
  const char* a = c.addressing == Addressing::kNone      ? "Plain"
                  : c.addressing == Addressing::kSegment ? "Segment"
                                                         : "Linear";
  return std::string(a) + "_" + std::to_string(c.imageSize) + (c.gaps ? "_Gaps" : "_Contiguous") +
         (c.shuffle ? "_OutOfOrder" : "_InOrder") + "_Seed" + std::to_string(c.seed);
}

std::vector<AgreeCase> AgreeCases() {
  std::vector<AgreeCase> cases;
  std::uint32_t seed = 1000;
  auto add = [&](Addressing a, std::initializer_list<std::uint32_t> sizes) {
    for (std::uint32_t size : sizes) {
      for (int layout = 0; layout < 4; ++layout) cases.push_back({a, size, (layout & 1) != 0, (layout & 2) != 0, seed++});
    }
  };
  add(Addressing::kNone, {0x3FD, 0x8000, 0x10000});
  add(Addressing::kSegment, {0x23457, 0x80000});
  add(Addressing::kLinear, {0x23457, 0x80000});
  return cases;
}

class SrecAgreementTest : public ::testing::TestWithParam<AgreeCase> {};

TEST_P(SrecAgreementTest, ImageEqualsSrecCat) {
  const std::string srecCat = FindOnPath("srec_cat");
  ASSERT_FALSE(srecCat.empty()) << "srec_cat (Debian package srecord) is not on PATH; run scripts/setup.sh";

  const AgreeCase& c = GetParam();
  const Generated g = Generate({c.seed, c.imageSize, c.addressing, c.gaps, c.shuffle});
  TempDir dir;
  const auto hex = dir / "in.hex", side = dir / "in.hex.bin", ref = dir / "ref.bin", log = dir / "srec.log";
  WriteFile(hex, g.text);

  // Measure first, so the destination is exactly L bytes and any overrun shows under ASan.
  CHex2Bin conv;
  std::uint32_t length = 0;
  ASSERT_EQ(conv.Convert(hex, std::nullopt, &length, nullptr), CHex2Bin::kLengthOnly) << conv.ResultText;
  const std::uint32_t L = length;
  ASSERT_GE(L, g.dataBytes);
  ASSERT_LE(L, g.end);
  if (c.addressing == Addressing::kNone || !c.gaps) {
    EXPECT_EQ(L, g.end);
  }

  Bytes dest(L);
  length = 0;
  ASSERT_EQ(conv.Convert(hex, side, &length, dest.data()), CHex2Bin::kSuccess) << conv.ResultText;
  ASSERT_EQ(length, L);

  const int rc = RunProgram(srecCat,
                     {hex.string(), "-Intel", "-crop", "0", std::to_string(L), "-fill", "0xFF", "0",
                      std::to_string(L), "-o", ref.string(), "-Binary"},
                     log);
  const Bytes logText = ReadFile(log);
  ASSERT_EQ(rc, 0) << "srec_cat failed: " << std::string(logText.begin(), logText.end());
  const Bytes expected = ReadFile(ref);
  ASSERT_EQ(expected.size(), L);

  std::size_t firstDiff = 0;
  while (firstDiff < L && dest[firstDiff] == expected[firstDiff]) ++firstDiff;
  EXPECT_EQ(firstDiff, L) << "image differs from srec_cat first at 0x" << std::hex << firstDiff;
  EXPECT_TRUE(ReadFile(side) == expected) << "side file differs from srec_cat";

  Bytes own(L, 0xFF);
  for (std::uint32_t a = 0; a < L; ++a) {
    if (g.bytes[a] >= 0) own[a] = static_cast<std::uint8_t>(g.bytes[a]);
  }
  EXPECT_TRUE(own == expected) << "generator and srec_cat disagree";
}

INSTANTIATE_TEST_SUITE_P(Generated, SrecAgreementTest, ::testing::ValuesIn(AgreeCases()),
                         [](const auto& info) { return Name(info.param); });

}  // namespace
}  // namespace quillet::test
