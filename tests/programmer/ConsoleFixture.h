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
#include "tests/programmer/OwnerStub.h"
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

  // The log, the UI queue and the clock are the owner stub's; the timer goes to the view.
  ProgrammerHost Host() {
    return owner.Host([this](std::chrono::milliseconds delay) { view.StartWatchdogTimer(delay); },
                      [this] { view.StopWatchdogTimer(); });
  }

  // The reader must be gone before the console and the fixture it calls into.
  ~ConsoleFixture() override { programmerOwner.reset(); }

  std::string AttachProgrammer(sim::SimProgrammerConfig config = {},
                               std::chrono::microseconds pacing = {}) {
    programmer = std::make_shared<sim::SimProgrammer>(config);
    path = platform->Attach(sim::ProgrammerDeviceConfig(programmer, pacing));
    return path;
  }

  void Pump() { owner.Pump(); }
  std::vector<std::string> Lines() { return owner.Lines(); }
  void ClearLines() { owner.ClearLines(); }
  bool Logged(const std::string& line) { return owner.Logged(line); }
  void Advance(std::chrono::milliseconds by) { owner.Advance(by); }

  bool WaitForLine(const std::string& line) { return WaitUntil([&] { return Logged(line); }); }

  OwnerStub owner;
  std::shared_ptr<sim::SimHidPlatform> platform = std::make_shared<sim::SimHidPlatform>();
  std::shared_ptr<sim::SimProgrammer> programmer;
  std::string path;
  RecordingView view;
  std::unique_ptr<Programmer> programmerOwner = std::make_unique<Programmer>(platform, Host());
  std::unique_ptr<ProgrammerConsole> console;
  CPro& engine = programmerOwner->Engine();
  hid::THidIO& hid = programmerOwner->Connection();

};

}  // namespace quillet::test
