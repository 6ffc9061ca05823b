// Builds small format-0 Standard MIDI Files in memory for the playback tests and benchmarks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace vlm::test {

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
    std::vector<Event> events = events_;
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.tick < b.tick; });
    std::vector<uint8_t> track;
    uint32_t now = 0;
    for (const Event& e : events) {
      varLen(track, e.tick - now);
      now = e.tick;
      track.insert(track.end(), e.bytes.begin(), e.bytes.end());
    }
    varLen(track, endTick > now ? endTick - now : 0);
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
  struct Event {
    uint32_t tick;
    std::vector<uint8_t> bytes;
  };
  uint16_t division_;
  std::vector<Event> events_;

  void event(uint32_t tick, std::vector<uint8_t> bytes) { events_.push_back({tick, bytes}); }
  static void varLen(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t buf[5];
    int n = 0;
    buf[n++] = v & 0x7F;
    while (v >>= 7) buf[n++] = 0x80 | (v & 0x7F);
    while (n) out.push_back(buf[--n]);
  }
};

}  // namespace vlm::test
