// Desktop notifications from quillet-cli: its session-bus sender against a notification service
// the test starts on a private bus, and `write --watch --notify` end to end. The service answers on
// a thread of its own.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/DesktopNotify.h"
#include "programmer/LogText.h"
#include "tests/cli/CliRunner.h"
#include "tests/support/FakeNotificationService.h"
#include "tests/support/TempDir.h"
#include "tests/support/Values.h"

namespace quillet::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

// The session bus this process's senders find, for one test.
class SessionBus {
 public:
  explicit SessionBus(const std::string& address) {
    if (const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS")) saved_ = old;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
  }
  ~SessionBus() {
    if (saved_.empty()) ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    else ::setenv("DBUS_SESSION_BUS_ADDRESS", saved_.c_str(), 1);
  }

 private:
  std::string saved_;
};

TEST(CliNotices, ReachTheSessionBusServiceWholeEachReplacingTheOneBefore) {
  FakeNotificationService service;
  ASSERT_FALSE(service.Address().empty());
  const SessionBus bus(service.Address());
  std::vector<std::string> log;
  DesktopNotifier notifier(cli::SystemNoticeSender(), [&](const std::string& l) { log.push_back(l); });
  notifier.Show({"Flash written and verified", "blink.hex: 137 bytes in 12 ms"});
  notifier.Show({"烧录失败", "fw.hex: " + logtext::FailureText(failure::Timeout{Phase::Checksum, 0, 16384})});
  const auto calls = service.WaitForCalls(2);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].appName, "quillet-cli");
  EXPECT_EQ(calls[0].summary, "Flash written and verified");
  EXPECT_EQ(calls[0].body, "blink.hex: 137 bytes in 12 ms");
  EXPECT_EQ(calls[0].replacesId, 0u);
  EXPECT_EQ(calls[1].summary, "烧录失败");
  EXPECT_EQ(calls[1].body, "fw.hex: 操作超时 0  16384");
  EXPECT_EQ(calls[1].replacesId, 1u) << "the service's id of the first";
  EXPECT_TRUE(log.empty());
}

struct MissingCase {
  const char* name;
  bool busRuns;  // a bus without the service, or no bus at all
  const char* reason;
};
void PrintTo(const MissingCase& c, std::ostream* os) { *os << c.name; }
class CliNoticesMissing : public ::testing::TestWithParam<MissingCase> {};

TEST_P(CliNoticesMissing, ShowNothingFailNothingAndSaySoOnce) {
  FakeNotificationService busOnly(false);
  TempDir dir;
  const SessionBus bus(GetParam().busRuns ? busOnly.Address() : "unix:path=" + (dir / "no-bus").string());
  std::vector<std::string> log;
  DesktopNotifier notifier(cli::SystemNoticeSender(), [&](const std::string& l) { log.push_back(l); });
  for (int i = 0; i < 3; ++i) notifier.Show({"Flash write failed", "fw.hex: Verify failed"});
  ASSERT_EQ(log.size(), 1u);
  EXPECT_THAT(log[0], HasSubstr("无法显示桌面通知："));
  EXPECT_THAT(log[0], HasSubstr(GetParam().reason));
}

INSTANTIATE_TEST_SUITE_P(Cases, CliNoticesMissing,
                         ::testing::Values(MissingCase{"NoService", true, "org.freedesktop.Notifications"},
                                           MissingCase{"NoBus", false, "no session bus"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- write --watch --notify, end to end ------------------------------------------------------

class WatchNotify : public ::testing::Test {
 protected:
  RunSettings Settings(const std::string& language, const std::string& busAddress,
                       const std::string& faults = {}) const {
    RunSettings s;
    s.cwd = dir.path().string();
    s.env["QUILLET_SIM_FLASH"] = (dir / "flash.bin").string();
    if (!faults.empty()) s.env["QUILLET_SIM_FAULTS"] = faults;
    s.env["DBUS_SESSION_BUS_ADDRESS"] = busAddress;
    s.env["LANGUAGE"] = language;
    s.env["LC_ALL"] = language == "zh_CN" ? "zh_CN.UTF-8" : "C.UTF-8";
    return s;
  }
  void Save(const std::vector<uint8_t>& content) const {
    WriteFile(dir / ".fw.tmp", std::string(content.begin(), content.end()));
    fs::rename(dir / ".fw.tmp", dir / "fw.bin");
  }
  TempDir dir;
};

TEST_F(WatchNotify, EachWriteEndsWithANoticeOfItsOutcomeInTheUsersLanguage) {
  FakeNotificationService service;
  ASSERT_FALSE(service.Address().empty());
  Save(RandomBytes(1000, 1));
  CliProcess p({"write", "--simulate", "-c", "le1", "fw.bin", "--watch", "--notify", "--json"},
               Settings("C", service.Address()));
  ASSERT_TRUE(p.WaitForStderr("watching")) << p.err;
  Save(RandomBytes(20000, 2));  // larger than the chip: refused before the chip is touched
  ASSERT_TRUE(p.NextLine() && p.NextLine()) << p.err;
  const auto calls = service.WaitForCalls(2);
  p.Signal(SIGINT);
  EXPECT_EQ(p.Finish().exit, 2);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].summary, "Flash written and verified");
  EXPECT_THAT(calls[0].body, MatchesRegex("fw\\.bin: 1000 bytes in [0-9]+ ms"));
  EXPECT_EQ(calls[1].summary, "Flash write failed");
  EXPECT_THAT(calls[1].body, HasSubstr("fw.bin: "));
  EXPECT_THAT(calls[1].body, HasSubstr("16384"));

  // The checksum the programmer sends back differs: the typed outcome's reason, in Chinese too.
  Save(RandomBytes(500, 3));
  CliProcess zh({"write", "--simulate", "-c", "le1", "fw.bin", "--watch", "--notify"},
                Settings("zh_CN", service.Address(), "corrupt-checksum"));
  ASSERT_TRUE(zh.WaitForStderr("正在监视")) << zh.err;  // "watching", as a Chinese locale says it
  const auto more = service.WaitForCalls(3);
  zh.Signal(SIGINT);
  zh.Finish();
  ASSERT_EQ(more.size(), 3u);
  EXPECT_EQ(more[2].summary, "烧录失败");
  EXPECT_EQ(more[2].body, "fw.bin：编程器算出的镜像校验和与本地的不同");
}

TEST_F(WatchNotify, WithoutABusTheWritesGoOnAndOneLineSaysSo) {
  Save(RandomBytes(1000, 1));
  CliProcess p({"write", "--simulate", "-c", "le1", "fw.bin", "--watch", "--notify", "--json"},
               Settings("C", "unix:path=" + (dir / "no-bus").string()));
  ASSERT_TRUE(p.WaitForStderr("watching")) << p.err;
  Save(RandomBytes(1200, 2));
  for (int write = 0; write < 2; ++write) {
    const auto record = p.NextLine();
    ASSERT_TRUE(record) << p.err;
    EXPECT_THAT(*record, HasSubstr("\"exit\":0"));
  }
  p.Signal(SIGINT);
  const CliRun end = p.Finish();
  EXPECT_EQ(end.exit, 0) << end.err;
  size_t lines = 0;
  for (size_t at = end.err.find("Desktop notifications cannot be shown: no session bus"); at != std::string::npos;
       at = end.err.find("Desktop notifications cannot be shown", at + 1))
    ++lines;
  EXPECT_EQ(lines, 1u) << end.err;
}

TEST(CliNotifyOption, AppliesToWatchModeOnly) {
  const CliRun r = RunCli({"write", "--simulate", "-c", "le1", "fw.bin", "--notify"}, InEnglish({}));
  EXPECT_EQ(r.exit, 2);
  EXPECT_THAT(r.err, HasSubstr("--notify applies to write --watch"));
}

}  // namespace
}  // namespace quillet::test
