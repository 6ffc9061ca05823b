#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "core/reader_events.h"
#include "core/run_state.h"
#include "core/stream_dump.h"
#include "core/thread_record.h"
#include "core/vstream.h"

namespace vlm {
namespace {

// A reader's frame around the submissions of `body`: the stream at timebase 48 with one chunk,
// listed event by event.
template <typename Body>
std::string readerStream(uint32_t capacity, Body body) {
  resetRun();
  std::vector<uint8_t> out(capacity + 64);
  int32_t size = -1;
  if (!beginReaderStream(out.data(), capacity, EMPTY_STREAM_SIZE, 48)) return "refused";
  writeTrackChunk(out.data());
  EventSink sink = sinkFor(out.data(), capacity);
  body(sink);
  endReaderStream(out.data(), &size);
  EXPECT_LE(uint32_t(size), capacity);
  return dumpStream(out.data(), uint32_t(size));
}

TEST(ReaderEvents, TypedHelpersWriteTheStreamBytes) {
  const std::string dump = readerStream(1024, [](EventSink& s) {
    EXPECT_TRUE(submitTempo(s, 0, 0, 500000));
    EXPECT_TRUE(submitProgram(s, 0, 0, 2, 0x85, 0x1B));  // the program keeps 7 bits
    EXPECT_TRUE(submitControl(s, 0, 0, 2, CC_VOLUME, 0xE4));
    EXPECT_TRUE(submitBend(s, 0, 0, 2, 0x100, 0x40));
    EXPECT_TRUE(submitMetaByte(s, 0, 0, META_CUE, 1));
    EXPECT_TRUE(submitNote(s, 12, 0, uint8_t(ST_TIMED_NOTE | 2), 60, 100, 24));
  });
  EXPECT_EQ(dump,
            "timebase 48\n"
            "0 0 FF 51 03 07 A1 20\n"
            "0 0 C2 05 1B\n"
            "0 0 B2 07 64\n"
            "0 0 E2 00 40\n"
            "0 0 FF 84 01 01\n"
            "12 0 92 3C 64 00 18\n"
            "12 0 FF 2F 00\n");
}

TEST(ReaderEvents, LongValuesAreCutToWhatTheStreamHolds) {
  const std::string dump = readerStream(1024, [](EventSink& s) {
    submitTempo(s, 0, 0, 60000000);  // one beat a minute does not fit three bytes
    submitNote(s, 0, 0, uint8_t(ST_TIMED_NOTE | 0), 200, 300, uint64_t(1) << 40);
  });
  EXPECT_NE(dump.find("0 0 FF 51 03 FF FF FF\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find("0 0 90 48 2C FF FF\n"), std::string::npos) << dump;
}

TEST(ReaderEvents, MetaBodiesOfAnyLengthKeepTheirBytes) {
  std::vector<uint8_t> body(300);
  for (size_t i = 0; i < body.size(); ++i) body[i] = uint8_t(i);
  const std::string dump = readerStream(4096, [&](EventSink& s) {
    EXPECT_TRUE(submitMeta(s, 5, 0, META_LYRIC, body.data(), uint32_t(body.size())));
    EXPECT_TRUE(submitMeta(s, 6, 0, META_TEXT, body.data(), 0));
  });
  // A length of 300 takes two bytes: 82 2C.
  EXPECT_NE(dump.find("5 0 FF 05 82 2C 00 01 02 03"), std::string::npos) << dump;
  EXPECT_NE(dump.find(" 2A 2B\n6 0 FF 01 00\n"), std::string::npos) << dump;
}

TEST(ReaderEvents, AWaveCarriesItsNumberRateCodeAndSamples) {
  const uint8_t samples[4] = {0x12, 0x34, 0x56, 0x78};
  const std::string dump = readerStream(1024, [&](EventSink& s) {
    EXPECT_TRUE(submitWave(s, 0, 0, 3, 1, samples, 4));
    EXPECT_TRUE(submitWave(s, 0, 0, 4, WAVE_RATE_NONE, nullptr, 0));  // a wave without samples
  });
  EXPECT_NE(dump.find("0 0 FF 86 06 03 01 12 34 56 78\n0 0 FF 86 02 04 FF\n"), std::string::npos)
      << dump;
}

TEST(ReaderEvents, AFullBufferRefusesEveryLaterEvent) {
  std::vector<uint8_t> lyric(200, 'a');
  int accepted = 0;
  bool smallAfterFull = true;
  readerStream(EMPTY_STREAM_SIZE + 40, [&](EventSink& s) {
    accepted += submitControl(s, 0, 0, 0, CC_VOLUME, 100);
    accepted += submitMeta(s, 0, 0, META_LYRIC, lyric.data(), uint32_t(lyric.size()));
    EXPECT_TRUE(s.full);
    // A short event would fit the room left; once the sink is full it is not even tried.
    smallAfterFull = submitControl(s, 0, 0, 0, CC_PAN, 64);
  });
  EXPECT_EQ(accepted, 1);
  EXPECT_FALSE(smallAfterFull);
}

TEST(ReaderEvents, AStreamOfPartsWithoutAChunkGetsAnEmptyOne) {
  resetRun();
  std::vector<uint8_t> out(256);
  int32_t size = -1;
  ASSERT_TRUE(beginReaderStream(out.data(), 256, EMPTY_STREAM_SIZE, 96));
  endChunkedReaderStream(out.data(), &size, false);
  EXPECT_EQ(size, int32_t(EMPTY_STREAM_SIZE));
  EXPECT_EQ(dumpStream(out.data(), uint32_t(size)), "timebase 96\n0 0 FF 2F 00\n");
}

TEST(ReaderEvents, ChunksClosedByTheReaderAreNotClosedAgain) {
  resetRun();
  std::vector<uint8_t> out(256);
  int32_t size = -1;
  ASSERT_TRUE(beginReaderStream(out.data(), 256, EMPTY_STREAM_SIZE, 96));
  EventSink sink = sinkFor(out.data(), 256);
  for (uint8_t part = 0; part < 2; ++part) {
    writer.outTrack = part;
    writeTrackChunk(out.data());
    submitControl(sink, 0, part, part, CC_VOLUME, 90);
    finishStream(out.data());
  }
  const uint32_t closed = writer.pos;
  endChunkedReaderStream(out.data(), &size, true);
  EXPECT_EQ(uint32_t(size), closed);
  EXPECT_EQ(dumpStream(out.data(), uint32_t(size)),
            "timebase 96\n0 0 B0 07 5A\n0 0 FF 2F 00\n0 1 B1 07 5A\n0 1 FF 2F 00\n");
}

TEST(ReaderEvents, BufferTooSmallForAnEmptySongGetsNothing) {
  resetRun();
  setSongText(INFO_TITLE, "kept", 4);
  std::vector<uint8_t> out(16);
  EXPECT_FALSE(beginReaderStream(out.data(), 16, EMPTY_STREAM_SIZE, 48));
  EXPECT_FALSE(beginReaderStream(nullptr, 4096, EMPTY_STREAM_SIZE, 48));
  // Nothing was begun, so the last song's texts are still there.
  EXPECT_STREQ(song.info.text[INFO_TITLE], "kept");
}

struct Counter {
  int value = 0;
};
struct Owner {
  std::vector<int> items;
};

TEST(ThreadRecord, OneRecordPerThreadOfEitherKind) {
  threadRecord<Counter>().value = 7;
  threadRecord<Owner>().items.push_back(1);
  int seenValue = -1;
  size_t seenItems = 99;
  std::thread other([&] {
    seenValue = threadRecord<Counter>().value;
    seenItems = threadRecord<Owner>().items.size();
  });
  other.join();
  EXPECT_EQ(seenValue, 0);
  EXPECT_EQ(seenItems, 0u);
  EXPECT_EQ(threadRecord<Counter>().value, 7);
  EXPECT_EQ(&threadRecord<Owner>(), &threadRecord<Owner>());
}

}  // namespace
}  // namespace vlm
