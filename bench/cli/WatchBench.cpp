// The edit-build-flash loop in watch mode: `quillet-cli write --watch` keeps the simulated
// programmer (paced at 1 ms per report, as the real link) open, and each iteration renames a new
// image over the watched file, as an editor or a linker saves it, and stops the clock at that
// write's JSON record (verified by the programmer's checksum). Against the link time of the image:
// one report per millisecond for each 64 bytes it streams.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "tests/cli/CliRunner.h"

namespace {

namespace fs = std::filesystem;

fs::path WorkDir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("quillet-watch-bench-" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

// A HEX image of `size` random bytes made by srec_cat, the `variant` changing its content.
std::string RandomHex(size_t size, unsigned variant) {
  const fs::path bin = WorkDir() / "random.bin", hex = WorkDir() / ("random" + std::to_string(variant) + ".hex");
  std::mt19937 gen(variant);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(gen());
  std::ofstream(bin, std::ios::binary) << bytes;
  const std::string cmd = "srec_cat '" + bin.string() + "' -binary -o '" + hex.string() + "' -intel";
  if (std::system(cmd.c_str()) != 0) std::abort();
  std::ifstream in(hex, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Saves `a` and `b` in turn (two versions of the image, or the same one saved again).
void SaveToVerified(benchmark::State& state, const std::string& a, const std::string& b, double linkMs) {
  const fs::path file = WorkDir() / "fw.hex", temp = WorkDir() / ".fw.hex.tmp";
  std::ofstream(file, std::ios::binary) << a;
  quillet::test::RunSettings settings;
  settings.cwd = WorkDir().string();
  settings.env["LANGUAGE"] = "C";
  quillet::test::CliProcess p({"write", "--simulate", "-c", "le1", "fw.hex", "--watch", "--json"}, settings);
  if (!p.NextLine() || !p.WaitForStderr("watching")) {
    state.SkipWithError(("watch mode did not start: " + p.err).c_str());
    return;
  }
  bool second = true;
  for (auto _ : state) {
    state.PauseTiming();
    std::ofstream(temp, std::ios::binary) << (second ? b : a);
    second = !second;
    state.ResumeTiming();
    fs::rename(temp, file);
    const auto record = p.NextLine();
    if (!record || record->find("\"exit\":0") == std::string::npos) {
      state.SkipWithError(("the write failed: " + record.value_or(p.err)).c_str());
      break;
    }
  }
  p.Signal(SIGINT);
  p.Finish();
  state.counters["link_ms"] = linkMs;
}

void BM_WatchSaveToVerifiedBlink(benchmark::State& state) {
  const std::string blink = ReadText(QUILLET_SOURCE_DIR "/examples/blink/blink.hex");
  SaveToVerified(state, blink, blink, 3);  // 137 bytes: three reports
}
BENCHMARK(BM_WatchSaveToVerifiedBlink)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_WatchSaveToVerified16KiB(benchmark::State& state) {
  SaveToVerified(state, RandomHex(16384, 1), RandomHex(16384, 2), 256);
}
BENCHMARK(BM_WatchSaveToVerified16KiB)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
