// Reader of wave sounds (.wav, and .qcp once the outside voice converter has made a .wav of
// it): the samples (PCM, IMA ADPCM or Microsoft ADPCM) are encoded as 4-bit step-table
// (Dialogic/OKI) ADPCM, carried in one wave meta event and started by one wave note that lasts as
// long as the sound.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/codec.h"
#include "core/conversion_options.h"
#include "core/reader_events.h"
#include "core/stages.h"
#include "core/thread_record.h"
#include "core/vstream.h"
#include "formats/wave_file.h"

namespace vlm {

namespace {

constexpr uint16_t WAVE_TIMEBASE = 96;
constexpr uint32_t WAVE_TEMPO_MICROS = 250000;  // 240 beats per minute: a bar is one second
constexpr uint8_t WAVE_NUMBER = 1;
constexpr uint8_t WAVE_VELOCITY = 127;
constexpr uint32_t MAX_WAVE_BYTES = 0xFFDC;
constexpr uint32_t WAVE_END_RESERVE = 8;  // encoding stops this far below the maximum
// Room kept in the output for the header, the tempo, the meta head, the wave note and the end.
constexpr uint32_t STREAM_OVERHEAD = 64;

constexpr uint32_t DEFAULT_RATE = 8000;

constexpr int STEP_TABLE[49] = {16,  17,  19,  21,  23,  25,   28,   31,   34,   37,  41,  45,  50,
                                55,  60,  66,  73,  80,  88,   97,   107,  118,  130, 143, 157, 173,
                                190, 209, 230, 253, 279, 307,  337,  371,  408,  449, 494, 544, 598,
                                658, 724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552};
constexpr int INDEX_ADJUST[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
constexpr int PREDICTOR_MIN = -2048, PREDICTOR_MAX = 2047;
constexpr int STEP_INDEX_MAX = 48;

struct WaveReader {
  const uint8_t* image = nullptr;
  uint32_t size = 0;
  WaveFileFormat format;
  std::vector<int16_t> linear;   // the first channel, decoded
  std::vector<uint8_t> samples;  // ADPCM bytes
  int predictor = 0;
  int index = 0;
};

// Set to the thread's record on entry (core/thread_record.h says why).
thread_local constinit WaveReader* r = nullptr;

// The file's samples, decoded for the codings this program knows.
void scanChunks() {
  r->format = parseWaveFile(r->image, r->size);
  r->linear = decodeWaveFile(r->image, r->format);
}

uint8_t encodeSample(int sample) {
  const int step = STEP_TABLE[r->index];
  int d = sample - r->predictor;
  uint8_t code = 0;
  if (d < 0) {
    code = 8;
    d = -d;
  }
  int q = ((d * 8) / step - 1) / 2;
  q = std::clamp(q, 0, 7);
  code = uint8_t(code | q);
  const int move = step * (2 * q + 1) / 8;
  r->predictor = std::clamp(r->predictor + (code & 8 ? -move : move), PREDICTOR_MIN, PREDICTOR_MAX);
  r->index = std::clamp(r->index + INDEX_ADJUST[q], 0, STEP_INDEX_MAX);
  return code;
}

// Encodes the samples into r->samples; returns the bytes written.
uint32_t encodeWave(uint32_t targetRate, uint32_t maxBytes) {
  r->predictor = 0;
  r->index = 0;
  if (r->linear.empty() || maxBytes <= WAVE_END_RESERVE) return 0;
  const uint64_t frames = r->linear.size();
  const uint32_t sourceRate = r->format.rate ? r->format.rate : DEFAULT_RATE;
  r->samples.resize(maxBytes);
  uint8_t* out = r->samples.data();
  uint32_t produced = 0;
  bool highNibble = false;
  uint32_t carry = 0;
  for (uint64_t frame = 0; frame < frames;) {
    if (produced + WAVE_END_RESERVE >= maxBytes) break;
    // The step-table coder works on 12-bit values.
    const uint8_t code = encodeSample(r->linear[frame] / 16);
    if (!highNibble) {
      out[produced] = code;
    } else {
      out[produced++] |= uint8_t(code << 4);
    }
    highNibble = !highNibble;
    const uint64_t total = uint64_t(sourceRate) + carry;
    frame += total / targetRate;
    carry = uint32_t(total % targetRate);
  }
  if (highNibble) ++produced;  // a last code alone fills the low nibble
  return produced;
}

// Length of the sound in tenths of a second, as the player measures it.
uint32_t waveTenths() {
  if (options.waveLengthTenths > 0) return uint32_t(options.waveLengthTenths);
  uint64_t ms = 0;
  if (!r->linear.empty() && r->format.rate)
    ms = uint64_t(r->linear.size()) * 1000 / r->format.rate;
  else if (r->format.hasData && r->format.byteRate)
    ms = uint64_t(r->format.length) * 1000 / r->format.byteRate;
  return uint32_t(std::min<uint64_t>(ms / 100 + 1, 0xFFFF));
}

void readSound(uint8_t* out, int32_t* destinationSize, uint32_t capacity) {
  writeTrackChunk(out);
  EventSink sink = sinkFor(out, capacity);
  submitTempo(sink, 0, 0, WAVE_TEMPO_MICROS);
  writer.tempoBpm = 60000000u / WAVE_TEMPO_MICROS;

  scanChunks();
  const int rateCode = std::clamp(options.waveRateCode, 0, 4);
  // The wave shortens rather than vanishes when the buffer is small.
  const uint32_t room = capacity > STREAM_OVERHEAD ? capacity - STREAM_OVERHEAD : 0;
  const uint32_t maxBytes = std::min(MAX_WAVE_BYTES, room);
  const uint32_t bytes = encodeWave(WAVE_RATES[rateCode], maxBytes);
  // The list entry names where the PCM samples lie in the source and how many ADPCM bytes
  // came of them.
  songStats.waves[0] = WaveEntry{bytes ? WAVE_RATES[rateCode] : 0, r->format.data, bytes};
  songStats.waveCount = 1;
  submitWave(sink, 0, 0, WAVE_NUMBER, bytes ? uint8_t(rateCode) : WAVE_RATE_NONE, r->samples.data(),
             bytes);

  const uint32_t leadIn = uint32_t(uint64_t(WAVE_TIMEBASE) * 4 * waveTenths() / 10);
  submitNote(sink, 0, 0, WAVE_NOTE_STATUS, WAVE_NUMBER, WAVE_VELOCITY, leadIn);
  if (!sink.full) writer.now = std::max(writer.now, leadIn);  // the track ends with the sound
  endReaderStream(out, destinationSize);
}

bool isRiffWave(const uint8_t* image, uint32_t size) {
  return size >= 12 && std::memcmp(image, "RIFF", 4) == 0 && std::memcmp(image + 8, "WAVE", 4) == 0;
}

// A sound has no texts: the stream's beginning clears what the last song left.
bool begin(const uint8_t* source, uint32_t sourceSize, uint8_t* destination, uint32_t capacity) {
  r->image = source;
  r->size = source ? sourceSize : 0;
  return beginReaderStream(destination, capacity, EMPTY_STREAM_SIZE + 16, WAVE_TIMEBASE);
}

}  // namespace

void readWave(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
              int32_t* destinationSize, uint32_t capacity) {
  r = &threadRecord<WaveReader>();
  *destinationSize = 0;
  if (!begin(source, sourceSize, destination, capacity)) return;
  readSound(destination, destinationSize, capacity);
  reportRead(r->size, isRiffWave(r->image, r->size) ? 8 + uint64_t(getLE(r->image + 4, 4)) : 0);
}

void readQcp(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
             int32_t* destinationSize, uint32_t capacity) {
  r = &threadRecord<WaveReader>();
  *destinationSize = 0;
  // Only the .wav that the voice converter made from the .qcp can be read; the voice file itself
  // yields nothing.
  if (!source || !isRiffWave(source, sourceSize)) return;
  if (!begin(source, sourceSize, destination, capacity)) return;
  readSound(destination, destinationSize, capacity);
  reportRead(r->size, isRiffWave(r->image, r->size) ? 8 + uint64_t(getLE(r->image + 4, 4)) : 0);
}

}  // namespace vlm
