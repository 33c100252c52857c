// The desktop notification a write ends with: its texts in both languages, the failure's reason
// in the log's own words for each kind, and the one log line when no service takes it.

#include "programmer/DesktopNotice.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "programmer/LogText.h"
#include "tests/support/Language.h"

namespace quillet {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;

struct ReasonCase {
  const char* name;
  OperationFailure failure;
  const char* chinese;  // the test binary's language
  const char* english;
};
void PrintTo(const ReasonCase& c, std::ostream* os) { *os << c.name; }
class FailureReason : public ::testing::TestWithParam<ReasonCase> {};

TEST_P(FailureReason, IsTheLogsWordingInTheUsersLanguage) {
  EXPECT_EQ(logtext::FailureText(GetParam().failure), GetParam().chinese);
  const test::ScopedLanguage english("en_US");
  EXPECT_EQ(logtext::FailureText(GetParam().failure), GetParam().english);
}

INSTANTIATE_TEST_SUITE_P(
    EachKind, FailureReason,
    ::testing::Values(
        ReasonCase{"FailureReply", failure::FailureReply{0x86}, "操作失败:86  80", "Operation failed: 86  80"},
        ReasonCase{"StreamStopped", failure::StreamStopped{3, 256},
                   "写FLASH失败：第3个数据包（共256个）未被编程器接收",
                   "Flash write failed: the programmer did not take packet 3 of 256"},
        ReasonCase{"ChecksumMismatch", failure::ChecksumMismatch{0x12, 0x34}, "校验失败 本地校验：18 设备端校验：52",
                   "Verify failed Local checksum: 18, device checksum: 52"},
        ReasonCase{"ReadBackMismatch", failure::ReadBackMismatch{}, "校验失败", "Verify failed"},
        ReasonCase{"NoChip", failure::NoChip{}, "芯片未连接！请确认：连接正确/模块OK/线接触良好",
                   "Chip not connected! Check the wiring, the module and the contacts"},
        ReasonCase{"CheckWordMismatch", failure::CheckWordMismatch{7, 9}, "通信校验失败：上传值：7 计算值：9",
                   "Communication check failed: received 7, computed 9"},
        ReasonCase{"Timeout", failure::Timeout{Phase::Checksum, 0, 16384}, "操作超时 0  16384",
                   "Operation timed out 0  16384"},
        ReasonCase{"Removed", failure::Removed{}, "HID 设备已关闭 ", "HID device closed"},
        ReasonCase{"PermissionRefused", failure::PermissionRefused{"/dev/hidraw0", "Permission denied", "hint"},
                   "Permission denied", "Permission denied"},
        ReasonCase{"OpenFailed", failure::OpenFailed{"/dev/hidraw0", "No such device"}, "No such device",
                   "No such device"},
        ReasonCase{"ImageMissing", failure::ImageRefused{failure::ImageRefused::Missing}, "File Not Exists!",
                   "File does not exist!"},
        ReasonCase{"ImageEmpty", failure::ImageRefused{failure::ImageRefused::Empty}, "请载入烧录文件！",
                   "Load a file to write first!"},
        ReasonCase{"ImageTooLarge", failure::ImageRefused{failure::ImageRefused::TooLarge, 20000, 16384},
                   "烧录文件超过芯片容量！", "The file is larger than the chip's flash!"},
        ReasonCase{"Replaced", failure::Replaced{}, "操作已被另一操作取代", "Another operation took its place"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DesktopNoticeText, SaysVerifiedOrFailedWithTheFileBytesTimeOrReasonInBothLanguages) {
  const DesktopNotice verified = WriteSucceededNotice("blink.hex", 137, 42ms, true);
  EXPECT_EQ(verified.summary, "烧录完成，校验成功");
  EXPECT_EQ(verified.body, "blink.hex：137 字节，用时 42 毫秒");
  EXPECT_EQ(WriteSucceededNotice("blink.hex", 137, 42ms, false).summary, "烧录完成，未校验");
  const DesktopNotice failed = WriteFailedNotice("fw.hex", "操作超时 0  16384");
  EXPECT_EQ(failed.summary, "烧录失败");
  EXPECT_EQ(failed.body, "fw.hex：操作超时 0  16384");

  const test::ScopedLanguage english("en_US");
  EXPECT_EQ(WriteSucceededNotice("blink.hex", 137, 42ms, true).summary, "Flash written and verified");
  EXPECT_EQ(WriteSucceededNotice("blink.hex", 137, 42ms, true).body, "blink.hex: 137 bytes in 42 ms");
  EXPECT_EQ(WriteSucceededNotice("blink.hex", 137, 42ms, false).summary, "Flash written, not verified");
  EXPECT_EQ(WriteFailedNotice("fw.hex", "Verify failed").summary, "Flash write failed");
  EXPECT_EQ(WriteFailedNotice("", "File does not exist!").body, "File does not exist!");
}

// A sender that fails as a missing bus or service does, now or when its answer comes later.
class RefusingSender : public NoticeSender {
 public:
  explicit RefusingSender(std::vector<Failed>& later) : later_(later) {}
  void Send(const DesktopNotice&, Failed failed) override {
    if (++sent_ % 2) failed("no session bus");
    else later_.push_back(std::move(failed));
  }

 private:
  std::vector<Failed>& later_;
  int sent_ = 0;
};

TEST(DesktopNotifierTest, NoServiceIsOneLogLineOnceAndALateAnswerAfterTheNotifierIsGoneIsDropped) {
  std::vector<std::string> log;
  std::vector<NoticeSender::Failed> later;
  {
    DesktopNotifier notifier(std::make_unique<RefusingSender>(later), [&](const std::string& l) { log.push_back(l); });
    for (int i = 0; i < 4; ++i) notifier.Show(WriteFailedNotice("fw.hex", "x"));
    ASSERT_EQ(later.size(), 2u);
    later[0]("too late");
  }
  EXPECT_THAT(log, ElementsAre("无法显示桌面通知：no session bus"));
  later[1]("after the notifier");
  EXPECT_EQ(log.size(), 1u);
}

}  // namespace
}  // namespace quillet
