#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vlm::smaf
