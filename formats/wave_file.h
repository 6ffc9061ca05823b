// RIFF WAVE sound files as collections hold them: what their "fmt " chunk says, and their
// samples decoded to 16-bit linear values for the codings ringtone collections use: PCM of 8 to
// 32 bits, IMA ADPCM and Microsoft ADPCM. Other codings are named but not decoded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vlm {

// Format tags of the "fmt " chunk.
inline constexpr uint16_t WAVE_TAG_PCM = 0x0001;
inline constexpr uint16_t WAVE_TAG_MS_ADPCM = 0x0002;
inline constexpr uint16_t WAVE_TAG_IMA_ADPCM = 0x0011;

struct WaveFileFormat {
  bool riffWave = false;  // begins "RIFF", size, "WAVE"
  bool hasFormat = false;
  uint16_t tag = WAVE_TAG_PCM;
  uint16_t channels = 1;
  uint32_t rate = 8000;
  uint32_t byteRate = 0;
  uint16_t blockAlign = 0;
  uint16_t bits = 8;
  uint16_t samplesPerBlock = 0;       // ADPCM: samples of one channel in a block
  std::vector<int16_t> coefficients;  // Microsoft ADPCM: predictor pairs
  bool hasData = false;
  uint32_t data = 0;    // offset of the "data" body
  uint32_t length = 0;  // its bytes within the image
};

// The step size of IMA ADPCM at a step index (0..88), for encoders that must move as the
// decoder does.
int imaStepSize(int index);

// Reads the chunks of a WAVE image; never reads past `size`.
WaveFileFormat parseWaveFile(const uint8_t* image, uint32_t size);
// Whether decodeWaveFile decodes the coding.
bool waveFileDecodable(const WaveFileFormat& format);
// "pcm", "ima-adpcm", "ms-adpcm", else "format 0x0055".
std::string waveFileCodingName(uint16_t tag);
// The first channel of the data as 16-bit samples at the file's rate; empty for a coding that
// is not decodable.
std::vector<int16_t> decodeWaveFile(const uint8_t* image, const WaveFileFormat& format);

}  // namespace vlm
