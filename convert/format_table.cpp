#include "convert/format_table.h"

#include <strings.h>

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
  return nullptr;
}

int outputSizeSetting(const OutputFormat& format) {
  int* slot = sizeSettingSlot(format);
  return slot ? *slot : 0;
}

void setOutputSizeSetting(const OutputFormat& format, int value) {
  if (int* slot = sizeSettingSlot(format)) *slot = value;
}

}  // namespace vlm
