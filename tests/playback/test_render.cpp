// Offline rendering and the voice samples mixed into it.
#include "playback/render.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/codec.h"
#include "core/vstream.h"
#include "formats/adpcm.h"
#include "platform/audio.h"
#include "stream_builders.h"
#include "playback/waves.h"

namespace vlm {
namespace {

bool haveSoundfont() {
  return std::filesystem::exists(DEFAULT_SOUNDFONT);
}

std::vector<uint8_t> eightSecondSong() {
  test::SmfBuilder b(480);
  b.tempo(0, 500000).program(0, 0, 0);
  for (int i = 0; i < 16; ++i) b.note(uint32_t(i) * 480, 0, uint8_t(60 + i % 12), 400);
  return b.build(16 * 480);  // 16 beats at 120 bpm
}

TEST(Render, LengthIsTheSongPlusAtMostTwoSecondsOfTail) {
  if (!haveSoundfont()) GTEST_SKIP() << "no SoundFont at " << DEFAULT_SOUNDFONT;
  std::vector<uint8_t> smf = eightSecondSong();
  for (uint32_t rate : {44100u, 22050u}) {
    RenderRequest request;
    request.smf = smf.data();
    request.smfSize = uint32_t(smf.size());
    request.sampleRate = rate;
    std::vector<uint8_t> wave;
    RenderResult result;
    std::string error;
    ASSERT_EQ(renderSmfToWave(request, &wave, &result, &error), 1) << error;
    EXPECT_DOUBLE_EQ(result.songSeconds, 8.0);
    const double seconds = double(result.frames) / rate;
    EXPECT_GE(seconds, 8.0 - 0.05);
    EXPECT_LE(seconds, 8.0 + 2.0 + 0.05);

    PcmWave pcm;
    ASSERT_TRUE(parsePcmWave(wave.data(), uint32_t(wave.size()), &pcm));
    EXPECT_EQ(pcm.sampleRate, rate);
    EXPECT_EQ(pcm.channels, 2);
    EXPECT_EQ(pcm.bitsPerSample, 16);
    EXPECT_EQ(pcm.frames(), result.frames);
    // The notes sound: some sample is far from silence.
    int peak = 0;
    for (uint32_t i = 0; i < pcm.dataSize / 2; ++i)
      peak = std::max(peak, std::abs(int(int16_t(getLE(pcm.data + 2 * i, 2)))));
    EXPECT_GT(peak, 1000);
  }
}

TEST(Render, TempoChangesSetTheLength) {
  if (!haveSoundfont()) GTEST_SKIP() << "no SoundFont at " << DEFAULT_SOUNDFONT;
  test::SmfBuilder b(96);
  b.tempo(0, 1000000).tempo(96 * 2, 250000).note(0, 0, 60, 96);
  std::vector<uint8_t> smf = b.build(96 * 6);  // 2 beats of 1 s, 4 beats of 0.25 s
  RenderRequest request;
  request.smf = smf.data();
  request.smfSize = uint32_t(smf.size());
  std::vector<uint8_t> wave;
  RenderResult result;
  std::string error;
  ASSERT_EQ(renderSmfToWave(request, &wave, &result, &error), 1) << error;
  EXPECT_DOUBLE_EQ(result.songSeconds, 3.0);
  EXPECT_GE(result.frames, 44100u * 3 - 2205);
  EXPECT_LE(result.frames, 44100u * 5 + 2205);
}

TEST(Render, NotAMidiFileGivesAnError) {
  const uint8_t junk[] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  RenderRequest request;
  request.smf = junk;
  request.smfSize = sizeof junk;
  std::vector<uint8_t> wave;
  RenderResult result;
  std::string error;
  EXPECT_EQ(renderSmfToWave(request, &wave, &result, &error), 0);
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(wave.empty());
}

TEST(Render, MissingSoundfontGivesAnError) {
  std::vector<uint8_t> smf = eightSecondSong();
  RenderRequest request;
  request.smf = smf.data();
  request.smfSize = uint32_t(smf.size());
  request.soundfont = "/nonexistent/none.sf2";
  std::vector<uint8_t> wave;
  RenderResult result;
  std::string error;
  EXPECT_EQ(renderSmfToWave(request, &wave, &result, &error), 0);
  EXPECT_NE(error.find("/nonexistent/none.sf2"), std::string::npos);
}

// A VStream with a tempo, one wave of `adpcm` bytes and wave notes at the given ticks.
std::vector<uint8_t> streamWithWave(const std::vector<uint8_t>& adpcm, uint8_t rateCode,
                                    const std::vector<uint32_t>& noteTicks) {
  std::vector<uint8_t> track;
  auto delta = [&](uint32_t d) {
    uint8_t buf[5];
    track.insert(track.end(), buf, buf + writeVarLen(buf, d));
  };
  delta(0);
  track.insert(track.end(), {ST_META, META_TEMPO, 3, 0x0F, 0x42, 0x40});  // 1 s per quarter
  delta(0);
  track.insert(track.end(), {ST_META, META_WAVE});
  uint8_t buf[5];
  int n = writeVarLen(buf, uint32_t(adpcm.size() + 2));
  track.insert(track.end(), buf, buf + n);
  track.push_back(7);  // wave number
  track.push_back(rateCode);
  track.insert(track.end(), adpcm.begin(), adpcm.end());
  uint32_t now = 0;
  for (uint32_t t : noteTicks) {
    delta(t - now);
    now = t;
    track.insert(track.end(), {WAVE_NOTE_STATUS, 7, 127, 0, 96});  // note, velocity, duration
  }
  delta(0);
  track.insert(track.end(), {ST_META, META_END_OF_TRACK, 0});
  std::vector<uint8_t> out = {'V', 'T', 'h', 'd', 0, 0, 0, 2, 0, 96, 'V', 'T', 'r', 'k'};
  uint8_t len[4];
  putBE(len, uint32_t(track.size()), 4);
  out.insert(out.end(), len, len + 4);
  out.insert(out.end(), track.begin(), track.end());
  return out;
}

TEST(Render, WaveNotesStartTheirVoicesAtTheirTimes) {
  std::vector<uint8_t> stream = streamWithWave(std::vector<uint8_t>(400, 0x77), 1, {96, 192});
  SongWaves waves;
  collectWaves(stream.data(), uint32_t(stream.size()), &waves);
  ASSERT_EQ(waves.waves.size(), 1u);
  EXPECT_EQ(waves.waves[0].number, 7);
  EXPECT_EQ(waves.waves[0].sampleRate, 8000u);
  EXPECT_EQ(waves.waves[0].size, 400u);
  ASSERT_EQ(waves.notes.size(), 2u);
  EXPECT_DOUBLE_EQ(waves.notes[0].seconds, 1.0);
  EXPECT_DOUBLE_EQ(waves.notes[1].seconds, 2.0);

  std::vector<RenderVoice> voices;
  voicesFromStream(stream.data(), uint32_t(stream.size()), 2.0, &voices);  // twice as fast
  ASSERT_EQ(voices.size(), 2u);
  EXPECT_DOUBLE_EQ(voices[0].startSeconds, 0.5);
  EXPECT_DOUBLE_EQ(voices[1].startSeconds, 1.0);
  EXPECT_EQ(voices[0].samples.size(), 800u);
  EXPECT_EQ(voices[0].sampleRate, 8000u);
  EXPECT_GT(voices[0].samples[799], 20000);
}

TEST(Render, WavesWithoutSamplesOrCutShortAreSafe) {
  std::vector<uint8_t> stream = streamWithWave({0x12, 0x34}, WAVE_RATE_NONE, {0});
  std::vector<RenderVoice> voices;
  voicesFromStream(stream.data(), uint32_t(stream.size()), 1.0, &voices);
  EXPECT_TRUE(voices.empty());
  std::vector<uint8_t> full = streamWithWave(std::vector<uint8_t>(300, 0x35), 2, {0});
  for (size_t cut = 0; cut < full.size(); cut += 7) {
    std::vector<uint8_t> part(full.begin(), full.begin() + cut);
    SongWaves waves;
    collectWaves(part.data(), uint32_t(part.size()), &waves);
    for (const EmbeddedWave& w : waves.waves) ASSERT_LE(w.data + w.size, part.data() + part.size());
  }
}

TEST(Render, VoicesAreMixedIntoTheRenderedSong) {
  if (!haveSoundfont()) GTEST_SKIP() << "no SoundFont at " << DEFAULT_SOUNDFONT;
  test::SmfBuilder b(480);
  std::vector<uint8_t> smf = b.build(480 * 4);  // two seconds of silence
  RenderRequest request;
  request.smf = smf.data();
  request.smfSize = uint32_t(smf.size());
  RenderVoice v;
  v.sampleRate = 8000;
  v.startSeconds = 1.0;
  v.samples.assign(8000, 10000);  // one second of a constant level
  request.voices.push_back(v);
  std::vector<uint8_t> wave;
  RenderResult result;
  std::string error;
  ASSERT_EQ(renderSmfToWave(request, &wave, &result, &error), 1) << error;
  auto left = [&](uint32_t frame) { return int16_t(getLE(wave.data() + 44 + frame * 4, 2)); };
  EXPECT_NEAR(left(44100 / 2), 0, 2);             // the synthesizer dithers
  EXPECT_NEAR(left(44100 + 44100 / 2), 8000, 2);  // at the voice gain
  // A voice that runs past the song lengthens the output.
  request.voices[0].startSeconds = 1.9;
  ASSERT_EQ(renderSmfToWave(request, &wave, &result, &error), 1);
  EXPECT_GE(result.frames, uint32_t(2.9 * 44100) - 1);
}

}  // namespace
}  // namespace vlm
