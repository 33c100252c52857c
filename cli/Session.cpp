#include "cli/Session.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <utility>
#include <variant>

namespace quillet::cli {

namespace {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};

// How to give the logged-in user the programmer's node, for a permission refusal.
constexpr char kUdevInstall[] =
    " Install it with: echo 'KERNEL==\"hidraw*\", ATTRS{idVendor}==\"04d8\", "
    "ATTRS{idProduct}==\"003f\", TAG+=\"uaccess\"' | sudo tee /etc/udev/rules.d/70-quillet.rules "
    "&& sudo udevadm control --reload && sudo udevadm trigger";

std::string OneLine(std::string s) {
  std::string out;
  for (char c : s) {
    if (c == '\n') {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

bool SameNode(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::error_code ec1, ec2;
  const auto ca = std::filesystem::weakly_canonical(a, ec1);
  const auto cb = std::filesystem::weakly_canonical(b, ec2);
  if (!ec1 && !ec2 && ca == cb) return true;
  // "hidraw3" names /dev/hidraw3.
  return b.find('/') == std::string::npos && std::filesystem::path(a).filename() == b;
}

}  // namespace

// The terminal's side of the console: progress goes to the bar, the read-back to the session,
// and the console's watchdog timer is a deadline of the event loop.
class Session::View : public ConsoleView {
 public:
  explicit View(Session& s) : s_(s) {}
  void SetOperationButtonsEnabled(bool) override {}  // the connection is asked directly
  void SetProgressRange(int maximum) override {
    s_.progress_.Start(s_.phase_, static_cast<uint64_t>(std::max(maximum, 0)));
  }
  void SetProgressPosition(int position) override {
    s_.progress_.Update(static_cast<uint64_t>(std::max(position, 0)));
  }
  void ShowReadBack(const std::vector<uint8_t>& flash) override {
    s_.readBack_ = flash;
    s_.readDone_ = true;
  }
  uint32_t ImageSize() const override { return s_.writeSize_; }
  void LoadImageFile(const std::string&) override {}  // the command line never asks for a reload
  void StartWatchdogTimer(std::chrono::milliseconds delay) override {
    s_.consoleTimer_.Start(delay, [this] { s_.console_->WatchdogTimerFired(); });
  }
  void StopWatchdogTimer() override { s_.consoleTimer_.Stop(); }

 private:
  Session& s_;
};

Session::Session(HidBackend backend, Progress& progress, AppendLogHook log)
    : backend_(std::move(backend)), progress_(progress), log_(std::move(log)) {
  view_ = std::make_unique<View>(*this);
  hid_ = std::make_unique<hid::THidIO>(nullptr, backend_.platform);
  ConsoleHost host;
  host.appendLog = [this](const std::string& line) {
    if (log_) log_(line);
  };
  host.post = [this](std::function<void()> call) { loop_.Post(std::move(call)); };
  host.engineEvent = [this](const EngineEvent& event) {
    // Every event comes from the programmer's input or from a report it took: it is alive.
    guard_.InputReport(OperationWatchdog::Clock::now());
    loop_.Post([this, event] { OnEvent(event); });
  };
  console_ = std::make_unique<ProgrammerConsole>(engine_, *hid_, *view_, std::move(host));
  if (backend_.changes)
    deviceChanges_ = backend_.changes->Subscribe(loop_.Poster(), [this](const hid::DeviceChange&) { OnDeviceChange(); });
}

Session::~Session() {
  // Device changes and the reader call into the console and post into the loop: they go first.
  deviceChanges_.Reset();
  hid_.reset();
}

void Session::Close() {
  hid_->Close();
  while (loop_.RunPosted()) {
  }
}

void Session::OnDeviceChange() {
  try {
    console_->DeviceChange();
  } catch (const hid::EHidError& e) {
    openError_ = OneLine(e.what());
  }
}

std::string Session::TakeOpenError() { return std::exchange(openError_, {}); }

void Session::OnEvent(const EngineEvent& event) {
  std::visit(Overloaded{
                 [&](const LogEvent& e) {
                   char text[96];
                   if (auto reply = FailureReplyCode(e)) {
                     std::snprintf(text, sizeof text, "the programmer answered with failure reply 0x%02X", *reply);
                     failure_ = Outcome{kExitFailed, text};
                   } else if (IsImageStreamFailure(e)) {
                     failure_ = Outcome{kExitNoAnswer,
                                        "the programmer stopped taking the image (a report not taken within "
                                        "1000 ms); the chip holds part of it at most"};
                   }
                 },
                 [&](const IdentityEvent& e) {
                   identity_ = e;
                   ++identities_;
                 },
                 [&](const ReadProgressEvent& e) { progress_.Update(static_cast<uint64_t>(std::max(e.received, 0))); },
                 [&](const WriteProgressEvent& e) {
                   progress_.Update(static_cast<uint64_t>(std::max(e.sent, 0)));
                   if (e.sent >= 0 && static_cast<uint32_t>(e.sent) >= writeSize_) streamDone_ = true;
                 },
                 [&](const VerifyEvent& e) { verify_ = e.agree; },
             },
             event);
}

// ---- the session's watchdog -----------------------------------------------------------------

void Session::ArmGuard() {
  guardExpired_ = false;
  if (auto delay = guard_.Arm(OperationWatchdog::Clock::now()))
    guardTimer_.Start(*delay, [this] { OnGuardTimer(); });
}

void Session::StopGuard() {
  guard_.Stop();
  guardTimer_.Stop();
}

void Session::OnGuardTimer() {
  std::visit(Overloaded{
                 [&](OperationWatchdog::Expired) { guardExpired_ = true; },
                 [&](OperationWatchdog::Pending p) { guardTimer_.Start(p.delay, [this] { OnGuardTimer(); }); },
                 [](OperationWatchdog::Idle) {},
             },
             guard_.Check(OperationWatchdog::Clock::now()));
}

Outcome Session::Await(const std::function<bool()>& finished, const std::string& what) {
  failure_.reset();
  ArmGuard();
  loop_.RunUntil([&] { return finished() || failure_ || guardExpired_ || !hid_->GetActive(); });
  StopGuard();
  if (finished()) return {};
  if (failure_) return *failure_;
  if (!hid_->GetActive()) return {kExitNoAnswer, "the programmer was unplugged while " + what};
  return {kExitNoAnswer, "the programmer stopped answering while " + what + ": nothing for " +
                             std::to_string(OperationWatchdog::kInterval.count()) + " ms"};
}

// ---- opening --------------------------------------------------------------------------------

Outcome Session::Open(const std::string& serial, const std::string& device) {
  if (!serial.empty()) {
    console_->SetProgrammerFilter([serial](const hid::THidDevice& d) { return d.SerialNumber == serial; });
  } else if (!device.empty()) {
    console_->SetProgrammerFilter(
        [device](const hid::THidDevice& d) { return SameNode(d.InterfacePath, device); });
  }
  const int before = identities_;
  try {
    console_->UpdateUsbBridge();
  } catch (const hid::EHidError& e) {
    std::string message = OneLine(e.what());
    if (message.find(kProgrammerAccessHint) != std::string::npos) message += kUdevInstall;
    return {kExitNoProgrammer, "cannot open the programmer " + OpenNode() + ": " + message};
  }
  if (!hid_->GetActive()) {
    std::string which = !serial.empty()   ? " with serial number " + serial
                        : !device.empty() ? " at " + device
                                          : "";
    return {kExitNoProgrammer, "no programmer (04d8:003f)" + which + " found"};
  }
  return Await([&] { return identities_ > before; }, "asking who it is");
}

Outcome Session::CheckIdentity() const {
  const auto id = LastIdentity();
  if (!id) return {kExitNoAnswer, "the programmer did not say who it is"};
  if (!id->CheckPassed())
    return {kExitFailed, "the programmer's check word is " + std::to_string(id->checkWord) + ", not " +
                             std::to_string(id->expectedWord) + ": the link is not trustworthy"};
  if (!id->chipConnected)
    return {kExitFailed, "no chip answers on the programmer's connector (check the wiring, the module "
                         "and the contacts)"};
  return {};
}

std::optional<Identity> Session::LastIdentity() const {
  if (!identity_) return std::nullopt;
  return ReadIdentity(engine_.Request(), identity_->reply.data());
}

std::vector<std::string> Session::IdentityLines() const {
  if (!identity_) return {};
  return IdentityCheckLines(engine_.Request(), identity_->reply.data());
}

std::string Session::OpenNode() const {
  const hid::THidDevice* d = hid_->SelectedDevice();
  return d ? d->InterfacePath : std::string();
}

std::string Session::OpenSerial() const {
  const hid::THidDevice* d = hid_->SelectedDevice();
  return d ? d->SerialNumber : std::string();
}

int Session::ProgrammersFound() const {
  int n = 0;
  for (int i = 0; i < hid_->GetDeviceCount(); ++i) {
    const hid::THidDevice* d = hid_->GetDevice(i);
    n += d && d->GetVendorId() == kProgrammerVendorId && d->GetProductId() == kProgrammerProductId;
  }
  return n;
}

bool Session::Connected() const { return hid_->GetActive(); }

// ---- operations -----------------------------------------------------------------------------

void Session::SelectChip(const std::string& name) { console_->SelectChip(name, true); }

Outcome Session::Read(TaskFlags flags, const std::string& phase, std::vector<uint8_t>& flash) {
  phase_ = phase;
  readDone_ = false;
  readBack_.clear();
  console_->Read(flags);
  Outcome o = Await([&] { return readDone_; }, phase);
  progress_.Finish(o.Ok());
  if (o.Ok()) flash = std::move(readBack_);
  return o;
}

Outcome Session::Write(std::span<const uint8_t> image, TaskFlags flags, WriteResult& result) {
  engine_.EditWriteImage([&](uint8_t* buffer, size_t size) {
    const size_t n = std::min(image.size(), size);
    std::memcpy(buffer, image.data(), n);
    // The last report is sent whole: past the image it carries FF, not an earlier image's bytes.
    std::fill(buffer + n, buffer + size, kErasedByte);
  });
  writeSize_ = static_cast<uint32_t>(image.size());
  streamDone_ = false;
  verify_.reset();
  phase_ = "writing";
  console_->Write(flags, false, {});
  Outcome o = Await([&] { return streamDone_ && (!flags.verify || verify_.has_value()); }, "writing");
  if (o.exit == kExitNoAnswer && streamDone_ && !failure_ && hid_->GetActive())
    o.error = "the image was sent, but the programmer sent no checksum for " +
              std::to_string(OperationWatchdog::kInterval.count()) + " ms";
  progress_.Finish(streamDone_);
  if (flags.verify) result.checksumAgrees = verify_;
  return o;
}

}  // namespace quillet::cli
