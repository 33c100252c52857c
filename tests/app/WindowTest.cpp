#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QLabel>
#include <QProcess>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>

#include "sim/SimKnobs.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/HexGen.h"
#include "tests/support/TempDir.h"
#include "tests/support/Values.h"
#include "widgets/HexEditor.h"
#include "widgets/LinkLabel.h"

namespace quillet {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using test::RandomBytes;
using test::WindowFixture;

const char kOpened[] = "编程器已打开nRF24LE1/LU1 Programmer SIM000001";
const char kHotKeyRefused[] = "热键注册失败";

class Window : public WindowFixture {};

// ---- start-up -------------------------------------------------------------------------------

TEST_F(Window, StartsWithTheProgrammerConnectedAndTheVersionInTheCaption) {
  AttachProgrammer();
  Open();
  ASSERT_TRUE(WaitForMessage("芯片已连接！"));
  // Offscreen has no global hot keys.
  EXPECT_THAT(MessagesWithout(kHotKeyRefused, "连接编程器"),
              ElementsAre("HID 设备已打开", kOpened, "连接编程器",
                          "编程器通讯成功：固件类型3 版本12 ", "芯片已连接！"));
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Quillet V200"));
  EXPECT_TRUE(form->btnRead->isEnabled());
  EXPECT_TRUE(form->BtnAuto->isEnabled());
  EXPECT_THAT(errors, IsEmpty());
}

TEST_F(Window, StartsWithoutAProgrammerWithButtonsEnabledAndNothingSent) {
  Open();
  EXPECT_THAT(Messages(), ElementsAre(kHotKeyRefused));
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Quillet V200"));
  EXPECT_FALSE(form->HidIO1().GetActive());
  EXPECT_TRUE(form->btnRead->isEnabled());
  EXPECT_TRUE(form->BtnAuto->isEnabled());
}

TEST_F(Window, AProgrammerThatCannotBeOpenedShowsTheErrorAndSkipsTheRestOfStartUp) {
  platform->Attach(RefusedProgrammer());
  Open();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_THAT(errors[0], StartsWith("Permission denied"));
  EXPECT_THAT(errors[0], HasSubstr("70-quillet.rules"));
  // No hot key, no version, no update query; the window still works.
  EXPECT_THAT(Messages(), ElementsAre("HID 设备出错 "));
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Quillet"));
  EXPECT_FALSE(form->btnRead->isEnabled());
  EXPECT_FALSE(form->BtnAuto->isEnabled());
  form->btnDect->click();
  EXPECT_TRUE(Shown("连接编程器"));
}

TEST_F(Window, ControlsStartWithTheirCaptionsAndDefaults) {
  Open();
  EXPECT_EQ(form->size(), QSize(782, 405));
  EXPECT_EQ(form->minimumSize(), form->maximumSize());  // not resizable
  EXPECT_EQ(form->cbbDev->currentText(), QStringLiteral("Select Device"));
  EXPECT_EQ(form->cbbDev->currentIndex(), -1);
  EXPECT_EQ(form->cbbDev->count(), 3);
  struct Box {
    QCheckBox* box;
    const char* caption;
    bool checked;
  };
  for (const Box& b : {Box{form->chkReload, "Reload Hex", true}, Box{form->chkEraseFlash, "Erase Flash", true},
                       Box{form->chkEncrypt, "encry", false}, Box{form->chkVerify, "Verify", true},
                       Box{form->chkResetDev, "Reset  Run", true}}) {
    EXPECT_EQ(b.box->text(), QLatin1String(b.caption));
    EXPECT_EQ(b.box->isChecked(), b.checked) << b.caption;
  }
  EXPECT_EQ(form->chkReload->toolTip(),
            QStringLiteral("自动重新载入上一次使用的编程文件，不用再每次编译后手动按载入编程文件"));
  EXPECT_EQ(form->BtnAuto->text(), QStringLiteral("Write[ F9 ]"));
  EXPECT_EQ(form->PageControl1->currentIndex(), 0);
  EXPECT_EQ(form->PageControl2->tabText(form->PageControl2->currentIndex()), QStringLiteral("Flash"));
  EXPECT_EQ(form->ProgressBar1->maximum(), 100);
  EXPECT_EQ(form->HexEditor->GetDataSize(), 0);
}

TEST_F(Window, EveryControlWithoutACaptionHasAnAccessibleName) {
  Open();
  for (QWidget* w : std::initializer_list<QWidget*>{form->RichEdit1, form->edtFile, form->edtFlashSize,
                                                    form->cbbDev, form->ProgressBar1, form->HexEditor}) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    ASSERT_NE(a, nullptr) << w->objectName().toStdString();
    EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << w->objectName().toStdString();
  }
}

TEST_F(Window, TabOrderFollowsTheRowsOfTheIspPage) {
  Open();
  std::vector<QWidget*> expected{form->BtnLoadFile, form->edtFile,       form->cbbDev,
                                 form->btnDect,     form->chkVerify,     form->BtnAuto,
                                 form->chkEraseFlash, form->chkResetDev, form->chkEncrypt,
                                 form->chkReload,   form->btnRead,       form->RichEdit1};
  for (size_t i = 1; i < expected.size(); ++i) {
    QWidget* next = expected[i - 1]->nextInFocusChain();
    // Widgets that take no focus from Tab are passed over, and a combo box's line edit is part of it.
    while (next && (!(next->focusPolicy() & Qt::TabFocus) || next->parentWidget() == expected[i - 1]))
      next = next->nextInFocusChain();
    EXPECT_EQ(next, expected[i]) << expected[i - 1]->objectName().toStdString() << " -> "
                                 << (next ? next->objectName().toStdString() : "null");
  }
}

// ---- operations -----------------------------------------------------------------------------

TEST_F(Window, DetectLogsTheIdentity) {
  sim::SimProgrammerConfig config;
  config.chipConnected = false;
  AttachProgrammer(config);
  Open();
  ASSERT_TRUE(WaitForMessage("芯片未连接！请确认：连接正确/模块OK/线接触良好"));
  ClearLog();
  form->btnDect->click();
  ASSERT_TRUE(WaitForMessage("芯片未连接！请确认：连接正确/模块OK/线接触良好"));
  EXPECT_THAT(Messages(), ElementsAre("连接编程器", "编程器通讯成功：固件类型3 版本12 ",
                                      "芯片未连接！请确认：连接正确/模块OK/线接触良好"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->tmrTimeout->isActive(); }, 10000));
}

struct ReadCase {
  const char* chip;
  uint32_t flashSize;
};
void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.chip; }
class WindowRead : public Window, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(WindowRead, ShowsTheChipInTheHexViewWithTheBarOneReportShort) {
  sim::SimProgrammerConfig config;
  config.flashSize = GetParam().flashSize;
  AttachProgrammer(config);
  const auto flash = RandomBytes(GetParam().flashSize, GetParam().flashSize);
  programmer->SetFlash(flash);
  Open();
  ChooseChip(GetParam().chip);
  form->btnRead->click();
  EXPECT_EQ(form->ProgressBar1->maximum(), static_cast<int>(GetParam().flashSize));
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->HexEditor->GetDataSize() > 0; }, 10000));
  const QByteArray shown = form->HexEditor->Data();
  EXPECT_EQ(std::vector<uint8_t>(shown.begin(), shown.end()), flash);
  EXPECT_EQ(form->ProgressBar1->value(), static_cast<int>(GetParam().flashSize) - 64);
  EXPECT_TRUE(Shown("读FLASH完毕," + std::to_string(GetParam().flashSize) + " byte"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->tmrTimeout->isActive(); }, 10000));
}

INSTANTIATE_TEST_SUITE_P(Chips, WindowRead,
                         ::testing::Values(ReadCase{"NRF24LE1_16K", 16384},
                                           ReadCase{"NRF24LU1_32K", 32768}),
                         [](const auto& info) { return std::string(info.param.chip); });

struct WriteCase {
  const char* name;
  bool corruptChecksum;
  const char* result;
};
void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }
class WindowWrite : public Window, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WindowWrite, ProgramsTheImageAndReportsTheVerify) {
  sim::SimProgrammerConfig config;
  config.faults.corruptChecksum = GetParam().corruptChecksum;
  AttachProgrammer(config);
  Open();
  ASSERT_TRUE(WaitForMessage("芯片已连接！"));
  const auto image = RandomBytes(4000, 3);
  LoadImage(image);
  form->chkReload->setChecked(false);
  form->BtnAuto->click();
  ASSERT_TRUE(WaitForMessage(GetParam().result));
  EXPECT_EQ(Occurrences("写FLASH完成"), 1);
  const auto flash = programmer->Flash();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
  EXPECT_EQ(form->ProgressBar1->maximum(), 4000);
}

INSTANTIATE_TEST_SUITE_P(Verify, WindowWrite,
                         ::testing::Values(WriteCase{"Agrees", false, "校验成功"},
                                           WriteCase{"Differs", true, "校验失败"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct RefusalCase {
  const char* name;
  bool reload;
  int imageSize;
  const char* line;
};
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }
class WindowWriteRefusal : public Window, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(WindowWriteRefusal, LogsWhyAndStartsNothing) {
  AttachProgrammer();
  Open();
  ASSERT_TRUE(WaitForMessage("芯片已连接！"));
  ClearLog();
  form->chkReload->setChecked(GetParam().reload);
  if (GetParam().imageSize) LoadImage(std::vector<uint8_t>(GetParam().imageSize, 0x5A));
  form->BtnAuto->click();
  QTest::qWait(50);
  EXPECT_THAT(Messages(), ElementsAre("写FLASH", GetParam().line));
  EXPECT_EQ(programmer->PendingImageReports(), 0u);
  EXPECT_FALSE(form->tmrTimeout->isActive());
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, WindowWriteRefusal,
    ::testing::Values(RefusalCase{"ReloadWithNoFileLoaded", true, 100, "File Not Exists!"},
                      RefusalCase{"NothingLoaded", false, 0, "请载入烧录文件！"},
                      RefusalCase{"LargerThanTheChip", false, 16385, "烧录文件超过芯片容量！"}),
    [](const auto& info) { return std::string(info.param.name); });

// The compile-then-flash loop: the firmware named on the command line is loaded by LoadFile, and
// every Write reloads it, so a rebuilt file reaches the chip without another LoadFile.
TEST_F(Window, WriteReloadsTheCommandLineFirmwareEachTime) {
  AttachProgrammer();
  test::TempDir dir;
  const auto hex = dir / "blink.hex";
  test::WriteFile(hex, test::Plain(1234, 1));
  Open({hex.string()});
  ASSERT_TRUE(WaitForMessage("芯片已连接！"));
  form->BtnLoadFile->click();
  EXPECT_EQ(form->ImagePath(), hex.string());
  EXPECT_EQ(form->edtFile->text().toStdString(), hex.string());
  EXPECT_TRUE(Shown("载入文件" + hex.string() + "  1234 Bytes"));

  for (uint32_t seed : {2u, 3u}) {
    test::WriteFile(hex, test::Plain(1234, seed));  // the next build
    ClearLog();
    form->BtnAuto->click();
    ASSERT_TRUE(WaitForMessage("校验成功")) << seed;
    const auto image = test::ReadFile(dir / "blink.hex.bin");
    ASSERT_EQ(image.size(), 1234u);
    const auto flash = programmer->Flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin())) << seed;
  }
}

TEST_F(Window, TheAboutPageShowsThePinTableWhenFirstShown) {
  Open();
  EXPECT_EQ(form->StringGrid1->rowCount() * form->StringGrid1->columnCount(), 0);
  form->PageControl1->setCurrentWidget(form->TabSheet3);
  ASSERT_GT(form->StringGrid1->columnCount(), 1);
  EXPECT_EQ(form->StringGrid1->horizontalHeaderItem(1)->text(), QStringLiteral("引脚"));
  EXPECT_FALSE(form->Image1->pixmap().isNull());
  EXPECT_EQ(form->LinkLabel1->text(), QStringLiteral("Quillet Online Document"));
}

// Qt's own texts, the message box's and file dialog's buttons, follow the locale as the window's do
// (scripts/setup.sh installs Qt's translations).
TEST_F(Window, QtsOwnButtonsSpeakTheSameLanguage) {
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
}

TEST_F(Window, TheAboutPageShowsEveryCellOfThePinTableWhole) {
  Open();
  EXPECT_THAT(CutPinGridCells(), IsEmpty());
}

// ---- plug and unplug ------------------------------------------------------------------------

TEST_F(Window, UnplugDuringAReadClosesOnceAndReplugConnectsAgain) {
  AttachProgrammer({}, std::chrono::milliseconds(1));
  Open();
  ASSERT_TRUE(WaitForMessage("芯片已连接！"));
  form->btnRead->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->ProgressBar1->value() >= 1024; }, 10000));
  ClearLog();
  ASSERT_TRUE(platform->Detach(path));
  ASSERT_TRUE(WaitForMessage("DeviceChange"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->btnRead->isEnabled(); }, 10000));
  EXPECT_THAT(Messages(), ElementsAre("HID 设备已关闭 ", "DeviceChange"));
  EXPECT_FALSE(form->BtnAuto->isEnabled());
  EXPECT_EQ(form->HexEditor->GetDataSize(), 0);  // an unfinished read shows nothing

  ClearLog();
  Plug(sim::ProgrammerDeviceConfig(std::make_shared<sim::SimProgrammer>()));
  ASSERT_TRUE(WaitForMessage("芯片已连接！"));
  // The stalled read's watchdog may add its time-out line: the connection lines come first.
  auto m = Messages();
  ASSERT_GE(m.size(), 6u);
  EXPECT_THAT(std::vector<std::string>(m.begin(), m.begin() + 6),
              ElementsAre("DeviceChange", "HID 设备已打开", kOpened, "连接编程器",
                          "编程器通讯成功：固件类型3 版本12 ", "芯片已连接！"));
  EXPECT_TRUE(form->btnRead->isEnabled());
  EXPECT_TRUE(form->BtnAuto->isEnabled());
}

TEST_F(Window, ClosingDuringAReadClosesTheConnectionAndSavesNothing) {
  AttachProgrammer({}, std::chrono::milliseconds(1));
  Open();
  ASSERT_TRUE(WaitForMessage("芯片已连接！"));
  form->btnRead->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->ProgressBar1->value() >= 1024; }, 10000));
  form->close();
  EXPECT_FALSE(form->HidIO1().GetActive());
  EXPECT_EQ(Occurrences("HID 设备已关闭 "), 1);
  EXPECT_EQ(form->HexEditor->GetDataSize(), 0);
  form.reset();  // the reader is gone before the window's parts
  EXPECT_EQ(platform->LiveConnectionHandles(), 0);
}

// The box's hint on how to get access is in the window's language; the rule's file name stays.
TEST_F(Window, TheAccessHintIsInTheWindowsLanguage) {
  platform->Attach(RefusedProgrammer());
  Open();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_THAT(errors[0], HasSubstr("\n\n当前用户无权打开编程器的设备节点。请安装 Quillet 的 udev 规则（70-quillet.rules），"));
}

TEST_F(Window, AnErrorInADeviceChangeGoesToTheErrorBoxAndTheWindowGoesOn) {
  Open();
  Plug(RefusedProgrammer());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !errors.empty(); }, 10000));
  EXPECT_THAT(errors[0], StartsWith("Permission denied"));
  EXPECT_THAT(Messages(), ElementsAre(kHotKeyRefused, "DeviceChange", "HID 设备出错 "));
  form->btnDect->click();
  EXPECT_TRUE(Shown("连接编程器"));
}

// ---- watchdog -------------------------------------------------------------------------------

TEST_F(Window, TwoDetectClicksWithoutAProgrammerTimeOutOnce) {
  Open();
  form->btnDect->click();
  QTest::qWait(1500);
  form->btnDect->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Count("操作超时") > 0; }, 10000));
  QTest::qWait(2500);
  EXPECT_THAT(Messages(), ElementsAre(kHotKeyRefused, "连接编程器", "连接编程器", "操作超时 0  0"));
}

TEST_F(Window, AStalledReadTimesOutWithWhatArrived) {
  sim::SimProgrammerConfig config;
  config.faults.stallAfterDataReports = 16;
  AttachProgrammer(config);
  Open();
  ASSERT_TRUE(WaitForMessage("芯片已连接！"));
  form->btnRead->click();
  ASSERT_TRUE(WaitForMessage("操作超时 1024  16384"));
  EXPECT_EQ(form->Engine().State(), Idle);
  EXPECT_EQ(form->HexEditor->GetDataSize(), 0);
}

// A programmer that takes the whole image and never sends its checksum: the write is guarded as
// a read is, and its timeout is logged.
TEST_F(Window, AWriteWhoseChecksumNeverComesTimesOut) {
  sim::SimProgrammerConfig config;
  config.faults.withholdChecksum = true;
  AttachProgrammer(config);
  Open();
  ASSERT_TRUE(WaitForMessage("芯片已连接！"));
  ClearLog();
  LoadImage(RandomBytes(1000, 4));
  form->chkReload->setChecked(false);
  form->BtnAuto->click();
  ASSERT_TRUE(WaitForMessage("操作超时 0  1000"));
  EXPECT_THAT(Messages(), ElementsAre("写FLASH", "开始写FLASH", "写FLASH完成", "操作超时 0  1000"));
  EXPECT_FALSE(form->tmrTimeout->isActive());
}

// ---- simulate-mode knobs ----------------------------------------------------------------------

struct KnobCase {
  const char* name;
  const char* faults;
  QPushButton* TForm1::*button;
  std::vector<std::string> lines;  // after the click, the watchdog's included
};
void PrintTo(const KnobCase& c, std::ostream* os) { *os << c.name; }
class WindowKnobs : public Window, public ::testing::WithParamInterface<KnobCase> {};

// The window's simulate mode is built from the knobs as quillet-cli's is, so its failure paths
// can be driven from outside.
TEST_P(WindowKnobs, TheFaultsTheyAskForReachTheLog) {
  std::string error;
  const sim::SimKnobs knobs = sim::ParseSimKnobs(GetParam().faults, nullptr, error);
  ASSERT_EQ(error, "");
  auto backend = SimulatedHidBackend(16384, knobs, error);
  ASSERT_TRUE(backend) << error;
  Open(*backend);
  ASSERT_TRUE(WaitForMessage("编程器通讯成功：固件类型3 版本12 "));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->tmrTimeout->isActive(); }, 10000));
  ClearLog();
  (form.get()->*GetParam().button)->click();
  ASSERT_TRUE(WaitForMessage(GetParam().lines.back()));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->tmrTimeout->isActive(); }, 10000));
  EXPECT_THAT(Messages(), ElementsAreArray(GetParam().lines));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, WindowKnobs,
    ::testing::Values(KnobCase{"ReadFailureReply", "read-reply=0x85", &TForm1::btnRead,
                               {"读FLASH", "操作失败:85  80", "操作超时 0  16384"}},
                      KnobCase{"NoChip", "no-chip", &TForm1::btnDect,
                               {"连接编程器", "编程器通讯成功：固件类型3 版本12 ",
                                "芯片未连接！请确认：连接正确/模块OK/线接触良好"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A window session and a later quillet-cli session see the same chip: the flash comes from the
// knobs' file and goes back to it once the window has closed.
TEST_F(Window, TheSimulatedFlashComesFromItsFileAndGoesBackAfterTheWindow) {
  test::TempDir dir;
  const std::string file = (dir / "flash.bin").string();
  const auto before = RandomBytes(16384, 8);
  test::WriteFile(file, std::string(before.begin(), before.end()));
  std::string error;
  auto backend = SimulatedHidBackend(16384, sim::ParseSimKnobs(nullptr, file.c_str(), error), error);
  ASSERT_TRUE(backend) << error;
  Open(*backend);
  ASSERT_TRUE(WaitForMessage("芯片已连接！"));
  form->btnRead->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->HexEditor->GetDataSize() > 0; }, 10000));
  const QByteArray shown = form->HexEditor->Data();
  EXPECT_EQ(std::vector<uint8_t>(shown.begin(), shown.end()), before);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->tmrTimeout->isActive(); }, 10000));

  const auto image = RandomBytes(4000, 9);
  LoadImage(image);
  form->chkReload->setChecked(false);
  form->BtnAuto->click();
  ASSERT_TRUE(WaitForMessage("校验成功"));
  form->close();
  form.reset();
  ASSERT_EQ(SaveSimulatedFlash(*backend), "");
  const auto after = test::ReadFile(file);
  EXPECT_EQ(after, backend->programmer->Flash());
  ASSERT_EQ(after.size(), 16384u);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), after.begin()));
}

struct UnusableKnobCase {
  const char* name;
  const char* variable;
  const char* value;  // $DIR: the test's folder
  const char* message;
};
void PrintTo(const UnusableKnobCase& c, std::ostream* os) { *os << c.name; }
class UnusableKnobs : public ::testing::TestWithParam<UnusableKnobCase> {};

// The real program: knobs it cannot use end it with the usage status before a window opens.
TEST_P(UnusableKnobs, EndTheProgramWithTheUsageStatus) {
  test::TempDir dir;
  const auto expand = [&](QString text) { return text.replace(QStringLiteral("$DIR"), QString::fromStdString(dir.path().string())); };
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QString::fromLatin1(GetParam().variable), expand(QString::fromUtf8(GetParam().value)));
  QProcess program;
  program.setProcessEnvironment(env);
  program.start(QStringLiteral(QUILLET_BINARY), {QStringLiteral("--simulate")});
  ASSERT_TRUE(program.waitForStarted());
  if (!program.waitForFinished(30000)) {  // a hang guard: the window opened after all
    program.kill();
    program.waitForFinished();
    FAIL() << "the window opened";
  }
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 2);
  const std::string errors = program.readAllStandardError().toStdString();
  EXPECT_THAT(errors, HasSubstr(expand(QString::fromUtf8(GetParam().message)).toStdString())) << errors;
}

INSTANTIATE_TEST_SUITE_P(
    Knobs, UnusableKnobs,
    ::testing::Values(UnusableKnobCase{"Faults", "QUILLET_SIM_FAULTS", "read-reply=0x85,frob",
                                       "quillet: QUILLET_SIM_FAULTS: cannot use \"frob\"\n"},
                      UnusableKnobCase{"FlashFile", "QUILLET_SIM_FLASH", "$DIR",
                                       "quillet: $DIR: is a directory\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- log ------------------------------------------------------------------------------------

TEST_F(Window, DoubleClickClearsTheLogAndTheNextLineComesFirst) {
  Open();
  ASSERT_FALSE(Messages().empty());
  QTest::mouseDClick(form->RichEdit1->viewport(), Qt::LeftButton);
  EXPECT_THAT(Messages(), IsEmpty());
  form->btnDect->click();
  EXPECT_THAT(Messages(), ElementsAre("连接编程器"));
}

TEST_F(Window, ATypedChipNameThatIsNoEntryChangesNothing) {
  Open();
  form->cbbDev->setEditText(QStringLiteral("NRF24LU1_32K"));
  EXPECT_EQ(form->Engine().Chip().FlashSize, 16384u);
  form->cbbDev->setCurrentIndex(2);
  EXPECT_EQ(form->Engine().Chip().FlashSize, 32768u);
  form->cbbDev->setEditText(QStringLiteral("nrf24lu1_32k"));
  EXPECT_EQ(form->Engine().Chip().FlashSize, 32768u);
}

}  // namespace
}  // namespace quillet
