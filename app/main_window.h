// The main window of the player: menu bar, tool buttons, display, position bar and the optional
// panels. Every user action arrives as a command id in onCommand, whether it comes from the
// menu, a tool button, a key, a custom button, a panel, a dialog or another instance.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/command_table.h"
#include "app/handover.h"
#include "core/vstream.h"
#include "playback/player.h"
#include "util/files.h"

class QAction;
class QBoxLayout;
class QKeyEvent;
class QMenu;
class QScrollBar;
class QSocketNotifier;
class QTimer;
class QWidget;

namespace vlm {

class ChannelMonitor;
class ChannelPanel;
class DisplayPanel;
class GraphicButton;
class KaraokeView;
class PlaylistPanel;
class QtUi;

inline constexpr const char* SETTINGS_FILE = "vlmplay.ini";
inline constexpr int KEY_SHIFT_LIMIT = 36;
inline constexpr int VOLUME_MIN = 10, VOLUME_MAX = 500;
inline constexpr int TEMPO_MIN = 1, TEMPO_MAX = 32768, TEMPO_NORMAL = 256;
inline constexpr int REPEAT_FIRST_MS = 500, REPEAT_NEXT_MS = 100;
inline constexpr int TICKS_AFTER_ADJUSTMENT = 5;
inline constexpr int CMD_CUSTOM_FIRST = 1501;  // the custom buttons' own ids (1501..1510)

// One press of an adjustment button (155..160) on the value it changes: key shift, volume
// percent or tempo. Ctrl alone is the coarse step, Shift alone the fine one; a value already at
// its limit stays, the result is clamped.
int adjustedValue(int button, int value, bool ctrl, bool shift);
// The first display line after an adjustment: "key %d", "volume %d%%", "speed %d.%02d".
std::string adjustmentText(int button, int value);
// A click on channel button `channel` (0..15) of the channel panel: plain toggles it; Ctrl keeps
// only it and turns voice output off; Shift switches it together with the channels below it
// down to the nearest one already in the new state.
uint16_t channelClick(uint16_t mask, int channel, bool ctrl, bool shift, bool* voiceOutput);
// Moves `path` to the top of the history slots (slot 0 = the file now playing): duplicates and
// empty slots drop out, at most HISTORY_SLOTS entries stay. Sets options.hsfcount.
void pushHistory(const std::string& path);

// The display's second line for a file that could not be opened: "読み込めません: 空のファイル".
QString openFailureText(FormatCode code, const FileFailure& failure, const ReadReport& read);

class MainWindow : public QMainWindow, public PlayerWindow {
  Q_OBJECT
 public:
  explicit MainWindow(const char* settingsFile = SETTINGS_FILE);
  ~MainWindow() override;
  static MainWindow* instance();

  void onCommand(int id, int param = 0);
  // The command table (command_table.cpp): menu rows in menu order, then the other commands.
  static const CommandRow* commandTable(int* count);
  static const CommandRange* commandRanges(int* count);
  // The rest of start-up after the window exists: the command line text (possibly empty)
  // becomes the playlist and its first entry is opened and started.
  void startWith(const std::string& commandLine);
  // Listens for handovers and reload requests of other programs.
  void listenForInstances();

  // The player's keys; true when the key is one of them (it is then handled).
  bool handleKey(QKeyEvent* event);
  // Files dropped on the window or its display (append with Ctrl) or on the playlist panel.
  void dropFiles(const QStringList& paths, bool append);
  bool openAndPlay(const std::string& path);
  // The path that command 54 makes the playlist.
  void setCommandPath(const std::string& path) { commandPath_ = path; }

  // Modifier keys as seen by the commands: the real keyboard, or what a test sets.
  Qt::KeyboardModifiers modifiers() const;
  void setModifierOverride(std::optional<Qt::KeyboardModifiers> m) { modifierOverride_ = m; }

  // PlayerWindow.
  void setPositionTimer(bool on, int intervalMs) override;
  void playbackStopped() override;
  void playNotify(uint32_t code) override;
  // One tick of the position timer (public so tests drive it with their own clock).
  void positionTick();
  // The completion notice, back on the window's thread.
  void handlePlayNotify(uint32_t code, unsigned generation);

  // For tests, screenshots and the key filter.
  const std::string& currentFile() const { return currentFile_; }
  const std::string& tempPath() const { return tempPath_; }
  DisplayPanel* display() const { return display_; }
  ChannelPanel* channelPanel() const { return channelPanel_; }
  ChannelMonitor* monitor() const { return monitor_; }
  KaraokeView* karaoke() const { return karaoke_; }
  PlaylistPanel* playlistPanel() const { return playlistPanel_; }
  QScrollBar* positionBar() const { return positionBar_; }
  QAction* action(int id) const;
  GraphicButton* button(int id) const;
  QMenu* historyMenu() const { return historyMenu_; }
  QMenu* previousMenu() const { return prevMenu_; }
  QMenu* nextMenu() const { return nextMenu_; }
  QMenu* colourMenu() const { return colourMenu_; }
  QMenu* toolsMenu() const { return toolsMenu_; }
  std::vector<QMenu*> barMenus() const;
  void refreshMenuChecks();
  void showPlayState();
  // Re-lays out the window after a panel was shown or hidden.
  void relayout();

 protected:
  void closeEvent(QCloseEvent*) override;
  void dragEnterEvent(QDragEnterEvent*) override;
  void dropEvent(QDropEvent*) override;

 private:
  int readProfileIntOr(const char* key, int fallback);
  void buildMenus();
  void buildButtons();
  void buildPanels();
  QAction* addMenuAction(QMenu* menu, int id, const QString& text, bool checkable);
  void addConvertItems(QMenu* menu, int group);
  bool runCommand(int id, int param);
  GraphicButton* makeButton(int id, const char* bitmap, QWidget* parent, QBoxLayout* row);

  // What the commands do (commands_*.cpp), reached from the command table.
  void resetAdjustments();
  void adjustReleased();
  void moveBy(int step);
  void moveToFirst();
  void shuffle();
  void clickChannel(int channel);
  void allChannelsOn();
  void switchVoiceOutput();
  void choosePreview(int id);
  void chooseColour(int colour);
  void openCurrent(int param);
  void openFromDialog();
  void openCreatedFile();
  void openHistory(int slot);
  void saveCopy();
  void sendMail();

  // Playback.
  void play();
  void stop();
  void pause();
  void apply();  // command 56
  void discardNotifications() { ++playGeneration_; }
  void adjustPress(int button);
  void adjustRepeat();
  void endOfSong();
  void moveTo(int index, bool playAfter);
  void playOnFrom(int index);
  void onPositionBarAction(int action);
  void onPositionBarReleased();
  void updateTimeLine();
  uint32_t lengthMsCached() const;
  void updateKaraoke(uint32_t position);

  // Opening.
  void resetPerSong();
  void forgetSong(FormatCode code);
  void removeVoiceFiles();
  void rebuildNeighbourMenus();
  void rebuildHistoryMenu();
  void labelChannels();
  void showSongLines();
  void setWholePlaylist(const std::string& path);
  void openCurrentEntry(int startParam);
  void refreshPlaylistPanel();
  void updateNeighbourButtons();

  // Files and tools.
  void convert(int id);
  void saveWave();
  void savePlaylist();
  void toggleAutoConvert();
  void runExternalApp(int n);
  void clipboardPlay();
  void openHelpFile(const char* name);
  void openHomePage();
  void startSetupTool();
  void onInstanceMessage();
  void handover(uint32_t param, const std::string& payload);
  void say(const QString& text);  // first display line and status

  // Settings.
  void loadAllSettings(bool startUp);
  void saveAllSettings();
  void restoreGeometry();
  void applyPanels();
  void rebuildExternalApps();
  void refreshCustomTooltips();
  void customButtonPressed(int n);
  bool assignCustomButton(int id);

  std::string settingsFile_;
  std::unique_ptr<QtUi> ui_;
  std::string currentFile_;
  std::string tempPath_;
  std::string waveTempPath_;  // copy of a .wav song, measured and played
  std::string commandPath_;
  QString openFailure_;  // why the current file could not be opened
  bool loaded_ = false;
  bool introMode_ = false;
  int customAssign_ = 0;  // custom button (1..10) waiting for its command
  int ticksToSkip_ = 0;
  bool wasPlayingBeforeDrag_ = false;
  bool dragging_ = false;
  std::atomic<unsigned> playGeneration_{0};
  std::optional<Qt::KeyboardModifiers> modifierOverride_;
  HandoverReceiver handover_;
  int listenFd_ = -1;
  QSocketNotifier* notifier_ = nullptr;

  // Widgets.
  std::map<int, QAction*> actions_;
  std::map<int, GraphicButton*> buttons_;
  std::vector<QAction*> externalActions_;
  QMenu* historyMenu_ = nullptr;
  QMenu* prevMenu_ = nullptr;
  QMenu* nextMenu_ = nullptr;
  QMenu* colourMenu_ = nullptr;
  QMenu* toolsMenu_ = nullptr;
  QAction* mailAction_ = nullptr;
  QWidget* central_ = nullptr;
  QWidget* extendedButtons_ = nullptr;
  QWidget* customButtons_ = nullptr;
  DisplayPanel* display_ = nullptr;
  QScrollBar* positionBar_ = nullptr;
  ChannelPanel* channelPanel_ = nullptr;
  ChannelMonitor* monitor_ = nullptr;
  KaraokeView* karaoke_ = nullptr;
  PlaylistPanel* playlistPanel_ = nullptr;
  QTimer* positionTimer_ = nullptr;
  QTimer* repeatTimer_ = nullptr;
  int repeatButton_ = 0;
  Qt::KeyboardModifiers repeatModifiers_;
};

// Forwards the player's keys pressed while any control of the main window has the focus to its
// key handling (installed once on the application).
void installKeyForwarding(MainWindow* window);

}  // namespace vlm
