#include "programmer/Programmer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "programmer/LogText.h"

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

bool IsProgrammer(const hid::THidDevice& d) {
  return d.GetVendorId() == kProgrammerVendorId && d.GetProductId() == kProgrammerProductId;
}

}  // namespace

struct Programmer::Pending {
  Operation operation;
  Done done;
  uint32_t size = 0;    // what the task asks for
  bool verify = false;  // a Write waits for the programmer's checksum
  Phase phase = Phase::Answer;
  std::vector<uint8_t> image;  // Verify: what the chip must hold
};

Programmer::Programmer(std::shared_ptr<hid::IHidPlatform> platform, ProgrammerHost host)
    : host_(std::move(host)), hid_(nullptr, std::move(platform)) {
  engine_.SetSendReport([this](const uint8_t* bytes, size_t length) { return SendReport(bytes, length); });
  engine_.SetEngineEvent([this](const EngineEvent& event) { OnEngineEvent(event); });

  // The programmer is named by its product string and serial number, read while listing.
  hid_.EnumFullMode = true;
  hid_.WriteTimeout = kReportWriteTimeoutMs;
  hid_.OnOpen = [this](hid::TBaseIO*) { OnOpen(); };
  hid_.OnClose = [this](hid::TBaseIO*) { OnClose(); };
  hid_.OnFatalError = [this](hid::TBaseIO*, uint32_t, uint32_t detail, const std::string&,
                              bool&) { OnFatalError(detail); };
  hid_.OnAfterReceive = [this](hid::TBaseIO*, const uint8_t* buffer, uint32_t received) {
    HidIO1AfterReceive(buffer, received);
  };
}

// The connection, the last member, closes first and waits for its reader.
Programmer::~Programmer() = default;

void Programmer::SetListener(ProgrammerListener listener) { listener_ = std::move(listener); }

void Programmer::SetFilter(std::function<bool(const hid::THidDevice&)> accept) {
  accept_ = std::move(accept);
}

void Programmer::Log(const std::string& line) const {
  if (host_.appendLog) host_.appendLog(line);
}

void Programmer::Post(std::function<void()> call) const {
  if (host_.post) host_.post(std::move(call));
}

void Programmer::ConnectionChanged() const {
  if (listener_.connectionChanged) Post(listener_.connectionChanged);
}

bool Programmer::SendReport(const uint8_t* bytes, size_t length) {
  const auto report = FrameOutputReport(bytes, length);
  hid::WriteFailure why = hid::WriteFailure::None;
  const bool sent = hid_.WriteReport(report.data(), static_cast<unsigned>(report.size()), &why);
  std::lock_guard lock(mutex_);
  lastSendFailure_ = why;
  return sent;
}

// ---- discovery ------------------------------------------------------------------------------

Programmer::RescanResult Programmer::Rescan(Done identified) {
  hid_.Update();
  hid_.GetDeviceList(nullptr);
  for (int i = 0; i < hid_.GetDeviceCount(); ++i) {
    hid_.SetDeviceIndex(i);
    const hid::THidDevice* record = hid_.SelectedDevice();
    if (!record || !IsProgrammer(*record) || (accept_ && !accept_(*record))) continue;
    if (hid_.GetActive()) return {};
    {
      std::lock_guard lock(mutex_);
      lastFatalError_ = 0;
      node_ = record->InterfacePath;
      serial_ = record->SerialNumber;
    }
    try {
      hid_.SetActive(true);
    } catch (const hid::EHidError& e) {
      uint32_t error;
      {
        std::lock_guard lock(mutex_);
        error = lastFatalError_;
      }
      if (error == EACCES || error == EPERM)
        return {false, failure::PermissionRefused{record->InterfacePath, e.what(), kProgrammerAccessHint}};
      return {false, failure::OpenFailed{record->InterfacePath, e.what()}};
    }
    Log(logtext::ProgrammerOpened(record->Name, record->SerialNumber));
    if (identified) {
      Begin(Operation::Identify, std::move(identified), 0, false);
      ArmWatchdog();
    }
    engine_.Connect();
    return {true, std::nullopt};
  }
  hid_.SetActive(false);
  return {};
}

void Programmer::Close() { hid_.SetActive(false); }

bool Programmer::IsOpen() const { return hid_.GetActive(); }

std::string Programmer::Node() const {
  std::lock_guard lock(mutex_);
  return node_;
}

std::string Programmer::Serial() const {
  std::lock_guard lock(mutex_);
  return serial_;
}

int Programmer::ProgrammersListed() const {
  int n = 0;
  for (int i = 0; i < hid_.GetDeviceCount(); ++i) {
    const hid::THidDevice* d = hid_.GetDevice(i);
    n += d && IsProgrammer(*d);
  }
  return n;
}

std::optional<Identity> Programmer::LastIdentity() const {
  std::lock_guard lock(mutex_);
  if (!lastIdentity_) return std::nullopt;
  return ReadIdentity(*lastIdentity_);
}

std::optional<IdentityEvent> Programmer::LastIdentityReply() const {
  std::lock_guard lock(mutex_);
  return lastIdentity_;
}

void Programmer::OnOpen() {
  Log(logtext::Text(logtext::Notice::kHidOpened));
  ConnectionChanged();
}

void Programmer::OnClose() {
  Log(logtext::Text(logtext::Notice::kHidClosed));
  ConnectionChanged();
  // The watchdog goes on: it still reports how far a stream came.
  Finish([](const Pending&) { return true; },
         [](Pending&, OperationOutcome& o) { o.failure = failure::Removed{}; });
}

void Programmer::OnFatalError(uint32_t detail) {
  {
    std::lock_guard lock(mutex_);
    lastFatalError_ = detail;
  }
  Log(logtext::Text(logtext::Notice::kHidError));
  ConnectionChanged();
}

// ---- operations -----------------------------------------------------------------------------

void Programmer::Begin(Operation operation, Done done, uint32_t size, bool verify,
                       std::vector<uint8_t> image) {
  std::unique_ptr<Pending> replaced;
  {
    std::lock_guard lock(mutex_);
    replaced = std::move(pending_);
    pending_ = std::make_unique<Pending>(Pending{operation, std::move(done), size, verify,
                                                 Phase::Answer, std::move(image)});
  }
  if (replaced && replaced->done) FinishNow(replaced->operation, replaced->done, failure::Replaced{});
}

bool Programmer::Finish(const std::function<bool(const Pending&)>& which,
                        const std::function<void(Pending&, OperationOutcome&)>& fill) {
  std::unique_ptr<Pending> ended;
  {
    std::lock_guard lock(mutex_);
    if (!pending_ || !which(*pending_)) return false;
    ended = std::move(pending_);
  }
  if (!ended->done) return true;
  OperationOutcome outcome;
  outcome.operation = ended->operation;
  fill(*ended, outcome);
  Post([done = std::move(ended->done), outcome = std::move(outcome)] { done(outcome); });
  return true;
}

void Programmer::FinishNow(Operation operation, const Done& done, OperationFailure failure) const {
  if (!done) return;
  OperationOutcome outcome;
  outcome.operation = operation;
  outcome.failure = std::move(failure);
  Post([done, outcome = std::move(outcome)] { done(outcome); });
}

void Programmer::ArmWatchdog() {
  if (auto delay = watchdog_.Arm(host_.now()))
    if (host_.startTimer) host_.startTimer(*delay);
}

// The watchdog is armed before the request goes out: a reply that comes back at once must find
// it running, or its stop would come first and the countdown would then report a timeout for an
// operation that finished.
void Programmer::StopWatchdog() {
  watchdog_.Stop();
  // The timer follows on the owner's thread, unless an operation armed the watchdog again.
  Post([this] {
    if (!watchdog_.Running() && host_.stopTimer) host_.stopTimer();
  });
}

void Programmer::SelectChip(std::string_view name) { engine_.SelectChip(name); }

void Programmer::Detect(Done done) {
  Begin(Operation::Detect, std::move(done), 0, false);
  ArmWatchdog();
  engine_.Connect();
}

void Programmer::Read(TaskFlags flags, Done done) {
  StartRead(Operation::Read, flags, {}, std::move(done));
}

void Programmer::Verify(std::vector<uint8_t> image, TaskFlags flags, Done done) {
  StartRead(Operation::Verify, flags, std::move(image), std::move(done));
}

void Programmer::StartRead(Operation operation, TaskFlags flags, std::vector<uint8_t> image, Done done) {
  Log(logtext::Text(logtext::Notice::kReadStarted));
  const uint32_t size = engine_.Chip().FlashSize;
  engine_.EditTask([&](ProgrammerTask& t) { FillTask(t, OP_READ, flags, size); });
  if (listener_.started) listener_.started(operation, size);
  Begin(operation, std::move(done), size, false, std::move(image));
  ArmWatchdog();
  engine_.SendTask();
}

void Programmer::Write(TaskFlags flags, const ImageSource& image, Done done) {
  Log(logtext::Text(logtext::Notice::kWriteStarted));
  const std::optional<uint32_t> size = image ? image() : std::nullopt;
  if (!size) {
    FinishNow(Operation::Write, done, failure::ImageRefused{failure::ImageRefused::Missing, 0, 0});
    return;
  }
  engine_.EditTask([](ProgrammerTask& t) {
    t.bytes[ProgrammerTask::kOp] = OP_WRITE;
    StoreU32(&t.bytes[ProgrammerTask::kReserved4], 0);
  });
  const uint32_t capacity = engine_.Chip().FlashSize;
  if (*size == 0 || *size > capacity) {
    Log(logtext::Text(*size == 0 ? logtext::Notice::kNoImage : logtext::Notice::kImageTooLarge));
    const auto reason = *size == 0 ? failure::ImageRefused::Empty : failure::ImageRefused::TooLarge;
    FinishNow(Operation::Write, done, failure::ImageRefused{reason, *size, capacity});
    return;
  }
  engine_.EditTask([&](ProgrammerTask& t) { FillTask(t, OP_WRITE, flags, *size); });
  if (listener_.started) listener_.started(Operation::Write, *size);
  Begin(Operation::Write, std::move(done), *size, flags.verify);
  ArmWatchdog();
  engine_.SendTask();
}

void Programmer::Write(std::span<const uint8_t> image, TaskFlags flags, Done done) {
  Write(
      flags,
      [&]() -> std::optional<uint32_t> {
        engine_.EditWriteImage([&](uint8_t* buffer, size_t size) {
          const size_t n = std::min(image.size(), size);
          std::memcpy(buffer, image.data(), n);
          std::fill(buffer + n, buffer + size, kErasedByte);
        });
        return static_cast<uint32_t>(std::min<size_t>(image.size(), UINT32_MAX));
      },
      std::move(done));
}

void Programmer::WatchdogTimerFired() {
  std::visit(Overloaded{
                 [&](OperationWatchdog::Expired) {
                   const int32_t received = engine_.Received();
                   const uint32_t size = engine_.Task().Size();
                   Log(logtext::Timeout(received, size));
                   engine_.SetState(Idle);
                   Finish([](const Pending&) { return true; },
                          [&](Pending& p, OperationOutcome& o) {
                            o.failure = failure::Timeout{p.phase, received, size};
                          });
                 },
                 [&](OperationWatchdog::Pending p) {
                   if (host_.startTimer) host_.startTimer(p.delay);
                 },
                 [](OperationWatchdog::Idle) {},
             },
             watchdog_.Check(host_.now()));
}

// ---- reader thread --------------------------------------------------------------------------

void Programmer::HidIO1AfterReceive(const uint8_t* report, uint32_t length) {
  watchdog_.InputReport(host_.now());
  if (!report || length == 0) return;
  uint8_t copy[kReportSize] = {};
  const size_t n = std::min<size_t>(length, kReportSize);
  std::copy_n(report, n, copy);
  engine_.HandleReport(copy + 1, n - 1);
}

void Programmer::OnEngineEvent(const EngineEvent& event) {
  for (const std::string& line : logtext::LinesOf(event)) Log(line);
  std::visit(Overloaded{
                 [&](const IdentityEvent& e) { OnIdentity(e); },
                 [&](const ReadStartEvent&) {
                   std::lock_guard lock(mutex_);
                   if (pending_) pending_->phase = Phase::Data;
                 },
                 [&](const ReadProgressEvent& e) { OnReadProgress(e.received); },
                 [&](const WriteStartEvent&) {
                   std::lock_guard lock(mutex_);
                   if (pending_) pending_->phase = Phase::Stream;
                 },
                 [&](const WriteProgressEvent& e) { OnWriteProgress(e.sent); },
                 [&](const StreamStoppedEvent& e) { OnStreamStopped(e); },
                 [&](const VerifyEvent& e) { OnVerify(e); },
                 [&](const FailureReplyEvent& e) { OnFailureReply(e.reply); },
                 [](const auto&) {},
             },
             event);
}

void Programmer::OnIdentity(const IdentityEvent& event) {
  const Identity id = ReadIdentity(event);
  {
    std::lock_guard lock(mutex_);
    lastIdentity_ = event;
  }
  StopWatchdog();
  Finish(
      [](const Pending& p) { return p.operation == Operation::Identify || p.operation == Operation::Detect; },
      [&](Pending&, OperationOutcome& o) {
        o.identity = id;
        o.failure = IdentityFailure(id);
      });
}

void Programmer::OnReadProgress(int32_t received) {
  const auto size = static_cast<int32_t>(engine_.Task().Size());
  const auto operation = [this] {
    std::lock_guard lock(mutex_);
    return pending_ ? pending_->operation : Operation::Read;
  };
  if (received < size) {
    if (listener_.progress)
      Post([this, op = operation(), received, size] {
        listener_.progress(op, static_cast<uint32_t>(received), static_cast<uint32_t>(size));
      });
    return;
  }
  Log(logtext::ReadFinished(received));
  StopWatchdog();
  std::vector<uint8_t> flash(engine_.Chip().FlashSize);
  engine_.CopyReadImage(0, flash.data(), flash.size());
  Finish(
      [](const Pending& p) { return p.operation == Operation::Read || p.operation == Operation::Verify; },
      [&](Pending& p, OperationOutcome& o) {
        if (p.operation == Operation::Verify) {
          if (auto mismatch = CompareReadBack(p.image, flash)) o.failure = *mismatch;
        }
        o.flash = std::move(flash);
      });
}

void Programmer::OnWriteProgress(int32_t sent) {
  // Each report taken shows the programmer alive, as an input report does.
  watchdog_.InputReport(host_.now());
  const auto size = static_cast<int32_t>(engine_.Task().Size());
  if (sent < size) {
    if (listener_.progress)
      Post([this, sent, size] {
        listener_.progress(Operation::Write, static_cast<uint32_t>(sent), static_cast<uint32_t>(size));
      });
    return;
  }
  Log(logtext::Text(logtext::Notice::kWriteFinished));
  bool awaitChecksum = false;
  {
    std::lock_guard lock(mutex_);
    if (pending_ && pending_->operation == Operation::Write) {
      pending_->phase = Phase::Checksum;
      awaitChecksum = pending_->verify;
    }
  }
  // With verify asked for, the write is over only when the programmer's checksum came back.
  if (awaitChecksum) return;
  StopWatchdog();
  Finish([](const Pending& p) { return p.operation == Operation::Write; },
         [](Pending&, OperationOutcome&) {});
}

void Programmer::OnStreamStopped(const StreamStoppedEvent& event) {
  StopWatchdog();
  hid::WriteFailure why;
  {
    std::lock_guard lock(mutex_);
    why = lastSendFailure_;
  }
  Finish([](const Pending& p) { return p.operation == Operation::Write; },
         [&](Pending&, OperationOutcome& o) {
           // A programmer pulled out mid-stream refuses the next report too; say what happened.
           if (why == hid::WriteFailure::Gone)
             o.failure = failure::Removed{};
           else
             o.failure = failure::StreamStopped{event.report, event.reports};
         });
}

void Programmer::OnVerify(const VerifyEvent& event) {
  const bool ended = Finish(
      [](const Pending& p) { return p.operation == Operation::Write && p.phase == Phase::Checksum; },
      [&](Pending&, OperationOutcome& o) {
        o.checksumAgrees = event.agree;
        if (!event.agree) o.failure = failure::ChecksumMismatch{event.local, event.device};
      });
  if (ended) StopWatchdog();
}

void Programmer::OnFailureReply(uint8_t reply) {
  // The watchdog goes on: the timeout line still tells how far the operation came.
  Finish([](const Pending&) { return true; },
         [&](Pending&, OperationOutcome& o) { o.failure = failure::FailureReply{reply}; });
}

}  // namespace quillet
