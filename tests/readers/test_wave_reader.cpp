#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "convert/options.h"
#include "core/stages.h"
#include "core/run_state.h"
#include "core/vstream.h"
#include "formats/adpcm.h"
#include "test_util.h"

namespace vlm {
namespace {

using Bytes = std::vector<uint8_t>;

void putLE(Bytes& b, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

void appendChunk(Bytes& b, const char* id, const Bytes& body) {
  b.insert(b.end(), id, id + 4);
  putLE(b, uint32_t(body.size()), 4);
  b.insert(b.end(), body.begin(), body.end());
  if (body.size() & 1) b.push_back(0);  // chunks are padded to an even length
}

Bytes fmtChunk(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits) {
  Bytes f;
  putLE(f, format, 2);
  putLE(f, channels, 2);
  putLE(f, rate, 4);
  putLE(f, rate * channels * bits / 8, 4);
  putLE(f, channels * bits / 8, 2);
  putLE(f, bits, 2);
  return f;
}

// A RIFF WAVE image with the given chunks after "WAVE".
Bytes riff(const std::vector<std::pair<const char*, Bytes>>& chunks) {
  Bytes body = {'W', 'A', 'V', 'E'};
  for (const auto& [id, data] : chunks) appendChunk(body, id, data);
  Bytes out = {'R', 'I', 'F', 'F'};
  putLE(out, uint32_t(body.size()), 4);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Bytes pcm16(const std::vector<int16_t>& samples) {
  Bytes b;
  for (int16_t s : samples) putLE(b, uint16_t(s), 2);
  return b;
}

struct WaveStream {
  int32_t size = 0;
  uint16_t timebase = 0;
  bool truncated = false;
  Bytes tempo;
  bool hasWave = false;
  uint8_t number = 0, rateCode = 0;
  Bytes adpcm;
  bool hasNote = false;
  uint8_t noteStatus = 0;
  Bytes note;
  uint32_t end = 0;
};

WaveStream read(StageFn reader, const Bytes& image, uint32_t capacity = 1 << 18) {
  const test::CollectedStream s = test::runStage(reader, image, capacity);
  WaveStream w;
  w.size = s.size;
  w.timebase = s.timebase;
  w.truncated = s.truncated;
  for (const test::StreamEventCopy& e : s.events) {
    if (e.status == ST_META && e.metaType == META_TEMPO) w.tempo = e.data;
    if (e.status == ST_META && e.metaType == META_WAVE && e.data.size() >= 2) {
      w.hasWave = true;
      w.number = e.data[0];
      w.rateCode = e.data[1];
      w.adpcm.assign(e.data.begin() + 2, e.data.end());
    }
    if ((e.status & 0xF0) == ST_NOTE_HIGH) {
      w.hasNote = true;
      w.noteStatus = e.status;
      w.note = e.data;
    }
  }
  for (uint32_t end : s.trackEnds) w.end = std::max(w.end, end);
  return w;
}

class WaveReader : public ::testing::Test {
 protected:
  void SetUp() override { resetRun(); }
};

TEST_F(WaveReader, SilenceGivesAlternatingCodes) {
  setSongText(INFO_TITLE, "old", 3);
  // 16-bit silence: codes 0 and 8 alternate from the first sample on, the step index stays at 0
  // (so the predictor only moves by 2 each way).
  WaveStream w = read(readWave, riff({{"fmt ", fmtChunk(1, 1, 4000, 16)},
                                      {"data", pcm16(std::vector<int16_t>(400, 0))}}));
  EXPECT_EQ(w.timebase, 96);
  EXPECT_EQ(w.tempo, (Bytes{0x03, 0xD0, 0x90}));  // 250000 microseconds
  ASSERT_TRUE(w.hasWave);
  EXPECT_EQ(w.number, 1);
  EXPECT_EQ(w.rateCode, 0);
  ASSERT_EQ(w.adpcm.size(), 200u);
  for (uint8_t b : w.adpcm) ASSERT_EQ(b, 0x80);  // low nibble first
  EXPECT_EQ(songStats.waveCount, 1);
  EXPECT_STREQ(song.info.text[INFO_TITLE], "");
  EXPECT_EQ(songStats.waves[0].sampleRate, 4000u);
  EXPECT_EQ(songStats.waves[0].length, 200u);
  EXPECT_TRUE(songStats.hasVoiceSamples);
}

TEST_F(WaveReader, EncodedSoundDecodesBackNearTheInput) {
  // A tone through the encoder and the player's step-table decoder.
  std::vector<int16_t> tone;
  for (int i = 0; i < 2000; ++i) tone.push_back(int16_t(12000 * std::sin(i * 0.05)));
  WaveStream w = read(readWave, riff({{"fmt ", fmtChunk(1, 1, 8000, 16)}, {"data", pcm16(tone)}}));
  options.waveRateCode = 1;
  WaveStream w8 = read(readWave, riff({{"fmt ", fmtChunk(1, 1, 8000, 16)}, {"data", pcm16(tone)}}));
  // 4000 Hz takes every second frame; 8000 Hz every frame.
  ASSERT_EQ(w.adpcm.size(), 500u);
  ASSERT_EQ(w8.adpcm.size(), 1000u);
  EXPECT_EQ(w8.rateCode, 1);
  StepAdpcmState state;
  double error = 0;
  for (size_t k = 0; k < 2 * w8.adpcm.size(); ++k) {
    const uint8_t b = w8.adpcm[k / 2];
    const int value = decodeStepAdpcm(state, k & 1 ? b >> 4 : b & 0x0F);
    if (k >= 100) error = std::max(error, std::abs(value - tone[k] / 16.0));
  }
  EXPECT_LT(error, 80.0);  // of a 12-bit range of 4096
}

TEST_F(WaveReader, FramesAreSkippedOrRepeatedWithACarry) {
  // 8-bit stereo at 11025 Hz to 4000 Hz: the first channel of frames 0, 2, 5, 8, ... (steps of
  // 2 and 3 with the carry); 22050 Hz would skip 5 or 6. 8-bit 128 is silence.
  Bytes data;
  for (int i = 0; i < 1000; ++i) {
    data.push_back(128);
    data.push_back(255);  // the second channel is never used
  }
  WaveStream w = read(readWave, riff({{"fmt ", fmtChunk(1, 2, 11025, 8)}, {"data", data}}));
  // 1000 frames at 11025 Hz give 363 samples at 4000 Hz: 182 bytes.
  EXPECT_EQ(w.adpcm.size(), 182u);
  for (uint8_t b : w.adpcm) ASSERT_EQ(b & 0x77, 0) << "the silent channel only";

  // 4000 Hz into 44100 Hz repeats every frame 11 or 12 times.
  options.waveRateCode = 4;
  WaveStream up =
      read(readWave, riff({{"fmt ", fmtChunk(1, 1, 4000, 8)}, {"data", Bytes(100, 128)}}));
  EXPECT_EQ(up.adpcm.size(), 552u);  // 1103 samples
}

TEST_F(WaveReader, WaveNoteLastsAsLongAsTheSound) {
  // 16000 frames at 8000 Hz: 2 seconds, 2000 / 100 + 1 = 21 tenths, 96 x 4 x 21 / 10 ticks.
  WaveStream w =
      read(readWave, riff({{"fmt ", fmtChunk(1, 1, 8000, 8)}, {"data", Bytes(16000, 128)}}));
  ASSERT_TRUE(w.hasNote);
  EXPECT_EQ(w.noteStatus, WAVE_NOTE_STATUS);
  const uint32_t leadIn = 96 * 4 * 21 / 10;
  EXPECT_EQ(w.note, (Bytes{1, 127, uint8_t(leadIn >> 8), uint8_t(leadIn)}));
  EXPECT_EQ(w.end, leadIn);
  // A length measured by the player takes precedence.
  options.waveLengthTenths = 5;
  WaveStream m =
      read(readWave, riff({{"fmt ", fmtChunk(1, 1, 8000, 8)}, {"data", Bytes(16000, 128)}}));
  EXPECT_EQ(m.note, (Bytes{1, 127, 0, 96 * 4 * 5 / 10}));
  EXPECT_EQ(m.end, 192u);
}

TEST_F(WaveReader, NotPcmOrNoDataGivesAWaveWithoutSamples) {
  WaveStream w =
      read(readWave, riff({{"fmt ", fmtChunk(2, 1, 8000, 4)}, {"data", Bytes(500, 0x11)}}));
  ASSERT_TRUE(w.hasWave);
  EXPECT_EQ(w.rateCode, WAVE_RATE_NONE);
  EXPECT_TRUE(w.adpcm.empty());
  EXPECT_FALSE(songStats.hasVoiceSamples);
  EXPECT_TRUE(w.hasNote);  // the note still stands for the length of the sound

  WaveStream none = read(readWave, riff({{"fmt ", fmtChunk(1, 1, 8000, 8)}}));
  EXPECT_EQ(none.rateCode, WAVE_RATE_NONE);
  WaveStream junk = read(readWave, Bytes{'h', 'e', 'l', 'l', 'o'});
  EXPECT_EQ(junk.rateCode, WAVE_RATE_NONE);
}

TEST_F(WaveReader, OddChunksAreSkippedWithTheirPadding) {
  // A 3-byte "LIST" chunk before "fmt " and "data"; without the pad byte the scan would miss
  // both. Without a "fmt " chunk the defaults are 8000 Hz, one channel, 8 bits.
  WaveStream w = read(readWave, riff({{"LIST", Bytes{1, 2, 3}},
                                      {"fmt ", fmtChunk(1, 1, 4000, 16)},
                                      {"data", pcm16(std::vector<int16_t>(40, 0))}}));
  EXPECT_EQ(w.adpcm.size(), 20u);
  WaveStream d = read(readWave, riff({{"data", Bytes(80, 128)}}));
  EXPECT_EQ(d.adpcm.size(), 20u);  // 8000 Hz into 4000 Hz
}

TEST_F(WaveReader, LongSoundsStopBelowTheMaximum) {
  // 44100 Hz into 44100 Hz, three seconds: far more than 0xFFDC bytes.
  options.waveRateCode = 4;
  WaveStream w =
      read(readWave, riff({{"fmt ", fmtChunk(1, 1, 44100, 8)}, {"data", Bytes(44100 * 3, 128)}}));
  EXPECT_EQ(w.adpcm.size(), 0xFFDCu - 8);
  // A small buffer shortens the wave instead of losing it.
  WaveStream s = read(
      readWave, riff({{"fmt ", fmtChunk(1, 1, 44100, 8)}, {"data", Bytes(44100 * 3, 128)}}), 4000);
  EXPECT_TRUE(s.hasWave);
  EXPECT_TRUE(s.hasNote);
  EXPECT_GT(s.adpcm.size(), 3000u);
}

TEST_F(WaveReader, QcpReadsOnlyTheConvertedWave) {
  const Bytes wave = riff({{"fmt ", fmtChunk(1, 1, 8000, 8)}, {"data", Bytes(100, 128)}});
  WaveStream w = read(readQcp, wave);
  EXPECT_TRUE(w.hasWave);
  EXPECT_EQ(w.adpcm.size(), 25u);
  // The voice file itself ("RIFF" ... "QLCM") yields nothing.
  Bytes qcp = wave;
  std::memcpy(qcp.data() + 8, "QLCM", 4);
  EXPECT_EQ(read(readQcp, qcp).size, 0);
  EXPECT_EQ(read(readQcp, Bytes{}).size, 0);
}

TEST_F(WaveReader, DamagedImagesAndSmallBuffers) {
  std::vector<int16_t> tone;
  for (int i = 0; i < 300; ++i) tone.push_back(int16_t(9000 * std::sin(i * 0.3)));
  const Bytes wave =
      riff({{"LIST", Bytes{7}}, {"fmt ", fmtChunk(1, 1, 11000, 16)}, {"data", pcm16(tone)}});
  for (size_t n = 0; n <= wave.size(); ++n) {
    WaveStream w = read(readWave, Bytes(wave.begin(), wave.begin() + long(n)));
    ASSERT_GT(w.size, 0) << n;
    EXPECT_FALSE(w.truncated) << n;
    EXPECT_TRUE(w.hasNote) << n;
  }
  for (uint32_t capacity = 0; capacity < 400; ++capacity) {
    WaveStream w = read(readWave, wave, capacity);
    if (w.size > 0) {
      EXPECT_FALSE(w.truncated) << capacity;
    }
  }
  std::mt19937 rng(7);
  for (int round = 0; round < 400; ++round) {
    Bytes image = wave;
    if (round % 4 == 0) {
      image.resize(rng() % 120);
      for (uint8_t& b : image) b = uint8_t(rng());
    } else {
      for (int k = 0; k < 4; ++k) image[rng() % image.size()] = uint8_t(rng());
    }
    options.waveRateCode = int(rng() % 7) - 1;  // out-of-range codes are limited
    WaveStream w = read(round & 1 ? readWave : readQcp, image, 64 + rng() % 4000);
    if (w.size > 0) {
      EXPECT_FALSE(w.truncated);
    }
  }
}

}  // namespace
}  // namespace vlm
