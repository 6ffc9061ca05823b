// The media devices: the tempo map behind positions and lengths, the wave measuring device, the
// player's wave length query, and the sequencer's answer when there is no audio output.
#include "platform/sequencer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "convert/conversion_run.h"
#include "core/codec.h"
#include "platform/audio.h"
#include "playback/player.h"
#include "playback/render.h"
#include "recording_ui.h"
#include "stream_builders.h"

namespace vlm {
namespace {

std::string writeTemp(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string path = (std::filesystem::temp_directory_path() / name).string();
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}

TEST(SongTiming, TempoMapConvertsTicksMillisecondsAndSongPointer) {
  test::SmfBuilder b(96);
  b.tempo(0, 1000000).tempo(192, 250000).note(0, 0, 60, 10);
  std::vector<uint8_t> smf = b.build(96 * 6);
  SongTiming t;
  ASSERT_TRUE(readSongTiming(smf.data(), uint32_t(smf.size()), &t));
  EXPECT_EQ(t.division, 96u);
  EXPECT_EQ(t.endTick, 576u);
  EXPECT_EQ(t.tickToMs(96), 1000u);
  EXPECT_EQ(t.tickToMs(192), 2000u);
  EXPECT_EQ(t.tickToMs(576), 3000u);
  EXPECT_EQ(t.msToTick(2500), 384u);
  EXPECT_EQ(t.msToTick(500), 48u);
  EXPECT_EQ(t.lengthSongPtr(), 24u);  // six quarters
  EXPECT_EQ(t.songPtrToTick(5), 120u);
  EXPECT_EQ(t.tickToSongPtr(119), 4u);
}

TEST(SongTiming, RmidAndDefaultsAndJunk) {
  test::SmfBuilder b(480);
  b.note(0, 0, 60, 480 * 3);
  std::vector<uint8_t> smf = b.build();
  std::vector<uint8_t> rmid = {'R', 'I', 'F', 'F', 0,   0,   0, 0, 'R', 'M',
                               'I', 'D', 'd', 'a', 't', 'a', 0, 0, 0,   0};
  putLE(rmid.data() + 16, uint32_t(smf.size()), 4);
  rmid.insert(rmid.end(), smf.begin(), smf.end());
  SongTiming t;
  ASSERT_TRUE(readSongTiming(rmid.data(), uint32_t(rmid.size()), &t));
  EXPECT_EQ(t.tickToMs(t.endTick), 1500u);  // 120 bpm without a tempo event

  // Every cut of the file reads without running past it.
  for (size_t cut = 0; cut < smf.size(); ++cut) readSongTiming(smf.data(), uint32_t(cut), &t);
  const uint8_t junk[] = "MThd\0\0\0\6\0\0\0\1\0\0";  // division 0
  EXPECT_FALSE(readSongTiming(junk, sizeof junk - 1, &t));
  EXPECT_FALSE(readSongTiming(nullptr, 0, &t));
}

std::vector<uint8_t> pcmWave(uint32_t rate, uint16_t channels, uint16_t bits, uint32_t frames) {
  std::vector<uint8_t> w(44 + frames * channels * bits / 8, 0);
  writeWaveHeader(w.data(), rate, channels, uint32_t(w.size() - 44));
  putLE(w.data() + 28, rate * channels * bits / 8, 4);
  putLE(w.data() + 32, channels * bits / 8, 2);
  putLE(w.data() + 34, bits, 2);
  return w;
}

TEST(WaveDevice, MeasuresLengthInMillisecondsOnly) {
  std::string path = writeTemp("vlm_seq_test.wav", pcmWave(8000, 1, 8, 12000));
  std::unique_ptr<MediaDevice> d;
  ASSERT_EQ(openMediaDevice(DEVICE_WAVEAUDIO, path.c_str(), &d), DEVICE_OK);
  EXPECT_EQ(d->setTimeFormat(TIME_FORMAT_MILLISECONDS), DEVICE_OK);
  uint32_t length = 0;
  EXPECT_EQ(d->statusLength(&length), DEVICE_OK);
  EXPECT_EQ(length, 1500u);
  EXPECT_NE(d->setTimeFormat(TIME_FORMAT_SONGPTR), DEVICE_OK);
  EXPECT_EQ(d->close(), DEVICE_OK);
  EXPECT_EQ(d->statusLength(&length), DEVERR_INVALID_DEVICE_ID);
  std::remove(path.c_str());
  EXPECT_EQ(openMediaDevice(DEVICE_WAVEAUDIO, path.c_str(), &d), DEVERR_FILE_NOT_FOUND);
  EXPECT_EQ(openMediaDevice("cdaudio", path.c_str(), &d), DEVERR_INVALID_DEVICE_NAME);
}

TEST(WaveDevice, ParsesStereoSixteenBitAndRejectsCompressed) {
  std::vector<uint8_t> w = pcmWave(22050, 2, 16, 22050);
  PcmWave pcm;
  ASSERT_TRUE(parsePcmWave(w.data(), uint32_t(w.size()), &pcm));
  EXPECT_EQ(pcm.lengthMs(), 1000u);
  std::vector<int16_t> out;
  resampleToStereo(pcm, 44100, &out);
  EXPECT_EQ(out.size(), 44100u * 2);
  putLE(w.data() + 20, 2, 2);  // MS ADPCM
  EXPECT_FALSE(parsePcmWave(w.data(), uint32_t(w.size()), &pcm));
  for (size_t cut = 0; cut < 60; ++cut) parsePcmWave(w.data(), uint32_t(cut), &pcm);
}

TEST(WaveDevice, PlayerWaveLengthIsCachedAndErrorsAreShown) {
  test::RecordingUi ui;
  setConversionUi(&ui);
  std::string path = writeTemp("vlm_seq_len.wav", pcmWave(11025, 1, 16, 11025 * 2));
  setWaveFile(path.c_str());
  EXPECT_EQ(waveLengthMs(), 2000u);
  std::remove(path.c_str());
  EXPECT_EQ(waveLengthMs(), 2000u) << "cached until the next setWaveFile";
  EXPECT_TRUE(ui.errors.empty());
  setWaveFile(path.c_str());
  EXPECT_EQ(waveLengthMs(), 0u);
  ASSERT_EQ(ui.errors.size(), 1u);
  EXPECT_EQ(ui.errors[0], deviceErrorText(DEVERR_FILE_NOT_FOUND));
  setConversionUi(nullptr);
}

TEST(Sequencer, OpenAnswersPromptlyAndNamesTheProblem) {
  test::SmfBuilder b(480);
  b.note(0, 0, 60, 240);
  std::string path = writeTemp("vlm_seq_open.mid", b.build());
  auto started = std::chrono::steady_clock::now();
  std::unique_ptr<MediaDevice> d;
  DeviceError e = openMediaDevice(DEVICE_SEQUENCER, path.c_str(), &d);
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_LT(took, 2.0);
  if (e == DEVICE_OK) {
    // A machine with sound: the device answers in both time formats.
    uint32_t length = 0;
    EXPECT_EQ(d->setTimeFormat(TIME_FORMAT_SONGPTR), DEVICE_OK);
    EXPECT_EQ(d->statusLength(&length), DEVICE_OK);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(d->close(), DEVICE_OK);
  } else {
    EXPECT_TRUE(e == DEVERR_NO_AUDIO_OUTPUT || e == DEVERR_NO_SOUNDFONT) << e;
    EXPECT_NE(deviceErrorText(e).find(e == DEVERR_NO_AUDIO_OUTPUT ? "オーディオ" : "SoundFont"),
              std::string::npos);
    EXPECT_FALSE(d);
  }
  // A file that is not MIDI is refused before any audio is touched.
  std::string junk = writeTemp("vlm_seq_junk.mid", {'n', 'o', 'p', 'e', 1, 2, 3, 4});
  EXPECT_EQ(openMediaDevice(DEVICE_SEQUENCER, junk.c_str(), &d), DEVERR_INVALID_FILE);
  EXPECT_EQ(openMediaDevice(DEVICE_SEQUENCER, "/nonexistent.mid", &d), DEVERR_FILE_NOT_FOUND);
  std::remove(path.c_str());
  std::remove(junk.c_str());
}

// The FluidSynth sequencer end to end, on the silent output when the machine has no sound.
TEST(Sequencer, PlaysToTheEndAndNotifiesOnceStopAborts) {
  if (!std::filesystem::exists(DEFAULT_SOUNDFONT)) GTEST_SKIP() << "no SoundFont";
  allowSilentAudioOutput(true);
  test::SmfBuilder b(480);
  b.tempo(0, 500000).note(0, 0, 60, 200).note(480, 0, 64, 200);
  std::string path = writeTemp("vlm_seq_play.mid", b.build(480 * 2));  // 1 s
  std::unique_ptr<MediaDevice> d;
  ASSERT_EQ(openMediaDevice(DEVICE_SEQUENCER, path.c_str(), &d), DEVICE_OK);
  ASSERT_EQ(d->setTimeFormat(TIME_FORMAT_SONGPTR), DEVICE_OK);
  uint32_t length = 0;
  d->statusLength(&length);
  EXPECT_EQ(length, 8u);

  // The notices come from the device's own thread; the test waits for them, with a bound far
  // beyond the song's length so that a loaded machine does not fail it.
  std::mutex lock;
  std::condition_variable noticed;
  int successes = 0, others = 0;
  auto notice = [&](uint32_t code) {
    {
      std::lock_guard<std::mutex> hold(lock);
      (code == NOTIFY_SUCCESSFUL ? successes : others)++;
    }
    noticed.notify_all();
  };
  auto counted = [&](const int& counter) {
    std::lock_guard<std::mutex> hold(lock);
    return counter;
  };
  ASSERT_EQ(d->play(nullptr, notice), DEVICE_OK);
  // While it plays, the position moves forward through the song.
  uint32_t position = 0, last = 0;
  bool sawMidSong = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  {
    std::unique_lock<std::mutex> hold(lock);
    while (successes == 0 && std::chrono::steady_clock::now() < deadline) {
      hold.unlock();
      d->statusPosition(&position);
      EXPECT_GE(position, last);
      last = position;
      sawMidSong = sawMidSong || (position > 0 && position < 8);
      hold.lock();
      noticed.wait_for(hold, std::chrono::milliseconds(5), [&] { return successes > 0; });
    }
  }
  EXPECT_TRUE(sawMidSong);
  EXPECT_EQ(counted(successes), 1);
  d->statusPosition(&position);
  EXPECT_EQ(position, 8u);

  // Play from a position, then stop: the pending notice is aborted and the position kept.
  uint32_t from = 4;
  ASSERT_EQ(d->play(&from, notice), DEVICE_OK);
  d->statusPosition(&position);
  EXPECT_GE(position, 4u);
  EXPECT_EQ(d->stop(), DEVICE_OK);
  EXPECT_EQ(counted(others), 1);
  uint32_t kept = 0;
  d->statusPosition(&kept);
  EXPECT_GE(kept, 4u);
  from = 9;
  EXPECT_EQ(d->play(&from, notice), DEVERR_OUTOFRANGE);
  EXPECT_EQ(d->close(), DEVICE_OK);
  EXPECT_EQ(counted(successes), 1);
  std::remove(path.c_str());
  closeAudioOutput();
  allowSilentAudioOutput(false);
}

// Play and stop in quick turns while the output renders: each play makes a FluidSynth player and
// each stop deletes it, which the audio thread must never see half done (under the sanitizers a
// player deleted during a render block shows as a use after free).
TEST(Sequencer, PlayAndStopInQuickTurnsWhileTheOutputRenders) {
  if (!std::filesystem::exists(DEFAULT_SOUNDFONT)) GTEST_SKIP() << "no SoundFont";
  allowSilentAudioOutput(true);
  test::SmfBuilder b(480);
  b.tempo(0, 500000);
  for (int i = 0; i < 16; ++i) b.note(i * 60, i % 16, 48 + i, 120);
  std::string path = writeTemp("vlm_seq_turns.mid", b.build(480 * 4));
  std::unique_ptr<MediaDevice> d;
  ASSERT_EQ(openMediaDevice(DEVICE_SEQUENCER, path.c_str(), &d), DEVICE_OK);
  ASSERT_EQ(d->setTimeFormat(TIME_FORMAT_SONGPTR), DEVICE_OK);
  for (uint32_t turn = 0; turn < 60; ++turn) {
    uint32_t from = turn % 8;
    ASSERT_EQ(d->play(&from, nullptr), DEVICE_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(turn % 3));
    ASSERT_EQ(d->stop(), DEVICE_OK);
  }
  EXPECT_EQ(d->close(), DEVICE_OK);
  std::remove(path.c_str());
  closeAudioOutput();
  allowSilentAudioOutput(false);
}

}  // namespace
}  // namespace vlm
