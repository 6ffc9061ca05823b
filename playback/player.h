// Playback state over the sequencer device: open, play from the start, pause, resume from the
// paused position, stop, the position and length queries that drive the position bar, and the
// error report; and the wave device that only measures wave files.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/sequencer.h"
#include "util/files.h"

namespace vlm {

enum PlayState : int { PLAY_STOPPED = 0, PLAY_PLAYING = 1, PLAY_PAUSED = 2 };

inline constexpr int POSITION_TIMER_ID = 1;
inline constexpr int POSITION_TIMER_MS = 100;
inline constexpr int ERROR_TEXT_SIZE = 256;

// What the player asks of the main window.
class PlayerWindow {
 public:
  virtual ~PlayerWindow() = default;
  // Timer 1 at 100 ms on or off; while on, the window calls updatePosition on each tick.
  virtual void setPositionTimer(bool on, int intervalMs) = 0;
  // The user message the window receives when playback has stopped.
  virtual void playbackStopped() = 0;
  // The device's completion notice. May arrive on the audio thread: the window posts it to its
  // own loop and from there calls onPlayNotify (or its loop-play handling).
  virtual void playNotify(uint32_t code) = 0;
};
void setPlayerWindow(PlayerWindow* window);  // null: nobody listens

// The module's state, one instance.
struct PlayerState {
  std::string sequencerFile;
  std::unique_ptr<MediaDevice> sequencer;  // non-null while the device is open
  int state = PLAY_STOPPED;                // PlayState
  bool pausedOpen = false;
  uint32_t position = 0;    // song-pointer units (sixteenth notes)
  uint32_t songLength = 0;  // song-pointer units
  uint32_t lengthMsCache = 0;
  std::string waveFile;
  std::unique_ptr<MediaDevice> waveDevice;
  uint32_t waveLengthMsCache = 0;
  char errorText[ERROR_TEXT_SIZE] = {};
};
extern PlayerState playerState;

void setPlaybackFile(const char* path);
DeviceError openSequencer();
void playFromStart();
void resumePlayback();
void queryLength();
uint32_t lengthMs();
DeviceError updatePosition();
void pausePlayback(bool close);
void stopPlayback();
void onPlayNotify(uint32_t code);
void setWaveFile(const char* path);
uint32_t waveLengthMs();

// Hands the player to the conversion run, which gives it every temporary playback file.
void installPlayer();

}  // namespace vlm
