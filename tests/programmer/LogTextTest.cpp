#include "programmer/LogText.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/Cpro.h"
#include "programmer/MessageCatalogue.h"
#include "programmer/Programmer.h"
#include "tests/support/Language.h"

namespace quillet {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using test::NumbersIn;

IdentityEvent Identity(uint8_t chip, uint8_t type, uint8_t version, uint16_t word) {
  IdentityEvent e;
  e.reply[0] = OP_CONNECT;
  e.reply[1] = chip;
  e.reply[2] = type;
  e.reply[3] = version;
  e.reply[4] = static_cast<uint8_t>(word);
  e.reply[5] = static_cast<uint8_t>(word >> 8);
  return e;
}

struct LinesCase {
  const char* name;
  EngineEvent event;
  std::vector<std::string> lines;
};
void PrintTo(const LinesCase& c, std::ostream* os) { *os << c.name; }
class EventLines : public ::testing::TestWithParam<LinesCase> {};

TEST_P(EventLines, EachEventBecomesTheConsolesLines) {
  EXPECT_EQ(logtext::LinesOf(GetParam().event), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Events, EventLines,
    ::testing::Values(
        LinesCase{"Connect", ConnectEvent{}, {"连接编程器"}},
        LinesCase{"UnknownChip", UnknownChipEvent{"nRF51"}, {"未知芯片类型！"}},
        LinesCase{"FailedRead", FailureReplyEvent{0x85}, {"操作失败:85  80"}},
        LinesCase{"FailureFlagAlone", FailureReplyEvent{0x80}, {"操作失败:80  80"}},
        LinesCase{"AllBits", FailureReplyEvent{0xFF}, {"操作失败:FF  80"}},
        LinesCase{"UnknownReply", UnknownReplyEvent{0x02}, {"未知操作"}},
        LinesCase{"ReadStart", ReadStartEvent{16384}, {"开始读FLASH...16384"}},
        LinesCase{"ReadProgress", ReadProgressEvent{64}, {}},
        LinesCase{"WriteStart", WriteStartEvent{100}, {"开始写FLASH"}},
        LinesCase{"WriteProgress", WriteProgressEvent{64}, {}},
        LinesCase{"StreamStopped", StreamStoppedEvent{3, 256}, {"写FLASH失败：第3个数据包（共256个）未被编程器接收"}},
        LinesCase{"VerifyAgrees", VerifyEvent{true, 0x7A, 0x7A}, {"校验成功"}},
        LinesCase{"VerifyDiffers", VerifyEvent{false, 122, 0}, {"校验失败", "本地校验：122 设备端校验：0"}},
        LinesCase{"Identity", Identity(1, 3, 12, 4), {"编程器通讯成功：固件类型3 版本12 ", "芯片已连接！"}},
        LinesCase{"IdentityNoChip",
                  Identity(0, 3, 12, 4),
                  {"编程器通讯成功：固件类型3 版本12 ", "芯片未连接！请确认：连接正确/模块OK/线接触良好"}},
        LinesCase{"IdentityWrongWord",
                  Identity(1, 3, 12, 5),
                  {"编程器通讯成功：固件类型3 版本12 ", "通信校验失败：上传值：5 计算值：4", "2 2 4",
                   "芯片已连接！"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConsoleLines, CountsAndNamesAreFormattedInPlace) {
  EXPECT_EQ(logtext::Timeout(1024, 16384), "操作超时 1024  16384");
  EXPECT_EQ(logtext::Timeout(0, 0), "操作超时 0  0");
  EXPECT_EQ(logtext::ReadFinished(16384), "读FLASH完毕,16384 byte");
  EXPECT_EQ(logtext::ProgrammerOpened("nRF24LE1/LU1 Programmer", "SIM000001"),
            "编程器已打开nRF24LE1/LU1 Programmer SIM000001");
}

// The lines come from the engine's own events: a failure reply and an image stream the
// programmer stops taking, raised by the engine itself.
TEST(ConsoleLines, TheEnginesFailureEventsBecomeTheirLines) {
  CPro engine;
  std::vector<std::string> lines;
  engine.SetEngineEvent([&](const EngineEvent& e) {
    for (auto& line : logtext::LinesOf(e)) lines.push_back(line);
  });
  engine.SetSendReport([](const uint8_t*, size_t) { return false; });
  engine.EditTask([](ProgrammerTask& t) { FillTask(t, OP_WRITE, {}, 128); });
  uint8_t reply[64] = {0x86};
  engine.HandleReport(reply, sizeof reply);
  reply[0] = OP_WRITE;
  engine.HandleReport(reply, sizeof reply);
  EXPECT_THAT(lines, ElementsAre("操作失败:86  80", "开始写FLASH", "写FLASH失败：第1个数据包（共2个）未被编程器接收"));
}

// ---- both languages ------------------------------------------------------------------------

// Every text the log can show, with arguments that reach every branch: what one language is
// checked against the other with.
std::vector<std::vector<std::string>> EveryText() {
  const EngineEvent events[] = {
      ConnectEvent{},
      UnknownChipEvent{"nRF51"},
      FailureReplyEvent{0x85},
      UnknownReplyEvent{0x02},
      ReadStartEvent{16384},
      WriteStartEvent{100},
      StreamStoppedEvent{3, 256},
      VerifyEvent{true, 0x7A, 0x7A},
      VerifyEvent{false, 122, 7},
      Identity(1, 3, 12, 4),
      Identity(0, 3, 12, 4),
      Identity(1, 3, 12, 5),
  };
  std::vector<std::vector<std::string>> texts;
  for (const EngineEvent& e : events) texts.push_back(logtext::LinesOf(e));
  for (const logtext::Notice n : logtext::kNotices) texts.push_back({logtext::Text(n)});
  texts.push_back({logtext::Timeout(1024, 16384)});
  texts.push_back({logtext::ReadFinished(16384)});
  texts.push_back({logtext::ProgrammerOpened("nRF24LE1/LU1 Programmer", "SIM000001")});
  // The error box's hint for a programmer this user may not open.
  texts.push_back({logtext::Translate(kProgrammerAccessHint)});
  return texts;
}

TEST(BothLanguages, EveryTextExistsInEachWithTheSameNumbers) {
  std::vector<std::vector<std::string>> english, chinese;
  {
    test::ScopedLanguage language("en_US");
    english = EveryText();
  }
  {
    test::ScopedLanguage language("zh_CN");
    chinese = EveryText();
  }
  ASSERT_EQ(english.size(), chinese.size());
  for (size_t i = 0; i < english.size(); ++i) {
    ASSERT_EQ(english[i].size(), chinese[i].size()) << english[i][0];
    for (size_t j = 0; j < english[i].size(); ++j) {
      const std::string& en = english[i][j];
      const std::string& zh = chinese[i][j];
      EXPECT_FALSE(en.empty());
      EXPECT_FALSE(test::HasCjk(en)) << en;
      // A text the catalogue lacks shows the English one under Chinese; only the check failure's
      // raw request line is nothing but numbers in both.
      if (en != "2 2 4") {
        EXPECT_NE(zh, en) << "not in the Chinese catalogue";
      }
      EXPECT_EQ(NumbersIn(zh), NumbersIn(en)) << zh << " / " << en;
    }
  }
}

TEST(BothLanguages, CjkIsToldFromOtherText) {
  EXPECT_FALSE(test::HasCjk("Chip connected! 0x85 [12/11/2026 02:08:07 PM] \u2588 \u00e9"));
  for (const char* cjk : {"芯", "！", "：", "（", "한"}) EXPECT_TRUE(test::HasCjk(std::string("a") + cjk)) << cjk;
  EXPECT_TRUE(test::HasCjk("\xE8\xAF")) << "cut short";
}

TEST(BothLanguages, AnyOtherLocaleOrOneNotInstalledSpeaksEnglish) {
  for (const char* other : {"de_DE", "C", "xx_YY"}) {
    test::ScopedLanguage language(other);
    EXPECT_EQ(logtext::LinesOf(ConnectEvent{}), std::vector<std::string>{"Connecting to the programmer"})
        << other;
    EXPECT_EQ(logtext::Timeout(1024, 16384), "Operation timed out 1024  16384") << other;
  }
}

// LANGUAGE comes before LC_ALL, LC_MESSAGES and LANG, as for every gettext program, as long as
// the locale is not plain C.
TEST(BothLanguages, LanguageNamesTheLanguageBeforeTheLocale) {
  test::ScopedLanguage language("en_US");
  test::SetVariable("LANGUAGE", "zh_CN");
  test::ScopedLanguage::Reread();
  EXPECT_EQ(logtext::ReadFinished(16384), "读FLASH完毕,16384 byte");
  test::SetVariable("LANGUAGE", "");
  test::ScopedLanguage::Reread();
  EXPECT_EQ(logtext::ReadFinished(16384), "Flash read complete, 16384 bytes");
}

}  // namespace
}  // namespace quillet
