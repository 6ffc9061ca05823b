// Codec primitives. Every function is pure apart from `playRange`, which the
// conversion run sets before a run.
#include "core/codec.h"

#include <algorithm>
#include <cstring>

namespace vlm {

thread_local constinit PlayRange playRange{};

namespace {

constexpr uint32_t SMAF_VARLEN_MAX = 16511;
constexpr uint16_t CRC16_POLY = 0x1021;
constexpr uint8_t BACKSLASH = 0x5C;
constexpr uint8_t COMMA = 0x2C;

// Stores one produced byte when it fits; the count goes on either way.
inline void emit(char* destination, uint32_t capacity, uint32_t& produced, char c) {
  if (destination && produced < capacity) destination[produced] = c;
  ++produced;
}

// Zero-terminates a field when there is room left inside the capacity.
inline void terminate(char* destination, uint32_t capacity, uint32_t produced) {
  if (destination && produced < capacity) destination[produced] = 0;
}

constexpr int FM_OPERATOR_BYTES = 5;
constexpr uint8_t FM_OPERATOR_MASK[FM_OPERATOR_BYTES] = {0xF7, 0xCC, 0xCC, 0xE3, 0x07};

// The masked form of a voice record used by the second lookup pass.
void maskFmVoice(const uint8_t* record, int size, uint8_t* out) {
  std::memcpy(out, record, size);
  out[1] = 0;
  for (int i = 2; i < size; ++i) out[i] &= FM_OPERATOR_MASK[(i - 2) % FM_OPERATOR_BYTES];
}

inline int voiceCode(int index) {
  return 1 + (index < 128 ? index : index + 24);
}

inline bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

uint32_t readSmafVarLen(const uint8_t* bytes, uint32_t available, uint32_t* count) {
  uint32_t value = 0xFFFFFFFFu;  // -1: the first byte then gives itself
  uint32_t i = 0;
  while (i < available && i < VARLEN_MAX_BYTES) {
    uint8_t b = bytes[i++];
    value = ((value + 1) << 7) | (b & 0x7F);
    if (!(b & 0x80)) break;
  }
  if (count) *count = i;
  return i == 0 ? 0 : value;
}

int writeSmafVarLen(uint8_t* buffer, uint32_t value) {
  if (value < 128) {
    buffer[0] = uint8_t(value);
    return 1;
  }
  uint32_t n = std::min(value, SMAF_VARLEN_MAX);
  buffer[0] = uint8_t((n >> 7) + 127);
  buffer[1] = uint8_t(n & 0x7F);
  return 2;
}

int compareBytes(const void* a, const void* b, uint32_t n) {
  const int8_t* x = static_cast<const int8_t*>(a);
  const int8_t* y = static_cast<const int8_t*>(b);
  for (uint32_t i = 0; i < n; ++i) {
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

int copyBytes(void* destination, const void* source, int n) {
  char* d = static_cast<char*>(destination);
  const char* s = static_cast<const char*>(source);
  if (n < 0) {  // -1: a zero-terminated string, without its terminator
    int i = 0;
    for (; s[i]; ++i) d[i] = s[i];
    return i;
  }
  if (n > 0) std::memmove(d, s, size_t(n));
  return n;
}

uint32_t scaleCarry(uint32_t a, uint32_t* carry, uint32_t b, uint32_t c) {
  if (b == 0) {  // no timebase to divide by: nothing comes out, nothing is carried
    if (carry) *carry = 0;
    return 0;
  }
  uint64_t t = uint64_t(a) * c + (carry ? *carry : 0);
  if (carry) *carry = uint32_t(t % b);
  return uint32_t(t / b);
}

namespace {
// One step of the CRC for each value of the byte entering it, built once: the bit loop cost
// every SMAF write and read about a tenth of its time.
struct Crc16Table {
  uint16_t step[256];
  constexpr Crc16Table() : step{} {
    for (int b = 0; b < 256; ++b) {
      uint16_t crc = uint16_t(b << 8);
      for (int k = 0; k < 8; ++k)
        crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ CRC16_POLY) : uint16_t(crc << 1);
      step[b] = crc;
    }
  }
};
constexpr Crc16Table CRC16_TABLE;
}  // namespace

uint16_t crc16(const uint8_t* bytes, uint32_t length) {
  uint16_t crc = 0xFFFF;
  for (uint32_t i = 0; i < length; ++i)
    crc = uint16_t((crc << 8) ^ CRC16_TABLE.step[(crc >> 8) ^ bytes[i]]);
  return uint16_t(~crc);
}

uint8_t rolandChecksum(const uint8_t* bytes, uint32_t length) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < length; ++i) sum += bytes[i];
  return uint8_t((128 - (sum % 128)) % 128);
}

FieldResult readCommaField(char* destination, uint32_t capacity, const char* source,
                           uint32_t sourceLength, bool sjis) {
  uint32_t i = 0;
  uint32_t produced = 0;
  while (i < sourceLength) {
    uint8_t c = uint8_t(source[i]);
    if (c == COMMA) break;
    if (sjis && isSjisLead(c)) {
      emit(destination, capacity, produced, char(c));
      ++i;
      if (i < sourceLength) emit(destination, capacity, produced, source[i++]);
      continue;
    }
    if (c == BACKSLASH) {
      ++i;  // dropped unless it escapes a backslash or a comma
      if (i < sourceLength && (uint8_t(source[i]) == BACKSLASH || uint8_t(source[i]) == COMMA))
        emit(destination, capacity, produced, source[i++]);
      continue;
    }
    emit(destination, capacity, produced, char(c));
    ++i;
  }
  terminate(destination, capacity, produced);
  return {i, produced};
}

uint32_t writeCommaField(char* destination, const char* source, uint32_t length) {
  uint32_t o = 0;
  uint32_t i = 0;
  while (i < length) {
    uint8_t c = uint8_t(source[i]);
    if (isSjisLead(c)) {
      destination[o++] = char(c);
      ++i;
      if (i < length) destination[o++] = source[i++];
      continue;
    }
    if (c == BACKSLASH || c == COMMA) destination[o++] = char(BACKSLASH);
    destination[o++] = char(c);
    ++i;
  }
  destination[o++] = char(COMMA);
  return o;
}

FieldResult readQuotedField(char* destination, uint32_t capacity, const char* source,
                            uint32_t sourceLength) {
  uint32_t produced = 0;
  if (sourceLength == 0) {
    terminate(destination, capacity, produced);
    return {0, 0};
  }
  char delimiter = source[0];
  uint32_t i = 1;
  while (i < sourceLength && source[i] != delimiter) {
    uint8_t c = uint8_t(source[i]);
    if (c == BACKSLASH) {
      ++i;  // the next character is literal, whatever it is
      if (i >= sourceLength) break;
      c = uint8_t(source[i]);
    }
    emit(destination, capacity, produced, char(c));
    ++i;
    if (isSjisLead(c) && i < sourceLength) emit(destination, capacity, produced, source[i++]);
  }
  terminate(destination, capacity, produced);
  return {std::min(i, sourceLength), produced};
}

uint16_t noteToFnum(int note, int bendRange, uint16_t bendWord) {
  const int msb = (bendWord >> 8) & 0x7F;
  const int lsb = bendWord & 0x7F;
  const int v = msb * 128 + lsb;
  const int p = v * std::max(bendRange, 0);
  const int s = note - bendRange + p / 8192;
  const int f = p % 8192;
  int block = (s + 12) / 12 - 2;
  block = std::clamp(block, 0, 7);
  const int semitone = ((s % 12) + 12) % 12;
  const int n = (FNUM_TABLE[semitone] * (8192 - f) + FNUM_TABLE[semitone + 1] * f) / 8192;
  const int high = 0x21 + 4 * block + (n >> 8);
  return uint16_t(((high & 0xFF) << 8) | (n & 0xFF));
}

int lookupFmVoice(const uint8_t* record, int kind) {
  const int size = kind == 1 ? 12 : kind == 2 ? 22 : 0;
  if (size == 0 || !record) return 0;
  auto tableRecord = [kind](int i) -> const uint8_t* {
    return kind == 1 ? FM2_VOICES[i] : FM4_VOICES[i];
  };
  for (int i = 0; i < VOICE_RECORDS; ++i) {
    if (std::memcmp(record, tableRecord(i), size) == 0) return voiceCode(i);
    if (kind == 1 && i < VOICE_RECORDS_ALT && std::memcmp(record, FM2_VOICES_ALT[i], size) == 0)
      return voiceCode(i);
  }
  uint8_t candidate[22];
  uint8_t masked[22];
  maskFmVoice(record, size, candidate);
  for (int i = 0; i < VOICE_RECORDS; ++i) {
    maskFmVoice(tableRecord(i), size, masked);
    if (std::memcmp(candidate, masked, size) == 0) return voiceCode(i);
  }
  return 0;
}

int lookupVoiceRecord(const uint8_t* record, int kind, uint32_t available) {
  const uint32_t size = kind == 3 ? 18 : kind == 4 ? 34 : 0;
  // Nothing to compare identifies nothing (a zero-length compare would match record 0).
  if (size == 0 || !record || available == 0) return 0;
  const uint32_t n = std::min(size, available);
  for (int i = 0; i < VOICE_RECORDS; ++i) {
    const uint8_t* r = kind == 3 ? FM2_EXT_VOICES[i] : FM4_EXT_VOICES[i];
    if (std::memcmp(record, r, n) == 0) return voiceCode(i);
  }
  return 0;
}

int parseInt(const char* text, uint32_t length, uint32_t* consumed, int min, int max) {
  uint32_t i = 0;
  bool negative = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  while (i < length && isDigit(text[i])) {
    if (value < 100000000000LL) value = value * 10 + (text[i] - '0');  // saturates, keeps reading
    ++i;
  }
  if (negative) value = -value;
  if (consumed) *consumed = i;
  return int(std::clamp<int64_t>(value, min, max));
}

int parseValue(const char* text, uint32_t length, uint32_t* consumed, int current, int min,
               int max) {
  uint32_t i = 0;
  if (i < length && (text[i] == '+' || text[i] == '-')) {
    const int sign = text[i] == '-' ? -1 : 1;
    ++i;
    int64_t number = 1;  // a lone sign steps by one
    if (i < length && isDigit(text[i])) {
      uint32_t used = 0;
      number = parseInt(text + i, length - i, &used, 0, 0x7FFFFFFF);
      i += used;
    }
    if (consumed) *consumed = i;
    return int(std::clamp<int64_t>(int64_t(current) + sign * number, min, max));
  }
  if (i < length && isDigit(text[i])) {
    uint32_t used = 0;
    int number = parseInt(text, length, &used, min, max);
    if (consumed) *consumed = used;
    return number;
  }
  if (consumed) *consumed = 0;
  return current;
}

uint32_t parseLength(const char* text, uint32_t length, uint32_t* consumed, uint32_t defaultLength,
                     uint32_t timebase) {
  constexpr uint64_t LIMIT = 0x7FFFFFFF;  // keeps a silly expression from wrapping around
  uint64_t len = defaultLength;
  uint64_t tie = 0;
  uint64_t carry = 0;
  const uint64_t whole = uint64_t(timebase) * 4;
  uint32_t i = 0;
  bool ended = false;
  while (i < length && !ended) {
    const char c = text[i];
    const bool comment = c == '/' && i + 1 < length && (text[i + 1] == '/' || text[i + 1] == '*');
    if (c == '.') {
      len = len * 3 / 2;
      ++i;
    } else if (c == '*') {
      uint32_t used = 0;
      ++i;
      len *= uint64_t(parseInt(text + i, length - i, &used, 1, 128));
      i += used;
    } else if (c == '/' && !comment) {
      uint32_t used = 0;
      ++i;
      len /= uint64_t(parseInt(text + i, length - i, &used, 1, 128));
      i += used;
    } else {
      len += tie;
      if (c == '&' || c == '^') {
        tie = len;
        len = defaultLength;
        ++i;
      } else if (isDigit(c)) {
        uint32_t used = 0;
        const uint64_t n = uint64_t(parseInt(text + i, length - i, &used, 1, 32767));
        i += used;
        len = (whole + carry) / n;
        carry = (whole + carry) % n;
      } else {
        ended = true;  // "+", "-" and anything else end the expression where they stand
      }
    }
    len = std::min(len, LIMIT);
    tie = std::min(tie, LIMIT);
  }
  if (!ended) len = std::min(len + tie, LIMIT);  // the end of the text ends it too
  if (consumed) *consumed = i;
  return uint32_t(len);
}

}  // namespace vlm
