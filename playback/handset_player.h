// Live playback of a song with its own voices: a sequencer device that plays the routed song on
// the audio output, the handset synthesizer beside FluidSynth (which gets only the notes routed
// to it). The player opens it instead of the FluidSynth sequencer when the song it plays has a
// handset song prepared; positions and lengths follow the played Standard MIDI File's tempo map,
// as the other sequencer's do.
#pragma once

#include <memory>

#include "convert/format_table.h"
#include "platform/sequencer.h"

namespace vlm {

// After `playedSmf` was written for `input` (the player's hand-over from the playback run, on
// the run's thread): prepares the handset song of the input, or forgets the previous one when
// the input does not want the handset synthesizer.
void preparePlayerHandsetSong(const char* input, FormatCode code, const char* playedSmf);
void releasePlayerHandsetSong();
struct HandsetSong;
// The same with a song already routed.
void setPlayerHandsetSong(const char* playedSmf, std::shared_ptr<const HandsetSong> song);
// Whether the sequencer file `smf` has a handset song; if so, opens the device that plays it.
bool playerHasHandsetSong(const char* smf);
DeviceError openHandsetSequencer(const char* smf, std::unique_ptr<MediaDevice>* device);

}  // namespace vlm
