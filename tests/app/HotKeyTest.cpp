// The F9 hot key on a real X server (Xvfb in CI). Without an X display every test is skipped.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QProcess>
#include <QPushButton>
#include <QCheckBox>
#include <memory>

#include "app/GlobalHotKey.h"
#include "tests/app/WindowFixture.h"
#include "widgets/HexEditor.h"

namespace quillet {
namespace {

// Another X client, for holding F9 the way another program would.
class OtherClient {
 public:
  OtherClient() : c_(xcb_connect(nullptr, nullptr)) {}
  ~OtherClient() { xcb_disconnect(c_); }
  // True when this client now holds F9 without modifiers on the root window.
  bool GrabF9() {
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    const uint8_t keycode = X11KeycodeOfF9(c_);
    std::unique_ptr<xcb_generic_error_t, decltype(&free)> error(
        xcb_request_check(c_, xcb_grab_key_checked(c_, 1, root, 0, keycode, XCB_GRAB_MODE_ASYNC,
                                                   XCB_GRAB_MODE_ASYNC)),
        &free);
    return keycode != 0 && !error;
  }

 private:
  xcb_connection_t* c_;
};

class HotKey : public test::WindowFixture {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
      GTEST_SKIP() << "needs an X display (run under xvfb-run)";
  }
  static bool XdoTool(const QStringList& arguments) {
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
  }
};

TEST_F(HotKey, F9AnywhereWritesAsTheWriteButtonDoesWhateverTheLockKeys) {
  AttachProgrammer();
  Open();
  ASSERT_TRUE(WaitForMessage("芯片已连接！"));
  EXPECT_FALSE(Shown("热键注册失败"));
  const std::vector<uint8_t> image(512, 0x3C);
  form->Engine().EditWriteImage([&](uint8_t* b, size_t) { std::copy(image.begin(), image.end(), b); });
  form->HexEditor->SetDataSize(512);
  form->chkReload->setChecked(false);

  for (const char* lock : {"", "Num_Lock", "Caps_Lock"}) {
    ClearLog();
    if (*lock) {
      ASSERT_TRUE(XdoTool({QStringLiteral("key"), QLatin1String(lock)}));
    }
    ASSERT_TRUE(XdoTool({QStringLiteral("key"), QStringLiteral("F9")}));
    EXPECT_TRUE(WaitForMessage("校验成功")) << "lock key: " << lock;
    QTest::qWait(100);  // a second write, were one started, would show by now
    EXPECT_EQ(Occurrences("写FLASH"), 1) << "lock key: " << lock;
    if (*lock) {
      ASSERT_TRUE(XdoTool({QStringLiteral("key"), QLatin1String(lock)}));
    }
  }
  // Closing the window gives F9 back to everyone.
  form->close();
  EXPECT_TRUE(OtherClient().GrabF9());
}

TEST_F(HotKey, AnotherClientHoldingF9MakesRegistrationFail) {
  OtherClient other;
  ASSERT_TRUE(other.GrabF9());
  Open();
  EXPECT_THAT(Messages(), ::testing::ElementsAre("热键注册失败"));
}

TEST_F(HotKey, ASecondInstanceLogsTheRefusal) {
  QProcess first;
  first.start(QStringLiteral(QUILLET_BINARY), {QStringLiteral("--simulate")});
  ASSERT_TRUE(first.waitForStarted());
  // The first instance holds F9 once another client can no longer take it.
  ASSERT_TRUE(QTest::qWaitFor([] { return !OtherClient().GrabF9(); }, 20000));
  Open();
  EXPECT_TRUE(Shown("热键注册失败"));
  first.terminate();
  first.waitForFinished();
}

}  // namespace
}  // namespace quillet
