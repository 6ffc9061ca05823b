// The settings file: every key with its section, default and normalisation, read and written
// through one table so that loading, saving and `--set KEY=VALUE` agree.
#include "convert/options.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/profile.h"

namespace vlm {

namespace {

constexpr const char* SECTION = "section";
constexpr const char* CONTROL = "control";

enum class Kind { Flag, Int, Text };
enum class Norm { None, Byte, Word, Files, MaxVoices, MasterVolume, MidMono };

struct KeySpec {
  const char* section;
  const char* key;
  Kind kind;
  bool ConversionOptions::*flag;
  int ConversionOptions::*number;
  std::string ConversionOptions::*text;
  Norm norm;
  bool readOnly;  // read at start-up, never written back
  const char* textDefault = "";
};

constexpr KeySpec flagKey(const char* section, const char* key, bool ConversionOptions::*field,
                          bool readOnly = false) {
  return {section, key, Kind::Flag, field, nullptr, nullptr, Norm::None, readOnly};
}
constexpr KeySpec intKey(const char* section, const char* key, int ConversionOptions::*field,
                         Norm norm = Norm::None, bool readOnly = false) {
  return {section, key, Kind::Int, nullptr, field, nullptr, norm, readOnly};
}
constexpr KeySpec textKey(const char* key, std::string ConversionOptions::*field,
                          const char* textDefault = "") {
  return {SECTION, key, Kind::Text, nullptr, nullptr, field, Norm::None, false, textDefault};
}

using O = ConversionOptions;
const KeySpec KEYS[] = {
    intKey(CONTROL, "dispcolor", &O::dispcolor, Norm::Byte),
    flagKey(CONTROL, "chnpanel", &O::chnpanel),
    flagKey(CONTROL, "playlist", &O::playlist),
    flagKey(CONTROL, "karaoke", &O::karaoke),
    flagKey(CONTROL, "chmonita", &O::chmonita),
    flagKey(CONTROL, "display", &O::display),
    flagKey(CONTROL, "filebutton", &O::filebutton, true),
    flagKey(CONTROL, "counter", &O::counter),
    intKey(CONTROL, "propwith", &O::propwith, Norm::None, true),
    flagKey(CONTROL, "karaokescroll", &O::karaokescroll),
    flagKey(CONTROL, "plusbtnflg", &O::plusbtnflg),
    flagKey(CONTROL, "custbtnflg", &O::custbtnflg),

    intKey(SECTION, "files", &O::files, Norm::Files, true),
    flagKey(SECTION, "onerun", &O::onerun, true),
    intKey(SECTION, "introtime", &O::introtime, Norm::None, true),
    flagKey(SECTION, "topmost", &O::topmost),
    intKey(SECTION, "loopmode", &O::loopmode),
    intKey(SECTION, "recmode", &O::recmode),
    flagKey(SECTION, "autoplay", &O::autoplay),
    flagKey(SECTION, "autoreset", &O::autoreset),
    flagKey(SECTION, "exclusive", &O::exclusive),
    flagKey(SECTION, "gmriset", &O::gmriset),
    flagKey(SECTION, "gsmode", &O::gsmode),
    flagKey(SECTION, "toprest", &O::toprest),
    flagKey(SECTION, "endrest", &O::endrest),
    intKey(SECTION, "midmono", &O::midmono, Norm::MidMono),

    intKey(SECTION, "real", &O::real),
    flagKey(SECTION, "restcut", &O::restcut),
    flagKey(SECTION, "endrestcut", &O::endrestcut),
    flagKey(SECTION, "allchreset", &O::allchreset),
    flagKey(SECTION, "makeendrest", &O::makeendrest),
    flagKey(SECTION, "hinote", &O::hinote),
    flagKey(SECTION, "panleft", &O::panleft),
    flagKey(SECTION, "vol70per", &O::vol70per),
    intKey(SECTION, "mastervol", &O::mastervol, Norm::MasterVolume),
    flagKey(SECTION, "chgtime", &O::chgtime),
    flagKey(SECTION, "bendsepflg", &O::bendsepflg),
    flagKey(SECTION, "bendecoflg", &O::bendecoflg),
    flagKey(SECTION, "waoncompress", &O::waoncompress),
    flagKey(SECTION, "dxmmldmix", &O::dxmmldmix),
    intKey(SECTION, "wcomplevel", &O::wcomplevel, Norm::Byte),
    intKey(SECTION, "rzmchn", &O::rzmchn, Norm::Byte),
    intKey(SECTION, "maxwnocut", &O::maxwnocut, Norm::MaxVoices),
    flagKey(SECTION, "cutpriendflg", &O::cutpriendflg),
    flagKey(SECTION, "volctlflg", &O::volctlflg),
    flagKey(SECTION, "voltovelflg", &O::voltovelflg),
    flagKey(SECTION, "drambankflg", &O::drambankflg),
    flagKey(SECTION, "dramtoneflg", &O::dramtoneflg),
    flagKey(SECTION, "noefficflg", &O::noefficflg),
    flagKey(SECTION, "mldnote", &O::mldnote),
    flagKey(SECTION, "dlcrc", &O::dlcrc),
    flagKey(SECTION, "pmdfmt0", &O::pmdfmt0),
    flagKey(SECTION, "pmdtmpc4s", &O::pmdtmpc4s),
    flagKey(SECTION, "pmdtopplus", &O::pmdtopplus),
    flagKey(SECTION, "mmf4op", &O::mmf4op),
    intKey(SECTION, "fmphoneid", &O::fmphoneid, Norm::Byte),
    intKey(SECTION, "kclen", &O::kclen, Norm::Byte),
    intKey(SECTION, "karaokeflg", &O::karaokeflg, Norm::Byte),
    intKey(SECTION, "N504Vol", &O::N504Vol, Norm::Word),
    intKey(SECTION, "shamezoflg", &O::shamezoflg),
    intKey(SECTION, "DxmSize", &O::DxmSize),
    intKey(SECTION, "PmdSize", &O::PmdSize),
    intKey(SECTION, "EzMmfSize", &O::EzMmfSize),
    intKey(SECTION, "JMmfSize", &O::JMmfSize),
    intKey(SECTION, "Mmf3Size", &O::Mmf3Size),
    intKey(SECTION, "Mld1Size", &O::Mld1Size),
    intKey(SECTION, "Mld2Size", &O::Mld2Size),
    intKey(SECTION, "MldBsTime", &O::MldBsTime, Norm::Word),
    intKey(SECTION, "MmfBsTime", &O::MmfBsTime, Norm::Word),
    intKey(SECTION, "DxmBsTime", &O::DxmBsTime, Norm::Word),
    textKey("soundfont", &O::soundfont),
    textKey("synth", &O::synth, "handset"),
    textKey("mailto", &O::mailto),
    textKey("LoadDir", &O::LoadDir),
    textKey("SaveDir", &O::SaveDir),
};

int clampInt(int value, int low, int high) {
  return value < low ? low : value > high ? high : value;
}

int normalise(Norm norm, int value) {
  switch (norm) {
    case Norm::None:
      return value;
    case Norm::Byte:
      return clampInt(value, 0, 255);
    case Norm::Word:
      return clampInt(value, 0, 65535);
    case Norm::Files:
      return value < 1 || value > 1024 ? 1024 : value;
    case Norm::MaxVoices:
      return clampInt(value, 0, 64);
    case Norm::MasterVolume:
      return value < 2 ? 0 : value;
    case Norm::MidMono:
      return clampInt(value, 0, 5);
  }
  return value;
}

// Flags are on only when the stored value is exactly 1.
bool flagFrom(int value) {
  return value == 1;
}

int defaultNumber(const KeySpec& spec) {
  static const ConversionOptions defaults;
  return defaults.*(spec.number);
}
bool defaultFlag(const KeySpec& spec) {
  static const ConversionOptions defaults;
  return defaults.*(spec.flag);
}

void loadKey(const KeySpec& spec, const char* file) {
  switch (spec.kind) {
    case Kind::Flag:
      options.*(spec.flag) =
          flagFrom(readProfileInt(spec.section, spec.key, defaultFlag(spec) ? 1 : 0, file));
      break;
    case Kind::Int:
      options.*(spec.number) =
          normalise(spec.norm, readProfileInt(spec.section, spec.key, defaultNumber(spec), file));
      break;
    case Kind::Text:
      options.*(spec.text) = readProfileString(spec.section, spec.key, spec.textDefault, file);
      break;
  }
}

void saveKey(const KeySpec& spec, const char* file) {
  switch (spec.kind) {
    case Kind::Flag:
      writeProfileInt(spec.section, spec.key, options.*(spec.flag) ? 1 : 0, file);
      break;
    case Kind::Int:
      writeProfileInt(spec.section, spec.key, options.*(spec.number), file);
      break;
    case Kind::Text:
      writeProfileString(spec.section, spec.key, (options.*(spec.text)).c_str(), file);
      break;
  }
}

std::string numberedKey(const char* format, int n) {
  char key[32];
  std::snprintf(key, sizeof key, format, n);
  return key;
}

void loadHistory(const char* file) {
  int count = readProfileInt(SECTION, "hsfcount", 0, file);
  int slot = 1;
  for (int i = 0; i < count && slot <= HISTORY_SLOTS; ++i) {
    std::string path = readProfileString(SECTION, numberedKey("histfile%d", i).c_str(), "", file);
    if (!path.empty()) options.histfile[slot++] = path;
  }
  for (int s = slot; s <= HISTORY_SLOTS; ++s) options.histfile[s].clear();
  // Slot 0 is kept for the file now playing, so the count includes it.
  options.hsfcount = slot > 1 ? slot : 0;
}

void saveHistory(const char* file) {
  int written = 0;
  for (int slot = 1; slot < options.hsfcount && slot <= HISTORY_SLOTS; ++slot) {
    if (options.histfile[slot].empty()) continue;
    writeProfileString(SECTION, numberedKey("histfile%d", written).c_str(),
                       options.histfile[slot].c_str(), file);
    ++written;
  }
  writeProfileInt(SECTION, "hsfcount", written, file);
}

void loadFamilies(const char* file) {
  int kept = 0;
  for (int i = 1; i <= MAIL_RECIPIENTS; ++i) {
    std::string to = readProfileString(SECTION, numberedKey("mailto%d", i).c_str(), "", file);
    if (!to.empty()) options.mailtoList[kept++] = to;
  }
  for (int i = kept; i < MAIL_RECIPIENTS; ++i) options.mailtoList[i].clear();
  for (int i = 1; i <= EXT_APPS; ++i) {
    options.appFile[i - 1] =
        readProfileString(SECTION, numberedKey("app%dfile", i).c_str(), "", file);
    options.appName[i - 1] =
        readProfileString(SECTION, numberedKey("app%dname", i).c_str(), "", file);
  }
  for (int i = 1; i <= CUSTOM_BUTTONS; ++i)
    options.custmenu[i - 1] =
        readProfileInt(SECTION, numberedKey("custmenu%d", i).c_str(), 0, file);
}

void saveFamilies(const char* file) {
  for (int i = 0; i < MAIL_RECIPIENTS && !options.mailtoList[i].empty(); ++i)
    writeProfileString(SECTION, numberedKey("mailto%d", i + 1).c_str(),
                       options.mailtoList[i].c_str(), file);
  for (int i = 1; i <= CUSTOM_BUTTONS; ++i)
    writeProfileInt(SECTION, numberedKey("custmenu%d", i).c_str(), options.custmenu[i - 1], file);
}

}  // namespace

void loadSettings(const char* file) {
  // The "control" keys come first in the table, then "section".
  for (const KeySpec& spec : KEYS) loadKey(spec, file);
  loadHistory(file);
  loadFamilies(file);
}

void saveSettings(const char* file) {
  ProfileBatch batch(file);  // one write of the file for all keys
  for (const KeySpec& spec : KEYS)
    if (!spec.readOnly) saveKey(spec, file);
  saveHistory(file);
  saveFamilies(file);
}

bool setOptionByKey(const char* key, const char* value) {
  for (const KeySpec& spec : KEYS) {
    if (strcasecmp(spec.key, key) != 0) continue;
    switch (spec.kind) {
      case Kind::Flag:
        options.*(spec.flag) = flagFrom(std::atoi(value));
        break;
      case Kind::Int:
        options.*(spec.number) = normalise(spec.norm, std::atoi(value));
        break;
      case Kind::Text:
        options.*(spec.text) = value;
        break;
    }
    return true;
  }
  return false;
}

const char* const* settingsKeyNames() {
  static const char* names[sizeof KEYS / sizeof KEYS[0] + 1] = {};
  if (!names[0]) {
    size_t n = 0;
    for (const KeySpec& spec : KEYS) names[n++] = spec.key;
    names[n] = nullptr;
  }
  return names;
}

}  // namespace vlm
