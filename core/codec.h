// Small pure functions shared by the stream writer, the readers and the writers: integer and
// length codes of the melody formats, bit sets, checksums, Shift-JIS-aware text fields, the
// number syntax of the MML text, the play-range overlap, frequency numbers and voice lookups.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vlm {

// Frequency number of each semitone of an octave; entry 12 is the next octave's first semitone.
inline constexpr uint16_t FNUM_TABLE[13] = {87,  109, 131, 154, 178, 204, 231,
                                            260, 291, 324, 358, 395, 433};

// The primitives below run for every event of every stage, so they are inline.
inline bool testBit(const uint8_t* bytes, uint32_t n) {
  return (bytes[n >> 3] >> (n & 7)) & 1;
}

inline void setBit(uint8_t* bytes, uint32_t n, bool on) {
  uint8_t bit = uint8_t(1u << (n & 7));
  if (on)
    bytes[n >> 3] |= bit;
  else
    bytes[n >> 3] &= uint8_t(~bit);
}

// MIDI variable-length quantity. `available` bounds the read; `count` receives the bytes used
// (a quantity that runs past `available` or past 5 bytes stops there).
inline constexpr uint32_t VARLEN_MAX_BYTES = 5;  // 35 bits hold any 32-bit value

inline uint32_t readVarLen(const uint8_t* bytes, uint32_t available, uint32_t* count) {
  if (available >= 4) {
    // A quantity of at most four bytes, without a branch on each byte: the first byte whose top
    // bit is clear ends it, and the 7-bit groups of the bytes before are packed together.
    const uint32_t w = uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 |
                       uint32_t(bytes[2]) << 8 | uint32_t(bytes[3]);
    const uint32_t ends = ~w & 0x80808080u;
    if (ends) {
      const uint32_t n = uint32_t(__builtin_clz(ends)) / 8 + 1;
      const uint32_t x = w >> (32 - 8 * n);
      if (count) *count = n;
      return (x & 0x7F) | (x >> 1 & 0x3F80) | (x >> 2 & 0x1FC000) | (x >> 3 & 0xFE00000);
    }
  }
  uint32_t value = 0;
  uint32_t i = 0;
  while (i < available && i < VARLEN_MAX_BYTES) {
    uint8_t b = bytes[i++];
    value = (value << 7) | (b & 0x7F);
    if (!(b & 0x80)) break;
  }
  if (count) *count = i;
  return value;
}

inline int varLenSize(uint32_t value) {
  if (value < 0x80) return 1;  // most deltas
  int n = 2;
  while (n < int(VARLEN_MAX_BYTES) && (value >> (7 * n)) != 0) ++n;
  return n;
}

// 1..5 bytes, shortest form.
inline int writeVarLen(uint8_t* buffer, uint32_t value) {
  if (value < 0x80) {  // most deltas
    buffer[0] = uint8_t(value);
    return 1;
  }
  int n = varLenSize(value);
  for (int i = 0; i < n; ++i) {
    uint8_t group = uint8_t((value >> (7 * (n - 1 - i))) & 0x7F);
    buffer[i] = i < n - 1 ? uint8_t(group | 0x80) : group;
  }
  return n;
}

uint32_t readSmafVarLen(const uint8_t* bytes, uint32_t available, uint32_t* count);
int writeSmafVarLen(uint8_t* buffer, uint32_t value);  // 1 or 2 bytes, capped at 16511

// Copies n bytes of distinct buffers; the few bytes of a channel event without a library call.
inline void copyEventBytes(uint8_t* dst, const uint8_t* src, uint32_t n) {
  switch (n) {
    case 4:
      dst[3] = src[3];
      [[fallthrough]];
    case 3:
      dst[2] = src[2];
      [[fallthrough]];
    case 2:
      dst[1] = src[1];
      [[fallthrough]];
    case 1:
      dst[0] = src[0];
      [[fallthrough]];
    case 0:
      break;
    default:
      std::memcpy(dst, src, n);
  }
}

inline uint32_t getBE(const uint8_t* bytes, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | bytes[i];
  return v;
}

inline uint32_t getLE(const uint8_t* bytes, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v |= uint32_t(bytes[i]) << (8 * i);
  return v;
}

inline int putBE(uint8_t* buffer, uint32_t value, int n) {
  for (int i = 0; i < n; ++i) buffer[i] = uint8_t(value >> (8 * (n - 1 - i)));
  return n;
}

inline int putLE(uint8_t* buffer, uint32_t value, int n) {
  for (int i = 0; i < n; ++i) buffer[i] = uint8_t(value >> (8 * i));
  return n;
}

inline constexpr uint32_t MICROSECONDS_PER_MINUTE = 60000000;

// Beats per minute of a Set Tempo value (microseconds per quarter note, above 0), to the nearest
// whole beat: 666,667 microseconds is 90, where the plain quotient says 89 and the song would
// play 1 % slow.
inline uint32_t tempoBpm(uint32_t usecPerQuarter) {
  return (MICROSECONDS_PER_MINUTE + usecPerQuarter / 2) / usecPerQuarter;
}
int compareBytes(const void* a, const void* b, uint32_t n);   // bytes as signed 8-bit values
int copyBytes(void* destination, const void* source, int n);  // n = -1: a C string

uint32_t scaleCarry(uint32_t a, uint32_t* carry, uint32_t b, uint32_t c);

uint16_t crc16(const uint8_t* bytes, uint32_t length);  // CRC-16/GENIBUS
uint8_t rolandChecksum(const uint8_t* bytes, uint32_t length);

inline bool isSjisLead(uint8_t c) {
  return (c >= 0x80 && c <= 0x9F) || c >= 0xE0;
}

// The field readers store at most `capacity` bytes and add a terminating zero when there is
// room for it inside the capacity. readCommaField's `consumed` stops at the ending comma (the
// caller steps over it); readQuotedField's is the index of the closing delimiter, or the source
// length when there is none. A Shift-JIS lead byte that is the last source byte stands alone.
struct FieldResult {
  uint32_t consumed;  // source bytes used (for readQuotedField: index of the closing delimiter)
  uint32_t produced;  // bytes the field holds (also those beyond the capacity)
};
// `sjis` false: the text is in another code, whose bytes above 0x7F never pair with a comma.
FieldResult readCommaField(char* destination, uint32_t capacity, const char* source,
                           uint32_t sourceLength, bool sjis = true);
// `destination` needs room for 2 x length + 1 bytes (every byte escaped, then the comma).
uint32_t writeCommaField(char* destination, const char* source, uint32_t length);
FieldResult readQuotedField(char* destination, uint32_t capacity, const char* source,
                            uint32_t sourceLength);

// Play range in sixteenth notes that rangeOverlap measures against; set by the conversion run.
struct PlayRange {
  uint32_t startSixteenths = 0;
  uint32_t endSixteenths = 0;  // 0 = unbounded
  uint32_t timebase = 48;
};
extern thread_local constinit PlayRange playRange;
// Ticks of [a, b) inside the play range; inline, as every note start and end asks it.
inline uint32_t rangeOverlap(uint32_t a, uint32_t b) {
  // No range set (the common case): the whole span, as the general sum below gives it.
  if (playRange.startSixteenths == 0 && playRange.endSixteenths == 0) return b > a ? b - a : 0;
  const int64_t tb = playRange.timebase;
  const int64_t start = int64_t(playRange.startSixteenths) * tb / 4;
  const int64_t end =
      playRange.endSixteenths == 0 ? INT64_MAX : int64_t(playRange.endSixteenths) * tb / 4;
  const int64_t x = a;
  const int64_t y = b;
  int64_t r;
  if (start < end) {
    if (y < start || x > end)
      r = 0;
    else
      r = std::min(y, end) - std::max(x, start);
  } else if (x >= start || y <= end) {
    r = y - x;
  } else {
    r = (x < end ? end - x : 0) + (y > start ? y - start : 0);
  }
  return r > 0 ? uint32_t(r) : 0;
}

uint16_t noteToFnum(int note, int bendRange, uint16_t bendWord);

// Voice lookups: 1..128 for programs 0..127, 153..213 for rhythm sounds; 0 when none matches.
int lookupFmVoice(const uint8_t* record, int kind);
int lookupVoiceRecord(const uint8_t* record, int kind, uint32_t available);

inline constexpr int VOICE_RECORDS = 189;
inline constexpr int VOICE_RECORDS_ALT = 128;
extern const uint8_t FM2_VOICES[VOICE_RECORDS][12];
extern const uint8_t FM2_VOICES_ALT[VOICE_RECORDS_ALT][12];
extern const uint8_t FM4_VOICES[VOICE_RECORDS][22];
extern const uint8_t FM2_EXT_VOICES[VOICE_RECORDS][18];
extern const uint8_t FM4_EXT_VOICES[VOICE_RECORDS][34];

// `length` bounds every read: text past it reads as if it ended there.
int parseInt(const char* text, uint32_t length, uint32_t* consumed, int min, int max);
int parseValue(const char* text, uint32_t length, uint32_t* consumed, int current, int min,
               int max);
uint32_t parseLength(const char* text, uint32_t length, uint32_t* consumed, uint32_t defaultLength,
                     uint32_t timebase);

// Bounds-checked view over an input image: reads past the end yield 0 and set `overrun`.
struct ByteReader {
  const uint8_t* data;
  uint32_t size;
  uint32_t pos = 0;
  bool overrun = false;

  ByteReader(const uint8_t* d, uint32_t s) : data(d), size(s) {}
  uint32_t remaining() const { return pos < size ? size - pos : 0; }
  bool atEnd() const { return pos >= size; }
  bool has(uint32_t n) const { return n <= remaining(); }
  uint8_t u8() {
    if (pos >= size) {
      overrun = true;
      return 0;
    }
    return data[pos++];
  }
  uint8_t peek(uint32_t ahead = 0) const {
    return pos + ahead < size && pos + ahead >= pos ? data[pos + ahead] : 0;
  }
  uint32_t be(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | u8();
    return v;
  }
  uint32_t le(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v |= uint32_t(u8()) << (8 * i);
    return v;
  }
  uint32_t varLen() {
    uint32_t count = 0;
    uint32_t v = readVarLen(data + (pos < size ? pos : size), remaining(), &count);
    if (count == 0 || (data[pos + count - 1] & 0x80)) overrun = true;
    pos += count;
    return v;
  }
  // Skips n bytes; running past the end stops at the end.
  void skip(uint32_t n) {
    if (n > remaining()) {
      overrun = true;
      pos = size;
    } else {
      pos += n;
    }
  }
  const uint8_t* here() const { return data + (pos < size ? pos : size); }
};

}  // namespace vlm
