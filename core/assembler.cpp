// putEvent: turns the requests of the readers (note-on/off pairs, notes with a length, pitch
// bends, pitch as a frequency number) into stream events. Every note is written once and its
// duration is patched in place when its end becomes known.
#include <algorithm>
#include <cstring>

#include "core/codec.h"
#include "core/conversion_options.h"
#include "core/note_tables.h"
#include "core/vstream.h"

namespace vlm {

namespace {

constexpr uint8_t FREQ_BLOCK_MASK = 0x07;
constexpr uint8_t FREQ_KEY_ON = 0x08;
constexpr uint8_t FREQ_BEND_RANGE = 24;
constexpr uint8_t NOTE_VELOCITY = 127;  // of notes started by frequency requests

inline uint32_t elapsed(uint32_t now, uint32_t start) {
  return now >= start ? now - start : 0;
}
inline uint8_t clampNote(int note) {
  return uint8_t(std::clamp(note, 0, 127));
}
inline bool isRhythm(uint8_t channel) {
  return channel < CHANNELS && (writer.DRUM_CHANNEL_MASK >> channel & 1);
}

// The current event becomes a generated one; its bytes go into the scratch block, never into
// the caller's own bytes.
void setEvent(uint8_t status, const uint8_t* bytes, uint32_t count) {
  writer.status = status;
  writer.data = writer.scratch.data;
  markScratchWritten(count);
  if (count) std::memmove(writer.data, bytes, count);
  writer.count = count;
}

void setNoteOff(uint8_t channel, uint8_t note) {
  const uint8_t bytes[1] = {note};
  setEvent(uint8_t(ST_NOTE_OFF | channel), bytes, 1);
  writer.count = 0;
}

void setBend(uint8_t channel, uint16_t word) {
  const uint8_t bytes[2] = {uint8_t(word & 0xFF), uint8_t(word >> 8)};
  setEvent(uint8_t(ST_PITCH_BEND | channel), bytes, 2);
}

// Semitones of a bend word at sensitivity r.
inline int bendSemitones(uint16_t word, int r) {
  return (((word >> 8) * r + 32) >> 6) - r;
}

// Offset of a frequency from a reference note, in 1/64 semitone.
int exactOffset(uint16_t fnum, int block, int reference) {
  int j = 1;
  while (j < 12 && !(fnum < FNUM_TABLE[j])) ++j;
  const int step = FNUM_TABLE[j] - FNUM_TABLE[j - 1];
  return ((int(fnum) - FNUM_TABLE[j]) * 64) / step + (j + 12 * (block + 1) - reference) * 64;
}

int targetNote(const ChannelState& cs, int r) {
  const int block = cs.freqFlags & FREQ_BLOCK_MASK;
  int i = 0;
  while (i < 12 && !((FNUM_TABLE[i] + FNUM_TABLE[i + 1]) / 2 > cs.freqNumber)) ++i;
  int note = i + 12 * (block + 1);
  if (cs.freqNote) {
    int offset = exactOffset(cs.freqNumber, block, cs.freqNote);
    if (offset >= -64 * r && offset < 64 * r) note = cs.freqNote;
  }
  return note;
}

uint16_t bendForFrequency(const ChannelState& cs, int r) {
  if (r <= 0) return BEND_CENTRE;
  const int b = exactOffset(cs.freqNumber, cs.freqFlags & FREQ_BLOCK_MASK, cs.freqNote) * 128 / r;
  if (b <= -8192) return 0;
  if (b >= 8191) return 0x7F7F;
  const int v = b + 8192;
  return uint16_t((v >> 7) << 8 | (v & 0x7F));
}

int findOpen(uint8_t note, uint8_t track, uint8_t channel) {
  if (!mayBeOpen(channel, note)) return -1;
  for (int i = 0; i < writer.openCount; ++i) {
    const OpenNote& n = writer.open[i];
    if (n.note == note && n.track == track && n.channel == channel) return i;
  }
  return -1;
}

int findTimed(uint8_t note, uint8_t track, uint8_t channel) {
  for (int i = 0; i < writer.timedCount; ++i) {
    const TimedNote& n = writer.timed[i];
    if (n.note == note && n.track == track && n.channel == channel) return i;
  }
  return -1;
}

// Ends a note at `now`: its duration is patched (at least `least`), the statistics see its end.
void endNote(uint8_t* out, uint32_t position, uint32_t start, uint8_t channel, uint32_t now,
             uint32_t least) {
  patchDuration(out, position, std::max(elapsed(now, start), least));
  noteEndStats(channel, now);
}

// Makes a fixed-size event carry exactly its size in bytes, so the stream stays readable; a
// malformed exclusive or meta event is dropped. False when the request is to be dropped.
bool normaliseRequest(uint8_t kind) {
  const uint8_t status = writer.status;
  if (status == ST_META || status == ST_EXCLUSIVE) {
    if (writer.count == 0) return true;
    const uint32_t skip = status == ST_META ? 1 : 0;
    if (writer.count <= skip) return false;
    uint32_t used = 0;
    uint32_t length = readVarLen(writer.data + skip, writer.count - skip, &used);
    if (used == 0 || (writer.data[skip + used - 1] & 0x80)) return false;
    return uint64_t(skip) + used + length == writer.count;
  }
  if (status > ST_EXCLUSIVE) return false;
  if (kind == ST_TIMED_END || writer.count == 0) return true;
  if (kind == ST_CONTROL && (writer.data[0] == CC_FREQ_LOW || writer.data[0] == CC_FREQ_HIGH))
    return writer.count >= 2;  // frequency requests carry one or both parts
  const int size = eventDataSize(status);
  if (size == 0xFF) return false;
  if (writer.count != uint32_t(size)) {
    uint8_t bytes[16] = {};  // the largest fixed size is a filler of 15 bytes
    std::memcpy(bytes, writer.data, std::min<uint32_t>(writer.count, uint32_t(size)));
    setEvent(status, bytes, uint32_t(size));
  }
  return true;
}

// Step 1: frequency requests. Returns true when the request was one.
bool frequencyRequest(uint8_t* out, uint8_t c, uint32_t now, bool& toEmit) {
  ChannelState& cs = writer.ch[c];
  for (uint32_t i = 0; i + 1 < writer.count; i += 2) {
    const uint8_t v = writer.data[i + 1];
    if (writer.data[i] == CC_FREQ_LOW) {
      cs.freqNumber = uint16_t((cs.freqNumber & 0x100) | v);
    } else if (writer.data[i] == CC_FREQ_HIGH) {
      cs.freqFlags = (v >> 2) & 0x0F;
      cs.freqNumber = uint16_t((cs.freqNumber & 0xFF) | ((v >> 1) & 1) << 8);
    }
  }
  writer.count = 0;
  if (options.freqBendRange24 && cs.bendRange != FREQ_BEND_RANGE) {
    const uint8_t bytes[2] = {CC_BEND_RANGE, FREQ_BEND_RANGE};
    setEvent(uint8_t(ST_CONTROL | c), bytes, 2);
    writer.resubmit = true;
    toEmit = true;
    return true;
  }
  const int r = options.freqFractionByBend ? cs.bendRange : 0;
  const uint8_t target = clampNote(targetNote(cs, r));
  const bool keyOn = cs.freqFlags & FREQ_KEY_ON;
  const uint8_t track = writer.sourceTrack;
  if (keyOn && cs.freqNote == 0) {
    int found = -1;
    for (int i = 0; i < writer.timedCount && found < 0; ++i)
      if (writer.timed[i].track == track && writer.timed[i].channel == c) found = i;
    if (found >= 0 && writer.timed[found].note == target) {
      // The note given with a length goes on sounding under the frequency's control.
      const TimedNote t = writer.timed[found];
      removeTimedNotes(found);
      insertOpenNote(OpenNote{t.note, t.track, t.channel, t.position, t.start});
    } else {
      if (found >= 0) {
        const TimedNote t = writer.timed[found];
        endNote(out, t.position, t.start, c, now, 0);
        removeTimedNotes(found);
      }
      const uint8_t bytes[4] = {target, NOTE_VELOCITY, 0, 0};
      setEvent(uint8_t(ST_NOTE | c), bytes, 4);
    }
    cs.freqNote = target;
    writer.resubmit = true;
  } else if (cs.freqNote && (!keyOn || target != cs.freqNote)) {
    setNoteOff(c, cs.freqNote);
    cs.freqNote = 0;
    writer.resubmit = true;
  } else if (options.freqFractionByBend) {
    const uint16_t wanted = keyOn ? bendForFrequency(cs, cs.bendRange) : BEND_CENTRE;
    if (wanted != cs.bend) setBend(c, wanted);
  }
  return true;
}

// Step 2: a note with a length on a channel that frequency requests keep sounding.
void timedNoteOnFrequencyChannel(uint8_t c) {
  ChannelState& cs = writer.ch[c];
  if (cs.freqNote) {
    setNoteOff(c, cs.freqNote);
    cs.freqNote = 0;
    if (cs.bend == BEND_CENTRE) cs.freqFlags &= uint8_t(~FREQ_KEY_ON);
    writer.resubmit = true;
  } else if (cs.bend != BEND_CENTRE) {
    setBend(c, BEND_CENTRE);
    cs.freqFlags &= uint8_t(~FREQ_KEY_ON);
    writer.resubmit = true;
  }
}

// Step 3, bend requests: the sounding notes of the channel move by the bend's semitones.
// Returns 0 when the buffer filled up during a re-emission.
int transposeByBend(uint8_t* out, uint32_t capacity, uint8_t c, uint32_t now) {
  ChannelState& cs = writer.ch[c];
  const int r = cs.bendRange;
  const uint16_t newBend = uint16_t(writer.data[0] | writer.data[1] << 8);
  const int d = bendSemitones(newBend, r) - bendSemitones(cs.bend, r);
  cs.bend = newBend;
  writer.count = 0;
  if (d == 0) return 1;

  // Notes that started now simply take the new pitch.
  for (int i = 0; i < writer.openCount; ++i) {
    OpenNote& n = writer.open[i];
    if (n.channel == c && n.start == now) {
      renumberOpenNote(n, clampNote(n.note + d));
      out[n.position + 1] = n.note;
    }
  }
  for (int i = 0; i < writer.timedCount; ++i) {
    TimedNote& n = writer.timed[i];
    if (n.channel == c && n.start == now) out[n.position + 1] = n.note = clampNote(n.note + d);
  }
  // Earlier notes end now and sound on as new notes. The new ones start now, so a scan that
  // starts again does not meet them.
  const uint8_t savedTrack = writer.sourceTrack;
  for (int i = 0; i < writer.openCount;) {
    const OpenNote n = writer.open[i];
    if (n.channel != c || n.start >= now) {
      ++i;
      continue;
    }
    endNote(out, n.position, n.start, c, now, 0);
    const uint8_t velocity = out[n.position + 2];
    removeOpenNotes(i);
    const uint8_t bytes[4] = {clampNote(n.note + d), velocity, 0, 0};
    setEvent(uint8_t(ST_NOTE | c), bytes, 4);
    writer.sourceTrack = n.track;
    if (!emitEvent(out, capacity, now)) return 0;
    i = 0;
  }
  for (int i = 0; i < writer.timedCount;) {
    const TimedNote n = writer.timed[i];
    if (n.channel != c || !(n.start < now && now < n.end)) {
      ++i;
      continue;
    }
    endNote(out, n.position, n.start, c, now, 0);
    const uint8_t velocity = out[n.position + 2];
    removeTimedNotes(i);
    const uint32_t rest = std::min(n.end - now, MAX_DURATION);
    const uint8_t bytes[4] = {clampNote(n.note + d), velocity, uint8_t(rest >> 8),
                              uint8_t(rest & 0xFF)};
    setEvent(uint8_t(ST_TIMED_NOTE | c), bytes, 4);
    writer.sourceTrack = n.track;
    if (!emitEvent(out, capacity, now)) return 0;
    i = 0;
  }
  writer.sourceTrack = savedTrack;
  writer.count = 0;
  return 1;
}

}  // namespace

int putEvent(uint8_t* out, uint32_t capacity, uint32_t time) {
  markScratchWritten(std::max<uint32_t>(writer.count, 1));  // a note-off names its note
  const uint32_t now = time;
  writer.now = now;
  writer.resubmit = false;
  if (!writer.data) writer.count = 0;
  const uint8_t kind = writer.status & 0xF0;
  const uint8_t c = writer.status & 0x0F;
  if (writer.status < ST_EXCLUSIVE) writer.channel = uint8_t(c + (kind == ST_NOTE_HIGH ? 16 : 0));
  if (!normaliseRequest(kind)) writer.count = 0;

  bool generated = false;  // the request was replaced by an event of steps 1 or 2
  bool skipToEmit = false;

  // 1. Frequency requests.
  if (kind == ST_CONTROL && writer.count >= 2 &&
      (writer.data[0] == CC_FREQ_LOW || writer.data[0] == CC_FREQ_HIGH)) {
    if (options.freqNotesIgnored) {
      writer.count = 0;  // never written as a controller
    } else {
      frequencyRequest(out, c, now, skipToEmit);
      generated = true;
    }
  }
  // 2. A note with a length on a frequency channel first silences the frequency note.
  if (!generated && kind == ST_TIMED_NOTE && (writer.ch[c].freqFlags & FREQ_KEY_ON)) {
    timedNoteOnFrequencyChannel(c);
    generated = writer.resubmit;
  }

  if (!skipToEmit) {
    const uint8_t k = writer.status & 0xF0;  // may differ from `kind` after steps 1 and 2
    ChannelState& cs = writer.ch[c];

    // 3. Bend as transposition.
    if (options.bendsepflg && !generated) {
      if (k == ST_TIMED_NOTE || k == ST_NOTE_OFF || k == ST_NOTE) {
        if (writer.data)
          writer.data[0] = clampNote(writer.data[0] + bendSemitones(cs.bend, cs.bendRange));
      } else if (k == ST_PITCH_BEND && writer.count >= 2) {
        if (!transposeByBend(out, capacity, c, now)) return 0;
      }
    }

    // 4. Note-on and note-off matching.
    if ((k == ST_NOTE_OFF || k == ST_NOTE) && writer.data) {
      const bool noteOff = k == ST_NOTE_OFF || writer.count < 2 || writer.data[1] == 0;
      const int i = findOpen(writer.data[0], writer.sourceTrack, c);
      if (i >= 0) {
        const OpenNote n = writer.open[i];
        endNote(out, n.position, n.start, c, now, isRhythm(c) ? 1 : 0);
        removeOpenNotes(i);
      } else if (!noteOff && writer.openCount >= MAX_NOTES) {
        writer.count = 0;
      }
      if (noteOff) writer.count = 0;
    }

    // 5. Early end of a note given with a length.
    if (k == ST_TIMED_END) {
      if (writer.data) {
        // Notes of the second channel group (0x2n, such as wave notes) end through the same
        // request on channel n.
        int i = findTimed(writer.data[0], writer.sourceTrack, c);
        if (i < 0) i = findTimed(writer.data[0], writer.sourceTrack, uint8_t(c + 16));
        if (i >= 0) {
          const TimedNote n = writer.timed[i];
          endNote(out, n.position, n.start, n.channel, now, isRhythm(n.channel) ? 1 : 0);
          removeTimedNotes(i);
        }
      }
      writer.count = 0;
    }

    // 6. Rhythm notes sound at most a sixteenth; timed notes that have ended leave the table.
    endExpiredNotes(out, now);

    // 7. A repeat of a pitch given with a length that still sounds lengthens that note.
    if ((k == ST_TIMED_NOTE || k == ST_NOTE_HIGH) && writer.count >= 4) {
      const uint8_t channel = writer.channel;
      if (!isRhythm(channel) || writer.mergeRhythmRepeats) {
        const int i = findTimed(writer.data[0], writer.sourceTrack, channel);
        if (i >= 0) {
          TimedNote n = writer.timed[i];
          n.end = std::max(n.end, now + uint32_t(getBE(writer.data + 2, 2)));
          removeTimedNotes(i);
          insertTimedNote(n);
          patchDuration(out, n.position, n.end - n.start);
          writer.count = 0;
        }
      }
      if (writer.count && writer.timedCount >= MAX_NOTES) writer.count = 0;
    }
  }

  // 8. Write what is left of the request.
  return emitEvent(out, capacity, now);
}

}  // namespace vlm
