// Decoding of the SMAF setup exclusives into voice records: the HandyPhone "VMA" FM voice
// (43 03), the MA-3 (43 79 06 7F ..., 7-bit packed), MA-5 (43 79 07 7F ...) and MA-7
// (43 79 08 7F ...) voices and waves, the MA-5 short form (43 05 01) and the Phrase voice
// (43 04). Every bit field is unpacked here once.
#include <cstring>

#include "core/codec.h"
#include "formats/adpcm.h"
#include "formats/smaf_voice.h"

namespace vlm::smaf {

namespace {

// Payload prefixes (from the manufacturer byte 0x43).
constexpr uint8_t MANUFACTURER = 0x43;
constexpr uint8_t CLASS_VMA = 0x03;
constexpr uint8_t CLASS_PHRASE = 0x04;
constexpr uint8_t CLASS_MA5_SHORT = 0x05;
constexpr uint8_t CLASS_EXTENDED = 0x79;
constexpr uint8_t GENERATION_MA3 = 0x06, GENERATION_MA5 = 0x07, GENERATION_MA7 = 0x08;
constexpr uint8_t EXTENDED_MARK = 0x7F;
constexpr uint8_t RECORD_VOICE = 0x01;      // MA-3 / MA-5
constexpr uint8_t RECORD_WAVE = 0x03;       // MA-3 / MA-5
constexpr uint8_t RECORD_USER_WAVE = 0x0C;  // MA-3
constexpr uint8_t RECORD_MA7_VOICE = 0x21;
constexpr uint8_t RECORD_MA7_WAVE = 0x23;
constexpr uint32_t EXTENDED_RECORD = 4;  // index of the record type byte

// Extended voice header: bank MSB, bank LSB, program, drum note, voice type / form.
constexpr uint32_t EXT_BANK_MSB = 5, EXT_BANK_LSB = 6, EXT_PROGRAM = 7, EXT_DRUM_NOTE = 8;
constexpr uint32_t EXT_TYPE = 9, EXT_BODY = 10;
constexpr uint32_t MA7_FORM = 10, MA7_BODY = 11;
constexpr uint8_t TYPE_FM = 0, TYPE_PCM = 1, TYPE_FM_PREFIXED = 2, TYPE_PCM_PREFIXED = 3;
constexpr uint32_t MA5_PREFIX = 27;  // unknown bytes before the body of MA-5 types 2 and 3
// Wave records: id, format byte, data.
constexpr uint32_t WAVE_ID = 5, WAVE_FORMAT = 6, WAVE_DATA = 7;
constexpr uint32_t USER_WAVE_SLOT = 5, USER_WAVE_DATA = 6;

// HandyPhone voice: index, bank, program, two global bytes, 5 bytes per operator.
constexpr uint32_t VMA_BANK = 3, VMA_PROGRAM = 4, VMA_GLOBAL = 5, VMA_OPERATORS = 7;
constexpr uint32_t VMA_OPERATOR_SIZE = 5;
// MA-5 short form: 43 05 01 LSB program body.
constexpr uint32_t SHORT_LSB = 3, SHORT_PROGRAM = 4, SHORT_BODY = 5;
// Phrase voice: 43 04 01, then PANPOT/BO and LFO/PE/ALG (no drum key), then VM35 operators.
constexpr uint32_t PHRASE_BODY = 3;
constexpr uint32_t PHRASE_VOICE_PROGRAM = 2;

constexpr uint32_t VM35_GLOBAL = 3, VM35_OPERATOR_SIZE = 7;
constexpr uint32_t MA7_OPERATOR_SIZE = 10;
constexpr uint32_t PCM_BODY_SIZE = 16;
// MA-7 sampled forms: rate, then (not established) pan/LFO/envelope bytes, loop and end point;
// the last body byte is the ROM flag and wave id.
constexpr uint32_t MA7_PCM_LOOP = 12, MA7_PCM_END = 14, MA7_PCM_MIN = 17;
constexpr uint8_t MA7_FORM_FM = 0x00, MA7_FORM_FM_TAIL = 0x02, MA7_FORM_PCM_PLAIN = 0x01;
constexpr uint8_t ROM_FLAG = 0x80;

// The MA-7 sampled forms' envelope bytes are not established; form 0x01 has the MA-5 layout at
// bytes 2-8, the longer forms are given this plain envelope (instant attack, hold while the key
// is down, a medium release). One place to change when the layout is known.
constexpr Envelope MA7_SAMPLED_ENVELOPE = [] {
  Envelope e;
  e.attackRate = 15;
  e.releaseRate = 8;
  return e;
}();

// Envelope and modulation of a VM35 operator (bytes 0-4), also the PCM body's bytes 4-8.
Envelope envelopeOf(const uint8_t* b) {
  Envelope e;
  e.sustainRate = b[0] >> 4;
  e.ignoreKeyOff = (b[0] >> 3) & 1;
  e.sustain = (b[0] >> 1) & 1;
  e.keyScaleRate = b[0] & 1;
  e.releaseRate = b[1] >> 4;
  e.decayRate = b[1] & 0x0F;
  e.attackRate = b[2] >> 4;
  e.sustainLevel = b[2] & 0x0F;
  e.totalLevel = b[3] >> 2;
  e.keyScaleLevel = b[3] & 3;
  e.tremoloDepth = (b[4] >> 5) & 3;
  e.tremolo = (b[4] >> 4) & 1;
  e.vibratoDepth = (b[4] >> 1) & 3;
  e.vibrato = b[4] & 1;
  return e;
}

FmOperator vm35Operator(const uint8_t* b) {
  FmOperator op;
  op.envelope = envelopeOf(b);
  op.multiplier = b[5] >> 4;
  op.detune = b[5] & 7;
  op.waveform = b[6] >> 3;
  op.feedback = b[6] & 7;
  return op;
}

// VM35 body: drum key (when present), PANPOT/BO, LFO/PE/ALG, then the operators the
// algorithm uses (surplus operator slots are filler). False when too short.
bool decodeVm35(const uint8_t* b, uint32_t size, bool drumKey, uint32_t operatorSize,
                FmVoice* fm) {
  const uint32_t globals = drumKey ? VM35_GLOBAL : VM35_GLOBAL - 1;
  if (size < globals) return false;
  const uint8_t* g = drumKey ? b + 1 : b;
  fm->drumKey = drumKey ? b[0] : 0;
  fm->panpot = g[0] >> 3;
  fm->basicOctave = g[0] & 3;
  fm->lfo = g[1] >> 6;
  fm->panEnable = (g[1] >> 5) & 1;
  fm->algorithm = g[1] & 7;
  fm->operators = fmOperatorCount(fm->algorithm);
  if (size < globals + fm->operators * operatorSize) return false;
  for (int i = 0; i < fm->operators; ++i) {
    const uint8_t* o = b + globals + i * operatorSize;
    if (operatorSize == VM35_OPERATOR_SIZE) {
      fm->op[i] = vm35Operator(o);
      continue;
    }
    // MA-7: VM35 bytes 0-4, an unknown byte, VM35 byte 6, two unknown bytes, VM35 byte 5.
    const uint8_t vm35[VM35_OPERATOR_SIZE] = {o[0], o[1], o[2], o[3], o[4], o[9], o[6]};
    fm->op[i] = vm35Operator(vm35);
    fm->op[i].ma7Unknown[0] = o[5];
    fm->op[i].ma7Unknown[1] = o[7];
    fm->op[i].ma7Unknown[2] = o[8];
  }
  return true;
}

// HandyPhone voice operator: MULT/VIB/EGT/SUS/KSR, RR/DR, AR/SL, TL/KSL, DVB/DAM/AM/WS.
FmOperator vmaOperator(const uint8_t* b) {
  FmOperator op;
  op.multiplier = b[0] >> 4;
  op.envelope.vibrato = (b[0] >> 3) & 1;
  op.sustainedType = (b[0] >> 2) & 1;
  op.envelope.sustain = (b[0] >> 1) & 1;
  op.envelope.keyScaleRate = b[0] & 1;
  op.envelope.releaseRate = b[1] >> 4;
  op.envelope.decayRate = b[1] & 0x0F;
  op.envelope.attackRate = b[2] >> 4;
  op.envelope.sustainLevel = b[2] & 0x0F;
  op.envelope.totalLevel = b[3] >> 2;
  op.envelope.keyScaleLevel = b[3] & 3;
  op.envelope.vibratoDepth = b[4] >> 6;
  op.envelope.tremoloDepth = (b[4] >> 4) & 3;
  op.envelope.tremolo = (b[4] >> 3) & 1;
  op.waveform = b[4] & 7;
  // A percussive operator keeps falling at its release rate after the decay.
  op.envelope.sustainRate = op.sustainedType ? 0 : op.envelope.releaseRate;
  return op;
}

bool decodeVma(const uint8_t* p, uint32_t size, Voice* v) {
  if (size < VMA_OPERATORS) return false;
  v->form = VoiceForm::HANDY_PHONE;
  v->kind = VoiceKind::FM;
  v->bankMsb = p[VMA_BANK];
  v->program = p[VMA_PROGRAM];
  v->drum = (p[VMA_BANK] & BANK_HANDY_DRUM) != 0;
  FmVoice& fm = v->fm;
  const uint8_t g0 = p[VMA_GLOBAL];
  fm.lfo = g0 >> 6;
  fm.algorithm = g0 & 7;
  fm.operators = fmOperatorCount(fm.algorithm);
  if (size < VMA_OPERATORS + fm.operators * VMA_OPERATOR_SIZE) return false;
  for (int i = 0; i < fm.operators; ++i)
    fm.op[i] = vmaOperator(p + VMA_OPERATORS + i * VMA_OPERATOR_SIZE);
  fm.op[0].feedback = (g0 >> 3) & 7;
  return true;
}

// The 16-byte sampled-voice body of MA-3 (unpacked) and MA-5.
bool decodePcmBody(const uint8_t* b, uint32_t size, PcmVoice* pcm) {
  if (size < PCM_BODY_SIZE) return false;
  pcm->sampleRate = getBE(b, 2);
  pcm->panpot = b[2] >> 3;
  pcm->panEnable = b[2] & 1;
  pcm->lfo = b[3] >> 6;
  pcm->envelope = envelopeOf(b + 4);
  pcm->loopStart = getBE(b + 11, 2);
  pcm->loopEnd = getBE(b + 13, 2);
  pcm->romWave = (b[15] & ROM_FLAG) != 0;
  pcm->waveId = b[15] & 0x7F;
  return true;
}

bool decodeMa7Pcm(const uint8_t* b, uint32_t size, uint8_t form, PcmVoice* pcm) {
  if (size < MA7_PCM_MIN) return false;
  pcm->sampleRate = getBE(b, 2);
  if (form == MA7_FORM_PCM_PLAIN) {
    pcm->panpot = b[2] >> 3;
    pcm->panEnable = b[2] & 1;
    pcm->lfo = b[3] >> 6;
    pcm->envelope = envelopeOf(b + 4);
  } else {
    pcm->envelope = MA7_SAMPLED_ENVELOPE;
  }
  pcm->loopStart = getBE(b + MA7_PCM_LOOP, 2);
  pcm->loopEnd = getBE(b + MA7_PCM_END, 2);
  pcm->romWave = (b[size - 1] & ROM_FLAG) != 0;
  pcm->waveId = b[size - 1] & 0x7F;
  return true;
}

void keyFromExtendedHead(const uint8_t* p, VoiceForm form, Voice* v) {
  v->form = form;
  v->bankMsb = p[EXT_BANK_MSB];
  v->bankLsb = p[EXT_BANK_LSB];
  v->program = p[EXT_PROGRAM];
  v->drumNote = p[EXT_DRUM_NOTE];
  v->drum = v->bankMsb == BANK_USER_DRUM;
}

// MA-3 / MA-5 voice: type 0 FM, 1 PCM, 2 and 3 the same after an unknown prefix (MA-5).
bool decodeExtendedVoice(const uint8_t* p, uint32_t size, bool packed, Voice* v) {
  if (size <= EXT_BODY) return false;
  keyFromExtendedHead(p, packed ? VoiceForm::MA3 : VoiceForm::MA5, v);
  std::vector<uint8_t> unpacked;
  const uint8_t* body = p + EXT_BODY;
  uint32_t length = size - EXT_BODY;
  if (packed) {
    unpacked = unpackSevenBit(body, length);
    body = unpacked.data();
    length = uint32_t(unpacked.size());
  }
  uint8_t type = p[EXT_TYPE];
  if (!packed && (type == TYPE_FM_PREFIXED || type == TYPE_PCM_PREFIXED)) {
    if (length < MA5_PREFIX) return false;
    body += MA5_PREFIX;
    length -= MA5_PREFIX;
    type = type == TYPE_FM_PREFIXED ? TYPE_FM : TYPE_PCM;
  }
  if (type == TYPE_FM) {
    v->kind = VoiceKind::FM;
    return decodeVm35(body, length, true, VM35_OPERATOR_SIZE, &v->fm);
  }
  if (type == TYPE_PCM) {
    v->kind = VoiceKind::PCM;
    return decodePcmBody(body, length, &v->pcm);
  }
  return false;
}

bool decodeMa7Voice(const uint8_t* p, uint32_t size, Voice* v) {
  if (size <= MA7_BODY) return false;
  keyFromExtendedHead(p, VoiceForm::MA7, v);
  const uint8_t form = p[MA7_FORM];
  const uint8_t* body = p + MA7_BODY;
  const uint32_t length = size - MA7_BODY;
  if (form == MA7_FORM_FM || form == MA7_FORM_FM_TAIL) {
    v->kind = VoiceKind::FM;
    return decodeVm35(body, length, true, MA7_OPERATOR_SIZE, &v->fm);
  }
  v->kind = VoiceKind::PCM;
  return decodeMa7Pcm(body, length, form, &v->pcm);
}

SetupRecord addWave(const uint8_t* p, uint32_t size, bool packed, VoiceSet* set) {
  if (size < WAVE_DATA) return SetupRecord::OTHER;
  Wave w;
  w.id = p[WAVE_ID];
  w.formatByte = p[WAVE_FORMAT];
  w.coding = ADPCM_YAMAHA;  // every wave record holds 4-bit Yamaha ADPCM, low nibble first
  if (packed)
    w.bytes = unpackSevenBit(p + WAVE_DATA, size - WAVE_DATA);
  else
    w.bytes.assign(p + WAVE_DATA, p + size);
  set->waves.push_back(std::move(w));
  return SetupRecord::WAVE;
}

SetupRecord addUserWaveform(const uint8_t* p, uint32_t size, VoiceSet* set) {
  if (size < USER_WAVE_DATA) return SetupRecord::OTHER;
  const std::vector<uint8_t> data = unpackSevenBit(p + USER_WAVE_DATA, size - USER_WAVE_DATA);
  if (data.size() < USER_WAVEFORM_SAMPLES * 2u) return SetupRecord::OTHER;
  UserWaveform w;
  w.slot = p[USER_WAVE_SLOT];
  for (int i = 0; i < USER_WAVEFORM_SAMPLES; ++i)
    w.samples[i] = int16_t(uint16_t(data[2 * i] << 8 | data[2 * i + 1]));
  set->userWaveforms.push_back(w);
  return SetupRecord::USER_WAVEFORM;
}

SetupRecord addVoice(bool ok, const Voice& v, VoiceSet* set) {
  if (!ok) return SetupRecord::OTHER;
  set->voices.push_back(v);
  return SetupRecord::VOICE;
}

SetupRecord decodeExtended(const uint8_t* p, uint32_t size, VoiceSet* set) {
  if (size <= EXTENDED_RECORD || p[3] != EXTENDED_MARK) return SetupRecord::OTHER;
  const uint8_t generation = p[2], record = p[EXTENDED_RECORD];
  Voice v;
  if (generation == GENERATION_MA3 || generation == GENERATION_MA5) {
    const bool packed = generation == GENERATION_MA3;
    if (record == RECORD_VOICE) return addVoice(decodeExtendedVoice(p, size, packed, &v), v, set);
    if (record == RECORD_WAVE) return addWave(p, size, packed, set);
    if (record == RECORD_USER_WAVE && packed) return addUserWaveform(p, size, set);
  } else if (generation == GENERATION_MA7) {
    if (record == RECORD_MA7_VOICE) return addVoice(decodeMa7Voice(p, size, &v), v, set);
    if (record == RECORD_MA7_WAVE) return addWave(p, size, false, set);
  }
  return SetupRecord::OTHER;
}

}  // namespace

std::vector<uint8_t> unpackSevenBit(const uint8_t* packed, uint32_t size) {
  std::vector<uint8_t> out;
  out.reserve(size);
  for (uint32_t group = 0; group < size; group += 8) {
    const uint8_t high = packed[group];
    for (uint32_t k = 1; k < 8 && group + k < size; ++k)
      out.push_back(uint8_t((packed[group + k] & 0x7F) | (((high >> (7 - k)) & 1) << 7)));
  }
  return out;
}

SetupRecord decodeSetupRecord(const uint8_t* p, uint32_t size, VoiceSet* set) {
  if (size < 3 || p[0] != MANUFACTURER) return SetupRecord::OTHER;
  Voice v;
  switch (p[1]) {
    case CLASS_VMA:
      return addVoice(decodeVma(p, size, &v), v, set);
    case CLASS_PHRASE:
      // The record names no bank or program; its third byte (1 in every known file) is taken
      // as the program it answers to (PHRASE_VOICE_PROGRAM).
      v.form = VoiceForm::PHRASE;
      v.program = p[PHRASE_VOICE_PROGRAM];
      return addVoice(decodeVm35(p + PHRASE_BODY, size - PHRASE_BODY, false, VM35_OPERATOR_SIZE,
                                 &v.fm),
                      v, set);
    case CLASS_MA5_SHORT:
      if (size <= SHORT_BODY) return SetupRecord::OTHER;
      v.form = VoiceForm::MA5_SHORT;
      v.bankLsb = p[SHORT_LSB];
      v.program = p[SHORT_PROGRAM];
      return addVoice(decodeVm35(p + SHORT_BODY, size - SHORT_BODY, true, VM35_OPERATOR_SIZE,
                                 &v.fm),
                      v, set);
    case CLASS_EXTENDED:
      return decodeExtended(p, size, set);
    default:
      return SetupRecord::OTHER;
  }
}

}  // namespace vlm::smaf
