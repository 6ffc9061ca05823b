// SMAF writer for 40-voice handsets: one score track ("MTR" 0x05) of plain MIDI channel messages
// with durations and gate times, the song texts in an "OPDA" / "Dch" chunk. The sequence is
// written straight into the output; notes still sounding when the size limit stops the merge are
// cut in place at the song end. Wave data follow the sequence as Yamaha ADPCM stream waves
// ("Mtsp" with one "Mwa" per wave); their wave notes play on a channel of its own that bank 125
// makes a wave channel.
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/codec.h"
#include "core/conversion_options.h"
#include "core/stages.h"
#include "core/thread_record.h"
#include "core/vstream.h"
#include "formats/adpcm.h"
#include "formats/smaf_format.h"
#include "writers/stream_thinning.h"

namespace vlm {

namespace {

using namespace smaf;

constexpr uint32_t MAX_VARLEN = VARLEN_MAX_BYTES;
constexpr uint32_t END_EVENT_SIZE = sizeof END_OF_TRACK_40;
// The size check of an event keeps this much beyond its own bytes: the end of the sequence (a
// duration of up to 5 bytes and FF 2F 00), the CRC, and 4 bytes of slack.
constexpr uint32_t EVENT_RESERVE = 9;
constexpr uint32_t DURATION_ESTIMATE = 5;
constexpr uint32_t MAX_EVENT_BYTES = 32;

// Controllers passed on as they stand.
constexpr uint8_t PASSED_CONTROLLERS[] = {0, 1, 7, 10, 11, 64, 120, 121, 123, 126, 127};

// Wave notes: bank 125 makes a channel a wave channel; on it note w - 1 plays wave w for waves 1
// to 13, note w + 78 for waves 14 to 32.
constexpr uint8_t CC_BANK_MSB = 0;
constexpr uint8_t BANK_WAVE = 125;
constexpr int WAVE_LOW_LAST = 13, WAVE_HIGH_LAST = 32, WAVE_HIGH_OFFSET = 78;
constexpr int NO_CHANNEL = -1;
constexpr uint32_t STREAM_RATE_MAX = 0xFFFF;  // the "Mwa" rate field is 16 bits
constexpr uint32_t WAVE_BYTES_MAX = 0xFFFFFF;

struct SoundingNote {
  uint32_t gatePos;  // of the gate field in the output
  uint8_t gateWidth;
  uint32_t start, end;
};

struct Smaf40State {
  uint8_t velocity[CHANNELS];
  std::vector<SoundingNote> sounding;
  uint32_t lastTime = 0;
  uint32_t songEnd = 0;
  bool ezweb = false;
  WaveCodings codings;
  std::vector<uint8_t> waves;  // "Mwa" chunks
  int waveChannel = NO_CHANNEL;
  bool waveChannelSet = false;  // its bank select is written
};
// Set to the thread's record on entry (core/thread_record.h says why).
thread_local constinit Smaf40State* state = nullptr;

bool passedController(uint8_t k) {
  return std::find(std::begin(PASSED_CONTROLLERS), std::end(PASSED_CONTROLLERS), k) !=
         std::end(PASSED_CONTROLLERS);
}

// The bytes of one stream event: status and data bytes, several messages joined by zero
// durations for the bend range. `gateAt` receives the offset of a note's gate in `bytes`.
struct Encoded {
  uint8_t bytes[MAX_EVENT_BYTES];
  uint32_t count = 0;
  int gateAt = -1;
  uint8_t gateWidth = 0;
  void add(uint8_t b) { bytes[count++] = b; }
};

// Bytes the output must keep free for the wave chunks after the sequence.
uint32_t waveReserve() {
  return state->waves.empty() ? 0 : uint32_t(HEAD_SIZE + state->waves.size());
}

// A channel that carries no notes, from channel 16 down; NO_CHANNEL when all do.
int freeChannel() {
  const uint16_t used = songStats.melodicMask | songStats.rhythmMask;
  for (int ch = CHANNELS - 1; ch >= 0; --ch)
    if (!(used >> ch & 1)) return ch;
  return NO_CHANNEL;
}

// A wave note on the wave channel: first the bank select that makes it one.
void encodeWaveNote(const StreamEvent& ev, Encoded& e) {
  const uint8_t* d = ev.data;
  const int wave = d[0];
  if (wave < 1 || wave > WAVE_HIGH_LAST) return;
  if (state->waveChannel == NO_CHANNEL) {
    raiseWarning(WARN_TOO_MANY_CHANNELS);
    return;
  }
  const uint8_t ch = uint8_t(state->waveChannel);
  if (!state->waveChannelSet) {
    e.add(uint8_t(ST_CONTROL | ch));
    e.add(CC_BANK_MSB);
    e.add(BANK_WAVE);
    e.add(0);  // duration 0
  }
  const uint8_t note = uint8_t(wave <= WAVE_LOW_LAST ? wave - 1 : wave + WAVE_HIGH_OFFSET);
  const uint8_t velocity = d[1] & 0x7F;
  if (velocity == state->velocity[ch]) {
    e.add(uint8_t(ST_NOTE_OFF | ch));
    e.add(note);
  } else {
    e.add(uint8_t(ST_NOTE | ch));
    e.add(note);
    e.add(velocity);
  }
  e.gateAt = int(e.count);
  e.gateWidth = uint8_t(writeVarLen(e.bytes + e.count, getBE(d + 2, 2)));
  e.count += e.gateWidth;
}

// Wave data become one "Mwa" chunk: Yamaha ADPCM at the wave's own rate (within the 16 bits of
// the rate field), cut to what the capacity leaves beside the song's end.
void storeWave(const StreamEvent& ev, uint32_t pos, uint32_t capacity, uint32_t tail) {
  if (ev.length < 2) return;
  const uint8_t* b = ev.data;
  if (b[1] == WAVE_RATE_NONE) {
    raiseWarning(WARN_NO_SAMPLES);
    return;
  }
  const WaveSource source = state->codings.take(b[0], b[1]);
  if (source.rate == 0) {
    raiseWarning(WARN_NO_SAMPLES);
    return;
  }
  const uint32_t rate =
      source.rate <= STREAM_RATE_MAX ? source.rate : WAVE_RATES[nearestRateCode(source.rate)];
  const uint64_t used = uint64_t(pos) + tail + waveReserve() +
                        (state->waves.empty() ? HEAD_SIZE : 0) + HEAD_SIZE + STREAM_WAVE_HEAD;
  const uint32_t room =
      used < capacity ? uint32_t(std::min<uint64_t>(capacity - used, WAVE_BYTES_MAX)) : 0;
  std::vector<uint8_t> samples =
      transcodeToYamaha(source.coding, b + 2, ev.length - 2, source.rate, rate, WAVE_BYTES_MAX);
  if (samples.size() > room) {
    raiseWarning(WARN_SIZE_LIMIT);
    // Shortened from its end; the ADPCM state runs from the start, so the rest stays right.
    samples.resize(room);
  }
  if (samples.empty()) return;
  const uint8_t head[HEAD_SIZE + STREAM_WAVE_HEAD] = {
      'M', 'w', 'a', b[0], 0, 0, 0, 0, STREAM_WAVE_YAMAHA, uint8_t(rate >> 8), uint8_t(rate)};
  state->waves.insert(state->waves.end(), head, head + sizeof head);
  putBE(state->waves.data() + state->waves.size() - STREAM_WAVE_HEAD - 4,
        uint32_t(STREAM_WAVE_HEAD + samples.size()), 4);
  state->waves.insert(state->waves.end(), samples.begin(), samples.end());
}

void encodeEvent(const StreamEvent& ev, Encoded& e) {
  const uint8_t kind = ev.status & 0xF0;
  const uint8_t ch = ev.status & 0x0F;
  const uint8_t* d = ev.data;
  if (kind == ST_NOTE_HIGH) {
    if (ev.length >= 4) encodeWaveNote(ev, e);
    return;
  }
  if (ev.status == ST_META) {
    if (ev.metaType == META_MASTER_VOLUME && ev.length >= 1) {
      for (uint8_t b : MASTER_VOLUME_HEAD) e.add(b);
      e.add(d[0] & 0x7F);
      e.add(EXCLUSIVE_END);
    }
    return;
  }
  switch (kind) {
    case ST_NOTE: {
      const uint8_t velocity = d[1] & 0x7F;
      if (velocity == state->velocity[ch]) {
        e.add(uint8_t(ST_NOTE_OFF | ch));
        e.add(d[0] & 0x7F);
      } else {
        e.add(uint8_t(ST_NOTE | ch));
        e.add(d[0] & 0x7F);
        e.add(velocity);
        state->velocity[ch] = velocity;
      }
      e.gateAt = int(e.count);
      e.gateWidth = uint8_t(writeVarLen(e.bytes + e.count, getBE(d + 2, 2)));
      e.count += e.gateWidth;
      break;
    }
    case ST_CONTROL:
      if (passedController(d[0])) {
        e.add(uint8_t(ST_CONTROL | ch));
        e.add(d[0]);
        e.add(d[1] & 0x7F);
      } else if (d[0] == CC_BEND_RANGE) {
        // Registered parameter 0 (bend sensitivity) set to the range in semitones.
        const uint8_t msgs[3][2] = {
            {CC_RPN_LSB, 0}, {CC_RPN_MSB, 0}, {CC_DATA_ENTRY, uint8_t(d[1] & 0x7F)}};
        for (int i = 0; i < 3; ++i) {
          if (i) e.add(0);  // duration 0
          e.add(uint8_t(ST_CONTROL | ch));
          e.add(msgs[i][0]);
          e.add(msgs[i][1]);
        }
      }
      break;
    case ST_PROGRAM:
      e.add(uint8_t(ST_PROGRAM | ch));
      e.add(d[0] & 0x7F);
      break;
    case ST_PITCH_BEND:
      e.add(uint8_t(ST_PITCH_BEND | ch));
      e.add(d[0] & 0x7F);
      e.add(d[1] & 0x7F);
      break;
    default:
      break;
  }
}

void dropEndedNotes(uint32_t time) {
  std::erase_if(state->sounding, [time](const SoundingNote& n) { return n.end <= time; });
}

// Cuts a written note at the song end: the gate keeps its width, the new value stands
// right-aligned in it as a variable-length quantity behind 0x80 bytes.
void cutNote(ByteSink& out, const SoundingNote& n) {
  uint32_t gate = state->songEnd > n.start ? state->songEnd - n.start : 0;
  const uint32_t widest = n.gateWidth >= 5 ? 0xFFFFFFFFu : (1u << (7 * n.gateWidth)) - 1;
  gate = std::min(gate, widest);
  uint8_t tmp[MAX_VARLEN];
  const int used = writeVarLen(tmp, gate);
  uint8_t* field = out.out + n.gatePos;
  const int lead = n.gateWidth - used;
  for (int i = 0; i < lead; ++i) field[i] = 0x80;
  for (int i = 0; i < used; ++i) field[lead + i] = tmp[i];
}

uint8_t channelStatus(int i) {
  const uint16_t bit = uint16_t(1u << i);
  uint8_t s = 0;
  if ((songStats.rhythmMask & bit) && !(writer.DRUM_CHANNEL_MASK & bit)) s = STATUS40_RHYTHM;
  if (options.ledLink && options.ledChannel == i + 1) s |= STATUS40_LED;
  if (options.vibrationLink && options.vibrationChannel == i + 1) s |= STATUS40_VIBRATION;
  if ((songStats.melodicMask & bit) && (writer.DRUM_CHANNEL_MASK & bit)) s |= STATUS40_MELODIC;
  return s;
}

size_t textLength(int field) {
  return strnlen(song.info.text[field], INFO_TEXT_SIZE - 1);
}

}  // namespace

// One write of the whole song; writeSmaf40 repeats it on a thinner stream when the limit cut it.
static void writeSmaf40Once(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
                            int32_t* destinationSize, uint32_t capacity) {
  state = &threadRecord<Smaf40State>();
  *destinationSize = 0;
  *state = Smaf40State{};
  state->ezweb = options.preset.ezwebTarget;
  const uint32_t trailer = state->ezweb ? sizeof EZWEB_TRAILER : 0;
  beginStream();
  std::fill(std::begin(state->velocity), std::end(state->velocity), VELOCITY_START_40);
  TrackTable table;
  loadTrackTable(table, source, sourceSize);

  ByteSink out(destination, capacity);
  // What must follow the texts: score track head, its header, "Mtsq" head, the end of the
  // sequence, CRC and trailer.
  const uint32_t tail =
      2 * HEAD_SIZE + 4 + CHANNELS + MAX_VARLEN + END_EVENT_SIZE + CRC_SIZE + trailer;
  const uint32_t fileAt = out.chunk(ID_FILE);
  const uint32_t contentsAt = out.chunk(ID_CONTENTS);
  const uint8_t contents[CONTENTS_FIXED_SIZE] = {CONTENTS_CLASS, CONTENTS_TYPE_40, CONTENTS_CODE_40,
                                                 uint8_t(song.ProtectFlags & COPY_STATUS_MASK), 0};
  out.put(contents, CONTENTS_FIXED_SIZE);
  out.patch(contentsAt);
  const uint32_t optionalAt = out.chunk(ID_OPTIONAL_DATA);
  const uint32_t dataAt = out.chunk(ID_DATA_CHUNK, 0x00);
  if (out.full || !out.room(tail)) {  // not even an empty song fits
    raiseWarning(WARN_SIZE_LIMIT);
    endStream();
    return;
  }
  for (const TextTag& t : TEXT_TAGS) {
    const uint32_t n = uint32_t(textLength(t.field));
    if (n == 0) continue;
    if (!out.room(4 + n + tail)) {  // texts that leave no room for the song are left out
      raiseWarning(WARN_SIZE_LIMIT);
      continue;
    }
    out.put(t.tag, 2);
    out.be(n, 2);
    out.put(song.info.text[t.field], n);
  }
  out.patch(dataAt);
  out.patch(optionalAt);

  const uint8_t tbCode = timebaseCode(table.timebase);
  const uint32_t trackAt = out.chunk(ID_SCORE_TRACK, TRACK_40VOICE);
  const uint8_t trackHead[4] = {FORMAT_MOBILE, SEQUENCE_STREAM, tbCode, tbCode};
  out.put(trackHead, 4);
  for (int i = 0; i < CHANNELS; ++i) out.u8(channelStatus(i));
  const uint32_t sequenceAt = out.chunk(ID_SEQUENCE);
  state->waveChannel = freeChannel();
  // What must follow the last event: its duration, the end of sequence, CRC and trailer.
  const uint32_t endTail = MAX_VARLEN + END_EVENT_SIZE + CRC_SIZE + trailer;

  StreamEvent ev;
  while (nextStreamEvent(table, ev)) {
    if (ev.status == ST_META && ev.metaType == META_WAVE_CODING) {
      state->codings.note(ev.data, ev.length);
      continue;
    }
    if (ev.status == ST_META && ev.metaType == META_WAVE) {
      storeWave(ev, out.pos, capacity, endTail);
      continue;
    }
    Encoded e;
    encodeEvent(ev, e);
    dropEndedNotes(ev.time);
    if (e.count) {
      const uint32_t delta = ev.time - state->lastTime;
      const uint32_t durSize = uint32_t(varLenSize(delta));
      const uint64_t pos = uint64_t(out.pos) + waveReserve();
      const uint64_t need = pos + e.count + DURATION_ESTIMATE + EVENT_RESERVE + trailer;
      const uint64_t exact = pos + durSize + e.count + endTail;
      if (need > capacity || exact > capacity) {
        raiseWarning(WARN_SIZE_LIMIT);
        state->songEnd = ev.time;
        break;
      }
      uint8_t dur[MAX_VARLEN];
      out.put(dur, uint32_t(writeVarLen(dur, delta)));
      if (e.gateAt >= 0) {
        SoundingNote n{out.pos + uint32_t(e.gateAt), e.gateWidth, ev.time,
                       ev.time + getBE(ev.data + 2, 2)};
        state->sounding.push_back(n);
      }
      out.put(e.bytes, e.count);
      state->lastTime = ev.time;
      if ((ev.status & 0xF0) == ST_NOTE_HIGH) {
        state->waveChannelSet = true;
        state->velocity[state->waveChannel] = ev.data[1] & 0x7F;
      }
    }
    state->songEnd = ev.time;
  }
  for (const SoundingNote& n : state->sounding) cutNote(out, n);

  uint8_t dur[MAX_VARLEN];
  out.put(dur, uint32_t(writeVarLen(dur, state->songEnd - state->lastTime)));
  out.put(END_OF_TRACK_40, END_EVENT_SIZE);
  out.patch(sequenceAt);
  if (!state->waves.empty()) {
    const uint32_t wavesAt = out.chunk(ID_STREAM_WAVES);
    out.put(state->waves.data(), uint32_t(state->waves.size()));
    out.patch(wavesAt);
  }
  out.patch(trackAt);
  *destinationSize = out.closeFile(fileAt, state->ezweb);
  endStream();
  *state = Smaf40State{};
}

void writeSmaf40(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
                 int32_t* destinationSize, uint32_t capacity) {
  writeWithinLimit(writeSmaf40Once, source, sourceSize, destination, destinationSize, capacity);
}

}  // namespace vlm
