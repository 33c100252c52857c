// The window under an English locale (tests/app/CMakeLists.txt): its log and its own texts are
// English, with the same numbers the Chinese ones carry.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>
#include <QTimer>

#include "app/ImageFiles.h"
#include "app/PinReference.h"
#include "sim/SimKnobs.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/Language.h"
#include "tests/support/Values.h"

namespace quillet {
namespace {

using ::testing::ElementsAre;
using test::HasCjk;
using test::RandomBytes;

class EnglishWindow : public test::WindowFixture {
 protected:
  void TearDown() override {
    if (!form) return;
    for (const std::string& m : Messages()) EXPECT_FALSE(HasCjk(m)) << m;
  }
};

TEST_F(EnglishWindow, ConnectAndDetectAreLoggedInEnglish) {
  AttachProgrammer();
  Open();
  ASSERT_TRUE(WaitForMessage("Chip connected!"));
  EXPECT_THAT(MessagesWithout("Could not register the F9 hot key", "Connecting to the programmer"),
              ElementsAre("HID device opened", "Programmer opened: nRF24LE1/LU1 Programmer SIM000001",
                          "Connecting to the programmer",
                          "Programmer answered: firmware type 3 version 12", "Chip connected!"));

  ClearLog();
  form->btnDect->click();
  ASSERT_TRUE(WaitForMessage("Chip connected!"));
  EXPECT_THAT(Messages(), ElementsAre("Connecting to the programmer",
                                      "Programmer answered: firmware type 3 version 12", "Chip connected!"));
}

TEST_F(EnglishWindow, ReadAndWriteAreLoggedInEnglish) {
  AttachProgrammer();
  Open();
  ASSERT_TRUE(WaitForMessage("Chip connected!"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->tmrTimeout->isActive(); }, 10000));
  ClearLog();
  ChooseChip("NRF24LE1_16K");
  form->btnRead->click();
  ASSERT_TRUE(WaitForMessage("Flash read complete, 16384 bytes"));
  EXPECT_THAT(Messages(), ElementsAre("Read flash", "Reading flash... 16384", "Flash read complete, 16384 bytes"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->tmrTimeout->isActive(); }, 10000));

  ClearLog();
  LoadImage(RandomBytes(4000, 3));
  form->chkReload->setChecked(false);
  form->BtnAuto->click();
  ASSERT_TRUE(WaitForMessage("Verify passed"));
  EXPECT_THAT(Messages(), ElementsAre("Write flash", "Writing flash", "Flash write complete", "Verify passed"));
}

TEST_F(EnglishWindow, AFailureReplyAndTheTimeoutAfterItAreLoggedInEnglish) {
  std::string error;
  const sim::SimKnobs knobs = sim::ParseSimKnobs("read-reply=0x85", nullptr, error);
  ASSERT_EQ(error, "");
  auto backend = SimulatedHidBackend(16384, knobs, error);
  ASSERT_TRUE(backend) << error;
  Open(*backend);
  ASSERT_TRUE(WaitForMessage("Chip connected!"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->tmrTimeout->isActive(); }, 10000));
  ClearLog();
  form->btnRead->click();
  ASSERT_TRUE(WaitForMessage("Operation timed out 0  16384"));
  EXPECT_THAT(Messages(), ElementsAre("Read flash", "Operation failed: 85  80", "Operation timed out 0  16384"));
}

TEST_F(EnglishWindow, AnUnplugIsLoggedInEnglish) {
  AttachProgrammer();
  Open();
  ASSERT_TRUE(WaitForMessage("Chip connected!"));
  ClearLog();
  ASSERT_TRUE(platform->Detach(path));
  ASSERT_TRUE(WaitForMessage("DeviceChange"));
  EXPECT_THAT(Messages(), ElementsAre("HID device closed", "DeviceChange"));
}

TEST_F(EnglishWindow, TheAboutPageShowsEveryCellOfThePinTableWhole) {
  Open();
  EXPECT_THAT(CutPinGridCells(), ::testing::IsEmpty());
}

TEST_F(EnglishWindow, TheWindowsOwnTextsAreEnglish) {
  Open();
  EXPECT_EQ(PinGridCell(0, 1), QStringLiteral("Pin"));
  EXPECT_EQ(kImageFileFilter.Text(), QStringLiteral("Firmware files (*.hex *.bin);;All (*)"));
  EXPECT_EQ(kSaveBinFilter.Text(), QStringLiteral("Binary files (*.bin)"));
  EXPECT_EQ(kSaveBinTitle.Text(), QStringLiteral("Enter a file name"));
  EXPECT_FALSE(HasCjk(form->chkReload->toolTip().toStdString()));
  EXPECT_FALSE(form->chkReload->toolTip().isEmpty());
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
}

// The box for a programmer this user may not open says how to get access, in English.
TEST_F(EnglishWindow, TheAccessHintIsInEnglish) {
  platform->Attach(RefusedProgrammer());
  Open();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_THAT(errors[0], ::testing::HasSubstr("\n\nThis user may not open the programmer's device node. Install "
                                              "Quillet's udev rule (70-quillet.rules)"));
  EXPECT_FALSE(HasCjk(errors[0])) << errors[0];
}

}  // namespace
}  // namespace quillet
