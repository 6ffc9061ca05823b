// The one audio output of the program: the synthesizer (FluidSynth with a General MIDI SoundFont)
// and the wave sounds are mixed into a single stream played through FluidSynth's audio drivers
// (pulseaudio, alsa or sdl2, whichever opens first).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sequencer.h"

#ifdef VLM_HAVE_FLUIDSYNTH
typedef struct _fluid_synth_t fluid_synth_t;
#endif

namespace vlm {

inline constexpr const char* DEFAULT_SOUNDFONT = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// The SoundFont to use: options.soundfont when set, else the default.
std::string soundfontPath();

// PCM content of a RIFF WAVE image.
struct PcmWave {
  uint32_t sampleRate = 0;
  uint16_t channels = 0;
  uint16_t bitsPerSample = 0;  // 8 (unsigned) or 16 (signed)
  const uint8_t* data = nullptr;
  uint32_t dataSize = 0;  // clipped to the image
  uint32_t frames() const {
    uint32_t frameBytes = uint32_t(channels) * (bitsPerSample / 8);
    return frameBytes ? dataSize / frameBytes : 0;
  }
  uint32_t lengthMs() const {
    return sampleRate ? uint32_t(uint64_t(frames()) * 1000 / sampleRate) : 0;
  }
};
// False when the image is not an uncompressed 8- or 16-bit PCM WAVE.
bool parsePcmWave(const uint8_t* image, uint32_t size, PcmWave* wave);
// Converts PCM frames to 16-bit stereo at `rate` (linear interpolation), appending to `out`.
void resampleToStereo(const PcmWave& wave, uint32_t rate, std::vector<int16_t>* out);

#ifdef VLM_HAVE_FLUIDSYNTH
// The synthesizer of the open audio output, opening it first when needed. Null with the reason in
// `error` (DEVERR_NO_AUDIO_OUTPUT or DEVERR_NO_SOUNDFONT) when it cannot be opened.
fluid_synth_t* audioSynth(DeviceError* error);
// Keeps the audio thread between two blocks for as long as the lock is held. FluidSynth runs its
// players from inside the render with no lock of its own, so a player is made, filled, started,
// stopped and deleted only under this lock. Do not open or close the output while holding it.
std::unique_lock<std::mutex> pauseAudioRendering();
#endif
// Opens the audio output if it is not open yet; DEVICE_OK when it plays.
DeviceError openAudioOutput();
// Plays a wave file asynchronously beside the synthesizer, replacing a wave sound that still
// plays (as the desktop's simple sound call does). False when the file is not PCM or there is no
// audio output.
bool playWaveSound(const char* path);
bool playWaveImage(const uint8_t* image, uint32_t size);
void stopWaveSounds();
bool waveSoundPlaying();
// When no audio driver opens, play into a silent output that keeps real time instead of failing
// (for tests of the devices on machines without sound). Off by default; takes effect at the next
// open.
void allowSilentAudioOutput(bool allow);
// Closes the output (at exit).
void closeAudioOutput();

// A second synthesizer beside FluidSynth: called on the audio thread for every stretch of at
// most 64 frames before FluidSynth renders it, to send FluidSynth the messages due and to add its
// own sound into `left` and `right` (full scale 1.0). An empty function removes it; setting
// waits until the audio thread no longer runs the old one.
using AudioSource = std::function<void(int frames, float* left, float* right)>;
void setAudioSource(AudioSource source);
// The sample rate of the open audio output (0 when it is not open).
uint32_t audioSampleRate();

}  // namespace vlm
