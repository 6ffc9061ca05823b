#include "core/stream_dump.h"

#include <cstdio>

#include "core/vstream.h"

namespace vlm {

std::string dumpStream(const uint8_t* image, uint32_t size) {
  TrackTable table;
  loadTrackTable(table, image, size);
  std::string text = "timebase " + std::to_string(table.timebase) + "\n";
  StreamEvent ev;
  char hex[4];
  while (nextStreamEvent(table, ev)) {
    text += std::to_string(ev.time);
    text += ' ';
    text += std::to_string(ev.track);
    for (uint32_t i = 0; i < ev.size; ++i) {
      std::snprintf(hex, sizeof(hex), " %02X", image[ev.offset + i]);
      text += hex;
    }
    text += '\n';
  }
  return text;
}

}  // namespace vlm
