#pragma once
// The signals watch mode takes instead of dying by them: a request to quit (Ctrl-C, a
// termination request) and, in simulate mode, a request to unplug or plug in the simulated
// programmer. Each reaches the listener as a call through the post it gave.

#include <memory>

#include "hid/Listeners.h"

namespace quillet::cli {

enum class ProcessSignal { Quit, TogglePlug };

class SignalSource {
 public:
  virtual ~SignalSource() = default;
  // Drop the subscription on the thread its calls run on.
  [[nodiscard]] virtual hid::Subscription Subscribe(hid::Post post,
                                                    hid::Listeners<ProcessSignal>::Listener listener) = 0;
};

// Takes the signals from their default action, the plug toggle only when `togglePlug`. Call it
// before any thread starts, so that every thread leaves them to the source. Null when they
// cannot be taken; they keep their default action then.
std::unique_ptr<SignalSource> TakeSignals(bool togglePlug);

}  // namespace quillet::cli
