#pragma once
// Watch mode of write: the programmer stays open and the file is written again whenever it is
// rewritten, until a signal ends it.

#include <functional>

#include "cli/BackendSetUp.h"
#include "cli/CliOptions.h"
#include "cli/Output.h"
#include "cli/SignalSource.h"

namespace quillet::cli {

// Watches the file `o` names on the open session `p`; `write` writes it once and returns that
// write's exit status. `firstStatus`: that of the write before watching. `signals` null: none are
// taken. Returns the last write's exit status.
int WatchAndWrite(const CliOptions& o, Output& out, OpenSession& p, SignalSource* signals, int firstStatus,
                  const std::function<int()>& write);

}  // namespace quillet::cli
