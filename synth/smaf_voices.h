// The handset synthesizer's voices from the records of a SMAF file: parameters copied into the
// synthesizer's own form, waves decoded once to linear samples, user FM waveforms scaled.
#pragma once

#include <memory>

#include "formats/smaf_voice.h"
#include "synth/patch.h"

namespace vlm {

// One synthesizer voice per record, in the same order (so a record's index is its voice's).
// The chip generation follows the newest voice form in the set.
std::shared_ptr<const SynthVoiceSet> synthVoicesFromSmaf(const smaf::VoiceSet& set);

// Whether every voice of the set is one of our own SMAF writers' built-in FM voices: such a file
// plays through the General MIDI path, as it always has.
bool voicesAreOurOwnWriters(const smaf::VoiceSet& set);

}  // namespace vlm
