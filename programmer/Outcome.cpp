#include "programmer/Outcome.h"

#include <bit>

#include "engine/Wire.h"

namespace quillet {

std::optional<OperationFailure> IdentityFailure(const Identity& id) {
  if (!id.CheckPassed()) return failure::CheckWordMismatch{id.checkWord, id.expectedWord};
  if (!id.chipConnected) return failure::NoChip{};
  return std::nullopt;
}

std::optional<failure::ReadBackMismatch> CompareReadBack(const std::vector<uint8_t>& image,
                                                         const std::vector<uint8_t>& flash) {
  failure::ReadBackMismatch m;
  m.compared = static_cast<uint32_t>(image.size());
  for (size_t i = 0; i < image.size(); ++i) {
    const uint8_t want = image[i];
    const uint8_t got = i < flash.size() ? flash[i] : kErasedByte;
    if (want == got) continue;
    if (m.bytes++ == 0) {
      m.address = static_cast<uint32_t>(i);
      m.expected = want;
      m.actual = got;
    }
    m.bitsOneToZero += static_cast<uint32_t>(std::popcount(static_cast<uint8_t>(want & ~got)));
    m.bitsZeroToOne += static_cast<uint32_t>(std::popcount(static_cast<uint8_t>(~want & got)));
  }
  if (m.bytes == 0) return std::nullopt;
  return m;
}

}  // namespace quillet
