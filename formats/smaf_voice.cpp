// Look-ups over a song's SMAF voice set and the per-thread record of the current song's set.
#include "formats/smaf_voice.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <utility>

namespace vlm::smaf {

namespace {

thread_local std::shared_ptr<const VoiceSet> currentSet;

const std::shared_ptr<const VoiceSet>& emptySet() {
  static const std::shared_ptr<const VoiceSet> empty = std::make_shared<const VoiceSet>();
  return empty;
}

}  // namespace

const Voice* VoiceSet::find(const ChannelBinding& b, uint8_t note) const {
  if (b.kind == BindingKind::BUILT_IN) return nullptr;
  for (const Voice& v : voices) {
    if (v.bankMsb != b.bankMsb || v.program != b.program) continue;
    if (handyPhone) return &v;  // drum voices sound at the written note
    if (v.bankLsb != b.bankLsb) continue;
    if (b.kind == BindingKind::CUSTOM_MELODIC || v.drumNote == note) return &v;
  }
  return nullptr;
}

const Wave* VoiceSet::findWave(uint8_t id) const {
  for (const Wave& w : waves)
    if (w.id == id) return &w;
  return nullptr;
}

const UserWaveform* VoiceSet::findUserWaveform(uint8_t slot) const {
  for (const UserWaveform& w : userWaveforms)
    if (w.slot == slot) return &w;
  return nullptr;
}

size_t VoiceSet::fmCount() const {
  return size_t(std::count_if(voices.begin(), voices.end(),
                              [](const Voice& v) { return v.kind == VoiceKind::FM; }));
}

size_t VoiceSet::pcmCount() const {
  return voices.size() - fmCount();
}

size_t VoiceSet::builtInPrograms() const {
  std::set<uint32_t> seen;
  for (const ChannelBinding& b : bindings)
    if (b.kind == BindingKind::BUILT_IN)
      seen.insert(uint32_t(b.bankMsb) << 16 | uint32_t(b.bankLsb) << 8 | b.program);
  return seen.size();
}

namespace {

const char* formName(VoiceForm form) {
  switch (form) {
    case VoiceForm::HANDY_PHONE:
      return "HandyPhone";
    case VoiceForm::MA3:
      return "MA-3";
    case VoiceForm::MA5:
      return "MA-5";
    case VoiceForm::MA5_SHORT:
      return "MA-5 short";
    case VoiceForm::MA7:
      return "MA-7";
    case VoiceForm::PHRASE:
      return "Phrase";
  }
  return "?";
}

std::string plural(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string envelopeText(const Envelope& e) {
  char text[160];
  std::snprintf(text, sizeof text,
                "AR %u DR %u SR %u RR %u SL %u TL %u KSL %u KSR %u SUS %u XOF %u "
                "VIB %u/%u AM %u/%u",
                e.attackRate, e.decayRate, e.sustainRate, e.releaseRate, e.sustainLevel,
                e.totalLevel, e.keyScaleLevel, e.keyScaleRate, e.sustain, e.ignoreKeyOff,
                e.vibrato, e.vibratoDepth, e.tremolo, e.tremoloDepth);
  return text;
}

}  // namespace

std::string describeVoices(const VoiceSet& set) {
  std::string text;
  const size_t fm = set.fmCount(), pcm = set.pcmCount(), rom = set.builtInPrograms();
  if (fm) text += plural(fm, "FM voice", "FM voices");
  if (pcm) text += (text.empty() ? "" : ", ") + plural(pcm, "sampled voice", "sampled voices");
  if (!set.waves.empty())
    text += (text.empty() ? "" : ", ") + plural(set.waves.size(), "wave", "waves");
  if (!set.userWaveforms.empty())
    text += (text.empty() ? "" : ", ") +
            plural(set.userWaveforms.size(), "user FM waveform", "user FM waveforms");
  if (rom)
    text += (text.empty() ? "" : "; ") +
            plural(rom, "program uses built-in voices", "programs use built-in voices");
  return text;
}

std::string dumpVoice(const Voice& v) {
  char head[200];
  std::snprintf(head, sizeof head, "voice %s %s bank %02X/%02X program %u%s", formName(v.form),
                v.kind == VoiceKind::FM ? "FM" : "PCM", v.bankMsb, v.bankLsb, v.program,
                v.drum ? " drum" : "");
  std::string text = head;
  if (v.drum && v.drumNote) text += " note " + std::to_string(v.drumNote);
  char line[200];
  if (v.kind == VoiceKind::PCM) {
    const PcmVoice& p = v.pcm;
    std::snprintf(line, sizeof line,
                  "\n  %u Hz, wave %u%s, loop %u..%u, pan %u%s, LFO %u\n  ", p.sampleRate,
                  p.waveId, p.romWave ? " (ROM)" : "", p.loopStart, p.loopEnd, p.panpot,
                  p.panEnable ? "" : " (off)", p.lfo);
    return text + line + envelopeText(p.envelope) + "\n";
  }
  const FmVoice& f = v.fm;
  std::snprintf(line, sizeof line, "\n  ALG %u, %u operators, LFO %u, pan %u%s, BO %u, drum key %u",
                f.algorithm, f.operators, f.lfo, f.panpot, f.panEnable ? "" : " (off)",
                f.basicOctave, f.drumKey);
  text += line;
  for (int i = 0; i < f.operators && i < FM_MAX_OPERATORS; ++i) {
    const FmOperator& o = f.op[i];
    std::snprintf(line, sizeof line, "\n  op%d MULT %u DT %u WS %u FB %u ", i + 1, o.multiplier,
                  o.detune, o.waveform, o.feedback);
    text += line + envelopeText(o.envelope);
  }
  return text + "\n";
}

std::shared_ptr<const VoiceSet> songVoices() {
  return currentSet ? currentSet : emptySet();
}

void setSongVoices(std::shared_ptr<const VoiceSet> set) {
  currentSet = std::move(set);
}

void clearSongVoices() {
  currentSet.reset();
}

}  // namespace vlm::smaf
