// quillet-cli as a whole process, as a Makefile runs it: start-up alone, a verified write of a
// 16 KiB HEX image and a read of 32 KiB over the simulated programmer paced at 1 ms per report
// (the link alone takes 256 ms and 512 ms), and convert of a 512 KiB image beside srec_cat on
// the same file.

#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path& WorkDir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("quillet-cli-bench-" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

void WriteBin(const fs::path& p, size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(gen());
  std::ofstream(p, std::ios::binary) << bytes;
}

// A HEX file of `size` random bytes, made by srec_cat.
fs::path HexImage(size_t size) {
  const fs::path bin = WorkDir() / ("image" + std::to_string(size) + ".bin");
  const fs::path hex = WorkDir() / ("image" + std::to_string(size) + ".hex");
  if (!fs::exists(hex)) {
    WriteBin(bin, size, static_cast<unsigned>(size));
    const std::string cmd = "srec_cat '" + bin.string() + "' -binary -o '" + hex.string() + "' -intel";
    if (std::system(cmd.c_str()) != 0) std::abort();
  }
  return hex;
}

// Runs a program to its end; the benchmark fails on a non-zero exit.
void Run(benchmark::State& state, std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto _ : state) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (::chdir(WorkDir().c_str()) != 0) ::_exit(126);
      ::execvp(argv[0], argv.data());
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError(("exit status " + std::to_string(status)).c_str());
      return;
    }
  }
}

void BM_StartUp(benchmark::State& state) { Run(state, {QUILLET_CLI_BINARY, "--version"}); }
BENCHMARK(BM_StartUp)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Write16KiBHexVerified(benchmark::State& state) {
  const std::string hex = HexImage(16384).string();
  Run(state, {QUILLET_CLI_BINARY, "write", "--simulate", "-c", "le1", hex, "-q"});
}
BENCHMARK(BM_Write16KiBHexVerified)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Read32KiB(benchmark::State& state) {
  Run(state, {QUILLET_CLI_BINARY, "read", "--simulate=32k", "-c", "lu1-32k", "-o", "read.bin", "-q"});
}
BENCHMARK(BM_Read32KiB)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Convert512KiB_QuilletCli(benchmark::State& state) {
  const std::string hex = HexImage(524288).string();
  Run(state, {QUILLET_CLI_BINARY, "convert", hex, "converted.bin", "-q"});
}
BENCHMARK(BM_Convert512KiB_QuilletCli)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Convert512KiB_SrecCat(benchmark::State& state) {
  const std::string hex = HexImage(524288).string();
  Run(state, {"srec_cat", hex, "-intel", "-o", "srec.bin", "-binary"});
}
BENCHMARK(BM_Convert512KiB_SrecCat)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
