// SMAF 40-voice writer: container, lengths and CRC checked by an independent parser; the MIDI
// message encoding with running velocities, controllers passed and dropped, the bend range,
// text entries, notes cut at the size limit, and random streams inside the capacity.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "convert/conversion_run.h"
#include "convert/options.h"
#include "core/stages.h"
#include "core/vstream.h"
#include "formats/adpcm.h"
#include "test_util.h"
#include "writer_contract.h"

namespace {

using vlmtest::Bytes;
using vlmtest::StreamBuilder;
using vlmtest::be;
using vlmtest::genibus;

struct Event40 {
  uint32_t time;
  Bytes bytes;  // status and data, gate included
  uint32_t gate = 0;
  size_t gateWidth = 0;
};

struct Parsed40 {
  bool ok = false;
  std::string error;
  Bytes contents, dch, header;
  std::vector<Event40> events;
  std::vector<std::pair<std::string, Bytes>> waves;  // "Mwa" chunks of the "Mtsp" chunk
};

struct Cursor {
  const Bytes& b;
  size_t p, end;
  bool bad = false;
  uint8_t u8() {
    if (p >= end) {
      bad = true;
      return 0;
    }
    return b[p++];
  }
  uint32_t varLen(size_t* width = nullptr) {
    uint32_t v = 0;
    size_t start = p;
    for (int i = 0; i < 5; ++i) {
      uint8_t c = u8();
      v = v << 7 | (c & 0x7F);
      if (!(c & 0x80)) break;
    }
    if (width) *width = p - start;
    return v;
  }
};

Parsed40 parse40(const Bytes& f) {
  Parsed40 r;
  auto fail = [&](const std::string& e) {
    r.error = e;
    return r;
  };
  if (f.size() < 10 || std::string(f.begin(), f.begin() + 4) != "MMMD") return fail("head");
  if (be(f, 4, 4) != f.size() - 8) return fail("file length");
  const size_t crcAt = f.size() - 2;
  if (be(f, crcAt, 2) != genibus(f.data(), crcAt)) return fail("CRC");
  size_t p = 8;
  auto chunk = [&](const std::string& id, Bytes& body) {
    if (p + 8 > crcAt || std::string(f.begin() + long(p), f.begin() + long(p) + 4) != id)
      return false;
    uint32_t n = be(f, p + 4, 4);
    if (p + 8 + n > crcAt) return false;
    body.assign(f.begin() + long(p + 8), f.begin() + long(p + 8 + n));
    p += 8 + n;
    return true;
  };
  Bytes opda, track;
  if (!chunk("CNTI", r.contents)) return fail("CNTI");
  if (!chunk("OPDA", opda)) return fail("OPDA");
  if (!chunk(std::string("MTR\x05"), track)) return fail("MTR");
  if (p != crcAt) return fail("bytes after the track");
  if (opda.size() < 8 || std::string(opda.begin(), opda.begin() + 4) != std::string("Dch\0", 4) ||
      be(opda, 4, 4) != opda.size() - 8)
    return fail("Dch");
  r.dch.assign(opda.begin() + 8, opda.end());
  if (track.size() < 20 + 8) return fail("short track");
  r.header.assign(track.begin(), track.begin() + 20);
  if (std::string(track.begin() + 20, track.begin() + 24) != "Mtsq" ||
      be(track, 24, 4) > track.size() - 28)
    return fail("Mtsq");
  const size_t sequenceEnd = 28 + be(track, 24, 4);
  if (sequenceEnd < track.size()) {
    // Stream waves after the sequence: "Mtsp" holding "Mwa" chunks and nothing else.
    size_t q = sequenceEnd;
    if (track.size() - q < 8 ||
        std::string(track.begin() + long(q), track.begin() + long(q) + 4) != "Mtsp" ||
        be(track, q + 4, 4) != track.size() - q - 8)
      return fail("Mtsp");
    for (q += 8; q < track.size();) {
      if (track.size() - q < 8) return fail("short Mwa");
      const std::string id(track.begin() + long(q), track.begin() + long(q) + 4);
      const uint32_t n = be(track, q + 4, 4);
      if (id.compare(0, 3, "Mwa") != 0 || n > track.size() - q - 8) return fail("Mwa");
      r.waves.push_back({id, Bytes(track.begin() + long(q + 8), track.begin() + long(q + 8 + n))});
      q += 8 + n;
    }
  }
  Cursor c{track, 28, sequenceEnd};
  uint32_t time = 0;
  bool ended = false;
  while (c.p < c.end) {
    if (ended) return fail("events after the end");
    time += c.varLen();
    Event40 e{time, {}};
    size_t start = c.p;
    uint8_t st = c.u8();
    switch (st & 0xF0) {
      case 0x80:
        c.u8();
        e.gate = c.varLen(&e.gateWidth);
        break;
      case 0x90:
        c.u8();
        c.u8();
        e.gate = c.varLen(&e.gateWidth);
        break;
      case 0xB0:
      case 0xE0:
        c.u8();
        c.u8();
        break;
      case 0xC0:
        c.u8();
        break;
      case 0xF0:
        if (st == 0xF0) {
          uint8_t n = c.u8();
          for (int i = 0; i < n; ++i) c.u8();
        } else if (st == 0xFF && c.u8() == 0x2F && c.u8() == 0x00) {
          ended = true;
        } else {
          return fail("bad escape");
        }
        break;
      default:
        return fail("bad status");
    }
    if (c.bad) return fail("event past the end");
    e.bytes.assign(track.begin() + long(start), track.begin() + long(c.p));
    if (!ended) r.events.push_back(e);
  }
  if (!ended) return fail("no end");
  r.ok = true;
  return r;
}

class Smaf40WriterTest : public vlmtest::WriterTest {
 protected:
  Smaf40WriterTest()
      : WriterTest(vlm::writeSmaf40, [] {
          vlm::runState.currentOutputCode = 59;
          vlm::applyOutputPreset(59);
        }) {}

  Parsed40 run(const Bytes& stream, uint32_t capacity = 1 << 20) {
    Bytes out = write(stream, capacity);
    file_ = out;
    Parsed40 r = parse40(out);
    if (!out.empty()) {
      EXPECT_TRUE(r.ok) << r.error;
    }
    return r;
  }
  Bytes file_;
};

TEST_F(Smaf40WriterTest, EmptySongHasEmptyDataChunk) {
  Parsed40 r = run(StreamBuilder(120).track().end().build());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.contents, Bytes({0x00, 0x33, 0x01, 0x00, 0x00}));
  EXPECT_TRUE(r.dch.empty());
  EXPECT_EQ(Bytes(r.header.begin(), r.header.begin() + 4), Bytes({0x02, 0x00, 0x02, 0x02}));
  EXPECT_TRUE(r.events.empty());
}

TEST_F(Smaf40WriterTest, TextEntriesAndChannelStatus) {
  std::strcpy(vlm::song.info.text[vlm::INFO_TITLE], "a,b");
  std::strcpy(vlm::song.info.text[vlm::INFO_SOFTWARE], "v");
  vlm::song.ProtectFlags = 0x0E;
  vlm::options.ledLink = true;
  vlm::options.ledChannel = 2;
  vlm::options.vibrationLink = true;
  vlm::options.vibrationChannel = 2;
  vlm::songStats.rhythmMask = 0x0201;   // channel 1 carries rhythm notes besides channel 10
  vlm::songStats.melodicMask = 0x0200;  // and channel 10 melodic ones
  Parsed40 r = run(StreamBuilder(120).track().end().build());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.contents[3], 0x06);
  EXPECT_EQ(r.dch, Bytes({'S', 'T', 0, 3, 'a', ',', 'b', 'V', 'N', 0, 1, 'v'}));
  EXPECT_EQ(r.header[4 + 0], 0x03);
  EXPECT_EQ(r.header[4 + 1], 0x30);
  EXPECT_EQ(r.header[4 + 9], 0x01);
  EXPECT_EQ(r.header[4 + 2], 0x00);
}

TEST_F(Smaf40WriterTest, NotesKeepTheChannelVelocity) {
  Bytes stream = StreamBuilder(120)
                     .track()
                     .note(0, 0, 60, 64, 10)
                     .note(10, 0, 62, 100, 200)
                     .note(10, 0, 64, 100, 10)
                     .note(0, 1, 64, 100, 10)
                     .end(200)
                     .build();
  Parsed40 r = run(stream);
  ASSERT_EQ(r.events.size(), 4u);
  EXPECT_EQ(r.events[0].bytes, Bytes({0x80, 60, 10}));
  EXPECT_EQ(r.events[1].bytes, Bytes({0x90, 62, 100, 0x81, 0x48}));
  EXPECT_EQ(r.events[2].bytes, Bytes({0x80, 64, 10}));
  EXPECT_EQ(r.events[3].bytes, Bytes({0x91, 64, 100, 10}));
  EXPECT_EQ(r.events[2].time, 20u);
}

TEST_F(Smaf40WriterTest, ControllersProgramsBendsAndMasterVolume) {
  Bytes stream = StreamBuilder(120)
                     .track()
                     .cc(0, 3, 64, 127)
                     .cc(0, 3, 91, 40)
                     .cc(0, 3, vlm::CC_RHYTHM_PART, 1)
                     .cc(0, 3, vlm::CC_BEND_RANGE, 12)
                     .program(5, 3, 33, 7)
                     .raw(0, {0xE3, 0x10, 0x50})
                     .meta(0, vlm::META_MASTER_VOLUME, {90})
                     .meta(0, vlm::META_TEMPO, {7, 0xA1, 0x20})
                     .end()
                     .build();
  Parsed40 r = run(stream);
  ASSERT_EQ(r.events.size(), 7u);
  EXPECT_EQ(r.events[0].bytes, Bytes({0xB3, 64, 127}));
  EXPECT_EQ(r.events[1].bytes, Bytes({0xB3, 0x64, 0x00}));
  EXPECT_EQ(r.events[2].bytes, Bytes({0xB3, 0x65, 0x00}));
  EXPECT_EQ(r.events[3].bytes, Bytes({0xB3, 0x06, 12}));
  EXPECT_EQ(r.events[4].bytes, Bytes({0xC3, 33}));
  EXPECT_EQ(r.events[4].time, 5u);
  EXPECT_EQ(r.events[5].bytes, Bytes({0xE3, 0x10, 0x50}));
  EXPECT_EQ(r.events[6].bytes, Bytes({0xF0, 0x07, 0x43, 0x79, 0x06, 0x7F, 0x00, 90, 0xF7}));
}

TEST_F(Smaf40WriterTest, SizeLimitCutsSoundingNotesInPlace) {
  StreamBuilder b(120);
  b.track();
  for (int i = 0; i < 300; ++i) b.note(i ? 20 : 0, i % 8, 40 + i % 30, 100, 1000);
  Bytes stream = b.end(1000).build();
  for (uint32_t cap : {100u, 120u, 500u, 1200u}) {
    SetUp();
    Parsed40 r = run(stream, cap);
    ASSERT_TRUE(r.ok) << cap << ": " << r.error;
    EXPECT_EQ(vlm::warnings.slot[vlm::WARN_SIZE_LIMIT], 1);
    ASSERT_FALSE(r.events.empty()) << cap;
    // The song ends at the event that did not fit: 20 ticks after the last written one.
    const uint32_t end = r.events.back().time + 20;
    for (const Event40& e : r.events) {
      EXPECT_EQ(e.gateWidth, 2u);  // 1000 took two bytes; the cut gate keeps them
      EXPECT_LE(e.time + e.gate, end) << cap;
    }
    // A gate cut below 128 stands behind a 0x80 byte.
    const Event40& last = r.events.back();
    EXPECT_EQ(last.gate, 20u);
    EXPECT_EQ(last.bytes[last.bytes.size() - 2], 0x80);
  }
  SetUp();
  run(stream, 30);
  EXPECT_TRUE(file_.empty());
  EXPECT_EQ(vlm::warnings.slot[vlm::WARN_SIZE_LIMIT], 1);
}

// ---- Waves ----------------------------------------------------------------------------------

Bytes codingEvent(uint8_t number, uint32_t coding, uint32_t rate) {
  return {
      number,       uint8_t(coding), uint8_t(rate >> 24), uint8_t(rate >> 16), uint8_t(rate >> 8),
      uint8_t(rate)};
}

TEST_F(Smaf40WriterTest, WavesBecomeStreamWavesPlayedOnAWaveChannel) {
  Bytes yamaha(300);
  for (size_t i = 0; i < yamaha.size(); ++i) yamaha[i] = uint8_t(i * 29);
  Bytes w1 = {1, 48};  // 12000 Hz
  w1.insert(w1.end(), yamaha.begin(), yamaha.end());
  Bytes w20 = {20, 1, 0x77, 0x07};  // step-table, 8000 Hz: no coding event
  Bytes stream = StreamBuilder(120)
                     .track()
                     .meta(0, vlm::META_WAVE_CODING, codingEvent(1, vlm::ADPCM_YAMAHA, 12000))
                     .meta(0, vlm::META_WAVE, w1)
                     .meta(0, vlm::META_WAVE, w20)
                     .meta(0, vlm::META_WAVE, {5, vlm::WAVE_RATE_NONE})
                     .note(0, 15, 60, 100, 30)
                     .raw(10, {0x20, 1, 90, 0, 40})
                     .raw(50, {0x20, 20, 90, 0, 40})
                     .raw(0, {0x20, 40, 90, 0, 40})  // beyond the 32 wave notes
                     .end(60)
                     .build();
  vlm::resetSongStats();
  vlm::songStats.melodicMask = 1u << 15;  // channel 16 carries notes: the waves take 15
  Parsed40 r = run(stream);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.waves.size(), 2u);
  EXPECT_EQ(r.waves[0].first, std::string("Mwa\x01"));
  // Yamaha ADPCM, 4 bits, at the wave's own rate; Yamaha data are taken as they are.
  EXPECT_EQ(Bytes(r.waves[0].second.begin(), r.waves[0].second.begin() + 3),
            (Bytes{0x20, 0x2E, 0xE0}));
  EXPECT_EQ(Bytes(r.waves[0].second.begin() + 3, r.waves[0].second.end()), yamaha);
  EXPECT_EQ(r.waves[1].first, std::string("Mwa\x14"));
  const Bytes step = {0x77, 0x07};
  EXPECT_EQ(Bytes(r.waves[1].second.begin() + 3, r.waves[1].second.end()),
            vlm::transcodeToYamaha(vlm::ADPCM_STEP_LOW_FIRST, step.data(), 2, 8000, 8000, 99));
  EXPECT_EQ(vlm::warnings.slot[vlm::WARN_NO_SAMPLES], 1);
  // Bank 125 on channel 15 before its first wave note; wave 1 is note 0, wave 20 note 98.
  std::vector<Bytes> onWaveChannel;
  for (const Event40& e : r.events)
    if ((e.bytes[0] & 0x0F) == 14 && e.bytes[0] < 0xF0) onWaveChannel.push_back(e.bytes);
  ASSERT_EQ(onWaveChannel.size(), 3u);
  EXPECT_EQ(onWaveChannel[0], (Bytes{0xBE, 0x00, 125}));
  EXPECT_EQ(onWaveChannel[1], (Bytes{0x9E, 0, 90, 40}));
  EXPECT_EQ(onWaveChannel[2], (Bytes{0x8E, 98, 40}));

  // Our reader hears the same waves at the same times.
  Bytes back(1 << 16);
  int32_t size = 0;
  vlm::readSmaf(file_.data(), uint32_t(file_.size()), back.data(), &size, uint32_t(back.size()));
  const vlm::test::CollectedStream c = vlm::test::collectStream(back.data(), uint32_t(size));
  std::vector<uint8_t> waveNotes;
  Bytes firstCoding;
  for (const auto& e : c.events) {
    if (e.status == vlm::WAVE_NOTE_STATUS) waveNotes.push_back(e.data[0]);
    if (e.status == vlm::ST_META && e.metaType == vlm::META_WAVE_CODING && firstCoding.empty())
      firstCoding = e.data;
  }
  EXPECT_EQ(waveNotes, (std::vector<uint8_t>{1, 20}));
  EXPECT_EQ(firstCoding, codingEvent(1, vlm::ADPCM_YAMAHA, 12000));
}

TEST_F(Smaf40WriterTest, WavesWithoutAFreeChannelOrRoom) {
  Bytes w = {1, 1};
  w.resize(2 + 4000, 0x11);
  Bytes stream = StreamBuilder(120)
                     .track()
                     .meta(0, vlm::META_WAVE, w)
                     .note(0, 0, 60, 100, 30)
                     .raw(10, {0x20, 1, 90, 0, 40})
                     .end(60)
                     .build();
  vlm::resetSongStats();
  vlm::songStats.melodicMask = 0xFFFF;
  Parsed40 r = run(stream);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.waves.size(), 1u);
  EXPECT_EQ(vlm::warnings.slot[vlm::WARN_TOO_MANY_CHANNELS], 1);
  for (const Event40& e : r.events) EXPECT_NE(e.bytes[0] & 0xF0, 0xB0);

  // A capacity below the wave shortens it; the file stays whole and inside the capacity.
  SetUp();
  r = run(stream, 1000);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.waves.size(), 1u);
  EXPECT_LT(r.waves[0].second.size(), 2000u + 3);
  EXPECT_GT(r.waves[0].second.size(), 500u);
  EXPECT_EQ(vlm::warnings.slot[vlm::WARN_SIZE_LIMIT], 1);
}

TEST_F(Smaf40WriterTest, RandomStreamsStayInsideTheCapacity) {
  std::mt19937 rng(99);
  for (int round = 0; round < 300; ++round) {
    SetUp();
    std::strcpy(vlm::song.info.text[vlm::INFO_TITLE], "title");
    vlm::options.preset.ezwebTarget = false;
    StreamBuilder b(uint16_t(rng() % 1000));
    b.track();
    const int events = int(rng() % 150);
    for (int i = 0; i < events; ++i) {
      uint32_t delta = rng() % 10 == 0 ? rng() : rng() % 100;
      uint8_t st = uint8_t((0x80 + 0x10 * (rng() % 7)) | (rng() % 16));
      uint8_t kind = st & 0xF0;
      if (kind == 0x90)
        b.raw(delta, {st, uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), uint8_t(rng())});
      else if (kind == 0xD0)
        b.raw(delta, {st, uint8_t(rng())});
      else
        b.raw(delta, {st, uint8_t(rng() % 3 ? rng() % 128 : 0x82), uint8_t(rng())});
      if (rng() % 15 == 0) b.meta(delta % 7, vlm::META_MASTER_VOLUME, {uint8_t(rng())});
    }
    Parsed40 r = run(b.end(rng() % 1000).build(), 40 + rng() % 2000);
    EXPECT_TRUE(r.ok || file_.empty()) << round << ": " << r.error;
  }
}

}  // namespace
