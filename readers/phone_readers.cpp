// Readers of the simple phone melody formats that write one VStream chunk per part: P-melody
// binary (.dat, .als), chara-melody text (.cmd) and the melody records of .mel, .sml and .mmd.
// Each part is one channel; notes are requests with their duration and velocity 127.
#include <cstring>

#include "core/codec.h"
#include "core/stages.h"
#include "core/thread_record.h"
#include "core/vstream.h"
#include "readers/phone_parts.h"

namespace vlm {

namespace {

using namespace phone;

// ---- .dat --------------------------------------------------------------------------------

constexpr uint8_t DAT_PART_END = 0xFF;
constexpr uint16_t DAT_TEMPO_BPM[6] = {60, 70, 80, 100, 120, 160};
constexpr uint32_t DAT_START_LENGTH = 12;
constexpr int DAT_NOTE_BASE = 60;

uint32_t datLength(uint8_t b) {
  switch (b) {
    case 0x80:
      return 48;
    case 0x81:
      return 36;
    case 0x82:
      return 24;
    case 0x83:
      return 18;
    case 0x84:
      return 12;
    case 0x85:
      return 9;
    case 0x86:
      return 6;
    case 0x88:
      return 3;
    case 0xC2:
      return 8;
    case 0xC4:
      return 4;
    default:
      return 6;
  }
}

// ---- .als --------------------------------------------------------------------------------

constexpr uint16_t ALS_TIMEBASE = 96;
constexpr uint8_t ALS_SKIP = 0xE1;
constexpr uint8_t ALS_TITLE = 0xF0;
constexpr uint8_t ALS_TITLE_END = 0xFD;
constexpr uint8_t ALS_FILE_END = 0xFF;
constexpr uint32_t ALS_START_LENGTH = 96;
constexpr int ALS_NOTE_BASE = 21;
constexpr uint32_t ALS_EMPTY_LENGTH = 12;
// Length codes 0xC0..0xDF; a run of them is summed.
constexpr uint16_t ALS_LENGTHS[32] = {384, 288, 192, 144, 96, 72,  48,  32,  16,
                                      24,  19,  12,  6,   3,  240, 432, 120, 336};

bool isPartMark(uint8_t b) {
  return (b & 0xF0) == 0xF0;
}

// ---- .cmd --------------------------------------------------------------------------------

constexpr int CMD_NOTE_BASE = 48;

// ---- .mel, .sml, .mmd --------------------------------------------------------------------

constexpr int MEL_NOTE_BASE = 60;
constexpr const char MEL_RECORD[] = "<MEL=";
constexpr const char HMEL_RECORD[] = "<HMEL=";
constexpr int HMEL_SKIPPED_FIELDS = 3;

// The readers' shared state: the image and the song being written.
struct PhoneReader {
  const uint8_t* image = nullptr;
  uint32_t size = 0;
  PartStream song;
  char title[INFO_TEXT_SIZE] = {};
  uint32_t titleLength = 0;
  bool titleSeen = false;  // the first melody record with a title names the song
};

// Set to the thread's record on entry (core/thread_record.h says why).
thread_local constinit PhoneReader* r = nullptr;

bool matchAt(uint32_t pos, const char* text) {
  const uint32_t n = uint32_t(std::strlen(text));
  return n <= r->size && pos <= r->size - n && std::memcmp(r->image + pos, text, n) == 0;
}

void addTitleByte(uint8_t c) {
  if (r->titleLength < INFO_TEXT_SIZE - 1) r->title[r->titleLength++] = char(c);
}

void storeTitle() {
  setSongText(INFO_TITLE, r->title, r->titleLength);
}

// ---- .dat --------------------------------------------------------------------------------

void readDatParts() {
  ByteReader in(r->image, r->size);
  while (!in.atEnd() && beginPart(r->song)) {
    const uint8_t tempo = in.u8();
    if (tempo < 6) setPartTempo(r->song, DAT_TEMPO_BPM[tempo]);
    uint32_t length = DAT_START_LENGTH;
    while (!in.atEnd() && !r->song.sink.full) {
      const uint8_t b = in.u8();
      if (b == DAT_PART_END) break;
      if ((b & 0xB0) == 0x80) {
        length = datLength(b);
      } else if (b < 0x80) {
        const int k = b & 0x3F;
        if (k == 0) {
          restPart(r->song, length);
        } else {
          const int step = (k - 1) % 7;
          const int note =
              PITCH_SEMITONES[step] + 12 * ((k - 1) / 7) + DAT_NOTE_BASE + ((b & 0x40) ? 1 : 0);
          notePart(r->song, note, length);
        }
      }
    }
    endPart(r->song);
  }
}

// ---- .als --------------------------------------------------------------------------------

// Reads the header up to the byte that begins the first part; false when the file ends first.
bool readAlsHeader(ByteReader& in) {
  while (!in.atEnd()) {
    const uint8_t b = in.u8();
    if (b == ALS_SKIP) continue;
    if (b == ALS_TITLE) {
      r->titleLength = 0;
      while (!in.atEnd()) {
        const uint8_t c = in.u8();
        if (c == ALS_TITLE_END) break;
        addTitleByte(c);
      }
      storeTitle();
      continue;
    }
    if (isPartMark(b)) return b != ALS_FILE_END;
  }
  return false;
}

void readAlsParts() {
  ByteReader in(r->image, r->size);
  if (!readAlsHeader(in)) return;
  while (beginPart(r->song)) {
    uint32_t length = ALS_START_LENGTH;
    while (!in.atEnd() && !isPartMark(in.peek()) && !r->song.sink.full) {
      const uint8_t b = in.u8();
      if (b == 0x00) {
        restPart(r->song, length);
      } else if (b <= 0x5F) {
        notePart(r->song, b + ALS_NOTE_BASE, length);
      } else if (b <= 0x9F) {
        setPartTempo(r->song, uint32_t(b - 0x42) * 2);
      } else if (b >= 0xC0 && b <= 0xDF) {
        uint32_t sum = ALS_LENGTHS[b - 0xC0];
        while (!in.atEnd() && in.peek() >= 0xC0 && in.peek() <= 0xDF)
          sum += ALS_LENGTHS[in.u8() - 0xC0];
        length = sum ? sum : ALS_EMPTY_LENGTH;
      }
    }
    endPart(r->song);
    if (in.atEnd() || r->song.sink.full || in.u8() == ALS_FILE_END) break;
  }
}

// ---- .cmd --------------------------------------------------------------------------------

// Length of the part marker at `pos` ("*6*6" or "]]"), 0 when there is none.
uint32_t cmdMarkAt(uint32_t pos) {
  if (matchAt(pos, "*6*6")) return 4;
  if (matchAt(pos, "]]")) return 2;
  return 0;
}

// Position of the next part marker from `pos`, or the end of the image.
uint32_t findCmdMark(uint32_t pos) {
  while (pos < r->size && cmdMarkAt(pos) == 0) ++pos;
  return pos;
}

bool isLineBreak(uint8_t c) {
  return c == '\r' || c == '\n';
}

struct CmdGroup {
  uint8_t length, pitch, octave;
};

// The next three characters of a part, line breaks skipped; false when fewer are left.
bool nextCmdGroup(uint32_t& pos, uint32_t end, CmdGroup& g) {
  uint8_t c[3];
  for (int i = 0; i < 3; ++i) {
    while (pos < end && isLineBreak(r->image[pos])) ++pos;
    if (pos >= end) return false;
    c[i] = r->image[pos++];
  }
  g = CmdGroup{c[0], c[1], c[2]};
  return true;
}

bool isCmdTie(const CmdGroup& g) {
  return g.pitch == '0' && g.octave == '1';
}

// Note of a group, -1 for a rest.
int cmdNote(const CmdGroup& g) {
  const int semitone = semitoneOfPitch(g.pitch - '0');
  if (semitone < 0 || g.octave < '0' || g.octave > '9') return -1;
  return semitone + octaveOffset(g.octave - '0') + CMD_NOTE_BASE;
}

void readCmdPart(uint32_t pos, uint32_t end) {
  while (pos < end && isLineBreak(r->image[pos])) ++pos;
  if (pos < end) setPartTempo(r->song, tempoOfDigitChar(r->image[pos++], writer.tempoBpm));
  CmdGroup group;
  if (!nextCmdGroup(pos, end, group)) return;
  uint32_t running = 0;
  int pending = -1;
  for (bool more = true; more && !r->song.sink.full;) {
    running += lengthOfChar(group.length);
    if (!isCmdTie(group)) pending = cmdNote(group);
    CmdGroup next;
    more = nextCmdGroup(pos, end, next);
    if (more && isCmdTie(next)) {
      group = next;  // the tie's length joins the held note
      continue;
    }
    if (pending >= 0)
      notePart(r->song, pending, running);
    else
      restPart(r->song, running);
    running = 0;
    group = next;
  }
}

void readCmdParts() {
  r->titleLength = 0;
  for (uint32_t i = 0; i < r->size; ++i) {
    const uint8_t c = r->image[i];
    if (isLineBreak(c) || matchAt(i, "*6") || matchAt(i, "]]")) break;
    addTitleByte(c);
  }
  storeTitle();
  uint32_t pos = findCmdMark(0);
  while (pos < r->size) {
    const uint32_t start = pos + cmdMarkAt(pos);
    const uint32_t end = findCmdMark(start);
    if (!beginPart(r->song)) break;
    readCmdPart(start, end);
    endPart(r->song);
    pos = end;
  }
}

// ---- .mel, .sml, .mmd --------------------------------------------------------------------

bool isDigit(uint8_t c) {
  return c >= '0' && c <= '9';
}

// Skips a field up to its comma; false at the end of the record (">") or of the image.
bool skipMelField(uint32_t& pos) {
  while (pos < r->size && r->image[pos] != ',' && r->image[pos] != '>') ++pos;
  if (pos >= r->size || r->image[pos] == '>') return false;
  ++pos;
  return true;
}

// The title field with its entities decoded.
bool readMelTitle(uint32_t& pos) {
  struct Entity {
    const char* text;
    char c;
  };
  static constexpr Entity ENTITIES[] = {{"&lt", '<'}, {"&gt", '>'}, {"&cmm", ','}, {"&amp", '&'}};
  r->titleLength = 0;
  while (pos < r->size && r->image[pos] != ',' && r->image[pos] != '>') {
    bool decoded = false;
    for (const Entity& e : ENTITIES) {
      if (matchAt(pos, e.text)) {
        addTitleByte(uint8_t(e.c));
        pos += uint32_t(std::strlen(e.text));
        decoded = true;
        break;
      }
    }
    if (!decoded) addTitleByte(r->image[pos++]);
  }
  if (pos >= r->size || r->image[pos] == '>') return false;
  ++pos;
  return true;
}

void readMelNotes(uint32_t& pos) {
  uint8_t group[3];
  int have = 0;
  while (pos < r->size && r->image[pos] != '>' && !r->song.sink.full) {
    const uint8_t c = r->image[pos++];
    if (!isDigit(c)) continue;
    group[have++] = c;
    if (have < 3) continue;
    have = 0;
    const uint32_t length = lengthOfChar(group[2]);
    const int semitone = semitoneOfPitch(group[0] - '0');
    if (semitone < 0)
      restPart(r->song, length);  // "00" and pitches without a note
    else
      notePart(r->song, semitone + octaveOffset(group[1] - '0') + MEL_NOTE_BASE, length);
  }
}

void readMelRecord(uint32_t& pos, bool hmel) {
  bool fields = true;
  if (hmel) {
    for (int i = 0; i < HMEL_SKIPPED_FIELDS && fields; ++i) fields = skipMelField(pos);
  } else {
    const bool flagged = matchAt(pos, "1,");
    song.ProtectFlags = flagged ? PROTECT_COPY : 0;
    fields = skipMelField(pos);
    if (fields) {
      fields = readMelTitle(pos);
      if (!r->titleSeen) storeTitle();
      r->titleSeen = true;
    }
  }
  if (fields) {
    if (pos < r->size) setPartTempo(r->song, tempoOfDigitChar(r->image[pos], writer.tempoBpm));
    fields = skipMelField(pos);
  }
  if (fields) readMelNotes(pos);
}

void readMelParts() {
  uint32_t pos = 0;
  while (pos < r->size) {
    const bool hmel = matchAt(pos, HMEL_RECORD);
    if (!hmel && !matchAt(pos, MEL_RECORD)) {
      ++pos;
      continue;
    }
    pos += uint32_t(std::strlen(hmel ? HMEL_RECORD : MEL_RECORD));
    if (!beginPart(r->song)) break;
    readMelRecord(pos, hmel);
    endPart(r->song);
  }
}

// Every format: the song at `timebase`, its parts read by `readParts`.
void readPhoneSong(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
                   int32_t* destinationSize, uint32_t capacity, uint16_t timebase,
                   void (*readParts)()) {
  r = &threadRecord<PhoneReader>();
  r->image = source;
  r->size = source ? sourceSize : 0;
  r->titleLength = 0;
  r->titleSeen = false;
  readPartSong(r->song, destination, destinationSize, capacity, timebase, readParts);
}

}  // namespace

void readDat(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
             int32_t* destinationSize, uint32_t capacity) {
  readPhoneSong(source, sourceSize, destination, destinationSize, capacity, TEXT_TIMEBASE,
                readDatParts);
}

void readAls(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
             int32_t* destinationSize, uint32_t capacity) {
  readPhoneSong(source, sourceSize, destination, destinationSize, capacity, ALS_TIMEBASE,
                readAlsParts);
}

void readCmd(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
             int32_t* destinationSize, uint32_t capacity) {
  readPhoneSong(source, sourceSize, destination, destinationSize, capacity, TEXT_TIMEBASE,
                readCmdParts);
}

void readMel(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
             int32_t* destinationSize, uint32_t capacity) {
  readPhoneSong(source, sourceSize, destination, destinationSize, capacity, TEXT_TIMEBASE,
                readMelParts);
}

}  // namespace vlm
