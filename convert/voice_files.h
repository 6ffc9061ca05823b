// The sound files of a song, prepared before it is read: a .qcp voice file turned into a .wav by
// the outside voice converter (pvconv), a .wav copied to a temporary file, and the wave a "save
// as WAVE" command copies. The player and the command line share these steps.
#pragma once

#include <cstdint>
#include <string>

#include "convert/format_table.h"

namespace vlm {

// The name of the outside voice converter that turns a .qcp into a .wav.
inline constexpr const char* VOICE_CONVERTER = "pvconv";

// A new empty file in $TMPDIR whose name ends in `suffix`; empty when none could be made.
std::string newTempFile(const char* suffix);
bool copyFileTo(const std::string& from, const std::string& to);

// The voice converter beside `programDir` (or in its ../bin) or on PATH; empty when there is none.
std::string findVoiceConverter(const std::string& programDir);
// Runs the voice converter on a copy of `qcp` and leaves the .wav it made in a temporary file
// (`*wave`, which the caller removes). false with the reason in `*failure` when no wave came.
bool convertQcpToWave(const std::string& programDir, const std::string& qcp, std::string* wave,
                      std::string* failure);

// The player's wave device, which measures a sound: open it on a file, then ask its length.
struct WaveDevice {
  void (*open)(const char* path);
  uint32_t (*lengthMs)();
};

// Before a .qcp or .wav song is read: the .qcp becomes a .wav (runState.convertedWavePath, kept
// only when the device measures it), the .wav is copied to `waveTemp` (replacing the last copy).
// With a device, the sound is opened on it and measured 100 ms later, and its length in tenths
// of a second goes to options.waveLengthTenths; without one the reader measures the file.
void prepareWave(FormatCode code, const std::string& path, const std::string& programDir,
                 std::string& waveTemp, const WaveDevice* device);

// The wave a "save as WAVE" command copies: the copy of a .wav song, the converted wave of a
// .qcp, else the first voice sample of a song that has them (`voiceWave`); empty when none.
std::string waveToSave(FormatCode code, const std::string& waveTemp, const std::string& voiceWave);

}  // namespace vlm
