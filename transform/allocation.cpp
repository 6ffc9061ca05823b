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

// Whether channel 10 stays free of rhythm: no rhythm channel takes part, or the rhythm channels
// are not gathered there.
bool drumOutputSpare() {
  if (options.drambankflg) return true;
  for (int c = 0; c < CHANNELS; ++c)
    if (xs.in[c].notesPerOut && xs.in[c].rhythm) return false;
  return true;
}

void allocatePlain(bool forPlayback) {
  int used = 0;
  int next = 0;
  const bool drumSpare = drumOutputSpare();
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
      // Sixteen melodic channels and no rhythm: the last one plays on channel 10 as a melodic
      // part (its rhythm mark cleared, as drambankflg does) rather than being lost.
      if (oc >= OUTPUT_CHANNELS && drumSpare && !xs.outUsed[DRUM_OUTPUT]) oc = DRUM_OUTPUT;
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

// The voices an input channel asks for on a one-voice-per-channel target: its largest chord, or
// for a rhythm channel its distinct rhythm notes, capped by its per-channel maximum.
int voicesWanted(int c, const SongStats& stats) {
  const InputChannel& ic = xs.in[c];
  int want =
      ic.rhythm ? std::min<int>(stats.rhythmNoteCount, xs.polyphony) : stats.ch[c].maxSounding;
  want = std::max(want, 1);
  if (options.channelMaxVoices[c]) want = std::min<int>(want, options.channelMaxVoices[c]);
  return want;
}

// Gives an input channel the run of output channels from `first`, as wide as `want` or the
// `left` voices when fewer; returns the run's width (0: the channel is not converted).
int giveRun(int c, int first, int want, int left) {
  InputChannel& ic = xs.in[c];
  if (want > left) {
    raiseWarning(WARN_TOO_MANY_TRACKS);
    want = left;
  }
  if (want <= 0) {
    ic.notesPerOut = 0;
    return 0;
  }
  ic.firstOut = uint8_t(first);
  ic.outCount = uint8_t(want);
  ic.mode = ALLOC_SPLIT;
  ic.notesPerOut = 1;
  for (int k = first; k < first + want; ++k) {
    xs.outUsed[k] = true;
    xs.owner[k] = uint8_t(c);
    xs.outRhythm[k] = ic.rhythm;
  }
  return want;
}

// The output channels from `first` up to `limit` become the pool that every input channel in
// shared mode draws its voices from.
void sharePool(int first, int limit) {
  xs.poolSize = 0;
  for (int k = first; k < limit; ++k) {
    xs.pool[xs.poolSize++] = uint8_t(k);
    xs.poolMask = uint16_t(xs.poolMask | 1u << k);
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

// Channels whose chords do not fit side by side in runs of their own: the rhythm channels keep
// runs (a shared channel cannot switch between the rhythm set and a melodic voice from note to
// note), the first `rzmchn` of them before any other, and every melodic channel shares the
// voices left, so that notes are lost only where more of them sound at once than the target
// has voices.
void allocateShared(const SongStats& stats, int limit) {
  int used = 0;
  int melodic = 0;
  for (int c = 0; c < CHANNELS; ++c)
    if (xs.in[c].notesPerOut && !xs.in[c].rhythm) ++melodic;
  int rhythmSeen = 0;
  for (int i = 0; i < CHANNELS; ++i) {
    const int c = xs.order[i];
    if (xs.in[c].notesPerOut == 0 || !xs.in[c].rhythm) continue;
    // Rhythm channels after the first `rzmchn` leave the melodic channels a voice to share.
    const bool preferred = rhythmSeen++ < options.rzmchn;
    const int left = limit - used - (preferred || melodic == 0 ? 0 : 1);
    const int want = std::max<int>(stats.ch[c].maxSounding, 1);
    used += giveRun(c, used, std::min(voicesWanted(c, stats), want), left);
  }
  for (int c = 0; c < CHANNELS; ++c)
    if (xs.in[c].notesPerOut && !xs.in[c].rhythm) xs.in[c].mode = ALLOC_SHARED;
  xs.sharedForPolyphony = true;
  sharePool(used, limit);
}

// One-voice-per-channel targets: a run of consecutive output channels per input channel, and
// under compression one pool shared by every channel that is not kept whole.
void allocateSplit(const SongStats& stats) {
  const int limit = std::min(xs.polyphony, OUTPUT_CHANNELS);
  const bool compress = options.waoncompress;
  if (!compress && !options.preset.fourVoiceFm && !options.preset.psgSource) {
    int wanted = 0;
    for (int c = 0; c < CHANNELS; ++c)
      if (xs.in[c].notesPerOut) wanted += voicesWanted(c, stats);
    if (wanted > limit) return allocateShared(stats, limit);
  }
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
    used += giveRun(c, used, voicesWanted(c, stats), limit - used);
  }
  if (anyShared) sharePool(used, limit);
}

bool inScope(const SoundingNote& n, int inCh, int scopeOut, bool wholeRun) {
  if (n.outCh >= OUTPUT_CHANNELS) return false;
  if (scopeOut >= 0) return n.outCh == scopeOut;
  if (!wholeRun) return true;
  const InputChannel& ic = xs.in[inCh];
  if (ic.mode == ALLOC_SHARED) return xs.poolMask >> n.outCh & 1;
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

// A free pool channel for a note of a shared input channel: one that already plays the channel
// (no setup to write), else the one left longest ago, whose last channel least likely needs it
// back soon; with dxmmldmix one already set to the channel's program comes first.
int freeInPool(int inCh) {
  int own = -1, oldest = -1;
  for (int k = 0; k < xs.poolSize; ++k) {
    const int oc = xs.pool[k];
    if (soundingOn(oc) != 0) continue;
    if (xs.lastUser[oc] == inCh) {
      own = oc;
      break;
    }
    if (oldest < 0 || xs.lastUse[oc] < xs.lastUse[oldest]) oldest = oc;
  }
  if (options.dxmmldmix && own < 0) return firstFree(inCh, xs.pool, xs.poolSize);
  return own >= 0 ? own : oldest;
}

// A note of a channel that shares voices ends a sounding one, or is dropped: music lost to the
// target's polyphony, which the run reports.
int giveWay(int inCh, int pitch) {
  const int victim = pickVictim(inCh, pitch, -1, true, false);
  if (xs.sharedForPolyphony) raiseWarning(WARN_TOO_MANY_TRACKS);
  if (victim < 0) return -1;
  const int oc = xs.notes[victim].outCh;
  endNoteNow(victim);
  return oc;
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
  std::memset(xs.lastUse, 0, sizeof xs.lastUse);
  xs.sharedForPolyphony = false;
  std::memset(xs.outUsed, 0, sizeof xs.outUsed);
  std::memset(xs.outRhythm, 0, sizeof xs.outRhythm);
  xs.poolSize = 0;
  xs.poolMask = 0;
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
    const int oc = firstFree(inCh, channels, count);
    // A run as wide as the channel's largest chord: a note gives way when it is still full.
    if (oc < 0 && xs.sharedForPolyphony) return giveWay(inCh, pitch);
    return oc;  // -1: none is free, the note is dropped
  }

  if (ic.mode == ALLOC_SHARED && ic.maxVoices && ownSounding(inCh) >= ic.maxVoices) {
    const int victim = pickVictim(inCh, pitch, -1, true, true);
    if (victim < 0) return -1;
    const int oc = xs.notes[victim].outCh;
    endNoteNow(victim);
    return oc;
  }

  int oc = -1;
  if (soundingTotal() < xs.polyphony)
    oc = ic.mode == ALLOC_SHARED ? freeInPool(inCh) : firstFree(inCh, channels, count);
  if (oc < 0) oc = giveWay(inCh, pitch);
  if (oc < 0) return -1;
  *needsSetup = xs.lastUser[oc] != inCh || ic.mode == ALLOC_SPLIT;
  return oc;
}

}  // namespace vlm::xform
