// Channel activity of the playing sequencer: the highest sounding velocity per channel, taken
// from the events the FluidSynth player sends, and the override the window tests use.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/audio.h"
#include "platform/sequencer.h"
#include "test_util.h"
#include "test_util.h"

namespace vlm {
namespace {

std::array<uint8_t, 16> levelsNow() {
  std::array<uint8_t, 16> l;
  l.fill(0xEE);
  sequencerChannelLevels(l.data());
  return l;
}

TEST(ChannelLevels, OverrideForTestsAndSilenceWhenIdle) {
  const std::array<uint8_t, 16> zero{};
  EXPECT_EQ(levelsNow(), zero);
  uint8_t fake[16] = {};
  fake[0] = 127;
  fake[15] = 3;
  setSequencerChannelLevelsForTest(fake);
  std::array<uint8_t, 16> got = levelsNow();
  EXPECT_EQ(got[0], 127);
  EXPECT_EQ(got[15], 3);
  EXPECT_EQ(got[7], 0);
  setSequencerChannelLevelsForTest(nullptr);
  EXPECT_EQ(levelsNow(), zero);
}

TEST(ChannelLevels, FollowTheNotesOfThePlayingSequencer) {
  if (!std::filesystem::exists(DEFAULT_SOUNDFONT)) GTEST_SKIP() << "no SoundFont";
  allowSilentAudioOutput(true);
  test::SmfBuilder b(480);
  // 120 quarter notes a minute: 480 ticks are 0.5 s.
  b.tempo(0, 500000)
      .note(0, 2, 60, 480 * 4, 90)     // long on channel 3
      .note(0, 2, 64, 480 * 4, 40)     // a softer one beside it: the highest counts
      .note(0, 9, 36, 480 * 4, 110)    // rhythm channel
      .note(0, 5, 70, 48, 80)          // short: over after 50 ms
      .note(480 * 2, 0, 72, 480, 70);  // starts after a second
  test::ScratchDir dir;
  const std::string path = dir.file("levels.mid");
  test::writeBytes(path, b.build(480 * 4));
  std::unique_ptr<MediaDevice> d;
  ASSERT_EQ(openMediaDevice(DEVICE_SEQUENCER, path.c_str(), &d), DEVICE_OK);
  ASSERT_EQ(d->play(nullptr, nullptr), DEVICE_OK);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::array<uint8_t, 16> l = levelsNow();
  EXPECT_EQ(l[2], 90);
  EXPECT_EQ(l[9], 110);
  EXPECT_EQ(l[5], 0);  // its note-off came
  EXPECT_EQ(l[0], 0);  // not yet
  EXPECT_EQ(l[1], 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(900));
  l = levelsNow();
  EXPECT_EQ(l[0], 70);
  EXPECT_EQ(l[2], 90);

  EXPECT_EQ(d->stop(), DEVICE_OK);
  const std::array<uint8_t, 16> zero{};
  EXPECT_EQ(levelsNow(), zero);
  EXPECT_EQ(d->close(), DEVICE_OK);
  closeAudioOutput();
  allowSilentAudioOutput(false);
}

}  // namespace
}  // namespace vlm
