// Helpers shared by the tests: a scratch folder, whole-file reads and writes, the builders of
// stream_builders.h, and a collector that reads a stage's output back as a list of events.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "core/stages.h"
#include "core/vstream.h"
#include "stream_builders.h"

namespace vlm::test {

// A fresh folder under the temporary directory, removed when the object goes.
class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vlmtest-XXXXXX").string();
    path_ = mkdtemp(tmpl.data()) ? tmpl : std::string();
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline void writeText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

inline std::vector<uint8_t> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// ---- Streams with waves ---------------------------------------------------------------------

struct WaveSpec {
  uint8_t number;
  uint8_t rateCode;
  Bytes data;  // the coded samples
};
struct WaveNoteSpec {
  uint32_t tick;
  uint8_t number;
};

// A VStream at 96 ticks and one second a quarter with the waves given, and a wave note (velocity
// 127, a quarter long) at each tick of `notes`.
inline Bytes waveStream(const std::vector<WaveSpec>& waves,
                        const std::vector<WaveNoteSpec>& notes) {
  StreamBuilder b(96);
  b.track().meta(0, META_TEMPO, {0x0F, 0x42, 0x40});
  for (const WaveSpec& w : waves) {
    Bytes body = {w.number, w.rateCode};
    body.insert(body.end(), w.data.begin(), w.data.end());
    b.meta(0, META_WAVE, body);
  }
  uint32_t now = 0;
  for (const WaveNoteSpec& n : notes) {
    b.raw(n.tick - now, {WAVE_NOTE_STATUS, n.number, 127, 0, 96});
    now = n.tick;
  }
  return b.end().build();
}

// ---- The command line ---------------------------------------------------------------------

// The vlmconv under test: $VLMCONV as the build sets it, else the build tree's.
inline std::string vlmconvProgram() {
  const char* exe = std::getenv("VLMCONV");
  return exe ? exe : "build/bin/vlmconv";
}

struct CommandRun {
  int status;       // exit status; -1 when the command did not exit
  std::string out;  // what it wrote to standard output
};

// Runs a shell command line (the callers quote and redirect) and collects its standard output.
inline CommandRun runCommand(const std::string& command) {
  CommandRun run{-1, ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

// ---- A stage's output read back ------------------------------------------------------------

struct StreamEventCopy {
  uint32_t time;
  int track;
  uint8_t status;
  uint8_t metaType;
  Bytes data;
};

// A VStream image as the merge cursor yields it: events in time order, ends of track apart.
struct CollectedStream {
  int32_t size = 0;  // what the stage reported
  uint16_t timebase = 0;
  int tracks = 0;
  bool truncated = false;
  std::vector<StreamEventCopy> events;  // ends of track left out
  std::vector<uint32_t> trackEnds;      // time of each track's end of track

  std::vector<StreamEventCopy> with(uint8_t status) const {
    std::vector<StreamEventCopy> out;
    for (const StreamEventCopy& e : events)
      if (e.status == status) out.push_back(e);
    return out;
  }
  std::vector<StreamEventCopy> meta(uint8_t type) const {
    std::vector<StreamEventCopy> out;
    for (const StreamEventCopy& e : events)
      if (e.status == ST_META && e.metaType == type) out.push_back(e);
    return out;
  }
  // Note events (of one track, or of all when track < 0).
  std::vector<StreamEventCopy> notes(int track = -1) const {
    std::vector<StreamEventCopy> out;
    for (const StreamEventCopy& e : events)
      if ((e.status & 0xF0) == ST_NOTE && (track < 0 || e.track == track)) out.push_back(e);
    return out;
  }
};

inline CollectedStream collectStream(const uint8_t* image, uint32_t size) {
  CollectedStream s;
  s.size = int32_t(size);
  if (!size) return s;
  auto table = std::make_unique<TrackTable>();
  s.tracks = loadTrackTable(*table, image, size);
  s.timebase = table->timebase;
  s.trackEnds.assign(size_t(std::max(s.tracks, 0)), 0);
  StreamEvent ev;
  while (nextStreamEvent(*table, ev)) {
    if (ev.status == ST_META && ev.metaType == META_END_OF_TRACK) {
      if (ev.track >= 0 && size_t(ev.track) < s.trackEnds.size())
        s.trackEnds[size_t(ev.track)] = ev.time;
      continue;
    }
    s.events.push_back(
        {ev.time, ev.track, ev.status, ev.metaType, Bytes(ev.data, ev.data + ev.length)});
  }
  s.truncated = table->truncated;
  return s;
}

// Runs one stage on `image` into a buffer of `capacity` bytes guarded by a sentinel byte, checks
// that the stage kept inside it, and reads the output back.
inline CollectedStream runStage(StageFn stage, const Bytes& image, uint32_t capacity = 1 << 16) {
  std::vector<uint8_t> out(size_t(capacity) + 1, 0xEE);
  int32_t size = 0;
  stage(image.data(), uint32_t(image.size()), out.data(), &size, capacity);
  EXPECT_LE(uint32_t(size), capacity);
  EXPECT_EQ(out[capacity], 0xEE) << "written past the capacity";
  if (size <= 0) {
    CollectedStream none;
    none.size = size;
    return none;
  }
  return collectStream(out.data(), uint32_t(size));
}

// Pearson correlation of two signals over their common length (0 when either is flat or empty).
inline double correlation(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  const size_t n = std::min(a.size(), b.size());
  if (n == 0) return 0;
  double ma = 0, mb = 0;
  for (size_t i = 0; i < n; ++i) ma += a[i], mb += b[i];
  ma /= double(n);
  mb /= double(n);
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < n; ++i) {
    ab += (a[i] - ma) * (b[i] - mb);
    aa += (a[i] - ma) * (a[i] - ma);
    bb += (b[i] - mb) * (b[i] - mb);
  }
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

}  // namespace vlm::test
