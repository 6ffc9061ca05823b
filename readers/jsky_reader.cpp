// Reader of the J-SKY text melodies (.smd and .smz files that are not SMAF): a title in
// ISO-2022-JP text, then parts that begin with ESC "$" "D" and end with SI, one character per
// note or rest and two-character commands for octave, triplets, tempo and volume.
#include <cstdint>

#include "core/codec.h"
#include "core/stages.h"
#include "core/thread_record.h"
#include "core/vstream.h"
#include "readers/phone_parts.h"

namespace vlm {

namespace {

using namespace phone;

constexpr uint8_t ESC = 0x1B;
constexpr uint8_t SHIFT_OUT = 0x0E;  // half-width katakana
constexpr uint8_t SHIFT_IN = 0x0F;   // single-byte text; ends a part
constexpr uint8_t TIE = 0x22;
constexpr uint8_t COMMAND = 0x21;
constexpr uint8_t REST_FIRST = 0x23, REST_LAST = 0x26;
constexpr uint8_t NOTE_FIRST = 0x27, NOTE_LAST = 0x7F;
constexpr uint8_t KANA_OFFSET = 0x80;
constexpr int NOTE_BASE = 69;
constexpr uint32_t NOTE_LENGTHS[4] = {3, 6, 12, 24};
constexpr int MAX_OCTAVE_OFFSET = 10;
constexpr int MAX_VOLUME_STEP = 4;
constexpr int VOLUME_UNIT = 8, VOLUME_CENTRE = 95;
constexpr uint8_t TRIPLET_LONG = 7, TRIPLET_SHORT = 3;
constexpr uint32_t TEMPO_COMMAND_BPM[4] = {150, 126, 108, 96};  // commands 0x28..0x2B
constexpr int VOLUME_COMMAND_STEP[4] = {-2, -1, 2, 1};          // commands 0x2C..0x2F

enum class TextMode { SINGLE, DOUBLE, KANA };

struct JskyReader {
  const uint8_t* image = nullptr;
  uint32_t size = 0;
  PartStream song;
  int octave = 0;
  int triplet = 0;
  int volumeStep = 0;
};

// Set to the thread's record on entry (core/thread_record.h says why).
thread_local constinit JskyReader* r = nullptr;

bool partStartAt(uint32_t pos) {
  return r->size >= 3 && pos <= r->size - 3 && r->image[pos] == ESC && r->image[pos + 1] == '$' &&
         r->image[pos + 2] == 'D';
}

// JIS X 0208 row and cell to Shift-JIS.
void jisToShiftJis(uint8_t j1, uint8_t j2, uint8_t out[2]) {
  out[0] = uint8_t(((j1 + 1) >> 1) + (j1 < 0x5F ? 0x70 : 0xB0));
  if (j1 & 1)
    out[1] = uint8_t(j2 + (j2 < 0x60 ? 0x1F : 0x20));
  else
    out[1] = uint8_t(j2 + 0x7E);
}

// The title up to the first part; returns the position of that part's mark (or the end).
uint32_t readTitle() {
  char title[INFO_TEXT_SIZE];
  uint32_t length = 0;
  auto add = [&](uint8_t c) {
    if (length < INFO_TEXT_SIZE - 1) title[length++] = char(c);
  };
  TextMode mode = TextMode::SINGLE;
  uint32_t pos = 0;
  while (pos < r->size && !partStartAt(pos)) {
    const uint8_t c = r->image[pos];
    if (c == ESC && pos + 2 < r->size) {
      const uint8_t a = r->image[pos + 1], b = r->image[pos + 2];
      if (a == '(' && b == 'B') mode = TextMode::SINGLE;
      if (a == '$' && b == 'B') mode = TextMode::DOUBLE;
      pos += 3;
      continue;
    }
    ++pos;
    if (c == SHIFT_OUT) {
      mode = TextMode::KANA;
    } else if (c == SHIFT_IN) {
      mode = TextMode::SINGLE;
    } else if (c < 0x20 || c == ESC) {
      // line breaks and stray controls are no part of the title
    } else if (mode == TextMode::KANA) {
      add(uint8_t(c + KANA_OFFSET));
    } else if (mode == TextMode::DOUBLE) {
      if (pos >= r->size || r->image[pos] < 0x21 || r->image[pos] > 0x7E || c > 0x7E) continue;
      uint8_t sjis[2];
      jisToShiftJis(c, r->image[pos++], sjis);
      if (length + 2 <= INFO_TEXT_SIZE - 1) {
        add(sjis[0]);
        add(sjis[1]);
      }
    } else {
      add(c);
    }
  }
  setSongText(INFO_TITLE, title, length);
  return pos;
}

bool isNote(uint8_t c) {
  return c >= NOTE_FIRST && c <= NOTE_LAST;
}
bool isRest(uint8_t c) {
  return c >= REST_FIRST && c <= REST_LAST;
}
int pitchIndex(uint8_t c) {
  return ((c + 0x30) % 0x58) >> 2;
}

// Length of one note or rest; inside a triplet two thirds of it.
uint32_t eventLength(uint32_t length) {
  return r->triplet ? length * 2 / 3 : length;
}

void readCommand(uint8_t command) {
  switch (command) {
    case 0x22:
      if (r->octave < MAX_OCTAVE_OFFSET) ++r->octave;
      break;
    case 0x23:
      if (r->octave > -MAX_OCTAVE_OFFSET) --r->octave;
      break;
    case 0x24:
      r->octave = 0;
      break;
    case 0x25:
      r->triplet = TRIPLET_LONG;
      break;
    case 0x26:
      r->triplet = TRIPLET_SHORT;
      break;
    case 0x28:
    case 0x29:
    case 0x2A:
    case 0x2B:
      setPartTempo(r->song, TEMPO_COMMAND_BPM[command - 0x28]);
      break;
    case 0x2C:
    case 0x2D:
    case 0x2E:
    case 0x2F: {
      int step = r->volumeStep + VOLUME_COMMAND_STEP[command - 0x2C];
      if (step > MAX_VOLUME_STEP) step = MAX_VOLUME_STEP;
      if (step < -MAX_VOLUME_STEP) step = -MAX_VOLUME_STEP;
      r->volumeStep = step;
      controlPart(r->song, CC_VOLUME, uint8_t(step * VOLUME_UNIT + VOLUME_CENTRE));
      break;
    }
    default:
      break;
  }
}

// Reads one part from `pos` to its SI (or the end); returns the position after it.
uint32_t readPart(uint32_t pos) {
  r->octave = 0;
  r->triplet = 0;
  r->volumeStep = 0;
  while (pos < r->size && !r->song.sink.full) {
    const uint8_t c = r->image[pos++];
    if (c == SHIFT_IN) break;
    if (c == COMMAND) {
      if (pos < r->size && r->image[pos] != SHIFT_IN) readCommand(r->image[pos++]);
      continue;
    }
    const bool note = isNote(c);
    if (!note && !isRest(c)) continue;
    uint32_t length = note ? NOTE_LENGTHS[c & 3] : NOTE_LENGTHS[c - REST_FIRST];
    // A tie mark followed by the same pitch (or another rest) adds the next length.
    while (pos + 1 < r->size && r->image[pos] == TIE) {
      const uint8_t n = r->image[pos + 1];
      if (note ? !(isNote(n) && pitchIndex(n) == pitchIndex(c)) : !isRest(n)) break;
      length += note ? NOTE_LENGTHS[n & 3] : NOTE_LENGTHS[n - REST_FIRST];
      pos += 2;
    }
    length = eventLength(length);
    if (r->triplet) --r->triplet;
    if (note)
      notePart(r->song, pitchIndex(c) + 12 * r->octave + NOTE_BASE, length);
    else
      restPart(r->song, length);
  }
  return pos;
}

void readParts() {
  uint32_t pos = readTitle();
  while (pos < r->size) {
    if (!partStartAt(pos)) {
      ++pos;
      continue;
    }
    if (!beginPart(r->song)) break;
    pos = readPart(pos + 3);
    endPart(r->song);
  }
}

}  // namespace

void readJskyText(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
                  int32_t* destinationSize, uint32_t capacity) {
  r = &threadRecord<JskyReader>();
  r->image = source;
  r->size = source ? sourceSize : 0;
  readPartSong(r->song, destination, destinationSize, capacity, TEXT_TIMEBASE, readParts);
}

}  // namespace vlm
