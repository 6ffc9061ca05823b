// The device runs in the audio output's callback: before each FluidSynth block it sends both
// synthesizers the messages due and adds the handset synthesizer's block. A watcher thread turns
// the song's end into the completion notice, so the notice never comes from inside the callback.
#include "playback/handset_player.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <string>
#include <thread>

#include "platform/audio.h"
#include "playback/handset_song.h"
#include "synth/handset_synth.h"

#ifdef VLM_HAVE_FLUIDSYNTH
#include "platform/fluidsynth_api.h"
#endif

namespace vlm {

namespace {

struct PreparedSong {
  std::string smf;
  std::shared_ptr<const HandsetSong> song;
};
std::mutex preparedLock;
PreparedSong prepared;

#ifdef VLM_HAVE_FLUIDSYNTH

constexpr auto WATCH_INTERVAL = std::chrono::milliseconds(10);

class HandsetSequencer : public TimedDevice {
 public:
  ~HandsetSequencer() override { close(); }

  DeviceError openElement(const char* smf, std::shared_ptr<const HandsetSong> song) {
    std::vector<uint8_t> image;
    if (!readFileBytes(smf, &image)) return DEVERR_FILE_NOT_FOUND;
    if (!readSongTiming(image.data(), uint32_t(image.size()), &timing_))
      return DEVERR_INVALID_FILE;
    DeviceError error = DEVICE_OK;
    fluid_ = audioSynth(&error);
    if (!fluid_) return error;
    rate_ = std::max<uint32_t>(audioSampleRate(), 8000);
    song_ = std::move(song);
    frames_.reserve(song_->events.size());
    for (const HandsetEvent& e : song_->events)
      frames_.push_back(uint64_t(std::llround(std::max(0.0, e.seconds) * rate_)));
    synth_ = std::make_unique<HandsetSynth>(rate_);
    open_ = true;
    return DEVICE_OK;
  }

  DeviceError play(const uint32_t* from, NotifyFn notify) override {
    if (!open_) return DEVERR_INVALID_DEVICE_ID;
    const uint64_t start = from ? framesOf(*from) : position_.load();
    if (from && start > endFrame()) return DEVERR_OUTOFRANGE;
    halt(NOTIFY_SUPERSEDED);
    if (start >= endFrame()) {
      position_ = endFrame();
      if (notify) notify(NOTIFY_SUCCESSFUL);
      return DEVICE_OK;
    }
    fluid_synth_system_reset(fluid_);
    synth_->setVoices(song_->voices);
    // Every control before the start, so the song resumes with its channels as they were.
    next_ = 0;
    while (next_ < frames_.size() && frames_[next_] < start) {
      const HandsetEvent& e = song_->events[next_++];
      if ((e.status & 0xF0) != 0x90 && (e.status & 0xF0) != 0x80) send(e);
    }
    position_ = start;
    notify_ = std::move(notify);
    ended_ = false;
    setAudioSource([this](int frames, float* left, float* right) { run(frames, left, right); });
    watching_ = true;
    watcher_ = std::thread([this] { watch(); });
    return DEVICE_OK;
  }

  DeviceError seek(uint32_t to) override {
    if (!open_) return DEVERR_INVALID_DEVICE_ID;
    const uint64_t frame = framesOf(to);
    if (frame > endFrame()) return DEVERR_OUTOFRANGE;
    halt(NOTIFY_ABORTED);
    position_ = frame;
    return DEVICE_OK;
  }

  DeviceError statusPosition(uint32_t* position) override {
    if (!open_) return DEVERR_INVALID_DEVICE_ID;
    const uint32_t ms = uint32_t(std::min(position_.load(), endFrame()) * 1000 / rate_);
    *position = format_ == TIME_FORMAT_SONGPTR ? timing_.tickToSongPtr(timing_.msToTick(ms)) : ms;
    return DEVICE_OK;
  }

 private:
  fluid_synth_t* fluid_ = nullptr;
  uint32_t rate_ = 44100;
  std::shared_ptr<const HandsetSong> song_;
  std::vector<uint64_t> frames_;
  std::unique_ptr<HandsetSynth> synth_;
  size_t next_ = 0;  // audio thread while playing
  std::atomic<uint64_t> position_{0};
  std::atomic<bool> ended_{false}, watching_{false};
  NotifyFn notify_;
  std::thread watcher_;

  uint64_t endFrame() const { return uint64_t(timing_.tickToMs(timing_.endTick)) * rate_ / 1000; }
  uint64_t framesOf(uint32_t units) const {
    return uint64_t(timing_.tickToMs(fromUnits(units))) * rate_ / 1000;
  }

  void send(const HandsetEvent& e) {
    const int ch = e.status & 0x0F;
    if (e.toHandset) {
      if (e.status == HANDSET_MASTER_VOLUME)
        synth_->setMasterVolume(e.data1);
      else if ((e.status & 0xF0) == 0x90)
        synth_->playVoice(ch, e.data1, e.data2, size_t(std::max(e.voice, 0)));
      else if (e.status < 0xF0)
        synth_->handleMessage(e.status, e.data1, e.data2);
    }
    if (e.toGm) sendToFluidSynth(fluid_, e);
    if (e.status < 0xF0) noteChannelMessage(e.status, e.data1, e.data2);
  }

  // The audio thread's part: the messages due, then this stretch of the handset synthesizer.
  void run(int frames, float* left, float* right) {
    const uint64_t now = position_.load();
    while (next_ < frames_.size() && frames_[next_] <= now) send(song_->events[next_++]);
    float block[SYNTH_BLOCK_FRAMES * 2] = {};
    const int n = std::min(frames, SYNTH_BLOCK_FRAMES);
    synth_->render(block, n);
    for (int i = 0; i < n; ++i) {
      left[i] += block[2 * i];
      right[i] += block[2 * i + 1];
    }
    position_ = now + uint64_t(frames);
    if (now + uint64_t(frames) >= endFrame()) ended_ = true;
  }

  void watch() {
    while (watching_) {
      std::this_thread::sleep_for(WATCH_INTERVAL);
      if (!ended_) continue;
      NotifyFn done = std::move(notify_);
      notify_ = nullptr;
      watching_ = false;
      if (done) done(NOTIFY_SUCCESSFUL);
    }
  }

  void halt(uint32_t code) override {
    setAudioSource(nullptr);
    watching_ = false;
    endWatcher(watcher_);
    if (fluid_) fluid_synth_all_sounds_off(fluid_, -1);
    if (synth_) synth_->allSoundOff();
    clearChannelLevels();
    NotifyFn pending = std::move(notify_);
    notify_ = nullptr;
    if (pending) pending(code);
  }
};

#endif

}  // namespace

void preparePlayerHandsetSong(const char* input, FormatCode code, const char* playedSmf) {
  // Called right after the playback run: its reader left the input's voices, so a song that
  // does not want the handset synthesizer is not read again.
  auto song = std::make_shared<HandsetSong>();
  const bool wanted = input && playedSmf && wantsHandsetSynth(*smaf::songVoices()) &&
                      prepareHandsetSong(input, code, song.get());
  setPlayerHandsetSong(playedSmf, wanted ? std::move(song) : nullptr);
}

void setPlayerHandsetSong(const char* playedSmf, std::shared_ptr<const HandsetSong> song) {
  std::lock_guard<std::mutex> hold(preparedLock);
  prepared = song && playedSmf ? PreparedSong{playedSmf, std::move(song)} : PreparedSong{};
}

void releasePlayerHandsetSong() {
  std::lock_guard<std::mutex> hold(preparedLock);
  prepared = PreparedSong{};
}

bool playerHasHandsetSong(const char* smf) {
  std::lock_guard<std::mutex> hold(preparedLock);
  return smf && prepared.song && prepared.smf == smf;
}

DeviceError openHandsetSequencer(const char* smf, std::unique_ptr<MediaDevice>* device) {
  device->reset();
  std::shared_ptr<const HandsetSong> song;
  {
    std::lock_guard<std::mutex> hold(preparedLock);
    if (smf && prepared.smf == smf) song = prepared.song;
  }
  if (!song) return DEVERR_INVALID_FILE;
#ifdef VLM_HAVE_FLUIDSYNTH
  auto d = std::make_unique<HandsetSequencer>();
  const DeviceError e = d->openElement(smf, std::move(song));
  if (e == DEVICE_OK) *device = std::move(d);
  return e;
#else
  return DEVERR_NO_AUDIO_OUTPUT;
#endif
}

}  // namespace vlm
