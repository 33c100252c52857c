#include "cli/ImageIo.h"

#include <cstring>
#include <utility>

#include "component/AtomicFile.h"
#include "hex/ImageFile.h"
#include "programmer/MessageCatalogue.h"

namespace quillet::cli {

LoadedImage LoadImageFile(const std::string& path, uint32_t flashSize, const std::string& chipName) {
  ImageLoadOptions options;
  options.sizeLimit = flashSize;
  options.limitName = logtext::Say("%s's flash", chipName.c_str());
  ImageLoad load = LoadImage(path, options);
  if (!load.Ok()) return {{}, DescribeImageLoadError(load.error, logtext::Translate)};
  return {std::move(load.image.bytes), {}};
}

std::string WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes) {
  const auto failed = ReplaceFileAtomically(path, bytes);
  return failed ? logtext::Say("%s: cannot write: %s", path.c_str(), std::strerror(failed->error)) : std::string();
}

}  // namespace quillet::cli
