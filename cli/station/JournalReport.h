#pragma once
// What a station's journal adds up to: boards per slot and in total, yield, boards per hour, the
// numbers used, and whether the journal is whole and free of duplicated numbers. Pure.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/station/JournalRecord.h"

namespace quillet::cli::station {

struct BoardCounts {
  uint64_t passed = 0;
  uint64_t failed = 0;
  uint64_t interrupted = 0;
  uint64_t Total() const { return passed + failed + interrupted; }
  double Yield() const { return Total() ? static_cast<double>(passed) / static_cast<double>(Total()) : 0; }
};

struct JournalSummary {
  BoardCounts total;
  std::map<std::string, BoardCounts> slots;  // by the slot's name (its serial number, else its node)
  double hours = 0;                          // the runs' time from first to last record, summed
  std::optional<uint64_t> lowestSerial, highestSerial;
  uint64_t serialsUsed = 0;  // numbers reserved, reflashes not counted
  std::vector<size_t> damagedLines;
  bool torn = false;  // the last line is torn
  std::vector<uint64_t> duplicateSerials;
  bool Sound() const { return damagedLines.empty() && !torn && duplicateSerials.empty(); }
  double BoardsPerHour() const { return hours > 0 ? static_cast<double>(total.Total()) / hours : 0; }
};

JournalSummary SummariseJournal(const JournalScan& scan);

std::string FormatJournalSummary(const JournalSummary& s, const std::string& path);
// One line per slot and one for the total: slot,passed,failed,interrupted,yield.
std::string FormatJournalSummaryCsv(const JournalSummary& s);

// A slot's name in the journal and on the dashboard: its programmer's serial number, else its node;
// with a serial number other programmers have too, the number and the node's name (SERIAL@hidraw3).
std::string SlotName(const std::string& serial, const std::string& node, bool shared = false);

// Milliseconds since the epoch of a time IsoUtc wrote; nothing when it is not one.
std::optional<int64_t> ParseIsoUtc(const std::string& text);

}  // namespace quillet::cli::station
