// Playback state over the sequencer device. The device reports positions and lengths in
// song-pointer units, which the main window uses directly for its position bar; only lengthMs
// switches to milliseconds, and back.
#include "playback/player.h"

#include <cstring>
#include <vector>

#include "convert/conversion_run.h"
#include "playback/handset_player.h"

namespace vlm {

PlayerState playerState;

namespace {

PlayerWindow* playerWindow = nullptr;

// Shows an open or play error under "ERROR". The out-of-range error never is, and sequencer
// errors are kept quiet while no file has been set.
void reportError(DeviceError code, bool sequencer) {
  if (code == DEVICE_OK || code == DEVERR_OUTOFRANGE) return;
  if (sequencer && playerState.sequencerFile.empty()) return;
  std::string text = deviceErrorText(code);
  std::strncpy(playerState.errorText, text.c_str(), ERROR_TEXT_SIZE - 1);
  playerState.errorText[ERROR_TEXT_SIZE - 1] = '\0';
  conversionUi().errorBox(playerState.errorText);
}

void setTimer(bool on) {
  if (playerWindow) playerWindow->setPositionTimer(on, POSITION_TIMER_MS);
}

NotifyFn windowNotice() {
  PlayerWindow* window = playerWindow;
  return [window](uint32_t code) {
    if (window) window->playNotify(code);
  };
}

void closeSequencer() {
  if (playerState.sequencer) playerState.sequencer->close();
  playerState.sequencer.reset();
}

DeviceError statusLength(uint32_t* into) {
  if (!playerState.sequencer) return DEVERR_INVALID_DEVICE_ID;
  return playerState.sequencer->statusLength(into);
}

bool playing() {
  return playerState.state == PLAY_PLAYING;
}

}  // namespace

void setPlayerWindow(PlayerWindow* window) {
  playerWindow = window;
}

void setPlaybackFile(const char* path) {
  playerState.sequencerFile = path ? path : "";
  if (playing() || playerState.pausedOpen) stopPlayback();
  playerState.state = PLAY_STOPPED;
  playerState.pausedOpen = false;
  playerState.lengthMsCache = 0;
}

DeviceError openSequencer() {
  if ((playing() || playerState.pausedOpen) && playerState.sequencer) return DEVICE_OK;
  playerState.pausedOpen = false;
  closeSequencer();
  // A song with its own voices plays on the handset synthesizer beside FluidSynth.
  DeviceError e =
      playerHasHandsetSong(playerState.sequencerFile.c_str())
          ? openHandsetSequencer(playerState.sequencerFile.c_str(), &playerState.sequencer)
          : openMediaDevice(DEVICE_SEQUENCER, playerState.sequencerFile.c_str(),
                            &playerState.sequencer);
  if (e != DEVICE_OK) {
    playerState.sequencer.reset();
    reportError(e, true);
    return e;
  }
  playerState.sequencer->setTimeFormat(TIME_FORMAT_SONGPTR);
  return DEVICE_OK;
}

void playFromStart() {
  if (playing() || openSequencer() != DEVICE_OK) return;
  DeviceError e = playerState.sequencer->play(nullptr, windowNotice());
  if (e != DEVICE_OK) {
    closeSequencer();
    playerState.pausedOpen = false;  // the device is gone
    reportError(e, true);
  } else {
    statusLength(&playerState.songLength);
    playerState.state = PLAY_PLAYING;
    playerState.pausedOpen = false;
    setTimer(true);
  }
  lengthMs();
}

void resumePlayback() {
  if (playing() || openSequencer() != DEVICE_OK) return;
  statusLength(&playerState.songLength);
  if (playerState.pausedOpen) playerState.sequencer->seek(0);
  uint32_t from = playerState.position;
  DeviceError e = playerState.sequencer->play(&from, windowNotice());
  if (e != DEVICE_OK) {
    closeSequencer();
    // The device is gone, so a pause that kept it open no longer does.
    playerState.pausedOpen = false;
    reportError(e, true);
    return;
  }
  setTimer(true);
  playerState.state = PLAY_PLAYING;
  playerState.pausedOpen = false;
}

void queryLength() {
  if (playing()) return;
  // A device kept open by a pause stays open; only one opened here is closed again.
  bool openedHere = !playerState.pausedOpen;
  if (openSequencer() != DEVICE_OK) return;
  statusLength(&playerState.songLength);
  if (openedHere) closeSequencer();
}

uint32_t lengthMs() {
  if (playerState.lengthMsCache) return playerState.lengthMsCache;
  bool openedHere = !playing() && !playerState.pausedOpen;
  if (!playing() && openSequencer() != DEVICE_OK) {
    // Without a device (no sound output on this machine) the length comes from the file's own
    // tempo map, which is what the device would have measured.
    std::vector<uint8_t> image;
    SongTiming timing;
    if (readFileBytes(playerState.sequencerFile.c_str(), &image) &&
        readSongTiming(image.data(), uint32_t(image.size()), &timing))
      playerState.lengthMsCache = timing.tickToMs(timing.endTick);
    return playerState.lengthMsCache;
  }
  if (!playerState.sequencer) return 0;
  playerState.sequencer->setTimeFormat(TIME_FORMAT_MILLISECONDS);
  statusLength(&playerState.lengthMsCache);
  playerState.sequencer->setTimeFormat(TIME_FORMAT_SONGPTR);
  if (openedHere) closeSequencer();
  return playerState.lengthMsCache;
}

DeviceError updatePosition() {
  if (!playerState.sequencer) return DEVERR_INVALID_DEVICE_ID;
  return playerState.sequencer->statusPosition(&playerState.position);
}

void pausePlayback(bool close) {
  if (!playing()) return;
  if (playerState.sequencer) playerState.sequencer->stop();
  updatePosition();
  if (close)
    closeSequencer();
  else
    playerState.pausedOpen = true;
  playerState.state = PLAY_PAUSED;
  setTimer(false);
}

void stopPlayback() {
  if (playerState.state == PLAY_STOPPED) return;
  closeSequencer();
  playerState.state = PLAY_STOPPED;
  playerState.pausedOpen = false;
  setTimer(false);
  if (playerWindow) playerWindow->playbackStopped();
}

void onPlayNotify(uint32_t code) {
  if (code == NOTIFY_SUCCESSFUL) stopPlayback();
}

void setWaveFile(const char* path) {
  playerState.waveFile = path ? path : "";
  playerState.waveLengthMsCache = 0;
}

uint32_t waveLengthMs() {
  if (playerState.waveLengthMsCache) return playerState.waveLengthMsCache;
  DeviceError e =
      openMediaDevice(DEVICE_WAVEAUDIO, playerState.waveFile.c_str(), &playerState.waveDevice);
  if (e != DEVICE_OK) {
    playerState.waveDevice.reset();
    reportError(e, false);
    return 0;
  }
  MediaDevice& d = *playerState.waveDevice;
  d.setTimeFormat(TIME_FORMAT_MILLISECONDS);
  d.statusLength(&playerState.waveLengthMsCache);
  d.setTimeFormat(TIME_FORMAT_SONGPTR);
  d.close();
  playerState.waveDevice.reset();
  return playerState.waveLengthMsCache;
}

void installPlayer() {
  setPlaybackFileHook([](const char* input, const char* path) {
    setPlaybackFile(path);
    preparePlayerHandsetSong(input, detectFormat(input), path);
  });
}

}  // namespace vlm
