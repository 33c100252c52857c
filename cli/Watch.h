#pragma once
// Watch mode of write: the programmer stays open and the file is written again whenever it is
// rewritten, until a signal ends it.

#include <functional>
#include <optional>

#include "cli/BackendSetUp.h"
#include "cli/CliOptions.h"
#include "cli/ImageIo.h"
#include "cli/Output.h"
#include "cli/SignalSource.h"

namespace quillet::cli {

using ImageLoader = std::function<LoadedImage()>;
using ImageWriter = std::function<int(const LoadedImage&)>;

// Watches the file `o` names on the open session `p`; `load` reads it, `write` writes what was
// read once and returns that write's exit status. `firstStatus`: that of the write before
// watching. `signals` null: none are taken. Returns the last write's exit status.
int WatchAndWrite(const CliOptions& o, Output& out, OpenSession& p, SignalSource* signals, int firstStatus,
                  const ImageLoader& load, const ImageWriter& write);

// Loads until two loads in a row agree: a file changed while it was read is read again, so no
// mix of two versions reaches the chip. Nothing while the file keeps changing.
std::optional<LoadedImage> LoadUnchanged(const ImageLoader& load);

}  // namespace quillet::cli
