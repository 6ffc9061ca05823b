// The one table from FormatCode to everything the program knows about a format: extensions and
// magic bytes, labels, the setup tool's file type, size and timebase keys, dialog and traits,
// handset preset and run corrections, convert menu place, reader and writer. Detection,
// the open dialog, the setup tool's associations, the presets, the file settings dialog, the
// convert menu and the golden set read it; adding a format adds a row.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/options.h"
#include "core/stages.h"

namespace vlm {

// InputFormat::flags.
inline constexpr uint32_t INPUT_MAIL_TEXT = 0x01;  // may come as melody-mail text, decoded first
inline constexpr uint32_t INPUT_PROTECTED = 0x02;  // the file forbids copying: the song is marked
inline constexpr uint32_t INPUT_SOUND = 0x04;      // a recorded sound: measured and kept as a wave
inline constexpr uint32_t INPUT_VOICES = 0x08;     // its voice samples are played beside the song

// A file type the setup tool registers for the player: one check box and one MIME type. Input
// rows of one family share it (.smd and .smz); it takes the extensions the rows associate.
struct FileType {
  int checkBox = 0;                      // the setup tool's check box id, 301..
  const char* label = nullptr;           // check box text
  const char* comment = nullptr;         // display name of the MIME type (Japanese)
  const char* englishComment = nullptr;  // its English name; null = the Japanese one
  const char* alias = nullptr;           // the content type of old, kept as an alias; null = none
  const char* magic = nullptr;           // four bytes at offset 0 that mark the format; null = none
  const char* parentType = nullptr;      // a well-known type this one refines; null = none
  // The system's own type of the same format, which a checked box also makes vlmplay open;
  // null = none.
  const char* sharedType = nullptr;
};

// How detection knows an input: its extensions, and for some of them the first bytes. An
// extension written with a trailing '?' counts only when the file starts with `magic`; the
// others count whatever the file holds, after every format whose magic matched.
struct InputFormat {
  FormatCode code;
  const char* name;        // short description for `vlmconv formats`
  const char* extensions;  // ".mid .midi", space-separated, lower case
  const char* magic;       // four bytes, null = none
  const char* openGroup;   // the open dialog's row (rows with one label share it), null = "all"
  StageFn reader;          // null only for the event stream, which needs no reader
  uint32_t flags;
  const FileType* fileType;  // the type the setup tool registers, null = none
  const char* associated;    // the extensions that type takes from this row, ".mel .sml"
};

// OutputFormat::traits.
inline constexpr uint32_t OUT_FEW_VOICES = 0x01;  // a 3- or 4-voice handset
inline constexpr uint32_t OUT_EZWEB = 0x02;       // an EZweb handset
inline constexpr uint32_t OUT_WAVE_DATA = 0x04;   // can carry the song's voice samples
// What a handset lacks; its file settings dialog disables the matching controls.
inline constexpr uint32_t OUT_NO_VIBRATION_LED = 0x0008;    // vibration and LED links
inline constexpr uint32_t OUT_NO_LED = 0x0010;              // the LED link (also unchecked)
inline constexpr uint32_t OUT_NO_COMPRESSION = 0x0020;      // polyphony compression, joining
inline constexpr uint32_t OUT_NO_HIGH_QUALITY = 0x0040;     // high-quality 8-voice FM
inline constexpr uint32_t OUT_NO_WIDE_NOTES = 0x0080;       // wide note range and velocity
inline constexpr uint32_t OUT_NO_VOICE_EXCLUSIVE = 0x0100;  // the 4-voice voice exclusive
inline constexpr uint32_t OUT_NO_WAVE_QUALITY = 0x0200;     // high-quality voice conversion
inline constexpr uint32_t OUT_NO_KARAOKE = 0x0400;          // karaoke marks
inline constexpr uint32_t OUT_NO_KARAOKE_LINE = 0x0800;     // karaoke line length
inline constexpr uint32_t OUT_NO_HANDSET_TYPE = 0x1000;     // the handset type choice
// The EZweb tempo corrections (C4xxS, a leading sixteenth), with wide notes only.
inline constexpr uint32_t OUT_TEMPO_FIXES = 0x2000;
// Its melody mail takes more than 500 bytes.
inline constexpr uint32_t OUT_LONG_MAIL = 0x4000;

// OutputFormat::runFixes: what the run corrects in the preset and the options for the output
// once the song is read (adjustForRun); undone after the run.
inline constexpr uint32_t FIX_IMITATED_HANDSET = 0x0001;  // MIDI: the effects `midmono` lacks
inline constexpr uint32_t FIX_TIMEBASE_24 = 0x0002;       // 24 ticks, the source's divided down
inline constexpr uint32_t FIX_NO_BEND_RANGE = 0x0004;     // the bend-range effect is dropped
inline constexpr uint32_t FIX_NOTE_TYPE = 0x0008;         // wide note events as `mldnote` says
inline constexpr uint32_t FIX_SHORT_NOTES = 0x0010;       // never wide note events
inline constexpr uint32_t FIX_FM_HANDSET = 0x0020;        // remembers the FM family; voice timing
inline constexpr uint32_t FIX_DRUM_BANK = 0x0040;         // drum bank for all-melodic or bank 0x1B
inline constexpr uint32_t FIX_DRUM_BANK_ALL_MELODIC = 0x0080;  // drum bank for all-melodic songs
inline constexpr uint32_t FIX_NO_DRUM_PRIORITY = 0x0100;       // no channels kept for drums
inline constexpr uint32_t FIX_NO_VOLUME_CHANGES = 0x0200;      // volume changes are not written
inline constexpr uint32_t FIX_NO_HIGH_QUALITY = 0x0400;        // no high-quality 8-voice FM
inline constexpr uint32_t FIX_MASTER_VOLUME = 0x0800;  // a master volume when the song has none
// One track per group of 4 channels unless `pmdfmt0` (in the preset too).
inline constexpr uint32_t FIX_PMD_TRACKS = 0x1000;
inline constexpr uint32_t FIX_NO_DRUM_BANK = 0x2000;  // no drum bank when saving
// The EZweb tempo corrections (`pmdtmpc4s`, `pmdtopplus`) stay when saving for EZweb with wide
// note events; every other output drops them.
inline constexpr uint32_t FIX_KEEP_TEMPO_FIXES = 0x4000;

// The convert menu's submenus.
inline constexpr int CONVERT_GROUP_NONE = 0;  // no menu item (command only)
inline constexpr int CONVERT_GROUP_FILE = 1;
inline constexpr int CONVERT_GROUP_FEELSOUND = 2;
inline constexpr int CONVERT_GROUP_MLD = 3;
inline constexpr int CONVERT_GROUP_PMD = 4;
inline constexpr int CONVERT_GROUP_SMAF = 5;

// Where the convert menu shows an output: its submenu and its place there. The tens of `order`
// are the sections of the submenu, with a separator between two.
struct MenuPlace {
  int group;
  int order;
};

struct OutputFormat {
  FormatCode code;
  int command;        // command id of the convert command
  const char* label;  // menu label (UTF-8)
  const char* shortName;
  const char* extension;
  const char* sizeKey;  // settings key of the size limit, null = none
  int dialog;           // resource id of the option dialog, 0 = none
  int mailTextLimit;    // characters of a melody-mail text, 0 = not i-melody
  uint32_t traits;
  StageFn writer;  // null only for the copy and the mail, which keep the input's bytes
  // The handset: what applyOutputPreset starts from. The target timebase comes from the
  // timebase key and the EZweb mark from the traits.
  TargetPreset preset;
  uint32_t runFixes;                    // FIX_*
  int ConversionOptions::*timebaseKey;  // the settings value of the timebase, null = none
  MenuPlace menu;
};

const InputFormat* findInputFormat(FormatCode code);
// Whether the input row of `code` has one of `flags` (INPUT_*); false for codes without a row.
bool hasInputFlag(FormatCode code, uint32_t flags);
const OutputFormat* findOutputFormat(FormatCode code);
// By number, short name or family name (case-insensitive).
const OutputFormat* findOutputFormat(const char* codeOrName);
// The family names: "mld", "pmd", "mmf" and "dxm" stand for the most common variant of their
// family. The family name of an output code, null when it is no family's choice.
const char* outputFamilyName(FormatCode code);
// Short and family names that come close to a name that matched none (a few typing errors, or
// the name as the start of theirs), best first; empty when none does.
std::vector<std::string> closeOutputNames(const char* name);
const InputFormat* inputFormats(int* count);
// The file types of the input rows, each once, by check box id.
std::vector<const FileType*> fileTypes();
// An i-melody output: one with a melody-mail text length.
bool isImelodyOutput(FormatCode code);
bool hasOutputTrait(FormatCode code, uint32_t trait);
const OutputFormat* outputFormats(int* count);
// The value of an output's size key in the options, 0 when it has none.
int outputSizeSetting(const OutputFormat& format);
void setOutputSizeSetting(const OutputFormat& format, int value);

// Classifies a path by extension and the first four bytes, as the input rows say. "clip.txt"
// stands for the clipboard.
FormatCode detectFormat(const char* path);
// The same for a path already known to name a file (a folder walk's result): no stat.
FormatCode detectFileFormat(const char* path);

}  // namespace vlm
