// Arbitrary bytes through the readers of the simple phone formats and the fade pass: the first
// byte chooses the reader (and, with its high bit, a small buffer), the rest is the image. The
// stream listing then walks every event written.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "convert/options.h"
#include "core/stages.h"
#include "core/stream_dump.h"
#include "core/vstream.h"
#include "fuzz/reader_target.h"

namespace {

const vlm::StageFn READERS[] = {vlm::readDat,    vlm::readAls, vlm::readCmd,
                                vlm::readPmdRaw, vlm::readMel, vlm::readJskyText};
constexpr size_t READER_COUNT = sizeof READERS / sizeof READERS[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > fuzz::INPUT_LIMIT) return 0;
  const uint8_t selector = data[0];
  const uint32_t margin = (selector & 0x80) ? 40 + selector % 64 : fuzz::RUN_MARGIN;
  const std::vector<uint8_t> out = fuzz::readStream(READERS[(selector & 0x7F) % READER_COUNT],
                                                    data + 1, uint32_t(size - 1), margin);
  if (out.empty()) return 0;

  // The fade pass over what the reader wrote.
  vlm::options.fadeIn = selector & 0x10;
  vlm::options.fadeOut = selector & 0x20;
  vlm::options.rangeStart = selector & 0x07;
  vlm::options.rangeEnd = (selector & 0x08) ? 64 : 0;
  std::vector<uint8_t> faded(out.size() + ((selector & 0x40) ? 600 : 8192));
  int32_t fadedSize = 0;
  vlm::fadeStream(out.data(), uint32_t(out.size()), faded.data(), &fadedSize,
                  uint32_t(faded.size()));
  if (fadedSize < 0 || size_t(fadedSize) > faded.size()) __builtin_trap();
  if (fadedSize > 0) vlm::dumpStream(faded.data(), uint32_t(fadedSize));
  return 0;
}
