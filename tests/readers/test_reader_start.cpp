// What every reader shares at its start and its end: a buffer too small for an empty song gets
// nothing and leaves the last song as it was; otherwise the last song's texts, protection and
// statistics are gone and the reader leaves a complete stream, whatever its input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/run_state.h"
#include "core/stages.h"
#include "core/vstream.h"

namespace vlm {
namespace {

using Bytes = std::vector<uint8_t>;

// A RIFF WAVE head with a format chunk (mono, 8000 Hz, 16 bits) and an empty data chunk.
Bytes emptyWave() {
  Bytes b = {'R', 'I', 'F', 'F', 36, 0, 0,   0,   'W', 'A',  'V',  'E', 'f', 'm',  't',
             ' ', 16,  0,   0,   0,  1, 0,   1,   0,   0x40, 0x1F, 0,   0,   0x80, 0x3E,
             0,   0,   2,   0,   16, 0, 'd', 'a', 't', 'a',  0,    0,   0,   0};
  return b;
}

struct ReaderCase {
  const char* name;
  StageFn read;
  Bytes input;
};

std::vector<ReaderCase> readerCases() {
  const Bytes text = {0x00};  // no title, no song: the text formats would take text as title
  return {
      {"smf", readSmf, text},       {"mld", readMld, text},          {"smaf", readSmaf, text},
      {"mml", readMml, text},       {"dat", readDat, text},          {"als", readAls, text},
      {"cmd", readCmd, text},       {"pmdRaw", readPmdRaw, text},    {"mel", readMel, text},
      {"jsky", readJskyText, text}, {"wave", readWave, emptyWave()}, {"qcp", readQcp, emptyWave()}};
}

class ReaderStart : public ::testing::TestWithParam<ReaderCase> {
 protected:
  // The state a previous song leaves behind.
  void leaveLastSong() {
    resetRun();
    setSongText(INFO_TITLE, "stale", 5);
    song.ProtectFlags = PROTECT_COPY | PROTECT_SAVE;
    songStats.tempoMax = 999;
    songStats.formatVersion = 77;
  }
};

TEST_P(ReaderStart, BeginsACleanSongAndEndsAWholeStream) {
  const ReaderCase& c = GetParam();
  leaveLastSong();
  Bytes out(4096);
  int32_t size = -1;
  c.read(c.input.data(), uint32_t(c.input.size()), out.data(), &size, uint32_t(out.size()));
  ASSERT_GT(size, 0);
  ASSERT_LE(size_t(size), out.size());
  EXPECT_STREQ(song.info.text[INFO_TITLE], "");
  EXPECT_EQ(song.ProtectFlags, 0);
  EXPECT_NE(songStats.tempoMax, 999u);
  EXPECT_EQ(songStats.formatVersion, 0);

  TrackTable table;
  ASSERT_GE(loadTrackTable(table, out.data(), uint32_t(size)), 1);
  EXPECT_GT(table.timebase, 0);
  StreamEvent ev;
  int ends = 0;
  while (nextStreamEvent(table, ev))
    ends += ev.status == ST_META && ev.metaType == META_END_OF_TRACK;
  EXPECT_FALSE(table.truncated);
  EXPECT_EQ(ends, table.count);  // every chunk is closed
}

TEST_P(ReaderStart, ABufferWithoutRoomGetsNothingAndTheLastSongStays) {
  const ReaderCase& c = GetParam();
  leaveLastSong();
  Bytes out(EMPTY_STREAM_SIZE, 0xA5);
  int32_t size = -1;
  c.read(c.input.data(), uint32_t(c.input.size()), out.data(), &size, 8);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(out, Bytes(EMPTY_STREAM_SIZE, 0xA5));
  EXPECT_STREQ(song.info.text[INFO_TITLE], "stale");
  EXPECT_EQ(songStats.formatVersion, 77);

  c.read(c.input.data(), uint32_t(c.input.size()), nullptr, &size, 4096);
  EXPECT_EQ(size, 0);
}

INSTANTIATE_TEST_SUITE_P(EveryReader, ReaderStart, ::testing::ValuesIn(readerCases()),
                         [](const ::testing::TestParamInfo<ReaderCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace vlm
