#pragma once
// What the station's operator sees: on a terminal a dashboard on stderr redrawn in place (one
// line per slot and a footer), otherwise one plain line per event; the JSON of a finished board;
// the summary at the end. The texts are pure functions; Dashboard only draws them.

#include <json/json.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/station/JournalReport.h"
#include "cli/station/Station.h"

namespace quillet::cli::station {

const char* StateText(SlotMachine::State state);

struct DashboardFooter {
  double seconds = 0;  // since the station started
  uint64_t numbersUsed = 0;
  std::string journal;
};

// One line per slot, then the footer; `colour` marks results with terminal colours.
std::vector<std::string> DashboardLines(const std::vector<SlotView>& slots, const DashboardFooter& footer, bool colour);
// A finished board as one plain line.
std::string BoardLine(const JournalRecord& result);
Json::Value BoardJson(const JournalRecord& result);
// Per slot and in total: counts, yield, boards per hour.
std::string SummaryText(const std::vector<SlotView>& slots, double seconds);

class Dashboard {
 public:
  explicit Dashboard(std::FILE* out) : out_(out) {}
  void Draw(const std::vector<std::string>& lines);
  // A line above the dashboard, which is drawn again at the next Draw.
  void Message(const std::string& line);
  void Clear();

 private:
  std::FILE* out_;
  size_t drawn_ = 0;
};

}  // namespace quillet::cli::station
