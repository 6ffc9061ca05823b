// The language of the interface: which one the user chose, and whether it wants the programs'
// English texts instead of the Japanese ones they are written with.
#pragma once

#include <string>

namespace vlm {

// The language of the interface, as a code ("ja", "en", "de"; empty for the default): `--lang`
// first, then the `lang` key of the settings file, then LANGUAGE (its first entry), LC_ALL,
// LC_MESSAGES and LANG. "C" and "POSIX" choose nothing.
std::string interfaceLanguage(const std::string& commandLine, const std::string& settingsKey);
// True when the interface shows the English texts: a language is chosen and it is not Japanese.
// Japanese, and no choice at all, keep the Japanese texts the code is written with.
bool wantsEnglishTexts(const std::string& language);

}  // namespace vlm
