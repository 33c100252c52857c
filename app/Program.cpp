// Process entry of the quillet window.

#include <QFont>
#include <QFontDatabase>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "app/ErrorBox.h"
#include "sim/Backend.h"
#include "app/Main.h"
#include "app/ProgramOptions.h"
#include "app/Translations.h"
#include "app/Version.h"

namespace {

// The program's exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitNoDisplay = 1;
constexpr int kExitUsage = 2;

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

// Answers what needs no window before the application object is made, since that object needs a
// display: --help, --version, and the lack of any display. Nothing when the window is to open.
std::optional<int> AnswerBeforeTheApplication(int argc, char** argv) {
  const std::string name = argc > 0 ? argv[0] : "quillet";
  bool platformGiven = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--") break;
    if (a == "--help" || a == "-h") {
      std::fputs(quillet::ProgramUsage(name).c_str(), stdout);
      return kExitOk;
    }
    if (a == "--version") {
      std::printf("quillet %s\n", quillet::kVersionText);  // as quillet-cli and the package say it
      return kExitOk;
    }
    platformGiven = platformGiven || a == "-platform";
  }
  if (!platformGiven && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
    std::fprintf(stderr,
                 "quillet: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are "
                 "unset).\nquillet-cli programs the chip without one.\n");
    return kExitNoDisplay;
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  if (const auto answered = AnswerBeforeTheApplication(argc, argv)) return *answered;
  quillet::QuilletApplication app(argc, argv);  // takes Qt's own options out of argv
  QApplication::setApplicationName(QStringLiteral("quillet"));
  QApplication::setApplicationVersion(QString::fromLatin1(quillet::kVersionText));
  quillet::InstallTranslations(app);

  const QStringList arguments = QApplication::arguments();
  std::vector<std::string> args;
  for (qsizetype i = 1; i < arguments.size(); ++i) args.push_back(arguments[i].toStdString());
  const quillet::ProgramOptions options = quillet::ParseProgramOptions(args);
  if (!options.error.empty()) {
    const std::string name = arguments.isEmpty() ? "quillet" : arguments[0].toStdString();
    std::fprintf(stderr, "quillet: %s\n%s", options.error.c_str(), quillet::ProgramUsage(name).c_str());
    return kExitUsage;
  }

  QApplication::setFont(WindowFont());
  try {
    std::string error;
    auto backend = quillet::HidBackendFromEnvironment(options.simulateFlashSize, error);
    if (!backend) {
      std::fprintf(stderr, "quillet: %s\n", error.c_str());
      return kExitUsage;
    }
    quillet::TForm1::Settings settings;
    settings.backend = *backend;
    settings.positionalArguments = options.positional;
    {
      quillet::TForm1 form(std::move(settings));
      form.show();
      app.exec();
    }
    // The connection is closed now: the next run, the window's or quillet-cli's, finds the same chip.
    if (const std::string failed = quillet::SaveSimulatedFlash(*backend); !failed.empty())
      std::fprintf(stderr, "quillet: %s\n", failed.c_str());
  } catch (const std::exception& e) {
    quillet::ShowErrorBox(QString::fromUtf8(e.what()));
  } catch (...) {
    quillet::ShowErrorBox(QString());
  }
  return kExitOk;
}
