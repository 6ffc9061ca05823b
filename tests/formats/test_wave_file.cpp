// WAVE files as collections hold them: PCM, IMA ADPCM and Microsoft ADPCM decode to the sound
// they carry; other codings are named and not decoded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "formats/wave_file.h"
#include "test_util.h"

namespace vlm {
namespace {

using Bytes = std::vector<uint8_t>;

using test::appendLE;

using test::waveFormat;
using test::waveImage;

// The IMA ADPCM encoder the files were made with: the code whose step lands nearest, the state
// moving as the decoder's does (with the decoder's step sizes).
struct ImaEncoder {
  int value = 0, index = 0;
  uint8_t encode(int sample) {
    static const int adjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
    const int step = imaStepSize(index);
    int d = sample - value;
    uint8_t code = 0;
    if (d < 0) code = 8, d = -d;
    int diff = step >> 3;
    if (d >= step) code |= 4, d -= step, diff += step;
    if (d >= step / 2) code |= 2, d -= step / 2, diff += step >> 1;
    if (d >= step / 4) code |= 1, diff += step >> 2;
    value = std::clamp(code & 8 ? value - diff : value + diff, -32768, 32767);
    index = std::clamp(index + adjust[code & 7], 0, 88);
    return code;
  }
};

std::vector<int16_t> sine(size_t count) {
  std::vector<int16_t> s(count);
  for (size_t i = 0; i < count; ++i) s[i] = int16_t(12000 * std::sin(double(i) * 0.05));
  return s;
}

TEST(WaveFile, ImaAdpcmDecodesToTheSoundItCarries) {
  constexpr uint16_t BLOCK = 256;
  constexpr size_t PER_BLOCK = 1 + (BLOCK - 4) * 2;  // the header's sample and two a byte
  const std::vector<int16_t> sound = sine(PER_BLOCK * 3);
  Bytes data;
  for (size_t start = 0; start < sound.size(); start += PER_BLOCK) {
    ImaEncoder enc;
    enc.value = sound[start];
    appendLE(data, uint16_t(sound[start]), 2);
    data.insert(data.end(), {0, 0});
    for (size_t i = start + 1; i + 1 < start + PER_BLOCK; i += 2) {
      const uint8_t low = enc.encode(sound[i]);
      data.push_back(uint8_t(low | enc.encode(sound[i + 1]) << 4));
    }
  }
  Bytes extra;
  appendLE(extra, PER_BLOCK, 2);
  const Bytes image = waveImage(waveFormat(WAVE_TAG_IMA_ADPCM, 8000, BLOCK, 4, extra), data);
  const WaveFileFormat format = parseWaveFile(image.data(), uint32_t(image.size()));
  EXPECT_TRUE(format.riffWave);
  EXPECT_TRUE(waveFileDecodable(format));
  EXPECT_EQ(waveFileCodingName(format.tag), "ima-adpcm");
  EXPECT_EQ(format.rate, 8000u);
  const std::vector<int16_t> decoded = decodeWaveFile(image.data(), format);
  ASSERT_EQ(decoded.size(), sound.size());
  double error = 0;
  for (size_t i = 0; i < sound.size(); ++i) error += std::abs(decoded[i] - sound[i]);
  EXPECT_LT(error / double(sound.size()), 300.0);  // within 2.5 % of the amplitude
}

TEST(WaveFile, MicrosoftAdpcmHeaderSamplesComeFirstThenHighNibbles) {
  // Predictor 0 (256, 0: the last sample again), delta 16, newer sample 100, older sample 50;
  // every code 1 adds one delta, which stays at its least, 16.
  Bytes block = {0};
  appendLE(block, 16, 2);
  appendLE(block, 100, 2);
  appendLE(block, 50, 2);
  block.insert(block.end(), {0x11, 0x1F});  // the last code, -1, takes one delta off
  Bytes extra;
  appendLE(extra, 6, 2);  // samples per block
  appendLE(extra, 1, 2);  // one coefficient pair
  appendLE(extra, 256, 2);
  appendLE(extra, 0, 2);
  const Bytes image = waveImage(waveFormat(WAVE_TAG_MS_ADPCM, 11025, 9, 4, extra), block);
  const WaveFileFormat format = parseWaveFile(image.data(), uint32_t(image.size()));
  EXPECT_EQ(waveFileCodingName(format.tag), "ms-adpcm");
  EXPECT_EQ(decodeWaveFile(image.data(), format),
            (std::vector<int16_t>{50, 100, 116, 132, 148, 132}));
}

TEST(WaveFile, PcmOfEightAndSixteenBitsAndOtherCodingsNamedOnly) {
  const Bytes eight = waveImage(waveFormat(WAVE_TAG_PCM, 8000, 1, 8), {0x80, 0xFF, 0x00});
  WaveFileFormat format = parseWaveFile(eight.data(), uint32_t(eight.size()));
  EXPECT_EQ(decodeWaveFile(eight.data(), format), (std::vector<int16_t>{0, 127 * 256, -32768}));
  const Bytes sixteen = waveImage(waveFormat(WAVE_TAG_PCM, 8000, 2, 16), {0x34, 0x12, 0, 0x80});
  format = parseWaveFile(sixteen.data(), uint32_t(sixteen.size()));
  EXPECT_EQ(decodeWaveFile(sixteen.data(), format), (std::vector<int16_t>{0x1234, -32768}));
  const Bytes mp3 = waveImage(waveFormat(0x0055, 22050, 1, 0), {1, 2, 3, 4});
  format = parseWaveFile(mp3.data(), uint32_t(mp3.size()));
  EXPECT_FALSE(waveFileDecodable(format));
  EXPECT_EQ(waveFileCodingName(format.tag), "format 0x0055");
  EXPECT_TRUE(decodeWaveFile(mp3.data(), format).empty());
  // A cut image never reads past its end.
  for (size_t n = 0; n < eight.size(); ++n) {
    const Bytes cut(eight.begin(), eight.begin() + long(n));
    format = parseWaveFile(cut.data(), uint32_t(cut.size()));
    EXPECT_LE(decodeWaveFile(cut.data(), format).size(), 3u);
  }
}

}  // namespace
}  // namespace vlm
