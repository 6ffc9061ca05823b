// The generated song that the pipeline benchmarks read: 16 channels of programs, volumes, bends
// and note pairs, the rhythm part on channel 10, 480 ticks a quarter. Shared by the benchmarks of
// the real reader and of the bare loops that bound what any reader of it can reach.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "stream_builders.h"

namespace vlm::bench {

using test::appendBE;
using test::appendVarLen;

enum class SongLayout {
  TRACK_PER_CHANNEL,  // format 1, one track per channel: the reader merges 16 tracks
  ONE_TRACK,          // the same events in one format-0 track: nothing to merge
};

// Grows each channel's part until the 16 parts reach about `targetBytes` together.
inline std::vector<uint8_t> makeSong(size_t targetBytes,
                                     SongLayout layout = SongLayout::TRACK_PER_CHANNEL) {
  constexpr int TRACKS = 16;
  const size_t perTrack = targetBytes / TRACKS;
  uint32_t seed = 12345;
  auto rnd = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  std::vector<test::TimedBytes> merged;  // every event with its absolute time, in track order
  std::vector<std::vector<uint8_t>> bodies;
  for (int t = 0; t < TRACKS; ++t) {
    std::vector<uint8_t> body;
    uint32_t now = 0;
    auto add = [&](uint32_t delta, std::initializer_list<uint8_t> event) {
      appendVarLen(body, delta);
      body.insert(body.end(), event);
      now += delta;
      merged.push_back({now, std::vector<uint8_t>(event)});
    };
    const uint8_t ch = uint8_t(t);
    if (t == 0) add(0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});
    add(0, {uint8_t(0xC0 | ch), uint8_t(t * 7 % 128)});
    add(0, {uint8_t(0xB0 | ch), 7, 100});
    int step = 0;
    while (body.size() < perTrack) {
      // One draw after another, in this order: the song must not depend on the order in
      // which a call's arguments are worked out.
      const uint8_t note = ch == 9 ? uint8_t(35 + rnd(12)) : uint8_t(48 + rnd(36));
      const uint32_t rest = rnd(3) == 0 ? 0 : 60 + rnd(180);
      const uint8_t velocity = uint8_t(60 + rnd(60));
      add(rest, {uint8_t(0x90 | ch), note, velocity});
      add(30 + rnd(200), {uint8_t(0x80 | ch), note, 0});
      if (++step % 16 == 0) {
        const uint8_t bend = uint8_t(0x40 + rnd(8));
        add(0, {uint8_t(0xE0 | ch), 0, bend});
        const uint8_t expression = uint8_t(80 + rnd(47));
        add(0, {uint8_t(0xB0 | ch), 11, expression});
      }
    }
    body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});
    bodies.push_back(std::move(body));
  }
  if (layout == SongLayout::ONE_TRACK) {
    // Time order, the lower track first on equal times: the order a merge of the tracks gives.
    std::vector<uint8_t> body;
    test::appendTimedEvents(body, std::move(merged));
    body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});
    bodies.assign(1, std::move(body));
  }
  const uint8_t format = layout == SongLayout::ONE_TRACK ? 0 : 1;
  std::vector<uint8_t> smf = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, format, 0,
                              uint8_t(bodies.size()), 0x01, 0xE0};
  for (const std::vector<uint8_t>& body : bodies) {
    smf.insert(smf.end(), {'M', 'T', 'r', 'k'});
    appendBE(smf, uint32_t(body.size()), 4);
    smf.insert(smf.end(), body.begin(), body.end());
  }
  return smf;
}

}  // namespace vlm::bench
