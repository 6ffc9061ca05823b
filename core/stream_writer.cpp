// The stream writer: chunk heads, event encoding, per-channel state and the song statistics
// gathered from every written event; and the reading side, the one merge cursor over the chunks
// of a VStream that every consumer uses.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "core/codec.h"
#include "core/conversion_options.h"
#include "core/note_tables.h"
#include "core/vstream.h"

namespace vlm {

thread_local constinit VStreamWriter writer{};
thread_local SongStats songStats;
thread_local constinit SongRecord song{};
thread_local constinit OpenNoteIndex openIndex{};

namespace {

// Room kept behind every event for the end of track (delta of up to 5 bytes and FF 2F 00).
constexpr uint32_t END_OF_TRACK_ROOM = 8;
constexpr uint32_t EVENT_MARGIN = 12;  // pos + count + 12 must fit into the capacity
constexpr uint8_t YAMAHA_SLASH_LYRICS[5] = {0x43, 0x7B, 0x00, 0x58, 0x46};
constexpr uint32_t NO_CAPACITY = 0;
constexpr size_t PLAIN_EVENT_BYTES = 4;  // scratch bytes a plain channel event may write

// Private state of the emitter beside the public writer record.
// Trivially destructible, so that the records of this source need no TLS wrapper; the scratch
// block stays with the thread from one stream to the next (a conversion begins three streams)
// and is freed when the thread ends.
struct EmitterState {
  uint8_t* scratch = nullptr;       // backing store of writer.scratch
  size_t scratchSize = 0;           // bytes in use, zero-filled when they were added
  size_t scratchCapacity = 0;       // bytes allocated
  size_t dirtyBytes = 0;            // leading bytes that may be non-zero since the stream began
  uint32_t capacity = NO_CAPACITY;  // last capacity given to emitEvent (0 = not known yet)
  bool chunkRefused = false;        // the current track head did not fit: nothing more is written
  bool waveWritten = false;         // a wave event was written since the stream began
  // The options record, looked up once per stream: it has strings, so every direct use of the
  // thread-local goes through its guarded initialiser.
  const ConversionOptions* options = nullptr;
};
thread_local constinit EmitterState emitter{};

// Frees the thread's scratch block when the thread ends. Only beginStream touches it, so the
// guarded access of a record with a destructor stays out of the per-event paths.
struct ScratchOwner {
  bool registered = false;
  ~ScratchOwner() {
    std::free(emitter.scratch);
    emitter.scratch = nullptr;
    emitter.scratchSize = emitter.scratchCapacity = emitter.dirtyBytes = 0;
  }
};
thread_local ScratchOwner scratchOwner;

// Sets the scratch size; bytes added are zero, as a vector's resize leaves them.
void resizeScratch(size_t size) {
  if (size > emitter.scratchCapacity) {
    void* grown = std::realloc(emitter.scratch, size);
    if (!grown) throw std::bad_alloc();
    emitter.scratch = static_cast<uint8_t*>(grown);
    emitter.scratchCapacity = size;
  }
  if (size > emitter.scratchSize)
    std::memset(emitter.scratch + emitter.scratchSize, 0, size - emitter.scratchSize);
  emitter.scratchSize = size;
}

inline uint16_t channelBit(int channel) {
  return uint16_t(1u << (channel & 15));
}

inline bool inPlayRange(uint32_t time) {
  return rangeOverlap(time, time + 1) > 0;
}

void putId(uint8_t* out, const uint8_t id[4]) {
  std::memcpy(out, id, 4);
}

// Appends a lyric text at a sixteenth position; entries stay sorted, one per position.
void addLyric(uint32_t position, const uint8_t* text, uint32_t length, bool newLine) {
  SongStats& stats = songStats;  // one TLS look-up for the whole function
  if (position >= uint32_t(STATS_POSITIONS)) return;
  auto& lyrics = stats.lyrics;
  auto it = std::lower_bound(lyrics.begin(), lyrics.end(), position,
                             [](const LyricEntry& e, uint32_t p) { return e.position < p; });
  if (it == lyrics.end() || it->position != position)
    it = lyrics.insert(it, LyricEntry{uint16_t(position), std::string()});
  std::string& entry = it->text;
  if (newLine && entry.size() < size_t(LYRIC_ENTRY_CHARS)) entry.push_back('\n');
  for (uint32_t i = 0; i < length; ++i) {
    uint32_t unit = isSjisLead(text[i]) && i + 1 < length ? 2 : 1;
    if (entry.size() + unit > size_t(LYRIC_ENTRY_CHARS)) break;  // never split a double byte
    entry.append(reinterpret_cast<const char*>(text + i), unit);
    i += unit - 1;
  }
}

// Karaoke texts mark a paragraph with '\\' and a line with '/' in front of a syllable; XF lyrics
// also start a line with '<'.
bool startsKaraokeLine(uint8_t c, bool slashLyrics) {
  return c == '/' || c == '\\' || (slashLyrics && c == '<');
}

// A lyric for the karaoke display: its line mark becomes a new line and is not shown. Header
// lines of karaoke text ("@T title", "@L language", ...) are not lyrics.
void showLyric(uint32_t time, const uint8_t* text, uint32_t length, bool karaokeText) {
  if (karaokeText && length > 0 && text[0] == '@') return;
  bool newLine = false;
  if (length > 0 && startsKaraokeLine(text[0], songStats.slashLyrics)) {
    newLine = true;
    ++text;
    --length;
  }
  addLyric(sixteenthOf(time), text, length, newLine);
}

void noteLyricText(uint32_t time, uint8_t* data, const uint8_t* text, uint32_t length,
                   bool karaokeText) {
  SongStats& stats = songStats;  // one TLS look-up for the whole function
  data[0] = META_LYRIC;
  if (length == 1 && text[0] == '/') {
    stats.slashLyrics = true;
    return;
  }
  showLyric(time, text, length, karaokeText);
}

void noteMetaEvent(uint32_t time) {
  SongStats& stats = songStats;  // one TLS look-up for the whole function
  uint8_t* data = writer.data;
  const uint32_t count = writer.count;
  if (count < 1) return;
  const uint8_t type = data[0];
  if (type == META_WAVE) emitter.waveWritten = true;
  uint32_t lengthBytes = 0;
  uint32_t length = readVarLen(data + 1, count - 1, &lengthBytes);
  const uint32_t bodyStart = 1 + lengthBytes;
  if (bodyStart > count) return;
  length = std::min(length, count - bodyStart);
  const uint8_t* body = data + bodyStart;

  switch (type) {
    case META_TEMPO:
      if (length >= 3) {
        uint32_t usec = getBE(body, 3);
        if (usec > 0) {
          uint32_t bpm = tempoBpm(usec);
          if (stats.tempoMin == 0 || bpm < stats.tempoMin) stats.tempoMin = bpm;
          if (bpm > stats.tempoMax) stats.tempoMax = bpm;
        }
      }
      break;
    case META_LYRIC:
      noteLyricText(time, data, body, length, false);
      break;
    case META_TEXT:
      if (stats.karaokeText) {
        noteLyricText(time, data, body, length, true);
      } else if (length >= 6 && std::memcmp(body, "@KMIDI", 6) == 0) {
        stats.karaokeText = true;
      } else if (stats.karaokeLines || (length > 0 && (body[0] == '/' || body[0] == '\\'))) {
        // Karaoke text without the "@KMIDI" mark: shown as lyrics, but the event stays text.
        stats.karaokeLines = true;
        showLyric(time, body, length, true);
      }
      break;
    case META_SEQUENCER:
      if (length >= 5 && std::memcmp(body, YAMAHA_SLASH_LYRICS, 5) == 0) stats.slashLyrics = true;
      break;
    case META_MASTER_VOLUME:
      if (length >= 1) {
        uint8_t v = body[0];
        if (!stats.masterVolumeSeen || v < stats.masterVolumeMin) stats.masterVolumeMin = v;
        if (!stats.masterVolumeSeen || v > stats.masterVolumeMax) stats.masterVolumeMax = v;
        stats.masterVolumeSeen = true;
      }
      break;
    case META_CUE:
      if (length >= 1) {
        if (body[0] == 0 && !stats.cueStartSeen) {
          stats.cueStart = sixteenthOf(time);
          stats.cueStartSeen = true;
        } else if (body[0] == 1) {
          stats.cueStop = sixteenthOf(time) + 1;
        }
      }
      break;
    case META_WAVE:
      if (length >= 3 && body[1] != WAVE_RATE_NONE) stats.hasVoiceSamples = true;
      break;
    default:
      break;
  }
}

void noteControl(uint8_t c) {
  SongStats& stats = songStats;  // one TLS look-up for the whole function
  ChannelState& cs = writer.ch[c];
  uint8_t* data = writer.data;
  if (writer.count < 2) return;
  const uint8_t controller = data[0];
  const uint8_t value = data[1];
  if (controller < 0x80) {
    cs.controller[controller] = value;
    if (cs.sounding == 0) cs.controllerPos[controller] = writer.pos;
    if (controller == CC_VOLUME || controller == CC_EXPRESSION) {
      uint8_t volume = uint8_t(cs.controller[CC_VOLUME] * cs.controller[CC_EXPRESSION] / 127);
      data[0] = CC_VOLUME;
      data[1] = volume;
      ChannelStats& st = stats.ch[c];
      st.lowVolume = std::min(st.lowVolume, volume);
      st.highVolume = std::max(st.highVolume, volume);
    } else if (controller == CC_NRPN_LSB || controller == CC_NRPN_MSB) {
      cs.rpn = RPN_NONE;
    } else if (controller == CC_RPN_LSB) {
      cs.rpn = uint16_t((cs.rpn & 0xFF00) | value);
    } else if (controller == CC_RPN_MSB) {
      cs.rpn = uint16_t((cs.rpn & 0x00FF) | (value << 8));
    }
  } else if (controller == CC_RHYTHM_PART) {
    if (value)
      writer.DRUM_CHANNEL_MASK |= channelBit(c);
    else
      writer.DRUM_CHANNEL_MASK &= uint16_t(~channelBit(c));
  } else if (controller == CC_BEND_RANGE) {
    cs.bendRange = value;
    cs.bendRangePos = writer.pos;
  }
}

// The positions recorded while the channel was silent no longer stand before its first note.
void forgetSilentPositions(ChannelState& cs) {
  cs.controllerPos[CC_MODULATION] = 0;
  cs.controllerPos[CC_VOLUME] = 0;
  cs.controllerPos[CC_PAN] = 0;
  cs.controllerPos[CC_EXPRESSION] = 0;
  cs.controllerPos[CC_HOLD] = 0;
  cs.bendRangePos = 0;
  cs.bendPos = 0;
  cs.programPos = 0;
}

void noteNoteStart(uint8_t c, uint32_t time) {
  SongStats& stats = songStats;  // one TLS look-up for the whole function
  ChannelState& cs = writer.ch[c];
  forgetSilentPositions(cs);
  if (writer.count < 4 || !inPlayRange(time)) return;

  const uint8_t note = writer.data[0] & 0x7F;
  const uint8_t velocity = writer.data[1];
  const uint32_t duration = getBE(writer.data + 2, 2);
  ChannelStats& st = stats.ch[c];
  if (st.notes == 0) {
    st.lowNote = st.highNote = note;
  } else {
    st.lowNote = std::min(st.lowNote, note);
    st.highNote = std::max(st.highNote, note);
  }
  ++st.notes;
  if (velocity) {
    st.lowVelocity = std::min(st.lowVelocity, velocity);
    st.highVelocity = std::max(st.highVelocity, velocity);
    stats.lowVelocity = std::min(stats.lowVelocity, velocity);
    stats.highVelocity = std::max(stats.highVelocity, velocity);
  }
  st.maxSounding = std::max(st.maxSounding, cs.sounding);
  stats.sounding = uint8_t(std::min(openIndex.sounding, 255));
  stats.maxPolyphony = std::max(stats.maxPolyphony, stats.sounding);

  const uint32_t sixteenth = sixteenthOf(time);
  if (st.firstNotePos == 0) st.firstNotePos = sixteenth + 1;
  st.lastNotePos = std::max(st.lastNotePos, sixteenthOf(time + duration) + 1);
  const uint32_t beat = sixteenth / 4;
  if (beat < uint32_t(STATS_POSITIONS)) stats.beatChannels[beat] |= channelBit(c);

  if (writer.DRUM_CHANNEL_MASK & channelBit(c)) {
    stats.rhythmMask |= channelBit(c);
    if (!testBit(stats.rhythmNoteSet, note)) {
      setBit(stats.rhythmNoteSet, note, true);
      ++stats.rhythmNoteCount;
    }
    if (stats.rhythmNoteHits[note] < 0xFFFF) ++stats.rhythmNoteHits[note];
    int slot = -1;
    for (int i = 0; i < stats.rhythmSlotCount; ++i)
      if (stats.rhythmSlotNote[i] == note) slot = i;
    if (slot < 0 && stats.rhythmSlotCount < RHYTHM_SLOTS) {
      slot = stats.rhythmSlotCount++;
      stats.rhythmSlotNote[slot] = note;
    }
    if (slot >= 0 && beat < uint32_t(STATS_POSITIONS))
      stats.beatRhythm[beat] |= uint8_t(1u << slot);
  } else {
    stats.melodicMask |= channelBit(c);
    if ((cs.program >> 8 & 0x1F) == 0x1B) stats.bankMask |= channelBit(c);
    const uint8_t program = cs.program & 0x7F;
    if (!testBit(stats.programSet, program)) {
      setBit(stats.programSet, program, true);
      ++stats.programCount;
    }
    if (st.programUse == PROGRAM_NONE) {
      st.programUse = PROGRAM_SINGLE;
      st.program = cs.program;
    } else if (st.program != cs.program) {
      st.programUse = PROGRAM_MIXED;
    }
  }
}

}  // namespace

// ---- Note tables ---------------------------------------------------------------------------

int insertOpenNote(const OpenNote& note) {
  if (writer.openCount >= MAX_NOTES) return -1;
  int i = writer.openCount;
  while (i > 0 && writer.open[i - 1].start > note.start) --i;
  if (i < writer.openCount)
    std::memmove(&writer.open[i + 1], &writer.open[i], sizeof(OpenNote) * (writer.openCount - i));
  writer.open[i] = note;
  ++writer.openCount;
  ++openIndex.count[note.channel & 15][note.note & 0x7F];
  if (note.channel < CHANNELS) {
    countSounding(note.channel);
    ++openIndex.onChannel[note.channel];
    openIndex.channelMask |= channelBit(note.channel);
  }
  return i;
}

int insertTimedNote(const TimedNote& note) {
  if (writer.timedCount >= MAX_NOTES) return -1;
  int i = writer.timedCount;
  while (i > 0 && writer.timed[i - 1].end > note.end) --i;
  if (i < writer.timedCount)
    std::memmove(&writer.timed[i + 1], &writer.timed[i],
                 sizeof(TimedNote) * (writer.timedCount - i));
  writer.timed[i] = note;
  ++writer.timedCount;
  if (note.channel < CHANNELS) countSounding(note.channel);
  return i;
}

void removeOpenNotes(int index, int n) {
  if (index < 0 || n <= 0 || index + n > writer.openCount) return;
  for (int i = index; i < index + n; ++i) {
    const uint8_t c = writer.open[i].channel;
    uint8_t& keyed = openIndex.count[c & 15][writer.open[i].note & 0x7F];
    if (keyed) --keyed;
    if (c < CHANNELS) {
      uncountSounding(c);
      if (openIndex.onChannel[c] && --openIndex.onChannel[c] == 0)
        openIndex.channelMask &= uint16_t(~channelBit(c));
    }
  }
  if (index + n < writer.openCount)
    std::memmove(&writer.open[index], &writer.open[index + n],
                 sizeof(OpenNote) * (writer.openCount - index - n));
  writer.openCount -= n;
}

void renumberOpenNote(OpenNote& note, uint8_t number) {
  uint8_t& keyed = openIndex.count[note.channel & 15][note.note & 0x7F];
  if (keyed) --keyed;
  note.note = number;
  ++openIndex.count[note.channel & 15][number & 0x7F];
}

void removeTimedNotes(int index, int n) {
  if (index < 0 || n <= 0 || index + n > writer.timedCount) return;
  for (int i = index; i < index + n; ++i) {
    uint8_t c = writer.timed[i].channel;
    if (c < CHANNELS) uncountSounding(c);
  }
  std::memmove(&writer.timed[index], &writer.timed[index + n],
               sizeof(TimedNote) * (writer.timedCount - index - n));
  writer.timedCount -= n;
}

void noteEndStats(uint8_t channel, uint32_t time) {
  SongStats& stats = songStats;  // one TLS look-up for the whole function
  if (channel >= CHANNELS || !inPlayRange(time)) return;
  ChannelStats& st = stats.ch[channel];
  st.lastNotePos = std::max(st.lastNotePos, sixteenthOf(time) + 1);
}

void patchDuration(uint8_t* out, uint32_t statusPos, uint32_t duration) {
  const uint32_t d = std::min(duration, MAX_DURATION);
  out[statusPos + 3] = uint8_t(d >> 8);
  out[statusPos + 4] = uint8_t(d);
}

// ---- Song texts ----------------------------------------------------------------------------

void clearSongInfo() {
  std::memset(&song.info, 0, sizeof(song.info));
  song.ProtectFlags = 0;
}

void setSongText(int field, const char* bytes, size_t length) {
  if (field < 0 || field >= INFO_FIELDS) return;
  char* text = song.info.text[field];
  size_t n = bytes ? std::min(length, size_t(INFO_TEXT_SIZE - 1)) : 0;
  if (n) std::memcpy(text, bytes, n);
  text[n] = 0;
  song.info.code[field] = TEXT_SHIFT_JIS;  // a new text has no other original
}

// ---- Stream writer -------------------------------------------------------------------------

uint32_t sixteenthOf(uint32_t time) {
  if (writer.timebase == 0) return 0;
  return uint32_t(uint64_t(time) * 4 / writer.timebase);
}

void resetSongStats() {
  SongStats& stats = songStats;  // one TLS look-up for the whole function
  stats = SongStats{};
  stats.lowVelocity = 0xFF;
  for (ChannelStats& st : stats.ch) {
    st.lowVelocity = 0xFF;
    st.lowVolume = 0xFF;
  }
}

void beginStream() {
  writer.pos = 0;
  writer.headerStart = 0;
  writer.trackStart = 0;
  writer.now = 0;
  std::fill(std::begin(writer.lastTime), std::end(writer.lastTime), 0u);
  writer.outTrack = 0;
  writer.timebase = 120;
  writer.tempoBpm = 120;
  writer.status = 0;
  writer.channel = 0;
  writer.sourceTrack = 0;
  writer.count = 0;
  writer.resubmit = false;
  writer.DRUM_CHANNEL_MASK = RESET_DRUM_CHANNEL_MASK;
  for (int c = 0; c < CHANNELS; ++c) {
    ChannelState& cs = writer.ch[c];
    cs = ChannelState{};
    cs.controller[CC_VOLUME] = 100;
    cs.controller[CC_PAN] = 64;
    cs.controller[CC_EXPRESSION] = 127;
    cs.bendRange = 2;
    cs.bend = BEND_CENTRE;
    cs.rpn = RPN_NONE;
    cs.map = uint8_t(c);
  }
  writer.openCount = 0;
  openIndex = OpenNoteIndex{};
  writer.timedCount = 0;
  writer.mergeRhythmRepeats = false;

  // Every byte is zero again, as in a new block: only the bytes the last streams may have
  // written are cleared.
  scratchOwner.registered = true;
  if (emitter.scratchCapacity >= EVENT_SCRATCH_SIZE) {
    std::memset(emitter.scratch, 0, std::min(emitter.dirtyBytes, emitter.scratchSize));
    emitter.scratchSize = EVENT_SCRATCH_SIZE;
  } else {
    emitter.scratchSize = 0;
    resizeScratch(EVENT_SCRATCH_SIZE);
  }
  emitter.dirtyBytes = PLAIN_EVENT_BYTES;  // the plain path writes these without a mark
  emitter.capacity = NO_CAPACITY;
  emitter.chunkRefused = false;
  emitter.waveWritten = false;
  emitter.options = &options;
  writer.scratch.handle = nullptr;  // owned by the emitter's vector, not by the allocator
  writer.scratch.data = emitter.scratch;
  writer.scratch.length = int32_t(EVENT_SCRATCH_SIZE);
  writer.data = writer.scratch.data;
}

bool beginReaderStream(uint8_t* destination, uint32_t capacity, uint32_t minCapacity,
                       uint16_t timebase) {
  if (destination == nullptr || capacity < minCapacity) return false;
  clearSongInfo();
  resetSongStats();
  beginStream();
  writer.timebase = timebase;
  writeHeaderChunk(destination);
  return true;
}

void endReaderStream(uint8_t* destination, int32_t* destinationSize) {
  finishStream(destination);
  *destinationSize = int32_t(writer.pos);
  endStream();
}

void endChunkedReaderStream(uint8_t* destination, int32_t* destinationSize, bool chunkWritten) {
  if (!chunkWritten) {
    writer.outTrack = 0;
    writer.now = 0;
    writeTrackChunk(destination);
    finishStream(destination);
  }
  *destinationSize = int32_t(writer.pos);
  endStream();
}

void writeHeaderChunk(uint8_t* out) {
  writer.headerStart = writer.pos;
  uint8_t* p = out + writer.pos;
  putId(p, VTHD_ID);
  putBE(p + 4, VTHD_DATA_LENGTH, 4);
  putBE(p + 8, 0, 2);
  writer.pos += CHUNK_HEAD_SIZE + VTHD_DATA_LENGTH;
}

void writeTrackChunk(uint8_t* out) {
  // Once the buffer is known, a track head that leaves no room for its end is not begun.
  if (emitter.capacity != NO_CAPACITY &&
      uint64_t(writer.pos) + CHUNK_HEAD_SIZE + END_OF_TRACK_ROOM > emitter.capacity) {
    emitter.chunkRefused = true;
    return;
  }
  emitter.chunkRefused = false;
  writer.trackStart = writer.pos;
  uint8_t* p = out + writer.pos;
  putId(p, VTRK_ID);
  putBE(p + 4, 0, 4);
  writer.pos += CHUNK_HEAD_SIZE;
}

int emitEvent(uint8_t* out, uint32_t capacity, uint32_t time) {
  writer.now = time;
  emitter.capacity = capacity;
  if (writer.count == 0) return 1;
  if (emitter.chunkRefused) return 0;
  uint32_t& last = writer.lastTime[writer.outTrack & (MAX_TRACKS - 1)];
  const uint32_t delta = time >= last ? time - last : 0;  // requests come in time order
  const uint32_t deltaBytes = uint32_t(varLenSize(delta));
  // The end of track must still fit behind the event, whatever its delta.
  const uint64_t needed = uint64_t(writer.pos) + writer.count +
                          std::max(EVENT_MARGIN, deltaBytes + 1 + END_OF_TRACK_ROOM);
  if (needed > capacity) return 0;

  writer.pos += uint32_t(writeVarLen(out + writer.pos, delta));
  last = std::max(last, time);

  uint8_t status = writer.status;
  const uint8_t kind = status & 0xF0;
  const uint32_t statusPos = writer.pos;
  if ((kind == ST_TIMED_NOTE || kind == ST_NOTE_HIGH || kind == ST_NOTE) && writer.count >= 4) {
    const uint32_t duration = getBE(writer.data + 2, 2);
    if (kind == ST_TIMED_NOTE) status = uint8_t(ST_NOTE | (status & 0x0F));
    if (kind == ST_NOTE) {
      insertOpenNote(OpenNote{writer.data[0], writer.sourceTrack, writer.channel, statusPos, time});
    } else {
      insertTimedNote(TimedNote{writer.data[0], writer.sourceTrack, writer.channel, statusPos, time,
                                time + duration});
    }
  }
  noteSongEvent(time, status);
  out[writer.pos++] = status;
  copyEventBytes(out + writer.pos, writer.data, writer.count);
  writer.pos += writer.count;
  return 1;
}

void noteSongEvent(uint32_t time, uint8_t status) {
  SongStats& stats = songStats;  // one TLS look-up for the whole function
  const uint8_t kind = status & 0xF0;
  const uint8_t c = status & 0x0F;
  ChannelState& cs = writer.ch[c];
  switch (kind) {
    case ST_CONTROL:
      noteControl(c);
      break;
    case ST_PROGRAM:
      if (writer.count >= 1) {
        cs.program =
            uint16_t((writer.data[0] & 0x7F) | (writer.count >= 2 ? writer.data[1] << 8 : 0));
        if (cs.sounding == 0) cs.programPos = writer.pos;
      }
      break;
    case ST_PITCH_BEND:
      if (writer.count >= 2) {
        cs.bend = uint16_t(writer.data[0] | writer.data[1] << 8);
        if (cs.sounding == 0) cs.bendPos = writer.pos;
      }
      break;
    case ST_NOTE_HIGH:
      if (writer.count >= 1 && writer.data[0] < 32) {
        uint32_t s = sixteenthOf(time);
        if (s < uint32_t(STATS_POSITIONS)) stats.marker[s] = writer.data[0];
      }
      break;
    case ST_NOTE_OFF:
      noteEndStats(c, time);
      break;
    case ST_NOTE:
      noteNoteStart(c, time);
      break;
    case 0xF0:
      if (status == ST_META) noteMetaEvent(time);
      break;
    default:
      break;
  }
}

void noteStreamState(uint32_t time, uint8_t status) {
  const uint8_t c = status & 0x0F;
  switch (status & 0xF0) {
    case ST_NOTE: {
      ChannelState& cs = writer.ch[c];
      forgetSilentPositions(cs);
      if (writer.count < 4 || !inPlayRange(time)) return;
      SongStats& stats = songStats;
      const uint16_t bit = channelBit(c);
      if (writer.DRUM_CHANNEL_MASK & bit) {
        stats.rhythmMask |= bit;
      } else {
        stats.melodicMask |= bit;
        if ((cs.program >> 8 & 0x1F) == 0x1B) stats.bankMask |= bit;
      }
      return;
    }
    case ST_NOTE_HIGH:
    case ST_NOTE_OFF:
      return;  // markers and note ends only feed statistics
    default:
      noteSongEvent(time, status);
  }
}

void finishStream(uint8_t* out) {
  const uint32_t now = writer.now;
  for (int i = 0; i < writer.openCount; ++i) {
    const OpenNote& n = writer.open[i];
    patchDuration(out, n.position, now >= n.start ? now - n.start : 0);
    noteEndStats(n.channel, now);
  }
  removeOpenNotes(0, writer.openCount);
  removeTimedNotes(0, writer.timedCount);

  if (!emitter.chunkRefused) {
    uint32_t& last = writer.lastTime[writer.outTrack & (MAX_TRACKS - 1)];
    const uint32_t delta = now >= last ? now - last : 0;
    writer.pos += uint32_t(writeVarLen(out + writer.pos, delta));
    last = std::max(last, now);
    out[writer.pos++] = ST_META;
    out[writer.pos++] = META_END_OF_TRACK;
    out[writer.pos++] = 0;
    putBE(out + writer.trackStart + 4, writer.pos - writer.trackStart - CHUNK_HEAD_SIZE, 4);
  }
  putBE(out + writer.headerStart + VTHD_TIMEBASE_OFFSET, writer.timebase, 2);
}

bool waveEventWritten() {
  return emitter.waveWritten;
}

void markScratchWritten(size_t bytes) {
  emitter.dirtyBytes = std::max(emitter.dirtyBytes, std::min(bytes, emitter.scratchSize));
}

void endStream() {
  writer.scratch = MemBlock{};
  writer.data = nullptr;
  writer.count = 0;
}

namespace {

inline bool isRhythmChannel(uint8_t channel) {
  return writer.DRUM_CHANNEL_MASK >> channel & 1;
}

// The first open note of a note number, source track and channel (the earliest started); -1 when
// none is open.
inline int findOpenNote(uint8_t note, uint8_t track, uint8_t channel) {
  if (!mayBeOpen(channel, note)) return -1;
  const OpenNote* open = writer.open;
  for (int i = 0, n = writer.openCount; i < n; ++i)
    if (open[i].note == note && open[i].track == track && open[i].channel == channel) return i;
  return -1;
}

// The note-on and note-off matching of putEvent for a channel-0..15 note request: the open note
// of that pitch ends now (a rhythm note lasts at least a tick), a note-off or a note that finds
// the table full writes nothing. Returns the count of bytes left to write.
inline uint32_t matchNote(uint8_t* out, uint8_t c, uint8_t track, uint8_t note, uint32_t now,
                          bool noteOff) {
  const int i = findOpenNote(note, track, c);
  if (i >= 0) {
    const OpenNote& n = writer.open[i];
    const uint32_t least = isRhythmChannel(c) ? 1 : 0;
    patchDuration(out, n.position, std::max(now >= n.start ? now - n.start : 0, least));
    noteEndStats(c, now);
    removeOpenNote(i);
  } else if (!noteOff && writer.openCount >= MAX_NOTES) {
    return 0;
  }
  return noteOff ? 0 : 4;
}


}  // namespace

namespace {

// The general path can always take the place of the plain one.
inline bool plainPathOpen() {
  // A stream has begun (so the options pointer is set) when the scratch block is in place.
  return emitter.scratchSize >= EVENT_SCRATCH_SIZE && !emitter.chunkRefused &&
         !emitter.options->bendsepflg;
}

// Whether a request is a plain channel event that no request step turns into others: a note-off
// or note-on pair, a controller other than the frequency requests, a program or a bend, of the
// size the stream keeps, while bends are not taken as transposition. A track head that did not
// fit also takes the general path, which reports it.
inline bool isPlainChannelRequest(uint8_t status, const uint8_t* data, uint32_t count) {
  if (!data || !plainPathOpen()) return false;
  switch (status & 0xF0) {
    case ST_NOTE_OFF:
      return count <= 4;  // only its note is read
    case ST_NOTE:
      return count == 0 || count == 4;
    case ST_CONTROL:
      return count == 2 && data[0] != CC_FREQ_LOW && data[0] != CC_FREQ_HIGH;
    case ST_PROGRAM:
    case ST_PITCH_BEND:
      return count == 2;
    default:
      return false;
  }
}

// putEvent for a plain channel request whose bytes are in the scratch block: note matching, the
// housekeeping before every event, and the event itself.
inline int putPlainChannelEvent(uint8_t* out, uint32_t capacity, uint32_t time, uint8_t status,
                                uint8_t sourceTrack, uint32_t count) {
  const uint8_t kind = status & 0xF0;
  const uint8_t c = status & 0x0F;
  uint8_t* data = emitter.scratch;
  writer.status = status;
  writer.channel = c;
  writer.sourceTrack = sourceTrack;
  writer.data = data;
  writer.resubmit = false;
  writer.now = time;
  if (kind == ST_NOTE_OFF || kind == ST_NOTE) {
    const bool noteOff = kind == ST_NOTE_OFF || count == 0 || data[1] == 0;
    count = matchNote(out, c, sourceTrack, data[0], time, noteOff);
  }
  writer.count = count;
  endExpiredNotes(out, time);
  return emitEvent(out, capacity, time);
}

}  // namespace

int submitChannelEvent(uint8_t* out, uint32_t capacity, uint32_t time, uint8_t status,
                       uint8_t sourceTrack, uint8_t a, uint8_t b) {
  const uint8_t kind = status & 0xF0;
  const bool plainKind = kind == ST_NOTE_OFF || kind == ST_NOTE || kind == ST_CONTROL ||
                         kind == ST_PROGRAM || kind == ST_PITCH_BEND;
  // Any other status is the general path's, with the size the stream keeps for it.
  const uint32_t count = kind == ST_NOTE_OFF ? 0
                         : kind == ST_NOTE   ? (b ? 4 : 0)
                         : plainKind         ? 2
                                             : std::min<uint32_t>(eventDataSize(status), 2);
  if (!plainKind || !plainPathOpen() ||
      (kind == ST_CONTROL && (a == CC_FREQ_LOW || a == CC_FREQ_HIGH))) {
    const uint8_t data[4] = {a, b, 0, 0};
    return submitEvent(out, capacity, time, status, sourceTrack, data, count);
  }
  uint8_t* data = emitter.scratch;
  data[0] = a;
  if (count) {
    data[1] = b;
    if (count == 4) data[2] = data[3] = 0;
  }
  return putPlainChannelEvent(out, capacity, time, status, sourceTrack, count);
}

int submitEvent(uint8_t* out, uint32_t capacity, uint32_t time, uint8_t status, uint8_t sourceTrack,
                const uint8_t* data, uint32_t count) {
  if (isPlainChannelRequest(status, data, count)) {
    copyEventBytes(emitter.scratch, data, count ? count : 1);
    return putPlainChannelEvent(out, capacity, time, status, sourceTrack, count);
  }
  if (emitter.scratchSize < std::max<size_t>(count, EVENT_SCRATCH_SIZE)) {
    resizeScratch(std::max<size_t>(count, EVENT_SCRATCH_SIZE));
    writer.scratch.data = emitter.scratch;
    writer.scratch.length = int32_t(emitter.scratchSize);
  }
  // Generated events can take the place of a request; a bound keeps a faulty chain finite.
  constexpr int MAX_SUBMISSIONS = 64;
  for (int i = 0; i < MAX_SUBMISSIONS; ++i) {
    writer.status = status;
    writer.channel = status < ST_EXCLUSIVE
                         ? uint8_t((status & 0x0F) + ((status & 0xF0) == ST_NOTE_HIGH ? 16 : 0))
                         : 0;
    writer.sourceTrack = sourceTrack;
    writer.data = emitter.scratch;
    // A note-off has count 0 and still names its note in the first byte.
    if (data) copyEventBytes(writer.data, data, count ? count : 1);
    writer.count = count;
    writer.resubmit = false;
    if (!putEvent(out, capacity, time)) return 0;
    if (!writer.resubmit) return 1;
  }
  writer.resubmit = false;
  return 1;
}

// ---- Reading side --------------------------------------------------------------------------

namespace {

// Reads the delta that precedes a track's next event; ends the track when there is none.
inline void readNextDelta(TrackTable& table, TrackCursor& t) {
  if (t.pos >= t.end) {
    t.ended = true;
    return;
  }
  uint32_t used = 0;
  uint32_t delta = readVarLen(table.image + t.pos, t.end - t.pos, &used);
  if (used == 0 || (table.image[t.pos + used - 1] & 0x80)) {
    t.ended = true;  // the quantity runs past the chunk
    table.truncated = true;
    return;
  }
  t.pos += used;
  t.nextTime = delta > 0xFFFFFFFFu - t.nextTime ? 0xFFFFFFFFu : t.nextTime + delta;
}

}  // namespace

int loadTrackTable(TrackTable& table, const uint8_t* image, uint32_t size) {
  table = TrackTable{};
  table.image = image;
  table.size = image ? size : 0;
  uint32_t pos = 0;
  while (uint64_t(pos) + CHUNK_HEAD_SIZE <= table.size) {
    const uint8_t* head = image + pos;
    uint64_t chunkEnd = uint64_t(pos) + CHUNK_HEAD_SIZE + getBE(head + 4, 4);
    if (chunkEnd > table.size) {
      chunkEnd = table.size;
      table.truncated = true;
    }
    if (std::memcmp(head, VTHD_ID, 4) == 0) {
      if (chunkEnd >= uint64_t(pos) + CHUNK_HEAD_SIZE + 2)
        table.timebase = uint16_t(getBE(head + 8, 2));
    } else if (std::memcmp(head, VTRK_ID, 4) == 0 && table.count < MAX_TRACKS) {
      TrackCursor& t = table.track[table.count++];
      t.pos = pos + CHUNK_HEAD_SIZE;
      t.end = uint32_t(chunkEnd);
      t.nextTime = 0;
      t.ended = false;
      readNextDelta(table, t);
    }
    pos = uint32_t(chunkEnd);
  }
  if (pos < table.size) table.truncated = true;  // a piece of a chunk head is left
  return table.count;
}

bool nextStreamEventAnyKind(TrackTable& table, StreamEvent& ev) {
  for (;;) {
    int best = -1;
    for (int i = 0; i < table.count; ++i) {
      const TrackCursor& t = table.track[i];
      if (!t.ended && (best < 0 || t.nextTime < table.track[best].nextTime)) best = i;
    }
    if (best < 0) return false;
    TrackCursor& t = table.track[best];
    if (t.pos >= t.end) {  // a delta with no event behind it
      t.ended = true;
      table.truncated = true;
      continue;
    }
    const uint8_t* image = table.image;
    const uint32_t start = t.pos;
    const uint8_t status = image[start];
    uint32_t p = start + 1;
    ev.metaType = 0;
    bool ok = true;
    bool pastEnd = false;  // the event runs past its chunk, not merely an unknown status
    if (status == ST_META || status == ST_EXCLUSIVE) {
      if (status == ST_META) {
        if (p < t.end)
          ev.metaType = image[p++];
        else
          ok = false;
      }
      uint32_t used = 0;
      uint32_t length = ok && p < t.end ? readVarLen(image + p, t.end - p, &used) : 0;
      if (!ok || used == 0 || (image[p + used - 1] & 0x80) || length > t.end - p - used) {
        ok = false;
        pastEnd = true;
      } else {
        p += used;
        ev.data = image + p;
        ev.length = length;
        p += length;
      }
    } else {
      int n = eventDataSize(status);
      if (n == 0xFF) {
        ok = false;
      } else if (uint32_t(n) > t.end - p) {
        ok = false;
        pastEnd = true;
      } else {
        ev.data = image + p;
        ev.length = uint32_t(n);
        p += uint32_t(n);
      }
    }
    if (!ok) {
      // That track ends here; the others go on.
      t.ended = true;
      if (pastEnd) table.truncated = true;
      continue;
    }
    ev.time = t.nextTime;
    ev.track = best;
    ev.status = status;
    ev.offset = start;
    ev.size = p - start;
    t.pos = p;
    readNextDelta(table, t);
    return true;
  }
}

}  // namespace vlm
