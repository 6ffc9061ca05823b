// A SMAF song that defines its own voices, ready for the handset synthesizer: the channel
// messages of its score in time order, each note routed to the synthesizer that plays it. Notes
// of channels bound to the file's FM and sampled voices go to the handset synthesizer; notes of
// built-in (ROM) voices, and of voices whose wave the file lacks, go to the General MIDI
// synthesizer; controls go to both. The routing is decided from the score as read, where the
// channels and times are those the file's voice bindings name.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "convert/format_table.h"
#include "formats/smaf_voice.h"
#include "synth/patch.h"

#ifdef VLM_HAVE_FLUIDSYNTH
typedef struct _fluid_synth_t fluid_synth_t;  // as <fluidsynth.h> declares it
#endif

namespace vlm {

// Messages of the routed song besides the MIDI channel messages.
inline constexpr uint8_t HANDSET_DRUM_CHANNEL = 0xF1;   // data1: channel; plays drum kits
inline constexpr uint8_t HANDSET_MASTER_VOLUME = 0xF2;  // data1: 0..127

struct HandsetEvent {
  double seconds = 0;
  uint8_t status = 0, data1 = 0, data2 = 0;
  bool toHandset = false, toGm = false;
  int32_t voice = -1;  // note-ons of the handset synthesizer: the voice to play
};

struct HandsetSong {
  std::shared_ptr<const SynthVoiceSet> voices;
  std::vector<HandsetEvent> events;  // in time order
  double seconds = 0;                // end of the last note or event
  size_t handsetNotes = 0, gmNotes = 0;
};

#ifdef VLM_HAVE_FLUIDSYNTH
// Hands an event routed to General MIDI to FluidSynth: a drum channel mark, a note, a
// controller, a program or a bend on the event's channel; other events are left out.
void sendToFluidSynth(fluid_synth_t* synth, const HandsetEvent& e);
#endif

// Whether a song with this voice set plays through the handset synthesizer: the setting is not
// "gm", the file defines voices, and they are not our own SMAF writers' built-in ones.
bool wantsHandsetSynth(const smaf::VoiceSet& set);

// What the window's options change in a routed song: its pace, its key and the channels heard.
struct HandsetPlayOptions {
  double tempoScale = 1;              // tempo ratio / 256: times are divided by it
  int keyShift = 0;                   // semitones; rhythm channels keep their notes
  int octaveShift[16] = {};           // per channel, as the transform takes it
  uint16_t channelMask = 0xFFFF;      // bit n: channel n sounds
};
// The window's options of the conversion options.
HandsetPlayOptions currentHandsetPlayOptions();

// Routes the score of a VStream image (read from a SMAF file) by the song's voice bindings.
void buildHandsetSong(const uint8_t* stream, uint32_t size, const smaf::VoiceSet& set,
                      const HandsetPlayOptions& play, HandsetSong* out);

// Reads `input` and, when it wants the handset synthesizer, fills `out`. False (and `out`
// empty) for every other song.
bool prepareHandsetSong(const char* input, FormatCode code, HandsetSong* out);

}  // namespace vlm
