// Arbitrary bytes as a sequence of stream-writer requests with non-decreasing times into a small
// buffer. The written stream must fit the buffer and read back cleanly.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "convert/options.h"
#include "core/vstream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  vlm::options = vlm::ConversionOptions{};
  vlm::options.bendsepflg = data[0] & 1;
  vlm::options.freqNotesIgnored = data[0] & 2;
  vlm::options.freqFractionByBend = data[0] & 4;
  vlm::options.freqBendRange24 = data[0] & 8;
  const uint32_t capacity = 32 + uint32_t(data[1]) * 4;
  std::vector<uint8_t> out(capacity);

  vlm::resetSongStats();
  vlm::beginStream();
  vlm::writer.timebase = uint16_t(1 + data[2]);
  vlm::writer.mergeRhythmRepeats = data[0] & 16;
  vlm::writeHeaderChunk(out.data());
  vlm::writeTrackChunk(out.data());
  // Each request: time step, status, track, count (low 3 bits), then that many data bytes.
  uint32_t time = 0;
  size_t p = 3;
  while (p + 4 <= size) {
    time += data[p] < 0xF0 ? data[p] : uint32_t(data[p]) << 12;
    const uint8_t status = data[p + 1];
    const uint8_t track = data[p + 2] & 0x7F;
    uint32_t count = data[p + 3] & 7;
    p += 4;
    if (count > size - p) count = uint32_t(size - p);
    // A request of count 0 names its note in the byte it points at, when there is one.
    const uint8_t* bytes = p < size ? data + p : nullptr;
    // With flag 32, channel requests take the readers' two-byte entry instead.
    const bool twoBytes = (data[0] & 32) && status >= 0x80 && status < 0xF0 && count >= 2;
    const int ok =
        twoBytes ? vlm::submitChannelEvent(out.data(), capacity, time, status, track, bytes[0],
                                           bytes[1])
                 : vlm::submitEvent(out.data(), capacity, time, status, track, bytes, count);
    if (!ok) break;
    p += count;
  }
  vlm::finishStream(out.data());
  if (vlm::writer.pos > capacity) __builtin_trap();
  const uint32_t written = vlm::writer.pos;
  vlm::endStream();

  vlm::TrackTable table;
  vlm::loadTrackTable(table, out.data(), written);
  vlm::StreamEvent ev;
  while (vlm::nextStreamEvent(table, ev)) {
  }
  if (table.truncated) __builtin_trap();  // the writer's own output always reads back whole
  return 0;
}
