// Standard MIDI File writer: merges the tracks of a finished event stream into one format-0
// "MTrk" chunk. Notes carry their duration in the stream; the writer turns each into a note-on
// and schedules its note-off in a pending table ordered by end time. When saving a protected
// song the file is wrapped in a RIFF "RMID" container with a copy-guard chunk.
#include <bit>
#include <cstdlib>
#include <cstring>

#include "core/codec.h"
#include "core/conversion_options.h"
#include "core/run_state.h"
#include "core/stages.h"
#include "core/vstream.h"
#include "writers/midi_track_out.h"

namespace vlm {

namespace {

inline constexpr uint8_t RIFF_ID[4] = {'R', 'I', 'F', 'F'};
inline constexpr uint8_t RMID_ID[4] = {'R', 'M', 'I', 'D'};
inline constexpr uint8_t COPY_ID[4] = {'c', 'o', 'p', 'y'};
inline constexpr uint8_t DATA_ID[4] = {'d', 'a', 't', 'a'};
inline constexpr uint8_t MTHD_ID[4] = {'M', 'T', 'h', 'd'};
inline constexpr uint8_t MTRK_ID[4] = {'M', 'T', 'r', 'k'};
inline constexpr char COPY_GUARD_TEXT[] = "COPYGARDFILE";  // 12 bytes, no terminator written
inline constexpr uint32_t COPY_CHUNK_SIZE = 20;            // "MThd", 12, the guard text
inline constexpr uint32_t COPY_GUARD_MTHD_SIZE = 12;
inline constexpr uint32_t RIFF_HEAD_SIZE = 48;  // up to and including the "data" chunk head
inline constexpr uint32_t RIFF_SIZE_OFFSET = 4;
inline constexpr uint32_t RIFF_DATA_SIZE_OFFSET = 44;
inline constexpr uint32_t SMF_HEAD_SIZE = 22;       // "MThd" chunk and "MTrk" head
inline constexpr uint32_t MTRK_LENGTH_OFFSET = 18;  // within the SMF
inline constexpr uint32_t MTHD_LENGTH = 6;

// Room kept free behind the events for the closing bytes: a delta of up to 5 bytes, the filler
// note-off 80 00 00 and the end of track 00 FF 2F 00.
inline constexpr uint32_t TRAILER_RESERVE = 12;
// The limit named for event refusal: count + position + 5 must not exceed capacity - 11.
inline constexpr uint32_t LIMIT_MARGIN = 11;

inline constexpr uint32_t TRACK_DONE = 0xFFFFFFFF;
inline constexpr int DRUM_CHANNEL = 9;  // channel 10
inline constexpr uint16_t DRUM_BIT = 1u << DRUM_CHANNEL;

inline constexpr uint8_t GM_SYSTEM_ON[] = {0x7E, 0x7F, 0x09, 0x01, 0xF7};
inline constexpr uint8_t GS_RESET[] = {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
inline constexpr uint8_t GS_RHYTHM_HEAD[] = {0x41, 0x10, 0x42, 0x12};
inline constexpr uint8_t GS_RHYTHM_ADDRESS = 0x40;
inline constexpr uint8_t GS_RHYTHM_PARAMETER = 0x15;
inline constexpr uint8_t GS_PART_DRUM = 0x10;   // part number of channel 10
inline constexpr uint8_t GS_PART_FIRST = 0x11;  // channels 1..9 are parts 0x11..0x19
inline constexpr uint8_t GS_PART_UPPER = 0x1A;  // channels 11..16 are parts 0x1A..0x1F
inline constexpr uint8_t MASTER_VOLUME_HEAD[] = {0x7F, 0x7F, 0x04, 0x01, 0x7F};
inline constexpr uint8_t SYSEX_END = 0xF7;
inline constexpr char CUE_START[] = "START";
inline constexpr char CUE_STOP[] = "STOP";

// The event being written: status, a short head of data bytes and an optional body copied
// straight from the stream image (exclusive and meta bodies), so that no bytes are copied twice.
struct OutEvent {
  uint8_t status;
  uint8_t head[16];
  uint32_t headCount;
  const uint8_t* body;
  uint32_t bodyCount;
  uint16_t duration;  // of a note-on
};

struct SmfWriterState : MidiTrackOut {
  uint32_t smfStart;
  bool saving;
  uint8_t map[CHANNELS];
  uint16_t rpn[CHANNELS];
  OutEvent ev;
};
thread_local SmfWriterState smf;

// Writes the prepared event at `time` with delta and running status. False when the event does
// not fit before the limit; the size-limit warning is raised then.
bool emitTrackEvent(uint32_t time) {
  const OutEvent& e = smf.ev;
  const uint64_t count = uint64_t(e.headCount) + e.bodyCount;
  if (count == 0) return true;
  const bool isNote = (e.status & 0xF0) == ST_NOTE;
  const EventStart start = smf.startEvent(time, e.status, count, isNote, e.head[0], e.duration);
  if (start != EventStart::STARTED) return start != EventStart::FULL;
  smf.put(e.head, e.headCount);
  if (e.bodyCount) smf.put(e.body, e.bodyCount);
  return true;
}

// The same for a channel message of one or two data bytes, without going through the event
// buffer: the common case of the merge. `duration` applies to a note-on.
inline bool emitShort(uint8_t status, uint8_t d0, uint8_t d1, uint32_t n, uint32_t time,
                      uint16_t duration) {
  SmfWriterState& s = smf;
  if (time < s.lastTime) time = s.lastTime;
  uint32_t delta = time - s.lastTime;
  bool writeStatus = status != s.runningStatus;
  uint64_t pos = s.pos;
  // Room for the longest form (five-byte delta and a status) settles it at once; only close to
  // the limit is the exact size worked out.
  if (pos + 6 + n + TRAILER_RESERVE > s.capacity || pos + n + EVENT_SLACK > s.limit) {
    uint64_t exact = uint64_t(varLenSize(delta)) + (writeStatus ? 1 : 0) + n;
    if (pos + n + EVENT_SLACK > s.limit || pos + exact + TRAILER_RESERVE > s.capacity) {
      raiseWarning(WARN_SIZE_LIMIT);
      return false;
    }
  }
  bool isNote = (status & 0xF0) == ST_NOTE;
  if (isNote && !s.offs.reserve()) return true;  // no memory for its note-off: left out
  uint8_t* dst = s.out + s.pos;
  if (delta < 0x80)
    *dst++ = uint8_t(delta);
  else
    dst += writeVarLen(dst, delta);
  s.lastTime = time;
  if (writeStatus) *dst++ = status;
  s.runningStatus = status;
  if (isNote) {
    uint64_t end = uint64_t(time) + duration;  // held below the end-of-tracks mark
    s.offs.add(d0, status & 0x0F, end < TRACK_DONE ? uint32_t(end) : TRACK_DONE - 1);
  }
  dst[0] = d0;
  dst[1] = d1;  // harmless for one data byte: the next event overwrites it, and it fits
  s.pos = uint32_t(dst - s.out) + n;
  return true;
}

void setEvent(uint8_t status) {
  smf.ev.status = status;
  smf.ev.headCount = 0;
  smf.ev.body = nullptr;
  smf.ev.bodyCount = 0;
  smf.ev.duration = 0;
}

void addHead(uint8_t byte) {
  smf.ev.head[smf.ev.headCount++] = byte;
}

void addHeadVarLen(uint32_t value) {
  smf.ev.headCount += uint32_t(writeVarLen(smf.ev.head + smf.ev.headCount, value));
}

// Exclusive F0, length, bytes.
void setExclusive(const uint8_t* body, uint32_t length) {
  setEvent(ST_EXCLUSIVE);
  addHeadVarLen(length);
  smf.ev.body = body;
  smf.ev.bodyCount = length;
}

void setMeta(uint8_t type, const void* body, uint32_t length) {
  setEvent(ST_META);
  addHead(type);
  addHeadVarLen(length);
  smf.ev.body = static_cast<const uint8_t*>(body);
  smf.ev.bodyCount = length;
}

bool emitNoteOff(const PendingNoteOff& entry) {
  return emitShort(uint8_t(ST_NOTE_OFF | entry.channel), entry.note, 0, 2, entry.end, 0);
}

// Writes the note-offs due at or before `time`. A note struck again before it ended has a later
// entry for the same channel and note: only that later one writes its note-off.
// A note-off that does not fit is given up.
bool flushDue(uint32_t time) {
  NoteOffSchedule& offs = smf.offs;
  size_t i = offs.head;
  bool ok = true;
  while (i < offs.size && offs.table[i].end <= time) {
    const PendingNoteOff& entry = offs.table[i];
    uint32_t& count = offs.waiting[entry.channel & 15][entry.note & 0x7F];
    --count;
    ++i;
    if (count == 0 && !emitNoteOff(entry)) {
      ok = false;
      break;
    }
  }
  offs.writtenUpTo(i);
  return ok;
}

// Every note still pending, in table order, without the duplicate test.
void flushAll() {
  smf.offs.flushAll(emitNoteOff);
}

uint32_t textLength(const char* text) {
  return uint32_t(strnlen(text, INFO_TEXT_SIZE - 1));
}

bool carriesNonReferenceLayout() {
  return (songStats.rhythmMask & ~DRUM_BIT) != 0 || (songStats.melodicMask & DRUM_BIT) != 0;
}

// During playback without GS mode, rhythm goes to channel 10 and melodic channels are handed
// out 1..9, 11..16 in order, so that a plain General MIDI synthesizer plays the layout.
void buildPlaybackMap() {
  for (int c = 0; c < CHANNELS; ++c) smf.map[c] = uint8_t(c);
  if (!runState.forPlayback || options.gsmode || !carriesNonReferenceLayout()) return;
  // Sixteen melodic channels and no rhythm fill every channel: they keep their numbers, channel
  // 10 with the rhythm mark cleared that the stream carries, instead of two sharing channel 16.
  const uint16_t melodicOnly = uint16_t(songStats.melodicMask & ~songStats.rhythmMask);
  if (songStats.rhythmMask == 0 && std::popcount(melodicOnly) == CHANNELS) return;
  int next = 0;
  for (int c = 0; c < CHANNELS; ++c) {
    uint16_t bit = uint16_t(1u << c);
    if (songStats.rhythmMask & bit) {
      smf.map[c] = DRUM_CHANNEL;
    } else if (songStats.melodicMask & bit) {
      smf.map[c] = uint8_t(next);
      if (next < CHANNELS - 1) {
        ++next;
        if (next == DRUM_CHANNEL) ++next;
      }
    }
  }
}

uint8_t gsPartOf(uint8_t channel) {
  if (channel == DRUM_CHANNEL) return GS_PART_DRUM;
  if (channel < DRUM_CHANNEL) return uint8_t(GS_PART_FIRST + channel);
  return uint8_t(GS_PART_UPPER + channel - DRUM_CHANNEL - 1);
}

bool emitOpeningEvents() {
  const SongInfo& info = song.info;
  uint32_t titleLength = textLength(info.text[INFO_TITLE]);
  uint32_t copyrightLength = textLength(info.text[INFO_COPYRIGHT]);
  uint32_t softwareLength = textLength(info.text[INFO_SOFTWARE]);
  if (titleLength) {
    setMeta(META_TRACK_NAME, info.text[INFO_TITLE], titleLength);
    if (!emitTrackEvent(0)) return false;
  }
  if (copyrightLength) {
    setMeta(META_COPYRIGHT, info.text[INFO_COPYRIGHT], copyrightLength);
    if (!emitTrackEvent(0)) return false;
  }
  if (softwareLength && titleLength) {
    setMeta(META_TEXT, info.text[INFO_SOFTWARE], softwareLength);
    if (!emitTrackEvent(0)) return false;
  }
  if (options.gmriset) {
    setExclusive(GM_SYSTEM_ON, sizeof GM_SYSTEM_ON);
    if (!emitTrackEvent(0)) return false;
  }
  if (carriesNonReferenceLayout()) {
    setExclusive(GS_RESET, sizeof GS_RESET);
    if (!emitTrackEvent(0)) return false;
  }
  return true;
}

// The RPN state follows the parameter selections the stream makes.
inline void noteRpn(uint8_t channel, uint8_t controller, uint8_t value) {
  if (controller == CC_NRPN_LSB || controller == CC_NRPN_MSB) {
    smf.rpn[channel] = RPN_NONE;
  } else if (controller == CC_RPN_LSB) {
    smf.rpn[channel] = uint16_t((smf.rpn[channel] & 0xFF00) | value);
  } else if (controller == CC_RPN_MSB) {
    smf.rpn[channel] = uint16_t((smf.rpn[channel] & 0x00FF) | (value << 8));
  }
}

// Fills the event from a pseudo controller; false when nothing is to be written.
bool translateController(uint8_t status, uint8_t channel, const uint8_t* d) {
  uint8_t controller = d[0], value = d[1] & 0x7F;  // pseudo controllers use the high bit
  if (controller == CC_RHYTHM_PART) {
    setEvent(ST_EXCLUSIVE);
    addHead(uint8_t(sizeof GS_RHYTHM_HEAD + 6));
    for (uint8_t b : GS_RHYTHM_HEAD) addHead(b);
    uint8_t address[4] = {GS_RHYTHM_ADDRESS, gsPartOf(channel), GS_RHYTHM_PARAMETER, value};
    for (uint8_t b : address) addHead(b);
    addHead(rolandChecksum(address, sizeof address));
    addHead(SYSEX_END);
    return true;
  }
  if (controller == CC_BEND_RANGE) {
    // Pitch-bend sensitivity by RPN 0, one controller event under running status.
    setEvent(status);
    if (smf.rpn[channel] != 0) {
      const uint8_t select[] = {CC_RPN_LSB, 0, 0, CC_RPN_MSB, 0, 0};
      for (uint8_t b : select) addHead(b);
    }
    addHead(CC_DATA_ENTRY);
    addHead(value);
    return true;
  }
  return false;
}

// Fills the event from an exclusive or meta event; false when it is dropped.
bool translateSystem(const StreamEvent& in) {
  bool isExclusive = in.status == ST_EXCLUSIVE;
  if (isExclusive && options.gmriset && in.length == sizeof GM_SYSTEM_ON &&
      std::memcmp(in.data, GM_SYSTEM_ON, sizeof GM_SYSTEM_ON) == 0)
    return false;  // the opening events already hold it
  uint8_t type = in.metaType;
  if (!isExclusive) {
    if (type == META_TEXT || type == META_COPYRIGHT || type == META_TRACK_NAME) return false;
    if (type == META_END_OF_TRACK) return false;
    if (type == META_MASTER_VOLUME) {
      setEvent(ST_EXCLUSIVE);
      addHead(uint8_t(sizeof MASTER_VOLUME_HEAD + 2));
      for (uint8_t b : MASTER_VOLUME_HEAD) addHead(b);
      addHead(in.length ? in.data[0] : 0);
      addHead(SYSEX_END);
      return true;
    }
  }
  if (smf.saving && options.ringtoneMode && (isExclusive || type != META_TEMPO)) return false;
  if (isExclusive) {
    setExclusive(in.data, in.length);
    return true;
  }
  if (type == META_CUE) {
    bool start = in.length == 0 || in.data[0] == 0;
    setMeta(META_CUE_POINT, start ? CUE_START : CUE_STOP,
            start ? uint32_t(sizeof CUE_START - 1) : uint32_t(sizeof CUE_STOP - 1));
    return true;
  }
  if (type >= 0x80) return false;
  setMeta(type, in.data, in.length);
  return true;
}

// Writes one stream event, translated; false when the output is full.
bool writeEvent(const StreamEvent& in) {
  uint8_t status = in.status;
  if (status >= ST_EXCLUSIVE) {
    if (status != ST_EXCLUSIVE && status != ST_META) return true;
    return !translateSystem(in) || emitTrackEvent(in.time);
  }
  uint8_t kind = status & 0xF0;
  if (kind < ST_NOTE_OFF) return true;  // fillers and notes of the second channel group
  uint8_t channel = smf.map[status & 0x0F];
  uint8_t outStatus = uint8_t(kind | channel);
  const uint8_t* d = in.data;
  // Data bytes keep 7 bits: a stray high bit would read as a status in the file.
  switch (kind) {
    case ST_NOTE:
      if (in.length < 4) return true;
      return emitShort(outStatus, d[0] & 0x7F, d[1] & 0x7F, 2, in.time,
                       uint16_t((d[2] << 8) | d[3]));
    case ST_CONTROL:
      if (in.length < 2) return true;
      if (d[0] < 0x80) {
        noteRpn(channel, d[0], d[1] & 0x7F);
        return emitShort(outStatus, d[0], d[1] & 0x7F, 2, in.time, 0);
      }
      return !translateController(outStatus, channel, d) || emitTrackEvent(in.time);
    case ST_PROGRAM:
      if (in.length < 1) return true;
      return emitShort(outStatus, d[0] & 0x7F, 0, 1, in.time, 0);
    case ST_PITCH_BEND:
      if (in.length < 2) return true;
      return emitShort(outStatus, d[0] & 0x7F, d[1] & 0x7F, 2, in.time, 0);
    default:  // note-offs come only from durations; pressures are not written
      return true;
  }
}

void resetState(uint8_t* out, uint32_t capacity) {
  smf.startTrack(out, capacity, LIMIT_MARGIN, TRAILER_RESERVE);
  smf.saving = !runState.forPlayback;
  for (uint16_t& word : smf.rpn) word = RPN_NONE;
}

}  // namespace

void writeSmf(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
              int32_t* destinationSize, uint32_t capacity) {
  *destinationSize = 0;
  beginStream();
  resetState(destination, capacity);
  buildPlaybackMap();

  thread_local TrackTable table;
  loadTrackTable(table, source, sourceSize);

  bool wrapped = song.ProtectFlags != 0 && !runState.forPlayback;
  uint32_t headSize = (wrapped ? RIFF_HEAD_SIZE : 0) + SMF_HEAD_SIZE;
  if (destination == nullptr || uint64_t(headSize) + TRAILER_RESERVE > capacity) {
    // Not even an empty file fits.
    raiseWarning(WARN_SIZE_LIMIT);
    endStream();
    return;
  }

  if (wrapped) {
    smf.put(RIFF_ID, 4);
    smf.pos += 4;  // size, patched at the end
    smf.put(RMID_ID, 4);
    smf.put(COPY_ID, 4);
    smf.pos += uint32_t(putLE(smf.out + smf.pos, COPY_CHUNK_SIZE, 4));
    smf.put(MTHD_ID, 4);
    smf.pos += uint32_t(putBE(smf.out + smf.pos, COPY_GUARD_MTHD_SIZE, 4));
    smf.put(COPY_GUARD_TEXT, sizeof COPY_GUARD_TEXT - 1);
    smf.put(DATA_ID, 4);
    smf.pos += 4;  // size, patched at the end
  }
  smf.smfStart = smf.pos;
  smf.put(MTHD_ID, 4);
  smf.pos += uint32_t(putBE(smf.out + smf.pos, MTHD_LENGTH, 4));
  smf.pos += uint32_t(putBE(smf.out + smf.pos, 0, 2));  // format 0
  smf.pos += uint32_t(putBE(smf.out + smf.pos, 1, 2));  // one track
  smf.pos += uint32_t(putBE(smf.out + smf.pos, table.timebase, 2));
  smf.put(MTRK_ID, 4);
  smf.pos += 4;  // track length, patched at the end

  if (emitOpeningEvents()) {
    StreamEvent in;
    while (nextStreamEvent(table, in)) {
      if (in.time == TRACK_DONE) break;
      if (smf.offs.anyDue(in.time) && !flushDue(in.time)) break;
      if (!writeEvent(in)) break;
      smf.songEnd = in.time;
    }
  }
  flushAll();

  // Trailing rests keep the song's length through a silent note-off at the song end.
  if (smf.lastTime > smf.songEnd) smf.songEnd = smf.lastTime;
  if (smf.songEnd > smf.lastTime) {
    smf.pos += uint32_t(writeVarLen(smf.out + smf.pos, smf.songEnd - smf.lastTime));
    const uint8_t filler[] = {ST_NOTE_OFF, 0, 0};
    smf.put(filler, sizeof filler);
    smf.lastTime = smf.songEnd;
  }
  const uint8_t endOfTrack[] = {0, ST_META, META_END_OF_TRACK, 0};
  smf.put(endOfTrack, sizeof endOfTrack);

  uint32_t trackStart = smf.smfStart + SMF_HEAD_SIZE;
  putBE(smf.out + smf.smfStart + MTRK_LENGTH_OFFSET, smf.pos - trackStart, 4);
  if (wrapped) {
    putLE(smf.out + RIFF_SIZE_OFFSET, smf.pos - 8, 4);
    putLE(smf.out + RIFF_DATA_SIZE_OFFSET, smf.pos - smf.smfStart, 4);
  }
  *destinationSize = int32_t(smf.pos);
  smf.offs.release();
  endStream();
}

}  // namespace vlm
