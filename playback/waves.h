// The voice samples a song carries: the wave data events of its VStream and the wave notes that
// start them, with their times in seconds.
#pragma once

#include <cstdint>
#include <vector>

namespace vlm {

struct EmbeddedWave {
  uint8_t number = 0;
  uint8_t rateCode = 0;           // 0..4, a 250 Hz step, or WAVE_RATE_NONE
  uint32_t sampleRate = 0;        // 0 when the wave has no samples
  uint32_t coding = 0;            // formats/adpcm.h; AdpcmCodec for waves that name none
  const uint8_t* data = nullptr;  // sample bytes inside the stream image
  uint32_t size = 0;
};

struct WaveNote {
  uint8_t number = 0;
  uint32_t tick = 0;
  double seconds = 0;  // at the song's own tempo
};

struct SongWaves {
  std::vector<EmbeddedWave> waves;  // in stream order
  std::vector<WaveNote> notes;      // in time order
  const EmbeddedWave* find(uint8_t number) const;
};

// Sample rate of a rate code: 0..4 give the five wave rates, a larger code (the 250 Hz steps of
// the SMAF form) code x 250; WAVE_RATE_NONE gives 0.
uint32_t waveRateOfCode(uint8_t code);

// The wave's samples as 16-bit linear values, decoded with the wave's own coding.
std::vector<int16_t> decodeEmbeddedWave(const EmbeddedWave& wave);
// The wave as a mono WAVE image (8-bit, or 16-bit for the codings with a 16-bit range).
std::vector<uint8_t> embeddedWaveImage(const EmbeddedWave& wave);

// Scans a VStream image for wave data and wave notes (bounds-checked; a cut stream gives what
// was read). A wave coding event gives the coding and the exact rate of the next wave data of
// its number.
void collectWaves(const uint8_t* stream, uint32_t size, SongWaves* out);

}  // namespace vlm
