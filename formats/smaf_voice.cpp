// Look-ups over a song's SMAF voice set and the per-thread record of the current song's set.
#include "formats/smaf_voice.h"

#include <algorithm>
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
