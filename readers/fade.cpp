// The fade pass: copies a VStream unchanged and appends one chunk of expression (controller 11)
// steps on all 16 channels that fade the song in from the range start and out towards the range
// end. The chunk is written directly, so its controller 11 events stay as they are until the
// transform folds them into the volume.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/codec.h"
#include "core/conversion_options.h"
#include "core/stages.h"
#include "core/thread_record.h"
#include "core/vstream.h"

namespace vlm {

namespace {

constexpr int FADE_STEPS = 17;
constexpr int FADE_STEP_LEVEL = 8;
constexpr uint8_t FULL_EXPRESSION = 127;
constexpr uint32_t END_OF_TRACK_SIZE = 4;  // delta 0, FF 2F 00
constexpr int64_t FADE_LENGTH_BEATS = 8;   // beats the formula allows for each fade

struct FadeWriter {
  uint8_t* out = nullptr;
  uint32_t capacity = 0;
  uint32_t pos = 0;
  uint32_t pendingDelta = 0;  // ticks before the next event
  bool full = false;
  TrackTable table;
};

// Set to the thread's record on entry (core/thread_record.h says why).
thread_local constinit FadeWriter* f = nullptr;

// Writes one event after the pending delay; refuses it when the end of track would not fit.
void put(const uint8_t* bytes, uint32_t count) {
  if (f->full) return;
  const uint32_t needed = uint32_t(varLenSize(f->pendingDelta)) + count + END_OF_TRACK_SIZE;
  if (needed > f->capacity - f->pos) {
    f->full = true;
    return;
  }
  f->pos += uint32_t(writeVarLen(f->out + f->pos, f->pendingDelta));
  std::memcpy(f->out + f->pos, bytes, count);
  f->pos += count;
  f->pendingDelta = 0;
}

void delay(uint64_t ticks) {
  const uint64_t total = uint64_t(f->pendingDelta) + ticks;
  f->pendingDelta = uint32_t(std::min<uint64_t>(total, 0x0FFFFFFF));
}

void expression(int channel, int value) {
  const uint8_t event[3] = {uint8_t(ST_CONTROL | channel), CC_EXPRESSION,
                            uint8_t(std::clamp(value, 0, int(FULL_EXPRESSION)))};
  put(event, 3);
}

// A filler event (no data bytes) that carries a delay.
void filler(uint64_t ticks) {
  delay(ticks);
  const uint8_t event[1] = {ST_FILLER};
  put(event, 1);
}

// 17 steps half a beat apart; channel 15 takes each step after the delay.
void fadeSteps(uint32_t timebase, bool in) {
  for (int k = 0; k < FADE_STEPS && !f->full; ++k) {
    const int value = in ? std::min(FADE_STEP_LEVEL * k, int(FULL_EXPRESSION))
                         : int(FULL_EXPRESSION) - FADE_STEP_LEVEL * k;
    for (int channel = 0; channel < CHANNELS; ++channel) {
      if (channel == CHANNELS - 1) delay(timebase / 2);
      expression(channel, value);
    }
  }
}

// Time of the last event of the stream (its ends of track included).
uint32_t songEnd() {
  uint32_t end = 0;
  StreamEvent ev;
  while (nextStreamEvent(f->table, ev)) end = std::max(end, ev.time);
  return end;
}

}  // namespace

void fadeStream(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
                int32_t* destinationSize, uint32_t capacity) {
  *destinationSize = 0;
  if (!destination || (!source && sourceSize) || sourceSize > capacity) return;
  if (sourceSize) std::memmove(destination, source, sourceSize);
  *destinationSize = int32_t(sourceSize);
  if (capacity - sourceSize < CHUNK_HEAD_SIZE + END_OF_TRACK_SIZE) return;

  f = &threadRecord<FadeWriter>();
  loadTrackTable(f->table, destination, sourceSize);
  const int64_t T = f->table.timebase;
  const int64_t fadeInStart = int64_t(options.rangeStart) * T / 4;
  // Without a range end the fade-out leads to the end of the song.
  const int64_t fadeOutEnd =
      options.rangeEnd ? int64_t(options.rangeEnd) * T / 4 : int64_t(songEnd());

  f->out = destination;
  f->capacity = capacity;
  f->pos = sourceSize;
  f->pendingDelta = 0;
  f->full = false;
  const uint32_t chunkStart = f->pos;
  std::memcpy(f->out + f->pos, VTRK_ID, 4);
  putBE(f->out + f->pos + 4, 0, 4);
  f->pos += CHUNK_HEAD_SIZE;

  if (options.fadeIn) {
    for (int channel = 0; channel < CHANNELS; ++channel) expression(channel, 0);
    filler(uint64_t(fadeInStart));
    fadeSteps(uint32_t(T), true);
  }
  if (options.fadeOut) {
    int64_t d = fadeOutEnd - FADE_LENGTH_BEATS * T;
    if (options.fadeIn) d -= fadeInStart + FADE_LENGTH_BEATS * T;
    filler(uint64_t(std::max<int64_t>(d, 0)));
    fadeSteps(uint32_t(T), false);
  }

  // The end of track always has its room.
  const uint8_t end[END_OF_TRACK_SIZE] = {0, ST_META, META_END_OF_TRACK, 0};
  std::memcpy(f->out + f->pos, end, END_OF_TRACK_SIZE);
  f->pos += END_OF_TRACK_SIZE;
  putBE(f->out + chunkStart + 4, f->pos - chunkStart - CHUNK_HEAD_SIZE, 4);
  *destinationSize = int32_t(f->pos);
}

}  // namespace vlm
