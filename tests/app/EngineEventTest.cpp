#include "app/EngineEvent.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

#include "app/ProgramOptions.h"
#include "engine/Cpro.h"

namespace quillet {
namespace {

TEST(DecodeEngineEvent, CopiesWhatThePayloadCarries) {
  char text[] = "开始读FLASH...16384";
  auto log = DecodeEngineEvent(EVT_LOG, text);
  std::memset(text, 'x', sizeof text - 1);  // the payload is gone once the event returns
  ASSERT_TRUE(log && std::holds_alternative<LogEvent>(*log));
  EXPECT_EQ(std::get<LogEvent>(*log).text, "开始读FLASH...16384");

  uint8_t reply[64];
  for (int i = 0; i < 64; ++i) reply[i] = static_cast<uint8_t>(i);
  auto identity = DecodeEngineEvent(EVT_IDENTITY, reply);
  reply[63] = 0xEE;
  ASSERT_TRUE(identity && std::holds_alternative<IdentityEvent>(*identity));
  EXPECT_EQ(std::get<IdentityEvent>(*identity).reply[63], 63);
}

TEST(DecodeEngineEvent, CountsAndFlags) {
  const int32_t n = 16320, zero = 0, two = 2;
  EXPECT_EQ(std::get<ReadProgressEvent>(*DecodeEngineEvent(EVT_READ_PROGRESS, &n)).received, n);
  EXPECT_EQ(std::get<WriteProgressEvent>(*DecodeEngineEvent(EVT_WRITE_PROGRESS, &n)).sent, n);
  EXPECT_FALSE(std::get<VerifyEvent>(*DecodeEngineEvent(EVT_VERIFY, &zero)).agree);
  EXPECT_TRUE(std::get<VerifyEvent>(*DecodeEngineEvent(EVT_VERIFY, &two)).agree);
}

TEST(DecodeEngineEvent, UnknownCodesAndNullPayloadsAreNothing) {
  const int32_t n = 1;
  for (int code : {-1, 2, 3, 4, 8, 255}) EXPECT_FALSE(DecodeEngineEvent(code, &n)) << code;
  EXPECT_FALSE(DecodeEngineEvent(EVT_LOG, nullptr));
}

TEST(EngineLogText, FailureRepliesAndStreamFailuresAreRecognised) {
  struct {
    const char* text;
    std::optional<uint8_t> reply;
    bool streamFailure;
  } cases[] = {
      {"操作失败:85  80", 0x85, false},
      {"操作失败:FF  80", 0xFF, false},
      {"操作失败:05  00", std::nullopt, false},  // no failure bit: not a failure reply
      {"操作失败:", std::nullopt, false},
      {"开始读FLASH...16384", std::nullopt, false},
      {"写FLASH失败：第3个数据包（共256个）未被编程器接收", std::nullopt, true},
      {"写FLASH完成", std::nullopt, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FailureReplyCode(LogEvent{c.text}), c.reply) << c.text;
    EXPECT_EQ(IsImageStreamFailure(LogEvent{c.text}), c.streamFailure) << c.text;
  }
}

// The texts as the engine itself raises them, so the two sides cannot drift apart.
TEST(EngineLogText, TheEnginesOwnFailureLineIsRecognised) {
  CPro engine;
  std::vector<LogEvent> logs;
  engine.SetEngineEvent([&](int code, const void* payload) {
    if (auto e = DecodeEngineEvent(code, payload); e && std::holds_alternative<LogEvent>(*e))
      logs.push_back(std::get<LogEvent>(*e));
  });
  engine.SetSendReport([](const uint8_t*, size_t) { return false; });
  engine.EditTask([](ProgrammerTask& t) { FillTask(t, OP_WRITE, {}, 128); });
  uint8_t reply[64] = {0x86};
  engine.HandleReport(reply, sizeof reply);
  reply[0] = OP_WRITE;
  engine.HandleReport(reply, sizeof reply);
  ASSERT_EQ(logs.size(), 2u);
  EXPECT_EQ(FailureReplyCode(logs[0]), 0x86);
  EXPECT_TRUE(IsImageStreamFailure(logs[1]));
}

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
