#include "cli/Commands.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <json/json.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>

#include "programmer/ActivityLog.h"
#include "sim/Backend.h"
#include "app/Version.h"
#include "cli/CliOptions.h"
#include "cli/FileWatcher.h"
#include "cli/ImageIo.h"
#include "cli/Progress.h"
#include "cli/Session.h"
#include "cli/SignalSource.h"
#include "hex/Chex2bin.h"
#include "hex/HexConversion.h"
#include "hex/ImageComparison.h"
#include "hex/ImageFile.h"
#include "hex/ImageFileKind.h"
#include "hex/IntelHexWriter.h"
#include "hid/HidIO.h"
#include "sim/SimHidModels.h"

namespace quillet::cli {

namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

constexpr char kProgram[] = "quillet-cli";
// A file is flashed once it has been closed or renamed into place and left alone this long.
constexpr std::chrono::milliseconds kSettle{200};

uint32_t FlashSizeOf(const std::string& chip) {
  for (const ChipInfo& c : kChipCatalogue)
    if (c.name == chip) return c.flashSize;
  return 0;
}

double SecondsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

// Everything a command prints: data on stdout, JSON records, progress, messages and errors.
class Output {
 public:
  explicit Output(const CliOptions& o)
      : json_(o.json),
        progress_(o.verbosity == Verbosity::Quiet ? Progress::Mode::Silent
                  : ::isatty(STDERR_FILENO)       ? Progress::Mode::Bar
                                                  : Progress::Mode::Lines,
                  stderr, [] {
                    winsize w{};
                    const bool known = ::ioctl(STDERR_FILENO, TIOCGWINSZ, &w) == 0 && w.ws_col > 20;
                    return known ? int{w.ws_col} : Progress::kFallbackWidth;
                  }) {}

  Progress& Bar() { return progress_; }
  bool Json() const { return json_; }
  void Message(const std::string& line) { progress_.Message(line); }
  void Error(const std::string& line) { progress_.Error(std::string(kProgram) + ": " + line); }
  // A line of data; in JSON mode stdout carries the records only.
  void Data(const std::string& line) {
    if (json_) return;
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
  }
  void Record(const Json::Value& record) {
    if (!json_) return;
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    std::fprintf(stdout, "%s\n", Json::writeString(builder, record).c_str());
    std::fflush(stdout);
  }

 private:
  bool json_;
  Progress progress_;
};

Json::Value NewRecord(Command command, const std::string& chip) {
  Json::Value r(Json::objectValue);
  r["operation"] = CommandName(command);
  r["chip"] = chip.empty() ? Json::Value() : Json::Value(chip);
  r["error"] = Json::Value();
  return r;
}

// Ends a command: the error line, the record's error and exit status.
int Finish(Output& out, Json::Value& record, const Outcome& o, SteadyClock::time_point start) {
  record["duration"] = SecondsSince(start);
  record["exit"] = o.exit;
  if (!o.Ok()) {
    out.Error(o.error);
    record["error"] = o.error;
  }
  out.Record(record);
  return o.exit;
}

// ---- the programmer's backend ---------------------------------------------------------------

struct Backend {
  HidBackend hid;
  std::function<sim::SimHidDeviceConfig()> deviceConfig;  // simulate mode: for a re-plug

  void SaveSimulatedFlash() const { quillet::SaveSimulatedFlash(hid); }
};

std::optional<Backend> MakeBackend(const CliOptions& o, std::string& error) {
  auto hid = HidBackendFromEnvironment(o.simulateFlashSize, error);
  if (!hid) return std::nullopt;
  Backend b{std::move(*hid), {}};
  b.deviceConfig = b.hid.programmerDevice;
  return b;
}

// ---- list -----------------------------------------------------------------------------------

int RunList(const CliOptions& o, Output& out) {
  const auto start = SteadyClock::now();
  Json::Value record = NewRecord(Command::List, {});
  std::string error;
  auto backend = MakeBackend(o, error);
  if (!backend) return Finish(out, record, {kExitUsage, error}, start);
  hid::THidIO hid(nullptr, backend->hid.platform);
  hid.EnumFullMode = true;
  hid.Update();
  hid.GetDeviceList(nullptr);
  Json::Value devices(Json::arrayValue);
  for (int i = 0; i < hid.GetDeviceCount(); ++i) {
    const hid::THidDevice* d = hid.GetDevice(i);
    if (!d || d->GetVendorId() != kProgrammerVendorId || d->GetProductId() != kProgrammerProductId) continue;
    // Whether this user may open it is learnt by opening it, as the connection would.
    hid::HidOpenResult probe = backend->hid.platform->Open(d->InterfacePath, hid::HidAccess::ReadWrite, true, false);
    std::string reason;
    if (probe.handle) {
      probe.handle->Shutdown();
    } else {
      reason = backend->hid.platform->ErrorText(probe.error);
      if (probe.sharingViolation) reason += " (held by another process)";
      if (probe.error == EACCES || probe.error == EPERM)
        reason += "; install the udev rule 70-quillet.rules (quillet-cli detect shows how)";
    }
    Json::Value dev(Json::objectValue);
    dev["node"] = d->InterfacePath;
    dev["product"] = d->Name;
    dev["manufacturer"] = d->Manufacturer;
    dev["serial"] = d->SerialNumber;
    dev["accessible"] = reason.empty();
    dev["reason"] = reason.empty() ? Json::Value() : Json::Value(reason);
    devices.append(dev);
    out.Data(d->InterfacePath + "  " + d->Name + "  serial " + (d->SerialNumber.empty() ? "-" : d->SerialNumber) +
             "  " + (reason.empty() ? "accessible" : "no access: " + reason));
  }
  record["devices"] = devices;
  Outcome o2;
  if (devices.empty()) o2 = {kExitNoProgrammer, "no programmer (04d8:003f) attached"};
  return Finish(out, record, o2, start);
}

// ---- convert --------------------------------------------------------------------------------

int RunConvert(const CliOptions& o, Output& out) {
  const auto start = SteadyClock::now();
  const std::string& in = o.arguments[0];
  const std::string& target = o.arguments[1];
  Json::Value record = NewRecord(Command::Convert, {});
  record["file"] = in;
  record["output"] = target;
  std::vector<uint8_t> file;
  HexConversion c;
  c.result = CHex2Bin::kOpenHexError;
  const int why = ReadFileBytes(in, file);
  if (why == 0) c = ConvertHexImage(file, std::nullopt);
  record["result"] = c.result;
  record["message"] = CHex2Bin::ResultMessage(c.result);
  record["bytes"] = c.result == CHex2Bin::kSuccess ? Json::Value(static_cast<Json::UInt64>(c.length)) : Json::Value();
  if (c.result != CHex2Bin::kSuccess) {
    std::string error = ConversionMessage(in, c.failedLine, c.result);
    if (c.result == CHex2Bin::kOpenHexError) error += " (" + std::string(std::strerror(why)) + ")";
    return Finish(out, record, {kExitUsage, error}, start);
  }
  // Written whole through a temporary file: a longer file there before keeps no stale tail.
  if (std::string failed = WriteFileAtomically(target, c.image); !failed.empty())
    return Finish(out, record, {kExitFailed, failed}, start);
  out.Message(in + " -> " + target + ": result 0, Success. " + std::to_string(c.length) + " bytes");
  return Finish(out, record, {}, start);
}

// ---- operations on a chip -------------------------------------------------------------------

struct Programmer {
  Backend backend;
  std::unique_ptr<Session> session;
  Programmer() = default;
  Programmer(const Programmer&) = delete;
  Programmer& operator=(const Programmer&) = delete;
  ~Programmer() {
    if (session) session->Close();
  }
  // The command is done with the programmer: the connection closed with its log printed before
  // the command's result, and the simulated chip's flash kept for the next command.
  void End() {
    if (session) session->Close();
    backend.SaveSimulatedFlash();
  }
};

// Opens the programmer and waits for its identity. `requireChip`: a chip must answer.
Outcome OpenProgrammer(const CliOptions& o, Output& out, Programmer& p) {
  std::string error;
  auto backend = MakeBackend(o, error);
  if (!backend) return {kExitUsage, error};
  p.backend = std::move(*backend);
  AppendLogHook log;
  if (o.verbosity == Verbosity::Verbose) {
    log = [&out, &p, locale = ActivityLog::UserTimeLocale()](const std::string& line) {
      std::string stamped = FormatLogLine(ReadLocalClock(), line, locale);
      p.session->Loop().Post([&out, stamped] { out.Message(stamped); });
    };
  }
  p.session = std::make_unique<Session>(p.backend.hid, out.Bar(), log);
  Outcome opened = p.session->Open(o.serial, o.device);
  if (opened.Ok() && p.session->ProgrammersFound() > 1 && o.serial.empty() && o.device.empty())
    out.Message(std::to_string(p.session->ProgrammersFound()) + " programmers attached; using " +
                p.session->OpenNode() + " (serial " + p.session->OpenSerial() +
                "); --serial or --device picks another");
  return opened;
}

void AddProgrammer(Json::Value& record, const Programmer& p) {
  if (!p.session) return;
  record["node"] = p.session->OpenNode();
  record["serial"] = p.session->OpenSerial();
}

int RunDetect(const CliOptions& o, Output& out) {
  const auto start = SteadyClock::now();
  Json::Value record = NewRecord(Command::Detect, {});
  Programmer p;
  Outcome outcome = OpenProgrammer(o, out, p);
  AddProgrammer(record, p);
  if (outcome.Ok()) {
    for (const std::string& line : p.session->IdentityLines()) out.Data(line);
    const Identity id = *p.session->LastIdentity();
    record["firmware_type"] = id.firmwareType;
    record["firmware_version"] = id.firmwareVersion;
    record["check_word"] = id.checkWord;
    record["expected_check_word"] = id.expectedWord;
    record["chip_connected"] = id.chipConnected;
    outcome = p.session->CheckIdentity();
  }
  p.End();
  return Finish(out, record, outcome, start);
}

std::string CheckOutputPath(const std::string& path) {
  std::error_code ec;
  const fs::path parent = fs::path(path).has_parent_path() ? fs::path(path).parent_path() : fs::path(".");
  if (!fs::is_directory(parent, ec)) return path + ": no such folder " + parent.string();
  if (fs::is_directory(path, ec)) return path + ": is a folder";
  return {};
}

// Opens the programmer, checks who it is and reads the chip's whole flash.
Outcome ReadWholeChip(const CliOptions& o, Output& out, Json::Value& record, const char* phase,
                      Programmer& p, std::vector<uint8_t>& flash) {
  Outcome outcome = OpenProgrammer(o, out, p);
  AddProgrammer(record, p);
  if (outcome.Ok()) outcome = p.session->CheckIdentity();
  if (outcome.Ok()) {
    p.session->SelectChip(o.chip);
    outcome = p.session->Read(o.flags, phase, flash);
  }
  return outcome;
}

int RunRead(const CliOptions& o, Output& out) {
  const auto start = SteadyClock::now();
  Json::Value record = NewRecord(Command::Read, o.chip);
  record["file"] = o.output;
  if (std::string bad = CheckOutputPath(o.output); !bad.empty())
    return Finish(out, record, {kExitUsage, bad}, start);
  Programmer p;
  std::vector<uint8_t> flash;
  Outcome outcome = ReadWholeChip(o, out, record, "reading", p, flash);
  if (outcome.Ok()) {
    record["bytes"] = static_cast<Json::UInt64>(flash.size());
    std::string failed;
    if (ImageFileKindOf(o.output) == ImageFileKind::Hex) {
      const std::string text = IntelHexFromImage(flash);
      failed = WriteFileAtomically(o.output, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
    } else {
      failed = WriteFileAtomically(o.output, flash);
    }
    if (!failed.empty()) outcome = {kExitFailed, failed};
    else out.Message("read " + std::to_string(flash.size()) + " bytes of " + o.chip + " into " + o.output);
  }
  p.End();
  return Finish(out, record, outcome, start);
}

// Compares a read-back with the image; fills the record's read-back fields.
Outcome Compare(const std::vector<uint8_t>& image, const std::vector<uint8_t>& flash, const std::string& file,
                bool withoutErase, Json::Value& record) {
  const ImageComparison c = CompareImages(image, flash);
  record["readback"] = c.Equal() ? "match" : "mismatch";
  if (c.Equal()) return {};
  Json::Value m(Json::objectValue);
  m["address"] = static_cast<Json::UInt64>(c.firstAddress);
  m["expected"] = c.expected;
  m["actual"] = c.actual;
  m["bytes"] = static_cast<Json::UInt64>(c.differing);
  m["bits_1_to_0"] = static_cast<Json::UInt64>(c.bitsOneToZero);
  m["bits_0_to_1"] = static_cast<Json::UInt64>(c.bitsZeroToOne);
  record["mismatch"] = m;
  return {kExitFailed, "the chip differs from " + file + ": " + DescribeMismatch(c, withoutErase)};
}

int RunVerify(const CliOptions& o, Output& out) {
  const auto start = SteadyClock::now();
  const std::string& file = o.arguments[0];
  Json::Value record = NewRecord(Command::Verify, o.chip);
  record["file"] = file;
  LoadedImage image = LoadImageFile(file, FlashSizeOf(o.chip), o.chip);
  if (!image.error.empty()) return Finish(out, record, {kExitUsage, image.error}, start);
  record["bytes"] = static_cast<Json::UInt64>(image.bytes.size());
  Programmer p;
  std::vector<uint8_t> flash;
  Outcome outcome = ReadWholeChip(o, out, record, "verifying", p, flash);
  if (outcome.Ok()) outcome = Compare(image.bytes, flash, file, false, record);
  if (outcome.Ok()) out.Message(o.chip + " holds " + file + " (" + std::to_string(image.bytes.size()) + " bytes)");
  p.End();
  return Finish(out, record, outcome, start);
}

std::string SnapshotName(const std::string& dir, const std::string& chip) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  ::localtime_r(&t, &local);
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  char name[128];
  std::snprintf(name, sizeof name, "%s-%s.%03lld", chip.c_str(), stamp, static_cast<long long>(ms));
  std::string base = (fs::path(dir) / name).string();
  std::string path = base + ".bin";
  std::error_code ec;
  for (int i = 2; fs::exists(path, ec); ++i) path = base + "-" + std::to_string(i) + ".bin";
  return path;
}

// One write of an image that passed its checks, on an open session.
Outcome WriteOnce(const CliOptions& o, Output& out, Programmer& p, const std::string& file,
                  const std::vector<uint8_t>& image, Json::Value& record) {
  Session& s = *p.session;
  Outcome outcome = s.CheckIdentity();
  if (!outcome.Ok()) return outcome;
  s.SelectChip(o.chip);
  if (!o.snapshotDir.empty()) {
    std::vector<uint8_t> before;
    outcome = s.Read(o.flags, "reading", before);
    if (!outcome.Ok()) return {outcome.exit, "the snapshot could not be read, nothing was written: " + outcome.error};
    const std::string path = SnapshotName(o.snapshotDir, o.chip);
    if (std::string failed = WriteFileAtomically(path, before); !failed.empty())
      return {kExitFailed, "the snapshot could not be saved, nothing was written: " + failed};
    record["snapshot"] = path;
    out.Message("saved the chip's content to " + path);
  }
  Session::WriteResult written;
  outcome = s.Write(image, o.flags, written);
  record["checksum"] = !o.flags.verify ? Json::Value("not asked")
                       : !written.checksumAgrees ? Json::Value()
                       : Json::Value(*written.checksumAgrees ? "agree" : "differ");
  if (!outcome.Ok()) return outcome;
  const bool agrees = written.checksumAgrees.value_or(true);
  if (agrees)
    out.Message("wrote " + std::to_string(image.size()) + " bytes of " + file + " to " + o.chip +
                (o.flags.verify ? "; the programmer's checksum agrees" : ""));
  const Outcome differs{kExitFailed, "the programmer's checksum of the image differs from ours"};
  if (!o.readback) return agrees ? Outcome{} : differs;
  // Read back even after a checksum that differs: the comparison says where and how.
  std::vector<uint8_t> flash;
  outcome = s.Read(o.flags, "verifying", flash);
  if (!outcome.Ok()) return agrees ? outcome : differs;
  outcome = Compare(image, flash, file, !o.flags.erase, record);
  if (!outcome.Ok() && !agrees) outcome.error = "the programmer's checksum differs, and " + outcome.error;
  if (outcome.Ok() && !agrees) outcome = {kExitFailed, differs.error + ", though the read-back matches"};
  if (outcome.Ok()) out.Message("read back: " + o.chip + " holds the image");
  return outcome;
}

int WriteAndRecord(const CliOptions& o, Output& out, Programmer& p, const std::string& file,
                   const LoadedImage& image) {
  const auto start = SteadyClock::now();
  Json::Value record = NewRecord(Command::Write, o.chip);
  record["file"] = file;
  record["checksum"] = Json::Value();
  record["readback"] = o.readback ? Json::Value() : Json::Value("not asked");
  Outcome outcome{kExitUsage, image.error};
  if (image.error.empty()) {
    record["bytes"] = static_cast<Json::UInt64>(image.bytes.size());
    AddProgrammer(record, p);
    outcome = WriteOnce(o, out, p, file, image.bytes, record);
  }
  if (o.watch)
    p.backend.SaveSimulatedFlash();  // the session stays open for the next write
  else
    p.End();
  return Finish(out, record, outcome, start);
}

// ---- watch ----------------------------------------------------------------------------------

class Watcher {
 public:
  // `signals` null: none are taken.
  Watcher(const CliOptions& o, Output& out, Programmer& p, SignalSource* signals)
      : o_(o), out_(out), p_(p), signals_(signals), settle_(p.session->Loop()) {}

  int Run(int firstStatus) {
    const std::string file = o_.arguments[0];
    const fs::path path(file);
    name_ = path.filename().string();
    const std::string dir = path.has_parent_path() ? path.parent_path().string() : ".";
    EventLoop& loop = p_.session->Loop();
    std::string error;
    const auto files = WatchFile(dir, name_, loop.Poster(), [this](FileEvent e) { OnFileEvent(e); }, error);
    if (!files) {
      out_.Error(dir + ": cannot watch: " + error);
      return kExitUsage;
    }
    hid::Subscription signals;
    if (signals_) signals = signals_->Subscribe(loop.Poster(), [this](ProcessSignal s) { OnSignal(s); });
    int status = firstStatus;
    out_.Message("watching " + file + " (Ctrl-C ends)");
    Session& s = *p_.session;
    bool connected = s.Connected();
    // A write needs an identity from the connection it goes over; Open waited for this one.
    int identitiesBefore = s.Identities() - 1;
    while (!quit_) {
      loop.RunUntil([&] {
        return quit_ || s.HasOpenError() || s.Connected() != connected ||
               (due_ && connected && s.Identities() > identitiesBefore);
      });
      if (quit_) break;
      if (s.HasOpenError()) out_.Error("cannot open the programmer: " + s.TakeOpenError());
      if (s.Connected() != connected) {
        connected = s.Connected();
        if (connected) identitiesBefore = s.Identities();
        out_.Message(connected ? "the programmer is back" : "the programmer is gone; waiting for it");
        continue;
      }
      if (!due_ || !connected || s.Identities() <= identitiesBefore) continue;
      due_ = false;
      status = WriteAndRecord(o_, out_, p_, file, LoadImageFile(file, FlashSizeOf(o_.chip), o_.chip));
    }
    return status;
  }

 private:
  void OnFileEvent(FileEvent e) {
    // Only a closed or renamed file counts; a write still going on only postpones it.
    if (e == FileEvent::ClosedAfterWriting || e == FileEvent::RenamedIntoPlace) changed_ = true;
    if (changed_) settle_.Start(kSettle, [this] {
        changed_ = false;
        due_ = true;
      });
  }

  void OnSignal(ProcessSignal s) {
    if (s == ProcessSignal::TogglePlug) {
      TogglePlug();
    } else {
      quit_ = true;
    }
  }

  // Simulate mode only: unplugs or plugs in the simulated programmer, as a hand on the cable would.
  void TogglePlug() {
    const Backend& b = p_.backend;
    if (!b.hid.simulator) return;
    if (!simulatedPath_.empty()) {
      b.hid.simulator->Attach(b.deviceConfig());
      simulatedPath_.clear();
    } else {
      simulatedPath_ = p_.session->OpenNode();
      if (simulatedPath_.empty() || !b.hid.simulator->Detach(simulatedPath_)) simulatedPath_.clear();
    }
  }

  const CliOptions& o_;
  Output& out_;
  Programmer& p_;
  SignalSource* signals_;
  EventLoop::Timer settle_;
  std::string name_;
  bool changed_ = false;
  bool due_ = false;
  bool quit_ = false;
  std::string simulatedPath_;  // the detached device, while unplugged
};

int RunWrite(const CliOptions& o, Output& out) {
  const std::string& file = o.arguments[0];
  const auto signals = o.watch ? TakeSignals(o.simulateFlashSize.has_value()) : nullptr;
  LoadedImage image = LoadImageFile(file, FlashSizeOf(o.chip), o.chip);
  Programmer p;
  if (!image.error.empty()) {
    // The chip is not touched for an image that cannot be programmed.
    Json::Value record = NewRecord(Command::Write, o.chip);
    record["file"] = file;
    return Finish(out, record, {kExitUsage, image.error}, SteadyClock::now());
  }
  if (!o.snapshotDir.empty()) {
    std::error_code ec;
    fs::create_directories(o.snapshotDir, ec);
    if (!fs::is_directory(o.snapshotDir, ec)) {
      Json::Value record = NewRecord(Command::Write, o.chip);
      record["file"] = file;
      return Finish(out, record, {kExitUsage, o.snapshotDir + ": cannot make this snapshot folder"}, SteadyClock::now());
    }
  }
  const auto start = SteadyClock::now();
  Outcome opened = OpenProgrammer(o, out, p);
  if (!opened.Ok()) {
    Json::Value record = NewRecord(Command::Write, o.chip);
    record["file"] = file;
    AddProgrammer(record, p);
    p.End();
    return Finish(out, record, opened, start);
  }
  int status = WriteAndRecord(o, out, p, file, image);
  if (!o.watch) return status;
  Watcher watcher(o, out, p, signals.get());
  return watcher.Run(status);
}

}  // namespace

int RunCli(const std::vector<std::string>& arguments) {
  const CliOptions o = ParseCliOptions(arguments);
  if (o.help) {
    std::fputs(CliUsage().c_str(), stdout);
    return kExitOk;
  }
  if (o.version) {
    std::printf("%s %s\n", kProgram, kVersionText);
    return kExitOk;
  }
  if (!o.error.empty()) {
    std::fprintf(stderr, "%s: %s (quillet-cli --help shows the usage)\n", kProgram, o.error.c_str());
    return kExitUsage;
  }
  Output out(o);
  try {
    switch (o.command) {
      case Command::List: return RunList(o, out);
      case Command::Detect: return RunDetect(o, out);
      case Command::Read: return RunRead(o, out);
      case Command::Write: return RunWrite(o, out);
      case Command::Verify: return RunVerify(o, out);
      case Command::Convert: return RunConvert(o, out);
      case Command::None: break;
    }
  } catch (const std::exception& e) {
    out.Error(e.what());
    return kExitFailed;
  }
  return kExitUsage;
}

}  // namespace quillet::cli
