#pragma once
// The production journal on disk: opened once per station run under an exclusive lock, read at
// start, then only appended to, each record flushed to disk before the append returns. A torn
// last line is cut off and kept as a record of its own; reservations a crash left without a
// result are closed as interrupted. After a failed append the journal takes no further record.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "cli/station/JournalRecord.h"

namespace quillet::cli::station {

class JournalDisk;

struct JournalError {
  enum Kind {
    kOpen,    // cannot be opened or created
    kLocked,  // another station holds it
    kRead,
    kDamaged,  // a line before the last is damaged: a number in it cannot be known
    kWrite,    // a record could not be written or flushed
    kRemoved,  // the path no longer names the journal this station holds
  };
  Kind kind = kOpen;
  std::string path;
  int error = 0;      // errno; 0 for kDamaged
  size_t line = 0;    // kDamaged: the first damaged line (1-based)
};

std::string DescribeJournalError(const JournalError& e);

class JournalFile {
 public:
  struct Opened;
  // Opens (or creates) and locks the journal and reads it. `now` and `run` stamp the records the
  // repair writes (the torn line kept, the interrupted results).
  static std::variant<Opened, JournalError> Open(const std::string& path, const std::string& run,
                                                 const std::string& now);
  ~JournalFile();
  JournalFile(const JournalFile&) = delete;
  JournalFile& operator=(const JournalFile&) = delete;

  // Writes the record and flushes it to disk. On failure the file is cut back to where it was and
  // every later append fails too.
  std::optional<JournalError> Append(const JournalRecord& record);
  bool Failed() const { return failed_.has_value(); }
  const std::string& Path() const { return path_; }

 private:
  JournalFile(std::string path, std::unique_ptr<JournalDisk> disk);

  std::string path_;
  std::unique_ptr<JournalDisk> disk_;
  std::optional<JournalError> failed_;
};

struct JournalFile::Opened {
  std::unique_ptr<JournalFile> file;
  JournalScan scan;  // as read, before the repair
};

// A journal's text for reading only (station-report); 0 or the errno.
int ReadJournalText(const std::string& path, std::string& text);

}  // namespace quillet::cli::station
