// Arbitrary bytes through the SMAF reader, then through the stream listing, which walks every
// event the reader wrote, and through the wave decoders, each wave with the coding the reader
// found for it; the voice set the reader kept is walked (every binding looked up, every voice
// dumped) and the song texts are shown. The same bytes also go straight into the setup-record
// decoders and the compressed-score decoder, which the reader reaches only behind valid chunks.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/stages.h"
#include "core/vstream.h"
#include "formats/smaf_score.h"
#include "formats/smaf_voice.h"
#include "fuzz/reader_target.h"
#include "platform/text.h"
#include "playback/waves.h"

namespace {

void walkVoices(const vlm::smaf::VoiceSet& set) {
  for (const vlm::smaf::ChannelBinding& b : set.bindings)
    if (const vlm::smaf::Voice* v = set.find(b, 60)) vlm::smaf::dumpVoice(*v);
  for (const vlm::smaf::Voice& v : set.voices) {
    vlm::smaf::dumpVoice(v);
    if (v.kind == vlm::smaf::VoiceKind::PCM) set.findWave(v.pcm.waveId);
  }
  vlm::smaf::describeVoices(set);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > fuzz::INPUT_LIMIT) return 0;
  const std::vector<uint8_t> out =
      fuzz::readStream(vlm::readSmaf, data, uint32_t(size), fuzz::marginOf(data, size));
  vlm::SongWaves waves;
  vlm::collectWaves(out.data(), uint32_t(out.size()), &waves);
  for (const vlm::EmbeddedWave& w : waves.waves) {
    if (w.data < out.data() || w.data + w.size > out.data() + out.size()) __builtin_trap();
    vlm::decodeEmbeddedWave(w);
    vlm::embeddedWaveImage(w);
  }
  walkVoices(*vlm::smaf::songVoices());
  for (int field = 0; field < vlm::INFO_FIELDS; ++field) vlm::songTextUtf8(field);

  vlm::smaf::VoiceSet direct;
  vlm::smaf::decodeSetupRecord(data, uint32_t(size), &direct);
  walkVoices(direct);
  std::vector<uint8_t> plain;
  vlm::smaf::decompressSequence(data, uint32_t(size), &plain);
  return 0;
}
