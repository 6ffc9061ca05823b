// The open-note and timed-note tables of the stream writer, shared by the emitter and putEvent.
// Fixed arrays of MAX_NOTES entries, searched linearly and shifted on insertion and removal. Every
// insertion counts a sounding note on its channel, every removal uncounts it.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/codec.h"
#include "core/vstream.h"

namespace vlm {

// How many open notes there are per channel and note number (channel and note reduced to 16 x 128
// keys, so a count is never lower than the notes that match), and which of channels 0..15 have
// open notes. Kept by insertOpenNote and removeOpenNotes and cleared by beginStream; a search for
// a note whose count is zero can end at once.
struct OpenNoteIndex {
  uint8_t count[CHANNELS][128];
  uint8_t onChannel[CHANNELS];
  uint16_t channelMask;
  // Sum of ChannelState::sounding over the 16 channels, each counted as its 8-bit value.
  int sounding;
};
extern thread_local constinit OpenNoteIndex openIndex;

inline bool mayBeOpen(uint8_t channel, uint8_t note) {
  return openIndex.count[channel & 15][note & 0x7F] != 0;
}

// Every change of a channel's sounding count goes through these two, which keep the sum: one
// more note (the 8-bit count wraps as before), one less unless none sounds.
inline void countSounding(uint8_t channel) {
  uint8_t& n = writer.ch[channel].sounding;
  ++n;
  openIndex.sounding += n == 0 ? -255 : 1;
}
inline void uncountSounding(uint8_t channel) {
  uint8_t& n = writer.ch[channel].sounding;
  if (n) {
    --n;
    --openIndex.sounding;
  }
}

// Inserts after all entries whose start is not later; -1 when the table is full.
int insertOpenNote(const OpenNote& note);
// Inserts after all entries whose end is not later; -1 when the table is full.
int insertTimedNote(const TimedNote& note);
void removeOpenNotes(int index, int n = 1);
// removeOpenNotes for one note, inline for the note matching of every note end.
inline void removeOpenNote(int index) {
  if (index < 0 || index >= writer.openCount) return;
  OpenNote* open = writer.open;
  const uint8_t c = open[index].channel;
  uint8_t& keyed = openIndex.count[c & 15][open[index].note & 0x7F];
  if (keyed) --keyed;
  if (c < CHANNELS) {
    uncountSounding(c);
    if (openIndex.onChannel[c] && --openIndex.onChannel[c] == 0)
      openIndex.channelMask &= uint16_t(~(1u << c));
  }
  // The few notes behind it move up one place.
  for (int i = index + 1, n = writer.openCount; i < n; ++i) open[i - 1] = open[i];
  --writer.openCount;
}
// Gives an open note another note number, keeping the index.
void renumberOpenNote(OpenNote& note, uint8_t number);
void removeTimedNotes(int index, int n = 1);

// Statistics of a note end at `time` on `channel` (latest note end, within the play range).
void noteEndStats(uint8_t channel, uint32_t time);

// Writes a duration, capped at MAX_DURATION, big-endian at the note's status position + 3.
void patchDuration(uint8_t* out, uint32_t statusPos, uint32_t duration);

// Rhythm notes sound at most a sixteenth, and timed notes that have ended leave their table: the
// housekeeping before every event. The open notes are sorted by start, so those sounding longer
// than the cut come first; the scan ends as soon as no rhythm channel has an open note left.
inline void endExpiredNotes(uint8_t* out, uint32_t now) {
  const uint32_t cut = writer.timebase / 4;
  for (int i = 0; (writer.DRUM_CHANNEL_MASK & openIndex.channelMask) && i < writer.openCount &&
                  (now >= writer.open[i].start ? now - writer.open[i].start : 0) > cut;) {
    const OpenNote n = writer.open[i];
    if (n.channel < CHANNELS && (writer.DRUM_CHANNEL_MASK >> n.channel & 1)) {
      patchDuration(out, n.position, cut);
      noteEndStats(n.channel, n.start + cut);
      removeOpenNote(i);
    } else {
      ++i;
    }
  }
  int ended = 0;
  while (ended < writer.timedCount && writer.timed[ended].end <= now) ++ended;
  if (ended) removeTimedNotes(0, ended);
}

}  // namespace vlm
