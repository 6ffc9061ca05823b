// The meta events of the readers, put together in one buffer per thread.
#include "core/reader_events.h"

#include <cstring>
#include <vector>

#include "core/thread_record.h"

namespace vlm {

namespace {

struct MetaAssembly {
  std::vector<uint8_t> bytes;  // type, length, body
};

}  // namespace

bool submitMeta(EventSink& s, uint32_t time, uint8_t track, uint8_t type, const uint8_t* body,
                uint32_t length) {
  if (s.full) return false;
  std::vector<uint8_t>& meta = threadRecord<MetaAssembly>().bytes;
  meta.resize(size_t(length) + 1 + VARLEN_MAX_BYTES);
  meta[0] = type;
  const uint32_t lengthBytes = uint32_t(writeVarLen(meta.data() + 1, length));
  if (length) std::memcpy(meta.data() + 1 + lengthBytes, body, length);
  return submitTo(s, time, track, ST_META, meta.data(), 1 + lengthBytes + length);
}

}  // namespace vlm
