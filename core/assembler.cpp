// putEvent: turns the requests of the readers into stream events.
#include "core/vstream.h"

namespace vlm {

int putEvent(uint8_t* out, uint32_t capacity, uint32_t time) {
  writer.resubmit = false;
  return emitEvent(out, capacity, time);
}

}  // namespace vlm
