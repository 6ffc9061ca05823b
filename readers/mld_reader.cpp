// Reader of i-melody files ("melo", .mld/.dlm) and EZweb PMD files ("cmid"). Both share one
// chunked container: a header with information chunks, then up to four "trac" chunks whose
// events are merged by time into one VStream chunk.
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/codec.h"
#include "core/conversion_options.h"
#include "core/reader_events.h"
#include "core/stages.h"
#include "core/thread_record.h"
#include "core/vstream.h"
#include "formats/mld_format.h"

namespace vlm {

namespace {

using namespace mld;  // the container layout shared with the writer

constexpr uint32_t FILE_HEAD_SIZE = 8;  // id, 32-bit length of the rest
constexpr uint32_t PMD_CRC_SIZE = 2;

constexpr int USER_VOICES = 16;
constexpr uint16_t NO_USER_VOICE = 0xFFFF;
constexpr uint16_t MLD_TIMEBASE = 48;
constexpr uint8_t WAVE_NOTE_DURATION = 255;
constexpr uint32_t WAVE_RATE_STEP = 250;  // rate field of the family-0x31 wave data, in Hz
constexpr uint32_t USER_VOICE_RECORD = 18;
constexpr uint32_t USER_VOICE_FIRST = 8;     // offset of the first record in the event
constexpr uint32_t USER_VOICE_CHANNEL = 17;  // channel byte within a record
constexpr uint32_t MASK_TABLE_SIZE = 16;
constexpr uint32_t MAX_META_BODY = EVENT_SCRATCH_SIZE - 8;

// Programs of the preset timbres 0..5 (program values 0 and 1 of the timbre word).
constexpr uint8_t PRESET_PROGRAMS[6] = {0, 9, 16, 24, 13, 74};

// Events the reader knows beyond those the writer writes: the last tempo code, and a text among
// the long events (FF, code, 16-bit length).
constexpr uint8_t EV_TEMPO_LAST = 0xCF;
constexpr uint8_t EV_EX_TEXT = 0xF3;
constexpr uint32_t EXTENDED_HEAD = 4;

struct SourceTrack {
  uint32_t pos;   // read position of the next event
  uint32_t end;   // end of the chunk, clipped to the image
  uint32_t time;  // absolute time of the next event
  bool ended;
};

// Frequency events of a channel. While a note read from a note event sounds, they glide that
// note (the FM families write pitch bends this way) and are read as pitch bends of it; outside
// such a note they go to the assembler, which makes notes of them.
struct FrequencyState {
  uint8_t low = 0, high = 0;  // the parts as last set
  uint8_t key = 0;            // pitch of the last note event as written (no rhythm offset)
  uint32_t end = 0;           // end of that note
  bool noteSeen = false;
  bool toAssembler = false;  // a frequency note of the assembler may sound
};

struct MldReader {
  const uint8_t* image = nullptr;
  uint32_t size = 0;
  EventSink sink;

  bool headerSeen = false;
  bool pmd = false;
  bool extendedNotes = false;
  bool timebaseSet = false;
  int trackCount = 0;
  SourceTrack track[MAX_TRACK_CHUNKS] = {};
  uint32_t lastTrackEnd = 0;  // end of the last "trac" chunk, also of those beyond MAX_TRACK_CHUNKS

  uint16_t timbre[CHANNELS] = {};  // bank value low byte, program value high byte
  uint16_t userVoiceId[USER_VOICES] = {};
  uint8_t userVoiceIndex[CHANNELS] = {};
  uint16_t userVoiceMask = 0;
  uint8_t waveCounter = 1;
  FrequencyState freq[CHANNELS];
};

// Set to the thread's record on entry (core/thread_record.h says why).
thread_local constinit MldReader* r = nullptr;

void resetReader(const uint8_t* image, uint32_t size, uint8_t* out, uint32_t capacity) {
  *r = MldReader{};
  r->image = image;
  r->size = size;
  r->sink = sinkFor(out, capacity);
  for (uint16_t& id : r->userVoiceId) id = NO_USER_VOICE;
}

bool matchId(uint32_t pos, const void* id) {
  return pos + 4 <= r->size && std::memcmp(r->image + pos, id, 4) == 0;
}

// ---- Header ---------------------------------------------------------------------------------

void readInfoChunk(const uint8_t* id, const uint8_t* data, uint32_t length) {
  auto is = [id](const char* name) { return std::memcmp(id, name, 4) == 0; };
  const char* text = reinterpret_cast<const char*>(data);
  if (is("note")) {
    if (length >= 2) r->extendedNotes = data[1] != 0;
  } else if (is("sorc")) {
    if (length >= 1) song.ProtectFlags = data[0] & PROTECT_COPY;
  } else if (is("titl")) {
    setSongText(INFO_TITLE, text, length);
  } else if (is("copy")) {
    setSongText(INFO_COPYRIGHT, text, length);
  } else if (is("date")) {
    setSongText(INFO_DATE, text, length);
  } else if (is("prot")) {
    setSongText(INFO_SOFTWARE, text, length);
  } else if (is("vers")) {
    uint16_t version = 0;
    for (uint32_t i = 0; i < 4; ++i) {
      uint8_t c = i < length ? data[i] : '0';
      version = uint16_t(version * 10 + (c >= '0' && c <= '9' ? c - '0' : 0));
    }
    songStats.formatVersion = version;
  }
}

void registerTrack(uint32_t chunk, uint32_t end) {
  if (r->trackCount >= MAX_TRACK_CHUNKS) return;
  SourceTrack& t = r->track[r->trackCount++];
  t.end = end;
  uint32_t firstDelta = chunk + TRACK_HEAD_SIZE;
  if (firstDelta >= end) {
    t.ended = true;
    return;
  }
  t.time = r->image[firstDelta];
  t.pos = firstDelta + 1;
  t.ended = t.pos >= end;
}

// Scans byte by byte for the header; inside it the information chunks follow one another, and
// every "trac" chunk after it becomes a source track.
void scanHeader() {
  uint32_t pos = 0;
  uint32_t infoEnd = 0;
  while (pos + 4 <= r->size) {
    if (matchId(pos, MAGIC_MELO) || matchId(pos, MAGIC_CMID)) {
      if (r->headerSeen) break;  // a second header ends the file
      r->headerSeen = true;
      r->pmd = matchId(pos, MAGIC_CMID);
      if (pos + HEADER_LENGTH_BASE <= r->size)
        infoEnd = pos + HEADER_LENGTH_BASE + getBE(r->image + pos + OFFSET_HEADER_LENGTH, 2);
      pos += HEADER_FIXED_SIZE;
      continue;
    }
    if (!r->headerSeen) {
      ++pos;
      continue;
    }
    if (matchId(pos, CHUNK_TRAC)) {
      if (pos + TRACK_HEAD_SIZE > r->size) break;
      uint64_t end = uint64_t(pos) + TRACK_HEAD_SIZE + getBE(r->image + pos + 4, 4);
      if (end > r->size) end = r->size;
      registerTrack(pos, uint32_t(end));
      r->lastTrackEnd = uint32_t(end);
      pos = uint32_t(end);
      continue;
    }
    if (pos < infoEnd && pos + INFO_HEAD_SIZE <= r->size) {
      uint32_t length = getBE(r->image + pos + 4, 2);
      uint32_t available = r->size - pos - INFO_HEAD_SIZE;
      if (length > available) length = available;
      readInfoChunk(r->image + pos, r->image + pos + INFO_HEAD_SIZE, length);
      pos += INFO_HEAD_SIZE + length;
      continue;
    }
    ++pos;
  }
}

// A PMD file made for download ends in two bytes after its last track, counted by the length
// field: the complement of the CRC of everything before them. A file without them has no
// checksum to match.
bool pmdChecksumMatches(uint64_t declaredEnd) {
  const uint64_t crcEnd = uint64_t(r->lastTrackEnd) + PMD_CRC_SIZE;
  if (r->lastTrackEnd == 0 || crcEnd != declaredEnd || crcEnd > r->size) return true;
  const uint16_t stored = uint16_t(getBE(r->image + r->lastTrackEnd, 2));
  return stored == uint16_t(~crc16(r->image, r->lastTrackEnd));
}

// ---- Submission -----------------------------------------------------------------------------

// The events of source track `t`, at its time.
uint32_t timeOf(int t) {
  return r->track[t].time;
}

// A meta event of track `t`; the whole event must fit the writer's scratch block.
bool submitTrackMeta(int t, uint8_t type, const uint8_t* body, uint32_t length) {
  return submitMeta(r->sink, timeOf(t), uint8_t(t), type, body, std::min(length, MAX_META_BODY));
}

// Early end of a wave note: a request without data bytes whose first byte names the note. The
// request is set up here because it carries a byte beyond its count.
bool submitWaveNoteEnd(int t, uint8_t note) {
  if (r->sink.full) return false;
  uint8_t data[1] = {uint8_t(note & 0x7F)};
  constexpr int MAX_SUBMISSIONS = 64;
  for (int i = 0; i < MAX_SUBMISSIONS; ++i) {
    writer.status = ST_TIMED_END | (WAVE_NOTE_STATUS & 0x0F);
    writer.channel = CHANNELS + (WAVE_NOTE_STATUS & 0x0F);  // the channel of the wave notes
    writer.sourceTrack = uint8_t(t);
    writer.data = data;
    writer.count = 0;
    writer.resubmit = false;
    if (!putEvent(r->sink.out, r->sink.capacity, r->track[t].time)) {
      r->sink.full = true;
      return false;
    }
    if (!writer.resubmit) break;
  }
  writer.resubmit = false;
  return true;
}

constexpr uint8_t FREQ_KEY_ON_BIT = 0x20;  // of the high part; bits 4..2 block, bit 1 number bit 8
constexpr int GLIDE_BEND_RANGE = 24;       // taken when a glide leaves the channel's bend range
constexpr int GLIDE_UNITS = 4096;          // resolution of a glide offset, per semitone

int floorDiv(int a, int b) {
  return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

// Offset of a frequency (number and block) from note `key`, in 1/4096 semitone: the number is
// placed between the table entries of its semitone by linear interpolation, as it was made.
int frequencyOffset(uint16_t number, int block, int key) {
  int j = 1;
  while (j < 12 && !(number < FNUM_TABLE[j])) ++j;
  const int step = FNUM_TABLE[j] - FNUM_TABLE[j - 1];
  const int part = floorDiv((int(number) - FNUM_TABLE[j - 1]) * 2 * GLIDE_UNITS + step, 2 * step);
  return part + (j - 1 + 12 * (block + 1) - key) * GLIDE_UNITS;
}

// A frequency event that glides the sounding note of a note event: a pitch bend of that note
// (key off: the bend back to the centre), in the channel's bend range when the glide fits it,
// else in a range of 24 semitones.
bool submitGlide(int t, int channel) {
  const FrequencyState& f = r->freq[channel];
  if (!(f.high & FREQ_KEY_ON_BIT)) {
    if (writer.ch[channel].bend == BEND_CENTRE) return true;
    return submitBend(r->sink, timeOf(t), t, channel, BEND_CENTRE & 0x7F,
                      uint8_t(BEND_CENTRE >> 8));
  }
  const uint16_t number = uint16_t(f.low | ((f.high >> 1) & 1) << 8);
  const int offset = frequencyOffset(number, (f.high >> 2) & 7, f.key);
  int range = writer.ch[channel].bendRange;
  if (range <= 0 || range > GLIDE_BEND_RANGE || offset >= range * GLIDE_UNITS ||
      offset < -range * GLIDE_UNITS) {
    if (range != GLIDE_BEND_RANGE &&
        !submitControl(r->sink, timeOf(t), t, channel, CC_BEND_RANGE, uint8_t(GLIDE_BEND_RANGE)))
      return false;
    range = GLIDE_BEND_RANGE;
  }
  const int scaled = offset * 2 / range;  // 8192 bend steps span `range` semitones
  const int v = std::clamp(scaled + 8192, 0, 0x3FFF);
  return submitBend(r->sink, timeOf(t), t, channel, uint8_t(v & 0x7F), uint8_t(v >> 7));
}

// Frequency parts: a glide of the sounding note, or a request to the assembler, which turns
// frequencies into notes and bends. The assembler always gets both parts as this reader knows
// them, so parts read as glides are not lost to it. When frequency notes are ignored nothing
// reaches the stream.
bool submitFrequency(int t, int channel, const uint8_t* data, uint32_t count) {
  FrequencyState& f = r->freq[channel];
  for (uint32_t i = 0; i + 1 < count; i += 2) {
    if (data[i] == CC_FREQ_LOW) f.low = data[i + 1];
    if (data[i] == CC_FREQ_HIGH) f.high = data[i + 1];
  }
  if (options.freqNotesIgnored) return true;
  const uint32_t now = r->track[t].time;
  const bool keyOn = f.high & FREQ_KEY_ON_BIT;
  if (f.noteSeen && !f.toAssembler && (keyOn ? now < f.end : now <= f.end))
    return submitGlide(t, channel);
  f.toAssembler = keyOn;
  const uint8_t both[6] = {CC_FREQ_LOW, f.low, 0, 0, CC_FREQ_HIGH, f.high};
  return submitTo(r->sink, timeOf(t), t, uint8_t(ST_CONTROL | channel), both, 6);
}

// The note a later frequency event glides: a repeat of the key that overlaps the note (a long
// note continued in parts) extends it.
void noteForGlides(int t, int channel, uint8_t key, uint8_t gate) {
  FrequencyState& f = r->freq[channel];
  const uint32_t now = r->track[t].time;
  const uint32_t end = now + gate;
  if (f.noteSeen && f.key == key && now < f.end)
    f.end = std::max(f.end, end);
  else
    f.end = end;
  f.key = key;
  f.noteSeen = true;
  f.toAssembler = false;  // the note silences a frequency note of the assembler
}

// Channel of part `part` of source track `t`, through the writer's channel map.
int channelOf(int t, int part) {
  return writer.ch[(t * VOICES_PER_TRACK + (part & 3)) & 0x0F].map & 0x0F;
}

// ---- Events ---------------------------------------------------------------------------------

bool readNote(int t, const uint8_t* e) {
  int part = e[0] >> 6;
  int value = e[0] & 0x3F;
  uint8_t gate = e[1];
  uint8_t velocity = 127;
  int shift = 0;
  if (r->extendedNotes) {
    velocity = uint8_t((e[2] >> 2) * 2);
    static constexpr int SHIFTS[4] = {0, 12, -24, -12};
    shift = SHIFTS[e[2] & 3];
  }
  if (velocity == 0 || gate == 0) return true;
  int channel = channelOf(t, part);
  bool rhythm = (writer.DRUM_CHANNEL_MASK >> channel) & 1;
  int note = value + KEY_BASE + shift - (rhythm && !r->pmd ? RHYTHM_NOTE_OFFSET : 0);
  if ((r->userVoiceMask >> channel) & 1 && options.voiceOutput)
    return submitNote(r->sink, timeOf(t), t, WAVE_NOTE_STATUS, r->userVoiceIndex[channel], velocity,
                      gate);
  noteForGlides(t, channel, uint8_t(value + KEY_BASE + shift), gate);
  return submitNote(r->sink, timeOf(t), t, uint8_t(ST_TIMED_NOTE | channel), uint8_t(note),
                    velocity, gate);
}

bool submitTimbre(int t, int channel) {
  uint8_t bank = r->timbre[channel] & 0xFF;
  uint8_t value = r->timbre[channel] >> 8;
  uint8_t program, bankByte;
  if (value <= 1) {
    program = bank < 6 ? PRESET_PROGRAMS[bank] : 0;
    bankByte = 0;
  } else {
    program = uint8_t(bank + 64 * (value & 1));
    bankByte = uint8_t((value >> 1) ^ 1);
  }
  r->userVoiceMask &= uint16_t(~(1u << channel));
  r->userVoiceIndex[channel] = 0;
  for (int i = 0; i < USER_VOICES; ++i) {
    if (r->userVoiceId[i] == r->timbre[channel]) {
      r->userVoiceIndex[channel] = uint8_t(i + 1);
      r->userVoiceMask |= uint16_t(1u << channel);
      break;
    }
  }
  return submitProgram(r->sink, timeOf(t), t, channel, program, bankByte);
}

bool readTempo(int t, uint8_t code, uint8_t parameter) {
  uint32_t base = (3u << (code & 7)) * ((code & 8) ? 5 : 2);
  // Tick lengths come from the first tempo code of the song when it stands at the start.
  if (!r->timebaseSet && r->track[t].time == 0) writer.timebase = uint16_t(base);
  r->timebaseSet = true;
  uint32_t timebase = writer.timebase ? writer.timebase : MLD_TIMEBASE;
  uint32_t bpm = (parameter * base) / timebase;
  if (bpm == 0) return true;  // no tempo a Set Tempo can carry
  writer.tempoBpm = bpm;
  return submitTempo(r->sink, timeOf(t), t, microsOfBpm(bpm));
}

bool readShortEvent(int t, uint8_t code, uint8_t p) {
  if (code >= EV_TEMPO && code <= EV_TEMPO_LAST) return readTempo(t, code, p);
  int part = p >> 6;
  int v = p & 0x3F;
  switch (code) {
    case EV_MASTER_VOLUME:
      return submitMetaByte(r->sink, timeOf(t), t, META_MASTER_VOLUME, p & 0x7F);
    case EV_RHYTHM_PART:
      if ((p >> 3) >= CHANNELS) return true;
      return submitControl(r->sink, timeOf(t), t, p >> 3, CC_RHYTHM_PART, p & 1);
    case EV_CUE:
      return submitMetaByte(r->sink, timeOf(t), t, META_CUE, p);
    case EV_PARAMETER:
      return submitMetaByte(r->sink, timeOf(t), t, META_PARAMETER, p);
    case EV_TIMBRE_LOW: {
      int ch = channelOf(t, part);
      r->timbre[ch] = uint16_t((r->timbre[ch] & 0xFF00) | v);
      return submitTimbre(t, ch);
    }
    case EV_TIMBRE_HIGH: {
      int ch = channelOf(t, part);
      r->timbre[ch] = uint16_t((r->timbre[ch] & 0x00FF) | (v << 8));
      return submitTimbre(t, ch);
    }
    case EV_VOLUME:
      return submitControl(r->sink, timeOf(t), t, channelOf(t, part), CC_VOLUME, uint8_t(v * 2));
    case EV_PAN:
      return submitControl(r->sink, timeOf(t), t, channelOf(t, part), CC_PAN, uint8_t(v * 2));
    case EV_BEND:
      return submitBend(r->sink, timeOf(t), t, channelOf(t, part), 0, uint8_t(v * 2));
    case EV_CHANNEL:
      writer.ch[t * VOICES_PER_TRACK + part].map = uint8_t(p & 0x0F);
      return true;
    case EV_EXPRESSION:
      return submitControl(r->sink, timeOf(t), t, channelOf(t, part), CC_EXPRESSION,
                           uint8_t(v * 2));
    case EV_BEND_RANGE:
      return submitControl(r->sink, timeOf(t), t, channelOf(t, part), CC_BEND_RANGE, uint8_t(v));
    case EV_MODULATION:
      return submitControl(r->sink, timeOf(t), t, channelOf(t, part), CC_MODULATION,
                           uint8_t(v * 2));
    default:
      return true;  // no-operation and unknown codes
  }
}

// Nearest rate code of a sample rate in Hz.
uint8_t rateCodeOf(uint32_t rate) {
  if (rate == 0) return WAVE_RATE_NONE;
  uint8_t best = 0;
  for (uint8_t i = 1; i < 5; ++i) {
    uint32_t d = rate > WAVE_RATES[i] ? rate - WAVE_RATES[i] : WAVE_RATES[i] - rate;
    uint32_t b = rate > WAVE_RATES[best] ? rate - WAVE_RATES[best] : WAVE_RATES[best] - rate;
    if (d < b) best = i;
  }
  return best;
}

bool submitListedWave(int t, uint8_t number, uint8_t rateCode, uint32_t rate, uint32_t offset,
                      uint32_t length) {
  if (songStats.waveCount < MAX_WAVES)
    songStats.waves[songStats.waveCount++] = WaveEntry{rate, offset, length};
  if (length > 0 && rateCode != WAVE_RATE_NONE) songStats.hasVoiceSamples = true;
  // The whole event must fit the writer's scratch block, as every meta event of this reader.
  return submitWave(r->sink, timeOf(t), t, number, rateCode, r->image + offset,
                    std::min(length, MAX_META_BODY - 2));
}

// Wave data with wave number and rate code at +7 and +8, the samples from +9.
bool readWaveData(int t, const uint8_t* e, uint32_t L, uint32_t event) {
  if (L < 5) return true;
  uint8_t code = e[8];
  uint32_t rate = code < 5 ? WAVE_RATES[code] : 0;
  return submitListedWave(t, e[7], code, rate, event + 9, L - 5);
}

void readMaskTable(const uint8_t* table) {
  for (uint32_t i = 0; i < MASK_TABLE_SIZE; ++i) {
    if (table[i] & 2) songStats.vibrationMask |= uint16_t(1u << i);
    if (table[i] & 1) songStats.ledMask |= uint16_t(1u << i);
  }
}

void readUserVoiceTable(const uint8_t* e, uint32_t L) {
  if (L + EXTENDED_HEAD < USER_VOICE_FIRST) return;
  uint32_t records = (L + EXTENDED_HEAD - USER_VOICE_FIRST) / USER_VOICE_RECORD;
  if (records > USER_VOICES) records = USER_VOICES;
  for (uint32_t i = 0; i < records; ++i) {
    const uint8_t* rec = e + USER_VOICE_FIRST + i * USER_VOICE_RECORD;
    r->userVoiceId[i] = uint16_t(getBE(rec, 2));
    uint8_t channel = rec[USER_VOICE_CHANNEL];
    if (channel < CHANNELS) {
      r->userVoiceIndex[channel] = uint8_t(i + 1);
      r->userVoiceMask |= uint16_t(1u << channel);
    }
  }
}

// True when the event after the one ending at `next` follows at once and sets the high
// frequency part of the same part of the track (family 0x21, which sends the parts apart).
bool highPartFollows(int t, uint32_t next, uint8_t lowPart) {
  constexpr uint8_t HIGH_PART[7] = {0xFF, EV_FAMILY, 0x00, 0x04, 0x21, 0x02, 0x03};
  const SourceTrack& tr = r->track[t];
  if (uint64_t(next) + 1 + sizeof HIGH_PART > tr.end || r->image[next] != 0) return false;
  const uint8_t* e = r->image + next + 1;
  return std::memcmp(e, HIGH_PART, 6) == 0 &&
         e[6] == uint8_t((lowPart & 0xE0) | (HIGH_PART[6] & 0x1F));
}

// Device messages (FF FF): recognised by the bytes at +4 to +8 of the event. `event` is the
// offset of the event in the image, `L` the body length (bytes from +4).
bool readDeviceMessage(int t, const uint8_t* e, uint32_t L, uint32_t event) {
  auto at = [e, L](uint32_t k) -> uint8_t { return k < L + EXTENDED_HEAD ? e[k] : 0; };
  uint8_t family = at(4), b5 = at(5), b6 = at(6), b7 = at(7), b8 = at(8);

  if (family == FAMILY_61) {
    int ch = channelOf(t, b6 >> 6);
    switch (b5) {
      case 1:
        return submitBend(r->sink, timeOf(t), t, ch, 0, uint8_t((b6 & 0x3F) * 2));
      case 2:
        return submitControl(r->sink, timeOf(t), t, ch, CC_BEND_RANGE, b6 & 0x1F);
      case 3:
        return submitControl(r->sink, timeOf(t), t, ch, CC_MODULATION, uint8_t((b6 & 0x3F) * 2));
      default:
        return true;
    }
  }
  if ((b5 & 0xFC) == 0xE8) {
    int ch = channelOf(t, b5 & 3);
    if (L == 4) return submitBend(r->sink, timeOf(t), t, ch, b6, b7);
    return submitBend(r->sink, timeOf(t), t, ch, uint8_t(writer.ch[ch].bend & 0x7F), b6);
  }
  switch (b5) {
    case 0xEF:
      return submitControl(r->sink, timeOf(t), t, channelOf(t, b6 >> 5), CC_BEND_RANGE, b6 & 0x1F);
    case 0xF0:
      if (b6 == 0x02) return readWaveData(t, e, L, event);
      if (b6 == 0x83 && L >= 4) {
        // Wave data that also starts the sound: it takes the next wave number.
        uint8_t number = r->waveCounter++;
        uint32_t rate = b7 < 5 ? WAVE_RATES[b7] : 0;
        if (!submitListedWave(t, number, b7, rate, event + 8, L - 4)) return false;
        return submitNote(r->sink, timeOf(t), t, WAVE_NOTE_STATUS, number, 127, WAVE_NOTE_DURATION);
      }
      return true;
    case 0xF1:
      if (b6 == 0x20) {
        if (b8 == 0) return true;
        return submitNote(r->sink, timeOf(t), t, WAVE_NOTE_STATUS, b7, 127, b8);
      }
      if ((b6 & 0x3F) == 1)
        return submitControl(r->sink, timeOf(t), t, channelOf(t, b6 >> 6), CC_MODULATION,
                             uint8_t(b7 * 2));
      if ((b6 & 0x3F) == 2) {
        const uint8_t data[6] = {CC_FREQ_LOW, b7, 0, 0, CC_FREQ_HIGH, b8};
        return submitFrequency(t, channelOf(t, b6 >> 6), data, 6);
      }
      return true;
    case 0xF2:
      if (b6 == 1) return submitMetaByte(r->sink, timeOf(t), t, META_WAVE_LEVEL, uint8_t(b7 * 2));
      if (b6 == 4 || b6 == 5) {
        int ch = ((b8 & 3) * VOICES_PER_TRACK + (b7 >> 6)) & 0x0F;
        (b6 == 4 ? songStats.vibrationMask : songStats.ledMask) |= uint16_t(1u << ch);
      }
      return true;
    case 0x02: {
      int ch = channelOf(t, (b6 >> 5) & 3);
      switch (b6 & 0x1F) {
        case 2:
          return submitControl(r->sink, timeOf(t), t, ch, CC_MODULATION, uint8_t(b7 * 2));
        case 3: {
          const uint8_t data[2] = {CC_FREQ_HIGH, b7};
          return submitFrequency(t, ch, data, 2);
        }
        case 4: {
          const uint8_t data[2] = {CC_FREQ_LOW, b7};
          if (highPartFollows(t, event + EXTENDED_HEAD + L, b6)) {
            r->freq[ch].low = b7;  // taken with the high part, as one frequency
            return true;
          }
          return submitFrequency(t, ch, data, 2);
        }
        default:
          return true;
      }
    }
    case 0x01:
      if (b6 == 5) {
        if (b8 == 0) return true;
        return submitNote(r->sink, timeOf(t), t, WAVE_NOTE_STATUS, b7, 127, b8);
      }
      if (b6 == 6) return submitMetaByte(r->sink, timeOf(t), t, META_WAVE_LEVEL, uint8_t(b7 * 2));
      if (b6 == 3) return readWaveData(t, e, L, event);
      if (b6 == 0xF0 && b7 == 5) {
        readUserVoiceTable(e, L);
        return true;
      }
      if (b6 == 0xF0 && (b7 == 1 || b7 == 2)) {
        // A voice definition: kind, two identifying bytes, program, 10 x kind + 2 voice bytes.
        uint32_t length = 4 + 10u * b7 + 2;
        if (L < length + 3) return true;
        return submitTrackMeta(t, META_VOICE, e + 7, length);
      }
      if (b6 == 0xF2 && b7 == 7 && L >= 4 + MASK_TABLE_SIZE) readMaskTable(e + 8);
      return true;
    case 0x10:
      if (b6 == 0x49)
        return submitNote(r->sink, timeOf(t), t, WAVE_NOTE_STATUS, b7, b8, WAVE_NOTE_DURATION);
      if (b6 == 0x4A) {
        return submitWaveNoteEnd(t, b7);
      }
      if (b6 == 0x07 && L >= 6) {
        uint32_t rate = at(9) * WAVE_RATE_STEP;
        return submitListedWave(t, b7, rateCodeOf(rate), rate, event + 10, L - 6);
      }
      return true;
    case 0x81:
      return submitMetaByte(r->sink, timeOf(t), t, META_WAVE_LEVEL, uint8_t(b6 * 2));
    case 0x82:
      return submitMetaByte(r->sink, timeOf(t), t, META_LEVEL, b6);
    default:
      return true;
  }
}

bool readExtendedEvent(int t, const uint8_t* e, uint32_t L, uint32_t event) {
  uint8_t code = e[1];
  if (L >= 1 && e[4] > 0x0F) songStats.deviceFlags |= (1u << ((e[4] >> 4) - 1)) | DEVICE_FLAG_ANY;
  switch (code) {
    case EV_EXCLUSIVE_4VOICE:
      if (L < 3) return true;
      return submitControl(r->sink, timeOf(t), t, channelOf(t, (e[5] >> 5) & 3), CC_MODULATION,
                           uint8_t(((e[6] >> 6) * 127) / 3));
    case EV_LYRIC:
      if (L < 1) return true;
      return submitTrackMeta(t, META_LYRIC, e + 5, L - 1);
    case EV_EX_TEXT:
      if (L < 5) return true;
      return submitTrackMeta(t, META_FORMAT_TEXT, e + 9, L - 5);
    case EV_FAMILY:
      return readDeviceMessage(t, e, L, event);
    default:
      return true;  // exclusive blocks and unknown codes
  }
}

// Reads the event at the track's position and moves the track to its next event. False when
// the output is full. An event that runs past the end of its track ends the track.
bool readEvent(int t) {
  SourceTrack& tr = r->track[t];
  const uint8_t* e = r->image + tr.pos;
  uint32_t available = tr.end - tr.pos;
  uint32_t size;
  uint32_t L = 0;
  if (e[0] != 0xFF) {
    size = r->extendedNotes ? 3 : 2;
  } else if (available >= 2 && e[1] >= EV_LONG_FIRST) {
    if (available < EXTENDED_HEAD) {
      tr.ended = true;
      return true;
    }
    L = getBE(e + 2, 2);
    size = EXTENDED_HEAD + L;
  } else {
    size = 3;
  }
  if (size > available) {
    tr.ended = true;
    return true;
  }
  bool ok = true;
  if (e[0] != 0xFF) {
    ok = readNote(t, e);
  } else if (e[1] == EV_END) {
    tr.ended = true;
    return true;
  } else if (e[1] >= EV_LONG_FIRST) {
    ok = readExtendedEvent(t, e, L, tr.pos);
  } else {
    ok = readShortEvent(t, e[1], e[2]);
  }
  if (!ok) return false;
  uint32_t delta = tr.pos + size;
  if (delta >= tr.end) {
    tr.ended = true;
  } else {
    tr.time += r->image[delta];
    tr.pos = delta + 1;
    tr.ended = tr.pos >= tr.end;
  }
  return true;
}

void readTracks() {
  for (;;) {
    int best = -1;
    for (int t = 0; t < r->trackCount; ++t) {
      if (r->track[t].ended) continue;
      if (best < 0 || r->track[t].time < r->track[best].time) best = t;
    }
    if (best < 0) return;
    if (!readEvent(best)) return;
  }
}

}  // namespace

void readMld(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
             int32_t* destinationSize, uint32_t capacity) {
  r = &threadRecord<MldReader>();
  *destinationSize = 0;
  // Room for the header, the track head and the end of track in every case.
  if (!beginReaderStream(destination, capacity, EMPTY_STREAM_SIZE + 8, MLD_TIMEBASE)) return;
  resetReader(source ? source : destination, source ? sourceSize : 0, destination, capacity);
  writer.mergeRhythmRepeats = true;
  writeTrackChunk(destination);

  scanHeader();
  if (r->headerSeen) readTracks();
  const bool whole =
      r->size >= FILE_HEAD_SIZE && (matchId(0, MAGIC_MELO) || matchId(0, MAGIC_CMID));
  const uint64_t declaredEnd = whole ? FILE_HEAD_SIZE + uint64_t(getBE(r->image + 4, 4)) : 0;
  reportRead(r->size, declaredEnd);  // the file's length field
  reportChecksum(!r->pmd || pmdChecksumMatches(declaredEnd));

  endReaderStream(destination, destinationSize);
}

}  // namespace vlm
