#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "convert/conversion_run.h"
#include "convert/options.h"
#include "core/codec.h"
#include "core/stages.h"
#include "core/vstream.h"
#include "formats/adpcm.h"
#include "formats/smaf_voice.h"
#include "platform/text.h"
#include "test_util.h"

namespace vlm {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes be(uint32_t v, int n) {
  Bytes b;
  for (int i = n - 1; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
  return b;
}

Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

// A chunk: 4-byte id (a three-letter id takes `suffix` as its fourth byte), length, body.
Bytes chunk(const std::string& id, const Bytes& body, uint8_t suffix = 0) {
  Bytes out(id.begin(), id.end());
  if (out.size() == 3) out.push_back(suffix);
  Bytes length = be(uint32_t(body.size()), 4);
  out.insert(out.end(), length.begin(), length.end());
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// The file chunk around the given chunks, with its CRC.
Bytes smafFile(std::initializer_list<Bytes> chunks) {
  Bytes body = cat(chunks);
  Bytes file = chunk("MMMD", body);
  const Bytes length = be(uint32_t(body.size() + 2), 4);  // the file length counts the CRC
  std::copy(length.begin(), length.end(), file.begin() + 4);
  const uint16_t crc = crc16(file.data(), uint32_t(file.size()));
  file.push_back(uint8_t(crc >> 8));
  file.push_back(uint8_t(crc));
  return file;
}

Bytes contents(uint8_t copyStatus, const Bytes& options) {
  return chunk("CNTI", cat({{0, 0, 0, copyStatus, 0}, options}));
}

// Handy-phone score track n: format 0, both time bases `tb`, two channel-status bytes, then the
// given inner chunks (setup, seek information) and the sequence.
Bytes handyTrack(uint8_t n, uint8_t tb, Bytes status, const Bytes& inner, const Bytes& seq) {
  return chunk("MTR", cat({{0x00, 0x00, tb, tb}, status, inner, chunk("Mtsq", seq)}), n);
}

// Mobile-standard score track 5 with 16 channel-status bytes.
Bytes mobileTrack(uint8_t tb, const Bytes& status16, const Bytes& seq) {
  return chunk("MTR", cat({{0x02, 0x00, tb, tb}, status16, chunk("Mtsq", seq)}), 5);
}

// Handy-phone voice message: FF F0 size 43 03 slot flags number, voice bytes, F7.
Bytes voiceMessage(uint8_t slot, uint8_t flags, uint8_t number, const uint8_t* voice, uint32_t n) {
  Bytes m = {0xFF, 0xF0, uint8_t(n + 6), 0x43, 0x03, slot, flags, number};
  m.insert(m.end(), voice, voice + n);
  m.push_back(0xF7);
  return m;
}

using Event = test::StreamEventCopy;

struct Result : test::CollectedStream {
  std::vector<Event> kind(uint8_t high) const {
    std::vector<Event> out;
    for (const Event& e : events)
      if (e.status < ST_EXCLUSIVE && (e.status & 0xF0) == high) out.push_back(e);
    return out;
  }
  std::vector<Event> controls(uint8_t controller) const {
    std::vector<Event> out;
    for (const Event& e : kind(ST_CONTROL))
      if (e.data[0] == controller) out.push_back(e);
    return out;
  }
  // Notes of both channel groups (wave notes are in the second).
  std::vector<Event> notes() const {
    std::vector<Event> out;
    for (const Event& e : events)
      if ((e.status & 0xF0) == ST_NOTE || (e.status & 0xF0) == ST_NOTE_HIGH) out.push_back(e);
    return out;
  }
};

uint32_t duration(const Event& note) {
  return uint32_t(note.data[2]) << 8 | note.data[3];
}

Result read(const Bytes& image, uint32_t capacity = 1 << 20) {
  return Result{test::runStage(readSmaf, image, capacity)};
}

const Bytes END_OF_SEQUENCE = {0x00, 0x00, 0x00, 0x00};

class SmafReader : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRun();
    runState.currentOutputCode = 0;
  }
};

TEST_F(SmafReader, ContentsInfoTextsAndProtection) {
  Bytes optionText = cat({text("ST:a\\,b,CR:(c),L2:"), {0x03, ','}, text("VN:x,")});
  Result r = read(smafFile({contents(0x0F, optionText)}));
  EXPECT_EQ(std::string(song.info.text[INFO_TITLE]), "a,b");
  EXPECT_EQ(std::string(song.info.text[INFO_COPYRIGHT]), "(c)");
  EXPECT_EQ(std::string(song.info.text[INFO_SOFTWARE]), "x");
  EXPECT_EQ(song.ProtectFlags, 7);
  EXPECT_EQ(songStats.ledMask, 1u << 3);
  EXPECT_EQ(r.timebase, 480);
  ASSERT_EQ(r.meta(META_TEMPO).size(), 1u);
  EXPECT_EQ(r.meta(META_TEMPO)[0].data, (Bytes{0x07, 0x53, 0x00}));  // 480000: 125 bpm
  EXPECT_EQ(songStats.tempoMin, 125u);
  EXPECT_EQ(songStats.tempoMax, 125u);

  // The 40-voice layout keeps its texts in a data chunk of the optional data.
  Bytes dch = chunk("Dch", cat({text("ST"), {0, 3}, text("abc"), text("AW"), {0, 1}, text("z")}));
  read(smafFile({contents(0, {}), chunk("OPDA", dch)}));
  EXPECT_EQ(std::string(song.info.text[INFO_TITLE]), "abc");
  EXPECT_EQ(std::string(song.info.text[INFO_ARRANGE]), "z");
  EXPECT_EQ(song.ProtectFlags, 0);
}

TEST_F(SmafReader, HandyPhoneNotesTimesAndControls) {
  // Track 2 (channels 4..7), time bases of 20 ms.
  Bytes seq = {0x00, 0x00, 0x32, 0x00,  // octave 0 on part 0
               0x00, 0x25, 10,          // part 0, block 2, key 5: note 65, gate 10
               10,   0x65, 0xFF, 0x7F,  // 200 ms later, part 1, gate 16511
               0x00, 0x00, 0x04,        // short expression x = 4 on part 0
               0x00, 0x00, 0xB2, 0x81,  // part 2: octave -1
               0x00, 0xA5, 1};          // part 2: note 53
  seq.insert(seq.end(), END_OF_SEQUENCE.begin(), END_OF_SEQUENCE.end());
  Result r = read(smafFile({contents(0, {}), handyTrack(2, 0x11, {0x80, 0x80}, {}, seq)}));
  std::vector<Event> notes = r.notes();
  ASSERT_EQ(notes.size(), 3u);
  EXPECT_EQ(notes[0].time, 0u);
  EXPECT_EQ(notes[0].status, 0x94);
  EXPECT_EQ(notes[0].data[0], 65);
  EXPECT_EQ(duration(notes[0]), 200u);
  EXPECT_EQ(notes[1].time, 200u);
  EXPECT_EQ(notes[1].status, 0x95);
  EXPECT_EQ(notes[1].data[0], 65);
  EXPECT_EQ(duration(notes[1]), 0xFFFFu);  // 16511 x 20 ms does not fit
  EXPECT_EQ(notes[2].status, 0x96);
  EXPECT_EQ(notes[2].data[0], 53);
  // Expression 48 is folded into the volume: 100 x 48 / 127.
  std::vector<Event> volume = r.controls(CC_VOLUME);
  ASSERT_EQ(volume.size(), 1u);
  EXPECT_EQ(volume[0].status, 0xB4);
  EXPECT_EQ(volume[0].data[1], 100 * 48 / 127);
  EXPECT_EQ(songStats.formatVersion, 200);
}

TEST_F(SmafReader, HandyPhoneShortAndLongControls) {
  Bytes seq = {0x00, 0x00, 0x10 | 5,                                              // bend MSB 40
               0x00, 0x00, 0x20 | 4,                                              // modulation 24
               0x00, 0x00, 0x20 | 12,                                             // modulation 96
               0x00, 0x00, 0x3A,      0x30,                                       // pan 48
               0x00, 0x00, 0x33,      0x11,                                       // modulation 17
               0x00, 0x00, 0x0F,                                                  // x = 15: nothing
               0xFF, 0x00,                                                        // no operation
               0x00, 0xFF, 0xF0,      0x06, 0x43, 0x03, 0x90, 0xC1, 0x22, 0xF7};  // register
  Result r = read(smafFile({handyTrack(1, 0x00, {0x80, 0x80}, {}, seq)}));
  std::vector<Event> bends = r.kind(ST_PITCH_BEND);
  ASSERT_GE(bends.size(), 1u);
  EXPECT_EQ(bends[0].data, (Bytes{0, 40}));
  std::vector<Event> modulation = r.controls(CC_MODULATION);
  ASSERT_EQ(modulation.size(), 3u);
  EXPECT_EQ(modulation[0].data[1], 24);
  EXPECT_EQ(modulation[1].data[1], 96);
  EXPECT_EQ(modulation[2].data[1], 17);
  ASSERT_EQ(r.controls(CC_PAN).size(), 1u);
  EXPECT_EQ(r.controls(CC_PAN)[0].data[1], 48);
}

TEST_F(SmafReader, VoiceDefinitionsMapToPrograms) {
  Bytes unknown(12, 0x55);
  Bytes setup = chunk("Mtsu", cat({voiceMessage(0, 0x00, 5, FM2_VOICES[40], 12),
                                   voiceMessage(1, 0x80, 36, FM2_VOICES[36 + 104], 12),
                                   voiceMessage(2, 0x01, 7, FM4_VOICES[77], 22),
                                   voiceMessage(3, 0x00, 9, unknown.data(), 12)}));
  Bytes seq = {0x00, 0x00, 0x30, 5,     // part 0 program 5: the voice of program 40
               0x00, 0x00, 0x71, 0x80,  // part 1 rhythm bank
               0x00, 0x00, 0x70, 36,    // part 1 drum sound 36
               0x00, 0x41, 5,           // part 1 note: plays the drum sound
               0x00, 0x00, 0x30, 7,     // program 77 (a four-operator voice)
               0x00, 0x00, 0x30, 9};    // an unknown voice keeps its number
  Result r = read(smafFile({handyTrack(1, 0x00, {0x80, 0x80}, setup, seq)}));
  std::vector<Event> voices = r.meta(META_VOICE);
  ASSERT_EQ(voices.size(), 4u);
  EXPECT_EQ(Bytes(voices[0].data.begin(), voices[0].data.begin() + 4), (Bytes{1, 0, 0, 40}));
  EXPECT_EQ(0, std::memcmp(voices[0].data.data() + 4, FM2_VOICES[40], 12));
  EXPECT_EQ(voices[1].data[3], 0x80 | 36);
  EXPECT_EQ(voices[2].data[0], 2);
  EXPECT_EQ(voices[2].data.size(), 4u + 22u);
  EXPECT_EQ(voices[2].data[3], 77);
  EXPECT_EQ(voices[3].data[3], 9);

  std::vector<Event> programs = r.kind(ST_PROGRAM);
  ASSERT_EQ(programs.size(), 3u);
  EXPECT_EQ(programs[0].data[0], 40);
  EXPECT_EQ(programs[1].data[0], 77);
  EXPECT_EQ(programs[2].data[0], 9);
  ASSERT_EQ(r.notes().size(), 1u);
  EXPECT_EQ(r.notes()[0].status, 0x91);
  EXPECT_EQ(r.notes()[0].data[0], 36);
  // Channel 10 is melodic in this layout; channel 2 became a rhythm channel.
  std::vector<Event> rhythm = r.controls(CC_RHYTHM_PART);
  ASSERT_EQ(rhythm.size(), 2u);
  EXPECT_EQ(rhythm[0].status, 0xB9);
  EXPECT_EQ(rhythm[0].data[1], 0);
  EXPECT_EQ(rhythm[1].status, 0xB1);
  EXPECT_EQ(rhythm[1].data[1], 1);
}

TEST_F(SmafReader, MobileStandardMessages) {
  Bytes status(16, 0);
  status[0] = 0x03;                           // rhythm
  status[9] = 0x01;                           // melodic
  status[2] = 0x20;                           // vibration
  status[3] = 0x10;                           // LED
  Bytes seq = {0x81, 0x00, 0xC1, 5,           // first delta 128 (x 4 ms), program 5
               0x00, 0x91, 60,   80,   10,    // note 60 velocity 80, 40 ms
               0x01, 0x81, 62,   0x81, 0x00,  // 4 ms later, velocity kept, 128 x 4 ms
               0x00, 0xB2, 0x00, 125,         // channel 2 plays waves
               0x00, 0x92, 5,    64,   1,     // wave 6
               0x00, 0x92, 95,   64,   1,     // wave 17
               0x00, 0xB1, 101,  0,    0x00, 0xB1, 100,  0,    0x00, 0xB1, 6, 12,  // bend range 12
               0x00, 0xF0, 0x07, 0x43, 0x79, 0x06, 0x7F, 0x00, 100,  0xF7,         // master volume
               0x00, 0xA1, 1,    2,    0x00, 0xD1, 3,  // pressures are dropped
               0x00, 0xFF, 0x00, 0x00, 0xFF, 0x2F, 0x00};
  Result r = read(smafFile({contents(0, {}), mobileTrack(0x02, status, seq)}));
  EXPECT_EQ(songStats.formatVersion, 300);
  EXPECT_EQ(songStats.vibrationMask, 1u << 2);
  EXPECT_EQ(songStats.ledMask, 1u << 3);
  std::vector<Event> rhythm = r.controls(CC_RHYTHM_PART);
  ASSERT_EQ(rhythm.size(), 2u);
  EXPECT_EQ(rhythm[0].status, 0xB0);
  EXPECT_EQ(rhythm[0].data[1], 1);
  EXPECT_EQ(rhythm[1].status, 0xB9);
  EXPECT_EQ(rhythm[1].data[1], 0);

  std::vector<Event> notes = r.notes();
  ASSERT_EQ(notes.size(), 4u);
  EXPECT_EQ(notes[0].time, 512u);
  EXPECT_EQ(notes[0].data, (Bytes{60, 80, 0, 40}));
  EXPECT_EQ(notes[1].time, 516u);
  EXPECT_EQ(notes[1].data, (Bytes{62, 80, 0x02, 0x00}));
  EXPECT_EQ(notes[2].status, WAVE_NOTE_STATUS);
  EXPECT_EQ(notes[2].data[0], 6);
  EXPECT_EQ(notes[3].data[0], 17);
  ASSERT_EQ(r.controls(CC_BEND_RANGE).size(), 1u);
  EXPECT_EQ(r.controls(CC_BEND_RANGE)[0].data[1], 12);
  ASSERT_EQ(r.meta(META_MASTER_VOLUME).size(), 1u);
  EXPECT_EQ(r.meta(META_MASTER_VOLUME)[0].data, (Bytes{100}));
  EXPECT_TRUE(r.kind(ST_POLY_PRESSURE).empty());
  EXPECT_TRUE(r.kind(ST_CHANNEL_PRESSURE).empty());
}

TEST_F(SmafReader, ExtendedVoicesRemapProgramsAndRhythmNotes) {
  // F0 size 43 79 06 7F 01 bank 00 program note kind, record, F7.
  auto ext = [](uint8_t bank, uint8_t program, uint8_t note, const uint8_t* record) {
    Bytes m = {0xF0, 10 + 18 + 1, 0x43, 0x79, 0x06, 0x7F, 0x01, bank, 0x00, program, note, 0};
    m.insert(m.end(), record, record + 18);
    m.push_back(0xF7);
    return m;
  };
  Bytes setup = chunk("Mtsu", cat({ext(0x7C, 3, 0, FM2_EXT_VOICES[20]),
                                   ext(0x7D, 0, 40, FM2_EXT_VOICES[128 + (50 - 24)])}));
  Bytes status(16, 0);
  Bytes seq = {0x00, 0xC0, 3, 0x00, 0x99, 40, 100, 2};
  Bytes track = chunk("MTR", cat({{0x02, 0x00, 0, 0}, status, setup, chunk("Mtsq", seq)}), 5);
  Result r = read(smafFile({track}));
  ASSERT_EQ(r.kind(ST_PROGRAM).size(), 1u);
  EXPECT_EQ(r.kind(ST_PROGRAM)[0].data[0], 20);
  ASSERT_EQ(r.notes().size(), 1u);
  EXPECT_EQ(r.notes()[0].data[0], 50);
}

TEST_F(SmafReader, AudioTrackWavesAndWaveNotes) {
  Bytes atsq = {0x00, 0x01, 10, 0x00, 0x00, 0x37, 100};
  atsq.insert(atsq.end(), END_OF_SEQUENCE.begin(), END_OF_SEQUENCE.end());
  Bytes atr = chunk("ATR", cat({{0x00, 0x00, 0x11, 0x00, 0x02, 0x02},
                                chunk("Atsq", atsq),
                                chunk("Awa", {1, 2, 3, 4}, 1)}));
  Bytes stream = chunk("MTR",
                       cat({{0x00, 0x00, 0x02, 0x02, 0x80, 0x80},
                            chunk("Mtsp", chunk("Mwa", {0x20, 0x1F, 0x40, 9, 9}, 2)),
                            chunk("Mtsq", END_OF_SEQUENCE)}),
                       1);
  Bytes file = smafFile({atr, stream});
  Result r = read(file);
  std::vector<Event> waves = r.meta(META_WAVE);
  ASSERT_EQ(waves.size(), 2u);
  EXPECT_EQ(waves[0].data, (Bytes{1, 1, 1, 2, 3, 4}));
  EXPECT_EQ(waves[1].data, (Bytes{2, 1, 9, 9}));
  ASSERT_EQ(songStats.waveCount, 2);
  EXPECT_EQ(songStats.waves[0].sampleRate, 8000u);
  EXPECT_EQ(songStats.waves[0].length, 4u);
  EXPECT_EQ(file[songStats.waves[0].position], 1);
  EXPECT_TRUE(songStats.hasVoiceSamples);
  std::vector<Event> notes = r.notes();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].status, WAVE_NOTE_STATUS);
  EXPECT_EQ(notes[0].data[0], 1);
  EXPECT_EQ(duration(notes[0]), 40u);
  ASSERT_EQ(r.meta(META_WAVE_LEVEL).size(), 1u);
  EXPECT_EQ(r.meta(META_WAVE_LEVEL)[0].data, (Bytes{100}));
}

// Some encoders put a bare text into the optional-data chunk instead of its sub-chunks; read as
// a chunk head, the text claims a length past the end of the file and hid the audio track.
TEST_F(SmafReader, OptionalDataThatHoldsNoChunksHidesNothing) {
  Bytes atr = chunk("ATR", cat({{0x00, 0x00, 0x11, 0x00, 0x02, 0x02},
                                chunk("Atsq", END_OF_SEQUENCE),
                                chunk("Awa", {1, 2, 3, 4}, 1)}));
  Bytes file = smafFile({chunk("OPDA", text("VN:Lavf59.27.100,")), atr});
  Result r = read(file);
  ASSERT_EQ(r.meta(META_WAVE).size(), 1u);
  EXPECT_EQ(songStats.waves[0].sampleRate, 8000u);
  // An optional-data chunk inside another one is not entered again.
  Bytes nested = chunk("OPDA", chunk("OPDA", chunk("OPDA", text("x"))));
  EXPECT_EQ(read(smafFile({nested, atr})).meta(META_WAVE).size(), 1u);
}

// Coding event of a wave: number, coding, rate.
Bytes codingOf(const Result& r, uint8_t number) {
  for (const Event& e : r.meta(META_WAVE_CODING))
    if (!e.data.empty() && e.data[0] == number) return e.data;
  return {};
}

TEST_F(SmafReader, EveryWaveSaysItsCodingAndRate) {
  // Audio track heads: Yamaha ADPCM at 8000 Hz (the handy-phone layout), 8-bit PCM at 4000 Hz,
  // 16-bit offset-binary PCM at 22050 Hz.
  auto audio = [](uint8_t type, uint8_t width, uint8_t number, const Bytes& data) {
    return chunk("ATR", cat({{0x00, 0x00, type, width, 0x02, 0x02},
                             chunk("Atsq", END_OF_SEQUENCE),
                             chunk("Awa", data, number)}));
  };
  // Stream waves: type byte, 16-bit rate, samples.
  auto stream = [](const Bytes& waves) {
    return chunk("MTR",
                 cat({{0x02, 0x00, 0x02, 0x02},
                      Bytes(16, 0),
                      chunk("Mtsq", {0x00, 0xFF, 0x2F, 0x00}),
                      chunk("Mtsp", waves)}),
                 5);
  };
  Bytes file = smafFile({audio(0x11, 0x00, 1, {0x12, 0x34}), audio(0x00, 0x10, 2, {0x80, 0x7F}),
                         audio(0x23, 0x30, 3, {0x80, 0x00}),
                         stream(cat({chunk("Mwa", {0x20, 0x2E, 0xE0, 0x77, 0x77}, 4),     // 12000
                                     chunk("Mwa", {0x11, 0x2B, 0x11, 0x80}, 5),           // 11025
                                     chunk("Mwa", {0x03, 0x1F, 0x40, 0x01, 0x02}, 6),     // 16-bit
                                     chunk("Mwa", {0x02, 0x1F, 0x40, 0x01, 0x02, 3}, 7),  // 12-bit
                                     chunk("Mwa", {0x20, 0x00, 0x00, 0x55}, 8)}))});      // no rate
  Result r = read(file);
  auto rate = [](uint32_t hz) { return be(hz, 4); };
  EXPECT_EQ(codingOf(r, 1), cat({{1, uint8_t(ADPCM_YAMAHA)}, rate(8000)}));
  EXPECT_EQ(codingOf(r, 2), cat({{2, uint8_t(WAVE_PCM8)}, rate(4000)}));
  EXPECT_EQ(codingOf(r, 3), cat({{3, uint8_t(WAVE_PCM16_OFFSET)}, rate(22050)}));
  EXPECT_EQ(codingOf(r, 4), cat({{4, uint8_t(ADPCM_YAMAHA)}, rate(12000)}));
  EXPECT_EQ(codingOf(r, 5), cat({{5, uint8_t(WAVE_PCM8_OFFSET)}, rate(11025)}));
  EXPECT_EQ(codingOf(r, 6), cat({{6, uint8_t(WAVE_PCM16)}, rate(8000)}));
  EXPECT_TRUE(codingOf(r, 7).empty());
  EXPECT_TRUE(codingOf(r, 8).empty());

  // The wave data events keep their form: number, rate code, samples. A rate outside the five
  // counts 250 Hz steps, or takes the nearest code; waves that cannot be decoded have no rate.
  std::vector<Event> waves = r.meta(META_WAVE);
  ASSERT_EQ(waves.size(), 8u);
  EXPECT_EQ(waves[0].data, (Bytes{1, 1, 0x12, 0x34}));
  EXPECT_EQ(waves[3].data, (Bytes{4, 48, 0x77, 0x77}));
  EXPECT_EQ(waves[4].data, (Bytes{5, 2, 0x80}));
  EXPECT_EQ(waves[6].data, (Bytes{7, WAVE_RATE_NONE, 0x01, 0x02, 3}));
  EXPECT_EQ(waves[7].data, (Bytes{8, WAVE_RATE_NONE, 0x55}));
  // Each coding event stands right before its wave.
  for (size_t i = 0; i + 1 < r.events.size(); ++i)
    if (r.events[i].status == ST_META && r.events[i].metaType == META_WAVE_CODING)
      EXPECT_EQ(r.events[i + 1].metaType, META_WAVE);

  ASSERT_EQ(songStats.waveCount, 8);
  EXPECT_EQ(songStats.waves[3].sampleRate, 12000u);
  EXPECT_EQ(songStats.waves[3].coding, ADPCM_YAMAHA);
  EXPECT_EQ(songStats.waves[2].coding, WAVE_PCM16_OFFSET);
  EXPECT_EQ(songStats.waves[6].sampleRate, 0u);
  EXPECT_TRUE(songStats.hasVoiceSamples);
}

TEST_F(SmafReader, StreamWaveAtAnUnlistedRateIsHeard) {
  // A stream-PCM song: a wave channel (bank 125) plays wave 1 (note 0), 12000 Hz Yamaha ADPCM.
  Bytes seq = {0x00, 0xB3, 0x00, 125, 0x00, 0x93, 0x00, 100, 0x81, 0x00, 0x00, 0xFF, 0x2F, 0x00};
  Bytes samples(600, 0x17);
  Bytes track = chunk("MTR",
                      cat({{0x02, 0x00, 0x00, 0x00},
                           Bytes(16, 0),
                           chunk("Mtsq", seq),
                           chunk("Mtsp", chunk("Mwa", cat({{0x20, 0x2E, 0xE0}, samples}), 1))}),
                      5);
  Result r = read(smafFile({track}));
  ASSERT_EQ(r.with(WAVE_NOTE_STATUS).size(), 1u);
  EXPECT_EQ(r.with(WAVE_NOTE_STATUS)[0].data[0], 1);
  ASSERT_EQ(r.meta(META_WAVE).size(), 1u);
  EXPECT_EQ(r.meta(META_WAVE)[0].data.size(), 2u + 600u);
  EXPECT_TRUE(songStats.hasVoiceSamples);
}

TEST_F(SmafReader, LyricsAndCues) {
  // A karaoke line: 0x40, length, display time, position entry, text entry.
  Bytes gsq = {0x00, 0x40, 10,   0x82, 0x00, 0xF0, 0x00, 0x00, 0x01, 3,    'a',
               'b',  'c',  0x05, 0x40, 6,    0x01, 0xF0, 0x00, 0x0C, 0x01, 0};
  gsq.insert(gsq.end(), END_OF_SEQUENCE.begin(), END_OF_SEQUENCE.end());
  Bytes gtr = chunk("GTR", cat({{0, 0, 0, 0, 0x02, 0x00}, chunk("Gsq ", gsq)}));
  // Events start at offsets 0, 3 and 6; the cues stand on the second and the third.
  Bytes seq = {0x00, 0x25, 5, 10, 0x25, 5, 10, 0x25, 5};
  seq.insert(seq.end(), END_OF_SEQUENCE.begin(), END_OF_SEQUENCE.end());
  Bytes seek =
      chunk("MspI", cat({text("st:"), be(3, 4), text(","), text("sp:"), be(6, 4), text(",")}));
  Result r = read(smafFile({handyTrack(1, 0x02, {0x80, 0x80}, seek, seq), gtr}));
  std::vector<Event> cues = r.meta(META_CUE);
  ASSERT_EQ(cues.size(), 2u);
  EXPECT_EQ(cues[0].time, 40u);
  EXPECT_EQ(cues[0].data, (Bytes{0}));
  EXPECT_EQ(cues[1].time, 80u);
  EXPECT_EQ(cues[1].data, (Bytes{1}));
  std::vector<Event> lyrics = r.meta(META_LYRIC);
  ASSERT_EQ(lyrics.size(), 1u);
  EXPECT_EQ(lyrics[0].time, 0u);
  EXPECT_EQ(lyrics[0].data, text("abc"));
}

// A file with every kind of chunk, for the damage tests.
Bytes richFile() {
  Bytes setup = chunk("Mtsu", cat({voiceMessage(0, 0x00, 5, FM2_VOICES[40], 12),
                                   voiceMessage(1, 0x01, 7, FM4_VOICES[77], 22)}));
  Bytes handy = {0x00, 0x00, 0x30, 5,    0x00, 0x00, 0x32, 0x81, 0x00, 0x25, 10,
                 0x81, 0x10, 0x65, 0x90, 0x00, 0x00, 0x00, 0x04, 0x00, 0xFF, 0xF0,
                 0x06, 0x43, 0x03, 0x90, 0xB1, 0x22, 0xF7, 0x00, 0x00, 0x00, 0x00};
  Bytes status(16, 0);
  status[0] = 3;
  Bytes mobile = {0x00, 0xC1, 5,    0x00, 0x91, 60,   80,   0x81, 0x00, 0x05, 0x81, 62,
                  3,    0x00, 0xB2, 0x00, 125,  0x00, 0x92, 5,    64,   1,    0x00, 0xF0,
                  0x07, 0x43, 0x79, 0x06, 0x7F, 0x00, 100,  0xF7, 0x00, 0xFF, 0x2F, 0x00};
  Bytes atsq = {0x00, 0x01, 10, 0x00, 0x00, 0x37, 100, 0x00, 0x00, 0x00, 0x00};
  Bytes gsq = {0x00, 0x40, 10, 0x82, 0x00, 0xF0, 0x00, 0x00, 0x01, 3, 'a', 'b', 'c'};
  Bytes seek = chunk("MspI", cat({text("st:"), be(4, 4), text(","), text("sp:"), be(11, 4)}));
  return smafFile({contents(3, text("ST:title,CR:c,")),
                   handyTrack(1, 0x02, {0xB0, 0x80}, cat({seek, setup}), handy),
                   mobileTrack(0x11, status, mobile),
                   chunk("ATR", cat({{0, 0, 0x12, 0, 0x02, 0x02},
                                     chunk("Atsq", atsq),
                                     chunk("Awa", {1, 2, 3, 4, 5, 6}, 1)})),
                   chunk("GTR", cat({{0, 0, 0, 0, 0x02, 0x00}, chunk("Gsq ", gsq)})),
                   chunk("OPDA", chunk("Dch", cat({text("ST"), {0, 2}, text("ab")})))});
}

void expectSound(const Bytes& image, uint32_t capacity = 1 << 16) {
  std::vector<uint8_t> out(capacity);
  int32_t size = -1;
  readSmaf(image.data(), uint32_t(image.size()), out.data(), &size, capacity);
  ASSERT_GE(size, 0);
  ASSERT_LE(uint32_t(size), capacity);
  if (size == 0) return;
  auto table = std::make_unique<TrackTable>();
  loadTrackTable(*table, out.data(), uint32_t(size));
  StreamEvent ev;
  int events = 0;
  while (nextStreamEvent(*table, ev)) ++events;
  EXPECT_FALSE(table->truncated);
  EXPECT_GT(events, 0);
}

TEST_F(SmafReader, RichFileReadsEverything) {
  Result r = read(richFile());
  EXPECT_FALSE(r.truncated);
  EXPECT_EQ(r.meta(META_CUE).size(), 2u);
  EXPECT_EQ(r.meta(META_WAVE).size(), 1u);
  EXPECT_EQ(r.meta(META_LYRIC).size(), 1u);
  EXPECT_EQ(r.notes().size(), 6u);
  EXPECT_EQ(std::string(song.info.text[INFO_TITLE]), "ab");  // the data chunk comes last
}

TEST_F(SmafReader, CutAndCorruptedImagesReadSafely) {
  const Bytes file = richFile();
  for (size_t n = 0; n <= file.size(); ++n) expectSound(Bytes(file.begin(), file.begin() + n));
  for (size_t i = 0; i < file.size(); ++i) {
    for (uint8_t flip : {0xFF, 0x80, 0x01, 0x7F}) {
      Bytes damaged = file;
      damaged[i] ^= flip;
      expectSound(damaged);
    }
  }
  // Lengths far past the end: the chunks are cut at the end of the input.
  Bytes longTrack = file;
  for (size_t i = 0; i + 4 <= longTrack.size(); ++i)
    if (std::memcmp(&longTrack[i], "Mtsq", 4) == 0) longTrack[i + 4] = 0x7F;
  expectSound(longTrack);
  // Small output buffers end the stream early and cleanly.
  for (uint32_t capacity : {0u, 16u, 38u, 40u, 48u, 64u, 100u, 200u}) expectSound(file, capacity);
}

TEST_F(SmafReader, VarLenWithoutEndEndsTheTrack) {
  Bytes seq = {0x00, 0x25, 5, 0x80, 0x80, 0x80};  // a delta that never ends
  Result r = read(smafFile({handyTrack(1, 0x02, {0x80, 0x80}, {}, seq)}));
  EXPECT_FALSE(r.truncated);
  EXPECT_EQ(r.notes().size(), 1u);
  Bytes gate = {0x00, 0x25, 0x85};  // a gate that never ends
  EXPECT_TRUE(read(smafFile({handyTrack(1, 0x02, {0x80, 0x80}, {}, gate)})).notes().empty());
}

// ---- Round trips through the SMAF writers -------------------------------------------------

struct SourceNote {
  uint32_t time;
  int channel, note, velocity;
  uint16_t duration;
};

Bytes sourceStream(const std::vector<SourceNote>& notes) {
  vlmtest::StreamBuilder b(120);
  b.track();
  uint32_t last = 0;
  for (const SourceNote& n : notes) {
    b.note(n.time - last, n.channel, n.note, n.velocity, n.duration);
    last = n.time;
  }
  b.end(2000);
  return b.build();
}

void expectRoundTrip(StageFn writer, const std::vector<SourceNote>& source) {
  const Bytes stream = sourceStream(source);
  resetSongStats();
  std::vector<uint8_t> file(1 << 16);
  int32_t size = 0;
  writer(stream.data(), uint32_t(stream.size()), file.data(), &size, uint32_t(file.size()));
  ASSERT_GT(size, 0);
  Result r = read(Bytes(file.begin(), file.begin() + size));
  std::vector<Event> notes = r.notes();
  ASSERT_EQ(notes.size(), source.size());
  for (size_t i = 0; i < source.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(notes[i].status, 0x90 | source[i].channel);
    EXPECT_EQ(notes[i].data[0], source[i].note);
    EXPECT_EQ(notes[i].time, source[i].time * 4);  // 4 ms ticks at timebase 120
    EXPECT_EQ(duration(notes[i]), source[i].duration * 4u);
  }
}

const std::vector<SourceNote> SONG = {
    {0, 0, 60, 100, 60},   {0, 1, 64, 100, 240},   {30, 4, 72, 100, 30},
    {120, 0, 90, 100, 90}, {240, 0, 30, 100, 120}, {5000, 1, 67, 100, 1000},
};

TEST_F(SmafReader, RoundTripThroughThe40VoiceWriter) {
  runState.currentOutputCode = FORMAT_SMAF40;
  expectRoundTrip(writeSmaf40, SONG);
}

TEST_F(SmafReader, RoundTripThroughThe16VoiceWriter) {
  runState.currentOutputCode = FORMAT_SMAF;
  options.preset.noteType = 0;
  expectRoundTrip(writeSmaf, SONG);
}

}  // namespace
}  // namespace vlm

// ---- Score encodings and verdicts -----------------------------------------------------------

namespace vlm {
namespace {

// Most-significant-bit-first bit sink of the compressed score layout.
struct BitSink {
  Bytes bytes;
  int used = 8;
  void bit(int b) {
    if (used == 8) {
      bytes.push_back(0);
      used = 0;
    }
    if (b) bytes.back() |= uint8_t(0x80 >> used);
    ++used;
  }
  void bits(uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) bit((v >> i) & 1);
  }
};

// A balanced code tree over `leaves`: writes it in pre-order (1 = node, 0 + 8 bits = leaf) and
// records each leaf's code.
void writeTree(BitSink& out, const Bytes& leaves, size_t from, size_t to, std::string prefix,
               std::string codes[256]) {
  if (to - from == 1) {
    out.bit(0);
    out.bits(leaves[from], 8);
    codes[leaves[from]] = prefix;
    return;
  }
  out.bit(1);
  const size_t mid = from + (to - from) / 2;
  writeTree(out, leaves, from, mid, prefix + "0", codes);
  writeTree(out, leaves, mid, to, prefix + "1", codes);
}

// A compressed "Mtsq" body of `plain`: its length, a tree over its distinct bytes, the codes.
Bytes compress(const Bytes& plain) {
  Bytes leaves;
  for (uint8_t b : plain)
    if (std::find(leaves.begin(), leaves.end(), b) == leaves.end()) leaves.push_back(b);
  if (leaves.size() == 1) leaves.push_back(uint8_t(leaves[0] ^ 1));  // the root is a node
  BitSink bits;
  std::string codes[256];
  writeTree(bits, leaves, 0, leaves.size(), "", codes);
  for (uint8_t b : plain)
    for (char c : codes[b]) bits.bit(c == '1');
  return cat({be(uint32_t(plain.size()), 4), bits.bytes});
}

Bytes scoreTrack(uint8_t format, uint8_t number, const Bytes& seq) {
  const size_t statusBytes = format == 0 ? 2 : format == 3 ? 32 : 16;
  return chunk("MTR", cat({{format, 0x00, 0x02, 0x02}, Bytes(statusBytes, 0), chunk("Mtsq", seq)}),
               number);
}

// Two notes on channel 2 (4 ms ticks): note 60 at 0 for 100 ticks, note 64 at 50 ticks, end.
const Bytes MOBILE_NOTES = {0x00, 0x92, 60, 100, 0x64, 0x32, 0x82, 64, 0x0A, 0x00, 0xFF, 0x2F, 0x00};

TEST_F(SmafReader, CompressedScoreReadsLikeItsPlainForm) {
  Result plain = read(smafFile({contents(0, {}), scoreTrack(2, 5, MOBILE_NOTES)}));
  Result packed = read(smafFile({contents(0, {}), scoreTrack(1, 5, compress(MOBILE_NOTES))}));
  ASSERT_EQ(packed.notes().size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(packed.notes()[i].time, plain.notes()[i].time);
    EXPECT_EQ(packed.notes()[i].data, plain.notes()[i].data);
    EXPECT_EQ(packed.notes()[i].status, 0x92);
  }
  EXPECT_EQ(packed.notes()[1].time, 200u);
  EXPECT_EQ(duration(packed.notes()[1]), 40u);
  EXPECT_FALSE(song.read.unsupported);
  EXPECT_FALSE(song.read.damage);
  EXPECT_FALSE(song.read.checksumBad);
  EXPECT_EQ(song.read.stoppedAt, song.read.imageSize);
}

TEST_F(SmafReader, BrokenCompressedScoreIsUnsupported) {
  Bytes packed = compress(MOBILE_NOTES);
  Bytes shortened(packed.begin(), packed.end() - 2);  // codes run out before the stated length
  Result r = read(smafFile({scoreTrack(1, 5, shortened)}));
  EXPECT_TRUE(r.notes().empty());
  ASSERT_TRUE(song.read.unsupported);
  // A tree of only internal nodes never reaches a leaf.
  read(smafFile({scoreTrack(1, 5, cat({be(10, 4), Bytes(80, 0xFF)}))}));
  EXPECT_TRUE(song.read.unsupported);
  read(smafFile({scoreTrack(7, 5, MOBILE_NOTES)}));  // an unknown format type
  EXPECT_TRUE(song.read.unsupported);
}

TEST_F(SmafReader, Ma7StatusBytesAddressTheirChannels) {
  // Type 1 (note with velocity) on channel 3, type 0 (running velocity) on channel 19 (bit 7),
  // a program change (type 4) on channel 3, a bend (type 6), then the end.
  const Bytes seq = {0x00, 0x13, 60, 90, 0x10, 0x00, 0x43, 7,    0x00, 0x63,
                     0x00, 0x50, 0x00, 0x83, 62, 0x20, 0x00, 0xFF, 0x2F, 0x00};
  Result r = read(smafFile({scoreTrack(3, 7, seq)}));
  ASSERT_EQ(r.notes().size(), 2u);
  EXPECT_EQ(r.notes()[0].status, 0x93);
  EXPECT_EQ(r.notes()[0].data[1], 90);
  EXPECT_EQ(r.notes()[1].status, 0x93);  // channel 19 plays on channel 3
  EXPECT_EQ(r.notes()[1].data[0], 62);
  EXPECT_EQ(r.notes()[1].data[1], 90);  // the running velocity
  ASSERT_EQ(r.kind(ST_PROGRAM).size(), 1u);
  EXPECT_EQ(r.kind(ST_PROGRAM)[0].data[0], 7);
  EXPECT_EQ(r.kind(ST_PITCH_BEND).size(), 1u);
  EXPECT_FALSE(song.read.damage);
}

// A Phrase file: "MMMG" (version 1, 20 ms ticks) with a sequence of four channels.
Bytes phraseFile(const Bytes& voic, const Bytes& sequ) {
  Bytes mmmg = cat({{0x01, 0x14}, voic.empty() ? Bytes{} : chunk("VOIC", voic), chunk("SEQU", sequ)});
  return smafFile({chunk("CNTI", {0x00, 0xF0, 0x00, 0x00, 0x00}), chunk("MMMG", mmmg)});
}

TEST_F(SmafReader, PhraseFileReadsItsSequenceToTheEnd) {
  const Bytes seq = {0x00, 0x00, 0x70, 0x05,  // channel 1 program 5
                     0x00, 0x00, 0x00, 0x40,  // fine tune (one value byte, no end of sequence)
                     0x00, 0x5C, 0x05,        // channel 1, octave 1, C: note 60 for 5 ticks
                     0x0A, 0xFF, 0x12,        // a user event
                     0x00, 0xA2, 0x0A};       // channel 2, octave 2, D: note 62
  Result r = read(phraseFile({}, seq));
  ASSERT_EQ(r.notes().size(), 2u);
  EXPECT_EQ(r.notes()[0].status, 0x91);
  EXPECT_EQ(r.notes()[0].data[0], 60);
  EXPECT_EQ(duration(r.notes()[0]), 100u);  // 5 ticks of 20 ms
  EXPECT_EQ(r.notes()[1].status, 0x92);
  EXPECT_EQ(r.notes()[1].data[0], 62);
  EXPECT_EQ(r.notes()[1].time, 200u);
  ASSERT_EQ(r.kind(ST_PROGRAM).size(), 1u);
  EXPECT_FALSE(song.read.damage);  // a Phrase sequence has no end-of-sequence record
  EXPECT_EQ(song.read.stoppedAt, song.read.imageSize);
}

TEST_F(SmafReader, ChecksumsChunkBoundsAndEndsOfSequenceDecideDamage) {
  const Bytes intact = smafFile({contents(0, {}), scoreTrack(2, 5, MOBILE_NOTES)});
  read(intact);
  EXPECT_FALSE(song.read.checksumBad);
  EXPECT_FALSE(song.read.damage);

  Bytes flipped = intact;
  flipped[flipped.size() - 6] ^= 0x01;  // the end of sequence still parses: only the CRC tells
  read(flipped);
  EXPECT_TRUE(song.read.checksumBad);

  // EZweb files carry two bytes after the CRC that belong to the format.
  Bytes ezweb = cat({intact, {0x1D, 0x0F}});
  read(ezweb);
  EXPECT_EQ(song.read.stoppedAt, song.read.imageSize);
  EXPECT_FALSE(song.read.checksumBad);
  read(cat({intact, {0x1D, 0x0E}}));
  EXPECT_LT(song.read.stoppedAt, song.read.imageSize);

  // A sequence that stops without its end of sequence.
  const Bytes open(MOBILE_NOTES.begin(), MOBILE_NOTES.end() - 3);
  Result r = read(smafFile({scoreTrack(2, 5, open)}));
  EXPECT_EQ(r.notes().size(), 2u);
  EXPECT_TRUE(song.read.damage);
  // A handy-phone one likewise.
  read(smafFile({handyTrack(1, 0x02, {0, 0}, {}, {0x00, 0x25, 0x10})}));
  EXPECT_TRUE(song.read.damage);
  read(smafFile({handyTrack(1, 0x02, {0, 0}, {}, cat({{0x00, 0x25, 0x10}, END_OF_SEQUENCE}))}));
  EXPECT_FALSE(song.read.damage);

  // A sequence chunk longer than its track, while the file's length is right.
  Bytes track = scoreTrack(2, 5, MOBILE_NOTES);
  track[track.size() - MOBILE_NOTES.size() - 1] += 4;  // the "Mtsq" length
  read(smafFile({track, contents(0, {})}));
  EXPECT_TRUE(song.read.damage);
}


TEST_F(SmafReader, SetupVoicesJoinTheSongAndChannelsBindToThem) {
  // MA-5 voices: melodic 7C/00 program 3 (FM), drum 7D/00 program 0 note 38 (PCM, RAM wave 1),
  // then the wave, then a record with a two-byte length quantity (a 200-byte wave).
  const Bytes fm = {0x00, 0x79, 0x00, 0x02, 0x41, 0xCF, 0x00, 0x00, 0x10, 0x00,
                    0x02, 0x41, 0xCF, 0x00, 0x00, 0x10, 0x00};
  const Bytes pcm = {0x1F, 0x40, 0, 0, 0, 0x62, 0xF0, 0, 0, 0, 0, 0, 0, 0, 9, 0x01};
  auto exclusive = [](const Bytes& payload) {
    Bytes length = payload.size() + 1 < 128
                       ? Bytes{uint8_t(payload.size() + 1)}
                       : Bytes{uint8_t(0x80 | (payload.size() + 1) >> 7),
                               uint8_t((payload.size() + 1) & 0x7F)};
    return cat({{0xF0}, length, payload, {0xF7}});
  };
  const Bytes setup = cat({exclusive(cat({{0x43, 0x79, 0x07, 0x7F, 0x01, 0x7C, 0, 3, 0, 0}, fm})),
                           exclusive(cat({{0x43, 0x79, 0x07, 0x7F, 0x01, 0x7D, 0, 0, 38, 1}, pcm})),
                           exclusive({0x43, 0x79, 0x07, 0x7F, 0x03, 1, 0, 0x11, 0x22}),
                           exclusive(cat({{0x43, 0x79, 0x07, 0x7F, 0x03, 2, 0}, Bytes(200, 0x08)}))});
  const Bytes seq = {0x00, 0xB0, 0x00, 0x7C, 0x00, 0xC0, 0x03, 0x00, 0x90, 60, 100, 0x10,  // melodic
                     0x00, 0xB9, 0x00, 0x7D, 0x00, 0x99, 38, 100, 0x10,                      // drum
                     0x00, 0xB1, 0x00, 0x00, 0x00, 0xC1, 0x28, 0x00, 0x91, 64, 100, 0x10,   // ROM 40
                     0x00, 0xFF, 0x2F, 0x00};
  Bytes track = chunk("MTR", cat({{0x02, 0x00, 0x02, 0x02}, Bytes(16, 0), chunk("Mtsu", setup),
                                  chunk("Mtsq", seq)}),
                      5);
  Result r = read(smafFile({contents(0, {}), track}));
  EXPECT_EQ(r.notes().size(), 3u);
  const std::shared_ptr<const smaf::VoiceSet> set = smaf::songVoices();
  ASSERT_EQ(set->voices.size(), 2u);
  ASSERT_EQ(set->waves.size(), 2u);
  EXPECT_EQ(set->waves[1].bytes.size(), 200u);
  ASSERT_EQ(set->bindings.size(), 3u);
  const smaf::ChannelBinding& melodic = set->bindings[0];
  EXPECT_EQ(melodic.kind, smaf::BindingKind::CUSTOM_MELODIC);
  EXPECT_EQ(melodic.channel, 0);
  EXPECT_EQ(set->find(melodic, 60), &set->voices[0]);
  const smaf::ChannelBinding& drum = set->bindings[1];
  EXPECT_EQ(drum.kind, smaf::BindingKind::CUSTOM_DRUM);
  EXPECT_EQ(drum.channel, 9);
  const smaf::Voice* drumVoice = set->find(drum, 38);
  ASSERT_NE(drumVoice, nullptr);
  EXPECT_EQ(drumVoice->kind, smaf::VoiceKind::PCM);
  ASSERT_NE(set->findWave(drumVoice->pcm.waveId), nullptr);
  EXPECT_EQ(set->findWave(drumVoice->pcm.waveId)->bytes, (Bytes{0x11, 0x22}));
  EXPECT_EQ(set->bindings[2].kind, smaf::BindingKind::BUILT_IN);
  EXPECT_EQ(set->bindings[2].program, 40);
  EXPECT_EQ(smaf::describeVoices(*set),
            "1 FM voice, 1 sampled voice, 2 waves; 1 program uses built-in voices");
  // Until the synthesizer plays them, a bound melodic channel plays its General MIDI program.
  ASSERT_EQ(r.kind(ST_PROGRAM).size(), 2u);
  EXPECT_EQ(r.kind(ST_PROGRAM)[0].data[0], 3);
}

TEST_F(SmafReader, HandyPhoneChannelsBindByBankAndProgram) {
  // A VMA voice for bank 1 program 4; channel 0 selects it, channel 1 selects program 9 (ROM).
  const Bytes vma = {0xFF, 0xF0, 0x12, 0x43, 0x03, 0x00, 0x01, 0x04, 0x00, 0x01,
                     0x10, 0x42, 0xF0, 0x00, 0x00, 0x10, 0x42, 0xF0, 0x00, 0x00, 0xF7};
  const Bytes seq = cat({{0x00, 0x00, 0x31, 0x01, 0x00, 0x00, 0x30, 0x04, 0x00, 0x25, 0x10,
                          0x00, 0x00, 0x70, 0x09, 0x00, 0x65, 0x10},
                         END_OF_SEQUENCE});
  read(smafFile({handyTrack(1, 0x02, {0, 0}, chunk("Mtsu", vma), seq)}));
  const std::shared_ptr<const smaf::VoiceSet> set = smaf::songVoices();
  ASSERT_EQ(set->voices.size(), 1u);
  EXPECT_TRUE(set->handyPhone);
  ASSERT_EQ(set->bindings.size(), 2u);
  EXPECT_EQ(set->bindings[0].kind, smaf::BindingKind::CUSTOM_MELODIC);
  EXPECT_EQ(set->find(set->bindings[0], 65), &set->voices[0]);
  EXPECT_EQ(set->bindings[1].kind, smaf::BindingKind::BUILT_IN);
  EXPECT_EQ(set->bindings[1].channel, 1);
}


TEST_F(SmafReader, SongTextsAreReadInTheCodeTheFileStates) {
  // A Korean title (EUC-KR, contents code 0x02): Shift-JIS has no Hangul, so the display reads
  // the file's own bytes while the texts the writers use hold '?'.
  const Bytes title = cat({text("ST:"), {0xC7, 0xD1, 0xB1, 0xB9}, text(" 1,")});
  read(smafFile({chunk("CNTI", cat({{0x00, 0x00, 0x02, 0x00, 0x00}, title}))}));
  EXPECT_EQ(songTextUtf8(INFO_TITLE), "\xED\x95\x9C\xEA\xB5\xAD 1");
  EXPECT_EQ(std::string(song.info.text[INFO_TITLE]), "?? 1");
  // A UTF-8 data chunk whose text Shift-JIS can hold becomes plain Shift-JIS.
  const Bytes kana = {0xE3, 0x81, 0x82};  // HIRAGANA A
  read(smafFile({contents(0, {}), chunk("OPDA", chunk("Dch", cat({text("ST"), {0, 3}, kana}), 0x23))}));
  EXPECT_EQ(std::string(song.info.text[INFO_TITLE]), "\x82\xA0");
  EXPECT_EQ(song.info.code[INFO_TITLE], TEXT_SHIFT_JIS);
  EXPECT_EQ(songTextUtf8(INFO_TITLE), "\xE3\x81\x82");
  // Latin-1 with an accent, and a data chunk marked 0xFF, which Japanese files use for
  // Shift-JIS (the contents code 0x01 of such files does not hold for their data chunks).
  read(smafFile({chunk("CNTI", cat({{0x00, 0x32, 0x01, 0x00, 0x00}, text("AN:Ren"), {0xE9}, text(",")})),
                 chunk("OPDA", chunk("Dch", cat({text("ST"), {0, 2}, {0x82, 0xA0}}), 0xFF))}));
  EXPECT_EQ(songTextUtf8(INFO_ARTIST), "Ren\xC3\xA9");
  EXPECT_EQ(std::string(song.info.text[INFO_TITLE]), "\x82\xA0");
  EXPECT_EQ(songTextUtf8(INFO_TITLE), "\xE3\x81\x82");
  // A text set afterwards (a dialog, another reader) has no other original.
  setSongText(INFO_ARTIST, "x", 1);
  EXPECT_EQ(songTextUtf8(INFO_ARTIST), "x");
}

}  // namespace
}  // namespace vlm
