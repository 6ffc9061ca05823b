// Channel and voice allocation, checked on whole conversions: a song of many channels with a
// rhythm part goes through the conversion run to a one-voice-per-channel target and is read back
// with the format's own reader; the notes that come back are counted per input channel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "convert/conversion_run.h"
#include "convert/options.h"
#include "core/run_state.h"
#include "core/stages.h"
#include "core/vstream.h"
#include "test_util.h"

namespace {

using vlmtest::Bytes;

constexpr uint16_t DIVISION = 480;
constexpr uint32_t BAR = 4 * DIVISION;
constexpr uint8_t DRUMS = 9;  // channel 10
constexpr uint8_t KICK = 36, SNARE = 38, HAT = 42, CRASH = 49;

// Each melodic channel plays its own program, so a note read back is traced to its input
// channel by the program its output channel plays.
uint8_t programOf(int channel) {
  return uint8_t(10 + 7 * channel);
}

struct Song {
  vlmtest::SmfBuilder smf{DIVISION};
  std::map<int, int> notes;  // input channel -> notes written
  std::vector<std::pair<uint32_t, int>> edges;

  void note(uint32_t tick, uint8_t channel, uint8_t key, uint32_t duration) {
    smf.note(tick, channel, key, duration);
    ++notes[channel];
    edges.push_back({tick, +1});
    edges.push_back({tick + duration, -1});
  }
  int total() const {
    int n = 0;
    for (auto& [c, count] : notes) n += count;
    return n;
  }
  int polyphony() const {
    std::vector<std::pair<uint32_t, int>> e = edges;
    std::sort(e.begin(), e.end());  // at one tick the ends (-1) come first
    int now = 0, most = 0;
    for (auto& [t, d] : e) most = std::max(most, now += d);
    return most;
  }
};

// An arrangement of eleven channels: a lead, a bass, two pads, brass stabs, a counter melody, an
// arpeggio, a guitar, bells, a second lead in the later half, and drums on channel 10. Every
// channel but the lead and bass plays chords or overlaps its own notes, so the channels' own
// largest chords add up to far more than 16 voices, while at most 17 notes sound at once.
Song elevenChannelSong(int bars = 40) {
  Song s;
  for (int c = 0; c < 11; ++c)
    if (c != DRUMS) s.smf.program(0, uint8_t(c), programOf(c));
  for (int b = 0; b < bars; ++b) {
    const uint32_t t0 = uint32_t(b) * BAR;
    for (int i = 0; i < 8; ++i)
      s.note(t0 + uint32_t(i) * 240, 0, uint8_t(72 + (b * 8 + i) * 5 % 12), 220);
    for (int i = 0; i < 4; ++i) s.note(t0 + uint32_t(i) * 480, 1, uint8_t(36 + (b + i) % 5), 440);
    for (uint8_t k : {60, 64, 67}) s.note(t0, 2, uint8_t(k + b % 3), 1800);
    for (uint32_t half : {0u, 960u})
      for (uint8_t k : {55, 62}) s.note(t0 + half, 3, k, 900);
    for (uint32_t beat : {480u, 1440u})
      for (uint8_t k : {65, 69}) s.note(t0 + beat, 4, k, 200);
    for (int i = 0; i < 4; ++i) s.note(t0 + uint32_t(i) * 480 + 240, 5, uint8_t(76 + i), 400);
    for (int i = 0; i < 16; ++i) s.note(t0 + uint32_t(i) * 120, 6, uint8_t(84 + i % 4 * 3), 100);
    if (b % 2) {
      for (uint8_t k : {52, 59}) s.note(t0 + 960, 7, k, 900);
    }
    if (b % 4 == 0) s.note(t0, 8, 96, 1800);
    if (b % 4 == 1) s.note(t0 + 960, 8, 91, 900);
    if (b >= bars / 2)
      for (int i = 0; i < 4; ++i) s.note(t0 + uint32_t(i) * 480, 10, uint8_t(67 + i), 230);
    for (int beat = 0; beat < 4; ++beat) {
      const uint32_t t = t0 + uint32_t(beat) * 480;
      s.note(t, DRUMS, beat % 2 ? SNARE : KICK, 60);
      s.note(t, DRUMS, HAT, 60);
      s.note(t + 240, DRUMS, HAT, 60);
    }
    if (b % 8 == 0) s.note(t0, DRUMS, CRASH, 60);
    // At the end of each bar one channel strikes a chord of its own where little else sounds.
    static const uint8_t CHORD_CHANNEL[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 10};
    static const uint8_t CHORD_ROOT[] = {72, 36, 60, 55, 65, 76, 84, 52, 91, 67};
    const int k = b % 10;
    if (CHORD_CHANNEL[k] != 10 || b >= bars / 2)
      for (uint8_t step : {0, 4, 7})
        s.note(t0 + 1880, CHORD_CHANNEL[k], uint8_t(CHORD_ROOT[k] + step), 30);
  }
  return s;
}

struct Traced {
  std::map<int, int> notes;  // input channel (DRUMS for rhythm notes) -> notes read back
  int overlaps = 0;          // notes that start while their output channel still sounds one
};

// Reads a converted file back with the reader of its format and traces every note to its input
// channel: rhythm notes by the rhythm mark of their channel, melodic ones by their program.
Traced traceNotes(const Bytes& file, int code) {
  Bytes stream(file.size() * 16 + 65536);
  int32_t size = 0;
  const vlm::StageFn reader = code == 53 ? vlm::readSmaf : vlm::readMld;
  reader(file.data(), uint32_t(file.size()), stream.data(), &size, uint32_t(stream.size()));
  const vlmtest::CollectedStream s = vlmtest::collectStream(stream.data(), uint32_t(size));
  bool rhythm[16] = {};
  rhythm[DRUMS] = true;
  int program[16] = {};
  uint32_t busyUntil[16] = {};
  std::map<int, int> channelOfProgram;
  for (int c = 0; c < 16; ++c) channelOfProgram[programOf(c)] = c;
  Traced r;
  for (const auto& e : s.events) {
    const int ch = e.status & 0x0F;
    switch (e.status & 0xF0) {
      case vlm::ST_CONTROL:
        if (e.data[0] == vlm::CC_RHYTHM_PART) rhythm[ch] = e.data[1] != 0;
        break;
      case vlm::ST_PROGRAM:
        program[ch] = e.data[0] & 0x7F;
        break;
      case vlm::ST_NOTE:
        if (e.time < busyUntil[ch]) ++r.overlaps;
        busyUntil[ch] = e.time + uint32_t(e.data[2] << 8 | e.data[3]);
        if (rhythm[ch]) {
          ++r.notes[DRUMS];
        } else if (channelOfProgram.count(program[ch])) {
          ++r.notes[channelOfProgram[program[ch]]];
        } else {
          ++r.notes[-1];
        }
        break;
      default:
        break;
    }
  }
  return r;
}

class OneVoicePerChannel : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { vlm::resetRun(); }
  Bytes convert(const Bytes& smf) {
    const int code = GetParam();
    vlmtest::writeBytes(dir_.file("in.mid"), smf);
    const std::string out = dir_.file("out");
    std::remove(out.c_str());
    vlm::runState.currentOutputCode = code;
    vlm::applyOutputPreset(code);
    vlm::runState.outputSizeLimit = 0;  // the allocation, not the size limit, is under test
    EXPECT_EQ(vlm::runConversion(dir_.file("in.mid").c_str(), out.c_str(), 2, code), 1);
    return vlmtest::readBytes(out);
  }
  vlmtest::ScratchDir dir_;
};

// A song that needs one voice more than the target has loses only the notes of its busiest
// moments: every channel keeps its notes and the drums stay on a rhythm channel.
TEST_P(OneVoicePerChannel, ElevenChannelsWithDrumsAndSeventeenVoicesKeepTheirNotes) {
  const Song song = elevenChannelSong();
  ASSERT_EQ(song.polyphony(), 17);
  const Traced got = traceNotes(convert(song.smf.build()), GetParam());
  int kept = 0;
  for (auto& [c, n] : song.notes) {
    const int back = got.notes.count(c) ? got.notes.at(c) : 0;
    EXPECT_GE(back, n * 3 / 4) << "channel " << c + 1;
    EXPECT_LE(back, n) << "channel " << c + 1;
    kept += std::min(back, n);
  }
  EXPECT_EQ(got.notes.count(-1), 0u) << "notes on a channel of no program of the song";
  EXPECT_EQ(got.overlaps, 0) << "an output channel sounds two notes at once";
  EXPECT_GE(kept * 10, song.total() * 9) << kept << " of " << song.total();
}

INSTANTIATE_TEST_SUITE_P(Codes, OneVoicePerChannel, ::testing::Values(24, 28, 53));

}  // namespace
