// What the handset synthesizer plays: the parameters of one FM voice (2 or 4 operators) or one
// sampled voice, in the chips' own units, and the song's set of them keyed as the score selects
// them (bank, program, and the note for drum voices).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace vlm {

// The envelope and level fields an FM operator and a sampled voice share.
struct EnvelopeParams {
  uint8_t ar = 15, dr = 0, sl = 0, sr = 0, rr = 15;  // rates 0..15, SL 0..15
  uint8_t tl = 0;                                    // 0..63, 0.75 dB per step
  uint8_t ksl = 0;                                   // 0..3
  bool ksr = false;
  bool xof = false;  // ignore key-off
  bool sus = false;  // follows the hold pedal
  bool eam = false;  // tremolo on
  uint8_t dam = 0;   // tremolo depth 0..3
  bool evb = false;  // vibrato on
  uint8_t dvb = 0;   // vibrato depth 0..3
};

struct FmOperatorParams {
  EnvelopeParams env;
  uint8_t multi = 1;  // 0..15
  uint8_t dt = 0;     // 0..7
  uint8_t ws = 0;     // waveform 0..31
  uint8_t fb = 0;     // feedback 0..7 (operator 1, and 3 in algorithms 2 and 5)
};

struct FmPatch {
  uint8_t alg = 0;  // 0..7; 0 and 1 use two operators
  uint8_t lfo = 0;  // LFO rate 0..3
  bool panEnable = false;
  uint8_t pan = 15;        // PANPOT 0..31, 15 centre
  int8_t octaveShift = 0;  // from the basic octave: +1, 0, -1, -2
  uint8_t drumKey = 0;     // the note a drum voice sounds at
  FmOperatorParams op[4];
  int operators() const { return alg <= 1 ? 2 : 4; }
};

struct SampledPatch {
  std::shared_ptr<const std::vector<float>> samples;  // -1..1, at `sampleRate`
  uint32_t sampleRate = 8000;
  uint32_t loopPoint = 0, endPoint = 0;  // samples; EP is the last sample played
  uint8_t rootKey = 60;                  // the note that plays at `sampleRate`
  EnvelopeParams env;
  uint8_t lfo = 0;
  bool panEnable = false;
  uint8_t pan = 15;
};

// Which generation of chip a song was written for: sets the polyphony.
enum class ChipGeneration : uint8_t { MA1, MA2, MA3, MA5, MA7 };

// A voice of the song and the score selection that plays it: a melodic voice by (bank MSB, bank
// LSB, program); a drum voice also by the note.
struct SynthVoice {
  uint8_t bankMsb = 0, bankLsb = 0, program = 0;
  bool drum = false;
  uint8_t drumNote = 0;
  bool sampled = false;
  bool playable = true;  // false: a sampled voice whose wave is not in the song (a ROM wave)
  FmPatch fm;
  SampledPatch pcm;
};

struct SynthVoiceSet {
  ChipGeneration generation = ChipGeneration::MA3;
  std::vector<SynthVoice> voices;
  // User FM waveforms (WS 15, 23, 31): 1,024 samples of one period, -1..1; empty = a sine.
  std::vector<float> userWaves[3];
  bool empty() const { return voices.empty(); }
};

}  // namespace vlm
