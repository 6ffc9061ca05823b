// How fast can anything read the song of BM_SmfReader on this machine? Bare loops over the same
// 2 MB, 16-track file, each doing less than a reader must:
//   BM_SmfFloorDecode          every event of every track decoded, one track after another;
//   BM_SmfFloorMerge           the same, then all events put into time order (lower track first
//                              on equal times), with the cheapest merge found so far: pairwise
//                              merges without branches of the tracks' sorted keys;
//   BM_SmfFloorMergeAndWrite   the same, then the stream written: delta, status, data bytes, and
//                              each note's duration patched in when its note-off comes; on the
//                              2 MB song and on the 10 KB one of BM_RingtoneConversion.
// None of them keeps statistics or channel state, checks for output room, or handles exclusive
// messages, texts or any status but the few the song has. They are the bound the real reader is
// measured against: its per-event work is what it does beyond the last of them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "bench/bench_songs.h"

namespace {

using vlm::bench::makeSong;

constexpr uint32_t MTHD_SIZE = 14;

inline uint32_t chunkLength(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

inline uint32_t readQuantity(const uint8_t* p, uint32_t& pos, uint32_t end) {
  uint32_t value = 0;
  while (pos < end) {
    const uint8_t b = p[pos++];
    value = value << 7 | (b & 0x7F);
    if (!(b & 0x80)) break;
  }
  return value;
}

// One decoded event: the status and two data bytes packed, or a meta event's 0xFF and its type.
inline uint32_t decodeEvent(const uint8_t* p, uint32_t& pos, uint32_t end, uint8_t& running) {
  uint8_t status = p[pos];
  if (status & 0x80) {
    ++pos;
    if (status < 0xF0) running = status;
  } else {
    status = running;
  }
  if (status == 0xFF) {
    const uint8_t type = pos < end ? p[pos++] : 0;
    pos += readQuantity(p, pos, end);
    return 0xFF | uint32_t(type) << 8;
  }
  const uint8_t kind = status & 0xF0;
  const uint8_t a = pos < end ? p[pos++] : 0;
  const uint8_t b = kind == 0xC0 || kind == 0xD0 || pos >= end ? 0 : p[pos++];
  return status | uint32_t(a) << 8 | uint32_t(b) << 16;
}

// Calls `each(time, event)` for every event of every track, a track at a time; returns the
// number of tracks.
template <class Each>
int decodeTracks(const std::vector<uint8_t>& song, Each each) {
  const uint8_t* p = song.data();
  const uint32_t size = uint32_t(song.size());
  int tracks = 0;
  for (uint32_t pos = MTHD_SIZE; pos + 8 <= size; ++tracks) {
    const uint32_t end = std::min<uint64_t>(uint64_t(pos) + 8 + chunkLength(p + pos + 4), size);
    uint32_t q = pos + 8, now = 0;
    uint8_t running = 0;
    while (q < end) {
      now += readQuantity(p, q, end);
      if (q >= end) break;
      each(tracks, now, decodeEvent(p, q, end, running));
    }
    pos = end;
  }
  return tracks;
}

void mergeTwo(const uint64_t* a, size_t na, const uint64_t* b, size_t nb, uint64_t* out) {
  const uint64_t* const aEnd = a + na;
  const uint64_t* const bEnd = b + nb;
  while (a < aEnd && b < bEnd) {
    const uint64_t x = *a, y = *b;
    const bool takeB = y < x;
    *out++ = takeB ? y : x;
    a += !takeB;
    b += takeB;
  }
  while (a < aEnd) *out++ = *a++;
  while (b < bEnd) *out++ = *b++;
}

// The events in time order: keys of time and event number (the event numbers grow with the
// track, then with the place in the track), merged pairwise until one run is left.
struct MergedEvents {
  std::vector<uint64_t> keys, spare;
  std::vector<uint32_t> events;
  std::vector<size_t> bounds, nextBounds;

  const uint64_t* build(const std::vector<uint8_t>& song) {
    keys.clear();
    events.clear();
    bounds.assign(1, 0);
    int track = 0;
    decodeTracks(song, [&](int t, uint32_t time, uint32_t event) {
      if (t != track) {
        bounds.push_back(keys.size());
        track = t;
      }
      keys.push_back(uint64_t(time) << 32 | events.size());
      events.push_back(event);
    });
    bounds.push_back(keys.size());
    spare.resize(keys.size());
    uint64_t* from = keys.data();
    uint64_t* to = spare.data();
    while (bounds.size() > 2) {
      nextBounds.assign(1, 0);
      for (size_t i = 0; i + 1 < bounds.size(); i += 2) {
        const size_t lo = bounds[i], mid = bounds[i + 1];
        const size_t hi = i + 2 < bounds.size() ? bounds[i + 2] : mid;
        mergeTwo(from + lo, mid - lo, from + mid, hi - mid, to + lo);
        nextBounds.push_back(hi);
      }
      std::swap(from, to);
      std::swap(bounds, nextBounds);
    }
    return from;
  }
};

void BM_SmfFloorDecode(benchmark::State& state) {
  const std::vector<uint8_t> song = makeSong(2 << 20);
  for (auto _ : state) {
    uint64_t sum = 0;
    decodeTracks(song, [&](int, uint32_t time, uint32_t event) { sum += time + event; });
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(song.size()));
}
BENCHMARK(BM_SmfFloorDecode)->Unit(benchmark::kMillisecond);

void BM_SmfFloorMerge(benchmark::State& state) {
  const std::vector<uint8_t> song = makeSong(2 << 20);
  MergedEvents merged;
  for (auto _ : state) {
    const uint64_t* order = merged.build(song);
    uint64_t sum = 0;
    for (size_t i = 0; i < merged.keys.size(); ++i) sum += merged.events[uint32_t(order[i])];
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(song.size()));
}
BENCHMARK(BM_SmfFloorMerge)->Unit(benchmark::kMillisecond);

void BM_SmfFloorMergeAndWrite(benchmark::State& state) {
  const std::vector<uint8_t> song = makeSong(size_t(state.range(0)));
  MergedEvents merged;
  std::vector<uint8_t> out(song.size() * 2);
  std::vector<uint32_t> notePos(16 * 128), noteStart(16 * 128);
  uint32_t written = 0;
  for (auto _ : state) {
    const uint64_t* order = merged.build(song);
    std::fill(notePos.begin(), notePos.end(), 0u);
    uint32_t o = 0, last = 0;
    for (size_t i = 0; i < merged.keys.size(); ++i) {
      const uint32_t now = uint32_t(order[i] >> 32);
      const uint32_t event = merged.events[uint32_t(order[i])];
      const uint8_t status = uint8_t(event), kind = status & 0xF0;
      const uint8_t a = uint8_t(event >> 8), b = uint8_t(event >> 16);
      if (status == 0xFF) continue;
      const uint32_t key = uint32_t(status & 0x0F) << 7 | (a & 0x7F);
      if (kind == 0x80 || (kind == 0x90 && b == 0)) {
        if (const uint32_t placed = notePos[key]) {  // place + 1 of the open note, 0 for none
          const uint32_t at = placed - 1;
          const uint32_t duration = now - noteStart[key];
          out[at + 3] = uint8_t(duration >> 8);
          out[at + 4] = uint8_t(duration);
          notePos[key] = 0;
        }
        continue;
      }
      const uint32_t delta = now - last;  // under 2^14 in this song: one or two bytes
      last = now;
      if (delta >= 0x80) out[o++] = uint8_t(0x80 | delta >> 7);
      out[o++] = uint8_t(delta & 0x7F);
      out[o] = status;
      out[o + 1] = a;
      out[o + 2] = b;
      if (kind == 0x90) {
        notePos[key] = o + 1;
        noteStart[key] = now;
        out[o + 3] = out[o + 4] = 0;
        o += 5;
      } else {
        o += 3;
      }
    }
    written = o;
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(song.size()));
  state.counters["stream_bytes"] = double(written);
}
// Also at the size of the ringtone of BM_RingtoneConversion, in microseconds.
BENCHMARK(BM_SmfFloorMergeAndWrite)->Arg(2 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmfFloorMergeAndWrite)->Arg(10 * 1024)->Unit(benchmark::kMicrosecond);

}  // namespace
