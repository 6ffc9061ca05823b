// Arbitrary bytes through the reader of every input row of the format table, so that a reader
// added with its row is fuzzed before it has a target of its own: the first byte chooses the row
// (and, with its high bit, a small buffer), the rest is the image.
#include <cstddef>
#include <cstdint>

#include "convert/format_table.h"
#include "fuzz/reader_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > fuzz::INPUT_LIMIT) return 0;
  int count = 0;
  const vlm::InputFormat* formats = vlm::inputFormats(&count);
  const uint8_t selector = data[0];
  const vlm::InputFormat& format = formats[(selector & 0x7F) % count];
  if (!format.reader) return 0;  // the event stream is read by the run itself
  const uint32_t margin = (selector & 0x80) ? 40 + selector % 64 : fuzz::RUN_MARGIN;
  fuzz::readStream(format.reader, data + 1, uint32_t(size - 1), margin);
  return 0;
}
