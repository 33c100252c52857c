#include "programmer/LogText.h"

#include <libintl.h>
#include <locale.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "programmer/IdentityCheck.h"

namespace quillet::logtext {

namespace {

constexpr char kDomain[] = "quillet";

// The installed layout keeps the catalogue in ../share/locale beside bin/, wherever the package
// was installed; the build tree has it at the same place for its programs, and the test binaries,
// which live deeper, fall back to the build tree's folder.
std::string CatalogueFolder() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    const std::filesystem::path beside = program.parent_path().parent_path() / "share" / "locale";
    if (std::filesystem::is_directory(beside, error)) return beside.string();
  }
  return QUILLET_BUILD_LOCALEDIR;
}

// The English text in the language the environment names (LANGUAGE, LC_ALL, LC_MESSAGES, LANG,
// as gettext reads them), as UTF-8 whatever the locale's character set. The locale is applied to
// this thread for the lookup only: the program's own locale, which decides the system's messages
// and the number formats, stays whatever the program set.
const char* Tr(const char* english) {
  static const bool bound = [] {
    bindtextdomain(kDomain, CatalogueFolder().c_str());
    bind_textdomain_codeset(kDomain, "UTF-8");
    return true;
  }();
  (void)bound;
  const locale_t messages = newlocale(LC_MESSAGES_MASK, "", static_cast<locale_t>(0));
  if (messages == static_cast<locale_t>(0)) return english;  // a locale not installed: as "C"
  const locale_t previous = uselocale(messages);
  const char* text = dgettext(kDomain, english);
  uselocale(previous);
  freelocale(messages);
  return text;
}

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};

template <class... Args>
std::string Format(const char* format, Args... args) {
  const int length = std::snprintf(nullptr, 0, format, args...);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length), '\0');
  std::snprintf(text.data(), text.size() + 1, format, args...);
  return text;
}

}  // namespace

std::vector<std::string> IdentityLines(const IdentityEvent& event) {
  const Identity id = ReadIdentity(event);
  std::vector<std::string> lines;
  lines.push_back(Format(Tr("Programmer answered: firmware type %d version %d"), id.firmwareType,
                         id.firmwareVersion));
  if (!id.CheckPassed()) {
    lines.push_back(Format(Tr("Communication check failed: received %d, computed %d"), id.checkWord,
                           id.expectedWord));
    const auto& r = event.request.bytes;
    lines.push_back(Format("%x %x %x", r[2], r[3], LoadU16(&r[4])));
  }
  lines.emplace_back(id.chipConnected
                         ? Tr("Chip connected!")
                         : Tr("Chip not connected! Check the wiring, the module and the contacts"));
  return lines;
}

std::vector<std::string> LinesOf(const EngineEvent& event) {
  using Lines = std::vector<std::string>;
  return std::visit(
      Overloaded{
          [](const ConnectEvent&) -> Lines { return {Tr("Connecting to the programmer")}; },
          [](const UnknownChipEvent&) -> Lines { return {Tr("Unknown chip type!")}; },
          [](const FailureReplyEvent& e) -> Lines {
            return {Format(Tr("Operation failed: %02X  %02X"), e.reply, e.reply & OP_FAIL)};
          },
          [](const UnknownReplyEvent&) -> Lines { return {Tr("Unknown operation")}; },
          [](const IdentityEvent& e) -> Lines { return IdentityLines(e); },
          [](const ReadStartEvent& e) -> Lines { return {Format(Tr("Reading flash... %u"), e.size)}; },
          [](const ReadProgressEvent&) -> Lines { return {}; },
          [](const WriteStartEvent&) -> Lines { return {Tr("Writing flash")}; },
          [](const WriteProgressEvent&) -> Lines { return {}; },
          [](const StreamStoppedEvent& e) -> Lines {
            return {Format(Tr("Flash write failed: the programmer did not take packet %lld of %lld"),
                           static_cast<long long>(e.report), static_cast<long long>(e.reports))};
          },
          [](const VerifyEvent& e) -> Lines {
            if (e.agree) return {Tr("Verify passed")};
            return {Tr("Verify failed"),
                    Format(Tr("Local checksum: %d, device checksum: %d"), e.local, e.device)};
          },
      },
      event);
}

std::string ProgrammerOpened(const std::string& product, const std::string& serial) {
  return Format(Tr("Programmer opened: %s %s"), product.c_str(), serial.c_str());
}

std::string Timeout(int32_t received, uint32_t size) {
  return Format(Tr("Operation timed out %d  %u"), received, size);
}

std::string ReadFinished(int32_t received) {
  return Format(Tr("Flash read complete, %d bytes"), received);
}

std::string Text(Notice notice) {
  switch (notice) {
    case Notice::kHidOpened:
      return Tr("HID device opened");
    case Notice::kHidClosed:
      return Tr("HID device closed");
    case Notice::kHidError:
      return Tr("HID device error");
    case Notice::kReadStarted:
      return Tr("Read flash");
    case Notice::kWriteStarted:
      return Tr("Write flash");
    case Notice::kWriteFinished:
      return Tr("Flash write complete");
    case Notice::kFileNotExists:
      return Tr("File does not exist!");
    case Notice::kNoImage:
      return Tr("Load a file to write first!");
    case Notice::kImageTooLarge:
      return Tr("The file is larger than the chip's flash!");
  }
  return {};
}

}  // namespace quillet::logtext
