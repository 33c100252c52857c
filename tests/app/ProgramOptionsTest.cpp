#include "app/ProgramOptions.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace quillet {
namespace {

struct OptionsCase {
  std::vector<std::string> args;
  std::optional<uint32_t> simulate;
  std::vector<std::string> positional;
  bool error;
};

class ProgramOptionsTest : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(ProgramOptionsTest, TakesOptionsOutBeforeThePositionalArguments) {
  const OptionsCase& c = GetParam();
  const ProgramOptions o = ParseProgramOptions(c.args);
  EXPECT_EQ(!o.error.empty(), c.error) << o.error;
  if (c.error) return;
  EXPECT_EQ(o.simulateFlashSize, c.simulate);
  EXPECT_EQ(o.positional, c.positional);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ProgramOptionsTest,
    ::testing::Values(OptionsCase{{}, std::nullopt, {}, false},
                      OptionsCase{{"--simulate"}, 16384u, {}, false},
                      OptionsCase{{"--simulate=32k", "blink.hex"}, 32768u, {"blink.hex"}, false},
                      OptionsCase{{"a.hex", "--simulate=16K"}, 16384u, {"a.hex"}, false},
                      OptionsCase{{"--", "--simulate"}, std::nullopt, {"--simulate"}, false},
                      OptionsCase{{"-"}, std::nullopt, {"-"}, false},
                      OptionsCase{{"--simulate=64k"}, std::nullopt, {}, true},
                      OptionsCase{{"--frobnicate"}, std::nullopt, {}, true}));

}  // namespace
}  // namespace quillet
