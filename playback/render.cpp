// Offline rendering: FluidSynth's player on a synthesizer without an audio driver, driven by
// fluid_synth_write_s16 one block at a time. Each block gets the voice samples that sound in it
// and goes straight to the sink, so nothing of the song is kept beyond one block.
#include "playback/render.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "core/codec.h"
#include "formats/adpcm.h"
#include "platform/audio.h"
#include "platform/sequencer.h"
#include "playback/handset_song.h"
#include "playback/waves.h"
#include "synth/handset_synth.h"

#ifdef VLM_HAVE_FLUIDSYNTH
#include "platform/fluidsynth_api.h"
#endif

namespace vlm {

namespace {
constexpr uint32_t MIN_RATE = 8000;
constexpr uint32_t MAX_RATE = 192000;
constexpr double VOICE_GAIN = 0.8;  // voice samples sit a little under full scale
constexpr double SYNTH_GAIN = 0.5;  // FluidSynth's default of 0.2 renders very quietly
constexpr uint32_t STEREO_FRAME_BYTES = 4;
// The largest data chunk a WAVE header can describe.
constexpr uint64_t MAX_WAVE_DATA = uint64_t(UINT32_MAX) - WAVE_HEADER_SIZE;
constexpr size_t FILE_BUFFER_BYTES = 256 * 1024;
constexpr int TEMP_ATTEMPTS = 100;
std::atomic<uint32_t> tempCounter{0};
}  // namespace

void writeWaveHeader(uint8_t* h, uint32_t sampleRate, uint16_t channels, uint32_t dataBytes) {
  std::memcpy(h, "RIFF", 4);
  putLE(h + 4, dataBytes + 36, 4);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  putLE(h + 16, 16, 4);
  putLE(h + 20, 1, 2);
  putLE(h + 22, channels, 2);
  putLE(h + 24, sampleRate, 4);
  putLE(h + 28, sampleRate * channels * 2, 4);
  putLE(h + 32, channels * 2, 2);
  putLE(h + 34, 16, 2);
  std::memcpy(h + 36, "data", 4);
  putLE(h + 40, dataBytes, 4);
}

void voicesFromStream(const uint8_t* stream, uint32_t size, double tempoScale,
                      std::vector<RenderVoice>* voices) {
  SongWaves song;
  collectWaves(stream, size, &song);
  if (tempoScale <= 0) tempoScale = 1;
  // One decoded copy per wave, shared by all its notes.
  std::vector<std::pair<const EmbeddedWave*, std::shared_ptr<const std::vector<int16_t>>>> decoded;
  for (const WaveNote& note : song.notes) {
    const EmbeddedWave* wave = song.find(note.number);
    if (!wave) continue;
    auto known = std::find_if(decoded.begin(), decoded.end(),
                              [&](const auto& d) { return d.first == wave; });
    if (known == decoded.end()) {
      // With the wave's own coding.
      decoded.emplace_back(wave,
                           std::make_shared<const std::vector<int16_t>>(decodeEmbeddedWave(*wave)));
      known = decoded.end() - 1;
    }
    RenderVoice v;
    v.samples = known->second;
    v.sampleRate = wave->sampleRate;
    v.startSeconds = note.seconds / tempoScale;
    voices->push_back(std::move(v));
  }
}

int renderCores(int requested) {
  return std::clamp(requested > 0 ? requested : 1, 1, MAX_RENDER_CORES);
}

int handsetRenderCores(int requested, const HandsetSong& song) {
  // The two synthesizers are the only work that runs side by side.
  if (requested > 0) return std::min(requested, 2);
  const double seconds = std::max(song.seconds, 1.0);
  const bool busy = double(song.handsetNotes) / seconds >= HANDSET_PARALLEL_NOTES_PER_SECOND &&
                    double(song.gmNotes) / seconds >= HANDSET_PARALLEL_NOTES_PER_SECOND;
  return busy && std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

namespace {

// Adds the voice samples into the blocks as the song reaches them. Voices enter in the order of
// their start and are summed in the order of the request, so the result does not depend on how
// the song is cut into blocks.
class VoiceMixer {
 public:
  VoiceMixer(const std::vector<RenderVoice>& voices, uint32_t rate) : voices_(voices) {
    for (size_t i = 0; i < voices.size(); ++i) {
      const RenderVoice& v = voices[i];
      if (!v.sampleRate || !v.samples || v.samples->empty()) continue;
      Span s;
      s.index = i;
      // Voices too late or too long for any WAVE file are clamped here and refused by the
      // length check of the caller.
      s.start = uint64_t(std::min(std::max(0.0, v.startSeconds) * rate + 0.5, 1e15));
      s.frames = uint64_t(v.samples->size()) * rate / v.sampleRate;
      s.sourceRate = v.sampleRate;
      s.rate = rate;
      if (!s.frames) continue;
      spans_.push_back(s);
      end_ = std::max(end_, s.start + s.frames);
    }
    std::stable_sort(spans_.begin(), spans_.end(),
                     [](const Span& a, const Span& b) { return a.start < b.start; });
  }

  // First frame after the last voice sample.
  uint64_t end() const { return end_; }

  // Adds the voices into `mix` (interleaved stereo) for frames first .. first + frames - 1.
  void mix(uint64_t first, uint32_t frames, float* mix) {
    const uint64_t last = first + frames;
    while (next_ < spans_.size() && spans_[next_].start < last) {
      const Span& s = spans_[next_++];
      auto at = std::lower_bound(active_.begin(), active_.end(), s.index,
                                 [](const Span& a, size_t index) { return a.index < index; });
      active_.insert(at, s);
    }
    for (const Span& s : active_) {
      const std::vector<int16_t>& samples = *voices_[s.index].samples;
      const size_t lastSample = samples.size() - 1;
      const uint64_t from = std::max(first, s.start);
      const uint64_t to = std::min(last, s.start + s.frames);
      for (uint64_t f = from; f < to; ++f) {
        const uint64_t i = f - s.start;
        const double pos = double(i) * s.sourceRate / s.rate;
        const size_t k = size_t(pos);
        const double frac = pos - double(k);
        const double a = samples[std::min(k, lastSample)];
        const double b = samples[std::min(k + 1, lastSample)];
        const float value = float((a + (b - a) * frac) * VOICE_GAIN);
        mix[(f - first) * 2] += value;
        mix[(f - first) * 2 + 1] += value;
      }
    }
    active_.erase(std::remove_if(active_.begin(), active_.end(),
                                 [&](const Span& s) { return s.start + s.frames <= last; }),
                  active_.end());
  }

 private:
  struct Span {
    size_t index = 0;
    uint64_t start = 0, frames = 0;
    uint32_t sourceRate = 0, rate = 0;
  };
  const std::vector<RenderVoice>& voices_;
  std::vector<Span> spans_;   // by start
  std::vector<Span> active_;  // sounding now, by index in the request
  size_t next_ = 0;
  uint64_t end_ = 0;
};

// Turns one block of synthesizer output plus voices into the 16-bit samples of the sink.
class BlockMixer {
 public:
  BlockMixer(const std::vector<RenderVoice>& voices, uint32_t rate)
      : voices_(voices, rate), mix_(RENDER_BLOCK_FRAMES * 2), out_(RENDER_BLOCK_FRAMES * 2) {}

  uint64_t voicesEnd() const { return voices_.end(); }
  uint64_t frames() const { return frames_; }

  // `synth` may be null for a block after the synthesizer has finished.
  bool emit(const int16_t* synth, uint32_t frames, const RenderSink& sink) {
    for (uint32_t i = 0; i < frames * 2; ++i) mix_[i] = synth ? float(synth[i]) : 0.0f;
    return finish(frames, sink);
  }

  // The same for synthesizer output already mixed as floats in 16-bit units.
  bool emitMix(const float* synth, uint32_t frames, const RenderSink& sink) {
    std::copy(synth, synth + frames * 2, mix_.begin());
    return finish(frames, sink);
  }

 private:
  bool finish(uint32_t frames, const RenderSink& sink) {
    voices_.mix(frames_, frames, mix_.data());
    for (uint32_t i = 0; i < frames * 2; ++i)
      out_[i] = int16_t(std::lrint(std::clamp(mix_[i], -32768.0f, 32767.0f)));
    frames_ += frames;
    return sink(out_.data(), frames);
  }

  VoiceMixer voices_;
  std::vector<float> mix_;
  std::vector<int16_t> out_;
  uint64_t frames_ = 0;
};

}  // namespace

// ---- Songs with their own voices: the handset synthesizer beside FluidSynth ------------------

namespace {

constexpr float FULL_SCALE = 32767.0f;
// Frames the two synthesizers render between two looks at the song's end (and between two
// meetings of their threads). The output is the same for one or two threads: every split of
// the work falls on event frames and on the 64-frame grid, wherever the chunks end.
constexpr uint32_t HANDSET_CHUNK_FRAMES = 16384;
constexpr uint32_t GRID = SYNTH_BLOCK_FRAMES;

// One of the two synthesizers with its share of the routed messages.
class Engine {
 public:
  Engine(const HandsetSong& song, uint32_t rate, bool handset) : song_(song), handset_(handset) {
    frames_.reserve(song.events.size());
    for (const HandsetEvent& e : song.events)
      frames_.push_back(uint64_t(std::llround(std::max(0.0, e.seconds) * rate)));
  }
  virtual ~Engine() = default;

  // Adds frames first .. first + count - 1 into `mix` (interleaved stereo, 16-bit units).
  void run(uint64_t first, uint32_t count, float* mix) {
    uint32_t done = 0;
    while (done < count) {
      const uint64_t now = first + done;
      while (next_ < frames_.size() && frames_[next_] <= now) {
        const HandsetEvent& e = song_.events[next_++];
        if (handset_ ? e.toHandset : e.toGm) dispatch(e);
      }
      uint64_t until = first + count;
      if (next_ < frames_.size()) until = std::min(until, frames_[next_]);
      until = std::min(until, (now / GRID + 1) * GRID);
      const uint32_t n = uint32_t(until - now);
      render(mix + 2 * size_t(done), n);
      done += n;
    }
  }
  virtual bool sounding() = 0;

 protected:
  virtual void dispatch(const HandsetEvent& e) = 0;
  virtual void render(float* mix, uint32_t frames) = 0;

 private:
  const HandsetSong& song_;
  const bool handset_;
  std::vector<uint64_t> frames_;
  size_t next_ = 0;
};

class HandsetEngine : public Engine {
 public:
  HandsetEngine(const HandsetSong& song, uint32_t rate) : Engine(song, rate, true), synth_(rate) {
    synth_.setVoices(song.voices);
  }
  bool sounding() override { return synth_.activeVoices() > 0; }

 protected:
  void dispatch(const HandsetEvent& e) override {
    const int ch = e.status & 0x0F;
    if (e.status == HANDSET_MASTER_VOLUME) return synth_.setMasterVolume(e.data1);
    switch (e.status & 0xF0) {
      case 0x90: synth_.playVoice(ch, e.data1, e.data2, size_t(std::max(e.voice, 0))); break;
      case 0x80: synth_.noteOff(ch, e.data1); break;
      default: synth_.handleMessage(e.status, e.data1, e.data2); break;
    }
  }
  void render(float* mix, uint32_t frames) override {
    float block[SYNTH_BLOCK_FRAMES * 2] = {};
    synth_.render(block, int(frames));
    for (uint32_t i = 0; i < frames * 2; ++i) mix[i] += block[i] * FULL_SCALE;
  }

 private:
  HandsetSynth synth_;
};

#ifdef VLM_HAVE_FLUIDSYNTH
class FluidEngine : public Engine {
 public:
  FluidEngine(const HandsetSong& song, uint32_t rate, fluid_synth_t* synth)
      : Engine(song, rate, false), synth_(synth) {}
  bool sounding() override { return fluid_synth_get_active_voice_count(synth_) > 0; }

 protected:
  void dispatch(const HandsetEvent& e) override { sendToFluidSynth(synth_, e); }
  void render(float* mix, uint32_t frames) override {
    float left[SYNTH_BLOCK_FRAMES], right[SYNTH_BLOCK_FRAMES];
    fluid_synth_write_float(synth_, int(frames), left, 0, 1, right, 0, 1);
    for (uint32_t i = 0; i < frames; ++i) {
      mix[2 * i] += left[i] * FULL_SCALE;
      mix[2 * i + 1] += right[i] * FULL_SCALE;
    }
  }

 private:
  fluid_synth_t* synth_;
};
#endif

int renderHandsetSong(const RenderRequest& request, const RenderSink& sink, RenderResult* result,
                      std::string* error) {
  const HandsetSong& song = *request.handset;
  const uint32_t rate = std::clamp(request.sampleRate, MIN_RATE, MAX_RATE);
  result->songSeconds = song.seconds;
  result->cpuCores = handsetRenderCores(request.cpuCores, song);
  BlockMixer mixer(request.voices, rate);
  const uint64_t songFrames = uint64_t(song.seconds * rate);
  const uint64_t maxTail = uint64_t(RENDER_TAIL_SECONDS * rate);
  const uint64_t longest =
      std::max(songFrames + maxTail + HANDSET_CHUNK_FRAMES, mixer.voicesEnd());
  if (longest * STEREO_FRAME_BYTES > MAX_WAVE_DATA) {
    *error = "the song is too long for a WAVE file";
    return 0;
  }
  HandsetEngine handset(song, rate);
  std::unique_ptr<Engine> gm;
#ifdef VLM_HAVE_FLUIDSYNTH
  // FluidSynth only when the song has notes for it: a song of the file's own voices needs no
  // SoundFont.
  fluid_settings_t* settings = nullptr;
  fluid_synth_t* synth = nullptr;
  if (song.gmNotes) {
    std::string soundfont = request.soundfont.empty() ? soundfontPath() : request.soundfont;
    settings = new_fluid_settings();
    fluid_settings_setnum(settings, "synth.sample-rate", double(rate));
    fluid_settings_setint(settings, "synth.lock-memory", 0);
    fluid_settings_setint(settings, "synth.threadsafe-api", 0);
    fluid_settings_setnum(settings, "synth.gain", SYNTH_GAIN);
    fluid_settings_setint(settings, "synth.cpu-cores", 1);
    synth = settings ? new_fluid_synth(settings) : nullptr;
    if (!synth || fluid_synth_sfload(synth, soundfont.c_str(), 1) == FLUID_FAILED) {
      *error = deviceErrorText(DEVERR_NO_SOUNDFONT) + " (" + soundfont + ")";
      if (synth) delete_fluid_synth(synth);
      if (settings) delete_fluid_settings(settings);
      return 0;
    }
    gm = std::make_unique<FluidEngine>(song, rate, synth);
  }
#endif
  std::vector<float> mix(size_t(HANDSET_CHUNK_FRAMES) * 2), gmMix(mix.size());
  uint64_t frame = 0;
  bool ok = true;
  while (ok) {
    // The song, then the release tail until both synthesizers fall silent.
    if (frame >= songFrames &&
        (frame >= songFrames + maxTail || (!handset.sounding() && !(gm && gm->sounding()))))
      break;
    std::fill(mix.begin(), mix.end(), 0.0f);
    std::fill(gmMix.begin(), gmMix.end(), 0.0f);
    if (gm && result->cpuCores >= 2) {
      std::thread other([&] { handset.run(frame, HANDSET_CHUNK_FRAMES, mix.data()); });
      gm->run(frame, HANDSET_CHUNK_FRAMES, gmMix.data());
      other.join();
    } else {
      handset.run(frame, HANDSET_CHUNK_FRAMES, mix.data());
      if (gm) gm->run(frame, HANDSET_CHUNK_FRAMES, gmMix.data());
    }
    for (size_t i = 0; i < mix.size(); ++i) mix[i] += gmMix[i];
    for (uint32_t at = 0; ok && at < HANDSET_CHUNK_FRAMES; at += RENDER_BLOCK_FRAMES)
      ok = mixer.emitMix(mix.data() + 2 * size_t(at), RENDER_BLOCK_FRAMES, sink);
    frame += HANDSET_CHUNK_FRAMES;
  }
  gm.reset();
#ifdef VLM_HAVE_FLUIDSYNTH
  if (synth) delete_fluid_synth(synth);
  if (settings) delete_fluid_settings(settings);
#endif
  while (ok && mixer.frames() < mixer.voicesEnd()) {
    const uint32_t n =
        uint32_t(std::min<uint64_t>(RENDER_BLOCK_FRAMES, mixer.voicesEnd() - mixer.frames()));
    ok = mixer.emit(nullptr, n, sink);
  }
  if (!ok) {
    if (error->empty()) *error = "the output could not be written";
    return 0;
  }
  result->frames = uint32_t(mixer.frames());
  return 1;
}

}  // namespace

int renderSmf(const RenderRequest& request, const RenderSink& sink, RenderResult* result,
              std::string* error) {
  *result = RenderResult{};
  if (request.handset) return renderHandsetSong(request, sink, result, error);
  SongTiming timing;
  uint32_t offset = 0, length = 0;
  if (!readSongTiming(request.smf, request.smfSize, &timing) ||
      !findSmfData(request.smf, request.smfSize, &offset, &length)) {
    *error = deviceErrorText(DEVERR_INVALID_FILE);
    return 0;
  }
  const uint32_t rate = std::clamp(request.sampleRate, MIN_RATE, MAX_RATE);
  result->songSeconds = timing.tickToMicros(timing.endTick) / 1e6;
  result->cpuCores = renderCores(request.cpuCores);

  // The song, bounded by its own length plus a margin in case the player lingers, then the
  // release tail until the synthesizer falls silent; voices may run on past both.
  BlockMixer mixer(request.voices, rate);
  const uint64_t songFrames = uint64_t(result->songSeconds * rate);
  const uint64_t maxSong = songFrames + rate;
  const uint64_t maxTail = uint64_t(RENDER_TAIL_SECONDS * rate);
  const uint64_t longest = std::max(maxSong + maxTail + 2 * RENDER_BLOCK_FRAMES, mixer.voicesEnd());
  if (longest * STEREO_FRAME_BYTES > MAX_WAVE_DATA) {
    *error = "the song is too long for a WAVE file";
    return 0;
  }

#ifdef VLM_HAVE_FLUIDSYNTH
  std::string soundfont = request.soundfont.empty() ? soundfontPath() : request.soundfont;
  fluid_settings_t* settings = new_fluid_settings();
  fluid_settings_setnum(settings, "synth.sample-rate", double(rate));
  fluid_settings_setstr(settings, "player.timing-source", "sample");
  fluid_settings_setint(settings, "synth.lock-memory", 0);
  fluid_settings_setint(settings, "synth.threadsafe-api", 0);
  fluid_settings_setnum(settings, "synth.gain", SYNTH_GAIN);
  fluid_settings_setint(settings, "synth.cpu-cores", result->cpuCores);
  fluid_synth_t* synth = new_fluid_synth(settings);
  fluid_player_t* player = nullptr;
  bool ok = synth && fluid_synth_sfload(synth, soundfont.c_str(), 1) != FLUID_FAILED;
  if (!ok) *error = deviceErrorText(DEVERR_NO_SOUNDFONT) + " (" + soundfont + ")";
  if (ok) {
    player = new_fluid_player(synth);
    ok = player && fluid_player_add_mem(player, request.smf + offset, length) == FLUID_OK &&
         fluid_player_play(player) == FLUID_OK;
    if (!ok) *error = deviceErrorText(DEVERR_INVALID_FILE);
  }
  if (ok) {
    std::vector<int16_t> block(RENDER_BLOCK_FRAMES * 2);
    uint64_t tail = 0;
    while (ok) {
      // The player lingers after the last event, so the song ends at its last tick.
      bool playing = fluid_player_get_status(player) == FLUID_PLAYER_PLAYING &&
                     fluid_player_get_current_tick(player) < int(timing.endTick) &&
                     mixer.frames() < maxSong;
      if (!playing) {
        if (tail >= maxTail || fluid_synth_get_active_voice_count(synth) == 0) break;
      }
      fluid_synth_write_s16(synth, int(RENDER_BLOCK_FRAMES), block.data(), 0, 2, block.data(), 1,
                            2);
      ok = mixer.emit(block.data(), RENDER_BLOCK_FRAMES, sink);
      if (!playing) tail += RENDER_BLOCK_FRAMES;
    }
    if (!ok && error->empty()) *error = "the output could not be written";
  }
  if (player) delete_fluid_player(player);
  if (synth) delete_fluid_synth(synth);
  delete_fluid_settings(settings);
  if (!ok) return 0;
#else
  (void)sink;
  *error = deviceErrorText(DEVERR_NO_AUDIO_OUTPUT);
  return 0;
#endif

  // Voices that run past the synthesized part lengthen the output.
  while (mixer.frames() < mixer.voicesEnd()) {
    const uint32_t n =
        uint32_t(std::min<uint64_t>(RENDER_BLOCK_FRAMES, mixer.voicesEnd() - mixer.frames()));
    if (!mixer.emit(nullptr, n, sink)) {
      if (error->empty()) *error = "the output could not be written";
      return 0;
    }
  }
  result->frames = uint32_t(mixer.frames());
  return 1;
}

int renderSmfToWave(const RenderRequest& request, std::vector<uint8_t>* wave, RenderResult* result,
                    std::string* error) {
  wave->assign(WAVE_HEADER_SIZE, 0);
  auto append = [&](const int16_t* pcm, uint32_t frames) {
    const size_t at = wave->size();
    wave->resize(at + size_t(frames) * STEREO_FRAME_BYTES);
    uint8_t* p = wave->data() + at;
    for (uint32_t i = 0; i < frames * 2; ++i, p += 2) putLE(p, uint16_t(pcm[i]), 2);
    return true;
  };
  if (!renderSmf(request, append, result, error)) {
    wave->clear();
    return 0;
  }
  const uint32_t rate = std::clamp(request.sampleRate, MIN_RATE, MAX_RATE);
  writeWaveHeader(wave->data(), rate, 2, uint32_t(wave->size() - WAVE_HEADER_SIZE));
  return 1;
}

namespace {

// A file written under a temporary name beside its destination and renamed into place only when
// it is complete; destroyed unfinished, it removes the temporary file.
class AtomicFile {
 public:
  ~AtomicFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!temp_.empty()) ::unlink(temp_.c_str());
  }

  bool open(const char* path) {
    target_ = path;
    // Write through a symbolic link, as opening the link for writing would.
    struct stat st;
    if (::lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
      if (char* real = ::realpath(path, nullptr)) {
        target_ = real;
        std::free(real);
      }
    }
    // A replaced file keeps its permission bits; a new one gets those of a normal create.
    if (::stat(target_.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) return fail(EISDIR);
      keepMode_ = true;
      mode_ = st.st_mode & 07777;
    }
    const size_t slash = target_.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string("./") : target_.substr(0, slash + 1);
    for (int attempt = 0; attempt < TEMP_ATTEMPTS && fd_ < 0; ++attempt) {
      temp_ = folder + ".vlmrender-" + std::to_string(::getpid()) + "-" +
              std::to_string(tempCounter.fetch_add(1)) + ".wav";
      fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
      const int code = errno;
      temp_.clear();
      return fail(code);
    }
    buffer_.reserve(FILE_BUFFER_BYTES);
    return true;
  }

  bool write(const uint8_t* data, size_t size) {
    if (buffer_.size() + size > FILE_BUFFER_BYTES && !flush()) return false;
    buffer_.insert(buffer_.end(), data, data + size);
    return true;
  }

  // Replaces bytes already written (the header).
  bool patch(uint64_t offset, const uint8_t* data, size_t size) {
    if (!flush()) return false;
    if (::pwrite(fd_, data, size, off_t(offset)) != ssize_t(size)) return fail(errno ? errno : EIO);
    return true;
  }

  bool commit() {
    if (!flush()) return false;
    if ((keepMode_ && ::fchmod(fd_, mode_) != 0) || ::fsync(fd_) != 0) return fail(errno);
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) return fail(errno);
    if (::rename(temp_.c_str(), target_.c_str()) != 0) return fail(errno);
    temp_.clear();
    // Makes the rename itself durable; failure here loses nothing.
    const size_t slash = target_.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target_.substr(0, slash + 1);
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      ::fsync(dirFd);
      ::close(dirFd);
    }
    return true;
  }

  std::string reason() const { return std::strerror(errno_); }

 private:
  std::string target_, temp_;
  int fd_ = -1;
  bool keepMode_ = false;
  mode_t mode_ = 0;
  int errno_ = 0;
  std::vector<uint8_t> buffer_;

  bool fail(int code) {
    errno_ = code ? code : EIO;
    return false;
  }

  bool flush() {
    const uint8_t* p = buffer_.data();
    size_t left = buffer_.size();
    while (left) {
      ssize_t n = ::write(fd_, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return fail(n < 0 ? errno : ENOSPC);
      p += n;
      left -= size_t(n);
    }
    buffer_.clear();
    return true;
  }
};

}  // namespace

int renderSmfToFile(const RenderRequest& request, const char* path, RenderResult* result,
                    std::string* error) {
  *result = RenderResult{};
  AtomicFile file;
  auto writeFailed = [&]() {
    *error = std::string(path) + ": cannot be written (" + file.reason() + ")";
    result->outputFailed = true;
    return 0;
  };
  if (!path || !*path) {
    *error = "no output file";
    result->outputFailed = true;
    return 0;
  }
  if (!file.open(path)) return writeFailed();
  uint8_t header[WAVE_HEADER_SIZE] = {};
  if (!file.write(header, sizeof header)) return writeFailed();
  bool sinkFailed = false;
  std::vector<uint8_t> bytes(RENDER_BLOCK_FRAMES * STEREO_FRAME_BYTES);
  auto toFile = [&](const int16_t* pcm, uint32_t frames) {
    uint8_t* p = bytes.data();
    for (uint32_t i = 0; i < frames * 2; ++i, p += 2) putLE(p, uint16_t(pcm[i]), 2);
    sinkFailed = !file.write(bytes.data(), size_t(frames) * STEREO_FRAME_BYTES);
    return !sinkFailed;
  };
  if (!renderSmf(request, toFile, result, error)) {
    if (sinkFailed) return writeFailed();
    return 0;
  }
  const uint32_t rate = std::clamp(request.sampleRate, MIN_RATE, MAX_RATE);
  writeWaveHeader(header, rate, 2, result->frames * STEREO_FRAME_BYTES);
  if (!file.patch(0, header, sizeof header) || !file.commit()) return writeFailed();
  return 1;
}

}  // namespace vlm
