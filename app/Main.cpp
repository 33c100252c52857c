#include "app/Main.h"

#include <algorithm>
#include <filesystem>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>

#include "app/DesktopNotifications.h"
#include "app/ErrorBox.h"
#include "app/GlobalHotKey.h"
#include "app/PinReference.h"
#include "app/Translations.h"
#include "programmer/LogText.h"
#include "widgets/HexDocument.h"
#include "widgets/HexEditor.h"
#include "widgets/LinkLabel.h"

namespace quillet {

namespace {

constexpr int kClientWidth = 782;
constexpr int kClientHeight = 405;

// A caption that does not fit its control in the platform's font is given room up to the next
// control on its row, so that no caption is cut off where a narrower font was planned for.
void FitCaption(QWidget* control, int nextLeft) {
  const int room = nextLeft - control->x() - 2;
  const int wanted = control->sizeHint().width();
  if (wanted > control->width())
    control->resize(std::max(control->width(), std::min(wanted, room)), control->height());
}

// Keeps a control's bottom inside its parent when the toolkit's tabs take more room than planned.
void KeepInside(QWidget* control, int plannedHeight) {
  const QWidget* parent = control->parentWidget();
  const int room = parent->height() - control->y();
  control->resize(control->width(), std::max(0, std::min(plannedHeight, room)));
}

template <class Control>
Control* Place(Control* control, const char* name, int left, int top, int width, int height) {
  control->setObjectName(QLatin1String(name));
  control->setGeometry(left, top, width, height);
  return control;
}

QCheckBox* CheckBox(QWidget* parent, const char* name, const char* caption, bool checked, int left,
                    int width) {
  auto* box = Place(new QCheckBox(QLatin1String(caption), parent), name, left, 33, width, 25);
  box->setChecked(checked);
  return box;
}

QPushButton* Button(QWidget* parent, const char* name, const char* caption, int left, int top,
                    int width, int height) {
  return Place(new QPushButton(QLatin1String(caption), parent), name, left, top, width, height);
}

}  // namespace

TForm1::TForm1(Settings settings, QWidget* parent)
    : QWidget(parent),
      settings_(std::move(settings)),
      updateQuery_(HttpInfo, [this](const std::string& m) { AppendLog(m); },
                   settings_.updateServiceHost) {
  BuildIspPage();
  BuildHexPage();
  BuildAboutPage();
  SetTabOrder();
  ProgrammerHost host;
  host.appendLog = [this](const std::string& m) { AppendLog(m); };
  host.post = [this](std::function<void()> call) {
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
  };
  host.startTimer = [this](std::chrono::milliseconds delay) { tmrTimeout->start(delay); };
  host.stopTimer = [this] { tmrTimeout->stop(); };
  programmer_ = std::make_unique<Programmer>(settings_.backend.platform, std::move(host));
  BindImageFiles();
  console_ = std::make_unique<ProgrammerConsole>(*programmer_, static_cast<ConsoleView&>(*this));
  BindLog();
  BindHandlers();
  WatchDeviceChanges();
  PlaceOnScreen();
  RunEventHandler([this] { FormCreate(); });
}

TForm1::~TForm1() {
  hotKey_.reset();
  // The reader calls into the console and the log: it must be gone before either.
  programmer_.reset();
  log_.Detach();
}

// ---- construction ---------------------------------------------------------------------------

void TForm1::BuildIspPage() {
  setWindowTitle(QStringLiteral("Quillet"));
  PageControl1 = Place(new QTabWidget(this), "PageControl1", 0, 0, 777, 398);
  TabSheet1 = new QWidget;
  TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
  PageControl1->addTab(TabSheet1, QStringLiteral("ISP"));

  GroupBox1 = Place(new QGroupBox(TabSheet1), "GroupBox1", 24, 16, 721, 65);
  cbbDev = Place(new QComboBox(GroupBox1), "cbbDev", 40, 24, 113, 21);
  cbbDev->setEditable(true);
  cbbDev->setInsertPolicy(QComboBox::NoInsert);
  for (const ChipInfo& chip : kChipCatalogue)
    cbbDev->addItem(QString::fromLatin1(chip.name.data(), static_cast<int>(chip.name.size())));
  cbbDev->setCurrentIndex(-1);
  cbbDev->setEditText(QStringLiteral("Select Device"));
  cbbDev->setAccessibleName(QStringLiteral("Chip type"));
  btnDect = Button(GroupBox1, "btnDect", "Dect", 160, 16, 78, 33);
  lblFile = Place(new QLabel(QStringLiteral("HEX/BIN"), GroupBox1), "lblFile", 244, 27, 45, 13);
  edtFile = Place(new QLineEdit(GroupBox1), "edtFile", 304, 22, 297, 21);
  edtFile->setAccessibleName(QStringLiteral("Firmware file"));
  lblFile->setBuddy(edtFile);
  BtnLoadFile = Button(GroupBox1, "BtnLoadFile", "LoadFile", 632, 16, 78, 33);

  GroupBox4 = Place(new QGroupBox(TabSheet1), "GroupBox4", 24, 96, 721, 89);
  chkReload = CheckBox(GroupBox4, "chkReload", "Reload Hex", true, 28, 85);
  chkReload->setToolTip(QCoreApplication::translate("Window",
                                                    "Reload the file last written before each write, so "
                                                    "that it need not be loaded again after each build"));
  chkEraseFlash = CheckBox(GroupBox4, "chkEraseFlash", "Erase Flash", true, 120, 86);
  chkEncrypt = CheckBox(GroupBox4, "chkEncrypt", "encry", false, 230, 52);
  chkVerify = CheckBox(GroupBox4, "chkVerify", "Verify", true, 297, 57);
  chkResetDev = CheckBox(GroupBox4, "chkResetDev", "Reset  Run", true, 369, 73);
  BtnAuto = Button(GroupBox4, "BtnAuto", "Write[ F9 ]", 496, 16, 97, 57);
  btnRead = Button(GroupBox4, "btnRead", "Read", 626, 16, 80, 57);
  FitCaption(lblFile, edtFile->x());
  FitCaption(chkReload, chkEraseFlash->x());
  FitCaption(chkEraseFlash, chkEncrypt->x());
  FitCaption(chkEncrypt, chkVerify->x());
  FitCaption(chkVerify, chkResetDev->x());
  FitCaption(chkResetDev, BtnAuto->x());

  ProgressBar1 = Place(new QProgressBar(TabSheet1), "ProgressBar1", 24, 193, 657, 10);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setAccessibleName(QStringLiteral("Operation progress"));

  RichEdit1 = Place(new QPlainTextEdit(TabSheet1), "RichEdit1", 24, 216, 729, 137);
  RichEdit1->setReadOnly(true);
  RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RichEdit1->setAccessibleName(QStringLiteral("Activity log"));
  RichEdit1->setAccessibleDescription(QStringLiteral("Double-click to clear"));
}

void TForm1::BuildHexPage() {
  TabSheet2 = new QWidget;
  TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
  PageControl1->addTab(TabSheet2, QStringLiteral("HEX"));
  PageControl2 = Place(new QTabWidget(TabSheet2), "PageControl2", 8, 16, 753, 377);
  PageControl2->setTabPosition(QTabWidget::South);
  TabSheet4 = new QWidget;
  TabSheet4->setObjectName(QStringLiteral("TabSheet4"));
  TabSheet5 = new QWidget;
  TabSheet5->setObjectName(QStringLiteral("TabSheet5"));
  PageControl2->addTab(TabSheet4, QStringLiteral("Flash"));
  PageControl2->addTab(TabSheet5, QStringLiteral("Eeprom"));

  edtFlashSize = Place(new QLineEdit(TabSheet4), "edtFlashSize", 90, 5, 121, 21);
  edtFlashSize->setAccessibleName(QStringLiteral("Flash size in bytes"));
  btnSetFlashSize = Button(TabSheet4, "btnSetFlashSize", "SetFlashSize", 224, 4, 105, 25);
  btnSaveBin = Button(TabSheet4, "btnSaveBin", "Save BIN", 376, 4, 105, 25);
  HexEditor = Place(new widgets::HexEditor(TabSheet4), "HexEditor", 8, 34, 721, 308);
  image_ = new widgets::HexDocument(this);
  HexEditor->SetDocument(image_);
  HexEditor->setAccessibleName(QStringLiteral("Flash image"));
  TabSheet2->installEventFilter(this);
  TabSheet4->installEventFilter(this);
}

void TForm1::BuildAboutPage() {
  TabSheet3 = new QWidget;
  TabSheet3->setObjectName(QStringLiteral("TabSheet3"));
  PageControl1->addTab(TabSheet3, QStringLiteral("About"));
  StringGrid1 = Place(new QTableWidget(TabSheet3), "StringGrid1", 24, 45, 457, 281);
  StringGrid1->setAccessibleName(QStringLiteral("Connector pins"));
  LinkLabel1 = Place(new widgets::LinkLabel(QLatin1String(kDocumentationCaption),
                                            QUrl(QLatin1String(kDocumentationUrl)), TabSheet3),
                     "LinkLabel1", 532, 49, 145, 13);
  Label1 = Place(new QLabel(QLatin1String(kContactAddress), TabSheet3), "Label1", 554, 85, 105, 13);
  FitCaption(LinkLabel1, kClientWidth - 8);
  FitCaption(Label1, kClientWidth - 8);
  Image1 = Place(new QLabel(TabSheet3), "Image1", 496, 144, 229, 177);
  Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Image1->setPixmap(ConnectorPicture());
  Image1->setAccessibleName(QStringLiteral("Connector picture"));
  Image1->setAccessibleDescription(QStringLiteral(
      "Ten-pin header. Left column top to bottom: GND, SCSN, PROG, SMOSI, VCC. Right column top "
      "to bottom: GND, SMISO, SSCK, RST, VCC."));
  tmrTimeout = new QTimer(this);
  tmrTimeout->setObjectName(QStringLiteral("tmrTimeout"));
  tmrTimeout->setSingleShot(true);
  tmrTimeout->setInterval(OperationWatchdog::kInterval);
}

void TForm1::SetTabOrder() {
  const QWidget* chain[] = {BtnLoadFile, edtFile,       cbbDev,      btnDect,    chkVerify,
                            BtnAuto,     chkEraseFlash, chkResetDev, chkEncrypt, chkReload,
                            btnRead,     RichEdit1};
  for (size_t i = 1; i < std::size(chain); ++i)
    setTabOrder(const_cast<QWidget*>(chain[i - 1]), const_cast<QWidget*>(chain[i]));
  setTabOrder(HexEditor, edtFlashSize);
  setTabOrder(edtFlashSize, btnSetFlashSize);
  setTabOrder(btnSetFlashSize, btnSaveBin);
}

void TForm1::BindLog() {
  log_.Attach([this] {
    QMetaObject::invokeMethod(this, [this] { ShowPendingLogLines(); }, Qt::QueuedConnection);
  });
  RichEdit1->viewport()->installEventFilter(this);
}

// Holds ImagePath, empty until a file is loaded.
void TForm1::BindImageFiles() {
  imageFiles_ = std::make_unique<ImageFiles>(
      programmer_->Engine(), *HexEditor, *edtFile, *edtFlashSize, [this](const std::string& m) { AppendLog(m); },
      settings_.positionalArguments, ImageFiles::DefaultDialogs(this));
}

void TForm1::BindHandlers() {
  // The list changes when an entry is picked and when its text is edited.
  connect(cbbDev, &QComboBox::currentIndexChanged, this, EventHandler([this] { cbbDevChange(); }));
  connect(cbbDev, &QComboBox::editTextChanged, this, EventHandler([this] { cbbDevChange(); }));
  connect(btnDect, &QPushButton::clicked, this, EventHandler([this] { btnDectClick(); }));
  connect(btnRead, &QPushButton::clicked, this, EventHandler([this] { btnReadClick(); }));
  connect(BtnAuto, &QPushButton::clicked, this, EventHandler([this] { WriteButtonClick(); }));
  connect(BtnLoadFile, &QPushButton::clicked, this,
          EventHandler([this] { imageFiles_->BtnLoadFileClick(); }));
  connect(btnSetFlashSize, &QPushButton::clicked, this,
          EventHandler([this] { imageFiles_->btnSetFlashSizeClick(); }));
  connect(btnSaveBin, &QPushButton::clicked, this,
          EventHandler([this] { imageFiles_->btnSaveBinClick(); }));
  connect(PageControl1, &QTabWidget::currentChanged, this, EventHandler([this] {
            if (PageControl1->currentWidget() == TabSheet3) TabSheet3Show();
          }));
  connect(tmrTimeout, &QTimer::timeout, this,
          EventHandler([this] { console_->WatchdogTimerFired(); }));
}

void TForm1::WatchDeviceChanges() {
  const auto& changes = settings_.backend.changes;
  if (!changes) {
    AppendLog(FillIn(
        QCoreApplication::translate("Window", "Cannot watch for devices being plugged in or out: %1"),
        {settings_.backend.changesError}));
    return;
  }
  deviceChanges_ = changes->Subscribe(
      [this](std::function<void()> call) {
        QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
      },
      [this](const hid::DeviceChange&) { RunEventHandler([this] { DeviceChangeReady(); }); });
}

void TForm1::PlaceOnScreen() {
  setFixedSize(kClientWidth, kClientHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame(QPoint(), size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

// ---- start-up and shutdown ------------------------------------------------------------------

void TForm1::FormCreate() {
  console_->Rescan();
  RegisterHotKey();
  AppendVersionToCaption();
  updateQuery_.QueryVersionInfo();
}

void TForm1::RegisterHotKey() {
  // F9 does what a click on Write does, and nothing while Write is disabled.
  hotKey_ = std::make_unique<GlobalHotKey>(this, [this] { HotKeyPressed(); });
  if (!hotKey_->Register())
    AppendLog(FillIn(QCoreApplication::translate("Window", "Could not register the F9 hot key")));
}

void TForm1::AppendVersionToCaption() {
  setWindowTitle(windowTitle() + QStringLiteral(" V") + QString::number(kProgramVersion));
}

void TForm1::closeEvent(QCloseEvent* event) {
  RunEventHandler([this] { FormClose(); });
  event->accept();
}

void TForm1::FormClose() {
  if (hotKey_) hotKey_->Unregister();
  programmer_->Close();
}

// ---- handlers -------------------------------------------------------------------------------

TaskFlags TForm1::CheckedFlags() const {
  return {.verify = chkVerify->isChecked(),
          .resetRun = chkResetDev->isChecked(),
          .erase = chkEraseFlash->isChecked(),
          .encrypt = chkEncrypt->isChecked()};
}

void TForm1::cbbDevChange() {
  const QString text = cbbDev->currentText();
  const int index = cbbDev->currentIndex();
  const bool selected = index >= 0 && cbbDev->itemText(index) == text;
  console_->SelectChip(text.toStdString(), selected);
}

void TForm1::btnDectClick() { console_->Detect(); }

void TForm1::btnReadClick() { console_->Read(CheckedFlags()); }

void TForm1::HotKeyPressed() {
  hotKeyWrite_ = true;
  BtnAuto->click();
  hotKeyWrite_ = false;
}

void TForm1::WriteButtonClick() {
  ProgrammerConsole::Done done;
  if (hotKeyWrite_)
    done = [this, file = std::filesystem::path(imageFiles_->ImagePath()).filename().string(),
            start = std::chrono::steady_clock::now()](const OperationOutcome& o) { NotifyWriteEnded(o, file, start); };
  console_->Write(CheckedFlags(), chkReload->isChecked(), imageFiles_->ImagePath(), std::move(done));
}

void TForm1::NotifyWriteEnded(const OperationOutcome& o, const std::string& file,
                              std::chrono::steady_clock::time_point start) {
  // The user who looks at the window sees the log; one who pressed F9 from elsewhere does not.
  if (isActiveWindow()) return;
  if (!notifier_)
    notifier_ = std::make_unique<DesktopNotifier>(SessionBusNoticeSender(), [this](const std::string& line) { AppendLog(line); });
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  notifier_->Show(o.Ok() ? WriteSucceededNotice(file, ImageSize(), took, o.checksumAgrees.value_or(false))
                         : WriteFailedNotice(file, logtext::FailureText(*o.failure)));
}

void TForm1::DeviceChangeReady() {
  // One line and one rescan per add or remove, each its own event: a rescan that raises ends
  // only its own.
  console_->DeviceChange();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize) {
    if (watched == TabSheet2) KeepInside(PageControl2, 377);
    if (watched == TabSheet4) KeepInside(HexEditor, 308);
  }
  if (watched == RichEdit1->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    RunEventHandler([this] { RichEdit1DblClick(); });
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TForm1::RichEdit1DblClick() {
  log_.Clear();
  RichEdit1->clear();
}

// ---- log and control state ------------------------------------------------------------------

void TForm1::AppendLog(std::string_view message) { log_.AppendLog(message); }

void TForm1::ShowPendingLogLines() {
  const std::vector<std::string> lines = log_.TakePending();
  if (lines.empty()) return;
  for (const std::string& line : lines) RichEdit1->appendPlainText(QString::fromStdString(line));
  QScrollBar* bar = RichEdit1->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void TForm1::SetOperationButtonsEnabled(bool enabled) {
  btnRead->setEnabled(enabled);
  BtnAuto->setEnabled(enabled);
}

void TForm1::SetProgressRange(int maximum) {
  ProgressBar1->setRange(0, maximum);
  ProgressBar1->setValue(0);
}

void TForm1::SetProgressPosition(int position) { ProgressBar1->setValue(position); }

void TForm1::ShowReadBack(const std::vector<uint8_t>& flash) {
  const int size = static_cast<int>(flash.size());
  HexEditor->SetDataSize(size);
  HexEditor->WriteBuffer(flash.data(), 0, size);
  HexEditor->Invalidate();
}

uint32_t TForm1::ImageSize() const { return static_cast<uint32_t>(image_->Size()); }

void TForm1::LoadImageFile(const std::string& path) { imageFiles_->LoadImageFile(path); }

void TForm1::TabSheet3Show() {
  FillPinGrid(*StringGrid1);
  // Where the font or the language makes the grid wider than planned, the picture and the
  // addresses beside it move right to make room, as far as the page allows.
  const int grow = FitPinGridColumns(*StringGrid1) - StringGrid1->width();
  if (grow <= 0) return;
  const int pageRoom = TabSheet3->width() - (Image1->x() + Image1->width());
  const int shift = std::min(grow, std::max(0, pageRoom));
  StringGrid1->resize(StringGrid1->width() + grow, StringGrid1->height());
  for (QWidget* beside : std::initializer_list<QWidget*>{Image1, LinkLabel1, Label1})
    beside->move(beside->x() + shift, beside->y());
}

}  // namespace quillet
