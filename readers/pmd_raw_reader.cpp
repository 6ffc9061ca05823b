// Reader of EZweb PMD files without the "cmid" header: a sequence of blocks (type, length,
// data). Melody blocks hold 4-bit codes (length, pitch, octave) for one channel each;
// instrument blocks select a program. The melody blocks are merged by time into one chunk.
#include <algorithm>
#include <cstdint>

#include "core/codec.h"
#include "core/reader_events.h"
#include "core/stages.h"
#include "core/thread_record.h"
#include "core/vstream.h"
#include "readers/phone_parts.h"

namespace vlm {

namespace {

using namespace phone;

constexpr int MAX_SOURCE_TRACKS = MAX_TRACKS;
constexpr int MAX_INSTRUMENTS = 64;
constexpr uint32_t BLOCK_HEAD_SIZE = 2;  // type, length
constexpr uint32_t FILE_HEAD_SIZE = 4;   // "ML" and two more bytes
constexpr uint8_t MELODY_BLOCK = 0x00;
constexpr uint8_t INSTRUMENT_BLOCK = 0x40;
constexpr int RHYTHM_CHANNEL = 10;  // channel 11
constexpr int NOTE_BASE = 48;
constexpr uint8_t RHYTHM_NOTES[3] = {0, 38, 46};  // pitch codes 1 and 2
constexpr int LAST_LENGTH_CODE = 10;              // codes above do nothing
constexpr int NO_TIE_LENGTH = 15;
constexpr uint8_t MODULATION_FULL = 127;

struct ProgramCode {
  uint16_t value;
  uint8_t program;
};
constexpr ProgramCode PROGRAM_CODES[7] = {{0x0201, 1},  {0x0301, 2},  {0x0303, 19}, {0x0401, 78},
                                          {0x0701, 74}, {0x3801, 13}, {0x3803, 9}};

struct MelodyTrack {
  uint32_t data;   // first data byte in the image
  uint32_t codes;  // 4-bit codes in the block
  uint32_t next;   // index of the next code
  uint8_t channel;
  uint32_t time;
  uint32_t running;  // length gathered for the held note
  int held;          // note waiting for its length, -1 for a rest
  bool ended;
};

struct Instrument {
  uint8_t channel;
  uint8_t program;
  bool modulation;
};

struct PmdRawReader {
  const uint8_t* image = nullptr;
  uint32_t size = 0;
  EventSink sink;
  bool tempoSeen = false;
  int trackCount = 0;
  MelodyTrack track[MAX_SOURCE_TRACKS] = {};
  int instrumentCount = 0;
  Instrument instrument[MAX_INSTRUMENTS] = {};
};

// Set to the thread's record on entry (core/thread_record.h says why).
thread_local constinit PmdRawReader* r = nullptr;

// Code k of a track: the low nibble of the first byte, then high before low of each next byte.
uint8_t codeAt(const MelodyTrack& t, uint32_t k) {
  const uint8_t b = r->image[t.data + (k + 1) / 2];
  return (k & 1) ? uint8_t(b >> 4) : uint8_t(b & 0x0F);
}

uint8_t byteIn(uint32_t data, uint32_t end, uint32_t i) {
  return data + i < end ? r->image[data + i] : 0;
}

void readBlocks() {
  uint32_t pos = 0;
  while (pos < r->size) {
    if (pos + 1 < r->size && r->image[pos] == 'M' && r->image[pos + 1] == 'L') {
      pos += FILE_HEAD_SIZE;
      continue;
    }
    if (pos + BLOCK_HEAD_SIZE > r->size) break;
    const uint8_t type = r->image[pos];
    const uint32_t data = pos + BLOCK_HEAD_SIZE;
    const uint32_t end = std::min<uint32_t>(data + r->image[pos + 1], r->size);
    if ((type & 0xF0) == MELODY_BLOCK && end > data && r->trackCount < MAX_SOURCE_TRACKS) {
      if (!r->tempoSeen) writer.tempoBpm = tempoOfDigit(r->image[data] >> 4, writer.tempoBpm);
      r->tempoSeen = true;
      MelodyTrack& t = r->track[r->trackCount++];
      t = MelodyTrack{data, 1 + 2 * (end - data - 1), 0, type, 0, 0, -1, false};
    } else if ((type & 0xF0) == INSTRUMENT_BLOCK && r->instrumentCount < MAX_INSTRUMENTS) {
      const uint16_t value = uint16_t(byteIn(data, end, 0) | byteIn(data, end, 1) << 8);
      uint8_t program = 0;
      for (const ProgramCode& code : PROGRAM_CODES)
        if (code.value == value) program = code.program;
      const uint8_t next = byteIn(data, end, 2);
      r->instrument[r->instrumentCount++] =
          Instrument{uint8_t(type & 0x0F), program, next >= 9 && next <= 12};
    }
    pos = end;
  }
}

void submitSetup() {
  submitTempo(r->sink, 0, 0, microsOfBpm(writer.tempoBpm));
  for (int i = 0; i < r->instrumentCount && !r->sink.full; ++i) {
    const Instrument& in = r->instrument[i];
    submitProgram(r->sink, 0, 0, in.channel, in.program);
    if (in.modulation) submitControl(r->sink, 0, 0, in.channel, CC_MODULATION, MODULATION_FULL);
  }
}

int noteOf(const MelodyTrack& t, uint8_t pitch, uint8_t octave) {
  if (t.channel == RHYTHM_CHANNEL) return pitch >= 1 && pitch <= 2 ? RHYTHM_NOTES[pitch] : -1;
  const int semitone = semitoneOfPitch(pitch);
  return semitone < 0 ? -1 : semitone + octaveOffset(octave) + NOTE_BASE;
}

// The next event of a track ties when it is a tie (pitch 0, octave 1) that adds a length.
bool nextTies(const MelodyTrack& t) {
  if (t.next + 3 > t.codes) return false;
  const uint8_t length = codeAt(t, t.next);
  return codeAt(t, t.next + 1) == 0 && codeAt(t, t.next + 2) == 1 && length <= LAST_LENGTH_CODE &&
         length != NO_TIE_LENGTH;
}

// One event (three codes) of a track.
void readEvent(int index) {
  MelodyTrack& t = r->track[index];
  if (t.next + 3 > t.codes) {
    t.ended = true;
    return;
  }
  const uint8_t length = codeAt(t, t.next);
  const uint8_t pitch = codeAt(t, t.next + 1);
  const uint8_t octave = codeAt(t, t.next + 2);
  t.next += 3;
  if (length > LAST_LENGTH_CODE) return;
  t.running += lengthOfCode(length);
  if (!(pitch == 0 && octave == 1)) t.held = noteOf(t, pitch, octave);
  if (nextTies(t)) return;
  if (t.held >= 0 &&
      !submitNote(r->sink, t.time, uint8_t(index), uint8_t(ST_TIMED_NOTE | t.channel),
                  fitNote(t.held), PART_VELOCITY, t.running))
    return;
  t.time = t.running > UINT32_MAX - t.time ? UINT32_MAX : t.time + t.running;
  t.running = 0;
  // The note has sounded: a later tie mark that finds nothing to hold is a rest, not a repeat.
  t.held = -1;
}

void readTracks() {
  while (!r->sink.full) {
    int best = -1;
    for (int i = 0; i < r->trackCount; ++i)
      if (!r->track[i].ended && (best < 0 || r->track[i].time < r->track[best].time)) best = i;
    if (best < 0) return;
    readEvent(best);
  }
}

}  // namespace

void readPmdRaw(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
                int32_t* destinationSize, uint32_t capacity) {
  *destinationSize = 0;
  if (!beginReaderStream(destination, capacity, MIN_PART_CAPACITY, TEXT_TIMEBASE)) return;
  r = &threadRecord<PmdRawReader>();
  *r = PmdRawReader{};
  r->image = source;
  r->size = source ? sourceSize : 0;
  r->sink = sinkFor(destination, capacity);
  writer.DRUM_CHANNEL_MASK = uint16_t(1u << RHYTHM_CHANNEL);
  writeTrackChunk(destination);
  readBlocks();
  submitSetup();
  readTracks();
  if (!r->sink.full) {
    uint32_t end = 0;
    for (int i = 0; i < r->trackCount; ++i) end = std::max(end, r->track[i].time);
    writer.now = std::max(writer.now, end);  // a closing rest keeps its length
  }
  endReaderStream(destination, destinationSize);
}

}  // namespace vlm
