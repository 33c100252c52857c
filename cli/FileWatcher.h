#pragma once
// What happens to one file, as watch mode needs to know it: each event reaches the listener as a
// call through the post it gave (the event loop's), never on the watcher's own thread.

#include <functional>
#include <memory>
#include <string>

#include "hid/Listeners.h"

namespace quillet::cli {

enum class FileEvent {
  ClosedAfterWriting,  // a writer closed it: its content is whole
  RenamedIntoPlace,    // another file was renamed over it: whole, too
  Modified,            // written to, perhaps not yet finished
  Created,
};

class FileWatcher {
 public:
  // Once it is gone, no event reaches the listener, not even one already posted. Destroy it on
  // the thread its calls run on.
  virtual ~FileWatcher() = default;
};

// Watches the file `name` in the folder `dir`. Null, with the system's reason in `error`, when
// the folder cannot be watched.
std::unique_ptr<FileWatcher> WatchFile(const std::string& dir, const std::string& name, hid::Post post,
                                       std::function<void(FileEvent)> onEvent, std::string& error);

}  // namespace quillet::cli
