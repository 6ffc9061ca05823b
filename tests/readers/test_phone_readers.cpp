#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "convert/format_table.h"
#include "convert/options.h"
#include "core/run_state.h"
#include "core/stages.h"
#include "core/vstream.h"
#include "test_util.h"

namespace vlm {
namespace {

using Bytes = std::vector<uint8_t>;

using Event = test::StreamEventCopy;

struct Stream : test::CollectedStream {
  std::vector<Event> tempos() const { return meta(META_TEMPO); }
};

Bytes textBytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Stream read(StageFn reader, const Bytes& image, uint32_t capacity = 1 << 16) {
  return Stream{test::runStage(reader, image, capacity)};
}

Bytes noteData(int note, uint16_t duration) {
  return {uint8_t(note), 127, uint8_t(duration >> 8), uint8_t(duration)};
}

Bytes tempoData(uint32_t bpm) {
  const uint32_t us = 60000000 / bpm;
  return {uint8_t(us >> 16), uint8_t(us >> 8), uint8_t(us)};
}

class PhoneReaders : public ::testing::Test {
 protected:
  void SetUp() override { resetRun(); }
};

// ---- .dat ----------------------------------------------------------------------------------

TEST_F(PhoneReaders, DatNotesLengthsTempoAndParts) {
  // Part 0: tempo 4 (120), C one octave up, its sharp, length 0x82 (24), a rest, the lowest C;
  // part 1: tempo 5 (ignored: only the first part sets it), D two octaves up with length 0xC4.
  Stream s = read(readDat, {0x04, 0x08, 0x48, 0x82, 0x00, 0x01, 0xFF, 0x05, 0xC4, 0x10, 0xFF});
  EXPECT_EQ(s.timebase, 12);
  EXPECT_EQ(s.tracks, 2);
  ASSERT_EQ(s.tempos().size(), 1u);
  EXPECT_EQ(s.tempos()[0].time, 0u);
  EXPECT_EQ(s.tempos()[0].data, tempoData(120));
  std::vector<Event> part0 = s.notes(0);
  ASSERT_EQ(part0.size(), 3u);
  EXPECT_EQ(part0[0].data, noteData(72, 12));
  EXPECT_EQ(part0[1].data, noteData(73, 12));
  EXPECT_EQ(part0[1].time, 12u);
  EXPECT_EQ(part0[2].data, noteData(60, 24));
  EXPECT_EQ(part0[2].time, 48u);  // after the rest of 24
  std::vector<Event> part1 = s.notes(1);
  ASSERT_EQ(part1.size(), 1u);
  EXPECT_EQ(part1[0].status, 0x91);  // the part's own channel
  EXPECT_EQ(part1[0].data, noteData(86, 4));
  EXPECT_EQ(songStats.maxPolyphony, 2);
  EXPECT_EQ(songStats.tempoMin, 120u);
  EXPECT_EQ(songStats.tempoMax, 120u);
}

TEST_F(PhoneReaders, DatLengthTableAndHighNotes) {
  const std::pair<uint8_t, uint16_t> lengths[] = {{0x80, 48}, {0x81, 36}, {0x82, 24}, {0x83, 18},
                                                  {0x84, 12}, {0x85, 9},  {0x86, 6},  {0x88, 3},
                                                  {0xC2, 8},  {0xC4, 4},  {0x87, 6},  {0xCF, 6}};
  for (auto [code, ticks] : lengths) {
    Stream s = read(readDat, {0x09, code, 0x01});
    ASSERT_EQ(s.notes().size(), 1u) << int(code);
    EXPECT_EQ(s.notes()[0].data, noteData(60, ticks)) << int(code);
  }
  // A tempo byte above 5 keeps 120; bytes 0x90..0xBF and 0xD0.. mean nothing.
  Stream s = read(readDat, {0x09, 0x90, 0xA5, 0xD3, 0x3F, 0x7F});
  EXPECT_EQ(s.tempos()[0].data, tempoData(120));
  ASSERT_EQ(s.notes().size(), 2u);
  // k = 63 lies beyond the MIDI range: B eight octaves up (167) and its sharp fold back by
  // octaves below 128.
  EXPECT_EQ(s.notes()[0].data[0], 119);
  EXPECT_EQ(s.notes()[1].data[0], 120);
}

TEST_F(PhoneReaders, PartsStopAtSixteen) {
  Bytes image;
  for (int p = 0; p < 20; ++p) image.insert(image.end(), {0x04, uint8_t(0x01 + p), 0xFF});
  Stream s = read(readDat, image);
  EXPECT_EQ(s.tracks, 16);
  EXPECT_EQ(songStats.maxPolyphony, 16);
  for (int p = 0; p < 16; ++p) {
    ASSERT_EQ(s.notes(p).size(), 1u);
    EXPECT_EQ(s.notes(p)[0].status, 0x90 | p);
    EXPECT_EQ(s.notes(p)[0].time, 0u);  // every part starts at time 0
  }
  // The parts are melodic, channel 10 included.
  EXPECT_EQ(songStats.rhythmMask, 0);
  EXPECT_EQ(songStats.melodicMask, 0xFFFF);
}

// ---- .als ----------------------------------------------------------------------------------

TEST_F(PhoneReaders, AlsHeaderLengthRunsAndTempo) {
  // Header: skipped 0xE1, the title, then 0xF1 begins the first part.
  Bytes image = {0xE1, 0xF0, 'S',  'o', 'n', 'g', 0xFD, 0x33, 0xF1,
                 0x62,              // tempo (0x62 - 0x42) x 2 = 64 before any note
                 0xC4, 0xC6, 0x27,  // length 96 + 48 = 144, note 0x27 + 21 = 60
                 0x00,              // rest of 144
                 0x70,              // a tempo after time has moved: an event at 288
                 0xD5, 0x28,        // a run worth 0 becomes 12
                 0xF3, 0x30, 0x65,  // part 1: a note of the starting length 96; tempo ignored
                 0xFF, 0x01};       // the end of the file
  Stream s = read(readAls, image);
  EXPECT_EQ(s.timebase, 96);
  EXPECT_STREQ(song.info.text[INFO_TITLE], "Song");
  ASSERT_EQ(s.tempos().size(), 2u);
  EXPECT_EQ(s.tempos()[0].time, 0u);
  EXPECT_EQ(s.tempos()[0].data, tempoData(64));
  EXPECT_EQ(s.tempos()[1].time, 288u);
  EXPECT_EQ(s.tempos()[1].data, tempoData(92));
  EXPECT_EQ(songStats.tempoMin, 64u);
  EXPECT_EQ(songStats.tempoMax, 92u);
  std::vector<Event> part0 = s.notes(0);
  ASSERT_EQ(part0.size(), 2u);
  EXPECT_EQ(part0[0].data, noteData(60, 144));
  EXPECT_EQ(part0[1].time, 288u);
  EXPECT_EQ(part0[1].data, noteData(61, 12));
  ASSERT_EQ(s.notes(1).size(), 1u);
  EXPECT_EQ(s.notes(1)[0].data, noteData(69, 96));
  EXPECT_EQ(s.tracks, 2);
}

TEST_F(PhoneReaders, AlsEndsWhereTheFileSaysSo) {
  // 0xFF ending the header leaves no part: one empty chunk.
  Stream s = read(readAls, {0xF0, 'T', 0xFD, 0xFF, 0x01, 0x02});
  EXPECT_EQ(s.size, int32_t(EMPTY_STREAM_SIZE));
  EXPECT_TRUE(s.notes().empty());
  // A title without its end runs to the end of the file.
  Stream t = read(readAls, {0xF0, 'A', 'B'});
  EXPECT_STREQ(song.info.text[INFO_TITLE], "AB");
  EXPECT_EQ(t.tracks, 1);
}

// ---- .cmd ----------------------------------------------------------------------------------

TEST_F(PhoneReaders, CmdTitleTempoTiesAndRests) {
  // Tempo digit 6 (126); C natural octave 1 for a quarter, tied twice ("01" groups of 12 and 24);
  // a rest of an eighth ("0" pitch, octave 0); E sharp-coded octave ("2": octave 1, sharp) with
  // length "A" (2); line breaks between groups.
  Stream s = read(readCmd, textBytes("My tune\r\n*6*66411\r\n401\n601900A32"));
  EXPECT_STREQ(song.info.text[INFO_TITLE], "My tune");
  EXPECT_EQ(s.timebase, 12);
  ASSERT_EQ(s.tempos().size(), 1u);
  EXPECT_EQ(s.tempos()[0].data, tempoData(126));
  std::vector<Event> notes = s.notes();
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].data, noteData(60, 48));
  EXPECT_EQ(notes[1].time, 48u + 8u);
  EXPECT_EQ(notes[1].data, noteData(4 + 12 + 1 + 48, 2));
  EXPECT_EQ(s.trackEnds[0], 58u);
}

TEST_F(PhoneReaders, CmdPartsAfterEitherMark) {
  Stream s = read(readCmd, textBytes("T]]4411*6*61421]]2"));
  EXPECT_STREQ(song.info.text[INFO_TITLE], "T");
  ASSERT_EQ(s.tracks, 3);
  ASSERT_EQ(s.notes(0).size(), 1u);
  EXPECT_EQ(s.notes(0)[0].data, noteData(60, 12));
  ASSERT_EQ(s.notes(1).size(), 1u);
  EXPECT_EQ(s.notes(1)[0].data, noteData(62, 12));
  EXPECT_TRUE(s.notes(2).empty());
  EXPECT_EQ(s.tempos()[0].data, tempoData(108));  // the first part's digit
}

// ---- .mel ----------------------------------------------------------------------------------

TEST_F(PhoneReaders, MelRecordOfTheExample) {
  Stream s = read(readMel, textBytes("<MEL=1,AB,4,114>"));
  EXPECT_STREQ(song.info.text[INFO_TITLE], "AB");
  EXPECT_EQ(song.ProtectFlags, 1);
  ASSERT_EQ(s.tempos().size(), 1u);
  EXPECT_EQ(s.tempos()[0].data, tempoData(108));
  ASSERT_EQ(s.notes().size(), 1u);
  EXPECT_EQ(s.notes()[0].data, noteData(72, 12));
}

TEST_F(PhoneReaders, MelEntitiesRestsAndHmel) {
  Stream s = read(readMel, textBytes("x<MEL=0,a&lt&gt&cmm&ampb,9,0041 1 x 5 6>junk"
                                     "<HMEL=p,q,r,0,726>"));
  EXPECT_STREQ(song.info.text[INFO_TITLE], "a<>,&b");
  EXPECT_EQ(song.ProtectFlags, 0);
  EXPECT_EQ(s.tempos()[0].data, tempoData(168));
  ASSERT_EQ(s.tracks, 2);
  std::vector<Event> part0 = s.notes(0);
  ASSERT_EQ(part0.size(), 1u);
  EXPECT_EQ(part0[0].time, 12u);                    // "004": a rest of 12
  EXPECT_EQ(part0[0].data, noteData(60 + 12, 18));  // "1 1 x 5" with the spaces skipped
  ASSERT_EQ(s.notes(1).size(), 1u);
  EXPECT_EQ(s.notes(1)[0].data, noteData(11 + 12 + 1 + 60, 24));  // octave "2": sharp
}

// ---- J-SKY text ----------------------------------------------------------------------------

TEST_F(PhoneReaders, JskyTitleInJisText) {
  // "A", then JIS 0x30 0x21 (Shift-JIS 0x88 0x9F), then half-width katakana 0x31 (0xB1).
  Bytes image = {'A',  0x1B, '$',  'B', 0x30, 0x21, 0x1B, '(',  'B',
                 0x0E, 0x31, 0x0F, 'z', 0x1B, '$',  'D',  0x28, 0x0F};
  Stream s = read(readJskyText, image);
  EXPECT_STREQ(song.info.text[INFO_TITLE], "A\x88\x9F\xB1z");
  ASSERT_EQ(s.notes().size(), 1u);
  EXPECT_EQ(s.notes()[0].data, noteData(69, 3));
}

TEST_F(PhoneReaders, JskyNotesRestsTiesAndCommands) {
  Bytes image = {
      0x1B, '$',  'D',  0x21, 0x29,  // tempo 126 before any note: replaces the start tempo
      0x2B,                          // A, 24
      0x2F, 0x22, 0x2E,              // B flat (index 1) 24 tied with 12
      0x2F, 0x22, 0x33,              // index 1, then a tie mark before another pitch: no tie
      0x26, 0x22, 0x23,              // rest 24 tied with rest 3
      0x21, 0x22, 0x2A,              // octave up: A5, 12
      0x21, 0x24,                    // octave back to 0
      0x21, 0x26,                    // triplets for three events
      0x2A, 0x2A, 0x2A, 0x2A, 0x21,
      0x2E, 0x21, 0x2E, 0x21, 0x2E,  // volume +2 three times, limited to 4
      0x21, 0x28,                    // tempo 150 later: an event
      0x0F, 0x1B, '$',  'D',  0x21,
      0x2B, 0x21, 0x2C, 0x28, 0x0F};  // part 1: tempo ignored
  Stream s = read(readJskyText, image);
  ASSERT_EQ(s.tempos().size(), 2u);
  EXPECT_EQ(s.tempos()[0].time, 0u);
  EXPECT_EQ(s.tempos()[0].data, tempoData(126));
  std::vector<Event> n = s.notes(0);
  ASSERT_EQ(n.size(), 9u);
  EXPECT_EQ(n[0].data, noteData(69, 24));
  EXPECT_EQ(n[1].data, noteData(70, 36));
  EXPECT_EQ(n[2].time, 60u);
  EXPECT_EQ(n[2].data, noteData(70, 24));
  EXPECT_EQ(n[3].time, 84u);  // the lone tie mark is skipped
  EXPECT_EQ(n[3].data, noteData(71, 24));
  EXPECT_EQ(n[4].time, 84u + 24 + 27);  // after the rest of 24 + 3
  EXPECT_EQ(n[4].data, noteData(69 + 12, 12));
  EXPECT_EQ(n[5].data, noteData(69, 8));  // two thirds of 12
  EXPECT_EQ(n[6].data, noteData(69, 8));
  EXPECT_EQ(n[7].data, noteData(69, 8));
  EXPECT_EQ(n[8].data, noteData(69, 12));  // the triplet is over
  EXPECT_EQ(s.tempos()[1].time, n[8].time + 12);
  EXPECT_EQ(s.tempos()[1].data, tempoData(150));
  std::vector<uint8_t> volumes;
  for (const Event& e : s.events)
    if (e.status == 0xB0) volumes.push_back(e.data[1]);
  EXPECT_EQ(volumes, (std::vector<uint8_t>{111, 127, 127}));
  ASSERT_EQ(s.notes(1).size(), 1u);
  bool part1Volume = false;
  for (const Event& e : s.events)
    if (e.status == 0xB1) part1Volume = e.data == Bytes{CC_VOLUME, 79};
  EXPECT_TRUE(part1Volume);
}

TEST_F(PhoneReaders, JskyTripletLeftOpenEndsWithItsPart) {
  // A triplet of three with only two events left in the part: they are shortened, nothing is
  // played again to fill the group, and the next part starts without a triplet.
  Bytes image = {0x1B, '$', 'D', 0x21, 0x26, 0x2A, 0x2E, 0x0F, 0x1B, '$', 'D', 0x2A, 0x0F};
  Stream s = read(readJskyText, image);
  std::vector<Event> n = s.notes(0);
  ASSERT_EQ(n.size(), 2u);
  EXPECT_EQ(n[0].data, noteData(69, 8));
  EXPECT_EQ(n[1].time, 8u);
  EXPECT_EQ(n[1].data, noteData(70, 8));
  EXPECT_EQ(s.trackEnds[0], 16u);
  ASSERT_EQ(s.notes(1).size(), 1u);
  EXPECT_EQ(s.notes(1)[0].data, noteData(69, 12));
}

// ---- PMD without header --------------------------------------------------------------------

// Packs 4-bit codes as the melody blocks store them: the first in the low nibble of the first
// byte (whose high nibble is `tempo`), then high before low.
Bytes melodyBlock(uint8_t channel, uint8_t tempo, const std::vector<uint8_t>& codes) {
  Bytes data = {uint8_t(tempo << 4 | (codes.empty() ? 0 : codes[0]))};
  for (size_t i = 1; i < codes.size(); i += 2)
    data.push_back(uint8_t(codes[i] << 4 | (i + 1 < codes.size() ? codes[i + 1] : 0xF)));
  data.insert(data.begin(), {channel, uint8_t(data.size())});
  return data;
}

TEST_F(PhoneReaders, PmdRawBlocksTempoProgramsAndMerge) {
  Bytes image = {'M', 'L', 0, 0};
  const Bytes instrument = {0x42, 3, 0x01, 0x38, 11};  // channel 2: program 13 and modulation
  const Bytes unknown = {0x43, 2, 0x05, 0x05};         // channel 3: program 0
  const Bytes skipped = {0x80, 2, 0xAA, 0xBB};
  // Channel 2: C (octave code 1), then E sharp-coded (octave 2) tied with an event of length
  // code 6 (24), then an event with length code 12 that does nothing, then a rest.
  const Bytes melody = melodyBlock(2, 9, {4, 1, 1, 4, 3, 2, 6, 0, 1, 12, 5, 5, 4, 0, 0, 2, 2, 1});
  // Channel 11 (the rhythm channel): snare and hi-hat codes, anything else rests.
  const Bytes rhythm = melodyBlock(10, 1, {4, 1, 0, 4, 2, 0, 4, 3, 0, 4, 2, 0});
  for (const Bytes* b : {&instrument, &unknown, &skipped, &melody, &rhythm})
    image.insert(image.end(), b->begin(), b->end());
  Stream s = read(readPmdRaw, image);
  EXPECT_EQ(s.timebase, 12);
  EXPECT_EQ(s.tracks, 1);
  ASSERT_FALSE(s.events.empty());
  EXPECT_EQ(s.events[0].status, ST_META);
  EXPECT_EQ(s.events[0].data, tempoData(168));  // digit 9 of the first melody block
  EXPECT_EQ(s.events[1].status, 0xC2);
  EXPECT_EQ(s.events[1].data, (Bytes{13, 0}));
  EXPECT_EQ(s.events[2].data, (Bytes{CC_MODULATION, 127}));
  EXPECT_EQ(s.events[3].status, 0xC3);
  EXPECT_EQ(s.events[3].data, (Bytes{0, 0}));
  std::vector<Event> notes = s.notes();
  ASSERT_EQ(notes.size(), 6u);
  // Merged by time, the lower block first on ties.
  EXPECT_EQ(notes[0].status, 0x92);
  EXPECT_EQ(notes[0].data, noteData(60, 12));
  EXPECT_EQ(notes[1].status, 0x9A);
  EXPECT_EQ(notes[1].data, noteData(38, 12));
  EXPECT_EQ(notes[2].time, 12u);
  EXPECT_EQ(notes[2].status, 0x92);
  EXPECT_EQ(notes[2].data, noteData(4 + 12 + 1 + 48, 36));
  EXPECT_EQ(notes[3].data, noteData(46, 12));
  EXPECT_EQ(notes[4].time, 36u);
  EXPECT_EQ(notes[4].data, noteData(46, 12));  // code 3 rested from 24 to 36
  EXPECT_EQ(notes[5].time, 60u);               // after the rest of 12
  EXPECT_EQ(notes[5].data, noteData(62, 6));
  EXPECT_EQ(songStats.rhythmMask, 1 << 10);
  EXPECT_EQ(s.trackEnds[0], 66u);
}

TEST_F(PhoneReaders, PmdRawTieNeedsALength) {
  // A tie mark whose length code does nothing (11 to 15) adds no length, so it does not hold the
  // note back: held, the note would wait for a length that never comes and the next note would
  // take its place. The note sounds with its own length and the next one follows it.
  for (uint8_t code = 11; code <= 15; ++code) {
    SCOPED_TRACE(int(code));
    Stream s = read(readPmdRaw, melodyBlock(0, 4, {4, 1, 1, code, 0, 1, 4, 2, 1}));
    ASSERT_EQ(s.notes().size(), 2u);
    EXPECT_EQ(s.notes()[0].data, noteData(60, 12));
    EXPECT_EQ(s.notes()[1].time, 12u);
    EXPECT_EQ(s.notes()[1].data, noteData(62, 12));
  }
}

TEST_F(PhoneReaders, PmdRawTieMarkAfterASubmittedNoteRests) {
  // C for 12, an event that does nothing, then a tie mark of 12 with no note left to hold: the
  // mark rests, it does not strike C again.
  const Bytes image = {'M', 'L', 0, 0, 0x00, 0x05, 0x34, 0x11, 0xC0, 0x14, 0x01};
  Stream s = read(readPmdRaw, image);
  ASSERT_EQ(s.notes().size(), 1u);
  EXPECT_EQ(s.notes()[0].time, 0u);
  EXPECT_EQ(s.notes()[0].data, noteData(60, 12));
  EXPECT_EQ(s.trackEnds[0], 24u);
  // A proper tie still holds the note, and the mark after it rests again.
  Stream t = read(readPmdRaw, melodyBlock(0, 4, {4, 1, 1, 4, 0, 1, 4, 0, 1, 4, 2, 1}));
  ASSERT_EQ(t.notes().size(), 2u);
  EXPECT_EQ(t.notes()[0].data, noteData(60, 36));
  EXPECT_EQ(t.notes()[1].time, 36u);
  EXPECT_EQ(t.notes()[1].data, noteData(62, 12));
}

// ---- Every reader: bounds, capacity, damaged input -----------------------------------------

struct Sample {
  const char* name;
  StageFn reader;
  Bytes image;
};

std::vector<Sample> samples() {
  Bytes pmd = {'M', 'L', 0, 0, 0x40, 2, 0x01, 0x02};
  Bytes melody = melodyBlock(0, 3, {4, 1, 1, 4, 0, 1, 5, 3, 3, 9, 5, 4, 1, 7, 6});
  Bytes rhythm = melodyBlock(10, 3, {4, 1, 0, 4, 2, 0});
  pmd.insert(pmd.end(), melody.begin(), melody.end());
  pmd.insert(pmd.end(), rhythm.begin(), rhythm.end());
  return {
      {"dat", readDat, {0x03, 0x08, 0x48, 0x82, 0x00, 0x01, 0xFF, 0x05, 0xC4, 0x10, 0x3F, 0xFF}},
      {"als",
       readAls,
       {0xE1, 0xF0, 'T', 0xFD, 0xF1, 0x62, 0xC4, 0xC6, 0x27, 0x00, 0x70, 0xF2, 0x30, 0xFF}},
      {"cmd", readCmd, textBytes("Tune\r\n*6*66411\r\n401601\n600920]]1A32")},
      {"mel", readMel, textBytes("<MEL=1,T&lt,4,114001226>\r\n<HMEL=a,b,c,3,739>")},
      {"jsky", readJskyText, {'T',  0x1B, '$',  'B',  0x30, 0x21, 0x1B, '$',  'D',  0x21,
                              0x29, 0x2B, 0x22, 0x2B, 0x21, 0x25, 0x2A, 0x24, 0x21, 0x2E,
                              0x0F, 0x1B, '$',  'D',  0x7F, 0x26, 0x22, 0x23, 0x0F}},
      {"pmd", readPmdRaw, pmd},
  };
}

bool sameStream(const Stream& a, const Stream& b) {
  if (a.events.size() != b.events.size()) return false;
  for (size_t i = 0; i < a.events.size(); ++i)
    if (a.events[i].time != b.events[i].time || a.events[i].status != b.events[i].status ||
        a.events[i].data != b.events[i].data)
      return false;
  return true;
}

TEST_F(PhoneReaders, EveryPrefixReadsToAValidStream) {
  for (const Sample& sample : samples()) {
    Stream whole = read(sample.reader, sample.image);
    EXPECT_FALSE(whole.notes().empty()) << sample.name;
    for (size_t n = 0; n <= sample.image.size(); ++n) {
      Bytes prefix(sample.image.begin(), sample.image.begin() + long(n));
      Stream s = read(sample.reader, prefix);
      ASSERT_GT(s.size, 0) << sample.name << " prefix " << n;
      EXPECT_FALSE(s.truncated) << sample.name << " prefix " << n;
      EXPECT_LE(s.notes().size(), whole.notes().size()) << sample.name << " prefix " << n;
    }
    // Reading twice gives the same stream: nothing of one read leaks into the next.
    EXPECT_TRUE(sameStream(whole, read(sample.reader, sample.image))) << sample.name;
  }
}

TEST_F(PhoneReaders, SmallBuffersShortenTheStream) {
  for (const Sample& sample : samples()) {
    const Stream whole = read(sample.reader, sample.image);
    for (uint32_t capacity = 0; capacity <= uint32_t(whole.size) + 16; ++capacity) {
      Stream s = read(sample.reader, sample.image, capacity);
      if (capacity < 33) {
        EXPECT_EQ(s.size, 0) << sample.name << " capacity " << capacity;
        continue;
      }
      ASSERT_GT(s.size, 0) << sample.name << " capacity " << capacity;
      EXPECT_FALSE(s.truncated) << sample.name << " capacity " << capacity;
    }
    EXPECT_TRUE(sameStream(whole, read(sample.reader, sample.image, uint32_t(whole.size) + 16)))
        << sample.name;
  }
}

TEST_F(PhoneReaders, RandomAndCorruptedBytes) {
  std::mt19937 rng(20240611);
  for (const Sample& sample : samples()) {
    for (int round = 0; round < 300; ++round) {
      Bytes image = sample.image;
      if (round % 3 == 0) {
        image.resize(rng() % 200);
        for (uint8_t& b : image) b = uint8_t(rng());
      } else {
        for (int k = 0; k < 3; ++k) image[rng() % image.size()] = uint8_t(rng());
      }
      const uint32_t capacity = 33 + rng() % 400;
      Stream s = read(sample.reader, image, capacity);
      ASSERT_GT(s.size, 0) << sample.name;
      EXPECT_FALSE(s.truncated) << sample.name;
      EXPECT_LE(s.tracks, sample.reader == readPmdRaw ? 1 : 16);
      for (const Event& e : s.notes()) EXPECT_LE(e.data[0], 127) << sample.name;
    }
  }
  // No image at all.
  for (const Sample& sample : samples()) {
    int32_t size = -1;
    std::vector<uint8_t> out(256);
    sample.reader(nullptr, 0, out.data(), &size, 256);
    EXPECT_GE(size, int32_t(EMPTY_STREAM_SIZE)) << sample.name;
    EXPECT_LE(size, int32_t(EMPTY_STREAM_SIZE + 7)) << sample.name;  // at most a tempo
  }
}

TEST_F(PhoneReaders, FormatTableNamesTheReaders) {
  const std::pair<FormatCode, StageFn> rows[] = {
      {FORMAT_DAT, readDat},           {FORMAT_ALS, readAls},  {FORMAT_CMD, readCmd},
      {FORMAT_PMD_RAW, readPmdRaw},    {FORMAT_MEL, readMel},  {FORMAT_SMD_TEXT, readJskyText},
      {FORMAT_SMZ_TEXT, readJskyText}, {FORMAT_WAV, readWave}, {FORMAT_QCP, readQcp}};
  for (auto [code, reader] : rows) {
    ASSERT_NE(findInputFormat(code), nullptr) << code;
    EXPECT_EQ(findInputFormat(code)->reader, reader) << code;
  }
}

}  // namespace
}  // namespace vlm
