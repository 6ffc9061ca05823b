// What the reader targets share: the reader runs as a conversion run gives it its buffer (the
// image size plus a margin; a small margin now and then exercises the full-buffer paths), the size
// it reports must lie within that buffer, and the stream listing walks every event it wrote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/stages.h"
#include "core/stream_dump.h"

namespace fuzz {

inline constexpr size_t INPUT_LIMIT = size_t(1) << 20;  // larger inputs only slow the run down
inline constexpr uint32_t RUN_MARGIN = 131072;
inline constexpr uint32_t SMALL_MARGIN = 64;

// The margin of a target whose whole input is the image: small when the first byte is odd.
inline uint32_t marginOf(const uint8_t* data, size_t size) {
  return size > 0 && (data[0] & 1) ? SMALL_MARGIN : RUN_MARGIN;
}

// The stream the reader wrote, walked once.
inline std::vector<uint8_t> readStream(vlm::StageFn reader, const uint8_t* image,
                                       uint32_t imageSize, uint32_t margin) {
  std::vector<uint8_t> out(size_t(imageSize) + margin);
  int32_t outSize = 0;
  reader(image, imageSize, out.data(), &outSize, uint32_t(out.size()));
  if (outSize < 0 || size_t(outSize) > out.size()) __builtin_trap();
  out.resize(size_t(outSize));
  if (!out.empty()) vlm::dumpStream(out.data(), uint32_t(out.size()));
  return out;
}

}  // namespace fuzz
