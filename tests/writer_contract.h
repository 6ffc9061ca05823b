// What every writer promises, checked the same way for each: it writes into the room it is given
// and not one byte past it (guard bytes behind the capacity must stay as they were), reports a
// size within the capacity, and is run with the presets a save of its output code sets. Also the
// byte helpers the container tests share: big-endian numbers and the CRC of the SMAF and
// i-melody files, computed here on their own so that the writers' CRC is checked, not repeated.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "convert/conversion_run.h"
#include "convert/format_table.h"
#include "core/run_state.h"
#include "core/stages.h"
#include "stream_builders.h"

namespace vlm::test {

inline constexpr uint8_t GUARD = 0xA5;
inline constexpr uint32_t GUARD_BYTES = 64;

// Runs `writer` on `stream` into `capacity` bytes followed by guard bytes; the file it wrote.
inline Bytes writeGuarded(StageFn writer, const Bytes& stream, uint32_t capacity) {
  Bytes buffer(size_t(capacity) + GUARD_BYTES, GUARD);
  int32_t size = -1;
  writer(stream.data(), uint32_t(stream.size()), buffer.data(), &size, capacity);
  EXPECT_GE(size, 0);
  EXPECT_LE(uint32_t(std::max(size, 0)), capacity);
  for (size_t i = capacity; i < buffer.size(); ++i) {
    if (buffer[i] != GUARD) {
      ADD_FAILURE() << "byte written past the capacity at " << i;
      break;
    }
  }
  buffer.resize(size_t(std::max(size, 0)));
  return buffer;
}

// Writes `stream` as writeGuarded does and reads the file back with `parse`; a file the parser
// rejects fails the test with the parser's reason.
template <typename Parse>
auto writeAndParse(StageFn writer, Parse parse, const Bytes& stream, uint32_t capacity) {
  auto parsed = parse(writeGuarded(writer, stream, capacity));
  EXPECT_TRUE(parsed.ok) << parsed.error;
  return parsed;
}

// The presets a save of output `code` sets before its writer runs.
inline void presetOutput(FormatCode code) {
  runState.currentOutputCode = code;
  applyOutputPreset(code);
  adjustForRun(code);
}

// `n` bytes big-endian at `at`.
inline uint32_t be(const Bytes& b, size_t at, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | b[at + size_t(i)];
  return v;
}

// CRC-16/GENIBUS, bit by bit.
inline uint16_t genibus(const uint8_t* p, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc ^= uint16_t(p[i] << 8);
    for (int k = 0; k < 8; ++k) crc = (crc & 0x8000) ? uint16_t(crc << 1 ^ 0x1021) : crc << 1;
  }
  return uint16_t(~crc);
}

// The fixture of the writer tests: every test starts from a fresh run and what `prepare` sets
// on it, and write() runs the writer into a guarded buffer.
class WriterTest : public ::testing::Test {
 protected:
  explicit WriterTest(StageFn writer, std::function<void()> prepare = {})
      : writer_(writer), prepare_(std::move(prepare)) {}
  void SetUp() override {
    resetRun();
    if (prepare_) prepare_();
  }
  // Presets as a save of output `code` sets them.
  void preset(FormatCode code) { presetOutput(code); }
  Bytes write(const Bytes& stream, uint32_t capacity = 1 << 20) {
    return writeGuarded(writer_, stream, capacity);
  }

  StageFn writer_;
  std::function<void()> prepare_;
};

// Every output code the format table has a writer for.
inline std::vector<FormatCode> codesWithWriters() {
  std::vector<FormatCode> codes;
  int count = 0;
  const OutputFormat* formats = outputFormats(&count);
  for (int i = 0; i < count; ++i)
    if (formats[i].writer) codes.push_back(formats[i].code);
  return codes;
}

// A song of random notes, controllers, programs, bends, tempos and texts on 1 to 3 tracks, with
// values outside their ranges and long pauses among them.
inline Bytes randomSong(std::mt19937& rng) {
  StreamBuilder b(uint16_t(1 + rng() % 480));
  const int tracks = 1 + int(rng() % 3);
  for (int t = 0; t < tracks; ++t) {
    b.track();
    const int events = int(rng() % 80);
    for (int i = 0; i < events; ++i) {
      const uint32_t delta = rng() % 8 == 0 ? rng() % 300000 : rng() % 30;
      const uint8_t ch = uint8_t(rng() % 16);
      switch (rng() % 7) {
        case 0:
        case 1:
          b.note(delta, ch, int(rng() % 128), int(rng() % 128), uint16_t(rng()));
          break;
        case 2:
          b.cc(delta, ch, int(rng() % 0x86), int(rng() % 256));
          break;
        case 3:
          b.program(delta, ch, int(rng() % 256));
          break;
        case 4:
          b.raw(delta, {uint8_t(0xE0 | ch), uint8_t(rng()), uint8_t(rng())});
          break;
        case 5:
          b.raw(delta, {0xFF, 0x51, 0x03, uint8_t(rng()), uint8_t(rng()), uint8_t(rng())});
          break;
        default: {
          Bytes text(rng() % 40);
          for (uint8_t& x : text) x = uint8_t(rng());
          b.meta(delta, uint8_t(1 + rng() % 5), text);
          break;
        }
      }
    }
    b.end(rng() % 100);
  }
  return b.build();
}

}  // namespace vlm::test
