#include "component/AtomicFile.h"

#include "component/AtomicFilePlatform.h"

namespace quillet {

std::optional<FileReplaceError> ReplaceFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                                                      bool backup) {
  try {
    atomic_file::Replace(path, bytes, backup);
  } catch (const atomic_file::Failed& failed) {
    return failed.error;
  }
  return std::nullopt;
}

}  // namespace quillet
