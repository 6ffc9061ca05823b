// Voice play-along: voices decoded into temporary wave files, cues at the played tempo, the
// position timer starting them, resume, voice output off, stop and release.
#include "playback/playalong.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "convert/format_table.h"
#include "convert/options.h"
#include "core/codec.h"
#include "core/vstream.h"
#include "platform/audio.h"
#include "test_util.h"

namespace vlm {
namespace {

struct WaveSpec {
  uint8_t number;
  uint8_t rateCode;
  size_t bytes;
};
using NoteSpec = test::WaveNoteSpec;

// Waves of `bytes` bytes, each filled with a value of its own, and the wave notes given.
std::vector<uint8_t> streamWith(const std::vector<WaveSpec>& waves,
                                const std::vector<NoteSpec>& notes) {
  std::vector<test::WaveSpec> filled;
  for (const WaveSpec& w : waves)
    filled.push_back({w.number, w.rateCode, test::Bytes(w.bytes, uint8_t(0x17 + w.number))});
  return test::waveStream(filled, notes);
}

class PlayAlongTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setPlayAlongStarter([this](const char* path) {
      started.push_back(path);
      return true;
    });
    options.voiceOutput = true;
  }
  void TearDown() override {
    releasePlayAlong();
    setPlayAlongStarter(nullptr);
    options.voiceOutput = true;
  }
  int prepare(const std::vector<uint8_t>& s, double scale = 1.0) {
    return preparePlayAlong(s.data(), uint32_t(s.size()), scale);
  }
  std::vector<std::string> started;
};

TEST_F(PlayAlongTest, VoicesBecomeWaveFilesAndNotesCuesAtThePlayedTempo) {
  // Wave 9 has no samples: no file, and its note no cue.
  const auto s = streamWith({{3, 1, 300}, {7, 2, 100}, {9, WAVE_RATE_NONE, 10}},
                            {{0, 3}, {96, 7}, {144, 9}, {192, 3}, {200, 42}});
  ASSERT_EQ(prepare(s, 2.0), 2);  // twice as fast
  EXPECT_TRUE(songHasVoices());
  for (int i = 0; i < 2; ++i) {
    const std::string path = playAlongFile(i);
    EXPECT_EQ(path.substr(path.size() - 4), ".wav");
    const std::vector<uint8_t> image = test::readBytes(path);
    PcmWave pcm;
    ASSERT_TRUE(parsePcmWave(image.data(), uint32_t(image.size()), &pcm)) << path;
    EXPECT_EQ(pcm.bitsPerSample, 8);
    EXPECT_EQ(pcm.frames(), i == 0 ? 600u : 200u);
  }
  EXPECT_STREQ(playAlongFile(2), "");
  ASSERT_EQ(playAlong.cues.size(), 3u);
  EXPECT_EQ(playAlong.cues[0].ms, 0u);
  EXPECT_EQ(playAlong.cues[1].ms, 500u);
  EXPECT_EQ(playAlong.cues[1].voice, 1);
  EXPECT_EQ(playAlong.cues[2].ms, 1000u);
  EXPECT_EQ(playAlong.cues[2].voice, 0);

  const std::vector<std::string> files = {playAlongFile(0), playAlongFile(1)};
  releasePlayAlong();
  EXPECT_FALSE(songHasVoices());
  for (const auto& f : files) EXPECT_FALSE(std::filesystem::exists(f));
}

TEST_F(PlayAlongTest, TimerStartsDueWavesResumesAndStops) {
  prepare(streamWith({{3, 1, 50}, {7, 1, 50}}, {{96, 3}, {192, 7}, {200, 3}, {288, 7}}));
  const std::string w3 = playAlongFile(0), w7 = playAlongFile(1);
  playAlongTick(5000);  // not started: nothing
  EXPECT_TRUE(started.empty());

  startPlayAlong(0);
  playAlongTick(900);
  EXPECT_TRUE(started.empty());
  playAlongTick(1000);
  EXPECT_EQ(started, (std::vector<std::string>{w3}));
  // Two due in one tick: the later one is the sound that plays.
  playAlongTick(2100);
  EXPECT_EQ(started, (std::vector<std::string>{w3, w3}));
  EXPECT_EQ(playAlong.next, 3u);
  playAlongTick(2100);
  EXPECT_EQ(started.size(), 2u);
  playAlongTick(3000);
  EXPECT_EQ(started.back(), w7);
  EXPECT_FALSE(playAlong.running);  // all cues passed

  // Resume from a position: earlier cues are passed over.
  started.clear();
  startPlayAlong(2000);
  playAlongTick(2100);
  EXPECT_EQ(started, (std::vector<std::string>{w3}));
  stopPlayAlong();
  playAlongTick(4000);
  EXPECT_EQ(started.size(), 1u);

  // Voice output off: cues pass silently.
  started.clear();
  options.voiceOutput = false;
  startPlayAlong(0);
  playAlongTick(4000);
  EXPECT_TRUE(started.empty());
}

TEST_F(PlayAlongTest, AtMost32VoicesAndCutStreamsAreSafe) {
  std::vector<WaveSpec> waves;
  std::vector<NoteSpec> notes;
  for (int i = 0; i < 40; ++i) {
    waves.push_back({uint8_t(i), 0, 8});
    notes.push_back({uint32_t(i), uint8_t(i)});
  }
  const auto s = streamWith(waves, notes);
  EXPECT_EQ(prepare(s), PLAY_ALONG_MAX_VOICES);
  EXPECT_EQ(playAlong.cues.size(), size_t(PLAY_ALONG_MAX_VOICES));
  for (size_t n = 0; n < s.size(); n += 7) {
    std::vector<uint8_t> part(s.begin(), s.begin() + long(n));
    prepare(part);
    for (const auto& f : playAlong.files) EXPECT_TRUE(std::filesystem::exists(f));
  }
  EXPECT_EQ(preparePlayAlong(nullptr, 10, 1.0), 0);
}

TEST_F(PlayAlongTest, FromAFileWithTheTempoMapOfThePlayedSong) {
  test::ScratchDir dir;
  const std::string song = dir.file("voice.vlm");
  test::writeBytes(song, streamWith({{5, 1, 40}}, {{96, 5}}));
  test::SmfBuilder smf(480);
  smf.tempo(0, 500000).note(0, 0, 60, 480);  // a quarter is 500 ms: a sixteenth 125 ms
  const std::string played = dir.file("played.mid");
  test::writeBytes(played, smf.build(480 * 4));
  options.tempoRatio = 512;
  EXPECT_EQ(preparePlayAlongForFile(song.c_str(), detectFormat(song.c_str()), played.c_str()), 1);
  options.tempoRatio = 256;
  ASSERT_EQ(playAlong.cues.size(), 1u);
  EXPECT_EQ(playAlong.cues[0].ms, 500u);
  EXPECT_EQ(playAlongPositionMs(4), 500u);
  EXPECT_EQ(playAlongPositionMs(0), 0u);
  EXPECT_EQ(preparePlayAlongForFile(dir.file("none.vlm").c_str(), FORMAT_VLM, nullptr), 0);
  EXPECT_EQ(playAlongPositionMs(4), 0u);
}

}  // namespace
}  // namespace vlm
