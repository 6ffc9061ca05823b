// Playback commands of the main window: play, stop, pause, re-preparing after a change, the
// adjustment buttons with their auto-repeat, the channel buttons, moving in the playlist, the
// repeat modes, the position timer and the end of a song.
#include <QApplication>
#include <QScrollBar>
#include <QTimer>
#include <cstdio>
#include <random>

#include "app/dialogs/dialogs.h"
#include "app/graphic_button.h"
#include "app/main_window.h"
#include "app/panels/panels.h"
#include "app/playlist.h"
#include "convert/conversion_run.h"
#include "convert/format_table.h"
#include "core/vstream.h"
#include "platform/audio.h"
#include "platform/sequencer.h"
#include "platform/text.h"
#include "playback/playalong.h"

namespace vlm {

int adjustedValue(int button, int value, bool ctrl, bool shift) {
  const bool coarse = ctrl && !shift;
  const bool fine = shift && !ctrl;
  switch (button) {
    case CMD_KEY_DOWN:
      if (value > -KEY_SHIFT_LIMIT) value -= coarse ? 12 : 1;
      return std::max(value, -KEY_SHIFT_LIMIT);
    case CMD_KEY_UP:
      if (value < KEY_SHIFT_LIMIT) value += coarse ? 12 : 1;
      return std::min(value, KEY_SHIFT_LIMIT);
    case CMD_VOLUME_DOWN:
      if (value > VOLUME_MIN) value -= coarse ? 50 : 10;
      return std::max(value, VOLUME_MIN);
    case CMD_VOLUME_UP:
      if (value < VOLUME_MAX) value += coarse ? 50 : 10;
      return std::min(value, VOLUME_MAX);
    case CMD_TEMPO_DOWN:
      if (value > TEMPO_MIN) {
        if (coarse)
          value /= 2;
        else if (fine)
          value -= 1;
        else
          value -= value <= TEMPO_NORMAL ? 16 : 32;
      }
      return std::max(value, TEMPO_MIN);
    case CMD_TEMPO_UP:
      if (value < TEMPO_MAX) {
        if (coarse)
          value *= 2;
        else if (fine)
          value += 1;
        else
          value += value < TEMPO_NORMAL ? 16 : 32;
      }
      return std::min(value, TEMPO_MAX);
    default:
      return value;
  }
}

std::string adjustmentText(int button, int value) {
  char text[32];
  if (button == CMD_KEY_DOWN || button == CMD_KEY_UP)
    std::snprintf(text, sizeof text, "key %d", value);
  else if (button == CMD_VOLUME_DOWN || button == CMD_VOLUME_UP)
    std::snprintf(text, sizeof text, "volume %d%%", value);
  else
    std::snprintf(text, sizeof text, "speed %d.%02d", value / 256, (value % 256) * 25 / 64);
  return text;
}

uint16_t channelClick(uint16_t mask, int channel, bool ctrl, bool shift, bool* voiceOutput) {
  if (channel < 0 || channel > 15) return mask;
  const uint16_t bit = uint16_t(1u << channel);
  if (ctrl) {
    *voiceOutput = false;
    return bit;
  }
  if (shift) {
    const bool on = !(mask & bit);  // the state the run of channels is switched to
    for (int c = channel; c >= 0; --c) {
      const uint16_t b = uint16_t(1u << c);
      if (c != channel && bool(mask & b) == on) break;
      mask = on ? (mask | b) : (mask & ~b);
    }
    return mask;
  }
  return mask ^ bit;
}

void MainWindow::openCurrent(int param) {
  if (playlist.count <= 0) return;
  if (playlist.index >= playlist.count) playlist.index = 0;
  const bool opened = openAndPlay(playlistEntry(playlist.index));
  if (param != 0) return;
  if (opened)
    QMetaObject::invokeMethod(
        this, [this] { onCommand(CMD_PLAY); }, Qt::QueuedConnection);
  else if (playlist.count > 1)
    playOnFrom(playlist.index + 1);
}

void MainWindow::playOnFrom(int index) {
  // A file that cannot be played is passed over, without a box, the way the loop mode goes on
  // through the playlist; each entry is tried once.
  for (int tries = 0; tries < playlist.count; ++tries, ++index) {
    if (index >= playlist.count) {
      if (options.loopmode != 2) return;
      index = 0;
    }
    playlist.index = index;
    onCommand(CMD_REFRESH_PLAYLIST);
    if (openAndPlay(playlistEntry(index))) {
      play();
      return;
    }
  }
}

void MainWindow::adjustReleased() {
  // Released: the auto-repeat ends and the new value is applied.
  repeatTimer_->stop();
  repeatButton_ = 0;
  apply();
}

void MainWindow::moveBy(int step) {
  const int target = playlist.index + step;
  if (target >= 0 && target < playlist.count) moveTo(target, playerState.state == PLAY_PLAYING);
}

void MainWindow::moveToFirst() {
  if (playlist.count > 0) moveTo(0, playerState.state == PLAY_PLAYING);
}

void MainWindow::resetAdjustments() {
  if (modifiers() & Qt::ControlModifier) {
    options.autoreset = !options.autoreset;
    return;
  }
  options.keyShift = 0;
  options.tempoRatio = TEMPO_NORMAL;
  options.volumePercent = 100;
  options.velocityPercent = 100;
  for (int c = 0; c < 16; ++c) {
    options.channelVolumePercent[c] = 100;
    options.channelVelocityPercent[c] = 100;
    options.octaveShift[c] = 0;
  }
  apply();
  say(QStringLiteral("RESET"));
}

void MainWindow::shuffle() {
  if (playlist.count <= 1) return;
  shufflePlaylist(std::random_device{}());
  refreshPlaylistPanel();
  updateNeighbourButtons();
  rebuildNeighbourMenus();
}

void MainWindow::choosePreview(int id) {
  const int mode = id - CMD_PREVIEW_FIRST;
  options.midmono = options.midmono == mode ? 0 : mode;
  apply();
}

void MainWindow::allChannelsOn() {
  options.channelMask = 0xFFFF;
  options.voiceOutput = true;
  channelPanel_->setSelection(options.channelMask, options.voiceOutput);
  apply();
}

void MainWindow::switchVoiceOutput() {
  if (modifiers() & Qt::ControlModifier) {
    options.voiceOutput = true;
    options.channelMask = 0;
  } else {
    options.voiceOutput = !options.voiceOutput;
  }
  channelPanel_->setSelection(options.channelMask, options.voiceOutput);
  apply();
}

void MainWindow::clickChannel(int channel) {
  const Qt::KeyboardModifiers mods = modifiers();
  bool voice = options.voiceOutput;
  options.channelMask = channelClick(options.channelMask, channel, mods & Qt::ControlModifier,
                                     mods & Qt::ShiftModifier, &voice);
  options.voiceOutput = voice;
  channelPanel_->setSelection(options.channelMask, options.voiceOutput);
  apply();
}

void MainWindow::play() {
  if (!loaded_) return;
  const int before = playerState.state;
  if (playerState.state == PLAY_PAUSED)
    resumePlayback();
  else
    playFromStart();
  if (playerState.state == PLAY_PLAYING) {
    positionBar_->setRange(0, playerState.songLength > 0 ? int(playerState.songLength) - 1 : 0);
    if (before != PLAY_PLAYING) {
      const FormatCode code = detectFormat(currentFile_.c_str());
      if (code == FORMAT_WAV && !waveTempPath_.empty())
        playWaveSound(waveTempPath_.c_str());
      else if (code == FORMAT_QCP && !runState.convertedWavePath.empty())
        playWaveSound(runState.convertedWavePath.c_str());
      else
        startPlayAlong(playAlongPositionMs(playerState.position));
    }
  }
}

void MainWindow::stop() {
  stopWaveSounds();
  stopPlayAlong();
  discardNotifications();
  stopPlayback();
  playerState.position = 0;  // the next play starts from the beginning
  positionBar_->setValue(0);
  monitor_->clear();
  updateTimeLine();
}

void MainWindow::pause() {
  if (playerState.state != PLAY_PLAYING) return;
  stopWaveSounds();
  stopPlayAlong();
  discardNotifications();
  pausePlayback(true);
}

void MainWindow::apply() {
  if (!loaded_ || currentFile_.empty()) return;
  const int state = playerState.state;
  uint32_t position = playerState.position;
  if (state == PLAY_PLAYING) {
    stopPlayAlong();
    pausePlayback(true);
    discardNotifications();
    position = playerState.position;
  }
  preparePlayback(currentFile_.c_str(), tempPath_.c_str());
  // The voices' cue times follow the tempo ratio.
  if (songHasVoices())
    preparePlayAlongForFile(currentFile_.c_str(), detectFormat(currentFile_.c_str()),
                            tempPath_.c_str());
  if (state == PLAY_PLAYING) {
    playerState.position = position;
    playerState.state = PLAY_PAUSED;
    resumePlayback();
    if (playerState.state == PLAY_PLAYING)
      startPlayAlong(playAlongPositionMs(playerState.position));
    ticksToSkip_ = TICKS_AFTER_ADJUSTMENT;
  } else if (state == PLAY_PAUSED) {
    playerState.position = position;
    playerState.state = PLAY_PAUSED;
  }
  // The line shows key, speed and volume: a stopped song gets no position tick to refresh it.
  updateTimeLine();
}

void MainWindow::adjustPress(int button) {
  const Qt::KeyboardModifiers mods = modifiers();
  const bool ctrl = mods & Qt::ControlModifier;
  const bool shift = mods & Qt::ShiftModifier;
  int* value = nullptr;
  if (button == CMD_KEY_DOWN || button == CMD_KEY_UP) value = &options.keyShift;
  if (button == CMD_TEMPO_DOWN || button == CMD_TEMPO_UP) value = &options.tempoRatio;
  if (button == CMD_VOLUME_DOWN || button == CMD_VOLUME_UP) value = &options.volumePercent;
  if (!value) return;
  *value = adjustedValue(button, *value, ctrl, shift);
  say(QString::fromLatin1(adjustmentText(button, *value).c_str()));
  updateTimeLine();
  if (repeatButton_ != button) {
    repeatButton_ = button;
    repeatModifiers_ = mods;
    repeatTimer_->start(REPEAT_FIRST_MS);
  }
}

void MainWindow::adjustRepeat() {
  if (!repeatButton_) {
    repeatTimer_->stop();
    return;
  }
  GraphicButton* b = button(repeatButton_);
  if (b && !b->isDown() && !modifierOverride_) {
    repeatTimer_->stop();
    repeatButton_ = 0;
    return;
  }
  repeatTimer_->setInterval(REPEAT_NEXT_MS);
  const int held = repeatButton_;
  auto saved = modifierOverride_;
  if (!modifierOverride_) modifierOverride_ = repeatModifiers_;
  adjustPress(held);
  modifierOverride_ = saved;
}

void MainWindow::moveTo(int index, bool playAfter) {
  if (index < 0 || index >= playlist.count) return;
  playlist.index = index;
  onCommand(CMD_REFRESH_PLAYLIST);
  if (openAndPlay(playlistEntry(index)) && playAfter) play();
}

void MainWindow::setPositionTimer(bool on, int intervalMs) {
  if (on)
    positionTimer_->start(intervalMs);
  else
    positionTimer_->stop();
}

void MainWindow::playbackStopped() {
  showPlayState();
  positionBar_->setValue(0);
  monitor_->clear();
}

void MainWindow::playNotify(uint32_t code) {
  const unsigned generation = playGeneration_.load();
  QMetaObject::invokeMethod(
      this, [this, code, generation] { handlePlayNotify(code, generation); }, Qt::QueuedConnection);
}

void MainWindow::handlePlayNotify(uint32_t code, unsigned generation) {
  if (generation != playGeneration_.load()) return;  // from a play that was since stopped
  // Only a song that still plays can have reached its end.
  if (code != NOTIFY_SUCCESSFUL || playerState.state != PLAY_PLAYING) return;
  const bool loopOne = options.loopmode == 1 || (options.loopmode == 2 && playlist.count == 1);
  if (loopOne) {
    pausePlayback(false);
    playerState.position = 0;
    resumePlayback();
    if (playerState.state == PLAY_PLAYING) startPlayAlong(0);
    return;
  }
  onPlayNotify(code);
  stopPlayAlong();
  endOfSong();
}

void MainWindow::endOfSong() {
  if (dialogs::anyDialogOpen()) return;
  if (playlist.index + 1 < playlist.count || (options.loopmode == 2 && playlist.count > 0))
    playOnFrom(playlist.index + 1);
  else
    stop();
}

void MainWindow::positionTick() {
  if (playerState.state != PLAY_PLAYING) return;
  updatePosition();
  const uint32_t position = playerState.position;
  if (!positionBar_->isSliderDown()) positionBar_->setValue(int(position));
  if (ticksToSkip_ > 0) {
    --ticksToSkip_;
    return;
  }
  updateTimeLine();
  uint8_t levels[16] = {};
  sequencerChannelLevels(levels);
  if (monitor_->isVisible()) monitor_->setLevels(levels);
  updateKaraoke(position);
  playAlongTick(playAlongPositionMs(position));
  if (introMode_ && int(position) > options.introtime && isEnabled() && playlist.count > 1 &&
      !dialogs::anyDialogOpen()) {
    moveTo((playlist.index + 1) % playlist.count, true);
  }
}

void MainWindow::updateTimeLine() {
  const uint32_t ms = lengthMsCached();
  const uint32_t length = playerState.songLength;
  const uint32_t now =
      length ? uint32_t(uint64_t(playerState.position) * ms / std::max<uint32_t>(length, 1)) : 0;
  char text[64];
  std::snprintf(text, sizeof text, "%02u:%02u / %02u:%02u   key %d  speed %d.%02d  vol %d%%",
                now / 60000, now / 1000 % 60, ms / 60000, ms / 1000 % 60, options.keyShift,
                options.tempoRatio / 256, (options.tempoRatio % 256) * 25 / 64,
                options.volumePercent);
  display_->setLine(2, QString::fromLatin1(text));
}

uint32_t MainWindow::lengthMsCached() const {
  // A new playback file forgets the length; while the song plays the open device tells it.
  if (!playerState.lengthMsCache && loaded_ && !playerState.sequencerFile.empty())
    return lengthMs();
  return playerState.lengthMsCache;
}

void MainWindow::updateKaraoke(uint32_t position) {
  if (karaoke_->isVisible()) karaoke_->setPosition(position);
}

void MainWindow::onPositionBarAction(int action) {
  if (!loaded_) return;
  if (!dragging_) {
    dragging_ = true;
    wasPlayingBeforeDrag_ = playerState.state == PLAY_PLAYING;
    if (wasPlayingBeforeDrag_) {
      stopPlayAlong();
      discardNotifications();
      pausePlayback(false);
    } else if (playerState.state == PLAY_STOPPED) {
      queryLength();
      playerState.state = PLAY_PAUSED;
      positionBar_->setRange(0, playerState.songLength > 0 ? int(playerState.songLength) - 1 : 0);
    }
  }
  const int last = playerState.songLength > 0 ? int(playerState.songLength) - 1 : 0;
  int pos = int(playerState.position);
  switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
      pos += 1;
      break;
    case QAbstractSlider::SliderSingleStepSub:
      pos -= 1;
      break;
    case QAbstractSlider::SliderPageStepAdd:
      pos += 16;
      break;
    case QAbstractSlider::SliderPageStepSub:
      pos -= 16;
      break;
    case QAbstractSlider::SliderMove:
      pos = positionBar_->sliderPosition();
      break;
    case QAbstractSlider::SliderToMinimum:
      pos = 0;
      break;
    case QAbstractSlider::SliderToMaximum:
      pos = last;
      break;
    default:
      break;
  }
  pos = std::clamp(pos, 0, last);
  playerState.position = uint32_t(pos);
  if (!positionBar_->isSliderDown()) onPositionBarReleased();
}

void MainWindow::onPositionBarReleased() {
  if (!dragging_) return;
  dragging_ = false;
  if (wasPlayingBeforeDrag_) {
    resumePlayback();
    if (playerState.state == PLAY_PLAYING)
      startPlayAlong(playAlongPositionMs(playerState.position));
  }
}

}  // namespace vlm
