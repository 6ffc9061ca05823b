// The synthesis model: an operator reads its waveform at phase + modulation and scales it by its
// envelope, total level, key-scale level and tremolo, all summed as an attenuation in 0.1875 dB
// units and turned into a gain by one table. The envelope generator advances every EG_STEP
// samples with the chips' counter (rates in the chips' own sample clock, scaled to the output
// rate); between two steps the gain moves in a straight line, so steps never click. Operators are
// evaluated in order 1 to 4 each sample, feeding this sample's outputs forward as the algorithm
// connects them.
#include "synth/handset_synth.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "synth/choices.h"
#include "synth/tables.h"

namespace vlm {

namespace {

namespace choice = synth_choice;

constexpr int EG_STEP = 8;  // samples between two envelope steps
constexpr int PHASE_SHIFT = 32 - WAVE_BITS;
constexpr float PHASE_SCALE = 4294967296.0f;  // one cycle of a 32-bit phase
constexpr float MOD_SCALE = float(choice::MODULATION_CYCLES) * PHASE_SCALE;
constexpr int KEYS = 128;

enum Stage : uint8_t { ATTACK, DECAY, SUSTAIN, RELEASE, DONE };

// An operator (or the envelope of a sampled voice) while it sounds.
struct Operator {
  const float* wave = nullptr;
  uint32_t phase = 0, inc = 0;
  double baseInc = 0;  // phase step per sample at the note's pitch, without bend or vibrato
  int level = ENV_SILENT;
  Stage stage = DONE;
  uint32_t acc = 0;
  uint32_t rate[4] = {};  // counter increments of attack, decay, sustain, release
  int sustainLevel = 0;
  int fixedAttenuation = 0;  // total level and key-scale level
  int tremoloUnits = 0;      // 0: no tremolo
  float vibratoDepth = 0;    // 0: no vibrato
  float gain = 0, gainStep = 0;
  float fbScale = 0;  // 0: no feedback
  float out1 = 0, out2 = 0;
  bool carrier = false;
  bool ignoresKeyOff = false;
  bool followsHold = false;
};

inline uint32_t toPhase(float cycles) {
  return uint32_t(int64_t(cycles * MOD_SCALE));
}

// What the sample loop reads and writes of an operator, copied out of the voice for the loop so
// that it stays in registers (the output buffer could otherwise alias it).
struct Running {
  const float* wave;
  uint32_t phase, inc;
  float gain, gainStep, fbScale, out1, out2;
};

inline float operatorOut(Running& o, uint32_t mod) {
  const float s = o.wave[(o.phase + mod) >> PHASE_SHIFT] * o.gain;
  o.phase += o.inc;
  o.gain += o.gainStep;
  return s;
}

// An operator modulated by its own last two outputs.
inline float feedbackOut(Running& o, uint32_t mod) {
  const float s = operatorOut(o, mod + toPhase((o.out1 + o.out2) * o.fbScale));
  o.out2 = o.out1;
  o.out1 = s;
  return s;
}

// Operator 3 outside algorithms 2 and 5.
inline float thirdOut(Running& o, uint32_t mod) {
  if constexpr (choice::FEEDBACK_ON_OP3_OUTSIDE_ALG_2_5) return feedbackOut(o, mod);
  return operatorOut(o, mod);
}

// One algorithm over n samples, added into `mono`.
template <int ALG>
void runAlgorithm(Operator* ops, float* mono, int n) {
  constexpr float K = choice::ALGORITHM_OUTPUT_SCALE;
  constexpr int COUNT = ALG <= 1 ? 2 : 4;
  Running o[COUNT];
  for (int k = 0; k < COUNT; ++k) {
    const Operator& src = ops[k];
    o[k] = {src.wave, src.phase, src.inc, src.gain, src.gainStep, src.fbScale, src.out1, src.out2};
  }
  for (int i = 0; i < n; ++i) {
    const float a = feedbackOut(o[0], 0);
    float out;
    if constexpr (ALG == 0) {
      out = operatorOut(o[1], toPhase(a));
    } else if constexpr (ALG == 1) {
      out = a + operatorOut(o[1], 0);
    } else if constexpr (ALG == 2) {
      const float b = operatorOut(o[1], 0);
      const float c = feedbackOut(o[2], 0);
      out = a + b + c + operatorOut(o[3], 0);
    } else if constexpr (ALG == 3) {
      const float b = operatorOut(o[1], 0);
      const float c = thirdOut(o[2], toPhase(b));
      out = operatorOut(o[3], toPhase(a + c));
    } else if constexpr (ALG == 4) {
      const float b = operatorOut(o[1], toPhase(a));
      const float c = thirdOut(o[2], toPhase(b));
      out = operatorOut(o[3], toPhase(c));
    } else if constexpr (ALG == 5) {
      const float b = operatorOut(o[1], toPhase(a));
      const float c = feedbackOut(o[2], 0);
      out = b + operatorOut(o[3], toPhase(c));
    } else if constexpr (ALG == 6) {
      const float b = operatorOut(o[1], 0);
      const float c = thirdOut(o[2], toPhase(b));
      out = a + operatorOut(o[3], toPhase(c));
    } else {
      const float b = operatorOut(o[1], 0);
      const float c = thirdOut(o[2], toPhase(b));
      out = a + c + operatorOut(o[3], 0);
    }
    mono[i] += out * K;
  }
  for (int k = 0; k < COUNT; ++k) {
    Operator& dst = ops[k];
    dst.phase = o[k].phase;
    dst.gain = o[k].gain;
    dst.out1 = o[k].out1;
    dst.out2 = o[k].out2;
  }
}

// Carriers of each algorithm, by operator bit (operator 1 = bit 0).
constexpr uint8_t CARRIERS[8] = {0x2, 0x3, 0xF, 0x8, 0x8, 0xA, 0x9, 0xD};

float levelCurve(int value, bool squared) {
  const float v = float(std::clamp(value, 0, 127)) / 127.0f;
  return squared ? v * v : v;
}

// Position 0 (left) .. 1 (right) of a voice PANPOT 0..31, 15 the centre.
float panpotPosition(int pan) {
  return pan <= 15 ? float(pan) / 30.0f : float(pan) / 31.0f;
}

float channelPanPosition(int pan) {
  return std::clamp(float(pan - 64) / 63.0f, -1.0f, 1.0f) * 0.5f + 0.5f;
}

// The chips' block and F-number of a frequency, which scale rates and levels by key.
void blockAndFnum(double f, int* block, int* fnum) {
  const double semis = std::round(12.0 * std::log2(std::max(f, 1.0) / 440.0));
  *block = std::clamp(int(std::floor((semis + 57.0) / 12.0)), 0, 7);
  *fnum = std::clamp(int(std::lround(f * std::exp2(20 - *block) / choice::CHIP_RATE)), 0, 1023);
}

double noteFrequency(double note) {
  return 440.0 * std::exp2((note - 69.0) / 12.0);
}

}  // namespace

struct HandsetSynth::Channel {
  uint8_t bankMsb = 0, bankLsb = 0, program = 0;
  int volume = 100, expression = 127, pan = 64, modulation = 0;
  int bend = 8192, bendRange = choice::DEFAULT_BEND_RANGE;
  int rpnMsb = 127, rpnLsb = 127;
  bool hold = false;
  float bendFactor = 1.0f;

  void updateBend() {
    bendFactor = float(std::exp2(double(bend - 8192) / 8192.0 * bendRange / 12.0));
  }
};

struct HandsetSynth::Voice {
  bool active = false;
  bool sampled = false;
  int slots = 0;
  int channel = 0, note = 0;
  uint32_t age = 0;
  bool keyOn = false;
  bool heldByPedal = false;
  bool followsBend = true;
  int alg = 0;
  int ops = 0;
  float velocityGain = 1;
  bool panEnable = false;
  float panpot = 0.5f;
  Operator op[4];
  float lfoPhase = 0, lfoStep = 0;
  float wheelPhase = 0, wheelStep = 0;
  // Sampled voices.
  const float* samples = nullptr;
  uint64_t position = 0;  // 32.32 fixed point
  double baseStep = 0;
  uint64_t step = 0;
  uint32_t loopPoint = 0, endPoint = 0;
  bool loops = false;
  // Output gains now, moving to the channel's each block.
  float gainL = 0, gainR = 0;
  bool fresh = true;
};

HandsetSynth::HandsetSynth(uint32_t sampleRate)
    : rate_(std::max<uint32_t>(sampleRate, 1000)),
      channels_(new Channel[SYNTH_CHANNELS]),
      voices_(new Voice[SYNTH_MAX_VOICES]) {
  synthTables();
  // Overflows of the chips' 15-bit envelope counter per chip sample, times the chip samples of
  // one envelope step at our rate, in 16.16 fixed point.
  const double chipSamplesPerStep = choice::CHIP_RATE / rate_ * EG_STEP;
  for (int x = 0; x < 64; ++x) {
    const double perChipSample = (4 + x % 4) * std::exp2(x / 4) / 32768.0;
    egIncrement_[x] = uint32_t(std::lround(perChipSample * chipSamplesPerStep * 65536.0));
  }
  for (int c = 0; c < SYNTH_CHANNELS; ++c) channels_[c].updateBend();
}

HandsetSynth::~HandsetSynth() = default;

void HandsetSynth::setVoices(std::shared_ptr<const SynthVoiceSet> voices) {
  set_ = std::move(voices);
  index_.clear();
  for (int c = 0; c < SYNTH_CHANNELS; ++c) {
    channels_[c] = Channel{};
    channels_[c].updateBend();
  }
  for (int i = 0; i < SYNTH_MAX_VOICES; ++i) voices_[i] = Voice{};
  fmSlotsUsed_ = sampledUsed_ = 0;
  master_ = 1.0f;
  const SynthTables& t = synthTables();
  for (int s = 0; s < 3; ++s) {
    userWaveSet_[s] = false;
    std::memcpy(userWave_[s], t.wave[USER_WAVE_SLOTS[s]], sizeof userWave_[s]);
  }
  if (!set_) return;
  choice::Polyphony poly = choice::POLYPHONY_MA3;
  switch (set_->generation) {
    case ChipGeneration::MA1: poly = choice::POLYPHONY_MA1; break;
    case ChipGeneration::MA2: poly = choice::POLYPHONY_MA2; break;
    case ChipGeneration::MA3: poly = choice::POLYPHONY_MA3; break;
    case ChipGeneration::MA5: poly = choice::POLYPHONY_MA5; break;
    case ChipGeneration::MA7: poly = choice::POLYPHONY_MA7; break;
  }
  fmSlots_ = poly.fmSlots;
  sampledMax_ = std::max(poly.sampledVoices, 1);
  for (int s = 0; s < 3; ++s) {
    const std::vector<float>& w = set_->userWaves[s];
    if (w.empty()) continue;
    // One period of any length, stretched over the table.
    for (int i = 0; i < WAVE_SIZE; ++i) userWave_[s][i] = w[size_t(i) * w.size() / WAVE_SIZE];
    userWaveSet_[s] = true;
  }
  for (const SynthVoice& v : set_->voices) {
    const uint32_t key = uint32_t(v.drum) << 31 | uint32_t(v.bankMsb) << 24 |
                         uint32_t(v.bankLsb) << 16 | uint32_t(v.program) << 8 |
                         (v.drum ? v.drumNote : 0);
    index_.emplace(key, &v);  // the first record of a selection wins
  }
}

const SynthVoice* HandsetSynth::find(int channel, int note) const {
  if (index_.empty() || channel < 0 || channel >= SYNTH_CHANNELS) return nullptr;
  const Channel& c = channels_[channel];
  const uint32_t melodic =
      uint32_t(c.bankMsb) << 24 | uint32_t(c.bankLsb) << 16 | uint32_t(c.program) << 8;
  auto drum = index_.find(1u << 31 | melodic | uint32_t(note & 0x7F));
  if (drum != index_.end()) return drum->second;
  auto it = index_.find(melodic);
  return it == index_.end() ? nullptr : it->second;
}

bool HandsetSynth::handlesNote(int channel, int note) const {
  return find(channel, note) != nullptr;
}

HandsetSynth::Voice* HandsetSynth::allocate(bool sampled, int slots) {
  auto full = [&] {
    return sampled ? sampledUsed_ + 1 > sampledMax_ : fmSlotsUsed_ + slots > fmSlots_;
  };
  // The chips' rule for a full pool is unknown: the oldest released voice goes first, then the
  // oldest of all.
  while (full()) {
    Voice* victim = nullptr;
    for (int i = 0; i < SYNTH_MAX_VOICES; ++i) {
      Voice& v = voices_[i];
      if (!v.active || v.sampled != sampled) continue;
      if (!victim || (victim->keyOn && !v.keyOn) ||
          (victim->keyOn == v.keyOn && v.age < victim->age))
        victim = &v;
    }
    if (!victim) return nullptr;
    free(*victim);
  }
  for (int i = 0; i < SYNTH_MAX_VOICES; ++i)
    if (!voices_[i].active) return &voices_[i];
  return nullptr;
}

void HandsetSynth::free(Voice& v) {
  if (!v.active) return;
  if (v.sampled)
    --sampledUsed_;
  else
    fmSlotsUsed_ -= v.slots;
  v.active = false;
}

namespace {

// Envelope state of a note start: rates scaled by key, levels in attenuation units.
void startEnvelope(Operator& o, const EnvelopeParams& e, int block, int fnum,
                   const uint32_t* egIncrement) {
  const int rof = (2 * block + (fnum >> 9)) >> (e.ksr ? 0 : 2);
  const uint8_t rates[4] = {e.ar, e.dr, e.sr, e.rr};
  for (int s = 0; s < 4; ++s)
    o.rate[s] = rates[s] ? egIncrement[std::min(63, 4 * rates[s] + rof)] : 0;
  o.sustainLevel = e.sl >= 15 ? ENV_SILENT : 16 * e.sl;
  const int ksl =
      std::max(0, choice::KSL_FACTOR[e.ksl & 3] * (8 * block - SynthTables::KSL_CURVE[fnum >> 6]));
  o.fixedAttenuation = 4 * (e.tl & 63) + ksl;
  o.tremoloUnits = e.eam ? choice::TREMOLO_UNITS[e.dam & 3] : 0;
  o.vibratoDepth = choice::VIBRATO_ENABLED && e.evb ? float(choice::VIBRATO_DEPTH[e.dvb & 3]) : 0;
  if (choice::ATTACK_FROM_SILENCE || o.stage == DONE) o.level = ENV_SILENT;
  o.stage = ATTACK;
  o.acc = 0;
  o.gain = o.gainStep = 0;
  o.ignoresKeyOff = e.xof && (!choice::XOF_ONLY_WHEN_DECAYING || e.sr > 0);
  o.followsHold = e.sus;
}

// One envelope step: the counter's overflows since the last step move the level.
void advanceEnvelope(Operator& o) {
  if (o.stage == DONE) return;
  o.acc += o.rate[o.stage];
  int y = int(o.acc >> 16);
  o.acc &= 0xFFFF;
  if (!y) return;
  switch (o.stage) {
    case ATTACK:
      // Exponential approach to full level, one overflow at a time.
      while (y-- > 0 && o.level > 0) o.level -= (o.level >> 3) + 1;
      if (o.level <= 0) {
        o.level = 0;
        o.stage = o.sustainLevel > 0 ? DECAY : SUSTAIN;
      }
      return;
    case DECAY:
      o.level += y;
      if (o.level >= o.sustainLevel) o.stage = SUSTAIN;
      break;
    default:
      o.level += y;
      break;
  }
  if (o.level >= ENV_SILENT) {
    o.level = ENV_SILENT;
    o.stage = DONE;
  }
}

}  // namespace

void HandsetSynth::startFm(Voice& v, const SynthVoice& sv, int channel, int note, int velocity) {
  const FmPatch& p = sv.fm;
  const SynthTables& t = synthTables();
  v.sampled = false;
  v.alg = p.alg & 7;
  v.ops = p.operators();
  v.slots = v.ops == 4 ? 2 : 1;
  v.followsBend = !sv.drum;
  v.panEnable = p.panEnable;
  v.panpot = panpotPosition(p.pan & 31);
  const int sounding = sv.drum && p.drumKey ? p.drumKey : note;
  const double f = noteFrequency(sounding + 12.0 * p.octaveShift);
  int block = 0, fnum = 0;
  blockAndFnum(f, &block, &fnum);
  for (int k = 0; k < v.ops; ++k) {
    const FmOperatorParams& src = p.op[k];
    Operator& o = v.op[k];
    o.stage = DONE;
    startEnvelope(o, src.env, block, fnum, egIncrement_);
    const int ws = src.ws & 31;
    const float* wave = t.wave[ws];
    for (int s = 0; s < 3; ++s)
      if (ws == USER_WAVE_SLOTS[s] && userWaveSet_[s]) wave = userWave_[s];
    o.wave = wave;
    o.phase = 0;
    const double mult = choice::MULTIPLIER_HALVES[src.multi & 15] / 2.0;
    const double detune = std::exp2(choice::DETUNE_CENTS[src.dt & 7] / 1200.0);
    o.baseInc = f * mult * detune / rate_ * 4294967296.0;
    o.inc = uint32_t(std::min(o.baseInc, 4294967295.0));
    o.carrier = (CARRIERS[v.alg] >> k) & 1;
    const bool feedbackPoint =
        k == 0 || (k == 2 && (v.alg == 2 || v.alg == 5 || choice::FEEDBACK_ON_OP3_OUTSIDE_ALG_2_5));
    o.fbScale = feedbackPoint && src.fb
                    ? float(std::exp2(int(src.fb & 7) - choice::FEEDBACK_SHIFT))
                    : 0.0f;
    o.out1 = o.out2 = 0;
  }
  v.lfoStep = float(choice::LFO_HZ[p.lfo & 3] * EG_STEP / rate_);
  (void)channel;
  (void)velocity;
}

void HandsetSynth::startSampled(Voice& v, const SynthVoice& sv, int channel, int note,
                                int velocity) {
  const SampledPatch& p = sv.pcm;
  v.sampled = true;
  v.slots = 0;
  v.ops = 1;
  v.followsBend = !sv.drum;
  v.panEnable = p.panEnable;
  v.panpot = panpotPosition(p.pan & 31);
  const std::vector<float>& samples = *p.samples;
  v.samples = samples.data();
  v.endPoint = std::min<uint32_t>(p.endPoint, uint32_t(samples.size() - 1));
  v.loopPoint = std::min(p.loopPoint, v.endPoint);
  v.loops = choice::LOOP_WHEN_LOOP_POINT_BEFORE_END && v.loopPoint < v.endPoint;
  v.position = 0;
  const double transpose = sv.drum ? 1.0 : std::exp2((note - int(p.rootKey)) / 12.0);
  v.baseStep = double(p.sampleRate) / rate_ * transpose * 4294967296.0;
  v.step = uint64_t(v.baseStep);
  int block = 0, fnum = 0;
  blockAndFnum(noteFrequency(note), &block, &fnum);
  Operator& o = v.op[0];
  o.stage = DONE;
  startEnvelope(o, p.env, block, fnum, egIncrement_);
  o.carrier = true;
  v.lfoStep = float(choice::LFO_HZ[p.lfo & 3] * EG_STEP / rate_);
  (void)channel;
  (void)velocity;
}

void HandsetSynth::noteOn(int channel, int note, int velocity) {
  if (channel < 0 || channel >= SYNTH_CHANNELS || note < 0 || note >= KEYS) return;
  if (velocity <= 0) return noteOff(channel, note);
  if (const SynthVoice* sv = find(channel, note)) start(*sv, channel, note, velocity);
}

void HandsetSynth::playVoice(int channel, int note, int velocity, size_t index) {
  if (!set_ || index >= set_->voices.size()) return;
  if (channel < 0 || channel >= SYNTH_CHANNELS || note < 0 || note >= KEYS) return;
  if (velocity <= 0) return noteOff(channel, note);
  start(set_->voices[index], channel, note, velocity);
}

void HandsetSynth::start(const SynthVoice& sv, int channel, int note, int velocity) {
  if (!sv.playable || (sv.sampled && (!sv.pcm.samples || sv.pcm.samples->empty()))) return;
  // A key struck again ends its earlier note.
  for (int i = 0; i < SYNTH_MAX_VOICES; ++i) {
    Voice& v = voices_[i];
    if (v.active && v.keyOn && v.channel == channel && v.note == note) release(v, false);
  }
  const int slots = sv.sampled ? 0 : (sv.fm.operators() == 4 ? 2 : 1);
  Voice* v = allocate(sv.sampled, slots);
  if (!v) return;
  *v = Voice{};
  v->active = true;
  v->channel = channel;
  v->note = note;
  v->age = ++started_;
  v->keyOn = true;
  v->velocityGain = levelCurve(velocity, choice::VELOCITY_SQUARED);
  if (sv.sampled) {
    startSampled(*v, sv, channel, note, velocity);
    ++sampledUsed_;
  } else {
    startFm(*v, sv, channel, note, velocity);
    fmSlotsUsed_ += v->slots;
  }
  v->wheelStep = float(choice::MOD_WHEEL_HZ * EG_STEP / rate_);
}

void HandsetSynth::release(Voice& v, bool pedal) {
  v.keyOn = false;
  v.heldByPedal = false;
  for (int k = 0; k < v.ops; ++k) {
    Operator& o = v.op[k];
    if (o.stage == DONE || o.ignoresKeyOff) continue;
    // Under the hold pedal an operator that follows it keeps its envelope (decaying at SR).
    if (pedal && o.followsHold) {
      v.heldByPedal = true;
      continue;
    }
    o.stage = o.level >= ENV_SILENT ? DONE : RELEASE;
  }
}

void HandsetSynth::noteOff(int channel, int note) {
  if (channel < 0 || channel >= SYNTH_CHANNELS) return;
  const bool hold = channels_[channel].hold;
  for (int i = 0; i < SYNTH_MAX_VOICES; ++i) {
    Voice& v = voices_[i];
    if (v.active && v.keyOn && v.channel == channel && v.note == note) release(v, hold);
  }
}

void HandsetSynth::controlChange(int channel, int control, int value) {
  if (channel < 0 || channel >= SYNTH_CHANNELS) return;
  Channel& c = channels_[channel];
  value = std::clamp(value, 0, 127);
  switch (control) {
    case 0: c.bankMsb = uint8_t(value); break;
    case 32: c.bankLsb = uint8_t(value); break;
    case 1: c.modulation = value; break;
    case 7: c.volume = value; break;
    case 10: c.pan = value; break;
    case 11: c.expression = value; break;
    case 101: c.rpnMsb = value; break;
    case 100: c.rpnLsb = value; break;
    case 6:
      if (c.rpnMsb == 0 && c.rpnLsb == 0) {
        c.bendRange = value;
        c.updateBend();
      }
      break;
    case 64: {
      const bool down = value >= 64;
      if (c.hold && !down) {
        for (int i = 0; i < SYNTH_MAX_VOICES; ++i) {
          Voice& v = voices_[i];
          if (v.active && v.channel == channel && v.heldByPedal) release(v, false);
        }
      }
      c.hold = down;
      break;
    }
    case 120:
      for (int i = 0; i < SYNTH_MAX_VOICES; ++i)
        if (voices_[i].active && voices_[i].channel == channel) free(voices_[i]);
      break;
    case 121:
      c.modulation = 0;
      c.expression = 127;
      c.bend = 8192;
      c.hold = false;
      c.rpnMsb = c.rpnLsb = 127;
      c.updateBend();
      break;
    case 123:
      for (int i = 0; i < SYNTH_MAX_VOICES; ++i) {
        Voice& v = voices_[i];
        if (v.active && v.channel == channel && v.keyOn) release(v, c.hold);
      }
      break;
    default: break;
  }
}

void HandsetSynth::programChange(int channel, int program) {
  if (channel >= 0 && channel < SYNTH_CHANNELS) channels_[channel].program = uint8_t(program & 127);
}

void HandsetSynth::pitchBend(int channel, int value14) {
  if (channel < 0 || channel >= SYNTH_CHANNELS) return;
  channels_[channel].bend = std::clamp(value14, 0, 16383);
  channels_[channel].updateBend();
}

void HandsetSynth::setMasterVolume(int value) {
  master_ = levelCurve(value, choice::VOLUME_SQUARED);
}

void HandsetSynth::allSoundOff() {
  for (int i = 0; i < SYNTH_MAX_VOICES; ++i) free(voices_[i]);
}

bool HandsetSynth::handleMessage(uint8_t status, uint8_t data1, uint8_t data2) {
  const int channel = status & 0x0F;
  switch (status & 0xF0) {
    case 0x90:
      if (data2 > 0) {
        if (!handlesNote(channel, data1)) return false;
        noteOn(channel, data1, data2);
        return true;
      }
      noteOff(channel, data1);
      return false;
    case 0x80: noteOff(channel, data1); return false;
    case 0xB0: controlChange(channel, data1, data2); return false;
    case 0xC0: programChange(channel, data1); return false;
    case 0xE0: pitchBend(channel, data1 | data2 << 7); return false;
    default: return false;
  }
}

int HandsetSynth::activeVoices() const {
  int n = 0;
  for (int i = 0; i < SYNTH_MAX_VOICES; ++i) n += voices_[i].active;
  return n;
}

void HandsetSynth::stepEnvelopes(Voice& v) {
  const Channel& c = channels_[v.channel];
  // LFO triangle: 0..1..0 for tremolo, -1..1 for vibrato.
  v.lfoPhase += v.lfoStep;
  if (v.lfoPhase >= 1.0f) v.lfoPhase -= 1.0f;
  const float up = v.lfoPhase < 0.5f ? 2 * v.lfoPhase : 2 - 2 * v.lfoPhase;
  const float swing = 2 * up - 1;
  float pitch = v.followsBend ? c.bendFactor : 1.0f;
  if (c.modulation) {
    v.wheelPhase += v.wheelStep;
    if (v.wheelPhase >= 1.0f) v.wheelPhase -= 1.0f;
    const float w = v.wheelPhase < 0.5f ? 4 * v.wheelPhase - 1 : 3 - 4 * v.wheelPhase;
    pitch *= 1.0f + w * float(choice::MOD_WHEEL_CENTS / 1731.2) * float(c.modulation) / 127.0f;
  }
  const SynthTables& t = synthTables();
  for (int k = 0; k < v.ops; ++k) {
    Operator& o = v.op[k];
    advanceEnvelope(o);
    int attenuation = o.level + o.fixedAttenuation;
    if (o.tremoloUnits) attenuation += int(up * float(o.tremoloUnits) + 0.5f);
    const float target = o.stage == DONE ? 0.0f : t.gain[std::min(attenuation, ENV_SILENT)];
    o.gainStep = (target - o.gain) / EG_STEP;
    const float vibrato = o.vibratoDepth ? 1.0f + swing * o.vibratoDepth : 1.0f;
    if (v.sampled)
      v.step = uint64_t(v.baseStep * pitch * vibrato);
    else
      o.inc = uint32_t(std::min(o.baseInc * pitch * vibrato, 4294967295.0));
  }
}

void HandsetSynth::renderVoice(Voice& v, float* mono, int frames) {
  int done = 0;
  while (done < frames) {
    const uint64_t now = clock_ + uint64_t(done);
    if (now % EG_STEP == 0) stepEnvelopes(v);
    const int n = std::min(frames - done, int(EG_STEP - now % EG_STEP));
    float* out = mono + done;
    if (v.sampled) {
      Operator& o = v.op[0];
      const uint64_t loopStart = uint64_t(v.loopPoint) << 32;
      const uint64_t loopLength = uint64_t(v.endPoint - v.loopPoint) << 32;
      for (int i = 0; i < n; ++i) {
        uint32_t at = uint32_t(v.position >> 32);
        if (at >= v.endPoint) {
          if (!v.loops) {
            o.stage = DONE;
            break;
          }
          v.position = loopStart + (v.position - loopStart) % loopLength;
          at = uint32_t(v.position >> 32);
        }
        const uint32_t next = at + 1 > v.endPoint ? (v.loops ? v.loopPoint : v.endPoint) : at + 1;
        const float frac = float(uint32_t(v.position)) * (1.0f / PHASE_SCALE);
        const float a = v.samples[at], b = v.samples[next];
        out[i] += (a + (b - a) * frac) * o.gain;
        o.gain += o.gainStep;
        v.position += v.step;
      }
    } else {
      switch (v.alg) {
        case 0: runAlgorithm<0>(v.op, out, n); break;
        case 1: runAlgorithm<1>(v.op, out, n); break;
        case 2: runAlgorithm<2>(v.op, out, n); break;
        case 3: runAlgorithm<3>(v.op, out, n); break;
        case 4: runAlgorithm<4>(v.op, out, n); break;
        case 5: runAlgorithm<5>(v.op, out, n); break;
        case 6: runAlgorithm<6>(v.op, out, n); break;
        default: runAlgorithm<7>(v.op, out, n); break;
      }
    }
    done += n;
  }
}

void HandsetSynth::render(float* mix, int frames) {
  frames = std::clamp(frames, 0, SYNTH_BLOCK_FRAMES);
  float mono[SYNTH_BLOCK_FRAMES];
  for (int i = 0; i < SYNTH_MAX_VOICES; ++i) {
    Voice& v = voices_[i];
    if (!v.active) continue;
    std::fill(mono, mono + frames, 0.0f);
    renderVoice(v, mono, frames);
    // Output gains of the channel now, reached in a straight line over the block.
    const Channel& c = channels_[v.channel];
    float position = channelPanPosition(c.pan);
    if (v.panEnable) {
      position = choice::VOICE_PAN_ADDS_TO_CHANNEL_PAN
                     ? std::clamp(v.panpot + position - 0.5f, 0.0f, 1.0f)
                     : v.panpot;
    }
    const float level = levelCurve(c.volume, choice::VOLUME_SQUARED) *
                        levelCurve(c.expression, choice::EXPRESSION_SQUARED) * v.velocityGain *
                        master_ * choice::MIX_GAIN;
    const float left = level * (1 - position), right = level * position;
    if (v.fresh) {
      v.gainL = left;
      v.gainR = right;
      v.fresh = false;
    }
    const float dl = frames ? (left - v.gainL) / float(frames) : 0;
    const float dr = frames ? (right - v.gainR) / float(frames) : 0;
    float gl = v.gainL, gr = v.gainR;
    for (int f = 0; f < frames; ++f) {
      mix[2 * f] += mono[f] * gl;
      mix[2 * f + 1] += mono[f] * gr;
      gl += dl;
      gr += dr;
    }
    v.gainL = left;
    v.gainR = right;
    // A note ends when every carrier has fallen silent.
    bool sounding = false;
    for (int k = 0; k < v.ops; ++k) sounding |= v.op[k].carrier && v.op[k].stage != DONE;
    if (!sounding) free(v);
  }
  clock_ += uint64_t(frames);
}

}  // namespace vlm
