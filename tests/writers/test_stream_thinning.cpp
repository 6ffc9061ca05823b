// Stream thinning before a size limit cuts a song: bends to coarser steps with the pitch they
// reach kept, repeats of controller and program values dropped, everything else as it was.
#include <gtest/gtest.h>

#include <vector>

#include "core/vstream.h"
#include "test_util.h"
#include "writers/stream_thinning.h"

namespace {

using vlmtest::Bytes;
using vlmtest::StreamBuilder;

Bytes bend(int value) {
  return {uint8_t(vlm::ST_PITCH_BEND), uint8_t(value & 0x7F), uint8_t(value >> 7)};
}

TEST(StreamThinning, BendsKeepOnePerWindowAndTheValueTheyReach) {
  // Timebase 48: level 1 keeps one bend per 6 ticks and steps of 1/8 semitone (512 units at a
  // range of 2). A rise by 100 units a tick for 40 ticks, then the note of the next beat.
  StreamBuilder b(48);
  b.track().note(0, 0, 60, 100, 48);
  for (int t = 1; t <= 40; ++t) {
    const Bytes e = bend(8192 + 100 * t);
    b.raw(1, {e[0], e[1], e[2]});
  }
  b.note(8, 0, 62, 100, 48).end(48);
  const Bytes in = b.build();
  std::vector<uint8_t> out;
  ASSERT_TRUE(vlm::thinStream(in.data(), uint32_t(in.size()), 1, out));
  const auto s = vlmtest::collectStream(out.data(), uint32_t(out.size()));
  std::vector<std::pair<uint32_t, int>> bends;
  for (const auto& e : s.events)
    if ((e.status & 0xF0) == vlm::ST_PITCH_BEND)
      bends.push_back({e.time, e.data[0] | e.data[1] << 7});
  ASSERT_GE(bends.size(), 3u);
  EXPECT_LE(bends.size(), 8u);
  for (size_t i = 1; i < bends.size(); ++i) EXPECT_GE(bends[i].first - bends[i - 1].first, 6u);
  // Where the rise ends, to within the step, by the next note.
  EXPECT_NEAR(bends.back().second, 8192 + 4000, 512);
  EXPECT_LE(bends.back().first, 48u);
  ASSERT_EQ(s.notes().size(), 2u);
  EXPECT_EQ(s.notes()[1].time, 48u);
  EXPECT_EQ(s.trackEnds.size(), 1u);
  EXPECT_EQ(s.trackEnds[0], 96u);
}

TEST(StreamThinning, RepeatsAreDroppedAndASongWithoutThemIsLeftAlone) {
  StreamBuilder b(48);
  b.track().cc(0, 0, 7, 90).note(0, 0, 60, 100, 12).cc(12, 0, 7, 90).cc(0, 0, 10, 64);
  b.program(0, 0, 5).program(0, 0, 5).cc(0, 0, 100, 0).cc(0, 0, 100, 0).end(12);
  const Bytes in = b.build();
  std::vector<uint8_t> out;
  ASSERT_TRUE(vlm::thinStream(in.data(), uint32_t(in.size()), 1, out));
  const auto s = vlmtest::collectStream(out.data(), uint32_t(out.size()));
  int volume = 0, pan = 0, program = 0, rpn = 0;
  for (const auto& e : s.events) {
    if ((e.status & 0xF0) == vlm::ST_PROGRAM) ++program;
    if ((e.status & 0xF0) != vlm::ST_CONTROL) continue;
    volume += e.data[0] == 7;
    pan += e.data[0] == 10;
    rpn += e.data[0] == 100;
  }
  EXPECT_EQ(volume, 1);
  EXPECT_EQ(pan, 0);  // 64 is where pan starts
  EXPECT_EQ(program, 1);
  EXPECT_EQ(rpn, 2);  // parameter selections are not repeats of a value

  const Bytes plain =
      StreamBuilder(48).track().cc(0, 0, 7, 90).note(0, 0, 60, 100, 12).end(12).build();
  EXPECT_FALSE(vlm::thinStream(plain.data(), uint32_t(plain.size()), 3, out));
}

}  // namespace
