// The production station over simulated programmers paced at the link rate (1 ms per report):
// a board's time from its reservation to its result against the link's own time (a 16 KiB write
// and a 16 KiB read-back: 512 ms), and four programmers' boards against one programmer's board.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "cli/station/JournalFile.h"
#include "cli/station/SimBench.h"
#include "cli/station/Station.h"

namespace {

using namespace quillet::cli::station;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr double kLinkSeconds = 0.512;

// Runs `slots` programmers until each has passed one board; the mean seconds per board.
double MeanBoardSeconds(int slots) {
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
  Station::Events events;
  events.boardEnded = [&](const JournalRecord& r) {
    for (const auto& [phase, s] : r.phaseSeconds) seconds += s;
    ++boards;
  };
  Station st(bench.Backend(), setUp, *j.file, j.scan, events);
  st.Every(5ms, [&] { bench.Tend(SimBench::Clock::now(), [&](const std::string& s, const std::string& n) { return st.StateOf(s, n); }); });
  st.Run();
  fs::remove(journal);
  return boards ? seconds / boards : 0;
}

void BM_StationBoardAboveTheLink(benchmark::State& state) {
  double board = 0;
  for (auto _ : state) board = MeanBoardSeconds(1);
  state.counters["board_s"] = board;
  state.counters["above_link_pct"] = (board - kLinkSeconds) / kLinkSeconds * 100;
}
BENCHMARK(BM_StationBoardAboveTheLink)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_StationFourProgrammersAgainstOne(benchmark::State& state) {
  double one = 0, four = 0;
  for (auto _ : state) {
    one = MeanBoardSeconds(1);
    four = MeanBoardSeconds(4);
  }
  state.counters["one_board_s"] = one;
  state.counters["four_boards_each_s"] = four;
  state.counters["four_over_one_pct"] = (four - one) / one * 100;
}
BENCHMARK(BM_StationFourProgrammersAgainstOne)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
