#include "programmer/MoCatalogue.h"

namespace quillet::logtext {

namespace {

constexpr uint32_t kMagic = 0x950412DE;

class Words {
 public:
  Words(std::span<const uint8_t> bytes, bool swapped) : bytes_(bytes), swapped_(swapped) {}
  std::optional<uint32_t> At(uint64_t offset) const {
    if (offset + 4 > bytes_.size()) return std::nullopt;
    const uint8_t* p = bytes_.data() + offset;
    return swapped_ ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                    : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }
  // String `index` of the table at `table`: its length and offset, then its bytes and a NUL.
  std::optional<std::string_view> String(uint32_t table, uint32_t index) const {
    const uint64_t entry = table + uint64_t(index) * 8;
    const auto length = At(entry), offset = At(entry + 4);
    if (!length || !offset || uint64_t(*offset) + *length >= bytes_.size() || bytes_[*offset + *length] != 0)
      return std::nullopt;
    return std::string_view(reinterpret_cast<const char*>(bytes_.data()) + *offset, *length);
  }

 private:
  std::span<const uint8_t> bytes_;
  bool swapped_;
};

}  // namespace

std::optional<MoCatalogue> MoCatalogue::Read(std::span<const uint8_t> bytes) {
  const auto magic = Words(bytes, false).At(0);
  if (!magic || (*magic != kMagic && Words(bytes, true).At(0) != kMagic)) return std::nullopt;
  const Words words(bytes, *magic != kMagic);
  const auto revision = words.At(4), count = words.At(8), originals = words.At(12), translations = words.At(16);
  if (!revision || *revision >> 16 > 1 || !count || !originals || !translations) return std::nullopt;
  MoCatalogue catalogue;
  for (uint32_t i = 0; i < *count; ++i) {
    const auto english = words.String(*originals, i);
    const auto text = words.String(*translations, i);
    if (!english || !text) return std::nullopt;
    // The header is the translation of the empty text; plural forms follow the first after a NUL.
    if (english->empty()) continue;
    catalogue.texts_.emplace(english->substr(0, english->find('\0')), text->substr(0, text->find('\0')));
  }
  return catalogue;
}

const char* MoCatalogue::Find(std::string_view english) const {
  const auto it = texts_.find(english);
  return it == texts_.end() ? nullptr : it->second.c_str();
}

}  // namespace quillet::logtext
