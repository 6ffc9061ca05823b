// Real-time factor of offline rendering: a generated three-minute song (melody, chords, bass and
// drums at 120 bpm) rendered to 44.1 kHz stereo. The counter "realtime_x" is seconds of audio
// per second of rendering.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "platform/audio.h"
#include "playback/render.h"
#include "tests/stream_builders.h"

namespace {

std::vector<uint8_t> threeMinuteSong() {
  constexpr uint32_t Q = 480;  // ticks per quarter; 120 bpm: 360 quarters = 3 minutes
  vlm::test::SmfBuilder b(Q);
  b.tempo(0, 500000).program(0, 0, 0).program(0, 1, 48).program(0, 2, 33);
  for (uint32_t beat = 0; beat < 360; ++beat) {
    const uint32_t t = beat * Q;
    const uint8_t root = uint8_t(48 + (beat / 4 % 4) * 5 % 12);
    b.note(t, 0, uint8_t(72 + (beat * 7) % 12), Q / 2)
        .note(t + Q / 2, 0, uint8_t(74 + beat % 5), Q / 2);
    if (beat % 4 == 0)
      for (uint8_t i : {0, 4, 7}) b.note(t, 1, uint8_t(root + 12 + i), Q * 4 - 10, 70);
    b.note(t, 2, root, Q - 20, 90);
    b.note(t, 9, beat % 2 ? 38 : 36, Q / 4).note(t, 9, 42, Q / 8).note(t + Q / 2, 9, 42, Q / 8);
  }
  return b.build(360 * Q);
}

void BM_RenderThreeMinutes(benchmark::State& state) {
  if (!std::filesystem::exists(vlm::DEFAULT_SOUNDFONT)) {
    state.SkipWithError("no SoundFont");
    return;
  }
  const std::vector<uint8_t> smf = threeMinuteSong();
  vlm::RenderRequest request;
  request.smf = smf.data();
  request.smfSize = uint32_t(smf.size());
  double audioSeconds = 0;
  for (auto _ : state) {
    std::vector<uint8_t> wave;
    vlm::RenderResult result;
    std::string error;
    if (!vlm::renderSmfToWave(request, &wave, &result, &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    audioSeconds += double(result.frames) / request.sampleRate;
    benchmark::DoNotOptimize(wave.data());
  }
  state.counters["realtime_x"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderThreeMinutes)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();

}  // namespace
