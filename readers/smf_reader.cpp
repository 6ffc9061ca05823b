// Standard MIDI File reader: format 0 and 1, the RIFF "RMID" wrapper, karaoke files, and the
// compact chunk form ("MCDF", "CThd", "CTrk") of feelsound files. All tracks are merged into one
// VStream chunk; song texts go to SongInfo, known exclusives and cue texts become pseudo events.
#include <algorithm>
#include <cstring>

#include "core/codec.h"
#include "core/reader_events.h"
#include "core/stages.h"
#include "core/thread_record.h"
#include "core/vstream.h"

namespace vlm {

namespace {

constexpr uint32_t DEFAULT_TIMEBASE = 120;
constexpr uint32_t RIFF_HEAD_SKIP = 12;  // "RIFF", size, form type
constexpr uint32_t COMPACT_MARK_SKIP = 4;
constexpr uint32_t INFO_LIST_SKIP = 4;  // "INFO" form type inside a LIST
constexpr uint32_t MTHD_TIMEBASE_OFFSET = 12;
constexpr uint8_t PROTECT_ALL = PROTECT_COPY | PROTECT_SAVE | PROTECT_EDIT;

// Information block entries of the compact form: tag, then the SongInfo field it fills.
struct InfoTag {
  uint8_t tag[3];
  int field;
};
constexpr InfoTag COMPACT_INFO_TAGS[] = {
    {{0x02, 0xC0, 0x00}, INFO_TITLE},    {{0x02, 0xC1, 0x00}, INFO_ARTIST},
    {{0x02, 0xC2, 0x00}, INFO_GENRE},    {{0x02, 0xC3, 0x00}, INFO_COPYRIGHT},
    {{0x02, 0xC4, 0x00}, INFO_SOFTWARE}, {{0x02, 0xC5, 0x00}, INFO_COMPOSE},
    {{0x02, 0xC6, 0x00}, INFO_WORDS},    {{0x02, 0xC7, 0x00}, INFO_ARRANGE},
};

constexpr uint8_t SYSEX_UNIVERSAL_RT = 0x7F;
constexpr uint8_t SYSEX_UNIVERSAL_NRT = 0x7E;
constexpr uint8_t SYSEX_ROLAND = 0x41;
constexpr uint8_t SYSEX_YAMAHA = 0x43;
constexpr uint8_t UNIVERSAL_MASTER_VOLUME[] = {0x7F, 0x7F, 0x04, 0x01};
constexpr uint8_t GS_MASTER_VOLUME[] = {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x04};
constexpr uint8_t XG_MASTER_VOLUME[] = {0x43, 0x10, 0x4C, 0x00, 0x00, 0x04};
constexpr uint8_t GS_PART_PARAMETER[] = {0x41, 0x10, 0x42, 0x12, 0x40};
constexpr uint8_t GS_USE_FOR_RHYTHM = 0x15;

enum ExclusiveKind : uint8_t {
  EXCLUSIVE_ANY = 0x01,
  EXCLUSIVE_UNIVERSAL = 0x02,
  EXCLUSIVE_ROLAND = 0x04,
  EXCLUSIVE_YAMAHA = 0x08,
};

// Which kind of text set the title, so that later texts do not override a track name.
enum TitleKind : uint8_t { TITLE_NONE, TITLE_TEXT, TITLE_NAME };

struct SourceTrack {
  uint32_t nextTime;
  uint32_t pos;
  uint32_t end;
  uint8_t runningStatus;
  bool ended;
};

struct SmfReader {
  const uint8_t* image;
  uint32_t size;
  EventSink sink;
  bool compact;
  bool riff;
  SourceTrack tracks[MAX_TRACKS];
  int trackCount;
  uint8_t titleKind;
  uint8_t exclusiveKinds;
  uint32_t endTime;  // latest end of track seen
  uint64_t reach;    // furthest end of a track or RIFF chunk as declared (may pass the image)
  uint64_t dataEnd;  // end of the RIFF "data" chunk that holds the song, with its pad byte
  // Merge heap: one key per track that has not ended, the next time above the track index, so
  // the smallest key is the earliest track and the lowest index on ties. The places behind the
  // last key hold NO_KEY, so a key's children can be compared without a bounds test.
  uint64_t heap[2 * MAX_TRACKS + 2];
};
// Set to the thread's record on entry (core/thread_record.h says why).
thread_local constinit SmfReader* r = nullptr;

bool idAt(uint32_t pos, const char* id) {
  return uint64_t(pos) + 4 <= r->size && std::memcmp(r->image + pos, id, 4) == 0;
}

bool startsWith(const uint8_t* body, uint32_t length, const uint8_t* prefix, uint32_t n) {
  return length >= n && std::memcmp(body, prefix, n) == 0;
}

// Copies a text of at most `length` bytes, ending at its first zero byte.
void copyText(int field, const uint8_t* bytes, uint32_t length) {
  const void* zero = std::memchr(bytes, 0, length);
  if (zero) length = uint32_t(static_cast<const uint8_t*>(zero) - bytes);
  setSongText(field, reinterpret_cast<const char*>(bytes), length);
}

uint32_t clipEnd(uint64_t end) {
  return end > r->size ? r->size : uint32_t(end);
}

void registerTrack(uint32_t pos, uint32_t length) {
  if (r->trackCount >= MAX_TRACKS) return;
  SourceTrack& t = r->tracks[r->trackCount];
  t.end = clipEnd(uint64_t(pos) + CHUNK_HEAD_SIZE + length);
  t.pos = std::min(pos + CHUNK_HEAD_SIZE, t.end);
  t.runningStatus = 0;
  t.nextTime = 0;
  t.ended = false;
  uint32_t used = 0;
  t.nextTime = readVarLen(r->image + t.pos, t.end - t.pos, &used);
  if (used == 0 || (r->image[t.pos + used - 1] & 0x80)) t.ended = true;  // no complete delta
  t.pos += used;
  ++r->trackCount;
}

// Tries the information block entries of the compact form at one position.
void readCompactInfo(uint32_t pos) {
  if (uint64_t(pos) + 7 > r->size) return;
  const uint8_t* p = r->image + pos;
  for (const InfoTag& info : COMPACT_INFO_TAGS) {
    if (std::memcmp(p, info.tag, 3) != 0) continue;
    const uint32_t offset = getBE(p + 2, 4);
    uint32_t length = p[6];
    if (length == 0) length = uint64_t(pos) + 10 <= r->size ? getBE(p + 6, 4) : 0;
    if (offset >= r->size) return;
    length = std::min(length, r->size - offset);
    copyText(info.field, r->image + offset, length);
    if (info.field == INFO_TITLE) r->titleKind = TITLE_NAME;
    return;
  }
}

// Finds the header and the tracks; RIFF and compact-form texts go to SongInfo on the way.
void scanChunks() {
  uint32_t pos = 0;
  while (pos < r->size) {
    // The song in a RIFF "data" chunk of odd length is followed by a pad byte, then by the
    // chunks after the song (INFO texts, a display chunk).
    if (r->riff && pos + 1 == r->dataEnd && r->image[pos] == 0) ++pos;
    const bool headOk = uint64_t(pos) + CHUNK_HEAD_SIZE <= r->size;
    const uint32_t length = headOk ? getBE(r->image + pos + 4, 4) : 0;
    const uint64_t next = uint64_t(pos) + CHUNK_HEAD_SIZE + length;
    if (headOk && (idAt(pos, "MThd") || idAt(pos, "CThd"))) {
      if (r->trackCount > 0) return;
      r->compact = idAt(pos, "CThd");
      if (uint64_t(pos) + MTHD_TIMEBASE_OFFSET + 2 <= r->size) {
        const uint16_t timebase = uint16_t(getBE(r->image + pos + MTHD_TIMEBASE_OFFSET, 2));
        if (timebase) writer.timebase = timebase;
      }
      pos = clipEnd(next);
      continue;
    }
    if (headOk && (idAt(pos, "MTrk") || idAt(pos, "CTrk") || idAt(pos, "XFKM"))) {
      registerTrack(pos, length);
      r->reach = std::max(r->reach, next);
      pos = clipEnd(next);
      continue;
    }
    if (r->riff && headOk) {
      const uint32_t riffLength = getLE(r->image + pos + 4, 4);
      const uint32_t bodyEnd = clipEnd(uint64_t(pos) + CHUNK_HEAD_SIZE + riffLength);
      const uint8_t* body = r->image + pos + CHUNK_HEAD_SIZE;
      const uint32_t bodyLength = bodyEnd - (pos + CHUNK_HEAD_SIZE);
      if (idAt(pos, "data") || idAt(pos, "LIST")) {
        if (idAt(pos, "data") && (riffLength & 1))
          r->dataEnd = uint64_t(pos) + CHUNK_HEAD_SIZE + riffLength + 1;
        pos += CHUNK_HEAD_SIZE;
        continue;
      }
      if (idAt(pos, "INFO")) {
        pos += INFO_LIST_SKIP;
        continue;
      }
      if (idAt(pos, "IART")) copyText(INFO_ARTIST, body, bodyLength);
      if (idAt(pos, "IGNR")) copyText(INFO_GENRE, body, bodyLength);
      if (idAt(pos, "ICRD")) copyText(INFO_DATE, body, bodyLength);
      if (idAt(pos, "copy")) song.ProtectFlags = PROTECT_ALL;
      r->reach =
          std::max(r->reach, uint64_t(pos) + CHUNK_HEAD_SIZE + riffLength + (riffLength & 1));
      pos = bodyEnd;
      // RIFF pads odd chunks to an even size.
      if ((riffLength & 1) && pos < r->size && r->image[pos] == 0) ++pos;
      continue;
    }
    if (!r->compact) {
      if (idAt(pos, "MCDF")) {
        r->compact = true;
        pos += COMPACT_MARK_SKIP;
        continue;
      }
      if (idAt(pos, "RIFF")) {
        r->riff = true;
        pos = clipEnd(uint64_t(pos) + RIFF_HEAD_SKIP);
        continue;
      }
    } else {
      readCompactInfo(pos);
    }
    ++pos;
  }
}

// A meta event: song texts, cue texts; the end of track is dropped.
void readMeta(int track, uint32_t time, const uint8_t* event, uint32_t eventLength, uint8_t type,
              const uint8_t* body, uint32_t length) {
  switch (type) {
    case META_TRACK_NAME:
      if (song.info.text[INFO_TITLE][0] == 0 || r->titleKind != TITLE_NAME) {
        copyText(INFO_TITLE, body, length);
        r->titleKind = TITLE_NAME;
      }
      break;
    case META_TEXT:
      if (song.info.text[INFO_TITLE][0] == 0) {
        copyText(INFO_TITLE, body, length);
        r->titleKind = TITLE_TEXT;
      }
      break;
    case META_COPYRIGHT:
      if (song.info.text[INFO_COPYRIGHT][0] == 0) copyText(INFO_COPYRIGHT, body, length);
      break;
    case META_CUE_POINT: {
      const bool start = startsWith(body, length, reinterpret_cast<const uint8_t*>("START"), 5);
      const bool stop = startsWith(body, length, reinterpret_cast<const uint8_t*>("STOP"), 4);
      if (start || stop) {
        submitMetaByte(r->sink, time, track, META_CUE, start ? 0 : 1);
        return;
      }
      break;
    }
    case META_END_OF_TRACK:
      r->endTime = std::max(r->endTime, time);
      return;
    default:
      break;
  }
  submitTo(r->sink, time, track, ST_META, event, eventLength);
}

// An exclusive message: kind flags, master volume and rhythm-part messages become pseudo events.
void readExclusive(int track, uint32_t time, const uint8_t* event, uint32_t eventLength,
                   const uint8_t* body, uint32_t length) {
  r->exclusiveKinds |= EXCLUSIVE_ANY;
  if (length > 0) {
    if (body[0] == SYSEX_UNIVERSAL_RT || body[0] == SYSEX_UNIVERSAL_NRT)
      r->exclusiveKinds |= EXCLUSIVE_UNIVERSAL;
    if (body[0] == SYSEX_ROLAND) r->exclusiveKinds |= EXCLUSIVE_ROLAND;
    if (body[0] == SYSEX_YAMAHA) r->exclusiveKinds |= EXCLUSIVE_YAMAHA;
  }
  int volume = -1;
  if (startsWith(body, length, UNIVERSAL_MASTER_VOLUME, 4) && length > 5)
    volume = body[5];
  else if (startsWith(body, length, GS_MASTER_VOLUME, 7) && length > 7)
    volume = body[7];
  else if (startsWith(body, length, XG_MASTER_VOLUME, 6) && length > 6)
    volume = body[6];
  if (volume >= 0) {
    submitMetaByte(r->sink, time, track, META_MASTER_VOLUME, uint8_t(volume & 0x7F));
    return;
  }
  if (startsWith(body, length, GS_PART_PARAMETER, 5) && length > 7 && (body[5] & 0xF0) == 0x10 &&
      body[6] == GS_USE_FOR_RHYTHM) {
    const int block = body[5] & 0x0F;
    const int channel = block == 0 ? 9 : block <= 9 ? block - 1 : block;
    submitControl(r->sink, time, track, channel, CC_RHYTHM_PART, body[7]);
    return;
  }
  submitTo(r->sink, time, track, ST_EXCLUSIVE, event, eventLength);
}

// Data bytes behind a system common or real-time status: one for the quarter frame (F1) and the
// song select (F3), two for the song position (F2), none for the others; an undefined status
// (F4, F5, F9, FD) is taken as the one byte it is.
uint32_t systemMessageDataBytes(uint8_t status) {
  switch (status) {
    case 0xF1:
    case 0xF3:
      return 1;
    case 0xF2:
      return 2;
    default:
      return 0;
  }
}

// Reads and submits one event of a track; returns the bytes it takes, 0 when the track cannot
// go on (no running status, or the event runs past the track's end).
uint32_t readEvent(int index) {
  SourceTrack& t = r->tracks[index];
  const uint8_t* p = r->image + t.pos;
  const uint32_t avail = t.end - t.pos;
  const uint32_t time = t.nextTime;
  uint32_t used = 0;
  uint8_t status = p[0];
  if (status < 0x80) {
    status = t.runningStatus;
    if (status == 0) return 0;
  } else {
    used = 1;
    if (status < ST_EXCLUSIVE) t.runningStatus = status;
  }

  if (status == ST_META || status == ST_EXCLUSIVE || status == 0xF7) {
    const uint32_t typeBytes = status == ST_META ? 1 : 0;
    if (used + typeBytes >= avail) return 0;
    const uint8_t* event = p + used;  // from the type byte or the length on
    uint32_t lengthBytes = 0;
    const uint32_t length = readVarLen(event + typeBytes, avail - used - typeBytes, &lengthBytes);
    if (lengthBytes == 0 || (event[typeBytes + lengthBytes - 1] & 0x80)) return 0;
    const uint32_t head = typeBytes + lengthBytes;
    if (length > avail - used - head) return 0;
    const uint8_t* body = event + head;
    if (status == ST_META)
      readMeta(index, time, event, head + length, event[0], body, length);
    else if (status == ST_EXCLUSIVE)
      readExclusive(index, time, event, head + length, body, length);
    // An escaped 0xF7 block carries nothing the stream keeps.
    return used + head + length;
  }
  if (status > ST_EXCLUSIVE) {
    // A system common or real-time message in a track, as some sequencers record them: skipped
    // by its length on the wire, so the rest of the track is still read.
    const uint32_t skip = used + systemMessageDataBytes(status);
    return skip <= avail ? skip : 0;
  }

  const uint8_t kind = status & 0xF0;
  const uint8_t channel = status & 0x0F;
  const uint32_t dataBytes = (kind == ST_PROGRAM || kind == ST_CHANNEL_PRESSURE ||
                              (r->compact && (kind == ST_NOTE_OFF || kind == ST_PITCH_BEND)))
                                 ? 1
                                 : 2;
  if (used + dataBytes > avail) return 0;
  const uint8_t a = p[used] & 0x7F;
  const uint8_t b = dataBytes > 1 ? p[used + 1] & 0x7F : 0;
  uint8_t first = a, second = b;
  switch (kind) {
    case ST_CONTROL: {
      const bool rhythm = writer.DRUM_CHANNEL_MASK >> channel & 1;
      if (a == 0 && (r->exclusiveKinds & EXCLUSIVE_YAMAHA) && (b > 125) != rhythm) {
        first = CC_RHYTHM_PART;
        second = b == 127 ? 1 : b == 126 ? 2 : 0;
      } else if (a == CC_DATA_ENTRY && writer.ch[channel].rpn == 0) {
        first = CC_BEND_RANGE;
      }
      break;
    }
    case ST_PITCH_BEND:
      if (r->compact) {
        first = 0;
        second = a;
      }
      break;
    case ST_POLY_PRESSURE:
    case ST_CHANNEL_PRESSURE:  // not kept
      return used + dataBytes;
    default:
      break;
  }
  if (!submitChannelEvent(r->sink.out, r->sink.capacity, time, status, uint8_t(index), first,
                          second))
    r->sink.full = true;
  return used + dataBytes;
}

// Reads the next event of a track and the delta behind it; the track ends when it cannot go on.
void readTrack(SourceTrack& t, int index) {
  if (t.pos >= t.end) {
    t.ended = true;
    return;
  }
  const uint32_t consumed = readEvent(index);
  if (r->sink.full) return;
  if (consumed == 0) {
    t.ended = true;
    return;
  }
  t.pos += consumed;
  if (t.pos >= t.end) {
    t.ended = true;
    return;
  }
  uint32_t used = 0;
  const uint32_t delta = readVarLen(r->image + t.pos, t.end - t.pos, &used);
  if (used == 0 || (r->image[t.pos + used - 1] & 0x80)) {
    t.ended = true;
    return;
  }
  t.pos += used;
  t.nextTime = delta > 0xFFFFFFFFu - t.nextTime ? 0xFFFFFFFFu : t.nextTime + delta;
}

inline uint64_t mergeKey(const SourceTrack& t, int index) {
  return uint64_t(t.nextTime) << 8 | uint32_t(index);
}

// Above every key: a time has 32 bits and a track index 8.
constexpr uint64_t NO_KEY = ~uint64_t(0);

// Moves the key at `i` down the heap until no child is smaller. Behind the last key there are
// only NO_KEY places, which are never smaller, so the smaller child is taken without branches.
inline void siftDown(uint64_t* heap, int size, int i) {
  const uint64_t key = heap[i];
  for (;;) {
    int child = 2 * i + 1;
    if (child >= size) break;
    child += heap[child + 1] < heap[child];
    if (heap[child] >= key) break;
    heap[i] = heap[child];
    i = child;
  }
  heap[i] = key;
}

// Takes the events of all tracks in time order, the lowest track index first on ties. The keys
// are unique, so a heap gives the same order as a search for the smallest one; a track's key
// only grows while it is read, so after each event its key only moves down.
void mergeTracks() {
  uint64_t* heap = r->heap;
  std::fill(std::begin(r->heap), std::end(r->heap), NO_KEY);
  int size = 0;
  for (int i = 0; i < r->trackCount; ++i)
    if (!r->tracks[i].ended) heap[size++] = mergeKey(r->tracks[i], i);
  for (int i = size / 2 - 1; i >= 0; --i) siftDown(heap, size, i);
  while (size > 0) {
    const int best = int(heap[0] & 0xFF);
    SourceTrack& t = r->tracks[best];
    readTrack(t, best);
    if (r->sink.full) break;
    if (t.ended) {
      heap[0] = heap[--size];
      heap[size] = NO_KEY;
      if (size == 0) break;
    } else {
      heap[0] = mergeKey(t, best);
    }
    siftDown(heap, size, 0);
  }
}

}  // namespace

void readSmf(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
             int32_t* destinationSize, uint32_t capacity) {
  *destinationSize = 0;
  // The header, the track head and the end of track are written without asking the capacity:
  // a buffer without room for them gets nothing.
  if (!beginReaderStream(destination, capacity, EMPTY_STREAM_SIZE + 8, DEFAULT_TIMEBASE)) return;
  r = &threadRecord<SmfReader>();
  *r = SmfReader{};
  r->image = source;
  r->size = source ? sourceSize : 0;
  r->sink = sinkFor(destination, capacity);
  writeTrackChunk(destination);
  scanChunks();
  mergeTracks();
  // The song lasts to the latest end of track, unless it was cut short.
  if (!r->sink.full) writer.now = std::max(writer.now, r->endTime);
  reportRead(r->size, r->reach);
  endReaderStream(destination, destinationSize);
}

}  // namespace vlm
