#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/codec.h"
#include "core/stream_dump.h"
#include "core/vstream.h"

namespace vlm {
namespace {

// Starts a stream into `out` the way a reader does.
void startStream(uint8_t* out, uint16_t timebase = 480) {
  resetSongStats();
  beginStream();
  writer.timebase = timebase;
  writeHeaderChunk(out);
  writeTrackChunk(out);
}

// Encodes one event directly through the emitter.
int emit(std::vector<uint8_t>& out, uint32_t capacity, uint32_t time, uint8_t status,
         std::vector<uint8_t> bytes) {
  writer.status = status;
  writer.channel = status & 0x0F;
  writer.sourceTrack = 0;
  writer.data = writer.scratch.data;
  std::memcpy(writer.data, bytes.data(), bytes.size());
  writer.count = uint32_t(bytes.size());
  return emitEvent(out.data(), capacity, time);
}

std::vector<uint8_t> finish(std::vector<uint8_t>& out) {
  finishStream(out.data());
  std::vector<uint8_t> image(out.begin(), out.begin() + writer.pos);
  endStream();
  return image;
}

TEST(StreamWriter, EmptyStreamIsTwentyTwoBytes) {
  std::vector<uint8_t> out(64);
  startStream(out.data(), 96);
  std::vector<uint8_t> image = finish(out);
  const std::vector<uint8_t> expected = {'V', 'T', 'h', 'd', 0, 0, 0, 2, 0,    96,   'V',
                                         'T', 'r', 'k', 0,   0, 0, 4, 0, 0xFF, 0x2F, 0};
  EXPECT_EQ(image, expected);
  EXPECT_EQ(image.size(), EMPTY_STREAM_SIZE);
}

TEST(StreamWriter, OpenNotesAreClosedAtTheEndAndCapped) {
  std::vector<uint8_t> out(256);
  startStream(out.data());
  ASSERT_EQ(emit(out, 256, 10, 0x90, {60, 100, 0, 0}), 1);
  ASSERT_EQ(emit(out, 256, 20, 0x91, {62, 90, 0, 0}), 1);
  writer.now = 510;
  std::vector<uint8_t> a = finish(out);
  // First note at 18: delta 0A, 90 3C 64 then the duration 500.
  EXPECT_EQ(a[19], 0x90);
  EXPECT_EQ(getBE(&a[22], 2), 500u);
  EXPECT_EQ(a[25], 0x91);
  EXPECT_EQ(getBE(&a[28], 2), 490u);

  startStream(out.data());
  ASSERT_EQ(emit(out, 256, 0, 0x90, {60, 100, 0, 0}), 1);
  writer.now = 70000;
  std::vector<uint8_t> b = finish(out);
  EXPECT_EQ(getBE(&b[22], 2), 0xFFFFu);
  EXPECT_EQ(songStats.ch[0].notes, 1u);
}

TEST(StreamWriter, ExpressionFoldsIntoVolume) {
  std::vector<uint8_t> out(256);
  startStream(out.data());
  ASSERT_EQ(emit(out, 256, 0, 0xB2, {7, 100}), 1);
  ASSERT_EQ(emit(out, 256, 0, 0xB2, {11, 64}), 1);
  std::vector<uint8_t> image = finish(out);
  EXPECT_EQ(dumpStream(image.data(), uint32_t(image.size())),
            "timebase 480\n0 0 B2 07 64\n0 0 B2 07 32\n0 0 FF 2F 00\n");
  EXPECT_EQ(songStats.ch[2].lowVolume, 50);
  EXPECT_EQ(songStats.ch[2].highVolume, 100);
}

TEST(StreamWriter, LongDeltasTakeFourOrFiveBytes) {
  std::vector<uint8_t> out(256);
  startStream(out.data());
  ASSERT_EQ(emit(out, 256, 0x0FFFFFFF, 0xC0, {5, 0}), 1);
  EXPECT_EQ(writer.pos, 18u + 4 + 3);
  ASSERT_EQ(emit(out, 256, 0x0FFFFFFF + 0x10000000u, 0xC0, {6, 0}), 1);
  EXPECT_EQ(writer.pos, 18u + 7 + 5 + 3);
  std::vector<uint8_t> image = finish(out);
  EXPECT_EQ(dumpStream(image.data(), uint32_t(image.size())),
            "timebase 480\n268435455 0 C0 05 00\n536870911 0 C0 06 00\n536870911 0 FF 2F 00\n");
}

TEST(StreamWriter, RefusesEventsThatLeaveNoRoom) {
  std::vector<uint8_t> out(64);
  startStream(out.data());
  // pos 18 + count 2 + 12 = 32: fits a capacity of 32, not of 31.
  EXPECT_EQ(emit(out, 31, 0, 0xB0, {1, 2}), 0);
  EXPECT_EQ(writer.pos, 18u);
  EXPECT_EQ(emit(out, 32, 0, 0xB0, {1, 2}), 1);
  std::vector<uint8_t> image = finish(out);
  EXPECT_LE(image.size(), 32u);
  // A huge delta still leaves room for the end of track.
  startStream(out.data());
  EXPECT_EQ(emit(out, 32, 0xFFFFFFF0u, 0xB0, {1, 2}), 0);
  EXPECT_EQ(emit(out, 36, 0xFFFFFFF0u, 0xB0, {1, 2}), 1);
  writer.now = 0xFFFFFFFFu;
  image = finish(out);
  EXPECT_LE(image.size(), 36u);
}

TEST(StreamWriter, StatisticsOfNotesLyricsAndCues) {
  std::vector<uint8_t> out(1024);
  startStream(out.data(), 48);
  emit(out, 1024, 0, 0xC0, {20, 0});
  emit(out, 1024, 0, 0x90, {60, 100, 0, 0});
  emit(out, 1024, 12, 0x99, {36, 80, 0, 0});
  emit(out, 1024, 24, 0xC0, {21, 0});
  emit(out, 1024, 24, 0x90, {64, 50, 0, 0});
  emit(out, 1024, 48, 0xFF, {META_TEMPO, 3, 0x07, 0xA1, 0x20});  // 120 bpm
  emit(out, 1024, 48, 0xFF, {META_LYRIC, 1, '/'});
  emit(out, 1024, 48, 0xFF, {META_LYRIC, 3, '/', 'a', 'b'});
  emit(out, 1024, 48, 0xFF, {META_LYRIC, 1, 'c'});
  emit(out, 1024, 60, 0xFF, {META_CUE, 1, 0});
  emit(out, 1024, 72, 0xFF, {META_CUE, 1, 1});
  std::vector<uint8_t> image = finish(out);
  EXPECT_EQ(songStats.ch[0].notes, 2u);
  EXPECT_EQ(songStats.ch[0].lowNote, 60);
  EXPECT_EQ(songStats.ch[0].highNote, 64);
  EXPECT_EQ(songStats.ch[0].programUse, PROGRAM_MIXED);
  EXPECT_EQ(songStats.ch[0].lowVelocity, 50);
  EXPECT_EQ(songStats.maxPolyphony, 3);
  EXPECT_EQ(songStats.programCount, 2);
  EXPECT_EQ(songStats.rhythmNoteCount, 1);
  EXPECT_EQ(songStats.rhythmMask, 0x200);
  EXPECT_EQ(songStats.melodicMask, 0x1);
  EXPECT_EQ(songStats.beatChannels[0], 0x201);
  EXPECT_EQ(songStats.beatRhythm[0], 1);
  EXPECT_EQ(songStats.tempoMin, 120u);
  ASSERT_EQ(songStats.lyrics.size(), 1u);
  EXPECT_EQ(songStats.lyrics[0].position, 4);
  EXPECT_EQ(songStats.lyrics[0].text, "\nabc");
  EXPECT_TRUE(songStats.slashLyrics);
  EXPECT_EQ(songStats.cueStart, 5u);
  EXPECT_EQ(songStats.cueStop, 7u);
}

TEST(StreamWriter, KaraokeTextsBecomeLyrics) {
  std::vector<uint8_t> out(256);
  startStream(out.data(), 48);
  emit(out, 256, 0, 0xFF, {META_TEXT, 6, '@', 'K', 'M', 'I', 'D', 'I'});
  emit(out, 256, 12, 0xFF, {META_TEXT, 2, '\\', 'x'});
  std::vector<uint8_t> image = finish(out);
  EXPECT_TRUE(songStats.karaokeText);
  ASSERT_EQ(songStats.lyrics.size(), 1u);
  EXPECT_EQ(songStats.lyrics[0].text, "\nx");
  EXPECT_NE(dumpStream(image.data(), uint32_t(image.size())).find("12 0 FF 05 02 5C 78"),
            std::string::npos);
}

// A .kar file without the "@KMIDI" mark: its marked text events are shown as lyrics (headers
// are not, marks never), but the events stay text events; lyric events lose their line marks.
TEST(StreamWriter, KaraokeLinesWithoutTheMarkAreShownNotRewritten) {
  std::vector<uint8_t> out(512);
  startStream(out.data(), 48);
  emit(out, 512, 0, 0xFF, {META_TEXT, 5, '@', 'T', 'S', 'o', 'n'});
  emit(out, 512, 12, 0xFF, {META_TEXT, 3, '\\', 'L', 'a'});
  emit(out, 512, 24, 0xFF, {META_TEXT, 2, 'l', 'a'});
  emit(out, 512, 24, 0xFF, {META_TEXT, 3, '@', 'I', 'x'});
  emit(out, 512, 36, 0xFF, {META_TEXT, 3, '/', 'D', 'o'});
  emit(out, 512, 48, 0xFF, {META_LYRIC, 3, '/', 'M', 'i'});
  std::vector<uint8_t> image = finish(out);
  EXPECT_FALSE(songStats.karaokeText);
  EXPECT_TRUE(songStats.karaokeLines);
  ASSERT_EQ(songStats.lyrics.size(), 4u);
  EXPECT_EQ(songStats.lyrics[0].text, "\nLa");
  EXPECT_EQ(songStats.lyrics[1].text, "la");
  EXPECT_EQ(songStats.lyrics[2].text, "\nDo");
  EXPECT_EQ(songStats.lyrics[3].text, "\nMi");
  const std::string dump = dumpStream(image.data(), uint32_t(image.size()));
  EXPECT_NE(dump.find("FF 01 03 5C 4C 61"), std::string::npos) << dump;
}

// A stream image built by hand: chunk id, then the chunk's bytes.
void addChunk(std::vector<uint8_t>& image, const char* id, std::vector<uint8_t> body,
              int32_t lengthAdjust = 0) {
  image.insert(image.end(), id, id + 4);
  uint8_t len[4];
  putBE(len, uint32_t(int32_t(body.size()) + lengthAdjust), 4);
  image.insert(image.end(), len, len + 4);
  image.insert(image.end(), body.begin(), body.end());
}

// The scratch block outlives a stream; every stream still starts with it all zero, whichever
// path wrote into it before: a long exclusive, a generated event, a plain note.
// The rounds run on a thread of their own: its scratch block is new, so what they see depends only
// on the streams before them, not on tests that wrote into the block past the writer.
TEST(StreamWriter, EveryStreamStartsWithAClearScratchBlock) {
  std::thread([] {
    std::vector<uint8_t> out(200000);
    std::vector<uint8_t> sysex(3000, 0x55);
    sysex[0] = 0x97;  // length 3000 - 2 as a two-byte number
    sysex[1] = 0x36;
    sysex.back() = 0xF7;
    for (int round = 0; round < 3; ++round) {
      startStream(out.data());
      for (int32_t i = 0; i < writer.scratch.length; ++i)
        ASSERT_EQ(writer.scratch.data[i], 0) << "round " << round << " byte " << i;
      const uint8_t note[2] = {60, 100};
      ASSERT_EQ(submitChannelEvent(out.data(), uint32_t(out.size()), 0, 0x90, 0, 60, 100), 1);
      ASSERT_EQ(submitEvent(out.data(), uint32_t(out.size()), 10, 0x91, 0, note, 2), 1);
      ASSERT_EQ(submitEvent(out.data(), uint32_t(out.size()), 20, ST_EXCLUSIVE, 0, sysex.data(),
                            uint32_t(sysex.size())),
                1);
      const uint8_t program[2] = {0x7F, 0x33};
      ASSERT_EQ(submitEvent(out.data(), uint32_t(out.size()), 30, 0xC2, 0, program, 2), 1);
      finish(out);
    }
  }).join();
}

TEST(TrackTable, MergesChunksByTimeWithLowestTrackFirst) {
  std::vector<uint8_t> image;
  addChunk(image, "VThd", {0, 48});
  addChunk(image, "VTrk", {0, 0xC0, 1, 0, 10, 0xC0, 2, 0, 0, 0xFF, 0x2F, 0});
  addChunk(image, "XXXX", {1, 2, 3});
  addChunk(image, "VTrk", {10, 0xC1, 3, 0, 0, 0xF0, 2, 0x7E, 0xF7, 0, 0xFF, 0x2F, 0});
  addChunk(image, "VTrk", {0, 0x02, 0xAA, 0xBB, 5, 0xFF, 0x2F, 0});
  EXPECT_EQ(dumpStream(image.data(), uint32_t(image.size())),
            "timebase 48\n"
            "0 0 C0 01 00\n"
            "0 2 02 AA BB\n"
            "5 2 FF 2F 00\n"
            "10 0 C0 02 00\n"
            "10 0 FF 2F 00\n"
            "10 1 C1 03 00\n"
            "10 1 F0 02 7E F7\n"
            "10 1 FF 2F 00\n");
  TrackTable table;
  EXPECT_EQ(loadTrackTable(table, image.data(), uint32_t(image.size())), 3);
  EXPECT_FALSE(table.truncated);
}

TEST(TrackTable, TruncatedChunksAndEventsEndTheirTrack) {
  std::vector<uint8_t> image;
  addChunk(image, "VThd", {0, 48});
  addChunk(image, "VTrk", {0, 0xC0, 1, 0, 0, 0xFF, 0x01, 0x05, 'a'});  // meta past chunk
  addChunk(image, "VTrk", {0, 0xB0, 7, 100, 3, 0x90, 60}, 100);        // chunk past image
  TrackTable table;
  ASSERT_EQ(loadTrackTable(table, image.data(), uint32_t(image.size())), 2);
  EXPECT_TRUE(table.truncated);
  EXPECT_EQ(dumpStream(image.data(), uint32_t(image.size())),
            "timebase 48\n0 0 C0 01 00\n0 1 B0 07 64\n");

  // A delta that ends exactly at the chunk's end has no event behind it.
  std::vector<uint8_t> dangling;
  addChunk(dangling, "VTrk", {0, 0x00, 0x05});
  EXPECT_EQ(dumpStream(dangling.data(), uint32_t(dangling.size())), "timebase 0\n0 0 00\n");

  // Every prefix of a valid stream reads without running past the image.
  std::vector<uint8_t> good;
  addChunk(good, "VThd", {0, 48});
  addChunk(good, "VTrk", {0x81, 0x00, 0x90, 60, 100, 0, 10, 0x83, 0x00, 0xFF, 0x2F, 0});
  for (size_t n = 0; n <= good.size(); ++n) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + n);
    std::string text = dumpStream(cut.data(), uint32_t(cut.size()));
    EXPECT_EQ(text.substr(0, 9), "timebase ");
  }
}

// The inline reader of one-track streams gives the events, cursor and truncation flag of the
// general one, on well-formed and damaged chunks alike (random statuses, long deltas, metas,
// events cut by the chunk's end, saturating times).
TEST(TrackTable, OneTrackReaderGivesWhatTheGeneralReaderGives) {
  uint32_t seed = 99;
  auto rnd = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  const uint8_t statuses[] = {0x00, 0x03, 0x12, 0x25, 0x31, 0x80, 0x92, 0xA0,
                              0xB4, 0xC5, 0xD6, 0xE7, 0xF0, 0xF5, 0xFF};
  for (int song = 0; song < 400; ++song) {
    std::vector<uint8_t> body;
    const int events = int(rnd(40));
    for (int e = 0; e < events; ++e) {
      const uint32_t kind = rnd(10);
      if (kind == 0) body.insert(body.end(), {0x8F, 0xFF, 0xFF, 0xFF, 0x7F});  // the longest delta
      else if (kind == 1) body.insert(body.end(), {0x81, uint8_t(rnd(128))});
      else body.push_back(uint8_t(rnd(128)));
      const uint8_t status = statuses[rnd(sizeof statuses)];
      body.push_back(status);
      if (status == 0xFF) body.push_back(uint8_t(rnd(128)));
      const int bytes = status >= 0xF0 ? 1 + int(rnd(4)) : int(rnd(6));
      for (int b = 0; b < bytes; ++b) body.push_back(uint8_t(rnd(4) == 0 ? 0x80 | rnd(128) : rnd(8)));
    }
    std::vector<uint8_t> image;
    addChunk(image, "VThd", {0, 48});
    addChunk(image, "VTrk", body, rnd(4) == 0 ? 3 : 0);  // sometimes declared past the image
    image.resize(image.size() - rnd(3));

    TrackTable fast, general;
    ASSERT_EQ(loadTrackTable(fast, image.data(), uint32_t(image.size())),
              loadTrackTable(general, image.data(), uint32_t(image.size())));
    StreamEvent a{}, b{};
    for (int n = 0;; ++n) {
      const bool more = nextStreamEvent(fast, a);
      ASSERT_EQ(more, nextStreamEventAnyKind(general, b)) << "song " << song << " event " << n;
      if (!more) break;
      EXPECT_EQ(a.time, b.time);
      EXPECT_EQ(a.status, b.status);
      EXPECT_EQ(a.metaType, b.metaType);
      EXPECT_EQ(a.data, b.data);
      EXPECT_EQ(a.length, b.length);
      EXPECT_EQ(a.offset, b.offset);
      EXPECT_EQ(a.size, b.size);
      EXPECT_EQ(a.track, b.track);
      EXPECT_EQ(fast.track[0].pos, general.track[0].pos);
      EXPECT_EQ(fast.track[0].nextTime, general.track[0].nextTime);
    }
    EXPECT_EQ(fast.truncated, general.truncated) << "song " << song;
  }
}

TEST(SongText, TextsAreCutAt255Bytes) {
  clearSongInfo();
  std::string longText(300, 'x');
  setSongText(INFO_ARTIST, longText.data(), longText.size());
  EXPECT_EQ(std::strlen(song.info.text[INFO_ARTIST]), 255u);
  setSongText(INFO_TITLE, "abc", 3);
  EXPECT_STREQ(song.info.text[INFO_TITLE], "abc");
}

}  // namespace
}  // namespace vlm
