// Throughput of the conversion pipeline: the Standard MIDI File reader, the transform pass and
// the whole reader + transform + SMF writer path on a generated 16-channel song of about 2 MB,
// and one ringtone-sized conversion of a 10 KB song.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_songs.h"
#include "convert/conversion_run.h"
#include "convert/options.h"
#include "core/codec.h"
#include "core/stages.h"
#include "core/vstream.h"

namespace vlm {
namespace {

using bench::makeSong;
using bench::SongLayout;

constexpr uint32_t BUFFER_MARGIN = 131072;

void setUpRun() {
  options = ConversionOptions{};
  runState.forPlayback = false;
  applyOutputPreset(2);
}

struct Buffers {
  std::vector<uint8_t> song, a, b;
  explicit Buffers(size_t bytes, SongLayout layout = SongLayout::TRACK_PER_CHANNEL)
      : song(makeSong(bytes, layout)) {
    a.resize(song.size() + BUFFER_MARGIN);
    b.resize(song.size() + BUFFER_MARGIN);
  }
};

// The reader alone on the 2 MB song laid out as `layout`.
void measureReader(benchmark::State& state, SongLayout layout) {
  setUpRun();
  Buffers buf(2 << 20, layout);
  int32_t size = 0;
  for (auto _ : state) {
    readSmf(buf.song.data(), uint32_t(buf.song.size()), buf.a.data(), &size,
            uint32_t(buf.a.size()));
    benchmark::DoNotOptimize(size);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(buf.song.size()));
  state.counters["stream_bytes"] = double(size);
}

void BM_SmfReader(benchmark::State& state) {
  measureReader(state, SongLayout::TRACK_PER_CHANNEL);
}
BENCHMARK(BM_SmfReader)->Unit(benchmark::kMillisecond);

// The same events in one track: the reader without the merge of tracks.
void BM_SmfReaderOneTrack(benchmark::State& state) {
  measureReader(state, SongLayout::ONE_TRACK);
}
BENCHMARK(BM_SmfReaderOneTrack)->Unit(benchmark::kMillisecond);

void BM_Transform(benchmark::State& state) {
  setUpRun();
  Buffers buf(2 << 20);
  int32_t streamSize = 0, size = 0;
  readSmf(buf.song.data(), uint32_t(buf.song.size()), buf.a.data(), &streamSize,
          uint32_t(buf.a.size()));
  for (auto _ : state) {
    transformStream(buf.a.data(), uint32_t(streamSize), buf.b.data(), &size,
                    uint32_t(buf.b.size()));
    benchmark::DoNotOptimize(size);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * streamSize);
  state.counters["out_bytes"] = double(size);
}
BENCHMARK(BM_Transform)->Unit(benchmark::kMillisecond);

// One run of the pipeline as the conversion run does it, alternating two work buffers.
int32_t convertToSmf(Buffers& buf) {
  int32_t s1 = 0, s2 = 0, s3 = 0;
  readSmf(buf.song.data(), uint32_t(buf.song.size()), buf.a.data(), &s1, uint32_t(buf.a.size()));
  const SongStats saved = songStats;
  transformStream(buf.a.data(), uint32_t(s1), buf.b.data(), &s2, uint32_t(buf.b.size()));
  writeSmf(buf.b.data(), uint32_t(s2), buf.a.data(), &s3, uint32_t(buf.a.size()));
  songStats = saved;
  return s3;
}

// Converts a song of `songBytes` to SMF again and again; bytes processed are the song's.
void runSmfConversions(benchmark::State& state, size_t songBytes) {
  setUpRun();
  Buffers buf(songBytes);
  int32_t size = 0;
  for (auto _ : state) {
    size = convertToSmf(buf);
    benchmark::DoNotOptimize(size);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(buf.song.size()));
  state.counters["out_bytes"] = double(size);
}

void BM_PipelineSmfPath(benchmark::State& state) {
  runSmfConversions(state, 2 << 20);
}
BENCHMARK(BM_PipelineSmfPath)->Unit(benchmark::kMillisecond);

void BM_RingtoneConversion(benchmark::State& state) {
  runSmfConversions(state, 10 * 1024);
}
BENCHMARK(BM_RingtoneConversion)->Unit(benchmark::kMicrosecond);

// The whole conversion run on a 10 KB file: loading, work blocks, the three stages, the copies
// of the statistics and options it restores, and the write of the output file.
void BM_RunConversionFile(benchmark::State& state) {
  setUpRun();
  const std::vector<uint8_t> song = makeSong(10 * 1024);
  const std::filesystem::path dir = std::filesystem::temp_directory_path();
  const std::string input = (dir / "vlmbench_run_in.mid").string();
  const std::string output = (dir / "vlmbench_run_out.mid").string();
  if (std::FILE* f = std::fopen(input.c_str(), "wb")) {
    std::fwrite(song.data(), 1, song.size(), f);
    std::fclose(f);
  }
  runState.outputSizeLimit = 0;
  int result = 0;
  for (auto _ : state) {
    result = runConversion(input.c_str(), output.c_str(), FORMAT_SMF, FORMAT_SMF);
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(song.size()));
  state.counters["ok"] = double(result);
  std::filesystem::remove(input);
  std::filesystem::remove(output);
}
BENCHMARK(BM_RunConversionFile)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vlm
