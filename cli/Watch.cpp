#include "cli/Watch.h"

#include <chrono>
#include <filesystem>
#include <string>

#include "cli/EventLoop.h"
#include "cli/FileWatcher.h"

namespace quillet::cli {

namespace {

namespace fs = std::filesystem;

// A file is flashed once it has been closed or renamed into place and left alone this long.
constexpr std::chrono::milliseconds kSettle{200};

class Watcher {
 public:
  // `signals` null: none are taken.
  Watcher(const CliOptions& o, Output& out, OpenSession& p, SignalSource* signals, const std::function<int()>& write)
      : o_(o), out_(out), p_(p), signals_(signals), write_(write), settle_(p.session->Loop()) {}

  int Run(int firstStatus) {
    const std::string file = o_.arguments[0];
    const fs::path path(file);
    name_ = path.filename().string();
    const std::string dir = path.has_parent_path() ? path.parent_path().string() : ".";
    EventLoop& loop = p_.session->Loop();
    std::string error;
    const auto files = WatchFile(dir, name_, loop.Poster(), [this](FileEvent e) { OnFileEvent(e); }, error);
    if (!files) {
      out_.Error(dir + ": cannot watch: " + error);
      return kExitUsage;
    }
    hid::Subscription signals;
    if (signals_) signals = signals_->Subscribe(loop.Poster(), [this](ProcessSignal s) { OnSignal(s); });
    int status = firstStatus;
    out_.Message("watching " + file + " (Ctrl-C ends)");
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
      if (s.HasOpenError()) out_.Error("cannot open the programmer: " + s.TakeOpenError());
      if (s.Connected() != connected) {
        connected = s.Connected();
        if (connected) identitiesBefore = s.Identities();
        out_.Message(connected ? "the programmer is back" : "the programmer is gone; waiting for it");
        continue;
      }
      if (!due_ || !connected || s.Identities() <= identitiesBefore) continue;
      due_ = false;
      status = write_();
    }
    return status;
  }

 private:
  void OnFileEvent(FileEvent e) {
    // Only a closed or renamed file counts; a write still going on only postpones it.
    if (e == FileEvent::ClosedAfterWriting || e == FileEvent::RenamedIntoPlace) changed_ = true;
    if (changed_) settle_.Start(kSettle, [this] {
        changed_ = false;
        due_ = true;
      });
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
  const std::function<int()>& write_;
  EventLoop::Timer settle_;
  std::string name_;
  bool changed_ = false;
  bool due_ = false;
  bool quit_ = false;
  std::string simulatedPath_;  // the detached device, while unplugged
};

}  // namespace

int WatchAndWrite(const CliOptions& o, Output& out, OpenSession& p, SignalSource* signals, int firstStatus,
                  const std::function<int()>& write) {
  Watcher watcher(o, out, p, signals, write);
  return watcher.Run(firstStatus);
}

}  // namespace quillet::cli
