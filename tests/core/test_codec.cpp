// Codec primitives and the voice tables.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/codec.h"

namespace vlm {
namespace {

std::vector<uint8_t> varLen(uint32_t v) {
  uint8_t b[8] = {};
  int n = writeVarLen(b, v);
  EXPECT_EQ(n, varLenSize(v));
  return std::vector<uint8_t>(b, b + n);
}

TEST(Codec, Bits) {
  uint8_t bytes[3] = {};
  setBit(bytes, 0, true);
  setBit(bytes, 9, true);
  setBit(bytes, 23, true);
  EXPECT_EQ(bytes[0], 0x01);
  EXPECT_EQ(bytes[1], 0x02);
  EXPECT_EQ(bytes[2], 0x80);
  EXPECT_TRUE(testBit(bytes, 9));
  EXPECT_FALSE(testBit(bytes, 8));
  setBit(bytes, 9, false);
  EXPECT_FALSE(testBit(bytes, 9));
  EXPECT_TRUE(testBit(bytes, 23));
}

TEST(Codec, WriteVarLenForms) {
  EXPECT_EQ(varLen(0), (std::vector<uint8_t>{0x00}));
  EXPECT_EQ(varLen(0x7F), (std::vector<uint8_t>{0x7F}));
  EXPECT_EQ(varLen(0x80), (std::vector<uint8_t>{0x81, 0x00}));
  EXPECT_EQ(varLen(0x3FFF), (std::vector<uint8_t>{0xFF, 0x7F}));
  EXPECT_EQ(varLen(0x4000), (std::vector<uint8_t>{0x81, 0x80, 0x00}));
  EXPECT_EQ(varLen(0x0FFFFFFF), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0x7F}));
  EXPECT_EQ(varLen(0x10000000), (std::vector<uint8_t>{0x81, 0x80, 0x80, 0x80, 0x00}));
  EXPECT_EQ(varLen(0xFFFFFFFF), (std::vector<uint8_t>{0x8F, 0xFF, 0xFF, 0xFF, 0x7F}));
}

TEST(Codec, ReadVarLenRoundTrip) {
  for (uint32_t v : {0u, 1u, 0x7Fu, 0x80u, 0x2000u, 0x3FFFu, 0x4000u, 0x1FFFFFu, 0x200000u,
                     0x0FFFFFFFu, 0x10000000u, 0xFFFFFFFFu}) {
    std::vector<uint8_t> b = varLen(v);
    uint32_t count = 0;
    EXPECT_EQ(readVarLen(b.data(), uint32_t(b.size()), &count), v);
    EXPECT_EQ(count, b.size());
  }
}

// Every quantity of byte patterns that matter (ends, continuations, the 7-bit extremes) and
// every bound gives the value and length of a byte-by-byte read.
TEST(Codec, ReadVarLenGivesWhatAByteByByteReadGives) {
  auto reference = [](const uint8_t* b, uint32_t available, uint32_t* count) {
    uint32_t value = 0, i = 0;
    while (i < available && i < 5) {
      const uint8_t x = b[i++];
      value = value << 7 | (x & 0x7F);
      if (!(x & 0x80)) break;
    }
    *count = i;
    return value;
  };
  const uint8_t kinds[] = {0x00, 0x01, 0x40, 0x7F, 0x80, 0x81, 0xC0, 0xFF};
  uint8_t b[6];
  for (uint32_t pattern = 0; pattern < 8 * 8 * 8 * 8 * 8 * 8; ++pattern) {
    for (int k = 0, p = int(pattern); k < 6; ++k, p /= 8) b[k] = kinds[p % 8];
    for (uint32_t available = 0; available <= 6; ++available) {
      uint32_t want = 0, got = 0;
      ASSERT_EQ(readVarLen(b, available, &got), reference(b, available, &want))
          << pattern << " " << available;
      ASSERT_EQ(got, want) << pattern << " " << available;
    }
  }
}

TEST(Codec, ReadVarLenBounded) {
  const uint8_t open[] = {0x81, 0x82, 0x83};
  uint32_t count = 99;
  uint32_t v = readVarLen(open, 3, &count);
  EXPECT_EQ(count, 3u);  // stops at `available`, last byte still has bit 7
  EXPECT_EQ(v, (1u << 14) | (2u << 7) | 3u);
  EXPECT_EQ(readVarLen(open, 0, &count), 0u);
  EXPECT_EQ(count, 0u);
  const uint8_t longer[] = {0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x01};
  readVarLen(longer, sizeof longer, &count);
  EXPECT_EQ(count, 5u);  // never more than 5 bytes

  ByteReader r(open, 3);
  r.varLen();
  EXPECT_TRUE(r.overrun);
  EXPECT_TRUE(r.atEnd());
  const uint8_t good[] = {0x81, 0x00, 0x05};
  ByteReader g(good, 3);
  EXPECT_EQ(g.varLen(), 128u);
  EXPECT_FALSE(g.overrun);
  EXPECT_EQ(g.u8(), 5);
}

TEST(Codec, SmafVarLen) {
  const uint8_t one[] = {0x45};
  const uint8_t two[] = {0x80, 0x00};
  const uint8_t max[] = {0xFF, 0x7F};
  uint32_t count = 0;
  EXPECT_EQ(readSmafVarLen(one, 1, &count), 0x45u);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(readSmafVarLen(two, 2, &count), 128u);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(readSmafVarLen(max, 2, &count), 16511u);
  EXPECT_EQ(readSmafVarLen(two, 1, &count), 0u);  // cut short after the first byte
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(readSmafVarLen(two, 0, &count), 0u);
  EXPECT_EQ(count, 0u);

  uint8_t b[2] = {};
  EXPECT_EQ(writeSmafVarLen(b, 127), 1);
  EXPECT_EQ(b[0], 127);
  EXPECT_EQ(writeSmafVarLen(b, 128), 2);
  EXPECT_EQ(b[0], 0x80);
  EXPECT_EQ(b[1], 0x00);
  EXPECT_EQ(writeSmafVarLen(b, 20000), 2);
  EXPECT_EQ(b[0], 0xFF);
  EXPECT_EQ(b[1], 0x7F);
  for (uint32_t v = 0; v <= 16511; v += 7) {
    int n = writeSmafVarLen(b, v);
    EXPECT_EQ(readSmafVarLen(b, uint32_t(n), &count), v);
  }
}

TEST(Codec, ByteOrder) {
  const uint8_t b[] = {0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(getBE(b, 1), 0x12u);
  EXPECT_EQ(getBE(b, 2), 0x1234u);
  EXPECT_EQ(getBE(b, 3), 0x123456u);
  EXPECT_EQ(getBE(b, 4), 0x12345678u);
  EXPECT_EQ(getLE(b, 2), 0x3412u);
  EXPECT_EQ(getLE(b, 4), 0x78563412u);
  uint8_t o[4] = {};
  EXPECT_EQ(putBE(o, 0xAABBCCDD, 3), 3);
  EXPECT_EQ(o[0], 0xBB);
  EXPECT_EQ(o[2], 0xDD);
  EXPECT_EQ(putLE(o, 0xAABBCCDD, 4), 4);
  EXPECT_EQ(o[0], 0xDD);
  EXPECT_EQ(o[3], 0xAA);
}

TEST(Codec, CompareAndCopy) {
  const uint8_t a[] = {1, 2, 0x80};
  const uint8_t b[] = {1, 2, 0x01};
  EXPECT_EQ(compareBytes(a, b, 2), 0);
  EXPECT_EQ(compareBytes(a, b, 3), -1);  // 0x80 is -128 as a signed byte
  EXPECT_EQ(compareBytes(b, a, 3), 1);
  EXPECT_EQ(compareBytes(a, b, 0), 0);
  char d[8] = {};
  EXPECT_EQ(copyBytes(d, "abcdef", -1), 6);
  EXPECT_STREQ(d, "abcdef");
  EXPECT_EQ(copyBytes(d, "XY", 2), 2);
  EXPECT_STREQ(d, "XYcdef");
  EXPECT_EQ(copyBytes(d, "", 0), 0);
}

TEST(Codec, ScaleCarryKeepsNoRoundingError) {
  // 480 ticks to 48: ten steps of 1 tick are exactly one tick out, not zero.
  uint32_t carry = 0;
  uint32_t sum = 0;
  for (int i = 0; i < 10; ++i) sum += scaleCarry(1, &carry, 480, 48);
  EXPECT_EQ(sum, 1u);
  EXPECT_EQ(carry, 0u);
  carry = 0;
  EXPECT_EQ(scaleCarry(7, &carry, 3, 1), 2u);
  EXPECT_EQ(carry, 1u);
  EXPECT_EQ(scaleCarry(2, &carry, 3, 1), 1u);
  EXPECT_EQ(carry, 0u);
  carry = 0;
  EXPECT_EQ(scaleCarry(0xFFFFFFFF, &carry, 0xFFFFFFFF, 2), 2u);  // no 32-bit overflow
}

TEST(Codec, Checksums) {
  const char* digits = "123456789";
  EXPECT_EQ(crc16(reinterpret_cast<const uint8_t*>(digits), 9), 0xD64E);
  EXPECT_EQ(crc16(nullptr, 0), 0x0000);
  const uint8_t roland[] = {0x40, 0x10, 0x15, 0x00};
  EXPECT_EQ(rolandChecksum(roland, 4), 0x1B);
  const uint8_t sum128[] = {0x40, 0x40};
  EXPECT_EQ(rolandChecksum(sum128, 2), 0);
  EXPECT_EQ(rolandChecksum(nullptr, 0), 0);
}

TEST(Codec, CommaFieldEscapes) {
  const char src[] = "a\\,b,c";
  char out[16];
  FieldResult r = readCommaField(out, sizeof out, src, 6);
  EXPECT_EQ(r.consumed, 4u);
  EXPECT_EQ(r.produced, 3u);
  EXPECT_EQ(std::string(out, r.produced), "a,b");

  const char more[] = "x\\\\y\\qz";  // x \\ y \q z
  r = readCommaField(out, sizeof out, more, 7);
  EXPECT_EQ(std::string(out, r.produced), "x\\yqz");
  EXPECT_EQ(r.consumed, 7u);

  r = readCommaField(nullptr, 0, src, 6);  // counting only
  EXPECT_EQ(r.produced, 3u);

  const char tail[] = "ab\\";  // a backslash at the very end is dropped
  r = readCommaField(out, sizeof out, tail, 3);
  EXPECT_EQ(r.consumed, 3u);
  EXPECT_EQ(std::string(out, r.produced), "ab");
}

TEST(Codec, CommaFieldCapacity) {
  char out[4];
  std::memset(out, '#', sizeof out);
  FieldResult r = readCommaField(out, 2, "abcdef", 6);
  EXPECT_EQ(r.produced, 6u);
  EXPECT_EQ(r.consumed, 6u);
  EXPECT_EQ(out[0], 'a');
  EXPECT_EQ(out[1], 'b');
  EXPECT_EQ(out[2], '#');  // nothing stored beyond the capacity
}

TEST(Codec, CommaFieldShiftJis) {
  // 0x95 0x5C is one Shift-JIS character whose second byte is a backslash; 0x82 0x2C keeps
  // its follower even though it is a comma.
  const char src[] = {'\x95', '\x5C', '\x82', '\x2C', 'z', ',', 'q'};
  char out[16];
  FieldResult r = readCommaField(out, sizeof out, src, sizeof src);
  EXPECT_EQ(r.consumed, 5u);
  ASSERT_EQ(r.produced, 5u);
  EXPECT_EQ(0, std::memcmp(out, src, 5));

  // A lead byte as the last byte: copied alone, nothing read past the source.
  std::vector<char> heap = {'a', '\x88'};
  r = readCommaField(out, sizeof out, heap.data(), uint32_t(heap.size()));
  EXPECT_EQ(r.consumed, 2u);
  EXPECT_EQ(r.produced, 2u);
  EXPECT_EQ(out[1], '\x88');
}

TEST(Codec, WriteCommaFieldIsTheInverse) {
  const char text[] = {'a', ',', 'b', '\\', '\x95', '\x5C', 'c'};
  char out[32];
  uint32_t n = writeCommaField(out, text, sizeof text);
  const char expect[] = {'a', '\\', ',', 'b', '\\', '\\', '\x95', '\x5C', 'c', ','};
  ASSERT_EQ(n, sizeof expect);
  EXPECT_EQ(0, std::memcmp(out, expect, n));
  char back[32];
  FieldResult r = readCommaField(back, sizeof back, out, n);
  EXPECT_EQ(r.consumed, n - 1);
  ASSERT_EQ(r.produced, sizeof text);
  EXPECT_EQ(0, std::memcmp(back, text, sizeof text));
  const char lead[] = {'\xE0'};
  EXPECT_EQ(writeCommaField(out, lead, 1), 2u);  // a lone lead byte at the end
}

TEST(Codec, QuotedField) {
  char out[32];
  const char src[] = "'it\\'s'rest";
  FieldResult r = readQuotedField(out, sizeof out, src, uint32_t(std::strlen(src)));
  EXPECT_EQ(r.consumed, 6u);  // the closing quote
  EXPECT_EQ(std::string(out, r.produced), "it's");

  const char sjis[] = {'"', '\x83', '"', 'x', '"', 'y'};  // 0x83 0x22 is one character
  r = readQuotedField(out, sizeof out, sjis, sizeof sjis);
  EXPECT_EQ(r.consumed, 4u);
  ASSERT_EQ(r.produced, 3u);
  EXPECT_EQ(out[0], '\x83');
  EXPECT_EQ(out[1], '"');
  EXPECT_EQ(out[2], 'x');

  const char open[] = {'"', 'a', '\x83'};  // unterminated, lead byte last
  r = readQuotedField(out, sizeof out, open, sizeof open);
  EXPECT_EQ(r.consumed, 3u);
  EXPECT_EQ(r.produced, 2u);
  r = readQuotedField(out, sizeof out, "", 0);
  EXPECT_EQ(r.consumed, 0u);
  EXPECT_EQ(r.produced, 0u);
}

class RangeOverlap : public ::testing::Test {
 protected:
  void TearDown() override { playRange = PlayRange{}; }
};

TEST_F(RangeOverlap, Unbounded) {
  playRange = PlayRange{0, 0, 48};
  EXPECT_EQ(rangeOverlap(10, 100), 90u);
  EXPECT_EQ(rangeOverlap(0, 0xFFFFFFFFu), 0xFFFFFFFFu);
  EXPECT_EQ(rangeOverlap(0xFFFFFFFFu, 0), 0u);  // a span whose end wrapped past the last tick
  EXPECT_EQ(rangeOverlap(100, 10), 0u);
  EXPECT_EQ(rangeOverlap(7, 7), 0u);
  playRange = PlayRange{4, 0, 48};  // from tick 48 on
  EXPECT_EQ(rangeOverlap(0, 40), 0u);
  EXPECT_EQ(rangeOverlap(40, 100), 52u);
}

TEST_F(RangeOverlap, Normal) {
  playRange = PlayRange{4, 8, 48};  // ticks [48, 96)
  EXPECT_EQ(rangeOverlap(0, 40), 0u);
  EXPECT_EQ(rangeOverlap(0, 60), 12u);
  EXPECT_EQ(rangeOverlap(50, 60), 10u);
  EXPECT_EQ(rangeOverlap(90, 200), 6u);
  EXPECT_EQ(rangeOverlap(100, 200), 0u);
  EXPECT_EQ(rangeOverlap(0, 200), 48u);
}

TEST_F(RangeOverlap, Wrapped) {
  playRange = PlayRange{8, 4, 48};         // start 96, end 48: plays [96, ...) and [0, 48)
  EXPECT_EQ(rangeOverlap(100, 120), 20u);  // a >= start
  EXPECT_EQ(rangeOverlap(10, 40), 30u);    // b <= end
  EXPECT_EQ(rangeOverlap(40, 100), 8u + 4u);
  EXPECT_EQ(rangeOverlap(50, 90), 0u);
  EXPECT_EQ(rangeOverlap(50, 110), 14u);
}

TEST(Codec, NoteToFnum) {
  EXPECT_EQ(noteToFnum(69, 2, 0x4000), 0x3244);
  // No bend: two semitones down for R = 2.
  uint16_t low = noteToFnum(69, 2, 0x0000);
  EXPECT_EQ(low & 0xFF, 260 & 0xFF);  // semitone 7
  EXPECT_EQ(low >> 8, 0x21 + 4 * 4 + 1);
  // Half way between two semitones.
  uint16_t mid = noteToFnum(60, 1, 0x4040);  // v = 8256, p = 8256: f = 64
  int n = (87 * (8192 - 64) + 109 * 64) / 8192;
  EXPECT_EQ(mid, uint16_t(((0x21 + 4 * 4) << 8) | n));
  EXPECT_EQ(noteToFnum(0, 2, 0x4000) >> 8, 0x21);                         // block clamped to 0
  EXPECT_EQ(noteToFnum(127, 2, 0x4000) >> 8, 0x21 + 4 * 7 + (260 >> 8));  // block 7
  EXPECT_EQ(noteToFnum(0, 12, 0) & 0xFF, 87);  // negative semitone stays in the table
}

TEST(Codec, LookupFirstAndRhythmRecords) {
  EXPECT_EQ(lookupFmVoice(FM2_VOICES[0], 1), 1);
  EXPECT_EQ(lookupFmVoice(FM4_VOICES[0], 2), 1);
  EXPECT_EQ(lookupFmVoice(FM2_VOICES[40], 1), 41);
  EXPECT_EQ(lookupFmVoice(FM2_VOICES[128], 1), 153);  // rhythm note 24
  EXPECT_EQ(lookupFmVoice(FM4_VOICES[188], 2), 213);  // rhythm note 84
  EXPECT_EQ(lookupFmVoice(FM2_VOICES_ALT[17], 1), 18);
  EXPECT_EQ(lookupFmVoice(FM2_VOICES[0], 3), 0);
  EXPECT_EQ(lookupVoiceRecord(FM2_EXT_VOICES[0], 3, 18), 1);
  EXPECT_EQ(lookupVoiceRecord(FM2_EXT_VOICES[130], 3, 18), 155);
  EXPECT_EQ(lookupVoiceRecord(FM4_EXT_VOICES[0], 4, 34), 1);
  EXPECT_EQ(lookupVoiceRecord(FM4_EXT_VOICES[150], 4, 200), 175);
  EXPECT_EQ(lookupVoiceRecord(FM4_EXT_VOICES[77], 4, 5), 78);  // a prefix still identifies
  EXPECT_EQ(lookupVoiceRecord(FM4_EXT_VOICES[77], 4, 0), 0);
  uint8_t other[34] = {};
  EXPECT_EQ(lookupVoiceRecord(other, 4, 34), 0);
  EXPECT_EQ(lookupFmVoice(other, 2), 0);
}

TEST(Codec, LookupMaskedMatch) {
  // Bits the mask drops (byte 1, and bit 3 of each operator's first byte, ...) do not matter.
  uint8_t v[12];
  std::memcpy(v, FM2_VOICES[5], 12);
  v[1] ^= 0x3F;
  v[2] ^= 0x08;
  v[3] ^= 0x33;
  v[6] ^= 0xF8;
  v[11] ^= 0x10;
  EXPECT_EQ(lookupFmVoice(v, 1), 6);
  uint8_t w[22];
  std::memcpy(w, FM4_VOICES[140], 22);
  w[1] ^= 0xFF;
  w[20] ^= 0x1C;
  EXPECT_EQ(lookupFmVoice(w, 2), 165);  // record 140: rhythm note 36
  v[0] ^= 0x01;                         // byte 0 always counts
  EXPECT_EQ(lookupFmVoice(v, 1), 0);
}

TEST(Codec, FirstRecordOfEachVoiceTable) {
  const uint8_t fm2[12] = {0x60, 0x01, 0x14, 0x52, 0xF4, 0x3A, 0xA0, 0x14, 0x62, 0xF7, 0x00, 0xA0};
  const uint8_t fm4[22] = {0x65, 0x01, 0x15, 0xE1, 0xB5, 0x3E, 0xA0, 0x11, 0xF1, 0xB8, 0x02,
                           0xA0, 0x15, 0x41, 0xAB, 0x64, 0xA0, 0x15, 0x71, 0xAD, 0x00, 0xA0};
  const uint8_t ext2[18] = {0x79, 0x40, 0x27, 0x34, 0x72, 0x42, 0x02, 0x40, 0x10,
                            0x2B, 0x17, 0x62, 0x73, 0x02, 0x00, 0x41, 0x10, 0x00};
  EXPECT_EQ(0, std::memcmp(FM2_VOICES[0], fm2, 12));
  EXPECT_EQ(0, std::memcmp(FM4_VOICES[0], fm4, 22));
  EXPECT_EQ(0, std::memcmp(FM2_EXT_VOICES[0], ext2, 18));
}

// Every record of every table is found as itself, so lookups are unambiguous both ways.
TEST(Codec, EveryRecordLooksUpToItself) {
  for (int i = 0; i < VOICE_RECORDS; ++i) {
    const int code = 1 + (i < 128 ? i : i + 24);
    EXPECT_EQ(lookupFmVoice(FM2_VOICES[i], 1), code) << i;
    EXPECT_EQ(lookupFmVoice(FM4_VOICES[i], 2), code) << i;
    EXPECT_EQ(lookupVoiceRecord(FM2_EXT_VOICES[i], 3, 18), code) << i;
    EXPECT_EQ(lookupVoiceRecord(FM4_EXT_VOICES[i], 4, 34), code) << i;
    EXPECT_EQ(lookupVoiceRecord(FM2_EXT_VOICES[i], 3, 4), code) << i;
    if (i < VOICE_RECORDS_ALT) {
      EXPECT_EQ(lookupFmVoice(FM2_VOICES_ALT[i], 1), code) << i;
      EXPECT_NE(0, std::memcmp(FM2_VOICES_ALT[i], FM2_VOICES[i], 12)) << i;
    }
    // Masked: clearing the dropped bits still finds the same record.
    uint8_t v[22];
    std::memcpy(v, FM4_VOICES[i], 22);
    v[1] = 0;
    v[2] &= 0xF7;
    EXPECT_EQ(lookupFmVoice(v, 2), code) << i;
  }
}

TEST(Codec, ParseInt) {
  uint32_t used = 0;
  EXPECT_EQ(parseInt("123x", 4, &used, 0, 1000), 123);
  EXPECT_EQ(used, 3u);
  EXPECT_EQ(parseInt("-5", 2, &used, -10, 10), -5);
  EXPECT_EQ(used, 2u);
  EXPECT_EQ(parseInt("+999", 4, &used, 0, 100), 100);
  EXPECT_EQ(parseInt("12345", 2, &used, 0, 100000), 12);  // bounded by length
  EXPECT_EQ(used, 2u);
  EXPECT_EQ(parseInt("x", 1, &used, 1, 128), 1);
  EXPECT_EQ(used, 0u);
  EXPECT_EQ(parseInt("99999999999999999999", 20, &used, 0, 0x7FFFFFFF), 0x7FFFFFFF);
  EXPECT_EQ(used, 20u);
}

TEST(Codec, ParseValue) {
  uint32_t used = 9;
  EXPECT_EQ(parseValue("+", 1, &used, 5, 0, 127), 6);
  EXPECT_EQ(used, 1u);
  EXPECT_EQ(parseValue("-", 1, &used, 5, 0, 127), 4);
  EXPECT_EQ(parseValue("", 0, &used, 5, 0, 127), 5);
  EXPECT_EQ(used, 0u);
  EXPECT_EQ(parseValue("200", 3, &used, 5, 0, 127), 127);
  EXPECT_EQ(used, 3u);
  EXPECT_EQ(parseValue("+10", 3, &used, 120, 0, 127), 127);
  EXPECT_EQ(parseValue("-10", 3, &used, 5, 0, 127), 0);
  EXPECT_EQ(parseValue("-3c", 3, &used, 50, 0, 127), 47);
  EXPECT_EQ(used, 2u);
  EXPECT_EQ(parseValue("c", 1, &used, 50, 0, 127), 50);
  EXPECT_EQ(used, 0u);
}

uint32_t length(const char* text, uint32_t* used, uint32_t def = 48, uint32_t tb = 48) {
  return parseLength(text, uint32_t(std::strlen(text)), used, def, tb);
}

TEST(Codec, ParseLength) {
  uint32_t used = 0;
  EXPECT_EQ(length("4", &used), 48u);
  EXPECT_EQ(used, 1u);
  EXPECT_EQ(length("4.", &used), 72u);
  EXPECT_EQ(used, 2u);
  EXPECT_EQ(length("8^16", &used), 36u);
  EXPECT_EQ(length("3^3^3", &used), 192u);
  EXPECT_EQ(used, 5u);
  EXPECT_EQ(length("3^3^3", &used, 48, 480), 1920u);
  EXPECT_EQ(length("", &used, 30), 30u);
  EXPECT_EQ(used, 0u);
  EXPECT_EQ(length("c", &used, 30), 30u);
  EXPECT_EQ(used, 0u);
  EXPECT_EQ(length("4*3", &used), 144u);
  EXPECT_EQ(length("4/3", &used), 16u);
  EXPECT_EQ(length("8+", &used), 24u);
  EXPECT_EQ(used, 1u);
  EXPECT_EQ(length("8&c", &used, 10), 34u);  // tie to the default length
  EXPECT_EQ(used, 2u);
  EXPECT_EQ(length("4//comment", &used), 48u);
  EXPECT_EQ(used, 1u);
  EXPECT_EQ(length("4/*x*/", &used), 48u);
  EXPECT_EQ(used, 1u);
  EXPECT_EQ(length("16..", &used), 27u);  // 12 -> 18 -> 27
  // Fifths of a whole note carry their remainders: five of them make exactly one.
  EXPECT_EQ(length("5^5^5^5^5", &used), 192u);
  EXPECT_EQ(parseLength("816", 2, &used, 48, 48), 2u);  // bounded by length: "81"
  EXPECT_EQ(used, 2u);
}

// Every reader stays inside the bytes it is given: run under AddressSanitizer, each input sits
// in a heap block of exactly its size.
TEST(Codec, ReadersStayInBounds) {
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return uint8_t(seed >> 16);
  };
  const char alphabet[] = {',', '\\', '"', '\'', '.',    '^',    '&',    '*', '/',
                           '+', '-',  '1', '6',  '\x81', '\xE0', '\x80', 'a'};
  for (int round = 0; round < 3000; ++round) {
    const size_t n = next() % 12;
    std::vector<char> text(n);
    for (char& c : text) c = alphabet[next() % sizeof alphabet];
    std::vector<uint8_t> raw(n);
    for (uint8_t& b : raw) b = next();
    char out[32];
    uint32_t used = 0;
    FieldResult r = readCommaField(out, 4, text.data(), uint32_t(n));
    EXPECT_LE(r.consumed, n);
    r = readQuotedField(out, 4, text.data(), uint32_t(n));
    EXPECT_LE(r.consumed, n);
    std::vector<char> written(2 * n + 1);
    EXPECT_LE(writeCommaField(written.data(), text.data(), uint32_t(n)), 2 * n + 1);
    parseLength(text.data(), uint32_t(n), &used, 48, 48);
    EXPECT_LE(used, n);
    parseValue(text.data(), uint32_t(n), &used, 5, 0, 127);
    EXPECT_LE(used, n);
    readVarLen(raw.data(), uint32_t(n), &used);
    EXPECT_LE(used, n);
    readSmafVarLen(raw.data(), uint32_t(n), &used);
    EXPECT_LE(used, n);
    if (n) lookupVoiceRecord(raw.data(), 3 + int(n % 2), uint32_t(n));
  }
}

}  // namespace
}  // namespace vlm
