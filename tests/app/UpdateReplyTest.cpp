#include "app/UpdateReply.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "net/HttpClient.h"
#include "tests/support/EventLoopHelpers.h"
#include "tests/support/LoopbackHttpServer.h"

namespace quillet {
namespace {

// What the handler did through its hooks.
struct Effects {
  std::vector<std::string> log;
  std::vector<std::string> boxes;
  std::optional<int> exitStatus;
  std::vector<std::string> opened;
};

Effects Handle(const std::string& body, int32_t fileSize = 0) {
  Effects effects;
  CUpdateReplyHandler handler({
      [&](const std::string& m) { effects.log.push_back(m); },
      [&](const std::string& t) { effects.boxes.push_back(t); },
      [&](int status) { effects.exitStatus = status; },
      [&](const std::string& url) { effects.opened.push_back(url); },
  });
  TMemoryStream stream;
  stream.Write(body.data(), body.size());
  stream.SetPosition(0);
  handler.HttpInfoDone(nullptr, "application/json", fileSize, stream);
  return effects;
}

const std::string kNewer =
    R"("version":"201","des":"d","downloadurl":"http://dl.example/q","updatetime":"2026-12-01","updatecontent":"fixes")";
const std::string kAnnouncement =
    "\n\n新版本：201\n下载地址：http://dl.example/q\n更新时间：2026-12-01\n更新内容\nfixes\n\n";

struct ReplyCase {
  std::string name;
  std::string json;
  std::vector<std::string> log;  // after the reply's own text, which is always logged first
  std::vector<std::string> boxes;
  std::optional<int> exitStatus;
  std::vector<std::string> opened;
  friend void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }
};

class UpdateReply : public testing::TestWithParam<ReplyCase> {};

TEST_P(UpdateReply, Effects) {
  const ReplyCase& c = GetParam();
  const Effects effects = Handle(c.json);
  std::vector<std::string> log{c.json};
  log.insert(log.end(), c.log.begin(), c.log.end());
  EXPECT_EQ(effects.log, log);
  EXPECT_EQ(effects.boxes, c.boxes);
  EXPECT_EQ(effects.exitStatus, c.exitStatus);
  EXPECT_EQ(effects.opened, c.opened);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, UpdateReply,
    testing::Values(
        // "code", "die" and "mustugrade" count by presence, whatever their value.
        ReplyCase{"CodeFalse", R"({"code":false,"msg":"hi","version":"200"})", {"hi", "\n"}, {}, {}, {}},
        ReplyCase{"CodeNull", R"({"code":null,"msg":"hi","version":"200"})", {"hi", "\n"}, {}, {}, {}},
        ReplyCase{"CodeZero", R"({"code":0,"msg":"hi","version":"200"})", {"hi", "\n"}, {}, {}, {}},
        ReplyCase{"CodeEmpty", R"({"code":"","version":"200"})", {"", "\n"}, {}, {}, {}},
        ReplyCase{"NoCode", R"({"msg":"hi","version":"200","des":"same"})", {"\nsame"}, {}, {}, {}},
        ReplyCase{"DieFalse", R"({"die":false,"msg":"stop","version":"300"})", {}, {"stop"}, 2, {}},
        ReplyCase{"DieNullAfterCode", R"({"code":1,"die":null,"msg":"stop"})", {"stop"}, {"stop"}, 2, {}},
        ReplyCase{"Newer", "{" + kNewer + "}", {"\nd", kAnnouncement}, {}, {}, {}},
        ReplyCase{"NewerMustUpgrade", "{" + kNewer + R"(,"mustugrade":false,"msg":"update now"})",
                  {"\nd", kAnnouncement}, {"update now"}, {}, {"http://dl.example/q"}},
        ReplyCase{"NewerMustUpgradeWithoutMsg", "{" + kNewer + R"(,"mustugrade":""})",
                  {"\nd", kAnnouncement}, {}, {}, {"http://dl.example/q"}},
        ReplyCase{"Older", R"({"version":"199","des":"d","mustugrade":1,"downloadurl":"http://dl"})",
                  {"\nd"}, {}, {}, {}},
        ReplyCase{"Same", R"({"version":"200","des":"d","mustugrade":1})", {"\nd"}, {}, {}, {}},
        ReplyCase{"DollarHexOlder", R"({"version":"$10","des":"d"})", {"\nd"}, {}, {}, {}},
        ReplyCase{"ZeroXHexOlder", R"({"version":"0x10","des":"d"})", {"\nd"}, {}, {}, {}},
        ReplyCase{"HexNewerShownAsReceived",
                  R"({"version":"0x12C","des":"d","downloadurl":"u","updatetime":"t","updatecontent":"c"})",
                  {"\nd", "\n\n新版本：0x12C\n下载地址：u\n更新时间：t\n更新内容\nc\n\n"}, {}, {}, {}},
        ReplyCase{"BooleansAsText", R"({"version":"1","des":true})", {"\ntrue"}, {}, {}, {}},
        ReplyCase{"VersionIsANumber", R"({"version":201,"des":"d"})", {"JSON exception"}, {}, {}, {}},
        ReplyCase{"VersionNotWhole", R"({"version":"2.5"})", {"JSON exception"}, {}, {}, {}},
        ReplyCase{"VersionWithTrailingText", R"({"version":"201a"})", {"JSON exception"}, {}, {}, {}},
        ReplyCase{"VersionMissing", R"({"des":"d"})", {"JSON exception"}, {}, {}, {}},
        ReplyCase{"MsgIsANumberAfterCode", R"({"code":1,"msg":7,"version":"999"})", {"JSON exception"}, {}, {}, {}},
        ReplyCase{"DesIsAnObject", R"({"version":"201","des":{}})", {"JSON exception"}, {}, {}, {}},
        // The announcement is not started when one of its texts is not text.
        ReplyCase{"DownloadUrlIsAnArray", R"({"version":"201","des":"d","downloadurl":[],"mustugrade":1})",
                  {"\nd", "JSON exception"}, {}, {}, {}},
        ReplyCase{"DieMsgIsANumber", R"({"die":1,"msg":3})", {"JSON exception"}, {}, {}, {}},
        ReplyCase{"CommentsAllowed", "// service note\n{\"version\":\"100\" /* old */}", {"\n"}, {}, {}, {}},
        ReplyCase{"TopLevelNull", "null", {"JSON exception"}, {}, {}, {}},
        ReplyCase{"TopLevelArray", R"(["version","201"])", {"JSON exception"}, {}, {}, {}},
        ReplyCase{"ParseFailure", R"({"version":"201",)", {}, {}, {}, {}},
        // Nesting beyond the reader's depth limit is a parse failure like any other.
        ReplyCase{"ArraysNestedTooDeep", std::string(100000, '['), {}, {}, {}, {}},
        ReplyCase{"ObjectsNestedTooDeep", [] {
                    std::string s;
                    for (int i = 0; i < 5000; ++i) s += R"({"a":)";
                    return s;
                  }(), {}, {}, {}, {}},
        ReplyCase{"EmptyBody", "", {}, {}, {}, {}}),
    [](const testing::TestParamInfo<ReplyCase>& info) { return info.param.name; });

TEST(UpdateReplyBody, OnlyFileSizeBytesAreRead) {
  const std::string json = R"({"version":"100"})";
  const Effects effects = Handle(json + "trailing garbage", static_cast<int32_t>(json.size()));
  EXPECT_EQ(effects.log, (std::vector<std::string>{json, "\n"}));
}

TEST(UpdateReplyBody, AFileSizeBeyondTheStreamReadsOnlyTheStream) {
  const std::string json = R"({"version":"100"})";
  const Effects effects = Handle(json, 1 << 20);
  EXPECT_EQ(effects.log, (std::vector<std::string>{json, "\n"}));
}

// Bound to a client's OnDone, as the window may bind it: a reply the reader gives up on must end
// there, without an error reaching the client after OnDone.
TEST(UpdateReplyBound, AReplyNestedTooDeepEndsQuietly) {
  const std::string body(100000, '[');
  test::LoopbackHttpServer server({test::Reply("HTTP/1.1 200 OK\r\nContent-Length: " +
                                               std::to_string(body.size()) + "\r\n\r\n" + body)});
  std::vector<std::string> events;
  CUpdateReplyHandler handler({[&](const std::string&) { events.push_back("log"); }, {}, {}, {}});
  THttpClient client;
  client.OnDone = [&](TComponent* sender, const std::string& type, int32_t size, TMemoryStream& stream) {
    events.push_back("done");
    handler.HttpInfoDone(sender, type, size, stream);
  };
  client.OnAnyError = [&](TComponent*) { events.push_back("any error"); };
  client.URL = server.BaseUrl() + "/version";
  ASSERT_TRUE(client.Read(false));
  ASSERT_TRUE(test::PumpUntil([&] { return !client.Busy(); }));
  test::PumpFor(20);
  EXPECT_EQ(events, (std::vector<std::string>{"done", "log"}));
}

TEST(UpdateReplyExit, EndsTheProcessWithTheStatus) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(ExitProcessNow(2), testing::ExitedWithCode(2), "");
}

struct NumberCase {
  std::string text;
  std::optional<int32_t> value;
  friend void PrintTo(const NumberCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }
};

class TextToInteger : public testing::TestWithParam<NumberCase> {};

TEST_P(TextToInteger, Converts) { EXPECT_EQ(StrToInt(GetParam().text), GetParam().value) << GetParam().text; }

INSTANTIATE_TEST_SUITE_P(
    Table, TextToInteger,
    testing::Values(NumberCase{"200", 200}, NumberCase{"  201", 201}, NumberCase{"+7", 7},
                    NumberCase{"-5", -5}, NumberCase{"$10", 16}, NumberCase{"x1f", 31},
                    NumberCase{"X1F", 31}, NumberCase{"0x10", 16}, NumberCase{"0X7fffffff", INT32_MAX},
                    NumberCase{"$FFFFFFFF", -1}, NumberCase{"-$10", -16},
                    NumberCase{"2147483647", INT32_MAX}, NumberCase{"-2147483648", INT32_MIN},
                    NumberCase{"2147483648", std::nullopt}, NumberCase{"$100000000", std::nullopt},
                    NumberCase{"", std::nullopt}, NumberCase{"0x", std::nullopt},
                    NumberCase{"$", std::nullopt}, NumberCase{"12 ", std::nullopt},
                    NumberCase{"1e3", std::nullopt}, NumberCase{"ten", std::nullopt},
                    NumberCase{"0", 0}, NumberCase{"007", 7}));

}  // namespace
}  // namespace quillet
