// From the file's voice records to the synthesizer's voices. Everything that costs time (decoding
// waves, scaling user waveforms) happens here once, before the first note.
#include "synth/smaf_voices.h"

#include <algorithm>
#include <cstring>

#include "core/codec.h"
#include "formats/adpcm.h"
#include "synth/tables.h"

namespace vlm {

namespace {

EnvelopeParams envelopeOf(const smaf::Envelope& e) {
  EnvelopeParams p;
  p.ar = e.attackRate;
  p.dr = e.decayRate;
  p.sr = e.sustainRate;
  p.rr = e.releaseRate;
  p.sl = e.sustainLevel;
  p.tl = e.totalLevel;
  p.ksl = e.keyScaleLevel;
  p.ksr = e.keyScaleRate;
  p.sus = e.sustain;
  p.xof = e.ignoreKeyOff;
  p.evb = e.vibrato;
  p.dvb = e.vibratoDepth;
  p.eam = e.tremolo;
  p.dam = e.tremoloDepth;
  return p;
}

FmPatch fmPatchOf(const smaf::FmVoice& v) {
  FmPatch p;
  p.alg = v.algorithm & 7;
  p.lfo = v.lfo & 3;
  p.panEnable = v.panEnable;
  p.pan = v.panpot & 31;
  // Basic octave 0 = one octave up, 1 = as written, 2 and 3 = one and two down.
  p.octaveShift = int8_t(1 - int(v.basicOctave & 3));
  p.drumKey = v.drumKey;
  for (int k = 0; k < smaf::FM_MAX_OPERATORS; ++k) {
    const smaf::FmOperator& o = v.op[k];
    p.op[k].env = envelopeOf(o.envelope);
    p.op[k].multi = o.multiplier & 15;
    p.op[k].dt = o.detune & 7;
    p.op[k].ws = o.waveform & 31;
    p.op[k].fb = o.feedback & 7;
  }
  return p;
}

// The wave of a sampled voice as samples of -1..1; empty when the file does not carry it.
std::shared_ptr<const std::vector<float>> waveSamples(const smaf::VoiceSet& set,
                                                      const smaf::PcmVoice& v) {
  const smaf::Wave* w = v.romWave ? nullptr : set.findWave(v.waveId);
  if (!w || w->bytes.empty()) return nullptr;
  const uint32_t bytes = uint32_t(w->bytes.size());
  std::vector<int16_t> linear(waveSampleCount(w->coding, bytes));
  if (linear.empty()) return nullptr;
  decodeWaveToLinear(w->coding, w->bytes.data(), bytes, linear.data());
  auto out = std::make_shared<std::vector<float>>(linear.size());
  for (size_t i = 0; i < linear.size(); ++i) (*out)[i] = float(linear[i]) / 32768.0f;
  return out;
}

ChipGeneration generationOf(smaf::VoiceForm form) {
  switch (form) {
    case smaf::VoiceForm::HANDY_PHONE: return ChipGeneration::MA2;
    case smaf::VoiceForm::MA5:
    case smaf::VoiceForm::MA5_SHORT: return ChipGeneration::MA5;
    case smaf::VoiceForm::MA7: return ChipGeneration::MA7;
    default: return ChipGeneration::MA3;
  }
}

// The HandyPhone voice bytes of an FM record (two global bytes, five per operator), the layout
// of our own writers' voice tables.
int packHandyPhoneVoice(const smaf::FmVoice& v, uint8_t* out) {
  const int ops = smaf::fmOperatorCount(v.algorithm);
  out[0] = uint8_t((v.lfo & 3) << 6 | (v.op[0].feedback & 7) << 3 | (v.algorithm & 7));
  out[1] = 0;  // not in the records
  for (int k = 0; k < ops; ++k) {
    const smaf::FmOperator& o = v.op[k];
    const smaf::Envelope& e = o.envelope;
    uint8_t* b = out + 2 + 5 * k;
    b[0] = uint8_t((o.multiplier & 15) << 4 | e.vibrato << 3 | o.sustainedType << 2 |
                   e.sustain << 1 | e.keyScaleRate);
    b[1] = uint8_t((e.releaseRate & 15) << 4 | (e.decayRate & 15));
    b[2] = uint8_t((e.attackRate & 15) << 4 | (e.sustainLevel & 15));
    b[3] = uint8_t((e.totalLevel & 63) << 2 | (e.keyScaleLevel & 3));
    b[4] = uint8_t((e.vibratoDepth & 3) << 6 | (e.tremoloDepth & 3) << 4 | e.tremolo << 3 |
                   (o.waveform & 7));
  }
  return 2 + 5 * ops;
}

// Byte 1 of the layout is not part of the voice records (its meaning is unknown), so it is
// left out of the comparison.
bool sameVoiceBytes(const uint8_t* a, const uint8_t* b, int size) {
  return a[0] == b[0] && std::memcmp(a + 2, b + 2, size_t(size - 2)) == 0;
}

bool inOurTables(const uint8_t* bytes, int size) {
  for (int i = 0; i < VOICE_RECORDS; ++i) {
    if (size == 12 && sameVoiceBytes(bytes, FM2_VOICES[i], 12)) return true;
    if (size == 12 && i < VOICE_RECORDS_ALT && sameVoiceBytes(bytes, FM2_VOICES_ALT[i], 12))
      return true;
    if (size == 22 && sameVoiceBytes(bytes, FM4_VOICES[i], 22)) return true;
  }
  return false;
}

}  // namespace

std::shared_ptr<const SynthVoiceSet> synthVoicesFromSmaf(const smaf::VoiceSet& set) {
  auto out = std::make_shared<SynthVoiceSet>();
  out->generation = ChipGeneration::MA1;
  out->voices.reserve(set.voices.size());
  for (const smaf::Voice& v : set.voices) {
    SynthVoice s;
    s.bankMsb = v.bankMsb;
    s.bankLsb = v.bankLsb;
    s.program = v.program;
    s.drum = v.drum;
    s.drumNote = v.drumNote;
    if (v.kind == smaf::VoiceKind::FM) {
      s.fm = fmPatchOf(v.fm);
    } else {
      s.sampled = true;
      s.pcm.samples = waveSamples(set, v.pcm);
      s.playable = s.pcm.samples != nullptr && v.pcm.sampleRate > 0;
      s.pcm.sampleRate = v.pcm.sampleRate;
      s.pcm.loopPoint = v.pcm.loopStart;
      s.pcm.endPoint = v.pcm.loopEnd;
      s.pcm.rootKey = v.pcm.rootKey;
      s.pcm.env = envelopeOf(v.pcm.envelope);
      s.pcm.lfo = v.pcm.lfo & 3;
      s.pcm.panEnable = v.pcm.panEnable;
      s.pcm.pan = v.pcm.panpot & 31;
    }
    out->generation = std::max(out->generation, generationOf(v.form));
    out->voices.push_back(std::move(s));
  }
  for (const smaf::UserWaveform& w : set.userWaveforms) {
    for (int s = 0; s < 3; ++s) {
      if (w.slot != USER_WAVE_SLOTS[s]) continue;
      std::vector<float>& table = out->userWaves[s];
      table.resize(smaf::USER_WAVEFORM_SAMPLES);
      for (int i = 0; i < smaf::USER_WAVEFORM_SAMPLES; ++i)
        table[size_t(i)] = float(w.samples[i]) / 32768.0f;
    }
  }
  return out;
}

bool voicesAreOurOwnWriters(const smaf::VoiceSet& set) {
  if (set.voices.empty()) return false;
  for (const smaf::Voice& v : set.voices) {
    if (v.form != smaf::VoiceForm::HANDY_PHONE || v.kind != smaf::VoiceKind::FM) return false;
    uint8_t bytes[22] = {};
    if (!inOurTables(bytes, packHandyPhoneVoice(v.fm, bytes))) return false;
  }
  return true;
}

}  // namespace vlm
