// Private state of the transform pass, shared by its two sources: the pass itself
// (transform.cpp) and the channel and voice allocation (allocation.cpp).
#pragma once

#include <cstdint>
#include <vector>

#include "core/vstream.h"

namespace vlm::xform {

inline constexpr uint8_t NO_CHANNEL = 255;
inline constexpr int OUTPUT_CHANNELS = 16;
inline constexpr int MAX_SOUNDING = 256;  // output notes tracked at once (0x2n notes included)

enum AllocMode : uint8_t { ALLOC_PLAIN, ALLOC_SPLIT, ALLOC_SHARED };

// One input channel: where its notes go and the state used to set up an output channel before
// one of its notes lands there.
struct InputChannel {
  uint8_t firstOut = NO_CHANNEL;  // first output channel, NO_CHANNEL = not converted
  uint8_t outCount = 0;           // output channels (voices) in its run
  uint8_t notesPerOut = 0;        // notes one output channel may sound at once
  uint8_t mode = ALLOC_PLAIN;
  uint8_t rank = 0;       // place in the priority order, 0 = first
  uint8_t maxVoices = 0;  // cap on its notes sounding at once in the shared pool (0 = none)
  bool rhythm = false;
  uint8_t lowNote = 0, highNote = 127;  // note range after the one-voice window
  // Current state from the input stream.
  uint8_t modulation = 0, volume = 100, expression = 127;
  uint16_t program = 0;  // input program word
  uint16_t initialProgram = 0;
  uint16_t bend = 8192;  // 14-bit value
  uint8_t bendRange = 2;
  int firstVolume = -1;  // first controller 7 seen, for flattened volume
};

// A note of the output that still sounds.
struct SoundingNote {
  uint8_t inCh;   // input channel (16..31 for 0x2n notes)
  uint8_t outCh;  // output channel (16..31 for 0x2n notes)
  uint8_t pitch;  // output note number
  uint32_t pos;   // position of its status byte in the output
  uint32_t outStart;
  uint32_t inStart, inEnd;  // input ticks
};

struct TransformState {
  // Derived values.
  uint32_t inTimebase = 48;  // ticks per quarter of the input stream
  uint32_t T = 48, Tout = 48;
  uint32_t divisor = 1;
  bool fixedTempo = false;
  bool forPlayback = false;

  InputChannel in[CHANNELS];
  uint8_t owner[OUTPUT_CHANNELS];     // input channel owning an output channel, NO_CHANNEL = free
  uint8_t lastUser[OUTPUT_CHANNELS];  // input channel whose note last landed there
  uint32_t lastUse[OUTPUT_CHANNELS];  // output time of the last note that landed there
  bool outUsed[OUTPUT_CHANNELS];
  bool outRhythm[OUTPUT_CHANNELS];
  uint8_t pool[OUTPUT_CHANNELS];  // output channels shared under compression
  int poolSize = 0;
  uint16_t poolMask = 0;  // bit per pool channel
  // Melodic channels share the pool because their chords do not fit side by side; a note that
  // finds no voice there is music lost, and says so.
  bool sharedForPolyphony = false;
  int polyphony = 64;
  uint8_t order[CHANNELS];  // input channels in priority order

  SoundingNote notes[MAX_SOUNDING];
  int noteCount = 0;

  uint32_t outNow = 0;     // output time of the current event
  uint32_t inNow = 0;      // input time of the current event
  uint32_t cutLength = 0;  // input ticks after which a sounding note may be cut (0 = never)
};

extern thread_local constinit TransformState xs;

// allocation.cpp
void allocateChannels(const SongStats& stats, bool forPlayback);
// Output channel for a new note, after a sounding note gave way if needed; -1 drops the note.
int chooseVoice(int inCh, int pitch, bool* needsSetup);
// Program word for an output channel of an input channel; -1 drops a program change.
int mapProgram(int inCh, uint16_t word, bool setup, bool forPlayback);
// Output pitch of a note, -1 to drop it.
int transformNote(int inCh, int note);
int soundingOn(int outCh);
int soundingTotal();

// transform.cpp: ends a sounding note at the current output time.
void endNoteNow(int index);

}  // namespace vlm::xform
