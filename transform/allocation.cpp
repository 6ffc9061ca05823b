// Channel and voice allocation of the transform pass: which output channels an input channel
// receives, which output channel a new note lands on, which sounding note gives way when the
// target's polyphony is reached, the program an output channel plays and the pitch of a note.
#include <algorithm>
#include <cstring>

#include "core/conversion_options.h"
#include "core/note_tables.h"
#include "transform/transform_state.h"

namespace vlm::xform {

namespace {

constexpr uint8_t DRUM_OUTPUT = 9;  // channel 10
constexpr int OCTAVE = 12;
constexpr int ONE_VOICE_WINDOW = 36;
constexpr uint16_t PSG_BANK = 0x100;
constexpr uint8_t PSG_PLAYBACK_PROGRAMS[3] = {0, 9, 16};
constexpr int PSG_PROGRAMS = 24;
constexpr int PSG_GROUP = 8;

bool fourVoiceTarget() {
  return options.preset.fourVoiceFm && options.preset.oneVoicePerChannel;
}

bool isUncompressed(int c) {
  for (uint8_t u : options.uncompressedChannels)
    if (u >= 1 && u <= CHANNELS && u - 1 == c) return true;
  return false;
}

// Builds the visiting order from the priority list (1-based channel numbers); channels missing
// from the list, or listed twice, follow in their own order.
void buildOrder() {
  bool seen[CHANNELS] = {};
  int n = 0;
  for (uint8_t p : options.channelPriority) {
    if (p >= 1 && p <= CHANNELS && !seen[p - 1]) {
      seen[p - 1] = true;
      xs.order[n++] = uint8_t(p - 1);
    }
  }
  for (int c = 0; c < CHANNELS; ++c)
    if (!seen[c]) xs.order[n++] = uint8_t(c);
  for (int i = 0; i < CHANNELS; ++i) xs.in[xs.order[i]].rank = uint8_t(i);
}

void setRange(int c, const SongStats& stats) {
  InputChannel& ic = xs.in[c];
  int lo = options.preset.lowestNote, hi = std::min<int>(options.preset.highestNote, 127);
  if (options.preset.oneVoicePerChannel && !ic.rhythm && stats.ch[c].notes > 0) {
    // A window of three octaves whose top is the octave boundary above the highest note.
    int top = stats.ch[c].highNote + options.keyShift + OCTAVE * options.octaveShift[c];
    top = std::clamp(top, 0, 127);
    int boundary = (top / OCTAVE + 1) * OCTAVE;
    int wHi = std::min(hi, boundary - 1);
    int wLo = std::max(lo, wHi - (ONE_VOICE_WINDOW - 1));
    // A channel that lies below the range would get a window of a few notes, and every note
    // would land on the same pitch: the window keeps its three octaves inside the range.
    wHi = std::max(wHi, std::min(hi, wLo + ONE_VOICE_WINDOW - 1));
    if (wLo <= wHi) lo = wLo, hi = wHi;
  }
  if (lo > hi) std::swap(lo, hi);
  ic.lowNote = uint8_t(lo);
  ic.highNote = uint8_t(hi);
}

void allocatePlain(bool forPlayback) {
  int used = 0;
  int next = 0;
  for (int i = 0; i < CHANNELS; ++i) {
    const int c = xs.order[i];
    InputChannel& ic = xs.in[c];
    if (ic.notesPerOut == 0) continue;  // not taking part
    int oc;
    if (forPlayback && options.gsmode) {
      oc = c;
    } else if (ic.rhythm && !options.drambankflg) {
      oc = DRUM_OUTPUT;
    } else {
      while (next < OUTPUT_CHANNELS &&
             (xs.outUsed[next] || (next == DRUM_OUTPUT && !options.drambankflg)))
        ++next;
      oc = next;
    }
    const bool fresh = oc < OUTPUT_CHANNELS && !xs.outUsed[oc];
    if (oc >= OUTPUT_CHANNELS || (fresh && used >= options.preset.channelCount)) {
      ic.notesPerOut = 0;
      raiseWarning(WARN_TOO_MANY_CHANNELS);
      continue;
    }
    if (fresh) {
      ++used;
      xs.outUsed[oc] = true;
      xs.owner[oc] = uint8_t(c);
      xs.outRhythm[oc] = ic.rhythm;
    }
    ic.firstOut = uint8_t(oc);
    ic.outCount = 1;
    ic.mode = ALLOC_PLAIN;
    ic.notesPerOut = options.channelMaxVoices[c] ? options.channelMaxVoices[c]
                                                 : uint8_t(std::min(xs.polyphony, 255));
  }
}

// One-voice-per-channel targets: a run of consecutive output channels per input channel, and
// under compression one pool shared by every channel that is not kept whole.
void allocateSplit(const SongStats& stats) {
  const int limit = std::min(xs.polyphony, OUTPUT_CHANNELS);
  const bool compress = options.waoncompress;
  int used = 0;
  bool anyShared = false;
  for (int i = 0; i < CHANNELS; ++i) {
    const int c = xs.order[i];
    InputChannel& ic = xs.in[c];
    if (ic.notesPerOut == 0) continue;
    // Rhythm channels keep runs of their own: a shared channel cannot switch between the
    // rhythm set and a melodic voice from note to note.
    if (compress && !isUncompressed(c) && !ic.rhythm) {
      ic.mode = ALLOC_SHARED;
      anyShared = true;
      continue;
    }
    int want =
        ic.rhythm ? std::min<int>(stats.rhythmNoteCount, xs.polyphony) : stats.ch[c].maxSounding;
    want = std::max(want, 1);
    if (options.channelMaxVoices[c]) want = std::min<int>(want, options.channelMaxVoices[c]);
    const int left = limit - used;
    if (want > left) {
      raiseWarning(WARN_TOO_MANY_TRACKS);
      want = left;
    }
    if (want <= 0) {
      ic.notesPerOut = 0;
      continue;
    }
    ic.firstOut = uint8_t(used);
    ic.outCount = uint8_t(want);
    ic.mode = ALLOC_SPLIT;
    ic.notesPerOut = 1;
    for (int k = used; k < used + want; ++k) {
      xs.outUsed[k] = true;
      xs.owner[k] = uint8_t(c);
      xs.outRhythm[k] = ic.rhythm;
    }
    used += want;
  }
  if (!anyShared) return;
  xs.poolSize = 0;
  for (int k = used; k < limit; ++k) {
    xs.pool[xs.poolSize++] = uint8_t(k);
    xs.outUsed[k] = true;
    xs.outRhythm[k] = false;
  }
  for (int c = 0; c < CHANNELS; ++c) {
    InputChannel& ic = xs.in[c];
    if (ic.notesPerOut == 0 || ic.mode != ALLOC_SHARED) continue;
    if (xs.poolSize == 0) {
      raiseWarning(WARN_TOO_MANY_TRACKS);
      ic.notesPerOut = 0;
      continue;
    }
    ic.firstOut = xs.pool[0];
    ic.outCount = uint8_t(xs.poolSize);
    ic.notesPerOut = 1;
    ic.maxVoices = options.channelMaxVoices[c];
  }
  // A pool channel is set up for the first shared channel in priority order.
  for (int i = 0; i < CHANNELS; ++i) {
    const int c = xs.order[i];
    if (xs.in[c].mode == ALLOC_SHARED && xs.in[c].notesPerOut) {
      for (int k = 0; k < xs.poolSize; ++k) xs.owner[xs.pool[k]] = uint8_t(c);
      break;
    }
  }
}

bool inScope(const SoundingNote& n, int inCh, int scopeOut, bool wholeRun) {
  if (n.outCh >= OUTPUT_CHANNELS) return false;
  if (scopeOut >= 0) return n.outCh == scopeOut;
  if (!wholeRun) return true;
  const InputChannel& ic = xs.in[inCh];
  if (ic.mode == ALLOC_SHARED) {
    for (int k = 0; k < xs.poolSize; ++k)
      if (xs.pool[k] == n.outCh) return true;
    return false;
  }
  return n.outCh >= ic.firstOut && n.outCh < ic.firstOut + ic.outCount;
}

// Which sounding note gives way to a new one. scopeOut >= 0: only notes on that output channel;
// else with wholeRun only notes on the input channel's run or pool; else any note.
int pickVictim(int inCh, int pitch, int scopeOut, bool wholeRun, bool ownOnly) {
  const InputChannel& ic = xs.in[inCh];
  int best = -1;
  auto scoped = [&](const SoundingNote& n) {
    return inScope(n, inCh, scopeOut, wholeRun) && (!ownOnly || n.inCh == inCh);
  };
  if (options.hinote) {
    for (int i = 0; i < xs.noteCount; ++i) {
      const SoundingNote& n = xs.notes[i];
      if (!scoped(n) || n.pitch > pitch) continue;
      if (xs.in[n.inCh & 15].rhythm != ic.rhythm) continue;  // pitches of a different kind
      if (best < 0 || n.pitch < xs.notes[best].pitch) best = i;
    }
  } else {
    int lowestRank = ic.rank;
    for (int i = 0; i < xs.noteCount; ++i) {
      const SoundingNote& n = xs.notes[i];
      if (!scoped(n)) continue;
      const int rank = xs.in[n.inCh & 15].rank;
      if (rank > lowestRank) lowestRank = rank, best = i;
    }
  }
  if (best >= 0) return best;
  if (xs.cutLength == 0) return -1;
  for (int i = 0; i < xs.noteCount; ++i) {
    const SoundingNote& n = xs.notes[i];
    if (!scoped(n) || xs.inNow - n.inStart <= xs.cutLength) continue;
    if (best < 0) {
      best = i;
    } else if (options.cutpriendflg ? n.inEnd < xs.notes[best].inEnd
                                    : n.inStart < xs.notes[best].inStart) {
      best = i;
    }
  }
  return best;
}

int firstFree(int inCh, const uint8_t* channels, int count) {
  const InputChannel& ic = xs.in[inCh];
  int chosen = -1;
  for (int k = 0; k < count; ++k) {
    const int oc = channels[k];
    if (soundingOn(oc) != 0) continue;
    if (chosen < 0) chosen = oc;
    if (!options.dxmmldmix) break;
    const int word = mapProgram(inCh, ic.program, true, xs.forPlayback);
    if (writer.ch[oc].program == word) return oc;
  }
  return chosen;
}

int ownSounding(int inCh) {
  int n = 0;
  for (int i = 0; i < xs.noteCount; ++i)
    if (xs.notes[i].inCh == inCh && xs.notes[i].outCh < OUTPUT_CHANNELS) ++n;
  return n;
}

}  // namespace

int soundingOn(int outCh) {
  return outCh >= 0 && outCh < OUTPUT_CHANNELS ? writer.ch[outCh].sounding : 0;
}

int soundingTotal() {
  return openIndex.sounding;  // the sum over the 16 channels, kept by the note tables
}

void allocateChannels(const SongStats& stats, bool forPlayback) {
  std::memset(xs.owner, NO_CHANNEL, sizeof xs.owner);
  std::memset(xs.lastUser, NO_CHANNEL, sizeof xs.lastUser);
  std::memset(xs.outUsed, 0, sizeof xs.outUsed);
  std::memset(xs.outRhythm, 0, sizeof xs.outRhythm);
  xs.poolSize = 0;
  xs.polyphony = std::max<int>(options.preset.polyphony, 1);
  buildOrder();
  const uint16_t usedMask = stats.melodicMask | stats.rhythmMask;
  for (int c = 0; c < CHANNELS; ++c) {
    InputChannel& ic = xs.in[c];
    ic.firstOut = NO_CHANNEL;
    ic.outCount = 0;
    ic.mode = ALLOC_PLAIN;
    ic.maxVoices = 0;
    ic.rhythm = options.rzmchn != 0 && (stats.rhythmMask >> c & 1);
    // notesPerOut doubles as "takes part" until the allocation has run.
    ic.notesPerOut = (options.channelMask >> c & 1) && (usedMask >> c & 1) ? 1 : 0;
    setRange(c, stats);
    uint16_t initial = 0;
    if (fourVoiceTarget() && stats.ch[c].programUse == PROGRAM_SINGLE)
      initial = stats.ch[c].program;
    ic.initialProgram = initial;
    ic.program = initial;
  }
  if (options.preset.oneVoicePerChannel)
    allocateSplit(stats);
  else
    allocatePlain(forPlayback);
}

int mapProgram(int inCh, uint16_t word, bool setup, bool forPlayback) {
  const InputChannel& ic = xs.in[inCh & 15];
  const ConversionOptions& o = options;
  const int override = o.programOverride[inCh & 15];
  if (override >= 0) {
    word = uint16_t(override & 0x7F);
  } else if (ic.rhythm && !forPlayback && !o.dramtoneflg) {
    word = 0;
  } else if (o.preset.fourVoiceFm && o.preset.oneVoicePerChannel) {  // fourVoiceTarget()
    if (!setup) return -1;  // the initial program stands on the 4-voice targets
    word = ic.initialProgram;
  }
  if (o.preset.psgSource) {
    int index = word & 0x7F;
    if (index >= PSG_PROGRAMS) index = 0;
    const int group = index / PSG_GROUP;
    word = forPlayback ? PSG_PLAYBACK_PROGRAMS[group] : uint16_t(PSG_BANK + group);
  }
  return word;
}

int transformNote(int inCh, int note) {
  const InputChannel& ic = xs.in[inCh & 15];
  if (ic.rhythm) return note & 0x7F;  // the rhythm set is not transposed
  const ConversionOptions& o = options;
  int n = note + o.keyShift + OCTAVE * o.octaveShift[inCh & 15];
  const int lo = ic.lowNote, hi = ic.highNote;
  if (n < lo) n = lo - ((lo - n) % OCTAVE) + OCTAVE;
  if (n > hi) n = hi + ((n - hi) % OCTAVE) - OCTAVE;
  // A range narrower than an octave cannot take every pitch class.
  return std::clamp(n, lo, hi);
}

int chooseVoice(int inCh, int pitch, bool* needsSetup) {
  InputChannel& ic = xs.in[inCh];
  *needsSetup = false;
  if (ic.mode == ALLOC_PLAIN) {
    const int oc = ic.firstOut;
    int victim = -2;
    if (soundingOn(oc) >= ic.notesPerOut)
      victim = pickVictim(inCh, pitch, oc, false, false);
    else if (soundingTotal() >= xs.polyphony)
      victim = pickVictim(inCh, pitch, -1, false, false);
    if (victim == -1) return -1;
    if (victim >= 0) endNoteNow(victim);
    return oc;
  }

  const uint8_t* channels;
  uint8_t run[OUTPUT_CHANNELS];
  int count;
  if (ic.mode == ALLOC_SHARED) {
    channels = xs.pool;
    count = xs.poolSize;
  } else {
    count = ic.outCount;
    count = std::min<int>(count, OUTPUT_CHANNELS - ic.firstOut);
    for (int k = 0; k < count; ++k) run[k] = uint8_t(ic.firstOut + k);
    channels = run;
  }

  if (ic.mode == ALLOC_SPLIT && ic.rhythm) {
    // The channel that already holds this rhythm note, else the first free one.
    for (int i = 0; i < xs.noteCount; ++i) {
      const SoundingNote& n = xs.notes[i];
      if (n.inCh == inCh && n.pitch == pitch && n.outCh < OUTPUT_CHANNELS) {
        const int oc = n.outCh;
        endNoteNow(i);
        return oc;
      }
    }
    return firstFree(inCh, channels, count);  // -1: none is free, the note is dropped
  }

  if (ic.mode == ALLOC_SHARED && ic.maxVoices && ownSounding(inCh) >= ic.maxVoices) {
    const int victim = pickVictim(inCh, pitch, -1, true, true);
    if (victim < 0) return -1;
    const int oc = xs.notes[victim].outCh;
    endNoteNow(victim);
    return oc;
  }

  int oc = soundingTotal() < xs.polyphony ? firstFree(inCh, channels, count) : -1;
  if (oc < 0) {
    const int victim = pickVictim(inCh, pitch, -1, true, false);
    if (victim < 0) return -1;
    oc = xs.notes[victim].outCh;
    endNoteNow(victim);
  }
  *needsSetup = xs.lastUser[oc] != inCh || ic.mode == ALLOC_SPLIT;
  return oc;
}

}  // namespace vlm::xform
