// The codings of the voice samples that i-melody and SMAF files carry, and their decoding into
// linear samples and mono PCM WAVE images: the step-table (Dialogic/OKI) ADPCM in both nibble
// orders and the ITU-T G.721 32 kbit/s ADPCM of i-melody waves; Yamaha's 4-bit ADPCM and plain
// 8- and 16-bit PCM of SMAF waves. Yamaha ADPCM also has an encoder, for the SMAF writers.
#pragma once

#include <cstdint>
#include <vector>

namespace vlm {

// Codec selector of waves that do not name their own coding (the i-melody waves): 0 step-table
// ADPCM, low nibble first; 1 step-table ADPCM, high nibble first; 2 ITU-T G.721, low nibble
// first. A wave that names its coding (the SMAF reader says so for each wave) is decoded with
// that, whatever the selector holds.
extern thread_local uint32_t AdpcmCodec;

// Wave codings. Values from WAVE_CODINGS on decode as G.721, as "2 or more" always did.
inline constexpr uint32_t ADPCM_STEP_LOW_FIRST = 0;
inline constexpr uint32_t ADPCM_STEP_HIGH_FIRST = 1;
inline constexpr uint32_t ADPCM_G721 = 2;
inline constexpr uint32_t ADPCM_YAMAHA = 3;       // Yamaha 4-bit ADPCM, low nibble first
inline constexpr uint32_t WAVE_PCM8 = 4;          // 8-bit two's complement
inline constexpr uint32_t WAVE_PCM8_OFFSET = 5;   // 8-bit offset binary (0x80 is silence)
inline constexpr uint32_t WAVE_PCM16 = 6;         // 16-bit two's complement, big-endian
inline constexpr uint32_t WAVE_PCM16_OFFSET = 7;  // 16-bit offset binary, big-endian
inline constexpr uint32_t WAVE_CODINGS = 8;

// Samples that `bytes` bytes of a coding hold: two per byte for the ADPCM codings.
uint32_t waveSampleCount(uint32_t coding, uint32_t bytes);
// Bits per sample of the WAVE image of a coding: 16 for Yamaha ADPCM and 16-bit PCM, whose
// range 8 bits would cut, else 8.
uint32_t waveImageBits(uint32_t coding);
// Capacity that decodeWaveToImage needs for every sample of `bytes` bytes of a coding.
uint32_t waveImageCapacity(uint32_t coding, uint32_t bytes);
// Short name of a coding for listings ("yamaha-adpcm", "pcm16", ...).
const char* waveCodingName(uint32_t coding);

inline constexpr uint32_t WAVE_HEADER_SIZE = 44;
// The decoder leaves this many bytes of the capacity unused.
inline constexpr uint32_t WAVE_CAPACITY_RESERVE = 8;

// Writes a RIFF WAVE image (mono at `sampleRate`, 8-bit unsigned or 16-bit by waveImageBits)
// of the decoded samples into `output`; `outputSize` receives its length. Samples that would
// come within WAVE_CAPACITY_RESERVE bytes of `capacity` are dropped; a capacity too small for the
// header gives an empty output (size 0). Returns 1.
int decodeWaveToImage(uint32_t coding, const uint8_t* data, uint32_t byteCount, uint8_t* output,
                      int32_t* outputSize, uint32_t capacity, uint32_t sampleRate);
// The same with the coding of `AdpcmCodec`.
int decodeAdpcmToWave(const uint8_t* adpcm, uint32_t byteCount, uint8_t* output,
                      int32_t* outputSize, uint32_t capacity, uint32_t sampleRate);

// The single-sample decoders, for callers that want linear samples (the renderer) and tests.
struct StepAdpcmState {
  int value = 0;  // predicted value, -2048..2047
  int index = 0;  // step index, 0..48
};
// Returns the new 12-bit value.
int decodeStepAdpcm(StepAdpcmState& state, uint8_t code);

struct G721State {
  int yl = 0x8800;  // locked scale factor
  int yu = 544;     // unlocked scale factor
  int dms = 0, dml = 0;
  int ap = 0;
  int a[2] = {0, 0};                     // pole coefficients
  int b[6] = {0, 0, 0, 0, 0, 0};         // zero coefficients
  int pk[2] = {0, 0};                    // signs of past dq + sez
  int dq[6] = {32, 32, 32, 32, 32, 32};  // past quantized differences, floating form
  int sr[2] = {32, 32};                  // past reconstructed signals, floating form
  int td = 0;                            // tone detect
};
// Returns the reconstructed signal in the recommendation's linear form (about 14 bits).
int decodeG721(G721State& state, uint8_t code);

// Yamaha ADPCM: the step is scaled by 230, 230, 230, 230, 307, 409, 512 or 614 / 256 for the
// magnitudes 0..7 and kept within 127..24576; a code moves the value by (2m + 1) x step / 8.
struct YamahaAdpcmState {
  int value = 0;  // -32768..32767
  int step = 127;
};
// Returns the new 16-bit value.
int decodeYamahaAdpcm(YamahaAdpcmState& state, uint8_t code);
// The code whose step lands nearest to `sample`; the state moves exactly as the decoder's does.
uint8_t encodeYamahaAdpcm(YamahaAdpcmState& state, int sample);
// Encodes 16-bit samples, two to a byte, low nibble first; returns the bytes, (count + 1) / 2.
std::vector<uint8_t> encodeYamahaWave(const int16_t* samples, uint32_t count);

// Decodes `byteCount` bytes of a coding into 16-bit linear samples; `out` must hold
// waveSampleCount(coding, byteCount) values.
void decodeWaveToLinear(uint32_t coding, const uint8_t* data, uint32_t byteCount, int16_t* out);
// The same with the coding of `AdpcmCodec`; `out` must hold 2 x byteCount values.
void decodeAdpcmToLinear(const uint8_t* adpcm, uint32_t byteCount, int16_t* out);

// Linear interpolation from one rate to another (an empty input or a zero rate gives nothing).
std::vector<int16_t> resampleWave(const std::vector<int16_t>& samples, uint32_t fromRate,
                                  uint32_t toRate);

// Wave data of any coding as Yamaha ADPCM at `toRate`: the data themselves when they are Yamaha
// ADPCM at that rate already, else decoded, resampled and encoded. At most `maxBytes` bytes.
std::vector<uint8_t> transcodeToYamaha(uint32_t coding, const uint8_t* data, uint32_t byteCount,
                                       uint32_t fromRate, uint32_t toRate, uint32_t maxBytes);

}  // namespace vlm
