// SMAF writer for 4 and 16 voices: chunk structure, lengths and CRC checked by an independent
// parser; the event encoding (octave shifts, note codes, durations and fillers, gates), voices,
// pitch registers, karaoke and wave tracks; size limits and random streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../test_util.h"
#include "convert/conversion_run.h"
#include "convert/options.h"
#include "core/codec.h"
#include "core/stages.h"
#include "core/vstream.h"
#include "formats/adpcm.h"
#include "test_util.h"
#include "writer_contract.h"

namespace {

using vlmtest::correlation;

using vlmtest::Bytes;
using vlmtest::StreamBuilder;
using vlmtest::be;
using vlmtest::genibus;

// ---- An independent reader of the file ------------------------------------------------------

struct SeqEvent {
  uint32_t time;
  Bytes bytes;  // after the duration
  uint32_t duration;
};

struct Chunk {
  std::string id;  // 4 characters, the fourth may be a number
  Bytes body;
};

struct Track {
  std::string id;
  Bytes header;
  Bytes setup;  // "Mtsu" body
  std::vector<SeqEvent> events;
  std::vector<Chunk> waves;
  Bytes graphicsSetup;
};

struct ParsedSmaf {
  bool ok = false;
  std::string error;
  Bytes contents;
  std::vector<Track> tracks;
  const Track* track(const std::string& id) const {
    for (const Track& t : tracks)
      if (t.id == id) return &t;
    return nullptr;
  }
};

std::string chunkId(const Bytes& f, size_t at) {
  return std::string(f.begin() + long(at), f.begin() + long(at) + 4);
}

uint32_t smafLength(const Bytes& b, size_t& p, size_t end, bool& bad) {
  if (p >= end) {
    bad = true;
    return 0;
  }
  uint8_t b0 = b[p++];
  if (!(b0 & 0x80)) return b0;
  if (p >= end) {
    bad = true;
    return 0;
  }
  return ((b0 & 0x7F) + 1) * 128u + b[p++];
}

// Parses the events of a sequence body; returns false on a malformed event.
bool parseSequence(const Bytes& b, size_t p, size_t end, std::vector<SeqEvent>& out,
                   std::string& error, bool graphics = false) {
  uint32_t time = 0;
  bool bad = false;
  bool ended = false;
  while (p < end) {
    if (ended) return (error = "events after the end of sequence", false);
    uint32_t d = smafLength(b, p, end, bad);
    time += d;
    SeqEvent e{time, {}, d};
    if (p >= end) return (error = "duration without event", false);
    uint8_t first = b[p];
    size_t n;
    if (first == 0xFF) {
      if (p + 1 >= end) return (error = "short escape", false);
      if (b[p + 1] == 0x00)
        n = 2;
      else if (b[p + 1] == 0xF0 && p + 2 < end)
        n = 3 + b[p + 2];
      else
        return (error = "unknown escape", false);
    } else if (first == 0x00) {
      if (p + 1 >= end) return (error = "short control", false);
      uint8_t x = b[p + 1];
      if (x == 0x00 && p + 2 < end && b[p + 2] == 0x00) {
        n = 3;
        ended = true;
      } else {
        n = (x & 0x3F) < 0x30 ? 2 : 3;
      }
    } else if (graphics) {  // 0x40, length, that many bytes
      size_t q = p + 1;
      uint32_t len = smafLength(b, q, end, bad);
      n = q - p + len;
    } else {
      size_t q = p + 1;
      smafLength(b, q, end, bad);
      n = q - p;
    }
    if (bad || p + n > end) return (error = "event runs past the sequence", false);
    e.bytes.assign(b.begin() + long(p), b.begin() + long(p + n));
    p += n;
    if (first == 0xFF && e.bytes[1] == 0xF0 && e.bytes.back() != 0xF7)
      return (error = "exclusive without F7", false);
    if (!ended) out.push_back(e);
  }
  if (!ended) return (error = "no end of sequence", false);
  return true;
}

// Sub-chunks of a track body from `p`; each must fit exactly.
bool subChunks(const Bytes& b, size_t p, size_t end, std::vector<Chunk>& out, std::string& error) {
  while (p < end) {
    if (p + 8 > end) return (error = "short sub-chunk", false);
    uint32_t n = be(b, p + 4, 4);
    if (p + 8 + n > end) return (error = "sub-chunk length " + chunkId(b, p), false);
    out.push_back({chunkId(b, p), Bytes(b.begin() + long(p + 8), b.begin() + long(p + 8 + n))});
    p += 8 + n;
  }
  return true;
}

// What a kind of track holds besides its 6-byte header: a setup sub-chunk (kept in `setup`), a
// sequence sub-chunk, and for audio tracks the waves.
struct TrackKind {
  const char* name;  // for the error texts
  const char* setupId;
  Bytes Track::*setup;
  const char* sequenceId;
  bool waves;     // "Awa*" sub-chunks
  bool graphics;  // sequence events of the graphics form
};

const TrackKind* trackKind(const std::string& id) {
  static const TrackKind SCORE{"score", "Mtsu", &Track::setup, "Mtsq", false, false};
  static const TrackKind AUDIO{"audio", nullptr, nullptr, "Atsq", true, false};
  static const TrackKind GRAPHICS{"graphics", "Gtsu", &Track::graphicsSetup, "Gsq ", false, true};
  if (id.compare(0, 3, "MTR") == 0) return &SCORE;
  if (id == std::string("ATR\0", 4)) return &AUDIO;
  if (id == std::string("GTR\0", 4)) return &GRAPHICS;
  return nullptr;
}

bool parseTrack(const TrackKind& kind, const Bytes& body, Track& t, std::string& error) {
  if (body.size() < 6) return (error = std::string("short ") + kind.name + " header", false);
  t.header.assign(body.begin(), body.begin() + 6);
  std::vector<Chunk> subs;
  if (!subChunks(body, 6, body.size(), subs, error)) return false;
  for (const Chunk& c : subs) {
    if (kind.setupId && c.id == kind.setupId) {
      t.*kind.setup = c.body;
    } else if (c.id == kind.sequenceId) {
      if (!parseSequence(c.body, 0, c.body.size(), t.events, error, kind.graphics)) return false;
    } else if (kind.waves && c.id.compare(0, 3, "Awa") == 0) {
      t.waves.push_back(c);
    } else {
      return (error = std::string("unknown ") + kind.name + " sub-chunk " + c.id, false);
    }
  }
  return true;
}

ParsedSmaf parseSmaf(const Bytes& f, bool ezweb) {
  ParsedSmaf r;
  auto fail = [&](const std::string& e) {
    r.error = e;
    return r;
  };
  const size_t trailer = ezweb ? 2 : 0;
  if (f.size() < 8 + 8 + 5 + 2 + trailer) return fail("short file");
  if (chunkId(f, 0) != "MMMD") return fail("no MMMD");
  if (be(f, 4, 4) != f.size() - 8 - trailer) return fail("file length");
  const size_t crcAt = f.size() - trailer - 2;
  if (be(f, crcAt, 2) != genibus(f.data(), crcAt)) return fail("CRC");
  if (ezweb && (f[f.size() - 2] != 0x1D || f[f.size() - 1] != 0x0F)) return fail("trailer");
  size_t p = 8;
  while (p < crcAt) {
    if (p + 8 > crcAt) return fail("short chunk");
    std::string id = chunkId(f, p);
    uint32_t n = be(f, p + 4, 4);
    if (p + 8 + n > crcAt) return fail("chunk length of " + id);
    Bytes body(f.begin() + long(p + 8), f.begin() + long(p + 8 + n));
    p += 8 + n;
    if (id == "CNTI") {
      if (!r.tracks.empty() || !r.contents.empty()) return fail("CNTI not first");
      r.contents = body;
      continue;
    }
    const TrackKind* kind = trackKind(id);
    if (!kind) return fail("unknown chunk " + id);
    Track t;
    t.id = id;
    if (!parseTrack(*kind, body, t, r.error)) return r;
    r.tracks.push_back(t);
  }
  if (r.contents.size() < 5) return fail("no CNTI");
  r.ok = true;
  return r;
}

// Notes of a score track as sounded: octave shifts tracked per channel.
struct PlayedNote {
  uint32_t time;
  int channel;  // within the track
  int note;
  uint32_t gate;
};

std::vector<PlayedNote> playedNotes(const Track& t) {
  std::vector<PlayedNote> out;
  if (t.id.compare(0, 3, "MTR") != 0) return out;
  int octave[4] = {};
  for (const SeqEvent& e : t.events) {
    const Bytes& b = e.bytes;
    if (b[0] == 0x00 && (b[1] & 0x3F) == 0x32) {
      octave[b[1] >> 6] = b[2] & 0x80 ? -(b[2] & 0x7F) : b[2];
    } else if (b[0] != 0x00 && b[0] != 0xFF) {
      const int c = b[0] >> 6, block = (b[0] >> 4) & 3, k = b[0] & 0x0F;
      EXPECT_GE(k, 1);
      EXPECT_LE(k, 12);
      size_t p = 1;
      bool bad = false;
      uint32_t gate = smafLength(b, p, b.size(), bad);
      out.push_back({e.time, c, 12 * block + 36 + k + 12 * octave[c], gate});
    }
  }
  return out;
}

bool hasEvent(const Track& t, const Bytes& bytes) {
  return std::any_of(t.events.begin(), t.events.end(),
                     [&](const SeqEvent& e) { return e.bytes == bytes; });
}

// ---- Running the writer ---------------------------------------------------------------------

class SmafWriterTest : public vlmtest::WriterTest {
 protected:
  SmafWriterTest() : WriterTest(vlm::writeSmaf) {}

  ParsedSmaf run(int code, const Bytes& stream, uint32_t capacity = 1 << 20) {
    preset(code);
    file_ = write(stream, capacity);
    ParsedSmaf r = parseSmaf(file_, code == 54 || code == 56);
    if (!file_.empty()) {
      EXPECT_TRUE(r.ok) << "code " << code << ": " << r.error;
    }
    return r;
  }

  Bytes file_;
};

Bytes oneNote(int ch, int note, uint16_t duration = 60, uint16_t timebase = 120) {
  return StreamBuilder(timebase).track().note(0, ch, note, 100, duration).end(duration).build();
}

// ---- Container ------------------------------------------------------------------------------

TEST_F(SmafWriterTest, EmptyStreamIsHeadContentsAndCrc) {
  for (int code : {53, 54, 55, 56}) {
    SetUp();
    Bytes stream = StreamBuilder(120).track().end().build();
    ParsedSmaf r = run(code, stream);
    ASSERT_TRUE(r.ok) << code;
    EXPECT_TRUE(r.tracks.empty()) << code;
    EXPECT_EQ(r.contents, Bytes({0, 0, 0, 0, 0})) << code;
    EXPECT_EQ(file_.size(), 8u + 8 + 5 + 2 + (code == 54 || code == 56 ? 2 : 0)) << code;
  }
}

TEST_F(SmafWriterTest, ContentsCarryTagsEscapedAndProtection) {
  std::strcpy(vlm::song.info.text[vlm::INFO_TITLE], "a,b\\c");
  std::strcpy(vlm::song.info.text[vlm::INFO_DATE], "2003");
  std::strcpy(vlm::song.info.text[vlm::INFO_ARTIST], "\x83\x5C");  // Shift-JIS pair, no escape
  vlm::song.ProtectFlags = 0xFF;
  vlm::options.ledLink = true;
  vlm::options.ledChannel = 3;
  ParsedSmaf r = run(53, StreamBuilder(120).track().end().build());
  ASSERT_TRUE(r.ok);
  std::string text(r.contents.begin() + 5, r.contents.end());
  EXPECT_EQ(r.contents[3], 7);
  EXPECT_EQ(text, std::string("L2:\x02,ST:a\\,b\\\\c,AN:\x83\x5C,CD:2003,"));

  // The 4-voice class has no LED tag.
  ParsedSmaf four = run(55, StreamBuilder(120).track().end().build());
  std::string text4(four.contents.begin() + 5, four.contents.end());
  EXPECT_EQ(text4.find("L2:"), std::string::npos);
}

TEST_F(SmafWriterTest, FileLengthCountsFromContentsThroughTracksPlusCrc) {
  ParsedSmaf r = run(54, oneNote(0, 60));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(be(file_, 4, 4), file_.size() - 8 - 2);  // the trailer is not counted
  ASSERT_EQ(r.tracks.size(), 1u);
  EXPECT_EQ(r.tracks[0].id, std::string("MTR\x01"));
  // Header: format 0, sequence 0, timebase code 0x02 (4 ms at 120 ticks) twice, status bytes.
  EXPECT_EQ(r.tracks[0].header, Bytes({0x00, 0x00, 0x02, 0x02, 0x80, 0x80}));
}

TEST_F(SmafWriterTest, TimebaseCodesFollowTheTickLength) {
  const std::pair<uint16_t, uint8_t> cases[] = {{480, 0x00}, {240, 0x01}, {120, 0x02},
                                                {96, 0x03},  {48, 0x10},  {24, 0x11},
                                                {12, 0x12},  {10, 0x13},  {1, 0x14}};
  for (auto [tb, code] : cases) {
    SetUp();
    ParsedSmaf r = run(53, oneNote(0, 60, 10, tb));
    ASSERT_EQ(r.tracks.size(), 1u);
    EXPECT_EQ(r.tracks[0].header[2], code) << tb;
  }
}

// ---- Events ---------------------------------------------------------------------------------

TEST_F(SmafWriterTest, FirstNoteShiftsOctaveAndNotesOutsideTheWindowShiftAgain) {
  vlm::options.mldnote = false;  // no expression events in between
  Bytes stream = StreamBuilder(120)
                     .track()
                     .note(0, 1, 60, 100, 10)
                     .note(20, 1, 85, 100, 10)
                     .note(20, 1, 0, 100, 10)
                     .note(20, 1, 127, 100, 10)
                     .end(20)
                     .build();
  ParsedSmaf r = run(53, stream);
  ASSERT_EQ(r.tracks.size(), 1u);
  const Track& t = r.tracks[0];
  ASSERT_GE(t.events.size(), 4u);
  EXPECT_EQ(t.events[0].bytes, Bytes({0x00, 0x72, 0x00}));  // octave 0 for channel 1
  EXPECT_EQ(t.events[2].bytes, Bytes({0x00, 0x72, 0x01}));  // 85 is one above the window
  EXPECT_EQ(t.events[3].bytes, Bytes({0x71, 10}));          // block 3, note code 1
  std::vector<PlayedNote> notes = playedNotes(t);
  ASSERT_EQ(notes.size(), 4u);
  EXPECT_EQ(notes[0].note, 60);
  EXPECT_EQ(notes[1].note, 85);
  EXPECT_EQ(notes[2].note, 12);   // 0 sounds as 12
  EXPECT_EQ(notes[3].note, 115);  // 127 sounds as 115
  for (const PlayedNote& n : notes) EXPECT_EQ(n.gate, 10u);
}

TEST_F(SmafWriterTest, LongGapsUseFillersAndLongGatesAreClamped) {
  vlm::options.mldnote = false;
  Bytes stream =
      StreamBuilder(120).track().note(0, 0, 60, 100, 60000).cc(20000, 0, 7, 90).end().build();
  ParsedSmaf r = run(53, stream);
  ASSERT_EQ(r.tracks.size(), 1u);
  const Track& t = r.tracks[0];
  // octave, note (gate 16511 = FF 7F), filler, volume after a duration of 3489 (9A 21).
  ASSERT_GE(t.events.size(), 4u);
  EXPECT_EQ(t.events[1].bytes, Bytes({0x1C, 0xFF, 0x7F}));
  EXPECT_EQ(t.events[2].bytes, Bytes({0xFF, 0x00}));
  EXPECT_EQ(t.events[2].duration, 16511u);
  EXPECT_EQ(t.events[3].bytes, Bytes({0x00, 0x37, 90}));
  EXPECT_EQ(t.events[3].duration, 3489u);
  EXPECT_EQ(t.events[3].time, 20000u);
  // The raw bytes of that duration.
  const Bytes pattern = {0x9A, 0x21, 0x00, 0x37, 90};
  EXPECT_NE(std::search(file_.begin(), file_.end(), pattern.begin(), pattern.end()), file_.end());
}

TEST_F(SmafWriterTest, ControllersOfEachClass) {
  vlm::options.mldnote = false;
  Bytes stream = StreamBuilder(120)
                     .track()
                     .cc(0, 2, 1, 0)
                     .cc(0, 2, 1, 127)
                     .cc(0, 2, 7, 100)
                     .cc(0, 2, 10, 30)
                     .cc(0, 2, 11, 64)
                     .cc(0, 2, 91, 64)
                     .note(0, 2, 60, 100, 10)
                     .end(10)
                     .build();
  ParsedSmaf r16 = run(53, stream);
  ASSERT_EQ(r16.tracks.size(), 1u);
  const Track& t = r16.tracks[0];
  EXPECT_TRUE(hasEvent(t, {0x00, 0xA1}));       // modulation 0 -> 1
  EXPECT_TRUE(hasEvent(t, {0x00, 0xAE}));       // modulation 127 -> 14
  EXPECT_TRUE(hasEvent(t, {0x00, 0xB7, 100}));  // volume
  EXPECT_TRUE(hasEvent(t, {0x00, 0xBA, 30}));   // pan
  EXPECT_TRUE(hasEvent(t, {0x00, 0xBB, 64}));   // expression x velocity 127 / 127
  EXPECT_EQ(t.events.size(), 5u + 3);           // octave, note, closing no-op; 91 gives nothing

  ParsedSmaf r4 = run(55, stream);
  ASSERT_EQ(r4.tracks.size(), 1u);
  const Track& t4 = r4.tracks[0];
  EXPECT_EQ(t4.id, std::string("MTR\0", 4));
  EXPECT_FALSE(hasEvent(t4, {0x00, 0xBA, 30}));  // no pan in the 4-voice class
  EXPECT_FALSE(hasEvent(t4, {0x00, 0xBB, 64}));
  EXPECT_TRUE(hasEvent(t4, {0x00, 0xB7, 100}));
}

TEST_F(SmafWriterTest, VelocityBecomesExpressionInTheSixteenVoiceClass) {
  Bytes stream = StreamBuilder(120)
                     .track()
                     .note(0, 0, 60, 127, 10)
                     .note(10, 0, 60, 30, 10)
                     .note(10, 0, 60, 30, 10)
                     .end(10)
                     .build();
  ParsedSmaf r = run(53, stream);
  ASSERT_EQ(r.tracks.size(), 1u);
  // 127 -> level 14 equals the start; 30 -> level 3 once.
  int expressions = 0;
  for (const SeqEvent& e : r.tracks[0].events)
    if (e.bytes.size() == 2 && e.bytes[0] == 0 && (e.bytes[1] & 0x30) == 0) {
      ++expressions;
      EXPECT_EQ(e.bytes[1], 0x03);
    }
  EXPECT_EQ(expressions, 1);
}

TEST_F(SmafWriterTest, FourOperatorVoicesMoveChannelsAndRegisterPairs) {
  vlm::options.mmf4op = true;
  vlm::options.mldnote = false;
  vlm::songStats.melodicMask = 0x0010;
  Bytes stream =
      StreamBuilder(120).track().program(0, 4, 40).note(0, 4, 60, 100, 10).end(10).build();
  ParsedSmaf r = run(53, stream);
  ASSERT_EQ(r.tracks.size(), 2u);
  const Track& t = r.tracks[1];
  EXPECT_EQ(t.id, std::string("MTR\x03"));       // stream channel 4 -> track 3, channel 0
  EXPECT_TRUE(hasEvent(t, {0x00, 0x31, 0x01}));  // bank set-up of a four-operator channel
  EXPECT_TRUE(hasEvent(t, {0x00, 0x30, 40}));
  // The voice stands in the first written score track: here it is track 3, but the setup
  // belongs to the first score track, which is written for it.
  const Track* first = r.track(std::string("MTR\x01"));
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(first->setup.size(), 31u);
  EXPECT_EQ(Bytes(first->setup.begin(), first->setup.begin() + 8),
            Bytes({0xFF, 0xF0, 0x1C, 0x43, 0x03, 0x00, 0x01, 40}));
  EXPECT_EQ(0, std::memcmp(first->setup.data() + 8, vlm::FM4_VOICES[40], 22));
}

TEST_F(SmafWriterTest, ProgramsRegisterVoicesAndSeventeenthWarns) {
  StreamBuilder b(120);
  b.track();
  for (int i = 0; i < 17; ++i) b.program(0, i % 8, i);
  Bytes stream = b.end().build();
  ParsedSmaf r = run(53, stream);
  ASSERT_FALSE(r.tracks.empty());
  const Track& t = r.tracks[0];
  ASSERT_EQ(t.setup.size(), 16u * 21);
  for (int s = 0; s < 16; ++s) {
    const uint8_t* m = t.setup.data() + 21 * s;
    EXPECT_EQ(m[5], s);
    EXPECT_EQ(m[7], s);
    EXPECT_EQ(0, std::memcmp(m + 8, vlm::FM2_VOICES[s], 12));
  }
  EXPECT_EQ(vlm::warnings.slot[vlm::WARN_TOO_MANY_VOICES], 1);
  EXPECT_FALSE(hasEvent(t, {0x00, 0x30, 16}));  // the program that found no slot

  // 4-voice class with exclusive voices: 13-byte voices of its own table.
  SetUp();
  ParsedSmaf four = run(55, StreamBuilder(120).track().program(0, 0, 0).end().build());
  ASSERT_EQ(four.tracks.size(), 1u);
  const Bytes& setup = four.tracks[0].setup;
  ASSERT_EQ(setup.size(), 22u);
  const Bytes first = {0xFF, 0xF0, 0x13, 0x43, 0x02, 0,    0,    0,    0xF1, 0x21, 0x7B,
                       0x8C, 0xA0, 0x31, 0x57, 0x8C, 0x00, 0x00, 0x11, 0x22, 0x44, 0xF7};
  EXPECT_EQ(setup, first);

  // Without the option the program change is written at once and nothing is registered.
  SetUp();
  preset(55);
  vlm::options.preset.voiceParamExclusive = false;
  file_ = write(StreamBuilder(120).track().program(0, 0, 5).end().build());
  ParsedSmaf direct = parseSmaf(file_, false);
  ASSERT_TRUE(direct.ok) << direct.error;
  ASSERT_EQ(direct.tracks.size(), 1u);
  EXPECT_TRUE(direct.tracks[0].setup.empty());
  EXPECT_TRUE(hasEvent(direct.tracks[0], {0x00, 0x30, 5}));
}

TEST_F(SmafWriterTest, RhythmNotesRegisterVoicesAndPlayTheirPitch) {
  vlm::options.mldnote = false;
  vlm::songStats.rhythmMask = 0x0200;
  Bytes stream = StreamBuilder(120)
                     .track()
                     .note(0, 9, 36, 100, 10)
                     .note(10, 9, 36, 100, 10)
                     .note(10, 9, 20, 100, 10)  // outside 24..84: nothing
                     .end(10)
                     .build();
  ParsedSmaf r = run(53, stream);
  const Track* t = r.track(std::string("MTR\x03"));
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(hasEvent(*t, {0x00, 0x71, 0x80}));  // channel-10 bank set-up
  EXPECT_TRUE(hasEvent(*t, {0x00, 0x70, 36}));    // voice of note 36 selected once
  std::vector<PlayedNote> notes = playedNotes(*t);
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].note, 39);  // the pitch of rhythm voice 36
  const Track* first = r.track(std::string("MTR\x01"));
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(first->setup.size(), 21u);
  EXPECT_EQ(first->setup[6], 0x80);
  EXPECT_EQ(0, std::memcmp(first->setup.data() + 8, vlm::FM2_VOICES[36 + 104], 12));
}

TEST_F(SmafWriterTest, BentNotesPlayByRegisters) {
  vlm::options.mldnote = false;
  Bytes stream = StreamBuilder(120)
                     .track()
                     .note(0, 0, 69, 100, 100)
                     .raw(20, {0xE0, 0x00, 0x50})
                     .note(80, 0, 69, 100, 40)
                     .end(40)
                     .build();
  ParsedSmaf r = run(53, stream);
  ASSERT_EQ(r.tracks.size(), 1u);
  const Track& t = r.tracks[0];
  std::vector<PlayedNote> notes = playedNotes(t);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].gate, 20u);  // cut when the bend took over
  const uint16_t word = vlm::noteToFnum(69, 2, 0x5000);
  EXPECT_TRUE(hasEvent(t, {0xFF, 0xF0, 0x06, 0x43, 0x03, 0x90, 0xB0, uint8_t(word), 0xF7}));
  EXPECT_TRUE(hasEvent(t, {0xFF, 0xF0, 0x06, 0x43, 0x03, 0x90, 0xC0, uint8_t(word >> 8), 0xF7}));
  // Key off at the end of the first note; the second (bent) note is a register note too, with
  // its own key off at its end.
  std::vector<uint32_t> keyOffs;
  for (const SeqEvent& e : t.events)
    if (e.bytes == Bytes({0xFF, 0xF0, 0x06, 0x43, 0x03, 0x90, 0xC0, 0x00, 0xF7}))
      keyOffs.push_back(e.time);
  EXPECT_EQ(keyOffs, std::vector<uint32_t>({100, 140}));

  // The 4-voice class ignores pitch bends.
  ParsedSmaf four = run(55, stream);
  ASSERT_EQ(four.tracks.size(), 1u);
  for (const SeqEvent& e : four.tracks[0].events) EXPECT_NE(e.bytes.size(), 9u);
}

TEST_F(SmafWriterTest, LyricsBecomeKaraokeLines) {
  vlm::options.mldnote = false;
  vlm::options.kclen = 4;
  const std::string text = "abcdef\x82\xA0";
  Bytes stream = StreamBuilder(120)
                     .track()
                     .meta(0, vlm::META_LYRIC, Bytes(text.begin(), text.end()))
                     .note(0, 0, 60, 100, 10)
                     .meta(50, vlm::META_LYRIC, Bytes({'x'}))
                     .end(300)
                     .build();
  ParsedSmaf r = run(53, stream);
  const Track* g = r.track(std::string("GTR\0", 4));
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->header, Bytes({0, 0, 0, 0, 0x02, 0}));
  ASSERT_EQ(g->graphicsSetup.size(), 38u);
  EXPECT_EQ(std::string(g->graphicsSetup.begin(), g->graphicsSetup.begin() + 4), "Gdpd");
  // Lines "abcd", "ef" + a Shift-JIS pair, then "x"; the lines of the first lyric last 50
  // ticks (one-byte form: the text gains a zero), the last line lasts to the song end.
  ASSERT_GE(g->events.size(), 3u);
  const Bytes line0 = {0x40, 11, 50, 0xF0, 0x00, 0, 0x01, 5, 'a', 'b', 'c', 'd', 0};
  const Bytes line1 = {0x40, 11, 50, 0xF0, 0x00, 12, 0x01, 5, 'e', 'f', 0x82, 0xA0, 0};
  EXPECT_EQ(g->events[0].bytes, line0);
  EXPECT_EQ(g->events[1].bytes, line1);
  EXPECT_EQ(g->events[1].duration, 0u);
  EXPECT_EQ(g->events[2].time, 50u);
  const Bytes line2 = {0x40, 8, 0x81, 0x2C, 0xF0, 0x00, 0, 0x01, 1, 'x'};  // 300 ticks
  EXPECT_EQ(g->events[2].bytes, line2);

  // kclen 1 writes no lyrics; the 4-voice class never does.
  SetUp();
  vlm::options.kclen = 1;
  EXPECT_EQ(run(53, stream).track(std::string("GTR\0", 4)), nullptr);
  SetUp();
  EXPECT_EQ(run(55, stream).track(std::string("GTR\0", 4)), nullptr);
}

TEST_F(SmafWriterTest, WavesGoToTheAudioTrack) {
  Bytes wave = {3, 1, 0x12, 0x34, 0x56};
  Bytes empty = {4, 0xFF};
  Bytes stream = StreamBuilder(120)
                     .track()
                     .meta(0, vlm::META_WAVE, wave)
                     .meta(0, vlm::META_WAVE, empty)
                     .meta(0, vlm::META_WAVE_LEVEL, {100})
                     .raw(0, {0x20, 3, 100, 0, 50})
                     .end(50)
                     .build();
  // A wave that names no coding is coded as the selector says: step-table ADPCM, here high
  // nibble first, which the audio track carries as Yamaha ADPCM.
  vlm::AdpcmCodec = 1;
  ParsedSmaf r = run(53, stream);
  vlm::AdpcmCodec = 0;
  const Track* a = r.track(std::string("ATR\0", 4));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->header, Bytes({0, 0, 0x11, 0, 0x02, 0x02}));  // Yamaha ADPCM, 4 bits, 8000 Hz
  ASSERT_EQ(a->waves.size(), 1u);
  EXPECT_EQ(a->waves[0].id, std::string("Awa\x03"));
  const Bytes swapped = {0x21, 0x43, 0x65};  // the same codes low nibble first
  EXPECT_EQ(a->waves[0].body,
            vlm::transcodeToYamaha(vlm::ADPCM_STEP_LOW_FIRST, swapped.data(), 3, 8000, 8000, 99));
  EXPECT_TRUE(hasEvent(*a, {0x00, 0x37, 100}));
  EXPECT_TRUE(hasEvent(*a, {3, 50}));
  EXPECT_EQ(vlm::warnings.slot[vlm::WARN_NO_SAMPLES], 1);

  SetUp();
  EXPECT_EQ(run(55, stream).track(std::string("ATR\0", 4)), nullptr);
}

std::vector<int16_t> toneSamples(uint32_t count, uint32_t rate, double hz = 440) {
  std::vector<int16_t> out(count);
  for (uint32_t i = 0; i < count; ++i)
    out[i] = int16_t(std::lround(9000 * std::sin(2 * M_PI * hz * i / rate) +
                                 4000 * std::sin(2 * M_PI * 3 * hz * i / rate)));
  return out;
}

std::vector<int16_t> yamahaLinear(const Bytes& data) {
  std::vector<int16_t> out(data.size() * 2);
  vlm::decodeWaveToLinear(vlm::ADPCM_YAMAHA, data.data(), uint32_t(data.size()), out.data());
  return out;
}

Bytes codingEvent(uint8_t number, uint32_t coding, uint32_t rate) {
  return {
      number,       uint8_t(coding), uint8_t(rate >> 24), uint8_t(rate >> 16), uint8_t(rate >> 8),
      uint8_t(rate)};
}

TEST_F(SmafWriterTest, EveryWaveBecomesYamahaAdpcmAtTheTracksRate) {
  const std::vector<int16_t> tone = toneSamples(2400, 8000);
  // Wave 1: Yamaha ADPCM at 8000 Hz, as a SMAF file carries it: copied as it stands.
  const Bytes yamaha = vlm::encodeYamahaWave(tone.data(), uint32_t(tone.size()));
  // Wave 2: 16-bit PCM at 12000 Hz (a stream wave): resampled to the track's 8000 Hz.
  const std::vector<int16_t> tone12 = toneSamples(1800, 12000);
  Bytes pcm;
  for (int16_t v : tone12) pcm.insert(pcm.end(), {uint8_t(uint16_t(v) >> 8), uint8_t(v)});
  // Wave 3: step-table ADPCM without a coding event (the i-melody and wave readers' form).
  Bytes stepWave;
  {
    // The step-table encoder of the wave reader, run through a wave sound.
    Bytes riff = {'R',  'I',  'F', 'F', 0, 0, 0,  0, 'W', 'A', 'V',  'E',  'f', 'm',
                  't',  ' ',  16,  0,   0, 0, 1,  0, 1,   0,   0x40, 0x1F, 0,   0,
                  0x80, 0x3E, 0,   0,   2, 0, 16, 0, 'd', 'a', 't',  'a'};
    const uint32_t n = uint32_t(tone.size() * 2);
    for (int k = 0; k < 4; ++k) riff.push_back(uint8_t(n >> (8 * k)));
    for (int16_t v : tone) riff.insert(riff.end(), {uint8_t(v), uint8_t(uint16_t(v) >> 8)});
    vlm::options.waveRateCode = 1;
    Bytes out(1 << 16);
    int32_t size = 0;
    vlm::readWave(riff.data(), uint32_t(riff.size()), out.data(), &size, uint32_t(out.size()));
    vlm::options.waveRateCode = 0;
    const vlm::test::CollectedStream c = vlm::test::collectStream(out.data(), uint32_t(size));
    for (const auto& e : c.events)
      if (e.status == vlm::ST_META && e.metaType == vlm::META_WAVE) stepWave = e.data;
  }
  ASSERT_GT(stepWave.size(), 1000u);
  ASSERT_EQ(stepWave[1], 1);  // 8000 Hz
  stepWave[0] = 3;

  Bytes w1 = {1, 1};
  w1.insert(w1.end(), yamaha.begin(), yamaha.end());
  Bytes w2 = {2, 48};
  w2.insert(w2.end(), pcm.begin(), pcm.end());
  Bytes stream = StreamBuilder(120)
                     .track()
                     .meta(0, vlm::META_WAVE_CODING, codingEvent(1, vlm::ADPCM_YAMAHA, 8000))
                     .meta(0, vlm::META_WAVE, w1)
                     .meta(0, vlm::META_WAVE_CODING, codingEvent(2, vlm::WAVE_PCM16, 12000))
                     .meta(0, vlm::META_WAVE, w2)
                     .meta(0, vlm::META_WAVE, stepWave)
                     .raw(0, {0x20, 1, 100, 0, 50})
                     .end(50)
                     .build();
  ParsedSmaf r = run(53, stream);
  const Track* a = r.track(std::string("ATR\0", 4));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->header[2], 0x11);
  EXPECT_EQ(a->header[3], 0x00);
  ASSERT_EQ(a->waves.size(), 3u);
  EXPECT_EQ(a->waves[0].body, yamaha);
  EXPECT_EQ(a->waves[1].body.size(), 1800u * 8000 / 12000 / 2);
  EXPECT_GT(correlation(yamahaLinear(a->waves[1].body), toneSamples(1200, 8000)), 0.99);
  EXPECT_GT(correlation(yamahaLinear(a->waves[2].body), tone), 0.95);

  // The first wave fixes the rate: a 4000 Hz wave first makes the 8000 Hz ones follow it.
  Bytes w0 = {9, 0};
  w0.insert(w0.end(), yamaha.begin(), yamaha.begin() + 100);
  Bytes later = StreamBuilder(120)
                    .track()
                    .meta(0, vlm::META_WAVE_CODING, codingEvent(9, vlm::ADPCM_YAMAHA, 4000))
                    .meta(0, vlm::META_WAVE, w0)
                    .meta(0, vlm::META_WAVE_CODING, codingEvent(1, vlm::ADPCM_YAMAHA, 8000))
                    .meta(0, vlm::META_WAVE, w1)
                    .end(50)
                    .build();
  SetUp();
  r = run(53, later);
  a = r.track(std::string("ATR\0", 4));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->header[2], 0x10);
  ASSERT_EQ(a->waves.size(), 2u);
  EXPECT_EQ(a->waves[1].body.size(), yamaha.size() / 2);
}

// FFmpeg's SMAF demuxer reads the audio track as Yamaha ADPCM: an independent decoder of what
// the writer makes of a wave sound.
TEST_F(SmafWriterTest, FfmpegHearsTheWaveOfAWaveSound) {
  if (std::system("command -v ffmpeg > /dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg";
  const uint32_t rate = 8000;
  const std::vector<int16_t> tone = toneSamples(8000, 16000, 330);  // 16 kHz source
  Bytes riff = {'R', 'I',  'F', 'F', 0, 0, 0,  0, 'W', 'A', 'V',  'E',  'f', 'm',
                't', ' ',  16,  0,   0, 0, 1,  0, 1,   0,   0x80, 0x3E, 0,   0,
                0,   0x7D, 0,   0,   2, 0, 16, 0, 'd', 'a', 't',  'a'};
  const uint32_t n = uint32_t(tone.size() * 2);
  for (int k = 0; k < 4; ++k) riff.push_back(uint8_t(n >> (8 * k)));
  for (int16_t v : tone) riff.insert(riff.end(), {uint8_t(v), uint8_t(uint16_t(v) >> 8)});
  vlm::test::ScratchDir dir;
  vlm::test::writeBytes(dir.file("in.wav"), riff);
  const std::string out = dir.file("out.mmf"), raw = dir.file("out.raw");
  preset(53);
  vlm::options.waveRateCode = 1;  // 8000 Hz
  ASSERT_EQ(vlm::runConversion(dir.file("in.wav").c_str(), out.c_str(), 72, 53), 1);
  const Bytes file = vlm::test::readBytes(out);
  ParsedSmaf r = parseSmaf(file, false);
  ASSERT_TRUE(r.ok) << r.error;
  const Track* a = r.track(std::string("ATR\0", 4));
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->waves.size(), 1u);
  const std::string command =
      "ffmpeg -hide_banner -loglevel error -y -i '" + out + "' -f s16le -ac 1 '" + raw + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const Bytes pcm = vlm::test::readBytes(raw);
  std::vector<int16_t> theirs(pcm.size() / 2);
  for (size_t i = 0; i < theirs.size(); ++i) theirs[i] = int16_t(pcm[2 * i] | pcm[2 * i + 1] << 8);
  const std::vector<int16_t> ours = yamahaLinear(a->waves[0].body);
  ASSERT_GE(theirs.size(), ours.size() * 9 / 10);
  EXPECT_GT(correlation(ours, theirs), 0.99);
  // The source at the target rate: every second sample of the 16 kHz tone.
  std::vector<int16_t> source;
  for (size_t i = 0; i < tone.size(); i += 16000 / rate) source.push_back(tone[i]);
  EXPECT_GT(correlation(ours, source), 0.95);
  EXPECT_GT(correlation(theirs, source), 0.95);
}

TEST_F(SmafWriterTest, VibrationChannelSetsStatusBytes) {
  vlm::options.vibrationLink = true;
  vlm::options.vibrationChannel = 6;  // track 2, second channel of the first byte
  ParsedSmaf r = run(53, oneNote(5, 60));
  ASSERT_EQ(r.tracks.size(), 1u);
  EXPECT_EQ(r.tracks[0].id, std::string("MTR\x02"));
  EXPECT_EQ(r.tracks[0].header[4], 0x84);
  EXPECT_EQ(r.tracks[0].header[5], 0x80);
}

// ---- Size limit -----------------------------------------------------------------------------

Bytes manyNotes(int count, uint16_t duration = 400) {
  StreamBuilder b(120);
  b.track();
  for (int i = 0; i < count; ++i) b.note(i ? 30 : 0, i % 4, 50 + i % 20, 100, duration);
  return b.end(duration).build();
}

TEST_F(SmafWriterTest, SizeLimitShortensAndClosesTheFile) {
  vlm::options.mldnote = false;
  const Bytes stream = manyNotes(400);
  ParsedSmaf full = run(53, stream);
  ASSERT_TRUE(full.ok);
  const size_t fullSize = file_.size();
  for (uint32_t cap : {23u, 40u, 60u, 200u, 1000u, 1500u}) {
    SetUp();
    vlm::options.mldnote = false;
    ParsedSmaf r = run(53, stream, cap);
    ASSERT_TRUE(r.ok) << cap << ": " << r.error;
    EXPECT_LT(file_.size(), fullSize);
    EXPECT_EQ(vlm::warnings.slot[vlm::WARN_SIZE_LIMIT], 1) << cap;
    // Notes still sounding at the cut end at the song end.
    uint32_t end = 0;
    for (const Track& t : r.tracks)
      for (const SeqEvent& e : t.events) end = std::max(end, e.time);
    for (const Track& t : r.tracks)
      for (const PlayedNote& n : playedNotes(t))  // a two-byte gate stays at least 128
        EXPECT_TRUE(n.time + n.gate <= end + 30 || n.gate == 128) << cap;
  }
  SetUp();
  run(54, stream, 10);
  EXPECT_TRUE(file_.empty());
  EXPECT_EQ(vlm::warnings.slot[vlm::WARN_SIZE_LIMIT], 1);
}

TEST_F(SmafWriterTest, TextsThatDoNotFitAreLeftOut) {
  std::memset(vlm::song.info.text[vlm::INFO_TITLE], 'x', 255);
  ParsedSmaf r = run(53, oneNote(0, 60), 100);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.contents.size(), 5u);
  EXPECT_EQ(vlm::warnings.slot[vlm::WARN_SIZE_LIMIT], 1);
}

// ---- Random streams -------------------------------------------------------------------------

TEST_F(SmafWriterTest, RandomStreamsStayInsideTheCapacity) {
  std::mt19937 rng(1234);
  const uint8_t statuses[] = {0x90, 0x90, 0x90, 0xB0, 0xC0, 0xE0, 0x20, 0x80, 0xD0, 0x05};
  for (int round = 0; round < 300; ++round) {
    SetUp();
    vlm::options.mmf4op = rng() % 2;
    vlm::options.kclen = int(rng() % 30);
    vlm::songStats.melodicMask = uint16_t(rng());
    vlm::songStats.rhythmMask = uint16_t(rng());
    StreamBuilder b(uint16_t(1 + rng() % 480));
    b.track();
    const int events = int(rng() % 200);
    for (int i = 0; i < events; ++i) {
      const uint32_t delta = rng() % 8 == 0 ? rng() % 40000 : rng() % 50;
      const uint8_t st = uint8_t(statuses[rng() % 10] | (rng() % 16));
      const uint8_t kind = st & 0xF0;
      if (kind == 0x90 || kind == 0x20)
        b.raw(delta, {st, uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), uint8_t(rng())});
      else if (kind == 0xB0)
        b.raw(delta, {st, uint8_t(rng() % 3 ? rng() % 12 : 0x80 + rng() % 5), uint8_t(rng())});
      else if (kind == 0xD0)
        b.raw(delta, {st, uint8_t(rng())});
      else if (kind == 0x00)
        b.raw(delta, {0x05, 1, 2, 3, 4, 5});
      else if (kind == 0x80 || kind == 0xC0 || kind == 0xE0)
        b.raw(delta, {st, uint8_t(rng()), uint8_t(rng())});
      if (rng() % 20 == 0) {
        Bytes body(rng() % 40);
        for (uint8_t& x : body) x = uint8_t(rng());
        const uint8_t types[] = {0x05, 0x86, 0x87, 0x88, 0x01};
        b.meta(delta, types[rng() % 5], body);
      }
    }
    Bytes stream = b.end(rng() % 100).build();
    const int codes[] = {53, 54, 55, 56};
    const int code = codes[rng() % 4];
    const uint32_t cap = 20 + rng() % 3000;
    ParsedSmaf r = run(code, stream, cap);
    ASSERT_TRUE(r.ok || file_.empty()) << "round " << round << ": " << r.error;
    for (const Track& t : r.tracks)
      for (const PlayedNote& n : playedNotes(t)) {
        EXPECT_GE(n.note, 1) << round;
        EXPECT_LE(n.note, 120) << round;
      }
  }
}

// ---- Through the conversion run -------------------------------------------------------------

TEST_F(SmafWriterTest, ConversionKeepsRangeAndPolyphony) {
  vlm::test::SmfBuilder smf(96);
  for (int bar = 0; bar < 4; ++bar)
    for (uint8_t ch = 0; ch < 6; ++ch)
      for (int k = 0; k < 4; ++k)
        smf.note(uint32_t(bar * 384), ch, uint8_t(10 + ch * 20 + k * 3), 384);
  vlm::test::ScratchDir dir;
  vlm::test::writeBytes(dir.file("in.mid"), smf.build());
  for (int code : {53, 54, 55, 56}) {
    SetUp();
    preset(code);
    std::string out = dir.file("out" + std::to_string(code) + ".mmf");
    ASSERT_EQ(vlm::runConversion(dir.file("in.mid").c_str(), out.c_str(), 2, code), 1);
    Bytes file = vlm::test::readBytes(out);
    ParsedSmaf r = parseSmaf(file, code == 54 || code == 56);
    ASSERT_TRUE(r.ok) << code << ": " << r.error;
    const int low = code <= 54 ? 1 : 37, high = code <= 54 ? 120 : 108;
    const int voices = code <= 54 ? 16 : 4;
    std::vector<std::pair<uint32_t, int>> edges;
    for (const Track& t : r.tracks)
      for (const PlayedNote& n : playedNotes(t)) {
        EXPECT_GE(n.note, low) << code;
        EXPECT_LE(n.note, high) << code;
        edges.push_back({n.time, 1});
        edges.push_back({n.time + n.gate, -1});
      }
    std::sort(edges.begin(), edges.end());
    int sounding = 0, most = 0;
    for (auto& e : edges) most = std::max(most, sounding += e.second);
    EXPECT_GT(most, 0) << code;
    EXPECT_LE(most, voices) << code;
  }
}

}  // namespace
