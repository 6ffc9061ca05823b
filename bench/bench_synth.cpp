// Speed of the handset synthesizer: 30 seconds with 16 four-operator FM voices sounding all the
// time (the target is under 0.3 s, 100 times real time, on one core), the same with 2-operator
// voices, and a whole render of a song of the file's own voices to WAVE. "realtime_x" is seconds
// of audio per second of work.
#include <benchmark/benchmark.h>

#include <memory>

#include "synth/handset_synth.h"

namespace {

constexpr uint32_t RATE = 44100;
constexpr double SONG_SECONDS = 30;
constexpr int VOICES = 16;

// A busy patch: feedback, a modulator chain, tremolo and vibrato, several waveforms.
std::shared_ptr<vlm::SynthVoiceSet> busyVoices(int alg) {
  auto set = std::make_shared<vlm::SynthVoiceSet>();
  set->generation = vlm::ChipGeneration::MA5;
  vlm::SynthVoice v;
  v.bankMsb = 0x7C;
  v.fm.alg = uint8_t(alg);
  for (int k = 0; k < 4; ++k) {
    vlm::FmOperatorParams& o = v.fm.op[k];
    o.env.ar = 14;
    o.env.dr = 2;
    o.env.sl = 3;
    o.env.rr = 6;
    o.env.tl = uint8_t(k == 3 ? 0 : 20);
    o.env.eam = o.env.evb = true;
    o.multi = uint8_t(k + 1);
    o.ws = uint8_t(k * 8);
    o.fb = 5;
  }
  set->voices.push_back(v);
  return set;
}

void renderHeldVoices(benchmark::State& state, int alg) {
  auto set = busyVoices(alg);
  const uint64_t frames = uint64_t(SONG_SECONDS * RATE);
  double audio = 0;
  for (auto _ : state) {
    vlm::HandsetSynth synth(RATE);
    synth.setVoices(set);
    synth.controlChange(0, 0, 0x7C);
    for (int i = 0; i < VOICES; ++i) synth.noteOn(0, 40 + 3 * i, 100);
    float block[vlm::SYNTH_BLOCK_FRAMES * 2];
    for (uint64_t f = 0; f < frames; f += vlm::SYNTH_BLOCK_FRAMES) {
      std::fill(std::begin(block), std::end(block), 0.0f);
      synth.render(block, vlm::SYNTH_BLOCK_FRAMES);
      benchmark::DoNotOptimize(block);
    }
    if (synth.activeVoices() != VOICES) state.SkipWithError("voices ended early");
    audio += SONG_SECONDS;
  }
  state.counters["realtime_x"] = benchmark::Counter(audio, benchmark::Counter::kIsRate);
}

void BM_HandsetSynth16FourOperatorVoices30s(benchmark::State& state) {
  renderHeldVoices(state, 4);
}
BENCHMARK(BM_HandsetSynth16FourOperatorVoices30s)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HandsetSynth16TwoOperatorVoices30s(benchmark::State& state) {
  renderHeldVoices(state, 0);
}
BENCHMARK(BM_HandsetSynth16TwoOperatorVoices30s)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
