#include "convert/format_table.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace vlm {

namespace {

// Open-dialog rows.
constexpr const char* OPEN_MIDI = "MIDIﾌｧｲﾙ";
constexpr const char* OPEN_P_MELODY = "Pﾒﾛﾃﾞｨﾌｧｲﾙ";
constexpr const char* OPEN_PMD = "623P用ﾊﾟﾅﾒﾛﾃﾞｨ/EZwebﾒﾛﾃﾞｨﾌｧｲﾙ";
constexpr const char* OPEN_JSKY = "J-SKYﾒﾛﾃﾞｨﾌｧｲﾙ";
constexpr const char* OPEN_SMAF = "J-SKY/EZweb用SMAFﾌｧｲﾙ";

constexpr uint32_t MAIL = INPUT_MAIL_TEXT;
constexpr uint32_t PROTECTED = INPUT_PROTECTED;
constexpr uint32_t SOUND = INPUT_SOUND;
constexpr uint32_t VOICES = INPUT_VOICES;

// The file types the setup tool registers. The text formats refine text/plain:
// a detector that finds text in the file then still prefers our type to another one of the same
// extension (MathML .mml, SMIL .sml).
constexpr FileType TYPE_ALS = {.checkBox = 301,
                               .label = "Pメロディ(als)",
                               .comment = "Pﾒﾛﾃﾞｨﾌｧｲﾙ",
                               .englishComment = "P-melody file",
                               .alias = "audio/x-alpha5"};
constexpr FileType TYPE_DXM = {.checkBox = 302,
                               .label = "feelsound(dxm)",
                               .comment = "feelsoundﾌｧｲﾙ",
                               .englishComment = "feelsound file",
                               .magic = "MCDF"};
constexpr FileType TYPE_MLD = {.checkBox = 303,
                               .label = "iメロディ(mld)",
                               .comment = "iﾒﾛﾃﾞｨﾌｧｲﾙ",
                               .englishComment = "i-melody file",
                               .magic = "melo"};
constexpr FileType TYPE_PMD = {.checkBox = 304,
                               .label = "EZwebメロディ(pmd)",
                               .comment = "EZwebﾒﾛﾃﾞｨﾌｧｲﾙ",
                               .englishComment = "EZweb melody file",
                               .magic = "cmid"};
constexpr FileType TYPE_JSKY = {.checkBox = 305,
                                .label = "J-SKYメロディ(smd/smz)",
                                .comment = "J-SKYﾒﾛﾃﾞｨﾌｧｲﾙ",
                                .englishComment = "J-SKY melody file",
                                .parentType = "text/plain"};
constexpr FileType TYPE_SMAF = {.checkBox = 306,
                                .label = "SMAF(mmf)",
                                .comment = "SMAFﾌｧｲﾙ",
                                .englishComment = "SMAF file",
                                .magic = "MMMD",
                                .parentType = "application/vnd.smaf",
                                .sharedType = "application/vnd.smaf"};
constexpr FileType TYPE_MML = {.checkBox = 307,
                               .label = "音楽ﾏｸﾛ言語(mml)",
                               .comment = "MMLﾌｧｲﾙ",
                               .englishComment = "MML file",
                               .parentType = "text/plain"};
constexpr FileType TYPE_MIDI = {.checkBox = 308,
                                .label = "MIDIファイル(mid)",
                                .comment = "MIDIﾌｧｲﾙ",
                                .englishComment = "MIDI file",
                                .magic = "MThd",
                                .parentType = "audio/midi",
                                .sharedType = "audio/midi"};
constexpr FileType TYPE_MEL = {.checkBox = 309,
                               .label = "ﾄﾞｯﾄiｽｰﾊﾟｰ着ﾒﾛ(mel/sml)",
                               .comment = "ﾄﾞｯﾄiｽｰﾊﾟｰ着ﾒﾛ",
                               .englishComment = "Dot-i Super ringtone",
                               .parentType = "text/plain"};

// Input formats, by the code detectFormat returns: code, description, extensions, magic,
// open-dialog row, reader, flags, the setup tool's file type and the extensions it takes.
const InputFormat INPUT_FORMATS[] = {
    {FORMAT_MML, "MML text (.mml, .mmlc)", ".mml .mmlc", nullptr, "VlmPlayer専用MMLﾌｧｲﾙ", readMml,
     0, &TYPE_MML, ".mml"},
    {FORMAT_SMF, "Standard MIDI File (.mid, .midi, .rmi, .kar)", ".mid .midi .rmi .kar .pmd?",
     "MThd", OPEN_MIDI, readSmf, 0, &TYPE_MIDI, ".mid"},
    {FORMAT_VLM, "event stream (.vlm)", ".vlm", nullptr, nullptr, nullptr, 0, nullptr, nullptr},
    {FORMAT_DAT, "P-melody (.dat)", ".dat", nullptr, OPEN_P_MELODY, readDat, MAIL, nullptr,
     nullptr},
    {FORMAT_ALS, "P-melody (.als)", ".als", nullptr, OPEN_P_MELODY, readAls, 0, &TYPE_ALS, ".als"},
    {FORMAT_DXM, "feelsound (.dxm)", ".dxm", nullptr, "feelsoundﾌｧｲﾙ", readSmf, 0, &TYPE_DXM,
     ".dxm"},
    {FORMAT_CMD, "chara-melody (.cmd)", ".cmd", nullptr, "きゃらﾒﾛﾃﾞｨﾌｧｲﾙ", readCmd, 0, nullptr,
     nullptr},
    {FORMAT_PMD_RAW, "PMD without header (.pmd)", ".pmd", nullptr, OPEN_PMD, readPmdRaw, 0, nullptr,
     nullptr},
    {FORMAT_MLD, "i-melody (.mld, .dlm, .txt)", ".mld .dlm .txt", nullptr, "iﾒﾛﾃﾞｨﾌｧｲﾙ", readMld,
     MAIL | VOICES, &TYPE_MLD, ".mld"},
    {FORMAT_MEL, "melody (.mmd, .mel, .sml)", ".mmd .mel .sml", nullptr, "ﾄﾞｯﾄiｽｰﾊﾟｰ着ﾒﾛﾌｧｲﾙ",
     readMel, 0, &TYPE_MEL, ".mel .sml"},
    {FORMAT_SMD_TEXT, "J-SKY text melody (.smd)", ".smd", nullptr, OPEN_JSKY, readJskyText, 0,
     &TYPE_JSKY, ".smd"},
    {FORMAT_SMZ_TEXT, "J-SKY text melody, protected (.smz)", ".smz", nullptr, OPEN_JSKY,
     readJskyText, PROTECTED, &TYPE_JSKY, ".smz"},
    {FORMAT_SMAF, "SMAF (.mmf, .smd)", ".mmf .smd?", "MMMD", OPEN_SMAF, readSmaf, VOICES,
     &TYPE_SMAF, ".mmf"},
    {FORMAT_SMZ_SMAF, "SMAF, protected (.smz)", ".smz?", "MMMD", OPEN_SMAF, readSmaf,
     PROTECTED | VOICES, nullptr, nullptr},
    {FORMAT_PMD, "EZweb PMD (.pmd)", ".pmd?", "cmid", OPEN_PMD, readMld, 0, &TYPE_PMD, ".pmd"},
    {FORMAT_QCP, "voice file (.qcp)", ".qcp", nullptr, nullptr, readQcp, SOUND, nullptr, nullptr},
    {FORMAT_WAV, "WAVE sound (.wav)", ".wav", nullptr, "ｻｳﾝﾄﾞﾌｧｲﾙ", readWave, SOUND, nullptr,
     nullptr},
};

constexpr uint32_t FEW = OUT_FEW_VOICES;
constexpr uint32_t EZ = OUT_EZWEB;
constexpr uint32_t WAVES = OUT_WAVE_DATA;
constexpr uint32_t NO_EXCL = OUT_NO_VOICE_EXCLUSIVE;
// What the handsets of few voices and the 40-voice ones lack.
constexpr uint32_t MLD_FEW =
    FEW | OUT_NO_VIBRATION_LED | OUT_NO_WIDE_NOTES | OUT_NO_WAVE_QUALITY | OUT_NO_HANDSET_TYPE;
constexpr uint32_t MLD_40 = NO_EXCL | OUT_NO_WAVE_QUALITY | OUT_NO_HANDSET_TYPE;
constexpr uint32_t SMAF_FEW =
    FEW | OUT_NO_LED | OUT_NO_HIGH_QUALITY | OUT_NO_WIDE_NOTES | OUT_NO_WAVE_QUALITY;
constexpr uint32_t SMAF_40 =
    OUT_NO_HIGH_QUALITY | OUT_NO_WIDE_NOTES | NO_EXCL | OUT_NO_WAVE_QUALITY | OUT_NO_KARAOKE_LINE;
constexpr uint32_t PMD_FEW = FEW | EZ | OUT_NO_VIBRATION_LED | OUT_NO_WIDE_NOTES |
                             OUT_NO_WAVE_QUALITY | OUT_NO_KARAOKE | OUT_NO_HANDSET_TYPE;

// Handset presets. The timing of each family first, then the voices of each handset.
constexpr TargetPreset NO_HANDSET = {};  // the outputs that keep the input's bytes
constexpr TargetPreset MIDI_TIMING = {};
constexpr TargetPreset FEEL12_TIMING = {.channelCount = 4, .maxTempo = 255};
constexpr TargetPreset FEEL32_TIMING = {.maxTempo = 500};
constexpr TargetPreset MLD_TIMING = {.maxTimebase = 960, .maxTempo = 255};
constexpr TargetPreset SMAF_TIMING = {
    .oneVoicePerChannel = true, .fixedTempo = true, .fixedTempoValue = 125};
constexpr TargetPreset SMAF40_TIMING = {.fixedTempo = true, .fixedTempoValue = 125};

// Preset switches, only for writing the rows.
enum : uint32_t {
  ONE_VOICE = 0x01,    // chords split over one-voice channels
  TRACKS_4 = 0x02,     // one track per group of 4 channels
  PSG = 0x04,          // 3-voice square wave
  FM_4 = 0x08,         // 4-voice FM
  FIXED_TEMPO = 0x10,  // one tempo, the ticks absorb its changes
  TOP_NOTE = 0x20,     // compression finds its top note in the song
  VOICE_EXCL = 0x40,   // the 4-voice voice-parameter exclusive
};

constexpr TargetPreset handset(TargetPreset p, uint8_t polyphony, uint8_t low, uint8_t high,
                               int32_t version, uint32_t switches = 0, uint8_t family = 0) {
  p.polyphony = polyphony;
  p.lowestNote = low;
  p.highestNote = high;
  p.formatVersion = version;
  p.familyCode = family;
  p.oneVoicePerChannel = p.oneVoicePerChannel || (switches & ONE_VOICE);
  p.fourChannelTracks = switches & TRACKS_4;
  p.psgSource = switches & PSG;
  p.fourVoiceFm = switches & FM_4;
  p.fixedTempo = p.fixedTempo || (switches & FIXED_TEMPO);
  p.topNoteFromSong = switches & TOP_NOTE;
  p.voiceParamExclusive = switches & VOICE_EXCL;
  return p;
}

constexpr uint32_t MLD_FM16 = ONE_VOICE | TRACKS_4;
constexpr uint32_t MLD_PSG3 = ONE_VOICE | TRACKS_4 | PSG;
constexpr TargetPreset PSG_HANDSET = handset(MLD_TIMING, 3, 45, 107, 1, MLD_PSG3);
constexpr uint32_t MLD_FM4 = ONE_VOICE | TRACKS_4 | FM_4 | FIXED_TEMPO;
constexpr uint32_t SMAF_FM4 = FM_4 | TOP_NOTE | VOICE_EXCL;

// What the run corrects, by handset.
constexpr uint32_t FIX_MLD16 = FIX_NOTE_TYPE | FIX_DRUM_BANK;
constexpr uint32_t FIX_FEW = FIX_SHORT_NOTES | FIX_NO_DRUM_PRIORITY;
constexpr uint32_t FIX_FM4 = FIX_FEW | FIX_NO_VOLUME_CHANGES;
constexpr uint32_t FIX_PMD16 =
    FIX_NOTE_TYPE | FIX_PMD_TRACKS | FIX_NO_BEND_RANGE | FIX_KEEP_TEMPO_FIXES;

constexpr MenuPlace inMenu(int group, int order) {
  return {group, order};
}
constexpr MenuPlace NO_MENU = {CONVERT_GROUP_NONE, 0};

using O = ConversionOptions;
constexpr int O::*DXM_TB = &O::DxmBsTime;
constexpr int O::*MLD_TB = &O::MldBsTime;
constexpr int O::*MMF_TB = &O::MmfBsTime;

// Output formats: code, command id, menu label, short name, extension, size key, dialog,
// melody-mail text length, traits, writer, handset preset, run corrections, timebase key,
// place in the convert menu.
const OutputFormat OUTPUT_FORMATS[] = {
    {FORMAT_SMF, 101, "MIDIﾌｧｲﾙ作成", "mid", ".mid", nullptr, 10, 0, 0, writeSmf,
     handset(MIDI_TIMING, 64, 0, 127, 1), FIX_IMITATED_HANDSET, nullptr,
     inMenu(CONVERT_GROUP_FILE, 10)},
    {FORMAT_DXM, 102, "feelsound12和音作成", "dxm12", ".dxm", "DxmSize", 12, 0, 0, writeDxm,
     handset(FEEL12_TIMING, 12, 0, 127, 1), FIX_TIMEBASE_24 | FIX_NO_BEND_RANGE | FIX_NO_DRUM_BANK,
     DXM_TB, inMenu(CONVERT_GROUP_FEELSOUND, 11)},
    {FORMAT_DXM32, 103, "feelsound32和音作成", "dxm32", ".dxm", "DxmSize", 12, 0,
     OUT_NO_COMPRESSION, writeDxm, handset(FEEL32_TIMING, 32, 0, 127, 2),
     FIX_TIMEBASE_24 | FIX_NO_DRUM_BANK, DXM_TB, inMenu(CONVERT_GROUP_FEELSOUND, 10)},
    {FORMAT_MLD, 105, "iﾒﾛﾃﾞｨFM16和音作成(N)", "mld-fm16n", ".mld", "Mld2Size", 9, 498,
     WAVES | NO_EXCL, writeMld, handset(MLD_TIMING, 16, 21, 119, 2, MLD_FM16, 0x11),
     FIX_NOTE_TYPE | FIX_FM_HANDSET, MLD_TB, inMenu(CONVERT_GROUP_MLD, 24)},
    {FORMAT_MLD_PCM16, 106, "iﾒﾛﾃﾞｨPCM16和音作成(P,D)", "mld-pcm16", ".mld", "Mld2Size", 9, 498,
     NO_EXCL, writeMld, handset(MLD_TIMING, 16, 21, 119, 2, TRACKS_4), FIX_MLD16, MLD_TB,
     inMenu(CONVERT_GROUP_MLD, 23)},
    {FORMAT_MLD_PCM24SO, 107, "iﾒﾛﾃﾞｨPCM24和音作成(SO)", "mld-pcm24so", ".mld", "Mld2Size", 9, 498,
     NO_EXCL, writeMld, handset(MLD_TIMING, 24, 21, 119, 2, TRACKS_4, 0x31), FIX_MLD16, MLD_TB,
     inMenu(CONVERT_GROUP_MLD, 22)},
    {FORMAT_MLD_PCM32, 108, "iﾒﾛﾃﾞｨPCM32和音作成(633S)", "mld-pcm32", ".mld", "Mld2Size", 9, 14037,
     NO_EXCL | OUT_LONG_MAIL, writeMld, handset(MLD_TIMING, 32, 21, 119, 2, TRACKS_4), FIX_MLD16,
     MLD_TB, inMenu(CONVERT_GROUP_MLD, 20)},
    {FORMAT_MLD_FM16F, 109, "iﾒﾛﾃﾞｨFM16和音作成(F)", "mld-fm16f", ".mld", "Mld2Size", 9, 498,
     WAVES | NO_EXCL, writeMld, handset(MLD_TIMING, 16, 21, 119, 2, MLD_FM16, 0x21),
     FIX_NOTE_TYPE | FIX_FM_HANDSET, MLD_TB, inMenu(CONVERT_GROUP_MLD, 25)},
    {FORMAT_MLD_PCM24D, 110, "iﾒﾛﾃﾞｨPCM24和音作成(D211i)", "mld-pcm24d", ".mld", "Mld2Size", 9, 498,
     NO_EXCL, writeMld, handset(MLD_TIMING, 24, 21, 119, 2, TRACKS_4, 0x61), FIX_MLD16, MLD_TB,
     inMenu(CONVERT_GROUP_MLD, 21)},
    {FORMAT_MLD_40, 111, "iﾒﾛﾃﾞｨ40和音作成(251/504i)", "mld-40", ".mld", "Mld2Size", 18, 498,
     MLD_40, writeMld, handset(MLD_TIMING, 40, 21, 119, 3, TRACKS_4), FIX_MLD16, MLD_TB,
     inMenu(CONVERT_GROUP_MLD, 10)},
    {FORMAT_MLD_40SO, 126, "iﾒﾛﾃﾞｨ40和音作成(SO504i)", "mld-40so", ".mld", "Mld2Size", 18, 498,
     WAVES | MLD_40, writeMld, handset(MLD_TIMING, 40, 21, 119, 3, TRACKS_4, 0x31), FIX_MLD16,
     MLD_TB, inMenu(CONVERT_GROUP_MLD, 11)},
    {FORMAT_MLD_3, 112, "iﾒﾛﾃﾞｨ3和音作成(P,D,SO)", "mld-3", ".mld", "Mld1Size", 9, 498, MLD_FEW,
     writeMld, PSG_HANDSET, FIX_FEW, MLD_TB, inMenu(CONVERT_GROUP_MLD, 41)},
    {FORMAT_MLD_3SH, 113, "iﾒﾛﾃﾞｨ3和音作成(SH821i)", "mld-3sh", ".mld", "Mld1Size", 9, 3000,
     MLD_FEW, writeMld, handset(MLD_TIMING, 3, 56, 107, 1, MLD_PSG3), FIX_FEW, MLD_TB,
     inMenu(CONVERT_GROUP_MLD, 40)},
    {FORMAT_MLD_4S, 114, "iﾒﾛﾃﾞｨ4和音作成(641S)", "mld-4s", ".mld", "Mld1Size", 9, 3000,
     MLD_FEW | OUT_LONG_MAIL, writeMld, handset(MLD_TIMING, 4, 45, 107, 1, MLD_FM4), FIX_FM4,
     MLD_TB, inMenu(CONVERT_GROUP_MLD, 30)},
    {FORMAT_MLD_4, 115, "iﾒﾛﾃﾞｨ4和音作成(N,F209i)", "mld-4", ".mld", "Mld1Size", 9, 498, MLD_FEW,
     writeMld, handset(MLD_TIMING, 4, 45, 107, 1, MLD_FM4 | TOP_NOTE, 0x01), FIX_FM4, MLD_TB,
     inMenu(CONVERT_GROUP_MLD, 32)},
    {FORMAT_MLD_4P, 116, "iﾒﾛﾃﾞｨ4和音作成(641P)", "mld-4p", ".mld", "Mld1Size", 9, 4000,
     MLD_FEW | OUT_LONG_MAIL, writeMld,
     handset(MLD_TIMING, 4, 45, 107, 1, MLD_FM4 | TOP_NOTE | VOICE_EXCL, 0x01), FIX_FM4, MLD_TB,
     inMenu(CONVERT_GROUP_MLD, 31)},
    {FORMAT_SMAF, 120, "SMAF16和音作成(J-SKY)", "mmf16j", ".mmf", "JMmfSize", 11, 0,
     WAVES | NO_EXCL, writeSmaf, handset(SMAF_TIMING, 16, 1, 120, 2), FIX_NOTE_TYPE, MMF_TB,
     inMenu(CONVERT_GROUP_SMAF, 20)},
    {FORMAT_SMAF_EZWEB, 121, "SMAF16和音作成(EZweb)", "mmf16ez", ".mmf", "EzMmfSize", 11, 0,
     EZ | WAVES | NO_EXCL, writeSmaf, handset(SMAF_TIMING, 16, 1, 120, 2), FIX_NOTE_TYPE, MMF_TB,
     inMenu(CONVERT_GROUP_SMAF, 21)},
    {FORMAT_SMAF4, 122, "SMAF4和音作成(J-SKY)", "mmf4j", ".mmf", "JMmfSize", 11, 0, SMAF_FEW,
     writeSmaf, handset(SMAF_TIMING, 4, 37, 108, 1, SMAF_FM4), FIX_FM4 | FIX_NO_HIGH_QUALITY,
     MMF_TB, inMenu(CONVERT_GROUP_SMAF, 30)},
    {FORMAT_SMAF4_EZWEB, 123, "SMAF4和音作成(EZweb)", "mmf4ez", ".mmf", "EzMmfSize", 11, 0,
     SMAF_FEW | EZ, writeSmaf, handset(SMAF_TIMING, 4, 37, 108, 1, SMAF_FM4),
     FIX_FM4 | FIX_NO_HIGH_QUALITY, MMF_TB, inMenu(CONVERT_GROUP_SMAF, 31)},
    {FORMAT_SMAF40, 124, "SMAF40和音作成", "mmf40", ".mmf", "Mmf3Size", 11, 0, SMAF_40, writeSmaf40,
     handset(SMAF40_TIMING, 40, 0, 127, 1), FIX_MASTER_VOLUME | FIX_DRUM_BANK_ALL_MELODIC, MMF_TB,
     inMenu(CONVERT_GROUP_SMAF, 10)},
    {FORMAT_PMD, 117, "au-PMD16和音作成", "pmd16", ".pmd", "PmdSize", 2, 0, EZ | OUT_TEMPO_FIXES,
     writeMld, handset(MLD_TIMING, 16, 21, 119, 2), FIX_PMD16, MLD_TB,
     inMenu(CONVERT_GROUP_PMD, 10)},
    {FORMAT_PMD16B, 118, "", "pmd16b", ".pmd", "PmdSize", 2, 0, EZ, writeMld,
     handset(MLD_TIMING, 16, 21, 119, 2), FIX_PMD16, MLD_TB, NO_MENU},
    {FORMAT_PMD3, 119, "au-PMD3和音作成", "pmd3", ".pmd", "PmdSize", 2, 0, PMD_FEW, writeMld,
     PSG_HANDSET, FIX_FEW | FIX_KEEP_TEMPO_FIXES, MLD_TB, inMenu(CONVERT_GROUP_PMD, 20)},
    {OUTPUT_COPY, 132, "", "copy", nullptr, nullptr, 0, 0, 0, nullptr, NO_HANDSET, 0, nullptr,
     NO_MENU},
    {OUTPUT_MAIL, 135, "Outlook送信\tCtrl+M", "mail", nullptr, nullptr, 7, 0, 0, nullptr,
     NO_HANDSET, 0, nullptr, NO_MENU},
};

// The variant a family name picks: the one most handsets of the family play (16 voices; the
// first handset maker of each menu), which is also the variant a file of the family is read as.
struct FamilyName {
  const char* name;
  FormatCode code;
};
const FamilyName FAMILY_NAMES[] = {
    {"mld", FORMAT_MLD},   // iﾒﾛﾃﾞｨFM16和音作成(N)
    {"pmd", FORMAT_PMD},   // au-PMD16和音作成
    {"mmf", FORMAT_SMAF},  // SMAF16和音作成(J-SKY)
    {"dxm", FORMAT_DXM},   // feelsound12和音作成
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

const InputFormat* inputFormats(int* count) {
  *count = int(sizeof INPUT_FORMATS / sizeof INPUT_FORMATS[0]);
  return INPUT_FORMATS;
}

std::vector<const FileType*> fileTypes() {
  std::vector<const FileType*> types;
  for (const InputFormat& format : INPUT_FORMATS)
    if (format.fileType && std::find(types.begin(), types.end(), format.fileType) == types.end())
      types.push_back(format.fileType);
  std::stable_sort(types.begin(), types.end(),
                   [](const FileType* a, const FileType* b) { return a->checkBox < b->checkBox; });
  return types;
}

const OutputFormat* outputFormats(int* count) {
  *count = int(sizeof OUTPUT_FORMATS / sizeof OUTPUT_FORMATS[0]);
  return OUTPUT_FORMATS;
}

bool isImelodyOutput(FormatCode code) {
  const OutputFormat* format = findOutputFormat(code);
  return format && format->mailTextLimit > 0;
}

bool hasOutputTrait(FormatCode code, uint32_t trait) {
  const OutputFormat* format = findOutputFormat(code);
  return format && (format->traits & trait);
}

const InputFormat* findInputFormat(FormatCode code) {
  for (const InputFormat& format : INPUT_FORMATS)
    if (format.code == code) return &format;
  return nullptr;
}

bool hasInputFlag(FormatCode code, uint32_t flags) {
  const InputFormat* format = findInputFormat(code);
  return format && (format->flags & flags);
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
