// The 32 waveforms are four base shapes (sine, trapezoid, triangle, sawtooth), each in eight
// variants: whole, positive half, first half repeated, rising quarter per half, double speed in
// the first half, the repeated half at double speed, and two shapes of their own per family.
#include "synth/tables.h"

#include <cmath>

namespace vlm {

namespace {

constexpr double TWO_PI = 6.283185307179586;

double sine(double x) {
  return std::sin(TWO_PI * x);
}
// 0 -> +1 at 1/4 -> 0 at 1/2 -> -1 at 3/4 -> 0.
double triangle(double x) {
  if (x < 0.25) return 4 * x;
  if (x < 0.75) return 2 - 4 * x;
  return 4 * x - 4;
}
// The triangle doubled and clipped: full scale from 1/8 to 3/8 of the period.
double trapezoid(double x) {
  double v = 2 * triangle(x);
  return v > 1 ? 1 : (v < -1 ? -1 : v);
}
// Rises from 0 to full scale just before 1/2, jumps to -full, rises back to 0.
double sawtooth(double x) {
  return x < 0.5 ? 2 * x : 2 * x - 2;
}

double base(int family, double x) {
  switch (family) {
    case 0: return sine(x);
    case 1: return trapezoid(x);
    case 2: return triangle(x);
    default: return sawtooth(x);
  }
}

// The first half of the base shape, repeated in the second half (for the sine and triangle this
// is the absolute value).
double firstHalfRepeated(int family, double x) {
  return base(family, x < 0.5 ? x : x - 0.5);
}

// The two variants each family has of its own (6 and 7 of the eight).
double ownShape(int ws, double x) {
  switch (ws) {
    case 6: return x < 0.5 ? 1 : -1;  // square
    case 7:                           // exponential spike decaying over each half, mirrored
      return x < 0.5 ? std::exp2(-32 * x) : -std::exp2(-32 * (1 - x));
    case 14: return x < 0.5 ? 1 : 0;
    case 22: return std::fmod(x, 0.5) < 0.25 ? 1 : 0;
    case 30: return x < 0.25 ? 1 : 0;
    default: return sine(x);  // the user wave slots until the song fills them
  }
}

}  // namespace

double waveformValue(int ws, double x) {
  const int family = (ws >> 3) & 3;
  switch (ws & 7) {
    case 0: return base(family, x);
    case 1: return x < 0.5 ? base(family, x) : 0;
    case 2: return firstHalfRepeated(family, x);
    case 3:
      if (ws == 27) {
        // The sawtooth's own odd shape: its first eighth, silence to the half, its first half
        // at double speed in the third quarter, silence.
        if (x < 0.125) return sawtooth(x);
        if (x >= 0.5 && x < 0.75) return sawtooth(2 * (x - 0.5));
        return 0;
      }
      return std::fmod(x, 0.5) < 0.25 ? base(family, std::fmod(x, 0.5)) : 0;
    case 4: return x < 0.5 ? base(family, 2 * x) : 0;
    case 5: return x < 0.5 ? firstHalfRepeated(family, 2 * x) : 0;
    default: return ownShape(ws, x);
  }
}

const SynthTables& synthTables() {
  static const SynthTables* tables = [] {
    auto* t = new SynthTables;
    for (int ws = 0; ws < WAVEFORMS; ++ws)
      for (int i = 0; i < WAVE_SIZE; ++i)
        t->wave[ws][i] = float(waveformValue(ws, double(i) / WAVE_SIZE));
    for (int a = 0; a < ENV_SILENT; ++a) t->gain[a] = float(std::exp2(-a / 32.0));
    t->gain[ENV_SILENT] = 0;
    return t;
  }();
  return *tables;
}

}  // namespace vlm
