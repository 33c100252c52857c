// The window against the simulated programmer paced at 1 ms per report, as a full-speed device:
// a 32 KiB read and a 16 KiB write with verify (their link times are 512 ms and 256 ms), the
// longest stall of the UI event loop while they run with a click and the watchdog's timer handled
// mid-stream, the time from construction to the first painted window, and resident memory.
// Runs on the offscreen platform unless a display is given.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "app/ErrorBox.h"
#include "sim/Backend.h"
#include "app/Main.h"
#include "sim/SimHidModels.h"
#include "sim/SimHidPlatform.h"
#include "sim/SimProgrammer.h"
#include "tests/support/Language.h"
#include "tests/support/Values.h"
#include "widgets/HexEditor.h"

namespace quillet {
namespace {

double ResidentMegabytes() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      double kb = 0;
      status >> kb;
      return kb / 1024.0;
    }
    status.ignore(1 << 12, '\n');
  }
  return 0;
}

// Runs the event loop until the condition holds, looking every millisecond. (QTest::qWaitFor
// sleeps 10 ms between looks, which would add to the times and to the stalls measured here.)
bool RunUntil(const std::function<bool()>& condition, int limitMs = 10000) {
  QEventLoop loop;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    if (condition()) loop.quit();
  });
  look.start(1);
  QTimer::singleShot(limitMs, &loop, [&] { loop.exit(1); });
  return condition() || loop.exec() == 0;
}

// The longest gap between the ticks of a 1 ms timer, less the 1 ms: how long the event loop was
// kept from handling anything.
class StallProbe {
 public:
  StallProbe() {
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 gap = clock_.nsecsElapsed();
      clock_.restart();
      longest_ = std::max(longest_, gap);
    });
  }
  void Start() {
    longest_ = 0;
    clock_.start();
    timer_.start();
  }
  double StopMilliseconds() {
    timer_.stop();
    return std::max<double>(0, longest_ / 1e6 - 1.0);
  }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 longest_ = 0;
};

struct Rig {
  explicit Rig(uint32_t flashSize) {
    sim::SimProgrammerConfig config;
    config.flashSize = flashSize;
    programmer = std::make_shared<sim::SimProgrammer>(config);
    platform->Attach(sim::ProgrammerDeviceConfig(programmer, std::chrono::milliseconds(1)));
    TForm1::Settings settings;
    settings.backend = SimulatedHidBackend(platform);
    settings.updateServiceHost = "127.0.0.1:9";
    form = std::make_unique<TForm1>(std::move(settings));
    form->show();
    WaitForLine("芯片已连接！");
  }
  bool WaitForLine(const char* text) {
    return RunUntil(
        [&] { return form->RichEdit1->toPlainText().contains(QString::fromUtf8(text)); });
  }
  // A click on a check box and the watchdog's timer handled, both while the stream runs.
  void DisturbMidStream() {
    QTimer::singleShot(100, form.get(), [this] {
      form->chkEncrypt->click();
      form->chkEncrypt->click();
      form->tmrTimeout->start(0);
    });
  }

  std::shared_ptr<sim::SimHidPlatform> platform = std::make_shared<sim::SimHidPlatform>();
  std::shared_ptr<sim::SimProgrammer> programmer;
  std::unique_ptr<TForm1> form;
};

void BM_WindowRead32K(benchmark::State& state) {
  Rig rig(32768);
  rig.form->cbbDev->setCurrentIndex(2);  // NRF24LU1_32K
  StallProbe probe;
  double stall = 0;
  for (auto _ : state) {
    state.PauseTiming();
    rig.form->HexEditor->SetDataSize(0);
    rig.DisturbMidStream();
    probe.Start();
    state.ResumeTiming();
    rig.form->btnRead->click();
    if (!RunUntil([&] { return rig.form->HexEditor->GetDataSize() == 32768; }, 10000))
      state.SkipWithError("the read did not finish");
    state.PauseTiming();
    stall = std::max(stall, probe.StopMilliseconds());
    state.ResumeTiming();
  }
  state.counters["link_ms"] = 512;
  state.counters["max_ui_stall_ms"] = stall;
  state.counters["rss_mb_after_read"] = ResidentMegabytes();
}
BENCHMARK(BM_WindowRead32K)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_WindowWrite16KWithVerify(benchmark::State& state) {
  Rig rig(16384);
  const std::vector<uint8_t> image = test::RandomBytes(16384, 1);
  rig.form->Engine().EditWriteImage([&](uint8_t* buffer, size_t) { std::copy(image.begin(), image.end(), buffer); });
  rig.form->HexEditor->SetDataSize(16384);
  rig.form->chkReload->setChecked(false);
  StallProbe probe;
  double stall = 0;
  for (auto _ : state) {
    state.PauseTiming();
    rig.form->RichEdit1->clear();
    rig.DisturbMidStream();
    probe.Start();
    state.ResumeTiming();
    rig.form->BtnAuto->click();
    if (!rig.WaitForLine("校验成功")) state.SkipWithError("the write was not verified");
    state.PauseTiming();
    stall = std::max(stall, probe.StopMilliseconds());
    state.ResumeTiming();
  }
  state.counters["link_ms"] = 256;
  state.counters["max_ui_stall_ms"] = stall;
}
BENCHMARK(BM_WindowWrite16KWithVerify)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// F9 from the editor: the hot key clicks Write, which (Reload Hex on) loads the saved file again
// and writes it with verify; the clock stops at the verified line. Against the link time of the
// image (one report per millisecond for each 64 bytes).
void F9ToVerified(benchmark::State& state, const std::string& path, double linkMs) {
  Rig rig(16384);
  rig.form->LoadImageFile(path);
  rig.form->chkReload->setChecked(true);
  for (auto _ : state) {
    state.PauseTiming();
    rig.form->RichEdit1->clear();
    state.ResumeTiming();
    rig.form->HotKeyPressed();
    if (!rig.WaitForLine("校验成功")) state.SkipWithError("the write was not verified");
  }
  state.counters["link_ms"] = linkMs;
}

void BM_WindowF9ToVerifiedBlink(benchmark::State& state) {
  F9ToVerified(state, QUILLET_SOURCE_DIR "/examples/blink/blink.hex", 3);
}
BENCHMARK(BM_WindowF9ToVerifiedBlink)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_WindowF9ToVerified16KiB(benchmark::State& state) {
  const std::string path = QDir::temp().filePath("quillet-window-bench-16k.bin").toStdString();
  const std::vector<uint8_t> image = test::RandomBytes(16384, 2);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), 16384);
  F9ToVerified(state, path, 256);
}
BENCHMARK(BM_WindowF9ToVerified16KiB)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(20);

class FirstPaint : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted = true;
    return false;
  }
  bool painted = false;
};

void BM_WindowStartToFirstPaint(benchmark::State& state) {
  double rss = 0;
  for (auto _ : state) {
    auto platform = std::make_shared<sim::SimHidPlatform>();
    auto programmer = std::make_shared<sim::SimProgrammer>();
    platform->Attach(sim::ProgrammerDeviceConfig(programmer, std::chrono::milliseconds(1)));
    TForm1::Settings settings;
    settings.backend = SimulatedHidBackend(platform);
    settings.updateServiceHost = "127.0.0.1:9";
    FirstPaint paint;
    auto form = std::make_unique<TForm1>(std::move(settings));
    form->installEventFilter(&paint);
    form->show();
    if (!RunUntil([&] { return paint.painted; }, 10000)) state.SkipWithError("never painted");
    state.PauseTiming();
    rss = ResidentMegabytes();
    form.reset();
    state.ResumeTiming();
  }
  state.counters["rss_mb_after_start"] = rss;
}
BENCHMARK(BM_WindowStartToFirstPaint)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
}  // namespace quillet

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  // The rig waits for the log's Chinese lines, whatever the caller's locale.
  const quillet::test::ScopedLanguage chinese("zh_CN");
  quillet::QuilletApplication app(argc, argv);
  quillet::SetErrorPresenter([](const QString& message) {
    std::fprintf(stderr, "error box: %s\n", message.toUtf8().constData());
  });
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
