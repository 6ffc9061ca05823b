// Decoding of the 4-bit ADPCM voice samples that i-melody and SMAF files carry into 8-bit mono
// PCM WAVE images: the step-table (Dialogic/OKI) codec in both nibble orders and the ITU-T G.721
// 32 kbit/s codec.
#pragma once

#include <cstdint>

namespace vlm {

// Codec selector, set by the caller for each wave: 0 step-table ADPCM, low nibble first;
// 1 step-table ADPCM, high nibble first; 2 or more ITU-T G.721, low nibble first.
// The SMAF writer reads the same value as the nibble order of the wave data.
extern thread_local uint32_t AdpcmCodec;

inline constexpr uint32_t ADPCM_STEP_LOW_FIRST = 0;
inline constexpr uint32_t ADPCM_STEP_HIGH_FIRST = 1;
inline constexpr uint32_t ADPCM_G721 = 2;

inline constexpr uint32_t WAVE_HEADER_SIZE = 44;
// The decoder leaves this many bytes of the capacity unused.
inline constexpr uint32_t WAVE_CAPACITY_RESERVE = 8;

// Writes a RIFF WAVE image (8-bit unsigned mono at `sampleRate`) of the decoded samples into
// `output`; `outputSize` receives its length. Samples that would come within
// WAVE_CAPACITY_RESERVE bytes of `capacity` are dropped; a capacity too small for the header
// gives an empty output (size 0). Returns 1.
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

// Decodes `byteCount` bytes (two codes each) with the codec of `AdpcmCodec` into 16-bit linear
// samples; `out` must hold 2 x byteCount values.
void decodeAdpcmToLinear(const uint8_t* adpcm, uint32_t byteCount, int16_t* out);

}  // namespace vlm
