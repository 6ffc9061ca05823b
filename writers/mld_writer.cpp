// i-melody and EZweb PMD writer: turns a finished VStream into the chunked "melo" / "cmid"
// container with its one-byte-delta event encoding. One writer serves every handset class; the
// target preset says which container, version, note form, track layout and handset family.
#include <algorithm>
#include <array>
#include <cstring>
#include <queue>
#include <set>
#include <vector>

#include "core/codec.h"
#include "core/conversion_options.h"
#include "core/run_state.h"
#include "core/stages.h"
#include "core/thread_record.h"
#include "core/vstream.h"
#include "formats/mld_format.h"
#include "writers/stream_thinning.h"

namespace vlm {

namespace {

using namespace mld;

constexpr int NO_TRACK = -1;
constexpr uint32_t TIME_END = 0xFFFFFFFFu;
constexpr uint8_t DEFAULT_WAVE_LEVEL = 127;
constexpr uint32_t MIN_VOICE_DATA_ROOM = 43;  // shortened voice data needs this much room
constexpr uint32_t FILLER_SIZE = 4;           // delta 255, FF DE 00
constexpr uint32_t END_EVENT_SIZE = 4;        // delta, FF DF 00
constexpr uint32_t CRC_SIZE = 2;
constexpr int MAX_DISTINCT_TIMBRES = 16;
constexpr uint32_t RHYTHM_TIMBRE_BASE = 0x10000;  // rhythm notes counted apart from programs
constexpr uint16_t N504_ENABLE = 0x100;
constexpr uint32_t WAVE_RATE_UNIT = 250;  // sample rate byte of family 0x31, in Hz
constexpr int VOICE_OCTAVE_CLASSES = 3;   // highest octave class of the voice exclusive
constexpr uint32_t MAX_TEMPO_BPM = 255;   // what the tempo byte holds

// Pending work at a later time in one track: the next part of a long note, or an event that
// closes a note (frequency offset back to 0, end of a wave note).
enum PendingKind : uint8_t { PENDING_NOTE_PART, PENDING_RAW };

struct PendingEvent {
  uint32_t time;
  uint32_t seq;  // keeps events of one time in the order they were planned
  PendingKind kind;
  uint8_t track;
  uint8_t bytes[12];  // note: voice + key, extra; raw: the event bytes
  uint8_t count;
  uint32_t remaining;  // note part: ticks the note still sounds from `time`
  bool operator>(const PendingEvent& o) const {
    return time != o.time ? time > o.time : seq > o.seq;
  }
};

struct SoundingNote {
  uint32_t start, end;
  uint8_t note;       // as written, after folding
  bool freqDriven;    // its pitch offset was set by frequency events
  uint16_t freqWord;  // the last frequency written for it, when freqDriven
};

struct ChannelInfo {
  int track = NO_TRACK;
  uint8_t voice = 0;  // 0..3
  bool bankSelectSeen = false;
  uint8_t bankSelect = 0;
  uint16_t bend = BEND_CENTRE;
  uint8_t bendRange = 2;
  uint8_t program = 0;
  bool hasNotes = false;
  uint8_t highestNote = 0;
  uint8_t freqLow = 0, freqHigh = 0;
  std::vector<SoundingNote> sounding;
};

struct OutTrack {
  std::vector<uint8_t> data;
  uint32_t lastTime = 0;
  uint32_t noteEnd = 0;  // latest end of a note written to this track
  bool closed = false;
  uint8_t voiceChannel[VOICES_PER_TRACK] = {};  // channel each voice last carried
};

// Everything one run of the writer keeps.
struct MldWriterState {
  // Variant.
  bool pmd = false;
  int version = 1;
  bool wide = false;
  uint8_t family = FAMILY_NONE;
  bool fourChannelTracks = true;
  int low = NARROW_LOW, high = NARROW_HIGH;
  bool withCrc = false;
  bool mailText = false;
  uint8_t timebaseCode = 0;

  // Output.
  uint32_t capacity = 0;
  bool stopped = false;
  std::vector<uint8_t> head;  // magic up to the end of the information chunks
  std::vector<uint8_t> pre;   // set-up events standing before the first track's events
  std::array<OutTrack, MAX_TRACK_CHUNKS> tracks;
  int trackCount = 1;
  size_t cuepPos = 0;  // position of the "cuep" data in head, 0 = no chunk
  bool cueFilled = false;
  uint32_t cueOffset = 0;  // in the first track's own data
  size_t voiceExclusivePos = 0;
  bool voiceExclusive = false;
  bool lyricsWritten = false;

  // Song.
  uint32_t songEnd = 0;
  uint16_t rhythmMask = RESET_DRUM_CHANNEL_MASK;
  std::array<ChannelInfo, CHANNELS> ch;
  std::set<uint32_t> timbres;  // programs as timbre numbers, rhythm notes above 0x10000
  bool timbreWarned = false;
  uint8_t waveLevel = DEFAULT_WAVE_LEVEL;
  std::priority_queue<PendingEvent, std::vector<PendingEvent>, std::greater<PendingEvent>> pending;
  uint32_t pendingSeq = 0;
};
// Set to the thread's record on entry (core/thread_record.h says why).
thread_local constinit MldWriterState* state = nullptr;

// ---- Our FM voice set for the 4-voice voice-parameter exclusive ----------------------------
//
// Thirteen bytes per program: algorithm and feedback, then modulator and carrier (multiple,
// level, attack/decay, sustain/release), then vibrato, tremolo, key scaling and a reserve byte.
// One template per instrument family of eight programs, varied a little inside the family.
struct VoiceParamTable {
  uint8_t entry[128][VOICE_PARAM_ENTRY];
};

constexpr uint8_t VOICE_FAMILY_TEMPLATES[16][VOICE_PARAM_ENTRY] = {
    {0x0A, 0x21, 0x2C, 0xF3, 0x35, 0x01, 0x06, 0xF2, 0x46, 0x00, 0x00, 0x01, 0x00},  // piano
    {0x0C, 0x27, 0x30, 0xF6, 0x48, 0x03, 0x04, 0xF5, 0x58, 0x00, 0x00, 0x01, 0x00},  // chromatic
    {0x01, 0x22, 0x20, 0xA0, 0x0F, 0x21, 0x03, 0xA0, 0x0F, 0x01, 0x00, 0x00, 0x00},  // organ
    {0x0B, 0x23, 0x26, 0xF4, 0x26, 0x01, 0x05, 0xF3, 0x36, 0x00, 0x00, 0x01, 0x00},  // guitar
    {0x0D, 0x20, 0x24, 0xF5, 0x1A, 0x01, 0x02, 0xF4, 0x2A, 0x00, 0x00, 0x02, 0x00},  // bass
    {0x0E, 0x31, 0x1E, 0x72, 0x1C, 0x21, 0x04, 0x71, 0x1C, 0x02, 0x01, 0x00, 0x00},  // strings
    {0x0E, 0x32, 0x22, 0x62, 0x1B, 0x22, 0x05, 0x61, 0x1B, 0x02, 0x00, 0x00, 0x00},  // ensemble
    {0x0C, 0x21, 0x1A, 0x94, 0x1A, 0x21, 0x03, 0x83, 0x1A, 0x01, 0x00, 0x00, 0x00},  // brass
    {0x0A, 0x31, 0x28, 0x85, 0x19, 0x21, 0x04, 0x74, 0x19, 0x01, 0x00, 0x00, 0x00},  // reed
    {0x08, 0x21, 0x2E, 0x74, 0x18, 0x21, 0x02, 0x73, 0x18, 0x02, 0x00, 0x00, 0x00},  // pipe
    {0x06, 0x21, 0x18, 0xF1, 0x0F, 0x21, 0x01, 0xF1, 0x0F, 0x00, 0x00, 0x00, 0x00},  // lead
    {0x0F, 0x22, 0x20, 0x42, 0x15, 0x21, 0x06, 0x42, 0x15, 0x03, 0x01, 0x00, 0x00},  // pad
    {0x0F, 0x28, 0x1C, 0x63, 0x27, 0x23, 0x07, 0x52, 0x27, 0x02, 0x02, 0x01, 0x00},  // effects
    {0x0B, 0x25, 0x2A, 0xF6, 0x37, 0x02, 0x05, 0xF5, 0x47, 0x00, 0x00, 0x01, 0x00},  // ethnic
    {0x0D, 0x30, 0x10, 0xFA, 0x6A, 0x00, 0x02, 0xF8, 0x79, 0x00, 0x00, 0x02, 0x00},  // percussive
    {0x0F, 0x2E, 0x12, 0xF8, 0x59, 0x2F, 0x08, 0xF6, 0x69, 0x00, 0x03, 0x00, 0x00},  // sound fx
};

constexpr VoiceParamTable makeVoiceParams() {
  VoiceParamTable t{};
  for (int p = 0; p < 128; ++p) {
    const uint8_t* base = VOICE_FAMILY_TEMPLATES[p / 8];
    for (uint32_t i = 0; i < VOICE_PARAM_ENTRY; ++i) t.entry[p][i] = base[i];
    int step = p % 8;
    // Brighter modulator and a touch of detune further into each family.
    t.entry[p][2] = uint8_t(std::max(0, int(base[2]) - 2 * step));
    t.entry[p][1] = uint8_t((base[1] & 0xF0) | ((base[1] + (step >> 1)) & 0x0F));
    t.entry[p][12] = uint8_t(step);
  }
  return t;
}
constexpr VoiceParamTable VOICE_PARAMS = makeVoiceParams();

// ---- Size accounting and the delta writer --------------------------------------------------

uint32_t bytesUsed() {
  uint64_t total = state->head.size() + state->pre.size() + (state->withCrc ? CRC_SIZE : 0);
  for (int t = 0; t < state->trackCount; ++t) {
    const OutTrack& tr = state->tracks[t];
    total += TRACK_HEAD_SIZE + tr.data.size() + (tr.closed ? 0 : END_EVENT_SIZE);
  }
  return total > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(total);
}

bool fits(uint32_t n) {
  return uint64_t(bytesUsed()) + n <= state->capacity;
}

void stopForSize() {
  if (!state->stopped) raiseWarning(WARN_SIZE_LIMIT);
  state->stopped = true;
}

// Writes the delta from the track's last event (bridged by fillers) and the event bytes.
// Returns the position of the event's delta in the track data, or -1 when it did not fit.
long putTrackEvent(int track, uint32_t time, const uint8_t* bytes, uint32_t count) {
  if (state->stopped || track < 0 || track >= state->trackCount) return -1;
  OutTrack& tr = state->tracks[track];
  uint32_t delta = time > tr.lastTime ? time - tr.lastTime : 0;
  while (delta > MAX_DELTA) {
    if (!fits(FILLER_SIZE)) {
      stopForSize();
      return -1;
    }
    const uint8_t filler[FILLER_SIZE] = {uint8_t(MAX_DELTA), EV_ESCAPE, EV_NOP, 0};
    tr.data.insert(tr.data.end(), filler, filler + FILLER_SIZE);
    tr.lastTime += MAX_DELTA;
    delta -= MAX_DELTA;
  }
  if (!fits(1 + count)) {
    stopForSize();
    return -1;
  }
  long at = long(tr.data.size());
  tr.data.resize(size_t(at) + 1 + count);
  uint8_t* p = tr.data.data() + at;
  p[0] = uint8_t(delta);
  copyEventBytes(p + 1, bytes, count);
  tr.lastTime = time > tr.lastTime ? time : tr.lastTime;
  return at;
}

// Set-up events: delta 0 into the pre-track buffer.
bool putSetup(const uint8_t* bytes, uint32_t count) {
  if (state->stopped) return false;
  if (!fits(1 + count)) {
    stopForSize();
    return false;
  }
  state->pre.push_back(0);
  state->pre.insert(state->pre.end(), bytes, bytes + count);
  return true;
}

void schedule(const PendingEvent& ev) {
  PendingEvent e = ev;
  e.seq = state->pendingSeq++;
  state->pending.push(e);
}

void scheduleRaw(uint32_t time, int track, const uint8_t* bytes, uint32_t count) {
  PendingEvent ev{};
  if (count > sizeof ev.bytes) return;
  ev.time = time;
  ev.kind = PENDING_RAW;
  ev.track = uint8_t(track);
  std::memcpy(ev.bytes, bytes, count);
  ev.count = uint8_t(count);
  schedule(ev);
}

// ---- Header ---------------------------------------------------------------------------------

void putBytes(std::vector<uint8_t>& v, const void* p, size_t n) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  v.insert(v.end(), b, b + n);
}

void putWord(std::vector<uint8_t>& v, uint32_t value, int n) {
  for (int i = n - 1; i >= 0; --i) v.push_back(uint8_t(value >> (8 * i)));
}

// Adds an information chunk; returns the position of its data.
size_t putInfo(const char* id, const void* data, uint32_t length) {
  putBytes(state->head, id, 4);
  putWord(state->head, length, 2);
  size_t at = state->head.size();
  if (length) putBytes(state->head, data, length);
  return at;
}

uint32_t textLength(int field) {
  return uint32_t(strnlen(song.info.text[field], INFO_TEXT_SIZE - 1));
}

void putTextInfo(const char* id, int field, bool always) {
  uint32_t n = textLength(field);
  if (n || always) putInfo(id, song.info.text[field], n);
}

void writeHeader(bool songHasCue) {
  const TargetPreset& p = options.preset;
  putBytes(state->head, state->pmd ? MAGIC_CMID : MAGIC_MELO, 4);
  putWord(state->head, 0, 4);  // file length, patched
  putWord(state->head, 0, 2);  // header length, patched
  state->head.push_back(DATA_TYPE_PLAIN);
  state->head.push_back(SUB_TYPE_PLAIN);
  state->head.push_back(1);  // track count, patched

  if (!state->mailText || state->version == 3 || state->pmd || song.ProtectFlags != 0) {
    uint8_t source = song.ProtectFlags & PROTECT_COPY;
    putInfo(CHUNK_SORC, &source, 1);
  }
  putTextInfo(CHUNK_TITL, INFO_TITLE, true);
  putTextInfo(CHUNK_COPY, INFO_COPYRIGHT, false);
  putTextInfo(CHUNK_PROT, INFO_SOFTWARE, false);
  putTextInfo(CHUNK_DATE, INFO_DATE, false);
  if (!state->mailText || state->pmd || state->version != 1) {
    uint8_t vers[4] = {'0', uint8_t('0' + (state->version % 10)), '0', '0'};
    putInfo(CHUNK_VERS, vers, 4);
  }
  if (state->pmd || p.noteType) {
    uint8_t note[2] = {0, uint8_t(p.noteType ? 1 : 0)};
    putInfo(CHUNK_NOTE, note, 2);
  }
  if (state->pmd) {
    uint8_t exst[2] = {0, 0};
    putInfo(CHUNK_EXST, exst, 2);
  }
  if (state->pmd && options.noefficflg && songHasCue) {
    uint8_t cuep[4] = {};
    state->cuepPos = putInfo(CHUNK_CUEP, cuep, 4);
  }
}

// ---- Start events ---------------------------------------------------------------------------

bool channelSet(bool on, int channel) {
  return on && channel >= 1 && channel <= CHANNELS;
}

void writeStartEvents(bool songHasPcm) {
  const bool vib = channelSet(options.vibrationLink, options.vibrationChannel);
  const bool led = channelSet(options.ledLink, options.ledChannel);
  if (state->family == FAMILY_11 && state->version == 2) {
    for (int kind = 0; kind < 2; ++kind) {
      if (!(kind == 0 ? vib : led)) continue;
      int n = (kind == 0 ? options.vibrationChannel : options.ledChannel) - 1;
      uint8_t ev[] = {EV_ESCAPE,
                      EV_FAMILY,
                      0x00,
                      0x05,
                      FAMILY_11,
                      0xF2,
                      uint8_t(kind ? 5 : 4),
                      uint8_t(n * 64 + 32),
                      uint8_t(n / 4)};
      putSetup(ev, sizeof ev);
    }
  }
  if (state->version == 3 && (vib || led)) {
    uint8_t ev[4 + 20] = {EV_ESCAPE, EV_FAMILY, 0x00, 0x14, FAMILY_11, 0x01, 0xF2, 0x07};
    for (int i = 0; i < CHANNELS; ++i) {
      bool v = vib && options.vibrationChannel == i + 1;
      bool l = led && options.ledChannel == i + 1;
      ev[8 + i] = uint8_t(2 * v + l);
    }
    putSetup(ev, sizeof ev);
  }
  if (state->version == 3 && (options.N504Vol & N504_ENABLE)) {
    uint8_t low = uint8_t(options.N504Vol & 0xFF);
    if (state->family == FAMILY_31) {
      uint8_t ev[] = {EV_ESCAPE, EV_FAMILY, 0x00, 0x04, FAMILY_31, 0x10, 0x01, low};
      putSetup(ev, sizeof ev);
    } else {
      uint8_t ev[] = {EV_ESCAPE, EV_FAMILY, 0x00, 0x05, FAMILY_11, 0x01, 0xF3, 0x03, low};
      putSetup(ev, sizeof ev);
    }
  }
  if (state->family == FAMILY_4VOICE && options.preset.voiceParamExclusive) {
    uint8_t ev[4 + 1 + VOICE_EXCLUSIVE_DATA] = {EV_ESCAPE, EV_EXCLUSIVE, 0x00,
                                                uint8_t(1 + VOICE_EXCLUSIVE_DATA), 0x01};
    if (putSetup(ev, sizeof ev)) {
      state->voiceExclusive = true;
      state->voiceExclusivePos = state->pre.size() - VOICE_EXCLUSIVE_DATA;
    }
  }
  if (state->family == FAMILY_31 && state->version == 3 && songHasPcm) {
    uint8_t ev[] = {EV_ESCAPE, EV_FAMILY, 0x00, 0x04, FAMILY_31, 0x10, 0x02, 0x01};
    putSetup(ev, sizeof ev);
  }
}

void fillVoiceExclusive() {
  if (!state->voiceExclusive) return;
  uint8_t* out = state->pre.data() + state->voiceExclusivePos;
  for (int v = 0; v < VOICES_PER_TRACK; ++v) {
    const ChannelInfo* info = nullptr;
    for (const ChannelInfo& c : state->ch)
      if (c.track == 0 && c.voice == v) {
        info = &c;
        break;
      }
    uint8_t program = info ? info->program & 0x7F : 0;
    int octave = info && info->hasNotes ? (info->highestNote + 11) / 12 - 6 : 0;
    octave = std::clamp(octave, 0, VOICE_OCTAVE_CLASSES);
    uint8_t* rec = out + v * 10;
    rec[0] = uint8_t(v * 32 + 1);
    std::memcpy(rec + 1, VOICE_PARAMS.entry[program], VOICE_PARAM_BYTES);
    rec[9] = uint8_t(octave);
  }
}

// ---- Events ---------------------------------------------------------------------------------

uint8_t voiceBits(const ChannelInfo& c) {
  return uint8_t(c.voice * 64);
}

// A channel event goes to its track; a voice that last carried another channel is told first.
bool putChannelEvent(int channel, uint32_t time, const uint8_t* bytes, uint32_t count) {
  ChannelInfo& c = state->ch[channel];
  if (c.track == NO_TRACK || c.track >= state->trackCount) return false;
  OutTrack& tr = state->tracks[c.track];
  if (tr.voiceChannel[c.voice] != channel) {
    uint8_t assign[3] = {EV_ESCAPE, EV_CHANNEL, uint8_t(voiceBits(c) + channel)};
    if (putTrackEvent(c.track, time, assign, 3) < 0) return false;
    tr.voiceChannel[c.voice] = uint8_t(channel);
  }
  return putTrackEvent(c.track, time, bytes, count) >= 0;
}

bool putShort(int channel, uint32_t time, uint8_t code, uint8_t value) {
  uint8_t ev[3] = {EV_ESCAPE, code, value};
  return putChannelEvent(channel, time, ev, 3);
}

void noteTimbre(uint32_t key) {
  if (!state->timbres.insert(key).second) return;
  const TargetPreset& p = options.preset;
  if (!state->timbreWarned && int(state->timbres.size()) > MAX_DISTINCT_TIMBRES &&
      p.oneVoicePerChannel && state->version == 2) {
    raiseWarning(WARN_TOO_MANY_VOICES);
    state->timbreWarned = true;
  }
}

// Frequency-number event of a sounding note under the channel's pitch bend.
void putFrequency(int channel, uint32_t time, SoundingNote& note) {
  ChannelInfo& c = state->ch[channel];
  uint16_t word = noteToFnum(note.note, c.bendRange, c.bend);
  // A bend that does not move the frequency number costs no bytes; of the parts sent apart only
  // the one that changed is sent. The first frequency of a note sends everything.
  if (note.freqDriven && word == note.freqWord) return;
  const bool lowChanged = !note.freqDriven || (word & 0xFF) != (note.freqWord & 0xFF);
  const bool highChanged = !note.freqDriven || (word >> 8) != (note.freqWord >> 8);
  uint8_t low = uint8_t(word & 0xFF), high = uint8_t(word >> 8);
  bool ok;
  if (state->family == FAMILY_11) {
    uint8_t ev[] = {EV_ESCAPE, EV_FAMILY, 0x00, 0x05, FAMILY_11, 0xF1, uint8_t(voiceBits(c) + 2),
                    low,       high};
    ok = putChannelEvent(channel, time, ev, sizeof ev);
  } else {
    uint8_t evLow[] = {
        EV_ESCAPE, EV_FAMILY, 0x00, 0x04, FAMILY_21, 0x02, uint8_t(voiceBits(c) / 2 + 4), low};
    uint8_t evHigh[] = {
        EV_ESCAPE, EV_FAMILY, 0x00, 0x04, FAMILY_21, 0x02, uint8_t(voiceBits(c) / 2 + 3), high};
    ok = (!lowChanged || putChannelEvent(channel, time, evLow, sizeof evLow)) &&
         (!highChanged || putChannelEvent(channel, time, evHigh, sizeof evHigh));
  }
  if (!ok) return;
  note.freqWord = word;
  if (note.freqDriven) return;
  note.freqDriven = true;
  // At the note's end the offset goes back to 0.
  if (state->family == FAMILY_11) {
    const uint8_t ev[] = {
        EV_ESCAPE, EV_FAMILY, 0x00, 0x05, FAMILY_11, 0xF1, uint8_t(voiceBits(c) + 2), 0, 0};
    scheduleRaw(note.end, c.track, ev, sizeof ev);
  } else {
    const uint8_t ev[] = {
        EV_ESCAPE, EV_FAMILY, 0x00, 0x04, FAMILY_21, 0x02, uint8_t(voiceBits(c) / 2 + 3), 0};
    scheduleRaw(note.end, c.track, ev, sizeof ev);
  }
}

bool bendToFrequency() {
  return state->version == 2 && (state->family == FAMILY_11 || state->family == FAMILY_21);
}

void dropEnded(ChannelInfo& c, uint32_t time) {
  auto& s = c.sounding;
  s.erase(std::remove_if(s.begin(), s.end(), [&](const SoundingNote& n) { return n.end <= time; }),
          s.end());
}

// Key and octave bits of a note in the variant's note form.
void encodeKey(int n, uint8_t* key, uint8_t* octave) {
  *octave = 0;
  if (state->wide && n <= WIDE_SPLIT_LOW) {
    *key = uint8_t(n - KEY_BASE_LOW);
    *octave = OCTAVE_DOWN_TWO;
  } else if (state->wide && n >= WIDE_SPLIT_HIGH) {
    *key = uint8_t(n - KEY_BASE_HIGH);
    *octave = OCTAVE_UP;
  } else {
    *key = uint8_t(n - KEY_BASE);
  }
}

// Writes one part of a note; returns false when it did not fit.
bool putNotePart(int track, uint32_t time, uint8_t voiceKey, uint8_t extra, uint32_t gate) {
  uint8_t ev[3] = {voiceKey, uint8_t(std::min(gate, MAX_GATE)), extra};
  return putTrackEvent(track, time, ev, state->wide ? 3 : 2) >= 0;
}

void writeNote(int channel, uint32_t time, const uint8_t* data) {
  ChannelInfo& c = state->ch[channel];
  if (c.track == NO_TRACK || c.track >= state->trackCount) return;
  const bool rhythm = state->rhythmMask & (1u << channel);
  int n = data[0];
  if (rhythm) {
    if (!state->pmd) n += RHYTHM_NOTE_OFFSET;
    if (n < state->low || n > state->high) return;
  } else if (n < state->low) {
    n = state->low + 12 - ((state->low - n) % 12);
  } else if (n > state->high) {
    n = state->high + ((n - state->high) % 12) - 12;
  }
  uint32_t duration = getBE(data + 2, 2);
  uint32_t left = state->songEnd > time ? state->songEnd - time : 0;
  duration = std::min(duration, left);
  if (duration == 0) return;

  if (rhythm) noteTimbre(RHYTHM_TIMBRE_BASE + data[0]);
  uint8_t key, octave;
  encodeKey(n, &key, &octave);
  // Velocity 1 would halve to 0, which reads back as no note at all: keep it audible.
  int level = data[1] ? std::clamp(data[1] / 2, 1, 63) : 0;
  uint8_t extra = uint8_t(level * 4 + octave);
  uint8_t voiceKey = uint8_t(voiceBits(c) + key);

  OutTrack& tr = state->tracks[c.track];
  if (tr.voiceChannel[c.voice] != channel) {
    uint8_t assign[3] = {EV_ESCAPE, EV_CHANNEL, uint8_t(voiceBits(c) + channel)};
    if (putTrackEvent(c.track, time, assign, 3) < 0) return;
    tr.voiceChannel[c.voice] = uint8_t(channel);
  }
  if (!putNotePart(c.track, time, voiceKey, extra, duration)) return;
  if (duration > MAX_GATE) {
    PendingEvent part{};
    part.time = time + GATE_CONTINUE_STEP;
    part.kind = PENDING_NOTE_PART;
    part.track = uint8_t(c.track);
    part.bytes[0] = voiceKey;
    part.bytes[1] = extra;
    part.remaining = duration - GATE_CONTINUE_STEP;
    schedule(part);
  }
  tr.noteEnd = std::max(tr.noteEnd, time + duration);
  c.hasNotes = true;
  c.highestNote = std::max<uint8_t>(c.highestNote, uint8_t(n));

  if (bendToFrequency()) {
    dropEnded(c, time);
    c.sounding.push_back(SoundingNote{time, time + duration, uint8_t(n), false, 0});
    if (c.bend != BEND_CENTRE) putFrequency(channel, time, c.sounding.back());
  }
}

// Notes of the second group of channels: wave sounds in the family's own form.
void writeHighNote(uint32_t time, const uint8_t* data) {
  uint32_t duration = getBE(data + 2, 2);
  uint32_t left = state->songEnd > time ? state->songEnd - time : 0;
  duration = std::min(duration, left);
  if (duration == 0) return;
  uint8_t note = data[0], gate = uint8_t(std::min(duration, MAX_GATE));
  if (state->family == FAMILY_11 && state->version == 2) {
    uint8_t ev[] = {EV_ESCAPE, EV_FAMILY, 0x00, 0x05, FAMILY_11, 0xF1, 0x20, note, gate};
    putTrackEvent(0, time, ev, sizeof ev);
  } else if (state->family == FAMILY_21 && state->version == 2) {
    uint8_t ev[] = {EV_ESCAPE, EV_FAMILY, 0x00, 0x05, FAMILY_21, 0x01, 0x05, note, gate};
    putTrackEvent(0, time, ev, sizeof ev);
  } else if (state->family == FAMILY_31 && state->version == 3) {
    uint8_t ev[] = {EV_ESCAPE, EV_FAMILY, 0x00, 0x05, FAMILY_31, 0x10, 0x49, note, state->waveLevel};
    if (putTrackEvent(0, time, ev, sizeof ev) < 0) return;
    const uint8_t close[] = {EV_ESCAPE, EV_FAMILY, 0x00, 0x04, FAMILY_31, 0x10, 0x4A, note};
    scheduleRaw(time + duration, 0, close, sizeof close);
  }
}

void writeModulation(int channel, uint32_t time, uint8_t value) {
  const ChannelInfo& c = state->ch[channel];
  const uint8_t V = voiceBits(c), half = uint8_t(value / 2);
  if (state->version >= 3) {
    putShort(channel, time, EV_MODULATION, uint8_t(V + half));
  } else if (state->family == FAMILY_11) {
    uint8_t ev[] = {EV_ESCAPE, EV_FAMILY, 0x00, 0x04, FAMILY_11, 0xF1, uint8_t(V + 1), half};
    putChannelEvent(channel, time, ev, sizeof ev);
  } else if (state->family == FAMILY_21) {
    uint8_t ev[] = {EV_ESCAPE, EV_FAMILY, 0x00, 0x04, FAMILY_21, 0x02, uint8_t(V / 2 + 2), half};
    putChannelEvent(channel, time, ev, sizeof ev);
  } else if (state->family == FAMILY_61) {
    uint8_t ev[] = {EV_ESCAPE, EV_FAMILY, 0x00, 0x03, FAMILY_61, 0x03, uint8_t(half + V)};
    putChannelEvent(channel, time, ev, sizeof ev);
  } else if (state->family == FAMILY_4VOICE) {
    uint8_t depth = uint8_t(((value + 21) * 3 / 127) * 64);
    uint8_t ev[] = {EV_ESCAPE,     EV_EXCLUSIVE_4VOICE, 0x00, 0x03,
                    FAMILY_4VOICE, uint8_t(V / 2 + 1),  depth};
    putChannelEvent(channel, time, ev, sizeof ev);
  }
}

void writeBendRange(int channel, uint32_t time, uint8_t range) {
  ChannelInfo& c = state->ch[channel];
  c.bendRange = range;
  const uint8_t V = voiceBits(c);
  if (state->version >= 3) {
    putShort(channel, time, EV_BEND_RANGE, uint8_t(V + (range & 63)));
  } else if (state->family == FAMILY_31) {
    uint8_t ev[] = {
        EV_ESCAPE, EV_FAMILY, 0x00, 0x03, FAMILY_31, 0xEF, uint8_t((range & 31) + V / 2)};
    putChannelEvent(channel, time, ev, sizeof ev);
  } else if (state->family == FAMILY_61) {
    uint8_t ev[] = {EV_ESCAPE, EV_FAMILY, 0x00, 0x03, FAMILY_61, 0x02, uint8_t((range & 63) + V)};
    putChannelEvent(channel, time, ev, sizeof ev);
  }
}

void writeFrequencyPart(int channel, uint32_t time, uint8_t controller, uint8_t value) {
  ChannelInfo& c = state->ch[channel];
  if (controller == CC_FREQ_LOW)
    c.freqLow = value;
  else
    c.freqHigh = value;
  if (state->version != 2) return;
  const uint8_t V = voiceBits(c);
  if (state->family == FAMILY_11) {
    uint8_t ev[] = {EV_ESCAPE, EV_FAMILY,      0x00,      0x05,      FAMILY_11,
                    0xF1,      uint8_t(V + 2), c.freqLow, c.freqHigh};
    putChannelEvent(channel, time, ev, sizeof ev);
  } else if (state->family == FAMILY_21) {
    uint8_t part = uint8_t(V / 2 + (controller == CC_FREQ_LOW ? 4 : 3));
    uint8_t ev[] = {EV_ESCAPE, EV_FAMILY, 0x00, 0x04, FAMILY_21, 0x02, part, value};
    putChannelEvent(channel, time, ev, sizeof ev);
  }
}

void writeController(int channel, uint32_t time, uint8_t controller, uint8_t value) {
  ChannelInfo& c = state->ch[channel];
  const uint8_t V = voiceBits(c);
  if (controller == 0) {  // bank select: only remembered for the timbre number
    c.bankSelectSeen = true;
    c.bankSelect = value;
    return;
  }
  if (controller < 0x80 && state->version == 1 && controller != CC_MODULATION &&
      controller != CC_VOLUME)
    return;
  switch (controller) {
    case CC_VOLUME:
      putShort(channel, time, EV_VOLUME, uint8_t(V + value / 2));
      break;
    case CC_PAN:
      putShort(channel, time, EV_PAN, uint8_t(V + value / 2));
      break;
    case CC_EXPRESSION:
      putShort(channel, time, EV_EXPRESSION, uint8_t(V + value / 2));
      break;
    case CC_MODULATION:
      writeModulation(channel, time, value);
      break;
    case CC_RHYTHM_PART:
      if (putShort(channel, time, EV_RHYTHM_PART, uint8_t(channel * 8 + (value ? 1 : 0)))) {
        if (value)
          state->rhythmMask |= uint16_t(1u << channel);
        else
          state->rhythmMask &= uint16_t(~(1u << channel));
      }
      break;
    case CC_BEND_RANGE:
      writeBendRange(channel, time, value);
      break;
    case CC_FREQ_LOW:
    case CC_FREQ_HIGH:
      writeFrequencyPart(channel, time, controller, value);
      break;
    default:
      break;
  }
}

void writeProgram(int channel, uint32_t time, uint8_t program, uint8_t bank) {
  ChannelInfo& c = state->ch[channel];
  c.program = program & 0x7F;
  uint32_t timbre = (program & 0x7F) + (((bank ^ 1) & 0x7F) * 128u);
  if (options.noefficflg && c.bankSelectSeen)
    timbre = (c.bankSelect & 0x1F) * 128u + (program & 0x7F);
  if (c.track == NO_TRACK || c.track >= state->trackCount) return;
  noteTimbre(timbre);
  const uint8_t V = voiceBits(c);
  uint8_t ev[] = {EV_ESCAPE, EV_TIMBRE_HIGH, uint8_t(V + ((timbre >> 6) & 63)), 0,
                  EV_ESCAPE, EV_TIMBRE_LOW,  uint8_t(V + (timbre & 63))};
  putChannelEvent(channel, time, ev, sizeof ev);
}

void writePitchBend(int channel, uint32_t time, uint8_t lsb, uint8_t msb) {
  ChannelInfo& c = state->ch[channel];
  c.bend = uint16_t(msb << 8 | lsb);
  const uint8_t V = voiceBits(c);
  if (state->pmd && state->version < 3) {
    // No bend range event in this variant: the handset bends by 2 semitones, so the channel's
    // range goes into the bend value.
    const int v = std::clamp((int(msb << 7 | lsb) - 8192) * c.bendRange / 2, -8192, 8191) + 8192;
    putShort(channel, time, EV_BEND, uint8_t(V + ((v >> 8) & 63)));
  } else if (state->pmd || state->version >= 3) {
    putShort(channel, time, EV_BEND, uint8_t(V + ((msb / 2) & 63)));
  } else if (state->version == 2 && state->family == FAMILY_31) {
    uint8_t ev[] = {EV_ESCAPE, EV_FAMILY, 0x00, 0x03, FAMILY_31, uint8_t(c.voice - 24), msb};
    putChannelEvent(channel, time, ev, sizeof ev);
  } else if (state->version == 2 && state->family == FAMILY_61) {
    uint8_t ev[] = {
        EV_ESCAPE, EV_FAMILY, 0x00, 0x03, FAMILY_61, 0x01, uint8_t(((msb / 2) & 63) + V)};
    putChannelEvent(channel, time, ev, sizeof ev);
  } else if (bendToFrequency()) {
    dropEnded(c, time);
    if (!c.sounding.empty()) putFrequency(channel, time, c.sounding.back());
  }
}

// Timebase code of the tempo event: 6 x 2^j or, for multiples of 15, 15 x 2^j (code 8 + j).
uint8_t timebaseCode(uint32_t timebase) {
  uint32_t base = timebase % 15 == 0 && timebase > 0 ? 15 : 6;
  int j = 0;
  while (j < 6 && timebase / base >= (2u << j)) ++j;
  return uint8_t(base == 15 ? 8 + j : j);
}

void writeTempo(uint32_t time, const uint8_t* data, uint32_t length) {
  if (length < 3) return;
  uint32_t usec = getBE(data, 3);
  if (usec == 0) return;
  // To the nearest whole beat, but a tempo the byte holds is not rounded up out of it.
  uint32_t bpm = tempoBpm(usec);
  if (bpm > MAX_TEMPO_BPM && MICROSECONDS_PER_MINUTE / usec <= MAX_TEMPO_BPM) bpm = MAX_TEMPO_BPM;
  uint8_t ev[3] = {EV_ESCAPE, uint8_t(EV_TEMPO + state->timebaseCode), uint8_t(bpm & 0xFF)};
  if (putTrackEvent(0, time, ev, 3) < 0) return;
  // The other tracks are brought to the same time so the change applies to them at once.
  const bool zeroNote = state->wide && options.pmdtmpc4s;
  for (int t = 1; t < state->trackCount; ++t) {
    OutTrack& tr = state->tracks[t];
    if (tr.lastTime >= time) continue;
    if (zeroNote && tr.noteEnd <= time) {
      const uint8_t note[3] = {0, 0, 0};
      putTrackEvent(t, time, note, 3);
    } else {
      const uint8_t nop[3] = {EV_ESCAPE, EV_NOP, 0};
      putTrackEvent(t, time, nop, 3);
    }
  }
}

void writeWave(uint32_t time, const uint8_t* data, uint32_t length) {
  if (length < 2) return;
  const bool f11 = state->family == FAMILY_11 && state->version == 2;
  const bool f21 = state->family == FAMILY_21 && state->version == 2;
  const bool f31 = state->family == FAMILY_31 && state->version == 3;
  if (!f11 && !f21 && !f31) return;
  const uint8_t number = data[0], rate = data[1];
  if (rate >= sizeof WAVE_RATES / sizeof WAVE_RATES[0]) {
    raiseWarning(WARN_NO_SAMPLES);
    return;
  }
  const uint8_t* samples = data + 2;
  uint32_t count = length - 2;
  std::vector<uint8_t> ev = {EV_ESCAPE, EV_FAMILY, 0, 0};
  if (f31)
    ev.insert(ev.end(),
              {FAMILY_31, 0x10, 0x07, number, 0x01, uint8_t(WAVE_RATES[rate] / WAVE_RATE_UNIT)});
  else if (f11)
    ev.insert(ev.end(), {FAMILY_11, 0xF0, 0x02, number, rate});
  else
    ev.insert(ev.end(), {FAMILY_21, 0x01, 0x03, number, rate});
  const uint32_t fixed = uint32_t(ev.size()) - 4;
  const uint32_t maxBody = 0xFFFF;
  count = std::min(count, maxBody - fixed);
  // What does not fit is shortened to the room left, when enough room is left at all.
  uint32_t used = bytesUsed();
  uint32_t room = state->capacity > used ? state->capacity - used : 0;
  uint32_t delta = 0;
  if (!f31) {
    uint32_t since = time > state->tracks[0].lastTime ? time - state->tracks[0].lastTime : 0;
    delta = since > 0 ? (since - 1) / MAX_DELTA * FILLER_SIZE : 0;  // fillers first
  }
  uint32_t need = 1 + uint32_t(ev.size()) + count + delta;
  if (need > room) {
    stopForSize();
    if (room < MIN_VOICE_DATA_ROOM || room < 1 + ev.size() + delta) return;
    count = room - 1 - uint32_t(ev.size()) - delta;
  }
  uint32_t body = fixed + count;
  ev[2] = uint8_t(body >> 8);
  ev[3] = uint8_t(body);
  ev.insert(ev.end(), samples, samples + count);
  bool wasStopped = state->stopped;
  state->stopped = false;  // the shortened event was measured to fit
  if (f31)
    putSetup(ev.data(), uint32_t(ev.size()));
  else
    putTrackEvent(0, time, ev.data(), uint32_t(ev.size()));
  state->stopped = state->stopped || wasStopped;
}

void writeMeta(uint32_t time, uint8_t type, const uint8_t* data, uint32_t length) {
  switch (type) {
    case META_TEMPO:
      writeTempo(time, data, length);
      break;
    case META_MASTER_VOLUME:
      if (state->version >= 2 && length >= 1) {
        uint8_t ev[3] = {EV_ESCAPE, EV_MASTER_VOLUME, data[0]};
        putTrackEvent(0, time, ev, 3);
      }
      break;
    case META_CUE:
      if (length >= 1) {
        uint8_t ev[3] = {EV_ESCAPE, EV_CUE, data[0]};
        long at = putTrackEvent(0, time, ev, 3);
        if (at >= 0 && data[0] == 0 && state->cuepPos && !state->cueFilled) {
          state->cueFilled = true;
          state->cueOffset = uint32_t(at);
        }
      }
      break;
    case META_PARAMETER:
      if (length >= 1) {
        uint8_t ev[3] = {EV_ESCAPE, EV_PARAMETER, data[0]};
        putTrackEvent(0, time, ev, 3);
      }
      break;
    case META_LYRIC:
      if (state->pmd && state->version >= 2 && options.karaokeflg != 0) {
        uint32_t n = std::min(length, MAX_LYRIC_TEXT);
        std::vector<uint8_t> ev = {EV_ESCAPE, EV_LYRIC, uint8_t((n + 1) >> 8), uint8_t(n + 1), 0};
        ev.insert(ev.end(), data, data + n);
        if (putTrackEvent(0, time, ev.data(), uint32_t(ev.size())) >= 0) state->lyricsWritten = true;
      }
      break;
    case META_WAVE:
      writeWave(time, data, length);
      break;
    case META_WAVE_LEVEL:
      if (length >= 1) {
        state->waveLevel = data[0];
        uint8_t half = uint8_t(data[0] / 2);
        if (state->family == FAMILY_11 && state->version == 2) {
          uint8_t ev[] = {EV_ESCAPE, EV_FAMILY, 0x00, 0x04, FAMILY_11, 0xF2, 0x01, half};
          putTrackEvent(0, time, ev, sizeof ev);
        } else if (state->family == FAMILY_21 && state->version == 2) {
          uint8_t ev[] = {EV_ESCAPE, EV_FAMILY, 0x00, 0x04, FAMILY_21, 0x01, 0x06, half};
          putTrackEvent(0, time, ev, sizeof ev);
        }
      }
      break;
    default:
      break;
  }
}

void writeExclusive(uint32_t time, const uint8_t* data, uint32_t length) {
  if (length > 0xFFFF) return;
  std::vector<uint8_t> ev = {EV_ESCAPE, EV_EXCLUSIVE, uint8_t(length >> 8), uint8_t(length)};
  ev.insert(ev.end(), data, data + length);
  putTrackEvent(0, time, ev.data(), uint32_t(ev.size()));
}

// Writes the pending parts and note closings due up to `time`.
void settle(uint32_t time) {
  while (!state->pending.empty() && state->pending.top().time <= time && !state->stopped) {
    PendingEvent ev = state->pending.top();
    state->pending.pop();
    if (ev.kind == PENDING_RAW) {
      putTrackEvent(ev.track, ev.time, ev.bytes, ev.count);
      continue;
    }
    if (!putNotePart(ev.track, ev.time, ev.bytes[0], ev.bytes[1], ev.remaining)) continue;
    if (ev.remaining > MAX_GATE) {
      ev.time += GATE_CONTINUE_STEP;
      ev.remaining -= GATE_CONTINUE_STEP;
      schedule(ev);
    }
  }
}

void writeStreamEvent(const StreamEvent& ev) {
  const uint8_t status = ev.status;
  const uint8_t kind = status & 0xF0;
  const int channel = status & 0x0F;
  const uint8_t* d = ev.data;
  switch (kind) {
    case ST_NOTE:
      if (ev.length >= 4) writeNote(channel, ev.time, d);
      break;
    case ST_NOTE_HIGH:
      if (ev.length >= 4) writeHighNote(ev.time, d);
      break;
    case ST_CONTROL:
      if (ev.length >= 2) writeController(channel, ev.time, d[0], d[1]);
      break;
    case ST_PROGRAM:
      if (ev.length >= 2) writeProgram(channel, ev.time, d[0], d[1]);
      break;
    case ST_PITCH_BEND:
      if (ev.length >= 2) writePitchBend(channel, ev.time, d[0], d[1]);
      break;
    case 0xF0:
      if (status == ST_META)
        writeMeta(ev.time, ev.metaType, d, ev.length);
      else if (status == ST_EXCLUSIVE)
        writeExclusive(ev.time, d, ev.length);
      break;
    default:
      break;
  }
}

// ---- Layout ---------------------------------------------------------------------------------

struct SongScan {
  uint16_t noteChannels = 0;
  uint32_t end = 0;
  bool cue = false;
  bool pcm = false;
};

SongScan scanSong(const uint8_t* image, uint32_t size) {
  SongScan scan;
  TrackTable table;
  loadTrackTable(table, image, size);
  StreamEvent ev;
  while (nextStreamEvent(table, ev)) {
    scan.end = std::max(scan.end, ev.time);
    if ((ev.status & 0xF0) == ST_NOTE) scan.noteChannels |= uint16_t(1u << (ev.status & 15));
    // The status alone first: a test of status and type together reads both bytes as one word
    // just after the cursor stored them one by one, which the processor cannot forward.
    if (ev.status != ST_META) continue;
    if (ev.metaType == META_CUE) scan.cue = true;
    if (ev.metaType == META_WAVE && ev.length >= 2 && ev.data[1] != WAVE_RATE_NONE)
      scan.pcm = true;
  }
  return scan;
}

void buildLayout(uint16_t noteChannels) {
  int highestGroup = 0;
  int nextVoice = 0;
  for (int c = 0; c < CHANNELS; ++c) {
    ChannelInfo& info = state->ch[c];
    if (state->fourChannelTracks) {
      info.track = c / VOICES_PER_TRACK;
      info.voice = uint8_t(c % VOICES_PER_TRACK);
      if (noteChannels & (1u << c)) highestGroup = c / VOICES_PER_TRACK;
    } else if (noteChannels & (1u << c)) {
      info.track = 0;
      info.voice = uint8_t(nextVoice++ % VOICES_PER_TRACK);
    }
  }
  state->trackCount = state->fourChannelTracks ? highestGroup + 1 : 1;
  for (int t = 0; t < MAX_TRACK_CHUNKS; ++t)
    for (int v = 0; v < VOICES_PER_TRACK; ++v)
      state->tracks[t].voiceChannel[v] = uint8_t(t * VOICES_PER_TRACK + v);
}

void closeTracks() {
  for (int t = 0; t < state->trackCount; ++t) {
    OutTrack& tr = state->tracks[t];
    uint32_t end = state->stopped ? tr.lastTime : std::max(state->songEnd, tr.lastTime);
    // Fillers up to the song end; the end event itself has its room kept.
    while (end - tr.lastTime > MAX_DELTA && !state->stopped) {
      if (!fits(FILLER_SIZE)) {
        stopForSize();
        break;
      }
      const uint8_t filler[FILLER_SIZE] = {uint8_t(MAX_DELTA), EV_ESCAPE, EV_NOP, 0};
      tr.data.insert(tr.data.end(), filler, filler + FILLER_SIZE);
      tr.lastTime += MAX_DELTA;
    }
    uint32_t delta = state->stopped ? 0 : end - tr.lastTime;
    const uint8_t fin[END_EVENT_SIZE] = {uint8_t(delta), EV_ESCAPE, EV_END, 0};
    tr.data.insert(tr.data.end(), fin, fin + END_EVENT_SIZE);
    tr.lastTime += delta;
    tr.closed = true;
  }
}

void assemble(uint8_t* out, int32_t* outSize) {
  std::vector<uint8_t>& head = state->head;
  const uint32_t headerLength = uint32_t(head.size()) - HEADER_LENGTH_BASE;
  head[OFFSET_HEADER_LENGTH] = uint8_t(headerLength >> 8);
  head[OFFSET_HEADER_LENGTH + 1] = uint8_t(headerLength);
  if (state->lyricsWritten) {
    head[OFFSET_DATA_TYPE] = DATA_TYPE_LYRICS;
    head[OFFSET_SUB_TYPE] = uint8_t(SUB_TYPE_PLAIN | SUB_TYPE_LYRICS |
                                    (options.karaokeflg == 1 ? SUB_TYPE_KARAOKE_ONLY : 0));
  }
  head[OFFSET_TRACK_COUNT] = uint8_t(state->trackCount);
  if (state->cuepPos && state->cueFilled)
    putBE(head.data() + state->cuepPos, uint32_t(state->pre.size()) + state->cueOffset, 4);

  uint32_t pos = 0;
  std::memcpy(out, head.data(), head.size());
  pos += uint32_t(head.size());
  for (int t = 0; t < state->trackCount; ++t) {
    const OutTrack& tr = state->tracks[t];
    uint32_t length = uint32_t(tr.data.size() + (t == 0 ? state->pre.size() : 0));
    std::memcpy(out + pos, CHUNK_TRAC, 4);
    putBE(out + pos + 4, length, 4);
    pos += TRACK_HEAD_SIZE;
    if (t == 0 && !state->pre.empty()) {
      std::memcpy(out + pos, state->pre.data(), state->pre.size());
      pos += uint32_t(state->pre.size());
    }
    if (!tr.data.empty()) std::memcpy(out + pos, tr.data.data(), tr.data.size());
    pos += uint32_t(tr.data.size());
  }
  putBE(out + OFFSET_FILE_LENGTH, pos + (state->withCrc ? CRC_SIZE : 0) - 8, 4);
  if (state->withCrc) {
    uint16_t crc = uint16_t(~crc16(out, pos));
    putBE(out + pos, crc, 2);
    pos += CRC_SIZE;
  }
  *outSize = int32_t(pos);
}

}  // namespace

// One write of the whole song; writeMld repeats it on a thinner stream when the limit cut it.
static void writeMldOnce(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
                  int32_t* destinationSize, uint32_t capacity) {
  *destinationSize = 0;
  state = &threadRecord<MldWriterState>();
  *state = MldWriterState{};
  const TargetPreset& p = options.preset;
  state->pmd = p.ezwebTarget;
  state->version = std::clamp(int(p.formatVersion), 1, 3);
  state->wide = p.noteType;
  state->family = p.familyCode;
  state->fourChannelTracks = p.fourChannelTracks;
  state->low = std::max<int>(p.lowestNote, state->wide ? WIDE_LOW : NARROW_LOW);
  state->high = std::min<int>(p.highestNote, state->wide ? WIDE_HIGH : NARROW_HIGH);
  if (state->low > state->high) {  // a preset range outside the note form: use the form's own
    state->low = state->wide ? WIDE_LOW : NARROW_LOW;
    state->high = state->wide ? WIDE_HIGH : NARROW_HIGH;
  }
  state->withCrc = state->pmd && options.dlcrc;
  state->mailText = runState.MailFlags & MAIL_TEXT_FORM;
  state->capacity = destination ? capacity : 0;

  beginStream();
  SongScan scan = scanSong(source, sourceSize);
  state->songEnd = scan.end;
  buildLayout(scan.noteChannels);
  TrackTable table;
  loadTrackTable(table, source, sourceSize);
  state->timebaseCode = timebaseCode(table.timebase);

  writeHeader(scan.cue);
  if (!fits(0)) {  // not even the container fits
    raiseWarning(WARN_SIZE_LIMIT);
    endStream();
    *state = MldWriterState{};
    return;
  }
  const bool pcm = scan.pcm || songStats.hasVoiceSamples;
  writeStartEvents(pcm);
  if (state->family == FAMILY_31 && state->version == 3 && (pcm || (options.N504Vol & N504_ENABLE)) &&
      !(options.noefficflg && scan.cue)) {
    const uint8_t cue[3] = {EV_ESCAPE, EV_CUE, 0};
    putTrackEvent(0, 0, cue, 3);
  }

  StreamEvent ev;
  while (!state->stopped && nextStreamEvent(table, ev)) {
    settle(ev.time);
    if (state->stopped) break;
    writeStreamEvent(ev);
  }
  settle(TIME_END);
  fillVoiceExclusive();
  closeTracks();
  assemble(destination, destinationSize);
  endStream();
  *state = MldWriterState{};
}

void writeMld(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
              int32_t* destinationSize, uint32_t capacity) {
  writeWithinLimit(writeMldOnce, source, sourceSize, destination, destinationSize, capacity);
}

}  // namespace vlm
