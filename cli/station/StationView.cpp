#include "cli/station/StationView.h"

#include "cli/Progress.h"
#include "programmer/MessageCatalogue.h"

namespace quillet::cli::station {

namespace {

using logtext::Say;
using logtext::Translate;

unsigned long long Ull(uint64_t n) { return n; }

constexpr char kGreen[] = "\x1b[32m", kRed[] = "\x1b[31m", kYellow[] = "\x1b[33m", kPlain[] = "\x1b[0m";

std::string Fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// Padded to `width` terminal columns: a Chinese character takes two.
std::string Padded(std::string s, size_t width) {
  const size_t columns = TextColumns(s);
  if (columns < width) s.append(width - columns, ' ');
  return s;
}

double PerHour(uint64_t boards, double seconds) { return seconds > 0 ? static_cast<double>(boards) * 3600 / seconds : 0; }

std::string CountsLine(const BoardCounts& c) {
  const std::string yield = Fixed(c.Yield() * 100, 1) + "%";
  if (!c.interrupted) return Say("%llu passed, %llu failed, yield %s", Ull(c.passed), Ull(c.failed), yield.c_str());
  return Say("%llu passed, %llu failed, %llu interrupted, yield %s", Ull(c.passed), Ull(c.failed), Ull(c.interrupted),
             yield.c_str());
}

// A board's result and phase as the operator reads them; the journal keeps its own words.
std::string ResultText(BoardResult result) {
  switch (result) {
    case BoardResult::Pass: return Translate("pass");
    case BoardResult::Fail: return Translate("fail");
    case BoardResult::Interrupted: return Translate("interrupted");
  }
  return ResultName(result);
}

// The failure in the user's language where the station gave it, else as recorded.
const std::string& ShownFailure(const JournalRecord& r) { return r.failureShown.empty() ? r.failure : r.failureShown; }

std::string PhaseText(const std::string& phase) {
  if (phase == "read") return Translate("read");
  if (phase == "write") return Translate("write");
  if (phase == "read_back") return Translate("read_back");
  return phase;
}

}  // namespace

const char* StateText(SlotMachine::State state) {
  switch (state) {
    case SlotMachine::State::Gone: return Translate("gone");
    case SlotMachine::State::Empty: return Translate("waiting for a board");
    case SlotMachine::State::Seated: return Translate("board seated");
    case SlotMachine::State::Flashing: return Translate("flashing");
    case SlotMachine::State::Flashed: return Translate("remove the board");
    case SlotMachine::State::Held: return Translate("HELD: replug");
  }
  return "";
}

std::vector<std::string> DashboardLines(const std::vector<SlotView>& slots, const DashboardFooter& footer, bool colour) {
  std::vector<std::string> lines;
  BoardCounts total;
  for (const SlotView& s : slots) {
    std::string state = StateText(s.state);
    if (s.state == SlotMachine::State::Flashing && !s.phase.empty()) state += " (" + PhaseText(s.phase) + ")";
    // Appended, not "#" + text: g++ 12 at -O3 sees an overlapping copy in the latter (-Wrestrict).
    std::string line = Padded(s.name, 14) + " " + Padded(state, 28) + " " +
                       Padded(s.serial ? std::string("#").append(std::to_string(*s.serial)) : "", 12) + " ";
    std::string last = s.last ? ResultText(*s.last) : "-";
    if (colour && s.last)
      last = (*s.last == BoardResult::Pass ? kGreen : *s.last == BoardResult::Fail ? kRed : kYellow) +
             Padded(last, 11) + kPlain;
    else
      last = Padded(last, 11);
    line += last + " " + Say("%llu passed / %llu failed", Ull(s.counts.passed), Ull(s.counts.failed));
    lines.push_back(line);
    total.passed += s.counts.passed;
    total.failed += s.counts.failed;
    total.interrupted += s.counts.interrupted;
  }
  if (slots.empty()) lines.push_back(Translate("no programmer attached yet"));
  lines.push_back(Say("%s boards/hour, %llu numbers used, journal %s", Fixed(PerHour(total.Total(), footer.seconds), 0).c_str(),
                      Ull(footer.numbersUsed), footer.journal.c_str()));
  return lines;
}

std::string BoardLine(const JournalRecord& r) {
  const std::string slot = SlotName(r.slotSerial, r.slotNode, r.slotShared);
  std::string line;
  if (!r.serial)
    line = Say("%s: board %llu", slot.c_str(), Ull(r.board));
  else if (r.reflash)
    line = Say("%s: board %llu, serial %llu (kept)", slot.c_str(), Ull(r.board), Ull(*r.serial));
  else
    line = Say("%s: board %llu, serial %llu", slot.c_str(), Ull(r.board), Ull(*r.serial));
  const std::string result = ResultText(r.result);
  line += r.phase.empty() ? Say(": %s", result.c_str()) : Say(": %s in %s", result.c_str(), PhaseText(r.phase).c_str());
  const std::string& failure = ShownFailure(r);
  if (!failure.empty()) line += Say(": %s", failure.c_str());
  double seconds = 0;
  for (const auto& [phase, s] : r.phaseSeconds) seconds += s;
  return line + Say(" (%s s)", Fixed(seconds, 2).c_str());
}

Json::Value BoardJson(const JournalRecord& r) {
  Json::Value v(Json::objectValue);
  v["operation"] = "station";
  v["board"] = Json::UInt64(r.board);
  v["slot"] = SlotName(r.slotSerial, r.slotNode, r.slotShared);
  v["node"] = r.slotNode;
  v["chip"] = r.chip;
  v["image_sha256"] = r.imageSha256;
  v["serial"] = r.serial ? Json::Value(Json::UInt64(*r.serial)) : Json::Value();
  v["serial_bytes"] = r.serial ? Json::Value(r.serialBytes) : Json::Value();
  v["reflash"] = r.reflash;
  v["result"] = ResultName(r.result);
  v["phase"] = r.phase.empty() ? Json::Value() : Json::Value(r.phase);
  v["error"] = r.failure.empty() ? Json::Value() : Json::Value(ShownFailure(r));
  Json::Value seconds(Json::objectValue);
  for (const auto& [phase, s] : r.phaseSeconds) seconds[phase] = s;
  v["phase_seconds"] = seconds;
  v["time"] = r.time;
  return v;
}

std::string SummaryText(const std::vector<SlotView>& slots, double seconds) {
  std::string text;
  BoardCounts total;
  for (const SlotView& s : slots) {
    text += Say("  %s: %s", s.name.c_str(), CountsLine(s.counts).c_str()) + "\n";
    total.passed += s.counts.passed;
    total.failed += s.counts.failed;
    total.interrupted += s.counts.interrupted;
  }
  text += Say("total: %s, %s boards/hour over %s s", CountsLine(total).c_str(),
              Fixed(PerHour(total.Total(), seconds), 1).c_str(), Fixed(seconds, 1).c_str()) +
          "\n";
  return text;
}

void Dashboard::Clear() {
  for (size_t i = 0; i < drawn_; ++i) std::fputs("\x1b[1A\x1b[2K", out_);
  drawn_ = 0;
}

void Dashboard::Draw(const std::vector<std::string>& lines) {
  Clear();
  for (const std::string& line : lines) std::fprintf(out_, "%s\n", line.c_str());
  drawn_ = lines.size();
  std::fflush(out_);
}

void Dashboard::Message(const std::string& line) {
  Clear();
  std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
}

}  // namespace quillet::cli::station
