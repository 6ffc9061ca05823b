// The synthesizer's fixed tables, built once on first use: the 32 waveforms, the attenuation to
// gain curve, and the key-scale level curve.
#pragma once

#include <cstdint>

namespace vlm {

inline constexpr int WAVE_BITS = 12;  // entries per waveform period: 4,096
inline constexpr int WAVE_SIZE = 1 << WAVE_BITS;
inline constexpr int WAVEFORMS = 32;
// Waveform slots the song may fill with its own period (a sine until it does).
inline constexpr int USER_WAVE_SLOTS[3] = {15, 23, 31};

// Envelope attenuation in units of 0.1875 dB; 511 units (96 dB) is silence.
inline constexpr int ENV_SILENT = 511;

struct SynthTables {
  float wave[WAVEFORMS][WAVE_SIZE];
  float gain[ENV_SILENT + 1];  // 2^(-units / 32); the last entry is 0
  // The OPL key-scale level curve over the top four F-number bits.
  static constexpr uint8_t KSL_CURVE[16] = {56, 32, 24, 19, 16, 13, 11, 9,
                                            8,  6,  5,  4,  3,  2,  1,  0};
};

const SynthTables& synthTables();

// One period of waveform `ws` (0..31) at phase x in [0, 1), full scale +-1. Slots 15, 23 and 31
// give a sine.
double waveformValue(int ws, double x);

}  // namespace vlm
