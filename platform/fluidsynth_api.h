// FluidSynth, loaded the first time a sound is made instead of at start-up. A conversion then
// never maps the synthesizer and the sixty libraries behind it (sound servers, codecs, X11), so
// vlmconv starts at once and converts a ringtone in a few megabytes. Code that makes sound
// includes this header instead of <fluidsynth.h> and calls the functions by their usual names;
// when the library cannot be loaded, the constructors give null (and every other function a
// failure), which the callers already report as "no synthesizer".
#pragma once

#ifdef VLM_HAVE_FLUIDSYNTH
#include <fluidsynth.h>

#include <string>

// Every FluidSynth function the program calls.
#define VLM_FLUID_FUNCTIONS(X)                                                                 \
  X(fluid_version)                                                                             \
  X(fluid_set_log_function)                                                                    \
  X(new_fluid_settings) X(delete_fluid_settings) X(fluid_settings_setint)                      \
  X(fluid_settings_setnum) X(fluid_settings_setstr) X(fluid_settings_getnum)                   \
  X(new_fluid_synth) X(delete_fluid_synth) X(fluid_synth_sfload) X(fluid_synth_sfunload)       \
  X(fluid_synth_write_s16) X(fluid_synth_process) X(fluid_synth_handle_midi_event)             \
  X(fluid_synth_system_reset) X(fluid_synth_all_sounds_off)                                    \
  X(fluid_synth_get_active_voice_count)                                                        \
  X(fluid_synth_noteon) X(fluid_synth_noteoff) X(fluid_synth_cc) X(fluid_synth_program_change)  \
  X(fluid_synth_pitch_bend) X(fluid_synth_set_channel_type) X(fluid_synth_write_float)          \
  X(new_fluid_player) X(delete_fluid_player) X(fluid_player_add_mem) X(fluid_player_play)     \
  X(fluid_player_stop) X(fluid_player_seek) X(fluid_player_get_status)                         \
  X(fluid_player_get_current_tick) X(fluid_player_set_playback_callback)                       \
  X(fluid_midi_event_get_type) X(fluid_midi_event_get_channel) X(fluid_midi_event_get_key)     \
  X(fluid_midi_event_get_velocity) X(fluid_midi_event_get_control)                             \
  X(new_fluid_audio_driver2) X(delete_fluid_audio_driver)

namespace vlm {

struct FluidApi {
#define VLM_FLUID_POINTER(name) decltype(&::name) name;
  VLM_FLUID_FUNCTIONS(VLM_FLUID_POINTER)
#undef VLM_FLUID_POINTER
};

// The functions of the loaded library, or stand-ins that fail when it cannot be loaded. Loads
// it on the first call (thread-safe).
const FluidApi& fluidApi();
// Whether the library is loaded; `error` receives why not.
bool fluidLoaded(std::string* error = nullptr);

}  // namespace vlm

#ifndef VLM_FLUID_LOADER
#define VLM_FLUID_REDIRECT(name) (::vlm::fluidApi().name)
#define fluid_version VLM_FLUID_REDIRECT(fluid_version)
#define fluid_set_log_function VLM_FLUID_REDIRECT(fluid_set_log_function)
#define new_fluid_settings VLM_FLUID_REDIRECT(new_fluid_settings)
#define delete_fluid_settings VLM_FLUID_REDIRECT(delete_fluid_settings)
#define fluid_settings_setint VLM_FLUID_REDIRECT(fluid_settings_setint)
#define fluid_settings_setnum VLM_FLUID_REDIRECT(fluid_settings_setnum)
#define fluid_settings_setstr VLM_FLUID_REDIRECT(fluid_settings_setstr)
#define fluid_settings_getnum VLM_FLUID_REDIRECT(fluid_settings_getnum)
#define new_fluid_synth VLM_FLUID_REDIRECT(new_fluid_synth)
#define delete_fluid_synth VLM_FLUID_REDIRECT(delete_fluid_synth)
#define fluid_synth_sfload VLM_FLUID_REDIRECT(fluid_synth_sfload)
#define fluid_synth_sfunload VLM_FLUID_REDIRECT(fluid_synth_sfunload)
#define fluid_synth_write_s16 VLM_FLUID_REDIRECT(fluid_synth_write_s16)
#define fluid_synth_process VLM_FLUID_REDIRECT(fluid_synth_process)
#define fluid_synth_handle_midi_event VLM_FLUID_REDIRECT(fluid_synth_handle_midi_event)
#define fluid_synth_system_reset VLM_FLUID_REDIRECT(fluid_synth_system_reset)
#define fluid_synth_all_sounds_off VLM_FLUID_REDIRECT(fluid_synth_all_sounds_off)
#define fluid_synth_get_active_voice_count VLM_FLUID_REDIRECT(fluid_synth_get_active_voice_count)
#define fluid_synth_noteon VLM_FLUID_REDIRECT(fluid_synth_noteon)
#define fluid_synth_noteoff VLM_FLUID_REDIRECT(fluid_synth_noteoff)
#define fluid_synth_cc VLM_FLUID_REDIRECT(fluid_synth_cc)
#define fluid_synth_program_change VLM_FLUID_REDIRECT(fluid_synth_program_change)
#define fluid_synth_pitch_bend VLM_FLUID_REDIRECT(fluid_synth_pitch_bend)
#define fluid_synth_set_channel_type VLM_FLUID_REDIRECT(fluid_synth_set_channel_type)
#define fluid_synth_write_float VLM_FLUID_REDIRECT(fluid_synth_write_float)
#define new_fluid_player VLM_FLUID_REDIRECT(new_fluid_player)
#define delete_fluid_player VLM_FLUID_REDIRECT(delete_fluid_player)
#define fluid_player_add_mem VLM_FLUID_REDIRECT(fluid_player_add_mem)
#define fluid_player_play VLM_FLUID_REDIRECT(fluid_player_play)
#define fluid_player_stop VLM_FLUID_REDIRECT(fluid_player_stop)
#define fluid_player_seek VLM_FLUID_REDIRECT(fluid_player_seek)
#define fluid_player_get_status VLM_FLUID_REDIRECT(fluid_player_get_status)
#define fluid_player_get_current_tick VLM_FLUID_REDIRECT(fluid_player_get_current_tick)
#define fluid_player_set_playback_callback VLM_FLUID_REDIRECT(fluid_player_set_playback_callback)
#define fluid_midi_event_get_type VLM_FLUID_REDIRECT(fluid_midi_event_get_type)
#define fluid_midi_event_get_channel VLM_FLUID_REDIRECT(fluid_midi_event_get_channel)
#define fluid_midi_event_get_key VLM_FLUID_REDIRECT(fluid_midi_event_get_key)
#define fluid_midi_event_get_velocity VLM_FLUID_REDIRECT(fluid_midi_event_get_velocity)
#define fluid_midi_event_get_control VLM_FLUID_REDIRECT(fluid_midi_event_get_control)
#define new_fluid_audio_driver2 VLM_FLUID_REDIRECT(new_fluid_audio_driver2)
#define delete_fluid_audio_driver VLM_FLUID_REDIRECT(delete_fluid_audio_driver)
#endif

#endif  // VLM_HAVE_FLUIDSYNTH
