#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "convert/options.h"
#include "core/stages.h"
#include "core/run_state.h"
#include "core/vstream.h"
#include "test_util.h"

namespace vlm {
namespace {

using test::Bytes;

using Event = test::StreamEventCopy;

struct Note {
  uint32_t time;
  int track;
  int channel;
  int note;
  int velocity;
  int duration;
};

// The reader's output read back, with the notes decoded.
struct Result : test::CollectedStream {
  std::vector<Note> notes() const {
    std::vector<Note> out;
    for (const Event& e : events)
      if ((e.status & 0xF0) == ST_NOTE)
        out.push_back(
            {e.time, e.track, e.status & 0x0F, e.data[0], e.data[1], e.data[2] << 8 | e.data[3]});
    return out;
  }
  std::vector<int> pitches() const {
    std::vector<int> out;
    for (const Note& n : notes()) out.push_back(n.note);
    return out;
  }
};

Result read(const std::string& text, uint32_t capacity = 1 << 16) {
  const Bytes image(text.begin(), text.end());
  return Result{test::runStage(readMml, image, capacity)};
}

class MmlReader : public ::testing::Test {
 protected:
  void SetUp() override { resetRun(); }
};

TEST_F(MmlReader, LengthsGatesAndChords) {
  Result r = read("{L8 CDE}");
  EXPECT_EQ(r.timebase, 960);
  ASSERT_EQ(r.notes().size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(r.notes()[i].time, uint32_t(480 * i));
    EXPECT_EQ(r.notes()[i].duration, 480);
  }
  EXPECT_EQ(r.pitches(), (std::vector<int>{72, 74, 76}));  // octave 6 by default

  r = read("{Q4 C2 D}");
  ASSERT_EQ(r.notes().size(), 2u);
  EXPECT_EQ(r.notes()[0].duration, 960);
  EXPECT_EQ(r.notes()[1].time, 1920u);
  EXPECT_EQ(r.notes()[1].duration, 480);

  r = read("{C=E=G D}");
  ASSERT_EQ(r.notes().size(), 4u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(r.notes()[i].time, 0u);
  EXPECT_EQ(r.notes()[3].time, 960u);
}

TEST_F(MmlReader, DottedTiedAndDividedLengths) {
  struct Case {
    const char* text;
    uint32_t ticks;
  } cases[] = {
      {"{C4. D}", 1440},  {"{C8^16 D}", 720},  {"{C3^3^3 D}", 3840}, {"{C4/2 D}", 480},
      {"{C4*3 D}", 2880}, {"{L16 C^ D}", 480}, {"{C1.. D}", 8640},   {"{L2 C. D}", 2880},
      {"{C#4. D}", 1440}, {"{C4.# D}", 1440},  {"{R4. D}", 1440},    {"{L8 R D}", 480},
  };
  for (const Case& c : cases) {
    Result r = read(c.text);
    ASSERT_EQ(r.notes().size(), c.text[1] == 'R' || c.text[4] == 'R' ? 1u : 2u) << c.text;
    EXPECT_EQ(r.notes().back().time, c.ticks) << c.text;
  }
}

TEST_F(MmlReader, OctavesAccidentalsAndNoteNumbers) {
  EXPECT_EQ(read("{O5 C C# D- E+ F> G< A B}").pitches(),
            (std::vector<int>{60, 61, 61, 65, 77, 55, 69, 71}));
  // "<" and ">" between notes move the octave, within 0..10.
  EXPECT_EQ(read("{O5 C > C >>>>>>>> C < C}").pitches(), (std::vector<int>{60, 72, 120, 108}));
  EXPECT_EQ(read("{O1 C <<< C O+2 C O-1 C}").pitches(), (std::vector<int>{12, 0, 24, 12}));
  EXPECT_EQ(read("{o5 c l8 d}").pitches(), (std::vector<int>{60, 62}));  // letters in any case
  // N takes a number, relative with a sign to the last N value.
  EXPECT_EQ(read("{N60 N+2 N-5 N N200}").pitches(), (std::vector<int>{60, 62, 57, 57, 127}));
}

TEST_F(MmlReader, TranspositionFoldsIntoTheNoteRange) {
  EXPECT_EQ(read("O0 K-13 {C}").pitches(), (std::vector<int>{11}));
  EXPECT_EQ(read("{O0 K-13 C}").pitches(), (std::vector<int>{11}));
  EXPECT_EQ(read("{O10 G K+1 G}").pitches(), (std::vector<int>{127, 116}));
  // Global transposition reaches every later part; a part's own only that part.
  Result r = read("K-1 {O5 C K+5 C}{O5 C}");
  EXPECT_EQ(r.pitches(), (std::vector<int>{59, 59, 64}));
}

TEST_F(MmlReader, LoopsRepeatTheirText) {
  EXPECT_EQ(read("{[C]3}").notes().size(), 3u);
  EXPECT_EQ(read("{[C}").notes().size(), 1u);
  EXPECT_EQ(read("{[C]}").notes().size(), 1u);
  EXPECT_EQ(read("{[C[D]2]3}").pitches(), (std::vector<int>{72, 74, 74, 72, 74, 74, 72, 74, 74}));
  EXPECT_EQ(read("{C]5 D}").notes().size(), 2u);  // a "]" without its "[" does nothing
  Result r = read("{L8 [CD]2 E}");
  ASSERT_EQ(r.notes().size(), 5u);
  EXPECT_EQ(r.notes()[4].time, 1920u);
  // Beyond 16 levels a "[" is ignored and its "]" closes the enclosing loop.
  std::string deep = "{" + std::string(17, '[') + "C" + std::string(17, ']') + "}";
  EXPECT_EQ(read(deep).notes().size(), 1u);
}

TEST_F(MmlReader, PartsBecomeChunksThatStartAtZero) {
  Result r = read("{CDE}{EFG}");
  EXPECT_EQ(r.tracks, 2);
  EXPECT_EQ(r.notes().size(), 6u);
  r = read("#TITLE \"x\"\n{R1 C}\n{R1 D}\n");
  ASSERT_EQ(r.tracks, 2);  // the final blank line is no part
  ASSERT_EQ(r.notes().size(), 2u);
  EXPECT_EQ(r.notes()[0].time, 3840u);
  EXPECT_EQ(r.notes()[1].time, 3840u);
  EXPECT_EQ(r.notes()[0].channel, 0);
  EXPECT_EQ(r.notes()[1].channel, 1);
  EXPECT_EQ(r.notes()[1].track, 1);
  // Merged by time across the chunks.
  r = read("{L4 C R C}{L4 R D R D}");
  std::vector<int> order;
  for (const Note& n : r.notes()) order.push_back(n.note);
  EXPECT_EQ(order, (std::vector<int>{72, 74, 72, 74}));
  // A part of rests only still lasts; the chunk ends after the last rest.
  r = read("{C}{R1 R1}");
  ASSERT_EQ(r.tracks, 2);
  EXPECT_EQ(r.trackEnds[1], 7680u);
  // At most 16 parts.
  std::string many;
  for (int i = 0; i < 20; ++i) many += "{C}";
  r = read(many);
  EXPECT_EQ(r.tracks, 16);
  EXPECT_EQ(r.notes().back().channel, 15);
  // "!" moves the part to another channel; the tempo carries over from part to part.
  r = read("{!10 C !+2 D}{T90}{C}");
  std::vector<int> channels;
  for (const Note& n : r.notes()) channels.push_back(n.track * 100 + n.channel);
  EXPECT_EQ(channels, (std::vector<int>{9, 202, 11}));
}

TEST_F(MmlReader, EmptyTextGivesAnEmptyStream) {
  Result r = read("");
  EXPECT_EQ(r.size, int32_t(EMPTY_STREAM_SIZE));
  EXPECT_EQ(r.tracks, 1);
  EXPECT_EQ(read("// nothing\n\n").size, int32_t(EMPTY_STREAM_SIZE));
}

TEST_F(MmlReader, SongTextsInShiftJis) {
  // "曲" and "表" (whose follower is a backslash) and "ソ" (whose follower is "\").
  const std::string kyoku = "\x8B\xC8", hyou = "\x95\x5C", so = "\x83\x5C";
  std::string text = "#TITLE \"" + kyoku + hyou + "\"\n#COPYRIGHT 'c " + so +
                     "'\n#ARTIST\n\"untitled\"\n#LYRICE \"w\"\n#COMPOSE \"m\"\n#ARRANGE \"a\""
                     "\n#GENRE \"g\"\n#DATE \"2003\"\n{#WORDS \"" +
                     hyou + "\" C}";
  Result r = read(text);
  // The line that selected the artist ended before the quoted text: that one is the title.
  EXPECT_STREQ(song.info.text[INFO_TITLE], "untitled");
  EXPECT_EQ(std::string(song.info.text[INFO_COPYRIGHT]), "c " + so);
  EXPECT_STREQ(song.info.text[INFO_ARTIST], "");
  EXPECT_STREQ(song.info.text[INFO_WORDS], "w");
  EXPECT_STREQ(song.info.text[INFO_COMPOSE], "m");
  EXPECT_STREQ(song.info.text[INFO_ARRANGE], "a");
  EXPECT_STREQ(song.info.text[INFO_GENRE], "g");
  EXPECT_STREQ(song.info.text[INFO_DATE], "2003");
  auto lyrics = r.meta(META_LYRIC);
  ASSERT_EQ(lyrics.size(), 1u);
  EXPECT_EQ(std::string(lyrics[0].data.begin(), lyrics[0].data.end()), hyou);
  EXPECT_EQ(r.notes().size(), 1u);

  read("#TITLE \"" + kyoku + hyou + "\"");
  EXPECT_EQ(std::string(song.info.text[INFO_TITLE]), kyoku + hyou);
  // Keywords are case-sensitive: "#title" is a comment line.
  read("#title \"x\"\n");
  EXPECT_STREQ(song.info.text[INFO_TITLE], "");
  // 255 bytes at most, never half of a pair.
  std::string longText = "x";
  for (int i = 0; i < 200; ++i) longText += kyoku;
  read("#TITLE \"" + longText + "\"");
  EXPECT_EQ(std::strlen(song.info.text[INFO_TITLE]), 255u);
  read("#TITLE \"x" + longText + "\"");
  EXPECT_EQ(std::strlen(song.info.text[INFO_TITLE]), 254u);
}

TEST_F(MmlReader, ShiftJisPairsAreNeverCommands) {
  // Followers "C" (0x43), "}" (0x7D), "[" (0x5B) and "@" (0x40) belong to their lead byte.
  Result r = read("{\x83\x43 \x81\x7D \x81\x5B \x81\x40 D}");
  EXPECT_EQ(r.tracks, 1);
  EXPECT_EQ(r.pitches(), (std::vector<int>{74}));
  EXPECT_TRUE(r.with(ST_PROGRAM).empty());
  // A lead byte at the very end stands alone.
  EXPECT_EQ(read("{C}\x83").tracks, 1);
  r = read("{C \x83");
  EXPECT_EQ(r.notes().size(), 1u);
}

TEST_F(MmlReader, CommentsAndUnknownCharacters) {
  EXPECT_EQ(read("{C /* D E */ F // G\n A ; B\n C}").pitches(), (std::vector<int>{72, 77, 81, 72}));
  EXPECT_EQ(read("{C /* D E").notes().size(), 1u);
  EXPECT_EQ(read("#OTHER C D\n{C}").notes().size(), 1u);
  EXPECT_EQ(read("{C 123 $ & ~ = Z D}").notes().size(), 2u);
}

TEST_F(MmlReader, ProgramsAndRhythmChannels) {
  Result r = read("{@5 C @+2 @128 @0 @129}");
  std::vector<Event> events;
  for (const Event& e : r.events)
    if (e.status == 0xB0 || e.status == 0xC0) events.push_back(e);
  ASSERT_EQ(events.size(), 7u);
  EXPECT_EQ(events[0].data, (Bytes{5, 0}));
  EXPECT_EQ(events[1].data, (Bytes{7, 0}));
  EXPECT_EQ(events[2].data, (Bytes{CC_RHYTHM_PART, 1}));  // @128: only the rhythm bit
  EXPECT_EQ(events[3].data, (Bytes{CC_RHYTHM_PART, 0}));
  EXPECT_EQ(events[4].data, (Bytes{0, 0}));
  EXPECT_EQ(events[5].data, (Bytes{CC_RHYTHM_PART, 1}));
  EXPECT_EQ(events[6].data, (Bytes{0, 0x1B}));
  // Channel 10 is a rhythm channel from the start.
  r = read("{!10 @128 @129 C}");
  ASSERT_EQ(r.with(0xB9).size(), 0u);
  ASSERT_EQ(r.with(0xC9).size(), 1u);
  EXPECT_EQ(r.with(0xC9)[0].data, (Bytes{0, 0x1B}));
}

TEST_F(MmlReader, ControllersBendsAndTempo) {
  Result r = read("{V100 X64 P+10 M5 HR12 H96 H T300 C}");
  auto cc = r.with(0xB0);
  ASSERT_EQ(cc.size(), 5u);
  EXPECT_EQ(cc[0].data, (Bytes{7, 100}));
  EXPECT_EQ(cc[1].data, (Bytes{7, 50}));  // expression folds into the volume
  EXPECT_EQ(cc[2].data, (Bytes{10, 74}));
  EXPECT_EQ(cc[3].data, (Bytes{1, 5}));
  EXPECT_EQ(cc[4].data, (Bytes{CC_BEND_RANGE, 12}));
  auto bends = r.with(0xE0);
  ASSERT_EQ(bends.size(), 2u);
  EXPECT_EQ(bends[0].data, (Bytes{0, 96}));
  EXPECT_EQ(bends[1].data, (Bytes{0, 96}));  // no number keeps the value
  auto tempo = r.meta(META_TEMPO);
  ASSERT_EQ(tempo.size(), 1u);
  EXPECT_EQ(tempo[0].data, (Bytes{0x03, 0x0D, 0x40}));  // 200000 microseconds
  EXPECT_EQ(read("{T2}").meta(META_TEMPO)[0].data, (Bytes{0xE4, 0xE1, 0xC0}));  // 4 bpm
  r = read("{U64 C U+100 D V999}");
  EXPECT_EQ(r.notes()[0].velocity, 64);
  EXPECT_EQ(r.notes()[1].velocity, 127);
  EXPECT_EQ(r.with(0xB0)[0].data, (Bytes{7, 127}));
}

TEST_F(MmlReader, MarkersCuesAndTimebase) {
  Result r = read("{C1 %3 D}{R%3 E R%3 F}");
  ASSERT_EQ(r.notes().size(), 4u);
  EXPECT_EQ(r.notes()[2].time, 3840u);  // E waits for marker 3 of the first part
  EXPECT_EQ(r.notes()[3].time, 4800u);  // a marker not later than now rests nothing
  r = read("{C #START\nD #STOP\n}");
  auto cues = r.meta(META_CUE);
  ASSERT_EQ(cues.size(), 2u);
  EXPECT_EQ(cues[0].time, 960u);
  EXPECT_EQ(cues[0].data, (Bytes{0}));
  EXPECT_EQ(cues[1].data, (Bytes{1}));
  r = read("#TIMEBASE \t48\n{C D}");
  EXPECT_EQ(r.timebase, 48);
  EXPECT_EQ(r.notes()[1].time, 48u);  // the default length is a quarter of the new timebase
  EXPECT_EQ(read("{#TIMEBASE 48\nC}").timebase, 960);  // inside braces: ignored
  EXPECT_EQ(read("#TIMEBASE 5000\n").timebase, 960);
  // Once events are written, their ticks stay as they are.
  EXPECT_EQ(read("{C}#TIMEBASE 48\n{C}").timebase, 960);
}

TEST_F(MmlReader, PolyphonyIsTheSumOverTheParts) {
  read("{C=E=G}{C=E}{C}");
  EXPECT_EQ(songStats.maxPolyphony, 6);
}

// A text that uses every command.
std::string richText() {
  return "#TITLE \"\x8B\xC8\"\n#COPYRIGHT \"(c)\"\n#TIMEBASE 480\nK+1\n"
         "{T140 @5 V100 X90 P64 M3 HR2 H64 Q7 U100 L8 O5 /* c */ %1 [CDE>F<]2 C4.=E8^16 "
         "#WORDS \"la\"\n N60 N+3 #START\n R4 c+d-e#8 ; x\n #STOP\n}\n"
         "{!10 @128 C D E R%1 @129 L16 [C]4 @0 K-2 G}\n{[R1]3 C}";
}

TEST_F(MmlReader, EveryPrefixOfARichTextReadsSafely) {
  const std::string text = richText();
  Result whole = read(text);
  EXPECT_EQ(whole.tracks, 3);
  EXPECT_GE(whole.notes().size(), 20u);
  for (size_t n = 0; n <= text.size(); ++n) {
    Result r = read(text.substr(0, n));
    EXPECT_GE(r.size, int32_t(EMPTY_STREAM_SIZE)) << n;
    EXPECT_FALSE(r.truncated) << n;
  }
}

TEST_F(MmlReader, CorruptedTextsReadSafely) {
  const std::string text = richText();
  uint32_t seed = 4321;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  for (int round = 0; round < 2000; ++round) {
    std::string bad = text;
    int flips = 1 + next() % 6;
    for (int i = 0; i < flips; ++i) bad[(next() >> 8) % bad.size()] = char(next() >> 16);
    Result r = read(bad);
    EXPECT_GE(r.size, int32_t(EMPTY_STREAM_SIZE)) << round;
    EXPECT_FALSE(r.truncated) << round;
  }
}

TEST_F(MmlReader, PathologicalTextsFinish) {
  // Nested loops of rests produce no events; the reading still ends.
  std::string rests = std::string(16, '[') + "R";
  for (int i = 0; i < 16; ++i) rests += "]255";
  Result r = read("{" + rests + " C}");
  EXPECT_GE(r.size, int32_t(EMPTY_STREAM_SIZE));
  EXPECT_FALSE(r.truncated);
  // Nested loops of notes fill the buffer and stop there.
  std::string notes = std::string(16, '[') + "CDEFGAB";
  for (int i = 0; i < 16; ++i) notes += "]255";
  r = read(notes, 4096);
  EXPECT_LE(r.size, 4096);
  EXPECT_FALSE(r.truncated);
  EXPECT_GT(r.notes().size(), 100u);
  // Deep nesting and huge numbers.
  r = read("{" + std::string(100000, '[') + "C" + std::string(100000, ']') + "}");
  EXPECT_EQ(r.notes().size(), 1u);
  r = read(
      "{C99999999999999999999 T99999999999 V-999999999999 L1*128*128*128*128 C "
      "N+99999999999 Q999 C1 R1 K-99999999 C" +
      std::string(5000, '#') + std::string(5000, '>') + "}");
  EXPECT_FALSE(r.truncated);
  for (const Note& n : r.notes()) {
    EXPECT_LE(n.note, 127);
    EXPECT_LE(n.duration, 0xFFFF);
  }
  // Time saturates instead of wrapping: notes stay in order.
  r = read("{[L1*128*128*128 R]255 C D}");
  ASSERT_EQ(r.notes().size(), 2u);
  EXPECT_LE(r.notes()[0].time, r.notes()[1].time);
}

TEST_F(MmlReader, SmallOutputBuffersShortenTheStream) {
  std::string text = "{";
  for (int i = 0; i < 300; ++i) text += "C";
  text += "}{CDE}";
  for (uint32_t capacity : {0u, 10u, 29u, 30u, 31u, 40u, 64u, 200u, 1000u}) {
    Result r = read(text, capacity);
    EXPECT_LE(uint32_t(r.size), capacity);
    EXPECT_FALSE(r.truncated) << capacity;
    if (capacity >= 30) {
      EXPECT_GE(r.size, int32_t(EMPTY_STREAM_SIZE)) << capacity;
    }
  }
  EXPECT_LT(read(text, 1000).notes().size(), 300u);
}

}  // namespace
}  // namespace vlm
