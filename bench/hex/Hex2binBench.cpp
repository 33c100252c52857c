// Conversion throughput of CHex2Bin in MB (10^6 bytes) of HEX text per second, for a 32 KiB and a
// 512 KiB image written as a compiler emits them (16-byte records, type-4 records above 64 KiB).
// InMemory: the text is already in memory and the image goes to a destination buffer only.
// FromFile: the loader's call: read the HEX file, write the side file, fill the destination.

#include <benchmark/benchmark.h>

#include <vector>

#include "hex/Chex2bin.h"
#include "tests/support/HexGen.h"
#include "tests/support/TempDir.h"

namespace {

using namespace quillet;

void SetRate(benchmark::State& state, std::size_t textBytes) {
  const double total = static_cast<double>(textBytes) * static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(total));
  state.counters["MB"] = benchmark::Counter(total / 1e6, benchmark::Counter::kIsRate);
  state.counters["text_bytes"] = static_cast<double>(textBytes);
}

void BM_InMemory(benchmark::State& state) {
  const auto imageSize = static_cast<std::uint32_t>(state.range(0));
  const std::string text = test::Plain(imageSize);
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  std::vector<std::uint8_t> dest(imageSize);
  for (auto _ : state) {
    CHex2Bin conv;
    std::uint32_t length = 0;
    if (conv.ConvertBytes(bytes, std::nullopt, &length, dest.data()) != 0 || length != imageSize) {
      state.SkipWithError("conversion failed");
      break;
    }
    benchmark::DoNotOptimize(dest.data());
  }
  SetRate(state, text.size());
}

void BM_FromFile(benchmark::State& state) {
  const auto imageSize = static_cast<std::uint32_t>(state.range(0));
  const std::string text = test::Plain(imageSize);
  test::TempDir dir;
  const auto hex = dir / "image.hex", side = dir / "image.hex.bin";
  test::WriteFile(hex, text);
  std::vector<std::uint8_t> dest(imageSize);
  for (auto _ : state) {
    CHex2Bin conv;
    std::uint32_t length = 0;
    if (conv.Convert(hex, side, &length, dest.data()) != 0 || length != imageSize) {
      state.SkipWithError("conversion failed");
      break;
    }
    benchmark::DoNotOptimize(dest.data());
  }
  SetRate(state, text.size());
}

BENCHMARK(BM_InMemory)->Arg(32 * 1024)->Arg(512 * 1024)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FromFile)->Arg(32 * 1024)->Arg(512 * 1024)->Unit(benchmark::kMicrosecond);

}  // namespace
