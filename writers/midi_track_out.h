// The one track that the Standard MIDI File and feelsound writers fill: the caller's buffer, the
// two limits an event must keep (the named refusal limit, and the exact room left for the closing
// bytes), the time and running status of the last event, and the note-offs owed. Plain, like
// NoteOffSchedule, so that it can stand at the head of a writer's thread-local state.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/codec.h"
#include "core/conversion_options.h"
#include "core/vstream.h"
#include "writers/note_off_schedule.h"

namespace vlm {

// The limit named for event refusal: bytes + position + 5 must not exceed the limit.
inline constexpr uint32_t EVENT_SLACK = 5;
// Note ends are held below the merge's end-of-tracks mark.
inline constexpr uint32_t NOTE_END_LAST = 0xFFFFFFFE;

enum class EventStart {
  STARTED,   // delta and status written; the caller writes the data bytes
  LEFT_OUT,  // no memory for its note-off: the event is left out, the song goes on
  FULL,      // it does not fit: the size-limit warning is raised and the song ends here
};

struct MidiTrackOut {
  uint8_t* out;
  uint32_t pos;
  uint32_t capacity;
  uint32_t limit;         // capacity less the writer's margin, as the refusal test names it
  uint32_t closingBytes;  // room always kept behind the events for the closing delta and bytes
  uint32_t lastTime;
  uint32_t songEnd;
  uint8_t runningStatus;
  NoteOffSchedule offs;

  void startTrack(uint8_t* buffer, uint32_t size, uint32_t limitMargin, uint32_t closing) {
    out = buffer;
    pos = 0;
    capacity = size;
    limit = size > limitMargin ? size - limitMargin : 0;
    closingBytes = closing;
    lastTime = 0;
    songEnd = 0;
    runningStatus = 0;
    offs.start();
  }

  void put(const void* bytes, uint32_t n) {
    std::memcpy(out + pos, bytes, n);
    pos += n;
  }

  // Starts an event of `count` bytes after its status at `time` (never before the last event):
  // its delta, and its status unless running status covers it. Besides the named limit, the
  // exact size is checked so that a long delta can never push the closing bytes past the
  // capacity. A note-on that `schedulesOff` owes a note-off for `note` at its end.
  EventStart startEvent(uint32_t time, uint8_t status, uint64_t count, bool schedulesOff,
                        uint8_t note, uint16_t duration) {
    if (time < lastTime) time = lastTime;  // never a negative delta
    const uint32_t delta = time - lastTime;
    const bool writeStatus = status != runningStatus;
    const uint64_t exact = uint64_t(varLenSize(delta)) + (writeStatus ? 1 : 0) + count;
    if (count + pos + EVENT_SLACK > limit || pos + exact + closingBytes > capacity) {
      raiseWarning(WARN_SIZE_LIMIT);
      return EventStart::FULL;
    }
    if (schedulesOff && !offs.reserve()) return EventStart::LEFT_OUT;
    pos += uint32_t(writeVarLen(out + pos, delta));
    lastTime = time;
    if (writeStatus) out[pos++] = status;
    runningStatus = status <= 0xEF ? status : 0;
    if (schedulesOff) {
      const uint64_t end = uint64_t(time) + duration;
      offs.add(note, status & 0x0F, end < NOTE_END_LAST ? uint32_t(end) : NOTE_END_LAST);
    }
    return EventStart::STARTED;
  }
};

}  // namespace vlm
