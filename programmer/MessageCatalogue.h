#pragma once
// The log's message catalogue, one implementation per system (MessageCatalogue<System>.cpp).

namespace quillet::logtext {

// The English text in the language the environment names (LANGUAGE, LC_ALL, LC_MESSAGES and LANG,
// as gettext reads them; on Windows, where none is set, the user's display language), as UTF-8;
// the English text itself where the catalogue has none. The result lives as long as the program.
const char* Translate(const char* english);

}  // namespace quillet::logtext
