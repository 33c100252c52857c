// The commands on a chip's flash: read, verify and write.

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>

#include "cli/BackendSetUp.h"
#include "cli/Commands.h"
#include "cli/DesktopNotify.h"
#include "cli/ImageIo.h"
#include "cli/Output.h"
#include "cli/Watch.h"
#include "hex/ImageComparison.h"
#include "hex/ImageFile.h"
#include "hex/ImageFileKind.h"
#include "hex/IntelHexWriter.h"
#include "programmer/MessageCatalogue.h"

namespace quillet::cli {

namespace {

namespace fs = std::filesystem;
using logtext::Say;
using logtext::Translate;

std::string CheckOutputPath(const std::string& path) {
  std::error_code ec;
  const fs::path parent = fs::path(path).has_parent_path() ? fs::path(path).parent_path() : fs::path(".");
  if (!fs::is_directory(parent, ec)) return Say("%s: no such folder %s", path.c_str(), parent.string().c_str());
  if (fs::is_directory(path, ec)) return Say("%s: is a folder", path.c_str());
  return {};
}

// Opens the programmer, checks who it is and reads the chip's whole flash.
Outcome ReadWholeChip(const CliOptions& o, Output& out, Json::Value& record, const char* phase,
                      OpenSession& p, std::vector<uint8_t>& flash) {
  Outcome outcome = OpenProgrammer(o, out, p);
  AddProgrammer(record, p);
  if (outcome.Ok()) outcome = p.session->CheckIdentity();
  if (outcome.Ok()) {
    p.session->SelectChip(o.chip);
    outcome = p.session->Read(o.flags, phase, flash);
  }
  return outcome;
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
  return {kExitFailed,
          Say("the chip differs from %s: %s", file.c_str(), DescribeMismatch(c, withoutErase, Translate).c_str())};
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
Outcome WriteOnce(const CliOptions& o, Output& out, OpenSession& p, const std::string& file,
                  const std::vector<uint8_t>& image, Json::Value& record) {
  Session& s = *p.session;
  Outcome outcome = s.CheckIdentity();
  if (!outcome.Ok()) return outcome;
  s.SelectChip(o.chip);
  if (!o.snapshotDir.empty()) {
    std::vector<uint8_t> before;
    outcome = s.Read(o.flags, "reading", before);
    if (!outcome.Ok())
      return {outcome.exit, Say("the snapshot could not be read, nothing was written: %s", outcome.error.c_str())};
    const std::string path = SnapshotName(o.snapshotDir, o.chip);
    if (std::string failed = WriteFileAtomically(path, before); !failed.empty())
      return {kExitFailed, Say("the snapshot could not be saved, nothing was written: %s", failed.c_str())};
    record["snapshot"] = path;
    out.Message(Say("saved the chip's content to %s", path.c_str()));
  }
  Session::WriteResult written;
  outcome = s.Write(image, o.flags, written);
  record["checksum"] = !o.flags.verify ? Json::Value("not asked")
                       : !written.checksumAgrees ? Json::Value()
                       : Json::Value(*written.checksumAgrees ? "agree" : "differ");
  if (!outcome.Ok()) return outcome;
  const bool agrees = written.checksumAgrees.value_or(true);
  if (agrees)
    out.Message(o.flags.verify
                    ? Say("wrote %zu bytes of %s to %s; the programmer's checksum agrees", image.size(), file.c_str(),
                          o.chip.c_str())
                    : Say("wrote %zu bytes of %s to %s", image.size(), file.c_str(), o.chip.c_str()));
  const Outcome differs{kExitFailed, Translate("the programmer's checksum of the image differs from ours")};
  if (!o.readback) return agrees ? Outcome{} : differs;
  // Read back even after a checksum that differs: the comparison says where and how.
  std::vector<uint8_t> flash;
  outcome = s.Read(o.flags, "verifying", flash);
  if (!outcome.Ok()) return agrees ? outcome : differs;
  outcome = Compare(image, flash, file, !o.flags.erase, record);
  if (!outcome.Ok() && !agrees) outcome.error = Say("the programmer's checksum differs, and %s", outcome.error.c_str());
  if (outcome.Ok() && !agrees)
    outcome = {kExitFailed,
               Translate("the programmer's checksum of the image differs from ours, though the read-back matches")};
  if (outcome.Ok()) out.Message(Say("read back: %s holds the image", o.chip.c_str()));
  return outcome;
}

// `notifier`: the desktop notification that tells how the write ended, if any.
int WriteAndRecord(const CliOptions& o, Output& out, OpenSession& p, const std::string& file,
                   const LoadedImage& image, DesktopNotifier* notifier) {
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
    p.backend.SaveSimulatedFlash(out);  // the session stays open for the next write
  else
    p.End(out);
  const int status = Finish(out, record, outcome, start);
  if (notifier) {
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start);
    notifier->Show(outcome.Ok() ? WriteSucceededNotice(file, image.bytes.size(), took, o.flags.verify || o.readback)
                                : WriteFailedNotice(file, outcome.error));
  }
  return status;
}

}  // namespace

int RunRead(const CliOptions& o, Output& out) {
  const auto start = SteadyClock::now();
  Json::Value record = NewRecord(Command::Read, o.chip);
  record["file"] = o.output;
  if (std::string bad = CheckOutputPath(o.output); !bad.empty())
    return Finish(out, record, {kExitUsage, bad}, start);
  OpenSession p;
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
    else out.Message(Say("read %zu bytes of %s into %s", flash.size(), o.chip.c_str(), o.output.c_str()));
  }
  p.End(out);
  return Finish(out, record, outcome, start);
}

int RunVerify(const CliOptions& o, Output& out) {
  const auto start = SteadyClock::now();
  const std::string& file = o.arguments[0];
  Json::Value record = NewRecord(Command::Verify, o.chip);
  record["file"] = file;
  LoadedImage image = LoadImageFile(file, FlashSizeOf(o.chip), o.chip);
  if (!image.error.empty()) return Finish(out, record, {kExitUsage, image.error}, start);
  record["bytes"] = static_cast<Json::UInt64>(image.bytes.size());
  OpenSession p;
  std::vector<uint8_t> flash;
  Outcome outcome = ReadWholeChip(o, out, record, "verifying", p, flash);
  if (outcome.Ok()) outcome = Compare(image.bytes, flash, file, false, record);
  if (outcome.Ok()) out.Message(Say("%s holds %s (%zu bytes)", o.chip.c_str(), file.c_str(), image.bytes.size()));
  p.End(out);
  return Finish(out, record, outcome, start);
}

int RunWrite(const CliOptions& o, Output& out) {
  const std::string& file = o.arguments[0];
  const auto signals = o.watch ? TakeSignals(o.simulateFlashSize.has_value()) : nullptr;
  LoadedImage image = LoadImageFile(file, FlashSizeOf(o.chip), o.chip);
  OpenSession p;
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
      return Finish(out, record, {kExitUsage, Say("%s: cannot make this snapshot folder", o.snapshotDir.c_str())},
                    SteadyClock::now());
    }
  }
  const auto start = SteadyClock::now();
  Outcome opened = OpenProgrammer(o, out, p);
  if (!opened.Ok()) {
    Json::Value record = NewRecord(Command::Write, o.chip);
    record["file"] = file;
    AddProgrammer(record, p);
    p.End(out);
    return Finish(out, record, opened, start);
  }
  const auto notifier = o.notify ? std::make_unique<DesktopNotifier>(SystemNoticeSender(),
                                                                      [&out](const std::string& line) { out.Message(line); })
                                 : nullptr;
  int status = WriteAndRecord(o, out, p, file, image, notifier.get());
  if (!o.watch) return status;
  return WatchAndWrite(
      o, out, p, signals.get(), status, [&] { return LoadImageFile(file, FlashSizeOf(o.chip), o.chip); },
      [&](const LoadedImage& changed) { return WriteAndRecord(o, out, p, file, changed, notifier.get()); });
}

}  // namespace quillet::cli
