#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "convert/options.h"
#include "core/stages.h"
#include "core/run_state.h"
#include "core/vstream.h"
#include "test_util.h"

namespace vlm {
namespace {

using Bytes = std::vector<uint8_t>;

struct FadeEvent {
  uint32_t time;
  uint8_t status;
  Bytes data;
};

struct Faded {
  int32_t size = 0;
  Bytes image;
  int tracks = 0;
  bool truncated = false;
  std::vector<FadeEvent> fade;  // events of the appended chunk, end of track included
};

// 48 ticks per quarter; one note of 960 ticks on channel 0, the track ending at 960.
Bytes song() {
  return vlmtest::StreamBuilder(48).track().note(0, 0, 60, 100, 960).end(960).build();
}

Faded fade(const Bytes& source, uint32_t capacity = 4096) {
  std::vector<uint8_t> out(capacity + 1, 0xEE);
  Faded f;
  fadeStream(source.data(), uint32_t(source.size()), out.data(), &f.size, capacity);
  EXPECT_LE(uint32_t(f.size), capacity);
  EXPECT_EQ(out[capacity], 0xEE);
  if (f.size <= 0) return f;
  f.image.assign(out.begin(), out.begin() + f.size);
  auto table = std::make_unique<TrackTable>();
  f.tracks = loadTrackTable(*table, f.image.data(), uint32_t(f.size));
  StreamEvent ev;
  while (nextStreamEvent(*table, ev))
    if (ev.track == f.tracks - 1 && f.tracks > 1)
      f.fade.push_back({ev.time, ev.status, Bytes(ev.data, ev.data + ev.length)});
  f.truncated = table->truncated;
  return f;
}

// Checks the 17 steps from `start`: channels 0..14 at start + k x 24, channel 15 half a beat
// later, with the values `level(k)`.
template <typename Level>
void expectSteps(const std::vector<FadeEvent>& events, size_t first, uint32_t start, Level level) {
  ASSERT_GE(events.size(), first + 17 * 16);
  for (int k = 0; k < 17; ++k) {
    for (int c = 0; c < 16; ++c) {
      const FadeEvent& e = events[first + size_t(k * 16 + c)];
      const uint32_t time = start + uint32_t(k) * 24 + (c == 15 ? 24 : 0);
      EXPECT_EQ(e.time, time) << "step " << k << " channel " << c;
      EXPECT_EQ(e.status, 0xB0 | c);
      EXPECT_EQ(e.data, (Bytes{CC_EXPRESSION, uint8_t(level(k))})) << "step " << k;
    }
  }
}

class FadePass : public ::testing::Test {
 protected:
  void SetUp() override { resetRun(); }
};

TEST_F(FadePass, FadeInFromTheRangeStart) {
  options.fadeIn = true;
  options.rangeStart = 4;  // sixteenths: 48 ticks
  const Bytes source = song();
  Faded f = fade(source);
  ASSERT_EQ(f.tracks, 2);
  EXPECT_FALSE(f.truncated);
  EXPECT_TRUE(std::equal(source.begin(), source.end(), f.image.begin()));  // copied unchanged
  ASSERT_EQ(f.fade.size(), 16u + 1 + 17 * 16 + 1);
  for (int c = 0; c < 16; ++c) {
    EXPECT_EQ(f.fade[size_t(c)].time, 0u);
    EXPECT_EQ(f.fade[size_t(c)].status, 0xB0 | c);
    EXPECT_EQ(f.fade[size_t(c)].data, (Bytes{CC_EXPRESSION, 0}));
  }
  EXPECT_EQ(f.fade[16].status, ST_FILLER);
  EXPECT_EQ(f.fade[16].time, 48u);
  expectSteps(f.fade, 17, 48, [](int k) { return std::min(8 * k, 127); });
  EXPECT_EQ(f.fade.back().status, ST_META);  // the end of track, right after the last step
  EXPECT_EQ(f.fade.back().time, 48u + 17 * 24);
}

TEST_F(FadePass, FadeOutToTheRangeEnd) {
  options.fadeOut = true;
  options.rangeEnd = 64;  // 768 ticks; the fade begins 8 beats before
  Faded f = fade(song());
  ASSERT_EQ(f.fade.size(), 1u + 17 * 16 + 1);
  EXPECT_EQ(f.fade[0].status, ST_FILLER);
  EXPECT_EQ(f.fade[0].time, 768u - 384);
  expectSteps(f.fade, 1, 384, [](int k) { return std::max(127 - 8 * k, 0); });

  // Without a range end the fade leads to the end of the song (960), not to its start.
  options.rangeEnd = 0;
  Faded g = fade(song());
  ASSERT_FALSE(g.fade.empty());
  EXPECT_EQ(g.fade[0].time, 960u - 384);

  // A fade longer than the song starts at once.
  options.rangeEnd = 8;
  Faded h = fade(song());
  ASSERT_FALSE(h.fade.empty());
  EXPECT_EQ(h.fade[0].time, 0u);
}

TEST_F(FadePass, FadeInAndOut) {
  options.fadeIn = options.fadeOut = true;
  options.rangeStart = 4;
  options.rangeEnd = 128;  // 1536 ticks
  Faded f = fade(song());
  ASSERT_EQ(f.fade.size(), 16u + 1 + 17 * 16 + 1 + 17 * 16 + 1);
  // After the fade-in (ending at 48 + 17 x 24 = 456) the delay is
  // (1536 - 384) - (48 + 384) = 720.
  const size_t out = 16 + 1 + 17 * 16;
  EXPECT_EQ(f.fade[out].status, ST_FILLER);
  EXPECT_EQ(f.fade[out].time, 456u + 720);
  expectSteps(f.fade, out + 1, 456 + 720, [](int k) { return std::max(127 - 8 * k, 0); });
}

TEST_F(FadePass, SmallBuffersStillCloseTheChunk) {
  options.fadeIn = options.fadeOut = true;
  options.rangeStart = 2;
  const Bytes source = song();
  const Faded whole = fade(source);
  for (uint32_t capacity = 0; capacity <= uint32_t(whole.size) + 4; ++capacity) {
    Faded f = fade(source, capacity);
    if (capacity < source.size()) {
      EXPECT_EQ(f.size, 0) << capacity;
      continue;
    }
    EXPECT_FALSE(f.truncated) << capacity;
    if (capacity < source.size() + 12) {
      EXPECT_EQ(f.size, int32_t(source.size())) << capacity;  // no room for a chunk
      continue;
    }
    ASSERT_EQ(f.tracks, 2) << capacity;
    ASSERT_FALSE(f.fade.empty());
    EXPECT_EQ(f.fade.back().status, ST_META) << capacity;
  }
  EXPECT_EQ(fade(source, uint32_t(whole.size)).image, whole.image);
}

TEST_F(FadePass, DamagedStreamsAreCopiedAndClosed) {
  options.fadeIn = options.fadeOut = true;
  const Bytes source = song();
  for (size_t n = 0; n <= source.size(); ++n) {
    Faded f = fade(Bytes(source.begin(), source.begin() + long(n)));
    ASSERT_GT(f.size, int32_t(n)) << n;
    EXPECT_TRUE(std::equal(source.begin(), source.begin() + long(n), f.image.begin())) << n;
  }
  int32_t size = -1;
  std::vector<uint8_t> out(64);
  fadeStream(nullptr, 0, out.data(), &size, 64);
  // Without a source there is only the fade chunk, cut short by the buffer and closed.
  ASSERT_GE(size, 12);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 4, VTRK_ID));
  EXPECT_EQ(out[size_t(size) - 3], ST_META);
  EXPECT_EQ(out[size_t(size) - 2], META_END_OF_TRACK);
}

}  // namespace
}  // namespace vlm
