// The voice samples of a song played along while the sequencer plays it, and the per-channel
// activity shown by the channel monitor: the window's side of the playback add-ons.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vlm {

// Starts the voice files (extracted at open) from the play position (sixteenth notes).
void playAlongStart(const std::vector<std::string>& voiceFiles, uint32_t position);
void playAlongTick(uint32_t position);
void playAlongStop();
// Activity of the 16 channels now, 0..127.
void playAlongLevels(uint8_t levels[16]);

}  // namespace vlm
