// The note-offs that the Standard MIDI File and feelsound writers owe: a stream note carries its
// duration, a file note needs a note-off event at its end. Entries wait in ascending end order
// (equal ends in the order they were added) in a table that grows, so no note loses its
// note-off however many sound at once. The record has no constructor so that the writers'
// thread-local states that hold it stay plain to access; start() and release() bracket a run.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/vstream.h"

namespace vlm {

struct PendingNoteOff {
  uint32_t end;
  uint8_t note;
  uint8_t channel;  // output channel
};

struct NoteOffSchedule {
  static constexpr size_t INITIAL_ENTRIES = 4 * MAX_NOTES;

  // Entries from `head` to `size` are waiting; those before `head` are written.
  PendingNoteOff* table;
  size_t size;
  size_t capacity;
  size_t head;
  // Waiting entries per output channel and note, for the writer that lets only the last strike
  // of a key write its note-off.
  uint32_t waiting[CHANNELS][128];

  void start() {
    table = nullptr;
    size = capacity = head = 0;
    std::memset(waiting, 0, sizeof waiting);
  }
  void release() {
    std::free(table);
    table = nullptr;
    size = capacity = head = 0;
  }

  // Makes room for one more entry; false when memory runs out.
  bool reserve() {
    if (size < capacity) return true;
    if (head > 0) {  // reuse the room of entries already written
      std::memmove(table, table + head, (size - head) * sizeof(PendingNoteOff));
      size -= head;
      head = 0;
      if (size < capacity) return true;
    }
    const size_t grown = capacity ? capacity * 2 : INITIAL_ENTRIES;
    void* p = std::realloc(table, grown * sizeof(PendingNoteOff));
    if (!p) return false;
    table = static_cast<PendingNoteOff*>(p);
    capacity = grown;
    return true;
  }

  // After reserve(). A new entry goes after every entry with the same or an earlier end; new
  // notes usually end last, so the search runs from the back.
  void add(uint8_t note, uint8_t channel, uint32_t end) {
    size_t i = size;
    while (i > head && table[i - 1].end > end) --i;
    if (i < size) std::memmove(table + i + 1, table + i, (size - i) * sizeof(PendingNoteOff));
    table[i] = PendingNoteOff{end, note, channel};
    ++size;
    ++waiting[channel & 15][note & 0x7F];
  }

  bool anyDue(uint32_t time) const { return head < size && table[head].end <= time; }

  // Marks the entries before `next` as written.
  void writtenUpTo(size_t next) {
    head = next;
    if (head == size) size = head = 0;
  }

  // Gives every waiting entry, in order, to `emit` until it refuses one; then the table is
  // empty.
  template <typename Emit>
  void flushAll(Emit emit) {
    for (size_t i = head; i < size; ++i)
      if (!emit(table[i])) break;
    size = head = 0;
  }
};

}  // namespace vlm
