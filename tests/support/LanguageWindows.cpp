#include <cstdlib>

#include "tests/support/Language.h"

namespace quillet::test {

// An empty value removes a variable on Windows, which the catalogue takes as unset, as gettext does.
void SetVariable(const std::string& name, const std::optional<std::string>& value) {
  _putenv_s(name.c_str(), value ? value->c_str() : "");
}

// The catalogue chooses its language at every lookup: nothing to forget.
void RereadCatalogue() {}

}  // namespace quillet::test
