// Voice samples beside the sequencer: decoded once per song into temporary files, started by
// the position timer.
#include "playback/playalong.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "convert/conversion_run.h"
#include "convert/options.h"
#include "formats/adpcm.h"
#include "platform/audio.h"
#include "playback/waves.h"
#include "util/files.h"
#include "util/memblock.h"

namespace vlm {

PlayAlong playAlong;

namespace {

std::function<bool(const char*)>& starter() {
  static std::function<bool(const char*)> fn;
  return fn;
}

bool startWave(const char* path) {
  auto& fn = starter();
  return fn ? fn(path) : playWaveSound(path);
}

// A new empty file "vlmvXXXXXX.wav" in $TMPDIR (or /tmp); empty when none could be made.
std::string makeTempWave() {
  const char* env = std::getenv("TMPDIR");
  std::string name = env && *env ? env : "/tmp";
  if (name.back() != '/') name += '/';
  name += "vlmvXXXXXX.wav";
  const int fd = ::mkstemps(name.data(), 4);
  if (fd < 0) return std::string();
  ::close(fd);
  return name;
}

}  // namespace

void releasePlayAlong() {
  stopPlayAlong();
  for (const std::string& f : playAlong.files) ::unlink(f.c_str());
  playAlong = PlayAlong();
}

int preparePlayAlong(const uint8_t* stream, uint32_t size, double tempoScale) {
  releasePlayAlong();
  if (!stream || !size) return 0;
  if (!(tempoScale > 0)) tempoScale = 1;
  SongWaves song;
  collectWaves(stream, size, &song);
  for (const EmbeddedWave& w : song.waves) {
    if (int(playAlong.files.size()) >= PLAY_ALONG_MAX_VOICES) break;
    if (!w.sampleRate || !w.size) continue;
    // A later wave with the same number replaces the earlier one, as the notes find the last.
    if (std::find(playAlong.numbers.begin(), playAlong.numbers.end(), w.number) !=
        playAlong.numbers.end())
      continue;
    // Each wave is decoded with its own coding.
    const std::vector<uint8_t> image = embeddedWaveImage(w);
    const std::string path = makeTempWave();
    if (path.empty() || image.empty() || !saveFile(path.c_str(), image.data(), image.size())) {
      if (!path.empty()) ::unlink(path.c_str());
      continue;
    }
    playAlong.files.push_back(path);
    playAlong.numbers.push_back(w.number);
  }
  for (const WaveNote& note : song.notes) {
    const EmbeddedWave* wave = song.find(note.number);
    if (!wave) continue;
    auto it = std::find(playAlong.numbers.begin(), playAlong.numbers.end(), wave->number);
    if (it == playAlong.numbers.end()) continue;
    const double ms = note.seconds / tempoScale * 1000.0;
    PlayAlongCue cue;
    cue.ms = ms <= 0 ? 0 : ms >= 4e9 ? 4000000000u : uint32_t(ms + 0.5);
    cue.voice = int(it - playAlong.numbers.begin());
    playAlong.cues.push_back(cue);
  }
  std::stable_sort(playAlong.cues.begin(), playAlong.cues.end(),
                   [](const PlayAlongCue& a, const PlayAlongCue& b) { return a.ms < b.ms; });
  return int(playAlong.files.size());
}

int preparePlayAlongForFile(const char* input, FormatCode code, const char* playedSmf) {
  releasePlayAlong();
  if (!input || code <= 0) return 0;
  MemBlock stream;
  if (!readInput(input, code, &stream)) return 0;
  const double scale = options.tempoRatio > 0 ? options.tempoRatio / 256.0 : 1.0;
  const int voices = preparePlayAlong(stream.data, uint32_t(stream.length), scale);
  blockFree(&stream);
  std::vector<uint8_t> smf;
  if (playedSmf && readFileBytes(playedSmf, &smf))
    playAlong.haveTiming = readSongTiming(smf.data(), uint32_t(smf.size()), &playAlong.timing);
  return voices;
}

bool songHasVoices() {
  return !playAlong.files.empty();
}

const char* playAlongFile(int i) {
  return i >= 0 && i < int(playAlong.files.size()) ? playAlong.files[size_t(i)].c_str() : "";
}

uint32_t playAlongPositionMs(uint32_t songPointer) {
  if (!playAlong.haveTiming) return 0;
  return playAlong.timing.tickToMs(playAlong.timing.songPtrToTick(songPointer));
}

void startPlayAlong(uint32_t fromMs) {
  auto it = std::lower_bound(playAlong.cues.begin(), playAlong.cues.end(), fromMs,
                             [](const PlayAlongCue& c, uint32_t ms) { return c.ms < ms; });
  playAlong.next = size_t(it - playAlong.cues.begin());
  playAlong.running = !playAlong.cues.empty();
}

void playAlongTick(uint32_t positionMs) {
  if (!playAlong.running) return;
  int due = -1;
  while (playAlong.next < playAlong.cues.size() && playAlong.cues[playAlong.next].ms <= positionMs)
    due = playAlong.cues[playAlong.next++].voice;
  if (due >= 0 && options.voiceOutput) startWave(playAlong.files[size_t(due)].c_str());
  if (playAlong.next >= playAlong.cues.size()) playAlong.running = false;
}

void stopPlayAlong() {
  playAlong.running = false;
  // Only a song with voices has started wave sounds; the stop leaves other sounds alone.
  if (!playAlong.files.empty() && !starter()) stopWaveSounds();
}

void setPlayAlongStarter(std::function<bool(const char* path)> starter_) {
  starter() = std::move(starter_);
}

}  // namespace vlm
