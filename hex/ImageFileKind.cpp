#include "hex/ImageFileKind.h"

#include <cctype>

namespace quillet {

ImageFileKind ImageFileKindOf(const std::string& path) {
  if (path.size() <= 3) return ImageFileKind::Other;
  std::string tail = path.substr(path.size() - 3);
  for (char& c : tail) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (tail == "HEX") return ImageFileKind::Hex;
  if (tail == "BIN") return ImageFileKind::Bin;
  return ImageFileKind::Other;
}

}  // namespace quillet
