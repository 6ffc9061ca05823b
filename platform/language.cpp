// The interface language from the command line, the settings file and the environment.
#include "platform/language.h"

#include <cstdlib>

namespace vlm {

std::string interfaceLanguage(const std::string& commandLine, const std::string& settingsKey) {
  std::string chosen = !commandLine.empty() ? commandLine : settingsKey;
  for (const char* var : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (!chosen.empty()) break;
    const char* v = std::getenv(var);
    if (v) chosen = std::string(v).substr(0, std::string(v).find(':'));
  }
  // "ja_JP.UTF-8@x" names the language "ja".
  chosen = chosen.substr(0, chosen.find_first_of("_.@-"));
  if (chosen == "C" || chosen == "POSIX") chosen.clear();
  return chosen;
}

bool wantsEnglishTexts(const std::string& language) {
  return !language.empty() && language != "ja";
}

}  // namespace vlm
