// Scans a VStream for the voice samples it carries and the wave notes that start them.
#include "playback/waves.h"

#include <algorithm>

#include "core/codec.h"
#include "core/vstream.h"
#include "formats/adpcm.h"

namespace vlm {

namespace {
constexpr uint32_t DEFAULT_MICROS_PER_QUARTER = 500000;
constexpr uint32_t RATE_STEP_HZ = 250;
}  // namespace

const EmbeddedWave* SongWaves::find(uint8_t number) const {
  // The last definition of a number wins, as a later wave event replaces the earlier one.
  for (auto it = waves.rbegin(); it != waves.rend(); ++it)
    if (it->number == number && it->sampleRate && it->size) return &*it;
  return nullptr;
}

uint32_t waveRateOfCode(uint8_t code) {
  if (code == WAVE_RATE_NONE) return 0;
  if (code < 5) return WAVE_RATES[code];
  return uint32_t(code) * RATE_STEP_HZ;
}

std::vector<int16_t> decodeEmbeddedWave(const EmbeddedWave& wave) {
  std::vector<int16_t> samples(waveSampleCount(wave.coding, wave.size));
  decodeWaveToLinear(wave.coding, wave.data, wave.size, samples.data());
  return samples;
}

std::vector<uint8_t> embeddedWaveImage(const EmbeddedWave& wave) {
  // Room for every sample: the decoder keeps WAVE_CAPACITY_RESERVE bytes of its capacity free.
  const uint32_t capacity = waveImageCapacity(wave.coding, wave.size);
  std::vector<uint8_t> image(capacity);
  int32_t written = 0;
  decodeWaveToImage(wave.coding, wave.data, wave.size, image.data(), &written, capacity,
                    wave.sampleRate);
  image.resize(size_t(std::max(written, 0)));
  return image;
}

void collectWaves(const uint8_t* stream, uint32_t size, SongWaves* out) {
  *out = SongWaves{};
  TrackTable table;
  if (!stream || loadTrackTable(table, stream, size) == 0) return;
  const uint32_t timebase = table.timebase ? table.timebase : 48;
  // Tempo is integrated in merge order, so the times of the notes follow every tempo change.
  double seconds = 0;
  uint32_t lastTick = 0;
  uint32_t tempo = DEFAULT_MICROS_PER_QUARTER;
  // Coding events waiting for the wave data of their number.
  struct Coding {
    bool set = false;
    uint32_t coding = 0, rate = 0;
  };
  Coding pending[256];
  StreamEvent ev;
  while (nextStreamEvent(table, ev)) {
    if (ev.time > lastTick) {
      seconds += double(ev.time - lastTick) * tempo / timebase / 1e6;
      lastTick = ev.time;
    }
    if (ev.status == ST_META && ev.metaType == META_TEMPO && ev.length >= 3) {
      uint32_t value = getBE(ev.data, 3);
      if (value) tempo = value;
    } else if (ev.status == ST_META && ev.metaType == META_WAVE_CODING && ev.length >= 6) {
      Coding& c = pending[ev.data[0]];
      c.set = true;
      c.coding = ev.data[1];
      c.rate = getBE(ev.data + 2, 4);
    } else if (ev.status == ST_META && ev.metaType == META_WAVE && ev.length >= 2) {
      EmbeddedWave w;
      w.number = ev.data[0];
      w.rateCode = ev.data[1];
      w.sampleRate = waveRateOfCode(w.rateCode);
      w.coding = AdpcmCodec;
      Coding& c = pending[w.number];
      if (c.set) {
        w.coding = c.coding;
        if (w.sampleRate && c.rate) w.sampleRate = c.rate;  // no samples stays no samples
        c = Coding{};
      }
      w.data = ev.data + 2;
      w.size = ev.length - 2;
      out->waves.push_back(w);
    } else if (ev.status == WAVE_NOTE_STATUS && ev.length >= 1) {
      out->notes.push_back({ev.data[0], ev.time, seconds});
    }
  }
  std::stable_sort(out->notes.begin(), out->notes.end(),
                   [](const WaveNote& a, const WaveNote& b) { return a.tick < b.tick; });
}

}  // namespace vlm
