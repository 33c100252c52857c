// The About page's link label opens its target on a click or from the keyboard, and is a link
// to assistive technology.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QDesktopServices>
#include <QTest>
#include <QUrl>

#include "widgets/LinkLabel.h"

namespace quillet::widgets {
namespace {

// Stands in for the web browser: QDesktopServices hands it the addresses of its scheme.
class UrlCatcher : public QObject {
  Q_OBJECT

 public:
  QList<QUrl> opened;

 public slots:
  void Open(const QUrl& url) { opened.append(url); }
};

class LinkLabelTest : public testing::Test {
 protected:
  void SetUp() override {
    QDesktopServices::setUrlHandler("quillet-test", &catcher, "Open");
    label.resize(label.sizeHint());
    label.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&label));
  }
  void TearDown() override { QDesktopServices::unsetUrlHandler("quillet-test"); }

  const QUrl target{"quillet-test://docs.example/quillet"};
  UrlCatcher catcher;
  LinkLabel label{"Quillet Online Document", target};
};

TEST_F(LinkLabelTest, LooksLikeALink) {
  EXPECT_EQ(label.text(), "Quillet Online Document");
  EXPECT_TRUE(label.font().underline());
  EXPECT_EQ(label.palette().color(QPalette::WindowText), label.palette().color(QPalette::Link));
  EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(label.textFormat(), Qt::PlainText);
}

TEST_F(LinkLabelTest, AClickOpensTheTarget) {
  QTest::mouseClick(&label, Qt::LeftButton, Qt::NoModifier, label.rect().center());
  EXPECT_EQ(catcher.opened, QList<QUrl>{target});
}

TEST_F(LinkLabelTest, APressReleasedOutsideOpensNothing) {
  QTest::mousePress(&label, Qt::LeftButton, Qt::NoModifier, label.rect().center());
  QTest::mouseRelease(&label, Qt::LeftButton, Qt::NoModifier, label.rect().bottomRight() + QPoint(20, 20));
  QTest::mouseClick(&label, Qt::RightButton, Qt::NoModifier, label.rect().center());
  EXPECT_TRUE(catcher.opened.isEmpty());
}

TEST_F(LinkLabelTest, KeysActivateOnlyTheLinkKeys) {
  EXPECT_EQ(label.focusPolicy(), Qt::StrongFocus);
  const struct {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    bool opens;
  } cases[] = {{Qt::Key_Return, Qt::NoModifier, true}, {Qt::Key_Enter, Qt::KeypadModifier, true},
               {Qt::Key_Space, Qt::NoModifier, true},  {Qt::Key_A, Qt::NoModifier, false},
               {Qt::Key_Return, Qt::ControlModifier, false}};
  for (const auto& c : cases) {
    catcher.opened.clear();
    QTest::keyClick(&label, c.key, c.modifiers);
    EXPECT_EQ(catcher.opened.size(), c.opens ? 1 : 0) << "key " << c.key;
  }
}

TEST_F(LinkLabelTest, ADisabledLabelOpensNothing) {
  label.setEnabled(false);
  QTest::mouseClick(&label, Qt::LeftButton, Qt::NoModifier, label.rect().center());
  EXPECT_FALSE(label.Activate());
  EXPECT_TRUE(catcher.opened.isEmpty());
}

TEST_F(LinkLabelTest, AssistiveTechnologySeesALinkWithAPressAction) {
  QAccessibleInterface* link = QAccessible::queryAccessibleInterface(&label);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->role(), QAccessible::Link);
  EXPECT_EQ(link->text(QAccessible::Name), "Quillet Online Document");
  EXPECT_EQ(link->text(QAccessible::Value), target.toString());
  EXPECT_TRUE(link->state().linked);
  QAccessibleActionInterface* actions = link->actionInterface();
  ASSERT_NE(actions, nullptr);
  ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
  actions->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_EQ(catcher.opened, QList<QUrl>{target});
}

}  // namespace
}  // namespace quillet::widgets

#include "LinkLabelTest.moc"
