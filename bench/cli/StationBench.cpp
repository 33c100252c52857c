// The production station over simulated programmers paced at the link rate (1 ms per report):
// a board's time from its reservation to its result against the link's own time (a 16 KiB write
// and a 16 KiB read-back: 512 ms), and the time four programmers take for four boards, from the
// first one's start to the last one's end, against one programmer's for one.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <random>

#include "cli/station/JournalFile.h"
#include "cli/station/SimBench.h"
#include "cli/station/Station.h"

namespace {

using namespace quillet::cli::station;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr double kLinkSeconds = 0.512;

struct Boards {
  double meanSeconds = 0;  // a board's time from its reservation to its result
  double spanSeconds = 0;  // from the first board's reservation to the last one's result
};

// Runs `slots` programmers until each has passed one board.
Boards RunBoards(int slots) {
  const fs::path journal = fs::temp_directory_path() / ("quillet-station-bench-" + std::to_string(::getpid()) + ".jsonl");
  fs::remove(journal);
  SimBench::Options options;
  options.size = slots;
  options.dwell = 10ms;
  options.gap = 10ms;
  SimBench bench(options);
  StationSetUp setUp;
  setUp.chip = "NRF24LE1_16K";
  setUp.image.resize(16000);
  std::mt19937 gen(5);
  for (uint8_t& b : setUp.image) b = static_cast<uint8_t>(gen());
  SerialPlan plan;
  plan.address = 0x3FF0;
  plan.start = 1;
  setUp.serial = plan;
  setUp.maxBoards = static_cast<uint64_t>(slots);
  setUp.run = "bench";
  auto opened = JournalFile::Open(journal, setUp.run, "2026-01-01T00:00:00.000Z");
  auto& j = std::get<JournalFile::Opened>(opened);
  double seconds = 0;
  int boards = 0;
  using Clock = std::chrono::steady_clock;
  std::optional<Clock::time_point> first, last;
  Station::Events events;
  events.boardEnded = [&](const JournalRecord& r) {
    double board = 0;
    for (const auto& [phase, s] : r.phaseSeconds) board += s;
    seconds += board;
    ++boards;
    last = Clock::now();
    const auto start = *last - std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(board));
    first = first ? std::min(*first, start) : start;
  };
  Station st(bench.Backend(), setUp, *j.file, j.scan, events);
  st.Every(5ms, [&] { bench.Tend(SimBench::Clock::now(), [&](const std::string& s, const std::string& n) { return st.StateOf(s, n); }); });
  st.Run();
  fs::remove(journal);
  if (!boards) return {};
  return {seconds / boards, std::chrono::duration<double>(*last - *first).count()};
}

void BM_StationBoardAboveTheLink(benchmark::State& state) {
  double board = 0;
  for (auto _ : state) board = RunBoards(1).meanSeconds;
  state.counters["board_s"] = board;
  state.counters["above_link_pct"] = (board - kLinkSeconds) / kLinkSeconds * 100;
}
BENCHMARK(BM_StationBoardAboveTheLink)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_StationFourProgrammersAgainstOne(benchmark::State& state) {
  Boards one, four;
  for (auto _ : state) {
    one = RunBoards(1);
    four = RunBoards(4);
  }
  state.counters["one_board_s"] = one.meanSeconds;
  state.counters["four_boards_each_s"] = four.meanSeconds;
  // Four boards' time from the first start to the last end against one board's.
  state.counters["four_boards_span_s"] = four.spanSeconds;
  state.counters["four_over_one_pct"] = (four.spanSeconds - one.spanSeconds) / one.spanSeconds * 100;
}
BENCHMARK(BM_StationFourProgrammersAgainstOne)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
