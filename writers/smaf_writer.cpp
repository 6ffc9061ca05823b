// SMAF writer for 4- and 16-voice handsets (handy-phone layout): up to four score tracks of four
// channels whose notes carry octave-block and note codes, voices registered in a setup chunk, an
// audio track for wave sounds and a graphics track for karaoke text. Sequences, setup and wave
// data grow in their own buffers, so the file size can be estimated before every event; they are
// copied into the output at the end.
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/codec.h"
#include "core/conversion_options.h"
#include "core/run_state.h"
#include "core/stages.h"
#include "core/thread_record.h"
#include "core/vstream.h"
#include "formats/adpcm.h"
#include "formats/smaf_format.h"
#include "writers/stream_thinning.h"

namespace vlm {

namespace {

using namespace smaf;

enum SequenceIndex : int { SEQ_AUDIO = 4, SEQ_GRAPHICS = 5, SEQUENCES = 6, SEQ_NONE = -1 };

constexpr uint32_t TRACK_OVERHEAD = HEAD_SIZE + SCORE_HEADER_SIZE + sizeof END_OF_SEQUENCE;
constexpr uint32_t WAVE_BUFFER_LIMIT = 65528;  // sample bytes the wave buffer takes in all
constexpr uint32_t WAVE_CHUNK_HEAD = HEAD_SIZE;
constexpr uint32_t WAVE_SHORTENED_RESERVE = 20;
constexpr uint32_t VOICE_ROOM_MIN = 21;
constexpr int KARAOKE_MAX_LINE = 120;  // keeps the line's own length field one byte
constexpr int OCTAVE_UNSET = 0x7F;
constexpr uint8_t LINE_PLACEHOLDER[2] = {0x82, 0x00};
constexpr int MAX_PASSES = 8;  // a note needs at most voice, expression, octave and note

struct Sequence {
  std::vector<uint8_t> data;  // chunk head included
  uint32_t lastTime = 0;
  bool done = false;  // copied into the output
  bool hasEvents() const { return data.size() > HEAD_SIZE; }
};

struct ChannelInfo {
  int octave = OCTAVE_UNSET;
  uint8_t velocity = 127;
  uint8_t expression = 127;
  uint8_t bendRange = 2;
  uint16_t bend = BEND_CENTRE;
  uint16_t program = 0;
  uint16_t pitchWord = 0;
  bool registerDriven = false;
};

struct TimedEntry {
  uint8_t note, track, channel;
  uint32_t position;  // of the note's event byte in its sequence, 0 = none
  uint32_t start, end;
};

struct SmafWriterState {
  bool fourVoice = false, ezweb = false, fm4op = false;
  bool velocityToExpression = false, exclusiveVoices = false, karaoke = false;
  int voiceType = VOICE_FM2;
  uint32_t capacity = 0;

  ByteSink* out = nullptr;  // holds "MMMD" and "CNTI" while the sequences grow
  Sequence seq[SEQUENCES];
  std::vector<uint8_t> setup;  // "Mtsu" with its head
  std::vector<uint8_t> waves;  // "Awa" chunks
  uint8_t waveType = 0;
  bool waveStored = false;  // the first wave fixed the audio track's rate
  WaveCodings codings;
  uint8_t tbCode = 0;

  uint16_t slotUsed = 0;
  uint16_t slotKey[VOICE_SLOTS] = {};

  ChannelInfo ch[CHANNELS];
  std::vector<TimedEntry> timed;  // in order of end time
  uint32_t songEnd = 0;
  bool stopped = false;

  uint32_t pendingLine[KARAOKE_LINES] = {};
  int pendingLines = 0;
  uint32_t lastLyric = 0;
};
// Set to the thread's record on entry (core/thread_record.h says why).
thread_local constinit SmafWriterState* state = nullptr;

// One translation pass of a stream event.
struct Pass {
  std::vector<uint8_t> bytes;
  int target = 0;  // sequence
  bool again = false;
  bool note = false, program = false, bend = false, lyric = false;
  uint32_t linePos[KARAOKE_LINES] = {};  // offsets of karaoke lines in `bytes`
  int lines = 0;
};

bool isRhythm(int ch) {
  return (writer.DRUM_CHANNEL_MASK >> ch) & 1;
}
int trackOf(int ch) {
  return (writer.ch[ch].map >> 2) & 3;
}
uint8_t channelBits(int ch) {
  return uint8_t((writer.ch[ch].map & 3) << 6);
}

// ---- Size estimate and durations ------------------------------------------------------------

// File size if everything so far were written now, counting sequence `extra` as written.
uint64_t estimate(int extra) {
  uint64_t e = uint64_t(state->out->pos) + CRC_SIZE + (state->ezweb ? sizeof EZWEB_TRAILER : 0);
  for (int s = 0; s < SEQUENCES; ++s) {
    if (state->seq[s].done || (s != 0 && s != extra && !state->seq[s].hasEvents())) continue;
    e += state->seq[s].data.size() + TRACK_OVERHEAD;
    if (s == 0) e += state->setup.size();
    if (s == SEQ_AUDIO) e += state->waves.size();
    if (s == SEQ_GRAPHICS) e += GRAPHICS_SETUP_SIZE;
  }
  return e;
}

void appendLength(std::vector<uint8_t>& v, uint32_t value) {
  uint8_t tmp[2];
  int n = writeSmafVarLen(tmp, value);
  v.insert(v.end(), tmp, tmp + n);
}

// Writes the duration of the next event of sequence s at time t, bridging long gaps with
// fillers; refuses (0, size warning) when the estimate with `room` bytes does not allow it.
int writeDuration(int s, uint32_t t, int64_t room) {
  Sequence& q = state->seq[s];
  if (t < q.lastTime) t = q.lastTime;
  uint64_t e = estimate(s);
  while (t - q.lastTime > MAX_LENGTH) {
    if (room < int64_t(e + sizeof FILLER)) {
      raiseWarning(WARN_SIZE_LIMIT);
      return 0;
    }
    q.data.insert(q.data.end(), std::begin(FILLER), std::end(FILLER));
    e += sizeof FILLER;
    q.lastTime += MAX_LENGTH;
  }
  if (room < int64_t(e + 2)) {
    raiseWarning(WARN_SIZE_LIMIT);
    return 0;
  }
  appendLength(q.data, t - q.lastTime);
  q.lastTime = t;
  return 1;
}

int64_t roomFor(uint32_t eventSize) {
  return eventSize < state->capacity ? int64_t(state->capacity - eventSize) : 0;
}

void appendRegister(std::vector<uint8_t>& v, uint8_t bank, uint8_t reg, uint8_t value) {
  v.insert(v.end(), std::begin(REGISTER_HEAD), std::end(REGISTER_HEAD));
  v.push_back(bank);
  v.push_back(reg);
  v.push_back(value);
  v.push_back(EXCLUSIVE_END);
}

// A register message of its own at time t in sequence s; 0 when the size refused it.
int writeRegister(int s, uint32_t t, uint8_t bank, uint8_t reg, uint8_t value) {
  if (!writeDuration(s, t, roomFor(REGISTER_SIZE))) return 0;
  appendRegister(state->seq[s].data, bank, reg, value);
  return 1;
}

// ---- Voices ---------------------------------------------------------------------------------

const uint8_t* builtInVoice(int type, int number, bool rhythm) {
  if (type == VOICE_MA1) return rhythm || number > 127 ? nullptr : MA1_VOICES.record[number];
  const int record = number + RHYTHM_VOICE_BASE * (rhythm ? 1 : 0);
  if (record < 0 || record >= VOICE_RECORDS) return nullptr;
  return type == VOICE_FM2 ? FM2_VOICES[record] : FM4_VOICES[record];
}

int registerVoice(int number, bool rhythm, int type, const uint8_t* bytes) {
  const uint16_t key = uint16_t((rhythm ? 0x8000 : 0) | (number & 0x7F));
  int freeSlot = -1;
  for (int s = 0; s < VOICE_SLOTS; ++s) {
    const bool used = (state->slotUsed >> s) & 1;
    if (used && state->slotKey[s] == key) return 1;
    if (used || freeSlot >= 0) continue;
    if (type == VOICE_FM4 && ((s & 4) || ((state->slotUsed >> (s + 4)) & 1))) continue;
    freeSlot = s;
  }
  if (type == VOICE_MA1 && rhythm) return 0;
  if (freeSlot < 0) {
    raiseWarning(WARN_TOO_MANY_VOICES);
    return 0;
  }
  const uint32_t size = voiceMessageSize(type);
  if (estimate(SEQ_NONE) + std::max(VOICE_ROOM_MIN, size) > state->capacity) {
    raiseWarning(WARN_SIZE_LIMIT);
    return 0;
  }
  if (!bytes) bytes = builtInVoice(type, number, rhythm);
  if (!bytes) return 0;
  const VoiceMessageForm& f = VOICE_FORMS[type];
  const uint8_t flags =
      uint8_t((rhythm ? VOICE_FLAG_RHYTHM : 0) | (type == VOICE_FM4 ? VOICE_FLAG_FM4 : 0));
  const uint8_t head[VOICE_MESSAGE_HEAD] = {
      0xFF, 0xF0, f.size, 0x43, f.klass, uint8_t(freeSlot), flags, uint8_t(number & 0x7F)};
  state->setup.insert(state->setup.end(), head, head + VOICE_MESSAGE_HEAD);
  state->setup.insert(state->setup.end(), bytes, bytes + f.bytes);
  state->setup.push_back(EXCLUSIVE_END);
  state->slotUsed |= uint16_t(1u << freeSlot);
  state->slotKey[freeSlot] = key;
  if (type == VOICE_FM4) {
    state->slotUsed |= uint16_t(1u << (freeSlot + 4));
    state->slotKey[freeSlot + 4] = key;
  }
  return 1;
}

// Register word of the voice-assignment message for the channel pair of ch, or 0 when the
// pair needs none: a melodic program and a rhythm voice of the same number are both present.
uint16_t voicePairWord(int ch) {
  const int p = ch / 2;
  auto slotOf = [](int c) {
    const uint16_t key = uint16_t((isRhythm(c) ? 0x8000 : 0) + state->ch[c].program);
    for (int s = 0; s < VOICE_SLOTS; ++s)
      if (((state->slotUsed >> s) & 1) && state->slotKey[s] == key) return s;
    return VOICE_SLOTS - 1;
  };
  const int a = slotOf(2 * p);
  const int b = slotOf(2 * p + 1);
  const bool rhythm = isRhythm(ch);
  for (int s = 0; s < VOICE_SLOTS; ++s) {
    if (!((state->slotUsed >> s) & 1)) continue;
    const uint16_t key = state->slotKey[s];
    if ((key & 0xFF) == state->ch[ch].program && bool(key & 0x8000) != rhythm)
      return uint16_t((b << 12) | (a << 8) | (REG_VOICE_PAIR + p));
  }
  return 0;
}

// ---- Notes ----------------------------------------------------------------------------------

void insertTimed(const TimedEntry& e) {
  auto at = std::upper_bound(state->timed.begin(), state->timed.end(), e.end,
                             [](uint32_t end, const TimedEntry& t) { return end < t.end; });
  state->timed.insert(at, e);
}

// Cuts a written note at time t: its gate keeps its byte form.
void rewriteGate(const TimedEntry& e, uint32_t t) {
  std::vector<uint8_t>& v = state->seq[e.track].data;
  if (e.position == 0 || e.position + 1 >= v.size()) return;
  const uint32_t d = t > e.start ? t - e.start : 0;
  uint8_t* gate = v.data() + e.position + 1;
  if (gate[0] < 0x80) {
    gate[0] = uint8_t(std::min<uint32_t>(d, 127));
  } else if (e.position + 2 < v.size()) {
    const uint32_t n = std::clamp<uint32_t>(d, 128, MAX_LENGTH);
    writeSmafVarLen(gate, n);
  }
}

// Key-offs of register-driven notes that ended by time t.
void settleNotes(uint32_t t) {
  size_t walked = 0;
  for (; walked < state->timed.size(); ++walked) {
    const TimedEntry& e = state->timed[walked];
    if (e.end > t) break;
    if (state->ch[e.channel].registerDriven) {
      state->ch[e.channel].pitchWord = 0;
      if (!writeRegister(e.track, e.end, REGISTER_BANK0, uint8_t(REG_PITCH_HIGH + e.channel), 0))
        break;
    }
  }
  state->timed.erase(state->timed.begin(), state->timed.begin() + long(walked));
}

int level(int v) {
  return v < 49 ? ((v + 8) >> 4) + 1 : ((v + 4) >> 3) - 2;
}

void translateNote(const StreamEvent& ev, Pass& p) {
  const int ch = ev.status & 0x0F;
  const uint8_t c = channelBits(ch);
  ChannelInfo& ci = state->ch[ch];
  int note = ev.data[0] & 0x7F;
  if (note == 0) note = 12;
  if (note > 120) note = ((note - 120) % 12) + 108;
  if (!state->fourVoice && isRhythm(ch)) {
    if (note < RHYTHM_LOW || note > RHYTHM_HIGH) return;
    if (ci.program == note) {
      note = RHYTHM_PITCH[note - RHYTHM_LOW];
    } else {
      if (!registerVoice(note, true, state->voiceType, nullptr)) return;
      ci.program = uint16_t(note);
      p.bytes = {EV_CONTROL, uint8_t(c + CTL_PROGRAM), uint8_t(note)};
      p.program = true;
      p.again = true;
      return;
    }
  }
  if (state->velocityToExpression) {
    const uint8_t velocity = ev.data[1] & 0x7F;
    const int before = level(ci.expression * ci.velocity / 127);
    ci.velocity = velocity;
    const int after = level(ci.expression * velocity / 127);
    if (before != after) {
      p.bytes = {EV_CONTROL, uint8_t(c + CTL_EXPRESSION_SHORT + after)};
      p.again = true;
      return;
    }
  }
  bool forced = false;
  if (ci.octave == OCTAVE_UNSET) {
    ci.octave = 0;
    forced = true;
  }
  const int low = 12 * ci.octave + WINDOW_LOW;
  const int high = 12 * ci.octave + WINDOW_HIGH;
  int shift = 0;
  if (note < low) shift = -1 - (low - note) / 12;
  if (note > high) shift = (note - high) / 12 + 1;
  if (shift != 0 || forced) {
    ci.octave += shift;
    const uint8_t o = uint8_t(ci.octave < 0 ? OCTAVE_NEGATIVE + (-ci.octave) : ci.octave);
    p.bytes = {EV_CONTROL, uint8_t(c + CTL_OCTAVE), o};
    p.again = true;
    return;
  }
  const int n = note - 12 * ci.octave;
  const int code = ((n + 11) / 12 - 4) * 16 + (n + 11) % 12 + 1;
  p.bytes = {uint8_t(c + code)};
  appendLength(p.bytes, std::min<uint32_t>(getBE(ev.data + 2, 2), MAX_LENGTH));
  p.note = true;
}

// ---- Controllers and programs ---------------------------------------------------------------

void translateController(const StreamEvent& ev, Pass& p) {
  const int ch = ev.status & 0x0F;
  const uint8_t c = channelBits(ch);
  const uint8_t k = ev.data[0];
  const uint8_t v = ev.data[1] & 0x7F;
  ChannelInfo& ci = state->ch[ch];
  if (state->fourVoice && k != CC_MODULATION && k != CC_VOLUME) return;
  switch (k) {
    case CC_MODULATION: {
      const int m = v <= 80 ? ((v + 4) >> 3) + 1 : ((v + 8) >> 4) + 6;
      p.bytes = {EV_CONTROL, uint8_t(c + CTL_MODULATION_SHORT + m)};
      break;
    }
    case CC_VOLUME:
      p.bytes = {EV_CONTROL, uint8_t(c + CTL_VOLUME), v};
      break;
    case CC_PAN:
      p.bytes = {EV_CONTROL, uint8_t(c + CTL_PAN), v};
      break;
    case CC_EXPRESSION:
      ci.expression = v;
      p.bytes = {EV_CONTROL, uint8_t(c + CTL_EXPRESSION), uint8_t(v * ci.velocity / 127)};
      break;
    case CC_RHYTHM_PART:
      if (ev.data[1])
        writer.DRUM_CHANNEL_MASK |= uint16_t(1u << ch);
      else
        writer.DRUM_CHANNEL_MASK &= uint16_t(~(1u << ch));
      p.bytes = {EV_CONTROL, uint8_t(c + CTL_BANK),
                 uint8_t((isRhythm(ch) ? BANK_RHYTHM : 0) + (state->fm4op ? 1 : 0))};
      break;
    case CC_BEND_RANGE:
      ci.bendRange = v;
      break;
    case CC_FREQ_LOW:
    case CC_FREQ_HIGH:
      appendRegister(p.bytes, REGISTER_BANK0,
                     uint8_t((k == CC_FREQ_LOW ? REG_PITCH_LOW : REG_PITCH_HIGH) + (c >> 6)), v);
      break;
    default:
      break;
  }
}

void translateProgram(const StreamEvent& ev, Pass& p) {
  const int ch = ev.status & 0x0F;
  if (isRhythm(ch)) return;
  const uint8_t program = ev.data[0] & 0x7F;
  const bool direct = state->fourVoice && !state->exclusiveVoices;
  if (!direct && !registerVoice(program, false, state->voiceType, nullptr)) return;
  state->ch[ch].program = uint16_t(program + 256 * ev.data[1]);
  p.bytes = {EV_CONTROL, uint8_t(channelBits(ch) + CTL_PROGRAM), program};
  p.program = true;
}

// ---- Karaoke and waves ----------------------------------------------------------------------

// Sets the durations of the lines of the previous lyric: they last until now.
void finishKaraokeLines(uint32_t now) {
  std::vector<uint8_t>& g = state->seq[SEQ_GRAPHICS].data;
  const uint32_t d = std::min<uint32_t>(now - std::min(now, state->lastLyric), MAX_LENGTH);
  for (int i = 0; i < state->pendingLines; ++i) {
    const uint32_t q = state->pendingLine[i];
    if (q + 2 >= g.size()) continue;
    const uint32_t len = g[q + 1];
    if (q + 1 + len >= g.size() || len < 8) continue;
    if (writeSmafVarLen(g.data() + q + 2, d) == 1) {
      // One byte shorter: the rest moves down and the text gains a terminating zero.
      std::memmove(g.data() + q + 3, g.data() + q + 4, len - 2);
      g[q + 7] = uint8_t(len - 6);
      g[q + 1 + len] = 0x00;
    }
  }
  state->pendingLines = 0;
}

void translateLyric(const StreamEvent& ev, Pass& p) {
  finishKaraokeLines(ev.time);
  const uint32_t total = ev.length;
  const uint32_t width = uint32_t(std::clamp(options.kclen, 2, KARAOKE_MAX_LINE));
  uint32_t offset = 0;
  for (int k = 0; k < KARAOKE_LINES && offset < total; ++k) {
    const uint32_t limit = std::min(total - offset, width);
    uint32_t count = 0;
    while (count < limit) count += isSjisLead(ev.data[offset + count]) ? 2 : 1;
    if (count > width) count -= 2;
    count = std::min(count, total - offset);
    if (count == 0) break;
    if (k) p.bytes.push_back(0x00);
    p.linePos[p.lines++] = uint32_t(p.bytes.size());
    p.bytes.push_back(KARAOKE_LINE_EVENT);
    appendLength(p.bytes, count + 7);
    p.bytes.insert(p.bytes.end(), std::begin(LINE_PLACEHOLDER), std::end(LINE_PLACEHOLDER));
    const uint8_t lineHead[4] = {0xF0, 0x00, uint8_t(KARAOKE_LINE_ROW_STEP * k), 0x01};
    p.bytes.insert(p.bytes.end(), lineHead, lineHead + 4);
    appendLength(p.bytes, count);
    p.bytes.insert(p.bytes.end(), ev.data + offset, ev.data + offset + count);
    offset += count;
  }
  if (p.lines) {
    p.target = SEQ_GRAPHICS;
    p.lyric = true;
  }
}

// Wave data go into the audio track as Yamaha ADPCM, the coding its head states, all at the rate
// of the first wave: the head has one rate for every wave. Waves of another coding or rate are
// decoded, resampled and encoded; Yamaha ADPCM at the track's rate is copied as it stands.
void storeWave(const StreamEvent& ev) {
  if (ev.length < 2) return;
  const uint8_t* b = ev.data;
  const uint8_t rate = b[1];
  const WaveSource source = state->codings.take(b[0], rate);
  const uint8_t target = state->waveStored ? state->waveType : nearestRateCode(source.rate);
  const uint32_t room =
      WAVE_BUFFER_LIMIT - std::min<uint32_t>(WAVE_BUFFER_LIMIT, uint32_t(state->waves.size()));
  std::vector<uint8_t> samples;
  if (rate != WAVE_RATE_NONE)
    samples = transcodeToYamaha(source.coding, b + 2, ev.length - 2, source.rate,
                                WAVE_RATES[target], room);
  uint64_t n = rate != WAVE_RATE_NONE ? samples.size() : std::min<uint64_t>(ev.length - 2, room);
  const uint64_t e = estimate(SEQ_AUDIO);
  if (state->capacity < e + n + WAVE_CHUNK_HEAD) {
    raiseWarning(WARN_SIZE_LIMIT);
    n = e + WAVE_SHORTENED_RESERVE < state->capacity ? state->capacity - e - WAVE_SHORTENED_RESERVE
                                                    : 0;
  }
  if (rate == WAVE_RATE_NONE) {
    raiseWarning(WARN_NO_SAMPLES);
    return;
  }
  n = std::min<uint64_t>(n, samples.size());
  if (n == 0) return;
  const uint8_t head[WAVE_CHUNK_HEAD] = {'A', 'w', 'a', b[0], 0, 0, 0, 0};
  state->waves.insert(state->waves.end(), head, head + WAVE_CHUNK_HEAD);
  putBE(state->waves.data() + state->waves.size() - 4, uint32_t(n), 4);
  state->waves.insert(state->waves.end(), samples.begin(), samples.begin() + ptrdiff_t(n));
  state->waveType = target;
  state->waveStored = true;
}

// ---- One event ------------------------------------------------------------------------------

void translate(const StreamEvent& ev, Pass& p) {
  const uint8_t kind = ev.status & 0xF0;
  const int ch = ev.status & 0x0F;
  p.target = ev.status < ST_EXCLUSIVE ? trackOf(ch) : 0;
  if (ev.status == ST_META) {
    const uint8_t* d = ev.data;
    switch (ev.metaType) {
      case META_LYRIC:
        if (!state->fourVoice && state->karaoke) translateLyric(ev, p);
        break;
      case META_WAVE_CODING:
        state->codings.note(d, ev.length);
        break;
      case META_WAVE:
        if (!state->fourVoice) storeWave(ev);
        break;
      case META_VOICE:
        if (ev.length >= 4 && d[0] == state->voiceType &&
            ev.length >= 4u + VOICE_FORMS[state->voiceType].bytes)
          registerVoice(d[3] & 0x7F, d[3] >> 7, state->voiceType, d + 4);
        break;
      case META_WAVE_LEVEL:
        if (!state->fourVoice && ev.length >= 1) {
          p.target = SEQ_AUDIO;
          p.bytes = {EV_CONTROL, CTL_VOLUME, uint8_t(d[0] & 0x7F)};
        }
        break;
      default:
        break;
    }
    return;
  }
  switch (kind) {
    case ST_NOTE_HIGH:
      // A wave number of 0x00 or 0xFF would read back as a control or escape event.
      if (!state->fourVoice && ev.data[0] != EV_CONTROL && ev.data[0] != 0xFF) {
        p.target = SEQ_AUDIO;
        p.bytes = {ev.data[0]};
        appendLength(p.bytes, std::min<uint32_t>(getBE(ev.data + 2, 2), MAX_LENGTH));
      }
      break;
    case ST_NOTE:
      translateNote(ev, p);
      break;
    case ST_CONTROL:
      translateController(ev, p);
      break;
    case ST_PROGRAM:
      translateProgram(ev, p);
      break;
    case ST_PITCH_BEND:
      state->ch[ch].bend = uint16_t(ev.data[0] + 256 * ev.data[1]);
      p.bend = true;
      break;
    default:
      break;
  }
}

// Pitch by register messages for the channel's first sounding note.
void writeBendRegisters(int ch, uint32_t now) {
  ChannelInfo& ci = state->ch[ch];
  auto it = std::find_if(state->timed.begin(), state->timed.end(),
                         [ch](const TimedEntry& e) { return e.channel == ch; });
  if (it == state->timed.end()) return;
  const uint16_t before = ci.pitchWord;
  ci.pitchWord = noteToFnum(it->note, ci.bendRange, ci.bend);
  if (!ci.registerDriven && it->position) {
    rewriteGate(*it, now);
    it->position = 0;
  }
  ci.registerDriven = true;
  const int s = trackOf(ch);
  if ((ci.pitchWord & 0xFF) != (before & 0xFF))
    writeRegister(s, now, REGISTER_BANK0, uint8_t(REG_PITCH_LOW + ch), uint8_t(ci.pitchWord));
  if ((ci.pitchWord >> 8) != (before >> 8))
    writeRegister(s, now, REGISTER_BANK0, uint8_t(REG_PITCH_HIGH + ch), uint8_t(ci.pitchWord >> 8));
}

// Writes what one pass produced; false when the size limit ends the merge.
bool writePass(const StreamEvent& ev, Pass& p) {
  const int ch = ev.status & 0x0F;
  const uint32_t now = ev.time;
  if (!state->fourVoice && p.note && state->ch[ch].bend != BEND_CENTRE) {
    insertTimed({ev.data[0], uint8_t(p.target), uint8_t(ch), 0, now, now + getBE(ev.data + 2, 2)});
    p.bend = true;
    p.note = false;
    p.bytes.clear();
  }
  if (p.bend) {
    if (!state->fourVoice && ev.status < ST_EXCLUSIVE) writeBendRegisters(ch, now);
  } else if (!p.bytes.empty()) {
    const uint32_t size = uint32_t(p.bytes.size());
    if (!writeDuration(p.target, now, roomFor(size))) return false;
    std::vector<uint8_t>& v = state->seq[p.target].data;
    if (p.note)
      insertTimed({ev.data[0], uint8_t(p.target), uint8_t(ch), uint32_t(v.size()), now,
                   now + getBE(ev.data + 2, 2)});
    if (p.lyric) {
      for (int i = 0; i < p.lines; ++i) state->pendingLine[i] = uint32_t(v.size()) + p.linePos[i];
      state->pendingLines = p.lines;
      state->lastLyric = now;
    }
    v.insert(v.end(), p.bytes.begin(), p.bytes.end());
    if (p.program && !state->fourVoice) {
      const uint16_t word = voicePairWord(ch);
      if (word && !writeRegister(p.target, now, REGISTER_BANK1, uint8_t(word), uint8_t(word >> 8)))
        return false;
    }
  }
  state->songEnd = now;
  return true;
}

// ---- Head and finalization ------------------------------------------------------------------

// "CNTI" with the option text; entries that would leave no room for an empty song are left out.
void writeContents(ByteSink& out, uint32_t reserve) {
  const uint32_t at = out.chunk(ID_CONTENTS);
  const uint8_t fixed[CONTENTS_FIXED_SIZE] = {CONTENTS_CLASS, CONTENTS_TYPE_HANDY,
                                              CONTENTS_CODE_HANDY,
                                              uint8_t(song.ProtectFlags & COPY_STATUS_MASK), 0};
  out.put(fixed, CONTENTS_FIXED_SIZE);
  auto entry = [&](const char* tag, const uint8_t* value, uint32_t n) {
    if (!out.room(3 + n + reserve)) {
      raiseWarning(WARN_SIZE_LIMIT);
      return;
    }
    out.put(tag, 2);
    out.u8(':');
    out.put(value, n);
  };
  if (!state->fourVoice && options.ledLink) {
    const uint8_t led[2] = {uint8_t(std::clamp(options.ledChannel, 1, CHANNELS) - 1), ','};
    entry(TAG_LED, led, 2);
  }
  char escaped[2 * INFO_TEXT_SIZE + 1];
  for (const TextTag& t : TEXT_TAGS) {
    const char* text = song.info.text[t.field];
    const uint32_t n = uint32_t(strnlen(text, INFO_TEXT_SIZE - 1));
    if (n == 0) continue;
    const uint32_t m = writeCommaField(escaped, text, n);
    entry(t.tag, reinterpret_cast<const uint8_t*>(escaped), m);
  }
  out.patch(at);
}

void bankSetup() {
  auto put = [](int ch, uint8_t value) {
    const uint8_t bytes[4] = {0x00, EV_CONTROL, uint8_t(channelBits(ch) + CTL_BANK), value};
    const int s = trackOf(ch);
    if (estimate(s) + sizeof bytes > state->capacity) {
      raiseWarning(WARN_SIZE_LIMIT);
      return;
    }
    state->seq[s].data.insert(state->seq[s].data.end(), bytes, bytes + sizeof bytes);
  };
  if (state->fm4op)
    for (int ch = 0; ch < CHANNELS; ++ch)
      if ((songStats.melodicMask >> ch) & 1) put(ch, uint8_t((isRhythm(ch) ? BANK_RHYTHM : 0) + 1));
  constexpr int RHYTHM_CHANNEL = 9;
  if (!state->fourVoice && ((songStats.rhythmMask >> RHYTHM_CHANNEL) & 1)) {
    writer.DRUM_CHANNEL_MASK |= uint16_t(1u << RHYTHM_CHANNEL);
    put(RHYTHM_CHANNEL, uint8_t(BANK_RHYTHM + (state->fm4op ? 1 : 0)));
  }
}

void channelStatus(int t, uint8_t status[2]) {
  const int vib = options.vibrationLink ? options.vibrationChannel : 0;
  for (int b = 0; b < 2; ++b) {
    status[b] = CHANNEL_STATUS_BASE;
    if (vib == 4 * t + 2 * b + 1) status[b] |= CHANNEL_STATUS_VIB_FIRST;
    if (vib == 4 * t + 2 * b + 2) status[b] |= CHANNEL_STATUS_VIB_SECOND;
  }
}

void writeTrack(ByteSink& out, int s) {
  Sequence& q = state->seq[s];
  const bool withSetup = s == 0 && state->setup.size() > HEAD_SIZE;
  const bool withWaves = s == SEQ_AUDIO && !state->waves.empty();
  if (!q.hasEvents() && !withSetup && !withWaves) {
    q.done = true;
    return;
  }
  if (q.hasEvents() && q.lastTime != state->songEnd &&
      writeDuration(s, state->songEnd, int64_t(state->capacity) - int64_t(sizeof NOP)))
    q.data.insert(q.data.end(), std::begin(NOP), std::end(NOP));
  q.data.insert(q.data.end(), std::begin(END_OF_SEQUENCE), std::end(END_OF_SEQUENCE));
  putBE(q.data.data() + 4, uint32_t(q.data.size() - HEAD_SIZE), 4);

  uint32_t at;
  if (s == SEQ_AUDIO) {
    at = out.chunk(ID_AUDIO_TRACK, 0x00);
    const uint8_t head[AUDIO_HEADER_SIZE] = {
        FORMAT_HANDY,      SEQUENCE_STREAM, uint8_t(state->waveType | WAVE_TYPE_BASE),
        WAVE_TYPE_WIDTH_4, state->tbCode,    state->tbCode};
    out.put(head, AUDIO_HEADER_SIZE);
  } else if (s == SEQ_GRAPHICS) {
    at = out.chunk(ID_GRAPHICS_TRACK, 0x00);
    out.put(GRAPHICS_HEAD, sizeof GRAPHICS_HEAD);
    out.u8(state->tbCode);
    out.u8(0x00);
    out.put(ID_GRAPHICS_SETUP, 4);
    out.be(HEAD_SIZE + sizeof GRAPHICS_DISPLAY, 4);
    out.put(ID_GRAPHICS_DISPLAY, 4);
    out.be(sizeof GRAPHICS_DISPLAY, 4);
    out.put(GRAPHICS_DISPLAY, sizeof GRAPHICS_DISPLAY);
  } else {
    at = out.chunk(ID_SCORE_TRACK,
                   state->fourVoice ? TRACK_4VOICE : uint8_t(TRACK_16VOICE_FIRST + s));
    uint8_t status[2];
    channelStatus(s, status);
    const uint8_t head[SCORE_HEADER_SIZE] = {FORMAT_HANDY, SEQUENCE_STREAM, state->tbCode,
                                             state->tbCode, status[0],       status[1]};
    out.put(head, SCORE_HEADER_SIZE);
    if (withSetup) {
      putBE(state->setup.data() + 4, uint32_t(state->setup.size() - HEAD_SIZE), 4);
      out.put(state->setup.data(), uint32_t(state->setup.size()));
    }
  }
  out.put(q.data.data(), uint32_t(q.data.size()));
  if (withWaves) out.put(state->waves.data(), uint32_t(state->waves.size()));
  out.patch(at);
  q.done = true;
}

void startSequence(Sequence& q, const char* id) {
  q.data.assign(id, id + 4);
  q.data.resize(HEAD_SIZE, 0);
  q.data.reserve(16384);
  q.lastTime = 0;
}

}  // namespace

// One write of the whole song; writeSmaf repeats it on a thinner stream when the limit cut it.
static void writeSmafOnce(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
                          int32_t* destinationSize, uint32_t capacity) {
  state = &threadRecord<SmafWriterState>();
  *destinationSize = 0;
  *state = SmafWriterState{};
  // The 4-voice handsets take the older MA-1 layout: what the preset says, not the output code.
  state->fourVoice = options.preset.fourVoiceFm;
  state->ezweb = options.preset.ezwebTarget;
  state->fm4op = !state->fourVoice && options.mmf4op;
  state->velocityToExpression = !state->fourVoice && options.preset.noteType;
  state->exclusiveVoices = options.preset.voiceParamExclusive;
  state->karaoke = options.kclen > 1;
  state->voiceType = (state->fourVoice ? VOICE_MA1 : VOICE_FM2) + (state->fm4op ? 1 : 0);
  state->capacity = destination ? capacity : 0;
  const uint32_t trailer = state->ezweb ? sizeof EZWEB_TRAILER : 0;

  beginStream();
  if (state->fm4op)
    for (int i = 0; i < CHANNELS; ++i) writer.ch[i].map = uint8_t((i + 4 * (i / 4)) % CHANNELS);
  TrackTable table;
  loadTrackTable(table, source, sourceSize);
  state->tbCode = timebaseCode(table.timebase);

  ByteSink out(destination, state->capacity);
  state->out = &out;
  const uint32_t fileAt = out.chunk(ID_FILE);
  if (!out.room(HEAD_SIZE + CONTENTS_FIXED_SIZE + CRC_SIZE + trailer)) {
    raiseWarning(WARN_SIZE_LIMIT);
    endStream();
    *state = SmafWriterState{};
    return;
  }
  writeContents(out, CRC_SIZE + trailer);

  state->setup.assign(ID_SETUP, ID_SETUP + 4);
  state->setup.resize(HEAD_SIZE, 0);
  for (int s = 0; s < SCORE_TRACKS; ++s) startSequence(state->seq[s], ID_SEQUENCE);
  startSequence(state->seq[SEQ_AUDIO], ID_AUDIO_SEQUENCE);
  startSequence(state->seq[SEQ_GRAPHICS], ID_GRAPHICS_SEQUENCE);
  bankSetup();

  StreamEvent ev;
  while (nextStreamEvent(table, ev)) {
    settleNotes(ev.time);
    Pass p;
    int passes = 0;
    do {
      p = Pass{};
      translate(ev, p);
      if (!writePass(ev, p)) {
        state->stopped = true;
        state->songEnd = ev.time;
        break;
      }
    } while (p.again && ++passes < MAX_PASSES);
    if (state->stopped) break;
  }

  for (TimedEntry& e : state->timed)
    if (e.position) rewriteGate(e, state->songEnd);
  finishKaraokeLines(state->songEnd);
  for (int s = 0; s < SEQUENCES; ++s) writeTrack(out, s);
  *destinationSize = out.closeFile(fileAt, state->ezweb);
  endStream();
  *state = SmafWriterState{};
}

void writeSmaf(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
               int32_t* destinationSize, uint32_t capacity) {
  writeWithinLimit(writeSmafOnce, source, sourceSize, destination, destinationSize, capacity);
}

}  // namespace vlm
