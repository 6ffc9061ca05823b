// Tests of the feelsound writer: event streams built from bytes, written, and taken apart by a
// small parser of the directory and the song block written here; round trips through the MIDI
// reader, which also reads this form, and through vlmconv.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <sstream>
#include <string>

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
using vlmtest::StreamBuilder;


struct DirEntry {
  uint8_t kind, id;
  uint32_t offset, length;
  Bytes data;
};

struct ParsedDxm {
  bool ok = false;
  std::string error;
  std::vector<DirEntry> entries;
  uint32_t songOffset = 0;
  uint16_t timebase = 0;
  std::vector<MidiEvent> events;  // end of track included

  const DirEntry* entry(uint8_t id) const {
    for (const DirEntry& e : entries)
      if (e.id == id) return &e;
    return nullptr;
  }
  std::vector<MidiEvent> channelEvents() const {
    std::vector<MidiEvent> out;
    for (const MidiEvent& e : events)
      if (e.status < 0xF0) out.push_back(e);
    return out;
  }
};

// Data bytes behind a channel status in this form: note-offs and bends carry one.
int dxmDataSize(uint8_t status) {
  switch (status & 0xF0) {
    case 0x80:
    case 0xC0:
    case 0xD0:
    case 0xE0:
      return 1;
    default:
      return 2;
  }
}

ParsedDxm parseDxm(const Bytes& file) {
  ParsedDxm r;
  vlmtest::detail::Reader rd{file, 0, file.size()};
  auto fail = [&](const char* why) {
    r.error = why;
    return r;
  };
  if (!rd.id("MCDF")) return fail("no MCDF");
  for (;;) {
    uint8_t kind = rd.u8(), id = rd.u8();
    if (rd.bad) return fail("directory runs past the file");
    if (kind == 0xFF && id == 0xFF) break;
    DirEntry e{kind, id, rd.be(4), rd.be(4), {}};
    r.entries.push_back(e);
  }
  for (int i = 0; i < 8; ++i)
    if (rd.u8() != 0) return fail("no 8 zero bytes after the directory");
  // Data blocks follow in entry order, each right behind the one before.
  uint32_t expected = uint32_t(rd.pos);
  for (DirEntry& e : r.entries) {
    if (uint64_t(e.offset) + e.length > file.size()) return fail("entry data past the file");
    e.data.assign(file.begin() + e.offset, file.begin() + e.offset + e.length);
    if (e.id == 0x40) continue;  // the song block itself comes last
    if (e.offset != expected) return fail("data blocks out of entry order");
    expected = e.offset + e.length;
  }
  const DirEntry* songEntry = r.entry(0x40);
  if (!songEntry) return fail("no song entry");
  if (songEntry->offset != expected) return fail("song block not behind the texts");
  if (uint64_t(songEntry->offset) + songEntry->length != file.size())
    return fail("song block does not run to the end of the file");
  r.songOffset = songEntry->offset;
  rd.pos = songEntry->offset;
  if (!rd.id("CThd") || rd.be(4) != 6 || rd.be(4) != 1) return fail("bad CThd");
  r.timebase = uint16_t(rd.be(2));
  if (!rd.id("CTrk")) return fail("bad CTrk");
  uint32_t length = rd.be(4);
  if (rd.bad || rd.pos + length != file.size()) return fail("CTrk length mismatch");
  r.error = vlmtest::detail::parseTrackEvents(rd, file.size(), dxmDataSize, false, r.events);
  r.ok = r.error.empty();
  return r;
}

struct Note {
  uint32_t time;
  int channel, note, velocity;
  int duration;  // -1: no note-off
  bool operator==(const Note& o) const {
    return time == o.time && channel == o.channel && note == o.note && velocity == o.velocity &&
           duration == o.duration;
  }
};

std::ostream& operator<<(std::ostream& os, const Note& n) {
  return os << "{t" << n.time << " ch" << n.channel << " n" << n.note << " v" << n.velocity << " d"
            << n.duration << "}";
}

// Notes of a parsed file: each note-on ends at the next note-off of its channel and key.
std::vector<Note> notesOf(const ParsedDxm& p) {
  std::vector<Note> notes;
  for (size_t i = 0; i < p.events.size(); ++i) {
    const MidiEvent& e = p.events[i];
    if ((e.status & 0xF0) != 0x90) continue;
    Note n{e.time, e.status & 0x0F, e.data[0], e.data[1], -1};
    for (size_t j = i + 1; j < p.events.size(); ++j) {
      const MidiEvent& off = p.events[j];
      if (off.status == (0x80 | n.channel) && off.data[0] == n.note) {
        n.duration = int(off.time - e.time);
        break;
      }
    }
    notes.push_back(n);
  }
  return notes;
}

// Notes of a VStream image, through the merge cursor.
std::vector<Note> notesOfStream(const uint8_t* image, uint32_t size) {
  std::vector<Note> notes;
  vlm::TrackTable table;
  vlm::loadTrackTable(table, image, size);
  vlm::StreamEvent ev;
  while (vlm::nextStreamEvent(table, ev))
    if ((ev.status & 0xF0) == 0x90)
      notes.push_back(
          Note{ev.time, ev.status & 0x0F, ev.data[0], ev.data[1], (ev.data[2] << 8) | ev.data[3]});
  return notes;
}

class DxmWriterTest : public vlmtest::WriterTest {
 protected:
  DxmWriterTest() : WriterTest(vlm::writeDxm, [] { useCode(13); }) {}

  static void useCode(vlm::FormatCode code) {
    vlm::runState.currentOutputCode = code;
    vlm::options.preset.formatVersion = code == 14 ? 2 : 1;
  }

  ParsedDxm writeAndParse(const Bytes& stream, uint32_t capacity = 1 << 20) {
    return vlmtest::writeAndParse(vlm::writeDxm, parseDxm, stream, capacity);
  }

  bool sizeWarning() const { return vlm::warnings.slot[vlm::WARN_SIZE_LIMIT] != 0; }
};

TEST_F(DxmWriterTest, SongWithoutTextsHasFourEntriesAndAnEmptyTrack) {
  Bytes out = write(StreamBuilder(24).track().end().build());
  Bytes expected = {
      'M',  'C',  'D', 'F', 2,   0x04, 0, 0, 0, 54, 0, 0,    0,    1,  // 04 -> one zero byte
      2,    0x40, 0,   0,   0,   60,   0, 0, 0, 26,                    // the song block
      2,    0x84, 0,   0,   0,   55,   0, 0, 0, 4,                     // "01.0"
      2,    0x85, 0,   0,   0,   59,   0, 0, 0, 1,                     // one zero byte
      0xFF, 0xFF, 0,   0,   0,   0,    0, 0, 0, 0,  0, '0',  '1',  '.',
      '0',  0,    'C', 'T', 'h', 'd',  0, 0, 0, 6,  0, 0,    0,    1,
      0,    24,   'C', 'T', 'r', 'k',  0, 0, 0, 4,  0, 0xFF, 0x2F, 0};
  EXPECT_EQ(out, expected);
  EXPECT_FALSE(sizeWarning());
}

TEST_F(DxmWriterTest, TextsStandInTheirOrderWithoutTerminatorAndReadBack) {
  const char* texts[vlm::INFO_FIELDS] = {};
  texts[vlm::INFO_TITLE] = "Title";
  texts[vlm::INFO_ARTIST] = "Artist";
  texts[vlm::INFO_COPYRIGHT] = "(c)";
  texts[vlm::INFO_SOFTWARE] = "Soft";
  texts[vlm::INFO_WORDS] = "Words";
  texts[vlm::INFO_DATE] = "2003";  // this form has no field for the date
  for (int f = 0; f < vlm::INFO_FIELDS; ++f)
    if (texts[f]) vlm::setSongText(f, texts[f], std::strlen(texts[f]));

  Bytes stream = StreamBuilder(24).track().note(0, 0, 60, 100, 24).end(24).build();
  Bytes file = write(stream);
  ParsedDxm p = parseDxm(file);
  ASSERT_TRUE(p.ok) << p.error;
  std::vector<std::pair<uint8_t, std::string>> got;
  for (const DirEntry& e : p.entries)
    got.emplace_back(e.id, std::string(e.data.begin(), e.data.end()));
  std::vector<std::pair<uint8_t, std::string>> expected = {{0x04, std::string(1, '\0')},
                                                           {0x40, got[1].second},
                                                           {0x84, "01.0"},
                                                           {0x85, std::string(1, '\0')},
                                                           {0xC0, "Title"},
                                                           {0xC1, "Artist"},
                                                           {0xC3, "(c)"},
                                                           {0xC4, "Soft"},
                                                           {0xC6, "Words"}};
  EXPECT_EQ(got, expected);
  EXPECT_EQ(std::string(file.begin() + p.songOffset, file.begin() + p.songOffset + 4), "CThd");

  std::memset(&vlm::song, 0, sizeof vlm::song);
  Bytes back(file.size() + 4096);
  int32_t size = 0;
  vlm::readSmf(file.data(), uint32_t(file.size()), back.data(), &size, uint32_t(back.size()));
  EXPECT_STREQ(vlm::song.info.text[vlm::INFO_TITLE], "Title");
  EXPECT_STREQ(vlm::song.info.text[vlm::INFO_ARTIST], "Artist");
  EXPECT_STREQ(vlm::song.info.text[vlm::INFO_COPYRIGHT], "(c)");
  EXPECT_STREQ(vlm::song.info.text[vlm::INFO_SOFTWARE], "Soft");
  EXPECT_STREQ(vlm::song.info.text[vlm::INFO_WORDS], "Words");
  EXPECT_EQ(notesOfStream(back.data(), uint32_t(size)), (std::vector<Note>{{0, 0, 60, 100, 24}}));
}

TEST_F(DxmWriterTest, EventFormsAndRunningStatus) {
  Bytes stream = StreamBuilder(24)
                     .track()
                     .raw(0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20})
                     .program(0, 0, 0x85)  // program in the low 7 bits
                     .cc(0, 0, 1, 10)      // modulation
                     .cc(0, 0, 7, 90)      // volume
                     .cc(0, 0, 64, 127)    // hold
                     .cc(0, 0, 11, 50)     // expression: not kept
                     .cc(0, 0, 0, 1)       // bank select: not kept
                     .cc(0, 0, vlm::CC_RHYTHM_PART, 1)
                     .raw(0, {0xE0, 0x00, 0x40})  // centre bend: MSB alone
                     .raw(0, {0xE0, 0x7F, 0x52})
                     .raw(0, {0xD0, 0x40})  // pressure: not kept
                     .meta(0, 0x03, {'x'})  // texts come from the song record
                     .meta(0, 0x06, {'m'})
                     .sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
                     .raw(0, {0x05, 1, 2, 3, 4, 5})  // filler
                     .note(0, 0, 60, 100, 12)
                     .note(0, 0, 64, 90, 12)
                     .note(0, 9, 36, 110, 6)  // rhythm: never a note-off
                     .end(24)
                     .build();
  ParsedDxm p = writeAndParse(stream);
  ASSERT_TRUE(p.ok);
  std::vector<std::pair<uint8_t, Bytes>> got;
  for (const MidiEvent& e : p.events) got.emplace_back(e.status, e.data);
  std::vector<std::pair<uint8_t, Bytes>> expected = {{0xFF, {0x07, 0xA1, 0x20}},
                                                     {0xC0, {0x05}},
                                                     {0xB0, {1, 10}},
                                                     {0xB0, {7, 90}},
                                                     {0xB0, {64, 127}},
                                                     {0xE0, {0x40}},
                                                     {0xE0, {0x52}},
                                                     {0x90, {60, 100}},
                                                     {0x90, {64, 90}},
                                                     {0x99, {36, 110}},
                                                     {0x80, {60}},
                                                     {0x80, {64}},
                                                     {0xFF, {}}};
  EXPECT_EQ(got, expected);
  EXPECT_EQ(p.events[0].metaType, 0x51);
  // Running status: the second controller, bend and note and the second note-off share theirs.
  EXPECT_FALSE(p.events[3].explicitStatus);
  EXPECT_FALSE(p.events[6].explicitStatus);
  EXPECT_FALSE(p.events[8].explicitStatus);
  EXPECT_FALSE(p.events[11].explicitStatus);
  EXPECT_EQ(p.events[10].time, 12u);
  EXPECT_EQ(p.events.back().time, 24u);  // the trailing rest stays
  EXPECT_EQ(p.timebase, 24);
}

TEST_F(DxmWriterTest, PanAndBendRangeOnlyFromVersionTwo) {
  Bytes stream = StreamBuilder(24)
                     .track()
                     .cc(0, 2, vlm::CC_PAN, 20)
                     .cc(0, 2, vlm::CC_BEND_RANGE, 12)
                     .note(0, 2, 60, 100, 12)
                     .end()
                     .build();
  ParsedDxm v1 = writeAndParse(stream);
  std::vector<MidiEvent> e1 = v1.channelEvents();
  ASSERT_EQ(e1.size(), 2u);
  EXPECT_EQ(e1[0].status, 0x92);

  useCode(14);
  Bytes out = write(stream);
  ParsedDxm v2 = parseDxm(out);
  ASSERT_TRUE(v2.ok) << v2.error;
  std::vector<MidiEvent> e2 = v2.channelEvents();
  ASSERT_EQ(e2.size(), 6u);
  EXPECT_EQ(e2[0].data, (Bytes{10, 20}));
  // The bend range selects RPN 0 every time, with zero deltas and running status.
  const Bytes rpnForm = {0xB2, 0x0A, 0x14, 0x00, 0x64, 0x00, 0x00, 0x65, 0x00, 0x00, 0x06, 0x0C};
  EXPECT_NE(std::search(out.begin(), out.end(), rpnForm.begin(), rpnForm.end()), out.end());

  // The MIDI reader turns the RPN 0 data entry back into the bend range.
  Bytes back(out.size() + 4096);
  int32_t size = 0;
  vlm::readSmf(out.data(), uint32_t(out.size()), back.data(), &size, uint32_t(back.size()));
  vlm::TrackTable table;
  vlm::loadTrackTable(table, back.data(), uint32_t(size));
  vlm::StreamEvent ev;
  int bendRanges = 0;
  while (vlm::nextStreamEvent(table, ev))
    if (ev.status == 0xB2 && ev.data[0] == vlm::CC_BEND_RANGE && ev.data[1] == 12) ++bendRanges;
  EXPECT_EQ(bendRanges, 1);
}

TEST_F(DxmWriterTest, MergeAndNoteOffOrder) {
  // Two tracks: ties go to the lower track; a note-off due at T comes before events at T.
  Bytes stream = StreamBuilder(24)
                     .track()
                     .note(0, 0, 60, 100, 12)
                     .cc(12, 0, 7, 80)
                     .end()
                     .track()
                     .note(0, 1, 48, 90, 24)
                     .note(12, 1, 50, 90, 6)
                     .end(30)
                     .build();
  ParsedDxm p = writeAndParse(stream);
  std::vector<std::pair<uint32_t, uint8_t>> got;
  for (const MidiEvent& e : p.events) got.emplace_back(e.time, e.status);
  std::vector<std::pair<uint32_t, uint8_t>> expected = {
      {0, 0x90}, {0, 0x91}, {12, 0x80}, {12, 0xB0}, {12, 0x91}, {18, 0x81}, {24, 0x81}, {42, 0xFF}};
  EXPECT_EQ(got, expected);
}

TEST_F(DxmWriterTest, NoteOffsOfLongNotesAfterTheSongEnd) {
  // Durations running past the last event still end where they should; the end of track follows.
  Bytes stream = StreamBuilder(24).track().note(0, 3, 70, 64, 200).end(5).build();
  ParsedDxm p = writeAndParse(stream);
  ASSERT_EQ(p.events.size(), 3u);
  EXPECT_EQ(p.events[1].status, 0x83);
  EXPECT_EQ(p.events[1].time, 200u);
  EXPECT_EQ(p.events[2].time, 200u);
}

// A long song: every size leaves a complete file, never longer than the capacity.
TEST_F(DxmWriterTest, SizeLimitShortensTheSongAndKeepsTheFileWhole) {
  StreamBuilder b(24);
  b.track();
  for (int i = 0; i < 400; ++i) b.note(i ? 6 : 0, i % 3, 40 + i % 40, 100, 30);
  b.end(1000);
  Bytes stream = b.build();

  vlm::setSongText(vlm::INFO_TITLE, "Long song", 9);
  ParsedDxm full = writeAndParse(stream);
  EXPECT_FALSE(sizeWarning());
  const std::vector<Note> fullNotes = notesOf(full);
  EXPECT_EQ(fullNotes.size(), 400u);

  size_t lastNotes = 0;
  // From 110 bytes on the title always fits, so more room can only mean more of the song.
  for (uint32_t capacity = 110; capacity < 2000; capacity += 7) {
    vlm::warnings = vlm::ConversionWarnings{};
    Bytes out = write(stream, capacity);
    if (out.empty()) {
      EXPECT_TRUE(sizeWarning()) << capacity;
      continue;
    }
    ParsedDxm p = parseDxm(out);
    ASSERT_TRUE(p.ok) << capacity << ": " << p.error;
    EXPECT_TRUE(sizeWarning()) << capacity;
    // The beginning of the song, as it is in the whole file; notes still sounding at the cut
    // keep their note-off as long as it fits (at most the few that sound at once lose it).
    std::vector<Note> notes = notesOf(p);
    ASSERT_LE(notes.size(), fullNotes.size());
    EXPECT_GE(notes.size(), lastNotes);
    lastNotes = notes.size();
    int unclosed = 0;
    for (size_t i = 0; i < notes.size(); ++i) {
      const Note& n = notes[i];
      const Note& f = fullNotes[i];
      EXPECT_EQ(n.time, f.time);
      EXPECT_EQ(n.note, f.note);
      if (n.duration < 0)
        ++unclosed;
      else
        EXPECT_EQ(n.duration, f.duration) << capacity << " note " << i;
    }
    EXPECT_LE(unclosed, 5) << capacity;
  }
  EXPECT_GT(lastNotes, 100u);
}

TEST_F(DxmWriterTest, TextsGiveWayWhenTheHeadAloneIsTooLarge) {
  std::string longText(255, 'a');
  vlm::setSongText(vlm::INFO_TITLE, "T", 1);
  vlm::setSongText(vlm::INFO_ARRANGE, longText.data(), longText.size());
  Bytes stream = StreamBuilder(24).track().note(0, 0, 60, 100, 12).end().build();
  ParsedDxm p = writeAndParse(stream, 200);
  ASSERT_TRUE(p.ok);
  EXPECT_TRUE(sizeWarning());
  EXPECT_NE(p.entry(0xC0), nullptr);
  EXPECT_EQ(p.entry(0xC7), nullptr);

  vlm::warnings = vlm::ConversionWarnings{};
  EXPECT_TRUE(write(stream, 40).empty());  // not even the directory fits
  EXPECT_TRUE(sizeWarning());
}

// Random streams, random capacities: the file parses and nothing lands past the capacity.
TEST_F(DxmWriterTest, RandomStreamsAlwaysGiveCompleteFiles) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    useCode(round % 2 ? 14 : 13);
    Bytes stream = vlmtest::randomSong(rng);
    uint32_t capacity = 80 + uint32_t(rng() % 600);
    vlm::warnings = vlm::ConversionWarnings{};
    Bytes out = write(stream, capacity);
    if (out.empty()) {  // not even an empty song fits
      EXPECT_TRUE(sizeWarning());
      continue;
    }
    ParsedDxm p = parseDxm(out);
    if (!p.ok) FAIL() << "round " << round << ": " << p.error;
  }
}

TEST_F(DxmWriterTest, RoundTripThroughTheMidiReaderKeepsTheNotes) {
  Bytes stream = StreamBuilder(24)
                     .track()
                     .program(0, 0, 5)
                     .note(0, 0, 60, 100, 24)
                     .note(0, 0, 64, 80, 12)
                     .note(6, 1, 40, 70, 300)
                     .note(6, 0, 67, 1, 1)
                     .note(12, 9, 38, 127, 6)
                     .raw(100, {0xE1, 0x00, 0x20})
                     .note(1000, 2, 72, 64, 48)
                     .end(10)
                     .track()
                     .note(3, 3, 50, 60, 20)
                     .end()
                     .build();
  Bytes file = write(stream);
  Bytes back(file.size() + 4096);
  int32_t size = 0;
  vlm::readSmf(file.data(), uint32_t(file.size()), back.data(), &size, uint32_t(back.size()));
  ASSERT_GT(size, 0);

  auto melodic = [](std::vector<Note> notes) {
    std::vector<Note> out;
    for (const Note& n : notes)
      if (n.channel != 9) out.push_back(n);
    std::sort(out.begin(), out.end(), [](const Note& a, const Note& b) {
      return a.time != b.time ? a.time < b.time : a.note < b.note;
    });
    return out;
  };
  std::vector<Note> original = notesOfStream(stream.data(), uint32_t(stream.size()));
  std::vector<Note> read = notesOfStream(back.data(), uint32_t(size));
  EXPECT_EQ(melodic(read), melodic(original));
  // The rhythm note keeps its start, key and velocity; its length is the reader's own.
  auto rhythm =
      std::find_if(read.begin(), read.end(), [](const Note& n) { return n.channel == 9; });
  ASSERT_NE(rhythm, read.end());
  EXPECT_EQ(rhythm->time, 24u);
  EXPECT_EQ(rhythm->note, 38);
  EXPECT_EQ(rhythm->velocity, 127);
}

// ---- Through the conversion run and the command line -------------------------------------

TEST_F(DxmWriterTest, TwelveVoicesOnFourChannelsForCode13) {
  // Eight channels of three-note chords: 24 voices at once, on more channels than code 13 has.
  vlm::test::SmfBuilder smf(96);
  for (int bar = 0; bar < 4; ++bar)
    for (uint8_t ch = 0; ch < 8; ++ch)
      for (int k = 0; k < 3; ++k)
        smf.note(uint32_t(bar * 384), ch, uint8_t(48 + ch * 4 + k * 3), 384);
  vlm::test::ScratchDir dir;
  vlm::test::writeBytes(dir.file("in.mid"), smf.build());

  for (vlm::FormatCode code : {13, 14}) {
    vlm::resetRun();
    vlm::runState.currentOutputCode = code;
    vlm::applyOutputPreset(code);
    std::string out = dir.file("out" + std::to_string(code) + ".dxm");
    ASSERT_EQ(vlm::runConversion(dir.file("in.mid").c_str(), out.c_str(), 2, code), 1);
    ParsedDxm p = parseDxm(vlm::test::readBytes(out));
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.timebase, 24);
    int sounding = 0, most = 0;
    uint16_t channels = 0;
    for (const MidiEvent& e : p.events) {
      if ((e.status & 0xF0) == 0x90) {
        most = std::max(most, ++sounding);
        channels |= uint16_t(1u << (e.status & 0x0F));
      } else if ((e.status & 0xF0) == 0x80) {
        --sounding;
      }
    }
    EXPECT_LE(most, code == 13 ? 12 : 32) << code;
    EXPECT_GT(most, 0);
    if (code == 13) {
      EXPECT_LE(__builtin_popcount(channels), 4);
    }
  }
}

using CommandResult = vlm::test::CommandRun;

CommandResult vlmconv(const std::string& args) {
  return vlm::test::runCommand(vlm::test::vlmconvProgram() + " " + args + " </dev/null 2>&1");
}

// Lines of `vlmconv info` that describe the notes.
std::string noteLines(const std::string& info) {
  std::istringstream in(info);
  std::string line, kept;
  while (std::getline(in, line))
    if (line.rfind("notes:", 0) == 0 || line.rfind("channel", 0) == 0) kept += line + "\n";
  return kept;
}

TEST_F(DxmWriterTest, CommandLineConversionReadsBackWithTheSameNotes) {
  vlm::test::SmfBuilder smf(480);
  smf.tempo(0, 500000).program(0, 0, 10).program(0, 1, 33);
  for (int i = 0; i < 16; ++i) {
    smf.note(uint32_t(i * 240), 0, uint8_t(60 + i % 12), 240, uint8_t(60 + i));
    if (i % 4 == 0) smf.note(uint32_t(i * 240), 1, uint8_t(36 + i / 4), 960);
    smf.note(uint32_t(i * 240), 9, 42, 60);
  }
  vlm::test::ScratchDir dir;
  const std::string in = dir.file("x.mid"), out = dir.file("y.dxm");
  vlm::test::writeBytes(in, smf.build(16 * 240 + 480));
  CommandResult convert = vlmconv("convert " + in + " --to dxm12 -o " + out);
  ASSERT_EQ(convert.status, 0) << convert.out;
  CommandResult source = vlmconv("info " + in), result = vlmconv("info " + out);
  ASSERT_EQ(result.status, 0) << result.out;
  EXPECT_NE(result.out.find("format: 13"), std::string::npos) << result.out;
  EXPECT_NE(noteLines(source.out), "");
  EXPECT_EQ(noteLines(result.out), noteLines(source.out));
}

}  // namespace
