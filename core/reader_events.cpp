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

// The thread's buffer with room for a meta event of `length` body bytes; `head` receives the
// bytes of the type and the length, which the body follows.
uint8_t* metaBuffer(uint8_t type, uint32_t length, uint32_t* head) {
  std::vector<uint8_t>& meta = threadRecord<MetaAssembly>().bytes;
  meta.resize(size_t(length) + 1 + VARLEN_MAX_BYTES);
  meta[0] = type;
  *head = 1 + uint32_t(writeVarLen(meta.data() + 1, length));
  return meta.data();
}

}  // namespace

bool submitMeta(EventSink& s, uint32_t time, uint8_t track, uint8_t type, const uint8_t* body,
                uint32_t length) {
  if (s.full) return false;
  uint32_t head = 0;
  uint8_t* meta = metaBuffer(type, length, &head);
  if (length) std::memcpy(meta + head, body, length);
  return submitTo(s, time, track, ST_META, meta, head + length);
}

bool submitWave(EventSink& s, uint32_t time, uint8_t track, uint8_t number, uint8_t rateCode,
                const uint8_t* samples, uint32_t length) {
  if (s.full) return false;
  constexpr uint32_t WAVE_HEAD = 2;  // wave number, rate code
  uint32_t head = 0;
  uint8_t* meta = metaBuffer(META_WAVE, WAVE_HEAD + length, &head);
  meta[head] = number;
  meta[head + 1] = rateCode;
  if (length) std::memcpy(meta + head + WAVE_HEAD, samples, length);
  return submitTo(s, time, track, ST_META, meta, head + WAVE_HEAD + length);
}

}  // namespace vlm
