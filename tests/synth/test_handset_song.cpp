// A SMAF song with its own voices, routed and rendered: the file's voices sound from the handset
// synthesizer, built-in voices from the General MIDI one, the same bytes on every run and for
// one or two cores, and files of our own SMAF writers stay on the General MIDI path.
#include "playback/handset_song.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "convert/format_table.h"
#include "core/codec.h"
#include "core/conversion_options.h"
#include "core/vstream.h"
#include "formats/adpcm.h"
#include "platform/audio.h"
#include "playback/render.h"
#include "stream_builders.h"
#include "synth/smaf_voices.h"

namespace vlm {
namespace {

bool haveSoundfont() {
  return std::filesystem::exists(DEFAULT_SOUNDFONT);
}

smaf::FmVoice sineVoice() {
  smaf::FmVoice v;
  v.algorithm = 1;  // both operators heard
  v.operators = 2;
  for (int k = 0; k < 2; ++k) {
    v.op[k].envelope.attackRate = 15;
    v.op[k].envelope.releaseRate = 10;
    v.op[k].multiplier = 1;
  }
  v.op[1].envelope.totalLevel = 63;
  return v;
}

// A set of one melodic FM voice (bank 0x7C, program 5) and the channel bindings given.
smaf::VoiceSet oneVoice(std::vector<smaf::ChannelBinding> bindings) {
  smaf::VoiceSet set;
  smaf::Voice v;
  v.bankMsb = smaf::BANK_USER_MELODIC;
  v.program = 5;
  v.fm = sineVoice();
  set.voices.push_back(v);
  set.bindings = std::move(bindings);
  return set;
}

smaf::ChannelBinding bind(uint32_t time, int channel, smaf::BindingKind kind, int program = 5) {
  smaf::ChannelBinding b;
  b.time = time;
  b.channel = uint8_t(channel);
  b.kind = kind;
  b.bankMsb = kind == smaf::BindingKind::BUILT_IN ? 0 : smaf::BANK_USER_MELODIC;
  b.program = uint8_t(program);
  return b;
}

// At timebase 480 and 125 bpm one tick is one millisecond, as the SMAF reader writes it.
test::StreamBuilder smafTimed() {
  test::StreamBuilder b(480);
  b.track().meta(0, 0x51, {0x07, 0x53, 0x00});
  return b;
}

TEST(HandsetSong, NotesFollowTheBindingOfTheirChannelAtTheirTime) {
  using K = smaf::BindingKind;
  const smaf::VoiceSet set = oneVoice(
      {bind(0, 0, K::CUSTOM_MELODIC), bind(0, 1, K::BUILT_IN, 0), bind(1000, 0, K::BUILT_IN, 0)});
  test::StreamBuilder b = smafTimed();
  b.note(0, 0, 60, 100, 500).note(0, 1, 64, 100, 500).note(1000, 0, 67, 100, 500).end(600);
  const auto stream = b.build();
  HandsetSong song;
  buildHandsetSong(stream.data(), uint32_t(stream.size()), set, HandsetPlayOptions{}, &song);
  EXPECT_EQ(song.handsetNotes, 1u);
  EXPECT_EQ(song.gmNotes, 2u);
  EXPECT_NEAR(song.seconds, 1.5, 0.01);
  int ons = 0;
  for (const HandsetEvent& e : song.events) {
    if ((e.status & 0xF0) != 0x90) continue;
    ++ons;
    const bool handset = e.data1 == 60;
    EXPECT_EQ(e.toHandset, handset) << int(e.data1);
    EXPECT_EQ(e.toGm, !handset) << int(e.data1);
    EXPECT_EQ(e.voice, handset ? 0 : -1);
  }
  EXPECT_EQ(ons, 3);
}

// The window's key shift, octave shift and channel selection reach a routed song as they reach
// every other: melodic notes move (note on and its note off alike), the rhythm part keeps its
// notes, and a channel switched off is not heard.
TEST(HandsetSong, KeyShiftAndChannelSelectionApplyToTheRoutedSong) {
  using K = smaf::BindingKind;
  const smaf::VoiceSet set =
      oneVoice({bind(0, 0, K::CUSTOM_MELODIC), bind(0, 1, K::BUILT_IN, 0), bind(0, 2, K::BUILT_IN)});
  test::StreamBuilder b = smafTimed();
  b.cc(0, 1, CC_RHYTHM_PART, 1)
      .note(0, 0, 60, 100, 500)
      .note(0, 1, 36, 100, 500)
      .note(0, 2, 64, 100, 500)
      .note(0, 0, 125, 100, 500)
      .end(600);
  const auto stream = b.build();
  HandsetPlayOptions play;
  play.keyShift = 3;
  play.octaveShift[0] = 1;
  play.channelMask = 0xFFFF & ~(1u << 2);
  HandsetSong song;
  buildHandsetSong(stream.data(), uint32_t(stream.size()), set, play, &song);
  std::vector<std::pair<int, int>> ons, offs;  // channel, key
  for (const HandsetEvent& e : song.events) {
    if ((e.status & 0xF0) == 0x90) ons.emplace_back(e.status & 0x0F, e.data1);
    if ((e.status & 0xF0) == 0x80) offs.emplace_back(e.status & 0x0F, e.data1);
  }
  // 125 + 15 leaves the MIDI range and folds back by whole octaves, to 116.
  const std::vector<std::pair<int, int>> expected = {{0, 75}, {1, 36}, {0, 116}};
  EXPECT_EQ(ons, expected);
  EXPECT_EQ(offs, expected);
  EXPECT_EQ(song.handsetNotes, 2u);
  EXPECT_EQ(song.gmNotes, 1u);
}

TEST(HandsetSong, SampledVoicesWithoutTheirWaveAndBankSelectsGoToTheRightPlace) {
  using K = smaf::BindingKind;
  smaf::VoiceSet set = oneVoice({bind(0, 0, K::CUSTOM_MELODIC)});
  set.voices[0].kind = smaf::VoiceKind::PCM;
  set.voices[0].pcm.romWave = true;  // one of the chip's own waves: not in the file
  set.voices[0].pcm.sampleRate = 8000;
  test::StreamBuilder b = smafTimed();
  b.cc(0, 0, 0, smaf::BANK_USER_MELODIC).note(0, 0, 60, 100, 100).end(100);
  const auto stream = b.build();
  HandsetSong song;
  buildHandsetSong(stream.data(), uint32_t(stream.size()), set, HandsetPlayOptions{}, &song);
  EXPECT_EQ(song.handsetNotes, 0u);
  EXPECT_EQ(song.gmNotes, 1u);
  // The user-voice bank means nothing to a General MIDI SoundFont.
  for (const HandsetEvent& e : song.events) {
    if (e.status == 0xB0 && e.data1 == 0) {
      EXPECT_FALSE(e.toGm);
    }
  }
}

int16_t sampleAt(const std::vector<uint8_t>& wave, size_t i) {
  return int16_t(getLE(wave.data() + WAVE_HEADER_SIZE + 2 * i, 2));
}

double rmsOf(const std::vector<uint8_t>& wave) {
  const size_t n = (wave.size() - WAVE_HEADER_SIZE) / 2;
  double sum = 0;
  for (size_t i = 0; i < n; ++i) sum += double(sampleAt(wave, i)) * sampleAt(wave, i);
  return n ? std::sqrt(sum / double(n)) : 0;
}

int renderSong(const HandsetSong& song, const std::string& soundfont, int cores,
               std::vector<uint8_t>* wave, std::string* error) {
  RenderRequest request;
  request.handset = &song;
  request.soundfont = soundfont;
  request.cpuCores = cores;
  RenderResult result;
  return renderSmfToWave(request, wave, &result, error);
}

HandsetSong routed(const smaf::VoiceSet& set, int notes, int gmChannel = 1) {
  test::StreamBuilder b = smafTimed();
  for (int i = 0; i < notes; ++i) {
    b.note(i ? 100 : 0, 0, 60 + i % 12, 100, 90);
    if (gmChannel >= 0) b.note(0, gmChannel, 48 + i % 12, 100, 90);
  }
  const auto stream = b.end(100).build();
  HandsetSong song;
  buildHandsetSong(stream.data(), uint32_t(stream.size()), set, HandsetPlayOptions{}, &song);
  return song;
}

TEST(HandsetSong, TheFilesOwnVoicesNeedNoSoundFont) {
  using K = smaf::BindingKind;
  const HandsetSong song = routed(oneVoice({bind(0, 0, K::CUSTOM_MELODIC)}), 10, -1);
  ASSERT_EQ(song.gmNotes, 0u);
  std::vector<uint8_t> wave;
  std::string error;
  ASSERT_EQ(renderSong(song, "/nonexistent.sf2", 0, &wave, &error), 1) << error;
  EXPECT_GT(rmsOf(wave), 300);
  // About the song's second, and its release tail.
  EXPECT_GT(wave.size(), WAVE_HEADER_SIZE + 44100 * 4);
}

TEST(HandsetSong, ABuiltInVoiceComesOutOfTheGeneralMidiPath) {
  using K = smaf::BindingKind;
  const HandsetSong song = routed(oneVoice({bind(0, 1, K::BUILT_IN, 0)}), 10, 1);
  ASSERT_EQ(song.handsetNotes, 0u);
  std::vector<uint8_t> wave;
  std::string error;
  // Without a SoundFont it cannot play at all; with one it sounds.
  EXPECT_EQ(renderSong(song, "/nonexistent.sf2", 0, &wave, &error), 0);
  if (!haveSoundfont()) GTEST_SKIP() << "no SoundFont at " << DEFAULT_SOUNDFONT;
  ASSERT_EQ(renderSong(song, DEFAULT_SOUNDFONT, 0, &wave, &error), 1) << error;
  EXPECT_GT(rmsOf(wave), 300);
}

TEST(HandsetSong, TheSameSongRendersTheSameBytesTwiceAndOnOneOrTwoCores) {
  if (!haveSoundfont()) GTEST_SKIP() << "no SoundFont at " << DEFAULT_SOUNDFONT;
  using K = smaf::BindingKind;
  const HandsetSong song =
      routed(oneVoice({bind(0, 0, K::CUSTOM_MELODIC), bind(0, 1, K::BUILT_IN, 0)}), 40, 1);
  ASSERT_GT(song.handsetNotes, 0u);
  ASSERT_GT(song.gmNotes, 0u);
  std::vector<uint8_t> one, again, two;
  std::string error;
  ASSERT_EQ(renderSong(song, DEFAULT_SOUNDFONT, 1, &one, &error), 1) << error;
  ASSERT_EQ(renderSong(song, DEFAULT_SOUNDFONT, 1, &again, &error), 1) << error;
  ASSERT_EQ(renderSong(song, DEFAULT_SOUNDFONT, 2, &two, &error), 1) << error;
  EXPECT_TRUE(one == again);
  EXPECT_TRUE(one == two);
  EXPECT_GT(rmsOf(one), 300);
}

// Our own writers' voice bytes (two global bytes, five per operator) in a HandyPhone voice
// record (manufacturer, class, a byte, bank 0, program 0), as the reader decodes it.
template <size_t N>
smaf::Voice voiceFromTable(const uint8_t (&r)[N]) {
  std::vector<uint8_t> record = {0x43, 0x03, 0x00, 0x00, 0x00};
  record.insert(record.end(), r, r + N);
  smaf::VoiceSet set;
  EXPECT_EQ(smaf::decodeSetupRecord(record.data(), uint32_t(record.size()), &set),
            smaf::SetupRecord::VOICE);
  return set.voices.empty() ? smaf::Voice{} : set.voices[0];
}

TEST(HandsetSong, OurOwnWritersVoicesAndTheGmSettingKeepTheGeneralMidiPath) {
  smaf::VoiceSet ours;
  ours.voices.push_back(voiceFromTable(FM2_VOICES[0]));
  ours.voices.push_back(voiceFromTable(FM4_VOICES[0]));
  EXPECT_TRUE(voicesAreOurOwnWriters(ours));
  EXPECT_FALSE(wantsHandsetSynth(ours));

  smaf::VoiceSet theirs = ours;
  theirs.voices[0].fm.op[1].envelope.totalLevel ^= 1;
  EXPECT_FALSE(voicesAreOurOwnWriters(theirs));
  EXPECT_TRUE(wantsHandsetSynth(theirs));
  const std::string saved = options.synth;
  options.synth = "gm";
  EXPECT_FALSE(wantsHandsetSynth(theirs));
  options.synth = saved;
}

TEST(HandsetSong, FilesOfOurOwnSmafWritersPlayAsBefore) {
  const std::filesystem::path folder =
      std::filesystem::path(VLM_SOURCE_DIR) / "tests/golden/outputs/53";
  int tried = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    const std::string path = e.path().string();
    HandsetSong song;
    EXPECT_FALSE(prepareHandsetSong(path.c_str(), detectFormat(path.c_str()), &song)) << path;
    ++tried;
  }
  EXPECT_GT(tried, 0);
}

}  // namespace
}  // namespace vlm
