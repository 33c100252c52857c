// Host cost of the two streams through the engine, without any device behind it.

#include <benchmark/benchmark.h>

#include "engine/Cpro.h"

namespace quillet {
namespace {

void BM_ReadBackPayload(benchmark::State& state) {
  CPro engine;
  engine.SetEngineEvent([](const EngineEvent&) {});
  engine.EditTask([](ProgrammerTask& t) { FillTask(t, OP_READ, {}, 32768); });
  const uint8_t start[kPayloadSize] = {OP_READ};
  uint8_t data[kPayloadSize];
  for (size_t i = 0; i < sizeof data; ++i) data[i] = static_cast<uint8_t>(i);
  for (auto _ : state) {
    if (engine.State() == Idle) {
      state.PauseTiming();
      engine.HandleReport(start, sizeof start);
      state.ResumeTiming();
    }
    engine.HandleReport(data, sizeof data);
  }
  state.SetBytesProcessed(state.iterations() * int64_t(kPayloadSize));
}
BENCHMARK(BM_ReadBackPayload);

// One write-ready reply streams the whole image; the figure is the cost per image report.
void BM_WriteImageReport(benchmark::State& state) {
  const auto size = static_cast<uint32_t>(state.range(0));
  CPro engine;
  int64_t reports = 0;
  engine.SetSendReport([&](const uint8_t* bytes, size_t) { benchmark::DoNotOptimize(bytes); ++reports; });
  engine.SetEngineEvent([](const EngineEvent&) {});
  engine.EditTask([&](ProgrammerTask& t) { FillTask(t, OP_WRITE, {}, size); });
  const uint8_t ready[kPayloadSize] = {OP_WRITE};
  for (auto _ : state) engine.HandleReport(ready, sizeof ready);
  state.counters["per_report"] = benchmark::Counter(
      double(reports), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetItemsProcessed(reports);
}
BENCHMARK(BM_WriteImageReport)->Arg(16384)->Arg(32768);

}  // namespace
}  // namespace quillet
