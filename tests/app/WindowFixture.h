#pragma once
// The main window over a simulated programmer, on whatever Qt platform the test runs (offscreen
// unless a display is given). The error box records its messages instead of opening.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/ErrorBox.h"
#include "sim/Backend.h"
#include "app/Main.h"
#include "sim/SimHidModels.h"
#include "sim/SimHidPlatform.h"
#include "sim/SimProgrammer.h"
#include "widgets/HexEditor.h"

namespace quillet::test {

class WindowFixture : public ::testing::Test {
 protected:
  WindowFixture() {
    SetErrorPresenter([this](const QString& message) { errors.push_back(message.toStdString()); });
  }
  ~WindowFixture() override {
    form.reset();
    SetErrorPresenter(nullptr);
  }

  std::string AttachProgrammer(sim::SimProgrammerConfig config = {},
                               std::chrono::microseconds pacing = {}) {
    programmer = std::make_shared<sim::SimProgrammer>(config);
    path = platform->Attach(sim::ProgrammerDeviceConfig(programmer, pacing));
    return path;
  }
  // A programmer this user may not open, whatever access the connection asks for.
  static sim::SimHidDeviceConfig RefusedProgrammer() {
    auto config = sim::ProgrammerDeviceConfig(std::make_shared<sim::SimProgrammer>());
    config.refusedAccess = {hid::HidAccess::ReadWrite, hid::HidAccess::ReadOnly, hid::HidAccess::WriteOnly,
                            hid::HidAccess::None};
    return config;
  }
  // Plugging in after start: the attach reaches the window as a device change.
  void Plug(sim::SimHidDeviceConfig config) { path = platform->Attach(std::move(config)); }

  void Open(std::vector<std::string> positionalArguments = {}) {
    // Devices attached before the start are no news to the window: it listens from its start.
    Open(SimulatedHidBackend(platform), std::move(positionalArguments));
  }
  // Over a backend the test made otherwise; `platform` and `programmer` are not its.
  void Open(HidBackend backend, std::vector<std::string> positionalArguments = {}) {
    TForm1::Settings settings;
    settings.backend = std::move(backend);
    settings.updateServiceHost = "127.0.0.1:9";  // refused at once: no network, no waiting
    settings.positionalArguments = std::move(positionalArguments);
    form = std::make_unique<TForm1>(std::move(settings));
    form->show();
  }

  // An image in both stores, as a file load leaves it.
  void LoadImage(const std::vector<uint8_t>& image) {
    form->Engine().EditWriteImage(
        [&](uint8_t* buffer, size_t) { std::copy(image.begin(), image.end(), buffer); });
    form->HexEditor->SetDataSize(static_cast<int>(image.size()));
    form->HexEditor->WriteBuffer(image.data(), 0, static_cast<int>(image.size()));
  }
  void ChooseChip(const char* name) {
    form->cbbDev->setCurrentIndex(form->cbbDev->findText(QLatin1String(name)));
  }

  // The About page's grid as shown, and each of its cells that the grid does not show whole: a
  // column narrower than its widest cell, columns and rows beyond the grid's view, the picture
  // over the grid or the picture beyond the page.
  std::vector<std::string> CutPinGridCells() {
    form->PageControl1->setCurrentWidget(form->TabSheet3);
    QCoreApplication::processEvents();
    const QTableWidget& grid = *form->StringGrid1;
    std::vector<std::string> cut;
    for (int column = 0; column < grid.columnCount(); ++column) {
      const int wanted = std::max(static_cast<const QAbstractItemView&>(grid).sizeHintForColumn(column),
                                  grid.horizontalHeader()->sectionSizeHint(column));
      if (grid.columnWidth(column) < wanted)
        cut.push_back("column " + std::to_string(column) + ": " + std::to_string(grid.columnWidth(column)) +
                      " < " + std::to_string(wanted));
    }
    if (grid.horizontalHeader()->length() > grid.viewport()->width())
      cut.push_back("columns " + std::to_string(grid.horizontalHeader()->length()) + " > view " +
                    std::to_string(grid.viewport()->width()));
    if (grid.verticalHeader()->length() > grid.viewport()->height())
      cut.push_back("rows " + std::to_string(grid.verticalHeader()->length()) + " > view " +
                    std::to_string(grid.viewport()->height()));
    if (grid.geometry().right() >= form->Image1->x()) cut.push_back("the grid runs under the picture");
    if (form->Image1->geometry().right() >= form->TabSheet3->width()) cut.push_back("the picture leaves the page");
    return cut;
  }

  void ClearLog() {
    QCoreApplication::processEvents();
    QTest::mouseDClick(form->RichEdit1->viewport(), Qt::LeftButton);
  }

  // The log's messages without their time stamps, once the queued lines have been shown.
  std::vector<std::string> Messages() {
    QCoreApplication::processEvents();
    std::vector<std::string> out;
    static const QRegularExpression stamp(QStringLiteral("^\\[[^\\]]*\\]  "));
    for (QString line : form->RichEdit1->toPlainText().split(QLatin1Char('\n'))) {
      if (line.isEmpty()) continue;
      out.push_back(line.remove(stamp).toStdString());
    }
    return out;
  }
  // The log without `line`, which must be there exactly once and after `after`. For the hot key's
  // refusal: it is logged on the UI thread right after the connect request, while the reply's
  // lines come from the reader thread, so only its place after the request is certain.
  std::vector<std::string> MessagesWithout(const std::string& line, const std::string& after) {
    std::vector<std::string> lines = Messages();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line;
    const auto found = std::find(lines.begin(), lines.end(), line);
    if (found == lines.end()) return lines;
    EXPECT_LT(std::find(lines.begin(), lines.end(), after), found) << line << " before " << after;
    lines.erase(found);
    return lines;
  }
  bool Shown(const std::string& message) {
    const auto m = Messages();
    return std::find(m.begin(), m.end(), message) != m.end();
  }
  // A hang guard while the event loop runs, not a timing check.
  bool WaitForMessage(const std::string& message, int ms = 10000) {
    return QTest::qWaitFor([&] { return Shown(message); }, ms);
  }
  int Count(const std::string& prefix) {
    int n = 0;
    for (const auto& m : Messages()) n += m.rfind(prefix, 0) == 0;
    return n;
  }
  int Occurrences(const std::string& message) {
    const auto m = Messages();
    return static_cast<int>(std::count(m.begin(), m.end(), message));
  }

  std::shared_ptr<sim::SimHidPlatform> platform = std::make_shared<sim::SimHidPlatform>();
  std::shared_ptr<sim::SimProgrammer> programmer;
  std::string path;
  std::unique_ptr<TForm1> form;
  std::vector<std::string> errors;
};

}  // namespace quillet::test
