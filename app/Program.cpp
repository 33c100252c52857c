// Process entry of the quillet window.

#include <QFont>
#include <QFontDatabase>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/ErrorBox.h"
#include "app/HidBackend.h"
#include "app/Main.h"
#include "app/ProgramOptions.h"
#include "app/UpdateQuery.h"

namespace {

// The window's font: MS Sans Serif at 11 pixels where it exists, the platform's sans font at
// that size elsewhere. Glyphs a font lacks (the log's Chinese) come from the system's fallback.
QFont WindowFont() {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setFamilies({QStringLiteral("MS Sans Serif"),
                    QFontDatabase::systemFont(QFontDatabase::GeneralFont).family()});
  font.setPixelSize(11);
  return font;
}

}  // namespace

int main(int argc, char** argv) {
  quillet::QuilletApplication app(argc, argv);  // takes Qt's own options out of argv
  QApplication::setApplicationName(QStringLiteral("quillet"));
  QApplication::setApplicationDisplayName(QStringLiteral("Quillet"));
  QApplication::setApplicationVersion(QString::number(quillet::kProgramVersion));

  const QStringList arguments = QApplication::arguments();
  std::vector<std::string> args;
  for (qsizetype i = 1; i < arguments.size(); ++i) args.push_back(arguments[i].toStdString());
  const quillet::ProgramOptions options = quillet::ParseProgramOptions(args);
  const std::string name = arguments.isEmpty() ? "quillet" : arguments[0].toStdString();
  if (!options.error.empty()) {
    std::fprintf(stderr, "quillet: %s\n%s", options.error.c_str(), quillet::ProgramUsage(name).c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(quillet::ProgramUsage(name).c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("quillet %d\n", quillet::kProgramVersion);
    return 0;
  }

  QApplication::setFont(WindowFont());
  try {
    quillet::TForm1::Settings settings;
    settings.backend = options.simulateFlashSize
                           ? quillet::SimulatedHidBackend(*options.simulateFlashSize)
                           : quillet::SystemHidBackend();
    settings.positionalArguments = options.positional;
    quillet::TForm1 form(std::move(settings));
    form.show();
    app.exec();
  } catch (const std::exception& e) {
    quillet::ShowErrorBox(QString::fromUtf8(e.what()));
  } catch (...) {
    quillet::ShowErrorBox(QString());
  }
  return 0;
}
