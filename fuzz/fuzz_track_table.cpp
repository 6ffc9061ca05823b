// Arbitrary bytes as a VStream image: the merge cursor and the dump must stay inside the image.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/stream_dump.h"
#include "core/vstream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly the input's size lets the address checker see any read past the end.
  std::vector<uint8_t> image(data, data + size);
  vlm::TrackTable table;
  vlm::loadTrackTable(table, image.data(), uint32_t(image.size()));
  vlm::StreamEvent ev;
  uint32_t last = 0;
  int events = 0;
  while (vlm::nextStreamEvent(table, ev) && events < 100000) {
    if (ev.offset + ev.size > image.size()) __builtin_trap();
    (void)last;
    last = ev.time;
    ++events;
  }
  vlm::dumpStream(image.data(), uint32_t(image.size()));
  return 0;
}
