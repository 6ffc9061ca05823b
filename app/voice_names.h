// The voice-name tables the dialogs show: General MIDI program names (mldname.dat), rhythm-note
// names by note number (dramname.dat) and feelsound program names (dxmname.dat). Each file holds
// 128 names, one per line, in Shift-JIS; each name is kept in a 23-byte slot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vlm {

inline constexpr int VOICE_NAME_COUNT = 128;
inline constexpr int VOICE_NAME_SLOT = 23;  // at most 22 bytes and the zero

inline constexpr const char* MLD_NAME_FILE = "mldname.dat";
inline constexpr const char* DRUM_NAME_FILE = "dramname.dat";
inline constexpr const char* DXM_NAME_FILE = "dxmname.dat";

using VoiceNameTable = char[VOICE_NAME_COUNT][VOICE_NAME_SLOT];

struct VoiceNames {
  VoiceNameTable mld = {};
  VoiceNameTable drum = {};
  VoiceNameTable dxm = {};
};
extern VoiceNames voiceNames;

// Fills a table from a file image: lines end in CR, LF or CR LF; a longer line is cut to 22
// bytes (never inside a double-byte character); missing lines give empty names.
void parseVoiceNames(const uint8_t* text, size_t size, VoiceNameTable& table);
// Loads the three files from `dataDir` (with or without a trailing '/'); a missing file leaves
// its table empty. Returns the number of files read.
int loadVoiceNames(const std::string& dataDir);

// Shift-JIS names; empty text for an out-of-range number.
const char* mldVoiceName(int program);
const char* drumName(int note);
const char* dxmVoiceName(int program);

}  // namespace vlm
