// The window's desktop notifications: a write started by F9 while the window is not the active
// one ends with a notice on the session bus (a private bus the test starts, with a stand-in
// service); none while the user looks at the window; no bus is harmless and said once.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QTest>
#include <QWidget>
#include <cstdlib>

#include "tests/app/WindowFixture.h"
#include "tests/support/FakeNotificationService.h"
#include "tests/support/TempDir.h"
#include "tests/support/Values.h"

namespace quillet::test {
namespace {

using ::testing::ElementsAre;
using ::testing::MatchesRegex;

class WindowNotify : public WindowFixture {
 protected:
  ~WindowNotify() override {
    form.reset();
    if (saved_) ::setenv("DBUS_SESSION_BUS_ADDRESS", saved_->c_str(), 1);
    else ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  }
  void UseBus(const std::string& address) {
    if (const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS")) saved_ = old;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
  }
  // The window over a programmer with `faults`, with a 137-byte blink.bin loaded (Reload Hex on).
  void OpenWithImage(sim::SimProgrammerFaults faults = {}) {
    sim::SimProgrammerConfig config;
    config.faults = faults;
    AttachProgrammer(config);
    const auto file = dir / "blink.bin";
    const auto bytes = RandomBytes(137, 5);
    WriteFile(file, std::string(bytes.begin(), bytes.end()));
    Open();
    ASSERT_TRUE(WaitForMessage("芯片已连接！"));
    form->LoadImageFile(file.string());
    ASSERT_TRUE(form->chkReload->isChecked());
  }
  // Another window takes the focus, as the editor does when F9 is pressed there.
  void LookElsewhere() {
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
    ASSERT_FALSE(form->isActiveWindow());
  }
  void LookAtTheWindow() {
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  }
  // F9, and the write's end in the log.
  void PressF9(const std::string& endLine) {
    ClearLog();
    form->HotKeyPressed();
    ASSERT_TRUE(WaitForMessage(endLine)) << ::testing::PrintToString(Messages());
    QCoreApplication::processEvents();
  }

  TempDir dir;
  QWidget elsewhere;
  std::optional<std::string> saved_;
};

TEST_F(WindowNotify, F9FromElsewhereEndsWithANoticeAndNoneWhileTheWindowIsLookedAt) {
  FakeNotificationService service;
  ASSERT_FALSE(service.Address().empty());
  UseBus(service.Address());
  OpenWithImage();
  LookAtTheWindow();
  PressF9("校验成功");
  LookElsewhere();
  PressF9("校验成功");
  const auto calls = service.WaitForCalls(1);
  ASSERT_EQ(calls.size(), 1u) << "the write the user watched sent none";
  EXPECT_EQ(calls[0].appName, "Quillet");
  EXPECT_EQ(calls[0].summary, "烧录完成，校验成功");
  EXPECT_THAT(calls[0].body, MatchesRegex("blink\\.bin：137 字节，用时 [0-9]+ 毫秒"));
}

TEST_F(WindowNotify, AFailedWriteSaysWhyInTheLogsWords) {
  FakeNotificationService service;
  ASSERT_FALSE(service.Address().empty());
  UseBus(service.Address());
  sim::SimProgrammerFaults faults;
  faults.corruptChecksum = true;
  OpenWithImage(faults);
  LookElsewhere();
  PressF9("校验失败");
  // The file is gone when F9 is pressed again: Reload Hex finds nothing to write.
  std::filesystem::remove(dir / "blink.bin");
  PressF9("File Not Exists!");
  const auto calls = service.WaitForCalls(2);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].summary, "烧录失败");
  EXPECT_THAT(calls[0].body, MatchesRegex("blink\\.bin：校验失败 本地校验：[0-9]+ 设备端校验：[0-9]+"));
  EXPECT_EQ(calls[1].summary, "烧录失败");
  EXPECT_EQ(calls[1].body, "blink.bin：File Not Exists!");
}

TEST_F(WindowNotify, NoBusIsHarmlessAndSaidOnce) {
  UseBus("unix:path=" + (dir / "no-bus").string());
  OpenWithImage();
  LookElsewhere();
  PressF9("校验成功");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Count("无法显示桌面通知：") == 1; }));
  // A bus that cannot be reached fails the notice at once: the line would be there by now.
  PressF9("校验成功");
  EXPECT_EQ(Count("无法显示桌面通知："), 0) << "said once, with the first write";
  EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace quillet::test
