// RIFF WAVE files: the "fmt " and "data" chunks, and the decoding of PCM, IMA ADPCM and
// Microsoft ADPCM samples to 16-bit linear values (first channel only: ringtones are mono).
#include "formats/wave_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vlm {

namespace {

constexpr uint32_t CHUNK_HEAD = 8;
constexpr uint32_t RIFF_HEAD = 12;  // "RIFF", size, "WAVE"

constexpr int IMA_STEPS[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int IMA_INDEX_ADJUST[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
constexpr int IMA_STEP_MAX = 88;
constexpr uint32_t IMA_HEADER = 4;  // per channel: predictor, step index, reserved
constexpr uint32_t IMA_GROUP = 4;   // bytes of one channel before the next channel's

constexpr int MS_ADAPTATION[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                   768, 614, 512, 409, 307, 230, 230, 230};
constexpr int16_t MS_STANDARD_COEFFICIENTS[14] = {256, 0,   512, -256, 0,    0,   192,
                                                  64,  240, 0,   460,  -208, 392, -232};
constexpr uint32_t MS_HEADER = 7;  // per channel: predictor, delta, two samples
constexpr int MS_MIN_DELTA = 16;

uint32_t le(const uint8_t* p, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

int16_t clamp16(int v) {
  return int16_t(std::clamp(v, -32768, 32767));
}

void readFormatChunk(const uint8_t* body, uint32_t length, WaveFileFormat& f) {
  auto field = [&](uint32_t offset, int n, uint32_t fallback) {
    return offset + uint32_t(n) <= length ? le(body + offset, n) : fallback;
  };
  f.hasFormat = true;
  f.tag = uint16_t(field(0, 2, WAVE_TAG_PCM));
  f.channels = uint16_t(field(2, 2, 1));
  f.rate = field(4, 4, 8000);
  f.byteRate = field(8, 4, 0);
  f.blockAlign = uint16_t(field(12, 2, 0));
  f.bits = uint16_t(field(14, 2, 8));
  f.samplesPerBlock = uint16_t(field(18, 2, 0));
  if (f.tag == WAVE_TAG_MS_ADPCM) {
    const uint32_t count = field(20, 2, 0);
    for (uint32_t i = 0; i < count * 2 && 22 + 2 * i + 2 <= length; ++i)
      f.coefficients.push_back(int16_t(le(body + 22 + 2 * i, 2)));
    if (f.coefficients.empty())
      f.coefficients.assign(std::begin(MS_STANDARD_COEFFICIENTS),
                            std::end(MS_STANDARD_COEFFICIENTS));
  }
}

std::vector<int16_t> decodePcm(const uint8_t* p, const WaveFileFormat& f) {
  const uint32_t sampleBytes = std::max<uint32_t>((f.bits + 7) / 8, 1);
  const uint32_t frameSize = std::max<uint32_t>(f.channels, 1) * sampleBytes;
  std::vector<int16_t> out(f.length / frameSize);
  for (size_t i = 0; i < out.size(); ++i) {
    const uint8_t* s = p + i * frameSize;
    // 8-bit samples are unsigned; wider ones keep their two most significant bytes.
    out[i] = sampleBytes == 1 ? int16_t((int(s[0]) - 128) * 256)
                              : int16_t(s[sampleBytes - 2] | s[sampleBytes - 1] << 8);
  }
  return out;
}

struct ImaState {
  int value = 0;
  int index = 0;
};

int16_t decodeIma(ImaState& st, uint8_t code) {
  const int step = IMA_STEPS[st.index];
  int diff = step >> 3;
  if (code & 4) diff += step;
  if (code & 2) diff += step >> 1;
  if (code & 1) diff += step >> 2;
  st.value = clamp16(code & 8 ? st.value - diff : st.value + diff);
  st.index = std::clamp(st.index + IMA_INDEX_ADJUST[code & 7], 0, IMA_STEP_MAX);
  return int16_t(st.value);
}

// Each block: a header per channel (its first sample and step index), then groups of 4 bytes
// of each channel in turn, two samples a byte, low nibble first.
std::vector<int16_t> decodeImaAdpcm(const uint8_t* p, const WaveFileFormat& f) {
  std::vector<int16_t> out;
  const uint32_t channels = std::max<uint32_t>(f.channels, 1);
  const uint32_t block = f.blockAlign;
  if (block <= IMA_HEADER * channels) return out;
  for (uint32_t start = 0; start + IMA_HEADER * channels <= f.length; start += block) {
    const uint32_t end = std::min(start + block, f.length);
    ImaState st;
    st.value = int16_t(le(p + start, 2));
    st.index = std::clamp(int(p[start + 2]), 0, IMA_STEP_MAX);
    out.push_back(int16_t(st.value));
    const uint32_t stride = IMA_GROUP * channels;
    for (uint32_t group = start + IMA_HEADER * channels; group + IMA_GROUP <= end; group += stride)
      for (uint32_t i = 0; i < IMA_GROUP; ++i) {
        out.push_back(decodeIma(st, p[group + i] & 0x0F));
        out.push_back(decodeIma(st, p[group + i] >> 4));
      }
  }
  return out;
}

// Each block: per channel a predictor number, a delta and two samples (the older first in
// time), then the nibbles of all channels in turn, high nibble first.
std::vector<int16_t> decodeMsAdpcm(const uint8_t* p, const WaveFileFormat& f) {
  std::vector<int16_t> out;
  const uint32_t channels = std::max<uint32_t>(f.channels, 1);
  const uint32_t block = f.blockAlign;
  const uint32_t pairs = uint32_t(f.coefficients.size() / 2);
  if (block <= MS_HEADER * channels || pairs == 0) return out;
  for (uint32_t start = 0; start + MS_HEADER * channels <= f.length; start += block) {
    const uint32_t end = std::min(start + block, f.length);
    const uint8_t* h = p + start;
    const uint32_t predictor = std::min<uint32_t>(h[0], pairs - 1);
    const int c1 = f.coefficients[2 * predictor], c2 = f.coefficients[2 * predictor + 1];
    int delta = int16_t(le(h + channels, 2));
    int s1 = int16_t(le(h + 3 * channels, 2));
    int s2 = int16_t(le(h + 5 * channels, 2));
    out.push_back(int16_t(s2));
    out.push_back(int16_t(s1));
    // Nibble n of the block belongs to channel n mod channels.
    const uint32_t first = start + MS_HEADER * channels;
    for (uint32_t n = 0; first + n / 2 < end; n += channels) {
      const uint8_t byte = p[first + n / 2];
      const uint8_t code = n % 2 ? byte & 0x0F : byte >> 4;
      const int signedCode = code & 8 ? int(code) - 16 : int(code);
      const int sample = clamp16(((s1 * c1 + s2 * c2) >> 8) + signedCode * delta);
      out.push_back(int16_t(sample));
      s2 = s1;
      s1 = sample;
      delta = std::max((MS_ADAPTATION[code] * delta) >> 8, MS_MIN_DELTA);
    }
  }
  return out;
}

}  // namespace

int imaStepSize(int index) {
  return IMA_STEPS[std::clamp(index, 0, IMA_STEP_MAX)];
}

WaveFileFormat parseWaveFile(const uint8_t* image, uint32_t size) {
  WaveFileFormat f;
  if (!image) return f;
  auto idAt = [&](uint64_t pos, const char* id) {
    return pos + 4 <= size && std::memcmp(image + pos, id, 4) == 0;
  };
  f.riffWave = idAt(0, "RIFF") && idAt(8, "WAVE");
  uint64_t pos = f.riffWave ? RIFF_HEAD : 0;
  while (pos + CHUNK_HEAD <= size) {
    if (idAt(pos, "RIFF")) {
      pos += CHUNK_HEAD;
      continue;
    }
    if (idAt(pos, "WAVE")) {
      pos += 4;
      continue;
    }
    const uint32_t length = le(image + pos + 4, 4);
    const uint32_t body = uint32_t(pos + CHUNK_HEAD);
    const uint32_t available = std::min(length, size - body);
    if (idAt(pos, "fmt ")) {
      readFormatChunk(image + body, available, f);
    } else if (idAt(pos, "data")) {
      f.data = body;
      f.length = available;
      f.hasData = true;
      return f;
    }
    pos = uint64_t(body) + length + (length & 1);  // chunks are padded to an even length
  }
  return f;
}

bool waveFileDecodable(const WaveFileFormat& f) {
  return f.tag == WAVE_TAG_PCM || f.tag == WAVE_TAG_IMA_ADPCM || f.tag == WAVE_TAG_MS_ADPCM;
}

std::string waveFileCodingName(uint16_t tag) {
  if (tag == WAVE_TAG_PCM) return "pcm";
  if (tag == WAVE_TAG_IMA_ADPCM) return "ima-adpcm";
  if (tag == WAVE_TAG_MS_ADPCM) return "ms-adpcm";
  char name[24];
  std::snprintf(name, sizeof name, "format 0x%04x", tag);
  return name;
}

std::vector<int16_t> decodeWaveFile(const uint8_t* image, const WaveFileFormat& f) {
  if (!image || !f.hasData || !waveFileDecodable(f)) return {};
  const uint8_t* p = image + f.data;
  if (f.tag == WAVE_TAG_IMA_ADPCM) return decodeImaAdpcm(p, f);
  if (f.tag == WAVE_TAG_MS_ADPCM) return decodeMsAdpcm(p, f);
  return decodePcm(p, f);
}

}  // namespace vlm
