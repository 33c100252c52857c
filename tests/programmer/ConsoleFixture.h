#pragma once
// A programmer console over the simulated HID platform, with a recording view, a manual UI queue
// and a clock the test moves, shared by the console tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "programmer/ProgrammerConsole.h"
#include "engine/Cpro.h"
#include "hid/HidIO.h"
#include "programmer/Programmer.h"
#include "sim/SimHidModels.h"
#include "sim/SimHidPlatform.h"
#include "sim/SimProgrammer.h"
#include "tests/support/Wait.h"

namespace quillet::test {

class RecordingView : public ConsoleView {
 public:
  void SetOperationButtonsEnabled(bool enabled) override { buttonsEnabled = enabled; }
  void SetProgressRange(int maximum) override {
    progressMax = maximum;
    progress = 0;
  }
  void SetProgressPosition(int position) override { progress = position; }
  void ShowReadBack(const std::vector<uint8_t>& flash) override {
    shown = flash;
    ++readBacks;
  }
  uint32_t ImageSize() const override { return imageSize; }
  void LoadImageFile(const std::string& path) override { reloaded.push_back(path); }
  // The programmer's watchdog timer.
  void StartWatchdogTimer(std::chrono::milliseconds delay) {
    timerStarts.push_back(delay);
    timerRunning = true;
  }
  void StopWatchdogTimer() { timerRunning = false; }

  bool buttonsEnabled = true;
  int progressMax = 100;
  int progress = 0;
  std::vector<uint8_t> shown;
  int readBacks = 0;
  uint32_t imageSize = 0;
  std::vector<std::string> reloaded;
  std::vector<std::chrono::milliseconds> timerStarts;
  bool timerRunning = false;
};

class ConsoleFixture : public ::testing::Test {
 protected:
  using Clock = OperationWatchdog::Clock;

  ConsoleFixture() { console = std::make_unique<ProgrammerConsole>(*programmerOwner, view); }

  // Log lines and the UI queue into the fixture, the clock from it, the timer into the view.
  ProgrammerHost Host() {
    ProgrammerHost host;
    host.appendLog = [this](const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    };
    host.post = [this](std::function<void()> call) {
      std::lock_guard lock(mutex_);
      posted_.push_back(std::move(call));
    };
    host.now = [this] {
      std::lock_guard lock(mutex_);
      return now_;
    };
    host.startTimer = [this](std::chrono::milliseconds delay) { view.StartWatchdogTimer(delay); };
    host.stopTimer = [this] { view.StopWatchdogTimer(); };
    return host;
  }

  // The reader must be gone before the console and the fixture it calls into.
  ~ConsoleFixture() override { programmerOwner.reset(); }

  std::string AttachProgrammer(sim::SimProgrammerConfig config = {},
                               std::chrono::microseconds pacing = {}) {
    programmer = std::make_shared<sim::SimProgrammer>(config);
    path = platform->Attach(sim::ProgrammerDeviceConfig(programmer, pacing));
    return path;
  }

  // Runs the calls handed to the UI thread so far, in order.
  void Pump() {
    for (;;) {
      std::function<void()> call;
      {
        std::lock_guard lock(mutex_);
        if (posted_.empty()) return;
        call = std::move(posted_.front());
        posted_.pop_front();
      }
      call();
    }
  }

  std::vector<std::string> Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  void ClearLines() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }
  bool Logged(const std::string& line) {
    auto l = Lines();
    return std::find(l.begin(), l.end(), line) != l.end();
  }
  void Advance(std::chrono::milliseconds by) {
    std::lock_guard lock(mutex_);
    now_ += by;
  }

  bool WaitForLine(const std::string& line) { return WaitUntil([&] { return Logged(line); }); }

  std::shared_ptr<sim::SimHidPlatform> platform = std::make_shared<sim::SimHidPlatform>();
  std::shared_ptr<sim::SimProgrammer> programmer;
  std::string path;
  RecordingView view;
  std::unique_ptr<Programmer> programmerOwner = std::make_unique<Programmer>(platform, Host());
  std::unique_ptr<ProgrammerConsole> console;
  CPro& engine = programmerOwner->Engine();
  hid::THidIO& hid = programmerOwner->Connection();

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
  std::deque<std::function<void()>> posted_;
  Clock::time_point now_{};
};

}  // namespace quillet::test
