// The one table from FormatCode to everything the program knows about a format: extension,
// label, size key, dialog, reader and writer. Adding a format adds a row.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/options.h"
#include "core/stages.h"

namespace vlm {

inline constexpr FormatCode FORMAT_DIRECTORY = -2;
inline constexpr FormatCode FORMAT_PLAYLIST = -1;
inline constexpr FormatCode FORMAT_UNSUPPORTED = 0;
inline constexpr FormatCode FORMAT_MML = 1;
inline constexpr FormatCode FORMAT_SMF = 2;
inline constexpr FormatCode FORMAT_VLM = 3;
inline constexpr FormatCode FORMAT_DAT = 11;
inline constexpr FormatCode FORMAT_ALS = 12;
inline constexpr FormatCode FORMAT_DXM = 13;
inline constexpr FormatCode FORMAT_DXM32 = 14;
inline constexpr FormatCode FORMAT_CMD = 21;
inline constexpr FormatCode FORMAT_PMD_RAW = 22;
inline constexpr FormatCode FORMAT_MLD = 24;
inline constexpr FormatCode FORMAT_MEL = 41;
inline constexpr FormatCode FORMAT_SMD_TEXT = 51;
inline constexpr FormatCode FORMAT_SMZ_TEXT = 52;
inline constexpr FormatCode FORMAT_SMAF = 53;
inline constexpr FormatCode FORMAT_SMAF40 = 59;
inline constexpr FormatCode FORMAT_SMZ_SMAF = 57;
inline constexpr FormatCode FORMAT_PMD = 61;
inline constexpr FormatCode FORMAT_QCP = 71;
inline constexpr FormatCode FORMAT_WAV = 72;
inline constexpr FormatCode OUTPUT_COPY = -3;
inline constexpr FormatCode OUTPUT_MAIL = -4;

struct InputFormat {
  FormatCode code;
  const char* name;  // short description for `vlmconv formats`
  StageFn reader;    // null: no reader yet (code 3 needs none)
  bool base64Step;   // melody-mail text is decoded before reading
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
  StageFn writer;
};

const InputFormat* findInputFormat(FormatCode code);
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
const OutputFormat* outputFormats(int* count);
// The value of an output's size key in the options, 0 when it has none.
int outputSizeSetting(const OutputFormat& format);
void setOutputSizeSetting(const OutputFormat& format, int value);

// The passes between reader and writer; null until a pass exists (the stream then goes through
// unchanged).
StageFn fadePass();
StageFn transformPass();

// Classifies a path by extension and the first four bytes. "clip.txt" stands for the clipboard.
FormatCode detectFormat(const char* path);
// The same for a path already known to name a file (a folder walk's result): no stat.
FormatCode detectFileFormat(const char* path);

}  // namespace vlm
