// Throughput of the Standard MIDI File writer alone, and of the whole SMF path (reader, transform
// and writer) that every playback runs.
#include <benchmark/benchmark.h>

#include <vector>

#include "convert/conversion_run.h"
#include "convert/options.h"
#include "core/stages.h"
#include "core/vstream.h"
#include "tests/stream_builders.h"

namespace {

// A dense four-track song: notes with varied lengths, volume changes and bends.
std::vector<uint8_t> denseStream(int notesPerTrack) {
  vlmtest::StreamBuilder b(480);
  for (int t = 0; t < 4; ++t) {
    b.track();
    for (int i = 0; i < notesPerTrack; ++i) {
      b.note(i % 3 == 0 ? 0 : 60, t, 40 + (i * 7) % 40, 100, uint16_t(100 + (i % 5) * 30));
      if (i % 4 == 0) b.cc(0, t, 7, i % 128);
      if (i % 16 == 0) b.raw(0, {uint8_t(0xE0 | t), 0, uint8_t(0x40 + i % 8)});
    }
    b.end();
  }
  return b.build();
}

void resetRun() {
  vlm::options = vlm::ConversionOptions{};
  vlm::warnings = vlm::ConversionWarnings{};
  vlm::runState.forPlayback = true;
  vlm::song.ProtectFlags = 0;
}

void BM_SmfWriter(benchmark::State& state) {
  resetRun();
  std::vector<uint8_t> stream = denseStream(100000);
  std::vector<uint8_t> out(stream.size() * 2);
  int32_t size = 0;
  for (auto _ : state) {
    vlm::writeSmf(stream.data(), uint32_t(stream.size()), out.data(), &size, uint32_t(out.size()));
    benchmark::DoNotOptimize(size);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
}
BENCHMARK(BM_SmfWriter)->Unit(benchmark::kMillisecond);

// SMF image in, SMF image out, through the two alternating work buffers of a run.
void BM_SmfPath(benchmark::State& state) {
  resetRun();
  std::vector<uint8_t> stream = denseStream(100000);
  std::vector<uint8_t> smf(stream.size() * 2);
  int32_t smfSize = 0;
  vlm::writeSmf(stream.data(), uint32_t(stream.size()), smf.data(), &smfSize, uint32_t(smf.size()));
  smf.resize(size_t(smfSize));
  std::vector<uint8_t> a(smf.size() * 2 + vlm::WORK_BUFFER_MARGIN);
  std::vector<uint8_t> b(a.size());
  for (auto _ : state) {
    int32_t n = 0;
    vlm::readSmf(smf.data(), uint32_t(smf.size()), a.data(), &n, uint32_t(a.size()));
    int32_t m = 0;
    vlm::transformStream(a.data(), uint32_t(n), b.data(), &m, uint32_t(b.size()));
    vlm::writeSmf(b.data(), uint32_t(m), a.data(), &n, uint32_t(a.size()));
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(smf.size()));
}
BENCHMARK(BM_SmfPath)->Unit(benchmark::kMillisecond);

}  // namespace
