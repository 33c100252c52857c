#include "app/ProgrammerConsole.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <utility>

#include "app/IdentityCheck.h"

namespace quillet {

const char kProgrammerAccessHint[] =
    "This user may not open the programmer's device node. Install Quillet's udev rule "
    "(70-quillet.rules), which gives the logged-in user access to the programmer, then unplug "
    "and re-plug it; the README's \"USB access\" section shows how.";

namespace {
template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
}  // namespace

ProgrammerConsole::ProgrammerConsole(CPro& engine, hid::THidIO& hid, ConsoleView& view,
                                     ConsoleHost host)
    : engine_(engine), hid_(hid), view_(view), host_(std::move(host)) {
  engine_.SetSendReport([this](const uint8_t* bytes, size_t length) { return SendReport(bytes, length); });
  engine_.SetEngineEvent([this](int code, const void* payload) {
    if (auto event = DecodeEngineEvent(code, payload)) OnEngineEvent(*event);
  });
  engine_.SetAppendLog([this](const std::string& text) { AppendLog(text); });

  // The programmer is named by its product string and serial number, read while listing.
  hid_.EnumFullMode = true;
  hid_.WriteTimeout = kReportWriteTimeoutMs;
  hid_.OnOpen = [this](hid::TBaseIO*) { HidIO1Open(); };
  hid_.OnClose = [this](hid::TBaseIO*) { HidIO1Close(); };
  hid_.OnFatalError = [this](hid::TBaseIO*, uint32_t, uint32_t detail, const std::string&,
                             bool& raise) { HidIO1FatalError(detail, raise); };
  hid_.OnAfterReceive = [this](hid::TBaseIO*, const uint8_t* buffer, uint32_t received) {
    HidIO1AfterReceive(buffer, received);
  };
}

void ProgrammerConsole::AppendLog(const std::string& message) const {
  if (host_.appendLog) host_.appendLog(message);
}

bool ProgrammerConsole::SendReport(const uint8_t* bytes, size_t length) {
  const auto report = FrameOutputReport(bytes, length);
  return hid_.WriteReport(report.data(), static_cast<unsigned>(report.size()));
}

void ProgrammerConsole::UpdateCtrlStatus() {
  // Applied on the UI thread, from the connection's state at that moment.
  host_.post([this] { view_.SetOperationButtonsEnabled(hid_.GetActive()); });
}

// ---- discovery ------------------------------------------------------------------------------

void ProgrammerConsole::UpdateUsbBridge() {
  hid_.Update();
  hid_.GetDeviceList(nullptr);
  for (int i = 0; i < hid_.GetDeviceCount(); ++i) {
    hid_.SetDeviceIndex(i);
    const hid::THidDevice* record = hid_.SelectedDevice();
    if (!record || record->GetVendorId() != kProgrammerVendorId ||
        record->GetProductId() != kProgrammerProductId || (accept_ && !accept_(*record)))
      continue;
    if (hid_.GetActive()) return;
    lastFatalError_ = 0;
    try {
      hid_.SetActive(true);
    } catch (const hid::EHidError& e) {
      if (lastFatalError_ == EACCES || lastFatalError_ == EPERM)
        throw hid::EHidError(std::string(e.what()) + "\n\n" + kProgrammerAccessHint);
      throw;
    }
    AppendLog("编程器已打开" + record->Name + " " + record->SerialNumber);
    engine_.Connect();
    return;
  }
  hid_.SetActive(false);
}

void ProgrammerConsole::SetProgrammerFilter(std::function<bool(const hid::THidDevice&)> accept) {
  accept_ = std::move(accept);
}

void ProgrammerConsole::DeviceChange() {
  AppendLog("DeviceChange");
  UpdateUsbBridge();
}

void ProgrammerConsole::HidIO1Open() {
  AppendLog("HID 设备已打开");
  UpdateCtrlStatus();
}

void ProgrammerConsole::HidIO1Close() {
  AppendLog("HID 设备已关闭 ");
  UpdateCtrlStatus();
}

void ProgrammerConsole::HidIO1FatalError(uint32_t detail, bool& raiseException) {
  (void)raiseException;  // left true: the open's caller gets the system's message
  lastFatalError_ = detail;
  AppendLog("HID 设备出错 ");
  UpdateCtrlStatus();
}

// ---- operations -----------------------------------------------------------------------------

void ProgrammerConsole::SelectChip(const std::string& text, bool entrySelected) {
  if (text.empty() || !entrySelected) return;
  engine_.SelectChip(text);
}

void ProgrammerConsole::ArmWatchdog() {
  if (auto delay = watchdog_.Arm(host_.now())) view_.StartWatchdogTimer(*delay);
}

// The watchdog is armed before the request goes out: a reply that comes back at once must find
// it running, or its stop would come first and the countdown would then report a timeout for an
// operation that finished.
void ProgrammerConsole::StopWatchdog() {
  watchdog_.Stop();
  // The timer follows on the UI thread, unless an operation armed the watchdog again meanwhile.
  host_.post([this] {
    if (!watchdog_.Running()) view_.StopWatchdogTimer();
  });
}

void ProgrammerConsole::Detect() {
  ArmWatchdog();
  engine_.Connect();
}

void ProgrammerConsole::Read(TaskFlags flags) {
  AppendLog("读FLASH");
  const uint32_t size = engine_.Chip().FlashSize;
  engine_.EditTask([&](ProgrammerTask& t) { FillTask(t, OP_READ, flags, size); });
  view_.SetProgressRange(static_cast<int>(size));
  ArmWatchdog();
  engine_.SendTask();
}

void ProgrammerConsole::Write(TaskFlags flags, bool reloadImage, const std::string& imagePath) {
  AppendLog("写FLASH");
  if (reloadImage) {
    std::error_code error;
    if (imagePath.empty() || !std::filesystem::is_regular_file(imagePath, error)) {
      AppendLog("File Not Exists!");
      return;
    }
    view_.LoadImageFile(imagePath);
  }
  engine_.EditTask([](ProgrammerTask& t) {
    t.bytes[ProgrammerTask::kOp] = OP_WRITE;
    StoreU32(&t.bytes[ProgrammerTask::kReserved4], 0);
  });
  const uint32_t size = view_.ImageSize();
  if (size == 0) {
    AppendLog("请载入烧录文件！");
    return;
  }
  if (size > engine_.Chip().FlashSize) {
    AppendLog("烧录文件超过芯片容量！");
    return;
  }
  engine_.EditTask([&](ProgrammerTask& t) { FillTask(t, OP_WRITE, flags, size); });
  view_.SetProgressRange(static_cast<int>(size));
  engine_.SendTask();
}

void ProgrammerConsole::WatchdogTimerFired() {
  std::visit(Overloaded{
                 [&](OperationWatchdog::Expired) {
                   char text[96];
                   std::snprintf(text, sizeof text, "操作超时 %d  %u", engine_.Received(),
                                 engine_.Task().Size());
                   AppendLog(text);
                   engine_.SetState(Idle);
                 },
                 [&](OperationWatchdog::Pending p) { view_.StartWatchdogTimer(p.delay); },
                 [](OperationWatchdog::Idle) {},
             },
             watchdog_.Check(host_.now()));
}

// ---- reader thread --------------------------------------------------------------------------

void ProgrammerConsole::HidIO1AfterReceive(const uint8_t* report, uint32_t length) {
  watchdog_.InputReport(host_.now());
  if (!report || length == 0) return;
  uint8_t copy[kReportSize] = {};
  const size_t n = std::min<size_t>(length, kReportSize);
  std::copy_n(report, n, copy);
  engine_.HandleReport(copy + 1, n - 1);
}

void ProgrammerConsole::ReadFinished(int32_t received) {
  char text[64];
  std::snprintf(text, sizeof text, "读FLASH完毕,%d byte", received);
  AppendLog(text);
  StopWatchdog();
  auto flash = std::make_shared<std::vector<uint8_t>>(engine_.Chip().FlashSize);
  engine_.CopyReadImage(0, flash->data(), flash->size());
  host_.post([this, flash] { view_.ShowReadBack(*flash); });
}

void ProgrammerConsole::OnEngineEvent(const EngineEvent& event) {
  const auto size = [this] { return static_cast<int32_t>(engine_.Task().Size()); };
  std::visit(
      Overloaded{
          [&](const LogEvent& e) { AppendLog(e.text); },
          [&](const IdentityEvent& e) {
            for (const std::string& line : IdentityCheckLines(engine_.Request(), e.reply.data()))
              AppendLog(line);
            StopWatchdog();
          },
          [&](const ReadProgressEvent& e) {
            if (e.received < size()) {
              host_.post([this, n = e.received] { view_.SetProgressPosition(n); });
            } else {
              ReadFinished(e.received);
            }
          },
          [&](const WriteProgressEvent& e) {
            if (e.sent < size()) {
              host_.post([this, n = e.sent] { view_.SetProgressPosition(n); });
            } else {
              AppendLog("写FLASH完成");
              StopWatchdog();
            }
          },
          [&](const VerifyEvent& e) { AppendLog(e.agree ? "校验成功" : "校验失败"); },
      },
      event);
  if (host_.engineEvent) host_.engineEvent(event);
}

}  // namespace quillet
