// The ADPCM decoders and the WAVE images they write.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/codec.h"
#include "formats/adpcm.h"
#include "test_util.h"

namespace vlm {
namespace {

using test::correlation;

struct Decoded {
  std::vector<uint8_t> image;
  int32_t size = -1;
};

Decoded decode(const std::vector<uint8_t>& adpcm, uint32_t codec, uint32_t capacity = 1 << 20,
               uint32_t rate = 8000) {
  AdpcmCodec = codec;
  Decoded d;
  d.image.assign(capacity + 16, 0xEE);  // the guard bytes past the capacity must survive
  EXPECT_EQ(decodeAdpcmToWave(adpcm.data(), uint32_t(adpcm.size()), d.image.data(), &d.size,
                              capacity, rate),
            1);
  for (uint32_t i = capacity; i < capacity + 16; ++i) EXPECT_EQ(d.image[i], 0xEE);
  AdpcmCodec = 0;
  return d;
}

int sampleAt(const Decoded& d, int k) {
  return int(d.image[44 + k]) - 128;
}

TEST(Adpcm, EmptyInputGivesBareHeader) {
  Decoded d = decode({}, 0, 4096, 11000);
  ASSERT_EQ(d.size, 44);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(d.image.data()), 4), "RIFF");
  EXPECT_EQ(getLE(d.image.data() + 4, 4), 36u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(d.image.data() + 8), 8), "WAVEfmt ");
  EXPECT_EQ(getLE(d.image.data() + 16, 4), 16u);
  EXPECT_EQ(getLE(d.image.data() + 20, 2), 1u);
  EXPECT_EQ(getLE(d.image.data() + 22, 2), 1u);
  EXPECT_EQ(getLE(d.image.data() + 24, 4), 11000u);
  EXPECT_EQ(getLE(d.image.data() + 28, 4), 11000u);
  EXPECT_EQ(getLE(d.image.data() + 32, 2), 1u);
  EXPECT_EQ(getLE(d.image.data() + 34, 2), 8u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(d.image.data() + 36), 4), "data");
  EXPECT_EQ(getLE(d.image.data() + 40, 4), 0u);
}

TEST(Adpcm, SizesCountTwoSamplesPerByte) {
  Decoded d = decode(std::vector<uint8_t>(100, 0x77), 0);
  ASSERT_EQ(d.size, 244);
  EXPECT_EQ(getLE(d.image.data() + 4, 4), 236u);
  EXPECT_EQ(getLE(d.image.data() + 40, 4), 200u);
}

TEST(Adpcm, StepCodesSevenAndFifteenMoveByTheSameAmountInOppositeDirections) {
  StepAdpcmState up, down;
  int rise = decodeStepAdpcm(up, 0x7);
  int fall = decodeStepAdpcm(down, 0xF);
  EXPECT_EQ(rise, 16 * 15 / 8);
  EXPECT_EQ(fall, -rise);
  EXPECT_EQ(up.index, 8);
  EXPECT_EQ(down.index, 8);
  // From the same state again, after the index moved up.
  StepAdpcmState a = up, b = up;
  int base = up.value;
  EXPECT_EQ(decodeStepAdpcm(a, 0x7) - base, base - decodeStepAdpcm(b, 0xF));
}

TEST(Adpcm, StepValueIsClampedAndIndexStaysInTable) {
  StepAdpcmState s;
  for (int i = 0; i < 200; ++i) decodeStepAdpcm(s, 0x7);
  EXPECT_EQ(s.value, 2047);
  EXPECT_EQ(s.index, 48);
  for (int i = 0; i < 400; ++i) decodeStepAdpcm(s, 0xF);
  EXPECT_EQ(s.value, -2048);
  for (int i = 0; i < 200; ++i) decodeStepAdpcm(s, 0x0);
  EXPECT_EQ(s.index, 0);
  // Full scale decodes to the ends of the 8-bit range, rounding toward zero.
  Decoded d = decode(std::vector<uint8_t>(200, 0x77), 0);
  EXPECT_EQ(sampleAt(d, 399), 127);
  d = decode(std::vector<uint8_t>(200, 0xFF), 0);
  EXPECT_EQ(sampleAt(d, 399), -128);
}

TEST(Adpcm, NibbleOrderFollowsTheCodec) {
  // Code 1 then code 2 against code 2 then code 1, from a fresh state each time.
  StepAdpcmState s;
  int afterOne = decodeStepAdpcm(s, 1) / 16;
  int oneThenTwo = decodeStepAdpcm(s, 2) / 16;
  StepAdpcmState t;
  int afterTwo = decodeStepAdpcm(t, 2) / 16;
  int twoThenOne = decodeStepAdpcm(t, 1) / 16;

  // Codes 7 and 1 are told apart already in the first 8-bit sample.
  StepAdpcmState u, v;
  int sevenFirst = decodeStepAdpcm(u, 0x7) / 16;
  int sevenSecond = decodeStepAdpcm(u, 0x1) / 16;
  int oneFirst = decodeStepAdpcm(v, 0x1) / 16;
  int oneSecond = decodeStepAdpcm(v, 0x7) / 16;
  ASSERT_NE(sevenFirst, oneFirst);

  Decoded high = decode({0x12}, ADPCM_STEP_HIGH_FIRST);
  EXPECT_EQ(sampleAt(high, 0), afterOne);
  EXPECT_EQ(sampleAt(high, 1), oneThenTwo);
  Decoded low = decode({0x12}, ADPCM_STEP_LOW_FIRST);
  EXPECT_EQ(sampleAt(low, 0), afterTwo);
  EXPECT_EQ(sampleAt(low, 1), twoThenOne);

  Decoded h = decode({0x71}, ADPCM_STEP_HIGH_FIRST);
  EXPECT_EQ(sampleAt(h, 0), sevenFirst);
  EXPECT_EQ(sampleAt(h, 1), sevenSecond);
  Decoded l = decode({0x71}, ADPCM_STEP_LOW_FIRST);
  EXPECT_EQ(sampleAt(l, 0), oneFirst);
  EXPECT_EQ(sampleAt(l, 1), oneSecond);
  // G.721 takes the low nibble first, like codec 0.
  G721State g;
  int first = std::clamp(decodeG721(g, 0x1) * 4 >> 8, -128, 127);
  EXPECT_EQ(sampleAt(decode({0x71}, ADPCM_G721), 0), first);
}

TEST(Adpcm, G721SilenceCodesDecodeToSilence) {
  for (uint8_t silence : {0x00, 0xFF}) {
    Decoded d = decode(std::vector<uint8_t>(4000, silence), ADPCM_G721);
    ASSERT_EQ(d.size, 44 + 8000);
    for (int k = 0; k < 8000; ++k) ASSERT_EQ(d.image[44 + k], 128) << "sample " << k;
  }
}

TEST(Adpcm, G721FollowsASteadyCodeAndStaysBounded) {
  // Steady positive codes drive the signal up; steady negative ones drive it down. Any code
  // sequence keeps the state inside the recommendation's ranges.
  G721State s;
  int v = 0;
  for (int i = 0; i < 50; ++i) v = decodeG721(s, 0x5);
  EXPECT_GT(v, 1000);
  G721State t;
  for (int i = 0; i < 50; ++i) v = decodeG721(t, 0xA);
  EXPECT_LT(v, -1000);

  G721State r;
  uint32_t seed = 12345;
  for (int i = 0; i < 200000; ++i) {
    seed = seed * 1103515245 + 12345;
    int out = decodeG721(r, uint8_t(seed >> 20));
    ASSERT_GE(out, -32768);
    ASSERT_LE(out, 32767);
    ASSERT_GE(r.yu, 544);
    ASSERT_LE(r.yu, 5120);
    ASSERT_LE(std::abs(r.a[1]), 12288);
    ASSERT_LE(std::abs(r.a[0]), 15360 - r.a[1]);
    ASSERT_GE(r.ap, 0);
    ASSERT_LE(r.ap, 512);
  }
}

TEST(Adpcm, G721AlternatingCodesGiveAnAlternatingSignal) {
  // A code pattern that alternates sign decodes to an alternating signal: a tone near half the
  // sample rate.
  G721State s;
  int previous = 0, signChanges = 0;
  for (int i = 0; i < 400; ++i) {
    int v = decodeG721(s, (i & 1) ? 0x9 : 0x6);
    if (i > 100 && ((v > 0) != (previous > 0))) ++signChanges;
    previous = v;
  }
  EXPECT_GT(signChanges, 200);
}

// Encodes by trying every code on a copy of the decoder and keeping the closest reconstruction.
// A decoder whose adaptation or predictor is wrong tracks a tone poorly even so.
double g721TrackingSnr(double amplitude, double hz) {
  G721State s;
  double signal = 0, noise = 0;
  for (int n = 0; n < 8000; ++n) {
    int target = int(amplitude * std::sin(2 * M_PI * hz * n / 8000));
    int best = 0, bestError = 1 << 30;
    for (int c = 0; c < 16; ++c) {
      G721State trial = s;
      int e = std::abs(decodeG721(trial, uint8_t(c)) - target);
      if (e < bestError) bestError = e, best = c;
    }
    int out = decodeG721(s, uint8_t(best));
    if (n >= 800) {
      signal += double(target) * target;
      noise += double(out - target) * (out - target);
    }
  }
  return 10 * std::log10(signal / std::max(noise, 1.0));
}

TEST(Adpcm, G721TracksTones) {
  // The full decoder reaches about 46, 36 and 49 dB here; a wrong sign in the pole update
  // loses several dB, a scale factor that does not adapt loses nearly everything.
  EXPECT_GT(g721TrackingSnr(4000, 440), 42.0);
  EXPECT_GT(g721TrackingSnr(1000, 1000), 33.0);
  EXPECT_GT(g721TrackingSnr(7000, 200), 46.0);
}

TEST(Adpcm, OutputStopsEightBytesShortOfCapacity) {
  std::vector<uint8_t> adpcm(1000, 0x35);
  for (uint32_t capacity : {44u, 51u, 52u, 53u, 100u, 1000u, 2051u}) {
    Decoded d = decode(adpcm, 0, capacity);
    const int32_t room = int32_t(capacity) - 8;
    ASSERT_LE(d.size, std::max<int32_t>(room, 44)) << "capacity " << capacity;
    EXPECT_EQ(d.size, std::max<int32_t>(room, 44)) << "capacity " << capacity;
    EXPECT_EQ(getLE(d.image.data() + 40, 4), uint32_t(d.size - 44));
    EXPECT_EQ(getLE(d.image.data() + 4, 4), uint32_t(d.size - 8));
  }
  // Room for everything: all samples come out.
  EXPECT_EQ(decode(adpcm, 0, 2052).size, 2044);
}

TEST(Adpcm, CapacityBelowTheHeaderWritesNothing) {
  Decoded d = decode({0x12, 0x34}, 0, 43);
  EXPECT_EQ(d.size, 0);
  for (int i = 0; i < 43; ++i) ASSERT_EQ(d.image[i], 0xEE);
}

TEST(Adpcm, LinearDecodeMatchesTheEightBitOne) {
  std::vector<uint8_t> adpcm = {0x17, 0x7F, 0x80, 0x33, 0xC1, 0x0E};
  for (uint32_t codec : {0u, 1u, 2u}) {
    Decoded d = decode(adpcm, codec);
    AdpcmCodec = codec;
    std::vector<int16_t> linear(adpcm.size() * 2);
    decodeAdpcmToLinear(adpcm.data(), uint32_t(adpcm.size()), linear.data());
    AdpcmCodec = 0;
    for (size_t k = 0; k < linear.size(); ++k) {
      int eight = sampleAt(d, int(k));
      EXPECT_NEAR(linear[k] / 256.0, eight, 1.0) << "codec " << codec << " sample " << k;
    }
  }
}

// ---- Yamaha ADPCM and the PCM codings -----------------------------------------------------------

std::vector<int16_t> sine(uint32_t count, double hz, uint32_t rate, double amplitude) {
  std::vector<int16_t> out(count);
  for (uint32_t i = 0; i < count; ++i)
    out[i] = int16_t(std::lround(amplitude * std::sin(2 * M_PI * hz * i / rate)));
  return out;
}

std::vector<int16_t> linear(uint32_t coding, const std::vector<uint8_t>& data) {
  std::vector<int16_t> out(waveSampleCount(coding, uint32_t(data.size())));
  decodeWaveToLinear(coding, data.data(), uint32_t(data.size()), out.data());
  return out;
}

TEST(YamahaAdpcm, StepAndValueFollowTheScheme) {
  // From the start (value 0, step 127): magnitude 7 moves by 15 x 127 / 8 and scales the step
  // by 614 / 256; magnitude 0 moves by 127 / 8 and the step stays at its floor.
  YamahaAdpcmState s;
  EXPECT_EQ(decodeYamahaAdpcm(s, 0x7), 238);
  EXPECT_EQ(s.step, 127 * 614 / 256);
  EXPECT_EQ(decodeYamahaAdpcm(s, 0xF), 238 - 15 * 304 / 8);
  YamahaAdpcmState t;
  EXPECT_EQ(decodeYamahaAdpcm(t, 0x8), -15);
  EXPECT_EQ(t.step, 127);
  YamahaAdpcmState u;
  decodeYamahaAdpcm(u, 0x4);  // 307 / 256
  EXPECT_EQ(u.step, 127 * 307 / 256);
  // The step tops out at 24576 and the value at the 16-bit ends.
  for (int i = 0; i < 100; ++i) decodeYamahaAdpcm(s, 0x7);
  EXPECT_EQ(s.step, 24576);
  EXPECT_EQ(s.value, 32767);
  for (int i = 0; i < 100; ++i) decodeYamahaAdpcm(s, 0xF);
  EXPECT_EQ(s.value, -32768);
  for (int i = 0; i < 100; ++i) decodeYamahaAdpcm(s, 0x0);
  EXPECT_EQ(s.step, 127);
}

TEST(YamahaAdpcm, LowNibbleComesFirst) {
  const std::vector<int16_t> out = linear(ADPCM_YAMAHA, {0x70});
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], 15);                 // code 0
  EXPECT_EQ(out[1], 15 + 15 * 127 / 8);  // then code 7 at step 127
  const std::vector<int16_t> swapped = linear(ADPCM_YAMAHA, {0x07});
  EXPECT_EQ(swapped[0], 238);
}

TEST(YamahaAdpcm, EncoderStaysInStepWithTheDecoderAndFollowsTheSignal) {
  const std::vector<int16_t> source = sine(8000, 440, 8000, 12000);
  const std::vector<uint8_t> coded = encodeYamahaWave(source.data(), uint32_t(source.size()));
  ASSERT_EQ(coded.size(), 4000u);
  // The encoder's own reconstruction is what the decoder gives back.
  YamahaAdpcmState enc;
  std::vector<int16_t> reconstructed;
  for (int16_t x : source) {
    encodeYamahaAdpcm(enc, x);
    reconstructed.push_back(int16_t(enc.value));
  }
  const std::vector<int16_t> decoded = linear(ADPCM_YAMAHA, coded);
  EXPECT_EQ(decoded, reconstructed);
  EXPECT_GT(correlation(decoded, source), 0.99);
  // A loud sound that swells and fades (two tones, up to full scale) and silence stay close to
  // the source; the value clamps at the 16-bit ends instead of wrapping.
  std::vector<int16_t> swell(8000);
  for (size_t i = 0; i < swell.size(); ++i) {
    const double envelope = std::sin(M_PI * double(i) / double(swell.size()));
    const double v =
        0.7 * std::sin(2 * M_PI * 220 * i / 8000) + 0.3 * std::sin(2 * M_PI * 1250 * i / 8000);
    swell[i] = int16_t(std::lround(32767 * envelope * v));
  }
  EXPECT_GT(correlation(linear(ADPCM_YAMAHA, encodeYamahaWave(swell.data(), 8000)), swell), 0.99);
  const std::vector<int16_t> silence(1000, 0);
  for (int16_t v : linear(ADPCM_YAMAHA, encodeYamahaWave(silence.data(), 1000)))
    EXPECT_LE(std::abs(v), 15);
  // An odd count leaves the last high nibble 0.
  EXPECT_EQ(encodeYamahaWave(source.data(), 3).size(), 2u);
  EXPECT_EQ(encodeYamahaWave(source.data(), 3)[1] >> 4, 0);
}

TEST(WaveCodings, PcmCodingsAndTheirSampleCounts) {
  EXPECT_EQ(linear(WAVE_PCM8, {0x00, 0x7F, 0x80, 0xFF}),
            (std::vector<int16_t>{0, 127 * 256, -32768, -256}));
  EXPECT_EQ(linear(WAVE_PCM8_OFFSET, {0x80, 0xFF, 0x00}),
            (std::vector<int16_t>{0, 127 * 256, -32768}));
  // 16-bit samples are big-endian; an odd last byte is no sample.
  EXPECT_EQ(linear(WAVE_PCM16, {0x12, 0x34, 0xFF, 0xFE, 0x77}), (std::vector<int16_t>{0x1234, -2}));
  EXPECT_EQ(linear(WAVE_PCM16_OFFSET, {0x80, 0x00, 0x00, 0x00}), (std::vector<int16_t>{0, -32768}));
  EXPECT_EQ(waveSampleCount(ADPCM_YAMAHA, 5), 10u);
  EXPECT_EQ(waveSampleCount(ADPCM_G721, 5), 10u);
  EXPECT_EQ(waveSampleCount(WAVE_PCM8, 5), 5u);
  EXPECT_EQ(waveSampleCount(WAVE_PCM16_OFFSET, 5), 2u);
  // Codings beyond the known ones decode as G.721, as the selector always read "2 or more".
  const std::vector<uint8_t> codes = {0x17, 0x7F, 0x80, 0x33};
  EXPECT_EQ(linear(WAVE_CODINGS + 3, codes), linear(ADPCM_G721, codes));
  EXPECT_STREQ(waveCodingName(ADPCM_YAMAHA), "yamaha-adpcm");
}

TEST(WaveCodings, SixteenBitImagesForTheWideCodings) {
  const std::vector<uint8_t> pcm = {0x12, 0x34, 0x80, 0x00, 0x7F, 0xFF};
  const uint32_t capacity = waveImageCapacity(WAVE_PCM16, uint32_t(pcm.size()));
  EXPECT_EQ(capacity, 44u + 6u + 8u);
  std::vector<uint8_t> image(capacity + 16, 0xEE);
  int32_t size = 0;
  decodeWaveToImage(WAVE_PCM16, pcm.data(), uint32_t(pcm.size()), image.data(), &size, capacity,
                    12000);
  ASSERT_EQ(size, 50);
  EXPECT_EQ(getLE(image.data() + 24, 4), 12000u);
  EXPECT_EQ(getLE(image.data() + 28, 4), 24000u);
  EXPECT_EQ(getLE(image.data() + 32, 2), 2u);
  EXPECT_EQ(getLE(image.data() + 34, 2), 16u);
  EXPECT_EQ(getLE(image.data() + 40, 4), 6u);
  EXPECT_EQ(getLE(image.data() + 44, 2), 0x1234u);
  EXPECT_EQ(getLE(image.data() + 46, 2), 0x8000u);
  // A capacity that cuts a 16-bit sample in half drops the whole sample.
  std::vector<uint8_t> small(44 + 3 + 8 + 16, 0xEE);
  decodeWaveToImage(ADPCM_YAMAHA, pcm.data(), uint32_t(pcm.size()), small.data(), &size, 44 + 3 + 8,
                    8000);
  EXPECT_EQ(size, 46);
  for (size_t i = 44 + 3 + 8; i < small.size(); ++i) ASSERT_EQ(small[i], 0xEE);
  // 8-bit PCM stays an 8-bit image.
  EXPECT_EQ(waveImageBits(WAVE_PCM8_OFFSET), 8u);
  EXPECT_EQ(waveImageBits(ADPCM_STEP_LOW_FIRST), 8u);
}

TEST(WaveCodings, ResamplingInterpolatesBetweenSamples) {
  const std::vector<int16_t> in = {0, 100, 200, 300};
  EXPECT_EQ(resampleWave(in, 4000, 8000),
            (std::vector<int16_t>{0, 50, 100, 150, 200, 250, 300, 300}));
  EXPECT_EQ(resampleWave(in, 8000, 4000), (std::vector<int16_t>{0, 200}));
  EXPECT_EQ(resampleWave(in, 8000, 8000), in);
  EXPECT_TRUE(resampleWave(in, 0, 8000).empty());
  EXPECT_TRUE(resampleWave({}, 8000, 4000).empty());
  EXPECT_EQ(resampleWave(in, 44100, 4000).size(), 1u);  // never shorter than one sample
}

TEST(WaveCodings, TranscodingToYamahaKeepsTheSound) {
  const std::vector<int16_t> source = sine(4000, 300, 8000, 10000);
  // Yamaha ADPCM at the wanted rate is taken as it stands, cut to the room given.
  const std::vector<uint8_t> yamaha = encodeYamahaWave(source.data(), 4000);
  EXPECT_EQ(transcodeToYamaha(ADPCM_YAMAHA, yamaha.data(), 2000, 8000, 8000, 5000), yamaha);
  EXPECT_EQ(transcodeToYamaha(ADPCM_YAMAHA, yamaha.data(), 2000, 8000, 8000, 100).size(), 100u);
  // 16-bit PCM at another rate is resampled first.
  std::vector<uint8_t> pcm;
  for (int16_t v : source) pcm.insert(pcm.end(), {uint8_t(uint16_t(v) >> 8), uint8_t(v)});
  const std::vector<uint8_t> halved =
      transcodeToYamaha(WAVE_PCM16, pcm.data(), uint32_t(pcm.size()), 8000, 4000, 1 << 20);
  EXPECT_EQ(halved.size(), 1000u);
  EXPECT_GT(correlation(linear(ADPCM_YAMAHA, halved), resampleWave(source, 8000, 4000)), 0.99);
  // A step-table wave (as i-melody waves and the wave reader carry) sounds the same after.
  std::vector<uint8_t> step(2000);
  for (size_t i = 0; i < step.size(); ++i) step[i] = uint8_t(i * 37 % 251);
  AdpcmCodec = ADPCM_STEP_LOW_FIRST;
  std::vector<int16_t> stepLinear(4000);
  decodeAdpcmToLinear(step.data(), 2000, stepLinear.data());
  const std::vector<uint8_t> moved =
      transcodeToYamaha(ADPCM_STEP_LOW_FIRST, step.data(), 2000, 8000, 8000, 1 << 20);
  EXPECT_GT(correlation(linear(ADPCM_YAMAHA, moved), stepLinear), 0.95);
  EXPECT_TRUE(transcodeToYamaha(WAVE_PCM8, nullptr, 10, 8000, 8000, 10).empty());
}

}  // namespace
}  // namespace vlm
