// Writes the bundled example songs into examples/ (run from the repository root):
//   demo.mid  a Standard MIDI File, format 1: a tempo track with the title, a melody on channel
//             1, a bass line on channel 2 and drums on channel 10; eight bars at 120 bpm.
//   demo.vlm  the same tune as an event stream, written through the stream writer.
// The tune is our own: a C major arpeggio melody over a I-vi-IV-V bass.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/codec.h"
#include "core/vstream.h"
#include "util/files.h"

namespace {

constexpr int TIMEBASE = 480;
constexpr int BARS = 8;
const int CHORD_ROOTS[4] = {48, 45, 41, 43};      // C, A, F, G
const int MELODY[8] = {0, 4, 7, 12, 7, 4, 0, 7};  // offsets above the chord root, eighth notes

struct Note {
  int channel, note, velocity;
  uint32_t start, length;
};

std::vector<Note> tune() {
  std::vector<Note> notes;
  for (int bar = 0; bar < BARS; ++bar) {
    const int root = CHORD_ROOTS[bar % 4];
    const uint32_t barStart = uint32_t(bar * 4 * TIMEBASE);
    for (int i = 0; i < 8; ++i)
      notes.push_back({0, root + 24 + MELODY[i], 96, barStart + uint32_t(i * TIMEBASE / 2),
                       uint32_t(TIMEBASE / 2 - 20)});
    notes.push_back({1, root - 12, 100, barStart, uint32_t(2 * TIMEBASE - 10)});
    notes.push_back({1, root - 5, 90, barStart + 2 * TIMEBASE, uint32_t(2 * TIMEBASE - 10)});
    for (int beat = 0; beat < 4; ++beat) {
      const uint32_t t = barStart + uint32_t(beat * TIMEBASE);
      notes.push_back({9, beat % 2 ? 38 : 36, 110, t, 60});
      notes.push_back({9, 42, 70, t, 60});
      notes.push_back({9, 42, 60, t + TIMEBASE / 2, 60});
    }
  }
  return notes;
}

void putVarLen(std::vector<uint8_t>& out, uint32_t value) {
  uint8_t bytes[5];
  int n = vlm::writeVarLen(bytes, value);
  out.insert(out.end(), bytes, bytes + n);
}

void putChunk(std::vector<uint8_t>& file, const char* id, const std::vector<uint8_t>& data) {
  file.insert(file.end(), id, id + 4);
  for (int shift = 24; shift >= 0; shift -= 8) file.push_back(uint8_t(data.size() >> shift));
  file.insert(file.end(), data.begin(), data.end());
}

void putMeta(std::vector<uint8_t>& track, uint8_t type, const std::string& body) {
  track.push_back(0);
  track.push_back(0xFF);
  track.push_back(type);
  putVarLen(track, uint32_t(body.size()));
  track.insert(track.end(), body.begin(), body.end());
}

// One MTrk of note-on/note-off pairs for a channel, sorted by time, with running status.
std::vector<uint8_t> channelTrack(const std::vector<Note>& notes, int channel, int program) {
  struct Ev {
    uint32_t time;
    int order;  // note-offs before note-ons at the same time
    uint8_t status, a, b;
  };
  std::vector<Ev> events;
  for (const Note& n : notes) {
    if (n.channel != channel) continue;
    events.push_back({n.start, 1, uint8_t(0x90 | channel), uint8_t(n.note), uint8_t(n.velocity)});
    events.push_back({n.start + n.length, 0, uint8_t(0x90 | channel), uint8_t(n.note), 0});
  }
  std::stable_sort(events.begin(), events.end(), [](const Ev& x, const Ev& y) {
    return x.time != y.time ? x.time < y.time : x.order < y.order;
  });
  std::vector<uint8_t> track;
  if (channel != 9) {
    track.insert(track.end(), {0, uint8_t(0xC0 | channel), uint8_t(program)});
    track.insert(track.end(), {0, uint8_t(0xB0 | channel), 7, 100});
  }
  uint32_t last = 0;
  uint8_t running = 0;
  for (const Ev& e : events) {
    putVarLen(track, e.time - last);
    last = e.time;
    if (e.status != running) track.push_back(e.status);
    running = e.status;
    track.push_back(e.a);
    track.push_back(e.b);
  }
  track.insert(track.end(), {0, 0xFF, 0x2F, 0});
  return track;
}

std::vector<uint8_t> makeMidi(const std::vector<Note>& notes) {
  std::vector<uint8_t> file;
  putChunk(file, "MThd", {0, 1, 0, 4, uint8_t(TIMEBASE >> 8), uint8_t(TIMEBASE & 0xFF)});
  std::vector<uint8_t> conductor;
  putMeta(conductor, 0x03, "vlmplay demo");
  putMeta(conductor, 0x02, "(c) the vlmplay developers");
  conductor.insert(conductor.end(), {0, 0xFF, 0x51, 3, 0x07, 0xA1, 0x20});  // 120 bpm
  conductor.insert(conductor.end(), {0, 0xFF, 0x58, 4, 4, 2, 24, 8});
  conductor.insert(conductor.end(), {0, 0xFF, 0x2F, 0});
  putChunk(file, "MTrk", conductor);
  putChunk(file, "MTrk", channelTrack(notes, 0, 73));  // flute
  putChunk(file, "MTrk", channelTrack(notes, 1, 33));  // finger bass
  putChunk(file, "MTrk", channelTrack(notes, 9, 0));
  return file;
}

bool submit(std::vector<uint8_t>& out, uint32_t time, uint8_t status,
            std::initializer_list<uint8_t> data) {
  std::vector<uint8_t> bytes(data);
  return vlm::submitEvent(out.data(), uint32_t(out.size()), time, status, 0, bytes.data(),
                          uint32_t(bytes.size())) != 0;
}

std::vector<uint8_t> makeStream(std::vector<Note> notes) {
  std::stable_sort(notes.begin(), notes.end(),
                   [](const Note& a, const Note& b) { return a.start < b.start; });
  std::vector<uint8_t> out(1 << 16);
  vlm::resetSongStats();
  vlm::beginStream();
  vlm::writer.timebase = TIMEBASE;
  vlm::writeHeaderChunk(out.data());
  vlm::writeTrackChunk(out.data());
  submit(out, 0, 0xFF, {0x51, 3, 0x07, 0xA1, 0x20});
  submit(out, 0, 0xC0, {73, 0});
  submit(out, 0, 0xC1, {33, 0});
  for (const Note& n : notes)
    submit(out, n.start, uint8_t(vlm::ST_TIMED_NOTE | n.channel),
           {uint8_t(n.note), uint8_t(n.velocity), uint8_t(n.length >> 8), uint8_t(n.length)});
  vlm::writer.now = uint32_t(BARS * 4 * TIMEBASE);
  vlm::finishStream(out.data());
  out.resize(vlm::writer.pos);
  vlm::endStream();
  return out;
}

bool save(const char* path, const std::vector<uint8_t>& bytes) {
  if (!vlm::saveFile(path, bytes.data(), bytes.size())) {
    std::fprintf(stderr, "cannot write %s\n", path);
    return false;
  }
  std::printf("wrote %s (%zu bytes)\n", path, bytes.size());
  return true;
}

}  // namespace

int main() {
  const std::vector<Note> notes = tune();
  bool ok = save("examples/demo.mid", makeMidi(notes));
  ok = save("examples/demo.vlm", makeStream(notes)) && ok;
  return ok ? 0 : 1;
}
