// The audio output: one FluidSynth synthesizer and a list of wave sounds, mixed in the driver's
// callback. Opened on first use; a failed open is answered with an error code, never a wait.
#include "platform/audio.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "core/codec.h"
#include "core/conversion_options.h"

#ifdef VLM_HAVE_FLUIDSYNTH
#include <fcntl.h>
#include "platform/fluidsynth_api.h"
#include <unistd.h>
#endif

namespace vlm {

std::string soundfontPath() {
  return options.soundfont.empty() ? std::string(DEFAULT_SOUNDFONT) : options.soundfont;
}

bool parsePcmWave(const uint8_t* image, uint32_t size, PcmWave* wave) {
  *wave = PcmWave{};
  if (!image || size < 12 || std::memcmp(image, "RIFF", 4) != 0 ||
      std::memcmp(image + 8, "WAVE", 4) != 0)
    return false;
  bool haveFormat = false;
  uint32_t pos = 12;
  while (pos + 8 <= size) {
    const uint8_t* chunk = image + pos;
    uint32_t length = getLE(chunk + 4, 4);
    uint32_t body = pos + 8;
    uint32_t available = size - body;
    if (std::memcmp(chunk, "fmt ", 4) == 0 && length >= 16 && available >= 16) {
      if (getLE(chunk + 8, 2) != 1) return false;  // only uncompressed PCM
      wave->channels = uint16_t(getLE(chunk + 10, 2));
      wave->sampleRate = getLE(chunk + 12, 4);
      wave->bitsPerSample = uint16_t(getLE(chunk + 22, 2));
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      wave->data = image + body;
      wave->dataSize = std::min(length, available);
      break;
    }
    if (length > available) break;
    pos = body + length + (length & 1);
  }
  return haveFormat && wave->data && wave->channels >= 1 && wave->channels <= 8 &&
         wave->sampleRate > 0 && (wave->bitsPerSample == 8 || wave->bitsPerSample == 16);
}

namespace {

// Sample of channel c of frame f, as a 16-bit value.
int sampleAt(const PcmWave& w, uint32_t f, uint32_t c) {
  uint32_t index = f * w.channels + c;
  if (w.bitsPerSample == 8) return (int(w.data[index]) - 128) << 8;
  return int16_t(getLE(w.data + index * 2, 2));
}

}  // namespace

void resampleToStereo(const PcmWave& wave, uint32_t rate, std::vector<int16_t>* out) {
  uint32_t frames = wave.frames();
  if (!frames || !rate) return;
  uint64_t outFrames = uint64_t(frames) * rate / wave.sampleRate;
  out->reserve(out->size() + outFrames * 2);
  uint32_t right = wave.channels > 1 ? 1 : 0;
  for (uint64_t i = 0; i < outFrames; ++i) {
    // Source position in 1/65536 frames.
    uint64_t p = (i * wave.sampleRate << 16) / rate;
    uint32_t f = uint32_t(p >> 16);
    int frac = int(p & 0xFFFF);
    uint32_t g = std::min(f + 1, frames - 1);
    for (uint32_t c : {0u, right}) {
      int a = sampleAt(wave, f, c), b = sampleAt(wave, g, c);
      out->push_back(int16_t(a + (int64_t(b - a) * frac >> 16)));
    }
  }
}

#ifdef VLM_HAVE_FLUIDSYNTH

namespace {

void quietLog(int, const char*, void*) {}

// The sound libraries behind the drivers print their own complaints when no device exists; the
// caller gets an error code instead, so standard error is muted while the drivers are tried.
class MutedStderr {
 public:
  MutedStderr() {
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    int null = ::open("/dev/null", O_WRONLY);
    if (saved_ >= 0 && null >= 0) ::dup2(null, STDERR_FILENO);
    if (null >= 0) ::close(null);
  }
  ~MutedStderr() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }

 private:
  int saved_ = -1;
};

struct AudioEngine {
  fluid_settings_t* settings = nullptr;
  fluid_synth_t* synth = nullptr;
  fluid_audio_driver_t* driver = nullptr;
  std::string soundfont;
  int soundfontId = -1;
  double rate = 44100;

  // The silent output: a thread that pulls the mix at real-time pace and discards it.
  std::thread silent;
  std::atomic<bool> silentRunning{false};

  AudioSource source;  // guarded by renderLock
  std::mutex waveLock;        // guards the wave sound between the caller and the audio thread
  std::vector<int16_t> wave;  // stereo frames at `rate`
  size_t wavePos = 0;

  ~AudioEngine() {
    silentRunning = false;
    if (silent.joinable()) silent.join();
    if (driver) delete_fluid_audio_driver(driver);
    if (synth) delete_fluid_synth(synth);
    if (settings) delete_fluid_settings(settings);
  }
};

std::mutex engineLock;
std::unique_ptr<AudioEngine> engine;
// Held by the audio thread while it renders a block. FluidSynth walks its players' timers and
// calls their callbacks inside the render without a lock of its own, so whatever adds, changes or
// removes a player, or the second synthesizer, holds this lock. It lives outside the engine so
// that a holder never outlives the mutex; take it after engineLock, never before.
std::mutex renderLock;
std::atomic<bool> silentAllowed{false};

// The driver's callback: the synthesizer, then the wave sound added on top.
int mixAudio(void* data, int len, int nfx, float* fx[], int nout, float* out[]) {
  auto* e = static_cast<AudioEngine*>(data);
  for (int i = 0; i < nout; ++i) std::fill(out[i], out[i] + len, 0.0f);
  for (int i = 0; i < nfx; ++i) std::fill(fx[i], fx[i] + len, 0.0f);
  int result = FLUID_OK;
  {
    std::lock_guard<std::mutex> hold(renderLock);
    if (e->source && nout >= 2) {
      // In FluidSynth's own block size, so that the messages of the source land in the block
      // they belong to.
      constexpr int BLOCK = 64;
      for (int at = 0; at < len && result == FLUID_OK; at += BLOCK) {
        const int n = std::min(BLOCK, len - at);
        e->source(n, out[0] + at, out[1] + at);
        float* part[2] = {out[0] + at, out[1] + at};
        float* fxPart[8] = {};
        for (int i = 0; i < nfx && i < 8; ++i) fxPart[i] = fx[i] + at;
        result = fluid_synth_process(e->synth, n, std::min(nfx, 8), fxPart, 2, part);
      }
    } else {
      result = fluid_synth_process(e->synth, len, nfx, fx, nout, out);
    }
  }
  std::lock_guard<std::mutex> hold(e->waveLock);
  if (nout >= 2 && e->wavePos < e->wave.size()) {
    for (int i = 0; i < len && e->wavePos + 1 < e->wave.size(); ++i) {
      out[0][i] += e->wave[e->wavePos++] / 32768.0f;
      out[1][i] += e->wave[e->wavePos++] / 32768.0f;
    }
  }
  return result;
}

DeviceError loadSoundfont(AudioEngine& e) {
  std::string path = soundfontPath();
  if (e.soundfontId >= 0 && path == e.soundfont) return DEVICE_OK;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return DEVERR_NO_SOUNDFONT;
  int id = fluid_synth_sfload(e.synth, path.c_str(), 1);
  if (id == FLUID_FAILED) return DEVERR_NO_SOUNDFONT;
  if (e.soundfontId >= 0) fluid_synth_sfunload(e.synth, e.soundfontId, 1);
  e.soundfontId = id;
  e.soundfont = path;
  return DEVICE_OK;
}

AudioEngine* openEngine(DeviceError* error) {
  *error = DEVICE_OK;
  if (engine) {
    *error = loadSoundfont(*engine);
    return *error ? nullptr : engine.get();
  }
  for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
    fluid_set_log_function(level, quietLog, nullptr);
  auto e = std::make_unique<AudioEngine>();
  e->settings = new_fluid_settings();
  if (!e->settings) return *error = DEVERR_NO_AUDIO_OUTPUT, nullptr;
  fluid_settings_setint(e->settings, "synth.lock-memory", 0);
  fluid_settings_setstr(e->settings, "player.timing-source", "sample");
  fluid_settings_setnum(e->settings, "synth.gain", 0.5);
  e->synth = new_fluid_synth(e->settings);
  if (!e->synth) return *error = DEVERR_NO_AUDIO_OUTPUT, nullptr;
  if ((*error = loadSoundfont(*e)) != DEVICE_OK) return nullptr;
  fluid_settings_getnum(e->settings, "synth.sample-rate", &e->rate);
  MutedStderr muted;
  for (const char* name : {"pulseaudio", "alsa", "sdl2"}) {
    if (fluid_settings_setstr(e->settings, "audio.driver", name) != FLUID_OK) continue;
    e->driver = new_fluid_audio_driver2(e->settings, mixAudio, e.get());
    if (e->driver) break;
  }
  if (!e->driver && silentAllowed) {
    e->silentRunning = true;
    AudioEngine* raw = e.get();
    e->silent = std::thread([raw] {
      constexpr int FRAMES = 441;  // 10 ms at 44.1 kHz
      std::vector<float> left(FRAMES), right(FRAMES);
      auto next = std::chrono::steady_clock::now();
      while (raw->silentRunning) {
        float* out[2] = {left.data(), right.data()};
        int frames = int(raw->rate / 100);
        if (frames > FRAMES) frames = FRAMES;
        mixAudio(raw, frames, 0, nullptr, 2, out);
        next += std::chrono::milliseconds(10);
        std::this_thread::sleep_until(next);
      }
    });
  } else if (!e->driver) {
    return *error = DEVERR_NO_AUDIO_OUTPUT, nullptr;
  }
  engine = std::move(e);
  return engine.get();
}

}  // namespace

fluid_synth_t* audioSynth(DeviceError* error) {
  std::lock_guard<std::mutex> hold(engineLock);
  AudioEngine* e = openEngine(error);
  return e ? e->synth : nullptr;
}

DeviceError openAudioOutput() {
  DeviceError error;
  audioSynth(&error);
  return error;
}

bool playWaveImage(const uint8_t* image, uint32_t size) {
  PcmWave wave;
  if (!parsePcmWave(image, size, &wave)) return false;
  std::lock_guard<std::mutex> hold(engineLock);
  DeviceError error;
  AudioEngine* e = openEngine(&error);
  if (!e) return false;
  std::vector<int16_t> frames;
  resampleToStereo(wave, uint32_t(e->rate), &frames);
  std::lock_guard<std::mutex> holdWave(e->waveLock);
  e->wave = std::move(frames);
  e->wavePos = 0;
  return true;
}

void stopWaveSounds() {
  std::lock_guard<std::mutex> hold(engineLock);
  if (!engine) return;
  std::lock_guard<std::mutex> holdWave(engine->waveLock);
  engine->wave.clear();
  engine->wavePos = 0;
}

bool waveSoundPlaying() {
  std::lock_guard<std::mutex> hold(engineLock);
  if (!engine) return false;
  std::lock_guard<std::mutex> holdWave(engine->waveLock);
  return engine->wavePos < engine->wave.size();
}

void closeAudioOutput() {
  std::lock_guard<std::mutex> hold(engineLock);
  engine.reset();
}

uint32_t audioSampleRate() {
  std::lock_guard<std::mutex> hold(engineLock);
  return engine ? uint32_t(engine->rate) : 0;
}

void setAudioSource(AudioSource source) {
  std::lock_guard<std::mutex> hold(engineLock);
  if (!engine) return;
  std::lock_guard<std::mutex> holdRender(renderLock);
  engine->source = std::move(source);
}

void allowSilentAudioOutput(bool allow) {
  silentAllowed = allow;
}

std::unique_lock<std::mutex> pauseAudioRendering() {
  return std::unique_lock<std::mutex>(renderLock);
}

#else  // no synthesizer library: there is never an audio output

DeviceError openAudioOutput() {
  return DEVERR_NO_AUDIO_OUTPUT;
}
bool playWaveImage(const uint8_t*, uint32_t) {
  return false;
}
void stopWaveSounds() {}
bool waveSoundPlaying() {
  return false;
}
void closeAudioOutput() {}
void allowSilentAudioOutput(bool) {}
void setAudioSource(AudioSource) {}
uint32_t audioSampleRate() {
  return 0;
}

#endif

bool playWaveSound(const char* path) {
  std::vector<uint8_t> image;
  if (!readFileBytes(path, &image)) return false;
  return playWaveImage(image.data(), uint32_t(image.size()));
}

}  // namespace vlm
