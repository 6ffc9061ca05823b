// Voice samples to linear samples and WAVE images. The step-table codec follows the Dialogic
// (OKI) scheme; Yamaha ADPCM the scheme of Yamaha's sound chips, whose step adapts by a factor per
// code magnitude; the G.721 decoder follows the block structure of ITU-T Recommendation G.721
// (inverse quantizer, scale-factor adaptation, speed control, tone and transition detection, the
// two-pole six-zero predictor in floating-point multiplier form), all in integer arithmetic.
#include "formats/adpcm.h"

#include <algorithm>

#include "core/codec.h"

namespace vlm {

thread_local uint32_t AdpcmCodec = 0;

namespace {

// ---- Step-table ADPCM ----------------------------------------------------------------------

constexpr int STEP_TABLE[49] = {16,  17,  19,  21,  23,  25,   28,   31,   34,   37,  41,  45,  50,
                                55,  60,  66,  73,  80,  88,   97,   107,  118,  130, 143, 157, 173,
                                190, 209, 230, 253, 279, 307,  337,  371,  408,  449, 494, 544, 598,
                                658, 724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552};
constexpr int INDEX_ADJUST[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};
constexpr int STEP_VALUE_MIN = -2048;
constexpr int STEP_VALUE_MAX = 2047;

// ---- G.721 tables, indexed by the 3-bit magnitude of a code --------------------------------

// Inverse quantizer: log2 of the normalized difference, times 128; 2048 stands for minus infinity.
constexpr int G721_DQLN[8] = {2048, 4, 135, 213, 273, 323, 373, 425};
// Scale-factor multipliers W, times 16.
constexpr int G721_W[8] = {-12, 18, 41, 64, 112, 198, 355, 1122};
// Speed-control function F.
constexpr int G721_F[8] = {0, 0, 0, 1, 1, 1, 3, 7};

// Number of significant bits of a non-negative value (0 for 0).
int bitLength(int v) {
  int n = 0;
  while (v > 0) {
    ++n;
    v >>= 1;
  }
  return n;
}

// Two's complement wrap to 16 bits.
int wrap16(int v) {
  return static_cast<int16_t>(static_cast<uint16_t>(v & 0xFFFF));
}

// Floating form of a sign-magnitude value: sign << 10 | exponent << 6 | 6-bit mantissa.
int toFloat(int sign, int magnitude) {
  int exponent = bitLength(magnitude);
  int mantissa = magnitude == 0 ? 32 : (magnitude << 6) >> exponent;
  return (sign << 10) | (exponent << 6) | mantissa;
}

// FMULT: a predictor coefficient (two's complement, 16 bits) times a value in floating form.
int floatMultiply(int coefficient, int value) {
  int coefSign = coefficient < 0 ? 1 : 0;
  int coefMag = coefSign ? (-(coefficient >> 2)) & 8191 : coefficient >> 2;
  int coefExp = bitLength(coefMag);
  int coefMant = coefMag == 0 ? 32 : (coefMag << 6) >> coefExp;
  int valueSign = (value >> 10) & 1;
  int valueExp = (value >> 6) & 15;
  int valueMant = value & 63;
  int sign = coefSign ^ valueSign;
  int exponent = coefExp + valueExp;
  int mantissa = (valueMant * coefMant + 48) >> 4;
  int magnitude = exponent <= 26 ? (mantissa << 7) >> (26 - exponent)
                                 : ((mantissa << 7) << (exponent - 26)) & 32767;
  return sign ? -magnitude : magnitude;
}

}  // namespace

int decodeStepAdpcm(StepAdpcmState& state, uint8_t code) {
  code &= 0x0F;
  int step = STEP_TABLE[state.index];
  int diff = step * (2 * (code & 7) + 1) / 8;
  if (code & 8) {
    state.value = std::max(STEP_VALUE_MIN, state.value - diff);
  } else {
    state.value = std::min(STEP_VALUE_MAX, state.value + diff);
  }
  state.index = std::clamp(state.index + INDEX_ADJUST[code], 0, 48);
  return state.value;
}

int decodeG721(G721State& s, uint8_t code) {
  code &= 0x0F;
  const int sign = code >> 3;
  const int magnitudeCode = sign ? 15 - code : code;  // negative codes count down from 15

  // Signal estimate (FMULT, ACCUM).
  int sezi = 0;
  for (int i = 0; i < 6; ++i) sezi += floatMultiply(s.b[i], s.dq[i]);
  sezi = wrap16(sezi);
  int sei = wrap16(sezi + floatMultiply(s.a[1], s.sr[1]) + floatMultiply(s.a[0], s.sr[0]));
  const int sez = sezi >> 1;
  const int se = sei >> 1;

  // Quantizer scale factor (LIMA, MIX).
  const int al = s.ap >= 256 ? 64 : s.ap >> 2;
  const int ylShort = s.yl >> 6;
  int dif = s.yu - ylShort;
  int prod = (std::abs(dif) * al) >> 6;
  const int y = ylShort + (dif < 0 ? -prod : prod);

  // Inverse quantizer (IQUANT, ADDA, ANTILOG).
  const int dql = (G721_DQLN[magnitudeCode] + (y >> 2)) & 4095;
  int dqMag = 0;
  if (!(dql & 2048)) {
    int dex = (dql >> 7) & 15;
    int dqt = 128 + (dql & 127);
    dqMag = (dqt << 7) >> (14 - dex);
  }
  const int dq = sign ? -dqMag : dqMag;

  // Reconstructed signal (ADDB) and the zero-section sum for the pole update (ADDC).
  const int sr = wrap16(se + dq);
  const int dqsez = wrap16(dq + sez);
  const int pk0 = dqsez < 0 ? 1 : 0;
  const bool sigpk = dqsez == 0;

  // Transition detector (TRANS), on the state before this sample's adaptation.
  const int ylInt = s.yl >> 15;
  const int ylFrac = (s.yl >> 10) & 31;
  const int thr1 = (32 + ylFrac) << ylInt;
  const int thr2 = ylInt > 9 ? 31 << 10 : thr1;
  const int dqThreshold = (thr2 + (thr2 >> 1)) >> 1;
  const bool tr = s.td == 1 && dqMag > dqThreshold;

  // Scale-factor adaptation (FUNCTW, FILTD, LIMB, FILTE).
  int yut = y + (((G721_W[magnitudeCode] << 5) - y) >> 5);
  const int yup = std::clamp(yut, 544, 5120);
  const int ylp = s.yl + yup + ((-s.yl) >> 6);

  // Predictor coefficients (UPA2, LIMC, UPA1, LIMD, UPB, TRIGB).
  int a2p = 0, a1p = 0;
  int bp[6] = {0, 0, 0, 0, 0, 0};
  if (!tr) {
    const int pks1 = pk0 ^ s.pk[0];
    const int pks2 = pk0 ^ s.pk[1];
    int uga2 = 0;
    if (!sigpk) {
      int fa1 = std::clamp(s.a[0], -8191, 8191) << 2;
      int uga2b = (pks2 ? -16384 : 16384) + (pks1 ? fa1 : -fa1);
      uga2 = uga2b >> 7;
    }
    a2p = std::clamp(s.a[1] + uga2 - (s.a[1] >> 7), -12288, 12288);

    int uga1 = sigpk ? 0 : (pks1 ? -192 : 192);
    int a1t = s.a[0] + uga1 - (s.a[0] >> 8);
    a1p = std::clamp(a1t, a2p - 15360, 15360 - a2p);

    for (int i = 0; i < 6; ++i) {
      int ugb = 0;
      if (dqMag != 0) ugb = (sign ^ ((s.dq[i] >> 10) & 1)) ? -128 : 128;
      bp[i] = wrap16(s.b[i] + ugb - (s.b[i] >> 8));
    }
  }

  // Tone detector (TONE, TRIGB).
  const int tdp = (!tr && a2p < -11776) ? 1 : 0;

  // Speed control (FUNCTF, FILTA, FILTB, SUBTC, FILTC, TRIGA).
  const int fi = G721_F[magnitudeCode];
  const int dmsp = s.dms + (((fi << 9) - s.dms) >> 5);
  const int dmlp = s.dml + (((fi << 11) - s.dml) >> 7);
  const int dm = std::abs((dmsp << 2) - dmlp);
  const int ax = (y < 1536 || tdp == 1 || dm >= (dmlp >> 3)) ? 1 : 0;
  const int app = s.ap + (((ax << 9) - s.ap) >> 4);

  // Delays.
  s.yu = yup;
  s.yl = ylp;
  s.a[1] = a2p;
  s.a[0] = a1p;
  for (int i = 0; i < 6; ++i) s.b[i] = bp[i];
  s.td = tdp;
  s.dms = dmsp;
  s.dml = dmlp;
  s.ap = tr ? 256 : app;
  for (int i = 5; i > 0; --i) s.dq[i] = s.dq[i - 1];
  s.dq[0] = toFloat(sign, dqMag);
  s.sr[1] = s.sr[0];
  s.sr[0] = toFloat(sr < 0 ? 1 : 0, sr < 0 ? (-sr) & 32767 : sr);
  s.pk[1] = s.pk[0];
  s.pk[0] = pk0;
  return sr;
}

// ---- Yamaha ADPCM ---------------------------------------------------------------------------

namespace {
constexpr int YAMAHA_STEP_SCALE[8] = {230, 230, 230, 230, 307, 409, 512, 614};
constexpr int YAMAHA_STEP_MIN = 127, YAMAHA_STEP_MAX = 24576;
constexpr int PCM16_MIN = -32768, PCM16_MAX = 32767;
}  // namespace

int decodeYamahaAdpcm(YamahaAdpcmState& s, uint8_t code) {
  const int m = code & 7;
  const int diff = (2 * m + 1) * s.step / 8;
  s.value = std::clamp((code & 8) ? s.value - diff : s.value + diff, PCM16_MIN, PCM16_MAX);
  s.step = std::clamp((s.step * YAMAHA_STEP_SCALE[m]) >> 8, YAMAHA_STEP_MIN, YAMAHA_STEP_MAX);
  return s.value;
}

uint8_t encodeYamahaAdpcm(YamahaAdpcmState& s, int sample) {
  int d = sample - s.value;
  uint8_t code = 0;
  if (d < 0) {
    code = 8;
    d = -d;
  }
  // Magnitude m reconstructs (2m + 1) x step / 8, the middle of [m, m + 1) x step / 4.
  code = uint8_t(code | std::min<int64_t>(7, int64_t(d) * 4 / s.step));
  decodeYamahaAdpcm(s, code);
  return code;
}

std::vector<uint8_t> encodeYamahaWave(const int16_t* samples, uint32_t count) {
  std::vector<uint8_t> out((size_t(count) + 1) / 2, 0);
  YamahaAdpcmState s;
  for (uint32_t k = 0; k < count; ++k) {
    const uint8_t code = encodeYamahaAdpcm(s, samples[k]);
    out[k / 2] |= (k & 1) ? uint8_t(code << 4) : code;
  }
  return out;
}

// ---- Every coding ----------------------------------------------------------------------------

namespace {

bool isPcm8(uint32_t coding) {
  return coding == WAVE_PCM8 || coding == WAVE_PCM8_OFFSET;
}
bool isPcm16(uint32_t coding) {
  return coding == WAVE_PCM16 || coding == WAVE_PCM16_OFFSET;
}

// The code of sample k under the selected nibble order.
uint8_t codeOf(const uint8_t* adpcm, uint32_t k, uint32_t codec) {
  uint8_t byte = adpcm[k / 2];
  bool highFirst = codec == ADPCM_STEP_HIGH_FIRST;
  bool high = (k & 1) ? !highFirst : highFirst;
  return high ? byte >> 4 : byte & 0x0F;
}

// One decoder for whichever coding is selected; yields 8-bit signed samples and 16-bit ones.
struct SampleDecoder {
  uint32_t coding;
  StepAdpcmState step;
  G721State g721;
  YamahaAdpcmState yamaha;

  explicit SampleDecoder(uint32_t c) : coding(c) {}
  bool g721Coding() const { return coding == ADPCM_G721 || coding >= WAVE_CODINGS; }

  // Sample k as a 16-bit value.
  int next16(const uint8_t* data, uint32_t k) {
    switch (coding) {
      case ADPCM_STEP_LOW_FIRST:
      case ADPCM_STEP_HIGH_FIRST:
        return decodeStepAdpcm(step, codeOf(data, k, coding)) * 16;
      case ADPCM_YAMAHA:
        return decodeYamahaAdpcm(yamaha, codeOf(data, k, coding));
      case WAVE_PCM8:
        return int(int8_t(data[k])) * 256;
      case WAVE_PCM8_OFFSET:
        return (int(data[k]) - 128) * 256;
      case WAVE_PCM16:
        return int(int16_t(uint16_t(data[2 * k] << 8 | data[2 * k + 1])));
      case WAVE_PCM16_OFFSET:
        return int(data[2 * k] << 8 | data[2 * k + 1]) - 32768;
      default:
        return std::clamp(decodeG721(g721, codeOf(data, k, coding)) * 4, PCM16_MIN, PCM16_MAX);
    }
  }
  // Sample k as the 8-bit output expects it: -128..127.
  int next8(const uint8_t* data, uint32_t k) {
    if (g721Coding())
      return std::clamp((decodeG721(g721, codeOf(data, k, coding)) * 4) >> 8, -128, 127);
    if (coding <= ADPCM_STEP_HIGH_FIRST)
      return decodeStepAdpcm(step, codeOf(data, k, coding)) / 16;  // rounds toward zero
    return next16(data, k) >> 8;
  }
};

}  // namespace

uint32_t waveSampleCount(uint32_t coding, uint32_t bytes) {
  if (isPcm8(coding)) return bytes;
  if (isPcm16(coding)) return bytes / 2;
  return uint32_t(std::min<uint64_t>(uint64_t(bytes) * 2, UINT32_MAX));
}

uint32_t waveImageBits(uint32_t coding) {
  return coding == ADPCM_YAMAHA || isPcm16(coding) ? 16 : 8;
}

uint32_t waveImageCapacity(uint32_t coding, uint32_t bytes) {
  const uint64_t need = WAVE_HEADER_SIZE +
                        uint64_t(waveSampleCount(coding, bytes)) * (waveImageBits(coding) / 8) +
                        WAVE_CAPACITY_RESERVE;
  return uint32_t(std::min<uint64_t>(need, UINT32_MAX));
}

const char* waveCodingName(uint32_t coding) {
  switch (coding) {
    case ADPCM_STEP_LOW_FIRST:
      return "step-adpcm";
    case ADPCM_STEP_HIGH_FIRST:
      return "step-adpcm-high-first";
    case ADPCM_YAMAHA:
      return "yamaha-adpcm";
    case WAVE_PCM8:
      return "pcm8";
    case WAVE_PCM8_OFFSET:
      return "pcm8-offset";
    case WAVE_PCM16:
      return "pcm16";
    case WAVE_PCM16_OFFSET:
      return "pcm16-offset";
    default:
      return "g721";
  }
}

int decodeWaveToImage(uint32_t coding, const uint8_t* data, uint32_t byteCount, uint8_t* output,
                      int32_t* outputSize, uint32_t capacity, uint32_t sampleRate) {
  if (outputSize) *outputSize = 0;
  if (!output || capacity < WAVE_HEADER_SIZE) return 1;
  if (!data) byteCount = 0;
  const uint32_t bits = waveImageBits(coding);
  const uint32_t sampleBytes = bits / 8;

  uint8_t* p = output;
  copyBytes(p, "RIFF", 4);
  putLE(p + 4, 0, 4);
  copyBytes(p + 8, "WAVEfmt ", 8);
  putLE(p + 16, 16, 4);
  putLE(p + 20, 1, 2);  // PCM
  putLE(p + 22, 1, 2);  // mono
  putLE(p + 24, sampleRate, 4);
  putLE(p + 28, sampleRate * sampleBytes, 4);
  putLE(p + 32, sampleBytes, 2);
  putLE(p + 34, bits, 2);
  copyBytes(p + 36, "data", 4);
  putLE(p + 40, 0, 4);

  // Samples stop where the next one would come within the reserve of the capacity. The check is
  // made before each sample, so a capacity barely above the header is never overrun either.
  const uint64_t limit = capacity > WAVE_CAPACITY_RESERVE ? capacity - WAVE_CAPACITY_RESERVE : 0;
  uint32_t pos = WAVE_HEADER_SIZE;
  SampleDecoder decoder(coding);
  const uint32_t samples = waveSampleCount(coding, byteCount);
  for (uint32_t k = 0; k < samples; ++k) {
    if (uint64_t(pos) + sampleBytes > limit) break;
    if (sampleBytes == 1) {
      output[pos++] = static_cast<uint8_t>(decoder.next8(data, k) + 128);
    } else {
      putLE(output + pos, uint32_t(decoder.next16(data, k)) & 0xFFFF, 2);
      pos += 2;
    }
  }

  putLE(p + 4, pos - 8, 4);
  putLE(p + 40, pos - WAVE_HEADER_SIZE, 4);
  if (outputSize) *outputSize = static_cast<int32_t>(pos);
  return 1;
}

int decodeAdpcmToWave(const uint8_t* adpcm, uint32_t byteCount, uint8_t* output,
                      int32_t* outputSize, uint32_t capacity, uint32_t sampleRate) {
  return decodeWaveToImage(AdpcmCodec, adpcm, byteCount, output, outputSize, capacity, sampleRate);
}

void decodeWaveToLinear(uint32_t coding, const uint8_t* data, uint32_t byteCount, int16_t* out) {
  if (!data) return;
  SampleDecoder decoder(coding);
  const uint32_t samples = waveSampleCount(coding, byteCount);
  for (uint32_t k = 0; k < samples; ++k) out[k] = static_cast<int16_t>(decoder.next16(data, k));
}

void decodeAdpcmToLinear(const uint8_t* adpcm, uint32_t byteCount, int16_t* out) {
  const uint32_t samples = waveSampleCount(AdpcmCodec, byteCount);
  decodeWaveToLinear(AdpcmCodec, adpcm, byteCount, out);
  // The PCM codings hold fewer samples than two a byte; the rest of the caller's room is silence.
  std::fill(out + samples, out + uint64_t(byteCount) * 2, int16_t(0));
}

std::vector<int16_t> resampleWave(const std::vector<int16_t>& samples, uint32_t fromRate,
                                  uint32_t toRate) {
  if (samples.empty() || fromRate == 0 || toRate == 0) return {};
  if (fromRate == toRate) return samples;
  const uint64_t frames = std::max<uint64_t>(1, uint64_t(samples.size()) * toRate / fromRate);
  std::vector<int16_t> out(frames);
  const size_t last = samples.size() - 1;
  for (uint64_t i = 0; i < frames; ++i) {
    // Position in the source in 1/toRate steps, kept exact in integers.
    const uint64_t num = i * fromRate;
    const size_t f = size_t(num / toRate);
    const int64_t frac = int64_t(num % toRate);
    const int64_t a = samples[std::min(f, last)], b = samples[std::min(f + 1, last)];
    out[i] = static_cast<int16_t>(a + (b - a) * frac / int64_t(toRate));
  }
  return out;
}

std::vector<uint8_t> transcodeToYamaha(uint32_t coding, const uint8_t* data, uint32_t byteCount,
                                       uint32_t fromRate, uint32_t toRate, uint32_t maxBytes) {
  if (!data || byteCount == 0 || maxBytes == 0) return {};
  if (coding == ADPCM_YAMAHA && fromRate == toRate)
    return std::vector<uint8_t>(data, data + std::min(byteCount, maxBytes));
  std::vector<int16_t> linear(waveSampleCount(coding, byteCount));
  decodeWaveToLinear(coding, data, byteCount, linear.data());
  linear = resampleWave(linear, fromRate, toRate);
  // Only the samples that fit are encoded, so the cut keeps the encoder's state consistent.
  const uint32_t count = uint32_t(std::min<uint64_t>(linear.size(), uint64_t(maxBytes) * 2));
  return encodeYamahaWave(linear.data(), count);
}

}  // namespace vlm
