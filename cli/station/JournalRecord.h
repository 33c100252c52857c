#pragma once
// The production journal's records and their text: one JSON object per line, each line closing
// with a CRC-32 of its own bytes, so a line torn by a power cut or damaged later is told from a
// whole one. Pure: the file, its lock and its flushing live in JournalFile.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::cli::station {

// What a line records.
enum class JournalEvent {
  Start,    // a station run began
  Reserve,  // a board was given its number; written before the board's first erase
  Result,   // how that board ended
  Torn,     // a torn last line found at start, kept as text
};

enum class BoardResult { Pass, Fail, Interrupted };

struct JournalRecord {
  JournalEvent event = JournalEvent::Reserve;
  std::string time;  // UTC, ISO 8601
  std::string run;   // the station run that wrote the record
  // Reserve and Result.
  uint64_t board = 0;  // the journal's own count of boards, never reused
  std::string slotSerial;
  std::string slotNode;
  bool slotShared = false;  // its programmer's serial number is another's too: the node tells them apart
  std::string chip;
  std::string imageSha256;             // of the image before patching
  std::optional<uint64_t> serial;      // nothing: the station patches no number
  std::string serialBytes;             // as written, in hex
  bool reflash = false;                // --keep-serial found and kept this number
  // Result.
  BoardResult result = BoardResult::Pass;
  std::string phase;    // the failing phase
  std::string failure;  // the typed failure, in words
  // The same in the user's language, for the operator's line; never written to the journal,
  // whose words stay English under any locale.
  std::string failureShown;
  std::map<std::string, double> phaseSeconds;
  // Start: the journal path and options as the run saw them; Torn: the torn line's text.
  std::string text;
};

const char* EventName(JournalEvent event);
const char* ResultName(BoardResult result);

// The line for `record`, newline included.
std::string FormatJournalLine(const JournalRecord& record);

// A line (without its newline) back as a record; nothing when its checksum or content is wrong.
std::optional<JournalRecord> ParseJournalLine(std::string_view line);

// A journal's text as read at start.
struct JournalScan {
  std::vector<JournalRecord> records;
  std::vector<size_t> damagedLines;  // 1-based, whole lines whose checksum or content is wrong
  std::string tornTail;              // a last line with no newline, as written
  size_t wholeBytes = 0;             // the text up to the end of the last whole line
  // Serial numbers reserved more than once as new numbers (reflashes excepted).
  std::vector<uint64_t> duplicateSerials;
  // Boards reserved with no result after them.
  std::vector<JournalRecord> unfinished;
  std::optional<uint64_t> highestSerial;  // of every reservation, reflashes included
  uint64_t highestBoard = 0;
};

JournalScan ScanJournal(std::string_view text);

// UTC, ISO 8601 with milliseconds: "2026-12-11T13:58:11.123Z".
std::string IsoUtc(int64_t millisecondsSinceEpoch);

}  // namespace quillet::cli::station
