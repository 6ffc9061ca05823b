// The intermediate song representation (VStream) and the one stream writer that every reader and
// the transform emit through. A VStream is a chunked byte stream modelled on a one-track Standard
// MIDI File: a "VThd" chunk with the timebase, then one or more "VTrk" chunks of events. Notes
// carry their duration instead of note-offs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "util/memblock.h"
#include "util/text_codes.h"

namespace vlm {

// ---- Byte layout ---------------------------------------------------------------------------

inline constexpr uint8_t VTHD_ID[4] = {'V', 'T', 'h', 'd'};
inline constexpr uint8_t VTRK_ID[4] = {'V', 'T', 'r', 'k'};
inline constexpr uint32_t VTHD_DATA_LENGTH = 2;
inline constexpr uint32_t CHUNK_HEAD_SIZE = 8;  // id + 32-bit length
inline constexpr uint32_t VTHD_TIMEBASE_OFFSET = 8;
inline constexpr uint32_t EMPTY_STREAM_SIZE = 22;  // header, track head, end of track

inline constexpr int MAX_TRACKS = 128;  // chunks a consumer reads
inline constexpr int MAX_NOTES = 128;   // open-note and timed-note table size
inline constexpr int CHANNELS = 16;
inline constexpr uint32_t EVENT_SCRATCH_SIZE = 65536;
inline constexpr uint32_t MAX_DURATION = 0xFFFF;

// ---- Statuses and pseudo events ------------------------------------------------------------

inline constexpr uint8_t ST_FILLER = 0x00;      // 0x0n: n bytes consumers skip
inline constexpr uint8_t ST_TIMED_NOTE = 0x10;  // request only: note with duration, becomes 0x9n
inline constexpr uint8_t ST_NOTE_HIGH = 0x20;   // note of channel n + 16, with duration
inline constexpr uint8_t ST_TIMED_END = 0x30;   // request only: early end of a timed note
inline constexpr uint8_t ST_NOTE_OFF = 0x80;
inline constexpr uint8_t ST_NOTE = 0x90;  // note with duration (never a note-on/off pair)
inline constexpr uint8_t ST_POLY_PRESSURE = 0xA0;
inline constexpr uint8_t ST_CONTROL = 0xB0;
inline constexpr uint8_t ST_PROGRAM = 0xC0;  // program, bank byte
inline constexpr uint8_t ST_CHANNEL_PRESSURE = 0xD0;
inline constexpr uint8_t ST_PITCH_BEND = 0xE0;  // LSB, MSB
inline constexpr uint8_t ST_EXCLUSIVE = 0xF0;
inline constexpr uint8_t ST_META = 0xFF;

inline constexpr uint8_t CC_MODULATION = 1;
inline constexpr uint8_t CC_DATA_ENTRY = 6;
inline constexpr uint8_t CC_VOLUME = 7;
inline constexpr uint8_t CC_PAN = 10;
inline constexpr uint8_t CC_EXPRESSION = 11;
inline constexpr uint8_t CC_HOLD = 64;
inline constexpr uint8_t CC_NRPN_LSB = 98;
inline constexpr uint8_t CC_NRPN_MSB = 99;
inline constexpr uint8_t CC_RPN_LSB = 100;
inline constexpr uint8_t CC_RPN_MSB = 101;
inline constexpr uint8_t CC_RHYTHM_PART = 0x80;  // v != 0: rhythm channel from here on
inline constexpr uint8_t CC_BEND_RANGE = 0x82;   // bend sensitivity in semitones
inline constexpr uint8_t CC_FREQ_LOW = 0x83;     // request only: frequency number, low 8 bits
inline constexpr uint8_t CC_FREQ_HIGH = 0x84;    // request only: block, key-on, fnum bit 8

inline constexpr uint8_t META_TEXT = 0x01;
inline constexpr uint8_t META_COPYRIGHT = 0x02;
inline constexpr uint8_t META_TRACK_NAME = 0x03;
inline constexpr uint8_t META_LYRIC = 0x05;
inline constexpr uint8_t META_MARKER = 0x06;
inline constexpr uint8_t META_CUE_POINT = 0x07;
inline constexpr uint8_t META_END_OF_TRACK = 0x2F;
inline constexpr uint8_t META_TEMPO = 0x51;
inline constexpr uint8_t META_SEQUENCER = 0x7F;
inline constexpr uint8_t META_MASTER_VOLUME = 0x80;  // one byte 0..127
inline constexpr uint8_t META_FORMAT_TEXT = 0x83;    // text bytes for phone writers
inline constexpr uint8_t META_CUE = 0x84;            // 0 start, 1 stop of the play range
inline constexpr uint8_t META_PARAMETER = 0x85;      // one parameter byte
inline constexpr uint8_t META_WAVE = 0x86;           // wave number, rate code, samples
inline constexpr uint8_t META_VOICE = 0x87;          // voice definition
inline constexpr uint8_t META_WAVE_LEVEL = 0x88;     // volume of the wave part
inline constexpr uint8_t META_LEVEL = 0x89;          // one level byte
// Coding of the next wave data event of a wave number: wave number, coding (formats/adpcm.h),
// sample rate in Hz (4 bytes). Waves without one are coded as AdpcmCodec says.
inline constexpr uint8_t META_WAVE_CODING = 0x8A;

inline constexpr uint8_t WAVE_RATE_NONE = 0xFF;
inline constexpr uint32_t WAVE_RATES[5] = {4000, 8000, 11000, 22050, 44100};
// A wave sound starts with a note of status 0x20 (channel 16 of the second group of channels)
// whose note number is the wave number.
inline constexpr uint8_t WAVE_NOTE_STATUS = 0x20;

inline constexpr uint16_t RESET_DRUM_CHANNEL_MASK = 0x200;  // only channel 10
inline constexpr uint16_t BEND_CENTRE = 0x4000;             // MSB * 256 + LSB
inline constexpr uint16_t RPN_NONE = 0x7F7F;

// Number of data bytes after the status byte for the fixed-size statuses (0xF0 and 0xFF are read
// by their length fields). 0xFF marks a status that has no fixed size. A table by the high
// nibble: every consumer asks this for every event it reads.
inline constexpr uint8_t NO_FIXED_SIZE = 0xFF;
inline constexpr uint8_t EVENT_DATA_SIZES[16] = {
    0,                          // 0x0n: filler, n bytes (see below)
    4, 4,                       // 0x1n timed note, 0x2n note of channel n + 16
    NO_FIXED_SIZE,              // 0x3n: early end of a timed note, a request only
    NO_FIXED_SIZE, NO_FIXED_SIZE, NO_FIXED_SIZE, NO_FIXED_SIZE,
    2, 4, 2, 2, 2, 1, 2,        // 0x8n .. 0xEn
    NO_FIXED_SIZE,              // 0xF0, 0xFF and the rest
};
inline int eventDataSize(uint8_t status) {
  return status < 0x10 ? status & 0x0F : EVENT_DATA_SIZES[status >> 4];
}

// ---- Song texts and marks ------------------------------------------------------------------

enum SongInfoField : int {
  INFO_TITLE,
  INFO_COPYRIGHT,
  INFO_ARTIST,
  INFO_WORDS,
  INFO_COMPOSE,
  INFO_ARRANGE,
  INFO_GENRE,
  INFO_DATE,
  INFO_SOFTWARE,
  INFO_FIELDS
};
inline constexpr int INFO_TEXT_SIZE = 256;  // 255 bytes of Shift-JIS and a terminating zero

struct SongInfo {
  // Shift-JIS always: what the writers write and the dialogs edit. A text that Shift-JIS cannot
  // hold keeps '?' for what it lacks here, and its own bytes and code below for the display.
  char text[INFO_FIELDS][INFO_TEXT_SIZE];
  uint8_t code[INFO_FIELDS];  // TextCode (util/text_codes.h) of `original`; TEXT_SHIFT_JIS: none
  char original[INFO_FIELDS][INFO_TEXT_SIZE];  // the file's bytes when `code` is not Shift-JIS
  uint8_t originalLength[INFO_FIELDS];         // (UTF-16 and the like hold zero bytes)
};

// ProtectFlags bits.
inline constexpr uint8_t PROTECT_COPY = 0x01;
inline constexpr uint8_t PROTECT_SAVE = 0x02;
inline constexpr uint8_t PROTECT_EDIT = 0x04;

// How far the reader got through its input, set once at its end: the file was read to its end,
// was cut short (the reader needed bytes past it), or the reader stopped before its end.
struct ReadReport {
  bool reported;       // the reader set this record
  bool ranOut;         // a length or an event went past the end: the file is cut short
  uint32_t imageSize;  // bytes the reader was given
  uint32_t stoppedAt;  // offset where reading stopped (imageSize: at the end)
  bool checksumBad;    // the file carries a checksum and its bytes do not match it
  // A part the reader cannot decode (a score in an unknown or corrupt encoding): the song it
  // gives is not the file's, whatever else was read.
  const char* unsupported;  // what it is (a static text), or null
  const char* damage;       // other damage the reader found (a static text), or null
};

// What the reader of the current song leaves for the run, the writers and the display.
struct SongRecord {
  SongInfo info;
  uint8_t ProtectFlags;
  uint32_t fileSize;  // size of the input image
  ReadReport read;    // reset by the run before each reader
};
// Constant-initialised and trivially destructible: other sources reach it without a TLS wrapper.
extern thread_local constinit SongRecord song;

void clearSongInfo();
void setSongText(int field, const char* bytes, size_t length);  // truncated to 255 bytes
// A reader's last word on its input: `reach` is the end of the data it read or was told to
// expect (a declared length may point past the image, which means the file is cut short).
inline void reportRead(uint32_t imageSize, uint64_t reach, bool ranOut = false) {
  song.read.reported = true;
  song.read.ranOut = ranOut || reach > imageSize;
  song.read.imageSize = imageSize;
  song.read.stoppedAt = reach < imageSize ? uint32_t(reach) : imageSize;
}
// For formats that carry a checksum: whether the bytes it covers still match it.
inline void reportChecksum(bool matches) {
  song.read.checksumBad = !matches;
}
// A reader's findings beside where it stopped; the first one of a kind is kept.
inline void reportUnsupported(const char* what) {
  if (!song.read.unsupported) song.read.unsupported = what;
}
inline void reportDamage(const char* what) {
  if (!song.read.damage) song.read.damage = what;
}

// ---- Statistics gathered while a stream is written -----------------------------------------

inline constexpr int STATS_POSITIONS = 3000;  // sixteenth-note positions and beats tracked
inline constexpr int LYRIC_ENTRY_CHARS = 63;
inline constexpr int RHYTHM_SLOTS = 8;

enum ProgramUse : uint8_t { PROGRAM_NONE, PROGRAM_SINGLE, PROGRAM_MIXED };

struct ChannelStats {
  uint8_t lowNote, highNote;          // valid when notes > 0
  uint8_t lowVelocity, highVelocity;  // non-zero velocities only
  uint8_t lowVolume, highVolume;      // effective volume = volume x expression / 127
  // (resetSongStats leaves every low value at 0xFF and high value at 0 until one is seen)
  uint32_t firstNotePos;  // sixteenth position of the first start + 1 (0 = none)
  uint32_t lastNotePos;   // sixteenth position of the latest end + 1
  uint32_t notes;
  uint8_t maxSounding;
  uint8_t programUse;  // ProgramUse
  uint16_t program;    // program word (program | bank << 8) in use
};

struct LyricEntry {
  uint16_t position;  // sixteenth note
  std::string text;   // at most LYRIC_ENTRY_CHARS bytes; a leading '\n' starts a new line
};

inline constexpr int MAX_WAVES = 32;
inline constexpr uint32_t DEVICE_FLAG_ANY = 1u << 17;

struct WaveEntry {
  uint32_t sampleRate;  // Hz, 0 when the data has no samples
  uint32_t position;    // offset of the sample bytes in the source image
  uint32_t length;      // sample bytes
  uint8_t coding = 0;   // wave coding (formats/adpcm.h)
};

// Everything of SongStats but its lyrics: plain data, so that the copies a conversion makes of the
// statistics (kept for the display while the transform and the writer rebuild them) are one block
// copy instead of a loop over every byte of the position tables.
struct SongCounts {
  uint32_t tempoMin, tempoMax;  // beats per minute; 0 = no tempo seen
  ChannelStats ch[CHANNELS];
  uint8_t lowVelocity, highVelocity;
  uint8_t maxPolyphony;
  uint8_t sounding;                            // notes sounding now over all channels
  uint16_t melodicMask, rhythmMask, bankMask;  // bankMask: bank byte with 0x1B in its low 5 bits
  uint8_t programSet[16];                      // bit set of programs used on melodic channels
  uint16_t programCount;
  uint8_t rhythmNoteSet[16];
  uint16_t rhythmNoteCount;
  uint16_t rhythmNoteHits[128];
  uint16_t beatChannels[STATS_POSITIONS];  // per beat: channels with a note start
  uint8_t beatRhythm[STATS_POSITIONS];     // per beat: one bit per rhythm-note slot
  uint8_t rhythmSlotNote[RHYTHM_SLOTS];
  uint8_t rhythmSlotCount;
  uint8_t marker[STATS_POSITIONS];  // per sixteenth: note number of a marker note (< 32)
  uint8_t masterVolumeMin, masterVolumeMax;
  bool masterVolumeSeen;
  uint32_t cueStart;  // sixteenth position of the first start cue
  uint32_t cueStop;   // sixteenth position of the stop cue + 1 (0 = none)
  bool cueStartSeen;
  bool karaokeText, slashLyrics;
  bool karaokeLines;  // text events with karaoke line marks, without the "@KMIDI" mark
  bool hasVoiceSamples;  // a wave with samples was written
  // What the phone-format readers found in their source's information and device messages.
  uint16_t formatVersion;      // "vers" of an i-melody or PMD source, as a decimal number
  uint32_t deviceFlags;        // bit (family >> 4) - 1 per device-message family, bit 17 any
  WaveEntry waves[MAX_WAVES];  // embedded wave data, in the order found
  uint8_t waveCount;
  uint16_t vibrationMask, ledMask;  // channels linked to the vibrator and to the LED
};

static_assert(std::is_trivially_copyable_v<SongCounts>, "SongCounts is copied as one block");

struct SongStats : SongCounts {
  std::vector<LyricEntry> lyrics;  // sorted by position, one entry per position
};
extern thread_local SongStats songStats;

// ---- The stream writer ---------------------------------------------------------------------

struct OpenNote {
  uint8_t note, track, channel;
  uint32_t position;  // of the note's status byte in the output
  uint32_t start;
};

struct TimedNote {
  uint8_t note, track, channel;
  uint32_t position;
  uint32_t start;
  uint32_t end;
};

struct ChannelState {
  uint8_t controller[128];      // last value of every controller
  uint32_t controllerPos[128];  // write position where it was set while no note sounded
  uint8_t bendRange;            // semitones
  uint32_t bendRangePos;
  uint16_t bend;  // MSB * 256 + LSB
  uint32_t bendPos;
  uint16_t rpn;      // MSB * 256 + LSB
  uint16_t program;  // program | bank byte << 8
  uint32_t programPos;
  uint8_t sounding;     // notes of this channel now sounding (see countSounding)
  uint8_t map;          // channel map entry
  uint16_t freqNumber;  // 9 bits
  uint8_t freqFlags;    // bits 0..2 block, bit 3 key on
  uint8_t freqNote;     // current frequency note, 0 = none
};

struct VStreamWriter {
  uint32_t pos;                   // write position in the output buffer
  uint32_t headerStart;           // of "VThd"
  uint32_t trackStart;            // of the current "VTrk"
  uint32_t now;                   // absolute time of the event being submitted
  uint32_t lastTime[MAX_TRACKS];  // time of the last written event per output track
  uint8_t outTrack;
  uint16_t timebase;
  uint32_t tempoBpm;

  // The event being submitted.
  uint8_t status;
  uint8_t channel;      // 0..15, or 16..31 for 0x2n
  uint8_t sourceTrack;  // 0..127, only to match note-offs to notes of the same track
  uint8_t* data;        // points into scratch or into the reader's own bytes
  uint32_t count;
  bool resubmit;

  uint16_t DRUM_CHANNEL_MASK;  // bit n set: channel n is a rhythm channel
  ChannelState ch[CHANNELS];
  OpenNote open[MAX_NOTES];
  int openCount;
  TimedNote timed[MAX_NOTES];
  int timedCount;
  bool mergeRhythmRepeats;  // set by the i-melody reader: repeat merge on rhythm channels too

  MemBlock scratch;  // 64 KiB for event data
};
// Constant-initialised and trivially destructible: other sources reach it without a TLS wrapper.
extern thread_local constinit VStreamWriter writer;

void resetSongStats();
void beginStream();
void writeHeaderChunk(uint8_t* out);
void writeTrackChunk(uint8_t* out);
// Encodes the current event; 0 when the buffer is full (nothing written).
int emitEvent(uint8_t* out, uint32_t capacity, uint32_t time);
// Turns the current request into stream events (note matching, durations, bends); 0 when full.
int putEvent(uint8_t* out, uint32_t capacity, uint32_t time);
// The leading `bytes` of the scratch block may hold event bytes: the next stream clears them.
void markScratchWritten(size_t bytes);
// Updates channel state and statistics for an event about to be written at `time`.
void noteSongEvent(uint32_t time, uint8_t status);
// The part of noteSongEvent that the events after this one depend on, for a stream whose
// statistics are not kept but for its channel masks: the channel state that command efficiency
// reads, texts that become lyrics, and the melodic, rhythm and bank masks.
void noteStreamState(uint32_t time, uint8_t status);
void finishStream(uint8_t* out);
void endStream();
// What every reader does first: a destination without room for `minCapacity` bytes (at least the
// header, a track head and the end of track, which are written without asking the capacity) gets
// nothing and the answer is false; otherwise the song's texts and statistics are cleared and a
// stream at `timebase` begins with its header chunk.
bool beginReaderStream(uint8_t* destination, uint32_t capacity, uint32_t minCapacity,
                       uint16_t timebase);
// And last: closes the open track and gives the size of the stream.
void endReaderStream(uint8_t* destination, int32_t* destinationSize);
// The last step of a reader that writes one chunk per part and closes each chunk itself: a song
// without a chunk gets one empty chunk, then the size of the stream is given.
void endChunkedReaderStream(uint8_t* destination, int32_t* destinationSize, bool chunkWritten);
// Whether a wave event (META_WAVE) was written since the last beginStream. Every event of a
// stream goes through the emitter, so without one no scan of the stream can find voice samples.
bool waveEventWritten();

// Convenience for readers: sets the current event and submits it until it is no longer asked
// again. Returns 0 when the buffer is full. A request of count 0 (a note-off) still reads its note
// from data[0] when data is not null.
int submitEvent(uint8_t* out, uint32_t capacity, uint32_t time, uint8_t status, uint8_t sourceTrack,
                const uint8_t* data, uint32_t count);

// The common channel events of the readers, the same as submitEvent with these data bytes: a
// note-off (0x8n: note), a note-on (0x9n: note, velocity; velocity 0 ends the note), a controller
// (0xBn), a program (0xCn: program, bank byte) or a bend (0xEn: LSB, MSB). Events that no request
// step turns into others are written directly: no copy, no re-submission loop, no checks of
// steps that cannot apply. Any other status takes the general path with the bytes it keeps.
// Returns 0 when the buffer is full.
int submitChannelEvent(uint8_t* out, uint32_t capacity, uint32_t time, uint8_t status,
                       uint8_t sourceTrack, uint8_t a, uint8_t b);

// Sixteenth-note position of a tick time in the writer's timebase.
uint32_t sixteenthOf(uint32_t time);

// ---- The reading side: merged tracks -------------------------------------------------------

struct TrackCursor {
  uint32_t pos;       // read position (after the delta of the next event)
  uint32_t end;       // chunk start + length + 8, clipped to the image
  uint32_t nextTime;  // absolute time of the next event
  bool ended;
};

struct StreamEvent {
  uint32_t time;
  int track;
  uint8_t status;       // 0xF0 and 0xFF included
  uint8_t metaType;     // for 0xFF
  const uint8_t* data;  // data bytes as stored (for 0xF0/0xFF: the body after the length)
  uint32_t length;      // count of data bytes (body length for 0xF0/0xFF)
  uint32_t offset;      // position of the status byte in the image
  uint32_t size;        // encoded size from the status byte to the end of the event
};

// One merge over the chunks of a VStream: the track whose next event time is smallest is taken
// first, the lowest track index on ties. Every consumer uses this one cursor.
struct TrackTable {
  const uint8_t* image = nullptr;
  uint32_t size = 0;
  uint16_t timebase = 0;
  int count = 0;
  TrackCursor track[MAX_TRACKS];
  bool truncated = false;  // an event or chunk ran past the end of the image
};

// Scans the chunks of an image; returns the number of tracks found.
int loadTrackTable(TrackTable& table, const uint8_t* image, uint32_t size);
// nextStreamEvent for every case: meta and exclusive events, unknown statuses, events and
// deltas that run past their chunk, several tracks.
bool nextStreamEventAnyKind(TrackTable& table, StreamEvent& ev);

// Reads the next event in merge order; false when every track has ended. Every consumer reads
// every event through this, so the common case is inline: one track, an event of fixed size
// and a one-byte delta behind it. Anything else takes the general reader, which gives the same
// events.
inline bool nextStreamEvent(TrackTable& table, StreamEvent& ev) {
  TrackCursor& t = table.track[0];
  if (table.count != 1 || t.ended || t.pos >= t.end) return nextStreamEventAnyKind(table, ev);
  const uint8_t* image = table.image;
  const uint32_t start = t.pos;
  const uint8_t status = image[start];
  if (status >= ST_EXCLUSIVE) return nextStreamEventAnyKind(table, ev);
  const uint32_t n = uint32_t(eventDataSize(status));
  const uint32_t p = start + 1;
  if (n == NO_FIXED_SIZE || n > t.end - p) return nextStreamEventAnyKind(table, ev);
  const uint32_t next = p + n;
  if (next >= t.end || image[next] >= 0x80) return nextStreamEventAnyKind(table, ev);
  ev.metaType = 0;
  ev.data = image + p;
  ev.length = n;
  ev.time = t.nextTime;
  ev.track = 0;
  ev.status = status;
  ev.offset = start;
  ev.size = n + 1;
  const uint32_t delta = image[next];
  t.pos = next + 1;
  t.nextTime = delta > 0xFFFFFFFFu - t.nextTime ? 0xFFFFFFFFu : t.nextTime + delta;
  return true;
}

}  // namespace vlm
