#include "cli/station/JournalReport.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <set>

namespace quillet::cli::station {

namespace {

std::string Percent(double fraction) {
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", fraction * 100);
  return text;
}

std::string CountsText(const BoardCounts& c) {
  return std::to_string(c.passed) + " passed, " + std::to_string(c.failed) + " failed, " +
         std::to_string(c.interrupted) + " interrupted, yield " + Percent(c.Yield());
}

}  // namespace

std::string SlotName(const std::string& serial, const std::string& node, bool shared) {
  if (serial.empty()) return node;
  if (!shared) return serial;
  const size_t slash = node.find_last_of("/\\");
  return serial + "@" + (slash == std::string::npos ? node : node.substr(slash + 1));
}

std::optional<int64_t> ParseIsoUtc(const std::string& text) {
  std::tm t{};
  int ms = 0;
  char z = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
                  &t.tm_min, &t.tm_sec, &ms, &z) != 8 || z != 'Z')
    return std::nullopt;
  // Out-of-range fields carry over into the next, as timegm would have it (which Windows lacks).
  using namespace std::chrono;
  const int months = t.tm_year * 12 + t.tm_mon - 1;
  const int yearOf = months >= 0 ? months / 12 : (months - 11) / 12;
  const sys_days first = year{yearOf} / month{static_cast<unsigned>(months - yearOf * 12 + 1)} / 1;
  const auto at = first + days{t.tm_mday - 1} + hours{t.tm_hour} + minutes{t.tm_min} + seconds{t.tm_sec};
  return duration_cast<milliseconds>(at.time_since_epoch()).count() + ms;
}

JournalSummary SummariseJournal(const JournalScan& scan) {
  JournalSummary s;
  s.damagedLines = scan.damagedLines;
  s.torn = !scan.tornTail.empty();
  s.duplicateSerials = scan.duplicateSerials;
  std::map<std::string, std::pair<int64_t, int64_t>> runSpans;  // first and last record of each run
  std::set<uint64_t> serials;
  for (const JournalRecord& r : scan.records) {
    if (const auto ms = ParseIsoUtc(r.time)) {
      auto [it, fresh] = runSpans.try_emplace(r.run, *ms, *ms);
      if (!fresh) {
        it->second.first = std::min(it->second.first, *ms);
        it->second.second = std::max(it->second.second, *ms);
      }
    }
    if (r.event == JournalEvent::Reserve && r.serial && !r.reflash) {
      serials.insert(*r.serial);
      ++s.serialsUsed;
    }
    if (r.event != JournalEvent::Result) continue;
    BoardCounts& slot = s.slots[SlotName(r.slotSerial, r.slotNode, r.slotShared)];
    uint64_t BoardCounts::*count = r.result == BoardResult::Pass   ? &BoardCounts::passed
                                   : r.result == BoardResult::Fail ? &BoardCounts::failed
                                                                   : &BoardCounts::interrupted;
    ++(slot.*count);
    ++(s.total.*count);
  }
  for (const auto& [run, span] : runSpans) s.hours += static_cast<double>(span.second - span.first) / 3.6e6;
  if (!serials.empty()) {
    s.lowestSerial = *serials.begin();
    s.highestSerial = *serials.rbegin();
  }
  return s;
}

std::string FormatJournalSummary(const JournalSummary& s, const std::string& path) {
  std::string text = "journal " + path + "\n";
  for (const auto& [slot, counts] : s.slots) text += "  " + slot + ": " + CountsText(counts) + "\n";
  text += "total: " + std::to_string(s.total.Total()) + " boards, " + CountsText(s.total) + "\n";
  char rate[64];
  std::snprintf(rate, sizeof rate, "%.1f boards per hour", s.BoardsPerHour());
  text += std::string(rate) + "\n";
  if (s.lowestSerial)
    text += "serial numbers " + std::to_string(*s.lowestSerial) + " to " + std::to_string(*s.highestSerial) + ", " +
            std::to_string(s.serialsUsed) + " used\n";
  else
    text += "no serial numbers used\n";
  for (size_t line : s.damagedLines) text += "damaged: line " + std::to_string(line) + "\n";
  if (s.torn) text += "damaged: the last line is torn\n";
  for (uint64_t serial : s.duplicateSerials) text += "duplicate: serial number " + std::to_string(serial) + "\n";
  text += s.Sound() ? "integrity: whole, no duplicated numbers\n" : "integrity: FAILED\n";
  return text;
}

std::string FormatJournalSummaryCsv(const JournalSummary& s) {
  std::string text = "slot,passed,failed,interrupted,yield\n";
  auto row = [&text](const std::string& name, const BoardCounts& c) {
    char yield[16];
    std::snprintf(yield, sizeof yield, "%.4f", c.Yield());
    text += name + "," + std::to_string(c.passed) + "," + std::to_string(c.failed) + "," +
            std::to_string(c.interrupted) + "," + yield + "\n";
  };
  for (const auto& [slot, counts] : s.slots) row(slot, counts);
  row("total", s.total);
  return text;
}

}  // namespace quillet::cli::station
