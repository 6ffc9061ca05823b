#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "convert/options.h"
#include "core/stream_dump.h"
#include "core/run_state.h"
#include "core/vstream.h"

namespace vlm {
namespace {

// Writes requests through putEvent the way a reader does and lists the finished stream.
struct Assembly {
  std::vector<uint8_t> out;
  uint32_t capacity;

  explicit Assembly(uint16_t timebase = 480, uint32_t cap = 4096) : out(cap), capacity(cap) {
    resetRun();
    beginStream();
    writer.timebase = timebase;
    writeHeaderChunk(out.data());
    writeTrackChunk(out.data());
  }
  int put(uint32_t time, uint8_t status, std::vector<uint8_t> bytes, uint8_t track = 0) {
    return submitEvent(out.data(), capacity, time, status, track, bytes.data(),
                       uint32_t(bytes.size()));
  }
  // The event lines without the timebase line and the end of track.
  std::string finish(uint32_t endTime) {
    writer.now = endTime;
    finishStream(out.data());
    std::string text = dumpStream(out.data(), writer.pos);
    endStream();
    text = text.substr(text.find('\n') + 1);
    return text.substr(0, text.rfind(" FF 2F 00\n") == std::string::npos
                              ? text.size()
                              : text.rfind('\n', text.size() - 2) + 1);
  }
};

TEST(Assembler, RepeatedNoteOnEndsTheSoundingNote) {
  Assembly a;
  a.put(0, 0x90, {60, 100, 0, 0});
  a.put(100, 0x90, {60, 90, 0, 0});
  a.put(150, 0x90, {60});  // note-off
  EXPECT_EQ(a.finish(200), "0 0 90 3C 64 00 64\n100 0 90 3C 5A 00 32\n");
}

TEST(Assembler, NoteOffsMatchOnlyTheirOwnTrackAndChannel) {
  Assembly a;
  a.put(0, 0x90, {60, 100, 0, 0}, 1);
  a.put(10, 0x80, {60}, 2);      // other track: nothing
  a.put(20, 0x81, {60}, 1);      // other channel: nothing
  a.put(30, 0x80, {61, 64}, 1);  // other pitch: nothing
  EXPECT_EQ(writer.openCount, 1);
  a.put(40, 0x90, {60, 0, 0, 0}, 1);  // velocity 0 ends it
  EXPECT_EQ(writer.openCount, 0);
  EXPECT_EQ(a.finish(50), "0 0 90 3C 64 00 28\n");
}

TEST(Assembler, RhythmNotesLastAtLeastOneTickAndAreCut) {
  Assembly a;
  a.put(0, 0x99, {36, 100, 0, 0});
  a.put(0, 0x99, {36});
  a.put(0, 0x90, {60, 100, 0, 0});
  a.put(0, 0x90, {60});
  a.put(10, 0x99, {38, 100, 0, 0});
  a.put(100, 0xB0, {1, 0});  // not yet a sixteenth
  EXPECT_EQ(writer.openCount, 1);
  a.put(200, 0xB0, {1, 1});  // after 120 ticks the drum note is cut
  EXPECT_EQ(writer.openCount, 0);
  a.put(510, 0x99, {38});  // its late note-off finds nothing
  EXPECT_EQ(a.finish(600),
            "0 0 99 24 64 00 01\n0 0 90 3C 64 00 00\n10 0 99 26 64 00 78\n"
            "100 0 B0 01 00\n200 0 B0 01 01\n");
}

TEST(Assembler, OverlappingTimedRepeatsMerge) {
  Assembly a;
  a.put(0, 0x10, {60, 100, 0, 100});
  a.put(50, 0x10, {60, 100, 0, 100});  // ends at 150: one note of 150
  a.put(60, 0x10, {60, 100, 0, 10});   // ends before 150: no change
  a.put(200, 0x10, {60, 100, 0, 20});  // the first has ended: a new note
  EXPECT_EQ(a.finish(300), "0 0 90 3C 64 00 96\n200 0 90 3C 64 00 14\n");
}

TEST(Assembler, TimedNotesRepeatOnRhythmChannelsOnlyWhenAsked) {
  Assembly a;
  a.put(0, 0x19, {36, 100, 0, 100});
  a.put(50, 0x19, {36, 100, 0, 100});
  EXPECT_EQ(a.finish(300), "0 0 99 24 64 00 64\n50 0 99 24 64 00 64\n");
  Assembly b;
  writer.mergeRhythmRepeats = true;
  b.put(0, 0x19, {36, 100, 0, 100});
  b.put(50, 0x19, {36, 100, 0, 100});
  EXPECT_EQ(b.finish(300), "0 0 99 24 64 00 96\n");
}

TEST(Assembler, EarlyEndOfATimedNote) {
  Assembly a;
  a.put(0, 0x12, {64, 100, 0x01, 0x00});
  a.put(30, 0x32, {64});
  EXPECT_EQ(writer.timedCount, 0);
  EXPECT_EQ(a.finish(300), "0 0 92 40 64 00 1E\n");
}

TEST(Assembler, HighChannelNotesKeepTheirStatus) {
  Assembly a;
  a.put(0, 0x20, {3, 100, 0, 50});
  EXPECT_EQ(a.finish(100), "0 0 20 03 64 00 32\n");
  EXPECT_EQ(songStats.marker[0], 3);
}

TEST(Assembler, BendAsTransposition) {
  Assembly a;
  options.bendsepflg = true;
  a.put(0, 0x90, {60, 100, 0, 0});
  a.put(0, 0xE0, {0x00, 0x7F});    // s = 2: the note of this tick moves up
  a.put(100, 0xE0, {0x00, 0x40});  // back to 0: the note ends and sounds on 2 lower
  a.put(150, 0x90, {60});
  a.put(200, 0xE0, {0x00, 0x00});     // s = -2
  a.put(200, 0xE0, {0x00, 0x00});     // no change: dropped
  a.put(300, 0x90, {62, 100, 0, 0});  // lowered by 2
  EXPECT_EQ(a.finish(400), "0 0 90 3E 64 00 64\n100 0 90 3C 64 00 32\n300 0 90 3C 64 00 64\n");
}

TEST(Assembler, NoteMovedByTheBendOfItsTickEndsAtItsNoteOff) {
  Assembly a;
  options.bendsepflg = true;
  a.put(0, 0x90, {60, 100, 0, 0});
  a.put(0, 0xE0, {0x00, 0x7F});  // the note of this tick moves up to 62
  a.put(50, 0x80, {60, 64});     // read as 62 under the bend: ends that note
  EXPECT_EQ(writer.openCount, 0);
  EXPECT_EQ(a.finish(400), "0 0 90 3E 64 00 32\n");
}

TEST(Assembler, BendAsTranspositionReEmitsTimedNotes) {
  Assembly a;
  options.bendsepflg = true;
  a.put(0, 0x11, {60, 90, 0, 200});
  a.put(50, 0xE1, {0x00, 0x7F});
  EXPECT_EQ(a.finish(400), "0 0 91 3C 5A 00 32\n50 0 91 3E 5A 00 96\n");
}

TEST(Assembler, FrequencyRequestsBecomeNotes) {
  Assembly a;
  // Block 4, frequency number 324 = 0x144 (semitone 9): note 69, key on.
  a.put(0, 0xB0, {CC_FREQ_LOW, 0x44, 0, 0, CC_FREQ_HIGH, 0x32});
  EXPECT_EQ(writer.ch[0].freqNote, 69);
  a.put(50, 0xB0, {CC_FREQ_LOW, 0x44 + 2});  // within the note: no change
  a.put(100, 0xB0, {CC_FREQ_LOW, 0x66});     // 358: semitone 10
  a.put(200, 0xB0, {CC_FREQ_HIGH, 0x12});    // key off
  EXPECT_EQ(writer.ch[0].freqNote, 0);
  EXPECT_EQ(a.finish(300), "0 0 90 45 7F 00 64\n100 0 90 46 7F 00 64\n");
}

TEST(Assembler, FrequencyBendRangeAndFraction) {
  Assembly a;
  options.freqBendRange24 = true;
  options.freqFractionByBend = true;
  a.put(0, 0xB0, {CC_FREQ_LOW, 0x44, 0, 0, CC_FREQ_HIGH, 0x32});
  a.put(10, 0xB0, {CC_FREQ_LOW, 0x52});  // 338: about 0.4 semitone up
  std::string text = a.finish(100);
  EXPECT_EQ(text, "0 0 B0 82 18\n0 0 90 45 7F 00 64\n10 0 E0 10 41\n");
}

TEST(Assembler, IgnoredFrequencyRequestsWriteNothing) {
  Assembly a;
  options.freqNotesIgnored = true;
  a.put(0, 0xB0, {CC_FREQ_LOW, 0x44, 0, 0, CC_FREQ_HIGH, 0x32});
  EXPECT_EQ(a.finish(100), "");
}

TEST(Assembler, FullTablesDropNewNotesAndFullBuffersStop) {
  Assembly a;
  for (int i = 0; i < 130; ++i) a.put(0, 0x90, {uint8_t(i & 0x7F), 100, 0, 0}, uint8_t(i >> 7));
  EXPECT_EQ(writer.openCount, MAX_NOTES);
  a.finish(10);

  Assembly small(480, 40);
  EXPECT_EQ(small.put(0, 0x90, {60, 100, 0, 0}), 1);
  EXPECT_EQ(small.put(10, 0x90, {62, 100, 0, 0}), 1);
  EXPECT_EQ(small.put(20, 0x90, {64, 100, 0, 0}), 0);
  small.finish(30);
  EXPECT_LE(writer.pos, 40u);
}

TEST(Assembler, MalformedRequestsKeepTheStreamReadable) {
  Assembly a;
  a.put(0, 0xC0, {5});                // short program change: padded
  a.put(0, 0xFF, {0x01, 0x05, 'a'});  // meta longer than its bytes: dropped
  a.put(0, 0x45, {1, 2});             // no such status: dropped
  a.put(0, 0xB1, {CC_FREQ_LOW});      // a frequency part without its value: dropped
  a.put(0, 0x03, {1});                // a filler short of its bytes: padded
  EXPECT_EQ(a.finish(10), "0 0 C0 05 00\n0 0 03 01 00 00\n");
}

}  // namespace
}  // namespace vlm

namespace vlm {
namespace {

// A seeded song of plain channel events: overlapping and repeated notes on several tracks, the
// rhythm channel, velocity-0 note-offs, volume and expression, RPN and data entry, programs,
// bends, a full open-note table now and then, and a buffer that runs out at the end.
struct PlainEvent {
  uint32_t time;
  uint8_t status, track, a, b;
};
std::vector<PlainEvent> plainSong(uint32_t seed, int events) {
  std::vector<PlainEvent> song;
  uint32_t time = 0;
  auto rnd = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  for (int i = 0; i < events; ++i) {
    time += rnd(4) == 0 ? 0 : rnd(200);
    const uint8_t c = uint8_t(rnd(5) == 0 ? 9 : rnd(16));
    const uint8_t track = uint8_t(rnd(3));
    const uint8_t note = uint8_t(40 + rnd(20));
    switch (rnd(10)) {
      case 0:
        song.push_back({time, uint8_t(0xB0 | c), track, uint8_t(rnd(3) == 0 ? 7 : 11),
                        uint8_t(rnd(128))});
        break;
      case 1:
        song.push_back({time, uint8_t(0xB0 | c), track, uint8_t(100 + rnd(2)), 0});
        song.push_back({time, uint8_t(0xB0 | c), track, 6, uint8_t(rnd(24))});
        break;
      case 2:
        song.push_back({time, uint8_t(0xC0 | c), track, uint8_t(rnd(128)), 0});
        break;
      case 3:
        song.push_back({time, uint8_t(0xE0 | c), track, uint8_t(rnd(128)), uint8_t(rnd(128))});
        break;
      case 4:
        song.push_back({time, uint8_t((rnd(2) ? 0x80 : 0x90) | c), track, note, 0});
        break;
      case 5:  // a note that ends as it starts
        song.push_back({time, uint8_t(0x90 | c), track, note, 100});
        song.push_back({time, uint8_t(0x80 | c), track, note, 0});
        break;
      default:
        song.push_back({time, uint8_t(0x90 | c), track, note, uint8_t(1 + rnd(127))});
        break;
    }
  }
  return song;
}

// The statistics that channel events touch, field by field (never the padding between them).
std::vector<uint8_t> statisticsBytes(const SongStats& s) {
  std::vector<uint8_t> v;
  auto put = [&v](const auto& field) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&field);
    v.insert(v.end(), p, p + sizeof(field));
  };
  for (const ChannelStats& c : s.ch) {
    put(c.lowNote), put(c.highNote), put(c.lowVelocity), put(c.highVelocity);
    put(c.lowVolume), put(c.highVolume), put(c.firstNotePos), put(c.lastNotePos);
    put(c.notes), put(c.maxSounding), put(c.programUse), put(c.program);
  }
  put(s.lowVelocity), put(s.highVelocity), put(s.maxPolyphony), put(s.sounding);
  put(s.melodicMask), put(s.rhythmMask), put(s.bankMask), put(s.programSet);
  put(s.programCount), put(s.rhythmNoteSet), put(s.rhythmNoteCount), put(s.rhythmNoteHits);
  put(s.beatChannels), put(s.beatRhythm), put(s.rhythmSlotNote), put(s.rhythmSlotCount);
  put(s.marker);
  return v;
}

// Writes the song through one of the two paths and returns the stream and the statistics.
std::pair<std::vector<uint8_t>, std::vector<uint8_t>> writePlainSong(
    const std::vector<PlainEvent>& song, uint32_t capacity, bool generalPath) {
  Assembly a(96, capacity);
  for (const PlainEvent& e : song) {
    const uint8_t kind = e.status & 0xF0;
    const uint32_t count = kind == 0x80 ? 0 : kind == 0x90 ? (e.b ? 4 : 0) : 2;
    const uint8_t bytes[4] = {e.a, e.b, 0, 0};
    int ok;
    if (generalPath) {
      writer.status = e.status;
      writer.channel = e.status & 0x0F;
      writer.sourceTrack = e.track;
      writer.data = writer.scratch.data;
      std::memcpy(writer.data, bytes, 4);
      writer.count = count;
      ok = putEvent(a.out.data(), a.capacity, e.time);
      EXPECT_FALSE(writer.resubmit);
    } else if (kind == 0x90 || kind == 0xC0) {
      ok = submitChannelEvent(a.out.data(), a.capacity, e.time, e.status, e.track, e.a, e.b);
    } else {
      ok = submitEvent(a.out.data(), a.capacity, e.time, e.status, e.track, bytes, count);
    }
    if (!ok) break;
  }
  writer.now = song.back().time + 50;
  finishStream(a.out.data());
  std::vector<uint8_t> image(a.out.begin(), a.out.begin() + writer.pos);
  endStream();
  return {image, statisticsBytes(songStats)};
}

// The two-byte entry takes any status: pressure keeps the bytes the stream keeps for it, and a
// frequency request still goes through its step.
TEST(Assembler, TwoByteEntryKeepsTheSizeOfEveryStatus) {
  Assembly a;
  ASSERT_EQ(submitChannelEvent(a.out.data(), a.capacity, 0, 0xD3, 0, 0x40, 0x7F), 1);
  ASSERT_EQ(submitChannelEvent(a.out.data(), a.capacity, 5, 0xA3, 0, 60, 0x22), 1);
  ASSERT_EQ(submitChannelEvent(a.out.data(), a.capacity, 10, 0x93, 0, 60, 100), 1);
  ASSERT_EQ(submitChannelEvent(a.out.data(), a.capacity, 30, 0x83, 0, 60, 0), 1);
  EXPECT_EQ(a.finish(40), "0 0 D3 40\n5 0 A3 3C 22\n10 0 93 3C 64 00 14\n");
}

TEST(Assembler, PlainChannelEventsWriteWhatTheRequestStepsWrite) {
  for (uint32_t seed : {1u, 7u, 42u, 1234u}) {
    const std::vector<PlainEvent> song = plainSong(seed, 3000);
    for (uint32_t capacity : {1u << 20, 4096u}) {
      const auto plain = writePlainSong(song, capacity, false);
      const auto general = writePlainSong(song, capacity, true);
      EXPECT_EQ(plain.first, general.first) << "seed " << seed << " capacity " << capacity;
      EXPECT_EQ(plain.second, general.second) << "seed " << seed << " capacity " << capacity;
    }
  }
}

}  // namespace
}  // namespace vlm
