// libFuzzer target over CHex2Bin::ConvertBytes. Input: one mode byte, then the HEX file's bytes.
// The mode byte picks the capacity (below 128: no limit; otherwise 1 to 128). Each input is first
// measured, then converted into a side file and an exactly sized destination, and the outputs are
// checked against each other and against the measurement.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "hex/Chex2bin.h"
#include "tests/support/TempDir.h"

namespace {

#define FUZZ_CHECK(cond)                                              \
  do {                                                                \
    if (!(cond)) {                                                    \
      std::fprintf(stderr, "check failed: %s (line %d)\n", #cond, __LINE__); \
      std::abort();                                                   \
    }                                                                 \
  } while (0)

constexpr std::uint8_t kCanary = 0xA5;

const std::filesystem::path& SidePath() {
  static const std::filesystem::path p =
      std::filesystem::temp_directory_path() / ("quillet-fuzz-hex-" + std::to_string(::getpid()) + ".bin");
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  const std::span<const std::uint8_t> file(data + 1, size - 1);
  const std::uint32_t capacity = mode < 128 ? 0 : mode - 127u;

  quillet::CHex2Bin measure;
  std::uint32_t L = 0;
  const std::int32_t measured = measure.ConvertBytes(file, std::nullopt, &L, nullptr);
  FUZZ_CHECK(measured == 2 || measured == 3 || measured == 4 || measured == 8);
  FUZZ_CHECK(measure.LastResult == measured);
  FUZZ_CHECK(measure.ResultText == quillet::CHex2Bin::ResultMessage(measured));
  // The image is never more than a small multiple of the file.
  FUZZ_CHECK(L <= std::max<std::size_t>(file.size() / 2, 0xFFFF + 0xFF));
  if (measured == 8) FUZZ_CHECK(measure.BinLength == L);

  const std::size_t n = capacity != 0 && capacity < L ? capacity : L;
  std::unique_ptr<std::uint8_t[]> dest(new std::uint8_t[std::max<std::size_t>(n, 1)]);
  std::memset(dest.get(), kCanary, std::max<std::size_t>(n, 1));
  std::error_code ec;
  std::filesystem::remove(SidePath(), ec);

  quillet::CHex2Bin conv;
  std::uint32_t length = capacity;
  const std::int32_t result = conv.ConvertBytes(file, SidePath(), &length, dest.get());
  FUZZ_CHECK(length == L);
  const bool overflow = capacity != 0 && capacity < L;
  if (measured == 8) {
    FUZZ_CHECK(result == (overflow ? 6 : 0));
    FUZZ_CHECK(conv.BinLength == L);
    const std::vector<std::uint8_t> side = quillet::test::ReadFile(SidePath());
    FUZZ_CHECK(side.size() == n);
    FUZZ_CHECK(n == 0 || std::memcmp(side.data(), dest.get(), n) == 0);
  } else {
    FUZZ_CHECK(result == (overflow ? 6 : measured));
    FUZZ_CHECK(conv.BinLength == 0);
    FUZZ_CHECK(!std::filesystem::exists(SidePath()));
    FUZZ_CHECK(std::all_of(dest.get(), dest.get() + std::max<std::size_t>(n, 1),
                           [](std::uint8_t b) { return b == kCanary; }));
  }
  std::filesystem::remove(SidePath(), ec);
  return 0;
}
