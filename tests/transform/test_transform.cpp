#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "convert/conversion_run.h"
#include "convert/options.h"
#include "core/codec.h"
#include "core/stages.h"
#include "core/vstream.h"
#include "test_util.h"

namespace vlm {
namespace {

// ---- Input builder: events at absolute times, written as one VStream chunk ----

struct InEvent {
  uint32_t time;
  std::vector<uint8_t> bytes;  // status and data
};

struct StreamBuilder {
  uint16_t timebase = 96;
  std::vector<InEvent> events;

  StreamBuilder& note(uint32_t t, int ch, int pitch, int velocity, int duration) {
    events.push_back({t,
                      {uint8_t(0x90 | ch), uint8_t(pitch), uint8_t(velocity),
                       uint8_t(duration >> 8), uint8_t(duration)}});
    return *this;
  }
  StreamBuilder& control(uint32_t t, int ch, int cc, int v) {
    events.push_back({t, {uint8_t(0xB0 | ch), uint8_t(cc), uint8_t(v)}});
    return *this;
  }
  StreamBuilder& tempo(uint32_t t, uint32_t usec) {
    events.push_back(
        {t, {0xFF, META_TEMPO, 3, uint8_t(usec >> 16), uint8_t(usec >> 8), uint8_t(usec)}});
    return *this;
  }

  std::vector<uint8_t> image() const {
    std::vector<InEvent> sorted = events;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const InEvent& a, const InEvent& b) { return a.time < b.time; });
    std::vector<uint8_t> img = {
        'V', 'T', 'h', 'd', 0, 0, 0, 2, uint8_t(timebase >> 8), uint8_t(timebase),
        'V', 'T', 'r', 'k', 0, 0, 0, 0};
    uint32_t last = 0;
    uint32_t end = 0;
    for (const InEvent& e : sorted) {
      uint8_t vl[5];
      int n = writeVarLen(vl, e.time - last);
      img.insert(img.end(), vl, vl + n);
      img.insert(img.end(), e.bytes.begin(), e.bytes.end());
      last = e.time;
      uint32_t stop = e.time;
      if ((e.bytes[0] & 0xF0) == 0x90) stop += uint32_t(e.bytes[3] << 8 | e.bytes[4]);
      end = std::max(end, stop);
    }
    uint8_t vl[5];
    int n = writeVarLen(vl, end - last);
    img.insert(img.end(), vl, vl + n);
    img.insert(img.end(), {0xFF, 0x2F, 0});
    putBE(img.data() + 14, uint32_t(img.size() - 18), 4);
    return img;
  }
};

// Gathers SongStats from an image the way a reader leaves them: every event is submitted
// through the stream writer.
void gatherStats(const std::vector<uint8_t>& img) {
  TrackTable table;
  loadTrackTable(table, img.data(), uint32_t(img.size()));
  std::vector<uint8_t> out(img.size() * 2 + 1024);
  resetSongStats();
  beginStream();
  writer.timebase = table.timebase;
  writeHeaderChunk(out.data());
  writeTrackChunk(out.data());
  StreamEvent ev;
  while (nextStreamEvent(table, ev)) {
    std::vector<uint8_t> data;
    uint8_t status = ev.status;
    if (status == ST_META) {
      if (ev.metaType == META_END_OF_TRACK) {
        writer.now = ev.time;
        continue;
      }
      data.push_back(ev.metaType);
      uint8_t vl[5];
      int n = writeVarLen(vl, ev.length);
      data.insert(data.end(), vl, vl + n);
    }
    data.insert(data.end(), ev.data, ev.data + ev.length);
    if ((status & 0xF0) == ST_NOTE) status = uint8_t(ST_TIMED_NOTE | (status & 0x0F));
    submitEvent(out.data(), uint32_t(out.size()), ev.time, status, 0, data.data(),
                uint32_t(data.size()));
  }
  finishStream(out.data());
  endStream();
}

// ---- Output decoding ----

using OutEvent = test::StreamEventCopy;

struct Output {
  std::vector<uint8_t> bytes;
  std::vector<OutEvent> events;
  uint16_t timebase = 0;

  std::vector<OutEvent> notes(int track = 0) const {
    std::vector<OutEvent> r;
    for (const OutEvent& e : events)
      if (e.track == track && (e.status & 0xF0) == ST_NOTE) r.push_back(e);
    return r;
  }
  std::vector<OutEvent> tempos() const {
    std::vector<OutEvent> r;
    for (const OutEvent& e : events)
      if (e.status == ST_META && e.metaType == META_TEMPO) r.push_back(e);
    return r;
  }
  std::vector<OutEvent> controls(int cc) const {
    std::vector<OutEvent> r;
    for (const OutEvent& e : events)
      if ((e.status & 0xF0) == ST_CONTROL && e.data[0] == cc) r.push_back(e);
    return r;
  }
};

uint32_t duration(const OutEvent& e) {
  return uint32_t(e.data[2] << 8 | e.data[3]);
}

Output transform(const std::vector<uint8_t>& img, uint32_t capacity = 0) {
  gatherStats(img);
  Output o;
  o.bytes.assign(capacity ? capacity : img.size() + 131072, 0xEE);
  int32_t size = -1;
  transformStream(img.data(), uint32_t(img.size()), o.bytes.data(), &size,
                  uint32_t(o.bytes.size()));
  EXPECT_GE(size, int32_t(EMPTY_STREAM_SIZE));
  o.bytes.resize(size_t(std::max(size, 0)));
  const test::CollectedStream read = test::collectStream(o.bytes.data(), uint32_t(o.bytes.size()));
  EXPECT_FALSE(read.truncated);
  o.timebase = read.timebase;
  o.events = read.events;
  return o;
}

class Transform : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRun();
  }
};

// Most notes sounding at once, from the output's start times and durations.
int maxSounding(const std::vector<OutEvent>& notes, int channel = -1) {
  std::map<uint32_t, int> delta;
  for (const OutEvent& n : notes) {
    if (channel >= 0 && (n.status & 0x0F) != channel) continue;
    if (duration(n) == 0) continue;
    ++delta[n.time];
    --delta[n.time + duration(n)];
  }
  int now = 0, most = 0;
  for (auto& [t, d] : delta) most = std::max(most, now += d);
  return most;
}

TEST_F(Transform, EqualTimebasesAndUnitTempoLeaveTimesUnchanged) {
  StreamBuilder b;
  b.tempo(0, 500000).note(0, 0, 60, 100, 48).note(96, 0, 62, 100, 30).note(200, 0, 64, 90, 7);
  Output o = transform(b.image());
  EXPECT_EQ(o.timebase, 96);
  auto notes = o.notes();
  ASSERT_EQ(notes.size(), 3u);
  EXPECT_EQ(notes[0].time, 0u);
  EXPECT_EQ(notes[1].time, 96u);
  EXPECT_EQ(notes[2].time, 200u);
  EXPECT_EQ(duration(notes[0]), 48u);
  EXPECT_EQ(duration(notes[1]), 30u);
  EXPECT_EQ(duration(notes[2]), 7u);
  auto tempos = o.tempos();
  ASSERT_EQ(tempos.size(), 1u);
  EXPECT_EQ(tempos[0].time, 0u);
  EXPECT_EQ(getBE(tempos[0].data.data(), 3), 500000u);
}

TEST_F(Transform, TempoRatioScalesEverySetTempo) {
  StreamBuilder b;
  b.tempo(0, 600000).note(0, 0, 60, 100, 48).tempo(96, 400000).note(96, 0, 62, 100, 48);
  {
    Output o = transform(b.image());
    auto t = o.tempos();
    ASSERT_EQ(t.size(), 2u);
    // Several tempos: the run starts at 120 per minute, overwritten by the song's own at 0.
    EXPECT_EQ(getBE(t[0].data.data(), 3), 600000u);
    EXPECT_EQ(t[1].time, 96u);
    EXPECT_EQ(getBE(t[1].data.data(), 3), 400000u);
  }
  options.tempoRatio = 512;
  Output o = transform(b.image());
  auto t = o.tempos();
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(getBE(t[0].data.data(), 3), 300000u);
  EXPECT_EQ(getBE(t[1].data.data(), 3), 200000u);
  EXPECT_EQ(o.notes()[1].time, 96u);  // the ticks stay, only the tempo changes
}

TEST_F(Transform, TimebaseConversionCarriesTheRemainder) {
  StreamBuilder b;
  b.timebase = 480;
  b.note(0, 0, 60, 100, 10).note(25, 0, 62, 100, 10).note(30, 0, 64, 100, 10);
  options.preset.targetTimebase = 48;
  Output o = transform(b.image());
  EXPECT_EQ(o.timebase, 48);
  auto notes = o.notes();
  ASSERT_EQ(notes.size(), 3u);
  EXPECT_EQ(notes[1].time - notes[0].time, 2u);  // 25 ticks: 2, carry 5
  EXPECT_EQ(notes[2].time - notes[1].time, 1u);  // 5 + 5 ticks: 1
  EXPECT_EQ(duration(notes[2]), 1u);             // at least 1
}

TEST_F(Transform, FixedTempoFoldsTempoChangesIntoTheTicks) {
  StreamBuilder b;
  b.tempo(0, 500000).note(0, 0, 60, 100, 96).tempo(96, 250000).note(96, 0, 62, 100, 96);
  b.note(192, 0, 64, 100, 10);
  options.preset.fixedTempo = true;
  options.preset.fixedTempoValue = 120;
  Output o = transform(b.image());
  auto t = o.tempos();
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(getBE(t[0].data.data(), 3), 500000u);
  auto notes = o.notes();
  ASSERT_EQ(notes.size(), 3u);
  EXPECT_EQ(notes[1].time, 96u);
  EXPECT_EQ(notes[2].time, 144u);  // twice the tempo: the second beat takes half the ticks
  EXPECT_EQ(duration(notes[1]), 48u);
}

// A fixed-tempo target measures the song at its tempo to the nearest whole beat: 90 a minute
// (666,667 microseconds) at a fixed 125 gives 96 x 125 / 90 ticks a beat, not the 134.8 of 89.
TEST_F(Transform, FixedTempoTakesTheSongTempoToTheNearestBeat) {
  StreamBuilder b;
  b.tempo(0, 666667);
  for (uint32_t beat = 0; beat < 90; ++beat) b.note(beat * 96, 0, 60, 100, 48);
  gatherStats(b.image());
  EXPECT_EQ(songStats.tempoMin, 90u);
  options.preset.fixedTempo = true;
  options.preset.fixedTempoValue = 125;
  Output o = transform(b.image());
  auto notes = o.notes();
  ASSERT_EQ(notes.size(), 90u);
  EXPECT_EQ(notes.back().time, 89u * 96 * 125 / 90);  // 89 beats after the first note
}

TEST_F(Transform, CutRangeKeepsOrRemovesTheSecondBar) {
  StreamBuilder b;  // 96 ticks a quarter: a bar of 4/4 is 384 ticks, 16 sixteenths
  b.note(0, 0, 60, 100, 96).note(384, 0, 62, 100, 96).note(768, 0, 64, 100, 96);
  options.rangeStart = 16;
  options.rangeEnd = 32;
  Output keep = transform(b.image());
  auto k = keep.notes();
  ASSERT_EQ(k.size(), 1u);
  EXPECT_EQ(k[0].data[0], 62);
  EXPECT_EQ(k[0].time, 0u);  // leading rest cut

  options.rangeStart = 32;
  options.rangeEnd = 16;
  Output cut = transform(b.image());
  auto c = cut.notes();
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[0].data[0], 60);
  EXPECT_EQ(c[1].data[0], 64);
  EXPECT_EQ(c[1].time, 384u);

  // The cut flag turns an ordinary range into the part that is removed.
  options.rangeStart = 16;
  options.rangeEnd = 32;
  options.cutRange = true;
  EXPECT_EQ(transform(b.image()).notes().size(), 2u);
}

TEST_F(Transform, KeptRangeShortensANoteRunningPastItsEnd) {
  StreamBuilder b;
  b.note(384, 0, 62, 100, 600);
  options.rangeStart = 16;
  options.rangeEnd = 32;
  auto n = transform(b.image()).notes();
  ASSERT_EQ(n.size(), 1u);
  EXPECT_EQ(duration(n[0]), 384u);
}

TEST_F(Transform, TopSixteenthNoteComesFirstWhenSaving) {
  StreamBuilder b;
  b.note(192, 0, 60, 100, 48);
  options.pmdtopplus = true;
  Output o = transform(b.image());
  auto n = o.notes();
  ASSERT_EQ(n.size(), 2u);
  EXPECT_EQ(n[0].data[0], 21);
  EXPECT_EQ(n[0].data[1], 2);
  EXPECT_EQ(duration(n[0]), 1u);
  EXPECT_EQ(n[1].time - n[0].time, 24u);  // a sixteenth later (leading rest cut)

  runState.forPlayback = true;  // not for playback
  EXPECT_EQ(transform(b.image()).notes(0)[0].data[0], 60);
}

TEST_F(Transform, PolyphonyIsNeverExceeded) {
  StreamBuilder b;
  for (int i = 0; i < 8; ++i) b.note(uint32_t(i * 10), 0, 60 + i, 100, 200);
  for (int i = 0; i < 6; ++i) b.note(uint32_t(i * 7), 1, 40 + i, 100, 150);
  options.preset.polyphony = 4;
  Output o = transform(b.image());
  EXPECT_LE(maxSounding(o.notes()), 4);
  EXPECT_GE(o.notes().size(), 4u);

  // One voice per output channel: chords are split and every channel sounds one note at once.
  options.preset.polyphony = 3;
  options.preset.oneVoicePerChannel = true;
  Output s = transform(b.image());
  EXPECT_LE(maxSounding(s.notes()), 3);
  for (int ch = 0; ch < 16; ++ch) EXPECT_LE(maxSounding(s.notes(), ch), 1) << ch;
  EXPECT_TRUE(warnings.slot[WARN_TOO_MANY_TRACKS]);

  options.waoncompress = true;
  options.uncompressedChannels[0] = 2;
  Output w = transform(b.image());
  EXPECT_LE(maxSounding(w.notes()), 3);
  for (int ch = 0; ch < 16; ++ch) EXPECT_LE(maxSounding(w.notes(), ch), 1) << ch;
}

TEST_F(Transform, HighNotePriorityKeepsTheHighNotes) {
  StreamBuilder b;
  b.note(0, 0, 60, 100, 100).note(0, 0, 64, 100, 100).note(10, 0, 72, 100, 100);
  options.preset.polyphony = 2;
  auto n = transform(b.image()).notes();
  ASSERT_EQ(n.size(), 3u);
  EXPECT_EQ(n[0].data[0], 60);
  EXPECT_EQ(duration(n[0]), 10u);  // gave way to 72
  EXPECT_EQ(duration(n[1]), 100u);
}

TEST_F(Transform, NotesFoldIntoTheRangeAndRhythmIsNotTransposed) {
  StreamBuilder b;
  b.note(0, 0, 100, 100, 10).note(10, 0, 96, 100, 10).note(20, 0, 36, 100, 10);
  b.note(30, 9, 30, 100, 10);
  options.preset.lowestNote = 48;
  options.preset.highestNote = 84;
  auto n = transform(b.image()).notes();
  ASSERT_EQ(n.size(), 4u);
  EXPECT_EQ(n[0].data[0], 76);
  EXPECT_EQ(n[1].data[0], 72);
  EXPECT_EQ(n[2].data[0], 60);
  EXPECT_EQ(n[3].data[0], 30);
  EXPECT_EQ(n[3].status & 0x0F, 9);

  options.keyShift = 5;
  auto s = transform(b.image()).notes();
  EXPECT_EQ(s[2].data[0], 48 + 5);  // 41 folds up to 53
  EXPECT_EQ(s[3].data[0], 30);
  for (const OutEvent& e : s) {
    if ((e.status & 0x0F) != 9) {
      EXPECT_TRUE(e.data[0] >= 48 && e.data[0] <= 84);
    }
  }
}

TEST_F(Transform, KeyVolumeVelocityAndChannelSelection) {
  StreamBuilder b;
  b.control(0, 0, CC_VOLUME, 100).note(0, 0, 60, 100, 10).note(0, 2, 70, 80, 10);
  options.keyShift = 2;
  options.velocityPercent = 50;
  options.volumePercent = 50;
  options.channelMask = uint16_t(0xFFFF & ~(1u << 2));
  Output o = transform(b.image());
  auto n = o.notes();
  ASSERT_EQ(n.size(), 1u);
  EXPECT_EQ(n[0].data[0], 62);
  EXPECT_EQ(n[0].data[1], 50);
  auto v = o.controls(CC_VOLUME);
  ASSERT_FALSE(v.empty());
  EXPECT_EQ(v.back().data[1], 50);
  EXPECT_EQ(v.size(), 1u);  // the song's volume overwrote the set-up value in place
}

TEST_F(Transform, MelodicChannelsSkipChannelTen) {
  StreamBuilder b;
  for (int ch = 0; ch < 11; ++ch)
    if (ch != 9) b.note(uint32_t(ch), ch, 60, 100, 10);
  b.note(20, 9, 36, 100, 10);
  std::vector<int> used;
  for (const OutEvent& e : transform(b.image()).notes()) used.push_back(e.status & 0x0F);
  EXPECT_EQ(used, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 9}));

  options.preset.channelCount = 4;
  transform(b.image());
  EXPECT_TRUE(warnings.slot[WARN_TOO_MANY_CHANNELS]);
}

TEST_F(Transform, SameInputGivesIdenticalBytes) {
  StreamBuilder b;
  b.tempo(0, 450000).control(0, 1, CC_VOLUME, 90);
  for (int i = 0; i < 40; ++i) b.note(uint32_t(i * 13), i % 3, 50 + i % 20, 60 + i, 30 + i);
  options.preset.polyphony = 4;
  options.preset.targetTimebase = 48;
  Output a = transform(b.image());
  Output c = transform(b.image());
  EXPECT_EQ(a.bytes, c.bytes);
}

TEST_F(Transform, SmallBuffersShortenTheStreamButStayValid) {
  StreamBuilder b;
  for (int i = 0; i < 200; ++i) b.note(uint32_t(i * 5), 0, 60, 100, 4);
  std::vector<uint8_t> img = b.image();
  for (uint32_t cap : {0u, 10u, 34u, 40u, 64u, 100u, 333u}) {
    gatherStats(img);
    std::vector<uint8_t> out(cap + 16, 0xEE);
    int32_t size = -1;
    transformStream(img.data(), uint32_t(img.size()), out.data(), &size, cap);
    ASSERT_LE(uint32_t(size), cap);
    for (uint32_t i = cap; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE) << cap;
    if (size > 0) {
      TrackTable table;
      loadTrackTable(table, out.data(), uint32_t(size));
      EXPECT_FALSE(table.truncated) << cap;
    }
  }
}

TEST_F(Transform, PlaybackAddsTheClockTrackAndDropsTextMetas) {
  StreamBuilder b;
  b.note(0, 0, 60, 100, 96);
  b.events.push_back({0, {0xFF, META_TEXT, 2, 'h', 'i'}});
  runState.forPlayback = true;
  Output o = transform(b.image());
  for (const OutEvent& e : o.events) EXPECT_FALSE(e.status == ST_META && e.metaType == META_TEXT);
  auto clock = o.notes(1);
  ASSERT_EQ(clock.size(), 4u);  // a sixteenth each up to the end of the quarter note
  EXPECT_EQ(clock[1].time, 24u);
  EXPECT_EQ(clock[0].data[1], 0);
}

TEST_F(Transform, SongStatsAreRestoredButTheChannelMasks) {
  StreamBuilder b;
  b.note(0, 3, 60, 100, 10);
  gatherStats(b.image());
  songStats.tempoMax = 77;
  std::vector<uint8_t> img = b.image();
  std::vector<uint8_t> out(img.size() + 4096);
  int32_t size = 0;
  transformStream(img.data(), uint32_t(img.size()), out.data(), &size, uint32_t(out.size()));
  EXPECT_EQ(songStats.tempoMax, 77u);
  EXPECT_EQ(songStats.melodicMask, 1u << 0);  // channel 4 now plays on output channel 1
  EXPECT_EQ(songStats.bankMask, 0u);
  EXPECT_EQ(songStats.rhythmMask, 0u);

  // The masks are those of the output: a program of the bank 0x1B marks its channel, and the
  // rhythm channel stays the rhythm channel.
  StreamBuilder banked;
  banked.events.push_back({0, {0xC3, 5, 0x1B}});
  banked.note(1, 3, 60, 100, 10);
  banked.note(1, 9, 36, 100, 10);
  gatherStats(banked.image());
  img = banked.image();
  transformStream(img.data(), uint32_t(img.size()), out.data(), &size, uint32_t(out.size()));
  EXPECT_EQ(songStats.bankMask, songStats.melodicMask);
  EXPECT_NE(songStats.bankMask, 0u);
  EXPECT_EQ(songStats.rhythmMask, 1u << 9);
}

TEST_F(Transform, GarbageEventsNeverWriteOutsideTheBuffer) {
  uint32_t seed = 7;
  auto rnd = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  for (int round = 0; round < 300; ++round) {
    resetRun();
    options.preset.polyphony = uint8_t(1 + rnd(64));
    options.preset.oneVoicePerChannel = rnd(2);
    options.waoncompress = rnd(2);
    options.uncompressedChannels[0] = uint8_t(rnd(17));
    options.preset.targetTimebase = uint16_t(rnd(3) * 48);
    options.preset.fixedTempo = rnd(4) == 0;
    options.rangeStart = rnd(3) * 8;
    options.rangeEnd = rnd(3) * 8;
    options.hinote = rnd(2);
    options.exclusive = true;
    options.cuePlay = true;
    runState.forPlayback = rnd(2);
    options.playbackLoop = true;
    std::vector<uint8_t> img = {'V', 'T', 'h', 'd', 0, 0, 0, 2, 0, uint8_t(rnd(200)),
                                'V', 'T', 'r', 'k', 0, 0, 0, 0};
    const uint32_t n = 20 + rnd(400);
    for (uint32_t i = 0; i < n; ++i) {
      // Mostly well-formed deltas and statuses, with random data bytes.
      img.push_back(uint8_t(rnd(4) == 0 ? rnd(256) : rnd(40)));
      static const uint8_t statuses[] = {0x90, 0x99, 0xB0, 0xC1, 0xE2, 0x20, 0xFF, 0xF0, 0x03};
      img.push_back(rnd(10) == 0 ? uint8_t(rnd(256)) : statuses[rnd(9)]);
      for (uint32_t k = rnd(6); k > 0; --k) img.push_back(uint8_t(rnd(256)));
    }
    putBE(img.data() + 14, uint32_t(img.size() - 18 + rnd(3)), 4);
    gatherStats(img);
    const uint32_t cap = 30 + rnd(3000);
    std::vector<uint8_t> out(cap + 32, 0xEE);
    int32_t size = -1;
    transformStream(img.data(), uint32_t(img.size()), out.data(), &size, cap);
    ASSERT_LE(uint32_t(size), cap) << round;
    for (uint32_t i = cap; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE) << round;
    TrackTable table;
    loadTrackTable(table, out.data(), uint32_t(size));
    EXPECT_FALSE(table.truncated) << round;
  }
}

}  // namespace
}  // namespace vlm

namespace vlm {
namespace {

// A bass line below the range of a one-voice target keeps its shape inside a three-octave
// window instead of collapsing onto the lowest note.
TEST_F(Transform, BassBelowTheRangeKeepsItsIntervals) {
  StreamBuilder b;
  const int bass[4] = {29, 33, 36, 40};
  for (int i = 0; i < 4; ++i) b.note(uint32_t(i * 96), 1, bass[i], 100, 90);
  applyOutputPreset(35);  // 3 voices, range 45..107, one voice per channel
  auto n = transform(b.image()).notes();
  ASSERT_EQ(n.size(), 4u);
  std::set<int> pitches;
  for (const OutEvent& e : n) {
    EXPECT_GE(e.data[0], 45);
    EXPECT_LE(e.data[0], 107);
    pitches.insert(e.data[0]);
  }
  EXPECT_EQ(pitches.size(), 4u);
}

// On a one-voice-per-channel target a note sets its output channel up again whenever another
// input channel or another note used it last. Whatever changed on the input channel since (volume,
// expression, program, bend) is on the output channel before the note sounds, whether the output
// channels are the input channel's own or shared by all, with or without command efficiency.
TEST_F(Transform, EveryNoteOfASplitChannelSoundsWithTheChannelsCurrentState) {
  uint32_t seed = 5;
  auto rnd = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  for (const int round : {0, 1, 2, 3}) {
    const bool efficient = round & 1, shared = round & 2;
    StreamBuilder b;
    struct State {
      int volume = 100, expression = 127, program = 0;
    } in[4];
    std::map<uint32_t, State> expected;  // the input state at each note, by its pitch
    for (int i = 0; i < 30; ++i) {  // 30 pitches stay inside the three-octave window
      const uint32_t t = uint32_t(i * 24);
      const int ch = int(rnd(4));
      State& st = in[ch];
      switch (rnd(6)) {
        case 0:
          st.volume = int(rnd(128));
          b.control(t, ch, CC_VOLUME, st.volume);
          break;
        case 1:
          st.expression = int(rnd(128));
          b.control(t, ch, CC_EXPRESSION, st.expression);
          break;
        case 2:
          st.program = int(rnd(3));  // channels often share a program
          b.events.push_back({t, {uint8_t(ST_PROGRAM | ch), uint8_t(st.program), 0}});
          break;
        case 3:
          b.events.push_back({t, {uint8_t(ST_PITCH_BEND | ch), 0, uint8_t(rnd(128))}});
          break;
        default:
          break;
      }
      b.note(t + 1, ch, 60 + i, 100, 12);  // the pitch tells the notes apart
      expected[uint32_t(60 + i)] = st;
    }
    resetRun();
    options.preset.polyphony = 2;
    options.preset.oneVoicePerChannel = true;
    options.noefficflg = !efficient;
    options.waoncompress = shared;
    options.uncompressedChannels[0] = shared ? 2 : 0;
    const Output o = transform(b.image());
    ASSERT_GE(o.notes().size(), 12u) << round;
    int volume[32], program[32];
    std::fill(std::begin(volume), std::end(volume), -1);
    std::fill(std::begin(program), std::end(program), -1);
    for (const OutEvent& e : o.events) {
      const int oc = e.status & 0x0F;
      if ((e.status & 0xF0) == ST_CONTROL && e.data[0] == CC_VOLUME) volume[oc] = e.data[1];
      if ((e.status & 0xF0) == ST_PROGRAM) program[oc] = e.data[0];
      if ((e.status & 0xF0) != ST_NOTE) continue;
      ASSERT_TRUE(expected.count(e.data[0])) << int(e.data[0]) << " round " << round;
      const State& st = expected[e.data[0]];
      EXPECT_EQ(volume[oc], st.volume * st.expression / 127) << "pitch " << int(e.data[0]) << " round " << round;
      EXPECT_EQ(program[oc], st.program) << "pitch " << int(e.data[0]) << " round " << round;
    }
  }
}

}  // namespace
}  // namespace vlm
