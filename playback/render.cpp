// Offline rendering: FluidSynth's player on a synthesizer without an audio driver, driven by
// fluid_synth_write_s16 in blocks, with the song's voice samples added afterwards.
#include "playback/render.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/codec.h"
#include "formats/adpcm.h"
#include "platform/audio.h"
#include "platform/sequencer.h"
#include "playback/waves.h"

#ifdef VLM_HAVE_FLUIDSYNTH
#include <fluidsynth.h>
#endif

namespace vlm {

namespace {
constexpr int RENDER_BLOCK = 1024;  // frames per write
constexpr uint32_t MIN_RATE = 8000;
constexpr uint32_t MAX_RATE = 192000;
constexpr double VOICE_GAIN = 0.8;  // voice samples sit a little under full scale
constexpr double SYNTH_GAIN = 0.5;  // FluidSynth's default of 0.2 renders very quietly
}  // namespace

void writeWaveHeader(uint8_t* h, uint32_t sampleRate, uint16_t channels, uint32_t dataBytes) {
  std::memcpy(h, "RIFF", 4);
  putLE(h + 4, dataBytes + 36, 4);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  putLE(h + 16, 16, 4);
  putLE(h + 20, 1, 2);
  putLE(h + 22, channels, 2);
  putLE(h + 24, sampleRate, 4);
  putLE(h + 28, sampleRate * channels * 2, 4);
  putLE(h + 32, channels * 2, 2);
  putLE(h + 34, 16, 2);
  std::memcpy(h + 36, "data", 4);
  putLE(h + 40, dataBytes, 4);
}

void voicesFromStream(const uint8_t* stream, uint32_t size, double tempoScale,
                      std::vector<RenderVoice>* voices) {
  SongWaves song;
  collectWaves(stream, size, &song);
  if (tempoScale <= 0) tempoScale = 1;
  for (const WaveNote& note : song.notes) {
    const EmbeddedWave* wave = song.find(note.number);
    if (!wave) continue;
    RenderVoice v;
    v.sampleRate = wave->sampleRate;
    v.startSeconds = note.seconds / tempoScale;
    v.samples.resize(size_t(wave->size) * 2);
    decodeAdpcmToLinear(wave->data, wave->size, v.samples.data());
    voices->push_back(std::move(v));
  }
}

namespace {

// Adds a voice into interleaved stereo floats, growing the buffer when the voice runs past it.
void mixVoice(const RenderVoice& v, uint32_t rate, std::vector<float>* mix) {
  if (!v.sampleRate || v.samples.empty()) return;
  const size_t start = size_t(std::max(0.0, v.startSeconds) * rate + 0.5);
  const size_t frames = size_t(uint64_t(v.samples.size()) * rate / v.sampleRate);
  if (mix->size() < (start + frames) * 2) mix->resize((start + frames) * 2, 0.0f);
  const size_t last = v.samples.size() - 1;
  for (size_t i = 0; i < frames; ++i) {
    double p = double(i) * v.sampleRate / rate;
    size_t f = size_t(p);
    double frac = p - double(f);
    double a = v.samples[std::min(f, last)], b = v.samples[std::min(f + 1, last)];
    float s = float((a + (b - a) * frac) * VOICE_GAIN);
    (*mix)[(start + i) * 2] += s;
    (*mix)[(start + i) * 2 + 1] += s;
  }
}

}  // namespace

int renderSmfToWave(const RenderRequest& request, std::vector<uint8_t>* wave, RenderResult* result,
                    std::string* error) {
  *result = RenderResult{};
  wave->clear();
  SongTiming timing;
  uint32_t offset = 0, length = 0;
  if (!readSongTiming(request.smf, request.smfSize, &timing) ||
      !findSmfData(request.smf, request.smfSize, &offset, &length)) {
    *error = deviceErrorText(DEVERR_INVALID_FILE);
    return 0;
  }
  const uint32_t rate = std::clamp(request.sampleRate, MIN_RATE, MAX_RATE);
  result->songSeconds = timing.tickToMicros(timing.endTick) / 1e6;

#ifdef VLM_HAVE_FLUIDSYNTH
  std::string soundfont = request.soundfont.empty() ? soundfontPath() : request.soundfont;
  fluid_settings_t* settings = new_fluid_settings();
  fluid_settings_setnum(settings, "synth.sample-rate", double(rate));
  fluid_settings_setstr(settings, "player.timing-source", "sample");
  fluid_settings_setint(settings, "synth.lock-memory", 0);
  fluid_settings_setint(settings, "synth.threadsafe-api", 0);
  fluid_settings_setnum(settings, "synth.gain", SYNTH_GAIN);
  fluid_synth_t* synth = new_fluid_synth(settings);
  fluid_player_t* player = nullptr;
  std::vector<float> mix;
  bool ok = synth && fluid_synth_sfload(synth, soundfont.c_str(), 1) != FLUID_FAILED;
  if (!ok) *error = deviceErrorText(DEVERR_NO_SOUNDFONT) + " (" + soundfont + ")";
  if (ok) {
    player = new_fluid_player(synth);
    ok = player && fluid_player_add_mem(player, request.smf + offset, length) == FLUID_OK &&
         fluid_player_play(player) == FLUID_OK;
    if (!ok) *error = deviceErrorText(DEVERR_INVALID_FILE);
  }
  if (ok) {
    // The song, bounded by its own length plus a margin in case the player lingers, then the
    // release tail until the synthesizer falls silent.
    const uint64_t songFrames = uint64_t(result->songSeconds * rate);
    const uint64_t maxSong = songFrames + rate;
    const uint64_t maxTail = uint64_t(RENDER_TAIL_SECONDS * rate);
    std::vector<int16_t> block(RENDER_BLOCK * 2);
    uint64_t frames = 0, tail = 0;
    mix.reserve(size_t(songFrames + maxTail) * 2);
    while (true) {
      // The player lingers after the last event, so the song ends at its last tick.
      bool playing = fluid_player_get_status(player) == FLUID_PLAYER_PLAYING &&
                     fluid_player_get_current_tick(player) < int(timing.endTick) &&
                     frames < maxSong;
      if (!playing) {
        if (tail >= maxTail || fluid_synth_get_active_voice_count(synth) == 0) break;
      }
      fluid_synth_write_s16(synth, RENDER_BLOCK, block.data(), 0, 2, block.data(), 1, 2);
      for (int16_t s : block) mix.push_back(float(s));
      frames += RENDER_BLOCK;
      if (!playing) tail += RENDER_BLOCK;
    }
  }
  if (player) delete_fluid_player(player);
  if (synth) delete_fluid_synth(synth);
  delete_fluid_settings(settings);
  if (!ok) return 0;
#else
  std::vector<float> mix;
  *error = deviceErrorText(DEVERR_NO_AUDIO_OUTPUT);
  return 0;
#endif

  for (const RenderVoice& v : request.voices) mixVoice(v, rate, &mix);
  const uint32_t dataBytes = uint32_t(mix.size() * 2);
  wave->resize(WAVE_HEADER_SIZE + dataBytes);
  writeWaveHeader(wave->data(), rate, 2, dataBytes);
  uint8_t* p = wave->data() + WAVE_HEADER_SIZE;
  for (float s : mix) {
    int v = int(std::lrint(std::clamp(s, -32768.0f, 32767.0f)));
    putLE(p, uint32_t(v) & 0xFFFF, 2);
    p += 2;
  }
  result->frames = uint32_t(mix.size() / 2);
  return 1;
}

}  // namespace vlm
