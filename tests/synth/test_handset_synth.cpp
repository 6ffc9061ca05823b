// The handset synthesizer judged by its sound: pitch and spectrum of FM voices, which operators
// are heard in each algorithm, envelope times against the chips' rates, sampled voices with their
// loop, the channel controls, and the same samples on every run.
#include "synth/handset_synth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "synth/tables.h"

namespace vlm {
namespace {

constexpr uint32_t RATE = 44100;
constexpr double PI = 3.141592653589793;

// An operator that sounds at once and holds at full level until key-off.
FmOperatorParams loudOperator(int multi = 1) {
  FmOperatorParams o;
  o.env.ar = 15;
  o.env.dr = 0;
  o.env.rr = 15;
  o.multi = uint8_t(multi);
  return o;
}

// An operator that never sounds (attack rate 0), so it neither is heard nor modulates.
FmOperatorParams silentOperator() {
  FmOperatorParams o = loudOperator();
  o.env.ar = 0;
  return o;
}

std::shared_ptr<SynthVoiceSet> oneFmVoice(const FmPatch& patch) {
  auto set = std::make_shared<SynthVoiceSet>();
  SynthVoice v;
  v.bankMsb = 0x7C;
  v.fm = patch;
  set->voices.push_back(v);
  return set;
}

// Mono (left + right) samples of `seconds` of a note, released after `releaseAt` seconds.
std::vector<float> renderNote(const std::shared_ptr<SynthVoiceSet>& set, int note, double seconds,
                              double releaseAt = 1e9, int channel = 0) {
  HandsetSynth synth(RATE);
  synth.setVoices(set);
  synth.controlChange(channel, 0, 0x7C);
  synth.programChange(channel, 0);
  synth.noteOn(channel, note, 127);
  const size_t total = size_t(seconds * RATE);
  const size_t release = size_t(releaseAt * RATE);
  std::vector<float> out;
  float block[SYNTH_BLOCK_FRAMES * 2];
  while (out.size() < total) {
    if (out.size() >= release && out.size() < release + SYNTH_BLOCK_FRAMES)
      synth.noteOff(channel, note);
    std::fill(std::begin(block), std::end(block), 0.0f);
    synth.render(block, SYNTH_BLOCK_FRAMES);
    for (int f = 0; f < SYNTH_BLOCK_FRAMES; ++f) out.push_back(block[2 * f] + block[2 * f + 1]);
  }
  out.resize(total);
  return out;
}

// Amplitude of the component at `hz` (Goertzel over a whole number of its periods).
double amplitudeAt(const std::vector<float>& s, size_t from, size_t count, double hz) {
  const double w = 2 * PI * hz / RATE;
  double re = 0, im = 0;
  for (size_t i = 0; i < count; ++i) {
    // Hann window against leakage from the neighbours.
    const double win = 0.5 - 0.5 * std::cos(2 * PI * double(i) / double(count));
    re += s[from + i] * win * std::cos(w * double(i));
    im += s[from + i] * win * std::sin(w * double(i));
  }
  return 4 * std::sqrt(re * re + im * im) / double(count);
}

double rms(const std::vector<float>& s, size_t from, size_t count) {
  double sum = 0;
  for (size_t i = from; i < from + count && i < s.size(); ++i) sum += double(s[i]) * s[i];
  return std::sqrt(sum / double(count));
}

// Peak level in dB of consecutive windows of `window` samples.
std::vector<double> envelopeDb(const std::vector<float>& s, size_t window) {
  std::vector<double> out;
  for (size_t at = 0; at + window <= s.size(); at += window) {
    float peak = 0;
    for (size_t i = at; i < at + window; ++i) peak = std::max(peak, std::fabs(s[i]));
    out.push_back(20 * std::log10(std::max(peak, 1e-9f)));
  }
  return out;
}

FmPatch sineCarrier(int multi = 1) {
  FmPatch p;
  p.alg = 0;
  p.op[0] = silentOperator();
  p.op[1] = loudOperator(multi);
  return p;
}

TEST(HandsetSynth, ASineCarrierSoundsAtTheNotesFrequency) {
  const std::vector<float> s = renderNote(oneFmVoice(sineCarrier()), 69, 0.5);
  const size_t n = 8192;
  const double at440 = amplitudeAt(s, 4410, n, 440);
  EXPECT_GT(at440, 0.1);
  for (double other : {220.0, 330.0, 660.0, 880.0, 1320.0})
    EXPECT_LT(amplitudeAt(s, 4410, n, other), at440 * 0.002) << other;
  // All the energy is in the one component: a pure sine has rms = amplitude / sqrt 2.
  EXPECT_NEAR(rms(s, 4410, n), at440 / std::sqrt(2.0), at440 * 0.02);
  // Multiplier 0 halves the frequency, 14 gives 15 times it (the chips' table).
  const std::vector<float> half = renderNote(oneFmVoice(sineCarrier(0)), 69, 0.5);
  EXPECT_GT(amplitudeAt(half, 4410, n, 220), 0.1);
  const std::vector<float> fifteen = renderNote(oneFmVoice(sineCarrier(14)), 45, 0.5);
  EXPECT_GT(amplitudeAt(fifteen, 4410, n, 110 * 15), 0.1);
}

TEST(HandsetSynth, AModulatorAddsSideBandsAtItsMultiple) {
  for (int m : {2, 3}) {
    FmPatch p = sineCarrier();
    p.op[0] = loudOperator(m);
    p.op[0].env.tl = 24;  // a moderate index
    const std::vector<float> s = renderNote(oneFmVoice(p), 57, 0.5);  // 220 Hz
    const size_t n = 8192;
    const double f = 220;
    const double carrier = amplitudeAt(s, 4410, n, f);
    // Side bands at f + m f and |f - m f|; nothing between them.
    EXPECT_GT(amplitudeAt(s, 4410, n, f + m * f), carrier * 0.05) << m;
    EXPECT_GT(amplitudeAt(s, 4410, n, std::fabs(f - m * f)), carrier * 0.05) << m;
    EXPECT_LT(amplitudeAt(s, 4410, n, f * 1.5), carrier * 0.01) << m;
    // m f itself is no side band of the carrier at f.
    EXPECT_LT(amplitudeAt(s, 4410, n, m * f), carrier * 0.01) << m;
  }
}

TEST(HandsetSynth, EachAlgorithmIsHeardThroughTheCarriersItNames) {
  // The carriers of algorithms 0..7 (operator numbers 1..4).
  const std::vector<std::vector<int>> carriers = {{2},    {1, 2}, {1, 2, 3, 4}, {4},
                                                  {4},    {2, 4}, {1, 4},       {1, 3, 4}};
  for (int alg = 0; alg < 8; ++alg) {
    const int ops = alg <= 1 ? 2 : 4;
    for (int k = 1; k <= ops; ++k) {
      FmPatch p;
      p.alg = uint8_t(alg);
      for (int j = 0; j < 4; ++j) p.op[j] = j + 1 == k ? loudOperator() : silentOperator();
      const std::vector<float> s = renderNote(oneFmVoice(p), 69, 0.1);
      const bool heard = rms(s, 441, 3000) > 0.01;
      const bool named =
          std::find(carriers[alg].begin(), carriers[alg].end(), k) != carriers[alg].end();
      EXPECT_EQ(heard, named) << "algorithm " << alg << " operator " << k;
    }
  }
}

// Seconds from `from` until the envelope first reaches `db` (going up or down).
double secondsUntil(const std::vector<double>& env, size_t window, size_t from, double db,
                    bool rising) {
  for (size_t i = from / window; i < env.size(); ++i)
    if (rising ? env[i] >= db : env[i] <= db) return double(i * window - from) / RATE;
  return 1e9;
}

TEST(HandsetSynth, AttackAndReleaseTimesFollowTheRates) {
  // A low note (key-scale rate offset 0) on a high multiple, for a fine envelope reading.
  const size_t window = 64;
  for (int rr : {8, 10}) {
    FmPatch p = sineCarrier(14);
    p.op[1].env.rr = uint8_t(rr);
    const std::vector<float> s = renderNote(oneFmVoice(p), 33, 0.8, 0.1);
    const std::vector<double> env = envelopeDb(s, window);
    const double peak = env[size_t(0.09 * RATE) / window];
    // Release is linear in dB: 96 dB in 330 ms at rate 8, 82.6 ms at rate 10; half of it here.
    const double expected = rr == 8 ? 0.165 : 0.0413;
    const double t = secondsUntil(env, window, size_t(0.1 * RATE), peak - 48, false);
    EXPECT_NEAR(t, expected, expected * 0.1) << "release rate " << rr;
  }
  for (int ar : {6, 8}) {
    FmPatch p = sineCarrier(14);
    p.op[1].env.ar = uint8_t(ar);
    const std::vector<float> s = renderNote(oneFmVoice(p), 33, 0.3);
    const std::vector<double> env = envelopeDb(s, window);
    // From silence to the peak in 90.5 ms at rate 6, 22.6 ms at rate 8.
    const double expected = ar == 6 ? 0.0905 : 0.0226;
    const double t = secondsUntil(env, window, 0, env.back() - 0.5, true);
    EXPECT_NEAR(t, expected, expected * 0.15 + 0.003) << "attack rate " << ar;
  }
}

TEST(HandsetSynth, DecayStopsAtTheSustainLevel) {
  FmPatch p = sineCarrier(14);
  p.op[1].env.dr = 12;
  p.op[1].env.sl = 4;  // 12 dB down
  const std::vector<float> s = renderNote(oneFmVoice(p), 33, 0.4);
  const std::vector<double> env = envelopeDb(s, 64);
  const double start = *std::max_element(env.begin(), env.end());
  EXPECT_NEAR(env.back(), start - 12, 1.0);
}

std::shared_ptr<SynthVoiceSet> loopedSample(bool drum) {
  // 100 samples of silence, then the loop: 4 periods of a 32-sample sine (250 Hz at 8 kHz).
  auto samples = std::make_shared<std::vector<float>>(100, 0.0f);
  for (int i = 0; i < 128; ++i) samples->push_back(float(std::sin(2 * PI * i / 32.0)));
  auto set = std::make_shared<SynthVoiceSet>();
  SynthVoice v;
  v.bankMsb = 0x7C;
  v.sampled = true;
  v.drum = drum;
  v.drumNote = 40;
  v.pcm.samples = samples;
  v.pcm.sampleRate = 8000;
  v.pcm.loopPoint = 100;
  v.pcm.endPoint = 228;
  v.pcm.env.ar = 15;
  v.pcm.env.rr = 15;
  set->voices.push_back(v);
  return set;
}

TEST(HandsetSynth, ASampledVoicePlaysItsLoopAtTheNotesPitch) {
  // Root key 60: note 72 plays the 250 Hz loop an octave up, and keeps it going.
  const std::vector<float> s = renderNote(loopedSample(false), 72, 1.0);
  const size_t n = 8192;
  const double at500 = amplitudeAt(s, RATE / 2, n, 500);
  EXPECT_GT(at500, 0.1);
  EXPECT_LT(amplitudeAt(s, RATE / 2, n, 250), at500 * 0.05);
  EXPECT_GT(rms(s, size_t(0.9 * RATE), 2000), 0.05);
}

TEST(HandsetSynth, ADrumSampleSoundsAtItsOwnRateOnItsNote) {
  const std::vector<float> s = renderNote(loopedSample(true), 40, 0.5);
  EXPECT_GT(amplitudeAt(s, 4410, 8192, 250), 0.1);
  // Another note of the drum channel selects no voice: nothing sounds.
  const std::vector<float> other = renderNote(loopedSample(true), 41, 0.2);
  EXPECT_EQ(rms(other, 0, other.size()), 0.0);
}

TEST(HandsetSynth, NotesOfOtherProgramsAreLeftToTheGeneralMidiSynthesizer) {
  HandsetSynth synth(RATE);
  synth.setVoices(oneFmVoice(sineCarrier()));
  EXPECT_FALSE(synth.handleMessage(0x90, 60, 100));  // bank 0: a built-in voice
  synth.handleMessage(0xB0, 0, 0x7C);
  EXPECT_TRUE(synth.handleMessage(0x90, 60, 100));
  synth.handleMessage(0xC0, 5, 0);
  EXPECT_FALSE(synth.handleMessage(0x91 - 1, 61, 100));
  EXPECT_EQ(synth.activeVoices(), 1);
}

TEST(HandsetSynth, PitchBendFollowsItsRange) {
  auto set = oneFmVoice(sineCarrier());
  for (int range : {2, 12}) {
    HandsetSynth synth(RATE);
    synth.setVoices(set);
    synth.controlChange(0, 0, 0x7C);
    synth.controlChange(0, 101, 0);
    synth.controlChange(0, 100, 0);
    synth.controlChange(0, 6, range);
    synth.pitchBend(0, 16383);
    synth.noteOn(0, 57, 127);
    std::vector<float> s;
    float block[SYNTH_BLOCK_FRAMES * 2];
    while (s.size() < 16384) {
      std::fill(std::begin(block), std::end(block), 0.0f);
      synth.render(block, SYNTH_BLOCK_FRAMES);
      for (int f = 0; f < SYNTH_BLOCK_FRAMES; ++f) s.push_back(block[2 * f]);
    }
    const double bent = 220 * std::exp2(range * (8191.0 / 8192) / 12);
    EXPECT_GT(amplitudeAt(s, 4096, 8192, bent), 0.05) << range;
  }
}

TEST(HandsetSynth, VolumeExpressionAndPanScaleTheOutput) {
  auto set = oneFmVoice(sineCarrier());
  auto levels = [&](int volume, int pan) {
    HandsetSynth synth(RATE);
    synth.setVoices(set);
    synth.controlChange(0, 0, 0x7C);
    synth.controlChange(0, 7, volume);
    synth.controlChange(0, 10, pan);
    synth.noteOn(0, 69, 127);
    float block[SYNTH_BLOCK_FRAMES * 2];
    double l = 0, r = 0;
    for (int b = 0; b < 40; ++b) {
      std::fill(std::begin(block), std::end(block), 0.0f);
      synth.render(block, SYNTH_BLOCK_FRAMES);
      if (b < 20) continue;
      for (int f = 0; f < SYNTH_BLOCK_FRAMES; ++f) {
        l += std::fabs(block[2 * f]);
        r += std::fabs(block[2 * f + 1]);
      }
    }
    return std::make_pair(l, r);
  };
  const auto full = levels(127, 64), half = levels(64, 64), left = levels(127, 0);
  EXPECT_NEAR(half.first / full.first, (64.0 / 127) * (64.0 / 127), 0.02);
  EXPECT_NEAR(full.first, full.second, full.first * 0.05);
  EXPECT_LT(left.second, left.first * 0.01);
}

TEST(HandsetSynth, TheHoldPedalKeepsSustainingOperatorsAfterKeyOff) {
  auto set = oneFmVoice(sineCarrier());
  set->voices[0].fm.op[1].env.sus = true;
  HandsetSynth synth(RATE);
  synth.setVoices(set);
  synth.controlChange(0, 0, 0x7C);
  synth.controlChange(0, 64, 127);
  synth.noteOn(0, 69, 127);
  float block[SYNTH_BLOCK_FRAMES * 2];
  for (int b = 0; b < 10; ++b) synth.render(block, SYNTH_BLOCK_FRAMES);
  synth.noteOff(0, 69);
  for (int b = 0; b < 100; ++b) synth.render(block, SYNTH_BLOCK_FRAMES);
  EXPECT_EQ(synth.activeVoices(), 1);
  synth.controlChange(0, 64, 0);
  for (int b = 0; b < 100; ++b) synth.render(block, SYNTH_BLOCK_FRAMES);
  EXPECT_EQ(synth.activeVoices(), 0);
}

TEST(HandsetSynth, PolyphonyFollowsTheChipGeneration) {
  auto set = oneFmVoice(sineCarrier());
  set->generation = ChipGeneration::MA1;
  HandsetSynth synth(RATE);
  synth.setVoices(set);
  synth.controlChange(0, 0, 0x7C);
  for (int note = 60; note < 70; ++note) synth.noteOn(0, note, 100);
  EXPECT_EQ(synth.activeVoices(), 4);
  set->generation = ChipGeneration::MA3;
  synth.setVoices(set);
  synth.controlChange(0, 0, 0x7C);
  for (int note = 30; note < 90; ++note) synth.noteOn(0, note, 100);
  EXPECT_EQ(synth.activeVoices(), 32);
}

TEST(HandsetSynth, TheSameMessagesGiveTheSameSamples) {
  FmPatch p;
  p.alg = 5;
  for (int k = 0; k < 4; ++k) {
    p.op[k] = loudOperator(k + 1);
    p.op[k].ws = uint8_t(k * 7);
    p.op[k].fb = 5;
    p.op[k].env.eam = p.op[k].env.evb = true;
  }
  auto a = renderNote(oneFmVoice(p), 64, 0.3, 0.2);
  auto b = renderNote(oneFmVoice(p), 64, 0.3, 0.2);
  ASSERT_EQ(a, b);
  EXPECT_GT(rms(a, 0, a.size()), 0.01);
}

TEST(SynthTables, WaveformsFollowTheirShapes) {
  // Sine, half-sine, abs-sine, square; trapezoid full from 1/8 to 3/8; triangle; sawtooth jump.
  EXPECT_NEAR(waveformValue(0, 0.25), 1.0, 1e-9);
  EXPECT_EQ(waveformValue(1, 0.75), 0.0);
  EXPECT_NEAR(waveformValue(2, 0.75), 1.0, 1e-9);
  EXPECT_EQ(waveformValue(6, 0.75), -1.0);
  EXPECT_EQ(waveformValue(8, 0.2), 1.0);
  EXPECT_NEAR(waveformValue(8, 0.0625), 0.5, 1e-9);
  EXPECT_NEAR(waveformValue(16, 0.125), 0.5, 1e-9);
  EXPECT_NEAR(waveformValue(24, 0.49), 0.98, 1e-9);
  EXPECT_NEAR(waveformValue(24, 0.5), -1.0, 1e-9);
  EXPECT_EQ(waveformValue(30, 0.3), 0.0);
  EXPECT_EQ(waveformValue(14, 0.3), 1.0);
  // The positive-half variants are silent in the second half, for every family.
  for (int ws : {1, 9, 17, 25}) EXPECT_EQ(waveformValue(ws, 0.6), 0.0) << ws;
  // Double speed in the first half: a whole period by the half.
  for (int ws : {4, 12, 20, 28})
    EXPECT_NEAR(waveformValue(ws, 0.125), waveformValue(ws - 4, 0.25), 1e-9) << ws;
}

}  // namespace
}  // namespace vlm
