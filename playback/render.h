// Offline rendering of a Standard MIDI File to a 16-bit stereo WAVE image, much faster than real
// time: the synthesizer runs without an audio driver, and the song's voice samples are mixed in
// at the times of their wave notes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vlm {

inline constexpr uint32_t DEFAULT_RENDER_RATE = 44100;
inline constexpr double RENDER_TAIL_SECONDS = 2.0;  // release tail after the last event, at most

// A voice sample to mix: 16-bit mono samples at their own rate, started at `startSeconds`.
struct RenderVoice {
  std::vector<int16_t> samples;
  uint32_t sampleRate = 0;
  double startSeconds = 0;
};

struct RenderRequest {
  const uint8_t* smf = nullptr;  // Standard MIDI File image (plain or RIFF RMID)
  uint32_t smfSize = 0;
  std::string soundfont;  // empty: soundfontPath()
  uint32_t sampleRate = DEFAULT_RENDER_RATE;
  std::vector<RenderVoice> voices;
};

struct RenderResult {
  uint32_t frames = 0;
  double songSeconds = 0;  // length of the song itself (without the tail)
};

// Renders into `wave` (a complete RIFF WAVE image). 0 with `error` set when the file is not a
// Standard MIDI File, the SoundFont cannot be loaded, or there is no synthesizer.
int renderSmfToWave(const RenderRequest& request, std::vector<uint8_t>* wave, RenderResult* result,
                    std::string* error);

// The voices of a song: each wave note of the VStream starts its wave, decoded with the codec of
// AdpcmCodec. `tempoScale` multiplies the song's speed (tempo ratio / 256).
void voicesFromStream(const uint8_t* stream, uint32_t size, double tempoScale,
                      std::vector<RenderVoice>* voices);

// Header of a 16-bit PCM WAVE image.
void writeWaveHeader(uint8_t* header44, uint32_t sampleRate, uint16_t channels, uint32_t dataBytes);

}  // namespace vlm
