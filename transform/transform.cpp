// The transform pass: rewrites a VStream for the target handset. It converts times between
// timebases and tempo scales, applies key, octave, range, velocity and volume settings, maps the
// input channels onto the channels and voices the target offers, and filters what the target
// cannot play. Reads through the merge cursor, writes through its own emitter with the stream
// writer's encoding and state.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <numeric>

#include "core/codec.h"
#include "core/conversion_options.h"
#include "core/note_tables.h"
#include "core/run_state.h"
#include "core/stages.h"
#include "core/vstream.h"
#include "transform/transform_state.h"

namespace vlm {

namespace xform {
thread_local constinit TransformState xs{};
}

namespace {

using namespace xform;

constexpr uint32_t DEFAULT_TEMPO_BPM = 120;
constexpr uint32_t TEMPO_UNITY = 256;
constexpr uint32_t MAX_TEMPO_USEC = 0xFFFFFF;
constexpr uint32_t END_OF_TRACK_ROOM = 8;  // delta of up to 5 bytes and FF 2F 00
constexpr uint32_t EVENT_MARGIN = 12;
constexpr uint32_t CLOCK_TRACK_MIN_ROOM = 17;
constexpr uint32_t CLOCK_TRACK_TAIL = 9;
constexpr uint8_t TOP_NOTE = 21, TOP_VELOCITY = 2;
constexpr uint8_t META_TIME_SIGNATURE = 0x58;
constexpr uint32_t PERCENT = 100;
constexpr int BEND_MID = 8192;

enum CutMode { CUT_NONE, CUT_KEEP, CUT_MIDDLE };
enum VolumeMode { VOLUME_FOLLOW, VOLUME_FLAT, VOLUME_TO_VELOCITY };

// Everything the pass keeps for one run. Trivially destructible and constant-initialised, so
// that its accesses need no TLS wrapper; the scratch block is freed at the end of the run.
// The values an input channel's setup writes to an output channel, and the channel state they
// were worked out from. A new note of a one-voice-per-channel target sets its channel up every
// time, and the state seldom changes between two notes.
struct SetupValues {
  uint64_t state = 0;
  bool known = false;
  int program = -1;  // program word, -1: none is written
  uint8_t volume = 0;
  int bend = 0;  // 14-bit value
};

struct Pass {
  uint8_t* out = nullptr;
  uint32_t cap = 0;
  bool full = false;
  uint32_t lastWritten = 0;
  uint32_t lastNoteEnd = 0;
  uint8_t* scratch = nullptr;  // event bytes; every byte is written before it is read
  uint32_t scratchSize = 0;
  // Time ratio: spans are multiplied by mul and divided by div (q x U over p x V, reduced).
  uint32_t p = 1, q = 1, S = TEMPO_UNITY, V = DEFAULT_TEMPO_BPM, U = DEFAULT_TEMPO_BPM;
  uint32_t mul = 1, div = 1, carry = 0;
  int cutMode = CUT_NONE;
  uint32_t cutLo = 0, cutHi = 0;  // keep: [lo, hi); middle: [lo, hi) removed
  bool leadingCut = false;
  bool suspended = false, cueControl = false;
  uint32_t pendingTempo = 0;  // tempo met while suspended
  uint32_t tempoPos = 0, tempoTime = 0, tempoUsec = 0;
  uint32_t nextEnd = UINT32_MAX;  // earliest input end of the sounding notes
  int volumeMode = VOLUME_FOLLOW;
  bool forPlayback = false;
  // The run's options, looked up once: the options record has strings, so every direct use of
  // the thread-local goes through its guarded initialiser.
  const ConversionOptions* options = nullptr;
  SetupValues setup[CHANNELS];  // what setupOutput last worked out for each input channel
};
thread_local constinit Pass ps{};

// ---- Time ------------------------------------------------------------------------------------

void setRatio() {
  uint64_t mul = uint64_t(ps.q) * ps.U, div = uint64_t(ps.p) * ps.V;
  const uint64_t g = std::gcd(mul, div);
  if (g > 1) mul /= g, div /= g;
  while (mul > 0xFFFFFFFFu || div > 0xFFFFFFFFu) mul >>= 1, div >>= 1;
  ps.mul = uint32_t(std::max<uint64_t>(mul, 1));
  ps.div = uint32_t(std::max<uint64_t>(div, 1));
  ps.carry = 0;
}

// Converts a span with the carried remainder of the ratio (kept apart for equal rates).
uint32_t scaleSpan(uint32_t span, uint32_t* carry) {
  if (ps.mul == ps.div) return span;
  return scaleCarry(span, carry, ps.div, ps.mul);
}

uint32_t convertPlain(uint32_t span) {
  uint32_t carry = 0;
  return scaleSpan(span, &carry);
}

uint32_t convertDuration(uint32_t duration) {
  return std::clamp<uint32_t>(convertPlain(duration), 1, MAX_DURATION);
}

uint32_t overlap(uint32_t a, uint32_t b, uint32_t lo, uint32_t hi) {
  const uint32_t x = std::max(a, lo), y = std::min(b, hi);
  return y > x ? y - x : 0;
}

// The part of the input span [a, b) that the cut range keeps.
uint32_t keptSpan(uint32_t a, uint32_t b) {
  if (b <= a) return 0;
  switch (ps.cutMode) {
    case CUT_KEEP:
      return overlap(a, b, ps.cutLo, ps.cutHi);
    case CUT_MIDDLE:
      return (b - a) - overlap(a, b, ps.cutLo, ps.cutHi);
    default:
      return b - a;
  }
}

bool inKeptRange(uint32_t t) {
  const bool inside = t >= ps.cutLo && t < ps.cutHi;
  if (ps.cutMode == CUT_KEEP) return inside;
  if (ps.cutMode == CUT_MIDDLE) return !inside;
  return true;
}

// Output time of an input time not before the current event.
uint32_t outTimeAt(uint32_t inTime) {
  if (inTime <= xs.inNow || ps.leadingCut || ps.suspended) return xs.outNow;
  uint32_t carry = ps.carry;
  return xs.outNow + scaleSpan(keptSpan(xs.inNow, inTime), &carry);
}

void removeNote(int index) {
  const SoundingNote& n = xs.notes[index];
  if (n.outCh < OUTPUT_CHANNELS) uncountSounding(n.outCh);
  std::memmove(&xs.notes[index], &xs.notes[index + 1],
               sizeof(SoundingNote) * size_t(xs.noteCount - index - 1));
  --xs.noteCount;
}

void finishNote(int index, uint32_t end, uint32_t minimum) {
  const SoundingNote& n = xs.notes[index];
  uint32_t duration = end > n.outStart ? end - n.outStart : 0;
  duration = std::clamp<uint32_t>(duration, minimum, MAX_DURATION);
  putBE(ps.out + n.pos + 3, duration, 2);
  ps.lastNoteEnd = std::max(ps.lastNoteEnd, n.outStart + duration);
  removeNote(index);
}

// Moves the pass to input time t: patches the notes that ended and converts the kept span.
void advanceTo(uint32_t t) {
  if (t >= ps.nextEnd) {
    uint32_t next = UINT32_MAX;
    for (int i = xs.noteCount - 1; i >= 0; --i) {
      if (xs.notes[i].inEnd <= t)
        finishNote(i, outTimeAt(xs.notes[i].inEnd), 1);
      else
        next = std::min(next, xs.notes[i].inEnd);
    }
    ps.nextEnd = next;
  }
  if (t <= xs.inNow) return;
  const uint32_t span = ps.leadingCut || ps.suspended ? 0 : keptSpan(xs.inNow, t);
  xs.outNow += scaleSpan(span, &ps.carry);
  xs.inNow = t;
}

// ---- Emitting --------------------------------------------------------------------------------

uint8_t* scratch(uint32_t count) {
  if (ps.scratchSize < count) {
    void* grown = std::realloc(ps.scratch, count);
    if (!grown) throw std::bad_alloc();
    ps.scratch = static_cast<uint8_t*>(grown);
    ps.scratchSize = count;
  }
  return ps.scratch;
}

// Writes one event with the stream encoding; false (and the merge ends) when it does not fit
// with room left for the end of track.
bool emitRaw(uint32_t time, uint8_t status, const uint8_t* data, uint32_t count,
             bool stats = true) {
  if (ps.full) return false;
  const uint32_t delta = time >= ps.lastWritten ? time - ps.lastWritten : 0;
  const uint64_t needed =
      uint64_t(writer.pos) + count +
      std::max<uint32_t>(EVENT_MARGIN, varLenSize(delta) + 1 + END_OF_TRACK_ROOM);
  if (needed > ps.cap) {
    ps.full = true;
    return false;
  }
  uint8_t* buf = scratch(std::max<uint32_t>(count, 1));
  if (count && data != buf) {
    if (count <= 4) {
      // A channel event: a few bytes, copied inline (through locals, in case they overlap).
      uint8_t bytes[4];
      copyEventBytes(bytes, data, count);
      copyEventBytes(buf, bytes, count);
    } else {
      std::memmove(buf, data, count);
    }
  }
  writer.pos += uint32_t(writeVarLen(ps.out + writer.pos, delta));
  ps.lastWritten = std::max(ps.lastWritten, time);
  writer.status = status;
  writer.channel = status < ST_EXCLUSIVE ? uint8_t(status & 0x0F) : 0;
  writer.data = buf;
  writer.count = count;
  writer.now = time;
  if (stats && status >= ST_NOTE_HIGH) noteStreamState(time, status);
  ps.out[writer.pos++] = status;
  copyEventBytes(ps.out + writer.pos, writer.data, count);
  writer.pos += count;
  return true;
}

bool emitFiller(uint32_t time) {
  return emitRaw(time, ST_FILLER, nullptr, 0, false);
}

bool isTracked(uint8_t cc) {
  return cc == CC_MODULATION || cc == CC_VOLUME || cc == CC_PAN || cc == CC_EXPRESSION ||
         cc == CC_HOLD;
}

// Channel event with command efficiency: a value the channel already has is dropped, and a
// value set while none of the channel's notes sounded is overwritten in place.
bool emitChannel(uint8_t status, uint8_t d0, uint8_t d1) {
  const uint8_t kind = status & 0xF0, oc = status & 0x0F;
  if (!ps.options->noefficflg) {
    ChannelState& cs = writer.ch[oc];
    const bool silent = cs.sounding == 0;
    if (kind == ST_CONTROL && isTracked(d0)) {
      if (cs.controller[d0] == d1) return true;
      uint32_t pos = cs.controllerPos[d0];
      if (d0 == CC_VOLUME || d0 == CC_EXPRESSION)
        pos = std::max(cs.controllerPos[CC_VOLUME], cs.controllerPos[CC_EXPRESSION]);
      if (pos && silent) {
        cs.controller[d0] = d1;
        const uint8_t v =
            d0 == CC_VOLUME || d0 == CC_EXPRESSION
                ? uint8_t(cs.controller[CC_VOLUME] * cs.controller[CC_EXPRESSION] / 127)
                : d1;
        ps.out[pos + 2] = v;
        return true;
      }
    } else if (kind == ST_CONTROL && d0 == CC_BEND_RANGE) {
      if (cs.bendRange == d1) return true;
      if (cs.bendRangePos && silent) {
        cs.bendRange = d1;
        ps.out[cs.bendRangePos + 2] = d1;
        return true;
      }
    } else if (kind == ST_PROGRAM) {
      const uint16_t word = uint16_t((d0 & 0x7F) | d1 << 8);
      if (cs.program == word) return true;
      if (cs.programPos && silent) {
        cs.program = word;
        ps.out[cs.programPos + 1] = d0 & 0x7F;
        ps.out[cs.programPos + 2] = d1;
        return true;
      }
    } else if (kind == ST_PITCH_BEND) {
      const uint16_t word = uint16_t(d0 | d1 << 8);
      if (cs.bend == word) return true;
      if (cs.bendPos && silent) {
        cs.bend = word;
        ps.out[cs.bendPos + 1] = d0;
        ps.out[cs.bendPos + 2] = d1;
        return true;
      }
    }
  }
  const uint8_t data[2] = {d0, d1};
  return emitRaw(xs.outNow, status, data, 2);
}

bool emitTempo(uint32_t usec) {
  if (!ps.options->noefficflg) {
    if (usec == ps.tempoUsec) return true;
    if (ps.tempoPos && xs.outNow == ps.tempoTime) {
      putBE(ps.out + ps.tempoPos + 3, usec, 3);
      ps.tempoUsec = usec;
      return true;
    }
  }
  const uint8_t data[5] = {META_TEMPO, 3, uint8_t(usec >> 16), uint8_t(usec >> 8), uint8_t(usec)};
  if (!emitRaw(xs.outNow, ST_META, data, 5)) return false;
  ps.tempoUsec = usec;
  return true;
}

// ---- Values ----------------------------------------------------------------------------------

// value x percent / 100, skipped at 100 percent, where it gives the value itself: the common
// case, and the product and division are a long chain of multiplications for every note.
int64_t scalePercent(int64_t value, int percent) {
  return percent == int(PERCENT) ? value : value * percent / PERCENT;
}

int scaleVolume(int value, int c) {
  const ConversionOptions& o = *ps.options;
  const int64_t v =
      scalePercent(scalePercent(value, o.volumePercent), o.channelVolumePercent[c]);
  return int(std::clamp<int64_t>(v, 0, 127));
}

uint8_t effectiveVolume(int c) {
  const InputChannel& ic = xs.in[c];
  if (ps.volumeMode == VOLUME_TO_VELOCITY) return uint8_t(scaleVolume(127, c));
  return uint8_t(scaleVolume(ic.volume, c) * ic.expression / 127);
}

uint8_t scaleVelocity(int c, uint8_t velocity) {
  const ConversionOptions& o = *ps.options;
  int64_t v = scalePercent(scalePercent(velocity, o.velocityPercent), o.channelVelocityPercent[c]);
  if (ps.volumeMode == VOLUME_TO_VELOCITY)
    v = v * xs.in[c].volume / 127 * xs.in[c].expression / 127;
  return uint8_t(std::clamp<int64_t>(v, 0, 127));
}

// Bend of an input channel as the target takes it (14-bit value).
int transformBend(int c, int value) {
  const ConversionOptions& o = *ps.options;
  int range = xs.in[c].bendRange;
  int v = value;
  if (!(o.real & REAL_BEND_RANGE)) {
    v = std::clamp((v - BEND_MID) * range / 2, -BEND_MID, BEND_MID - 1) + BEND_MID;
    range = 2;
  }
  if (o.bendecoflg && range) {
    const int s = std::max(4096 / range, 1);
    if (v < BEND_MID)
      v = BEND_MID - ((BEND_MID - v + s / 2) / s) * s;
    else
      v = BEND_MID + ((v - BEND_MID + s / 2) / s) * s;
    v = std::clamp(v, 0, 0x3FFF);
  }
  return v;
}

int targetsOf(int c, uint8_t* list) {
  const InputChannel& ic = xs.in[c];
  if (ic.firstOut == NO_CHANNEL) return 0;
  int n = 0;
  if (ic.mode == ALLOC_SHARED) {
    for (int k = 0; k < xs.poolSize; ++k)
      if (xs.lastUser[xs.pool[k]] == c) list[n++] = xs.pool[k];
    return n;
  }
  const int count = std::min<int>(ic.outCount, OUTPUT_CHANNELS - ic.firstOut);
  for (int k = 0; k < count; ++k) list[n++] = uint8_t(ic.firstOut + k);
  return n;
}

void sendAll(int c, uint8_t kind, uint8_t d0, uint8_t d1) {
  if (ps.suspended) return;  // the state is written again when the cue resumes
  uint8_t list[OUTPUT_CHANNELS];
  const int n = targetsOf(c, list);
  for (int k = 0; k < n && !ps.full; ++k) emitChannel(uint8_t(kind | list[k]), d0, d1);
}

// The setup values of an input channel; the options and the channel's allocation do not change
// during a pass, so they are worked out again only when the channel's state has changed.
const SetupValues& setupValuesOf(int c) {
  const InputChannel& ic = xs.in[c];
  const uint64_t state = uint64_t(ic.program) | uint64_t(ic.bend) << 16 |
                         uint64_t(ic.volume) << 32 | uint64_t(ic.expression) << 40 |
                         uint64_t(ic.bendRange) << 48;
  SetupValues& v = ps.setup[c];
  if (v.known && v.state == state) return v;
  v.state = state;
  v.known = true;
  v.program = mapProgram(c, ic.program, true, ps.forPlayback);
  v.volume = effectiveVolume(c);
  v.bend = transformBend(c, ic.bend);
  return v;
}

// Whether every event of a setup would be dropped as a value the output channel already has:
// the first test of emitChannel for each of them.
bool setupChangesNothing(int oc, const SetupValues& v, uint8_t modulation) {
  const ConversionOptions& o = *ps.options;
  if (o.noefficflg) return false;
  const ChannelState& cs = writer.ch[oc];
  if (v.program >= 0 &&
      cs.program != uint16_t((v.program & 0x7F) | uint8_t(v.program >> 8) << 8))
    return false;
  if (cs.controller[CC_VOLUME] != v.volume) return false;
  if ((o.real & REAL_MODULATION) && cs.controller[CC_MODULATION] != modulation) return false;
  if ((o.real & REAL_PITCH_BEND) && cs.bend != uint16_t((v.bend & 0x7F) | uint8_t(v.bend >> 7) << 8))
    return false;
  return true;
}

// Writes the input channel's current state to an output channel before its note lands there.
void setupOutput(int oc, int c) {
  const InputChannel& ic = xs.in[c];
  const SetupValues& v = setupValuesOf(c);
  if (!setupChangesNothing(oc, v, ic.modulation)) {
    if (v.program >= 0)
      emitChannel(uint8_t(ST_PROGRAM | oc), uint8_t(v.program & 0x7F), uint8_t(v.program >> 8));
    emitChannel(uint8_t(ST_CONTROL | oc), CC_VOLUME, v.volume);
    if (ps.options->real & REAL_MODULATION)
      emitChannel(uint8_t(ST_CONTROL | oc), CC_MODULATION, ic.modulation);
    if (ps.options->real & REAL_PITCH_BEND)
      emitChannel(uint8_t(ST_PITCH_BEND | oc), uint8_t(v.bend & 0x7F), uint8_t(v.bend >> 7));
  }
  xs.lastUser[oc] = uint8_t(c);
}

// ---- Events ----------------------------------------------------------------------------------

void handleNote(const StreamEvent& ev) {
  const int c = ev.status & 0x0F;
  if (xs.in[c].firstOut == NO_CHANNEL || ps.suspended || !inKeptRange(ev.time)) return;
  if (xs.noteCount >= MAX_SOUNDING) return;
  const int pitch = transformNote(c, ev.data[0]);
  if (pitch < 0) return;
  const uint8_t velocity = scaleVelocity(c, ev.data[1]);
  bool setup = false;
  const int oc = chooseVoice(c, pitch, &setup);
  if (oc < 0) return;
  if (setup) setupOutput(oc, c);
  const uint32_t duration = getBE(ev.data + 2, 2);
  const uint32_t outDuration = convertDuration(duration);
  const uint8_t data[4] = {uint8_t(pitch), velocity, uint8_t(outDuration >> 8),
                           uint8_t(outDuration)};
  countSounding(uint8_t(oc));
  if (!emitRaw(xs.outNow, uint8_t(ST_NOTE | oc), data, 4)) {
    uncountSounding(uint8_t(oc));
    return;
  }
  xs.notes[xs.noteCount++] =
      SoundingNote{uint8_t(c), uint8_t(oc), uint8_t(pitch),    writer.pos - 5,
                   xs.outNow,  ev.time,     ev.time + duration};
  ps.nextEnd = std::min(ps.nextEnd, ev.time + duration);
  xs.lastUser[oc] = uint8_t(c);
  xs.lastUse[oc] = xs.outNow;
  ps.leadingCut = false;
  ps.lastNoteEnd = std::max(ps.lastNoteEnd, xs.outNow + outDuration);
}

// Notes of the second group of channels (wave sounds, markers) keep their channel and pitch.
void handleHighNote(const StreamEvent& ev) {
  if (ps.suspended || !inKeptRange(ev.time) || xs.noteCount >= MAX_SOUNDING) return;
  const uint32_t duration = getBE(ev.data + 2, 2);
  const uint32_t outDuration = convertDuration(duration);
  const uint8_t data[4] = {ev.data[0], ev.data[1], uint8_t(outDuration >> 8), uint8_t(outDuration)};
  if (!emitRaw(xs.outNow, ev.status, data, 4)) return;
  const uint8_t ch = uint8_t(16 + (ev.status & 0x0F));
  xs.notes[xs.noteCount++] =
      SoundingNote{ch, ch, ev.data[0], writer.pos - 5, xs.outNow, ev.time, ev.time + duration};
  ps.nextEnd = std::min(ps.nextEnd, ev.time + duration);
  ps.leadingCut = false;
  ps.lastNoteEnd = std::max(ps.lastNoteEnd, xs.outNow + outDuration);
}

void handleControl(int c, uint8_t cc, uint8_t v) {
  InputChannel& ic = xs.in[c];
  const ConversionOptions& o = *ps.options;
  const int real = o.real;
  switch (cc) {
    case CC_MODULATION:
      ic.modulation = v;
      if (real & REAL_MODULATION) sendAll(c, ST_CONTROL, cc, v);
      break;
    case CC_VOLUME:
      if (ps.volumeMode == VOLUME_FLAT) {
        if (ic.firstVolume < 0) ic.firstVolume = v;
        v = uint8_t(ic.firstVolume);
      }
      ic.volume = v;
      if (ps.volumeMode != VOLUME_TO_VELOCITY)
        sendAll(c, ST_CONTROL, CC_VOLUME, effectiveVolume(c));
      break;
    case CC_EXPRESSION:
      ic.expression = v;
      if (ps.volumeMode != VOLUME_TO_VELOCITY)
        sendAll(c, ST_CONTROL, CC_VOLUME, effectiveVolume(c));
      break;
    case CC_PAN:
      if ((real & REAL_STEREO) && !o.panleft) sendAll(c, ST_CONTROL, cc, v);
      break;
    case CC_HOLD:
      if (real & REAL_HOLD) sendAll(c, ST_CONTROL, cc, v);
      break;
    case CC_RHYTHM_PART:
      if (o.noefficflg) sendAll(c, ST_CONTROL, cc, v);
      break;
    case CC_BEND_RANGE:
      ic.bendRange = v;
      if (real & REAL_BEND_RANGE) sendAll(c, ST_CONTROL, cc, v);
      break;
    case CC_FREQ_LOW:
    case CC_FREQ_HIGH:
      break;
    default:
      if (cc >= 0x80 || (real & REAL_OTHER_CONTROLLERS)) sendAll(c, ST_CONTROL, cc, v);
      break;
  }
}

void handleChannelEvent(const StreamEvent& ev) {
  const int c = ev.status & 0x0F;
  if (xs.in[c].firstOut == NO_CHANNEL) return;
  InputChannel& ic = xs.in[c];
  switch (ev.status & 0xF0) {
    case ST_NOTE:
      handleNote(ev);
      break;
    case ST_CONTROL:
      handleControl(c, ev.data[0], ev.data[1]);
      break;
    case ST_PROGRAM: {
      ic.program = uint16_t((ev.data[0] & 0x7F) | ev.data[1] << 8);
      const int word = mapProgram(c, ic.program, false, ps.forPlayback);
      if (word >= 0) sendAll(c, ST_PROGRAM, uint8_t(word & 0x7F), uint8_t(word >> 8));
      break;
    }
    case ST_PITCH_BEND: {
      ic.bend = uint16_t((ev.data[0] & 0x7F) | (ev.data[1] & 0x7F) << 7);
      if (!(ps.options->real & REAL_PITCH_BEND)) break;
      const int b = transformBend(c, ic.bend);
      sendAll(c, ST_PITCH_BEND, uint8_t(b & 0x7F), uint8_t(b >> 7));
      break;
    }
    case ST_CHANNEL_PRESSURE: {
      if (ps.suspended) break;
      uint8_t list[OUTPUT_CHANNELS];
      const int n = targetsOf(c, list);
      for (int k = 0; k < n; ++k)
        emitRaw(xs.outNow, uint8_t(ST_CHANNEL_PRESSURE | list[k]), ev.data, 1);
      break;
    }
    default:  // note-offs and polyphonic pressure never stand in a finished stream
      break;
  }
}

void applyTempo(uint32_t usec) {
  if (usec == 0) return;
  const uint32_t scaled =
      uint32_t(std::clamp<uint64_t>(uint64_t(usec) * TEMPO_UNITY / ps.S, 1, MAX_TEMPO_USEC));
  if (xs.fixedTempo) {
    // The ticks absorb the tempo: the notes still sounding are measured with the new rate when
    // they end.
    ps.V = std::max<uint32_t>(1, tempoBpm(scaled));
    setRatio();
    return;
  }
  if (ps.suspended) {
    ps.pendingTempo = scaled;
    return;
  }
  emitTempo(scaled);
}

void endAllNotes() {
  while (xs.noteCount > 0) finishNote(xs.noteCount - 1, xs.outNow, 0);
}

void resumeAtCue() {
  ps.suspended = false;
  if (ps.pendingTempo) emitTempo(ps.pendingTempo);
  ps.pendingTempo = 0;
  for (int oc = 0; oc < OUTPUT_CHANNELS; ++oc) {
    if (!xs.outUsed[oc]) continue;
    const uint8_t c = xs.lastUser[oc] != NO_CHANNEL ? xs.lastUser[oc] : xs.owner[oc];
    if (c < CHANNELS) setupOutput(oc, c);
  }
}

void handleMeta(const StreamEvent& ev) {
  const uint8_t type = ev.metaType;
  if (type == META_END_OF_TRACK) return;  // the pass writes its own
  if (type == META_TEMPO) {
    if (ev.length >= 3) applyTempo(getBE(ev.data, 3));
    return;
  }
  if (type == META_CUE) {
    if (ps.cueControl && ev.length >= 1) {
      if (ev.data[0] == 0 && ps.suspended) {
        resumeAtCue();
      } else if (ev.data[0] == 1 && !ps.suspended) {
        endAllNotes();
        ps.suspended = true;
      }
    }
    if (!ps.options->noefficflg || ps.forPlayback) return;
  }
  if (ps.suspended) return;
  if (ps.forPlayback && type != META_TIME_SIGNATURE && type != META_MASTER_VOLUME) return;
  if ((type == META_PARAMETER || type == META_VOICE) && !ps.options->noefficflg) return;
  if (type == META_MASTER_VOLUME) {
    if (ps.options->mastervol >= 2 || ps.options->volumePercent == 0 || ev.length < 1) return;
    const uint8_t v =
        uint8_t(std::min<int64_t>(int64_t(ev.data[0]) * ps.options->volumePercent / PERCENT, 127));
    const uint8_t data[3] = {META_MASTER_VOLUME, 1, v};
    emitRaw(xs.outNow, ST_META, data, 3);
    return;
  }
  const uint32_t lengthBytes = uint32_t(varLenSize(ev.length));
  const uint32_t count = 1 + lengthBytes + ev.length;
  uint8_t* buf = scratch(count);
  buf[0] = type;
  writeVarLen(buf + 1, ev.length);
  std::memcpy(buf + 1 + lengthBytes, ev.data, ev.length);
  emitRaw(xs.outNow, ST_META, buf, count);
}

void handleExclusive(const StreamEvent& ev) {
  if (!ps.options->exclusive || ps.suspended) return;
  const uint32_t lengthBytes = uint32_t(varLenSize(ev.length));
  const uint32_t count = lengthBytes + ev.length;
  uint8_t* buf = scratch(count);
  writeVarLen(buf, ev.length);
  std::memcpy(buf + lengthBytes, ev.data, ev.length);
  emitRaw(xs.outNow, ST_EXCLUSIVE, buf, count);
}

// ---- Set-up ----------------------------------------------------------------------------------

void computeDerived(const SongStats& stats, uint16_t timebase) {
  const TargetPreset& pre = ps.options->preset;
  xs.inTimebase = std::max<uint32_t>(timebase, 1);
  xs.divisor = std::max<uint32_t>(pre.timebaseDivisor, 1);
  if (xs.inTimebase / xs.divisor == 0) xs.divisor = xs.inTimebase;
  xs.T = xs.inTimebase / xs.divisor;
  xs.Tout = pre.targetTimebase ? pre.targetTimebase : xs.T;
  xs.Tout = std::max<uint32_t>(std::min<uint32_t>(xs.Tout, pre.maxTimebase), 1);

  ps.p = xs.T;
  ps.q = xs.Tout;
  if (ps.p == ps.q) ps.p = ps.q = 1;
  for (uint32_t d : {2u, 3u, 4u})
    while (ps.p % d == 0 && ps.q % d == 0) ps.p /= d, ps.q /= d;

  const uint32_t base =
      stats.tempoMin != 0 && stats.tempoMin == stats.tempoMax ? stats.tempoMin : DEFAULT_TEMPO_BPM;
  const uint32_t ratio = ps.options->tempoRatio > 0 ? uint32_t(ps.options->tempoRatio) : TEMPO_UNITY;
  ps.S = ratio * xs.divisor;
  xs.fixedTempo = pre.fixedTempo || (ps.options->chgtime && !ps.forPlayback);
  if (!xs.fixedTempo) {
    while (uint64_t(stats.tempoMax) * ps.S / TEMPO_UNITY > pre.maxTempo && ps.S > 1 &&
           ps.p < 0x80000000u) {
      ps.p *= 2;
      ps.S /= 2;
    }
  }
  ps.V = std::max<uint32_t>(1, uint32_t(uint64_t(ps.S) * base / TEMPO_UNITY));
  ps.U = xs.fixedTempo && pre.fixedTempoValue ? pre.fixedTempoValue : ps.V;
  setRatio();

  // Cut range in input ticks.
  uint32_t a = ps.options->rangeStart, b = ps.options->rangeEnd;
  if (ps.options->cutRange && a < b) std::swap(a, b);  // cut the range out of the middle
  const uint64_t unit = uint64_t(xs.T) * xs.divisor;
  const uint32_t ta = uint32_t(std::min<uint64_t>(a * unit / 4, 0xFFFFFFFFu));
  const uint32_t tb = uint32_t(std::min<uint64_t>(b * unit / 4, 0xFFFFFFFFu));
  if (a == 0 && b == 0) {
    ps.cutMode = CUT_NONE;
  } else if (a < b) {
    ps.cutMode = CUT_KEEP;
    ps.cutLo = ta, ps.cutHi = tb;
  } else {
    ps.cutMode = CUT_MIDDLE;
    ps.cutLo = tb, ps.cutHi = ta;
  }
  xs.cutLength = ps.options->wcomplevel > 0 ? xs.inTimebase * 4 / uint32_t(ps.options->wcomplevel) : 0;
}

void initChannels(const SongStats& stats) {
  for (int c = 0; c < CHANNELS; ++c) {
    InputChannel& ic = xs.in[c];
    ic = InputChannel{};
    if (ps.options->fadeIn) ic.expression = 0;  // the fade starts from silence
  }
  allocateChannels(stats, ps.forPlayback);
}

void writeSetup() {
  for (int oc = 0; oc < OUTPUT_CHANNELS && !ps.full; ++oc) {
    if (!xs.outUsed[oc]) continue;
    const int c = xs.owner[oc];
    if (c >= CHANNELS) continue;
    const bool drum = writer.DRUM_CHANNEL_MASK >> oc & 1;
    if (drum != xs.outRhythm[oc]) {
      const uint8_t data[2] = {CC_RHYTHM_PART, uint8_t(xs.outRhythm[oc] ? 1 : 0)};
      emitRaw(xs.outNow, uint8_t(ST_CONTROL | oc), data, 2);
    }
    if (!ps.options->noefficflg) {
      const int word = mapProgram(c, xs.in[c].program, true, ps.forPlayback);
      const uint8_t program[2] = {uint8_t(word & 0x7F), uint8_t(word >> 8)};
      emitRaw(xs.outNow, uint8_t(ST_PROGRAM | oc), program, 2);
      const uint8_t volume[2] = {CC_VOLUME, effectiveVolume(c)};
      emitRaw(xs.outNow, uint8_t(ST_CONTROL | oc), volume, 2);
      // Set up for its owner; without these events the owner's first note sets it up.
      xs.lastUser[oc] = uint8_t(c);
    }
    if (ps.options->panleft) {
      const uint8_t pan[2] = {CC_PAN, 0};
      emitRaw(xs.outNow, uint8_t(ST_CONTROL | oc), pan, 2);
    }
  }
}

// Second chunk for playback: one silent note every sixteenth keeps the sequencer's clock running
// to the true end of the song.
void writeClockTrack(uint32_t songLength) {
  uint8_t* out = ps.out;
  if (uint64_t(writer.pos) + CLOCK_TRACK_MIN_ROOM > ps.cap) return;
  const uint32_t start = writer.pos;
  std::memcpy(out + start, VTRK_ID, 4);
  putBE(out + start + 4, 0, 4);
  writer.pos += CHUNK_HEAD_SIZE;
  const uint32_t step = std::max<uint32_t>(xs.Tout / 4, 1);
  uint32_t last = 0;
  for (uint32_t t = 0; t < songLength; t += step) {
    const uint32_t need = uint32_t(varLenSize(t - last)) + 5;
    if (uint64_t(writer.pos) + need + CLOCK_TRACK_TAIL > ps.cap) break;
    writer.pos += uint32_t(writeVarLen(out + writer.pos, t - last));
    out[writer.pos++] = ST_NOTE;
    out[writer.pos++] = 0;
    out[writer.pos++] = 0;
    writer.pos += uint32_t(putBE(out + writer.pos, std::min(step, MAX_DURATION), 2));
    last = t;
    if (t > 0xFFFFFFFFu - step) break;
  }
  writer.pos += uint32_t(writeVarLen(out + writer.pos, songLength > last ? songLength - last : 0));
  out[writer.pos++] = ST_META;
  out[writer.pos++] = META_END_OF_TRACK;
  out[writer.pos++] = 0;
  putBE(out + start + 4, writer.pos - start - CHUNK_HEAD_SIZE, 4);
}

// Appends the event body once more for the loop check of playback.
uint32_t appendLoop(uint32_t songEnd) {
  const uint32_t bodyStart = writer.trackStart + CHUNK_HEAD_SIZE;
  const uint32_t bodySize = writer.pos - bodyStart;
  const uint64_t needed = uint64_t(writer.pos) + 6 + bodySize + END_OF_TRACK_ROOM;
  if (2 * (uint64_t(bodySize) + 5) >= uint64_t(ps.cap) - 7 || needed > ps.cap) return songEnd;
  const uint32_t lastBefore = ps.lastWritten;
  if (!emitFiller(songEnd)) return songEnd;
  std::memcpy(ps.out + writer.pos, ps.out + bodyStart, bodySize);
  writer.pos += bodySize;
  ps.lastWritten = songEnd + lastBefore;
  return songEnd * 2;
}

}  // namespace

namespace xform {

void endNoteNow(int index) {
  if (index >= 0 && index < xs.noteCount) finishNote(index, xs.outNow, 0);
}

}  // namespace xform

void transformStream(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
                     int32_t* destinationSize, uint32_t capacity) {
  if (destinationSize) *destinationSize = 0;
  if (!destination || capacity < EMPTY_STREAM_SIZE + EVENT_MARGIN) return;

  const SongStats saved = songStats;
  resetSongStats();
  beginStream();
  std::free(ps.scratch);  // left by a run that threw
  ps = Pass{};
  ps.options = &options;
  scratch(EVENT_SCRATCH_SIZE);
  ps.out = destination;
  ps.cap = capacity;
  ps.forPlayback = runState.forPlayback;
  xs.forPlayback = ps.forPlayback;
  xs.noteCount = 0;
  xs.outNow = xs.inNow = 0;
  ps.volumeMode = ps.options->volctlflg     ? VOLUME_FOLLOW
                  : ps.options->voltovelflg ? VOLUME_TO_VELOCITY
                                        : VOLUME_FLAT;

  TrackTable table;
  loadTrackTable(table, source, source ? sourceSize : 0);
  computeDerived(saved, table.timebase);
  writer.timebase = uint16_t(xs.Tout);
  writeHeaderChunk(destination);
  writeTrackChunk(destination);

  if (ps.forPlayback && ps.options->toprest) {
    xs.outNow = xs.T;
    emitFiller(xs.outNow);
  }
  ps.tempoUsec = MICROSECONDS_PER_MINUTE / ps.U;
  const uint8_t tempo[5] = {META_TEMPO, 3, uint8_t(ps.tempoUsec >> 16), uint8_t(ps.tempoUsec >> 8),
                            uint8_t(ps.tempoUsec)};
  if (emitRaw(xs.outNow, ST_META, tempo, 5)) {
    ps.tempoPos = writer.pos - 6;
    ps.tempoTime = xs.outNow;
  }
  if (ps.options->mastervol >= 2 && ps.options->volumePercent != 0) {
    const uint8_t master[3] = {META_MASTER_VOLUME, 1, uint8_t(std::min(ps.options->mastervol, 127))};
    emitRaw(xs.outNow, ST_META, master, 3);
  }

  initChannels(saved);
  writeSetup();

  if (!ps.forPlayback && (ps.options->pmdtopplus || ps.options->allchreset)) {
    if (ps.options->pmdtopplus) {
      const uint8_t note[4] = {TOP_NOTE, TOP_VELOCITY, 0, 1};
      emitRaw(xs.outNow, ST_NOTE, note, 4);
    }
    xs.outNow += convertPlain(ps.options->allchreset ? xs.inTimebase : xs.inTimebase / 4);
    emitFiller(xs.outNow);
  }

  ps.leadingCut = ps.options->restcut && !ps.forPlayback;
  ps.cueControl = ps.options->cuePlay && (saved.cueStartSeen || saved.cueStop != 0);
  ps.suspended = ps.cueControl && saved.cueStartSeen;

  StreamEvent ev;
  while (!ps.full && nextStreamEvent(table, ev)) {
    if (ps.cutMode == CUT_KEEP && ev.time >= ps.cutHi) {
      advanceTo(ps.cutHi);
      break;
    }
    advanceTo(ev.time);
    const uint8_t status = ev.status;
    if (status == ST_META)
      handleMeta(ev);
    else if (status == ST_EXCLUSIVE)
      handleExclusive(ev);
    else if ((status & 0xF0) == ST_NOTE_HIGH)
      handleHighNote(ev);
    else if (status >= ST_NOTE_OFF)
      handleChannelEvent(ev);
    // Fillers and request-only statuses carry nothing to keep.
  }

  // Notes still sounding end where the song leaves them.
  for (int i = xs.noteCount - 1; i >= 0; --i) finishNote(i, outTimeAt(xs.notes[i].inEnd), 1);

  uint32_t end = std::max(xs.outNow, ps.lastWritten);
  if (!ps.forPlayback && ps.options->endrestcut) end = std::max(ps.lastWritten, ps.lastNoteEnd);
  if (ps.forPlayback && ps.options->playbackLoop) end = appendLoop(end);
  if ((ps.forPlayback && ps.options->endrest) || (!ps.forPlayback && ps.options->makeendrest)) {
    const uint32_t rest = end + convertPlain(xs.inTimebase);
    if (emitFiller(rest)) end = rest;
  }
  // The emitter always leaves room for this end of track.
  const uint32_t delta = end > ps.lastWritten ? end - ps.lastWritten : 0;
  writer.pos += uint32_t(writeVarLen(destination + writer.pos, delta));
  destination[writer.pos++] = ST_META;
  destination[writer.pos++] = META_END_OF_TRACK;
  destination[writer.pos++] = 0;
  putBE(destination + writer.trackStart + 4, writer.pos - writer.trackStart - CHUNK_HEAD_SIZE, 4);
  putBE(destination + writer.headerStart + VTHD_TIMEBASE_OFFSET, xs.Tout, 2);

  if (ps.forPlayback) writeClockTrack(end);

  *destinationSize = int32_t(writer.pos);
  const uint16_t melodic = songStats.melodicMask, rhythm = songStats.rhythmMask,
                 bank = songStats.bankMask;
  endStream();
  songStats = saved;
  songStats.melodicMask = melodic;
  songStats.rhythmMask = rhythm;
  songStats.bankMask = bank;
  std::free(ps.scratch);
  ps.scratch = nullptr;
  ps.scratchSize = 0;
}

}  // namespace vlm
