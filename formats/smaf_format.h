// Byte format of SMAF files (.mmf, file chunk "MMMD"): chunk ids, the contents-information
// chunk, timebase codes, the sequence event codes of the handy-phone layout (4 and 16 voices)
// and of the 40-voice layout, voice messages, and a bounded byte sink that the writers build
// their chunks with. Shared by the SMAF writers and the SMAF reader.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/codec.h"
#include "core/vstream.h"
#include "formats/adpcm.h"

namespace vlm::smaf {

// ---- Chunks ---------------------------------------------------------------------------------

// A chunk is a 4-byte id, a 32-bit big-endian length of the bytes that follow, and its body.
inline constexpr uint32_t HEAD_SIZE = 8;
inline constexpr uint32_t CRC_SIZE = 2;

inline constexpr char ID_FILE[] = "MMMD";
inline constexpr char ID_CONTENTS[] = "CNTI";
inline constexpr char ID_OPTIONAL_DATA[] = "OPDA";
inline constexpr char ID_DATA_CHUNK[] = "Dch";      // + one byte: 0x00
inline constexpr char ID_SCORE_TRACK[] = "MTR";     // + track number byte
inline constexpr char ID_AUDIO_TRACK[] = "ATR";     // + 0x00
inline constexpr char ID_GRAPHICS_TRACK[] = "GTR";  // + 0x00
inline constexpr char ID_SETUP[] = "Mtsu";
inline constexpr char ID_SEQUENCE[] = "Mtsq";
inline constexpr char ID_AUDIO_SEQUENCE[] = "Atsq";
inline constexpr char ID_WAVE_DATA[] = "Awa";  // + wave number byte
inline constexpr char ID_GRAPHICS_SETUP[] = "Gtsu";
inline constexpr char ID_GRAPHICS_DISPLAY[] = "Gdpd";
inline constexpr char ID_GRAPHICS_SEQUENCE[] = "Gsq ";
inline constexpr char ID_STREAM_WAVES[] = "Mtsp";  // in the 40-voice score track
inline constexpr char ID_STREAM_WAVE[] = "Mwa";    // + wave number byte

// EZweb handsets expect two bytes after the CRC; the file length does not count them.
inline constexpr uint8_t EZWEB_TRAILER[2] = {0x1D, 0x0F};

// ---- Contents information ("CNTI") ----------------------------------------------------------

// Body: class, type, code type, copy status (ProtectFlags & 7), copy count, then option text.
inline constexpr uint32_t CONTENTS_FIXED_SIZE = 5;
inline constexpr uint8_t CONTENTS_CLASS = 0x00;
inline constexpr uint8_t CONTENTS_TYPE_HANDY = 0x00;  // 4- and 16-voice layout
inline constexpr uint8_t CONTENTS_CODE_HANDY = 0x00;
inline constexpr uint8_t CONTENTS_TYPE_40 = 0x33;  // 40-voice layout
inline constexpr uint8_t CONTENTS_CODE_40 = 0x01;
inline constexpr uint8_t COPY_STATUS_MASK = 0x07;
inline constexpr uint32_t CONTENTS_CODE_OFFSET = 2;  // in the body

// TextCode (core/vstream.h) of a SMAF character-code byte: the contents information's code
// type, and the fourth id byte of a "Dch" chunk. Codes it does not know (0xFF and 0x80 occur in
// "Dch" ids of Japanese files) are read as Shift-JIS.
inline constexpr uint8_t textCodeOf(uint8_t smafCode) {
  switch (smafCode) {
    case 0x01:
      return TEXT_LATIN1;
    case 0x02:
      return TEXT_EUC_KR;
    case 0x03:
      return TEXT_HZ_GB2312;
    case 0x04:
      return TEXT_BIG5;
    case 0x05:
      return TEXT_KOI8_R;
    case 0x06:
      return TEXT_TCVN;
    case 0x20:
      return TEXT_UCS2;
    case 0x21:
      return TEXT_UCS4;
    case 0x22:
      return TEXT_UTF7;
    case 0x23:
      return TEXT_UTF8;
    case 0x24:
      return TEXT_UTF16;
    case 0x25:
      return TEXT_UTF32;
    default:
      return TEXT_SHIFT_JIS;
  }
}

// Option-text entries ("TAG:" value ",") of the handy-phone layout and the "Dch" entries (2-byte
// tag, 16-bit length, text) of the 40-voice layout share tags and order.
struct TextTag {
  char tag[3];
  int field;  // SongInfoField
};
inline constexpr TextTag TEXT_TAGS[] = {
    {"ST", INFO_TITLE},   {"CR", INFO_COPYRIGHT}, {"AN", INFO_ARTIST},
    {"CA", INFO_GENRE},   {"WW", INFO_WORDS},     {"SW", INFO_COMPOSE},
    {"AW", INFO_ARRANGE}, {"CD", INFO_DATE},      {"VN", INFO_SOFTWARE},
};
inline constexpr char TAG_LED[] = "L2";  // one byte: LED channel - 1

// ---- Score tracks ---------------------------------------------------------------------------

inline constexpr uint8_t FORMAT_HANDY = 0x00;   // handy-phone layout
inline constexpr uint8_t FORMAT_MOBILE = 0x02;  // 40-voice layout, plain MIDI messages
inline constexpr uint8_t SEQUENCE_STREAM = 0x00;
inline constexpr uint8_t TRACK_4VOICE = 0x00;         // every score track of the 4-voice class
inline constexpr uint8_t TRACK_16VOICE_FIRST = 0x01;  // 0x01..0x04
inline constexpr uint8_t TRACK_40VOICE = 0x05;
inline constexpr int SCORE_TRACKS = 4;
inline constexpr int TRACK_CHANNELS = 4;
inline constexpr uint32_t SCORE_HEADER_SIZE = 6;  // format, sequence, 2 timebase, 2 status
inline constexpr uint32_t AUDIO_HEADER_SIZE = 6;  // format, sequence, wave type, 0, 2 timebase
inline constexpr uint32_t GRAPHICS_HEADER_SIZE = 6;
inline constexpr uint8_t CHANNEL_STATUS_BASE = 0x80;
inline constexpr uint8_t CHANNEL_STATUS_VIB_FIRST = 0x40;  // first channel of the byte
inline constexpr uint8_t CHANNEL_STATUS_VIB_SECOND = 0x04;
inline constexpr uint8_t WAVE_TYPE_BASE = 0x10;  // | rate code

// Channel-status bytes of the 40-voice layout, one per channel.
inline constexpr uint8_t STATUS40_RHYTHM = 0x03;
inline constexpr uint8_t STATUS40_MELODIC = 0x01;
inline constexpr uint8_t STATUS40_LED = 0x10;
inline constexpr uint8_t STATUS40_VIBRATION = 0x20;

// Timebase codes: the first whose milliseconds are at least 480 / timebase (a tick at tempo 125).
struct TimebaseCode {
  uint8_t code;
  uint8_t ms;
};
inline constexpr TimebaseCode TIMEBASE_CODES[] = {{0x00, 1},  {0x01, 2},  {0x02, 4},  {0x03, 5},
                                                  {0x10, 10}, {0x11, 20}, {0x12, 40}, {0x13, 50}};
inline constexpr uint8_t TIMEBASE_NONE = 0x14;
inline constexpr uint32_t QUARTER_MS = 480;  // a quarter note at 125 beats per minute

inline constexpr uint8_t timebaseCode(uint32_t timebase) {
  if (timebase == 0) return TIMEBASE_NONE;
  const uint32_t ms = QUARTER_MS / timebase;
  for (const TimebaseCode& t : TIMEBASE_CODES)
    if (t.ms >= ms) return t.code;
  return TIMEBASE_NONE;
}

// Milliseconds of a timebase code; 0 for an unknown code.
inline constexpr uint32_t timebaseMs(uint8_t code) {
  for (const TimebaseCode& t : TIMEBASE_CODES)
    if (t.code == code) return t.ms;
  return 0;
}

// ---- Handy-phone sequence events ------------------------------------------------------------

// Durations and gate times are SMAF lengths (writeSmafVarLen): 1 or 2 bytes, at most 16511.
inline constexpr uint32_t MAX_LENGTH = 16511;
// A gap longer than MAX_LENGTH is bridged by fillers: duration 16511, no operation.
inline constexpr uint8_t FILLER[4] = {0xFF, 0x7F, 0xFF, 0x00};
inline constexpr uint8_t NOP[2] = {0xFF, 0x00};
inline constexpr uint8_t END_OF_SEQUENCE[4] = {0x00, 0x00, 0x00, 0x00};  // duration 0 + 3 bytes

// A note is (c << 6) + (block << 4) + k, then the gate. Short and long controls follow 0x00:
inline constexpr uint8_t EV_CONTROL = 0x00;
inline constexpr uint8_t CTL_EXPRESSION_SHORT = 0x00;  // + 1..14
inline constexpr uint8_t CTL_MODULATION_SHORT = 0x20;  // + 1..14
inline constexpr uint8_t CTL_PROGRAM = 0x30;
inline constexpr uint8_t CTL_BANK = 0x31;
inline constexpr uint8_t CTL_OCTAVE = 0x32;
inline constexpr uint8_t CTL_VOLUME = 0x37;
inline constexpr uint8_t CTL_PAN = 0x3A;
inline constexpr uint8_t CTL_EXPRESSION = 0x3B;
inline constexpr uint8_t BANK_RHYTHM = 0x80;
inline constexpr uint8_t OCTAVE_NEGATIVE = 0x80;  // sign bit of the octave shift
inline constexpr int NOTE_BLOCKS = 4;
inline constexpr int WINDOW_LOW = 37, WINDOW_HIGH = 84;  // playable notes at octave shift 0

// Register messages: FF F0 06 43 03 (90 | bank) register value F7.
inline constexpr uint8_t REGISTER_HEAD[5] = {0xFF, 0xF0, 0x06, 0x43, 0x03};
inline constexpr uint8_t REGISTER_BANK0 = 0x90;
inline constexpr uint8_t REGISTER_BANK1 = 0x91;
inline constexpr uint8_t EXCLUSIVE_END = 0xF7;
inline constexpr uint32_t REGISTER_SIZE = 9;
inline constexpr uint8_t REG_PITCH_LOW = 0xB0;   // + channel
inline constexpr uint8_t REG_PITCH_HIGH = 0xC0;  // + channel; value 0 is key off
inline constexpr uint8_t REG_VOICE_PAIR = 0x18;  // + channel pair

// Audio track: (wave note byte, gate) and 0x00 0x37 volume.

// ---- Wave data --------------------------------------------------------------------------------

// Wave type of the audio track head: 0x10 | rate code, then 0x00: Yamaha ADPCM, 4 bits a sample.
inline constexpr uint8_t WAVE_TYPE_WIDTH_4 = 0x00;
// Wave type of a stream wave ("Mwa" body: type, 16-bit rate, samples): Yamaha ADPCM, 4 bits.
inline constexpr uint8_t STREAM_WAVE_YAMAHA = 0x20;
inline constexpr uint32_t STREAM_WAVE_HEAD = 3;
inline constexpr uint32_t WAVE_RATE_STEP_HZ = 250;  // rate codes above 4 count 250 Hz steps

inline constexpr uint32_t rateOfCode(uint8_t code) {
  if (code == WAVE_RATE_NONE) return 0;
  return code < 5 ? WAVE_RATES[code] : uint32_t(code) * WAVE_RATE_STEP_HZ;
}

// The wave rate code whose rate lies nearest to `rate` (the lower one on a tie).
inline constexpr uint8_t nearestRateCode(uint32_t rate) {
  uint8_t best = 0;
  for (uint8_t code = 1; code < 5; ++code) {
    const uint32_t d = rate > WAVE_RATES[code] ? rate - WAVE_RATES[code] : WAVE_RATES[code] - rate;
    const uint32_t b = rate > WAVE_RATES[best] ? rate - WAVE_RATES[best] : WAVE_RATES[best] - rate;
    if (d < b) best = code;
  }
  return best;
}

struct WaveSource {
  uint32_t coding;
  uint32_t rate;  // Hz
};

// The codings that wave coding events gave, by wave number, for the wave data that follow.
struct WaveCodings {
  bool set[256] = {};
  uint8_t coding[256] = {};
  uint32_t rate[256] = {};

  void note(const uint8_t* body, uint32_t length) {
    if (length < 6) return;
    set[body[0]] = true;
    coding[body[0]] = body[1];
    rate[body[0]] = getBE(body + 2, 4);
  }
  // Coding and rate of a wave data event; a wave without a coding event is coded as
  // AdpcmCodec says, at the rate of its code.
  WaveSource take(uint8_t number, uint8_t rateCode) {
    WaveSource w{AdpcmCodec, rateOfCode(rateCode)};
    if (set[number]) {
      w.coding = coding[number];
      if (rate[number]) w.rate = rate[number];
      set[number] = false;
    }
    return w;
  }
};

// ---- Voice messages in "Mtsu" ---------------------------------------------------------------

// FF F0 size 43 class slot flags number, voice bytes, F7.
enum VoiceType : int { VOICE_MA1 = 0, VOICE_FM2 = 1, VOICE_FM4 = 2 };
struct VoiceMessageForm {
  uint8_t size;   // byte after F0
  uint8_t klass;  // byte after 43
  uint8_t bytes;  // voice bytes
};
inline constexpr VoiceMessageForm VOICE_FORMS[3] = {
    {0x13, 0x02, 13}, {0x12, 0x03, 12}, {0x1C, 0x03, 22}};
inline constexpr uint32_t VOICE_MESSAGE_HEAD = 8;  // FF F0 size 43 class slot flags number
inline constexpr uint8_t VOICE_FLAG_RHYTHM = 0x80;
inline constexpr uint8_t VOICE_FLAG_FM4 = 0x01;
inline constexpr int VOICE_SLOTS = 16;
inline constexpr int RHYTHM_VOICE_BASE = 104;  // record of rhythm note n in the FM tables
inline constexpr int RHYTHM_LOW = 24, RHYTHM_HIGH = 84;

inline constexpr uint32_t voiceMessageSize(int type) {
  return VOICE_MESSAGE_HEAD + VOICE_FORMS[type].bytes + 1;
}

// Note actually played for rhythm voice n (24..84).
inline constexpr uint8_t RHYTHM_PITCH[RHYTHM_HIGH - RHYTHM_LOW + 1] = {
    79, 61, 51, 56, 61,  47, 76, 60, 69, 55, 50,  33, 39,  62, 65, 89, 68, 14, 62, 14, 62,
    14, 67, 14, 14, 81,  14, 91, 98, 96, 92, 107, 81, 106, 24, 90, 67, 52, 65, 52, 45, 81,
    57, 81, 76, 98, 104, 56, 51, 83, 32, 69, 68,  63, 81,  60, 80, 64, 95, 53, 50};

// Two-operator voices of the 4-voice class, 13 bytes per program. Each instrument family of
// eight programs shares a template: algorithm and feedback, two operators of multiple, level,
// attack/decay, sustain/release and waveform, then vibrato, tremolo and key scaling; programs
// further into a family get a brighter modulator and a longer release.
inline constexpr uint32_t MA1_VOICE_SIZE = 13;
struct Ma1VoiceTable {
  uint8_t record[128][MA1_VOICE_SIZE];
};
inline constexpr uint8_t MA1_FAMILIES[16][MA1_VOICE_SIZE] = {
    {0xF1, 0x21, 0x7B, 0x8C, 0xA0, 0x31, 0x57, 0x8C, 0x00, 0x00, 0x11, 0x22, 0x44},  // piano
    {0xE3, 0x27, 0x6A, 0x9A, 0xA2, 0x33, 0x41, 0x9A, 0x02, 0x00, 0x11, 0x20, 0x44},  // chromatic
    {0x72, 0x22, 0x30, 0x50, 0xF0, 0x21, 0x3C, 0x50, 0x01, 0x10, 0x00, 0x00, 0x40},  // organ
    {0xE1, 0x23, 0x66, 0x8A, 0xA1, 0x31, 0x4A, 0x8A, 0x00, 0x00, 0x11, 0x21, 0x44},  // guitar
    {0xD4, 0x20, 0x58, 0x7C, 0xB0, 0x21, 0x36, 0x7C, 0x00, 0x00, 0x10, 0x22, 0x42},  // bass
    {0x65, 0x31, 0x44, 0x42, 0x70, 0x21, 0x3A, 0x42, 0x02, 0x11, 0x00, 0x00, 0x40},  // strings
    {0x66, 0x32, 0x48, 0x44, 0x71, 0x22, 0x3C, 0x44, 0x02, 0x10, 0x00, 0x00, 0x40},  // ensemble
    {0x94, 0x21, 0x3E, 0x5A, 0x80, 0x21, 0x34, 0x5A, 0x01, 0x00, 0x00, 0x10, 0x40},  // brass
    {0x85, 0x31, 0x46, 0x5B, 0x81, 0x21, 0x38, 0x5B, 0x01, 0x00, 0x00, 0x10, 0x40},  // reed
    {0x74, 0x21, 0x50, 0x48, 0x72, 0x21, 0x32, 0x48, 0x02, 0x00, 0x00, 0x00, 0x40},  // pipe
    {0xF1, 0x21, 0x38, 0x3F, 0xF0, 0x21, 0x30, 0x3F, 0x00, 0x00, 0x00, 0x00, 0x40},  // lead
    {0x42, 0x22, 0x42, 0x35, 0x50, 0x21, 0x3E, 0x35, 0x03, 0x11, 0x00, 0x00, 0x40},  // pad
    {0x63, 0x28, 0x3C, 0x67, 0x62, 0x23, 0x40, 0x67, 0x02, 0x12, 0x01, 0x11, 0x42},  // effects
    {0xE6, 0x25, 0x5A, 0x97, 0xA3, 0x32, 0x48, 0x97, 0x00, 0x00, 0x11, 0x21, 0x44},  // ethnic
    {0xFA, 0x30, 0x30, 0xAA, 0xF4, 0x20, 0x3A, 0xA9, 0x00, 0x00, 0x12, 0x22, 0x46},  // percussive
    {0xF8, 0x2E, 0x32, 0x99, 0xF6, 0x2F, 0x40, 0x99, 0x00, 0x13, 0x01, 0x00, 0x42},  // sound fx
};
inline constexpr Ma1VoiceTable makeMa1Voices() {
  Ma1VoiceTable t{};
  for (int p = 0; p < 128; ++p) {
    const uint8_t* base = MA1_FAMILIES[p / 8];
    const int step = p % 8;
    for (uint32_t i = 0; i < MA1_VOICE_SIZE; ++i) t.record[p][i] = base[i];
    t.record[p][2] = uint8_t(base[2] > 2 * step ? base[2] - 2 * step : 0);
    t.record[p][3] = uint8_t((base[3] & 0xF0) | ((base[3] + step) & 0x0F));
  }
  return t;
}
inline constexpr Ma1VoiceTable MA1_VOICES = makeMa1Voices();

// ---- Graphics track -------------------------------------------------------------------------

inline constexpr uint8_t GRAPHICS_HEAD[4] = {0x00, 0x00, 0x00, 0x00};  // then timebase, 0x00
inline constexpr uint8_t GRAPHICS_DISPLAY[30] = {
    0x1D, 0x00, 0x01, 0x00, 0x02, 0x0C, 0x03, 0x00, 0x04, 0x00, 0x10, 0x00, 0x12, 0xFF, 0x14,
    0xFF, 0x11, 0xE0, 0x13, 0xFF, 0x15, 0xFF, 0x20, 0xF0, 0x30, 0xFF, 0x31, 0x00, 0x32, 0x00};
// "Gtsu" head + "Gdpd" head + the display bytes.
inline constexpr uint32_t GRAPHICS_SETUP_SIZE = 2 * HEAD_SIZE + sizeof GRAPHICS_DISPLAY;
inline constexpr int KARAOKE_LINES = 4;
inline constexpr uint8_t KARAOKE_LINE_EVENT = 0x40;
inline constexpr uint8_t KARAOKE_LINE_ROW_STEP = 12;

// ---- 40-voice sequence events ---------------------------------------------------------------

inline constexpr uint8_t MASTER_VOLUME_HEAD[7] = {0xF0, 0x07, 0x43, 0x79, 0x06, 0x7F, 0x00};
inline constexpr uint8_t END_OF_TRACK_40[3] = {0xFF, 0x2F, 0x00};
inline constexpr uint8_t VELOCITY_START_40 = 64;

// ---- A bounded byte sink --------------------------------------------------------------------

// Writes into a caller's buffer and never past its capacity: a write that does not fit sets
// `full` and writes nothing.
struct ByteSink {
  uint8_t* out;
  uint32_t capacity;
  uint32_t pos = 0;
  bool full = false;

  ByteSink(uint8_t* o, uint32_t c) : out(o), capacity(o ? c : 0) {}
  bool room(uint32_t n) const { return n <= capacity && pos <= capacity - n; }
  bool put(const void* bytes, uint32_t n) {
    if (!room(n)) {
      full = true;
      return false;
    }
    if (n) std::memcpy(out + pos, bytes, n);
    pos += n;
    return true;
  }
  bool u8(uint8_t b) { return put(&b, 1); }
  bool be(uint32_t v, int n) {
    uint8_t tmp[4];
    putBE(tmp, v, n);
    return put(tmp, uint32_t(n));
  }
  // Chunk id (3 or 4 characters; a 3-character id takes `suffix` as its fourth byte) and a
  // placeholder length; returns the position of the chunk.
  uint32_t chunk(const char* id, uint8_t suffix = 0) {
    uint32_t at = pos;
    uint8_t head[HEAD_SIZE] = {};
    std::memcpy(head, id, 3);
    head[3] = id[3] ? uint8_t(id[3]) : suffix;
    put(head, HEAD_SIZE);
    return at;
  }
  // Patches the length of the chunk at `at` to the bytes written after its head, plus `extra`.
  void patch(uint32_t at, uint32_t extra = 0) {
    if (at + HEAD_SIZE > pos) return;
    putBE(out + at + 4, pos - at - HEAD_SIZE + extra, 4);
  }
  // Closes the file whose chunk is at `fileAt`: its length counts the CRC that follows, then the
  // CRC of every byte before it and, for EZweb handsets, the trailer. Returns the file's size.
  int32_t closeFile(uint32_t fileAt, bool ezweb) {
    patch(fileAt, CRC_SIZE);
    be(crc16(out, pos), int(CRC_SIZE));
    if (ezweb) put(EZWEB_TRAILER, sizeof EZWEB_TRAILER);
    return int32_t(pos);
  }
};

}  // namespace vlm::smaf
