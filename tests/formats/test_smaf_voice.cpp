#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "formats/adpcm.h"
#include "formats/smaf_voice.h"

namespace vlm::smaf {
namespace {

Voice mobileVoice(uint8_t msb, uint8_t lsb, uint8_t program, uint8_t drumNote, VoiceKind kind) {
  Voice v;
  v.kind = kind;
  v.bankMsb = msb;
  v.bankLsb = lsb;
  v.program = program;
  v.drumNote = drumNote;
  v.drum = msb == BANK_USER_DRUM;
  return v;
}

ChannelBinding binding(BindingKind kind, uint8_t msb, uint8_t lsb, uint8_t program) {
  ChannelBinding b;
  b.kind = kind;
  b.bankMsb = msb;
  b.bankLsb = lsb;
  b.program = program;
  b.drum = kind == BindingKind::CUSTOM_DRUM;
  return b;
}

TEST(SmafVoiceSet, FindsMelodicByProgramAndDrumsByNote) {
  VoiceSet set;
  set.voices.push_back(mobileVoice(BANK_USER_MELODIC, 0, 5, 0, VoiceKind::FM));
  set.voices.push_back(mobileVoice(BANK_USER_DRUM, 0, 0, 36, VoiceKind::FM));
  set.voices.push_back(mobileVoice(BANK_USER_DRUM, 0, 0, 38, VoiceKind::PCM));
  const ChannelBinding melodic = binding(BindingKind::CUSTOM_MELODIC, BANK_USER_MELODIC, 0, 5);
  EXPECT_EQ(set.find(melodic, 72), &set.voices[0]);
  const ChannelBinding drums = binding(BindingKind::CUSTOM_DRUM, BANK_USER_DRUM, 0, 0);
  EXPECT_EQ(set.find(drums, 36), &set.voices[1]);
  EXPECT_EQ(set.find(drums, 38), &set.voices[2]);
  EXPECT_EQ(set.find(drums, 40), nullptr);
  EXPECT_EQ(set.find(binding(BindingKind::CUSTOM_MELODIC, BANK_USER_MELODIC, 1, 5), 60), nullptr);
  EXPECT_EQ(set.find(binding(BindingKind::BUILT_IN, 0, 0, 5), 60), nullptr);
  EXPECT_EQ(set.fmCount(), 2u);
  EXPECT_EQ(set.pcmCount(), 1u);
}

TEST(SmafVoiceSet, CountsBuiltInProgramsOnceAndPublishesTheSongSet) {
  auto set = std::make_shared<VoiceSet>();
  set->bindings.push_back(binding(BindingKind::BUILT_IN, 0, 0, 1));
  set->bindings.push_back(binding(BindingKind::BUILT_IN, 0, 0, 1));
  set->bindings.push_back(binding(BindingKind::BUILT_IN, 0, 0, 40));
  set->bindings.push_back(binding(BindingKind::CUSTOM_MELODIC, BANK_USER_MELODIC, 0, 1));
  EXPECT_EQ(set->builtInPrograms(), 2u);
  setSongVoices(set);
  EXPECT_EQ(songVoices()->bindings.size(), 4u);
  clearSongVoices();
  ASSERT_NE(songVoices(), nullptr);
  EXPECT_TRUE(songVoices()->empty());
}


using Bytes = std::vector<uint8_t>;

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// 7-bit packing as MA-3 records carry it: a byte of top bits before each group of seven.
Bytes pack(const Bytes& plain) {
  Bytes out;
  for (size_t g = 0; g < plain.size(); g += 7) {
    uint8_t high = 0;
    const size_t n = std::min<size_t>(7, plain.size() - g);
    for (size_t k = 0; k < n; ++k) high |= uint8_t((plain[g + k] >> 7) << (6 - k));
    out.push_back(high);
    for (size_t k = 0; k < n; ++k) out.push_back(plain[g + k] & 0x7F);
  }
  return out;
}

// A VM35 operator: SR 5, XOF, KSR | RR 7, DR 3 | AR 15, SL 2 | TL 40, KSL 3 |
// DAM 2, EAM, DVB 1, EVB | MULTI 4, DT 5 | WS 17, FB 6.
const Bytes OPERATOR = {0x59, 0x73, 0xF2, 0xA3, 0x53, 0x45, 0x8E};
// A carrier: SR 0, SUS | RR 4, DR 1 | AR 12, SL 15 | TL 0, KSL 0 | nothing | MULTI 1 | WS 0.
const Bytes CARRIER = {0x02, 0x41, 0xCF, 0x00, 0x00, 0x10, 0x00};
// Globals: drum key 0 | PANPOT 20, BO 1 | LFO 2, PE, ALG 1.
const Bytes GLOBALS_2OP = {0x00, 0xA1, 0xA1};

// Every envelope field but the pedal and key-off flags, which not every voice form stores.
void expectEnvelope(const Envelope& e, const Envelope& expected) {
  EXPECT_EQ(e.sustainRate, expected.sustainRate);
  EXPECT_EQ(e.keyScaleRate, expected.keyScaleRate);
  EXPECT_EQ(e.releaseRate, expected.releaseRate);
  EXPECT_EQ(e.decayRate, expected.decayRate);
  EXPECT_EQ(e.attackRate, expected.attackRate);
  EXPECT_EQ(e.sustainLevel, expected.sustainLevel);
  EXPECT_EQ(e.totalLevel, expected.totalLevel);
  EXPECT_EQ(e.keyScaleLevel, expected.keyScaleLevel);
  EXPECT_EQ(e.tremoloDepth, expected.tremoloDepth);
  EXPECT_EQ(e.tremolo, expected.tremolo);
  EXPECT_EQ(e.vibratoDepth, expected.vibratoDepth);
  EXPECT_EQ(e.vibrato, expected.vibrato);
}

void expectOperator(const FmOperator& op) {
  expectEnvelope(op.envelope, {.attackRate = 15,
                               .decayRate = 3,
                               .sustainRate = 5,
                               .releaseRate = 7,
                               .sustainLevel = 2,
                               .totalLevel = 40,
                               .keyScaleLevel = 3,
                               .keyScaleRate = true,
                               .vibrato = true,
                               .vibratoDepth = 1,
                               .tremolo = true,
                               .tremoloDepth = 2});
  EXPECT_TRUE(op.envelope.ignoreKeyOff);
  EXPECT_FALSE(op.envelope.sustain);
  EXPECT_EQ(op.multiplier, 4);
  EXPECT_EQ(op.detune, 5);
  EXPECT_EQ(op.waveform, 17);
  EXPECT_EQ(op.feedback, 6);
}

void expectTwoOperatorVoice(const FmVoice& fm) {
  EXPECT_EQ(fm.panpot, 20);
  EXPECT_EQ(fm.basicOctave, 1);
  EXPECT_EQ(fm.lfo, 2);
  EXPECT_TRUE(fm.panEnable);
  EXPECT_EQ(fm.algorithm, 1);
  EXPECT_EQ(fm.operators, 2);
  expectOperator(fm.op[0]);
  EXPECT_EQ(fm.op[1].envelope.attackRate, 12);
  EXPECT_EQ(fm.op[1].envelope.sustainLevel, 15);
  EXPECT_TRUE(fm.op[1].envelope.sustain);
  EXPECT_EQ(fm.op[1].multiplier, 1);
}

const Voice& decodeOne(const Bytes& payload, VoiceSet& set) {
  EXPECT_EQ(decodeSetupRecord(payload.data(), uint32_t(payload.size()), &set),
            SetupRecord::VOICE);
  static const Voice none;
  return set.voices.empty() ? none : set.voices.back();
}

TEST(SmafVoiceDecode, Ma3PackedMa5AndShortFormsShareTheFmBody) {
  const Bytes body = cat({GLOBALS_2OP, OPERATOR, CARRIER});
  VoiceSet set;
  // MA-3: bank 7C/01, program 9, melodic, FM, the body packed (4 surplus filler slots ignored).
  const Voice& ma3 = decodeOne(
      cat({{0x43, 0x79, 0x06, 0x7F, 0x01, 0x7C, 0x01, 9, 0, 0}, pack(cat({body, Bytes(14, 0x55)}))}),
      set);
  EXPECT_EQ(ma3.form, VoiceForm::MA3);
  EXPECT_EQ(ma3.kind, VoiceKind::FM);
  EXPECT_EQ(ma3.bankMsb, BANK_USER_MELODIC);
  EXPECT_EQ(ma3.bankLsb, 1);
  EXPECT_EQ(ma3.program, 9);
  EXPECT_FALSE(ma3.drum);
  expectTwoOperatorVoice(ma3.fm);
  // MA-5, a drum voice (7D) sounding at drum key 38 on note 40; type 2 carries a prefix.
  Bytes drumBody = body;
  drumBody[0] = 38;
  const Voice& ma5 =
      decodeOne(cat({{0x43, 0x79, 0x07, 0x7F, 0x01, 0x7D, 0x00, 3, 40, 2}, Bytes(27, 0x1D), drumBody}),
                set);
  EXPECT_EQ(ma5.form, VoiceForm::MA5);
  EXPECT_TRUE(ma5.drum);
  EXPECT_EQ(ma5.drumNote, 40);
  EXPECT_EQ(ma5.fm.drumKey, 38);
  expectTwoOperatorVoice(ma5.fm);
  const Voice& brief = decodeOne(cat({{0x43, 0x05, 0x01, 2, 17}, body}), set);
  EXPECT_EQ(brief.form, VoiceForm::MA5_SHORT);
  EXPECT_EQ(brief.bankLsb, 2);
  EXPECT_EQ(brief.program, 17);
  expectTwoOperatorVoice(brief.fm);
  // Phrase voice: no drum-key byte.
  const Voice& phrase = decodeOne(cat({{0x43, 0x04, 0x01}, Bytes(body.begin() + 1, body.end())}), set);
  EXPECT_EQ(phrase.form, VoiceForm::PHRASE);
  expectTwoOperatorVoice(phrase.fm);
  // A body too short for its algorithm's operators is no voice.
  const Bytes cut = cat({{0x43, 0x79, 0x07, 0x7F, 0x01, 0x7C, 0, 0, 0, 0}, GLOBALS_2OP, OPERATOR});
  EXPECT_EQ(decodeSetupRecord(cut.data(), uint32_t(cut.size()), &set), SetupRecord::OTHER);
}

TEST(SmafVoiceDecode, Ma7FmOperatorsReorderTheirBytes) {
  // Four operators (ALG 4); MA-7 operator bytes: VM35 0-4, unknown, VM35 6, unknown x2, VM35 5.
  Bytes op = {OPERATOR[0], OPERATOR[1], OPERATOR[2], OPERATOR[3], OPERATOR[4],
              0xA5,        OPERATOR[6], 0xB7,        0xC8,        OPERATOR[5]};
  const Bytes payload = cat({{0x43, 0x79, 0x08, 0x7F, 0x21, 0x7C, 0x02, 10, 0, 0, 0x00},
                             {0x00, 0x79, 0x04}, op, op, op, op});
  VoiceSet set;
  const Voice& v = decodeOne(payload, set);
  EXPECT_EQ(v.form, VoiceForm::MA7);
  EXPECT_EQ(v.fm.algorithm, 4);
  EXPECT_EQ(v.fm.operators, 4);
  EXPECT_EQ(v.fm.panpot, 15);
  EXPECT_EQ(v.fm.lfo, 0);
  for (int i = 0; i < 4; ++i) expectOperator(v.fm.op[i]);
  EXPECT_EQ(v.fm.op[3].ma7Unknown[0], 0xA5);
  EXPECT_EQ(v.fm.op[3].ma7Unknown[2], 0xC8);
}

TEST(SmafVoiceDecode, HandyPhoneVoiceUnpacksItsFiveByteOperators) {
  // Bank 0x81 (a drum bank), program 5; LFO 1, FB 5, ALG 0; operators:
  // MULT 2, VIB, EGT 0 (percussive), KSR | RR 9, DR 4 | AR 14, SL 6 | TL 20, KSL 1 |
  // DVB 3, DAM 1, AM, WS 5; then a sustained carrier.
  const Bytes payload = {0x43, 0x03, 0x00, 0x81, 5, 0x68, 0x01, 0x29, 0x94, 0xE6,
                         0x51, 0xDD, 0x14, 0x21, 0xF0, 0x00, 0x00};
  VoiceSet set;
  const Voice& v = decodeOne(payload, set);
  EXPECT_EQ(v.form, VoiceForm::HANDY_PHONE);
  EXPECT_TRUE(v.drum);
  EXPECT_EQ(v.bankMsb, 0x81);
  EXPECT_EQ(v.program, 5);
  EXPECT_EQ(v.fm.lfo, 1);
  EXPECT_EQ(v.fm.algorithm, 0);
  EXPECT_EQ(v.fm.operators, 2);
  const FmOperator& m = v.fm.op[0];
  EXPECT_EQ(m.feedback, 5);
  EXPECT_EQ(m.multiplier, 2);
  EXPECT_FALSE(m.sustainedType);
  // Percussive: SR 9 keeps falling at the release rate.
  expectEnvelope(m.envelope, {.attackRate = 14,
                              .decayRate = 4,
                              .sustainRate = 9,
                              .releaseRate = 9,
                              .sustainLevel = 6,
                              .totalLevel = 20,
                              .keyScaleLevel = 1,
                              .keyScaleRate = true,
                              .vibrato = true,
                              .vibratoDepth = 3,
                              .tremolo = true,
                              .tremoloDepth = 1});
  EXPECT_EQ(m.waveform, 5);
  const FmOperator& c = v.fm.op[1];
  EXPECT_TRUE(c.sustainedType);
  EXPECT_EQ(c.envelope.sustainRate, 0);
  EXPECT_EQ(c.multiplier, 1);
  EXPECT_EQ(c.envelope.attackRate, 15);
}

TEST(SmafVoiceDecode, SampledVoicesAndTheirWaves) {
  // 16-byte PCM body: 8000 Hz | PANPOT 10, PE | LFO 3, PCM flag | SR 1 | RR 6, DR 2 |
  // AR 15, SL 0 | TL 8 | EAM | 0 0 | LP 100 | EP 199 | RAM wave 5.
  const Bytes pcm = {0x1F, 0x40, 0x51, 0xC2, 0x10, 0x62, 0xF0, 0x20,
                     0x10, 0x00, 0x00, 0x00, 100,  0x00, 199,  0x05};
  VoiceSet set;
  const Voice& ma3 =
      decodeOne(cat({{0x43, 0x79, 0x06, 0x7F, 0x01, 0x7D, 0x00, 0, 36, 1}, pack(pcm)}), set);
  EXPECT_EQ(ma3.kind, VoiceKind::PCM);
  EXPECT_EQ(ma3.drumNote, 36);
  const PcmVoice& p = ma3.pcm;
  EXPECT_EQ(p.sampleRate, 8000u);
  EXPECT_EQ(p.panpot, 10);
  EXPECT_TRUE(p.panEnable);
  EXPECT_EQ(p.lfo, 3);
  EXPECT_EQ(p.envelope.sustainRate, 1);
  EXPECT_EQ(p.envelope.releaseRate, 6);
  EXPECT_EQ(p.envelope.attackRate, 15);
  EXPECT_EQ(p.envelope.totalLevel, 8);
  EXPECT_TRUE(p.envelope.tremolo);
  EXPECT_EQ(p.loopStart, 100u);
  EXPECT_EQ(p.loopEnd, 199u);
  EXPECT_FALSE(p.romWave);
  EXPECT_EQ(p.waveId, 5);
  EXPECT_EQ(p.rootKey, PCM_ROOT_KEY);
  const Voice& ma5 = decodeOne(cat({{0x43, 0x79, 0x07, 0x7F, 0x01, 0x7C, 0x00, 4, 0, 3},
                                    Bytes(27, 0), Bytes(pcm.begin(), pcm.end() - 1), {0x82}}),
                               set);
  EXPECT_EQ(ma5.kind, VoiceKind::PCM);
  EXPECT_TRUE(ma5.pcm.romWave);
  EXPECT_EQ(ma5.pcm.waveId, 2);
  // MA-7 sampled form 3: rate, 10 bytes, LP, EP, 16 unknown bytes, then ROM flag and id.
  const Voice& ma7 = decodeOne(cat({{0x43, 0x79, 0x08, 0x7F, 0x21, 0x7D, 0x00, 1, 42, 0, 0x03},
                                    {0x3A, 0x98}, Bytes(10, 0), {0x00, 10, 0x01, 0x00},
                                    Bytes(16, 0), {0x07}}),
                               set);
  EXPECT_EQ(ma7.pcm.sampleRate, 15000u);
  EXPECT_EQ(ma7.pcm.loopStart, 10u);
  EXPECT_EQ(ma7.pcm.loopEnd, 256u);
  EXPECT_EQ(ma7.pcm.waveId, 7);
  EXPECT_GT(ma7.pcm.envelope.attackRate, 0);  // an envelope that sounds

  // Waves: MA-3 packed, MA-5 plain; both Yamaha ADPCM whatever their format byte says.
  const Bytes samples = {0x80, 0x17, 0xF0, 0x01, 0x99, 0xAB, 0xCD, 0xEF, 0x12};
  const Bytes ma3Wave = cat({{0x43, 0x79, 0x06, 0x7F, 0x03, 5, 3}, pack(samples)});
  EXPECT_EQ(decodeSetupRecord(ma3Wave.data(), uint32_t(ma3Wave.size()), &set), SetupRecord::WAVE);
  const Bytes ma5Wave = cat({{0x43, 0x79, 0x07, 0x7F, 0x03, 6, 0}, samples});
  EXPECT_EQ(decodeSetupRecord(ma5Wave.data(), uint32_t(ma5Wave.size()), &set), SetupRecord::WAVE);
  ASSERT_NE(set.findWave(5), nullptr);
  EXPECT_EQ(set.findWave(5)->bytes, samples);
  EXPECT_EQ(set.findWave(5)->formatByte, 3);
  EXPECT_EQ(set.findWave(5)->coding, ADPCM_YAMAHA);
  EXPECT_EQ(set.findWave(6)->bytes, samples);
  EXPECT_EQ(set.pcmCount(), 3u);
  EXPECT_EQ(describeVoices(set), "3 sampled voices, 2 waves");
}

TEST(SmafVoiceDecode, UserWaveformIsOnePeriodOfBigEndianSamples) {
  Bytes period;
  for (int i = 0; i < USER_WAVEFORM_SAMPLES; ++i) {
    const int16_t v = int16_t(i * 64 - 32768);
    period.push_back(uint8_t(uint16_t(v) >> 8));
    period.push_back(uint8_t(v));
  }
  const Bytes payload = cat({{0x43, 0x79, 0x06, 0x7F, 0x0C, 23}, pack(period)});
  VoiceSet set;
  EXPECT_EQ(decodeSetupRecord(payload.data(), uint32_t(payload.size()), &set),
            SetupRecord::USER_WAVEFORM);
  const UserWaveform* w = set.findUserWaveform(23);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->samples[0], -32768);
  EXPECT_EQ(w->samples[1023], 1023 * 64 - 32768);
  // Markers carry no instrument.
  const Bytes marker = {0x43, 0x79, 0x06, 0x7F, 0x7F};
  EXPECT_EQ(decodeSetupRecord(marker.data(), uint32_t(marker.size()), &set), SetupRecord::OTHER);
}

TEST(SmafVoiceDecode, DumpShowsEveryOperator) {
  VoiceSet set;
  const Voice& v = decodeOne(cat({{0x43, 0x79, 0x07, 0x7F, 0x01, 0x7C, 0x01, 9, 0, 0},
                                  GLOBALS_2OP, OPERATOR, CARRIER}),
                             set);
  const std::string text = dumpVoice(v);
  EXPECT_NE(text.find("MA-5 FM bank 7C/01 program 9"), std::string::npos) << text;
  EXPECT_NE(text.find("op1 MULT 4 DT 5 WS 17 FB 6 AR 15 DR 3 SR 5 RR 7 SL 2 TL 40"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("op2"), std::string::npos);
}

}  // namespace
}  // namespace vlm::smaf
