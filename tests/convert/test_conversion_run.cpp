#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "convert/conversion_run.h"
#include "convert/format_table.h"
#include "core/vstream.h"
#include "test_util.h"

namespace vlm {
namespace {

using test::readBytes;
using test::ScratchDir;
using test::writeBytes;

struct PresetRow {
  FormatCode code;
  int polyphony, low, high, version;
  bool oneVoice, fourTracks;
  int family;
};

// What every output handset offers.
const PresetRow PRESETS[] = {
    {2, 64, 0, 127, 1, false, false, 0},     {13, 12, 0, 127, 1, false, false, 0},
    {14, 32, 0, 127, 2, false, false, 0},    {24, 16, 21, 119, 2, true, true, 0x11},
    {25, 16, 21, 119, 2, false, true, 0},    {26, 24, 21, 119, 2, false, true, 0x31},
    {27, 32, 21, 119, 2, false, true, 0},    {28, 16, 21, 119, 2, true, true, 0x21},
    {29, 24, 21, 119, 2, false, true, 0x61}, {30, 40, 21, 119, 3, false, true, 0},
    {31, 40, 21, 119, 3, false, true, 0x31}, {35, 3, 45, 107, 1, true, true, 0},
    {36, 3, 56, 107, 1, true, true, 0},      {37, 4, 45, 107, 1, true, true, 0},
    {38, 4, 45, 107, 1, true, true, 0x01},   {39, 4, 45, 107, 1, true, true, 0x01},
    {53, 16, 1, 120, 2, true, false, 0},     {54, 16, 1, 120, 2, true, false, 0},
    {55, 4, 37, 108, 1, true, false, 0},     {56, 4, 37, 108, 1, true, false, 0},
    {59, 40, 0, 127, 1, false, false, 0},    {61, 16, 21, 119, 2, false, true, 0},
    {62, 16, 21, 119, 2, false, true, 0},    {63, 3, 45, 107, 1, true, true, 0},
    {-3, 64, 0, 127, 1, false, false, 0},    {-4, 64, 0, 127, 1, false, false, 0},
};

class Presets : public ::testing::Test {
 protected:
  void SetUp() override { resetRun(); }
};

TEST_F(Presets, EveryOutputCode) {
  for (const PresetRow& row : PRESETS) {
    SCOPED_TRACE(row.code);
    applyOutputPreset(row.code);
    const TargetPreset& p = options.preset;
    EXPECT_EQ(p.polyphony, row.polyphony);
    EXPECT_EQ(p.lowestNote, row.low);
    EXPECT_EQ(p.highestNote, row.high);
    EXPECT_EQ(p.formatVersion, row.version);
    EXPECT_EQ(p.oneVoicePerChannel, row.oneVoice);
    EXPECT_EQ(p.fourChannelTracks, row.fourTracks);
    EXPECT_EQ(p.familyCode, row.family);
  }
}

TEST_F(Presets, TimingByFamily) {
  applyOutputPreset(13);
  EXPECT_EQ(options.preset.maxTempo, 255);
  EXPECT_EQ(options.preset.targetTimebase, 24);
  EXPECT_EQ(options.preset.channelCount, 4);
  applyOutputPreset(14);
  EXPECT_EQ(options.preset.maxTempo, 500);
  applyOutputPreset(30);
  EXPECT_EQ(options.preset.maxTimebase, 960);
  EXPECT_EQ(options.preset.targetTimebase, 48);
  applyOutputPreset(53);
  EXPECT_TRUE(options.preset.fixedTempo);
  EXPECT_EQ(options.preset.fixedTempoValue, 125);
  EXPECT_EQ(options.preset.targetTimebase, 120);
  applyOutputPreset(37);
  EXPECT_TRUE(options.preset.fixedTempo);
  EXPECT_TRUE(options.preset.fourVoiceFm);
  EXPECT_FALSE(options.preset.topNoteFromSong);
  applyOutputPreset(39);
  EXPECT_TRUE(options.preset.voiceParamExclusive);
  EXPECT_TRUE(options.preset.topNoteFromSong);
}

TEST_F(Presets, ImitatedHandsetAndOverrides) {
  options.midmono = 3;
  applyOutputPreset(2);
  EXPECT_EQ(options.preset.polyphony, 4);
  EXPECT_EQ(options.preset.lowestNote, 45);
  EXPECT_EQ(options.preset.highestNote, 107);
  options.midmono = 0;
  options.maxwnocut = 80;  // set directly, past the normalisation of the settings file
  applyOutputPreset(2);
  EXPECT_EQ(options.preset.polyphony, 64);
  applyOutputPreset(24);
  EXPECT_EQ(options.preset.polyphony, 16);
  options.maxwnocut = 0;
  options.pmdfmt0 = true;
  applyOutputPreset(61);
  EXPECT_FALSE(options.preset.fourChannelTracks);
}

TEST_F(Presets, PlaybackKeepsTheSourceTiming) {
  runState.forPlayback = true;
  options.chgtime = true;
  applyOutputPreset(53);
  EXPECT_EQ(options.preset.targetTimebase, 0);
  EXPECT_FALSE(options.preset.fixedTempo);
  EXPECT_EQ(options.preset.maxTempo, 65535);
  runState.forPlayback = false;
  applyOutputPreset(2);
  EXPECT_TRUE(options.preset.fixedTempo);  // chgtime when saving
}

TEST_F(Presets, AdjustForRunCorrections) {
  applyOutputPreset(13);
  adjustForRun(13);
  EXPECT_EQ(options.preset.timebaseDivisor, 1);
  EXPECT_EQ(options.preset.targetTimebase, 24);
  EXPECT_EQ(options.real & REAL_BEND_RANGE, 0);
  resetRun();
  options.pmdtopplus = options.pmdtmpc4s = true;
  applyOutputPreset(24);
  adjustForRun(24);
  EXPECT_FALSE(options.pmdtopplus);  // only the EZweb PMD outputs keep it
  EXPECT_EQ(options.fmphoneid, 0x11);
  options.pmdtopplus = true;
  applyOutputPreset(61);
  adjustForRun(61);
  EXPECT_TRUE(options.pmdtopplus);
  EXPECT_TRUE(options.preset.noteType);
}

// Every field of the preset and every option the run corrects, for every output code, in three
// situations: a plain song saved, a song with voice samples and every channel melodic saved with
// the corrections' switches on, and playback with the MIDI handset imitation. The text is what
// the presets gave before they moved into the format table; it must not change.
std::string presetFingerprint(FormatCode code) {
  const TargetPreset& p = options.preset;
  const ConversionOptions& o = options;
  char line[512];
  std::snprintf(line, sizeof line,
                "%d: %d %d %d %d-%d tb%d/%d/%d tempo%d %d/%d v%d %d f%02X %d%d%d%d%d top%d %d | "
                "real%02X vol%d rzm%d gs%d fm%02X bank%d op%d mv%d c4s%d top%d\n",
                code, p.polyphony, p.channelCount, p.oneVoicePerChannel, p.lowestNote,
                p.highestNote, p.targetTimebase, p.maxTimebase, p.timebaseDivisor, p.maxTempo,
                p.fixedTempo, p.fixedTempoValue, p.formatVersion, p.fourChannelTracks, p.familyCode,
                p.noteType, p.ezwebTarget, p.psgSource, p.fourVoiceFm, p.topNoteFromSong, p.topNote,
                p.voiceParamExclusive, o.real, o.volctlflg, o.rzmchn, o.gsmode, o.fmphoneid,
                o.drambankflg, o.mmf4op, o.mastervol, o.pmdtmpc4s, o.pmdtopplus);
  return line;
}

// The outputs the fingerprints were taken of; a row added later is checked by the table test.
const FormatCode FINGERPRINTED[] = {2,  13, 14, 24, 25, 26, 27, 28, 29, 30, 31, 35, 36,
                                    37, 38, 39, 53, 54, 55, 56, 59, 61, 62, 63, -3, -4};

std::string presetsOfEveryOutput(void (*situation)()) {
  std::string text;
  for (FormatCode code : FINGERPRINTED) {
    resetRun();
    situation();
    applyOutputPreset(code);
    adjustForRun(code);
    text += presetFingerprint(code);
  }
  resetRun();
  return text;
}

void plainSave() {}

void richSave() {
  songStats.melodicMask = 0xFFFF;
  songStats.ch[0].notes = 10;
  songStats.ch[0].highNote = 90;
  songStats.hasVoiceSamples = true;
  options.waoncompress = true;
  options.pmdtmpc4s = options.pmdtopplus = true;
  options.mmf4op = true;
  options.rzmchn = 3;
  options.volctlflg = true;
}

void imitatingPlayback() {
  runState.forPlayback = true;
  options.midmono = 3;
  options.gsmode = true;
  options.drambankflg = true;
}

TEST(PresetTable, EveryOutputKeepsItsPresetAndCorrections) {
  EXPECT_EQ(presetsOfEveryOutput(plainSave),
            "2: 64 16 0 0-127 tb0/65535/1 tempo65535 0/0 v1 0 f00 00000 top0 0 | real7F vol1 rzm1 "
            "gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "13: 12 4 0 0-127 tb24/65535/1 tempo255 0/0 v1 0 f00 00000 top0 0 | real3F vol1 rzm1 "
            "gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "14: 32 16 0 0-127 tb24/65535/1 tempo500 0/0 v2 0 f00 00000 top0 0 | real7F vol1 rzm1 "
            "gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "24: 16 16 1 21-119 tb48/960/1 tempo255 0/0 v2 1 f11 10000 top0 0 | real7F vol1 rzm1 "
            "gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "25: 16 16 0 21-119 tb48/960/1 tempo255 0/0 v2 1 f00 10000 top0 0 | real7F vol1 rzm1 "
            "gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "26: 24 16 0 21-119 tb48/960/1 tempo255 0/0 v2 1 f31 10000 top0 0 | real7F vol1 rzm1 "
            "gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "27: 32 16 0 21-119 tb48/960/1 tempo255 0/0 v2 1 f00 10000 top0 0 | real7F vol1 rzm1 "
            "gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "28: 16 16 1 21-119 tb48/960/1 tempo255 0/0 v2 1 f21 10000 top0 0 | real7F vol1 rzm1 "
            "gs0 fm21 bank0 op0 mv0 c4s0 top0\n"
            "29: 24 16 0 21-119 tb48/960/1 tempo255 0/0 v2 1 f61 10000 top0 0 | real7F vol1 rzm1 "
            "gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "30: 40 16 0 21-119 tb48/960/1 tempo255 0/0 v3 1 f00 10000 top0 0 | real7F vol1 rzm1 "
            "gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "31: 40 16 0 21-119 tb48/960/1 tempo255 0/0 v3 1 f31 10000 top0 0 | real7F vol1 rzm1 "
            "gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "35: 3 16 1 45-107 tb48/960/1 tempo255 0/0 v1 1 f00 00100 top0 0 | real7F vol1 rzm0 "
            "gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "36: 3 16 1 56-107 tb48/960/1 tempo255 0/0 v1 1 f00 00100 top0 0 | real7F vol1 rzm0 "
            "gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "37: 4 16 1 45-107 tb48/960/1 tempo255 1/0 v1 1 f00 00010 top0 0 | real7F vol0 rzm0 "
            "gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "38: 4 16 1 45-107 tb48/960/1 tempo255 1/0 v1 1 f01 00011 top0 0 | real7F vol0 rzm0 "
            "gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "39: 4 16 1 45-107 tb48/960/1 tempo255 1/0 v1 1 f01 00011 top0 1 | real7F vol0 rzm0 "
            "gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "53: 16 16 1 1-120 tb120/65535/1 tempo65535 1/125 v2 0 f00 10000 top0 0 | real7F vol1 "
            "rzm1 gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "54: 16 16 1 1-120 tb120/65535/1 tempo65535 1/125 v2 0 f00 11000 top0 0 | real7F vol1 "
            "rzm1 gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "55: 4 16 1 37-108 tb120/65535/1 tempo65535 1/125 v1 0 f00 00011 top0 1 | real7F vol0 "
            "rzm0 gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "56: 4 16 1 37-108 tb120/65535/1 tempo65535 1/125 v1 0 f00 01011 top0 1 | real7F vol0 "
            "rzm0 gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "59: 40 16 0 0-127 tb120/65535/1 tempo65535 1/125 v1 0 f00 00000 top0 0 | real7F vol1 "
            "rzm1 gs0 fm11 bank0 op0 mv100 c4s0 top0\n"
            "61: 16 16 0 21-119 tb48/960/1 tempo255 0/0 v2 1 f00 11000 top0 0 | real3F vol1 rzm1 "
            "gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "62: 16 16 0 21-119 tb48/960/1 tempo255 0/0 v2 1 f00 11000 top0 0 | real3F vol1 rzm1 "
            "gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "63: 3 16 1 45-107 tb48/960/1 tempo255 0/0 v1 1 f00 01100 top0 0 | real7F vol1 rzm0 "
            "gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "-3: 64 16 0 0-127 tb0/65535/1 tempo65535 0/0 v1 0 f00 00000 top0 0 | real7F vol1 rzm1 "
            "gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "-4: 64 16 0 0-127 tb0/65535/1 tempo65535 0/0 v1 0 f00 00000 top0 0 | real7F vol1 rzm1 "
            "gs0 fm11 bank0 op0 mv0 c4s0 top0\n");
  EXPECT_EQ(presetsOfEveryOutput(richSave),
            "2: 64 16 0 0-127 tb0/65535/1 tempo65535 0/0 v1 0 f00 00000 top0 0 | real7F vol1 rzm3 "
            "gs0 fm11 bank0 op1 mv0 c4s0 top0\n"
            "13: 12 4 0 0-127 tb24/65535/1 tempo255 0/0 v1 0 f00 00000 top0 0 | real3F vol1 rzm3 "
            "gs0 fm11 bank0 op1 mv0 c4s0 top0\n"
            "14: 32 16 0 0-127 tb24/65535/1 tempo500 0/0 v2 0 f00 00000 top0 0 | real7F vol1 rzm3 "
            "gs0 fm11 bank0 op1 mv0 c4s0 top0\n"
            "24: 16 16 1 21-119 tb120/960/1 tempo255 1/125 v2 1 f11 10000 top0 0 | real7F vol1 "
            "rzm3 gs0 fm11 bank0 op1 mv0 c4s0 top0\n"
            "25: 16 16 0 21-119 tb48/960/1 tempo255 0/0 v2 1 f00 10000 top0 0 | real7F vol1 rzm3 "
            "gs0 fm11 bank1 op1 mv0 c4s0 top0\n"
            "26: 24 16 0 21-119 tb48/960/1 tempo255 0/0 v2 1 f31 10000 top0 0 | real7F vol1 rzm3 "
            "gs0 fm11 bank1 op1 mv0 c4s0 top0\n"
            "27: 32 16 0 21-119 tb48/960/1 tempo255 0/0 v2 1 f00 10000 top0 0 | real7F vol1 rzm3 "
            "gs0 fm11 bank1 op1 mv0 c4s0 top0\n"
            "28: 16 16 1 21-119 tb120/960/1 tempo255 1/125 v2 1 f21 10000 top0 0 | real7F vol1 "
            "rzm3 gs0 fm21 bank0 op1 mv0 c4s0 top0\n"
            "29: 24 16 0 21-119 tb48/960/1 tempo255 0/0 v2 1 f61 10000 top0 0 | real7F vol1 rzm3 "
            "gs0 fm11 bank1 op1 mv0 c4s0 top0\n"
            "30: 40 16 0 21-119 tb48/960/1 tempo255 0/0 v3 1 f00 10000 top0 0 | real7F vol1 rzm3 "
            "gs0 fm11 bank1 op1 mv0 c4s0 top0\n"
            "31: 40 16 0 21-119 tb48/960/1 tempo255 0/0 v3 1 f31 10000 top0 0 | real7F vol1 rzm3 "
            "gs0 fm11 bank1 op1 mv0 c4s0 top0\n"
            "35: 3 16 1 45-107 tb48/960/1 tempo255 0/0 v1 1 f00 00100 top0 0 | real7F vol1 rzm0 "
            "gs0 fm11 bank0 op1 mv0 c4s0 top0\n"
            "36: 3 16 1 56-107 tb48/960/1 tempo255 0/0 v1 1 f00 00100 top0 0 | real7F vol1 rzm0 "
            "gs0 fm11 bank0 op1 mv0 c4s0 top0\n"
            "37: 4 16 1 45-107 tb48/960/1 tempo255 1/0 v1 1 f00 00010 top0 0 | real7F vol0 rzm0 "
            "gs0 fm11 bank0 op1 mv0 c4s0 top0\n"
            "38: 4 16 1 45-107 tb48/960/1 tempo255 1/0 v1 1 f01 00011 top96 0 | real7F vol0 rzm0 "
            "gs0 fm11 bank0 op1 mv0 c4s0 top0\n"
            "39: 4 16 1 45-107 tb48/960/1 tempo255 1/0 v1 1 f01 00011 top96 1 | real7F vol0 rzm0 "
            "gs0 fm11 bank0 op1 mv0 c4s0 top0\n"
            "53: 16 16 1 1-120 tb120/65535/1 tempo65535 1/125 v2 0 f00 10000 top0 0 | real7F vol1 "
            "rzm3 gs0 fm11 bank0 op1 mv0 c4s0 top0\n"
            "54: 16 16 1 1-120 tb120/65535/1 tempo65535 1/125 v2 0 f00 11000 top0 0 | real7F vol1 "
            "rzm3 gs0 fm11 bank0 op1 mv0 c4s0 top0\n"
            "55: 4 16 1 37-108 tb120/65535/1 tempo65535 1/125 v1 0 f00 00011 top96 1 | real7F vol0 "
            "rzm0 gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "56: 4 16 1 37-108 tb120/65535/1 tempo65535 1/125 v1 0 f00 01011 top96 1 | real7F vol0 "
            "rzm0 gs0 fm11 bank0 op0 mv0 c4s0 top0\n"
            "59: 40 16 0 0-127 tb120/65535/1 tempo65535 1/125 v1 0 f00 00000 top0 0 | real7F vol1 "
            "rzm3 gs0 fm11 bank1 op1 mv100 c4s0 top0\n"
            "61: 16 16 0 21-119 tb48/960/1 tempo255 0/0 v2 1 f00 11000 top0 0 | real3F vol1 rzm3 "
            "gs0 fm11 bank0 op1 mv0 c4s1 top1\n"
            "62: 16 16 0 21-119 tb48/960/1 tempo255 0/0 v2 1 f00 11000 top0 0 | real3F vol1 rzm3 "
            "gs0 fm11 bank0 op1 mv0 c4s1 top1\n"
            "63: 3 16 1 45-107 tb48/960/1 tempo255 0/0 v1 1 f00 01100 top0 0 | real7F vol1 rzm0 "
            "gs0 fm11 bank0 op1 mv0 c4s0 top0\n"
            "-3: 64 16 0 0-127 tb0/65535/1 tempo65535 0/0 v1 0 f00 00000 top0 0 | real7F vol1 rzm3 "
            "gs0 fm11 bank0 op1 mv0 c4s0 top0\n"
            "-4: 64 16 0 0-127 tb0/65535/1 tempo65535 0/0 v1 0 f00 00000 top0 0 | real7F vol1 rzm3 "
            "gs0 fm11 bank0 op1 mv0 c4s0 top0\n");
  EXPECT_EQ(presetsOfEveryOutput(imitatingPlayback),
            "2: 4 16 1 45-107 tb0/65535/1 tempo65535 0/0 v1 1 f01 00011 top0 0 | real20 vol0 rzm0 "
            "gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "13: 12 4 0 0-127 tb24/65535/0 tempo65535 0/0 v1 0 f00 00000 top0 0 | real3F vol1 rzm1 "
            "gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "14: 32 16 0 0-127 tb24/65535/0 tempo65535 0/0 v2 0 f00 00000 top0 0 | real7F vol1 "
            "rzm1 gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "24: 16 16 1 21-119 tb0/65535/1 tempo65535 0/0 v2 1 f11 10000 top0 0 | real7F vol1 "
            "rzm1 gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "25: 16 16 0 21-119 tb0/65535/1 tempo65535 0/0 v2 1 f00 10000 top0 0 | real7F vol1 "
            "rzm1 gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "26: 24 16 0 21-119 tb0/65535/1 tempo65535 0/0 v2 1 f31 10000 top0 0 | real7F vol1 "
            "rzm1 gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "27: 32 16 0 21-119 tb0/65535/1 tempo65535 0/0 v2 1 f00 10000 top0 0 | real7F vol1 "
            "rzm1 gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "28: 16 16 1 21-119 tb0/65535/1 tempo65535 0/0 v2 1 f21 10000 top0 0 | real7F vol1 "
            "rzm1 gs1 fm21 bank1 op0 mv0 c4s0 top0\n"
            "29: 24 16 0 21-119 tb0/65535/1 tempo65535 0/0 v2 1 f61 10000 top0 0 | real7F vol1 "
            "rzm1 gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "30: 40 16 0 21-119 tb0/65535/1 tempo65535 0/0 v3 1 f00 10000 top0 0 | real7F vol1 "
            "rzm1 gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "31: 40 16 0 21-119 tb0/65535/1 tempo65535 0/0 v3 1 f31 10000 top0 0 | real7F vol1 "
            "rzm1 gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "35: 3 16 1 45-107 tb0/65535/1 tempo65535 0/0 v1 1 f00 00100 top0 0 | real7F vol1 rzm0 "
            "gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "36: 3 16 1 56-107 tb0/65535/1 tempo65535 0/0 v1 1 f00 00100 top0 0 | real7F vol1 rzm0 "
            "gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "37: 4 16 1 45-107 tb0/65535/1 tempo65535 0/0 v1 1 f00 00010 top0 0 | real7F vol0 rzm0 "
            "gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "38: 4 16 1 45-107 tb0/65535/1 tempo65535 0/0 v1 1 f01 00011 top0 0 | real7F vol0 rzm0 "
            "gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "39: 4 16 1 45-107 tb0/65535/1 tempo65535 0/0 v1 1 f01 00011 top0 1 | real7F vol0 rzm0 "
            "gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "53: 16 16 1 1-120 tb0/65535/1 tempo65535 0/0 v2 0 f00 10000 top0 0 | real7F vol1 rzm1 "
            "gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "54: 16 16 1 1-120 tb0/65535/1 tempo65535 0/0 v2 0 f00 11000 top0 0 | real7F vol1 rzm1 "
            "gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "55: 4 16 1 37-108 tb0/65535/1 tempo65535 0/0 v1 0 f00 00011 top0 1 | real7F vol0 rzm0 "
            "gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "56: 4 16 1 37-108 tb0/65535/1 tempo65535 0/0 v1 0 f00 01011 top0 1 | real7F vol0 rzm0 "
            "gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "59: 40 16 0 0-127 tb0/65535/1 tempo65535 0/0 v1 0 f00 00000 top0 0 | real7F vol1 rzm1 "
            "gs1 fm11 bank1 op0 mv100 c4s0 top0\n"
            "61: 16 16 0 21-119 tb0/65535/1 tempo65535 0/0 v2 1 f00 11000 top0 0 | real3F vol1 "
            "rzm1 gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "62: 16 16 0 21-119 tb0/65535/1 tempo65535 0/0 v2 1 f00 11000 top0 0 | real3F vol1 "
            "rzm1 gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "63: 3 16 1 45-107 tb0/65535/1 tempo65535 0/0 v1 1 f00 01100 top0 0 | real7F vol1 rzm0 "
            "gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "-3: 64 16 0 0-127 tb0/65535/1 tempo65535 0/0 v1 0 f00 00000 top0 0 | real7F vol1 rzm1 "
            "gs1 fm11 bank1 op0 mv0 c4s0 top0\n"
            "-4: 64 16 0 0-127 tb0/65535/1 tempo65535 0/0 v1 0 f00 00000 top0 0 | real7F vol1 rzm1 "
            "gs1 fm11 bank1 op0 mv0 c4s0 top0\n");
}

TEST(MailText, BinaryLimitFromTextLength) {
  EXPECT_EQ(binaryLimitForMailText(498), 357);
  EXPECT_EQ(binaryLimitForMailText(7), 0);
  EXPECT_EQ(binaryLimitForMailText(0), 0);
}

// Answers the save dialog with a fixed path, and counts the boxes shown.
class TestUi : public ConversionUi {
 public:
  std::string savePath;
  int warnings = 0, notices = 0;
  bool formatDialog(int, FormatCode) override { return true; }
  bool mailDialog() override { return true; }
  bool saveDialog(std::string& path, FormatCode) override {
    if (savePath.empty()) return false;
    path = savePath;
    return true;
  }
  bool warningBox(const char*) override { return ++warnings, true; }
  void noticeBox(const char*) override { ++notices; }
  void errorBox(const char*) override {}
  void openWithShell(const char*) override {}
  void setTitle(const char*) override {}
};

class ConvertCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRun();
    setConversionUi(&ui);
  }
  void TearDown() override { setConversionUi(nullptr); }
  ScratchDir dir;
  TestUi ui;
};

// A small stream: one note of one quarter.
std::vector<uint8_t> tinyStream() {
  return {'V', 'T', 'h', 'd', 0, 0,    0,  2,   0, 48, 'V', 'T',  'r',  'k',
          0,   0,   0,   10,  0, 0x90, 60, 100, 0, 48, 0,   0xFF, 0x2F, 0};
}

TEST_F(ConvertCommand, CopyKeepsTheImage) {
  writeBytes(dir.file("song.vlm"), tinyStream());
  ui.savePath = dir.file("out.vlm");
  EXPECT_EQ(convertCommand(dir.file("song.vlm").c_str(), OUTPUT_COPY), 1);
  EXPECT_EQ(readBytes(ui.savePath), tinyStream());
  EXPECT_EQ(std::string(runState.lastOutputPath), ui.savePath);
  EXPECT_EQ(runState.MailFlags, 0u);
}

TEST_F(ConvertCommand, CopyOfTextSavesAsImelody) {
  // A binary i-melody named .txt is not decoded; its copy gets the .mld extension.
  test::writeText(dir.file("tune.txt"), "melody bytes");
  class Proposed : public TestUi {
   public:
    std::string proposed;
    bool saveDialog(std::string& path, FormatCode) override {
      proposed = path;
      return true;
    }
  } proposing;
  setConversionUi(&proposing);
  EXPECT_EQ(convertCommand(dir.file("tune.txt").c_str(), OUTPUT_COPY), 1);
  EXPECT_EQ(proposing.proposed, dir.file("tune.mld"));
  EXPECT_EQ(readBytes(dir.file("tune.mld")).size(), 12u);
}

TEST_F(ConvertCommand, CancelledSaveWritesNothing) {
  writeBytes(dir.file("song.vlm"), tinyStream());
  ui.savePath.clear();
  EXPECT_EQ(convertCommand(dir.file("song.vlm").c_str(), OUTPUT_COPY), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.file("song.vlm.vlm")));
}

TEST_F(ConvertCommand, UnsupportedOrMissingInputDoesNothing) {
  ui.savePath = dir.file("out.mid");
  EXPECT_EQ(convertCommand(dir.file("missing.vlm").c_str(), OUTPUT_COPY), 0);
  writeBytes(dir.file("empty.vlm"), {});
  EXPECT_EQ(convertCommand(dir.file("empty.vlm").c_str(), OUTPUT_COPY), 0);
  EXPECT_FALSE(std::filesystem::exists(ui.savePath));
}

TEST_F(ConvertCommand, UnattendedNeverOverwrites) {
  writeBytes(dir.file("song.vlm"), tinyStream());
  options.SaveDir = dir.path() + "/out/";
  std::filesystem::create_directory(options.SaveDir);
  writeBytes(options.SaveDir + "song.vlm", {1, 2, 3});
  runState.AutoConvertFlags = AUTO_UNATTENDED;
  EXPECT_EQ(convertCommand(dir.file("song.vlm").c_str(), OUTPUT_COPY), 0);
  EXPECT_EQ(readBytes(options.SaveDir + "song.vlm"), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(ui.warnings, 0);
}

TEST_F(ConvertCommand, TwoRunsGiveTheSameResult) {
  writeBytes(dir.file("song.vlm"), tinyStream());
  ui.savePath = dir.file("a.mid");
  ASSERT_EQ(convertCommand(dir.file("song.vlm").c_str(), 2), 1);
  const ConversionOptions after = options;
  ui.savePath = dir.file("b.mid");
  ASSERT_EQ(convertCommand(dir.file("song.vlm").c_str(), 2), 1);
  EXPECT_EQ(readBytes(dir.file("a.mid")), readBytes(dir.file("b.mid")));
  EXPECT_EQ(after.real, options.real);
  EXPECT_EQ(after.drambankflg, options.drambankflg);
}

TEST_F(ConvertCommand, WarningsAreCollectedAndCleared) {
  writeBytes(dir.file("song.vlm"), tinyStream());
  ui.savePath = dir.file("out.vlm");
  warnings.slot[WARN_VOLUME_CLIPS] = 1;
  applyOutputPreset(2);
  std::string text = collectWarnings(2, findOutputFormat(2));
  EXPECT_NE(text.find("音量が大きすぎる"), std::string::npos);
  EXPECT_EQ(convertCommand(dir.file("song.vlm").c_str(), OUTPUT_COPY), 1);
  EXPECT_EQ(ui.warnings, 1);
  EXPECT_EQ(warnings.slot[WARN_VOLUME_CLIPS], 0);
}

// Without a translating interface the warning lines stay the Japanese texts byte for byte;
// with one, each line is looked up by its Japanese text and the number goes into its "%d" (a
// stray "%s" or a second "%d" in a translation stays text and reads nothing).
TEST_F(ConvertCommand, WarningLinesGoThroughTheInterfaceLanguage) {
  applyOutputPreset(24);
  warnings.slot[WARN_TOO_MANY_VOICES] = 1;
  warnings.slot[WARN_SIZE_LIMIT] = 1;
  EXPECT_EQ(collectWarnings(24, findOutputFormat(24)),
            "音色数が16を越えています。\r\n"
            "指定サイズを超えたので、曲の途中までしか変換できませんでした。\r\n");

  struct EnglishUi : TestUi {
    std::string localText(const char* japanese) override {
      if (std::string(japanese).rfind("音色数が", 0) == 0) return "More than %d voices %s %d.\n";
      return "[" + std::string(japanese) + "]";
    }
  } english;
  setConversionUi(&english);
  EXPECT_EQ(collectWarnings(24, findOutputFormat(24)),
            "More than 16 voices %s %d.\n"
            "[指定サイズを超えたので、曲の途中までしか変換できませんでした。\r\n]");
  warnings = ConversionWarnings();
}

// A mono 16-bit PCM WAVE file of `samples` samples at 8 kHz.
std::vector<uint8_t> makeWave(uint32_t samples) {
  std::vector<uint8_t> w;
  auto put = [&w](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) w.push_back(uint8_t(v >> (8 * i)));
  };
  const uint32_t data = samples * 2;
  w.insert(w.end(), {'R', 'I', 'F', 'F'});
  put(36 + data, 4);
  w.insert(w.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put(16, 4), put(1, 2), put(1, 2), put(8000, 4), put(16000, 4), put(2, 2), put(16, 2);
  w.insert(w.end(), {'d', 'a', 't', 'a'});
  put(data, 4);
  for (uint32_t i = 0; i < samples; ++i) put(uint32_t(int16_t((i % 40) * 800 - 16000)), 2);
  return w;
}

// The run finds voice samples in a reader's stream without looking through streams that have no
// wave event, and still looks through every .vlm image; one song's answer never carries over to
// the next.
TEST(ReadInput, VoiceSamplesAreFoundOnlyWhereAWaveEventIs) {
  ScratchDir dir;
  resetRun();
  const std::string wav = dir.file("voice.wav");
  writeBytes(wav, makeWave(4000));
  const std::string vlm = dir.file("voice.vlm");
  const std::string mid = std::string(VLM_SOURCE_DIR) + "/examples/demo.mid";

  MemBlock stream;
  ASSERT_TRUE(readInput(wav.c_str(), 72, &stream));
  EXPECT_TRUE(songStats.hasVoiceSamples);
  writeBytes(vlm, std::vector<uint8_t>(stream.data, stream.data + stream.length));
  blockFree(&stream);

  ASSERT_TRUE(readInput(mid.c_str(), 2, &stream));
  EXPECT_FALSE(songStats.hasVoiceSamples);
  blockFree(&stream);

  ASSERT_TRUE(readInput(vlm.c_str(), 3, &stream));
  EXPECT_TRUE(songStats.hasVoiceSamples);
  blockFree(&stream);

  ASSERT_TRUE(readInput(mid.c_str(), 2, &stream));
  EXPECT_FALSE(songStats.hasVoiceSamples);
  blockFree(&stream);
}

TEST(Warnings, MailSizeWarningSkipsLargeTextHandsets) {
  resetRun();
  runState.MailFlags = MAIL_TEXT_FORM;
  runState.lastOutputSize = 501;
  applyOutputPreset(24);
  EXPECT_NE(collectWarnings(24, findOutputFormat(24)).find("(501byte)"), std::string::npos);
  EXPECT_EQ(collectWarnings(27, findOutputFormat(27)), "");
  EXPECT_EQ(collectWarnings(37, findOutputFormat(37)), "");
  EXPECT_EQ(collectWarnings(39, findOutputFormat(39)), "");
  runState = RunState();
}

}  // namespace
}  // namespace vlm
