#include <cstdlib>

#include "tests/support/Language.h"

extern "C" int _nl_msg_cat_cntr;  // GNU gettext's catalogue generation

namespace quillet::test {

void SetVariable(const std::string& name, const std::optional<std::string>& value) {
  if (value)
    setenv(name.c_str(), value->c_str(), 1);
  else
    unsetenv(name.c_str());
}

// gettext keeps the texts it found for a locale name until told they may have changed.
void RereadCatalogue() { ++_nl_msg_cat_cntr; }

}  // namespace quillet::test
