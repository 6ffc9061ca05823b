// Arbitrary bytes through the i-melody and PMD reader, then through the stream listing, which
// walks every event the reader wrote.
#include <cstddef>
#include <cstdint>

#include "core/stages.h"
#include "fuzz/reader_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > fuzz::INPUT_LIMIT) return 0;
  fuzz::readStream(vlm::readMld, data, uint32_t(size), fuzz::marginOf(data, size));
  return 0;
}
