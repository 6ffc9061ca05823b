// Thinning of a stream that does not fit its writer's size limit. Pitch bends often come every
// few ticks and, where a target turns them into frequency events for every sounding note, fill
// the file long before its notes do. Steps of 1/32 note and 1/8 semitone are below what the ear
// follows in a ringtone; coarser levels trade smoothness of a bend for the rest of the song.
#include "writers/stream_thinning.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/codec.h"
#include "core/conversion_options.h"
#include "core/vstream.h"

namespace vlm {

namespace {

constexpr int BEND_MID = 8192;                     // 14-bit centre
constexpr int SEMITONE_EIGHTHS_AT_RANGE_1 = 1024;  // 1/8 semitone in bend units under range 1
constexpr uint8_t RESET_CONTROLLER_VALUE = 0;

struct Level {
  uint32_t notesPerQuarter;  // window = timebase / this
  int eighths;               // pitch step in eighths of a semitone
};
constexpr Level LEVELS[THINNING_LEVELS] = {{8, 1}, {4, 2}, {2, 4}};

// Controllers whose repeats change nothing: the same ones the transform tracks.
bool repeatIsRedundant(uint8_t cc) {
  return cc == CC_MODULATION || cc == CC_VOLUME || cc == CC_PAN || cc == CC_EXPRESSION ||
         cc == CC_HOLD;
}

struct ChannelBend {
  int kept = BEND_MID;  // value the output stream has
  uint32_t keptTime = 0;
  bool pending = false;  // a later value waits for the end of the window
  int pendingValue = BEND_MID;
  uint8_t range = 2;
};

struct Thinner {
  std::vector<uint8_t>& out;
  uint32_t window = 1;
  int eighths = 1;
  uint32_t lastTime = 0;
  uint32_t nextDue = UINT32_MAX;  // earliest time a waiting bend falls due
  bool changed = false;
  ChannelBend bend[CHANNELS];
  uint8_t controller[CHANNELS][128];
  int program[CHANNELS];

  explicit Thinner(std::vector<uint8_t>& o) : out(o) {
    for (auto& c : controller) {
      std::memset(c, RESET_CONTROLLER_VALUE, sizeof c);
      c[CC_VOLUME] = 100;
      c[CC_PAN] = 64;
      c[CC_EXPRESSION] = 127;
    }
    std::fill(std::begin(program), std::end(program), 0);
  }

  void delta(uint32_t time) {
    uint8_t v[VARLEN_MAX_BYTES];
    const uint32_t t = std::max(time, lastTime);
    out.insert(out.end(), v, v + writeVarLen(v, t - lastTime));
    lastTime = t;
  }
  void copy(uint32_t time, const uint8_t* bytes, uint32_t n) {
    delta(time);
    out.insert(out.end(), bytes, bytes + n);
  }
  void writeBend(int c, uint32_t time, int value) {
    const uint8_t ev[3] = {uint8_t(ST_PITCH_BEND | c), uint8_t(value & 0x7F),
                           uint8_t(value >> 7 & 0x7F)};
    copy(time, ev, 3);
    ChannelBend& b = bend[c];
    b.kept = value;
    b.keptTime = std::max(time, lastTime);
    b.pending = false;
  }
  void flush(int c, uint32_t time) {
    if (!bend[c].pending) return;
    writeBend(c, time, bend[c].pendingValue);
    changed = true;  // written later than the song has it
  }
  // The waiting bends whose window has passed by `time`, in the order they fall due.
  void flushDue(uint32_t time) {
    if (time < nextDue) return;  // the common case: nothing waits, or not yet
    for (;;) {
      int first = -1;
      uint32_t due = 0;
      for (int c = 0; c < CHANNELS; ++c) {
        const ChannelBend& b = bend[c];
        if (!b.pending) continue;
        const uint32_t d = b.keptTime + window;
        if (d <= time && (first < 0 || d < due)) first = c, due = d;
      }
      if (first < 0) break;
      flush(first, due);
    }
    nextDue = UINT32_MAX;
    for (const ChannelBend& b : bend)
      if (b.pending) nextDue = std::min(nextDue, b.keptTime + window);
  }
  bool significant(int c, int value) const {
    const ChannelBend& b = bend[c];
    const int step = std::max(1, SEMITONE_EIGHTHS_AT_RANGE_1 * eighths / std::max<int>(b.range, 1));
    if (value == BEND_MID) return b.kept != BEND_MID;  // back to the centre is always heard
    return std::abs(value - b.kept) >= step;
  }
  void onBend(int c, uint32_t time, int value) {
    ChannelBend& b = bend[c];
    if (!significant(c, value)) {
      b.pending = false;  // the pitch is back near the one the output has
      changed = true;
      return;
    }
    if (time >= b.keptTime + window) {
      writeBend(c, time, value);
    } else {
      b.pending = true;
      b.pendingValue = value;
      nextDue = std::min(nextDue, b.keptTime + window);
      changed = true;
    }
  }
  // Returns whether the event is kept as it stands.
  bool keepChannelEvent(const StreamEvent& ev) {
    const int c = ev.status & 0x0F;
    switch (ev.status & 0xF0) {
      case ST_NOTE:
        flush(c, ev.time);  // a note starts at the pitch the song has there
        return true;
      case ST_CONTROL: {
        const uint8_t cc = ev.data[0], v = ev.data[1];
        if (cc == CC_BEND_RANGE) {
          flush(c, ev.time);
          bend[c].range = v;
          return true;
        }
        if (cc >= 0x80 || !repeatIsRedundant(cc)) return true;
        if (controller[c][cc] == v) return changed = true, false;
        controller[c][cc] = v;
        return true;
      }
      case ST_PROGRAM: {
        const int word = ev.data[0] | ev.data[1] << 8;
        if (program[c] == word) return changed = true, false;
        program[c] = word;
        return true;
      }
      default:
        return true;
    }
  }
};

// "VThd" with the timebase and the head of the one "VTrk", its length patched at the end.
void putHeader(std::vector<uint8_t>& out, uint16_t timebase) {
  uint8_t head[2 * CHUNK_HEAD_SIZE + 2] = {};
  std::memcpy(head, VTHD_ID, 4);
  putBE(head + 4, 2, 4);
  putBE(head + CHUNK_HEAD_SIZE, timebase, 2);
  std::memcpy(head + CHUNK_HEAD_SIZE + 2, VTRK_ID, 4);
  out.assign(head, head + sizeof head);
}

}  // namespace

bool thinStream(const uint8_t* image, uint32_t size, int level, std::vector<uint8_t>& out) {
  auto table = std::make_unique<TrackTable>();
  loadTrackTable(*table, image, size);
  putHeader(out, table->timebase);
  out.reserve(size);
  const size_t trackStart = out.size() - CHUNK_HEAD_SIZE;
  const Level& l = LEVELS[std::clamp(level, 1, THINNING_LEVELS) - 1];
  Thinner t(out);
  t.window = std::max<uint32_t>(table->timebase / l.notesPerQuarter, 1);
  t.eighths = l.eighths;
  uint32_t end = 0;
  StreamEvent ev;
  while (nextStreamEvent(*table, ev)) {
    t.flushDue(ev.time);
    end = std::max(end, ev.time);
    if (ev.status == ST_META && ev.metaType == META_END_OF_TRACK) continue;
    if ((ev.status & 0xF0) == ST_PITCH_BEND) {
      if (ev.length >= 2) t.onBend(ev.status & 0x0F, ev.time, ev.data[0] | ev.data[1] << 7);
      continue;
    }
    if (ev.status >= ST_NOTE_OFF && ev.status < ST_EXCLUSIVE && !t.keepChannelEvent(ev)) continue;
    t.copy(ev.time, image + ev.offset, ev.size);
  }
  t.flushDue(end);
  for (int c = 0; c < CHANNELS; ++c) t.flush(c, end);
  const uint8_t endOfTrack[3] = {ST_META, META_END_OF_TRACK, 0};
  t.copy(end, endOfTrack, 3);
  putBE(out.data() + trackStart + 4, uint32_t(out.size() - trackStart - CHUNK_HEAD_SIZE), 4);
  return t.changed;
}

void writeWithinLimit(StageFn write, const uint8_t* source, uint32_t sourceSize,
                      uint8_t* destination, int32_t* destinationSize, uint32_t capacity) {
  uint8_t& slot = warnings.slot[WARN_SIZE_LIMIT];
  const uint8_t before = slot;
  slot = 0;
  write(source, sourceSize, destination, destinationSize, capacity);
  std::vector<uint8_t> thinner, written;
  for (int level = 1; level <= THINNING_LEVELS && slot; ++level) {
    // A coarser level that changes nothing more (a song without bends) would give the same file.
    if (!thinStream(source, sourceSize, level, thinner) || thinner == written) continue;
    slot = 0;
    write(thinner.data(), uint32_t(thinner.size()), destination, destinationSize, capacity);
    written.swap(thinner);
  }
  slot = uint8_t(slot | before);
}

}  // namespace vlm
