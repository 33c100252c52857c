#include "cli/Session.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <utility>
#include <variant>

#include "programmer/LogText.h"
#include "programmer/MessageCatalogue.h"

namespace quillet::cli {

namespace {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};

using logtext::Say;
using logtext::Translate;

// How to give the logged-in user the programmer's node, for a permission refusal.
constexpr char kUdevInstall[] =
    "echo 'KERNEL==\"hidraw*\", ATTRS{idVendor}==\"04d8\", "
    "ATTRS{idProduct}==\"003f\", TAG+=\"uaccess\"' | sudo tee /etc/udev/rules.d/70-quillet.rules "
    "&& sudo udevadm control --reload && sudo udevadm trigger";

std::string OneLine(const std::string& s) {
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

// The system's message on one line, with how to get access when that was refused.
std::string OpenMessage(const OperationFailure& f, TextLookup lookup) {
  if (const auto* refused = std::get_if<failure::PermissionRefused>(&f))
    return OneLine(refused->message + "\n\n" + LookedUp(lookup, refused->hint.c_str()));
  return OneLine(std::get<failure::OpenFailed>(f).message);
}

std::string OpenFailure(const OperationFailure& f, TextLookup lookup) {
  if (const auto* refused = std::get_if<failure::PermissionRefused>(&f))
    return LookedUp(lookup, "cannot open the programmer %s: %s", refused->node.c_str(),
                    OpenMessage(f, lookup).c_str()) +
           LookedUp(lookup, " Install it with: %s", kUdevInstall);
  return LookedUp(lookup, "cannot open the programmer %s: %s", std::get<failure::OpenFailed>(f).node.c_str(),
                  OpenMessage(f, lookup).c_str());
}

const long long kWatchdogMs = OperationWatchdog::kInterval.count();

}  // namespace

Session::Session(HidBackend backend, Progress& progress, AppendLogHook log)
    : backend_(std::move(backend)), progress_(progress), log_(std::move(log)) {
  ProgrammerHost host;
  host.appendLog = [this](const std::string& line) {
    if (log_) log_(line);
  };
  host.post = [this](std::function<void()> call) { loop_.Post(std::move(call)); };
  host.startTimer = [this](std::chrono::milliseconds delay) {
    watchdogTimer_.Start(delay, [this] { programmer_->WatchdogTimerFired(); });
  };
  host.stopTimer = [this] { watchdogTimer_.Stop(); };
  programmer_ = std::make_unique<Programmer>(backend_.platform, std::move(host));
  ProgrammerListener listener;
  listener.started = [this](Operation, uint32_t total) { progress_.Start(phase_, total); };
  listener.progress = [this](Operation, uint32_t done, uint32_t) { progress_.Update(done); };
  programmer_->SetListener(std::move(listener));
  if (backend_.changes)
    deviceChanges_ = backend_.changes->Subscribe(loop_.Poster(), [this](const hid::DeviceChange&) { OnDeviceChange(); });
}

Session::~Session() {
  // Device changes and the reader call into the programmer and post into the loop: they go first.
  deviceChanges_.Reset();
  programmer_.reset();
}

void Session::Close() {
  programmer_->Close();
  while (loop_.RunPosted()) {
  }
}

Programmer::Done Session::Done() {
  outcome_.reset();
  return [this](const OperationOutcome& o) { outcome_ = o; };
}

OperationOutcome Session::Await() {
  loop_.RunUntil([&] { return outcome_.has_value(); });
  return *std::exchange(outcome_, std::nullopt);
}

void Session::OnIdentified(const OperationOutcome& o) {
  if (o.identity) ++identities_;
}

void Session::OnDeviceChange() {
  programmer_->AppendLog(logtext::kDeviceChange);
  const auto r = programmer_->Rescan([this](const OperationOutcome& o) { OnIdentified(o); });
  if (r.failure) openError_ = OpenMessage(*r.failure, Translate);
}

std::string Session::TakeOpenError() { return std::exchange(openError_, {}); }

Outcome DescribeFailure(const OperationOutcome& o, const std::string& what, TextLookup lookup) {
  if (o.Ok()) return {};
  const std::string doing = LookedUp(lookup, what.c_str());
  return std::visit(
      Overloaded{
          [&](const failure::FailureReply& f) -> Outcome {
            return {kExitFailed, LookedUp(lookup, "the programmer answered with failure reply 0x%02X", f.reply)};
          },
          [&](const failure::StreamStopped&) -> Outcome {
            return {kExitNoAnswer,
                    LookedUp(lookup,
                             "the programmer stopped taking the image (a report not taken within %u ms); the chip "
                             "holds part of it at most",
                             kReportWriteTimeoutMs)};
          },
          [&](const failure::Removed&) -> Outcome {
            return {kExitNoAnswer, LookedUp(lookup, "the programmer was unplugged while %s", doing.c_str())};
          },
          [&](const failure::Timeout& t) -> Outcome {
            if (t.phase == Phase::Checksum)
              return {kExitNoAnswer, LookedUp(lookup, "the image was sent, but the programmer sent no checksum for %lld ms",
                                              kWatchdogMs)};
            return {kExitNoAnswer, LookedUp(lookup, "the programmer stopped answering while %s: nothing for %lld ms",
                                            doing.c_str(), kWatchdogMs)};
          },
          [&](const failure::CheckWordMismatch& f) -> Outcome {
            return {kExitFailed,
                    LookedUp(lookup, "the programmer's check word is %d, not %d: the link is not trustworthy",
                             f.received, f.expected)};
          },
          [&](const failure::NoChip&) -> Outcome {
            return {kExitFailed,
                    LookedUp(lookup,
                             "no chip answers on the programmer's connector (check the wiring, the module and "
                             "the contacts)")};
          },
          [&](const failure::PermissionRefused&) -> Outcome {
            return {kExitNoProgrammer, OpenFailure(*o.failure, lookup)};
          },
          [&](const failure::OpenFailed&) -> Outcome { return {kExitNoProgrammer, OpenFailure(*o.failure, lookup)}; },
          [&](const failure::ChecksumMismatch&) -> Outcome {
            return {kExitFailed, LookedUp(lookup, "the programmer's checksum of the image differs from ours")};
          },
          [&](const auto&) -> Outcome {
            return {kExitFailed, LookedUp(lookup, "the programmer did not finish %s", doing.c_str())};
          },
      },
      *o.failure);
}

// ---- opening --------------------------------------------------------------------------------

Outcome Session::Open(const std::string& serial, const std::string& device) {
  if (!serial.empty()) {
    programmer_->SetFilter([serial](const hid::THidDevice& d) { return d.SerialNumber == serial; });
  } else if (!device.empty()) {
    programmer_->SetFilter([device](const hid::THidDevice& d) { return SameNode(d.InterfacePath, device); });
  }
  auto done = Done();
  const auto r = programmer_->Rescan([this, done](const OperationOutcome& o) {
    OnIdentified(o);
    done(o);
  });
  if (r.failure) return {kExitNoProgrammer, OpenFailure(*r.failure, Translate)};
  if (!r.opened) {
    if (!serial.empty())
      return {kExitNoProgrammer, Say("no programmer (04d8:003f) with serial number %s found", serial.c_str())};
    if (!device.empty()) return {kExitNoProgrammer, Say("no programmer (04d8:003f) at %s found", device.c_str())};
    return {kExitNoProgrammer, Translate("no programmer (04d8:003f) found")};
  }
  const OperationOutcome o = Await();
  // Who it is and whether a chip answers are the caller's to judge (CheckIdentity).
  if (o.identity) return {};
  return DescribeFailure(o, "asking who it is", Translate);
}

Outcome Session::CheckIdentity() const {
  const auto id = LastIdentity();
  if (!id) return {kExitNoAnswer, Translate("the programmer did not say who it is")};
  OperationOutcome o;
  o.failure = IdentityFailure(*id);
  return DescribeFailure(o, "asking who it is", Translate);
}

std::optional<Identity> Session::LastIdentity() const { return programmer_->LastIdentity(); }

std::vector<std::string> Session::IdentityLines() const {
  const auto reply = programmer_->LastIdentityReply();
  if (!reply) return {};
  return logtext::IdentityLines(*reply);
}

std::string Session::OpenNode() const { return programmer_->Node(); }

std::string Session::OpenSerial() const { return programmer_->Serial(); }

int Session::ProgrammersFound() const { return programmer_->ProgrammersListed(); }

bool Session::Connected() const { return programmer_->IsOpen(); }

// ---- operations -----------------------------------------------------------------------------

void Session::SelectChip(const std::string& name) { programmer_->SelectChip(name); }

Outcome Session::Read(TaskFlags flags, const std::string& phase, std::vector<uint8_t>& flash) {
  phase_ = phase;
  programmer_->Read(flags, Done());
  OperationOutcome o = Await();
  if (o.Ok()) progress_.Update(static_cast<uint64_t>(o.flash.size()));
  progress_.Finish(o.Ok());
  if (o.Ok()) flash = std::move(o.flash);
  return DescribeFailure(o, phase, Translate);
}

Outcome Session::Write(std::span<const uint8_t> image, TaskFlags flags, WriteResult& result) {
  phase_ = "writing";
  programmer_->Write(image, flags, Done());
  const OperationOutcome o = Await();
  const auto* timeout = o.As<failure::Timeout>();
  const bool sent = o.Ok() || o.As<failure::ChecksumMismatch>() || (timeout && timeout->phase == Phase::Checksum);
  if (sent) progress_.Update(image.size());
  progress_.Finish(sent);
  if (flags.verify) result.checksumAgrees = o.checksumAgrees;
  // A checksum that differs is the caller's to weigh (it may read back to say where).
  if (o.As<failure::ChecksumMismatch>()) return {};
  return DescribeFailure(o, "writing", Translate);
}

}  // namespace quillet::cli
