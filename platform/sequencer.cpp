// The media devices over FluidSynth: the MIDI sequencer plays a Standard MIDI File with
// FluidSynth's player on the synthesizer of the audio output; the wave device measures wave
// files. Positions and lengths come from our own reading of the file's tempo map, so they are
// exact in both time formats whatever the player does internally.
#include "platform/sequencer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

#include "core/codec.h"
#include "platform/audio.h"

#ifdef VLM_HAVE_FLUIDSYNTH
#include "platform/fluidsynth_api.h"
#endif

namespace vlm {

bool readFileBytes(const char* path, std::vector<uint8_t>* bytes) {
  constexpr std::streamoff MAX_FILE = 256 << 20;
  bytes->clear();
  if (!path || !*path) return false;
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  std::streamoff size = in.tellg();
  if (size <= 0 || size > MAX_FILE) return false;
  bytes->resize(size_t(size));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes->data()), size);
  if (!in) bytes->clear();
  return !bytes->empty();
}

std::string deviceErrorText(DeviceError code) {
  switch (code) {
    case DEVICE_OK:
      return "エラーはありません。";
    case DEVERR_INVALID_DEVICE_ID:
      return "デバイスが開かれていません。";
    case DEVERR_UNRECOGNIZED_COMMAND:
      return "このデバイスはそのコマンドを認識できません。";
    case DEVERR_INVALID_DEVICE_NAME:
      return "指定されたデバイスは登録されていません。";
    case DEVERR_UNSUPPORTED_FUNCTION:
      return "このデバイスはその機能に対応していません。";
    case DEVERR_FILE_NOT_FOUND:
      return "指定されたファイルが見つかりません。パスとファイル名を確認してください。";
    case DEVERR_OUTOFRANGE:
      return "指定された値は範囲外です。";
    case DEVERR_BAD_TIME_FORMAT:
      return "指定された時間形式は無効です。";
    case DEVERR_INVALID_FILE:
      return "ファイルを再生できません。ファイルが壊れているか、形式が正しくありません。";
    case DEVERR_NO_AUDIO_OUTPUT:
      return "オーディオ出力を開けません。サウンドデバイス(PulseAudio、ALSA または SDL2)が"
             "使用できることを確認してください。";
    case DEVERR_NO_SOUNDFONT:
      return "SoundFont (.sf2) を読み込めません。timgm6mb-soundfont をインストールするか、"
             "soundfont の設定で別のファイルを指定してください。";
    default:
      return "不明なエラーが発生しました。(" + std::to_string(code) + ")";
  }
}

// ---- Timing ----------------------------------------------------------------------------------

namespace {

constexpr uint32_t DEFAULT_TEMPO = 500000;  // microseconds per quarter note (120 bpm)
constexpr uint8_t META_TEMPO_TYPE = 0x51;

}  // namespace

bool findSmfData(const uint8_t* image, uint32_t size, uint32_t* offset, uint32_t* length) {
  if (!image) return false;
  if (size >= 14 && std::memcmp(image, "MThd", 4) == 0) {
    *offset = 0;
    *length = size;
    return true;
  }
  // RIFF RMID: the "data" chunk holds the file.
  if (size < 12 || std::memcmp(image, "RIFF", 4) != 0 || std::memcmp(image + 8, "RMID", 4) != 0)
    return false;
  uint32_t pos = 12;
  while (pos + 8 <= size) {
    uint32_t chunkLength = getLE(image + pos + 4, 4);
    uint32_t available = size - pos - 8;
    if (std::memcmp(image + pos, "data", 4) == 0) {
      uint32_t n = std::min(chunkLength, available);
      if (n < 14 || std::memcmp(image + pos + 8, "MThd", 4) != 0) return false;
      *offset = pos + 8;
      *length = n;
      return true;
    }
    if (chunkLength > available) return false;
    pos += 8 + chunkLength + (chunkLength & 1);
  }
  return false;
}

bool readSongTiming(const uint8_t* image, uint32_t size, SongTiming* timing) {
  *timing = SongTiming{};
  uint32_t offset = 0, length = 0;
  if (!findSmfData(image, size, &offset, &length)) return false;
  ByteReader r(image + offset, length);
  r.skip(4);
  uint32_t headerLength = r.be(4);
  if (headerLength < 6) return false;
  r.be(2);  // format
  uint32_t tracks = r.be(2);
  uint32_t division = r.be(2);
  r.skip(headerLength - 6);
  if (r.overrun || division == 0) return false;
  std::vector<SongTiming::TempoChange> changes;
  if (division & 0x8000) {
    // SMPTE time: ticks per second = frames x ticks per frame; expressed as a fixed tempo.
    int frames = -int(int8_t(division >> 8));
    uint32_t perFrame = division & 0xFF;
    uint32_t perSecond = uint32_t(std::max(frames, 1)) * std::max(perFrame, 1u);
    timing->division = std::max(1u, perSecond / 2);
  } else {
    timing->division = division;
  }

  for (uint32_t t = 0; t < tracks && r.remaining() >= 8; ++t) {
    bool isTrack = std::memcmp(r.here(), "MTrk", 4) == 0;
    r.skip(4);
    uint32_t chunkLength = r.be(4);
    uint32_t n = std::min(chunkLength, r.remaining());
    if (!isTrack) {
      r.skip(n);
      --t;  // unknown chunks do not count as tracks
      continue;
    }
    ByteReader tr(r.here(), n);
    r.skip(n);
    uint32_t tick = 0;
    uint8_t running = 0;
    while (!tr.atEnd()) {
      uint32_t delta = tr.varLen();
      if (tr.overrun) break;
      tick += delta;
      uint8_t status = tr.peek();
      if (status & 0x80) {
        tr.u8();
      } else {
        status = running;
        if (!(status & 0x80)) break;  // data byte without a status
      }
      if (status == 0xFF) {
        uint8_t type = tr.u8();
        uint32_t metaLength = tr.varLen();
        if (type == META_TEMPO_TYPE && metaLength >= 3 && tr.has(3)) {
          ByteReader body(tr.here(), 3);
          uint32_t value = body.be(3);
          if (value) changes.push_back({tick, value});
        }
        tr.skip(metaLength);
        if (type == 0x2F) {
          timing->endTick = std::max(timing->endTick, tick);
          break;
        }
      } else if (status == 0xF0 || status == 0xF7) {
        tr.skip(tr.varLen());
      } else {
        running = status;
        uint8_t kind = status & 0xF0;
        tr.skip(kind == 0xC0 || kind == 0xD0 ? 1 : 2);
      }
      if (tr.overrun) break;
      timing->endTick = std::max(timing->endTick, tick);
    }
  }
  if (division & 0x8000) changes.clear();
  std::stable_sort(changes.begin(), changes.end(),
                   [](const auto& a, const auto& b) { return a.tick < b.tick; });
  timing->tempo.push_back({0, DEFAULT_TEMPO});
  for (const auto& c : changes) {
    if (c.tick == timing->tempo.back().tick)
      timing->tempo.back().microsPerQuarter = c.microsPerQuarter;
    else
      timing->tempo.push_back(c);
  }
  return true;
}

uint64_t SongTiming::tickToMicros(uint32_t tick) const {
  uint64_t micros = 0;
  uint32_t lastTick = 0;
  uint32_t tempoNow = DEFAULT_TEMPO;
  for (const auto& c : tempo) {
    if (c.tick >= tick) break;
    micros += uint64_t(c.tick - lastTick) * tempoNow / division;
    lastTick = c.tick;
    tempoNow = c.microsPerQuarter;
  }
  return micros + uint64_t(tick - lastTick) * tempoNow / division;
}

uint32_t SongTiming::msToTick(uint32_t ms) const {
  uint64_t target = uint64_t(ms) * 1000;
  uint64_t micros = 0;
  uint32_t lastTick = 0;
  uint32_t tempoNow = DEFAULT_TEMPO;
  for (const auto& c : tempo) {
    uint64_t span = uint64_t(c.tick - lastTick) * tempoNow / division;
    if (c.tick > lastTick && micros + span > target) break;
    micros += span;
    lastTick = c.tick;
    tempoNow = c.microsPerQuarter;
  }
  return lastTick + uint32_t((target - micros) * division / tempoNow);
}

// ---- Channel activity ------------------------------------------------------------------------

namespace {

constexpr int CHANNELS = 16;
constexpr int KEYS = 128;

// The velocity of every sounding key, written by the synthesizer's thread as the player hands
// it the events, read by the window's timer.
std::atomic<uint8_t> soundingVelocity[CHANNELS][KEYS];
std::atomic<bool> levelsOverridden{false};
std::atomic<uint8_t> overrideLevels[CHANNELS];

void clearChannel(int channel) {
  for (auto& key : soundingVelocity[channel]) key.store(0, std::memory_order_relaxed);
}

void clearAllChannels() {
  for (int c = 0; c < CHANNELS; ++c) clearChannel(c);
}

// Bookkeeping of one channel-voice message: note on and off, and the controllers that silence
// a channel (120 all sounds off, 123 all notes off and the mode messages 124..127).
void trackMidiEvent(int type, int channel, int key, int velocity, int control) {
  if (channel < 0 || channel >= CHANNELS) return;
  if (type == 0x90 && key >= 0 && key < KEYS) {
    soundingVelocity[channel][key].store(uint8_t(std::clamp(velocity, 0, 127)),
                                         std::memory_order_relaxed);
  } else if (type == 0x80 && key >= 0 && key < KEYS) {
    soundingVelocity[channel][key].store(0, std::memory_order_relaxed);
  } else if (type == 0xB0 && (control == 120 || control >= 123)) {
    clearChannel(channel);
  }
}

}  // namespace

void noteChannelMessage(uint8_t status, uint8_t data1, uint8_t data2) {
  const int type = status & 0xF0;
  if (type == 0x80 || type == 0x90)
    trackMidiEvent(type, status & 0x0F, data1, data2, -1);
  else if (type == 0xB0)
    trackMidiEvent(type, status & 0x0F, -1, 0, data1);
}

void clearChannelLevels() {
  clearAllChannels();
}

void sequencerChannelLevels(uint8_t levels[16]) {
  if (!levels) return;
  if (levelsOverridden.load()) {
    for (int c = 0; c < CHANNELS; ++c) levels[c] = overrideLevels[c].load();
    return;
  }
  for (int c = 0; c < CHANNELS; ++c) {
    uint8_t highest = 0;
    for (const auto& key : soundingVelocity[c])
      highest = std::max(highest, key.load(std::memory_order_relaxed));
    levels[c] = highest;
  }
}

void setSequencerChannelLevelsForTest(const uint8_t* levels) {
  if (!levels) {
    levelsOverridden = false;
    return;
  }
  for (int c = 0; c < CHANNELS; ++c) overrideLevels[c] = levels[c];
  levelsOverridden = true;
}

// ---- Devices ---------------------------------------------------------------------------------

void endWatcher(std::thread& watcher) {
  if (!watcher.joinable()) return;
  if (watcher.get_id() == std::this_thread::get_id())
    watcher.detach();
  else
    watcher.join();
}

uint32_t TimedDevice::toUnits(uint32_t tick) const {
  return format_ == TIME_FORMAT_SONGPTR ? timing_.tickToSongPtr(tick) : timing_.tickToMs(tick);
}

uint32_t TimedDevice::fromUnits(uint32_t value) const {
  return format_ == TIME_FORMAT_SONGPTR ? timing_.songPtrToTick(value) : timing_.msToTick(value);
}

uint32_t TimedDevice::lengthUnits() const {
  return format_ == TIME_FORMAT_SONGPTR ? timing_.lengthSongPtr()
                                        : timing_.tickToMs(timing_.endTick);
}

DeviceError TimedDevice::stop() {
  if (!open_) return DEVERR_INVALID_DEVICE_ID;
  halt(NOTIFY_ABORTED);
  return DEVICE_OK;
}

DeviceError TimedDevice::setTimeFormat(uint32_t format) {
  if (!open_) return DEVERR_INVALID_DEVICE_ID;
  if (format != TIME_FORMAT_MILLISECONDS && format != TIME_FORMAT_SONGPTR)
    return DEVERR_BAD_TIME_FORMAT;
  format_ = format;
  return DEVICE_OK;
}

DeviceError TimedDevice::statusLength(uint32_t* length) {
  if (!open_) return DEVERR_INVALID_DEVICE_ID;
  *length = lengthUnits();
  return DEVICE_OK;
}

DeviceError TimedDevice::close() {
  if (!open_) return DEVERR_INVALID_DEVICE_ID;
  halt(NOTIFY_ABORTED);
  open_ = false;
  return DEVICE_OK;
}

namespace {

// Measures a wave file; as a "waveaudio" device it knows milliseconds only.
class WaveDevice : public TimedDevice {
 public:
  DeviceError openElement(const char* element) {
    std::vector<uint8_t> image;
    if (!readFileBytes(element, &image)) return DEVERR_FILE_NOT_FOUND;
    PcmWave wave;
    if (!parsePcmWave(image.data(), uint32_t(image.size()), &wave)) return DEVERR_INVALID_FILE;
    lengthMs_ = wave.lengthMs();
    open_ = true;
    return DEVICE_OK;
  }
  DeviceError play(const uint32_t*, NotifyFn) override {
    return open_ ? DEVERR_UNSUPPORTED_FUNCTION : DEVERR_INVALID_DEVICE_ID;
  }
  DeviceError seek(uint32_t to) override {
    if (!open_) return DEVERR_INVALID_DEVICE_ID;
    return to > lengthMs_ ? DEVERR_OUTOFRANGE : DEVICE_OK;
  }
  DeviceError setTimeFormat(uint32_t format) override {
    if (!open_) return DEVERR_INVALID_DEVICE_ID;
    return format == TIME_FORMAT_MILLISECONDS ? DEVICE_OK : DEVERR_BAD_TIME_FORMAT;
  }
  DeviceError statusLength(uint32_t* length) override {
    if (!open_) return DEVERR_INVALID_DEVICE_ID;
    *length = lengthMs_;
    return DEVICE_OK;
  }
  DeviceError statusPosition(uint32_t* position) override {
    if (!open_) return DEVERR_INVALID_DEVICE_ID;
    *position = 0;
    return DEVICE_OK;
  }

 private:
  uint32_t lengthMs_ = 0;
};

#ifdef VLM_HAVE_FLUIDSYNTH

constexpr auto WATCH_INTERVAL = std::chrono::milliseconds(10);

// Plays the element with a FluidSynth player on the shared synthesizer. Every play makes a new
// player that seeks to the start position, so stopping and playing again never depends on what
// a finished player allows. A watcher thread turns the player's end into the completion notice.
class FluidSequencer : public TimedDevice {
 public:
  ~FluidSequencer() override { close(); }

  DeviceError openElement(const char* element) {
    if (!readFileBytes(element, &image_)) return DEVERR_FILE_NOT_FOUND;
    if (!readSongTiming(image_.data(), uint32_t(image_.size()), &timing_))
      return DEVERR_INVALID_FILE;
    uint32_t offset = 0, length = 0;
    findSmfData(image_.data(), uint32_t(image_.size()), &offset, &length);
    image_.erase(image_.begin(), image_.begin() + offset);
    image_.resize(length);
    DeviceError error = DEVICE_OK;
    synth_ = audioSynth(&error);
    if (!synth_) return error;
    fluid_synth_system_reset(synth_);
    format_ = TIME_FORMAT_MILLISECONDS;
    open_ = true;
    return DEVICE_OK;
  }

  DeviceError play(const uint32_t* from, NotifyFn notify) override {
    if (!open_) return DEVERR_INVALID_DEVICE_ID;
    uint32_t startTick = from ? fromUnits(*from) : positionTick();
    if (from && startTick > timing_.endTick) return DEVERR_OUTOFRANGE;
    halt(NOTIFY_SUPERSEDED);
    if (startTick >= timing_.endTick) {
      // Nothing left to play: the song ends at once.
      tick_ = timing_.endTick;
      if (notify) notify(NOTIFY_SUCCESSFUL);
      return DEVICE_OK;
    }
    fluid_player_t* p = nullptr;
    if (DeviceError error = startPlayer(startTick, &p)) return error;
    {
      std::lock_guard<std::mutex> hold(lock_);
      player_ = p;
      startTick_ = startTick;
      tick_ = startTick;
      notify_ = std::move(notify);
      finished_ = false;
      watching_ = true;
    }
    watcher_ = std::thread([this] { watch(); });
    return DEVICE_OK;
  }

  DeviceError seek(uint32_t to) override {
    if (!open_) return DEVERR_INVALID_DEVICE_ID;
    uint32_t tick = fromUnits(to);
    if (tick > timing_.endTick) return DEVERR_OUTOFRANGE;
    halt(NOTIFY_ABORTED);
    tick_ = tick;
    return DEVICE_OK;
  }

  DeviceError statusPosition(uint32_t* position) override {
    if (!open_) return DEVERR_INVALID_DEVICE_ID;
    *position = toUnits(positionTick());
    return DEVICE_OK;
  }

  DeviceError close() override {
    const DeviceError error = TimedDevice::close();
    image_.clear();
    return error;
  }

 private:
  std::vector<uint8_t> image_;
  fluid_synth_t* synth_ = nullptr;
  std::mutex lock_;
  fluid_player_t* player_ = nullptr;
  uint32_t startTick_ = 0;
  uint32_t tick_ = 0;  // position while no player runs
  NotifyFn notify_;
  bool finished_ = false;
  std::atomic<bool> watching_{false};
  std::thread watcher_;

  // Every event the player sends: noted for the channel monitor, then handed to the synthesizer
  // as the player's default handler does.
  static int onPlayerEvent(void* data, fluid_midi_event_t* event) {
    const int status = fluid_midi_event_get_type(event);
    const int type = status & 0xF0;
    if (type == 0x80 || type == 0x90 || type == 0xB0) {
      const int channel = fluid_midi_event_get_channel(event);
      trackMidiEvent(type, channel, type == 0xB0 ? -1 : fluid_midi_event_get_key(event),
                     type == 0x90 ? fluid_midi_event_get_velocity(event) : 0,
                     type == 0xB0 ? fluid_midi_event_get_control(event) : -1);
    }
    return fluid_synth_handle_midi_event(static_cast<fluid_synth_t*>(data), event);
  }

  // A new player on the shared synthesizer, playing from `startTick`. The synthesizer runs its
  // players from the audio thread, so the player is made and set going with that thread held.
  DeviceError startPlayer(uint32_t startTick, fluid_player_t** started) {
    auto paused = pauseAudioRendering();
    fluid_player_t* p = new_fluid_player(synth_);
    if (!p) return DEVERR_NO_AUDIO_OUTPUT;
    fluid_player_set_playback_callback(p, &FluidSequencer::onPlayerEvent, synth_);
    DeviceError error = DEVICE_OK;
    if (fluid_player_add_mem(p, image_.data(), image_.size()) != FLUID_OK) {
      error = DEVERR_INVALID_FILE;
    } else {
      if (startTick > 0) fluid_player_seek(p, int(startTick));
      if (fluid_player_play(p) != FLUID_OK) error = DEVERR_NO_AUDIO_OUTPUT;
    }
    if (error) {
      delete_fluid_player(p);
      return error;
    }
    *started = p;
    return DEVICE_OK;
  }

  uint32_t positionTick() {
    std::lock_guard<std::mutex> hold(lock_);
    if (!player_) return tick_;
    if (finished_) return timing_.endTick;
    int now = fluid_player_get_current_tick(player_);
    return std::min(std::max(uint32_t(std::max(now, 0)), startTick_), timing_.endTick);
  }

  void watch() {
    while (watching_) {
      std::this_thread::sleep_for(WATCH_INTERVAL);
      NotifyFn done;
      {
        std::lock_guard<std::mutex> hold(lock_);
        if (!watching_ || !player_) break;
        // The player itself lingers two seconds after the last event for the release; the
        // song ends at its last tick.
        bool atEnd = fluid_player_get_status(player_) == FLUID_PLAYER_DONE ||
                     fluid_player_get_current_tick(player_) >= int(timing_.endTick);
        if (!atEnd) continue;
        finished_ = true;
        clearAllChannels();
        watching_ = false;
        done = std::move(notify_);
        notify_ = nullptr;
      }
      if (done) done(NOTIFY_SUCCESSFUL);
      break;
    }
  }

  // Ends the running player, keeping its position; a pending notice gets `code`.
  void halt(uint32_t code) override {
    NotifyFn pending;
    fluid_player_t* p = nullptr;
    {
      std::lock_guard<std::mutex> hold(lock_);
      watching_ = false;
      if (player_) {
        int now = fluid_player_get_current_tick(player_);
        tick_ = finished_
                    ? timing_.endTick
                    : std::min(std::max(uint32_t(std::max(now, 0)), startTick_), timing_.endTick);
      }
      p = player_;
      player_ = nullptr;
      pending = std::move(notify_);
      notify_ = nullptr;
    }
    endWatcher(watcher_);
    if (p) {
      {
        auto paused = pauseAudioRendering();
        fluid_player_stop(p);
        delete_fluid_player(p);
      }
      fluid_synth_all_sounds_off(synth_, -1);
      clearAllChannels();
    }
    if (pending) pending(code);
  }
};

#endif

DeviceError realFactory(const char* type, const char* element,
                        std::unique_ptr<MediaDevice>* device) {
  device->reset();
  if (type && std::strcmp(type, DEVICE_WAVEAUDIO) == 0) {
    auto d = std::make_unique<WaveDevice>();
    DeviceError e = d->openElement(element);
    if (e == DEVICE_OK) *device = std::move(d);
    return e;
  }
  if (type && std::strcmp(type, DEVICE_SEQUENCER) == 0) {
#ifdef VLM_HAVE_FLUIDSYNTH
    auto d = std::make_unique<FluidSequencer>();
    DeviceError e = d->openElement(element);
    if (e == DEVICE_OK) *device = std::move(d);
    return e;
#else
    return DEVERR_NO_AUDIO_OUTPUT;
#endif
  }
  return DEVERR_INVALID_DEVICE_NAME;
}

DeviceFactory& currentFactory() {
  static DeviceFactory factory;
  return factory;
}

}  // namespace

DeviceError openMediaDevice(const char* type, const char* element,
                            std::unique_ptr<MediaDevice>* device) {
  DeviceFactory& f = currentFactory();
  return f ? f(type, element, device) : realFactory(type, element, device);
}

void setMediaDeviceFactory(DeviceFactory factory) {
  currentFactory() = std::move(factory);
}

}  // namespace vlm
