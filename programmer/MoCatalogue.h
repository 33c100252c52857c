#pragma once
// A compiled gettext catalogue (the .mo format msgfmt writes), read from its bytes: where the
// system has no gettext, the programs look their texts up in the same catalogue through this.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quillet::logtext {

class MoCatalogue {
 public:
  // Nothing for bytes that are not a whole catalogue in either byte order.
  static std::optional<MoCatalogue> Read(std::span<const uint8_t> bytes);

  // The translation of `english` (a plural entry's first form), or null when there is none. It
  // lives as long as the catalogue.
  const char* Find(std::string_view english) const;
  size_t Size() const { return texts_.size(); }

 private:
  std::map<std::string, std::string, std::less<>> texts_;
};

}  // namespace quillet::logtext
