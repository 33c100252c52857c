#include "hex/ImageComparison.h"

#include <bit>
#include <cstdio>

#include "hex/Chex2bin.h"

namespace quillet {

ImageComparison CompareImages(std::span<const std::uint8_t> expected, std::span<const std::uint8_t> actual) {
  ImageComparison c;
  c.compared = expected.size();
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const std::uint8_t want = expected[i];
    // Erased flash reads as the converter's fill byte.
    const std::uint8_t got = i < actual.size() ? actual[i] : kHexFillByte;
    if (want == got) continue;
    if (c.differing++ == 0) {
      c.firstAddress = i;
      c.expected = want;
      c.actual = got;
    }
    c.bitsOneToZero += static_cast<std::size_t>(std::popcount(static_cast<std::uint8_t>(want & ~got)));
    c.bitsZeroToOne += static_cast<std::size_t>(std::popcount(static_cast<std::uint8_t>(~want & got)));
  }
  return c;
}

std::string DescribeMismatch(const ImageComparison& c, bool writtenWithoutErase, TextLookup lookup) {
  std::string s = LookedUp(lookup,
                           "first difference at 0x%04zX: expected 0x%02X, read 0x%02X; %zu of %zu bytes differ, "
                           "%zu bits 1->0 and %zu bits 0->1",
                           c.firstAddress, c.expected, c.actual, c.differing, c.compared, c.bitsOneToZero,
                           c.bitsZeroToOne);
  if (writtenWithoutErase && c.bitsOneToZero > 0)
    s += LookedUp(lookup, "; bits that should be 1 read 0 after a write without erase: was the flash erased?");
  return s;
}

}  // namespace quillet
