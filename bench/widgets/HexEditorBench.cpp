// Painting the hex view: a full viewport and a one-page scroll, for 512 KiB of data (the largest
// image) against 1 KiB. Only the rows in view are painted, so the two should cost the same.
// Run on the offscreen platform unless a display is chosen; the output names the platform, the
// viewport and the build, and counts the rows in view.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <string>

#include "widgets/HexEditor.h"

namespace {

using quillet::widgets::HexEditor;

// A view of the window's size holding `size` bytes, partly changed as after a load.
constexpr QSize kViewport(720, 480);

struct Fixture {
  explicit Fixture(int size) : image(kViewport, QImage::Format_ARGB32_Premultiplied) {
    editor.resize(image.size() + QSize(editor.verticalScrollBar()->sizeHint().width() + 4, 4));
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i) data[i] = static_cast<char>((i * 31) >> 3);
    editor.SetDataSize(size);
    editor.WriteBuffer(data.constData(), 0, size);
    editor.show();
    QApplication::processEvents();
  }
  void Paint() { editor.viewport()->render(&image); }

  HexEditor editor;
  QImage image;
};

void BM_PaintViewport(benchmark::State& state) {
  Fixture fixture(static_cast<int>(state.range(0)));
  fixture.editor.verticalScrollBar()->setValue(fixture.editor.verticalScrollBar()->maximum() / 2);
  for (auto _ : state) {
    fixture.Paint();
    benchmark::DoNotOptimize(fixture.image.constBits());
  }
  state.counters["rows"] = fixture.editor.PageRows();
}

void BM_ScrollOnePage(benchmark::State& state) {
  Fixture fixture(static_cast<int>(state.range(0)));
  QScrollBar* bar = fixture.editor.verticalScrollBar();
  int direction = 1;
  for (auto _ : state) {
    // Page down until the end, then back up: every step moves a whole page and repaints.
    if (bar->value() + direction * bar->pageStep() > bar->maximum() || bar->value() + direction * bar->pageStep() < 0)
      direction = -direction;
    bar->setValue(bar->value() + direction * bar->pageStep());
    fixture.Paint();
    benchmark::DoNotOptimize(fixture.image.constBits());
  }
  state.counters["rows"] = fixture.editor.PageRows();
}

BENCHMARK(BM_PaintViewport)->Arg(1024)->Arg(512 * 1024)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScrollOnePage)->Arg(1024)->Arg(512 * 1024)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::AddCustomContext("qt_platform", QApplication::platformName().toStdString());
  benchmark::AddCustomContext("viewport",
                              std::to_string(kViewport.width()) + " x " + std::to_string(kViewport.height()));
#ifdef NDEBUG
  benchmark::AddCustomContext("quillet_build", "optimised (NDEBUG)");
#else
  benchmark::AddCustomContext("quillet_build", "debug: figures not comparable with a Release build");
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
