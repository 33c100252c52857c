#include "cli/station/JournalFile.h"

#include <cstring>

#include "cli/station/JournalDisk.h"
#include "programmer/MessageCatalogue.h"

namespace quillet::cli::station {

std::string DescribeJournalError(const JournalError& e) {
  using logtext::Say;
  const char* file = e.path.c_str();
  const char* why = e.error ? std::strerror(e.error) : nullptr;
  switch (e.kind) {
    case JournalError::kOpen:
      return why ? Say("cannot open the journal %s: %s", file, why) : Say("cannot open the journal %s", file);
    case JournalError::kLocked: return Say("the journal %s is in use by another station", file);
    case JournalError::kRead:
      return why ? Say("cannot read the journal %s: %s", file, why) : Say("cannot read the journal %s", file);
    case JournalError::kDamaged:
      return Say("the journal %s is damaged at line %zu: the serial numbers it used cannot be known "
                 "(quillet-cli station-report checks it)",
                 file, e.line);
    case JournalError::kWrite:
      return why ? Say("cannot write the journal %s: %s", file, why) : Say("cannot write the journal %s", file);
    case JournalError::kRemoved: return Say("the journal %s was removed or replaced while the station ran", file);
  }
  return "journal " + e.path;
}

int ReadJournalText(const std::string& path, std::string& text) { return ReadWholeFile(path, text); }

std::variant<JournalFile::Opened, JournalError> JournalFile::Open(const std::string& path, const std::string& run,
                                                                   const std::string& now) {
  std::unique_ptr<JournalDisk> disk;
  if (const int error = JournalDisk::Open(path, disk)) return JournalError{JournalError::kOpen, path, error};
  std::unique_ptr<JournalFile> file(new JournalFile(path, std::move(disk)));
  JournalDisk& d = *file->disk_;
  bool heldElsewhere = false;
  if (const int error = d.Lock(heldElsewhere))
    return JournalError{heldElsewhere ? JournalError::kLocked : JournalError::kOpen, path, error};
  std::string text;
  if (const int error = d.ReadAll(text)) return JournalError{JournalError::kRead, path, error};
  Opened opened{std::move(file), ScanJournal(text)};
  const JournalScan& scan = opened.scan;
  if (!scan.damagedLines.empty()) return JournalError{JournalError::kDamaged, path, 0, scan.damagedLines.front()};

  if (!scan.tornTail.empty()) {
    // Cut the torn line off so the next record begins a line, and keep what it held.
    int error = d.Truncate(scan.wholeBytes);
    if (!error) error = d.Flush();
    if (error) return JournalError{JournalError::kWrite, path, error};
    JournalRecord torn;
    torn.event = JournalEvent::Torn;
    torn.time = now;
    torn.run = run;
    torn.text = scan.tornTail;
    if (auto error = opened.file->Append(torn)) return *error;
  }
  for (const JournalRecord& reserve : scan.unfinished) {
    JournalRecord interrupted = reserve;
    interrupted.event = JournalEvent::Result;
    interrupted.time = now;
    interrupted.run = run;
    interrupted.result = BoardResult::Interrupted;
    interrupted.failure = "the station stopped before the board's result was recorded (run " + reserve.run + ")";
    if (auto error = opened.file->Append(interrupted)) return *error;
  }
  return opened;
}

JournalFile::JournalFile(std::string path, std::unique_ptr<JournalDisk> disk)
    : path_(std::move(path)), disk_(std::move(disk)) {}

JournalFile::~JournalFile() = default;

std::optional<JournalError> JournalFile::Append(const JournalRecord& record) {
  if (failed_) return failed_;
  uint64_t before = 0;
  const bool sized = disk_->Size(before) == 0;
  // A journal removed (or replaced) under the station would take records no one can read again.
  bool same = false;
  if (const int namedError = sized ? disk_->NamedBy(path_, same) : 0; sized && (namedError != 0 || !same)) {
    failed_ = JournalError{JournalError::kRemoved, path_, namedError};
    return failed_;
  }
  int error = disk_->Append(FormatJournalLine(record));
  if (!error) error = disk_->Flush();
  if (!error) return std::nullopt;
  // Leave no half line for the next run to find torn.
  if (sized && disk_->Truncate(before) == 0) disk_->Flush();
  failed_ = JournalError{JournalError::kWrite, path_, error};
  return failed_;
}

}  // namespace quillet::cli::station
