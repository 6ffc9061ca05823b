// The handset synthesizer: plays a song's own FM and sampled voices the way the Yamaha MA-series
// chips of the handsets did (operators with multiplier, detune and 32 waveforms, 8 algorithms,
// feedback, the chips' envelope generator, total and key-scale level, LFO tremolo and vibrato),
// with the channel controls of a MIDI score. It takes channel messages and renders blocks of
// stereo samples; notes whose channel selects no voice of the song are left to the General MIDI
// synthesizer (handlesNote says which). Output is deterministic: the same messages at the same
// block positions give the same samples.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>

#include "synth/patch.h"

namespace vlm {

inline constexpr int SYNTH_BLOCK_FRAMES = 64;  // the most frames one render call makes
inline constexpr int SYNTH_CHANNELS = 16;
inline constexpr int SYNTH_MAX_VOICES = 128;

class HandsetSynth {
 public:
  explicit HandsetSynth(uint32_t sampleRate);
  ~HandsetSynth();
  HandsetSynth(const HandsetSynth&) = delete;
  HandsetSynth& operator=(const HandsetSynth&) = delete;

  // The song's voices (kept alive by the synthesizer); resets every channel and voice.
  void setVoices(std::shared_ptr<const SynthVoiceSet> voices);
  const SynthVoiceSet* voices() const { return set_.get(); }

  // Channel messages, as a MIDI score sends them.
  void noteOn(int channel, int note, int velocity);
  // A note of voice `index` of the set, whatever the channel selects (the caller has bound it).
  void playVoice(int channel, int note, int velocity, size_t index);
  void noteOff(int channel, int note);
  void controlChange(int channel, int control, int value);
  void programChange(int channel, int program);
  void pitchBend(int channel, int value14);  // 0..16383, 8192 centre
  void setMasterVolume(int value);            // 0..127
  void allSoundOff();
  // Whether a note-on on `channel` now would play one of the song's voices.
  bool handlesNote(int channel, int note) const;
  // Handles a short MIDI message (status and up to two data bytes). Returns whether the message
  // was for this synthesizer alone: a note-on it plays (or the note-off of a note it plays);
  // every other message is also for the General MIDI synthesizer.
  bool handleMessage(uint8_t status, uint8_t data1, uint8_t data2);

  // Adds `frames` (at most SYNTH_BLOCK_FRAMES) frames of interleaved stereo into `mix`; full
  // scale is 1.0.
  void render(float* mix, int frames);
  int activeVoices() const;

  struct Channel;
  struct Voice;

 private:
  uint32_t rate_;
  std::shared_ptr<const SynthVoiceSet> set_;
  std::unordered_map<uint32_t, const SynthVoice*> index_;
  std::unique_ptr<Channel[]> channels_;
  std::unique_ptr<Voice[]> voices_;
  uint32_t egIncrement_[64];  // envelope counter increment per envelope step, by rate 0..63
  float userWave_[3][1 << 12];
  bool userWaveSet_[3] = {};
  uint64_t clock_ = 0;   // frames rendered
  uint32_t started_ = 0;  // note counter, the age of voices
  float master_ = 1.0f;
  int fmSlotsUsed_ = 0, fmSlots_ = 32, sampledUsed_ = 0, sampledMax_ = 8;

  const SynthVoice* find(int channel, int note) const;
  Voice* allocate(bool sampled, int slots);
  void release(Voice& v, bool pedal);
  void start(const SynthVoice& sv, int channel, int note, int velocity);
  void startFm(Voice& v, const SynthVoice& sv, int channel, int note, int velocity);
  void startSampled(Voice& v, const SynthVoice& sv, int channel, int note, int velocity);
  void stepEnvelopes(Voice& v);
  void renderVoice(Voice& v, float* mono, int frames);
  void free(Voice& v);
};

}  // namespace vlm
