// The open-note and timed-note tables of the stream writer, shared by the emitter and putEvent.
// Fixed arrays of MAX_NOTES entries, searched linearly and shifted on insertion and removal. Every
// insertion counts a sounding note on its channel, every removal uncounts it.
#pragma once

#include <cstdint>

#include "core/vstream.h"

namespace vlm {

// Inserts after all entries whose start is not later; -1 when the table is full.
int insertOpenNote(const OpenNote& note);
// Inserts after all entries whose end is not later; -1 when the table is full.
int insertTimedNote(const TimedNote& note);
void removeOpenNotes(int index, int n = 1);
void removeTimedNotes(int index, int n = 1);

// Statistics of a note end at `time` on `channel` (latest note end, within the play range).
void noteEndStats(uint8_t channel, uint32_t time);

// Writes a duration, capped at MAX_DURATION, big-endian at the note's status position + 3.
void patchDuration(uint8_t* out, uint32_t statusPos, uint32_t duration);

}  // namespace vlm
