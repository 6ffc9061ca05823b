// Arbitrary bytes through the wave reader (and the .qcp entry, which reads only a converted
// wave): the first byte chooses the entry, the rate code and the buffer, the rest is the image.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "convert/options.h"
#include "core/stages.h"
#include "core/stream_dump.h"
#include "core/vstream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  const uint8_t selector = data[0];
  vlm::options.waveRateCode = selector % 5;
  vlm::options.waveLengthTenths = (selector & 0x08) ? selector : 0;
  const uint32_t margin = (selector & 0x80) ? 40 + selector % 200 : 131072;
  std::vector<uint8_t> out(size - 1 + margin);
  int32_t outSize = 0;
  const vlm::StageFn reader = (selector & 0x40) ? vlm::readQcp : vlm::readWave;
  reader(data + 1, uint32_t(size - 1), out.data(), &outSize, uint32_t(out.size()));
  if (outSize < 0 || size_t(outSize) > out.size()) __builtin_trap();
  if (outSize > 0) vlm::dumpStream(out.data(), uint32_t(outSize));
  return 0;
}
