// The contract of every writer of the format table, checked once for all of them: random songs,
// damaged streams (cut anywhere, bytes changed) and tiny capacities never make a writer report a
// size past its capacity or touch a byte behind it. What each file must hold is checked by the
// writer's own tests.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "convert/format_table.h"
#include "writer_contract.h"

namespace vlm {
namespace {

using test::Bytes;

// Cut short, or a few bytes changed anywhere (the header and track table included).
void damage(Bytes& stream, std::mt19937& rng) {
  if (stream.empty()) return;
  if (rng() % 2) {
    stream.resize(rng() % stream.size());
    return;
  }
  const int changes = 1 + int(rng() % 8);
  for (int i = 0; i < changes; ++i) stream[rng() % stream.size()] = uint8_t(rng());
}

class WriterContract : public ::testing::TestWithParam<FormatCode> {
 protected:
  void SetUp() override {
    resetRun();
    test::presetOutput(GetParam());
    writer_ = findOutputFormat(GetParam())->writer;
  }
  void TearDown() override { resetRun(); }
  StageFn writer_ = nullptr;
};

TEST_P(WriterContract, RandomSongsStayInsideEveryCapacity) {
  std::mt19937 rng{uint32_t(GetParam())};
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    const Bytes song = test::randomSong(rng);
    test::writeGuarded(writer_, song, uint32_t(rng() % 3000));
    test::writeGuarded(writer_, song, uint32_t(rng() % 64));
  }
}

TEST_P(WriterContract, DamagedStreamsStayInsideTheCapacity) {
  std::mt19937 rng{uint32_t(GetParam()) * 7919u};
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    Bytes stream = test::randomSong(rng);
    damage(stream, rng);
    test::writeGuarded(writer_, stream, uint32_t(rng() % 2000));
  }
  test::writeGuarded(writer_, Bytes(), 256);
  test::writeGuarded(writer_, Bytes(3, 0xFF), 256);
}

INSTANTIATE_TEST_SUITE_P(EveryWriter, WriterContract, ::testing::ValuesIn(test::codesWithWriters()),
                         [](const auto& info) { return "code" + std::to_string(info.param); });

}  // namespace
}  // namespace vlm
