// Every stage keeps to the capacity it is given: each reader on the songs of the golden set (one
// or more of every input format), the transform on what the readers made of them for several
// targets, and every writer on the transformed songs, each with capacities from 0 upward. The
// bytes behind the capacity must stay untouched and the size written must not pass it. Under the
// sanitizer build the buffer ends where the guard ends, so a write further away is caught too.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/conversion_run.h"
#include "convert/format_table.h"
#include "core/run_state.h"
#include "core/vstream.h"
#include "test_util.h"

namespace vlm {
namespace {

namespace fs = std::filesystem;

constexpr size_t GUARD_BYTES = 64;
constexpr uint8_t GUARD_VALUE = 0xA5;
// Every capacity up to here; above it a step of an eighth, so each song costs a few hundred runs
// however long it is. The sanitizer build, many times slower, takes fewer capacities: its buffers
// end where their guard ends, so a write past one is caught at whatever capacity it happens.
#if defined(__has_feature)
#define VLM_ASAN __has_feature(address_sanitizer)
#elif defined(__SANITIZE_ADDRESS__)
#define VLM_ASAN 1
#else
#define VLM_ASAN 0
#endif
constexpr uint32_t EVERY_CAPACITY_UP_TO = VLM_ASAN ? 48 : 256;
constexpr uint32_t STEP_DIVISOR = VLM_ASAN ? 3 : 8;
// Output codes the transform is run for: MIDI, each i-melody and PMD kind, SMAF 16, 4 and 40.
constexpr FormatCode TRANSFORM_TARGETS[] = {2, 13, 24, 35, 37, 53, 55, 59, 61};

// The song of one input, with the records the reader left.
struct ReadSong {
  std::string name;
  FormatCode code = 0;
  std::vector<uint8_t> image;   // the file
  std::vector<uint8_t> stream;  // what its reader made of it
  SongStats stats;
  SongRecord record;
};

std::vector<std::string> goldenInputs() {
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(fs::path(VLM_SOURCE_DIR) / "tests/golden/inputs"))
    if (e.is_regular_file()) files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<uint32_t> capacitiesUpTo(uint32_t full) {
  std::vector<uint32_t> out;
  for (uint32_t c = 0; c <= full + 16; c += c < EVERY_CAPACITY_UP_TO ? 1 : c / STEP_DIVISOR)
    out.push_back(c);
  for (uint32_t c : {full - 1, full, full + 1})
    if (full > 0 && c > EVERY_CAPACITY_UP_TO) out.push_back(c);
  return out;
}

// Runs `stage` into exactly `capacity` bytes and the guard; what it wrote within the capacity.
std::vector<uint8_t> runWithin(StageFn stage, const std::vector<uint8_t>& input, uint32_t capacity,
                               const std::string& what) {
  std::vector<uint8_t> buffer(capacity + GUARD_BYTES, GUARD_VALUE);
  int32_t size = -1;
  stage(input.data(), uint32_t(input.size()), buffer.data(), &size, capacity);
  EXPECT_GE(size, 0) << what << " at capacity " << capacity;
  EXPECT_LE(size, int64_t(capacity)) << what << " at capacity " << capacity;
  const auto touched = std::find_if(buffer.begin() + capacity, buffer.end(),
                                    [](uint8_t b) { return b != GUARD_VALUE; });
  EXPECT_EQ(touched, buffer.end()) << what << " changed the byte at "
                                   << (touched - buffer.begin()) << ", past capacity " << capacity;
  buffer.resize(size_t(std::clamp<int32_t>(size, 0, int32_t(capacity))));
  return buffer;
}

// Runs `stage` at every capacity of the ladder; `before` puts the records back for each run.
// Returns the output at the full capacity.
template <typename Before>
std::vector<uint8_t> runLadder(StageFn stage, const std::vector<uint8_t>& input,
                               const std::string& what, Before before) {
  const uint32_t roomy = uint32_t(input.size()) + WORK_BUFFER_MARGIN;
  before();
  std::vector<uint8_t> full = runWithin(stage, input, roomy, what);
  for (uint32_t capacity : capacitiesUpTo(uint32_t(full.size()))) {
    before();
    runWithin(stage, input, capacity, what);
    if (::testing::Test::HasFailure()) break;  // one capacity tells; the rest would repeat it
  }
  before();
  return runWithin(stage, input, roomy, what);
}

TEST(StageCapacity, EveryReaderTheTransformAndEveryWriterKeepToTheirCapacity) {
  std::vector<ReadSong> songs;
  for (const std::string& path : goldenInputs()) {
    ReadSong song_;
    song_.name = fs::path(path).filename().string();
    song_.code = detectFormat(path.c_str());
    song_.image = test::readBytes(path);
    const InputFormat* format = findInputFormat(song_.code);
    ASSERT_NE(format, nullptr) << song_.name;
    if (!format->reader) {  // a .vlm image is a stream already
      song_.stream = song_.image;
    } else {
      song_.stream = runLadder(format->reader, song_.image, "reader of " + song_.name,
                               [] { resetRun(); });
    }
    song_.stats = songStats;
    song_.record = song;
    songs.push_back(song_);
  }
  // The .qcp reader reads the wave its voice converter made; give it the wave of the set.
  for (const ReadSong& s : songs)
    if (s.code == FORMAT_WAV)
      runLadder(findInputFormat(FORMAT_QCP)->reader, s.image, "qcp reader on " + s.name,
                [] { resetRun(); });

  int count = 0;
  const OutputFormat* outputs = outputFormats(&count);
  for (const ReadSong& s : songs) {
    for (FormatCode target : TRANSFORM_TARGETS) {
      auto prepare = [&] {
        resetRun();
        songStats = s.stats;
        song = s.record;
        runState.currentOutputCode = target;
        applyOutputPreset(target);
        adjustForRun(target);
      };
      runLadder(transformStream, s.stream, "transform of " + s.name + " for " +
                std::to_string(target), prepare);
    }
    for (int i = 0; i < count; ++i) {
      const OutputFormat& out = outputs[i];
      if (!out.writer) continue;
      // The writer gets the song as the transform for its own code left it.
      resetRun();
      songStats = s.stats;
      song = s.record;
      runState.currentOutputCode = out.code;
      applyOutputPreset(out.code);
      adjustForRun(out.code);
      const uint32_t roomy = uint32_t(s.stream.size()) + WORK_BUFFER_MARGIN;
      const std::vector<uint8_t> transformed =
          runWithin(transformStream, s.stream, roomy, "transform of " + s.name);
      const SongStats stats = songStats;
      const ConversionOptions adjusted = options;
      runLadder(out.writer, transformed, std::string(out.shortName) + " writer on " + s.name,
                [&] {
                  songStats = stats;
                  options = adjusted;
                  warnings = ConversionWarnings();
                  runState.currentOutputCode = out.code;
                });
    }
  }
}

}  // namespace
}  // namespace vlm
