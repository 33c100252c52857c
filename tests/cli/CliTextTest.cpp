// quillet-cli's own messages in both languages: every failure, open refusal, image error, read-back
// difference, misuse and chip error, and the station's journal errors, report, serial number plan,
// dashboard and board lines exist in English and in Chinese, the English has no Chinese in it, and
// both carry the same paths and numbers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/Progress.h"
#include "cli/Session.h"
#include "cli/station/JournalFile.h"
#include "cli/station/JournalReport.h"
#include "cli/station/SerialNumber.h"
#include "cli/station/StationView.h"
#include "hex/Chex2bin.h"
#include "hex/ImageComparison.h"
#include "hex/ImageFile.h"
#include "programmer/MessageCatalogue.h"
#include "programmer/Programmer.h"
#include "tests/support/Language.h"

namespace quillet::cli {
namespace {

using ::testing::HasSubstr;
using test::HasCjk;
using test::NumbersIn;

OperationOutcome Failed(OperationFailure f) {
  OperationOutcome o;
  o.failure = std::move(f);
  return o;
}

ImageLoadError LoadError(ImageLoadFailure failure) {
  ImageLoadError e;
  e.failure = failure;
  e.path = "/tmp/fw 2.hex";
  e.systemError = ENOENT;
  e.converterResult = CHex2Bin::kChecksumError;
  e.line = 7;
  e.size = 16385;
  e.limit = 16384;
  return e;
}

// The station's misuses, one for each of its option messages.
std::vector<std::vector<std::string>> StationMisuses() {
  const auto station = [](std::initializer_list<std::string> extra) {
    std::vector<std::string> arguments{"station", "-c", "le1", "fw.bin"};
    arguments.insert(arguments.end(), extra);
    return arguments;
  };
  return {
      {"write", "-c", "le1", "fw.bin", "--notify"},
      station({"--serial-at", "16"}),
      station({"--serial-at", "16", "--serial-start", "1"}),
      station({"--serial-start", "1"}),
      station({"--serial-at", "0x100000000", "--serial-start", "1", "--journal", "j"}),
      station({"--serial-at", "x10"}),
      station({"--serial-endian", "middle"}),
      station({"--max-boards", "0"}),
      station({"--programmers", "a,,b"}),
      station({"--simulate-bench=0"}),
      station({"--simulate-bench=2,64k"}),
      station({"--journal"}),
      station({"--journal="}),
      station({"--keep-serial=yes"}),
      station({"--csv"}),
      {"station-report", "j.jsonl", "--serial-at", "16"},
  };
}

// The station's texts for its operator: the journal's errors, the report, the serial number plan's
// refusals, the dashboard, a board's line and the summary.
std::vector<std::function<std::string()>> StationMessages() {
  using namespace station;
  std::vector<std::function<std::string()>> messages;
  for (const auto kind : {JournalError::kOpen, JournalError::kLocked, JournalError::kRead, JournalError::kDamaged,
                          JournalError::kWrite, JournalError::kRemoved})
    for (const int error : {0, ENOSPC})
      messages.push_back([kind, error] { return DescribeJournalError({kind, "/tmp/fw 2.hex", error, 7}); });
  JournalSummary summary;
  summary.slots["S1"] = {5, 2, 1};
  summary.total = {5, 2, 1};
  summary.hours = 2;
  summary.damagedLines = {7};
  summary.torn = true;
  summary.duplicateSerials = {1003};
  messages.push_back([summary] { return FormatJournalSummary(summary, "/tmp/fw 2.hex"); });
  JournalSummary sound;
  sound.total = {4, 0, 0};
  sound.lowestSerial = 1000;
  sound.highestSerial = 1003;
  sound.serialsUsed = 4;
  messages.push_back([sound] { return FormatJournalSummary(sound, "/tmp/fw 2.hex"); });
  SerialPlan plan;
  plan.address = 0x3FF0;
  plan.start = 1000;
  const std::vector<uint8_t> image(0x3FF2, 0x00);
  for (const auto& change : std::vector<std::function<void(SerialPlan&)>>{
           [](SerialPlan& p) { p.width = 9; },
           [](SerialPlan& p) { p.step = 0; },
           [](SerialPlan& p) { p.width = 1; p.start = 300; },
           [](SerialPlan& p) { p.width = 2; p.end = 70000; },
           [](SerialPlan& p) { p.end = 10; },
           [](SerialPlan& p) { p.address = 0x3FFE; },
           [](SerialPlan&) {},
       })
    messages.push_back([plan, image, change] {
      SerialPlan p = plan;
      change(p);
      return CheckSerialPlan(p, image, 16384);
    });
  for (const auto state : {SlotMachine::State::Gone, SlotMachine::State::Empty, SlotMachine::State::Seated,
                           SlotMachine::State::Flashing, SlotMachine::State::Flashed, SlotMachine::State::Held})
    messages.push_back([state] { return std::string(StateText(state)); });
  const SlotView slot{.name = "S1", .node = {}, .state = SlotMachine::State::Flashing, .phase = "read_back",
                      .serial = 1042, .last = BoardResult::Fail, .lastFailure = {}, .counts = {7, 1, 2}};
  for (const bool anySlot : {true, false})
    messages.push_back([slot, anySlot] {
      std::string text;
      for (const std::string& line : DashboardLines(anySlot ? std::vector<SlotView>{slot} : std::vector<SlotView>{},
                                                    {3600, 9, "/tmp/fw 2.hex"}, false))
        text += line + "\n";
      return text;
    });
  messages.push_back([slot] { return SummaryText({slot}, 3600); });
  for (const BoardResult result : {BoardResult::Pass, BoardResult::Fail, BoardResult::Interrupted})
    for (const bool reflash : {false, true})
      messages.push_back([result, reflash] {
        JournalRecord r;
        r.event = JournalEvent::Result;
        r.board = 12;
        r.slotSerial = "S1";
        r.serial = 1042;
        r.reflash = reflash;
        r.result = result;
        r.phaseSeconds = {{"write", 0.5}, {"read_back", 0.25}};
        if (result != BoardResult::Pass) {
          r.phase = "write";
          r.failure = "the programmer was unplugged while writing";
          r.failureShown = DescribeFailure(Failed(failure::Removed{}), "writing", logtext::Translate).error;
        }
        return BoardLine(r);
      });
  return messages;
}

// Each message, made in the language of the moment, with arguments that reach every branch.
std::vector<std::function<std::string()>> EveryMessage() {
  std::vector<std::function<std::string()>> messages;
  const OperationOutcome failures[] = {
      Failed(failure::FailureReply{0x85}),
      Failed(failure::StreamStopped{3, 256}),
      Failed(failure::ChecksumMismatch{1, 2}),
      Failed(failure::ReadBackMismatch{}),
      Failed(failure::NoChip{}),
      Failed(failure::CheckWordMismatch{5, 4}),
      Failed(failure::Timeout{Phase::Data, 640, 16384}),
      Failed(failure::Timeout{Phase::Checksum, 0, 16384}),
      Failed(failure::Removed{}),
      Failed(failure::PermissionRefused{"/dev/hidraw3", "Permission denied", kProgrammerAccessHint}),
      Failed(failure::OpenFailed{"/dev/hidraw3", "No such device"}),
      Failed(failure::Replaced{}),
  };
  for (const OperationOutcome& o : failures)
    for (const char* what : {"asking who it is", "reading", "writing", "verifying"})
      messages.push_back([o, what] { return DescribeFailure(o, what, logtext::Translate).error; });
  for (const ImageLoadFailure f : {ImageLoadFailure::kNotAnImage, ImageLoadFailure::kUnreadable,
                                   ImageLoadFailure::kConversionFailed, ImageLoadFailure::kEmpty,
                                   ImageLoadFailure::kTooLarge}) {
    messages.push_back([f] { return DescribeImageLoadError(LoadError(f), logtext::Translate); });
    messages.push_back([f] {
      ImageLoadError e = LoadError(f);
      e.limitName = logtext::Say("%s's flash", "NRF24LE1_16K");
      return DescribeImageLoadError(e, logtext::Translate);
    });
  }
  ImageComparison differs;
  differs.compared = 256;
  differs.differing = 2;
  differs.firstAddress = 0x10;
  differs.expected = 0xFF;
  differs.actual = 0xF7;
  differs.bitsOneToZero = 2;
  for (const bool withoutErase : {false, true})
    messages.push_back([differs, withoutErase] { return DescribeMismatch(differs, withoutErase, logtext::Translate); });
  const std::vector<std::vector<std::string>> misuses = {
      {},
      {"frob"},
      {"--bogus"},
      {"read", "--chip"},
      {"read", "--chip=", "-o", "x.bin"},
      {"detect", "-q", "-v"},
      {"read", "-c", "le1"},
      {"write", "fw.bin"},
      {"detect", "-c", "le1"},
      {"detect", "-o", "x.bin"},
      {"read", "-c", "le1", "-o", "x.bin", "--no-erase"},
      {"detect", "--watch"},
      {"list", "--serial", "S1"},
      {"convert", "a.hex", "b.bin", "--simulate"},
      {"detect", "--serial", "S1", "--device", "/dev/hidraw0"},
      {"detect", "extra"},
      {"write", "-c", "le1"},
      {"convert", "a.hex"},
  };
  for (const auto& arguments : misuses)
    messages.push_back([arguments] { return ParseCliOptions(arguments).error; });
  for (const bool complete : {true, false})
    messages.push_back([complete] { return FormatPhaseLine("verifying", 640, 16384, 2.0, complete); });
  for (const auto& arguments : StationMisuses())
    messages.push_back([arguments] { return ParseCliOptions(arguments).error; });
  for (const auto& message : StationMessages()) messages.push_back(message);
  for (const char* chip : {"le2", "lu1"})
    messages.push_back([chip] {
      std::string error;
      MatchChip(chip, error);
      return error;
    });
  return messages;
}

TEST(CliMessages, EachExistsInBothLanguagesWithTheSamePathsAndNumbers) {
  const auto messages = EveryMessage();
  for (size_t i = 0; i < messages.size(); ++i) {
    std::string english, chinese;
    {
      test::ScopedLanguage language("en_US");
      english = messages[i]();
    }
    {
      test::ScopedLanguage language("zh_CN");
      chinese = messages[i]();
    }
    ASSERT_FALSE(english.empty()) << i;
    EXPECT_FALSE(HasCjk(english)) << english;
    EXPECT_TRUE(HasCjk(chinese)) << "not in the Chinese catalogue: " << chinese;
    // A translation may put its arguments in another order.
    std::vector<std::string> numbersZh = NumbersIn(chinese), numbersEn = NumbersIn(english);
    std::sort(numbersZh.begin(), numbersZh.end());
    std::sort(numbersEn.begin(), numbersEn.end());
    EXPECT_EQ(numbersZh, numbersEn) << chinese << " / " << english;
    for (const char* argument : {"/dev/hidraw3", "/tmp/fw 2.hex", "NRF24LE1_16K", "le2", "--bogus", "S1", "0x0010"})
      EXPECT_EQ(chinese.find(argument) == std::string::npos, english.find(argument) == std::string::npos)
          << argument << " in " << chinese << " / " << english;
  }
}

// A refusal says how to get access in the user's language, and the command to run stays the same.
TEST(CliMessages, ARefusalCarriesTheUdevRuleInEitherLanguage) {
  const OperationOutcome o =
      Failed(failure::PermissionRefused{"/dev/hidraw3", "Permission denied", kProgrammerAccessHint});
  for (const char* language : {"en_US", "zh_CN"}) {
    test::ScopedLanguage scope(language);
    const Outcome described = DescribeFailure(o, "asking who it is", logtext::Translate);
    EXPECT_EQ(described.exit, kExitNoProgrammer);
    EXPECT_THAT(described.error, HasSubstr("/dev/hidraw3"));
    EXPECT_THAT(described.error, HasSubstr("Permission denied"));
    EXPECT_THAT(described.error, HasSubstr("70-quillet.rules"));
    EXPECT_THAT(described.error, HasSubstr("ATTRS{idVendor}==\"04d8\", ATTRS{idProduct}==\"003f\", "
                                           "TAG+=\"uaccess\"' | sudo tee /etc/udev/rules.d/70-quillet.rules"));
    EXPECT_EQ(described.error.find('\n'), std::string::npos) << "one line";
  }
  test::ScopedLanguage chinese("zh_CN");
  EXPECT_THAT(DescribeFailure(o, "reading", logtext::Translate).error, HasSubstr("当前用户无权打开编程器的设备节点"));
}

// Without the catalogue's lookup the words stay English whatever the locale: what a station's
// journal records reads the same after a run under another language.
TEST(CliMessages, TheRecordedWordsStayEnglish) {
  test::ScopedLanguage chinese("zh_CN");
  EXPECT_EQ(DescribeFailure(Failed(failure::Removed{}), "writing").error, "the programmer was unplugged while writing");
  EXPECT_EQ(DescribeFailure(Failed(failure::Removed{}), "writing", logtext::Translate).error, "写入时编程器被拔下");
}

// A station's board: its journal record keeps the English words, the operator's line and its JSON
// give the words in the user's language.
TEST(CliMessages, ABoardsFailureIsShownTranslatedAndRecordedInEnglish) {
  test::ScopedLanguage chinese("zh_CN");
  station::JournalRecord r;
  r.event = station::JournalEvent::Result;
  r.board = 3;
  r.slotSerial = "S1";
  r.result = station::BoardResult::Fail;
  r.phase = "write";
  r.failure = DescribeFailure(Failed(failure::Removed{}), "writing").error;
  r.failureShown = DescribeFailure(Failed(failure::Removed{}), "writing", logtext::Translate).error;
  EXPECT_EQ(station::BoardLine(r), "S1：第 3 块电路板：写入时失败：写入时编程器被拔下（0.00 秒）");
  EXPECT_EQ(station::BoardJson(r)["error"].asString(), "写入时编程器被拔下");
  EXPECT_EQ(station::BoardJson(r)["phase"].asString(), "write");
  EXPECT_EQ(station::FormatJournalLine(r).find("拔"), std::string::npos);
  EXPECT_NE(station::FormatJournalLine(r).find("the programmer was unplugged while writing"), std::string::npos);
}

// The arguments a translation puts in another order still land where they belong.
TEST(CliMessages, ReorderedArgumentsKeepTheirPlaces) {
  test::ScopedLanguage chinese("zh_CN");
  ImageLoadError e = LoadError(ImageLoadFailure::kTooLarge);
  e.limitName = logtext::Say("%s's flash", "NRF24LE1_16K");
  EXPECT_EQ(DescribeImageLoadError(e, logtext::Translate),
            "/tmp/fw 2.hex：镜像有 16385 字节，超过了 NRF24LE1_16K 闪存的 16384 字节");
}

// The progress bar keeps to the terminal's width in Chinese too: the phase's two characters take
// two columns each (and three bytes).
TEST(CliMessages, TheChineseProgressBarFillsTheSameColumns) {
  test::ScopedLanguage chinese("zh_CN");
  const std::string bar = FormatProgressBar("writing", 8192, 16384, 0.5, 80);
  EXPECT_THAT(bar, ::testing::StartsWith("写入      ["));
  EXPECT_EQ(bar.size() - std::string("写入").size() / 3, 80u - 1u);  // columns: bytes less one a character
  EXPECT_EQ(FormatPhaseLine("writing", 640, 16384, 2.0, false), "写入：640 / 16384 字节，用时 2.00 秒，0.3 KiB/s，未完成");
}

// The dashboard's columns stay where they are in Chinese: a slot's state is padded by the columns
// its characters take, so the serial number and the result line up under each other.
TEST(CliMessages, TheChineseDashboardKeepsItsColumns) {
  station::SlotView flashing, held;
  flashing.name = held.name = "S1";
  flashing.state = station::SlotMachine::State::Flashing;
  flashing.phase = "write";
  flashing.serial = held.serial = 1042;
  held.state = station::SlotMachine::State::Held;
  for (const char* language : {"en_US", "zh_CN"}) {
    test::ScopedLanguage scope(language);
    for (const auto& slot : {flashing, held}) {
      const std::string line = station::DashboardLines({slot}, {3600, 9, "j.jsonl"}, false).front();
      const size_t serial = line.find("#1042");
      ASSERT_NE(serial, std::string::npos) << line;
      EXPECT_EQ(TextColumns(line.substr(0, serial)), 14u + 1 + 28 + 1) << language << ": " << line;
    }
  }
  test::ScopedLanguage chinese("zh_CN");
  EXPECT_THAT(station::DashboardLines({flashing}, {3600, 9, "j.jsonl"}, false).front(), HasSubstr("烧写中 (写入)"));
}

}  // namespace
}  // namespace quillet::cli
