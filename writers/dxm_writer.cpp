// feelsound writer: a "MCDF" directory of tagged data blocks (fixed entries and the song texts)
// followed by the song block, a "CThd" / "CTrk" pair laid out like a one-track Standard MIDI File.
// Events use running status and variable-length deltas; note-offs and pitch bends carry one data
// byte, and only the controllers the handsets know are kept (pan and bend range from version 2).
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

inline constexpr uint8_t MCDF_ID[4] = {'M', 'C', 'D', 'F'};
inline constexpr uint8_t CTHD_ID[4] = {'C', 'T', 'h', 'd'};
inline constexpr uint8_t CTRK_ID[4] = {'C', 'T', 'r', 'k'};

// Directory: kind, id, offset of the data from the file start, length of the data.
inline constexpr uint32_t ENTRY_SIZE = 10;
inline constexpr uint32_t ENTRY_OFFSET_FIELD = 2;
inline constexpr uint32_t ENTRY_LENGTH_FIELD = 6;
inline constexpr uint8_t ENTRY_KIND = 0x02;
inline constexpr uint8_t DIRECTORY_END[2] = {0xFF, 0xFF};
inline constexpr uint32_t DIRECTORY_PAD = 8;  // zero bytes behind the directory end

inline constexpr uint8_t ID_04 = 0x04;
inline constexpr uint8_t ID_SONG = 0x40;
inline constexpr uint8_t ID_VERSION = 0x84;
inline constexpr uint8_t ID_85 = 0x85;
inline constexpr char VERSION_TEXT[] = "01.0";  // 4 bytes, no terminator

// The four fixed entries and their data (the song block's data is the song block itself).
struct FixedEntry {
  uint8_t id;
  const void* data;
  uint32_t length;
};
inline constexpr uint8_t ZERO_BYTE = 0;
inline constexpr FixedEntry FIXED_ENTRIES[] = {
    {ID_04, &ZERO_BYTE, 1},
    {ID_SONG, nullptr, 0},
    {ID_VERSION, VERSION_TEXT, 4},
    {ID_85, &ZERO_BYTE, 1},
};
inline constexpr int FIXED_ENTRY_COUNT = 4;

// Text entries, in directory order: id and the SongInfo field stored under it.
struct TextEntry {
  uint8_t id;
  int field;
};
inline constexpr TextEntry TEXT_ENTRIES[] = {
    {0xC0, INFO_TITLE},    {0xC1, INFO_ARTIST},  {0xC2, INFO_GENRE}, {0xC3, INFO_COPYRIGHT},
    {0xC4, INFO_SOFTWARE}, {0xC5, INFO_COMPOSE}, {0xC6, INFO_WORDS}, {0xC7, INFO_ARRANGE},
};
inline constexpr int TEXT_ENTRY_COUNT = 8;

// Song block: "CThd", 6, 00 00 00 01, timebase, then "CTrk" and its length.
inline constexpr uint32_t CTHD_LENGTH = 6;
inline constexpr uint32_t CTHD_FIELD = 1;  // the 4-byte field after the length
inline constexpr uint32_t CTHD_TIMEBASE_OFFSET = 12;
inline constexpr uint32_t SONG_HEAD_SIZE = 22;      // "CThd" chunk and "CTrk" head
inline constexpr uint32_t CTRK_LENGTH_OFFSET = 18;  // within the song block
inline constexpr uint8_t END_OF_TRACK[3] = {ST_META, META_END_OF_TRACK, 0};

// Room kept behind the events for the closing delta (up to 5 bytes) and FF 2F 00.
inline constexpr uint32_t TRAILER_RESERVE = 8;
// Event refusal as named: data count + position + 5 must not exceed capacity - 7.
inline constexpr uint32_t LIMIT_MARGIN = 7;

inline constexpr uint32_t TIME_DONE = 0xFFFFFFFF;  // the merge's mark of an ended track
inline constexpr uint8_t DRUM_CHANNEL = 9;         // channel 10: its notes get no note-off
inline constexpr uint8_t TEMPO_BYTES = 3;
inline constexpr int PAN_VERSION = 2;  // first version with pan and bend range

struct DxmWriterState : MidiTrackOut {
  bool version2;
  // The event being written: status and its data bytes.
  uint8_t status;
  uint8_t data[8];
  uint32_t count;
};
thread_local DxmWriterState dxm;

void putNumber(uint32_t value, int n) {
  dxm.pos += uint32_t(putBE(dxm.out + dxm.pos, value, n));
}

void patchEntry(uint32_t entryPos, uint32_t offset, uint32_t length) {
  putBE(dxm.out + entryPos + ENTRY_OFFSET_FIELD, offset, 4);
  putBE(dxm.out + entryPos + ENTRY_LENGTH_FIELD, length, 4);
}

void setEvent(uint8_t status) {
  dxm.status = status;
  dxm.count = 0;
}

void addData(uint8_t byte) {
  dxm.data[dxm.count++] = byte;
}

// Writes the prepared event at `time` with its delta and running status; a note-on schedules
// its note-off at time + duration (none on channel 10). False when the event does not fit: the
// size-limit warning is raised then.
bool emitTrackEvent(uint32_t time, uint16_t duration = 0) {
  if (dxm.count == 0) return true;
  const bool schedules = (dxm.status & 0xF0) == ST_NOTE && (dxm.status & 0x0F) != DRUM_CHANNEL;
  const EventStart start =
      dxm.startEvent(time, dxm.status, dxm.count, schedules, dxm.data[0], duration);
  if (start == EventStart::STARTED) dxm.put(dxm.data, dxm.count);
  return start != EventStart::FULL;
}

bool emitNoteOff(const PendingNoteOff& entry) {
  setEvent(uint8_t(ST_NOTE_OFF | entry.channel));
  addData(entry.note);
  return emitTrackEvent(entry.end);
}

// Writes the note-offs due at or before `time`, one for every note struck; false when one does
// not fit (it stays waiting).
bool flushDue(uint32_t time) {
  NoteOffSchedule& offs = dxm.offs;
  bool ok = true;
  size_t i = offs.head;
  while (i < offs.size && offs.table[i].end <= time) {
    if (!emitNoteOff(offs.table[i])) {
      ok = false;
      break;
    }
    ++i;
  }
  offs.writtenUpTo(i);
  return ok;
}

// Every note-off still pending, in end order, while they fit.
void flushAll() {
  dxm.offs.flushAll(emitNoteOff);
}

// Translates one stream event and writes it; false when the output is full.
bool writeEvent(const StreamEvent& in) {
  const uint8_t* d = in.data;
  if (in.status == ST_META) {
    if (in.metaType != META_TEMPO || in.length < TEMPO_BYTES) return true;
    setEvent(ST_META);
    addData(META_TEMPO);
    addData(TEMPO_BYTES);
    for (uint8_t i = 0; i < TEMPO_BYTES; ++i) addData(d[i]);
    return emitTrackEvent(in.time);
  }
  if (in.status >= ST_EXCLUSIVE) return true;
  uint8_t kind = in.status & 0xF0;
  // Data bytes keep 7 bits: a stray high bit would read as a status in the file.
  switch (kind) {
    case ST_NOTE:
      // A silent note would read as a note-off of the same key: it is left out.
      if (in.length < 4 || (d[1] & 0x7F) == 0) return true;
      setEvent(in.status);
      addData(d[0] & 0x7F);
      addData(d[1] & 0x7F);
      return emitTrackEvent(in.time, uint16_t((d[2] << 8) | d[3]));
    case ST_CONTROL: {
      if (in.length < 2) return true;
      uint8_t controller = d[0], value = d[1] & 0x7F;
      setEvent(in.status);
      if (controller == CC_MODULATION || controller == CC_VOLUME || controller == CC_HOLD ||
          (controller == CC_PAN && dxm.version2)) {
        addData(controller);
        addData(value);
      } else if (controller == CC_BEND_RANGE && dxm.version2) {
        // Pitch-bend sensitivity by RPN 0, selected every time, under running status.
        const uint8_t bytes[] = {CC_RPN_LSB, 0, 0, CC_RPN_MSB, 0, 0, CC_DATA_ENTRY, value};
        for (uint8_t b : bytes) addData(b);
      } else {
        return true;
      }
      return emitTrackEvent(in.time);
    }
    case ST_PROGRAM:
      if (in.length < 1) return true;
      setEvent(in.status);
      addData(d[0] & 0x7F);
      return emitTrackEvent(in.time);
    case ST_PITCH_BEND:
      if (in.length < 2) return true;
      setEvent(in.status);
      addData(d[1] & 0x7F);  // the MSB alone
      return emitTrackEvent(in.time);
    default:  // fillers, notes of the second channel group, note-offs, pressures
      return true;
  }
}

uint32_t textLength(int field) {
  return uint32_t(strnlen(song.info.text[field], INFO_TEXT_SIZE - 1));
}

void resetState(uint8_t* out, uint32_t capacity) {
  dxm.startTrack(out, capacity, LIMIT_MARGIN, TRAILER_RESERVE);
  dxm.version2 = options.preset.formatVersion >= PAN_VERSION;
}

}  // namespace

void writeDxm(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
              int32_t* destinationSize, uint32_t capacity) {
  *destinationSize = 0;
  beginStream();
  resetState(destination, capacity);

  // The texts that go in: every non-empty field, unless the head would leave no room for an
  // empty song; then texts are left out from the last entry on.
  bool withText[TEXT_ENTRY_COUNT];
  uint64_t head = sizeof MCDF_ID + sizeof DIRECTORY_END + DIRECTORY_PAD;
  for (const FixedEntry& e : FIXED_ENTRIES) head += ENTRY_SIZE + e.length;
  for (int i = 0; i < TEXT_ENTRY_COUNT; ++i) {
    uint32_t length = textLength(TEXT_ENTRIES[i].field);
    withText[i] = length > 0;
    if (withText[i]) {
      head += ENTRY_SIZE + length;
    }
  }
  const uint64_t songMinimum = SONG_HEAD_SIZE + TRAILER_RESERVE;
  for (int i = TEXT_ENTRY_COUNT - 1; i >= 0 && head + songMinimum > capacity; --i) {
    if (!withText[i]) continue;
    withText[i] = false;
    head -= ENTRY_SIZE + textLength(TEXT_ENTRIES[i].field);
    raiseWarning(WARN_SIZE_LIMIT);
  }
  if (destination == nullptr || head + songMinimum > capacity) {
    // Not even an empty song fits.
    raiseWarning(WARN_SIZE_LIMIT);
    endStream();
    return;
  }

  // Directory with offsets and lengths patched as the data is written.
  dxm.put(MCDF_ID, sizeof MCDF_ID);
  uint32_t entryPos[FIXED_ENTRY_COUNT + TEXT_ENTRY_COUNT];
  int n = 0;
  auto putEntry = [&](uint8_t id) {
    entryPos[n++] = dxm.pos;
    dxm.out[dxm.pos++] = ENTRY_KIND;
    dxm.out[dxm.pos++] = id;
    std::memset(dxm.out + dxm.pos, 0, 8);
    dxm.pos += 8;
  };
  for (const FixedEntry& e : FIXED_ENTRIES) putEntry(e.id);
  for (int i = 0; i < TEXT_ENTRY_COUNT; ++i)
    if (withText[i]) putEntry(TEXT_ENTRIES[i].id);
  dxm.put(DIRECTORY_END, sizeof DIRECTORY_END);
  std::memset(dxm.out + dxm.pos, 0, DIRECTORY_PAD);
  dxm.pos += DIRECTORY_PAD;

  n = 0;
  uint32_t songEntry = 0;
  for (const FixedEntry& e : FIXED_ENTRIES) {
    if (e.id == ID_SONG) songEntry = entryPos[n];
    patchEntry(entryPos[n++], dxm.pos, e.length);
    if (e.length) dxm.put(e.data, e.length);
  }
  for (int i = 0; i < TEXT_ENTRY_COUNT; ++i) {
    if (!withText[i]) continue;
    uint32_t length = textLength(TEXT_ENTRIES[i].field);
    patchEntry(entryPos[n++], dxm.pos, length);
    dxm.put(song.info.text[TEXT_ENTRIES[i].field], length);
  }

  thread_local TrackTable table;
  loadTrackTable(table, source, sourceSize);

  const uint32_t songStart = dxm.pos;
  dxm.put(CTHD_ID, sizeof CTHD_ID);
  putNumber(CTHD_LENGTH, 4);
  putNumber(CTHD_FIELD, 4);
  putNumber(table.timebase, 2);
  dxm.put(CTRK_ID, sizeof CTRK_ID);
  putNumber(0, 4);  // track length, patched at the end

  StreamEvent in;
  while (nextStreamEvent(table, in)) {
    if (in.time == TIME_DONE) break;  // the time that marks an ended track
    if (dxm.offs.anyDue(in.time) && !flushDue(in.time)) break;
    if (!writeEvent(in)) break;
    dxm.songEnd = in.time;
  }
  flushAll();

  // Trailing rests keep the song's length: the end of track stands at the song end.
  if (dxm.lastTime > dxm.songEnd) dxm.songEnd = dxm.lastTime;
  dxm.pos += uint32_t(writeVarLen(dxm.out + dxm.pos, dxm.songEnd - dxm.lastTime));
  dxm.lastTime = dxm.songEnd;
  dxm.put(END_OF_TRACK, sizeof END_OF_TRACK);

  putBE(dxm.out + songStart + CTRK_LENGTH_OFFSET, dxm.pos - songStart - SONG_HEAD_SIZE, 4);
  putBE(dxm.out + songStart + CTHD_TIMEBASE_OFFSET, table.timebase, 2);
  patchEntry(songEntry, songStart, dxm.pos - songStart);
  *destinationSize = int32_t(dxm.pos);
  dxm.offs.release();
  endStream();
}

}  // namespace vlm
