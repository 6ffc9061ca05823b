// Offline rendering of a Standard MIDI File to 16-bit stereo PCM, much faster than real time: the
// synthesizer runs without an audio driver, on every core of the machine, and the song's voice
// samples are mixed in at the times of their wave notes. The PCM goes out block by block as it is
// made, so memory stays the same however long the song is.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vlm {

struct HandsetSong;

inline constexpr uint32_t DEFAULT_RENDER_RATE = 44100;
inline constexpr double RENDER_TAIL_SECONDS = 2.0;     // release tail after the last event, at most
inline constexpr uint32_t RENDER_BLOCK_FRAMES = 1024;  // frames the synthesizer makes per step
inline constexpr int MAX_RENDER_CORES = 16;

// A voice sample to mix: 16-bit mono samples at their own rate, started at `startSeconds`. Every
// note of one wave shares the one decoded copy.
struct RenderVoice {
  std::shared_ptr<const std::vector<int16_t>> samples;
  uint32_t sampleRate = 0;
  double startSeconds = 0;
};

struct RenderRequest {
  const uint8_t* smf = nullptr;  // Standard MIDI File image (plain or RIFF RMID)
  uint32_t smfSize = 0;
  std::string soundfont;  // empty: soundfontPath()
  uint32_t sampleRate = DEFAULT_RENDER_RATE;
  std::vector<RenderVoice> voices;
  // Set for a SMAF song that plays its own voices: the handset synthesizer plays them beside
  // FluidSynth, which plays only the notes routed to it, and `smf` is not used.
  const HandsetSong* handset = nullptr;
  // Synthesis threads; 0: chosen from the song (one, unless both synthesizers of a handset song
  // are busy enough for each to have its own). The sound is the same for any number.
  int cpuCores = 0;
};

struct RenderResult {
  uint32_t frames = 0;
  double songSeconds = 0;     // length of the song itself (without the tail)
  int cpuCores = 1;           // synthesis threads used
  bool outputFailed = false;  // the error is about writing the output, not about the song
};

// Receives the PCM, interleaved left and right, `frames` frames at a time in song order. False
// stops the rendering (the render then fails).
using RenderSink = std::function<bool(const int16_t* pcm, uint32_t frames)>;

// The synthesis threads of a request: the number asked for (at most MAX_RENDER_CORES), else one.
// FluidSynth's own threads cost more than they save on ringtones.
int renderCores(int requested);
// For a handset song: two threads, one per synthesizer, when both have at least
// HANDSET_PARALLEL_NOTES_PER_SECOND notes a second on average; else one.
inline constexpr double HANDSET_PARALLEL_NOTES_PER_SECOND = 2.0;
int handsetRenderCores(int requested, const HandsetSong& song);

// Renders the whole song into `sink`. 0 with `error` set when the file is not a Standard MIDI
// File, the SoundFont cannot be loaded, the song is too long for a WAVE file, there is no
// synthesizer, or the sink refused a block.
int renderSmf(const RenderRequest& request, const RenderSink& sink, RenderResult* result,
              std::string* error);

// Renders into `wave`, a complete RIFF WAVE image in memory (for short songs and the tests).
int renderSmfToWave(const RenderRequest& request, std::vector<uint8_t>* wave, RenderResult* result,
                    std::string* error);

// Renders into the WAVE file `path`: the data goes to a temporary file beside it as it is made,
// the header is completed at the end, and only a finished file is renamed into place. On failure
// `path` is untouched and no temporary file remains.
int renderSmfToFile(const RenderRequest& request, const char* path, RenderResult* result,
                    std::string* error);

// The voices of a song: each wave note of the VStream starts its wave, decoded once with its own
// codec. `tempoScale` multiplies the song's speed (tempo ratio / 256).
void voicesFromStream(const uint8_t* stream, uint32_t size, double tempoScale,
                      std::vector<RenderVoice>* voices);

// Header of a 16-bit PCM WAVE image.
void writeWaveHeader(uint8_t* header44, uint32_t sampleRate, uint16_t channels, uint32_t dataBytes);

}  // namespace vlm
