// Builders of event-stream images and of Standard MIDI Files from bytes, and a small independent
// Standard MIDI File parser that checks the structure of what a writer produced. Shared by the
// tests and the benchmarks, so nothing here depends on the test framework.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "core/codec.h"

namespace vlm::test {

using Bytes = std::vector<uint8_t>;

inline void appendVarLen(Bytes& b, uint32_t v) {
  uint8_t tmp[5];
  int n = 0;
  tmp[n++] = uint8_t(v & 0x7F);
  while (v >>= 7) tmp[n++] = uint8_t(0x80 | (v & 0x7F));
  while (n) b.push_back(tmp[--n]);
}

inline void appendBE(Bytes& b, uint32_t v, int n) {
  for (int i = n - 1; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}

inline void appendLE(Bytes& b, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

// An event at an absolute time, for the builders that collect events out of order.
struct TimedBytes {
  uint32_t time;
  Bytes bytes;
};

// The events in time order (equal times keep their order), each after its delta: a track body
// without its end. Returns the time of the last event.
inline uint32_t appendTimedEvents(Bytes& track, std::vector<TimedBytes> events) {
  std::stable_sort(events.begin(), events.end(),
                   [](const TimedBytes& a, const TimedBytes& b) { return a.time < b.time; });
  uint32_t now = 0;
  for (const TimedBytes& e : events) {
    appendVarLen(track, e.time - now);
    now = e.time;
    track.insert(track.end(), e.bytes.begin(), e.bytes.end());
  }
  return now;
}

// A RIFF WAVE image: a "fmt " chunk of `fmt` (tag first) and a "data" chunk.
inline Bytes waveImage(const Bytes& fmt, const Bytes& data) {
  Bytes body = {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
  appendLE(body, uint32_t(fmt.size()), 4);
  body.insert(body.end(), fmt.begin(), fmt.end());
  body.insert(body.end(), {'d', 'a', 't', 'a'});
  appendLE(body, uint32_t(data.size()), 4);
  body.insert(body.end(), data.begin(), data.end());
  Bytes out = {'R', 'I', 'F', 'F'};
  appendLE(out, uint32_t(body.size()), 4);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// A mono "fmt " body of the tag, rate (bytes per second the same), block size and bits; `extra`
// follows with its size when there is any.
inline Bytes waveFormat(uint16_t tag, uint32_t rate, uint16_t blockAlign, uint16_t bits,
                        const Bytes& extra = {}) {
  Bytes f;
  appendLE(f, tag, 2);
  appendLE(f, 1, 2);
  appendLE(f, rate, 4);
  appendLE(f, rate, 4);
  appendLE(f, blockAlign, 2);
  appendLE(f, bits, 2);
  if (!extra.empty()) {
    appendLE(f, uint32_t(extra.size()), 2);
    f.insert(f.end(), extra.begin(), extra.end());
  }
  return f;
}

// Builds a VStream image: "VThd" with the timebase, then one "VTrk" per track(). Events take the
// delta since the previous event of the same track; end() closes the track with its own end of
// track after the given delta.
class StreamBuilder {
 public:
  explicit StreamBuilder(uint16_t timebase = 48) {
    image_ = {'V', 'T', 'h', 'd', 0, 0, 0, 2};
    appendBE(image_, timebase, 2);
  }
  StreamBuilder& track() {
    closeTrack();
    trackStart_ = image_.size();
    image_.insert(image_.end(), {'V', 'T', 'r', 'k', 0, 0, 0, 0});
    open_ = true;
    return *this;
  }
  StreamBuilder& raw(uint32_t delta, std::initializer_list<uint8_t> bytes) {
    appendVarLen(image_, delta);
    image_.insert(image_.end(), bytes);
    return *this;
  }
  StreamBuilder& note(uint32_t delta, int ch, int note, int vel, uint16_t dur) {
    return raw(delta,
               {uint8_t(0x90 | ch), uint8_t(note), uint8_t(vel), uint8_t(dur >> 8), uint8_t(dur)});
  }
  StreamBuilder& cc(uint32_t delta, int ch, int controller, int value) {
    return raw(delta, {uint8_t(0xB0 | ch), uint8_t(controller), uint8_t(value)});
  }
  StreamBuilder& program(uint32_t delta, int ch, int program, int bank = 0) {
    return raw(delta, {uint8_t(0xC0 | ch), uint8_t(program), uint8_t(bank)});
  }
  StreamBuilder& meta(uint32_t delta, uint8_t type, const Bytes& body) {
    appendVarLen(image_, delta);
    image_.push_back(0xFF);
    image_.push_back(type);
    appendVarLen(image_, uint32_t(body.size()));
    image_.insert(image_.end(), body.begin(), body.end());
    return *this;
  }
  StreamBuilder& sysex(uint32_t delta, const Bytes& body) {
    appendVarLen(image_, delta);
    image_.push_back(0xF0);
    appendVarLen(image_, uint32_t(body.size()));
    image_.insert(image_.end(), body.begin(), body.end());
    return *this;
  }
  StreamBuilder& end(uint32_t delta = 0) {
    raw(delta, {0xFF, 0x2F, 0x00});
    closeTrack();
    return *this;
  }
  Bytes build() {
    closeTrack();
    return image_;
  }

 private:
  void closeTrack() {
    if (!open_) return;
    uint32_t length = uint32_t(image_.size() - trackStart_ - 8);
    for (int i = 0; i < 4; ++i) image_[trackStart_ + 4 + i] = uint8_t(length >> (24 - 8 * i));
    open_ = false;
  }
  Bytes image_;
  size_t trackStart_ = 0;
  bool open_ = false;
};

struct MidiEvent {
  uint32_t time;
  uint8_t status;
  uint8_t metaType = 0;  // for 0xFF
  Bytes data;            // channel data bytes, or the body of an exclusive or meta event
  bool explicitStatus = true;
};

struct ParsedSmf {
  bool ok = false;
  std::string error;
  bool riff = false;
  uint16_t format = 0, tracks = 0, division = 0;
  std::vector<MidiEvent> events;  // end of track included
  uint32_t trackLength = 0;

  // Events other than end of track, with their status, in order.
  std::vector<MidiEvent> withStatus(uint8_t status) const {
    std::vector<MidiEvent> out;
    for (const MidiEvent& e : events)
      if (e.status == status) out.push_back(e);
    return out;
  }
};

namespace detail {
// The readers' bounds-checked byte view over a test file, from `start` to `end`, with the check of
// a four-character id. `bad` names its flag of a read past the end.
struct Reader : vlm::ByteReader {
  bool& bad = overrun;
  Reader(const Bytes& b, size_t start, size_t end) : ByteReader(b.data(), uint32_t(end)) {
    pos = uint32_t(start);
  }
  Reader(const Reader&) = delete;
  bool id(const char* four) {
    for (int i = 0; i < 4; ++i)
      if (u8() != uint8_t(four[i])) return false;
    return true;
  }
};

inline int channelDataSize(uint8_t status) {
  switch (status & 0xF0) {
    case 0xC0:
    case 0xD0:
      return 1;
    default:
      return 2;
  }
}

// Reads the events of one track from `rd` up to `stop`, with running status, into `events`
// (end of track included). `dataSize` gives the data bytes behind a channel status; exclusive
// blocks (F0, F7) belong to the form only when `exclusive`. Returns what is wrong with the track,
// or an empty string when it ends with exactly one end of track as its last event.
inline std::string parseTrackEvents(Reader& rd, size_t stop, int (*dataSize)(uint8_t),
                                    bool exclusive, std::vector<MidiEvent>& events) {
  uint32_t time = 0;
  uint8_t running = 0;
  bool sawEnd = false;
  while (rd.pos < stop) {
    if (sawEnd) return "events after end of track";
    time += rd.varLen();
    MidiEvent e;
    e.time = time;
    uint8_t first = rd.u8();
    if (first & 0x80) {
      e.status = first;
    } else {
      if (!running) return "running status without a status";
      e.status = running;
      e.explicitStatus = false;
      --rd.pos;
    }
    if (e.status == 0xFF) {
      e.metaType = rd.u8();
      uint32_t n = rd.varLen();
      for (uint32_t i = 0; i < n; ++i) e.data.push_back(rd.u8());
      running = 0;
      if (e.metaType == 0x2F) sawEnd = true;
    } else if (exclusive && (e.status == 0xF0 || e.status == 0xF7)) {
      uint32_t n = rd.varLen();
      for (uint32_t i = 0; i < n; ++i) e.data.push_back(rd.u8());
      running = 0;
    } else if (e.status >= 0x80 && e.status < 0xF0) {
      for (int i = 0; i < dataSize(e.status); ++i) {
        uint8_t d = rd.u8();
        if (d & 0x80) rd.bad = true;
        e.data.push_back(d);
      }
      running = e.status;
    } else {
      return "status not written in this form";
    }
    if (rd.bad) return "event runs past the track";
    events.push_back(e);
  }
  return sawEnd ? "" : "no end of track";
}
}  // namespace detail

// Parses a format-0 SMF, optionally inside RIFF "RMID" (the "data" chunk is searched). A file is
// accepted only when the track length matches the bytes present and the track ends with exactly
// one end of track as its last event.
inline ParsedSmf parseSmf(const Bytes& file) {
  ParsedSmf r;
  size_t start = 0, stop = file.size();
  if (file.size() >= 12 && std::string(file.begin(), file.begin() + 4) == "RIFF") {
    r.riff = true;
    detail::Reader rr{file, 0, file.size()};
    rr.id("RIFF");
    uint32_t riffSize = rr.le(4);
    if (riffSize + 8 != file.size()) {
      r.error = "RIFF size mismatch";
      return r;
    }
    rr.id("RMID");
    bool found = false;
    while (!rr.bad && rr.pos + 8 <= file.size()) {
      std::string id(file.begin() + long(rr.pos), file.begin() + long(rr.pos) + 4);
      rr.pos += 4;
      uint32_t size = rr.le(4);
      if (id == "data") {
        start = rr.pos;
        stop = rr.pos + size;
        found = stop <= file.size();
        break;
      }
      rr.skip(size);
    }
    if (!found) {
      r.error = "no data chunk";
      return r;
    }
  }
  detail::Reader rd{file, start, stop};
  if (!rd.id("MThd") || rd.be(4) != 6) {
    r.error = "bad MThd";
    return r;
  }
  r.format = uint16_t(rd.be(2));
  r.tracks = uint16_t(rd.be(2));
  r.division = uint16_t(rd.be(2));
  if (!rd.id("MTrk")) {
    r.error = "bad MTrk";
    return r;
  }
  r.trackLength = rd.be(4);
  if (rd.bad || uint64_t(rd.pos) + r.trackLength != stop) {
    r.error = "track length mismatch";
    return r;
  }
  r.error = detail::parseTrackEvents(rd, stop, detail::channelDataSize, true, r.events);
  r.ok = r.error.empty();
  return r;
}

class SmfBuilder {
 public:
  explicit SmfBuilder(uint16_t division = 480) : division_(division) {}

  SmfBuilder& tempo(uint32_t tick, uint32_t microsPerQuarter) {
    event(tick, {0xFF, 0x51, 0x03, uint8_t(microsPerQuarter >> 16), uint8_t(microsPerQuarter >> 8),
                 uint8_t(microsPerQuarter)});
    return *this;
  }
  SmfBuilder& program(uint32_t tick, uint8_t channel, uint8_t program) {
    event(tick, {uint8_t(0xC0 | channel), program});
    return *this;
  }
  SmfBuilder& note(uint32_t tick, uint8_t channel, uint8_t key, uint32_t duration,
                   uint8_t velocity = 100) {
    event(tick, {uint8_t(0x90 | channel), key, velocity});
    event(tick + duration, {uint8_t(0x80 | channel), key, 0});
    return *this;
  }
  // The image, with the end of track at `endTick` (or at the last event when earlier).
  std::vector<uint8_t> build(uint32_t endTick = 0) const {
    std::vector<uint8_t> track;
    const uint32_t now = appendTimedEvents(track, events_);
    appendVarLen(track, endTick > now ? endTick - now : 0);
    track.insert(track.end(), {0xFF, 0x2F, 0x00});
    std::vector<uint8_t> out = {
        'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, uint8_t(division_ >> 8), uint8_t(division_)};
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    uint32_t n = uint32_t(track.size());
    out.insert(out.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
    out.insert(out.end(), track.begin(), track.end());
    return out;
  }

 private:
  uint16_t division_;
  std::vector<TimedBytes> events_;

  void event(uint32_t tick, std::vector<uint8_t> bytes) { events_.push_back({tick, bytes}); }
};

}  // namespace vlm::test

// The writers' tests name the helpers by this shorter namespace.
namespace vlmtest = vlm::test;
