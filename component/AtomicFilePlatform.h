#pragma once
// Inside the file replacement: what each system's file (AtomicFileLinux.cpp,
// AtomicFileWindows.cpp) provides, and how it reports the step that failed.

#include <cstdint>
#include <span>
#include <string>

#include "component/AtomicFile.h"

namespace quillet::atomic_file {

// Unwinds ReplaceFileAtomically from the step that failed; caught there, never beyond.
struct Failed {
  FileReplaceError error;
};

[[noreturn]] inline void Fail(FileReplaceError::Step step, const std::string& file, int error) {
  throw Failed{{step, file, error}};
}

// Replaces the file `shown` names, or calls Fail.
void Replace(const std::string& shown, std::span<const uint8_t> bytes, bool backup);

}  // namespace quillet::atomic_file
