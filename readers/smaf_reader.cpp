// Reader of SMAF files (file chunk "MMMD", .mmf/.smd/.smz). One pass over the chunks reads the
// contents information, the track heads, voice definitions and wave data; then every sequence
// chunk becomes a source track and the tracks are merged by time into one VStream chunk. SMAF
// counts time in milliseconds: the stream runs at timebase 480 and tempo 125, one tick a
// millisecond. Score tracks come in two forms: the handy-phone form (part bits, octave blocks,
// short controls, SMAF lengths) and the mobile-standard form (MIDI channel messages with
// durations, MIDI variable-length quantities).
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/codec.h"
#include "core/reader_events.h"
#include "core/stages.h"
#include "core/thread_record.h"
#include "core/vstream.h"
#include "formats/adpcm.h"
#include "formats/smaf_format.h"
#include "formats/smaf_score.h"
#include "formats/smaf_voice.h"
#include "util/text_codes.h"

namespace vlm {

namespace {

constexpr uint16_t SMAF_TIMEBASE = 480;
constexpr uint32_t SMAF_TEMPO_BPM = 125;
constexpr uint32_t SMAF_TEMPO_MICROS = 480000;  // a quarter note at 125 beats per minute
constexpr uint8_t START_VELOCITY = 64;
constexpr uint8_t NOTE_VELOCITY = 127;  // handy-phone notes carry no velocity
constexpr uint32_t MAX_TIME = 0xFFFFFFFEu;

// Chunk ids the scan handles beyond those the writers share.
constexpr char ID_SEEK_PHRASE[] = "MspI";
constexpr char ID_GRAPHICS_SEQUENCE_PREFIX[] = "Gsq";
// A Phrase file holds one "MMMG" chunk (version byte, milliseconds per tick, sub-chunks) in
// place of score tracks: "VOIC" with its voice exclusives ("EXVO"), and the sequence "SEQU".
constexpr char ID_PHRASE[] = "MMMG";
constexpr char ID_PHRASE_VOICES[] = "VOIC";
constexpr char ID_PHRASE_VOICE[] = "EXVO";
constexpr char ID_PHRASE_SEQUENCE[] = "SEQU";
constexpr uint32_t PHRASE_TICK = 9;  // from the chunk's id
constexpr uint32_t PHRASE_HEAD_SIZE = 2;

// Offsets from the start of a chunk (its id).
constexpr uint32_t CNTI_COPY_STATUS = 11;
constexpr uint32_t CNTI_OPTION_TEXT = 13;
constexpr uint32_t TRACK_NUMBER = 3;
constexpr uint32_t TRACK_FORMAT = 8;
constexpr uint32_t TRACK_DURATION_BASE = 10;
constexpr uint32_t TRACK_GATE_BASE = 11;
constexpr uint32_t TRACK_CHANNEL_STATUS = 12;
constexpr uint32_t TRACK_CHANNEL_STATUS_OFFSET = 12;  // channel status after the 4 head bytes
constexpr uint32_t AUDIO_WAVE_TYPE = 10;
constexpr uint32_t AUDIO_WAVE_WIDTH = 11;
constexpr uint32_t AUDIO_DURATION_BASE = 12;
constexpr uint32_t AUDIO_GATE_BASE = 13;
constexpr uint32_t AUDIO_TRACK_HEAD = 14;
constexpr uint32_t GRAPHICS_DURATION_BASE = 12;
constexpr uint32_t GRAPHICS_EXTRA_HEAD = 13;
constexpr uint32_t GRAPHICS_TRACK_HEAD = 14;
constexpr uint32_t STREAM_WAVE_FORMAT = 8;
constexpr uint32_t STREAM_WAVE_RATE = 9;
constexpr uint32_t STREAM_WAVE_DATA = 11;

// Wave types. Both wave chunks state a format and a sample width:
// - the "ATR" head: byte +10 holds the format in bits 6..4 and the rate code in bits 3..0, byte
//   +11 the sample width in bits 7..4. Its format 1 is Yamaha ADPCM (the handy-phone layout
//   writes 0x10 | rate, 0x00), 0 two's-complement PCM, 2 offset-binary PCM;
// - the first byte of an "Mwa" body holds the format in bits 6..4 (0 two's-complement PCM,
//   1 offset-binary PCM, 2 Yamaha ADPCM) and the width in bits 3..0; 0x20 is 4-bit ADPCM.
// Widths: 0 4 bits, 1 8 bits, 2 12 bits, 3 16 bits. No PCM is 4 bits wide, so a width of 0 is
// ADPCM whatever the format says; the ADPCM format is 4-bit whatever the width says. 12-bit
// samples have no packing given anywhere, and bit 7 (stereo) is not followed: such waves are
// played as one channel.
constexpr uint8_t AUDIO_FORMAT_ADPCM = 1, AUDIO_FORMAT_OFFSET = 2;
constexpr uint8_t STREAM_FORMAT_OFFSET = 1, STREAM_FORMAT_ADPCM = 2;
constexpr uint8_t WIDTH_4 = 0, WIDTH_8 = 1, WIDTH_16 = 3;
constexpr uint32_t CODING_NONE = 0xFF;
constexpr uint32_t RATE_STEP_HZ = 250;  // rate codes above the five wave rates count 250 Hz steps
constexpr uint32_t RATE_STEP_CODE_MIN = 5, RATE_STEP_CODE_MAX = 254;
constexpr uint32_t TEXT_ENTRY_HEAD = 4;  // "Dch" entry: tag, 16-bit length
constexpr uint32_t CUE_ENTRY_VALUE = 3;  // "st:" / "sp:" then a 32-bit offset

// Channel-status bits: the handy-phone nibbles are read as the high nibble of a byte.
constexpr uint8_t HANDY_STATUS_RHYTHM = 0x30;
constexpr uint8_t HANDY_STATUS_VIBRATION = 0x40;
constexpr uint8_t MOBILE_STATUS_KIND = 0x03;

// Voice messages of the setup chunk.
constexpr uint8_t VOICE_HEAD[2] = {0x43, 0x03};                  // after FF F0 size
constexpr uint8_t EXT_VOICE_HEAD[4] = {0x43, 0x79, 0x06, 0x7F};  // after F0 size
constexpr uint32_t VOICE_SLOT = 5, VOICE_FLAGS = 6, VOICE_NUMBER = 7, VOICE_BYTES = 8;
constexpr uint32_t VOICE_BODY_EXTRA = 6;  // 43 03 slot flags number ... F7 around the voice
constexpr uint32_t FM2_SIZE = 12, FM4_SIZE = 22;
constexpr uint32_t FM4_UPPER_OPERATORS = 0x14;  // zero here: a four-operator form of a 2-op voice
constexpr uint32_t EXT_BANK = 7, EXT_PROGRAM = 9, EXT_NOTE = 10, EXT_KIND = 11, EXT_RECORD = 12;
constexpr uint8_t EXT_BANK_RHYTHM = 0x7D;
constexpr uint8_t EXT_KIND_WAVE = 1;
constexpr int RHYTHM_CODE_MIN = 0x81;  // voice codes above 0x80 are rhythm sounds

// Handy-phone controls: 0x00, (part << 6) | class | x [, value].
constexpr uint8_t CONTROL_CLASS = 0x30;
constexpr uint8_t CLASS_EXPRESSION = 0x00, CLASS_BEND = 0x10, CLASS_MODULATION = 0x20;
constexpr uint8_t LONG_PROGRAM = 0, LONG_BANK = 1, LONG_OCTAVE = 2, LONG_MODULATION = 3,
                  LONG_BEND = 4, LONG_VOLUME = 7, LONG_PAN = 10, LONG_EXPRESSION = 11;
constexpr uint8_t SHORT_NONE_LOW = 0, SHORT_NONE_HIGH = 15;
constexpr int HANDY_NOTE_BASE = 36;
constexpr uint8_t REGISTER_MESSAGE[3] = {0x43, 0x03, 0x90};  // body of FF F0 size ...
constexpr uint8_t REGISTER_PITCH_LOW_NIBBLE = 0xB0;
constexpr uint8_t PHRASE_CODE_MASK = 0x3F;  // Phrase control: channel in bits 7..6, then the code

// Mobile-standard messages.
constexpr uint8_t MA7_TYPE_MASK = 0x70, MA7_TYPE_UNUSED = 0x70;
// MA-7 scores address 32 channels; the stream has 16, so channel c plays on c mod 16. Files
// that use channels beyond 15 are rare; their parts then share a channel's controls.
constexpr int MA7_CHANNEL_FOLD = CHANNELS;
constexpr uint8_t BANK_WAVE = 125;
constexpr uint8_t CC_BANK_MSB = 0,
                  CC_BANK_LSB = 32;  // bank select value that makes a channel a wave channel
constexpr uint8_t MASTER_VOLUME_BODY[4] = {0x43, 0x79, 0x06, 0x7F};
constexpr uint32_t MASTER_VOLUME_VALUE = 5;
constexpr uint8_t META_NO_OPERATION = 0x00;
constexpr int WAVE_NOTE_LOW_END = 13;                                // notes 0..12: waves 1..13
constexpr int WAVE_NOTE_HIGH_FIRST = 92, WAVE_NOTE_HIGH_LAST = 110;  // waves 14..32
constexpr int WAVE_NOTE_HIGH_OFFSET = 78;

// Graphics sequence: events below this are one byte; from it on a length and a text list.
constexpr uint8_t GRAPHICS_TEXT_EVENT_MIN = 0x20;
constexpr uint8_t TEXT_ENTRY_LYRIC = 0x01;
constexpr uint8_t TEXT_ENTRY_PARAMETERS = 0x80;  // entries from here on carry two bytes

constexpr uint32_t NO_BINDING = 0xFFFFFFFFu;

enum TrackKind : uint8_t { TRACK_SCORE, TRACK_AUDIO, TRACK_GRAPHICS };

struct SequenceTrack {
  const uint8_t* data;  // the image, or the decompressed sequence of a compressed track
  uint32_t start;       // first byte of the sequence data
  uint32_t pos;         // read position of the next event
  uint32_t end;         // end of the chunk, clipped to the image
  uint32_t time;        // absolute time of the next event
  uint32_t durationBase, gateBase;
  uint8_t kind;
  uint8_t group;  // first channel of the track's four parts
  bool mobile;
  bool ma7;     // MA-7 status packing (32 channels)
  bool phrase;  // a Phrase sequence: its own control codes, no end-of-sequence record
  bool sawEnd;  // the end-of-sequence record was read
  bool ended;
};

struct SmafReader {
  const uint8_t* image = nullptr;
  uint32_t size = 0;
  EventSink sink;

  // What the track heads set for the sequence chunks that follow them.
  uint32_t durationBase = 1, gateBase = 1;
  bool mobile = false;
  uint8_t formatType = 0;   // of the current score track
  bool phrase = false;      // inside a Phrase file's "MMMG" chunk
  uint32_t phraseTick = 1;  // its milliseconds per tick
  uint8_t group = 0;
  uint8_t waveRate = 0;
  uint32_t waveCoding = ADPCM_YAMAHA;  // of the audio track's waves

  SequenceTrack track[MAX_TRACKS] = {};
  int trackCount = 0;
  uint32_t endTime = 0;  // latest time a track reached

  uint8_t programRemap[256] = {};  // voice code of program (+ 128 on rhythm banks); 0 = none
  uint8_t rhythmRemap[128] = {};   // voice code of a rhythm note
  uint16_t waveChannels = 0;
  int8_t octave[CHANNELS] = {};
  uint8_t velocity[CHANNELS] = {};
  uint8_t rhythmNote[CHANNELS] = {};
  uint16_t rhythmNoteSet = 0;

  bool cueStartSet = false, cueStopSet = false, cueStartDone = false, cueStopDone = false;
  uint32_t cueStart = 0, cueStop = 0;  // offsets into the first sequence chunk's data

  std::vector<std::vector<uint8_t>> decoded;  // decompressed sequences the tracks read from

  // The file's own voices, and what each channel selects them by (bank MSB, LSB, program).
  std::shared_ptr<smaf::VoiceSet> voices;
  uint8_t bankMsb[CHANNELS] = {}, bankLsb[CHANNELS] = {}, program[CHANNELS] = {};
  uint32_t boundKey[CHANNELS] = {};  // selection of the channel's last binding; NO_BINDING: none
};

// Set to the thread's record on entry (core/thread_record.h says why).
thread_local constinit SmafReader* r = nullptr;

void resetReader(const uint8_t* image, uint32_t size, uint8_t* out, uint32_t capacity) {
  *r = SmafReader{};
  r->image = image;
  r->size = size;
  r->sink = sinkFor(out, capacity);
  std::fill(std::begin(r->velocity), std::end(r->velocity), START_VELOCITY);
  std::fill(std::begin(r->boundKey), std::end(r->boundKey), NO_BINDING);
  r->voices = std::make_shared<smaf::VoiceSet>();
}

// Byte of the image, 0 past its end.
uint8_t at(uint64_t pos) {
  return pos < r->size ? r->image[pos] : 0;
}

uint32_t clipEnd(uint64_t end) {
  return end > r->size ? r->size : uint32_t(end);
}

bool idIs(uint32_t pos, const char* id, uint32_t n) {
  return uint64_t(pos) + n <= r->size && std::memcmp(r->image + pos, id, n) == 0;
}

// Milliseconds of a time-base code; codes of 0x20 and above keep the previous base.
uint32_t timeBase(uint8_t code, uint32_t previous) {
  if (code >= 0x20) return previous;
  switch (code) {
    case 0x00:
      return 1;
    case 0x01:
      return 2;
    case 0x02:
      return 4;
    case 0x03:
      return 5;
    default:
      break;
  }
  if (code >= 0x10 && code <= 0x18) return 10u * (code - 0x10 + 1);
  return 1;
}

bool isRhythm(int channel) {
  return (writer.DRUM_CHANNEL_MASK >> channel) & 1;
}

// ---- Submission -----------------------------------------------------------------------------

// Program change through the voice remap. A remapped voice of the other kind (rhythm or melodic)
// first switches the channel; on a rhythm channel the program selects the channel's drum sound.
bool submitRemappedProgram(int t, uint32_t time, int channel, uint8_t program, bool mobile) {
  bool rhythm = isRhythm(channel);
  uint8_t value = program & 0x7F;
  const uint8_t code = r->programRemap[value + (rhythm ? 128 : 0)];
  if (code) {
    const uint8_t voice = uint8_t(code - 1);
    value = voice & 0x7F;
    const bool voiceRhythm = (voice & 0x80) != 0;
    if (voiceRhythm != rhythm) {
      if (!submitControl(r->sink, time, t, channel, CC_RHYTHM_PART, voiceRhythm ? 1 : 0))
        return false;
      rhythm = voiceRhythm;
    }
  }
  if (rhythm) {
    if (!mobile) {
      r->rhythmNote[channel] = value;
      r->rhythmNoteSet |= uint16_t(1u << channel);
    }
    return true;
  }
  return submitProgram(r->sink, time, uint8_t(t), channel, value);
}

// ---- Chunk scan -----------------------------------------------------------------------------

int textField(const uint8_t* tag) {
  for (const smaf::TextTag& tt : smaf::TEXT_TAGS)
    if (tag[0] == uint8_t(tt.tag[0]) && tag[1] == uint8_t(tt.tag[1])) return tt.field;
  return -1;
}

// A song text in the code the file states: kept as Shift-JIS, and in its own bytes for the
// display when Shift-JIS cannot hold it.
void setCodedText(int field, const char* text, uint32_t length, uint8_t code) {
  if (code == TEXT_SHIFT_JIS) {
    setSongText(field, text, length);
    return;
  }
  std::string sjis;
  const bool whole = textToSjis(text, length, code, &sjis);
  setSongText(field, sjis.data(), sjis.size());
  if (whole) return;
  const uint32_t n = std::min<uint32_t>(length, INFO_TEXT_SIZE - 1);
  song.info.code[field] = code;
  std::memcpy(song.info.original[field], text, n);
  song.info.original[field][n] = 0;
  song.info.originalLength[field] = uint8_t(n);
}

void setText(const uint8_t* tag, const char* text, uint32_t length, uint8_t code) {
  if (tag[0] == uint8_t(smaf::TAG_LED[0]) && tag[1] == uint8_t(smaf::TAG_LED[1])) {
    if (length > 0 && uint8_t(text[0]) < CHANNELS) songStats.ledMask |= uint16_t(1u << text[0]);
    return;
  }
  const int field = textField(tag);
  if (field >= 0) setCodedText(field, text, std::min<uint32_t>(length, INFO_TEXT_SIZE - 1), code);
}

// Contents information: copy status, then "TAG:" text "," entries.
void readContents(uint32_t chunk, uint32_t end) {
  if (uint64_t(chunk) + CNTI_COPY_STATUS < end)
    song.ProtectFlags = at(chunk + CNTI_COPY_STATUS) & smaf::COPY_STATUS_MASK;
  const uint8_t code = smaf::textCodeOf(at(chunk + smaf::HEAD_SIZE + smaf::CONTENTS_CODE_OFFSET));
  uint32_t p = chunk + CNTI_OPTION_TEXT;
  char text[INFO_TEXT_SIZE];
  while (uint64_t(p) + 3 <= end && r->image[p + 2] == ':') {
    const uint8_t* tag = r->image + p;
    const char* source = reinterpret_cast<const char*>(r->image + p + 3);
    const FieldResult f =
        readCommaField(text, INFO_TEXT_SIZE - 1, source, end - (p + 3), code == TEXT_SHIFT_JIS);
    setText(tag, text, std::min<uint32_t>(f.produced, INFO_TEXT_SIZE - 1), code);
    p += 3 + f.consumed + 1;  // the ending comma
  }
}

// Data chunk of the optional data: tag, 16-bit length, text.
void readDataChunk(uint32_t chunk, uint32_t end) {
  uint32_t p = chunk + smaf::HEAD_SIZE;
  const uint8_t code = smaf::textCodeOf(at(chunk + TRACK_NUMBER));  // the id's fourth byte
  while (uint64_t(p) + TEXT_ENTRY_HEAD <= end) {
    const uint8_t* tag = r->image + p;
    const uint32_t length =
        std::min<uint32_t>(getBE(r->image + p + 2, 2), end - (p + TEXT_ENTRY_HEAD));
    setText(tag, reinterpret_cast<const char*>(r->image + p + TEXT_ENTRY_HEAD), length, code);
    p += TEXT_ENTRY_HEAD + length;
  }
}

void readScoreTrackHead(uint32_t chunk) {
  const uint8_t n = at(chunk + TRACK_NUMBER);
  r->group = n >= 1 && n <= smaf::SCORE_TRACKS ? uint8_t((n - 1) * smaf::TRACK_CHANNELS) : 0;
  if (n == smaf::TRACK_4VOICE) songStats.formatVersion = 100;
  if (n >= 1 && n <= smaf::SCORE_TRACKS) songStats.formatVersion = 200;
  if (n == smaf::TRACK_40VOICE) songStats.formatVersion = 300;
  r->durationBase = timeBase(at(chunk + TRACK_DURATION_BASE), r->durationBase);
  r->gateBase = timeBase(at(chunk + TRACK_GATE_BASE), r->gateBase);
  r->formatType = at(chunk + TRACK_FORMAT);
  r->mobile = r->formatType != smaf::FORMAT_TYPE_HANDY;
  if (r->formatType > smaf::FORMAT_TYPE_MA7) reportUnsupported("a score in an unknown format");
  if (!r->mobile) {
    for (int i = 0; i < smaf::TRACK_CHANNELS; ++i) {
      const uint8_t byte = at(chunk + TRACK_CHANNEL_STATUS + i / 2);
      const uint8_t status = uint8_t(i % 2 == 0 ? byte & 0xF0 : byte << 4);
      const int channel = r->group + i;
      if ((status & HANDY_STATUS_RHYTHM) == HANDY_STATUS_RHYTHM)
        writer.DRUM_CHANNEL_MASK |= uint16_t(1u << channel);
      if (status & HANDY_STATUS_VIBRATION) songStats.vibrationMask |= uint16_t(1u << channel);
    }
    return;
  }
  writer.DRUM_CHANNEL_MASK = RESET_DRUM_CHANNEL_MASK;
  for (int channel = 0; channel < CHANNELS; ++channel) {
    const uint8_t status = at(chunk + TRACK_CHANNEL_STATUS + channel);
    const uint16_t bit = uint16_t(1u << channel);
    switch (status & MOBILE_STATUS_KIND) {
      case 3:
        writer.DRUM_CHANNEL_MASK |= bit;
        break;
      case 1:
      case 2:
        writer.DRUM_CHANNEL_MASK &= uint16_t(~bit);
        break;
      default:
        break;
    }
    if (status & smaf::STATUS40_LED) songStats.ledMask |= bit;
    if (status & smaf::STATUS40_VIBRATION) songStats.vibrationMask |= bit;
  }
}

// Coding of a wave type's format and width; CODING_NONE when it cannot be decoded.
uint32_t waveCoding(uint8_t format, uint8_t width, uint8_t adpcmFormat, uint8_t offsetFormat) {
  if (width == WIDTH_4 || format == adpcmFormat) return ADPCM_YAMAHA;
  const bool offset = format == offsetFormat;
  if (width == WIDTH_8) return offset ? WAVE_PCM8_OFFSET : WAVE_PCM8;
  if (width == WIDTH_16) return offset ? WAVE_PCM16_OFFSET : WAVE_PCM16;
  return CODING_NONE;
}

void readAudioTrackHead(uint32_t chunk) {
  r->group = 0;
  r->mobile = false;
  const uint8_t type = at(chunk + AUDIO_WAVE_TYPE);
  r->waveRate = type & 0x0F;
  r->waveCoding = waveCoding((type >> 4) & 7, at(chunk + AUDIO_WAVE_WIDTH) >> 4, AUDIO_FORMAT_ADPCM,
                             AUDIO_FORMAT_OFFSET);
  r->durationBase = timeBase(at(chunk + AUDIO_DURATION_BASE), r->durationBase);
  r->gateBase = timeBase(at(chunk + AUDIO_GATE_BASE), r->gateBase);
}

// Reads the delta before a track's next event; the track ends when there is none.
void readDelta(SequenceTrack& t) {
  if (t.pos >= t.end) {
    t.ended = true;
    return;
  }
  uint32_t used = 0;
  const uint8_t* p = t.data + t.pos;
  const uint32_t delta =
      t.mobile ? readVarLen(p, t.end - t.pos, &used) : readSmafVarLen(p, t.end - t.pos, &used);
  if (used == 0 || (p[used - 1] & 0x80)) {
    t.ended = true;  // the quantity runs past the chunk
    return;
  }
  t.pos += used;
  t.time =
      uint32_t(std::min<uint64_t>(uint64_t(t.time) + uint64_t(delta) * t.durationBase, MAX_TIME));
}

// A compressed score is read from its decompressed bytes; null when it cannot be decompressed
// (a cut chunk is damage the scan reports; a whole one that fails is a score we cannot decode).
const std::vector<uint8_t>* decompressedSequence(uint32_t data, uint32_t end, bool whole) {
  std::vector<uint8_t> plain;
  if (!smaf::decompressSequence(r->image + data, end - data, &plain)) {
    if (whole) reportUnsupported("a compressed score");
    return nullptr;
  }
  r->decoded.push_back(std::move(plain));
  return &r->decoded.back();
}

void registerSequence(uint32_t chunk, uint32_t end, uint8_t kind, bool whole = true) {
  if (r->trackCount >= MAX_TRACKS) return;
  if (kind == TRACK_SCORE && !r->phrase && r->formatType > smaf::FORMAT_TYPE_MA7) return;
  const bool score = kind == TRACK_SCORE && !r->phrase;
  const uint32_t data = std::min(chunk + smaf::HEAD_SIZE, end);
  const std::vector<uint8_t>* plain = nullptr;
  if (score && r->formatType == smaf::FORMAT_TYPE_COMPRESSED) {
    plain = decompressedSequence(data, end, whole);
    if (!plain) return;
  }
  SequenceTrack& t = r->track[r->trackCount++];
  t = SequenceTrack{};
  t.data = plain ? plain->data() : r->image;
  t.start = plain ? 0 : data;
  t.pos = t.start;
  t.end = plain ? uint32_t(plain->size()) : end;
  t.kind = kind;
  t.durationBase = r->phrase ? r->phraseTick : r->durationBase;
  t.gateBase = r->phrase ? r->phraseTick : r->gateBase;
  t.group = score ? r->group : 0;
  t.mobile = score && r->mobile;
  t.ma7 = score && r->formatType == smaf::FORMAT_TYPE_MA7;
  t.phrase = kind == TRACK_SCORE && r->phrase;
  readDelta(t);
}

// Seek and phrase information: "st" and "sp" give the play-range cue offsets.
void readSeekPhrase(uint32_t chunk, uint32_t end) {
  uint32_t p = chunk + smaf::HEAD_SIZE;
  while (uint64_t(p) + 3 <= end) {
    const bool start = r->image[p] == 's' && r->image[p + 1] == 't';
    const bool stop = r->image[p] == 's' && r->image[p + 1] == 'p';
    if ((start || stop) && uint64_t(p) + CUE_ENTRY_VALUE + 4 <= end) {
      const uint32_t offset = getBE(r->image + p + CUE_ENTRY_VALUE, 4);
      (start ? r->cueStart : r->cueStop) = offset;
      (start ? r->cueStartSet : r->cueStopSet) = true;
      p += CUE_ENTRY_VALUE + 4;
      if (p < end && r->image[p] == ',') ++p;
      continue;
    }
    // Any other entry runs to its comma.
    const void* comma = std::memchr(r->image + p + 3, ',', end - (p + 3));
    if (!comma) break;
    p = uint32_t(static_cast<const uint8_t*>(comma) - r->image) + 1;
  }
}

// Handy-phone voice: FF F0 size 43 03 slot flags number, voice bytes, F7.
void readVoice(const uint8_t* m, uint32_t size) {
  const uint32_t body = m[2];
  if (body < VOICE_BODY_EXTRA) return;
  uint32_t voiceBytes = body - VOICE_BODY_EXTRA;
  if (voiceBytes != FM2_SIZE && voiceBytes != FM4_SIZE) return;
  if (VOICE_BYTES + voiceBytes > size) return;
  const uint8_t* voice = m + VOICE_BYTES;
  if (voiceBytes == FM4_SIZE && getBE(voice + FM4_UPPER_OPERATORS - VOICE_BYTES, 4) == 0)
    voiceBytes = FM2_SIZE;
  const int kind = voiceBytes == FM2_SIZE ? 1 : 2;
  const uint8_t flags = m[VOICE_FLAGS];
  const uint8_t number = m[VOICE_NUMBER] & 0x7F;
  int code = lookupFmVoice(voice, kind);
  if (code == 0) code = (flags & smaf::VOICE_FLAG_RHYTHM) + number + 1;
  r->programRemap[(flags & smaf::VOICE_FLAG_RHYTHM) + number] = uint8_t(code);
  uint8_t definition[4 + FM4_SIZE];
  definition[0] = uint8_t(kind);
  definition[1] = 0;
  definition[2] = m[VOICE_SLOT];
  definition[3] = uint8_t(code - 1);
  std::memcpy(definition + 4, voice, voiceBytes);
  submitMeta(r->sink, 0, 0, META_VOICE, definition, 4 + voiceBytes);
}

// Extended voice: F0 size 43 79 06 7F .. bank .. program note kind, voice record.
void readExtendedVoice(const uint8_t* m, uint32_t size, uint32_t body) {
  if (size <= EXT_KIND) return;
  const int kind = int(body >> 4) + 2;
  uint32_t available = size > EXT_RECORD ? size - EXT_RECORD : 0;
  if (available > 0 && m[size - 1] == smaf::EXCLUSIVE_END) --available;
  int code = lookupVoiceRecord(m + std::min(size, EXT_RECORD), kind, available);
  if (code >= RHYTHM_CODE_MIN) r->rhythmRemap[m[EXT_NOTE] & 0x7F] = uint8_t(code);
  const uint8_t program = m[EXT_PROGRAM] & 0x7F;
  if (code == 0) code = program + (m[EXT_KIND] == EXT_KIND_WAVE ? 128 : 0) + 1;
  r->programRemap[program + (m[EXT_BANK] == EXT_BANK_RHYTHM ? 128 : 0)] = uint8_t(code);
}

// A setup exclusive (its length byte or quantity already read) into the voice set; the closing
// F7 is not part of the record.
void decodeSetupPayload(const uint8_t* payload, uint32_t length) {
  if (length > 0 && payload[length - 1] == smaf::EXCLUSIVE_END) --length;
  smaf::decodeSetupRecord(payload, length, r->voices.get());
}

// Setup chunk: a run of exclusives, FF F0 with a one-byte length (HandyPhone) or F0 with a
// variable-length quantity (Mobile, MA-7). Each one that defines a voice, wave or user waveform
// joins the voice set; the voices of the HandyPhone form and MA-3 voices also remap programs
// to General MIDI ones. Anything that is not an exclusive ends the run.
void readSetup(uint32_t chunk, uint32_t end) {
  uint32_t p = chunk + smaf::HEAD_SIZE;
  while (p < end && !r->sink.full) {
    const uint8_t* m = r->image + p;
    const uint32_t left = end - p;
    if (left >= 3 && m[0] == ST_META && m[1] == ST_EXCLUSIVE) {
      const uint32_t size = 3 + m[2];
      if (size > left) return;
      decodeSetupPayload(m + 3, m[2]);
      if (m[2] >= 2 && std::memcmp(m + 3, VOICE_HEAD, 2) == 0) readVoice(m, size);
      p += size;
      continue;
    }
    if (left >= 2 && m[0] == ST_EXCLUSIVE) {
      uint32_t lengthBytes = 0;
      const uint32_t body = readVarLen(m + 1, left - 1, &lengthBytes);
      if (lengthBytes == 0 || (m[lengthBytes] & 0x80)) return;
      const uint64_t size = uint64_t(1) + lengthBytes + body;
      if (size > left) return;
      decodeSetupPayload(m + 1 + lengthBytes, body);
      // The offsets of the extended voice count from F0 with a one-byte length.
      if (lengthBytes == 1 && body >= 4 && std::memcmp(m + 2, EXT_VOICE_HEAD, 4) == 0)
        readExtendedVoice(m, uint32_t(size), body);
      p += uint32_t(size);
      continue;
    }
    return;
  }
}

// Phrase head: a version byte, then the tick length in milliseconds. Its four channels are the
// first four of the stream.
void readPhraseHead(uint32_t chunk) {
  r->phrase = true;
  r->phraseTick = std::max<uint32_t>(1, at(chunk + PHRASE_TICK));
  r->group = 0;
  r->mobile = false;
}

// A Phrase voice: FF F0 length, then the exclusive (as in a HandyPhone setup chunk).
void readPhraseVoice(uint32_t body, uint32_t end) {
  if (body + 3 > end || r->image[body] != ST_META || r->image[body + 1] != ST_EXCLUSIVE) return;
  const uint8_t* m = r->image + body;
  const uint32_t size = 3 + m[2];
  if (size > end - body) return;
  decodeSetupPayload(m + 3, m[2]);
  if (m[2] >= 2 && std::memcmp(m + 3, VOICE_HEAD, 2) == 0) readVoice(m, size);
}

// Rate code of the wave data event: the code of one of the five wave rates, else the rate in
// 250 Hz steps, else the nearest wave rate. The exact rate travels in the coding event.
uint8_t rateCodeOf(uint32_t rate) {
  uint8_t best = 0;
  for (uint8_t code = 0; code < 5; ++code) {
    if (rate == WAVE_RATES[code]) return code;
    const uint32_t d = rate > WAVE_RATES[code] ? rate - WAVE_RATES[code] : WAVE_RATES[code] - rate;
    const uint32_t b = rate > WAVE_RATES[best] ? rate - WAVE_RATES[best] : WAVE_RATES[best] - rate;
    if (d < b) best = code;
  }
  const uint32_t steps = rate / RATE_STEP_HZ;
  if (rate % RATE_STEP_HZ == 0 && steps >= RATE_STEP_CODE_MIN && steps <= RATE_STEP_CODE_MAX)
    return uint8_t(steps);
  return best;
}

// A wave: the coding event (wave number, coding, rate), then the wave data event (wave number,
// rate code, samples) and a wave-list entry. A wave without rate or known coding keeps its
// entry and gives a wave data event without samples.
bool submitCodedWave(uint8_t number, uint32_t coding, uint32_t rate, uint32_t offset,
                     uint32_t length) {
  if (songStats.waveCount >= MAX_WAVES) return true;  // more waves than the song keeps
  const bool samples = rate != 0 && coding != CODING_NONE;
  const uint8_t rateCode = samples ? rateCodeOf(rate) : WAVE_RATE_NONE;
  WaveEntry& entry = songStats.waves[songStats.waveCount++];
  entry = WaveEntry{samples ? rate : 0, offset, length};
  entry.coding = uint8_t(samples ? coding : 0);
  if (samples && length > 0) songStats.hasVoiceSamples = true;
  if (samples) {
    uint8_t head[6] = {number, uint8_t(coding)};
    putBE(head + 2, rate, 4);
    if (!submitMeta(r->sink, 0, 0, META_WAVE_CODING, head, sizeof head)) return false;
  }
  return submitWave(r->sink, 0, 0, number, rateCode, r->image + offset, length);
}

// Wave of an audio track, at the rate and in the coding its track head gave.
void readAudioWave(uint32_t chunk, uint32_t end) {
  const uint32_t data = std::min(chunk + smaf::HEAD_SIZE, end);
  // A rate code the formats do not define leaves the wave without a rate rather than at one.
  const uint32_t rate = r->waveRate < 5 ? WAVE_RATES[r->waveRate] : 0;
  submitCodedWave(at(chunk + 3), r->waveCoding, rate, data, end - data);
}

// Stream wave: wave type, 16-bit rate in Hz, samples. Every rate is kept.
void readStreamWave(uint32_t chunk, uint32_t end) {
  if (uint64_t(chunk) + STREAM_WAVE_DATA > end) return;
  const uint8_t type = at(chunk + STREAM_WAVE_FORMAT);
  const uint32_t coding =
      waveCoding((type >> 4) & 7, type & 0x0F, STREAM_FORMAT_ADPCM, STREAM_FORMAT_OFFSET);
  const uint32_t rate = getBE(r->image + chunk + STREAM_WAVE_RATE, 2);
  const uint32_t data = chunk + STREAM_WAVE_DATA;
  submitCodedWave(at(chunk + 3), coding, rate, data, end - data);
}

// Scans the chunks of a parent's body, from `pos` to `limit`. Container chunks (the file, the
// tracks, the stream-wave list, a Phrase file's chunks) are scanned within their own bounds; a
// chunk whose length runs past its parent is damage (past the image, the read report says so).
void scanChunks(uint32_t pos, uint32_t limit, bool inOptionalData) {
  while (uint64_t(pos) + smaf::HEAD_SIZE <= limit && !r->sink.full) {
    const uint32_t length = getBE(r->image + pos + 4, 4);
    const uint64_t declaredEnd = uint64_t(pos) + smaf::HEAD_SIZE + length;
    if (declaredEnd > limit && limit < r->size) reportDamage("a chunk runs past its parent");
    const bool whole = declaredEnd <= limit;
    const uint32_t end = std::min(limit, clipEnd(declaredEnd));
    const uint32_t body = pos + smaf::HEAD_SIZE;
    auto is = [pos](const char* id) { return idIs(pos, id, uint32_t(std::strlen(id))); };
    auto inner = [end](uint64_t from) { return uint32_t(std::min<uint64_t>(from, end)); };
    if (is(smaf::ID_FILE)) {
      // The file's chunks stop at its CRC.
      const uint32_t crcStart =
          length >= smaf::CRC_SIZE ? inner(declaredEnd - smaf::CRC_SIZE) : body;
      scanChunks(body, std::max(body, crcStart), false);
    } else if (is(smaf::ID_STREAM_WAVES) || is(ID_PHRASE_VOICES)) {
      scanChunks(body, end, inOptionalData);
    } else if (is(smaf::ID_OPTIONAL_DATA)) {
      if (!inOptionalData) scanChunks(body, end, true);
    } else if (is(ID_PHRASE)) {
      readPhraseHead(pos);
      scanChunks(inner(uint64_t(body) + PHRASE_HEAD_SIZE), end, false);
      r->phrase = false;
    } else if (is(smaf::ID_SCORE_TRACK)) {
      readScoreTrackHead(pos);
      const uint32_t head = TRACK_CHANNEL_STATUS_OFFSET + smaf::channelStatusBytes(r->formatType);
      scanChunks(inner(uint64_t(pos) + head), end, false);
    } else if (is(smaf::ID_AUDIO_TRACK)) {
      readAudioTrackHead(pos);
      scanChunks(inner(uint64_t(pos) + AUDIO_TRACK_HEAD), end, false);
    } else if (is(smaf::ID_GRAPHICS_TRACK)) {
      r->durationBase = timeBase(at(pos + GRAPHICS_DURATION_BASE), r->durationBase);
      scanChunks(inner(uint64_t(pos) + GRAPHICS_TRACK_HEAD + at(pos + GRAPHICS_EXTRA_HEAD)), end,
                 false);
    } else if (is(smaf::ID_CONTENTS)) {
      readContents(pos, end);
    } else if (is(smaf::ID_DATA_CHUNK)) {
      readDataChunk(pos, end);
    } else if (is(smaf::ID_SEQUENCE) || (r->phrase && is(ID_PHRASE_SEQUENCE))) {
      registerSequence(pos, end, TRACK_SCORE, whole);
    } else if (is(smaf::ID_AUDIO_SEQUENCE)) {
      registerSequence(pos, end, TRACK_AUDIO);
    } else if (is(ID_GRAPHICS_SEQUENCE_PREFIX)) {
      registerSequence(pos, end, TRACK_GRAPHICS);
    } else if (is(ID_SEEK_PHRASE)) {
      readSeekPhrase(pos, end);
    } else if (is(smaf::ID_SETUP)) {
      readSetup(pos, end);
    } else if (is(ID_PHRASE_VOICE)) {
      readPhraseVoice(body, end);
    } else if (is(smaf::ID_WAVE_DATA)) {
      readAudioWave(pos, end);
    } else if (is(smaf::ID_STREAM_WAVE)) {
      readStreamWave(pos, end);
    }
    pos = end;
  }
}

// ---- Events ---------------------------------------------------------------------------------

int partChannel(const SequenceTrack& t, int part) {
  return (t.group + (part & 3)) & 0x0F;
}

// The kind of voice a selection plays: on Mobile and MA-7 scores the bank says it (0x7C the
// file's melodic voices, 0x7D its drum voices, others built-in ones); on HandyPhone and Phrase
// scores a file voice of that bank and program, else a built-in one.
smaf::BindingKind bindingKind(const SequenceTrack& t, const smaf::ChannelBinding& b) {
  if (t.mobile) {
    if (b.bankMsb == smaf::BANK_USER_MELODIC) return smaf::BindingKind::CUSTOM_MELODIC;
    if (b.bankMsb == smaf::BANK_USER_DRUM) return smaf::BindingKind::CUSTOM_DRUM;
    return smaf::BindingKind::BUILT_IN;
  }
  smaf::ChannelBinding probe = b;
  probe.kind = smaf::BindingKind::CUSTOM_MELODIC;
  if (!r->voices->find(probe, 0)) return smaf::BindingKind::BUILT_IN;
  return b.drum ? smaf::BindingKind::CUSTOM_DRUM : smaf::BindingKind::CUSTOM_MELODIC;
}

// Records what a channel selects when a note plays on it and the selection changed since.
void bindChannel(const SequenceTrack& t, int channel) {
  const uint32_t key = uint32_t(r->bankMsb[channel]) << 16 | uint32_t(r->bankLsb[channel]) << 8 |
                       r->program[channel];
  if (r->boundKey[channel] == key) return;
  r->boundKey[channel] = key;
  if (!t.mobile) r->voices->handyPhone = true;
  smaf::ChannelBinding b;
  b.time = t.time;
  b.channel = uint8_t(channel);
  b.bankMsb = r->bankMsb[channel];
  b.bankLsb = r->bankLsb[channel];
  b.program = r->program[channel];
  b.drum = t.mobile ? b.bankMsb == smaf::BANK_USER_DRUM : (b.bankMsb & smaf::BANK_HANDY_DRUM) != 0;
  b.kind = bindingKind(t, b);
  r->voices->bindings.push_back(b);
}

// Long control (0x00, c, v): by the low nibble of c.
bool readLongControl(int ti, const SequenceTrack& t, int channel, uint8_t x, uint8_t v) {
  const uint32_t time = t.time;
  switch (x) {
    case LONG_PROGRAM:
      r->program[channel] = v & 0x7F;
      return submitRemappedProgram(ti, time, channel, v, false);
    case LONG_BANK:
      r->bankMsb[channel] = v;
      return submitControl(r->sink, time, ti, channel, CC_RHYTHM_PART, v > 127 ? 1 : 0);
    case LONG_OCTAVE:
      r->octave[channel] = int8_t((v & smaf::OCTAVE_NEGATIVE) ? -(v & 0x7F) : (v & 0x7F));
      return true;
    case LONG_MODULATION:
      return submitControl(r->sink, time, ti, channel, CC_MODULATION, v);
    case LONG_BEND:
      return submitBend(r->sink, time, ti, channel, 0, v);
    case LONG_VOLUME:
      return submitControl(r->sink, time, ti, channel, CC_VOLUME, v);
    case LONG_PAN:
      return submitControl(r->sink, time, ti, channel, CC_PAN, v);
    case LONG_EXPRESSION:
      return submitControl(r->sink, time, ti, channel, CC_EXPRESSION, v);
    default:
      return true;
  }
}

bool readShortControl(int ti, const SequenceTrack& t, int channel, uint8_t kind, uint8_t x) {
  switch (kind) {
    case CLASS_EXPRESSION: {
      const int v = x <= 3 ? (x - 1) * 16 : x <= 13 ? (x + 2) * 8 : 127;
      return submitControl(r->sink, t.time, ti, channel, CC_EXPRESSION, uint8_t(v));
    }
    case CLASS_BEND:
      return submitBend(r->sink, t.time, ti, channel, 0, uint8_t(x * 8));
    default: {
      const int v = x <= 10 ? (x - 1) * 8 : x <= 13 ? (x - 6) * 16 : 127;
      return submitControl(r->sink, t.time, ti, channel, CC_MODULATION, uint8_t(v));
    }
  }
}

// One event of a handy-phone score or audio track; returns its size, 0 when it runs past the
// track (the track then ends).
uint32_t readHandyEvent(int ti) {
  SequenceTrack& t = r->track[ti];
  const uint8_t* p = t.data + t.pos;
  const uint32_t avail = t.end - t.pos;
  const uint8_t b = p[0];
  if (b == smaf::EV_CONTROL) {
    if (avail < 2) return 0;
    const uint8_t c = p[1];
    // Phrase control code 0 is a fine tune with one value byte (not applied); Phrase sequences
    // have no end-of-sequence record.
    if (t.phrase && (c & PHRASE_CODE_MASK) == 0) return avail >= 3 ? 3 : 0;
    if (c == 0 && avail >= 3 && p[2] == 0) {
      t.sawEnd = true;
      return 3;
    }
    const int channel = partChannel(t, c >> 6);
    if ((c & CONTROL_CLASS) == CONTROL_CLASS) {
      if (avail < 3) return 0;
      const uint8_t x = c & 0x0F;
      if (t.kind == TRACK_AUDIO) {
        if (x == LONG_VOLUME) submitMetaByte(r->sink, t.time, ti, META_WAVE_LEVEL, p[2] & 0x7F);
      } else {
        readLongControl(ti, t, channel, x, p[2]);
      }
      return 3;
    }
    const uint8_t x = c & 0x0F;
    if (t.kind == TRACK_AUDIO || x == SHORT_NONE_LOW || x == SHORT_NONE_HIGH) return 2;
    readShortControl(ti, t, channel, c & CONTROL_CLASS, x);
    return 2;
  }
  if (b == ST_META) {
    if (avail < 2) return 0;
    if (p[1] != ST_EXCLUSIVE) return 2;
    if (avail < 3) return 0;
    const uint32_t length = p[2];
    if (3 + length > avail) return 0;
    const uint8_t* body = p + 3;
    if (t.kind == TRACK_SCORE && length >= 5 && std::memcmp(body, REGISTER_MESSAGE, 3) == 0) {
      const uint8_t reg = body[3];
      const uint8_t controller =
          (reg & 0xF0) == REGISTER_PITCH_LOW_NIBBLE ? CC_FREQ_LOW : CC_FREQ_HIGH;
      submitControl(r->sink, t.time, ti, partChannel(t, reg & 0x0F), controller, body[4]);
    }
    return 3 + length;
  }
  // A note, then its gate time.
  uint32_t used = 0;
  const uint32_t gate = readSmafVarLen(p + 1, avail - 1, &used);
  if (used == 0 || (p[used] & 0x80)) return 0;
  const uint64_t duration = uint64_t(gate) * t.gateBase;
  if (t.kind == TRACK_AUDIO) {
    submitNote(r->sink, t.time, ti, WAVE_NOTE_STATUS, b, NOTE_VELOCITY, duration);
  } else {
    const int channel = partChannel(t, b >> 6);
    int note = ((b >> 4) & 3) * 12 + (b & 0x0F) + r->octave[channel] * 12 + HANDY_NOTE_BASE;
    bindChannel(t, channel);
    if (isRhythm(channel) && (r->rhythmNoteSet >> channel & 1)) note = r->rhythmNote[channel];
    if (note >= 0 && note < 128)
      submitNote(r->sink, t.time, ti, uint8_t(ST_TIMED_NOTE | channel), note, NOTE_VELOCITY,
                 duration);
  }
  return 1 + used;
}

bool readMobileNote(int ti, const SequenceTrack& t, int channel, int note, int velocity,
                    uint32_t value) {
  const uint64_t duration = uint64_t(value) * t.gateBase;
  bindChannel(t, channel);
  if (isRhythm(channel) && r->rhythmRemap[note & 0x7F])
    note = (r->rhythmRemap[note & 0x7F] - 1) & 0x7F;
  if (r->waveChannels >> channel & 1) {
    if (note < WAVE_NOTE_LOW_END)
      return submitNote(r->sink, t.time, ti, WAVE_NOTE_STATUS, note + 1, velocity, duration);
    if (note >= WAVE_NOTE_HIGH_FIRST && note <= WAVE_NOTE_HIGH_LAST)
      return submitNote(r->sink, t.time, ti, WAVE_NOTE_STATUS, note - WAVE_NOTE_HIGH_OFFSET,
                        velocity, duration);
  }
  return submitNote(r->sink, t.time, ti, uint8_t(ST_TIMED_NOTE | channel), note, velocity,
                    duration);
}

// One event of a mobile-standard score track: a MIDI channel message with its own status.
uint32_t readMobileEvent(int ti) {
  SequenceTrack& t = r->track[ti];
  const uint8_t* p = t.data + t.pos;
  const uint32_t avail = t.end - t.pos;
  uint8_t status = p[0];
  int channel = status & 0x0F;
  if (t.ma7) {
    // Channels 16-31 of an MA-7 score share the stream's 16 channels (see MA7_CHANNEL_FOLD).
    if (status != ST_EXCLUSIVE && status != ST_META && (status & MA7_TYPE_MASK) == MA7_TYPE_UNUSED)
      return 0;
    const smaf::Ma7Status unpacked = smaf::unpackMa7Status(status);
    channel = unpacked.channel % MA7_CHANNEL_FOLD;
    status = unpacked.status == ST_EXCLUSIVE || unpacked.status == ST_META
                 ? unpacked.status
                 : uint8_t(unpacked.status | channel);
  }
  auto varLenAt = [&](uint32_t offset, uint32_t* used) -> uint32_t {
    if (offset >= avail) {
      *used = 0;
      return 0;
    }
    const uint32_t v = readVarLen(p + offset, avail - offset, used);
    if (*used == 0 || (p[offset + *used - 1] & 0x80)) *used = 0;
    return v;
  };
  uint32_t used = 0;
  switch (status & 0xF0) {
    case ST_NOTE_OFF: {
      const uint32_t value = varLenAt(2, &used);
      if (used == 0) return 0;
      readMobileNote(ti, t, channel, p[1] & 0x7F, r->velocity[channel], value);
      return 2 + used;
    }
    case ST_NOTE: {
      const uint32_t value = varLenAt(3, &used);
      if (used == 0) return 0;
      r->velocity[channel] = p[2] & 0x7F;
      readMobileNote(ti, t, channel, p[1] & 0x7F, r->velocity[channel], value);
      return 3 + used;
    }
    case ST_POLY_PRESSURE:
      return avail >= 3 ? 3 : 0;
    case ST_CONTROL: {
      if (avail < 3) return 0;
      uint8_t controller = p[1] & 0x7F;
      const uint8_t value = p[2] & 0x7F;
      if (controller == CC_BANK_LSB) r->bankLsb[channel] = value;
      if (controller == CC_BANK_MSB) {
        r->bankMsb[channel] = value;
        if (value == BANK_WAVE)
          r->waveChannels |= uint16_t(1u << channel);
        else
          r->waveChannels &= uint16_t(~(1u << channel));
      } else if (controller == CC_DATA_ENTRY && writer.ch[channel].rpn == 0) {
        controller = CC_BEND_RANGE;
      }
      submitControl(r->sink, t.time, ti, channel, controller, value);
      return 3;
    }
    case ST_PROGRAM:
      if (avail < 2) return 0;
      r->program[channel] = p[1] & 0x7F;
      submitRemappedProgram(ti, t.time, channel, p[1], true);
      return 2;
    case ST_CHANNEL_PRESSURE:
      return avail >= 2 ? 2 : 0;
    case ST_PITCH_BEND:
      if (avail < 3) return 0;
      submitBend(r->sink, t.time, ti, channel, p[1], p[2]);
      return 3;
    default:
      break;
  }
  if (status == ST_EXCLUSIVE) {
    const uint32_t length = varLenAt(1, &used);
    if (used == 0 || length > avail - 1 - used) return 0;
    const uint8_t* body = p + 1 + used;
    if (length > MASTER_VOLUME_VALUE && std::memcmp(body, MASTER_VOLUME_BODY, 4) == 0)
      submitMetaByte(r->sink, t.time, ti, META_MASTER_VOLUME, body[MASTER_VOLUME_VALUE] & 0x7F);
    return 1 + used + length;
  }
  if (status == ST_META) {
    if (avail < 2) return 0;
    if (p[1] == META_END_OF_TRACK) {
      if (avail < 3) return 0;
      t.sawEnd = true;
      return 3;
    }
    return 2;  // no operation, and types this form does not define
  }
  return 0;  // a data byte or a status this form does not use: the track cannot go on
}

// One event of a graphics track: short events are one byte; text events carry a length, a
// display time and a list of entries whose lyric entries become lyric events.
uint32_t readGraphicsEvent(int ti) {
  SequenceTrack& t = r->track[ti];
  const uint8_t* p = t.data + t.pos;
  const uint32_t avail = t.end - t.pos;
  if (p[0] < GRAPHICS_TEXT_EVENT_MIN) return 1;
  uint32_t used = 0;
  const uint32_t length = readSmafVarLen(p + 1, avail - 1, &used);
  if (used == 0 || (p[used] & 0x80) || length > avail - 1 - used) return 0;
  const uint8_t* body = p + 1 + used;
  uint32_t q = 0;
  uint32_t n = 0;
  readSmafVarLen(body, length, &n);  // how long the text stays shown
  q += n;
  while (q < length && !r->sink.full) {
    const uint8_t type = body[q++];
    if (type == 0) break;
    if (type >= TEXT_ENTRY_PARAMETERS) {
      q += 2;
      continue;
    }
    const uint32_t textLength = readSmafVarLen(body + q, length - q, &n);
    if (n == 0 || (body[q + n - 1] & 0x80)) break;
    q += n;
    const uint32_t take = std::min(textLength, length - q);
    if (type == TEXT_ENTRY_LYRIC) {
      uint32_t k = take;
      while (k > 0 && body[q + k - 1] == 0) --k;  // the line's closing zero
      if (k > 0) submitMeta(r->sink, t.time, ti, META_LYRIC, body + q, k);
    }
    q += take;
  }
  return 1 + used + length;
}

// Play-range cues stand at offsets of the first sequence chunk.
void checkCues(uint32_t pos, uint32_t time) {
  if (r->trackCount == 0) return;
  const uint64_t base = r->track[0].start;
  if (r->cueStartSet && !r->cueStartDone && pos >= base + r->cueStart) {
    r->cueStartDone = true;
    submitMetaByte(r->sink, time, 0, META_CUE, 0);
  }
  if (r->cueStopSet && !r->cueStopDone && pos >= base + r->cueStop) {
    r->cueStopDone = true;
    submitMetaByte(r->sink, time, 0, META_CUE, 1);
  }
}

void readEvent(int ti) {
  SequenceTrack& t = r->track[ti];
  if (t.pos >= t.end) {
    t.ended = true;
    return;
  }
  uint32_t size;
  if (t.kind == TRACK_GRAPHICS)
    size = readGraphicsEvent(ti);
  else if (t.mobile)
    size = readMobileEvent(ti);
  else
    size = readHandyEvent(ti);
  if (r->sink.full) return;
  if (size == 0 || size > t.end - t.pos) {
    t.ended = true;
    return;
  }
  t.pos += size;
  if (t.sawEnd) {
    t.ended = true;  // what follows the end of sequence is not part of the score
    return;
  }
  readDelta(t);
}

void mergeTracks() {
  for (;;) {
    int best = -1;
    for (int i = 0; i < r->trackCount; ++i) {
      if (r->track[i].ended) continue;
      if (best < 0 || r->track[i].time < r->track[best].time) best = i;
    }
    if (best < 0) return;
    SequenceTrack& t = r->track[best];
    if (best == 0) checkCues(t.pos, t.time);
    if (r->sink.full) return;
    readEvent(best);
    if (r->sink.full) return;
    if (t.ended) {
      r->endTime = std::max(r->endTime, t.time);
      if (best == 0) checkCues(t.end, t.time);
      if (r->sink.full) return;
    }
  }
}

// Where reading ended: the file chunk's length (and the EZweb trailer after it, which belongs to
// the format); whether the CRC matches; whether every score reached its end of sequence.
void reportEnd() {
  const bool file = r->size >= smaf::HEAD_SIZE && std::memcmp(r->image, smaf::ID_FILE, 4) == 0;
  uint64_t reach = file ? smaf::HEAD_SIZE + uint64_t(getBE(r->image + 4, 4)) : 0;
  if (file && reach + sizeof smaf::EZWEB_TRAILER == r->size &&
      std::memcmp(r->image + reach, smaf::EZWEB_TRAILER, sizeof smaf::EZWEB_TRAILER) == 0)
    reach = r->size;
  reportRead(r->size, reach);
  const uint64_t crcAt = file ? smaf::HEAD_SIZE + uint64_t(getBE(r->image + 4, 4)) : 0;
  if (file && crcAt >= smaf::HEAD_SIZE + smaf::CRC_SIZE && crcAt <= r->size) {
    const uint32_t covered = uint32_t(crcAt - smaf::CRC_SIZE);
    reportChecksum(crc16(r->image, covered) == getBE(r->image + covered, 2));
  }
  if (r->sink.full) return;  // the output filled up: the tracks were not read to their ends
  for (int i = 0; i < r->trackCount; ++i) {
    const SequenceTrack& t = r->track[i];
    if (t.kind == TRACK_SCORE && !t.phrase && !t.sawEnd)
      reportDamage("a score track ends without its end of sequence");
  }
}

// Downstream stages start from channel 10 as the only rhythm channel; a channel the track heads
// marked otherwise is said so in the stream.
void submitRhythmChannels() {
  const uint16_t mask = writer.DRUM_CHANNEL_MASK;
  for (int channel = 0; channel < CHANNELS; ++channel) {
    const bool rhythm = (mask >> channel) & 1;
    if (rhythm == bool((RESET_DRUM_CHANNEL_MASK >> channel) & 1)) continue;
    if (!submitControl(r->sink, 0, 0, channel, CC_RHYTHM_PART, rhythm ? 1 : 0)) return;
  }
}

}  // namespace

void readSmaf(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
              int32_t* destinationSize, uint32_t capacity) {
  r = &threadRecord<SmafReader>();
  *destinationSize = 0;
  // Room for the header, the track head, the tempo and the end of track in every case.
  if (!beginReaderStream(destination, capacity, EMPTY_STREAM_SIZE + 16, SMAF_TIMEBASE)) return;
  resetReader(source ? source : destination, source ? sourceSize : 0, destination, capacity);
  song.read = ReadReport();
  writer.tempoBpm = SMAF_TEMPO_BPM;
  writer.DRUM_CHANNEL_MASK = 0;
  writeTrackChunk(destination);

  submitTempo(r->sink, 0, 0, SMAF_TEMPO_MICROS);
  scanChunks(0, r->size, false);
  if (!r->sink.full) submitRhythmChannels();
  if (!r->sink.full) mergeTracks();
  // The song lasts to the latest end of a track (a closing rest included), unless cut short.
  if (!r->sink.full) writer.now = std::max(writer.now, r->endTime);
  reportEnd();
  smaf::setSongVoices(r->voices);

  endReaderStream(destination, destinationSize);
}

}  // namespace vlm
