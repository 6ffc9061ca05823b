// What every reader does to put its events into the stream: an EventSink names the output buffer
// and remembers that it filled up, and the typed helpers build the data bytes of the common events
// (notes with a duration, controllers, programs, bends, tempos and other meta events) and submit
// them. A full buffer refuses every later event without trying it, so a reader may finish its
// loop and stop at its next check: once one event did not fit, no smaller later one slips in.
#pragma once

#include <algorithm>
#include <cstdint>

#include "core/codec.h"
#include "core/vstream.h"

namespace vlm {

struct EventSink {
  uint8_t* out = nullptr;
  uint32_t capacity = 0;
  bool full = false;  // the buffer refused an event: nothing more is submitted
};

inline EventSink sinkFor(uint8_t* out, uint32_t capacity) {
  return EventSink{out, capacity, false};
}

// Any event, with the data bytes the stream keeps for its status; false once the buffer is full.
inline bool submitTo(EventSink& s, uint32_t time, uint8_t track, uint8_t status,
                     const uint8_t* data, uint32_t count) {
  if (s.full) return false;
  if (!submitEvent(s.out, s.capacity, time, status, track, data, count)) s.full = true;
  return !s.full;
}

// A note request with its duration: `status` is a timed note (0x1n), a note of channel n + 16
// (0x2n, the wave notes) or a note (0x9n). Durations longer than the stream holds are cut.
inline bool submitNote(EventSink& s, uint32_t time, uint8_t track, uint8_t status, int note,
                       int velocity, uint64_t duration) {
  const uint32_t d = uint32_t(std::min<uint64_t>(duration, MAX_DURATION));
  const uint8_t data[4] = {uint8_t(note & 0x7F), uint8_t(velocity & 0x7F), uint8_t(d >> 8),
                           uint8_t(d)};
  return submitTo(s, time, track, status, data, 4);
}

inline bool submitControl(EventSink& s, uint32_t time, uint8_t track, int channel,
                          uint8_t controller, int value) {
  const uint8_t data[2] = {controller, uint8_t(value & 0x7F)};
  return submitTo(s, time, track, uint8_t(ST_CONTROL | channel), data, 2);
}

// A program with the bank byte the stream keeps beside it.
inline bool submitProgram(EventSink& s, uint32_t time, uint8_t track, int channel, int program,
                          uint8_t bank = 0) {
  const uint8_t data[2] = {uint8_t(program & 0x7F), bank};
  return submitTo(s, time, track, uint8_t(ST_PROGRAM | channel), data, 2);
}

inline bool submitBend(EventSink& s, uint32_t time, uint8_t track, int channel, int lsb, int msb) {
  const uint8_t data[2] = {uint8_t(lsb & 0x7F), uint8_t(msb & 0x7F)};
  return submitTo(s, time, track, uint8_t(ST_PITCH_BEND | channel), data, 2);
}

// A meta event of any body; the type, the length and the body are put together in one buffer of
// the thread's, which grows to the longest body seen.
bool submitMeta(EventSink& s, uint32_t time, uint8_t track, uint8_t type, const uint8_t* body,
                uint32_t length);

// A wave (META_WAVE): its number, its rate code (WAVE_RATE_NONE: no samples) and `length` sample
// bytes, put together with the event's head in the same buffer as submitMeta's.
bool submitWave(EventSink& s, uint32_t time, uint8_t track, uint8_t number, uint8_t rateCode,
                const uint8_t* samples, uint32_t length);

// A meta event of one byte (master volume, cue, parameter, level).
inline bool submitMetaByte(EventSink& s, uint32_t time, uint8_t track, uint8_t type,
                           uint8_t value) {
  const uint8_t data[3] = {type, 1, value};
  return submitTo(s, time, track, ST_META, data, 3);
}

// The 3 bytes of a tempo in microseconds per quarter note, as much as they hold.
inline void putTempoMicros(uint8_t* at, uint32_t micros) {
  putBE(at, std::min<uint32_t>(micros, 0xFFFFFF), 3);
}
inline uint32_t microsOfBpm(uint32_t bpm) {
  return 60000000u / (bpm ? bpm : 120);
}

inline bool submitTempo(EventSink& s, uint32_t time, uint8_t track, uint32_t micros) {
  uint8_t data[5] = {META_TEMPO, 3};
  putTempoMicros(data + 2, micros);
  return submitTo(s, time, track, ST_META, data, 5);
}

}  // namespace vlm
