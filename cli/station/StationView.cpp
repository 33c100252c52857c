#include "cli/station/StationView.h"

namespace quillet::cli::station {

namespace {

constexpr char kGreen[] = "\x1b[32m", kRed[] = "\x1b[31m", kYellow[] = "\x1b[33m", kPlain[] = "\x1b[0m";

std::string Fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Padded(std::string s, size_t width) {
  if (s.size() < width) s.resize(width, ' ');
  return s;
}

double PerHour(uint64_t boards, double seconds) { return seconds > 0 ? static_cast<double>(boards) * 3600 / seconds : 0; }

std::string CountsLine(const BoardCounts& c) {
  return std::to_string(c.passed) + " passed, " + std::to_string(c.failed) + " failed" +
         (c.interrupted ? ", " + std::to_string(c.interrupted) + " interrupted" : "") + ", yield " +
         Fixed(c.Yield() * 100, 1) + "%";
}

}  // namespace

const char* StateText(SlotMachine::State state) {
  switch (state) {
    case SlotMachine::State::Gone: return "gone";
    case SlotMachine::State::Empty: return "waiting for a board";
    case SlotMachine::State::Seated: return "board seated";
    case SlotMachine::State::Flashing: return "flashing";
    case SlotMachine::State::Flashed: return "remove the board";
    case SlotMachine::State::Held: return "HELD: replug";
  }
  return "";
}

std::vector<std::string> DashboardLines(const std::vector<SlotView>& slots, const DashboardFooter& footer, bool colour) {
  std::vector<std::string> lines;
  BoardCounts total;
  for (const SlotView& s : slots) {
    std::string state = StateText(s.state);
    if (s.state == SlotMachine::State::Flashing && !s.phase.empty()) state += " (" + s.phase + ")";
    // Appended, not "#" + text: g++ 12 at -O3 sees an overlapping copy in the latter (-Wrestrict).
    std::string line = Padded(s.name, 14) + " " + Padded(state, 28) + " " +
                       Padded(s.serial ? std::string("#").append(std::to_string(*s.serial)) : "", 12) + " ";
    std::string last = s.last ? ResultName(*s.last) : "-";
    if (colour && s.last)
      last = (*s.last == BoardResult::Pass ? kGreen : *s.last == BoardResult::Fail ? kRed : kYellow) +
             Padded(last, 11) + kPlain;
    else
      last = Padded(last, 11);
    line += last + " " + std::to_string(s.counts.passed) + " passed / " + std::to_string(s.counts.failed) + " failed";
    lines.push_back(line);
    total.passed += s.counts.passed;
    total.failed += s.counts.failed;
    total.interrupted += s.counts.interrupted;
  }
  if (slots.empty()) lines.push_back("no programmer attached yet");
  lines.push_back(Fixed(PerHour(total.Total(), footer.seconds), 0) + " boards/hour, " +
                  std::to_string(footer.numbersUsed) + " numbers used, journal " + footer.journal);
  return lines;
}

std::string BoardLine(const JournalRecord& r) {
  std::string line = SlotName(r.slotSerial, r.slotNode, r.slotShared) + ": board " + std::to_string(r.board);
  if (r.serial) line += ", serial " + std::to_string(*r.serial) + (r.reflash ? " (kept)" : "");
  line += ": " + std::string(ResultName(r.result));
  if (!r.phase.empty()) line += " in " + r.phase;
  if (!r.failure.empty()) line += ": " + r.failure;
  double seconds = 0;
  for (const auto& [phase, s] : r.phaseSeconds) seconds += s;
  return line + " (" + Fixed(seconds, 2) + " s)";
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
  v["error"] = r.failure.empty() ? Json::Value() : Json::Value(r.failure);
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
    text += "  " + s.name + ": " + CountsLine(s.counts) + "\n";
    total.passed += s.counts.passed;
    total.failed += s.counts.failed;
    total.interrupted += s.counts.interrupted;
  }
  text += "total: " + CountsLine(total) + ", " + Fixed(PerHour(total.Total(), seconds), 1) + " boards/hour over " +
          Fixed(seconds, 1) + " s\n";
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
