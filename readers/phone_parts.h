// What the readers of the simple phone formats (.dat, .als, .cmd, .mel, J-SKY text, PMD without
// header) share: the tempo-digit, length-code and pitch-digit tables, and the writing of one
// VStream chunk per part (melody line), each part starting at time 0 on its own channel.
#pragma once

#include <cstdint>

#include "core/codec.h"
#include "core/reader_events.h"
#include "core/vstream.h"

namespace vlm::phone {

inline constexpr uint16_t TEXT_TIMEBASE = 12;  // 48 ticks make a whole note
inline constexpr int MAX_PARTS = 16;
inline constexpr uint8_t PART_VELOCITY = 127;
// A part is begun only while the write position stays this far below the capacity.
inline constexpr uint32_t PART_ROOM = 15;
// Delta 0, FF 51 03 and three bytes of microseconds per quarter note.
inline constexpr uint32_t TEMPO_EVENT_SIZE = 7;
// Header, one track head, the tempo event and the end of track: the least a song needs.
inline constexpr uint32_t MIN_PART_CAPACITY =
    CHUNK_HEAD_SIZE + VTHD_DATA_LENGTH + CHUNK_HEAD_SIZE + TEMPO_EVENT_SIZE + 8;

// Tempo digits "0".."9" in beats per minute; another character keeps the tempo.
inline constexpr uint16_t TEMPO_DIGIT_BPM[10] = {60, 72, 84, 96, 108, 114, 126, 138, 150, 168};
inline uint32_t tempoOfDigit(int code, uint32_t current) {
  return code >= 0 && code <= 9 ? TEMPO_DIGIT_BPM[code] : current;
}
inline uint32_t tempoOfDigitChar(uint8_t c, uint32_t current) {
  return tempoOfDigit(c >= '0' && c <= '9' ? c - '0' : -1, current);
}

// Length codes 0..10 in ticks of TEXT_TIMEBASE; any other code is a quarter note.
inline constexpr uint8_t LENGTH_CODE_TICKS[11] = {48, 3, 6, 9, 12, 18, 24, 36, 4, 8, 2};
inline constexpr uint32_t DEFAULT_LENGTH = 12;
inline uint32_t lengthOfCode(int code) {
  return code >= 0 && code <= 10 ? LENGTH_CODE_TICKS[code] : DEFAULT_LENGTH;
}
// In the text formats the codes are the characters "0".."9" and "A".
inline uint32_t lengthOfChar(uint8_t c) {
  if (c >= '0' && c <= '9') return lengthOfCode(c - '0');
  return lengthOfCode(c == 'A' ? 10 : -1);
}

// Pitch digits 1..7 are C D E F G A B; -1 for anything else.
inline constexpr uint8_t PITCH_SEMITONES[7] = {0, 2, 4, 5, 7, 9, 11};
inline int semitoneOfPitch(int pitch) {
  return pitch >= 1 && pitch <= 7 ? PITCH_SEMITONES[pitch - 1] : -1;
}
// An octave value v gives octave (v + 1) / 2, and a sharp when v is even.
inline int octaveOffset(int v) {
  return 12 * ((v + 1) / 2) + (v % 2 == 0 ? 1 : 0);
}

// Formats whose pitch arithmetic can leave the MIDI range are folded back by octaves.
inline uint8_t fitNote(int note) {
  while (note > 127) note -= 12;
  while (note < 0) note += 12;
  return uint8_t(note);
}

// One song written part by part. The readers keep one of these in their own record.
struct PartStream {
  EventSink sink;
  int parts = 0;           // parts begun
  int part = -1;           // the part being written, -1 between parts
  uint32_t time = 0;       // time of the current part
  uint32_t tempoBody = 0;  // position of the tempo bytes of the first part
};

// Starts the stream; false (and nothing written) when the buffer cannot hold even an empty song.
inline bool beginSong(PartStream& s, uint8_t* out, uint32_t capacity, uint16_t timebase) {
  s = PartStream{};
  s.sink = sinkFor(out, capacity);
  if (!beginReaderStream(out, capacity, MIN_PART_CAPACITY, timebase)) return false;
  writer.DRUM_CHANNEL_MASK = 0;
  return true;
}

// Begins the next part: its chunk head and, in the first part, the tempo event. False when the
// song has all its parts or the buffer has no room for another.
inline bool beginPart(PartStream& s) {
  if (s.sink.full || s.parts >= MAX_PARTS) return false;
  const uint32_t tempo = s.parts == 0 ? TEMPO_EVENT_SIZE : 0;
  // The chunk head and the end of track must fit as well as the tempo event.
  if (uint64_t(writer.pos) + CHUNK_HEAD_SIZE + tempo + 8 > s.sink.capacity ||
      writer.pos > s.sink.capacity - PART_ROOM)
    return false;
  s.part = s.parts++;
  s.time = 0;
  writer.outTrack = uint8_t(s.part);
  writer.now = 0;
  writeTrackChunk(s.sink.out);
  if (s.part == 0) {
    uint8_t* p = s.sink.out + writer.pos;
    p[0] = 0;  // delta
    p[1] = ST_META;
    p[2] = META_TEMPO;
    p[3] = 3;
    s.tempoBody = writer.pos + 4;
    putTempoMicros(p + 4, microsOfBpm(writer.tempoBpm));
    writer.pos += TEMPO_EVENT_SIZE;
    songStats.tempoMin = songStats.tempoMax = writer.tempoBpm;
  }
  return true;
}

// A tempo of the first part. Before the part's time has moved it replaces the tempo written at
// the start; later it becomes a tempo event at its own time. Other parts' tempos are ignored.
inline bool setPartTempo(PartStream& s, uint32_t bpm) {
  if (s.part != 0 || bpm == 0) return true;
  writer.tempoBpm = bpm;
  if (s.time == 0) {
    putTempoMicros(s.sink.out + s.tempoBody, microsOfBpm(bpm));
    songStats.tempoMin = songStats.tempoMax = bpm;
    return true;
  }
  return submitTempo(s.sink, s.time, uint8_t(s.part), microsOfBpm(bpm));
}

inline bool controlPart(PartStream& s, uint8_t controller, uint8_t value) {
  return submitControl(s.sink, s.time, uint8_t(s.part), s.part & 0x0F, controller, value);
}

inline void restPart(PartStream& s, uint32_t length) {
  s.time = length > UINT32_MAX - s.time ? UINT32_MAX : s.time + length;
}

// A note of the part's channel with the given length; the part's time moves on by it.
inline bool notePart(PartStream& s, int note, uint32_t length) {
  if (length == 0) return !s.sink.full;
  if (!submitNote(s.sink, s.time, uint8_t(s.part), uint8_t(ST_TIMED_NOTE | (s.part & 0x0F)),
                  fitNote(note), PART_VELOCITY, length))
    return false;
  restPart(s, length);
  return true;
}

// Closes the part; its end of track stands at the part's time, after a closing rest too.
inline void endPart(PartStream& s) {
  if (s.part < 0) return;
  if (!s.sink.full && s.time > writer.now) writer.now = s.time;
  finishStream(s.sink.out);
  s.part = -1;
}

// Ends the song and reports its size. A song without parts gets one empty chunk.
inline void endSong(PartStream& s, int32_t* destinationSize) {
  if (s.part >= 0) endPart(s);
  songStats.maxPolyphony = uint8_t(s.parts);
  endChunkedReaderStream(s.sink.out, destinationSize, s.parts > 0);
}

// A reader's whole song: the stream at `timebase`, the parts that `readParts` reads into `s`.
inline void readPartSong(PartStream& s, uint8_t* destination, int32_t* destinationSize,
                         uint32_t capacity, uint16_t timebase, void (*readParts)()) {
  *destinationSize = 0;
  if (!beginSong(s, destination, capacity, timebase)) return;
  readParts();
  endSong(s, destinationSize);
}

}  // namespace vlm::phone
