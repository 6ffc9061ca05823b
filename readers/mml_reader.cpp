// Reader of the program's own music macro language text (.mml, .mmlc): header lines with the
// song's texts, then up to 16 parts of commands. Each part becomes one "VTrk" chunk that starts
// at time 0; consumers merge the chunks by time. The text is Shift-JIS: a lead byte and its
// follower are always taken as one character, so a follower never reads as a command.
#include <algorithm>
#include <cstring>

#include "core/codec.h"
#include "core/reader_events.h"
#include "core/stages.h"
#include "core/thread_record.h"
#include "core/vstream.h"

namespace vlm {

namespace {

constexpr uint16_t MML_TIMEBASE = 960;
constexpr int MAX_TIMEBASE = 960;
constexpr int MAX_PARTS = 16;
constexpr int MARKERS = 128;
constexpr int LOOP_LEVELS = 16;
constexpr int MAX_LOOP_COUNT = 255;
constexpr uint32_t MAX_TIME = 0x7FFFFFFF;  // time saturates here instead of wrapping around
constexpr uint32_t TEXT_LIMIT = INFO_TEXT_SIZE - 1;
// A new chunk needs its head and the largest end of track (5-byte delta and 3 bytes).
constexpr uint32_t CHUNK_ROOM = CHUNK_HEAD_SIZE + 8;
constexpr uint32_t MIN_CAPACITY = EMPTY_STREAM_SIZE + 8;

// Per-part reset values.
constexpr int RESET_OCTAVE = 6;
constexpr int MAX_OCTAVE = 10;
constexpr int RESET_VOLUME = 100;
constexpr int RESET_EXPRESSION = 127;
constexpr int RESET_GATE = 8;  // eighths of the length
constexpr int MAX_GATE = 128;
constexpr int RESET_BEND = 64;
constexpr int RESET_PAN = 64;
constexpr int RESET_VELOCITY = 127;
constexpr int RESET_BEND_RANGE = 2;
constexpr int MAX_BEND_RANGE = 24;
constexpr int MIN_TEMPO = 4;
constexpr int MAX_TEMPO = 1024;

// "@" values above the programs.
constexpr int PROGRAM_RHYTHM = 128;
constexpr int PROGRAM_RHYTHM_BANK = 129;
constexpr uint8_t RHYTHM_BANK = 0x1B;

// Semitones of C D E F G A B within an octave.
constexpr int NOTE_STEPS[7] = {0, 2, 4, 5, 7, 9, 11};
constexpr char NOTE_LETTERS[] = "CDEFGAB";

// A text field selected by a header keyword; lyrics go into the stream instead of SongInfo.
constexpr int FIELD_NONE = -1;
constexpr int FIELD_LYRIC = INFO_FIELDS;

struct Keyword {
  const char* name;
  int field;
};
constexpr Keyword TEXT_KEYWORDS[] = {
    {"#TITLE", INFO_TITLE},     {"#COPYRIGHT", INFO_COPYRIGHT}, {"#ARTIST", INFO_ARTIST},
    {"#WORDS", FIELD_LYRIC},    {"#LYRICE", INFO_WORDS},        {"#COMPOSE", INFO_COMPOSE},
    {"#ARRANGE", INFO_ARRANGE}, {"#GENRE", INFO_GENRE},         {"#DATE", INFO_DATE},
};

struct Loop {
  uint32_t start;  // text position after the "["
  int remaining;   // repetitions still to play; -1 until the "]" has been read once
};

struct MmlReader {
  const char* text = nullptr;
  uint32_t size = 0;
  uint32_t pos = 0;
  EventSink sink;          // a full buffer ends the part and the reading
  bool stop = false;       // work budget spent: no more reading
  uint64_t budget = 0;     // commands still allowed; loops cannot run away with the time
  uint32_t firstData = 0;  // write position of the first event of the stream

  // Through the whole text.
  int part = 0;
  int globalKey = 0;
  uint32_t marker[MARKERS] = {};
  int polyphonySum = 0;

  // Per part.
  int channel = 0;
  int octave = RESET_OCTAVE;
  uint32_t defaultLength = MML_TIMEBASE;
  int lastN = 0;
  int volume = RESET_VOLUME;
  int expression = RESET_EXPRESSION;
  int program = 0;
  int partKey = 0;
  int gate = RESET_GATE;
  int bend = RESET_BEND;
  int modulation = 0;
  int pan = RESET_PAN;
  int velocity = RESET_VELOCITY;
  int bendRange = RESET_BEND_RANGE;
  bool braces = false;
  int field = FIELD_NONE;
  Loop loops[LOOP_LEVELS] = {};
  int loopDepth = 0;
  uint32_t time = 0;
};

// Set to the thread's record on entry (core/thread_record.h says why).
thread_local constinit MmlReader* r = nullptr;

void resetPart() {
  r->channel = r->part;
  r->octave = RESET_OCTAVE;
  r->defaultLength = writer.timebase;
  r->lastN = 0;
  r->volume = RESET_VOLUME;
  r->expression = RESET_EXPRESSION;
  r->program = 0;
  r->partKey = 0;
  r->gate = RESET_GATE;
  r->bend = RESET_BEND;
  r->modulation = 0;
  r->pan = RESET_PAN;
  r->velocity = RESET_VELOCITY;
  r->bendRange = RESET_BEND_RANGE;
  r->braces = false;
  r->field = FIELD_NONE;
  r->loopDepth = 0;
  r->time = 0;
}

// ---- Text access ----------------------------------------------------------------------------

uint8_t at(uint32_t i) {
  return i < r->size ? uint8_t(r->text[i]) : 0;
}

char upper(uint8_t c) {
  return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : char(c);
}

bool isDigitAt(uint32_t i) {
  return at(i) >= '0' && at(i) <= '9';
}

// Steps over one character: a Shift-JIS pair or a single byte, never past the end.
void stepCharacter() {
  const uint32_t step = isSjisLead(at(r->pos)) && r->pos + 1 < r->size ? 2 : 1;
  r->pos = std::min(r->size, r->pos + step);
}

// Moves to the line end (the "\n" stays for the command loop, which ends the field selection).
void skipLine() {
  while (r->pos < r->size && at(r->pos) != '\n') stepCharacter();
}

void skipBlockComment() {
  r->pos += 2;
  while (r->pos < r->size && !(at(r->pos) == '*' && at(r->pos + 1) == '/')) stepCharacter();
  r->pos = std::min(r->size, r->pos + 2);
}

bool startsWith(const char* word) {
  const size_t n = std::strlen(word);
  return r->size - r->pos >= n && std::memcmp(r->text + r->pos, word, n) == 0;
}

int readValue(int current, int min, int max) {
  uint32_t used = 0;
  const int v = parseValue(r->text + r->pos, r->size - r->pos, &used, current, min, max);
  r->pos += used;
  return v;
}

// An unsigned number; `absent` when no digit follows.
int readNumber(int min, int max, int absent) {
  if (!isDigitAt(r->pos) && !((at(r->pos) == '+' || at(r->pos) == '-') && isDigitAt(r->pos + 1)))
    return absent;
  uint32_t used = 0;
  const int v = parseInt(r->text + r->pos, r->size - r->pos, &used, min, max);
  r->pos += used;
  return v;
}

uint32_t readLength(uint32_t defaultLength) {
  uint32_t used = 0;
  const uint32_t length =
      parseLength(r->text + r->pos, r->size - r->pos, &used, defaultLength, writer.timebase);
  r->pos += used;
  return length;
}

// Characters that begin a length expression after a note.
bool startsLength(uint32_t i) {
  const uint8_t c = at(i);
  if (c >= '0' && c <= '9') return true;
  if (c == '.' || c == '^' || c == '&' || c == '*') return true;
  return c == '/' && at(i + 1) != '/' && at(i + 1) != '*';
}

void advance(uint32_t ticks) {
  r->time = uint32_t(std::min<uint64_t>(uint64_t(r->time) + ticks, MAX_TIME));
}

// Bytes of a text cut to `limit` without leaving half of a Shift-JIS pair at its end.
uint32_t sjisCut(const char* text, uint32_t length, uint32_t limit) {
  if (length <= limit) return length;
  uint32_t i = 0;
  while (i < limit) {
    const uint32_t step = isSjisLead(uint8_t(text[i])) ? 2 : 1;
    if (i + step > limit) break;
    i += step;
  }
  return i;
}

// ---- Events ---------------------------------------------------------------------------------

bool stopped() {
  return r->stop || r->sink.full;
}

// The events of the part being read, at the part's time on its channel.
bool controlPart(uint8_t controller, int value) {
  return submitControl(r->sink, r->time, r->part, r->channel, controller, value);
}

bool metaPart(uint8_t type, const uint8_t* body, uint32_t length) {
  return submitMeta(r->sink, r->time, r->part, type, body, length);
}

// ---- Commands -------------------------------------------------------------------------------

void readQuotedText() {
  char buffer[INFO_TEXT_SIZE];
  const FieldResult field =
      readQuotedField(buffer, sizeof buffer, r->text + r->pos, r->size - r->pos);
  r->pos = uint32_t(std::min<uint64_t>(r->size, uint64_t(r->pos) + field.consumed + 1));
  const uint32_t length =
      sjisCut(buffer, std::min(field.produced, uint32_t(sizeof buffer)), TEXT_LIMIT);
  if (r->field == FIELD_LYRIC)
    metaPart(META_LYRIC, reinterpret_cast<const uint8_t*>(buffer), length);
  else
    setSongText(r->field == FIELD_NONE ? INFO_TITLE : r->field, buffer, length);
}

void readHeaderLine() {
  for (const Keyword& k : TEXT_KEYWORDS) {
    if (!startsWith(k.name)) continue;
    r->field = k.field;
    r->pos += uint32_t(std::strlen(k.name));
    // The quoted text may follow anywhere on the line.
    while (r->pos < r->size && at(r->pos) != '\n' && at(r->pos) != '"' && at(r->pos) != '\'')
      stepCharacter();
    return;
  }
  if (startsWith("#START") || startsWith("#STOP")) {
    const uint8_t cue = startsWith("#STOP") ? 1 : 0;
    r->pos += cue ? 5 : 6;
    metaPart(META_CUE, &cue, 1);
    return;
  }
  if (startsWith("#TIMEBASE") && !r->braces) {
    r->pos += 9;
    while (at(r->pos) == ' ' || at(r->pos) == '\t') ++r->pos;
    const int timebase = readNumber(1, MAX_TIMEBASE, 0);
    // Events already written keep their ticks, so the timebase may change only before the first.
    if (timebase > 0 && writer.pos == r->firstData && r->time == 0) {
      writer.timebase = uint16_t(timebase);
      r->defaultLength = uint32_t(timebase);
    }
    return;
  }
  skipLine();
}

void closeLoop() {
  const int count = readNumber(1, MAX_LOOP_COUNT, 1);
  if (r->loopDepth == 0) return;
  Loop& loop = r->loops[r->loopDepth - 1];
  if (loop.remaining < 0) loop.remaining = count - 1;
  if (loop.remaining > 0) {
    --loop.remaining;
    r->pos = loop.start;
  } else {
    --r->loopDepth;
  }
}

void programCommand() {
  const int n = readValue(r->program, 0, PROGRAM_RHYTHM_BANK);
  const bool wantRhythm = n >= PROGRAM_RHYTHM;
  const bool isRhythm = (writer.DRUM_CHANNEL_MASK >> r->channel) & 1;
  if (wantRhythm != isRhythm && !controlPart(CC_RHYTHM_PART, wantRhythm ? 1 : 0)) return;
  if (n < PROGRAM_RHYTHM) {
    r->program = n;
    submitProgram(r->sink, r->time, r->part, r->channel, n);
  } else if (n == PROGRAM_RHYTHM_BANK) {
    submitProgram(r->sink, r->time, r->part, r->channel, 0, RHYTHM_BANK);
  }  // a rhythm channel is all that "@128" asks for
}

void tempoCommand() {
  const int bpm = readValue(int(writer.tempoBpm), MIN_TEMPO, MAX_TEMPO);
  writer.tempoBpm = uint32_t(bpm);
  submitTempo(r->sink, r->time, r->part, microsOfBpm(uint32_t(bpm)));
}

// Keeps the pitch class of a note number outside 0..127.
int foldNote(int n) {
  if (n < 0) return 12 - ((-n) % 12);
  if (n > 127) return (n - 127) % 12 + 115;
  return n;
}

void noteCommand(int pitch) {
  constexpr int PITCH_LIMIT = 100000;  // any number of modifiers cannot overflow
  uint32_t length = r->defaultLength;
  bool lengthSeen = false;
  while (r->pos < r->size) {
    const uint8_t c = at(r->pos);
    if (c == '-' || c == '#' || c == '+' || c == '<' || c == '>') {
      pitch += c == '-' ? -1 : c == '<' ? -12 : c == '>' ? 12 : 1;
      pitch = std::clamp(pitch, -PITCH_LIMIT, PITCH_LIMIT);
      ++r->pos;
    } else if (!lengthSeen && startsLength(r->pos)) {
      length = readLength(r->defaultLength);
      lengthSeen = true;
    } else {
      break;
    }
  }
  const int note = foldNote(pitch + r->partKey + r->globalKey);
  const uint32_t duration =
      uint32_t(std::min<uint64_t>(uint64_t(r->gate) * length / 8, MAX_DURATION));
  if (!submitNote(r->sink, r->time, r->part, uint8_t(ST_TIMED_NOTE | r->channel), note, r->velocity,
                  duration))
    return;
  if (at(r->pos) == '=' && r->pos < r->size)
    ++r->pos;  // a chord: the next note starts at the same time
  else
    advance(length);
}

void restCommand() {
  if (at(r->pos) == '%' && r->pos < r->size) {
    ++r->pos;
    const int n = readNumber(0, MARKERS - 1, 0);
    if (r->marker[n] > r->time) r->time = r->marker[n];
    return;
  }
  advance(readLength(r->defaultLength));
}

// Commands that set a controller of the part: the letter, the value the part keeps, the controller.
struct ControlCommand {
  char letter;
  int MmlReader::*value;
  uint8_t controller;
};
constexpr ControlCommand CONTROL_COMMANDS[] = {
    {'M', &MmlReader::modulation, CC_MODULATION},
    {'P', &MmlReader::pan, CC_PAN},
    {'V', &MmlReader::volume, CC_VOLUME},
    {'X', &MmlReader::expression, CC_EXPRESSION},
};

void letterCommand(char c) {
  ++r->pos;
  if (const char* letter = std::strchr(NOTE_LETTERS, c); letter && c) {
    noteCommand(r->octave * 12 + NOTE_STEPS[letter - NOTE_LETTERS]);
    return;
  }
  for (const ControlCommand& command : CONTROL_COMMANDS) {
    if (c != command.letter) continue;
    int& value = r->*command.value;
    value = readValue(value, 0, 127);
    controlPart(command.controller, value);
    return;
  }
  switch (c) {
    case 'N':
      r->lastN = readValue(r->lastN, 0, 127);
      noteCommand(r->lastN);
      break;
    case 'O':
      r->octave = readValue(r->octave, 0, MAX_OCTAVE);
      break;
    case 'H':
      if (upper(at(r->pos)) == 'R' && r->pos < r->size) {
        ++r->pos;
        r->bendRange = readValue(r->bendRange, 0, MAX_BEND_RANGE);
        controlPart(CC_BEND_RANGE, r->bendRange);
      } else {
        r->bend = readValue(r->bend, 0, 127);
        submitBend(r->sink, r->time, r->part, r->channel, 0, r->bend);
      }
      break;
    case 'K':
      if (r->braces)
        r->partKey = readValue(r->partKey, -128, 127);
      else
        r->globalKey = readValue(r->globalKey, -128, 127);
      break;
    case 'L':
      r->defaultLength = readLength(r->defaultLength);
      break;
    case 'Q':
      r->gate = readValue(r->gate, 1, MAX_GATE);
      break;
    case 'U':
      r->velocity = readValue(r->velocity, 0, 127);
      break;
    case 'T':
      tempoCommand();
      break;
    case 'R':
      restCommand();
      break;
    default:
      break;  // characters without a meaning are skipped
  }
}

// Reads one command; every call moves the position on, except a loop's jump back.
void readCommand() {
  const uint8_t c = at(r->pos);
  if (isSjisLead(c)) {
    stepCharacter();
    return;
  }
  switch (c) {
    case '/':
      if (at(r->pos + 1) == '*' && r->pos + 1 < r->size)
        skipBlockComment();
      else if (at(r->pos + 1) == '/' && r->pos + 1 < r->size)
        skipLine();
      else
        ++r->pos;
      break;
    case ';':
      skipLine();
      break;
    case '\n':
      r->field = FIELD_NONE;
      ++r->pos;
      break;
    case '#':
      readHeaderLine();
      break;
    case '"':
    case '\'':
      readQuotedText();
      break;
    case '{':
      r->braces = true;
      ++r->pos;
      break;
    case '[':
      ++r->pos;
      if (r->loopDepth < LOOP_LEVELS) r->loops[r->loopDepth++] = {r->pos, -1};
      break;
    case ']':
      ++r->pos;
      closeLoop();
      break;
    case '!':
      ++r->pos;
      r->channel = readValue(r->channel + 1, 1, CHANNELS) - 1;
      break;
    case '%':
      ++r->pos;
      r->marker[readNumber(0, MARKERS - 1, 0)] = r->time;
      break;
    case '<':
      r->octave = std::max(0, r->octave - 1);
      ++r->pos;
      break;
    case '>':
      r->octave = std::min(MAX_OCTAVE, r->octave + 1);
      ++r->pos;
      break;
    case '@':
      ++r->pos;
      programCommand();
      break;
    default:
      letterCommand(upper(c));
      break;
  }
}

void readPart() {
  while (r->pos < r->size && !stopped() && at(r->pos) != '}') {
    if (r->budget == 0) {
      r->stop = true;
      break;
    }
    --r->budget;
    readCommand();
  }
}

}  // namespace

void readMml(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
             int32_t* destinationSize, uint32_t capacity) {
  *destinationSize = 0;
  if (!beginReaderStream(destination, capacity, MIN_CAPACITY, MML_TIMEBASE)) return;
  r = &threadRecord<MmlReader>();
  *r = MmlReader{};
  r->text = reinterpret_cast<const char*>(source);
  r->size = source ? sourceSize : 0;
  r->sink = sinkFor(destination, capacity);
  // Enough for any song that fits the output; a loop of rests cannot run for ever.
  r->budget = 16 * (uint64_t(r->size) + capacity) + (1u << 20);
  r->firstData = writer.pos + CHUNK_HEAD_SIZE;

  int chunks = 0;
  while (r->part < MAX_PARTS && !stopped()) {
    if (at(r->pos) == '}' && r->pos < r->size) ++r->pos;
    if (r->pos >= r->size || uint64_t(writer.pos) + CHUNK_ROOM > capacity) break;
    writer.outTrack = uint8_t(r->part);
    writeTrackChunk(destination);
    const uint32_t dataStart = writer.pos;
    resetPart();
    songStats.maxPolyphony = 0;
    readPart();
    r->polyphonySum += songStats.maxPolyphony;
    writer.now = r->time;  // the chunk ends after the part's last rest
    finishStream(destination);
    // A part that neither writes nor lasts (only comments or blank lines) leaves no chunk.
    if (writer.pos == dataStart + 4 && r->time == 0)
      writer.pos = writer.trackStart;
    else
      ++chunks;
    ++r->part;
  }
  songStats.maxPolyphony = uint8_t(std::min(r->polyphonySum, 255));
  endChunkedReaderStream(destination, destinationSize, chunks > 0);
}

}  // namespace vlm
