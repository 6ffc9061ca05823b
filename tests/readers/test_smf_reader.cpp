#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/codec.h"
#include "core/stages.h"
#include "core/stream_dump.h"
#include "core/vstream.h"

namespace vlm {
namespace {

using Bytes = std::vector<uint8_t>;

// A tiny Standard MIDI File builder: track events are appended with their deltas.
struct Track {
  Bytes bytes;
  Track& ev(uint32_t delta, Bytes event) {
    uint8_t v[5];
    int n = writeVarLen(v, delta);
    bytes.insert(bytes.end(), v, v + n);
    bytes.insert(bytes.end(), event.begin(), event.end());
    return *this;
  }
  Track& meta(uint32_t delta, uint8_t type, const std::string& text) {
    Bytes e = {0xFF, type, uint8_t(text.size())};
    e.insert(e.end(), text.begin(), text.end());
    return ev(delta, e);
  }
  Track& end(uint32_t delta = 0) { return ev(delta, {0xFF, 0x2F, 0x00}); }
};

void chunk(Bytes& out, const char* id, const Bytes& body, bool littleEndian = false) {
  out.insert(out.end(), id, id + 4);
  uint8_t len[4];
  if (littleEndian)
    putLE(len, uint32_t(body.size()), 4);
  else
    putBE(len, uint32_t(body.size()), 4);
  out.insert(out.end(), len, len + 4);
  out.insert(out.end(), body.begin(), body.end());
}

Bytes smf(int format, uint16_t timebase, const std::vector<Track>& tracks,
          const char* headId = "MThd", const char* trackId = "MTrk") {
  Bytes out;
  chunk(out, headId,
        {0, uint8_t(format), 0, uint8_t(tracks.size()), uint8_t(timebase >> 8),
         uint8_t(timebase & 0xFF)});
  for (const Track& t : tracks) chunk(out, trackId, t.bytes);
  return out;
}

// Reads a file image and lists the stream, without the timebase line.
std::string read(const Bytes& file, uint32_t extra = 4096) {
  Bytes out(file.size() + extra);
  int32_t size = 0;
  readSmf(file.data(), uint32_t(file.size()), out.data(), &size, uint32_t(out.size()));
  EXPECT_LE(uint32_t(size), out.size());
  std::string text = dumpStream(out.data(), uint32_t(size));
  return text.substr(text.find('\n') + 1);
}

uint16_t timebaseOf(const Bytes& file) {
  Bytes out(file.size() + 4096);
  int32_t size = 0;
  readSmf(file.data(), uint32_t(file.size()), out.data(), &size, uint32_t(out.size()));
  return uint16_t(getBE(out.data() + VTHD_TIMEBASE_OFFSET, 2));
}

TEST(SmfReader, FormatZeroWithRunningStatusAndOverlappingNotes) {
  Track t;
  t.ev(0, {0xFF, 0x51, 3, 0x07, 0xA1, 0x20})
      .ev(0, {0x90, 60, 100})
      .ev(10, {62, 90})      // running status
      .ev(10, {60, 0})       // velocity 0: ends the first note
      .ev(0, {0x80, 62, 0})  // note-off
      .ev(0, {0x99, 36, 100})
      .ev(5, {0x89, 36, 0})
      .end(20);
  Bytes file = smf(0, 96, {t});
  EXPECT_EQ(read(file),
            "0 0 FF 51 03 07 A1 20\n0 0 90 3C 64 00 14\n10 0 90 3E 5A 00 0A\n"
            "20 0 99 24 64 00 05\n45 0 FF 2F 00\n");
  EXPECT_EQ(timebaseOf(file), 96);
  EXPECT_EQ(songStats.tempoMax, 120u);
  EXPECT_EQ(songStats.rhythmMask, 0x200);
}

TEST(SmfReader, CoincidingEventsComeInTrackOrder) {
  Track a, b;
  a.ev(0, {0xC0, 5}).ev(10, {0xB0, 7, 100}).end();
  b.ev(0, {0xC1, 6}).ev(10, {0xB1, 7, 90}).end();
  EXPECT_EQ(read(smf(1, 48, {a, b})),
            "0 0 C0 05 00\n0 0 C1 06 00\n10 0 B0 07 64\n10 0 B1 07 5A\n10 0 FF 2F 00\n");
}

TEST(SmfReader, RunningStatusContinuesAcrossMetaEvents) {
  Track t;
  t.ev(0, {0xB0, 10, 20}).meta(0, META_MARKER, "A").ev(0, {10, 30}).end();
  EXPECT_EQ(read(smf(0, 48, {t})), "0 0 B0 0A 14\n0 0 FF 06 01 41\n0 0 B0 0A 1E\n0 0 FF 2F 00\n");
}

// System common and real-time messages recorded into a track are skipped by their lengths on
// the wire, and the notes around them are read; running status survives them.
TEST(SmfReader, StraySystemMessagesAreSkipped) {
  Track t;
  t.ev(0, {0xF1, 0x12})           // quarter frame
      .ev(0, {0xF2, 0x10, 0x20})  // song position
      .ev(0, {0xF3, 0x01})        // song select
      .ev(0, {0x90, 60, 100})
      .ev(0, {0xF6})  // tune request
      .ev(4, {0xF8})  // clock
      .ev(0,
          {
              0xFA,
          })            // start
      .ev(0, {0xFE})    // active sensing
      .ev(4, {62, 90})  // running status across them
      .ev(0, {0xF4})    // undefined: one byte
      .ev(0, {0xF5})
      .ev(0, {0xF9})
      .ev(0, {0xFD})
      .ev(0, {0xF7, 2, 0xF8, 0xFA})  // an escape: length-prefixed, nothing kept
      .ev(8, {0x80, 60, 0})
      .ev(0, {0x80, 62, 0})
      .end();
  EXPECT_EQ(read(smf(0, 48, {t})), "0 0 90 3C 64 00 10\n8 0 90 3E 5A 00 08\n16 0 FF 2F 00\n");
}

TEST(SmfReader, StraySystemMessageCutByTheTrackEndEndsTheTrack) {
  Track t;
  t.ev(0, {0x90, 60, 100}).ev(0, {0xF2, 0x10});
  EXPECT_EQ(read(smf(0, 48, {t})), "0 0 90 3C 64 00 00\n0 0 FF 2F 00\n");
}

TEST(SmfReader, SecondHeaderEndsTheScan) {
  Track a, b;
  a.ev(0, {0xC0, 1}).end();
  b.ev(0, {0xC0, 2}).end();
  Bytes file = smf(0, 48, {a});
  Bytes second = smf(0, 96, {b});
  file.insert(file.end(), second.begin(), second.end());
  EXPECT_EQ(read(file), "0 0 C0 01 00\n0 0 FF 2F 00\n");
  EXPECT_EQ(timebaseOf(file), 48);
}

TEST(SmfReader, CompactFormBendsAndNoteOffs) {
  Track t;
  t.ev(0, {0x90, 60, 100}).ev(0, {0xE0, 0x50}).ev(12, {0x80, 60}).end();
  Bytes file = {'M', 'C', 'D', 'F'};
  Bytes body = smf(0, 48, {t}, "CThd", "CTrk");
  file.insert(file.end(), body.begin(), body.end());
  EXPECT_EQ(read(file), "0 0 90 3C 64 00 0C\n0 0 E0 00 50\n12 0 FF 2F 00\n");
}

TEST(SmfReader, CompactInformationBlockFillsTexts) {
  Track t;
  t.end();
  Bytes file = smf(0, 48, {t}, "CThd", "CTrk");
  const uint32_t textAt = uint32_t(file.size()) + 14;
  Bytes info = {0x02, 0xC0, 0x00, 0, 0, 0, 5, 0x02, 0xC1, 0x00, 0, 0, 0, 3};
  putBE(&info[2], textAt, 4);
  info[6] = 5;
  putBE(&info[9], textAt + 5, 4);
  info[13] = 3;
  file.insert(file.end(), info.begin(), info.end());
  const char* texts = "TitleABC";
  file.insert(file.end(), texts, texts + 8);
  read(file);
  EXPECT_STREQ(song.info.text[INFO_TITLE], "Title");
  EXPECT_STREQ(song.info.text[INFO_ARTIST], "ABC");
}

TEST(SmfReader, RiffWrapperTextsAndCopyGuard) {
  Track t;
  t.ev(0, {0xC0, 3}).end();
  Bytes midi = smf(0, 48, {t});
  Bytes info = {'I', 'N', 'F', 'O'};
  std::string artist(300, 'a');
  chunk(info, "IART", Bytes(artist.begin(), artist.end()), true);
  chunk(info, "IGNR", {'p', 'o', 'p', 0, 0}, true);  // odd size: one pad byte follows
  info.push_back(0);
  chunk(info, "copy", {}, true);
  Bytes form = {'R', 'M', 'I', 'D'};
  chunk(form, "data", midi, true);
  chunk(form, "LIST", info, true);
  Bytes file;
  chunk(file, "RIFF", form, true);
  EXPECT_EQ(read(file), "0 0 C0 03 00\n0 0 FF 2F 00\n");
  EXPECT_EQ(std::strlen(song.info.text[INFO_ARTIST]), 255u);
  EXPECT_STREQ(song.info.text[INFO_GENRE], "pop");
  EXPECT_EQ(song.ProtectFlags, 7);
}

TEST(SmfReader, ChunksAfterAnOddSongInRiffArePartOfTheFile) {
  Track t;
  t.ev(0, {0xC0, 3}).ev(0, {0x90, 60, 100}).ev(48, {0x80, 60, 0}).end();
  Bytes midi = smf(0, 48, {t});
  if (midi.size() % 2 == 0) midi.push_back(0);  // a stray byte at the end of the song
  Bytes info = {'I', 'N', 'F', 'O'};
  chunk(info, "IART", {'m', 'e', 0, 0}, true);
  Bytes form = {'R', 'M', 'I', 'D'};
  chunk(form, "data", midi, true);
  form.push_back(0);  // the pad byte of the odd "data" chunk
  chunk(form, "LIST", info, true);
  chunk(form, "DISP", {1, 0, 0, 0, 'x', 0}, true);
  Bytes file;
  chunk(file, "RIFF", form, true);
  song.read = ReadReport();
  read(file);
  EXPECT_STREQ(song.info.text[INFO_ARTIST], "me");
  EXPECT_FALSE(song.read.ranOut);
  EXPECT_EQ(song.read.stoppedAt, file.size());
}

TEST(SmfReader, TitleAndCopyrightTexts) {
  Track t;
  t.meta(0, META_TEXT, "text")
      .meta(0, META_TRACK_NAME, "name")
      .meta(0, META_TRACK_NAME, "later")
      .meta(0, META_COPYRIGHT, "(c)")
      .meta(0, META_COPYRIGHT, "other")
      .end();
  read(smf(0, 48, {t}));
  EXPECT_STREQ(song.info.text[INFO_TITLE], "name");
  EXPECT_STREQ(song.info.text[INFO_COPYRIGHT], "(c)");
}

TEST(SmfReader, LyricsOfKaraokeAndSlashFiles) {
  Track t;
  t.meta(0, META_TEXT, "@KMIDI KARAOKE FILE")
      .meta(12, META_TEXT, "\\Hel")
      .meta(0, META_TEXT, "lo")
      .end();
  read(smf(0, 48, {t}));
  EXPECT_TRUE(songStats.karaokeText);
  ASSERT_EQ(songStats.lyrics.size(), 1u);
  EXPECT_EQ(songStats.lyrics[0].position, 1);
  EXPECT_EQ(songStats.lyrics[0].text, "\nHello");

  Track s;
  s.meta(0, META_LYRIC, "/").meta(24, META_LYRIC, "<la").meta(24, META_LYRIC, "li").end();
  std::string text = read(smf(0, 48, {s}));
  EXPECT_TRUE(songStats.slashLyrics);
  ASSERT_EQ(songStats.lyrics.size(), 2u);
  EXPECT_EQ(songStats.lyrics[0].text, "\nla");
  EXPECT_EQ(songStats.lyrics[1].text, "li");
}

TEST(SmfReader, ExclusivesAndControllersBecomePseudoEvents) {
  Track t;
  t.ev(0, {0xF0, 0x07, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x50, 0xF7})  // universal master volume
      .ev(0, {0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x15, 0x02, 0x18, 0xF7})
      .ev(0, {0xF0, 0x03, 0x43, 0x00, 0xF7})  // any Yamaha message
      .ev(0, {0xB2, 0, 127})                  // bank 127 after a Yamaha message: rhythm part
      .ev(0, {0xB3, 101, 0})
      .ev(0, {0xB3, 100, 0})
      .ev(0, {0xB3, 6, 12})  // data entry of RPN 0: bend range
      .ev(0, {0xB4, 6, 12})  // no RPN chosen: stays
      .meta(0, META_CUE_POINT, "START")
      .meta(10, META_CUE_POINT, "STOP here")
      .end();
  EXPECT_EQ(read(smf(0, 48, {t})),
            "0 0 FF 80 01 50\n0 0 B0 80 02\n0 0 F0 03 43 00 F7\n0 0 B2 80 01\n"
            "0 0 B3 65 00\n0 0 B3 64 00\n0 0 B3 82 0C\n0 0 B4 06 0C\n0 0 FF 84 01 00\n"
            "10 0 FF 84 01 01\n10 0 FF 2F 00\n");
  EXPECT_EQ(songStats.masterVolumeMax, 0x50);
  EXPECT_EQ(writer.DRUM_CHANNEL_MASK & 0x5, 0x5);
}

TEST(SmfReader, DamagedFilesStopCleanly) {
  Track a, b;
  a.ev(0, {0x90, 60, 100}).meta(0, META_TEXT, "some text").ev(100, {0x80, 60, 0}).end();
  b.ev(0, {0xF0, 0x03, 0x7E, 0x00, 0xF7}).ev(0x7F, {0xC1, 4}).end();
  Bytes file = smf(1, 48, {a, b});
  for (size_t n = 0; n < file.size(); ++n) {
    Bytes cut(file.begin(), file.begin() + n);
    std::string text = read(cut);
    ASSERT_GE(text.size(), 11u) << n;
    EXPECT_EQ(text.substr(text.size() - 10), " FF 2F 00\n") << n;
  }
  // A meta length past its track, an unterminated delta, data without a running status.
  Track bad;
  bad.ev(0, {0xC0, 1}).ev(0, {0xFF, 0x01, 0x40, 'x'});
  EXPECT_EQ(read(smf(0, 48, {bad})), "0 0 C0 01 00\n0 0 FF 2F 00\n");
  Track noStatus;
  noStatus.ev(0, {0x40, 0x40});
  EXPECT_EQ(read(smf(0, 48, {noStatus})), "0 0 FF 2F 00\n");
  Bytes unterminated = smf(0, 48, {Track{Bytes{0x80, 0x80}}});
  EXPECT_EQ(read(unterminated), "0 0 FF 2F 00\n");
  Bytes huge = smf(0, 48, {a});
  putBE(&huge[18], 0xFFFFFFF0u, 4);  // track length past the end of the file
  EXPECT_NE(read(huge).find("0 0 90 3C 64"), std::string::npos);
}

TEST(SmfReader, EmptyAndTinyInputsGiveEmptyStreams) {
  Bytes out(64);
  int32_t size = -1;
  readSmf(nullptr, 0, out.data(), &size, 64);
  EXPECT_EQ(size, int32_t(EMPTY_STREAM_SIZE));
  EXPECT_EQ(read(Bytes{'M', 'T', 'h'}), "0 0 FF 2F 00\n");
}

TEST(SmfReader, FullOutputEndsTheStreamEarly) {
  Track t;
  for (int i = 0; i < 100; ++i) t.ev(1, {0xB0, 1, uint8_t(i)});
  t.end();
  Bytes file = smf(0, 48, {t});
  Bytes out(60);
  int32_t size = 0;
  readSmf(file.data(), uint32_t(file.size()), out.data(), &size, 60);
  ASSERT_LE(size, 60);
  std::string text = dumpStream(out.data(), uint32_t(size));
  EXPECT_EQ(text.substr(text.size() - 10), " FF 2F 00\n");
}

}  // namespace
}  // namespace vlm
