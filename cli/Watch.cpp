#include "cli/Watch.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "cli/EventLoop.h"
#include "cli/FileWatcher.h"
#include "programmer/MessageCatalogue.h"

namespace quillet::cli {

namespace {

namespace fs = std::filesystem;
using logtext::Say;
using logtext::Translate;

// A file is flashed once it has been closed or renamed into place and left alone this long: long
// enough to take a burst of events (a save that truncates, writes, closes and renames) as one.
constexpr std::chrono::milliseconds kCoalesce{20};
// Loads of a file that keeps changing before watch mode waits for the writer's close instead.
constexpr int kLoadTries = 8;

class Watcher {
 public:
  // `signals` null: none are taken.
  Watcher(const CliOptions& o, Output& out, OpenSession& p, SignalSource* signals, const ImageLoader& load,
          const ImageWriter& write)
      : o_(o), out_(out), p_(p), signals_(signals), load_(load), write_(write), settle_(p.session->Loop()) {}

  int Run(int firstStatus) {
    const std::string file = o_.arguments[0];
    const fs::path path(file);
    name_ = path.filename().string();
    const std::string dir = path.has_parent_path() ? path.parent_path().string() : ".";
    EventLoop& loop = p_.session->Loop();
    std::string error;
    const auto files = WatchFile(dir, name_, loop.Poster(), [this](FileEvent e) { OnFileEvent(e); }, error);
    if (!files) {
      out_.Error(Say("%s: cannot watch: %s", dir.c_str(), error.c_str()));
      return kExitUsage;
    }
    hid::Subscription signals;
    if (signals_) signals = signals_->Subscribe(loop.Poster(), [this](ProcessSignal s) { OnSignal(s); });
    int status = firstStatus;
    out_.Message(Say("watching %s (Ctrl-C ends)", file.c_str()));
    Session& s = *p_.session;
    bool connected = s.Connected();
    // A write needs an identity from the connection it goes over; Open waited for this one.
    int identitiesBefore = s.Identities() - 1;
    while (!quit_) {
      loop.RunUntil([&] {
        return quit_ || s.HasOpenError() || s.Connected() != connected ||
               (due_ && connected && s.Identities() > identitiesBefore);
      });
      if (quit_) break;
      if (s.HasOpenError()) out_.Error(Say("cannot open the programmer: %s", s.TakeOpenError().c_str()));
      if (s.Connected() != connected) {
        connected = s.Connected();
        if (connected) identitiesBefore = s.Identities();
        out_.Message(connected ? Translate("the programmer is back") : Translate("the programmer is gone; waiting for it"));
        continue;
      }
      if (!due_ || !connected || s.Identities() <= identitiesBefore) continue;
      due_ = false;
      const uint64_t eventsBefore = events_;
      const std::optional<LoadedImage> image = LoadUnchanged(load_);
      // A writer that came back while the file was read: its close starts the next write.
      loop.RunPosted();
      if (!image || events_ != eventsBefore) continue;
      status = write_(*image);
    }
    return status;
  }

 private:
  void OnFileEvent(FileEvent e) {
    ++events_;
    // Only a closed or renamed file counts. A write going on (a writer that closed and opened
    // it again, too) holds everything back until its own close.
    if (e == FileEvent::ClosedAfterWriting || e == FileEvent::RenamedIntoPlace) {
      settle_.Start(kCoalesce, [this] { due_ = true; });
    } else {
      settle_.Stop();
      due_ = false;
    }
  }

  void OnSignal(ProcessSignal s) {
    if (s == ProcessSignal::TogglePlug) {
      TogglePlug();
    } else {
      quit_ = true;
    }
  }

  // Simulate mode only: unplugs or plugs in the simulated programmer, as a hand on the cable would.
  void TogglePlug() {
    const Backend& b = p_.backend;
    if (!b.hid.simulator) return;
    if (!simulatedPath_.empty()) {
      b.hid.simulator->Attach(b.hid.programmerDevice());
      simulatedPath_.clear();
    } else {
      simulatedPath_ = p_.session->OpenNode();
      if (simulatedPath_.empty() || !b.hid.simulator->Detach(simulatedPath_)) simulatedPath_.clear();
    }
  }

  const CliOptions& o_;
  Output& out_;
  OpenSession& p_;
  SignalSource* signals_;
  const ImageLoader& load_;
  const ImageWriter& write_;
  EventLoop::Timer settle_;
  std::string name_;
  uint64_t events_ = 0;  // file events so far
  bool due_ = false;
  bool quit_ = false;
  std::string simulatedPath_;  // the detached device, while unplugged
};

}  // namespace

std::optional<LoadedImage> LoadUnchanged(const ImageLoader& load) {
  LoadedImage image = load();
  for (int tries = 0; tries < kLoadTries; ++tries) {
    LoadedImage again = load();
    if (again.bytes == image.bytes && again.error == image.error) return again;
    image = std::move(again);
  }
  return std::nullopt;
}

int WatchAndWrite(const CliOptions& o, Output& out, OpenSession& p, SignalSource* signals, int firstStatus,
                  const ImageLoader& load, const ImageWriter& write) {
  Watcher watcher(o, out, p, signals, load, write);
  return watcher.Run(firstStatus);
}

}  // namespace quillet::cli
