#include "app/play_along.h"

#include <cstring>

namespace vlm {

void playAlongStart(const std::vector<std::string>&, uint32_t) {}
void playAlongTick(uint32_t) {}
void playAlongStop() {}
void playAlongLevels(uint8_t levels[16]) {
  std::memset(levels, 0, 16);
}

}  // namespace vlm
