#include "programmer/MessageCatalogue.h"

#include <libintl.h>
#include <locale.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>

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

}  // namespace

// GNU gettext over the domain "quillet". The environment's locale is applied to this thread for
// the lookup only: the program's own locale, which decides the system's messages and the number
// formats, stays whatever the program set. Lookups come from several readers at once; they are
// taken one at a time, since the C library's locale and catalogue caches are not ours to share.

const char* Translate(const char* english) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
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

}  // namespace quillet::logtext
