// Every point where the descriptions of the handset chips disagree, or say nothing, and the
// synthesizer had to choose. Each choice is one named constant here, so that changing it when we
// learn more is a one-line edit; the comment says what the alternatives were.
#pragma once

#include <cstdint>

namespace vlm::synth_choice {

// The chips' own rate: envelope and LFO timings are defined in samples at this rate (MA-3 master
// clock 33.8688 MHz / 684). Alternatives: 48,000 Hz (authoring-tool notes), 49,716 Hz (the OPL2
// rate). The synthesizer renders at the output rate directly and scales timings to it.
inline constexpr double CHIP_RATE = 33868800.0 / 684.0;

// Frequency multiplier per MULTI value, in halves (so that 0 gives 1/2). The OPL-style table
// (11 -> 10, 13 -> 12, 14 -> 15); the alternative is the linear 0.5, 1, 2 .. 15.
inline constexpr int MULTIPLIER_HALVES[16] = {1,  2,  4,  6,  8,  10, 12, 14,
                                              16, 18, 20, 20, 24, 24, 30, 30};

// Key-scale level per KSL value as a factor of the OPL curve (which gives 1.5 dB per octave at
// factor 1): KSL 0, 1, 2, 3 = 0, 3, 1.5, 6 dB per octave. The alternative order is 0, 1.5, 3, 6.
inline constexpr int KSL_FACTOR[4] = {0, 2, 1, 4};

// Modulation depth: a modulator at full level moves its carrier's phase by this many cycles
// (the chip-like model; the "tamed" alternative is 0.42 cycle).
inline constexpr double MODULATION_CYCLES = 4.0;

// Feedback: the phase moves by (last two outputs summed) x MODULATION_CYCLES x 2^(FB - this)
// cycles, the OPL ladder of pi/16 .. 4 pi at full level. The alternative is average x FB / 24.
inline constexpr int FEEDBACK_SHIFT = 9;

// Whether operator 3 keeps its own feedback in algorithms where it is not a feedback point
// (3, 4, 7). Real files set it there; what the chip does is unknown. Ignored, as the chip-like
// model does.
inline constexpr bool FEEDBACK_ON_OP3_OUTSIDE_ALG_2_5 = false;

// The algorithm output is the sum of its carriers times this (about one over two operators' peak).
inline constexpr float ALGORITHM_OUTPUT_SCALE = 0.5f;

// Detune per DT value in cents. No source gives the chip's table; a small spread in the shape of
// the OPN detune (0..3 upwards, 4 none, 5..7 downwards). Alternatives: ignore it, or +-0.2 %.
inline constexpr double DETUNE_CENTS[8] = {0.0, 1.5, 3.0, 4.5, 0.0, -1.5, -3.0, -4.5};

// LFO rates per LFO value in Hz (the counter model; the alternative gives 1.8, 4.0, 6.0, 9.7).
inline constexpr double LFO_HZ[4] = {1.86, 4.18, 6.04, 7.21};
// Tremolo: peak added attenuation per DAM value in envelope units of 0.1875 dB.
inline constexpr int TREMOLO_UNITS[4] = {6, 12, 25, 50};
// Vibrato: whether EVB is heard at all (one model leaves it out), and its peak depth per DVB
// as a fraction of the pitch (3.4, 6.7, 13.4, 26.7 cents).
inline constexpr bool VIBRATO_ENABLED = true;
inline constexpr double VIBRATO_DEPTH[4] = {0.002, 0.0039, 0.0077, 0.015};
// The modulation wheel (controller 1) adds vibrato of up to this many cents at this rate.
inline constexpr double MOD_WHEEL_CENTS = 50.0;
inline constexpr double MOD_WHEEL_HZ = 5.0;

// XOF (ignore key-off) is honoured only for an operator that keeps decaying (SR > 0); with
// SR = 0 it would hold for ever.
inline constexpr bool XOF_ONLY_WHEN_DECAYING = true;

// Attack from silence on every note (no legato restart from the current level).
inline constexpr bool ATTACK_FROM_SILENCE = true;

// (The root key of melodic sampled voices, which no record stores, is the voice record's
// rootKey: note 60 unless a reader learns better.)
// A sampled voice loops from LP whenever LP < EP (the alternative reads bit 7 of the last byte as
// a loop flag, but that bit selects the ROM waves).
inline constexpr bool LOOP_WHEN_LOOP_POINT_BEFORE_END = true;

// Level curves: velocity, channel volume and expression as amplitude (v / 127)^2 (the common
// assumption; one player uses v / 127 for volume and expression).
inline constexpr bool VELOCITY_SQUARED = true;
inline constexpr bool VOLUME_SQUARED = true;
inline constexpr bool EXPRESSION_SQUARED = true;
// Velocity of notes that carry none (HandyPhone scores).
inline constexpr int DEFAULT_VELOCITY = 100;

// Pan: a voice with PE set sits at its own PANPOT moved by the channel's pan; without PE at the
// channel's pan. Linear law (right = position, left = 1 - position), as the chip-like model.
inline constexpr bool VOICE_PAN_ADDS_TO_CHANNEL_PAN = true;

// Pitch-bend range in semitones until RPN 0 sets another.
inline constexpr int DEFAULT_BEND_RANGE = 2;

// Polyphony per chip generation, in two-operator slots: a four-operator FM voice takes two,
// sampled voices have their own pool. MA-5 is stated nowhere; taken as MA-7's FM pool.
struct Polyphony {
  int fmSlots;
  int sampledVoices;
};
inline constexpr Polyphony POLYPHONY_MA1 = {4, 0};
inline constexpr Polyphony POLYPHONY_MA2 = {16, 0};
inline constexpr Polyphony POLYPHONY_MA3 = {32, 8};
inline constexpr Polyphony POLYPHONY_MA5 = {64, 32};
inline constexpr Polyphony POLYPHONY_MA7 = {64, 64};

// Level of the synthesizer in the mix with the General MIDI synthesizer, as a factor of full
// scale. Set by ear against the SoundFont's loudness on the same songs.
inline constexpr float MIX_GAIN = 0.9f;

}  // namespace vlm::synth_choice
