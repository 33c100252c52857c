#pragma once
// The compiled catalogues built into the program (Windows, where no gettext finds them on disk):
// generated at build time from po/ by EmbedCatalogues.cmake.

#include <cstdint>
#include <span>
#include <string_view>

namespace quillet::logtext {

struct EmbeddedCatalogue {
  std::string_view language;  // e.g. "zh_CN"
  std::span<const uint8_t> bytes;
};

std::span<const EmbeddedCatalogue> EmbeddedCatalogues();

}  // namespace quillet::logtext
