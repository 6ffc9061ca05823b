// The song's voice samples played along with the sequencer: each wave the song carries is
// decoded into its own temporary .wav file, and every wave note starts its file through the
// wave-sound output when the play position reaches it. The main window prepares it after a
// song is opened and drives it from its 100 ms position timer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "convert/options.h"
#include "platform/sequencer.h"

namespace vlm {

inline constexpr int PLAY_ALONG_MAX_VOICES = 32;

struct PlayAlongCue {
  uint32_t ms = 0;  // time in the played song (the tempo ratio applied)
  int voice = 0;    // index into PlayAlong::files
};

struct PlayAlong {
  std::vector<std::string> files;  // temporary .wav file of each voice with samples
  std::vector<uint8_t> numbers;    // the song's wave number of each file
  std::vector<PlayAlongCue> cues;  // in time order
  SongTiming timing;               // of the played SMF, for song-pointer positions
  bool haveTiming = false;
  size_t next = 0;  // first cue not started yet
  bool running = false;
};
extern PlayAlong playAlong;

// Decodes the waves of a VStream image (at most 32 with samples) into temporary files and
// lists its wave notes, their times divided by `tempoScale` (tempo ratio / 256). Releases what
// an earlier song left. Returns the number of voice files.
int preparePlayAlong(const uint8_t* stream, uint32_t size, double tempoScale);
// The same for an input file: read with its reader (readInput), at the tempo ratio of the
// options. `playedSmf` (may be null) is the temporary SMF that preparePlayback wrote, whose tempo
// map turns sequencer positions into milliseconds.
int preparePlayAlongForFile(const char* input, FormatCode code, const char* playedSmf);
// Deletes the temporary files and forgets the song (at the next open and at exit).
void releasePlayAlong();

bool songHasVoices();
// The temporary file of voice i ("" when out of range): command 125 copies the first one.
const char* playAlongFile(int i);

// Milliseconds of a sequencer position in song-pointer units (sixteenth notes), by the tempo map
// of the played SMF; 0 when it is unknown.
uint32_t playAlongPositionMs(uint32_t songPointer);

// Playback started or resumed at `fromMs`: cues before it are passed over.
void startPlayAlong(uint32_t fromMs);
// Starts the waves whose time has come (of several due at once only the latest is heard, as a
// new wave sound replaces the one playing). Nothing while stopped or with voice output off.
void playAlongTick(uint32_t positionMs);
// Pause or stop: no more cues, the wave sound stops.
void stopPlayAlong();

// Replaces the wave start (default playWaveSound) for tests; null restores it.
void setPlayAlongStarter(std::function<bool(const char* path)> starter);

}  // namespace vlm
