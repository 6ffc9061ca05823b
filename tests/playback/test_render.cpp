// Offline rendering: the song in blocks, on one or more synthesis cores, straight into a WAVE
// file, and the voice samples mixed into it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "core/codec.h"
#include "core/vstream.h"
#include "formats/adpcm.h"
#include "platform/audio.h"
#include "playback/render.h"
#include "playback/waves.h"
#include "stream_builders.h"
#include "test_util.h"

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
  std::vector<test::WaveNoteSpec> notes;
  for (uint32_t t : noteTicks) notes.push_back({t, 7});
  return test::waveStream({{7, rateCode, adpcm}}, notes);
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
  ASSERT_TRUE(voices[0].samples);
  EXPECT_EQ(voices[0].samples->size(), 800u);
  EXPECT_EQ(voices[0].sampleRate, 8000u);
  EXPECT_GT((*voices[0].samples)[799], 20000);
  // Both notes of the one wave share its decoded samples.
  EXPECT_EQ(voices[0].samples, voices[1].samples);
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
  v.samples = std::make_shared<std::vector<int16_t>>(8000, 10000);  // one second, constant
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

// ---- Blocks, cores and the output file -------------------------------------------------------

// All 16 channels busy: a chord on every melodic channel each beat and drums on the eighths,
// enough voices for every synthesis thread to get work.
std::vector<uint8_t> denseSong(uint32_t beats) {
  test::SmfBuilder b(480);
  b.tempo(0, 500000);
  for (uint8_t ch = 0; ch < 16; ++ch)
    if (ch != 9) b.program(0, ch, uint8_t(ch * 7 % 128));
  for (uint32_t beat = 0; beat < beats; ++beat) {
    const uint32_t t = beat * 480;
    for (uint8_t ch = 0; ch < 16; ++ch) {
      if (ch == 9) {
        b.note(t, 9, beat % 2 ? 38 : 36, 120).note(t + 240, 9, 42, 120);
        continue;
      }
      for (uint8_t step : {0, 4, 7})
        b.note(t, ch, uint8_t(48 + ch % 3 * 12 + beat % 5 + step), 460);
    }
  }
  return b.build(beats * 480);
}

RenderRequest requestFor(const std::vector<uint8_t>& smf) {
  RenderRequest request;
  request.smf = smf.data();
  request.smfSize = uint32_t(smf.size());
  return request;
}

// The PCM of a WAVE image as 16-bit values.
std::vector<int16_t> pcmOf(const std::vector<uint8_t>& wave) {
  std::vector<int16_t> pcm;
  for (size_t i = WAVE_HEADER_SIZE; i + 1 < wave.size(); i += 2)
    pcm.push_back(int16_t(getLE(wave.data() + i, 2)));
  return pcm;
}

std::vector<uint8_t> fileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A scratch folder of its own, removed with everything in it.
struct ScratchDir {
  std::filesystem::path path;
  ScratchDir() {
    path = std::filesystem::temp_directory_path() /
           ("vlm_render_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(path);
  }
  ~ScratchDir() { std::filesystem::remove_all(path); }
  size_t entries() const {
    return size_t(std::distance(std::filesystem::directory_iterator(path),
                                std::filesystem::directory_iterator()));
  }
};

TEST(RenderCores, SeveralCoresSoundTheSameAsOne) {
  if (!haveSoundfont()) GTEST_SKIP() << "no SoundFont at " << DEFAULT_SOUNDFONT;
  const std::vector<uint8_t> smf = denseSong(8);
  RenderRequest request = requestFor(smf);
  std::vector<uint8_t> one, several;
  RenderResult r1, r2;
  std::string error;
  request.cpuCores = 1;
  ASSERT_EQ(renderSmfToWave(request, &one, &r1, &error), 1) << error;
  EXPECT_EQ(r1.cpuCores, 1);
  for (int cores : {2, 3}) {
    request.cpuCores = cores;
    ASSERT_EQ(renderSmfToWave(request, &several, &r2, &error), 1) << error;
    EXPECT_EQ(r2.cpuCores, cores);
    ASSERT_EQ(several.size(), one.size());
    // The synthesizer's threads share the voices but the sums reach the 16-bit output
    // unchanged: the PCM is the same sample for sample.
    const std::vector<int16_t> a = pcmOf(one), b = pcmOf(several);
    int largest = 0;
    size_t differing = 0;
    for (size_t i = 0; i < a.size(); ++i) {
      largest = std::max(largest, std::abs(int(a[i]) - int(b[i])));
      differing += a[i] != b[i];
    }
    EXPECT_EQ(largest, 0) << differing << " of " << a.size() << " samples differ, " << cores
                          << " cores";
  }
  // The song really is dense: far from silence.
  int peak = 0;
  for (int16_t v : pcmOf(one)) peak = std::max(peak, std::abs(int(v)));
  EXPECT_GT(peak, 5000);
}

TEST(RenderCores, DefaultIsOneAndAnAskedNumberStaysWithinTheLimit) {
  // FluidSynth's own threads cost more than they save on ringtones.
  EXPECT_EQ(renderCores(0), 1);
  EXPECT_EQ(renderCores(1), 1);
  EXPECT_EQ(renderCores(-3), 1);
  EXPECT_EQ(renderCores(3), 3);
  EXPECT_EQ(renderCores(1000), MAX_RENDER_CORES);
}

TEST(RenderBlocks, SinkGetsTheSongInBlocksAndCanStopIt) {
  if (!haveSoundfont()) GTEST_SKIP() << "no SoundFont at " << DEFAULT_SOUNDFONT;
  const std::vector<uint8_t> smf = eightSecondSong();
  RenderRequest request = requestFor(smf);
  std::vector<uint8_t> wave;
  RenderResult whole;
  std::string error;
  ASSERT_EQ(renderSmfToWave(request, &wave, &whole, &error), 1) << error;
  const std::vector<int16_t> expected = pcmOf(wave);

  std::vector<int16_t> got;
  uint32_t largest = 0;
  RenderResult result;
  auto collect = [&](const int16_t* pcm, uint32_t frames) {
    largest = std::max(largest, frames);
    got.insert(got.end(), pcm, pcm + frames * 2);
    return true;
  };
  ASSERT_EQ(renderSmf(request, collect, &result, &error), 1) << error;
  EXPECT_EQ(result.frames, whole.frames);
  EXPECT_EQ(got, expected);
  EXPECT_LE(largest, RENDER_BLOCK_FRAMES);

  // A sink that refuses a block ends the render as a failure.
  uint32_t calls = 0;
  auto refuse = [&](const int16_t*, uint32_t) { return ++calls < 3; };
  error.clear();
  EXPECT_EQ(renderSmf(request, refuse, &result, &error), 0);
  EXPECT_EQ(calls, 3u);
  EXPECT_FALSE(error.empty());
}

TEST(RenderBlocks, VoicesCrossBlockBordersAndAddUp) {
  if (!haveSoundfont()) GTEST_SKIP() << "no SoundFont at " << DEFAULT_SOUNDFONT;
  test::SmfBuilder b(480);
  const std::vector<uint8_t> smf = b.build(480 * 2);  // one second of silence
  RenderRequest request = requestFor(smf);
  // At 8000 Hz a ramp 0, 8, 16, ...: its value at any output frame is known exactly.
  auto ramp = std::make_shared<std::vector<int16_t>>();
  for (int i = 0; i < 4000; ++i) ramp->push_back(int16_t(i * 8));
  RenderVoice first{ramp, 8000, 1000.0 / 44100};  // starts inside the first block
  RenderVoice second{ramp, 8000, 3000.0 / 44100};
  RenderVoice late{ramp, 8000, 2.5};  // after the synthesizer has finished
  request.voices = {first, second, late};
  std::vector<uint8_t> wave;
  RenderResult result;
  std::string error;
  ASSERT_EQ(renderSmfToWave(request, &wave, &result, &error), 1) << error;
  const std::vector<int16_t> pcm = pcmOf(wave);
  auto rampAt = [](uint32_t frame) {  // the ramp at output frame `frame` of the voice
    const double p = double(frame) * 8000 / 44100;
    return p >= 3999 ? 3999 * 8 * 0.8 : p * 8 * 0.8;
  };
  auto left = [&](uint32_t frame) { return int(pcm[size_t(frame) * 2]); };
  auto right = [&](uint32_t frame) { return int(pcm[size_t(frame) * 2 + 1]); };
  EXPECT_NEAR(left(999), 0, 2);
  for (uint32_t f : {1000u, 1023u, 1024u, 1025u, 2047u, 2048u, 2999u}) {
    EXPECT_NEAR(left(f), rampAt(f - 1000), 2) << "frame " << f;
    EXPECT_NEAR(left(f), right(f), 2) << "frame " << f;  // each side dithered on its own
  }
  for (uint32_t f : {3000u, 4095u, 4096u, 9000u})
    EXPECT_NEAR(left(f), rampAt(f - 1000) + rampAt(f - 3000), 3) << "frame " << f;
  // The late voice alone lengthens the output to its last sample.
  const uint32_t lateStart = uint32_t(2.5 * 44100 + 0.5);
  const uint32_t rampFrames = 4000u * 44100 / 8000;
  EXPECT_EQ(result.frames, lateStart + rampFrames);
  EXPECT_NEAR(left(lateStart + 4410), rampAt(4410), 1);
  EXPECT_NEAR(left(result.frames - 1), rampAt(rampFrames - 1), 1);
}

TEST(RenderFile, WritesTheSameWaveAsInMemory) {
  if (!haveSoundfont()) GTEST_SKIP() << "no SoundFont at " << DEFAULT_SOUNDFONT;
  ScratchDir dir;
  const std::vector<uint8_t> smf = eightSecondSong();
  RenderRequest request = requestFor(smf);
  RenderVoice v{std::make_shared<std::vector<int16_t>>(4000, 3000), 8000, 7.5};
  request.voices.push_back(v);
  std::vector<uint8_t> wave;
  RenderResult inMemory, onDisk;
  std::string error;
  ASSERT_EQ(renderSmfToWave(request, &wave, &inMemory, &error), 1) << error;
  const auto out = dir.path / "song.wav";
  ASSERT_EQ(renderSmfToFile(request, out.c_str(), &onDisk, &error), 1) << error;
  EXPECT_EQ(onDisk.frames, inMemory.frames);
  const std::vector<uint8_t> written = fileBytes(out);
  EXPECT_EQ(written, wave);  // the header was completed with the sizes
  PcmWave pcm;
  ASSERT_TRUE(parsePcmWave(written.data(), uint32_t(written.size()), &pcm));
  EXPECT_EQ(pcm.frames(), onDisk.frames);
  EXPECT_EQ(dir.entries(), 1u);  // no temporary file stays behind

  // Rendering again replaces the file and keeps its permission bits.
  std::filesystem::permissions(out, std::filesystem::perms(0640));
  ASSERT_EQ(renderSmfToFile(request, out.c_str(), &onDisk, &error), 1) << error;
  EXPECT_EQ(std::filesystem::status(out).permissions(), std::filesystem::perms(0640));
  EXPECT_EQ(dir.entries(), 1u);
}

TEST(RenderFile, FailureKeepsTheOldFileAndLeavesNothingBehind) {
  ScratchDir dir;
  const auto out = dir.path / "song.wav";
  { std::ofstream(out) << "the user's old file"; }
  const std::vector<uint8_t> before = fileBytes(out);
  const std::vector<uint8_t> smf = eightSecondSong();
  RenderRequest request = requestFor(smf);
  RenderResult result;
  std::string error;

  request.soundfont = "/nonexistent/none.sf2";  // the synthesizer cannot start
  EXPECT_EQ(renderSmfToFile(request, out.c_str(), &result, &error), 0);
  EXPECT_NE(error.find("none.sf2"), std::string::npos);
  EXPECT_FALSE(result.outputFailed);
  EXPECT_EQ(fileBytes(out), before);
  EXPECT_EQ(dir.entries(), 1u);

  const uint8_t junk[] = {'M', 'T', 'h', 'd', 0};  // not a MIDI file
  request = RenderRequest{};
  request.smf = junk;
  request.smfSize = sizeof junk;
  error.clear();
  EXPECT_EQ(renderSmfToFile(request, out.c_str(), &result, &error), 0);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(fileBytes(out), before);
  EXPECT_EQ(dir.entries(), 1u);
}

TEST(RenderFile, UnwritableDestinationIsAnOutputError) {
  ScratchDir dir;
  const std::vector<uint8_t> smf = eightSecondSong();
  RenderRequest request = requestFor(smf);
  RenderResult result;
  std::string error;
  const auto missing = dir.path / "no such folder" / "song.wav";
  EXPECT_EQ(renderSmfToFile(request, missing.c_str(), &result, &error), 0);
  EXPECT_TRUE(result.outputFailed);
  EXPECT_NE(error.find("song.wav"), std::string::npos);
  EXPECT_NE(error.find("No such file"), std::string::npos);
  // A folder in the way is not replaced.
  error.clear();
  EXPECT_EQ(renderSmfToFile(request, dir.path.c_str(), &result, &error), 0);
  EXPECT_TRUE(result.outputFailed);
  EXPECT_TRUE(std::filesystem::is_directory(dir.path));
  EXPECT_EQ(dir.entries(), 0u);
}

TEST(RenderFile, SongTooLongForAWaveFileIsRefusedBeforeRendering) {
  // One quarter of 16.7 s at a division of 1, a delta of 2^28 - 1 quarters: about 142 years.
  const std::vector<uint8_t> smf = {'M',  'T',  'h',  'd',  0,    0,    0,    6, 0, 0, 0,
                                    1,    0,    1,    'M',  'T',  'r',  'k',  0, 0, 0, 14,  //
                                    0,    0xFF, 0x51, 3,    0xFF, 0xFF, 0xFF,               // tempo
                                    0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x2F, 0};
  RenderRequest request = requestFor(smf);
  request.soundfont = "/nonexistent/none.sf2";  // refused before the synthesizer starts
  uint32_t blocks = 0;
  RenderResult result;
  std::string error;
  EXPECT_EQ(renderSmf(
                request, [&](const int16_t*, uint32_t) { return ++blocks, true; }, &result, &error),
            0);
  EXPECT_EQ(blocks, 0u);
  EXPECT_NE(error.find("too long"), std::string::npos);
  // A voice far beyond any WAVE file is refused the same way.
  const std::vector<uint8_t> shortSong = eightSecondSong();
  request = requestFor(shortSong);
  request.voices.push_back({std::make_shared<std::vector<int16_t>>(10, 1), 8000, 1e9});
  error.clear();
  EXPECT_EQ(renderSmf(
                request, [&](const int16_t*, uint32_t) { return ++blocks, true; }, &result, &error),
            0);
  EXPECT_EQ(blocks, 0u);
  EXPECT_NE(error.find("too long"), std::string::npos);
}

}  // namespace
}  // namespace vlm
