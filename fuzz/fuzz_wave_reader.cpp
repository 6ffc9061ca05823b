// Arbitrary bytes through the wave reader (and the .qcp entry, which reads only a converted
// wave): the first byte chooses the entry, the rate code and the buffer, the rest is the image.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "convert/options.h"
#include "core/stages.h"
#include "core/vstream.h"
#include "fuzz/reader_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > fuzz::INPUT_LIMIT) return 0;
  const uint8_t selector = data[0];
  vlm::options.waveRateCode = selector % 5;
  vlm::options.waveLengthTenths = (selector & 0x08) ? selector : 0;
  const uint32_t margin = (selector & 0x80) ? 40 + selector % 200 : fuzz::RUN_MARGIN;
  const vlm::StageFn reader = (selector & 0x40) ? vlm::readQcp : vlm::readWave;
  fuzz::readStream(reader, data + 1, uint32_t(size - 1), margin);
  return 0;
}
