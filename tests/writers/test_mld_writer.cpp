// i-melody and PMD writer: container structure checked by an independent parser, the event
// encoding, note folding, long gaps and long notes, tempo codes, family events and size limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "convert/conversion_run.h"
#include "convert/format_table.h"
#include "convert/options.h"
#include "core/stages.h"
#include "core/vstream.h"
#include "test_util.h"
#include "writer_contract.h"

namespace {

using vlmtest::Bytes;
using vlmtest::StreamBuilder;
using vlmtest::be;
using vlmtest::genibus;

// ---- An independent reader of the container ------------------------------------------------

struct MldEvent {
  uint32_t time;
  int track;
  Bytes bytes;  // without the delta
  uint8_t delta;
  bool isNote() const { return !bytes.empty() && bytes[0] != 0xFF; }
  bool is(uint8_t code) const { return bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == code; }
};

struct ParsedMld {
  bool ok = false;
  std::string error;
  std::string magic;
  uint8_t dataType = 0, subType = 0, trackCount = 0;
  std::vector<std::pair<std::string, Bytes>> info;
  std::vector<std::vector<MldEvent>> tracks;
  bool hasCrc = false;

  const Bytes* chunk(const std::string& id) const {
    for (auto& c : info)
      if (c.first == id) return &c.second;
    return nullptr;
  }
  std::vector<MldEvent> all(int track) const { return tracks.at(track); }
};

ParsedMld parseMld(const Bytes& f, bool wide, bool expectCrc) {
  ParsedMld r;
  auto fail = [&](const std::string& e) {
    r.error = e;
    return r;
  };
  if (f.size() < 13) return fail("short");
  r.magic.assign(f.begin(), f.begin() + 4);
  if (be(f, 4, 4) != f.size() - 8) return fail("file length");
  uint32_t headerEnd = 10 + be(f, 8, 2);
  if (headerEnd > f.size()) return fail("header length");
  r.dataType = f[10];
  r.subType = f[11];
  r.trackCount = f[12];
  size_t p = 13;
  while (p < headerEnd) {
    if (p + 6 > headerEnd) return fail("info head");
    uint32_t n = be(f, p + 4, 2);
    if (p + 6 + n > headerEnd) return fail("info length");
    r.info.emplace_back(std::string(f.begin() + p, f.begin() + p + 4),
                        Bytes(f.begin() + p + 6, f.begin() + p + 6 + n));
    p += 6 + n;
  }
  size_t end = f.size();
  if (expectCrc) {
    if (end < 2 || be(f, end - 2, 2) != uint16_t(~genibus(f.data(), end - 2))) return fail("crc");
    end -= 2;
    r.hasCrc = true;
  }
  for (int t = 0; t < r.trackCount; ++t) {
    if (p + 8 > end || std::memcmp(&f[p], "trac", 4) != 0) return fail("track head");
    uint32_t n = be(f, p + 4, 4);
    if (p + 8 + n > end) return fail("track length");
    std::vector<MldEvent> events;
    size_t q = p + 8, tend = p + 8 + n;
    uint32_t time = 0;
    bool ended = false;
    while (q < tend) {
      if (ended) return fail("event after end");
      uint8_t delta = f[q++];
      time += delta;
      if (q >= tend) return fail("cut event");
      size_t size;
      if (f[q] != 0xFF) {
        size = wide ? 3 : 2;
      } else {
        if (q + 2 > tend) return fail("cut event");
        if (f[q + 1] < 0xF0) {
          size = 3;
        } else {
          if (q + 4 > tend) return fail("cut event");
          size = 4 + be(f, q + 2, 2);
        }
      }
      if (q + size > tend) return fail("event length");
      MldEvent e{time, t, Bytes(f.begin() + q, f.begin() + q + size), delta};
      if (e.is(0xDF)) ended = true;
      events.push_back(e);
      q += size;
    }
    if (!ended) return fail("no end of track");
    r.tracks.push_back(events);
    p = tend;
  }
  if (p != end) return fail("trailing bytes");
  r.ok = true;
  return r;
}

std::string hex(const Bytes& b) {
  std::string s;
  char buf[4];
  for (uint8_t c : b) {
    std::snprintf(buf, sizeof buf, "%02X ", c);
    s += buf;
  }
  return s;
}

// ---- Running the writer ---------------------------------------------------------------------

class MldWriterTest : public vlmtest::WriterTest {
 protected:
  MldWriterTest() : WriterTest(vlm::writeMld) {}

  ParsedMld run(int code, const Bytes& stream, uint32_t capacity = 1 << 20) {
    preset(code);
    Bytes file = write(stream, capacity);
    const vlm::TargetPreset& p = vlm::options.preset;
    ParsedMld r = parseMld(file, p.noteType, p.ezwebTarget && vlm::options.dlcrc);
    EXPECT_TRUE(r.ok) << "code " << code << ": " << r.error << "\n" << hex(file);
    file_ = file;
    return r;
  }

  static std::vector<MldEvent> notes(const ParsedMld& r, int track) {
    std::vector<MldEvent> out;
    for (const MldEvent& e : r.tracks.at(track))
      if (e.isNote()) out.push_back(e);
    return out;
  }

  static int decodeNote(const MldEvent& e, bool wide) {
    int n = (e.bytes[0] & 63) + 45;
    if (wide) {
      static const int SHIFT[4] = {0, 12, -24, -12};
      n += SHIFT[e.bytes[2] & 3];
    }
    return n;
  }

  Bytes file_;
};

Bytes simpleSong(int note, uint16_t duration, uint16_t timebase = 48, int velocity = 100) {
  return StreamBuilder(timebase)
      .track()
      .meta(0, vlm::META_TEMPO, {0x07, 0xA1, 0x20})
      .program(0, 0, 5)
      .cc(0, 0, 7, 100)
      .note(0, 0, note, velocity, duration)
      .end(duration)
      .build();
}

// ---- Container ----------------------------------------------------------------------------

TEST_F(MldWriterTest, EveryOutputCodeWritesAConsistentContainer) {
  // Notes on channels 0, 1, 5 and 9 (rhythm), a tempo change and controllers.
  Bytes song = StreamBuilder(48)
                   .track()
                   .meta(0, vlm::META_TEMPO, {0x07, 0xA1, 0x20})
                   .program(0, 0, 3)
                   .cc(0, 0, 7, 90)
                   .cc(0, 0, 10, 64)
                   .cc(0, 1, 1, 40)
                   .note(0, 0, 60, 100, 48)
                   .note(0, 1, 64, 80, 96)
                   .note(0, 5, 67, 80, 30)
                   .note(0, 9, 38, 120, 10)
                   .raw(24, {0xE0, 0x00, 0x50})
                   .meta(24, vlm::META_TEMPO, {0x06, 0x1A, 0x80})
                   .note(0, 0, 62, 100, 48)
                   .end(100)
                   .build();
  const int codes[] = {24, 25, 26, 27, 28, 29, 30, 31, 35, 36, 37, 38, 39, 61, 62, 63};
  for (int code : codes) {
    SetUp();
    ParsedMld r = run(code, song);
    if (!r.ok) continue;
    const vlm::TargetPreset& p = vlm::options.preset;
    EXPECT_EQ(r.magic, p.ezwebTarget ? "cmid" : "melo") << code;
    EXPECT_EQ(r.dataType, 1);
    EXPECT_EQ(r.subType, 1);
    // Channels up to 9 carry notes: three 4-channel tracks.
    EXPECT_EQ(r.trackCount, 3) << code;
    ASSERT_NE(r.chunk("titl"), nullptr);
    ASSERT_NE(r.chunk("sorc"), nullptr);
    const Bytes* vers = r.chunk("vers");
    ASSERT_NE(vers, nullptr);
    EXPECT_EQ(*vers, Bytes({'0', uint8_t('0' + p.formatVersion), '0', '0'})) << code;
    EXPECT_EQ(r.chunk("note") != nullptr, p.ezwebTarget || p.noteType) << code;
    EXPECT_EQ(r.chunk("exst") != nullptr, p.ezwebTarget) << code;
    // Every track ends at the song end, the end of track of the stream.
    for (const auto& t : r.tracks) EXPECT_EQ(t.back().time, 24u + 24u + 100u) << code;
    // Every note lies in the variant's range.
    int lo = p.noteType ? 21 : 45, hi = p.noteType ? 119 : 107;
    for (int t = 0; t < r.trackCount; ++t)
      for (const MldEvent& e : notes(r, t)) {
        int n = decodeNote(e, p.noteType);
        EXPECT_GE(n, std::max<int>(lo, p.lowestNote)) << code;
        EXPECT_LE(n, std::min<int>(hi, p.highestNote)) << code;
      }
    // The tempo change brings the other tracks to its time.
    for (int t = 1; t < r.trackCount; ++t) {
      bool synced = false;
      for (const MldEvent& e : r.tracks[t])
        if (e.time == 48 && (e.is(0xDE) || (e.isNote() && e.bytes[1] == 0))) synced = true;
      EXPECT_TRUE(synced) << code << " track " << t;
    }
  }
}

TEST_F(MldWriterTest, InformationChunksFollowTheirConditions) {
  // Empty title still has "titl" of length 0; empty copyright, software and date have none.
  ParsedMld r = run(25, simpleSong(60, 24));
  ASSERT_TRUE(r.ok);
  ASSERT_NE(r.chunk("titl"), nullptr);
  EXPECT_TRUE(r.chunk("titl")->empty());
  EXPECT_EQ(r.chunk("copy"), nullptr);
  EXPECT_EQ(r.chunk("prot"), nullptr);
  EXPECT_EQ(r.chunk("date"), nullptr);
  EXPECT_EQ(r.info.front().first, "sorc");

  SetUp();
  vlm::setSongText(vlm::INFO_TITLE, "Song", 4);
  vlm::setSongText(vlm::INFO_SOFTWARE, "VlmPlayer", 9);
  vlm::song.ProtectFlags = vlm::PROTECT_COPY | vlm::PROTECT_SAVE;
  r = run(25, simpleSong(60, 24));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(*r.chunk("titl"), Bytes({'S', 'o', 'n', 'g'}));
  EXPECT_EQ(r.chunk("prot")->size(), 9u);
  EXPECT_EQ(*r.chunk("sorc"), Bytes{1});

  // A melody-mail text of version 1 leaves out "sorc" and "vers".
  SetUp();
  vlm::runState.MailFlags = vlm::MAIL_TEXT_FORM;
  preset(35);
  Bytes file = write(simpleSong(60, 24));
  r = parseMld(file, false, false);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.chunk("sorc"), nullptr);
  EXPECT_EQ(r.chunk("vers"), nullptr);
  EXPECT_EQ(r.info.size(), 1u);  // only "titl"
}

TEST_F(MldWriterTest, PmdCarriesTheDownloadCrcOnlyWithDlcrc) {
  ParsedMld r = run(61, simpleSong(60, 24));  // parse checks length and CRC complement
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.hasCrc);
  EXPECT_EQ(*r.chunk("exst"), Bytes({0, 0}));

  SetUp();
  vlm::options.dlcrc = false;
  preset(61);
  Bytes file = write(simpleSong(60, 24));
  r = parseMld(file, vlm::options.preset.noteType, false);
  EXPECT_TRUE(r.ok) << r.error;
}

// ---- Notes ----------------------------------------------------------------------------------

TEST_F(MldWriterTest, NotesOutsideTheRangeFoldByOctaves) {
  // Note 120 with 3-byte notes (21..119) becomes 108: key 51, one octave up.
  ParsedMld r = run(25, simpleSong(120, 24));
  ASSERT_TRUE(r.ok);
  auto n = notes(r, 0);
  ASSERT_EQ(n.size(), 1u);
  ASSERT_EQ(n[0].bytes.size(), 3u);
  EXPECT_EQ(n[0].bytes[0], 51);
  EXPECT_EQ(n[0].bytes[2] & 3, 1);
  EXPECT_EQ(n[0].bytes[2] >> 2, 50);  // velocity 100 / 2

  // Note 30 with 2-byte notes (45..107) becomes 54.
  SetUp();
  r = run(35, simpleSong(30, 24));
  ASSERT_TRUE(r.ok);
  n = notes(r, 0);
  ASSERT_EQ(n.size(), 1u);
  ASSERT_EQ(n[0].bytes.size(), 2u);
  EXPECT_EQ(decodeNote(n[0], false), 54);

  // The quietest note keeps a velocity that reads back as a note.
  SetUp();
  r = run(25, simpleSong(60, 24, 48, 1));
  n = notes(r, 0);
  ASSERT_EQ(n.size(), 1u);
  EXPECT_EQ(n[0].bytes[2] >> 2, 1);

  // Note 30 with 3-byte notes stands as it is, two octaves down from key 9.
  SetUp();
  r = run(25, simpleSong(30, 24));
  n = notes(r, 0);
  ASSERT_EQ(n.size(), 1u);
  EXPECT_EQ(n[0].bytes[0], 9);
  EXPECT_EQ(n[0].bytes[2] & 3, 2);
}

TEST_F(MldWriterTest, RhythmNotesShiftForMeloAndDropOutsideTheRange) {
  Bytes song = StreamBuilder(48)
                   .track()
                   .note(0, 9, 38, 100, 10)
                   .note(10, 9, 115, 100, 10)  // 125 after the shift: dropped
                   .end(10)
                   .build();
  ParsedMld r = run(25, song);
  ASSERT_TRUE(r.ok);
  auto n = notes(r, 2);
  ASSERT_EQ(n.size(), 1u);
  EXPECT_EQ(decodeNote(n[0], true), 48);
  EXPECT_EQ(n[0].bytes[0] >> 6, 1);  // channel 9 is voice 1 of track 2

  SetUp();
  r = run(61, song);
  n = notes(r, 2);
  ASSERT_EQ(n.size(), 2u);  // no shift in PMD: 38 and 115 both fit
  EXPECT_EQ(decodeNote(n[0], true), 38);
  EXPECT_EQ(decodeNote(n[1], true), 115);
}

TEST_F(MldWriterTest, LongGapsAndLongNotes) {
  // A 600-tick rest: two fillers and a delta of 90.
  Bytes song = StreamBuilder(48).track().note(600, 0, 60, 100, 24).end(24).build();
  ParsedMld r = run(25, song);
  ASSERT_TRUE(r.ok);
  const auto& t = r.tracks[0];
  size_t i = 0;
  while (i < t.size() && !t[i].is(0xDE)) ++i;
  ASSERT_LE(i + 2, t.size());
  EXPECT_EQ(t[i].delta, 255);
  EXPECT_EQ(t[i + 1].delta, 255);
  EXPECT_TRUE(t[i + 1].is(0xDE));
  EXPECT_TRUE(t[i + 2].isNote());
  EXPECT_EQ(t[i + 2].delta, 90);
  EXPECT_EQ(t[i + 2].time, 600u);

  // A 400-tick note: gate 255, and 254 ticks later the same key with gate 146.
  SetUp();
  r = run(25, simpleSong(60, 400));
  auto n = notes(r, 0);
  ASSERT_EQ(n.size(), 2u);
  EXPECT_EQ(n[0].bytes[1], 255);
  EXPECT_EQ(n[1].time - n[0].time, 254u);
  EXPECT_EQ(n[1].bytes[1], 146);
  EXPECT_EQ(n[1].bytes[0], n[0].bytes[0]);
  EXPECT_EQ(n[1].bytes[2], n[0].bytes[2]);

  // A note running past the song end is cut there.
  SetUp();
  song = StreamBuilder(48).track().note(0, 0, 60, 100, 1000).end(100).build();
  r = run(25, song);
  n = notes(r, 0);
  ASSERT_EQ(n.size(), 1u);
  EXPECT_EQ(n[0].bytes[1], 100);
}

TEST_F(MldWriterTest, TempoCodesFollowTheTimebase) {
  ParsedMld r = run(25, simpleSong(60, 24, 48));
  ASSERT_TRUE(r.ok);
  ASSERT_TRUE(r.tracks[0][0].is(0xC3));
  EXPECT_EQ(r.tracks[0][0].bytes[2], 120);  // 500000 microseconds

  SetUp();
  r = run(25, simpleSong(60, 24, 120));
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.tracks[0][0].is(0xCB));
}

// The tempo byte is the nearest whole beat: 666,667 microseconds is 90 a minute (89.99...), and
// a tempo just below 255.5 stays in the byte.
TEST_F(MldWriterTest, TempoRoundsToTheNearestBeat) {
  for (auto [usec, bpm] : {std::pair{666667u, 90}, {631579u, 95}, {652174u, 92}, {234840u, 255}}) {
    SetUp();
    const Bytes song =
        StreamBuilder(48)
            .track()
            .meta(0, vlm::META_TEMPO, {uint8_t(usec >> 16), uint8_t(usec >> 8), uint8_t(usec)})
            .note(0, 0, 60, 100, 24)
            .end(24)
            .build();
    const ParsedMld r = run(61, song);
    ASSERT_TRUE(r.ok);
    ASSERT_TRUE(r.tracks[0][0].is(0xC3));
    EXPECT_EQ(r.tracks[0][0].bytes[2], bpm) << usec;
  }
}

TEST_F(MldWriterTest, TempoCorrectionWritesZeroNotesOnSilentTracks) {
  vlm::options.pmdtmpc4s = true;
  Bytes song = StreamBuilder(48)
                   .track()
                   .note(0, 0, 60, 100, 10)
                   .note(0, 4, 60, 100, 100)
                   .note(0, 8, 60, 100, 10)
                   .meta(50, vlm::META_TEMPO, {0x07, 0xA1, 0x20})
                   .end(60)
                   .build();
  ParsedMld r = run(61, song);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.trackCount, 3);
  auto at50 = [&](int t) {
    for (const MldEvent& e : r.tracks[t])
      if (e.time == 50 && !e.is(0xDF)) return e.bytes;
    return Bytes{};
  };
  EXPECT_EQ(at50(1), Bytes({0xFF, 0xDE, 0x00}));  // its note sounds across the change
  EXPECT_EQ(at50(2), Bytes({0x00, 0x00, 0x00}));
}

// ---- Channel events -------------------------------------------------------------------------

TEST_F(MldWriterTest, ChannelEventsEncodeWithTheirVoice) {
  Bytes song = StreamBuilder(48)
                   .track()
                   .program(0, 1, 70, 0)
                   .cc(0, 1, 7, 101)
                   .cc(0, 1, 10, 20)
                   .cc(0, 1, 11, 64)
                   .cc(0, 1, 64, 127)  // hold: no encoding
                   .cc(0, 1, vlm::CC_RHYTHM_PART, 1)
                   .meta(0, vlm::META_MASTER_VOLUME, {90})
                   .meta(0, vlm::META_CUE, {0})
                   .note(0, 1, 60, 100, 10)
                   .cc(5, 12, 7, 100)  // channel 12 carries no notes: its track is not open
                   .end(10)
                   .build();
  ParsedMld r = run(25, song);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.trackCount, 1);
  std::vector<Bytes> ev;
  for (const MldEvent& e : r.tracks[0])
    if (!e.isNote() && !e.is(0xDF)) ev.push_back(e.bytes);
  // timbre 70 + (0 ^ 1) x 128 = 198: high 6 bits 3, low 6 bits 6.
  std::vector<Bytes> expected = {
      {0xFF, 0xE1, 64 + 3},  {0xFF, 0xE0, 64 + 6}, {0xFF, 0xE2, 64 + 50}, {0xFF, 0xE3, 64 + 10},
      {0xFF, 0xE6, 64 + 32}, {0xFF, 0xBA, 9},      {0xFF, 0xB0, 90},      {0xFF, 0xD0, 0},
  };
  EXPECT_EQ(ev, expected);
  // The low timbre event follows the high one with delta 0.
  EXPECT_EQ(r.tracks[0][1].delta, 0);
}

TEST_F(MldWriterTest, VersionOneKeepsOnlyModulationAndVolume) {
  Bytes song = StreamBuilder(48)
                   .track()
                   .cc(0, 0, 7, 100)
                   .cc(0, 0, 10, 20)
                   .cc(0, 0, 11, 64)
                   .meta(0, vlm::META_MASTER_VOLUME, {90})
                   .note(0, 0, 60, 100, 10)
                   .end(10)
                   .build();
  ParsedMld r = run(35, song);
  ASSERT_TRUE(r.ok);
  int others = 0;
  for (const MldEvent& e : r.tracks[0])
    if (!e.isNote() && !e.is(0xDF) && !e.is(0xE2)) ++others;
  EXPECT_EQ(others, 0);
}

TEST_F(MldWriterTest, OneTrackLayoutAssignsVoicesAndTellsTheChannel) {
  vlm::options.pmdfmt0 = true;
  Bytes song = StreamBuilder(48)
                   .track()
                   .note(0, 0, 60, 100, 10)
                   .note(0, 5, 62, 100, 10)
                   .cc(5, 5, 7, 100)
                   .end(10)
                   .build();
  ParsedMld r = run(61, song);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.trackCount, 1);
  const auto& t = r.tracks[0];
  // Channel 5 is voice 1; its voice carried channel 1 before, so FF E5 comes first.
  ASSERT_GE(t.size(), 5u);
  EXPECT_EQ(t[0].bytes[0] >> 6, 0);
  EXPECT_EQ(t[1].bytes, Bytes({0xFF, 0xE5, 64 + 5}));
  EXPECT_EQ(t[2].bytes[0] >> 6, 1);
  EXPECT_EQ(t[3].bytes, Bytes({0xFF, 0xE2, 64 + 50}));  // no second assignment
}

TEST_F(MldWriterTest, TooManyTimbresWarnOnOneVoicePerChannelTargets) {
  StreamBuilder b(48);
  b.track();
  for (int i = 0; i < 17; ++i) b.program(0, 0, i).note(0, 0, 60, 100, 2).raw(2, {0x00});
  Bytes song = b.end(0).build();
  run(25, song);  // several voices per channel: no warning
  EXPECT_EQ(vlm::warnings.slot[vlm::WARN_TOO_MANY_VOICES], 0);
  SetUp();
  run(24, song);
  EXPECT_EQ(vlm::warnings.slot[vlm::WARN_TOO_MANY_VOICES], 1);
}

TEST_F(MldWriterTest, FmFamilyTurnsBendsIntoFrequencyEvents) {
  Bytes song =
      StreamBuilder(48).track().note(0, 0, 69, 100, 40).raw(10, {0xE0, 0x00, 0x60}).end(50).build();
  ParsedMld r = run(24, song);
  ASSERT_TRUE(r.ok);
  std::vector<MldEvent> fam;
  for (const MldEvent& e : r.tracks[0])
    if (e.is(0xFF)) fam.push_back(e);
  ASSERT_EQ(fam.size(), 2u);
  EXPECT_EQ(fam[0].time, 10u);
  ASSERT_EQ(fam[0].bytes.size(), 9u);
  EXPECT_EQ(Bytes(fam[0].bytes.begin(), fam[0].bytes.begin() + 7),
            Bytes({0xFF, 0xFF, 0x00, 0x05, 0x11, 0xF1, 0x02}));
  EXPECT_NE(fam[0].bytes[8], 0);  // block and frequency number
  EXPECT_EQ(fam[1].time, 40u);    // at the note's end the offset goes back to 0
  EXPECT_EQ(fam[1].bytes, Bytes({0xFF, 0xFF, 0x00, 0x05, 0x11, 0xF1, 0x02, 0, 0}));
}

TEST_F(MldWriterTest, FrequencyEventsOnlyForChangedFrequencies) {
  // Note 69 bent +1 semitone at 10, by 1/8192 more at 12 (the same frequency number), and to
  // +1.125 at 20 (a new low part, the same block and high bit).
  Bytes song = StreamBuilder(48)
                   .track()
                   .note(0, 0, 69, 100, 40)
                   .raw(10, {0xE0, 0x00, 0x60})
                   .raw(2, {0xE0, 0x01, 0x60})
                   .raw(8, {0xE0, 0x00, 0x62})
                   .end(30)
                   .build();
  auto familyEvents = [&](int code) {
    SetUp();
    ParsedMld r = run(code, song);
    std::vector<MldEvent> fam;
    for (const MldEvent& e : r.tracks.at(0))
      if (e.is(0xFF)) fam.push_back(e);
    return fam;
  };
  std::vector<MldEvent> fm11 = familyEvents(24);
  ASSERT_EQ(fm11.size(), 3u);
  EXPECT_EQ(fm11[0].time, 10u);
  EXPECT_EQ(Bytes(fm11[0].bytes.begin() + 7, fm11[0].bytes.end()), (Bytes{0x66, 0x32}));
  EXPECT_EQ(fm11[1].time, 20u);
  EXPECT_EQ(Bytes(fm11[1].bytes.begin() + 7, fm11[1].bytes.end()), (Bytes{0x68, 0x32}));
  EXPECT_EQ(fm11[2].time, 40u);
  // Family 0x21 sends the parts apart: both for the first frequency, then the low part alone.
  std::vector<MldEvent> fm21 = familyEvents(28);
  ASSERT_EQ(fm21.size(), 4u);
  EXPECT_EQ(fm21[0].bytes, (Bytes{0xFF, 0xFF, 0x00, 0x04, 0x21, 0x02, 0x04, 0x66}));
  EXPECT_EQ(fm21[1].bytes, (Bytes{0xFF, 0xFF, 0x00, 0x04, 0x21, 0x02, 0x03, 0x32}));
  EXPECT_EQ(fm21[2].time, 20u);
  EXPECT_EQ(fm21[2].bytes, (Bytes{0xFF, 0xFF, 0x00, 0x04, 0x21, 0x02, 0x04, 0x68}));
  EXPECT_EQ(fm21[3].time, 40u);
  EXPECT_EQ(fm21[3].bytes, (Bytes{0xFF, 0xFF, 0x00, 0x04, 0x21, 0x02, 0x03, 0x00}));
}

TEST_F(MldWriterTest, PitchBendFormsByVariant) {
  Bytes song =
      StreamBuilder(48).track().note(0, 1, 60, 100, 40).raw(10, {0xE1, 0x00, 0x60}).end(50).build();
  auto bendOf = [&](int code) {
    SetUp();
    ParsedMld r = run(code, song);
    for (const MldEvent& e : r.tracks.at(0))
      if (!e.isNote() && !e.is(0xDF)) return e.bytes;
    return Bytes{};
  };
  EXPECT_EQ(bendOf(30), Bytes({0xFF, 0xE4, 64 + 48}));
  EXPECT_EQ(bendOf(61), Bytes({0xFF, 0xE4, 64 + 48}));
  EXPECT_EQ(bendOf(26), Bytes({0xFF, 0xFF, 0x00, 0x03, 0x31, 0xE9, 0x60}));
  EXPECT_EQ(bendOf(29), Bytes({0xFF, 0xFF, 0x00, 0x03, 0x61, 0x01, 48 + 64}));
  EXPECT_EQ(bendOf(25), Bytes{});
}

// ---- Set-up events and voice data -----------------------------------------------------------

TEST_F(MldWriterTest, FourVoiceExclusiveStandsBeforeTheFirstTrack) {
  Bytes song = StreamBuilder(48)
                   .track()
                   .program(0, 0, 10)
                   .note(0, 0, 100, 100, 10)
                   .note(0, 1, 50, 100, 10)
                   .end(10)
                   .build();
  ParsedMld r = run(39, song);
  ASSERT_TRUE(r.ok);
  const MldEvent& ex = r.tracks[0][0];
  ASSERT_TRUE(ex.is(0xF0));
  ASSERT_EQ(ex.bytes.size(), 4u + 41u);
  EXPECT_EQ(ex.bytes[3], 0x29);
  EXPECT_EQ(ex.bytes[4], 0x01);
  for (int v = 0; v < 4; ++v) EXPECT_EQ(ex.bytes[5 + v * 10], v * 32 + 1);
  EXPECT_EQ(ex.bytes[5 + 9], 3);       // channel 0: highest note 100 -> (111 / 12) - 6
  EXPECT_EQ(ex.bytes[5 + 10 + 9], 0);  // channel 1: highest note 50
  // Code 38 has the same family but no exclusive.
  SetUp();
  r = run(38, song);
  EXPECT_FALSE(r.tracks[0][0].is(0xF0));
}

TEST_F(MldWriterTest, VibrationAndLedStartEvents) {
  vlm::options.vibrationLink = true;
  vlm::options.vibrationChannel = 6;
  vlm::options.ledLink = true;
  vlm::options.ledChannel = 1;
  ParsedMld r = run(24, simpleSong(60, 10));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.tracks[0][0].bytes, Bytes({0xFF, 0xFF, 0x00, 0x05, 0x11, 0xF2, 0x04, 64 + 32, 1}));
  EXPECT_EQ(r.tracks[0][1].bytes, Bytes({0xFF, 0xFF, 0x00, 0x05, 0x11, 0xF2, 0x05, 32, 0}));

  SetUp();
  vlm::options.vibrationLink = true;
  vlm::options.vibrationChannel = 3;
  r = run(30, simpleSong(60, 10));
  const Bytes& b = r.tracks[0][0].bytes;
  ASSERT_EQ(b.size(), 24u);
  EXPECT_EQ(b[2] << 8 | b[3], 0x14);
  EXPECT_EQ(b[8 + 2], 2);
  EXPECT_EQ(b[8 + 0], 0);
}

TEST_F(MldWriterTest, VoiceSampleData) {
  Bytes samples(200, 0x5A);
  Bytes wave = {1, 1};
  wave.insert(wave.end(), samples.begin(), samples.end());
  Bytes song = StreamBuilder(48)
                   .track()
                   .note(0, 0, 60, 100, 10)
                   .meta(5, vlm::META_WAVE, wave)
                   .raw(0, {0x20, 1, 100, 0, 20})
                   .end(30)
                   .build();
  // Family 0x31 of version 3: PCM marker and the data in the set-up, wave note with its end.
  ParsedMld r = run(31, song);
  ASSERT_TRUE(r.ok);
  const auto& t = r.tracks[0];
  EXPECT_EQ(t[0].bytes, Bytes({0xFF, 0xFF, 0x00, 0x04, 0x31, 0x10, 0x02, 0x01}));
  ASSERT_TRUE(t[1].is(0xFF));
  EXPECT_EQ(t[1].bytes.size(), 4u + 6u + 200u);
  EXPECT_EQ(Bytes(t[1].bytes.begin() + 4, t[1].bytes.begin() + 10),
            Bytes({0x31, 0x10, 0x07, 1, 1, 32}));
  EXPECT_TRUE(t[2].is(0xD0));  // start cue after the set-up
  bool start = false, end = false;
  for (const MldEvent& e : t) {
    if (e.bytes == Bytes({0xFF, 0xFF, 0x00, 0x05, 0x31, 0x10, 0x49, 1, 127})) start = true;
    if (e.bytes == Bytes({0xFF, 0xFF, 0x00, 0x04, 0x31, 0x10, 0x4A, 1}) && e.time == 25) end = true;
  }
  EXPECT_TRUE(start);
  EXPECT_TRUE(end);

  // Family 0x11: the data in the track at its time.
  SetUp();
  r = run(24, song);
  bool found = false;
  for (const MldEvent& e : r.tracks[0])
    if (e.bytes.size() == 4u + 5u + 200u && e.bytes[4] == 0x11 && e.bytes[5] == 0xF0) {
      found = e.time == 5;
    }
  EXPECT_TRUE(found);

  // Shortened to the room left, with the size warning.
  SetUp();
  r = run(24, song, 150);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(vlm::warnings.slot[vlm::WARN_SIZE_LIMIT], 1);
  EXPECT_LE(file_.size(), 150u);

  // No samples: nothing written, slot 6.
  SetUp();
  wave[1] = vlm::WAVE_RATE_NONE;
  song = StreamBuilder(48)
             .track()
             .note(0, 0, 60, 100, 10)
             .meta(0, vlm::META_WAVE, wave)
             .end(10)
             .build();
  r = run(24, song);
  EXPECT_EQ(vlm::warnings.slot[vlm::WARN_NO_SAMPLES], 1);
  for (const MldEvent& e : r.tracks[0]) EXPECT_LT(e.bytes.size(), 20u);
}

TEST_F(MldWriterTest, LyricsInPmdSetTheDataType) {
  Bytes song = StreamBuilder(48)
                   .track()
                   .meta(0, vlm::META_LYRIC, {'l', 'a'})
                   .note(0, 0, 60, 100, 10)
                   .end(10)
                   .build();
  ParsedMld r = run(61, song);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.dataType, 2);
  EXPECT_EQ(r.subType, 1 | 8 | 4);
  EXPECT_EQ(r.tracks[0][0].bytes, Bytes({0xFF, 0xF2, 0x00, 0x03, 0x00, 'l', 'a'}));

  SetUp();
  r = run(25, song);  // i-melody: no lyrics
  EXPECT_EQ(r.dataType, 1);
}

TEST_F(MldWriterTest, CuePointOffsetInPmdPassThrough) {
  vlm::options.noefficflg = true;
  Bytes song =
      StreamBuilder(48).track().note(0, 0, 60, 100, 10).meta(5, vlm::META_CUE, {0}).end(10).build();
  ParsedMld r = run(61, song);
  ASSERT_TRUE(r.ok);
  const Bytes* cuep = r.chunk("cuep");
  ASSERT_NE(cuep, nullptr);
  // Track data: tempo-less song, the note (1 + 3 bytes), then the cue at offset 4.
  EXPECT_EQ(be(*cuep, 0, 4), 4u);
  EXPECT_TRUE(r.tracks[0][1].is(0xD0));
}

// ---- Limits and bad input -------------------------------------------------------------------

TEST_F(MldWriterTest, SizeLimitClosesAWellFormedFile) {
  StreamBuilder b(48);
  b.track();
  for (int i = 0; i < 200; ++i) b.note(0, i % 8, 60 + i % 12, 100, 10).raw(10, {0x00});
  Bytes song = b.end(0).build();
  for (uint32_t cap : {100u, 150u, 333u}) {
    SetUp();
    ParsedMld r = run(61, song, cap);
    EXPECT_TRUE(r.ok) << cap;
    EXPECT_LE(file_.size(), cap);
    EXPECT_EQ(vlm::warnings.slot[vlm::WARN_SIZE_LIMIT], 1) << cap;
  }
  // Too small even for the container: nothing, with the warning.
  SetUp();
  preset(25);
  Bytes out = write(song, 20);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(vlm::warnings.slot[vlm::WARN_SIZE_LIMIT], 1);
  // Room enough: no warning.
  SetUp();
  run(61, song);
  EXPECT_EQ(vlm::warnings.slot[vlm::WARN_SIZE_LIMIT], 0);
}

TEST_F(MldWriterTest, DamagedStreamsStillGiveAValidFile) {
  Bytes good = simpleSong(60, 100);
  for (size_t cut = 0; cut < good.size(); cut += 3) {
    SetUp();
    Bytes damaged(good.begin(), good.begin() + cut);
    run(25, damaged);
  }
  SetUp();
  Bytes junk(300);
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = uint8_t(i * 37 + 11);
  std::memcpy(junk.data(), "VThd\0\0\0\2\0\x30VTrk\0\0\1\0", 18);
  run(30, junk);
}

}  // namespace

namespace {

// ---- Round trip through the reader of the same container -----------------------------------

struct ReadNote {
  uint32_t time;
  int channel, note, velocity, duration;
  bool operator==(const ReadNote&) const = default;
};

std::vector<ReadNote> readBack(const Bytes& file, uint16_t* timebase, std::vector<int>* programs) {
  Bytes stream(file.size() * 16 + 4096);
  int32_t size = 0;
  vlm::readMld(file.data(), uint32_t(file.size()), stream.data(), &size, uint32_t(stream.size()));
  vlm::TrackTable table;
  vlm::loadTrackTable(table, stream.data(), uint32_t(size));
  *timebase = table.timebase;
  std::vector<ReadNote> notes;
  vlm::StreamEvent ev;
  while (vlm::nextStreamEvent(table, ev)) {
    if ((ev.status & 0xF0) == vlm::ST_NOTE)
      notes.push_back(
          {ev.time, ev.status & 15, ev.data[0], ev.data[1], int(ev.data[2] << 8 | ev.data[3])});
    if ((ev.status & 0xF0) == vlm::ST_PROGRAM) programs->push_back(ev.data[0] | ev.data[1] << 8);
  }
  return notes;
}

TEST_F(MldWriterTest, WrittenFilesReadBackToTheSameNotes) {
  Bytes song = StreamBuilder(120)
                   .track()
                   .meta(0, vlm::META_TEMPO, {0x07, 0xA1, 0x20})
                   .program(0, 1, 70, 0)
                   .note(0, 0, 30, 100, 60)
                   .note(0, 1, 64, 80, 120)
                   .note(0, 5, 115, 127, 30)
                   .note(0, 9, 38, 90, 10)
                   .note(300, 0, 100, 40, 200)
                   .end(240)
                   .build();
  preset(25);
  Bytes file = write(song);
  uint16_t timebase = 0;
  std::vector<int> programs;
  std::vector<ReadNote> got = readBack(file, &timebase, &programs);
  EXPECT_EQ(timebase, 120);
  std::vector<ReadNote> expected = {
      {0, 0, 30, 100, 60}, {0, 1, 64, 80, 120},    {0, 5, 115, 126, 30},
      {0, 9, 38, 90, 10},  {300, 0, 100, 40, 200},
  };
  EXPECT_EQ(got, expected);
  ASSERT_FALSE(programs.empty());
  EXPECT_EQ(programs.back(), 70);
}

}  // namespace

namespace {

// ---- Round trips through the whole conversion: SMF in, every i-melody and PMD code out, read
// back with our own reader ---------------------------------------------------------------------

constexpr uint32_t SMF_TIMEBASE = 480;

struct SongNote {
  uint32_t start, duration;
  int key, velocity;
};

// A one-channel song with the bends it holds: the bend at `tick` puts the pitch `semitones` away
// from the sounding note.
struct BendSong {
  std::vector<std::pair<uint32_t, Bytes>> events;
  std::vector<SongNote> notes;
  std::vector<std::pair<uint32_t, double>> bends;
  int range = 2;

  BendSong& note(uint32_t start, uint32_t duration, int key, int velocity) {
    events.push_back({start, {0x90, uint8_t(key), uint8_t(velocity)}});
    events.push_back({start + duration, {0x80, uint8_t(key), 0}});
    notes.push_back({start, duration, key, velocity});
    return *this;
  }
  BendSong& bend(uint32_t tick, double semitones) {
    const int v =
        std::clamp(int(8192 + semitones * 8192 / range + (semitones < 0 ? -0.5 : 0.5)), 0, 0x3FFF);
    events.push_back({tick, {0xE0, uint8_t(v & 0x7F), uint8_t(v >> 7)}});
    bends.push_back({tick, (v - 8192) * double(range) / 8192});
    return *this;
  }
  BendSong& bendRange(uint32_t tick, int semitones) {  // RPN 0, then the null RPN
    for (Bytes cc : {Bytes{101, 0}, Bytes{100, 0}, Bytes{6, uint8_t(semitones)}, Bytes{101, 127},
                     Bytes{100, 127}})
      events.push_back({tick, {0xB0, cc[0], cc[1]}});
    range = semitones;
    return *this;
  }
  Bytes smf() const {
    std::vector<std::pair<uint32_t, Bytes>> sorted = events;
    // At one tick: note-offs first, then controllers and bends, then note-ons.
    auto order = [](const Bytes& b) { return (b[0] & 0xF0) == 0x80 ? 0 : (b[0] & 0xF0) == 0x90; };
    std::stable_sort(sorted.begin(), sorted.end(), [&](const auto& a, const auto& b) {
      return a.first != b.first ? a.first < b.first : order(a.second) < order(b.second);
    });
    Bytes track;
    vlmtest::appendVarLen(track, 0);
    track.insert(track.end(), {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});  // 120 beats a minute
    uint32_t now = 0;
    for (const auto& [tick, bytes] : sorted) {
      vlmtest::appendVarLen(track, tick - now);
      now = tick;
      track.insert(track.end(), bytes.begin(), bytes.end());
    }
    track.insert(track.end(), {0, 0xFF, 0x2F, 0});
    Bytes out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, SMF_TIMEBASE >> 8, SMF_TIMEBASE & 0xFF,
                 'M', 'T', 'r', 'k'};
    vlmtest::appendBE(out, uint32_t(track.size()), 4);
    out.insert(out.end(), track.begin(), track.end());
    return out;
  }
};

// The song of eight notes with a rising bend inside each one.
BendSong risingBends() {
  BendSong s;
  for (uint32_t i = 0; i < 8; ++i) {
    const uint32_t start = i * SMF_TIMEBASE;
    s.note(start, SMF_TIMEBASE, 60 + int(i), 100);
    for (int j = 1; j <= 4; ++j) s.bend(start + uint32_t(j) * 80, j * 0.24);
    s.bend(start + SMF_TIMEBASE - 1, 0);
  }
  return s;
}

// Bends far beyond two semitones under a bend range of 12, and a note long enough to be written
// in several parts, bent in its later parts.
BendSong wideBends() {
  BendSong s;
  s.bendRange(0, 12);
  for (uint32_t i = 0; i < 3; ++i) {
    const uint32_t start = i * SMF_TIMEBASE;
    s.note(start, SMF_TIMEBASE, 64, 90).bend(start + 120, 6).bend(start + 240, -4);
    s.bend(start + SMF_TIMEBASE - 1, 0);
  }
  s.note(1440, 8 * SMF_TIMEBASE, 62, 80).bend(1440 + 3000, 3).bend(1440 + 3600, -1);
  s.bend(1440 + 8 * SMF_TIMEBASE - 1, 0);
  return s;
}

// Notes of one pitch that follow each other without a gap, the first ones bent, the later ones
// not; then the same pitch after a rest.
BendSong repeatedPitch() {
  BendSong s;
  for (uint32_t i = 0; i < 4; ++i) s.note(i * 240, 240, 67, 70);
  s.bend(60, 1).bend(239, 0).bend(300, -1.5).bend(479, 0);
  s.note(1200, 240, 67, 110).bend(1260, 0.5).bend(1439, 0);
  return s;
}

struct ReadBack {
  uint16_t timebase = 0;
  std::vector<SongNote> notes;
  // Pitch offset from the note, in semitones, after each time at which bends stand.
  std::vector<std::pair<uint32_t, double>> pitch;
  bool anyBend = false;
};

ReadBack readBackStream(const Bytes& file, vlm::StageFn reader = vlm::readMld) {
  ReadBack r;
  Bytes stream(file.size() * 16 + 4096);
  int32_t size = 0;
  reader(file.data(), uint32_t(file.size()), stream.data(), &size, uint32_t(stream.size()));
  vlm::test::CollectedStream s = vlm::test::collectStream(stream.data(), uint32_t(size));
  r.timebase = s.timebase;
  int range = 2;
  uint16_t bend = vlm::BEND_CENTRE;
  for (const auto& e : s.events) {
    const uint8_t kind = e.status & 0xF0;
    if (kind == vlm::ST_NOTE)
      r.notes.push_back({e.time, uint32_t(e.data[2] << 8 | e.data[3]), e.data[0], e.data[1]});
    if (kind == vlm::ST_CONTROL && e.data[0] == vlm::CC_BEND_RANGE) range = e.data[1];
    if (kind == vlm::ST_PITCH_BEND) {
      bend = uint16_t(e.data[1] << 7 | e.data[0]);
      r.anyBend |= bend != 8192;
    }
    if (kind == vlm::ST_PITCH_BEND ||
        (kind == vlm::ST_CONTROL && e.data[0] == vlm::CC_BEND_RANGE)) {
      const double semitones = (int(bend) - 8192) * double(range) / 8192;
      if (!r.pitch.empty() && r.pitch.back().first == e.time)
        r.pitch.back().second = semitones;
      else
        r.pitch.push_back({e.time, semitones});
    }
  }
  return r;
}

double pitchAt(const ReadBack& r, uint32_t time) {
  double p = 0;
  for (const auto& [t, semitones] : r.pitch)
    if (t <= time) p = semitones;
  return p;
}

class MldRoundTrip : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    vlm::resetRun();
  }

  Bytes convert(const BendSong& song) {
    const int code = GetParam();
    vlmtest::writeBytes(dir_.file("in.mid"), song.smf());
    const std::string out = dir_.file("out.mld");
    std::remove(out.c_str());
    vlm::runState.currentOutputCode = code;
    vlm::applyOutputPreset(code);
    EXPECT_EQ(vlm::runConversion(dir_.file("in.mid").c_str(), out.c_str(), 2, code), 1);
    return vlmtest::readBytes(out);
  }

  // The notes come back with their starts, lengths and velocities as the target stores them, and
  // the pitch follows the bends as far as the target stores bends.
  void check(const BendSong& song) {
    const int code = GetParam();
    const bool threeByteNotes = code < 35 || code == 61 || code == 62;
    const bool noBends = code == 25 || code == 27 || (code >= 35 && code <= 39);
    const bool pmd16 = code == 61 || code == 62 || code == 63;  // bends within two semitones
    Bytes file = convert(song);
    ASSERT_FALSE(file.empty());
    ReadBack r = readBackStream(file);
    ASSERT_GT(r.timebase, 0);
    const double scale = double(SMF_TIMEBASE) / r.timebase;  // source ticks of one read tick
    ASSERT_EQ(r.notes.size(), song.notes.size()) << "code " << code;
    for (size_t i = 0; i < song.notes.size(); ++i) {
      const SongNote& want = song.notes[i];
      const SongNote& got = r.notes[i];
      SCOPED_TRACE("code " + std::to_string(code) + ", note " + std::to_string(i));
      EXPECT_NEAR(got.start * scale, want.start, scale);
      EXPECT_NEAR(got.duration * scale, want.duration, scale);
      EXPECT_EQ(got.key, want.key);
      EXPECT_EQ(got.velocity, threeByteNotes ? want.velocity / 2 * 2 : 127);
    }
    if (noBends) {
      EXPECT_FALSE(r.anyBend) << "code " << code;
      return;
    }
    // A bend coded in 6 bits steps by 1/32 of its range; the frequency form is finer.
    const double range = pmd16 ? 2 : song.range;
    const double tolerance = code == 24 || code == 28 ? 0.06 : range / 32 + 0.01;
    for (const auto& [tick, semitones] : song.bends) {
      const double want = std::clamp(semitones, -range, range);
      const uint32_t at = uint32_t(tick / scale);
      EXPECT_NEAR(pitchAt(r, at), want, tolerance) << "code " << code << ", bend at " << tick;
    }
  }

  vlmtest::ScratchDir dir_;
};

TEST_P(MldRoundTrip, RisingBendsInsideNotes) {
  check(risingBends());
}
TEST_P(MldRoundTrip, WideBendsUnderABendRangeAndALongNote) {
  check(wideBends());
}
TEST_P(MldRoundTrip, NotesOfOnePitchFollowingEachOther) {
  check(repeatedPitch());
}

INSTANTIATE_TEST_SUITE_P(EveryMldAndPmdCode, MldRoundTrip,
                         ::testing::Values(24, 25, 26, 27, 28, 29, 30, 31, 35, 36, 37, 38, 39, 61,
                                           62, 63));

// ---- Size limits ---------------------------------------------------------------------------

// A long melody bent every few ticks: each quarter note rises a semitone and falls back, one
// bend every 4 ticks. Without its bends the song fits the default size limit many times over.
BendSong bentMelody(int notes) {
  BendSong s;
  for (int i = 0; i < notes; ++i) {
    const uint32_t start = uint32_t(i) * SMF_TIMEBASE;
    s.note(start, SMF_TIMEBASE - 20, 60 + i % 12, 100);
    for (uint32_t t = 4; t < SMF_TIMEBASE - 20; t += 4) {
      const double up = t < 240 ? t / 240.0 : std::max(0.0, (440.0 - t) / 200.0);
      s.bend(start + t, up);
    }
  }
  return s;
}

class MldSizeLimit : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { vlm::resetRun(); }

  // Converts under the format's default size limit and reads the file back.
  ReadBack convert(const BendSong& song, Bytes* file = nullptr) {
    const int code = GetParam();
    vlm::resetRun();
    vlmtest::writeBytes(dir_.file("in.mid"), song.smf());
    const std::string out = dir_.file("out");
    vlm::runState.currentOutputCode = code;
    vlm::applyOutputPreset(code);
    vlm::runState.outputSizeLimit = vlm::outputSizeSetting(*vlm::findOutputFormat(code));
    EXPECT_GT(vlm::runState.outputSizeLimit, 0);
    EXPECT_EQ(vlm::runConversion(dir_.file("in.mid").c_str(), out.c_str(), 2, code), 1);
    const Bytes bytes = vlmtest::readBytes(out);
    EXPECT_LE(bytes.size(), size_t(vlm::runState.outputSizeLimit));
    if (file) *file = bytes;
    return readBackStream(bytes, code == 53 || code == 59 ? vlm::readSmaf : vlm::readMld);
  }
  vlmtest::ScratchDir dir_;
};

// Under the format's default size limit, the bends are thinned before notes are cut: where the
// full bends fill the limit within the first tenth of the song, it keeps at least 80 % of its
// length (SMAF, whose bends cost most, 60 %), measured against the same melody without bends.
// The pitch still follows each rise and fall, and the warning stays for a song that was cut.
TEST_P(MldSizeLimit, BendsAreThinnedBeforeTheSongIsCut) {
  const int code = GetParam();
  const BendSong bent = bentMelody(200);
  BendSong plain;
  for (const SongNote& n : bent.notes) plain.note(n.start, n.duration, n.key, n.velocity);
  const ReadBack whole = convert(plain);
  ASSERT_EQ(whole.notes.size(), plain.notes.size());
  const ReadBack r = convert(bent);
  ASSERT_FALSE(r.notes.empty());
  const double kept = double(r.notes.back().start) / whole.notes.back().start;
  EXPECT_GE(kept, code == 53 ? 0.6 : 0.8) << r.notes.size() << " notes";
  const bool cut = code == 53 ? kept < 0.99 : r.notes.size() < bent.notes.size();
  EXPECT_EQ(bool(vlm::warnings.slot[vlm::WARN_SIZE_LIMIT]), cut);
  // SMAF plays at a fixed tempo, so its ticks are not the song's; code 53 reads its bends back
  // as notes under frequencies.
  if (code == 53 || code == 59) return;
  // Half-way up the rise of a kept note the pitch has left the note, at its top it is near a
  // semitone above, and once the note has fallen back it is within an eighth of a semitone.
  ASSERT_GT(r.timebase, 0);
  const double scale = double(SMF_TIMEBASE) / r.timebase;
  for (size_t i = 1; i + 1 < r.notes.size(); i += 37) {
    const uint32_t start = uint32_t(i * SMF_TIMEBASE / scale);
    EXPECT_GT(pitchAt(r, start + uint32_t(160 / scale)), 0.25) << "note " << i;
    EXPECT_NEAR(pitchAt(r, start + uint32_t(250 / scale)), 1.0, 0.3) << "note " << i;
    EXPECT_NEAR(pitchAt(r, start + uint32_t(470 / scale)), 0.0, 0.13) << "note " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(BendingTargets, MldSizeLimit, ::testing::Values(24, 28, 61, 53, 59));

}  // namespace
