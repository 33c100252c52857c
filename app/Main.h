#pragma once
// TForm1: the main window. It builds the controls, owns the programmer (its engine and HID
// connection), the console that drives it, the watchdog timer, the hot key and the update query,
// and binds the console to the controls. The logic lives in the programmer layer; this class
// only wires.

#include <QWidget>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/Backend.h"
#include "app/ImageFiles.h"
#include "app/UpdateQuery.h"
#include "engine/Cpro.h"
#include "hid/HidIO.h"
#include "net/HttpClient.h"
#include "programmer/ActivityLog.h"
#include "programmer/DesktopNotice.h"
#include "programmer/Programmer.h"
#include "programmer/ProgrammerConsole.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTableWidget;
class QTimer;

namespace quillet {

namespace widgets {
class HexDocument;
class HexEditor;
class LinkLabel;
}  // namespace widgets
class GlobalHotKey;

class TForm1 : public QWidget, private ConsoleView {
  Q_OBJECT

 public:
  struct Settings {
    HidBackend backend;
    std::vector<std::string> positionalArguments;
    std::string updateServiceHost = kUpdateServiceHost;
  };

  explicit TForm1(Settings settings, QWidget* parent = nullptr);
  ~TForm1() override;

  void AppendLog(std::string_view message);
  // What F9 does: a click on Write, whose end a desktop notification tells while the window is
  // not the active one (the user pressed it from the editor).
  void HotKeyPressed();
  void LoadImageFile(const std::string& path) override;

  CPro& Engine() { return programmer_->Engine(); }
  hid::THidIO& HidIO1() { return programmer_->Connection(); }
  const std::string& ImagePath() const { return imageFiles_->ImagePath(); }

  // ISP page.
  QTabWidget* PageControl1;
  QWidget* TabSheet1;
  QGroupBox* GroupBox1;
  QComboBox* cbbDev;
  QPushButton* btnDect;
  QLabel* lblFile;
  QLineEdit* edtFile;
  QPushButton* BtnLoadFile;
  QGroupBox* GroupBox4;
  QCheckBox* chkReload;
  QCheckBox* chkEraseFlash;
  QCheckBox* chkEncrypt;
  QCheckBox* chkVerify;
  QCheckBox* chkResetDev;
  QPushButton* BtnAuto;
  QPushButton* btnRead;
  QProgressBar* ProgressBar1;
  QPlainTextEdit* RichEdit1;
  // HEX page.
  QWidget* TabSheet2;
  QTabWidget* PageControl2;
  QWidget* TabSheet4;
  QWidget* TabSheet5;
  QLineEdit* edtFlashSize;
  QPushButton* btnSetFlashSize;
  QPushButton* btnSaveBin;
  widgets::HexEditor* HexEditor;
  // About page.
  QWidget* TabSheet3;
  QTableWidget* StringGrid1;
  widgets::LinkLabel* LinkLabel1;
  QLabel* Label1;
  QLabel* Image1;
  QTimer* tmrTimeout;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Construction.
  void BuildIspPage();
  void BuildHexPage();
  void BuildAboutPage();
  void SetTabOrder();
  void BindLog();
  void BindImageFiles();
  void BindHandlers();
  void WatchDeviceChanges();
  void PlaceOnScreen();

  // Start-up and shutdown.
  void FormCreate();
  void RegisterHotKey();
  void AppendVersionToCaption();
  void FormClose();

  // Handlers.
  void cbbDevChange();
  void btnDectClick();
  void btnReadClick();
  void WriteButtonClick();
  void NotifyWriteEnded(const OperationOutcome& o, const std::string& file, std::chrono::steady_clock::time_point start);
  void RichEdit1DblClick();
  void TabSheet3Show();
  void DeviceChangeReady();
  TaskFlags CheckedFlags() const;
  void ShowPendingLogLines();

  // ConsoleView.
  void SetOperationButtonsEnabled(bool enabled) override;
  void SetProgressRange(int maximum) override;
  void SetProgressPosition(int position) override;
  void ShowReadBack(const std::vector<uint8_t>& flash) override;
  uint32_t ImageSize() const override;

  Settings settings_;
  ActivityLog log_;
  // The image the hex view shows and a Write measures; the window owns it, the view displays it.
  widgets::HexDocument* image_ = nullptr;
  std::unique_ptr<Programmer> programmer_;
  std::unique_ptr<ProgrammerConsole> console_;
  std::unique_ptr<ImageFiles> imageFiles_;
  std::unique_ptr<GlobalHotKey> hotKey_;
  bool hotKeyWrite_ = false;  // the Write being clicked is the hot key's
  std::unique_ptr<DesktopNotifier> notifier_;  // from the first notification on
  hid::Subscription deviceChanges_;
  THttpClient HttpInfo;
  CUpdateQuery updateQuery_;
};

}  // namespace quillet
