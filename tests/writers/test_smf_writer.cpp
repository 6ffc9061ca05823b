// Tests of the Standard MIDI File writer: event streams built from bytes, written, and read back
// by the independent parser of stream_builders.h.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>

#include "convert/conversion_run.h"
#include "convert/format_table.h"
#include "convert/options.h"
#include "core/stages.h"
#include "core/vstream.h"
#include "test_util.h"
#include "writer_contract.h"

namespace {

using vlmtest::Bytes;
using vlmtest::MidiEvent;
using vlmtest::ParsedSmf;
using vlmtest::parseSmf;
using vlmtest::StreamBuilder;

const Bytes GM_ON = {0x7E, 0x7F, 0x09, 0x01, 0xF7};
const Bytes GS_RESET = {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};

class SmfWriterTest : public vlmtest::WriterTest {
 protected:
  SmfWriterTest() : WriterTest(vlm::writeSmf) {}

  ParsedSmf writeAndParse(const Bytes& stream, uint32_t capacity = 1 << 20) {
    return vlmtest::writeAndParse(vlm::writeSmf, parseSmf, stream, capacity);
  }

  // Channel events only (notes, controllers, programs, bends).
  static std::vector<MidiEvent> channelEvents(const ParsedSmf& p) {
    std::vector<MidiEvent> out;
    for (const MidiEvent& e : p.events)
      if (e.status < 0xF0) out.push_back(e);
    return out;
  }
};

TEST_F(SmfWriterTest, EmptyStreamGivesHeaderAndEndOfTrackOnly) {
  vlm::options.gmriset = false;
  Bytes stream = StreamBuilder(96).track().end().build();
  Bytes out = write(stream);
  Bytes expected = {'M', 'T', 'h', 'd', 0,   0, 0, 6, 0, 0,    0,    1,    0,
                    96,  'M', 'T', 'r', 'k', 0, 0, 0, 4, 0x00, 0xFF, 0x2F, 0};
  EXPECT_EQ(out, expected);
  EXPECT_EQ(vlm::warnings.slot[vlm::WARN_SIZE_LIMIT], 0);

  // Garbage and an empty image still give a well-formed file.
  EXPECT_TRUE(parseSmf(write(Bytes{})).ok);
  EXPECT_TRUE(parseSmf(write(Bytes{'V', 'T', 'r', 'k', 0xFF, 0xFF, 0xFF, 0xFF, 0x90})).ok);
}

TEST_F(SmfWriterTest, WriterIsInTheOutputTable) {
  const vlm::OutputFormat* format = vlm::findOutputFormat(vlm::FORMAT_SMF);
  ASSERT_NE(format, nullptr);
  EXPECT_EQ(format->writer, &vlm::writeSmf);
}

TEST_F(SmfWriterTest, NotesBecomeOnOffPairsAndDueNoteOffsComeFirst) {
  vlm::options.gmriset = false;
  // Track 0: note 60 at 0 for 10 ticks. Track 1: program change at 10 and a note at 10.
  Bytes stream = StreamBuilder()
                     .track()
                     .note(0, 0, 60, 100, 10)
                     .end(30)
                     .track()
                     .program(10, 1, 5)
                     .note(0, 1, 64, 90, 5)
                     .end()
                     .build();
  ParsedSmf p = writeAndParse(stream);
  std::vector<MidiEvent> ev = channelEvents(p);
  ASSERT_EQ(ev.size(), 6u);
  EXPECT_EQ(ev[0].status, 0x90);
  EXPECT_EQ(ev[0].data, (Bytes{60, 100}));
  EXPECT_EQ(ev[1].status, 0x80);  // due at 10: before the events at 10
  EXPECT_EQ(ev[1].time, 10u);
  EXPECT_EQ(ev[1].data, (Bytes{60, 0}));
  EXPECT_EQ(ev[2].status, 0xC1);
  EXPECT_EQ(ev[2].data, (Bytes{5}));  // one data byte, the bank byte is not written
  EXPECT_EQ(ev[3].status, 0x91);
  EXPECT_EQ(ev[4].status, 0x81);
  EXPECT_EQ(ev[4].time, 15u);
  // Track 0's end of track lies at 30: a silent filler note-off keeps the rest.
  const MidiEvent& filler = ev[5];
  EXPECT_EQ(filler.status, 0x80);
  EXPECT_TRUE(filler.explicitStatus);
  EXPECT_EQ(filler.data, (Bytes{0, 0}));
  EXPECT_EQ(filler.time, 30u);
  EXPECT_EQ(p.events.back().metaType, 0x2F);
  EXPECT_EQ(p.events.back().time, 30u);
}

TEST_F(SmfWriterTest, TiesGoToTheLowerTrackAndRunningStatusIsUsed) {
  vlm::options.gmriset = false;
  Bytes stream = StreamBuilder()
                     .track()
                     .cc(5, 2, 7, 100)
                     .cc(0, 2, 10, 64)
                     .end()
                     .track()
                     .cc(5, 3, 7, 80)
                     .end()
                     .build();
  ParsedSmf p = writeAndParse(stream);
  std::vector<MidiEvent> ev = channelEvents(p);
  ASSERT_EQ(ev.size(), 3u);
  EXPECT_EQ(ev[0].status, 0xB2);
  EXPECT_EQ(ev[1].status, 0xB2);
  EXPECT_FALSE(ev[1].explicitStatus);
  EXPECT_EQ(ev[1].data, (Bytes{10, 64}));
  EXPECT_EQ(ev[2].status, 0xB3);
  // No trailing filler: the song ends with its last written event.
  EXPECT_EQ(p.withStatus(0x80).size(), 0u);
}

TEST_F(SmfWriterTest, RepeatedNoteGetsOneNoteOffAtTheLaterEnd) {
  vlm::options.gmriset = false;
  // Second strike ends later than the first.
  Bytes longer =
      StreamBuilder().track().note(0, 0, 60, 100, 20).note(10, 0, 60, 100, 30).end(60).build();
  ParsedSmf p = writeAndParse(longer);
  std::vector<MidiEvent> offs = p.withStatus(0x80);
  // One note-off for the note, plus the filler at 60.
  ASSERT_EQ(offs.size(), 2u);
  EXPECT_EQ(offs[0].data, (Bytes{60, 0}));
  EXPECT_EQ(offs[0].time, 40u);
  EXPECT_EQ(offs[1].data, (Bytes{0, 0}));

  // Second strike ends before the first: the first one's end closes the note.
  Bytes shorter =
      StreamBuilder().track().note(0, 0, 60, 100, 50).note(10, 0, 60, 100, 5).end(40).build();
  p = writeAndParse(shorter);
  offs = p.withStatus(0x80);
  ASSERT_EQ(offs.size(), 1u);
  EXPECT_EQ(offs[0].time, 50u);

  // The same note on another channel is a different note.
  Bytes other =
      StreamBuilder().track().note(0, 0, 60, 100, 20).note(5, 1, 60, 100, 20).end(20).build();
  p = writeAndParse(other);
  EXPECT_EQ(p.withStatus(0x80).size(), 1u);
  EXPECT_EQ(p.withStatus(0x81).size(), 1u);
}

TEST_F(SmfWriterTest, GmSystemOnAppearsExactlyOnce) {
  Bytes stream = StreamBuilder().track().sysex(0, GM_ON).note(4, 0, 60, 100, 4).end().build();
  vlm::options.gmriset = true;
  ParsedSmf p = writeAndParse(stream);
  std::vector<MidiEvent> sx = p.withStatus(0xF0);
  ASSERT_EQ(sx.size(), 1u);
  EXPECT_EQ(sx[0].data, GM_ON);
  EXPECT_EQ(sx[0].time, 0u);

  vlm::options.gmriset = false;  // then the stream's own message is copied
  p = writeAndParse(stream);
  ASSERT_EQ(p.withStatus(0xF0).size(), 1u);
  EXPECT_EQ(p.withStatus(0xF0)[0].data, GM_ON);

  // Without one in the stream, gmriset still inserts it.
  vlm::options.gmriset = true;
  p = writeAndParse(StreamBuilder().track().end().build());
  EXPECT_EQ(p.withStatus(0xF0).size(), 1u);
}

TEST_F(SmfWriterTest, SongTextsOpenTheTrack) {
  vlm::options.gmriset = false;
  vlm::setSongText(vlm::INFO_TITLE, "Song", 4);
  vlm::setSongText(vlm::INFO_COPYRIGHT, "(c)", 3);
  vlm::setSongText(vlm::INFO_SOFTWARE, "Tool", 4);
  // Text metas of the stream are dropped: the song's texts replace them.
  Bytes stream = StreamBuilder().track().meta(0, 0x03, {'X'}).meta(0, 0x01, {'Y'}).end().build();
  ParsedSmf p = writeAndParse(stream);
  ASSERT_EQ(p.events.size(), 4u);
  EXPECT_EQ(p.events[0].metaType, 0x03);
  EXPECT_EQ(p.events[0].data, (Bytes{'S', 'o', 'n', 'g'}));
  EXPECT_EQ(p.events[1].metaType, 0x02);
  EXPECT_EQ(p.events[2].metaType, 0x01);
  EXPECT_EQ(p.events[2].data, (Bytes{'T', 'o', 'o', 'l'}));

  // Without a title the software text is left out; the copyright stays.
  vlm::setSongText(vlm::INFO_TITLE, "", 0);
  p = writeAndParse(stream);
  ASSERT_EQ(p.events.size(), 2u);
  EXPECT_EQ(p.events[0].metaType, 0x02);
}

TEST_F(SmfWriterTest, CopyGuardWrapperByteForByte) {
  vlm::options.gmriset = false;
  vlm::song.ProtectFlags = vlm::PROTECT_COPY;
  Bytes stream = StreamBuilder(48).track().note(0, 0, 60, 100, 10).end().build();
  Bytes out = write(stream);
  Bytes smf = {'M', 'T', 'h', 'd',  0,   0,   0,    6,    0,    0,   0,    1,
               0,   48,  'M', 'T',  'r', 'k', 0,    0,    0,    12,  0x00, 0x90,
               60,  100, 10,  0x80, 60,  0,   0x00, 0xFF, 0x2F, 0x00};
  uint32_t total = 48 + uint32_t(smf.size());
  Bytes expected = {'R', 'I', 'F', 'F', uint8_t(total - 8),
                    0,   0,   0,   'R', 'M',
                    'I', 'D', 'c', 'o', 'p',
                    'y', 20,  0,   0,   0,
                    'M', 'T', 'h', 'd', 0,
                    0,   0,   12};
  for (char c : std::string("COPYGARDFILE")) expected.push_back(uint8_t(c));
  expected.insert(expected.end(), {'d', 'a', 't', 'a', uint8_t(smf.size()), 0, 0, 0});
  expected.insert(expected.end(), smf.begin(), smf.end());
  EXPECT_EQ(out, expected);

  // Playback writes the same song without the wrapper.
  vlm::runState.forPlayback = true;
  EXPECT_EQ(write(stream), smf);
}

TEST_F(SmfWriterTest, SizeLimitLeavesAWellFormedFileAtEveryCapacity) {
  vlm::options.gmriset = true;
  StreamBuilder b;
  b.track();
  for (int i = 0; i < 40; ++i) b.note(i ? 12 : 0, i % 3, 40 + i, 100, 30);
  b.meta(0, 0x51, {0x07, 0xA1, 0x20});
  b.end(200);
  Bytes stream = b.build();
  ParsedSmf full = writeAndParse(stream);
  size_t fullSize = write(stream).size();
  EXPECT_EQ(vlm::warnings.slot[vlm::WARN_SIZE_LIMIT], 0);

  for (uint32_t capacity = 0; capacity <= fullSize + 20; ++capacity) {
    vlm::warnings = vlm::ConversionWarnings{};
    Bytes out = write(stream, capacity);
    if (out.empty()) {
      // Only capacities too small for even an empty file give nothing.
      EXPECT_LT(capacity, 40u);
      EXPECT_EQ(vlm::warnings.slot[vlm::WARN_SIZE_LIMIT], 1);
      continue;
    }
    ParsedSmf p = parseSmf(out);
    ASSERT_TRUE(p.ok) << "capacity " << capacity << ": " << p.error;
    if (out.size() < fullSize) {
      EXPECT_EQ(vlm::warnings.slot[vlm::WARN_SIZE_LIMIT], 1) << capacity;
      // Pending note-offs are written while they fit, never more than the notes begun.
      size_t ons = 0, offs = 0;
      for (const MidiEvent& e : p.events) {
        if ((e.status & 0xF0) == 0x90) ++ons;
        if ((e.status & 0xF0) == 0x80 && e.data[0] != 0) ++offs;
      }
      EXPECT_LE(offs, ons) << capacity;
    }
  }
  EXPECT_GT(full.events.size(), 80u);
}

TEST_F(SmfWriterTest, FiveByteDeltasNeverWritePastTheCapacity) {
  vlm::options.gmriset = false;
  StreamBuilder b;
  b.track();
  for (int i = 0; i < 6; ++i) b.cc(0x10000000, 0, 7, 100);
  b.end(0x10000000);
  Bytes stream = b.build();
  size_t fullSize = write(stream).size();
  for (uint32_t capacity = 34; capacity <= fullSize + 8; ++capacity) {
    ParsedSmf p = parseSmf(write(stream, capacity));
    EXPECT_TRUE(p.ok) << capacity << ": " << p.error;
  }
}

TEST_F(SmfWriterTest, RhythmPartBecomesGsExclusive) {
  vlm::options.gmriset = false;
  Bytes stream = StreamBuilder()
                     .track()
                     .cc(0, 2, vlm::CC_RHYTHM_PART, 2)
                     .cc(0, 9, vlm::CC_RHYTHM_PART, 1)
                     .cc(0, 12, vlm::CC_RHYTHM_PART, 0)
                     .end()
                     .build();
  ParsedSmf p = writeAndParse(stream);
  std::vector<MidiEvent> sx = p.withStatus(0xF0);
  ASSERT_EQ(sx.size(), 3u);
  EXPECT_EQ(sx[0].data, (Bytes{0x41, 0x10, 0x42, 0x12, 0x40, 0x13, 0x15, 0x02, 0x16, 0xF7}));
  EXPECT_EQ(sx[1].data, (Bytes{0x41, 0x10, 0x42, 0x12, 0x40, 0x10, 0x15, 0x01, 0x1A, 0xF7}));
  EXPECT_EQ(sx[2].data, (Bytes{0x41, 0x10, 0x42, 0x12, 0x40, 0x1C, 0x15, 0x00, 0x0F, 0xF7}));
}

TEST_F(SmfWriterTest, PlaybackMovesDrumsToChannelTen) {
  vlm::options.gmriset = false;
  // Rhythm on channel 3 (index 2); melodic notes on channels 1, 4 and 10.
  vlm::songStats.rhythmMask = 1u << 2;
  vlm::songStats.melodicMask = (1u << 0) | (1u << 3) | (1u << 9);
  Bytes stream = StreamBuilder()
                     .track()
                     .note(0, 2, 36, 100, 4)
                     .note(0, 0, 60, 100, 4)
                     .note(0, 3, 62, 100, 4)
                     .note(0, 9, 64, 100, 4)
                     .program(0, 5, 1)  // a channel without notes keeps its number
                     .end(4)
                     .build();
  vlm::runState.forPlayback = true;
  ParsedSmf p = writeAndParse(stream);
  ASSERT_GE(p.events.size(), 1u);
  EXPECT_EQ(p.events[0].status, 0xF0);
  EXPECT_EQ(p.events[0].data, GS_RESET);
  std::vector<MidiEvent> ev = channelEvents(p);
  ASSERT_GE(ev.size(), 5u);
  EXPECT_EQ(ev[0].status, 0x99);  // channel 3 drums on channel 10
  EXPECT_EQ(ev[1].status, 0x90);  // channel 1 stays first
  EXPECT_EQ(ev[2].status, 0x91);  // channel 4 becomes 2
  EXPECT_EQ(ev[3].status, 0x92);  // melodic channel 10 becomes 3
  EXPECT_EQ(ev[4].status, 0xC5);

  // Saving, or with gsmode on, keeps the channels; the GS reset is still written.
  vlm::options.gsmode = true;
  p = writeAndParse(stream);
  ev = channelEvents(p);
  EXPECT_EQ(p.events[0].data, GS_RESET);
  EXPECT_EQ(ev[0].status, 0x92);
  EXPECT_EQ(ev[3].status, 0x99);
}

// Sixteen melodic channels and no rhythm fill every channel of the file: during playback they
// keep their numbers (channel 10 as a melodic part) instead of two of them sharing channel 16.
TEST_F(SmfWriterTest, SixteenMelodicChannelsKeepTheirNumbers) {
  vlm::options.gmriset = false;
  vlm::songStats.melodicMask = 0xFFFF;
  vlm::songStats.rhythmMask = 0;
  vlm::runState.forPlayback = true;
  StreamBuilder b;
  b.track().cc(0, 9, vlm::CC_RHYTHM_PART, 0);
  for (int c = 0; c < 16; ++c) b.note(0, c, 60, 100, 4);
  b.end();
  ParsedSmf p = writeAndParse(b.build());
  std::vector<MidiEvent> ons;
  for (const MidiEvent& e : channelEvents(p))
    if ((e.status & 0xF0) == 0x90) ons.push_back(e);
  ASSERT_EQ(ons.size(), 16u);
  for (int c = 0; c < 16; ++c) EXPECT_EQ(ons[c].status, 0x90 | c) << c;
}

// A song of sixteen melodic channels (an i-melody file may have them) converted to a Standard
// MIDI File, saved or played: every channel arrives with all its notes, and channel 10 is made a
// melodic part by the GS message before its notes, which FluidSynth and TiMidity++ follow.
TEST_F(SmfWriterTest, SixteenMelodicChannelsArriveWhole) {
  StreamBuilder b(48);
  b.track().cc(0, 9, vlm::CC_RHYTHM_PART, 0);
  for (int c = 0; c < 16; ++c) b.program(0, c, 10 + c);
  for (int i = 0; i < 8; ++i)
    for (int c = 0; c < 16; ++c) b.note(c == 0 && i ? 24 : 0, c, 48 + c + i, 100, 20);
  b.end(24);
  vlmtest::ScratchDir dir;
  vlmtest::writeBytes(dir.file("in.vlm"), b.build());
  const Bytes rhythmOff = {0x41, 0x10, 0x42, 0x12, 0x40, 0x10, 0x15, 0x00, 0x1B, 0xF7};
  for (const bool playback : {false, true}) {
    SetUp();
    vlm::runState.forPlayback = playback;
    vlm::applyOutputPreset(2);
    const std::string out = dir.file(playback ? "play.mid" : "save.mid");
    ASSERT_EQ(vlm::runConversion(dir.file("in.vlm").c_str(), out.c_str(), 3, 2), 1);
    const ParsedSmf p = parseSmf(vlmtest::readBytes(out));
    ASSERT_TRUE(p.ok) << p.error;
    std::map<int, int> notes, program;
    bool tenIsMelodic = false;
    for (const MidiEvent& e : p.events) {
      if (e.status == 0xF0 && e.data == rhythmOff) tenIsMelodic = true;
      if ((e.status & 0xF0) == 0xC0) program[e.status & 0x0F] = e.data[0];
      if ((e.status & 0xF0) != 0x90 || e.data[1] == 0) continue;
      ++notes[program[e.status & 0x0F]];
      if ((e.status & 0x0F) == 9) EXPECT_TRUE(tenIsMelodic) << "a note of channel 10 as a drum";
    }
    for (int c = 0; c < 16; ++c)
      EXPECT_EQ(notes[10 + c], 8) << "channel " << c + 1 << (playback ? " played" : " saved");
    EXPECT_FALSE(vlm::warnings.slot[vlm::WARN_TOO_MANY_CHANNELS]);
  }
}

TEST_F(SmfWriterTest, TempoAndRingtoneMode) {
  vlm::options.gmriset = false;
  Bytes stream = StreamBuilder()
                     .track()
                     .meta(0, 0x51, {0x07, 0xA1, 0x20})
                     .meta(0, 0x05, {'l', 'a'})
                     .sysex(0, {0x43, 0x10, 0xF7})
                     .meta(0, vlm::META_MASTER_VOLUME, {90})
                     .meta(0, vlm::META_CUE, {0})
                     .meta(0, vlm::META_CUE, {1})
                     .meta(0, vlm::META_WAVE, {1, 2, 3})
                     .end()
                     .build();
  ParsedSmf p = writeAndParse(stream);
  ASSERT_EQ(p.events.size(), 7u);
  EXPECT_EQ(p.events[0].metaType, 0x51);
  EXPECT_EQ(p.events[0].data, (Bytes{0x07, 0xA1, 0x20}));
  EXPECT_EQ(p.events[1].metaType, 0x05);
  EXPECT_EQ(p.events[2].data, (Bytes{0x43, 0x10, 0xF7}));
  EXPECT_EQ(p.events[3].data, (Bytes{0x7F, 0x7F, 0x04, 0x01, 0x7F, 90, 0xF7}));
  EXPECT_EQ(p.events[4].metaType, 0x07);
  EXPECT_EQ(p.events[4].data, (Bytes{'S', 'T', 'A', 'R', 'T'}));
  EXPECT_EQ(p.events[5].data, (Bytes{'S', 'T', 'O', 'P'}));

  // Ringtone mode when saving keeps tempo (and master volume, translated earlier) only.
  vlm::options.ringtoneMode = true;
  p = writeAndParse(stream);
  ASSERT_EQ(p.events.size(), 3u);
  EXPECT_EQ(p.events[0].metaType, 0x51);
  EXPECT_EQ(p.events[1].data[5], 90);
  // Playback ignores ringtone mode.
  vlm::runState.forPlayback = true;
  EXPECT_EQ(writeAndParse(stream).events.size(), 7u);
}

TEST_F(SmfWriterTest, BendRangeUsesRpnZero) {
  vlm::options.gmriset = false;
  Bytes stream = StreamBuilder()
                     .track()
                     .cc(0, 0, vlm::CC_BEND_RANGE, 12)
                     .cc(0, 1, vlm::CC_RPN_LSB, 0)
                     .cc(0, 1, vlm::CC_RPN_MSB, 0)
                     .cc(0, 1, vlm::CC_BEND_RANGE, 7)
                     .cc(0, 1, vlm::CC_NRPN_MSB, 1)
                     .cc(0, 1, vlm::CC_BEND_RANGE, 2)
                     .cc(0, 1, 0x90, 5)  // other pseudo controllers are not written
                     .end()
                     .build();
  ParsedSmf p = writeAndParse(stream);
  std::vector<MidiEvent> ev = channelEvents(p);
  auto pair = [](const MidiEvent& e) { return std::make_pair(e.status, e.data); };
  std::vector<std::pair<uint8_t, Bytes>> got;
  for (const MidiEvent& e : ev) got.push_back(pair(e));
  std::vector<std::pair<uint8_t, Bytes>> expected = {
      {0xB0, {100, 0}}, {0xB0, {101, 0}}, {0xB0, {6, 12}},                    // full select
      {0xB1, {100, 0}}, {0xB1, {101, 0}}, {0xB1, {6, 7}},                     // data entry alone
      {0xB1, {99, 1}},  {0xB1, {100, 0}}, {0xB1, {101, 0}}, {0xB1, {6, 2}}};  // select again
  EXPECT_EQ(got, expected);
  // The select and data entry share one status byte.
  EXPECT_TRUE(ev[0].explicitStatus);
  EXPECT_FALSE(ev[1].explicitStatus);
  EXPECT_FALSE(ev[2].explicitStatus);
}

TEST_F(SmfWriterTest, MoreThan128PendingNotesAreAllClosed) {
  vlm::options.gmriset = false;
  StreamBuilder b;
  b.track();
  // Every note is still pending at time 300; each ends earlier than the one struck before.
  for (int i = 0; i < 300; ++i) b.note(1, i % 16, i % 128, 100, uint16_t(1000 - 2 * i));
  b.end(701);  // at 1001, the latest end: no filler note-off
  ParsedSmf p = writeAndParse(b.build());
  int ons = 0, offs = 0;
  uint32_t lastOff = 0;
  for (const MidiEvent& e : p.events) {
    if ((e.status & 0xF0) == 0x90) ++ons;
    if ((e.status & 0xF0) == 0x80) {
      ++offs;
      EXPECT_GE(e.time, lastOff);  // note-offs leave in end order
      lastOff = e.time;
    }
  }
  EXPECT_EQ(ons, 300);
  // Strikes i, i + 128 and i + 256 share channel and note: one note-off for each pair.
  std::vector<bool> seen(16 * 128);
  int distinct = 0;
  for (int i = 0; i < 300; ++i)
    if (!seen[(i % 16) * 128 + i % 128]) seen[(i % 16) * 128 + i % 128] = true, ++distinct;
  EXPECT_EQ(offs, distinct);
}

TEST_F(SmfWriterTest, LargePendingTableKeepsEveryNoteOffOnTime) {
  vlm::options.gmriset = false;
  // About 600 notes pending at any time: the table grows and reuses the room of written entries.
  StreamBuilder b;
  b.track();
  for (int i = 0; i < 3000; ++i) b.note(1, i % 16, (i / 16) % 128, 100, 600);
  b.end(600);
  ParsedSmf p = writeAndParse(b.build());
  std::map<std::pair<int, int>, std::vector<uint32_t>> ons;
  int offs = 0;
  for (const MidiEvent& e : p.events) {
    auto key = std::make_pair(e.status & 0x0F, int(e.data.empty() ? 0 : e.data[0]));
    if ((e.status & 0xF0) == 0x90) ons[key].push_back(e.time);
    if ((e.status & 0xF0) == 0x80) {
      ++offs;
      ASSERT_FALSE(ons[key].empty());
      EXPECT_EQ(e.time, ons[key].front() + 600);
      ons[key].erase(ons[key].begin());
    }
  }
  EXPECT_EQ(offs, 3000);
}

TEST_F(SmfWriterTest, DroppedEventsStillAdvanceTime) {
  vlm::options.gmriset = false;
  Bytes stream = StreamBuilder()
                     .track()
                     .note(0, 0, 60, 100, 4)
                     .raw(10, {0x22, 1, 2, 3, 4})  // second channel group: not written
                     .raw(0, {0x03, 9, 9, 9})      // filler
                     .raw(0, {0xD0, 5})            // channel pressure: not written
                     .raw(0, {0xE0, 0, 0x50})
                     .end()
                     .build();
  ParsedSmf p = writeAndParse(stream);
  std::vector<MidiEvent> ev = channelEvents(p);
  ASSERT_EQ(ev.size(), 3u);
  EXPECT_EQ(ev[2].status, 0xE0);
  EXPECT_EQ(ev[2].time, 10u);
  EXPECT_EQ(ev[2].data, (Bytes{0, 0x50}));
}

TEST_F(SmfWriterTest, RandomStreamsNeverBreakTheFile) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    Bytes stream = StreamBuilder().track().build();
    size_t n = rng() % 200;
    for (size_t i = 0; i < n; ++i) stream.push_back(uint8_t(rng()));
    // Patch a plausible track length sometimes, a wrong one otherwise.
    uint32_t length = (round & 1) ? uint32_t(n) : uint32_t(rng());
    for (int i = 0; i < 4; ++i) stream[14 + i] = uint8_t(length >> (24 - 8 * i));
    uint32_t capacity = 40 + rng() % 400;
    Bytes out = write(stream, capacity);
    if (!out.empty()) {
      EXPECT_TRUE(parseSmf(out).ok) << round << ": " << parseSmf(out).error;
    }
  }
}

}  // namespace
