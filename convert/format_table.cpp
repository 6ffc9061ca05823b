#include "convert/format_table.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace vlm {

namespace {

// Input formats, by the code detectFormat returns. A null reader means the format is known but
// has no reader yet (code 3 needs none: the image already is a VStream).
const InputFormat INPUT_FORMATS[] = {
    {FORMAT_MML, "MML text (.mml, .mmlc)", readMml, false},
    {FORMAT_SMF, "Standard MIDI File (.mid, .midi, .rmi, .kar)", readSmf, false},
    {FORMAT_VLM, "event stream (.vlm)", nullptr, false},
    {FORMAT_DAT, "P-melody (.dat)", readDat, true},
    {FORMAT_ALS, "P-melody (.als)", readAls, false},
    {FORMAT_DXM, "feelsound (.dxm)", readSmf, false},
    {FORMAT_CMD, "chara-melody (.cmd)", readCmd, false},
    {FORMAT_PMD_RAW, "PMD without header (.pmd)", readPmdRaw, false},
    {FORMAT_MLD, "i-melody (.mld, .dlm, .txt)", readMld, true},
    {FORMAT_MEL, "melody (.mmd, .mel, .sml)", readMel, false},
    {FORMAT_SMD_TEXT, "J-SKY text melody (.smd)", readJskyText, false},
    {FORMAT_SMZ_TEXT, "J-SKY text melody, protected (.smz)", readJskyText, false},
    {FORMAT_SMAF, "SMAF (.mmf, .smd)", readSmaf, false},
    {FORMAT_SMZ_SMAF, "SMAF, protected (.smz)", readSmaf, false},
    {FORMAT_PMD, "EZweb PMD (.pmd)", readMld, false},
    {FORMAT_QCP, "voice file (.qcp)", readQcp, false},
    {FORMAT_WAV, "WAVE sound (.wav)", readWave, false},
};

// Output formats: code, command id, menu label, short name, extension, size key, dialog,
// melody-mail text length, writer.
const OutputFormat OUTPUT_FORMATS[] = {
    {2, 101, "MIDIﾌｧｲﾙ作成", "mid", ".mid", nullptr, 10, 0, writeSmf},
    {13, 102, "feelsound12和音作成", "dxm12", ".dxm", "DxmSize", 12, 0, writeDxm},
    {14, 103, "feelsound32和音作成", "dxm32", ".dxm", "DxmSize", 12, 0, writeDxm},
    {24, 105, "iﾒﾛﾃﾞｨFM16和音作成(N)", "mld-fm16n", ".mld", "Mld2Size", 9, 498, writeMld},
    {25, 106, "iﾒﾛﾃﾞｨPCM16和音作成(P,D)", "mld-pcm16", ".mld", "Mld2Size", 9, 498, writeMld},
    {26, 107, "iﾒﾛﾃﾞｨPCM24和音作成(SO)", "mld-pcm24so", ".mld", "Mld2Size", 9, 498, writeMld},
    {27, 108, "iﾒﾛﾃﾞｨPCM32和音作成(633S)", "mld-pcm32", ".mld", "Mld2Size", 9, 14037, writeMld},
    {28, 109, "iﾒﾛﾃﾞｨFM16和音作成(F)", "mld-fm16f", ".mld", "Mld2Size", 9, 498, writeMld},
    {29, 110, "iﾒﾛﾃﾞｨPCM24和音作成(D211i)", "mld-pcm24d", ".mld", "Mld2Size", 9, 498, writeMld},
    {30, 111, "iﾒﾛﾃﾞｨ40和音作成(251/504i)", "mld-40", ".mld", "Mld2Size", 18, 498, writeMld},
    {31, 126, "iﾒﾛﾃﾞｨ40和音作成(SO504i)", "mld-40so", ".mld", "Mld2Size", 18, 498, writeMld},
    {35, 112, "iﾒﾛﾃﾞｨ3和音作成(P,D,SO)", "mld-3", ".mld", "Mld1Size", 9, 498, writeMld},
    {36, 113, "iﾒﾛﾃﾞｨ3和音作成(SH821i)", "mld-3sh", ".mld", "Mld1Size", 9, 3000, writeMld},
    {37, 114, "iﾒﾛﾃﾞｨ4和音作成(641S)", "mld-4s", ".mld", "Mld1Size", 9, 3000, writeMld},
    {38, 115, "iﾒﾛﾃﾞｨ4和音作成(N,F209i)", "mld-4", ".mld", "Mld1Size", 9, 498, writeMld},
    {39, 116, "iﾒﾛﾃﾞｨ4和音作成(641P)", "mld-4p", ".mld", "Mld1Size", 9, 4000, writeMld},
    {53, 120, "SMAF16和音作成(J-SKY)", "mmf16j", ".mmf", "JMmfSize", 11, 0, writeSmaf},
    {54, 121, "SMAF16和音作成(EZweb)", "mmf16ez", ".mmf", "EzMmfSize", 11, 0, writeSmaf},
    {55, 122, "SMAF4和音作成(J-SKY)", "mmf4j", ".mmf", "JMmfSize", 11, 0, writeSmaf},
    {56, 123, "SMAF4和音作成(EZweb)", "mmf4ez", ".mmf", "EzMmfSize", 11, 0, writeSmaf},
    {59, 124, "SMAF40和音作成", "mmf40", ".mmf", "Mmf3Size", 11, 0, writeSmaf40},
    {61, 117, "au-PMD16和音作成", "pmd16", ".pmd", "PmdSize", 2, 0, writeMld},
    {62, 118, "", "pmd16b", ".pmd", "PmdSize", 2, 0, writeMld},
    {63, 119, "au-PMD3和音作成", "pmd3", ".pmd", "PmdSize", 2, 0, writeMld},
    {OUTPUT_COPY, 132, "", "copy", nullptr, nullptr, 0, 0, nullptr},
    {OUTPUT_MAIL, 135, "Outlook送信\tCtrl+M", "mail", nullptr, nullptr, 7, 0, nullptr},
};

// The variant a family name picks: the one most handsets of the family play (16 voices; the
// first handset maker of each menu), which is also the variant a file of the family is read as.
struct FamilyName {
  const char* name;
  FormatCode code;
};
const FamilyName FAMILY_NAMES[] = {
    {"mld", 24},  // iﾒﾛﾃﾞｨFM16和音作成(N)
    {"pmd", 61},  // au-PMD16和音作成
    {"mmf", 53},  // SMAF16和音作成(J-SKY)
    {"dxm", 13},  // feelsound12和音作成
};

// Edit distance of two short names without regard to case; swapping two neighbours counts as
// one edit, as it is one typing error.
size_t editDistance(const std::string& a, const std::string& b) {
  const size_t n = a.size(), m = b.size();
  std::vector<size_t> d((n + 1) * (m + 1));
  auto at = [&](size_t i, size_t j) -> size_t& { return d[i * (m + 1) + j]; };
  auto same = [&](size_t i, size_t j) {
    return std::tolower(uint8_t(a[i])) == std::tolower(uint8_t(b[j]));
  };
  for (size_t i = 0; i <= n; ++i) at(i, 0) = i;
  for (size_t j = 0; j <= m; ++j) at(0, j) = j;
  for (size_t i = 1; i <= n; ++i)
    for (size_t j = 1; j <= m; ++j) {
      at(i, j) = std::min(
          {at(i - 1, j) + 1, at(i, j - 1) + 1, at(i - 1, j - 1) + (same(i - 1, j - 1) ? 0 : 1)});
      if (i > 1 && j > 1 && same(i - 1, j - 2) && same(i - 2, j - 1))
        at(i, j) = std::min(at(i, j), at(i - 2, j - 2) + 1);
    }
  return at(n, m);
}

int* sizeSettingSlot(const OutputFormat& format) {
  if (!format.sizeKey) return nullptr;
  struct Slot {
    const char* key;
    int ConversionOptions::*field;
  };
  static const Slot SLOTS[] = {
      {"DxmSize", &ConversionOptions::DxmSize},     {"PmdSize", &ConversionOptions::PmdSize},
      {"EzMmfSize", &ConversionOptions::EzMmfSize}, {"JMmfSize", &ConversionOptions::JMmfSize},
      {"Mmf3Size", &ConversionOptions::Mmf3Size},   {"Mld1Size", &ConversionOptions::Mld1Size},
      {"Mld2Size", &ConversionOptions::Mld2Size},
  };
  for (const Slot& slot : SLOTS)
    if (std::strcmp(slot.key, format.sizeKey) == 0) return &(options.*slot.field);
  return nullptr;
}

}  // namespace

StageFn fadePass() {
  return fadeStream;
}
StageFn transformPass() {
  return transformStream;
}

const InputFormat* inputFormats(int* count) {
  *count = int(sizeof INPUT_FORMATS / sizeof INPUT_FORMATS[0]);
  return INPUT_FORMATS;
}

const OutputFormat* outputFormats(int* count) {
  *count = int(sizeof OUTPUT_FORMATS / sizeof OUTPUT_FORMATS[0]);
  return OUTPUT_FORMATS;
}

const InputFormat* findInputFormat(FormatCode code) {
  for (const InputFormat& format : INPUT_FORMATS)
    if (format.code == code) return &format;
  return nullptr;
}

const OutputFormat* findOutputFormat(FormatCode code) {
  for (const OutputFormat& format : OUTPUT_FORMATS)
    if (format.code == code) return &format;
  return nullptr;
}

const OutputFormat* findOutputFormat(const char* codeOrName) {
  if (!codeOrName || !*codeOrName) return nullptr;
  char* end = nullptr;
  long number = std::strtol(codeOrName, &end, 10);
  if (*end == '\0') return findOutputFormat(FormatCode(number));
  for (const OutputFormat& format : OUTPUT_FORMATS)
    if (strcasecmp(format.shortName, codeOrName) == 0) return &format;
  for (const FamilyName& family : FAMILY_NAMES)
    if (strcasecmp(family.name, codeOrName) == 0) return findOutputFormat(family.code);
  return nullptr;
}

const char* outputFamilyName(FormatCode code) {
  for (const FamilyName& family : FAMILY_NAMES)
    if (family.code == code) return family.name;
  return nullptr;
}

std::vector<std::string> closeOutputNames(const char* name) {
  const std::string wanted = name ? name : "";
  std::vector<std::pair<size_t, std::string>> close;
  auto consider = [&](const char* candidate) {
    const std::string c = candidate;
    const size_t distance = editDistance(wanted, c);
    const bool prefix =
        wanted.size() >= 2 && strncasecmp(c.c_str(), wanted.c_str(), wanted.size()) == 0;
    // Up to two typing errors, fewer for very short names.
    const size_t allowed = wanted.size() <= 3 ? 1 : 2;
    if (distance <= allowed || prefix) close.emplace_back(prefix ? 0 : distance, c);
  };
  if (!wanted.empty()) {
    for (const FamilyName& family : FAMILY_NAMES) consider(family.name);
    for (const OutputFormat& format : OUTPUT_FORMATS) consider(format.shortName);
  }
  std::stable_sort(close.begin(), close.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> names;
  for (auto& entry : close) names.push_back(std::move(entry.second));
  return names;
}

int outputSizeSetting(const OutputFormat& format) {
  int* slot = sizeSettingSlot(format);
  return slot ? *slot : 0;
}

void setOutputSizeSetting(const OutputFormat& format, int value) {
  if (int* slot = sizeSettingSlot(format)) *slot = value;
}

}  // namespace vlm
