// Arbitrary bytes as a Standard MIDI File: the reader, then the SMF writer on its stream.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/stages.h"
#include "core/vstream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> image(data, data + size);
  // Small work buffers also test the early end when the output is full.
  const uint32_t capacity = uint32_t(size) + (size & 1 ? 64 : 4096);
  std::vector<uint8_t> stream(capacity);
  int32_t streamSize = 0;
  vlm::readSmf(image.data(), uint32_t(image.size()), stream.data(), &streamSize, capacity);
  if (streamSize < 0 || uint32_t(streamSize) > capacity) __builtin_trap();

  vlm::TrackTable table;
  vlm::loadTrackTable(table, stream.data(), uint32_t(streamSize));
  vlm::StreamEvent ev;
  while (vlm::nextStreamEvent(table, ev)) {
  }
  if (table.truncated) __builtin_trap();

  const uint32_t outCapacity = uint32_t(streamSize) * 2 + 4096;
  std::vector<uint8_t> midi(outCapacity);
  int32_t midiSize = 0;
  vlm::writeSmf(stream.data(), uint32_t(streamSize), midi.data(), &midiSize, outCapacity);
  if (midiSize < 0 || uint32_t(midiSize) > outCapacity) __builtin_trap();
  return 0;
}
