// The main window driven as a user would, offscreen, over a fake sequencer with a clock the test
// moves: command-line handover from a real second process, drops, history, adjustments, repeat
// modes, the settings file at exit, key forwarding, the end of a song, external applications,
// a full playlist and damaged files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>
#include <QTextEdit>
#include <QTimer>
#include <QTranslator>
#include <QXmlStreamReader>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/command_table.h"
#include "app/dialogs/dialog_procs.h"
#include "app/dialogs/dialogs.h"
#include "app/graphic_button.h"
#include "app/main_window.h"
#include "app/panels/panels.h"
#include "app/playlist.h"
#include "app/qt_ui.h"
#include "convert/conversion_run.h"
#include "convert/format_table.h"
#include "convert/options.h"
#include "platform/sequencer.h"
#include "playback/player.h"
#include "qt_test_app.h"

namespace vlm {
namespace {

namespace fs = std::filesystem;

// ---- A fake sequencer: the song pointer is what the test sets. ----
struct FakeClock {
  uint32_t position = 0;
  uint32_t length = 64;
  int plays = 0;
  NotifyFn notify;
};
FakeClock* fakeClock = nullptr;

class FakeSequencer : public MediaDevice {
 public:
  DeviceError play(const uint32_t* from, NotifyFn notify) override {
    ++fakeClock->plays;
    if (from) fakeClock->position = *from;
    fakeClock->notify = std::move(notify);
    return DEVICE_OK;
  }
  DeviceError stop() override { return DEVICE_OK; }
  DeviceError seek(uint32_t to) override {
    fakeClock->position = to;
    return DEVICE_OK;
  }
  DeviceError setTimeFormat(uint32_t f) override {
    format_ = f;
    return DEVICE_OK;
  }
  DeviceError statusLength(uint32_t* v) override {
    *v = format_ == TIME_FORMAT_SONGPTR ? fakeClock->length : 8000;
    return DEVICE_OK;
  }
  DeviceError statusPosition(uint32_t* v) override {
    *v = fakeClock->position;
    return DEVICE_OK;
  }
  DeviceError close() override { return DEVICE_OK; }

 private:
  uint32_t format_ = TIME_FORMAT_MILLISECONDS;
};

void writeText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qtApp();
    static const fs::path base = fs::temp_directory_path();  // before TMPDIR points below
    root = base / ("vlmwin-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(root);
    for (const char* d : {"config", "data", "run", "tmp", "songs"})
      fs::create_directories(root / d);
    ::chmod((root / "run").c_str(), 0700);
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root / "run").c_str(), 1);
    setenv("TMPDIR", (root / "tmp").c_str(), 1);
    setenv("VLMPLAY_NO_MODAL", "1", 1);  // the format dialogs confirm themselves
    configDir = root / "config" / "vlmplay";
    fs::create_directories(configDir);

    clock = FakeClock{};
    fakeClock = &clock;
    setMediaDeviceFactory([](const char* type, const char*, std::unique_ptr<MediaDevice>* d) {
      if (std::string(type) != DEVICE_SEQUENCER) return DEVERR_INVALID_DEVICE_NAME;
      *d = std::make_unique<FakeSequencer>();
      return DEVICE_OK;
    });
    setMessageBoxHandler([this](BoxKind, const QString& caption, const QString& text, bool) {
      boxes.push_back((caption + QLatin1Char('|') + text).toStdString());
      return true;
    });
    setFileDialogHandler([this](bool, const QString&, const QString&, const QString&) {
      return QString::fromStdString(nextDialogAnswer);
    });
    setOpenUrlHandler([this](const QString& url) {
      opened.push_back(url.toStdString());
      return true;
    });
    resetRun();
    playerState = PlayerState{};
  }
  void TearDown() override {
    window.reset();
    setMediaDeviceFactory(nullptr);
    setMessageBoxHandler(nullptr);
    setFileDialogHandler(nullptr);
    setOpenUrlHandler(nullptr);
    fakeClock = nullptr;
    std::error_code ec;
    fs::remove_all(root, ec);
  }

  MainWindow& makeWindow() {
    window = std::make_unique<MainWindow>();
    return *window;
  }
  // A copy of the example song under a new name.
  std::string song(const std::string& name) {
    const fs::path path = root / "songs" / name;
    fs::copy_file(fs::path(VLM_SOURCE_DIR) / "examples" / "demo.mid", path,
                  fs::copy_options::overwrite_existing);
    return path.string();
  }
  void setPlaylist(const std::vector<std::string>& paths) {
    clearPlaylist();
    for (const std::string& p : paths) addPlaylistPath(p.c_str());
    playlist.index = 0;
  }
  void settle(int ms = 30) { QTest::qWait(ms); }

  static inline int counter = 0;
  fs::path root, configDir;
  FakeClock clock;
  std::unique_ptr<MainWindow> window;
  std::vector<std::string> boxes, opened;
  std::string nextDialogAnswer;
};

// ---- Pure rules ----

TEST(AdjustmentRules, StepsLimitsAndDisplayTexts) {
  EXPECT_EQ(adjustmentText(158, 256), "speed 1.00");
  EXPECT_EQ(adjustmentText(157, 300), "speed 1.17");
  EXPECT_EQ(adjustmentText(156, -3), "key -3");
  EXPECT_EQ(adjustmentText(160, 150), "volume 150%");
  // Tempo: 16 below 256, 32 from 256; Ctrl doubles or halves, Shift steps by one.
  EXPECT_EQ(adjustedValue(158, 240, false, false), 256);
  EXPECT_EQ(adjustedValue(158, 256, false, false), 288);
  EXPECT_EQ(adjustedValue(157, 256, false, false), 240);
  EXPECT_EQ(adjustedValue(157, 288, false, false), 256);
  EXPECT_EQ(adjustedValue(158, 20000, true, false), 32768);
  EXPECT_EQ(adjustedValue(158, 32768, true, false), 32768);
  EXPECT_EQ(adjustedValue(157, 3, true, false), 1);
  EXPECT_EQ(adjustedValue(157, 1, true, false), 1);
  EXPECT_EQ(adjustedValue(157, 10, false, true), 9);
  EXPECT_EQ(adjustedValue(157, 10, true, true), 1);  // both modifiers: the plain step, clamped
  // Key: Ctrl is an octave; from 30 it reaches 36 and stays.
  int key = 30;
  key = adjustedValue(156, key, true, false);
  EXPECT_EQ(key, 36);
  EXPECT_EQ(adjustedValue(156, key, true, false), 36);
  EXPECT_EQ(adjustedValue(155, -30, true, false), -36);
  EXPECT_EQ(adjustedValue(155, -36, false, false), -36);
  // Volume 10..500.
  EXPECT_EQ(adjustedValue(159, 20, true, false), 10);
  EXPECT_EQ(adjustedValue(159, 10, false, false), 10);
  EXPECT_EQ(adjustedValue(160, 480, true, false), 500);
  EXPECT_EQ(adjustedValue(160, 500, false, false), 500);
}

// The interface language: --lang, then the settings key, then the environment; "C" is none.
TEST(LanguageRules, CommandLineThenSettingsThenEnvironment) {
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  setenv("LANGUAGE", "de_DE:en", 1);
  setenv("LANG", "ja_JP.UTF-8", 1);
  EXPECT_EQ(interfaceLanguage("en", "ja"), "en");
  EXPECT_EQ(interfaceLanguage("", "ja_JP"), "ja");
  EXPECT_EQ(interfaceLanguage("", ""), "de");
  unsetenv("LANGUAGE");
  EXPECT_EQ(interfaceLanguage("", ""), "ja");
  setenv("LANG", "C", 1);
  EXPECT_EQ(interfaceLanguage("", ""), "");
  unsetenv("LANG");
}

TEST(ChannelRules, PlainCtrlAndShiftClicks) {
  bool voice = true;
  EXPECT_EQ(channelClick(0xFFFF, 2, false, false, &voice), 0xFFFB);
  EXPECT_TRUE(voice);
  EXPECT_EQ(channelClick(0xFFFF, 4, true, false, &voice), 0x0010);
  EXPECT_FALSE(voice);
  voice = true;
  // Shift on an off channel: it and those below it, down to the nearest one on (channel 1).
  EXPECT_EQ(channelClick(0x0001, 4, false, true, &voice), 0x001F);
  // Shift on an on channel: off together with those below it down to the nearest one off.
  EXPECT_EQ(channelClick(0xFFF7, 6, false, true, &voice), 0xFF87);
  EXPECT_EQ(channelClick(0x0000, 0, false, true, &voice), 0x0001);
  EXPECT_TRUE(voice);
}

TEST(HistoryRules, MostRecentFirstNoDuplicatesAtMostTen) {
  resetRun();
  for (int i = 0; i < 15; ++i) pushHistory("/songs/" + std::to_string(i) + ".mid");
  EXPECT_EQ(options.hsfcount, HISTORY_SLOTS);
  EXPECT_EQ(options.histfile[0], "/songs/14.mid");
  EXPECT_EQ(options.histfile[9], "/songs/5.mid");
  EXPECT_TRUE(options.histfile[10].empty());
  pushHistory("/songs/9.mid");  // a duplicate moves to the top
  EXPECT_EQ(options.hsfcount, HISTORY_SLOTS);
  EXPECT_EQ(options.histfile[0], "/songs/9.mid");
  EXPECT_EQ(options.histfile[1], "/songs/14.mid");
  int nines = 0;
  for (const std::string& h : options.histfile) nines += h == "/songs/9.mid";
  EXPECT_EQ(nines, 1);
  // Loaded history leaves slot 0 empty; an open drops that gap.
  resetRun();
  options.histfile[1] = "/a.mid";
  options.histfile[2] = "/b.mid";
  options.hsfcount = 3;
  pushHistory("/c.mid");
  EXPECT_EQ(options.hsfcount, 3);
  EXPECT_EQ(options.histfile[0], "/c.mid");
  EXPECT_EQ(options.histfile[1], "/a.mid");
  EXPECT_EQ(options.histfile[2], "/b.mid");
}

// ---- The window ----

TEST_F(WindowTest, MenusCarryTheirTextsIdsAndSwitches) {
  MainWindow& w = makeWindow();
  ASSERT_EQ(w.barMenus().size(), 5u);
  ASSERT_NE(w.action(154), nullptr);
  EXPECT_EQ(w.action(154)->text(), QStringLiteral("ﾌｧｲﾙを開く(&O)\tCtrl+O"));
  // Convert items take the format table's labels.
  ASSERT_NE(w.action(120), nullptr);
  EXPECT_EQ(w.action(120)->text(), QStringLiteral("SMAF16和音作成(J-SKY)"));
  EXPECT_FALSE(w.action(161)->isEnabled());
  // Choosing "1曲繰返し" twice returns loopmode to 0; the check mark follows.
  w.action(362)->trigger();
  EXPECT_EQ(options.loopmode, 1);
  EXPECT_TRUE(w.action(362)->isChecked());
  w.action(363)->trigger();
  EXPECT_EQ(options.loopmode, 2);
  EXPECT_FALSE(w.action(362)->isChecked());
  w.action(363)->trigger();
  EXPECT_EQ(options.loopmode, 0);
  w.action(362)->trigger();
  w.action(362)->trigger();
  EXPECT_EQ(options.loopmode, 0);
  // A real bit and the "all effects" switch.
  w.onCommand(271);
  EXPECT_EQ(options.real, 127 & ~REAL_PITCH_BEND);
  w.onCommand(206);
  EXPECT_EQ(options.real, 0);
  EXPECT_FALSE(w.action(206)->isChecked());
  w.onCommand(206);
  EXPECT_EQ(options.real, 127);
  // Switching bend steps on clears pitch bend and bend range.
  w.onCommand(278);
  EXPECT_EQ(options.real, 127 & ~(REAL_PITCH_BEND | REAL_BEND_RANGE));
  // midmono: the checked one again gives 0.
  w.onCommand(283);
  EXPECT_EQ(options.midmono, 3);
  w.onCommand(283);
  EXPECT_EQ(options.midmono, 0);
}

// Every command of the table is reachable once: ids are unique, a menu row has an action whose
// text shows its key, a key sends the row it belongs to, and a checkable row's mark follows its
// switch in both directions.
TEST_F(WindowTest, CommandTableDrivesMenusKeysAndChecks) {
  MainWindow& w = makeWindow();
  int count = 0;
  const CommandRow* rows = MainWindow::commandTable(&count);
  std::set<int> seen;
  for (int i = 0; i < count; ++i) {
    const CommandRow& row = rows[i];
    if (row.flags & (MENU_POPUP | MENU_SEPARATOR | MENU_CONVERT_GROUP)) continue;
    EXPECT_TRUE(seen.insert(row.id).second) << "twice: " << row.id;
    EXPECT_EQ(findCommand(row.id), &row);
    if (row.key.key) {
      const auto mods = row.key.mods == KeyMods::CTRL ? Qt::ControlModifier : Qt::NoModifier;
      EXPECT_EQ(commandOfKey(row.key.key, mods, false), row.id) << row.id;
    }
    if (row.level == MENU_NONE) continue;
    QAction* a = w.action(row.id);
    ASSERT_NE(a, nullptr) << row.id;
    const std::string key = shortcutText(row.key);
    EXPECT_EQ(a->text().section(QLatin1Char('\t'), 1).toStdString(), key) << row.id;
    EXPECT_EQ(a->isCheckable(), row.isCheckable()) << row.id;
  }
  // Keys outside the rows: Space pauses a playing song, digits pick channels, F-keys run the
  // external applications, with Ctrl too.
  EXPECT_EQ(commandOfKey(Qt::Key_Space, Qt::NoModifier, true), CMD_PAUSE);
  EXPECT_EQ(commandOfKey(Qt::Key_3, Qt::NoModifier, false), CMD_CHANNEL_FIRST + 2);
  EXPECT_EQ(commandOfKey(Qt::Key_3, Qt::ControlModifier, false), 0);
  EXPECT_EQ(commandOfKey(Qt::Key_0, Qt::ControlModifier, false), 0);
  EXPECT_EQ(commandOfKey(Qt::Key_F5, Qt::ControlModifier, false), CMD_EXT_APP_FIRST + 1);
  EXPECT_EQ(commandOfKey(Qt::Key_F12, Qt::NoModifier, false), CMD_EXT_APP_FIRST + 7);
  EXPECT_EQ(commandOfKey(Qt::Key_S, Qt::NoModifier, false), 0);
  // The texts the menus always had.
  EXPECT_EQ(w.action(CMD_STOP)->text(), QStringLiteral("停止(&S)\tPeriod"));
  EXPECT_EQ(w.action(CMD_PLAY)->text(), QStringLiteral("再生(&P)\tSpace"));
  EXPECT_EQ(w.action(CMD_HELP)->text(), QStringLiteral("目次(&C)\tF1"));
  // A switch of the options: its mark follows the option, set from either side.
  options.gmriset = true;
  w.refreshMenuChecks();
  EXPECT_TRUE(w.action(CMD_GM_RESET)->isChecked());
  w.onCommand(CMD_GM_RESET);
  EXPECT_FALSE(options.gmriset);
  EXPECT_FALSE(w.action(CMD_GM_RESET)->isChecked());
  // Panels relay out; colour 8 is the random one and checks only the random item.
  w.onCommand(CMD_COLOUR_FIRST + DISPLAY_COLOUR_RANDOM);
  EXPECT_GE(w.display()->colour(), 9);
  EXPECT_TRUE(w.action(CMD_COLOUR_FIRST + DISPLAY_COLOUR_RANDOM)->isChecked());
  EXPECT_FALSE(w.action(CMD_COLOUR_FIRST)->isChecked());
  w.onCommand(CMD_COLOUR_FIRST + 2);
  EXPECT_EQ(w.display()->colour(), 2);
  EXPECT_TRUE(w.action(CMD_COLOUR_FIRST + 2)->isChecked());
}

TEST_F(WindowTest, AutomaticConversionAsksOnlyWhenSwitchedOn) {
  MainWindow& w = makeWindow();
  w.onCommand(134);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0],
            "注意|ファイルを開くたびに直前に変換した形式で自動変換します。\n(保存先は前回保存し"
            "た場所です。)\n\n設定しますか？");
  EXPECT_TRUE(runState.AutoConvertFlags & AUTO_CONVERT_MODE);
  w.onCommand(134);
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_FALSE(runState.AutoConvertFlags & AUTO_CONVERT_MODE);
}

TEST_F(WindowTest, DropsReplaceOrAppendAndOpenTheFirstNewEntry) {
  MainWindow& w = makeWindow();
  std::vector<std::string> five;
  for (int i = 1; i <= 5; ++i) five.push_back(song("s" + std::to_string(i) + ".mid"));
  setPlaylist(five);
  ASSERT_EQ(playlist.count, 5);
  const QStringList three = {QString::fromStdString(song("n6.mid")),
                             QString::fromStdString(song("n7.mid")),
                             QString::fromStdString(song("n8.mid"))};
  w.dropFiles(three, true);  // Ctrl held, or dropped on the playlist panel
  EXPECT_EQ(playlist.count, 8);
  EXPECT_EQ(playlist.index, 5);
  EXPECT_EQ(w.currentFile(), three[0].toStdString());
  EXPECT_EQ(w.playlistPanel()->currentRow(), 5);
  // Without Ctrl the playlist becomes the dropped files; unsupported ones drop out.
  writeText(root / "songs" / "notes.xyz", "hello");
  w.dropFiles({QString::fromStdString((root / "songs" / "notes.xyz").string()), three[2]}, false);
  EXPECT_EQ(playlist.count, 1);
  EXPECT_EQ(playlist.index, 0);
  EXPECT_EQ(w.currentFile(), three[2].toStdString());
  // With autoplay on the open is followed by play.
  settle();
  EXPECT_EQ(playerState.state, PLAY_PLAYING);
}

TEST_F(WindowTest, HistoryMenuListsEarlierFilesAndOpensThem) {
  MainWindow& w = makeWindow();
  std::vector<std::string> files;
  for (int i = 0; i < 12; ++i) files.push_back(song("h" + std::to_string(i) + ".mid"));
  for (const std::string& f : files) ASSERT_TRUE(w.openAndPlay(f));
  // Slot 0 is the file now playing; the menu shows the nine before it, newest first.
  const QList<QAction*> items = w.historyMenu()->actions();
  ASSERT_EQ(items.size(), HISTORY_SLOTS - 1);
  EXPECT_EQ(items[0]->text(), QStringLiteral("h10.mid"));
  EXPECT_EQ(items.back()->text(), QStringLiteral("h2.mid"));
  w.onCommand(1202);  // second entry: h9
  EXPECT_EQ(w.currentFile(), files[9]);
  EXPECT_EQ(playlist.count, 1);
  EXPECT_EQ(options.histfile[0], files[9]);
  EXPECT_EQ(options.histfile[1], files[11]);
}

TEST_F(WindowTest, AdjustmentButtonsShowTheirValueAndRepeatWhileHeld) {
  MainWindow& w = makeWindow();
  ASSERT_TRUE(w.openAndPlay(song("adj.mid")));
  w.setModifierOverride(Qt::NoModifier);
  GraphicButton* up = w.button(158);
  ASSERT_NE(up, nullptr);
  emit up->pressed(158);
  EXPECT_EQ(options.tempoRatio, 288);
  EXPECT_EQ(w.display()->line(0), QStringLiteral("speed 1.12"));
  // Held: after 500 ms, then every 100 ms.
  settle(350);
  EXPECT_EQ(options.tempoRatio, 288);
  settle(450);
  EXPECT_GE(options.tempoRatio, 288 + 32 * 2);
  emit up->command(158);  // released
  const int kept = options.tempoRatio;
  settle(250);
  EXPECT_EQ(options.tempoRatio, kept);
  w.setModifierOverride(Qt::ControlModifier);
  for (int i = 0; i < 5; ++i) {
    emit w.button(156)->pressed(156);
    emit w.button(156)->command(156);
  }
  EXPECT_EQ(options.keyShift, 36);
  EXPECT_EQ(w.display()->line(0), QStringLiteral("key 36"));
  // Ctrl on "初期化" switches autoreset instead of resetting.
  w.onCommand(201);
  EXPECT_TRUE(options.autoreset);
  EXPECT_EQ(options.keyShift, 36);
  w.setModifierOverride(Qt::NoModifier);
  w.onCommand(201);
  EXPECT_EQ(options.keyShift, 0);
  EXPECT_EQ(options.tempoRatio, 256);
  EXPECT_EQ(w.display()->line(0), QStringLiteral("RESET"));
}

TEST_F(WindowTest, ChannelKeysReachTheWindowFromAFocusedPanelControl) {
  MainWindow& w = makeWindow();
  installKeyForwarding(&w);
  w.show();
  ASSERT_TRUE(w.openAndPlay(song("keys.mid")));
  QWidget* button = w.channelPanel()->channelButton(0);
  ASSERT_NE(button, nullptr);
  button->setFocus();
  QTest::keyClick(button, Qt::Key_2);
  EXPECT_EQ(options.channelMask, 0xFFFD);
  QTest::keyClick(button, Qt::Key_0);
  EXPECT_EQ(options.channelMask, 0xFFFF);
  // Space plays, Space again pauses, period stops: each handled once.
  QTest::keyClick(button, Qt::Key_Space);
  settle();
  EXPECT_EQ(playerState.state, PLAY_PLAYING);
  const int plays = clock.plays;
  QTest::keyClick(button, Qt::Key_Space);
  EXPECT_EQ(playerState.state, PLAY_PAUSED);
  QTest::keyClick(button, Qt::Key_Space);
  EXPECT_EQ(playerState.state, PLAY_PLAYING);
  EXPECT_EQ(clock.plays, plays + 1);
  QTest::keyClick(button, Qt::Key_Period);
  EXPECT_EQ(playerState.state, PLAY_STOPPED);
  // A channel button clicked with Ctrl keeps only its channel.
  emit w.channelPanel()->command(CMD_CHANNEL_FIRST + 3, int(Qt::ControlModifier));
  EXPECT_EQ(options.channelMask, 0x0008);
  EXPECT_FALSE(options.voiceOutput);
}

TEST_F(WindowTest, EndOfSongFollowsTheRepeatModes) {
  MainWindow& w = makeWindow();
  const std::vector<std::string> songs = {song("e1.mid"), song("e2.mid"), song("e3.mid")};
  setPlaylist(songs);
  w.onCommand(55, 0);
  settle();
  ASSERT_EQ(playerState.state, PLAY_PLAYING);
  auto finish = [&] {
    ASSERT_TRUE(clock.notify);
    clock.notify(NOTIFY_SUCCESSFUL);
    settle();
  };
  finish();
  EXPECT_EQ(playlist.index, 1);
  EXPECT_EQ(w.currentFile(), songs[1]);
  EXPECT_EQ(playerState.state, PLAY_PLAYING);
  finish();
  EXPECT_EQ(playlist.index, 2);
  finish();  // after the last entry without repeat: stopped
  EXPECT_EQ(playlist.index, 2);
  EXPECT_EQ(playerState.state, PLAY_STOPPED);
  // All songs: wraps to the first.
  w.onCommand(363);
  w.onCommand(151);
  finish();
  EXPECT_EQ(playlist.index, 0);
  EXPECT_EQ(playerState.state, PLAY_PLAYING);
  // One song: restarts in place from the beginning.
  w.onCommand(362);
  clock.position = 60;
  const int plays = clock.plays;
  finish();
  EXPECT_EQ(playlist.index, 0);
  EXPECT_EQ(clock.plays, plays + 1);
  EXPECT_EQ(clock.position, 0u);
  EXPECT_EQ(playerState.state, PLAY_PLAYING);
  // A notice from a play that was stopped since is ignored.
  auto stale = clock.notify;
  w.onCommand(152);
  w.onCommand(363);
  stale(NOTIFY_SUCCESSFUL);
  settle();
  EXPECT_EQ(playerState.state, PLAY_STOPPED);
  EXPECT_EQ(playlist.index, 0);
}

TEST_F(WindowTest, IntroModeMovesOnAfterIntrotimeButNotRightAfterAnAdjustment) {
  MainWindow& w = makeWindow();
  clock.length = 400;
  setPlaylist({song("i1.mid"), song("i2.mid")});
  w.onCommand(55, 0);
  settle();
  ASSERT_EQ(playerState.state, PLAY_PLAYING);
  w.onCommand(366);
  clock.position = 50;
  w.positionTick();
  EXPECT_EQ(playlist.index, 0);
  EXPECT_EQ(w.positionBar()->value(), 50);
  // An adjustment while playing: five ticks only move the bar.
  w.onCommand(56);
  ASSERT_EQ(playerState.state, PLAY_PLAYING);
  clock.position = 101;
  for (int i = 0; i < 5; ++i) w.positionTick();
  EXPECT_EQ(playlist.index, 0);
  EXPECT_EQ(w.positionBar()->value(), 101);
  w.positionTick();
  EXPECT_EQ(playlist.index, 1);
  EXPECT_EQ(playerState.state, PLAY_PLAYING);
}

TEST_F(WindowTest, SettingsAreWrittenAtExitWithEveryKeyOfTheSaveList) {
  // A flag holding 2 is off and is written back as 0; files 5000 gives 1024 entries.
  writeText(
      configDir / "vlmplay.ini",
      "[control]\r\nchnpanel=2\r\n[section]\r\nfiles=5000\r\nhsfcount=3\r\n"
      "histfile0=/x/a.mid\r\nhistfile1=\r\nhistfile2=/x/b.mid\r\nmailto2=me@example.invalid\r\n");
  MainWindow& w = makeWindow();
  EXPECT_EQ(playlist.capacity, 1024);
  EXPECT_FALSE(options.chnpanel);
  ASSERT_EQ(w.historyMenu()->actions().size(), 2);
  EXPECT_EQ(w.historyMenu()->actions()[0]->text(), QStringLiteral("a.mid"));
  w.onCommand(363);
  w.onCommand(258);
  const std::string playing = song("last.mid");
  ASSERT_TRUE(w.openAndPlay(playing));
  w.close();
  window.reset();

  const std::string ini = readText(configDir / "vlmplay.ini");
  const std::vector<std::string> readOnly = {"files", "onerun", "introtime", "filebutton",
                                             "propwith"};
  for (const char* const* k = settingsKeyNames(); *k; ++k) {
    bool skip = false;
    for (const std::string& r : readOnly) skip |= strcasecmp(r.c_str(), *k) == 0;
    if (skip || std::string(*k) == "soundfont") continue;
    EXPECT_NE(ini.find(std::string("\n") + *k + "="), std::string::npos) << *k;
  }
  for (int i = 1; i <= 10; ++i)
    EXPECT_NE(ini.find("custmenu" + std::to_string(i) + "="), std::string::npos) << i;
  EXPECT_NE(ini.find("chnpanel=0"), std::string::npos);
  EXPECT_NE(ini.find("loopmode=2"), std::string::npos);
  EXPECT_NE(ini.find("chmonita=1"), std::string::npos);
  EXPECT_NE(ini.find("mailto1=me@example.invalid"), std::string::npos);
  // The song last played leads the history, then the two loaded.
  EXPECT_NE(ini.find("hsfcount=3"), std::string::npos);
  EXPECT_NE(ini.find("histfile0=" + playing), std::string::npos);
  EXPECT_NE(ini.find("histfile1=/x/a.mid"), std::string::npos);
  EXPECT_NE(ini.find("histfile2=/x/b.mid"), std::string::npos);
  // Keys the window only reads stay as the file had them.
  EXPECT_NE(ini.find("\nfiles=5000"), std::string::npos);

  // Starting again restores the switches.
  resetRun();
  MainWindow& again = makeWindow();
  EXPECT_EQ(options.loopmode, 2);
  EXPECT_TRUE(options.chmonita);
  EXPECT_TRUE(again.action(258)->isChecked());
  EXPECT_EQ(again.historyMenu()->actions().size(), 3);
}

TEST_F(WindowTest, PlayAndPauseButtonsShowTheState) {
  MainWindow& w = makeWindow();
  ASSERT_TRUE(w.openAndPlay(song("state.mid")));
  EXPECT_FALSE(w.button(151)->isLatched());
  w.onCommand(151);
  EXPECT_TRUE(w.button(151)->isLatched());
  EXPECT_FALSE(w.button(153)->isLatched());
  w.onCommand(153);
  EXPECT_FALSE(w.button(151)->isLatched());
  EXPECT_TRUE(w.button(153)->isLatched());
  w.onCommand(152);
  EXPECT_FALSE(w.button(151)->isLatched());
  EXPECT_FALSE(w.button(153)->isLatched());
}

TEST_F(WindowTest, HelpOpensInAWindowOfItsOwnWithoutABrowser) {
  MainWindow& w = makeWindow();
  setOpenUrlHandler([](const QString&) { return false; });
  w.onCommand(404);
  QTextBrowser* viewer = nullptr;
  for (QWidget* t : QApplication::topLevelWidgets())
    if (t->objectName() == QStringLiteral("helpViewer")) viewer = qobject_cast<QTextBrowser*>(t);
  ASSERT_NE(viewer, nullptr);
  EXPECT_FALSE(viewer->toPlainText().isEmpty());
  viewer->close();
}

// Help and the read-me open in the interface's language; Japanese stays the default.
TEST_F(WindowTest, HelpAndReadMeFollowTheInterfaceLanguage) {
  MainWindow& w = makeWindow();
  w.onCommand(CMD_HELP);
  w.onCommand(CMD_README);
  QTranslator* english = installAppTranslations("en");
  ASSERT_NE(english, nullptr);
  w.onCommand(CMD_HELP);
  w.onCommand(CMD_README);
  QCoreApplication::removeTranslator(english);
  delete english;
  ASSERT_EQ(opened.size(), 4u) << ::testing::PrintToString(boxes);
  const char* const expected[] = {"help/vlmplay.html", "help/readme.txt", "help/vlmplay_en.html",
                                  "help/readme_en.txt"};
  for (size_t i = 0; i < 4; ++i)
    EXPECT_TRUE(QString::fromStdString(opened[i]).endsWith(QLatin1String(expected[i])))
        << opened[i];
}

TEST_F(WindowTest, TheWindowComesBackWhereItWas) {
  MainWindow& w = makeWindow();
  w.startWith("");
  w.move(123, 77);
  w.close();
  MainWindow& again = makeWindow();
  again.startWith("");
  EXPECT_EQ(again.pos(), QPoint(123, 77));
}

TEST_F(WindowTest, MissingSettingsFileGivesDefaultsAndReloadKeepsTheFileUntouched) {
  MainWindow& w = makeWindow();
  EXPECT_EQ(playlist.capacity, 256);
  EXPECT_TRUE(options.chnpanel);
  EXPECT_EQ(options.dispcolor, 4);
  EXPECT_FALSE(fs::exists(configDir / "vlmplay.ini"));
  // Another program writes the file and asks for a reload: read, not written back.
  const std::string written = "[section]\r\napp2file=/bin/true\r\napp2name=\r\ncustmenu1=151\r\n";
  writeText(configDir / "vlmplay.ini", written);
  w.onCommand(351);
  EXPECT_EQ(readText(configDir / "vlmplay.ini"), written);
  ASSERT_NE(w.action(1402), nullptr);
  EXPECT_EQ(w.action(1402)->text(), QStringLiteral("外部ｿﾌﾄ2\tF5"));
  // Inserted before "Outlook送信".
  const QList<QAction*> tools = w.toolsMenu()->actions();
  ASSERT_GE(tools.size(), 2);
  EXPECT_EQ(tools[0], w.action(1402));
  EXPECT_EQ(tools[1], w.action(135));
  EXPECT_EQ(w.button(CMD_CUSTOM_FIRST)->tooltipText(), QStringLiteral("再生"));
  EXPECT_EQ(w.button(CMD_CUSTOM_FIRST + 1)->tooltipText(), QStringLiteral("未登録"));
}

TEST_F(WindowTest, ExternalApplicationsGetThePathAsOneArgument) {
  MainWindow& w = makeWindow();
  const fs::path record = root / "args.txt";
  const fs::path stub = root / "stub app.sh";
  writeText(stub, "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > '" +
                      record.string() + ".part'\nmv '" + record.string() + ".part' '" +
                      record.string() + "'\n");
  ::chmod(stub.c_str(), 0755);
  options.appFile[1] = stub.string();
  const std::string current = song("with space.mid");
  ASSERT_TRUE(w.openAndPlay(current));
  auto waitRecord = [&] {
    QElapsedTimer t;
    t.start();
    while (!fs::exists(record) && t.elapsed() < 5000) settle(20);
    std::string r = readText(record);
    fs::remove(record);
    return r;
  };
  w.setModifierOverride(Qt::NoModifier);
  w.onCommand(1402);
  EXPECT_EQ(waitRecord(), "[" + current + "]\n");
  // Ctrl: the file the last convert command made.
  runState.lastOutputPath = "/out/made it.mld";
  w.setModifierOverride(Qt::ControlModifier);
  w.onCommand(1402);
  EXPECT_EQ(waitRecord(), "[/out/made it.mld]\n");
  // Nothing made yet: the program starts without an argument.
  runState.lastOutputPath.clear();
  w.onCommand(1402);
  EXPECT_EQ(waitRecord(), "");
  // An application that is not set starts nothing.
  w.onCommand(1403);
  settle(200);
  EXPECT_FALSE(fs::exists(record));
}

TEST_F(WindowTest, ConvertCommandWritesWhereTheSaveDialogSaidAndRecIsRemembered) {
  MainWindow& w = makeWindow();
  ASSERT_TRUE(w.openAndPlay(song("conv.mid")));
  fs::create_directories(root / "out");
  nextDialogAnswer = (root / "out" / "chosen.mmf").string();
  w.onCommand(120);
  EXPECT_TRUE(fs::file_size(nextDialogAnswer) > 0);
  EXPECT_EQ(options.recmode, 120);
  EXPECT_EQ(options.SaveDir, (root / "out").string() + "/");
  EXPECT_EQ(runState.lastOutputPath, nextDialogAnswer);
  nextDialogAnswer = (root / "out" / "again.mmf").string();
  w.onCommand(165);
  EXPECT_TRUE(fs::exists(nextDialogAnswer));
  // Cancel writes nothing.
  nextDialogAnswer.clear();
  w.onCommand(105);
  EXPECT_EQ(options.recmode, 105);
  EXPECT_FALSE(fs::exists(root / "out" / "conv.mld"));
  // The playlist is saved as an .m3u.
  nextDialogAnswer = (root / "out" / "playlist.m3u").string();
  setPlaylist({song("p1.mid"), song("p2.mid")});
  w.onCommand(133);
  EXPECT_EQ(readText(nextDialogAnswer), (root / "songs" / "p1.mid").string() + "\r\n" +
                                            (root / "songs" / "p2.mid").string() + "\r\n");
}

TEST_F(WindowTest, AFullPlaylistAndDamagedFilesOpenWithoutACrash) {
  writeText(configDir / "vlmplay.ini", "[section]\r\nfiles=0\r\n");
  MainWindow& w = makeWindow();
  ASSERT_EQ(playlist.capacity, 1024);
  const fs::path many = root / "many";
  fs::create_directories(many);
  const std::string source = song("src.mid");
  for (int i = 0; i < 1100; ++i) fs::copy_file(source, many / ("m" + std::to_string(i) + ".mid"));
  w.dropFiles({QString::fromStdString(many.string())}, false);
  EXPECT_EQ(playlist.count, 1024);
  EXPECT_EQ(playlist.index, 0);
  w.onCommand(162);
  EXPECT_EQ(playlist.index, 1);
  w.onCommand(1105);  // five further on, from the next button's popup
  EXPECT_EQ(playlist.index, 6);

  // Damaged and unreadable files: each opens and leaves the player idle.
  writeText(root / "songs" / "cut.mid", std::string("MThd\0\0\0\6\0\1\0\2\1\xe0MTrk\0\0\1\0", 22));
  writeText(root / "songs" / "garbage.mld", "melo\xff\xff\xff\xff\x01\x02");
  writeText(root / "songs" / "short.mmf", std::string("MMMD\0\0\0\x40"
                                                      "CNTI",
                                                      12));
  writeText(root / "songs" / "empty.mid", "");
  fs::create_symlink(root / "nowhere.mid", root / "songs" / "dangling.mid");
  for (const char* name : {"cut.mid", "garbage.mld", "short.mmf", "empty.mid", "dangling.mid"}) {
    w.openAndPlay((root / "songs" / name).string());
    w.onCommand(151);
    w.positionTick();
    w.onCommand(152);
  }
  SUCCEED();
}

// A format-0 SMF of one track: `events` are its delta-timed events, at 48 ticks a quarter.
std::string smfBytes(const std::string& events) {
  std::string track = events + std::string("\0\xFF\x2F\0", 4);
  std::string smf("MThd\0\0\0\6\0\0\0\1\0\x30MTrk", 18);
  for (int shift = 24; shift >= 0; shift -= 8) smf += char((track.size() >> shift) & 0xFF);
  return smf + track;
}
// A text (type 1) or lyric (type 5) meta event after `delta` ticks (< 128).
std::string metaText(int delta, int type, const std::string& text) {
  return std::string{char(delta), '\xFF', char(type), char(text.size())} + text;
}
std::string note(int delta, int key, int length) {
  return std::string{char(delta), '\x90', char(key), '\x64', char(length), '\x80', char(key), 0};
}

TEST_F(WindowTest, AFailedOpenClearsTheOldSongAndSaysWhy) {
  MainWindow& w = makeWindow();
  ASSERT_TRUE(w.openAndPlay(song("good.mid")));
  w.onCommand(151);
  clock.position = 20;
  w.positionTick();
  const QString oldTitle = w.display()->line(0);
  ASSERT_FALSE(w.display()->line(2).startsWith(QStringLiteral("00:00 / 00:00")));
  ASSERT_GT(vlm::song.fileSize, 0u);

  writeText(root / "songs" / "empty.mid", "");
  EXPECT_FALSE(w.openAndPlay((root / "songs" / "empty.mid").string()));
  EXPECT_EQ(w.display()->line(0), QStringLiteral("empty.mid"));
  EXPECT_EQ(w.display()->line(1), QStringLiteral("読み込めません: 空のファイル"));
  EXPECT_TRUE(w.display()->line(2).startsWith(QStringLiteral("00:00 / 00:00")))
      << w.display()->line(2).toStdString();
  EXPECT_EQ(vlm::song.fileSize, 0u);  // what the properties dialog shows
  EXPECT_EQ(vlm::song.info.text[INFO_TITLE][0], '\0');
  EXPECT_EQ(w.karaoke()->lineCount(), 0);
  EXPECT_EQ(w.positionBar()->value(), 0);
  EXPECT_EQ(playerState.state, PLAY_STOPPED);

  writeText(root / "songs" / "junk.bin", "no song in here");
  EXPECT_FALSE(w.openAndPlay((root / "songs" / "junk.bin").string()));
  EXPECT_EQ(w.display()->line(1), QStringLiteral("読み込めません: 対応していない形式"));
  EXPECT_NE(w.display()->line(0), oldTitle);

  // In a running playlist a file that cannot be played is passed over, without a box.
  setPlaylist({song("p1.mid"), (root / "songs" / "empty.mid").string(), song("p3.mid")});
  w.onCommand(55, 0);
  settle();
  ASSERT_EQ(playerState.state, PLAY_PLAYING);
  clock.notify(NOTIFY_SUCCESSFUL);
  settle();
  EXPECT_EQ(playlist.index, 2);
  EXPECT_EQ(playerState.state, PLAY_PLAYING);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowTest, OpeningAnotherSongStartsItsPositionAtZero) {
  MainWindow& w = makeWindow();
  const std::string first = song("first.mid");
  const std::string second = song("second.mid");
  ASSERT_TRUE(w.openAndPlay(second));
  ASSERT_TRUE(w.openAndPlay(first));  // `second` is now in the history's first slot
  w.onCommand(151);
  clock.position = 40;
  w.positionTick();
  ASSERT_FALSE(w.display()->line(2).startsWith(QStringLiteral("00:00 /")));
  w.onCommand(1201);  // the history entry, while the first song plays
  EXPECT_EQ(w.currentFile(), second);
  EXPECT_TRUE(w.display()->line(2).startsWith(QStringLiteral("00:00 /")))
      << w.display()->line(2).toStdString();
  EXPECT_EQ(w.positionBar()->value(), 0);
  EXPECT_EQ(playerState.position, 0u);
}

TEST_F(WindowTest, KaraokeFileFillsTheKaraokeView) {
  MainWindow& w = makeWindow();
  const std::string events = metaText(0, 1, "@TMy song") + metaText(0, 1, "@LENG") +
                             metaText(0, 1, "\\Twin") + note(0, 60, 12) + metaText(0, 1, "kle") +
                             note(0, 62, 12) + metaText(0, 1, "/Lit") + note(0, 64, 12) +
                             metaText(0, 1, "tle") + note(0, 65, 12);
  writeText(root / "songs" / "star.kar", smfBytes(events));
  ASSERT_TRUE(w.openAndPlay((root / "songs" / "star.kar").string()));
  ASSERT_EQ(w.karaoke()->lineCount(), 2);
  EXPECT_EQ(w.karaoke()->lineText(0), QStringLiteral("Twinkle"));
  EXPECT_EQ(w.karaoke()->lineText(1), QStringLiteral("Little"));
  // Lyric events: a leading '/' is a line mark, never shown.
  writeText(root / "songs" / "lyr.mid", smfBytes(metaText(0, 5, "/Hel") + note(0, 60, 12) +
                                                 metaText(0, 5, "lo") + note(0, 62, 12)));
  ASSERT_TRUE(w.openAndPlay((root / "songs" / "lyr.mid").string()));
  ASSERT_EQ(w.karaoke()->lineCount(), 1);
  EXPECT_EQ(w.karaoke()->lineText(0), QStringLiteral("Hello"));
}

TEST_F(WindowTest, ClipboardPlayAndHelpDocuments) {
  MainWindow& w = makeWindow();
  setPlaylist({song("keep.mid")});
  // An empty clipboard leaves the playlist alone.
  QGuiApplication::clipboard()->setText(QString());
  w.onCommand(365);
  EXPECT_EQ(playlist.count, 1);
  QGuiApplication::clipboard()->setText(QStringLiteral("not a melody"));
  w.onCommand(365);
  ASSERT_EQ(playlist.count, 1);
  EXPECT_EQ(std::string(playlistEntry(0)), "clip.txt");
  EXPECT_EQ(w.currentFile(), "clip.txt");
  // Help, readme and home page come from beside the program (or the source tree).
  w.onCommand(402);
  w.onCommand(404);
  w.onCommand(403);
  ASSERT_EQ(opened.size(), 3u);
  EXPECT_NE(opened[0].find("help/vlmplay.html"), std::string::npos);
  EXPECT_NE(opened[1].find("help/readme.txt"), std::string::npos);
  EXPECT_EQ(opened[2], "https://example.invalid/vlmplay");
}

TEST_F(WindowTest, ASecondStartHandsItsCommandLineOverAndEndsAtOnce) {
  // VLMPLAY names the built player; without it, the one of the same build tree.
  std::string program = std::getenv("VLMPLAY") ? std::getenv("VLMPLAY") : "";
  if (program.empty())
    program = (fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin" / "vlmplay")
                  .string();
  if (!fs::exists(program)) GTEST_SKIP() << "vlmplay not built";
  MainWindow& w = makeWindow();
  w.listenForInstances();
  // Three names of about 200 characters: a text of more than 510, so three pieces.
  std::vector<std::string> names;
  QStringList args;
  size_t total = 0;
  for (int i = 0; i < 3; ++i) {
    std::string name = "long-" + std::string(180, char('a' + i)) + ".mid";
    names.push_back(song(name));
    args << QString::fromStdString(names.back());
    total += names.back().size() + 1;
  }
  ASSERT_GT(total, 510u);
  ASSERT_LT(total, 766u);
  QProcess second;
  second.start(QString::fromStdString(program), args);
  ASSERT_TRUE(second.waitForStarted(5000));
  QElapsedTimer t;
  t.start();
  while (second.state() != QProcess::NotRunning && t.elapsed() < 10000) settle(10);
  ASSERT_EQ(second.state(), QProcess::NotRunning);
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_LT(t.elapsed(), 5000);
  settle(50);
  ASSERT_EQ(playlist.count, 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(std::string(playlistEntry(i)), names[i]);
  EXPECT_EQ(w.currentFile(), names[0]);
  settle();
  EXPECT_EQ(playerState.state, PLAY_PLAYING);
}

// ---- Translations ----

// Every label a menu shows: the table's rows and the convert items of each group.
std::vector<const char*> allMenuLabels() {
  std::vector<const char*> labels;
  int count = 0;
  const CommandRow* rows = MainWindow::commandTable(&count);
  for (int i = 0; i < count; ++i)
    if (rows[i].label && rows[i].level != MENU_NONE) labels.push_back(rows[i].label);
  for (int group : {CONVERT_GROUP_FILE, CONVERT_GROUP_FEELSOUND, CONVERT_GROUP_MLD,
                    CONVERT_GROUP_PMD, CONVERT_GROUP_SMAF})
    for (int id : convertMenuCommands(group))
      if (id) labels.push_back(outputFormatOfCommand(id)->label);
  return labels;
}

bool isAscii(const QString& text) {
  for (QChar c : text)
    if (c.unicode() > 0x7E) return false;
  return true;
}

// Japanese, or no language at all, keeps the Japanese labels; any other language loads the
// compiled-in English texts, which cover every menu label with an English one, and the window
// built under them shows them with their keys.
TEST_F(WindowTest, MenusSpeakEnglishUnlessTheLanguageIsJapanese) {
  EXPECT_FALSE(wantsEnglishTexts(""));
  EXPECT_FALSE(wantsEnglishTexts("ja"));
  EXPECT_TRUE(wantsEnglishTexts("de"));
  EXPECT_EQ(installAppTranslations("ja"), nullptr);
  EXPECT_EQ(installAppTranslations(""), nullptr);
  const std::vector<const char*> labels = allMenuLabels();
  ASSERT_GT(labels.size(), 100u);
  for (const char* label : labels)
    EXPECT_EQ(MainWindow::tr(label), QString::fromUtf8(label)) << label;

  QTranslator* english = installAppTranslations("en");
  ASSERT_NE(english, nullptr);
  for (const char* label : labels) {
    const QString text = MainWindow::tr(label);
    EXPECT_NE(text, QString::fromUtf8(label)) << "untranslated: " << label;
    EXPECT_TRUE(isAscii(text)) << label << " -> " << text.toStdString();
  }
  MainWindow& w = makeWindow();
  ASSERT_EQ(w.barMenus().size(), 5u);
  EXPECT_EQ(w.barMenus()[0]->title(), QStringLiteral("&File"));
  EXPECT_EQ(w.action(154)->text(), QStringLiteral("&Open File\tCtrl+O"));
  EXPECT_EQ(w.action(120)->text(), QStringLiteral("Create SMAF 16 Voices (J-SKY)"));
  EXPECT_EQ(menuTextOf(151), "&Play");
  // The open dialog's filter rows name the file families in English too.
  EXPECT_TRUE(isAscii(openDialogFilter())) << openDialogFilter().toStdString();
  QCoreApplication::removeTranslator(english);
  delete english;
  EXPECT_EQ(MainWindow::tr("再生(&P)"), QStringLiteral("再生(&P)"));
}

// Japanese letters (kana, kanji, half-width kana) in a text.
bool hasJapanese(const QString& text) {
  for (QChar c : text) {
    const char16_t u = c.unicode();
    const bool kana = u >= 0x3040 && u <= 0x30FF, halfWidth = u >= 0xFF61 && u <= 0xFF9F;
    if (kana || halfWidth || (u >= 0x4E00 && u <= 0x9FFF)) return true;
  }
  return false;
}

// The Japanese texts of a dialog's title, labels and buttons, "<title>: <text>" each.
std::vector<std::string> japaneseTextsOf(QWidget* dialog) {
  std::vector<std::string> found;
  const std::string title = dialog->windowTitle().toStdString();
  if (hasJapanese(dialog->windowTitle())) found.push_back(title);
  for (QLabel* l : dialog->findChildren<QLabel*>())
    if (hasJapanese(l->text())) found.push_back(title + ": " + l->text().toStdString());
  for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>())
    if (hasJapanese(b->text())) found.push_back(title + ": " + b->text().toStdString());
  // The lists (voice and drum names), the choices of combo boxes and the report texts.
  for (QListWidget* l : dialog->findChildren<QListWidget*>())
    for (int i = 0; i < l->count(); ++i)
      if (hasJapanese(l->item(i)->text()))
        found.push_back(title + ": " + l->item(i)->text().toStdString());
  for (QComboBox* c : dialog->findChildren<QComboBox*>())
    for (int i = 0; i < c->count(); ++i)
      if (hasJapanese(c->itemText(i))) found.push_back(title + ": " + c->itemText(i).toStdString());
  for (QTextEdit* t : dialog->findChildren<QTextEdit*>())
    if (hasJapanese(t->toPlainText()))
      found.push_back(title + ": " + t->toPlainText().toStdString());
  for (QPlainTextEdit* t : dialog->findChildren<QPlainTextEdit*>())
    if (hasJapanese(t->toPlainText()))
      found.push_back(title + ": " + t->toPlainText().toStdString());
  return found;
}

// Under the English texts every dialog of the table builder shows English titles, labels and
// buttons; without them the same dialogs are Japanese.
TEST_F(WindowTest, DialogsSpeakEnglishUnderTheEnglishTexts) {
  MainWindow& w = makeWindow();
  ASSERT_TRUE(w.openAndPlay(song("dialogs.mid")));
  auto japaneseOfEveryDialog = [&] {
    std::vector<std::string> found;
    for (int resource = dialogs::DLG_VOLUME; resource <= dialogs::DLG_MLD2_FILE; ++resource) {
      SCOPED_TRACE(resource);
      QTimer::singleShot(0, [&] {
        if (auto* m = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
          for (const std::string& t : japaneseTextsOf(m)) found.push_back(t);
          m->reject();
        }
      });
      if (dialogs::openDialog(resource, &w) != 0) continue;  // a modal one, seen by the timer
      for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == QStringLiteral("dialog%1").arg(resource) && top->isVisible()) {
          for (const std::string& t : japaneseTextsOf(top)) found.push_back(t);
          top->close();
        }
      settle(5);
    }
    return found;
  };
  EXPECT_FALSE(japaneseOfEveryDialog().empty());
  QTranslator* english = installAppTranslations("en");
  ASSERT_NE(english, nullptr);
  for (const std::string& t : japaneseOfEveryDialog()) ADD_FAILURE() << "untranslated: " << t;
  QCoreApplication::removeTranslator(english);
  delete english;
}

// The voices dialog's program list takes the Japanese names of the data folder, and the English
// General MIDI and feelsound names under the English texts; so does the drums dialog's list.
TEST_F(WindowTest, VoiceListsNameTheVoicesInTheInterfaceLanguage) {
  MainWindow& w = makeWindow();
  ASSERT_TRUE(w.openAndPlay(song("voices.mid")));
  // Programs 0 and 1 of the General MIDI list and 9 of the feelsound list.
  auto firstNames = [&] {
    QStringList names;
    EXPECT_EQ(dialogs::openDialog(dialogs::DLG_VOICES, &w), 0);
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top->objectName() == QStringLiteral("dialog8") && top->isVisible()) {
        auto* list = top->findChild<QListWidget*>();
        auto* feelsound = top->findChild<QAbstractButton*>(QStringLiteral("601"));
        if (!list || !feelsound || list->count() < 10) continue;
        names << list->item(0)->text() << list->item(1)->text();
        feelsound->click();
        names << list->item(9)->text();
        feelsound->click();
        top->close();
      }
    settle(5);
    return names;
  };
  const QStringList japanese = firstNames();
  ASSERT_EQ(japanese.size(), 3) << japanese.join(u',').toStdString();
  EXPECT_TRUE(hasJapanese(japanese[0])) << japanese[0].toStdString();
  QTranslator* english = installAppTranslations("en");
  ASSERT_NE(english, nullptr);
  EXPECT_EQ(firstNames(), QStringList({QStringLiteral("Acoustic Grand Piano(0)"),
                                       QStringLiteral("Bright Acoustic Piano(1)"),
                                       QStringLiteral("Bell Soft(9)")}));
  QCoreApplication::removeTranslator(english);
  delete english;
}

// The file properties under the English texts: no Japanese, and every channel line's values
// start where the (longer) English headings of the table start.
TEST_F(WindowTest, PropertiesLineUpUnderTheEnglishHeadings) {
  MainWindow& w = makeWindow();
  ASSERT_TRUE(w.openAndPlay(song("properties.mid")));
  QTranslator* english = installAppTranslations("en");
  ASSERT_NE(english, nullptr);
  const QStringList lines = dialogs::propertiesReport().split(QLatin1Char('\n'));
  QCoreApplication::removeTranslator(english);
  delete english;
  EXPECT_FALSE(hasJapanese(lines.join(QLatin1Char('\n')))) << lines.join(u'|').toStdString();
  const qsizetype heading = lines.indexOf(QRegularExpression(QStringLiteral("ch .*")));
  ASSERT_GE(heading, 0);
  ASSERT_LT(heading + 1, lines.size());
  std::vector<qsizetype> starts;
  for (const char* name : {"Range", "Velocity", "Volume", "Sound"}) {
    starts.push_back(lines[heading].indexOf(QLatin1String(name)));
    ASSERT_GT(starts.back(), 0) << name;
  }
  for (qsizetype i = heading + 1; i < lines.size(); ++i)
    for (qsizetype at : starts) {
      ASSERT_LT(at, lines[i].size()) << lines[i].toStdString();
      EXPECT_EQ(lines[i][at - 1], QLatin1Char(' ')) << lines[i].toStdString();
      EXPECT_NE(lines[i][at], QLatin1Char(' ')) << lines[i].toStdString();
    }
}

// The sound device's error texts come out in English under the English texts, a detail after
// them (the SoundFont's path, an error number) kept as it is.
TEST_F(WindowTest, DeviceErrorsSpeakTheInterfaceLanguage) {
  MainWindow& w = makeWindow();
  QtUi ui(&w);
  QTranslator* english = installAppTranslations("en");
  ASSERT_NE(english, nullptr);
  ui.errorBox(deviceErrorText(DEVERR_INVALID_FILE).c_str());
  ui.errorBox((deviceErrorText(DEVERR_NO_SOUNDFONT) + " (/x/my (1).sf2)").c_str());
  ui.errorBox(deviceErrorText(DeviceError(4242)).c_str());
  QCoreApplication::removeTranslator(english);
  delete english;
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0], "ERROR|The file cannot be played: it is damaged or not in a valid format.");
  EXPECT_NE(boxes[1].find("Cannot read the SoundFont"), std::string::npos) << boxes[1];
  EXPECT_NE(boxes[1].find("(/x/my (1).sf2)"), std::string::npos) << boxes[1];
  EXPECT_EQ(boxes[2], "ERROR|An unknown error occurred. (4242)");
}

// The placeholders of a text: %1..%9 in any order, %d in order (the run fills those in).
QStringList placeholdersOf(const QString& text) {
  QStringList found;
  static const QRegularExpression mark(QStringLiteral("%[1-9d]"));
  for (auto it = mark.globalMatch(text); it.hasNext();) found << it.next().captured();
  std::sort(found.begin(), found.end());
  return found;
}

// Every text of both programs' English files has a finished English text that keeps the
// placeholders of the Japanese one (a lost %1 shows the number nowhere, an extra one shows
// "%2" to the user) and its menu key mark when the Japanese one has one.
TEST(EnglishTexts, EveryTextIsTranslatedWithItsPlaceholders) {
  for (const char* name : {"vlmplay_en.ts", "setting_en.ts"}) {
    QFile file(QStringLiteral(VLM_SOURCE_DIR "/app/i18n/") + QLatin1String(name));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    QXmlStreamReader xml(&file);
    QString source;
    int messages = 0;
    while (!xml.atEnd()) {
      xml.readNext();
      if (!xml.isStartElement()) continue;
      if (xml.name() == u"source") source = xml.readElementText();
      if (xml.name() != u"translation") continue;
      ++messages;
      const bool unfinished = xml.attributes().value("type") == u"unfinished";
      const QString english = xml.readElementText();
      SCOPED_TRACE(std::string(name) + ": " + source.toStdString());
      EXPECT_FALSE(unfinished);
      EXPECT_FALSE(english.isEmpty());
      EXPECT_FALSE(hasJapanese(english)) << english.toStdString();
      EXPECT_EQ(placeholdersOf(english), placeholdersOf(source)) << english.toStdString();
      if (QRegularExpression(QStringLiteral("\\(&[A-Z]\\)")).match(source).hasMatch()) {
        EXPECT_TRUE(english.contains(QLatin1Char('&'))) << english.toStdString();
      }
    }
    EXPECT_FALSE(xml.hasError()) << name << ": " << xml.errorString().toStdString();
    EXPECT_GT(messages, 20) << name;
  }
}

// The conversion's warnings and its melody-mail notice, built in the convert layer from the
// warning slots with their numbers, come out in English under the English texts (every slot
// and every number at once) and stay Japanese without them.
TEST_F(WindowTest, ConversionWarningsSpeakTheInterfaceLanguage) {
  makeWindow();  // sets its interface for the conversion
  applyOutputPreset(24);
  for (uint8_t& raised : warnings.slot) raised = 1;
  songStats.hasVoiceSamples = true;
  runState.MailFlags = MAIL_TEXT_FORM;
  runState.lastOutputSize = 777;
  const std::string japanese =
      collectWarnings(13, findOutputFormat(13)) + collectWarnings(24, findOutputFormat(24));
  EXPECT_NE(japanese.find("音色数が16を越えています。\r\n"), std::string::npos);
  EXPECT_NE(japanese.find("(777byte)\r\n"), std::string::npos);
  QTranslator* english = installAppTranslations("en");
  ASSERT_NE(english, nullptr);
  const std::string text =
      collectWarnings(13, findOutputFormat(13)) + collectWarnings(24, findOutputFormat(24));
  EXPECT_FALSE(hasJapanese(QString::fromStdString(text))) << text;
  EXPECT_NE(text.find("16 voices"), std::string::npos) << text;
  EXPECT_NE(text.find("(777 bytes)\r\n"), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'),
            std::count(japanese.begin(), japanese.end(), '\n'));  // the same lines
  EXPECT_NE(text.find("This format cannot hold"), std::string::npos) << text;
  const std::string notice = conversionUi().localText(
      "メロディメールをクリップボードに作成しました。\r\nメール本文に貼り付けしてください。");
  EXPECT_FALSE(hasJapanese(QString::fromStdString(notice))) << notice;
  EXPECT_NE(notice.find("\r\n"), std::string::npos);
  QCoreApplication::removeTranslator(english);
  delete english;
  warnings = ConversionWarnings();
  songStats.hasVoiceSamples = false;
  runState.MailFlags = 0;
}

// The convert submenus, made from the places of the output rows: the items and separators in
// the order the menus have always had (0 is a separator).
TEST(ConvertMenu, ItemsAndSeparatorsKeepTheirOrder) {
  EXPECT_EQ(convertMenuCommands(CONVERT_GROUP_FILE), std::vector<int>({101}));
  EXPECT_EQ(convertMenuCommands(CONVERT_GROUP_FEELSOUND), std::vector<int>({103, 102}));
  EXPECT_EQ(convertMenuCommands(CONVERT_GROUP_MLD),
            std::vector<int>({111, 126, 0, 108, 110, 107, 106, 105, 109, 0, 114, 116, 115, 0, 113,
                              112}));
  EXPECT_EQ(convertMenuCommands(CONVERT_GROUP_PMD), std::vector<int>({117, 0, 119}));
  EXPECT_EQ(convertMenuCommands(CONVERT_GROUP_SMAF),
            std::vector<int>({124, 0, 120, 121, 0, 122, 123}));
  EXPECT_TRUE(convertMenuCommands(CONVERT_GROUP_NONE).empty());
}

}  // namespace
}  // namespace vlm
