#include "cli/station/JournalReport.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <set>

#include "programmer/MessageCatalogue.h"

namespace quillet::cli::station {

namespace {

using logtext::Say;
using logtext::Translate;

unsigned long long Ull(uint64_t n) { return n; }

std::string Percent(double fraction) {
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", fraction * 100);
  return text;
}

std::string CountsText(const BoardCounts& c) {
  return Say("%llu passed, %llu failed, %llu interrupted, yield %s", Ull(c.passed), Ull(c.failed), Ull(c.interrupted),
             Percent(c.Yield()).c_str());
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
  std::string text = Say("journal %s", path.c_str()) + "\n";
  for (const auto& [slot, counts] : s.slots) text += Say("  %s: %s", slot.c_str(), CountsText(counts).c_str()) + "\n";
  text += Say("total: %llu boards, %s", Ull(s.total.Total()), CountsText(s.total).c_str()) + "\n";
  text += Say("%.1f boards per hour", s.BoardsPerHour()) + "\n";
  if (s.lowestSerial)
    text += Say("serial numbers %llu to %llu, %llu used", Ull(*s.lowestSerial), Ull(*s.highestSerial),
                Ull(s.serialsUsed)) +
            "\n";
  else
    text += Translate("no serial numbers used") + std::string("\n");
  for (size_t line : s.damagedLines) text += Say("damaged: line %zu", line) + "\n";
  if (s.torn) text += Translate("damaged: the last line is torn") + std::string("\n");
  for (uint64_t serial : s.duplicateSerials) text += Say("duplicate: serial number %llu", Ull(serial)) + "\n";
  text += std::string(s.Sound() ? Translate("integrity: whole, no duplicated numbers") : Translate("integrity: FAILED")) +
          "\n";
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
