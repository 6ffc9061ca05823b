// Arbitrary bytes through the SMAF reader, then through the stream listing, which walks every
// event the reader wrote, and through the wave decoders, each wave with the coding the reader
// found for it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/stages.h"
#include "core/stream_dump.h"
#include "core/vstream.h"
#include "playback/waves.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  // The run gives a reader the input size plus a fixed margin; a small margin now and then
  // exercises the full-buffer path as well.
  uint32_t margin = size > 0 && (data[0] & 1) ? 64 : 131072;
  std::vector<uint8_t> out(size + margin);
  int32_t outSize = 0;
  vlm::readSmaf(data, uint32_t(size), out.data(), &outSize, uint32_t(out.size()));
  if (outSize < 0 || size_t(outSize) > out.size()) __builtin_trap();
  if (outSize > 0) vlm::dumpStream(out.data(), uint32_t(outSize));
  vlm::SongWaves waves;
  vlm::collectWaves(out.data(), uint32_t(outSize), &waves);
  for (const vlm::EmbeddedWave& w : waves.waves) {
    if (w.data < out.data() || w.data + w.size > out.data() + outSize) __builtin_trap();
    vlm::decodeEmbeddedWave(w);
    vlm::embeddedWaveImage(w);
  }
  return 0;
}
