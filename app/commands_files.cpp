// Opening songs (openAndPlay and everything that leads to it), the convert commands, playlists,
// the clipboard, external applications, help and the setup tool.
#include <unistd.h>

#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QProcess>
#include <QScrollBar>
#include <QTextBrowser>
#include <QUrl>
#include <cstdio>
#include <cstring>

#include "app/app_paths.h"
#include "app/dialogs/dialogs.h"
#include "app/graphic_button.h"
#include "app/main_window.h"
#include "app/panels/panels.h"
#include "app/playlist.h"
#include "app/qt_ui.h"
#include "convert/conversion_run.h"
#include "convert/format_table.h"
#include "convert/voice_files.h"
#include "core/vstream.h"
#include "formats/adpcm.h"
#include "platform/audio.h"
#include "platform/clipboard.h"
#include "platform/text.h"
#include "playback/playalong.h"
#include "util/files.h"
#include "util/memblock.h"

namespace vlm {

namespace {

std::string baseNameOf(const std::string& path) {
  PathParts parts;
  splitPath(path.c_str(), &parts);
  return parts.name + parts.extension;
}

// Bit n of a 16-bit mask.
bool has(uint16_t mask, int n) {
  return mask & (1u << n);
}

}  // namespace

void MainWindow::openHistory(int slot) {
  if (slot >= options.hsfcount || options.histfile[slot].empty()) return;
  const std::string path = options.histfile[slot];
  setWholePlaylist(path);
  if (playlist.count > 0) openAndPlay(playlistEntry(playlist.index));
}

void MainWindow::openCreatedFile() {
  if (runState.lastOutputPath.empty()) return;
  setWholePlaylist(runState.lastOutputPath);
  if (playlist.count > 0) openAndPlay(playlistEntry(playlist.index));
}

void MainWindow::openFromDialog() {
  const QString start = pathToQt(options.LoadDir.c_str());
  const QString chosen =
      runFileDialog(this, false, MainWindow::tr("[ファイルを開く]"), start, openDialogFilter());
  if (chosen.isEmpty() || !QFileInfo(chosen).exists()) return;
  const std::string path = pathFromQt(chosen);
  options.LoadDir = folderOf(path);
  setWholePlaylist(path);
  if (playlist.count > 0) openAndPlay(playlistEntry(playlist.index));
}

void MainWindow::saveCopy() {
  if (loaded_) convertCommand(currentFile_.c_str(), OUTPUT_COPY);
}

void MainWindow::sendMail() {
  if (!loaded_) return;
  stop();
  convertCommand(currentFile_.c_str(), OUTPUT_MAIL);
}

void MainWindow::setWholePlaylist(const std::string& path) {
  clearPlaylist();
  addPlaylistPath(path.c_str());
  playlist.index = 0;
  positionBar_->setValue(0);
  onCommand(CMD_REFRESH_PLAYLIST);
}

void MainWindow::refreshPlaylistPanel() {
  QStringList paths;
  for (int i = 0; i < playlist.count; ++i) paths << pathToQt(playlistEntry(i));
  playlistPanel_->setEntries(paths, playlist.index);
}

void MainWindow::resetPerSong() {
  options.channelMask = 0xFFFF;
  options.voiceOutput = true;
  options.cutRange = false;
  options.rangeStart = options.rangeEnd = 0;
  options.fadeIn = options.fadeOut = false;
  for (int c = 0; c < 16; ++c) {
    options.octaveShift[c] = 0;
    options.channelVolumePercent[c] = 100;
    options.channelVelocityPercent[c] = 100;
    options.programOverride[c] = -1;
  }
  if (options.autoreset) {
    options.keyShift = 0;
    options.tempoRatio = TEMPO_NORMAL;
    options.volumePercent = 100;
  }
}

void MainWindow::removeVoiceFiles() {
  releasePlayAlong();
  if (!runState.convertedWavePath.empty()) {
    ::unlink(runState.convertedWavePath.c_str());
    runState.convertedWavePath.clear();
  }
}

bool MainWindow::openAndPlay(const std::string& pathIn) {
  const std::string path = pathIn;  // the caller's text may live in the playlist we change
  // 1. Sound off.
  stopWaveSounds();
  stopPlayAlong();
  if (playerState.state != PLAY_STOPPED) {
    discardNotifications();
    stopPlayback();
  }
  // The new song starts at its beginning, whatever the old one had reached.
  playerState.position = 0;
  // 2. Per-song state.
  resetPerSong();
  removeVoiceFiles();
  options.waveLengthTenths = 0;
  currentFile_ = path;
  // 3. Sounds are measured; a .qcp goes through the outside converter when there is one.
  const FormatCode code = detectFormat(path.c_str());
  runState.convertedWavePath.clear();
  if (hasInputFlag(code, INPUT_SOUND)) {
    static const WaveDevice waveDevice = {setWaveFile, waveLengthMs};
    prepareWave(code, path, programDir(), waveTempPath_, &waveDevice);
  }
  // 4. The playback file.
  clearFileFailure();
  const int result = preparePlayback(path.c_str(), tempPath_.c_str());
  loaded_ = result != 0;
  if (!loaded_) forgetSong(code);
  // 5. Voice samples to play along.
  if (loaded_ && songStats.hasVoiceSamples && hasInputFlag(code, INPUT_VOICES))
    preparePlayAlongForFile(path.c_str(), code, tempPath_.c_str());
  // 6. Neighbours and history.
  positionBar_->setRange(0, 0);
  positionBar_->setValue(0);
  rebuildNeighbourMenus();
  pushHistory(path);
  rebuildHistoryMenu();
  // 7. Channel buttons.
  labelChannels();
  updateNeighbourButtons();
  // 8. Display.
  if (isRandomColourSetting(options.dispcolor)) display_->showColourSetting(options.dispcolor);
  showSongLines();
  refreshPlaylistPanel();
  // 9. Automatic conversion.
  if (loaded_ && (runState.AutoConvertFlags & AUTO_CONVERT_MODE)) {
    runState.AutoConvertFlags |= AUTO_UNATTENDED;
    onCommand(options.recmode);
    runState.AutoConvertFlags &= ~AUTO_UNATTENDED;
  }
  return loaded_;
}

void pushHistory(const std::string& path) {
  std::vector<std::string> entries;
  entries.push_back(path);
  for (int s = 0; s < options.hsfcount && s <= HISTORY_SLOTS; ++s) {
    const std::string& e = options.histfile[s];
    if (e.empty() || e == path) continue;
    if (int(entries.size()) >= HISTORY_SLOTS) break;
    entries.push_back(e);
  }
  for (int s = 0; s <= HISTORY_SLOTS; ++s)
    options.histfile[s] = s < int(entries.size()) ? entries[s] : std::string();
  options.hsfcount = int(entries.size());
}

void MainWindow::rebuildHistoryMenu() {
  historyMenu_->clear();
  for (int s = 1; s < options.hsfcount && s <= HISTORY_SLOTS; ++s) {
    if (options.histfile[s].empty()) continue;
    const int id = CMD_HISTORY_FIRST + s - 1;
    QAction* a = historyMenu_->addAction(pathToQt(baseNameOf(options.histfile[s]).c_str()));
    connect(a, &QAction::triggered, this, [this, id] { onCommand(id); });
  }
}

void MainWindow::rebuildNeighbourMenus() {
  prevMenu_->clear();
  nextMenu_->clear();
  for (int k = 1; k <= 10; ++k) {
    const int before = playlist.index - k;
    if (before >= 0) {
      const int id = CMD_PREV_POPUP_FIRST + k - 1;
      QAction* a = prevMenu_->addAction(pathToQt(baseNameOf(playlistEntry(before)).c_str()));
      connect(a, &QAction::triggered, this, [this, id] { onCommand(id); });
    }
    const int after = playlist.index + k;
    if (after < playlist.count) {
      const int id = CMD_NEXT_POPUP_FIRST + k - 1;
      QAction* a = nextMenu_->addAction(pathToQt(baseNameOf(playlistEntry(after)).c_str()));
      connect(a, &QAction::triggered, this, [this, id] { onCommand(id); });
    }
  }
}

void MainWindow::updateNeighbourButtons() {
  const bool hasPrev = playlist.index > 0 && playlist.count > 0;
  const bool hasNext = playlist.index + 1 < playlist.count;
  if (GraphicButton* b = button(CMD_PREVIOUS)) {
    b->setBitmap(0,
                 hasPrev ? QStringLiteral("BITMAP_PLAYBACK") : QStringLiteral("BITMAP_NPLAYBACK"));
    b->setEnabled(hasPrev);
  }
  if (GraphicButton* b = button(CMD_NEXT)) {
    b->setBitmap(0,
                 hasNext ? QStringLiteral("BITMAP_PLAYNEXT") : QStringLiteral("BITMAP_NPLAYNEXT"));
    b->setEnabled(hasNext);
  }
  if (QAction* a = action(CMD_PREVIOUS)) a->setEnabled(hasPrev);
  if (QAction* a = action(CMD_NEXT)) a->setEnabled(hasNext);
  if (QAction* a = action(CMD_FIRST)) a->setEnabled(playlist.count > 1);
}

void MainWindow::labelChannels() {
  const uint16_t used = songStats.melodicMask | songStats.rhythmMask;
  for (int c = 0; c < 16; ++c) {
    QString label;
    if (has(songStats.bankMask, c))
      label = QStringLiteral("Ds ");
    else if (has(songStats.rhythmMask, c))
      label = QStringLiteral("Dr ");
    else
      label = QStringLiteral("%1  ").arg(c + 1);
    channelPanel_->setChannelLabel(c, label);
    channelPanel_->setChannelEnabled(c, loaded_ && has(used, c));
  }
  channelPanel_->setVoiceEnabled(loaded_ && songStats.hasVoiceSamples);
  channelPanel_->setSelection(options.channelMask, options.voiceOutput);
}

void MainWindow::forgetSong(FormatCode code) {
  // Why, from the records the reader and the file loader leave (as `vlmconv check` tells it).
  openFailure_ = openFailureText(code, lastFileFailure(), song.read);
  // Nothing of the song before stays: texts, statistics, lyrics, length.
  song = SongRecord{};
  resetSongStats();
  playerState.songLength = 0;
  playerState.lengthMsCache = 0;
}

QString openFailureText(FormatCode code, const FileFailure& failure, const ReadReport& read) {
  QString reason;
  if (failure.op == FileOp::READ)
    reason = failure.error ? QString::fromLocal8Bit(std::strerror(failure.error))
                           : MainWindow::tr("空のファイル");
  else if (code == FORMAT_UNSUPPORTED || code == FORMAT_DIRECTORY)
    reason = MainWindow::tr("対応していない形式");
  else if (read.reported && read.ranOut)
    reason = MainWindow::tr("途中で切れています");
  else
    reason = MainWindow::tr("演奏できるデータがありません");
  return MainWindow::tr("読み込めません: %1").arg(reason);
}

void MainWindow::showSongLines() {
  const char* title = song.info.text[INFO_TITLE];
  QString line0 = title[0] ? QString::fromUtf8(songTextUtf8(INFO_TITLE).c_str())
                           : pathToQt(baseNameOf(currentFile_).c_str());
  display_->setLine(0, line0);
  std::string second;
  for (int field : {INFO_ARTIST, INFO_COPYRIGHT}) {
    const char* t = song.info.text[field];
    if (!t[0]) continue;
    if (!second.empty()) second += " / ";
    second += songTextUtf8(field);
  }
  if (second.empty()) second = baseNameOf(currentFile_);
  display_->setLine(1, loaded_ ? QString::fromUtf8(second.c_str()) : openFailure_);
  updateTimeLine();
  // Lyrics for the karaoke display.
  std::vector<KaraokeView::Lyric> lyrics;
  for (const LyricEntry& l : songStats.lyrics)
    lyrics.push_back({l.position, QString::fromUtf8(sjisToUtf8(l.text).c_str())});
  karaoke_->setLyrics(lyrics);
  karaoke_->setPosition(0);
}

void MainWindow::convert(int id) {
  options.recmode = id;
  stop();
  const OutputFormat* format = outputFormatOfCommand(id);
  if (!format || !loaded_ || currentFile_.empty()) return;
  convertCommand(currentFile_.c_str(), format->code);
  // The conversion ran the reader again; the window still shows the loaded song.
}

void MainWindow::saveWave() {
  options.recmode = CMD_SAVE_WAVE;
  stop();
  if (!loaded_) return;
  const FormatCode code = detectFormat(currentFile_.c_str());
  const std::string source =
      waveToSave(code, waveTempPath_, songHasVoices() ? playAlongFile(0) : std::string());
  if (source.empty()) return;
  PathParts parts;
  splitPath(currentFile_.c_str(), &parts);
  std::string proposed =
      (options.SaveDir.empty() ? parts.directory : options.SaveDir) + parts.name + ".wav";
  QString chosen = runFileDialog(this, true, MainWindow::tr("[ファイルを作成]"),
                                 pathToQt(proposed.c_str()), MainWindow::tr("すべてのﾌｧｲﾙ (*)"));
  if (chosen.isEmpty()) return;
  const std::string target = pathFromQt(chosen);
  options.SaveDir = folderOf(target);
  if (copyFileTo(source, target)) runState.lastOutputPath = target;
}

void MainWindow::savePlaylist() {
  if (playlist.count <= 0) return;
  std::string proposed = options.SaveDir + "playlist.m3u";
  QString chosen = runFileDialog(this, true, MainWindow::tr("[ファイルを作成]"),
                                 pathToQt(proposed.c_str()), MainWindow::tr("すべてのﾌｧｲﾙ (*)"));
  if (chosen.isEmpty()) return;
  const std::string target = pathFromQt(chosen);
  options.SaveDir = folderOf(target);
  savePlaylistFile(target.c_str());
}

void MainWindow::toggleAutoConvert() {
  if (!(runState.AutoConvertFlags & AUTO_CONVERT_MODE)) {
    const QString question = MainWindow::tr(
        "ファイルを開くたびに直前に変換した形式で自動変換します。\n"
        "(保存先は前回保存した場所です。)\n\n設定しますか？");
    if (!showMessageBox(this, BoxKind::Question, MainWindow::tr("注意"), question, true)) return;
  }
  runState.AutoConvertFlags ^= AUTO_CONVERT_MODE;
}

void MainWindow::runExternalApp(int n) {
  if (n < 1 || n > EXT_APPS) return;
  const std::string& program = options.appFile[n - 1];
  if (program.empty()) return;
  const bool ctrl = modifiers() & Qt::ControlModifier;
  const std::string argument = ctrl ? runState.lastOutputPath : currentFile_;
  // An argument list goes to the program as it is: a path with spaces needs no quotes.
  QStringList args;
  if (!argument.empty()) args << pathToQt(argument.c_str());
  QProcess::startDetached(pathToQt(program.c_str()), args);
}

void MainWindow::clipboardPlay() {
  std::string text;
  if (!clipboardBackend().getText(text) || text.empty()) return;
  clearPlaylist();
  addPlaylistPath(CLIPBOARD_FILE);
  playlist.index = 0;
  onCommand(CMD_REFRESH_PLAYLIST);
  onCommand(CMD_OPEN_CURRENT, options.autoplay ? 0 : 1);
}

void MainWindow::openHelpFile(const char* name) {
  const std::string path = findBesideProgram(name);
  if (path.empty()) {
    say(MainWindow::tr("%1 がありません").arg(QString::fromLatin1(name)));
    return;
  }
  const QString file = pathToQt(path.c_str());
  if (openWithDesktop(file)) return;
  // Without a browser or viewer on the desktop, the document opens in a window of our own.
  auto* viewer = new QTextBrowser;
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  viewer->setObjectName(QStringLiteral("helpViewer"));
  viewer->setWindowTitle(QFileInfo(file).fileName());
  viewer->setOpenExternalLinks(true);
  if (file.endsWith(QLatin1String(".txt"))) {
    QFile text(file);
    if (text.open(QIODevice::ReadOnly)) viewer->setPlainText(QString::fromUtf8(text.readAll()));
  } else {
    viewer->setSource(QUrl::fromLocalFile(file));
  }
  viewer->resize(640, 480);
  viewer->show();
}

void MainWindow::openHomePage() {
  const std::string path = findBesideProgram("help/homepage.url");
  if (path.empty()) return;
  // An Internet shortcut: the line "URL=..." names the page.
  QFile file(pathToQt(path.c_str()));
  if (!file.open(QIODevice::ReadOnly)) return;
  const QList<QByteArray> lines = file.readAll().split('\n');
  for (QByteArray line : lines) {
    line = line.trimmed();
    if (line.startsWith("URL=")) {
      const QString url = QString::fromUtf8(line.mid(4));
      if (url.startsWith(QLatin1String("http://")) || url.startsWith(QLatin1String("https://")))
        openWithDesktop(url);
      return;
    }
  }
}

void MainWindow::startSetupTool() {
  const std::string program = findProgram("setting");
  if (program.empty()) {
    say(MainWindow::tr("setting がありません"));
    return;
  }
  QProcess::startDetached(pathToQt(program.c_str()), {});
}

}  // namespace vlm
