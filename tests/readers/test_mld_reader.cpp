#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "convert/conversion_run.h"
#include "convert/options.h"
#include "core/stages.h"
#include "core/vstream.h"
#include "test_util.h"

namespace vlm {
namespace {

using Bytes = std::vector<uint8_t>;

// Builds an i-melody or PMD image: header, information chunks and track chunks. Track data is
// given as it is stored: the first delta, then each event followed by the delta to the next.
struct MldBuilder {
  std::string magic = "melo";
  std::vector<std::pair<std::string, Bytes>> info;
  std::vector<Bytes> tracks;

  MldBuilder& chunk(const std::string& id, Bytes data) {
    info.emplace_back(id, std::move(data));
    return *this;
  }
  MldBuilder& text(const std::string& id, const std::string& s) {
    return chunk(id, Bytes(s.begin(), s.end()));
  }
  MldBuilder& track(Bytes data) {
    tracks.push_back(std::move(data));
    return *this;
  }
  Bytes build() const {
    Bytes out(magic.begin(), magic.end());
    out.insert(out.end(), {0, 0, 0, 0, 0, 0, 1, 1, uint8_t(tracks.size())});
    for (const auto& [id, data] : info) {
      out.insert(out.end(), id.begin(), id.end());
      out.push_back(uint8_t(data.size() >> 8));
      out.push_back(uint8_t(data.size()));
      out.insert(out.end(), data.begin(), data.end());
    }
    uint32_t headerLength = uint32_t(out.size() - 10);
    out[8] = uint8_t(headerLength >> 8);
    out[9] = uint8_t(headerLength);
    for (const Bytes& t : tracks) {
      out.insert(out.end(), {'t', 'r', 'a', 'c', 0, 0, uint8_t(t.size() >> 8), uint8_t(t.size())});
      out.insert(out.end(), t.begin(), t.end());
    }
    uint32_t length = uint32_t(out.size() - 8);
    for (int i = 0; i < 4; ++i) out[4 + i] = uint8_t(length >> (24 - 8 * i));
    return out;
  }
};

// Extended event FF code with a 16-bit length and the body.
Bytes extended(uint8_t code, Bytes body) {
  body.insert(body.begin(), {0xFF, code, uint8_t(body.size() >> 8), uint8_t(body.size())});
  return body;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const Bytes END = {0xFF, 0xDF, 0x00};

using Event = test::StreamEventCopy;

struct Result : test::CollectedStream {
  // Notes of both channel groups (wave notes are in the second).
  std::vector<Event> notes() const {
    std::vector<Event> out;
    for (const Event& e : events)
      if ((e.status & 0xF0) == ST_NOTE || (e.status & 0xF0) == ST_NOTE_HIGH) out.push_back(e);
    return out;
  }
};

Result read(const Bytes& image, uint32_t capacity = 1 << 20) {
  return Result{test::runStage(readMld, image, capacity)};
}

class MldReader : public ::testing::Test {
 protected:
  void SetUp() override { resetRun(); }
};

TEST_F(MldReader, ShortNotesOnMelodicAndRhythmChannels) {
  // Track 0: note 0x00 gate 24 on part 0; then channel 0 becomes a rhythm channel and the same
  // note follows.
  Bytes track = {0, 0x00, 24, 24, 0xFF, 0xBA, 0x01, 0, 0x00, 24, 0};
  track.insert(track.end(), END.begin(), END.end());
  Result mld = read(MldBuilder().track(track).build());
  EXPECT_EQ(mld.timebase, 48);
  std::vector<Event> notes = mld.notes();
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].time, 0u);
  EXPECT_EQ(notes[0].status, 0x90);
  EXPECT_EQ(notes[0].data, (Bytes{45, 127, 0, 24}));
  EXPECT_EQ(notes[1].time, 24u);
  EXPECT_EQ(notes[1].data[0], 35);  // rhythm keys of i-melody files sit 10 higher
  ASSERT_EQ(mld.with(0xB0).size(), 1u);
  EXPECT_EQ(mld.with(0xB0)[0].data, (Bytes{CC_RHYTHM_PART, 1}));

  MldBuilder pmd;
  pmd.magic = "cmid";
  Result p = read(pmd.track(track).build());
  ASSERT_EQ(p.notes().size(), 2u);
  EXPECT_EQ(p.notes()[1].data[0], 45);
}

TEST_F(MldReader, ExtendedNotesAndSilentNotes) {
  // Velocity 40 x 2 with octave bits 1 (up), 2 (two down) and 3 (one down); then a gate of 0 and
  // a velocity of 0, which write nothing.
  Bytes track = {0, 0x03, 10, 40 << 2 | 1, 0, 0x03, 10, 40 << 2 | 2, 0, 0x43, 10, 40 << 2 | 3,
                 0, 0x05, 0,  40 << 2,     0, 0x05, 9,  0,           0};
  track.insert(track.end(), END.begin(), END.end());
  Result r = read(MldBuilder().chunk("note", {0, 1}).track(track).build());
  std::vector<Event> notes = r.notes();
  ASSERT_EQ(notes.size(), 3u);
  EXPECT_EQ(notes[0].data, (Bytes{48 + 12, 80, 0, 10}));
  EXPECT_EQ(notes[1].data, (Bytes{48 - 24, 80, 0, 10}));
  EXPECT_EQ(notes[2].status, 0x91);  // part 1
  EXPECT_EQ(notes[2].data, (Bytes{48 - 12, 80, 0, 10}));
}

TEST_F(MldReader, TempoSetsTheTimebase) {
  Bytes c3 = {0, 0xFF, 0xC3, 120, 0};
  c3.insert(c3.end(), END.begin(), END.end());
  Result r = read(MldBuilder().track(c3).build());
  EXPECT_EQ(r.timebase, 48);
  ASSERT_EQ(r.meta(META_TEMPO).size(), 1u);
  EXPECT_EQ(r.meta(META_TEMPO)[0].data, (Bytes{0x07, 0xA1, 0x20}));  // 500000

  // Code 0xCB is timebase 120; a later code keeps it, and a tempo of 0 writes nothing.
  Bytes cb = {0, 0xFF, 0xCB, 100, 10, 0xFF, 0xC3, 200, 0, 0xFF, 0xC3, 0, 0};
  cb.insert(cb.end(), END.begin(), END.end());
  Result r2 = read(MldBuilder().track(cb).build());
  EXPECT_EQ(r2.timebase, 120);
  std::vector<Event> tempos = r2.meta(META_TEMPO);
  ASSERT_EQ(tempos.size(), 2u);
  EXPECT_EQ(tempos[0].data, (Bytes{0x09, 0x27, 0xC0}));  // 100 bpm = 600000
  EXPECT_EQ(tempos[1].time, 10u);
  EXPECT_EQ(tempos[1].data, (Bytes{0x0B, 0x71, 0xB0}));  // 200 x 48 / 120 = 80 bpm = 750000
}

TEST_F(MldReader, ProgramsVolumesAndChannelMap) {
  Bytes track = {0, 0xFF, 0xE0, 0x01, 0, 0xFF, 0xE1, 0x00,  // bank 1, value 0: program 9
                 0, 0xFF, 0xE0, 0x45, 0, 0xFF, 0xE1, 0x43,  // part 1: bank 5, value 3
                 0, 0xFF, 0xE2, 0x20, 0, 0xFF, 0xE3, 0x60,  // volume 64, pan part 1 64
                 0, 0xFF, 0xE7, 0x0C, 0, 0xFF, 0xE4, 0x30,  // bend range 12, bend MSB 96
                 0, 0xFF, 0xE5, 0x49, 0, 0x40, 12,   0};    // part 1 -> channel 9, note
  track.insert(track.end(), END.begin(), END.end());
  Result r = read(MldBuilder().track(track).build());
  std::vector<Event> programs;
  for (const Event& e : r.events)
    if ((e.status & 0xF0) == ST_PROGRAM) programs.push_back(e);
  ASSERT_EQ(programs.size(), 4u);
  EXPECT_EQ(programs[1].status, 0xC0);
  EXPECT_EQ(programs[1].data, (Bytes{9, 0}));
  EXPECT_EQ(programs[3].status, 0xC1);
  EXPECT_EQ(programs[3].data, (Bytes{5 + 64, 0}));  // bank byte (3 >> 1) ^ 1 = 0
  bool volume = false, pan = false, range = false;
  for (const Event& e : r.with(0xB0)) {
    volume |= e.data == Bytes{CC_VOLUME, 64};
    range |= e.data == Bytes{CC_BEND_RANGE, 12};
  }
  for (const Event& e : r.with(0xB1)) pan |= e.data == Bytes{CC_PAN, 64};
  EXPECT_TRUE(volume);
  EXPECT_TRUE(pan);
  EXPECT_TRUE(range);
  ASSERT_EQ(r.with(0xE0).size(), 1u);
  EXPECT_EQ(r.with(0xE0)[0].data, (Bytes{0, 96}));
  ASSERT_EQ(r.notes().size(), 1u);
  EXPECT_EQ(r.notes()[0].status, 0x99);
}

TEST_F(MldReader, TracksAreMergedByTime) {
  Bytes t0 = {0, 0x00, 4, 10, 0x01, 4, 0};
  Bytes t1 = {5, 0x02, 4, 5, 0x03, 4, 0};
  t0.insert(t0.end(), END.begin(), END.end());
  t1.insert(t1.end(), END.begin(), END.end());
  Result r = read(MldBuilder().track(t0).track(t1).build());
  std::vector<Event> notes = r.notes();
  ASSERT_EQ(notes.size(), 4u);
  EXPECT_EQ(notes[0].time, 0u);
  EXPECT_EQ(notes[0].status, 0x90);
  EXPECT_EQ(notes[1].time, 5u);
  EXPECT_EQ(notes[1].status, 0x94);  // track 1 part 0
  EXPECT_EQ(notes[2].time, 10u);
  EXPECT_EQ(notes[2].status, 0x90);  // the lower track first on a tie
  EXPECT_EQ(notes[3].time, 10u);
  EXPECT_EQ(notes[3].data[0], 48);
}

TEST_F(MldReader, InformationChunks) {
  Result r = read(MldBuilder()
                      .chunk("sorc", {0x03})
                      .text("titl", "Title")
                      .text("copy", "(c)")
                      .text("date", "20030101")
                      .text("prot", "tool")
                      .text("vers", "0300")
                      .chunk("exst", {0, 0})
                      .track(END)
                      .build());
  EXPECT_STREQ(song.info.text[INFO_TITLE], "Title");
  EXPECT_STREQ(song.info.text[INFO_COPYRIGHT], "(c)");
  EXPECT_STREQ(song.info.text[INFO_DATE], "20030101");
  EXPECT_STREQ(song.info.text[INFO_SOFTWARE], "tool");
  EXPECT_EQ(song.ProtectFlags, PROTECT_COPY);
  EXPECT_EQ(songStats.formatVersion, 300);
  EXPECT_TRUE(r.events.empty());

  // A title longer than a text field is cut to 255 bytes; a chunk longer than the file is cut
  // at its end.
  read(MldBuilder().text("titl", std::string(300, 'x')).track(END).build());
  EXPECT_EQ(std::strlen(song.info.text[INFO_TITLE]), 255u);
  Bytes cut = MldBuilder().text("titl", "abcdef").build();
  cut.resize(cut.size() - 2);
  read(cut);
  EXPECT_STREQ(song.info.text[INFO_TITLE], "abcd");
}

TEST_F(MldReader, LyricsTextsAndLevels) {
  Bytes track = cat({{0},
                     extended(0xF2, {0, 'l', 'a'}),
                     {0},
                     extended(0xF3, {1, 2, 3, 4, 5, 'T'}),
                     {0},
                     extended(0xFF, {0x11, 0xF2, 0x01, 0x20}),
                     {0},
                     extended(0xFF, {0x31, 0x82, 0x05}),
                     {0},
                     END});
  Result r = read(MldBuilder().track(track).build());
  ASSERT_EQ(r.meta(META_LYRIC).size(), 1u);
  EXPECT_EQ(r.meta(META_LYRIC)[0].data, (Bytes{'l', 'a'}));
  ASSERT_EQ(r.meta(META_FORMAT_TEXT).size(), 1u);
  EXPECT_EQ(r.meta(META_FORMAT_TEXT)[0].data, (Bytes{'T'}));
  ASSERT_EQ(r.meta(META_WAVE_LEVEL).size(), 1u);
  EXPECT_EQ(r.meta(META_WAVE_LEVEL)[0].data, (Bytes{0x40}));
  ASSERT_EQ(r.meta(META_LEVEL).size(), 1u);
  EXPECT_EQ(r.meta(META_LEVEL)[0].data, (Bytes{5}));
  EXPECT_EQ(songStats.deviceFlags, (1u << 0) | (1u << 2) | DEVICE_FLAG_ANY);
}

TEST_F(MldReader, WavesAndWaveNotes) {
  Bytes track = cat({{0},
                     extended(0xFF, {0x11, 0xF0, 0x02, 3, 1, 0xAA, 0xBB, 0xCC}),
                     {0},
                     extended(0xFF, {0x31, 0x10, 0x07, 4, 0x01, 44, 0x12}),
                     {0},
                     extended(0xFF, {0x11, 0xF1, 0x20, 3, 30}),
                     {6},
                     extended(0xFF, {0x31, 0x10, 0x49, 4, 90}),
                     {0},
                     END});
  Result r = read(MldBuilder().track(track).build());
  std::vector<Event> waves = r.meta(META_WAVE);
  ASSERT_EQ(waves.size(), 2u);
  EXPECT_EQ(waves[0].data, (Bytes{3, 1, 0xAA, 0xBB, 0xCC}));
  EXPECT_EQ(waves[1].data, (Bytes{4, 2, 0x12}));  // 44 x 250 Hz is rate code 2
  ASSERT_EQ(songStats.waveCount, 2);
  EXPECT_EQ(songStats.waves[0].sampleRate, 8000u);
  EXPECT_EQ(songStats.waves[0].length, 3u);
  EXPECT_EQ(songStats.waves[1].sampleRate, 11000u);
  EXPECT_TRUE(songStats.hasVoiceSamples);

  std::vector<Event> notes = r.with(WAVE_NOTE_STATUS);
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].data, (Bytes{3, 127, 0, 30}));
  EXPECT_EQ(notes[1].time, 6u);
  EXPECT_EQ(notes[1].data, (Bytes{4, 90, 0, 255}));
}

// An early end (0x3n) reaches a wave note of the second channel group (0x2n, channel n + 16).
TEST_F(MldReader, WaveNoteEndsEarly) {
  Bytes track = cat({{0},
                     extended(0xFF, {0x31, 0x10, 0x49, 2, 100}),
                     {10},
                     extended(0xFF, {0x31, 0x10, 0x4A, 2}),
                     {0},
                     END});
  std::vector<Event> notes = read(MldBuilder().track(track).build()).with(WAVE_NOTE_STATUS);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].data, (Bytes{2, 100, 0, 10}));
}

TEST_F(MldReader, DeviceMessagesForBendsModulationAndMasks) {
  Bytes track = cat({{0},
                     extended(0xFF, {0x31, 0xE9, 0x50}),  // bend MSB, part 1
                     {0},
                     extended(0xFF, {0x61, 0x03, 0x90}),  // modulation, part 2
                     {0},
                     extended(0xFF, {0x31, 0xEF, 0x2C}),  // bend range 12, part 1
                     {0},
                     extended(0xFF, {0x11, 0xF2, 0x04, 0x60, 1}),  // vibration channel 6
                     {0},
                     END});
  Result r = read(MldBuilder().track(track).build());
  ASSERT_EQ(r.with(0xE1).size(), 1u);
  EXPECT_EQ(r.with(0xE1)[0].data, (Bytes{0, 0x50}));
  ASSERT_EQ(r.with(0xB2).size(), 1u);
  EXPECT_EQ(r.with(0xB2)[0].data, (Bytes{CC_MODULATION, 0x20}));
  ASSERT_EQ(r.with(0xB1).size(), 1u);
  EXPECT_EQ(r.with(0xB1)[0].data, (Bytes{CC_BEND_RANGE, 12}));
  EXPECT_EQ(songStats.vibrationMask, 1u << 5);
}

// Frequency events of the FM families (0x11: both parts at once, 0x21: the parts apart).
Bytes freq11(uint8_t part, uint8_t low, uint8_t high) {
  return extended(0xFF, {0x11, 0xF1, uint8_t(part << 6 | 2), low, high});
}
Bytes freq21(uint8_t part, bool high, uint8_t value) {
  return extended(0xFF, {0x21, 0x02, uint8_t(part << 5 | (high ? 3 : 4)), value});
}

int bendValue(const Event& e) {
  return e.data[1] << 7 | e.data[0];
}

TEST_F(MldReader, FrequenciesInsideANoteGlideItAsBends) {
  // Note 60 for 48 ticks; at 8 the frequency of 72 (block 5, number 87), twelve semitones up:
  // past the bend range of 2, so the range becomes 24. At 16 the parts apart: number 108 of
  // block 4, almost a semitone above 60; only the pair counts, not the low part on its own. Key
  // off at the note's end brings the bend back.
  Bytes track = cat({{0},
                     Bytes{0x0F, 48},
                     {8},
                     freq11(0, 0x57, 0x35),
                     {8},
                     freq21(0, false, 0x6C),
                     {0},
                     freq21(0, true, 0x31),
                     {32},
                     freq11(0, 0, 0),
                     {0},
                     END});
  Result r = read(MldBuilder().track(track).build());
  ASSERT_EQ(r.notes().size(), 1u);
  EXPECT_EQ(r.notes()[0].data, (Bytes{60, 127, 0, 48}));
  ASSERT_EQ(r.with(0xB0).size(), 1u);
  EXPECT_EQ(r.with(0xB0)[0].data, (Bytes{CC_BEND_RANGE, 24}));
  std::vector<Event> bends = r.with(0xE0);
  ASSERT_EQ(bends.size(), 3u);
  EXPECT_EQ(bends[0].time, 8u);
  EXPECT_EQ(bendValue(bends[0]), 8192 + 4096);  // 12 of 24 semitones
  EXPECT_EQ(bends[1].time, 16u);
  EXPECT_NEAR(bendValue(bends[1]), 8192 + 0.955 * 8192 / 24, 4);  // (108 - 87) / (109 - 87)
  EXPECT_EQ(bends[2].time, 48u);
  EXPECT_EQ(bendValue(bends[2]), 8192);
}

TEST_F(MldReader, GlidesReferToTheWrittenKeyOnRhythmChannels) {
  // The rhythm note reads as 50, but its frequency is that of the written key 60.
  Bytes track = cat(
      {{0}, Bytes{0xFF, 0xBA, 0x01}, {0}, Bytes{0x0F, 48}, {8}, freq11(0, 0x6C, 0x31), {40}, END});
  Result r = read(MldBuilder().track(track).build());
  ASSERT_EQ(r.notes().size(), 1u);
  EXPECT_EQ(r.notes()[0].data[0], 50);
  for (const Event& e : r.with(0xB0)) EXPECT_NE(e.data[0], CC_BEND_RANGE);
  ASSERT_EQ(r.with(0xE0).size(), 1u);
  EXPECT_NEAR(bendValue(r.with(0xE0)[0]), 8192 + 0.955 * 4096, 4);
}

TEST_F(MldReader, FrequenciesOutsideNotesStillMakeNotes) {
  // Part 0: a frequency note of 60 from 0 to 24, no note event. Part 1: note 64 for 24 ticks,
  // continued by a frequency of its own pitch at its end and keyed off at once; a later note
  // keeps the stream going, so a frequency note left sounding would show.
  Bytes track = cat({{0},
                     freq11(0, 0x57, 0x31),
                     {24},
                     freq11(0, 0, 0),
                     {0},
                     Bytes{0x53, 24},
                     {24},
                     freq11(1, 0xB2, 0x31),
                     {0},
                     freq11(1, 0, 0),
                     {72},
                     Bytes{0x0F, 10},
                     {10},
                     END});
  Result r = read(MldBuilder().track(track).build());
  std::vector<Event> notes = r.notes();
  ASSERT_EQ(notes.size(), 3u);
  EXPECT_EQ(notes[0].time, 0u);
  EXPECT_EQ(notes[0].status, 0x90);
  EXPECT_EQ(notes[0].data, (Bytes{60, 127, 0, 24}));
  EXPECT_EQ(notes[1].time, 24u);
  EXPECT_EQ(notes[1].status, 0x91);
  EXPECT_EQ(notes[1].data, (Bytes{64, 127, 0, 24}));
  EXPECT_EQ(notes[2].time, 120u);
  EXPECT_TRUE(r.with(0xE1).empty());
}

TEST_F(MldReader, UserVoicesGoToTheVoiceChannel) {
  // One user-voice record: identifier program value 2, bank 5; assigned to no channel (0xFF).
  Bytes record(18, 0);
  record[0] = 2;
  record[1] = 5;
  record[17] = 0xFF;
  Bytes table = cat({{0x11, 0x01, 0xF0, 0x05}, record});
  Bytes track = cat({{0},
                     extended(0xFF, table),
                     {0},
                     Bytes{0xFF, 0xE0, 0x05, 0, 0xFF, 0xE1, 0x02},
                     {0},
                     Bytes{0x00, 20},
                     {0},
                     END});
  Result r = read(MldBuilder().track(track).build());
  std::vector<Event> notes = r.notes();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].status, WAVE_NOTE_STATUS);
  EXPECT_EQ(notes[0].data[0], 1);  // the record's number + 1

  options.voiceOutput = false;
  Result off = read(MldBuilder().track(track).build());
  ASSERT_EQ(off.notes().size(), 1u);
  EXPECT_EQ(off.notes()[0].status, 0x90);
}

TEST_F(MldReader, NoHeaderOrNoTracksGiveAnEmptyStream) {
  for (const Bytes& image :
       {Bytes{}, Bytes{'m', 'e', 'l'}, Bytes(100, 0x55), MldBuilder().text("titl", "x").build()}) {
    Result r = read(image);
    EXPECT_EQ(r.size, int32_t(EMPTY_STREAM_SIZE));
    EXPECT_TRUE(r.events.empty());
  }
  // Tracks beyond four are ignored.
  MldBuilder five;
  for (int i = 0; i < 5; ++i) five.track({0, 0x00, 10, 0, 0xFF, 0xDF, 0});
  EXPECT_EQ(read(five.build()).notes().size(), 4u);
}

TEST_F(MldReader, EventsRunningPastTheirTrackStopCleanly) {
  // An extended event whose length passes the track: the note before it stays.
  Bytes track = {0, 0x00, 10, 0, 0xFF, 0xF2, 0x10, 0x00, 0, 'a'};
  Result r = read(MldBuilder().track(track).build());
  EXPECT_EQ(r.notes().size(), 1u);
  EXPECT_TRUE(r.meta(META_LYRIC).empty());
  EXPECT_FALSE(r.truncated);

  // A track chunk whose length passes the file, and a last event without its delta.
  Bytes image = MldBuilder().track({0, 0x00, 10, 0, 0x01, 10}).build();
  image[image.size() - 7] = 0x40;  // track length now far beyond the file
  Result cut = read(image);
  EXPECT_EQ(cut.notes().size(), 2u);
}

TEST_F(MldReader, ReadsBackWhatTheWriterWrites) {
  Bytes stream = vlmtest::StreamBuilder(48)
                     .track()
                     .meta(0, META_TEMPO, {0x07, 0xA1, 0x20})
                     .program(0, 0, 5)
                     .note(0, 0, 60, 100, 48)
                     .note(0, 1, 64, 80, 96)
                     .note(0, 5, 67, 40, 30)
                     .note(48, 0, 62, 100, 48)
                     .end(48)
                     .build();
  applyOutputPreset(30);
  adjustForRun(30);
  Bytes file(1 << 16);
  int32_t size = 0;
  writeMld(stream.data(), uint32_t(stream.size()), file.data(), &size, uint32_t(file.size()));
  ASSERT_GT(size, 0);
  file.resize(size_t(size));
  ASSERT_EQ(file.size() > 4 && std::memcmp(file.data(), "melo", 4) == 0, true);

  resetRun();
  Result r = read(file);
  EXPECT_EQ(r.timebase, 48);
  ASSERT_FALSE(r.meta(META_TEMPO).empty());
  EXPECT_EQ(r.meta(META_TEMPO)[0].data, (Bytes{0x07, 0xA1, 0x20}));
  bool program = false;
  for (const Event& e : r.with(0xC0)) program |= e.data == Bytes{5, 0};
  EXPECT_TRUE(program);
  struct Note {
    uint32_t time;
    uint8_t status, note, velocity;
    uint16_t duration;
  };
  std::vector<Note> notes;
  for (const Event& e : r.notes())
    notes.push_back({e.time, e.status, e.data[0], e.data[1], uint16_t(e.data[2] << 8 | e.data[3])});
  std::vector<Note> expected = {{0, 0x90, 60, 100, 48},
                                {0, 0x91, 64, 80, 96},
                                {0, 0x95, 67, 40, 30},
                                {48, 0x90, 62, 100, 48}};
  ASSERT_EQ(notes.size(), expected.size());
  for (size_t i = 0; i < notes.size(); ++i) {
    EXPECT_EQ(notes[i].time, expected[i].time) << i;
    EXPECT_EQ(notes[i].status, expected[i].status) << i;
    EXPECT_EQ(notes[i].note, expected[i].note) << i;
    EXPECT_EQ(notes[i].velocity, expected[i].velocity) << i;
    EXPECT_EQ(notes[i].duration, expected[i].duration) << i;
  }
}

// A song with every kind of event, for the cutting and corruption tests.
Bytes richSong() {
  Bytes t0 =
      cat({{0},
           Bytes{0xFF, 0xC3, 120},
           {0},
           Bytes{0xFF, 0xE0, 0x01},
           {0},
           Bytes{0xFF, 0xE1, 0x02},
           {0},
           Bytes{0x00, 20, 0x80},
           {4},
           extended(0xF2, {0, 'l', 'y'}),
           {4},
           extended(0xFF, {0x11, 0xF0, 0x02, 1, 1, 1, 2, 3, 4}),
           {0},
           extended(0xFF, {0x11, 0xF1, 0x20, 1, 40}),
           {8},
           Bytes{0x41, 30, 0x81},
           {0},
           extended(0xFF, {0x11, 0xF1, 0x02, 0x40, 0x08}),
           {0},
           extended(0xFF, {0x11, 0x01, 0xF2, 0x07, 1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
           {2},
           END});
  Bytes t1 = cat({{3},
                  Bytes{0xFF, 0xBA, 0x49},
                  {0},
                  Bytes{0x05, 10, 0x82},
                  {1},
                  Bytes{0xFF, 0xE5, 0x43},
                  {1},
                  Bytes{0x45, 10, 0x83},
                  {0},
                  END});
  return MldBuilder().chunk("note", {0, 1}).text("titl", "rich").track(t0).track(t1).build();
}

TEST_F(MldReader, EveryCutOfAFileReadsSafely) {
  Bytes image = richSong();
  Result whole = read(image);
  EXPECT_GE(whole.notes().size(), 4u);
  for (size_t n = 0; n <= image.size(); ++n) {
    Bytes cut(image.begin(), image.begin() + long(n));
    Result r = read(cut);
    EXPECT_GE(r.size, int32_t(EMPTY_STREAM_SIZE)) << n;
    EXPECT_FALSE(r.truncated) << n;
  }
}

TEST_F(MldReader, CorruptedFilesReadSafely) {
  Bytes image = richSong();
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  for (int round = 0; round < 3000; ++round) {
    Bytes bad = image;
    int flips = 1 + next() % 6;
    for (int i = 0; i < flips; ++i) bad[(next() >> 8) % bad.size()] = uint8_t(next() >> 16);
    Result r = read(bad);
    EXPECT_FALSE(r.truncated) << round;
  }
}

TEST_F(MldReader, SmallOutputBuffersShortenTheStream) {
  Bytes track;
  track.push_back(0);
  for (int i = 0; i < 200; ++i) track.insert(track.end(), {uint8_t(i % 60), 5, 5});
  track.insert(track.end(), END.begin(), END.end());
  Bytes image = MldBuilder().track(track).build();
  for (uint32_t capacity : {0u, 10u, 29u, 30u, 40u, 64u, 200u}) {
    Result r = read(image, capacity);
    EXPECT_LE(uint32_t(r.size), capacity);
    EXPECT_FALSE(r.truncated) << capacity;
  }
  EXPECT_LT(read(image, 200).notes().size(), 200u);
}

}  // namespace
}  // namespace vlm
