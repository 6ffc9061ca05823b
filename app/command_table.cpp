// The command table of the player (see command_table.h) and the lookups over it.
#include "app/command_table.h"

#include <QKeySequence>
#include <QString>
#include <algorithm>

#include "app/dialogs/dialogs.h"
#include "app/main_window.h"
#include "app/panels/panels.h"
#include "app/playlist.h"
#include "convert/conversion_run.h"
#include "convert/format_table.h"
#include "playback/player.h"

namespace vlm {

namespace {

using W = MainWindow;
constexpr uint8_t P = MENU_POPUP;
constexpr uint8_t S = MENU_SEPARATOR;
constexpr uint8_t G = MENU_GRAYED;
constexpr uint8_t C = MENU_CHECKABLE;
constexpr uint8_t X = MENU_CONTEXT;
constexpr uint8_t NONE = MENU_NONE;
constexpr After APPLY = After::APPLY;
constexpr After RELAYOUT = After::RELAYOUT;
using O = ConversionOptions;

// Row builders: a popup, a separator, the convert items of a group, a command, a switch of the
// options, a bit of `real`.
CommandRow popup(uint8_t level, const char* label, uint8_t flags = 0) {
  CommandRow row;
  row.level = level;
  row.flags = uint8_t(P | flags);
  row.label = label;
  return row;
}
CommandRow separator(uint8_t level) {
  CommandRow row;
  row.level = level;
  row.flags = S;
  return row;
}
CommandRow convertGroup(uint8_t level, int group) {
  CommandRow row;
  row.id = group;
  row.level = level;
  row.flags = MENU_CONVERT_GROUP;
  return row;
}
CommandRow item(int id, uint8_t level, const char* label, Shortcut key, CommandFn run,
                CheckFn checked = nullptr, uint8_t flags = 0) {
  return {id, level, flags, label, key, run, checked};
}
CommandRow toggle(int id, uint8_t level, const char* label, bool O::*flag, After after) {
  return {id, level, C, label, {}, nullptr, nullptr, flag, 0, after};
}
CommandRow realBit(int id, uint8_t level, const char* label, int bit) {
  return {id, level, C, label, {}, nullptr, nullptr, nullptr, bit, APPLY};
}
Shortcut ctrl(int key) {
  return {key, KeyMods::CTRL};
}
Shortcut plain(int key) {
  return {key, KeyMods::PLAIN};
}
constexpr Shortcut NO_KEY{};

// A help document in the interface's language: the English texts name the English one.
std::string helpFileName(const char* japanese) {
  return W::tr(japanese).toStdString();
}

void openDialog(int resource, MainWindow& w) {
  dialogs::openDialog(resource, &w);
}

// Keys of the numbered runs.
const int CHANNEL_KEYS[] = {Qt::Key_1, Qt::Key_2, Qt::Key_3, Qt::Key_4, Qt::Key_5,
                            Qt::Key_6, Qt::Key_7, Qt::Key_8, Qt::Key_9, 0};
const int EXT_APP_KEYS[] = {Qt::Key_F4, Qt::Key_F5, Qt::Key_F6,  Qt::Key_F7,
                            Qt::Key_F8, Qt::Key_F9, Qt::Key_F11, Qt::Key_F12};

}  // namespace

std::vector<int> convertMenuCommands(int group) {
  // The outputs of the group by their place; a separator where the section (the tens) changes.
  std::vector<const OutputFormat*> items;
  int count = 0;
  const OutputFormat* formats = outputFormats(&count);
  for (int i = 0; i < count; ++i)
    if (group != CONVERT_GROUP_NONE && formats[i].menu.group == group) items.push_back(&formats[i]);
  std::stable_sort(items.begin(), items.end(), [](const OutputFormat* a, const OutputFormat* b) {
    return a->menu.order < b->menu.order;
  });
  std::vector<int> ids;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0 && items[i]->menu.order / 10 != items[i - 1]->menu.order / 10) ids.push_back(0);
    ids.push_back(items[i]->command);
  }
  return ids;
}

const CommandRow* MainWindow::commandTable(int* count) {
  // In menu order: a popup's items are the rows after it at a deeper level. The commands no
  // menu shows come last.
  // Rows that share what they do and tell themselves apart by their id.
  constexpr CommandFn PREVIEW_RUN = [](W& w, int id, int) { w.choosePreview(id); };
  constexpr CheckFn PREVIEW_CHECK = [](const W&, int id) {
    return options.midmono == id - CMD_PREVIEW_FIRST;
  };
  constexpr CommandFn COLOUR_RUN = [](W& w, int id, int) { w.chooseColour(id - CMD_COLOUR_FIRST); };
  constexpr CheckFn COLOUR_CHECK = [](const W&, int id) {
    const int colour = id - CMD_COLOUR_FIRST;
    return colour == DISPLAY_COLOUR_RANDOM ? isRandomColourSetting(options.dispcolor)
                                           : options.dispcolor == colour;
  };
  constexpr CommandFn LOOP_RUN = [](W&, int id, int) {
    const int mode = id == CMD_LOOP_ONE ? 1 : 2;
    options.loopmode = options.loopmode == mode ? 0 : mode;
  };
  constexpr CommandFn ADJUST_RUN = [](W& w, int, int) { w.adjustReleased(); };
  static const CommandRow ROWS[] = {
      popup(0, QT_TR_NOOP("ファイル(&F)")),
      item(CMD_OPEN, 1, QT_TR_NOOP("ﾌｧｲﾙを開く(&O)"), ctrl(Qt::Key_O),
           [](W& w, int, int) { w.openFromDialog(); }),
      item(CMD_OPEN_CREATED, 1, QT_TR_NOOP("作成したﾌｧｲﾙを開く"), ctrl(Qt::Key_R),
           [](W& w, int, int) { w.openCreatedFile(); }),
      separator(1),
      convertGroup(1, CONVERT_GROUP_FILE),
      item(CMD_SAVE_WAVE, 1, QT_TR_NOOP("WAVEﾌｧｲﾙ作成"), NO_KEY,
           [](W& w, int, int) { w.saveWave(); }),
      separator(1),
      popup(1, QT_TR_NOOP("feelsound作成")),
      convertGroup(2, CONVERT_GROUP_FEELSOUND),
      popup(1, QT_TR_NOOP("iﾒﾛﾃﾞｨ作成")),
      convertGroup(2, CONVERT_GROUP_MLD),
      popup(1, QT_TR_NOOP("au-PMDﾌｧｲﾙ作成")),
      convertGroup(2, CONVERT_GROUP_PMD),
      popup(1, QT_TR_NOOP("SMAFﾌｧｲﾙ作成")),
      convertGroup(2, CONVERT_GROUP_SMAF),
      separator(1),
      item(CMD_SAVE_PLAYLIST, 1, QT_TR_NOOP("ﾌﾟﾚｲﾘｽﾄﾌｧｲﾙ作成"), NO_KEY,
           [](W& w, int, int) { w.savePlaylist(); }),
      separator(1),
      item(
          CMD_AUTO_CONVERT, 1, QT_TR_NOOP("自動変換モード"), NO_KEY,
          [](W& w, int, int) { w.toggleAutoConvert(); },
          [](const W&, int) { return bool(runState.AutoConvertFlags & AUTO_CONVERT_MODE); }),
      item(CMD_PROPERTIES, 1, QT_TR_NOOP("ﾌｧｲﾙﾌﾟﾛﾊﾟﾃｨ(&R)"), ctrl(Qt::Key_P),
           [](W& w, int, int) { openDialog(dialogs::DLG_PROPERTIES, w); }),
      separator(1),
      item(CMD_EXIT, 1, QT_TR_NOOP("終了(&X)"), NO_KEY, [](W& w, int, int) { w.close(); }),

      popup(0, QT_TR_NOOP("設定(&S)")),
      item(
          CMD_RESET, 1, QT_TR_NOOP("初期化(key/speed/vol)"), NO_KEY,
          [](W& w, int, int) { w.resetAdjustments(); },
          [](const W&, int) { return options.autoreset; }),
      separator(1),
      item(CMD_VOLUME_DIALOG, 1, QT_TR_NOOP("音量変更(&V)"), NO_KEY,
           [](W& w, int, int) { openDialog(dialogs::DLG_VOLUME, w); }),
      item(CMD_VOICE_DIALOG, 1, QT_TR_NOOP("音色変更(&S)"), NO_KEY,
           [](W& w, int, int) { openDialog(dialogs::DLG_VOICES, w); }),
      item(CMD_OCTAVE_DIALOG, 1, QT_TR_NOOP("オクターブ変更(&O)"), NO_KEY,
           [](W& w, int, int) { openDialog(dialogs::DLG_OCTAVE, w); }),
      item(CMD_DRUM_DIALOG, 1, QT_TR_NOOP("ドラム選択(&D)"), NO_KEY,
           [](W& w, int, int) { openDialog(dialogs::DLG_DRUMS, w); }),
      separator(1),
      toggle(CMD_TOPMOST, 1, QT_TR_NOOP("常に手前に表示(&W)"), &O::topmost, RELAYOUT),
      popup(1, QT_TR_NOOP("コントロール表示(&C)")),
      toggle(CMD_SHOW_EXTENDED_BUTTONS, 2, QT_TR_NOOP("拡張ﾂｰﾙﾎﾞﾀﾝ"), &O::plusbtnflg, RELAYOUT),
      toggle(CMD_SHOW_CUSTOM_BUTTONS, 2, QT_TR_NOOP("ｶｽﾀﾑﾎﾞﾀﾝ"), &O::custbtnflg, RELAYOUT),
      separator(2),
      toggle(CMD_SHOW_SCROLL_BAR, 2, QT_TR_NOOP("ｽｸﾛｰﾙﾊﾞｰ"), &O::counter, RELAYOUT),
      toggle(CMD_SHOW_DISPLAY, 2, QT_TR_NOOP("ﾃﾞｨｽﾌﾟﾚｲ"), &O::display, RELAYOUT),
      toggle(CMD_SHOW_KARAOKE, 2, QT_TR_NOOP("ｶﾗｵｹﾃﾞｨｽﾌﾟﾚｲ"), &O::karaoke, RELAYOUT),
      toggle(CMD_SHOW_MONITOR, 2, QT_TR_NOOP("ﾁｬﾝﾈﾙﾓﾆﾀ"), &O::chmonita, RELAYOUT),
      toggle(CMD_SHOW_CHANNEL_PANEL, 2, QT_TR_NOOP("ﾁｬﾝﾈﾙ選択ﾊﾟﾈﾙ"), &O::chnpanel, RELAYOUT),
      toggle(CMD_SHOW_PLAYLIST, 2, QT_TR_NOOP("ﾌﾟﾚｲﾘｽﾄ"), &O::playlist, RELAYOUT),
      separator(2),
      toggle(CMD_KARAOKE_SCROLL, 2, QT_TR_NOOP("ｶﾗｵｹｽｸﾛｰﾙ(XF/KAR)"), &O::karaokescroll, RELAYOUT),
      separator(1),
      popup(1, QT_TR_NOOP("音響効果設定")),
      item(
          CMD_EFFECTS, 2, QT_TR_NOOP("音響効果有効"), NO_KEY,
          [](W& w, int, int) {
            options.real = options.real ? 0 : 127;
            w.apply();
          },
          [](const W&, int) { return options.real != 0; }),
      separator(2),
      realBit(CMD_REAL_MODULATION, 2, QT_TR_NOOP("ﾓｼﾞｭﾚｰｼｮﾝ"), REAL_MODULATION),
      realBit(CMD_REAL_STEREO, 2, QT_TR_NOOP("ｽﾃﾚｵ"), REAL_STEREO),
      realBit(CMD_REAL_HOLD, 2, QT_TR_NOOP("ﾎｰﾙﾄﾞ"), REAL_HOLD),
      realBit(CMD_REAL_PITCH_BEND, 2, QT_TR_NOOP("ﾋﾟｯﾁﾍﾞﾝﾄﾞ"), REAL_PITCH_BEND),
      realBit(CMD_REAL_BEND_RANGE, 2, QT_TR_NOOP("ﾋﾟｯﾁﾍﾞﾝﾄﾞﾚﾝｼﾞ"), REAL_BEND_RANGE),
      realBit(CMD_REAL_OTHER, 2, QT_TR_NOOP("その他"), REAL_OTHER_CONTROLLERS),
      separator(2),
      toggle(CMD_PAN_LEFT, 2, QT_TR_NOOP("ｽﾃﾚｵ左最大"), &O::panleft, APPLY),
      toggle(CMD_HIGH_NOTE, 2, QT_TR_NOOP("高音優先"), &O::hinote, APPLY),
      item(
          CMD_BEND_TO_NOTES, 2, QT_TR_NOOP("ﾋﾟｯﾁﾍﾞﾝﾄﾞ音階展開"), NO_KEY,
          [](W& w, int, int) {
            // Bends spelled out as notes leave nothing for the bend effects to do.
            options.bendsepflg = !options.bendsepflg;
            if (options.bendsepflg) options.real &= ~(REAL_PITCH_BEND | REAL_BEND_RANGE);
            w.apply();
          },
          [](const W&, int) { return options.bendsepflg; }),
      toggle(CMD_BEND_ECONOMY, 2, QT_TR_NOOP("ﾋﾟｯﾁﾍﾞﾝﾄﾞ省ｴﾈ(0.5半音)"), &O::bendecoflg, APPLY),
      toggle(CMD_TEMPO_TIME, 2, QT_TR_NOOP("ﾃﾝﾎﾟ時間展開"), &O::chgtime, APPLY),
      popup(1, QT_TR_NOOP("変換オプション設定")),
      toggle(CMD_REST_CUT, 2, QT_TR_NOOP("先頭休符カット"), &O::restcut, APPLY),
      toggle(CMD_END_REST_CUT, 2, QT_TR_NOOP("終了休符カット"), &O::endrestcut, APPLY),
      toggle(CMD_TOP_REST, 2, QT_TR_NOOP("先頭4分休符挿入"), &O::allchreset, After::NOTHING),
      toggle(CMD_END_REST, 2, QT_TR_NOOP("終了4分休符付加"), &O::makeendrest, After::NOTHING),
      separator(2),
      item(CMD_CHANNEL_DIALOG, 2, QT_TR_NOOP("ﾁｬﾝﾈﾙ設定"), ctrl(Qt::Key_W),
           [](W& w, int, int) { openDialog(dialogs::DLG_CHANNELS, w); }),
      separator(1),
      popup(1, QT_TR_NOOP("変換ｲﾒｰｼﾞ試聴")),
      item(CMD_PREVIEW_3, 2, QT_TR_NOOP("3和音(PSG音源)"), NO_KEY, PREVIEW_RUN, PREVIEW_CHECK),
      item(CMD_PREVIEW_4, 2, QT_TR_NOOP("4和音(FM音源)"), NO_KEY, PREVIEW_RUN, PREVIEW_CHECK),
      item(CMD_PREVIEW_8, 2, QT_TR_NOOP("8和音(FM音源)"), NO_KEY, PREVIEW_RUN, PREVIEW_CHECK),
      item(CMD_PREVIEW_16, 2, QT_TR_NOOP("16和音(FM音源)"), NO_KEY, PREVIEW_RUN, PREVIEW_CHECK),
      separator(2),
      item(CMD_PREVIEW_12, 2, QT_TR_NOOP("12和音(feelsound)"), NO_KEY, PREVIEW_RUN, PREVIEW_CHECK),
      popup(1, QT_TR_NOOP("再生不具合設定")),
      toggle(CMD_GM_RESET, 2, QT_TR_NOOP("GMﾘｾｯﾄ挿入"), &O::gmriset, APPLY),
      toggle(CMD_GS_BANKS, 2, QT_TR_NOOP("GSﾊﾞﾝｸ切替対応"), &O::gsmode, APPLY),
      toggle(CMD_EXCLUSIVE, 2, QT_TR_NOOP("ｴｸｽｸﾙｰｼﾌﾞ有効"), &O::exclusive, APPLY),
      separator(2),
      toggle(CMD_PLAY_TOP_REST, 2, QT_TR_NOOP("先頭4分休符挿入"), &O::toprest, APPLY),
      toggle(CMD_PLAY_END_REST, 2, QT_TR_NOOP("終了4分休符付加"), &O::endrest, APPLY),
      separator(2),
      toggle(CMD_AUTOPLAY, 2, QT_TR_NOOP("自動再生(ﾄﾞﾛｯﾌﾟ時)"), &O::autoplay, After::NOTHING),
      separator(2),
      item(
          CMD_HANDSET_SYNTH, 2, QT_TR_NOOP("SMAF音色を端末音源で再生"), NO_KEY,
          [](W& w, int, int) {
            // The next playback run routes the song again (or not at all).
            options.synth = options.synth == "gm" ? "handset" : "gm";
            w.apply();
          },
          [](const W&, int) { return options.synth != "gm"; }),

      popup(0, QT_TR_NOOP("再生(&P)")),
      item(CMD_PLAY, 1, QT_TR_NOOP("再生(&P)"), plain(Qt::Key_Space),
           [](W& w, int, int) { w.play(); }),
      item(CMD_STOP, 1, QT_TR_NOOP("停止(&S)"), plain(Qt::Key_Period),
           [](W& w, int, int) { w.stop(); }),
      separator(1),
      item(
          CMD_PREVIOUS, 1, QT_TR_NOOP("前曲移動(&B)"), ctrl(Qt::Key_B),
          [](W& w, int, int) { w.moveBy(-1); }, nullptr, G),
      item(
          CMD_NEXT, 1, QT_TR_NOOP("次曲移動(&N)"), ctrl(Qt::Key_N),
          [](W& w, int, int) { w.moveBy(1); }, nullptr, G),
      item(
          CMD_FIRST, 1, QT_TR_NOOP("先頭曲移動(&T)"), ctrl(Qt::Key_T),
          [](W& w, int, int) { w.moveToFirst(); }, nullptr, G),
      separator(1),
      item(CMD_RANGE, 1, QT_TR_NOOP("再生・変換範囲選択"), ctrl(Qt::Key_X),
           [](W& w, int, int) { openDialog(dialogs::DLG_RANGE, w); }),
      separator(1),
      item(CMD_LOOP_ONE, 1, QT_TR_NOOP("1曲繰返し(&L)"), NO_KEY, LOOP_RUN,
           [](const W&, int) { return options.loopmode == 1; }),
      item(CMD_LOOP_ALL, 1, QT_TR_NOOP("全曲繰返し(&A)"), NO_KEY, LOOP_RUN,
           [](const W&, int) { return options.loopmode == 2; }),
      toggle(CMD_PLAY_TWICE, 1, QT_TR_NOOP("2回演奏(ﾙｰﾌﾟ確認)"), &O::playbackLoop, APPLY),
      item(
          CMD_INTRO, 1, QT_TR_NOOP("イントロ演奏(&I)"), NO_KEY,
          [](W& w, int, int) { w.introMode_ = !w.introMode_; },
          [](const W& w, int) { return w.introMode_; }),
      toggle(CMD_CUE_RANGE, 1, QT_TR_NOOP("着信音指定範囲再生"), &O::cuePlay, APPLY),
      item(CMD_SHUFFLE, 1, QT_TR_NOOP("曲順シャッフル(&R)"), NO_KEY,
           [](W& w, int, int) { w.shuffle(); }),
      separator(1),
      item(CMD_CLIPBOARD_PLAY, 1, QT_TR_NOOP("ｸﾘｯﾌﾟﾎﾞｰﾄﾞ再生(&V)"), ctrl(Qt::Key_V),
           [](W& w, int, int) { w.clipboardPlay(); }),

      // The external applications (CMD_EXT_APP_FIRST..) go in before the mail item.
      popup(0, QT_TR_NOOP("ツール(&T)")),
      item(CMD_MAIL, 1, QT_TR_NOOP("Outlook送信"), ctrl(Qt::Key_M),
           [](W& w, int, int) { w.sendMail(); }),
      separator(1),
      item(CMD_SETUP_TOOL, 1, QT_TR_NOOP("設定ソフト起動"), NO_KEY,
           [](W& w, int, int) { w.startSetupTool(); }),

      popup(0, QT_TR_NOOP("ヘルプ(&H)")),
      item(CMD_HELP, 1, QT_TR_NOOP("目次(&C)"), plain(Qt::Key_F1),
           [](W& w, int, int) { w.openHelpFile(helpFileName("help/vlmplay.html").c_str()); }),
      item(CMD_README, 1, QT_TR_NOOP("readme.txtを読む(&R)"), NO_KEY,
           [](W& w, int, int) { w.openHelpFile(helpFileName("help/readme.txt").c_str()); }),
      item(CMD_HOME_PAGE, 1, QT_TR_NOOP("ホームページに行く(&W)"), NO_KEY,
           [](W& w, int, int) { w.openHomePage(); }),
      separator(1),
      item(CMD_ABOUT, 1, QT_TR_NOOP("このプログラムについて(&A)"), NO_KEY,
           [](W& w, int, int) { openDialog(dialogs::DLG_ABOUT, w); }),

      // The display's colour menu (its context menu).
      popup(0, QT_TR_NOOP("表示色"), X),
      item(CMD_COLOUR_FIRST + 0, 1, QT_TR_NOOP("色1"), NO_KEY, COLOUR_RUN, COLOUR_CHECK),
      item(CMD_COLOUR_FIRST + 1, 1, QT_TR_NOOP("色2"), NO_KEY, COLOUR_RUN, COLOUR_CHECK),
      item(CMD_COLOUR_FIRST + 2, 1, QT_TR_NOOP("色3"), NO_KEY, COLOUR_RUN, COLOUR_CHECK),
      item(CMD_COLOUR_FIRST + 3, 1, QT_TR_NOOP("色4"), NO_KEY, COLOUR_RUN, COLOUR_CHECK),
      item(CMD_COLOUR_FIRST + 4, 1, QT_TR_NOOP("色5"), NO_KEY, COLOUR_RUN, COLOUR_CHECK),
      item(CMD_COLOUR_FIRST + 5, 1, QT_TR_NOOP("色6"), NO_KEY, COLOUR_RUN, COLOUR_CHECK),
      item(CMD_COLOUR_FIRST + 6, 1, QT_TR_NOOP("色7"), NO_KEY, COLOUR_RUN, COLOUR_CHECK),
      item(CMD_COLOUR_FIRST + 7, 1, QT_TR_NOOP("色8"), NO_KEY, COLOUR_RUN, COLOUR_CHECK),
      item(CMD_COLOUR_FIRST + DISPLAY_COLOUR_RANDOM, 1, QT_TR_NOOP("ランダム"), NO_KEY, COLOUR_RUN,
           COLOUR_CHECK),

      // Commands of buttons, keys, dialogs and other programs.
      item(CMD_SAVE_SETTINGS, NONE, nullptr, NO_KEY, [](W& w, int, int) { w.saveAllSettings(); }),
      item(CMD_SET_PLAYLIST, NONE, nullptr, NO_KEY,
           [](W& w, int, int) { w.setWholePlaylist(w.commandPath_); }),
      item(CMD_OPEN_CURRENT, NONE, nullptr, NO_KEY,
           [](W& w, int, int param) { w.openCurrent(param); }),
      item(CMD_APPLY, NONE, nullptr, NO_KEY, [](W& w, int, int) { w.apply(); }),
      item(CMD_SAVE_COPY, NONE, nullptr, ctrl(Qt::Key_S), [](W& w, int, int) { w.saveCopy(); }),
      item(CMD_PAUSE, NONE, nullptr, NO_KEY, [](W& w, int, int) { w.pause(); }),
      item(CMD_KEY_DOWN, NONE, nullptr, NO_KEY, ADJUST_RUN),
      item(CMD_KEY_UP, NONE, nullptr, NO_KEY, ADJUST_RUN),
      item(CMD_TEMPO_DOWN, NONE, nullptr, NO_KEY, ADJUST_RUN),
      item(CMD_TEMPO_UP, NONE, nullptr, NO_KEY, ADJUST_RUN),
      item(CMD_VOLUME_DOWN, NONE, nullptr, NO_KEY, ADJUST_RUN),
      item(CMD_VOLUME_UP, NONE, nullptr, NO_KEY, ADJUST_RUN),
      item(CMD_REPEAT_CONVERT, NONE, nullptr, NO_KEY,
           [](W& w, int, int) {
             if (options.recmode != CMD_REPEAT_CONVERT) w.onCommand(options.recmode);
           }),
      toggle(CMD_VOLUME_70, NONE, nullptr, &O::vol70per, After::NOTHING),
      item(CMD_RELOAD_SETTINGS, NONE, nullptr, NO_KEY,
           [](W& w, int, int) { w.loadAllSettings(false); }),
      item(CMD_ALL_CHANNELS, NONE, nullptr, {Qt::Key_0, KeyMods::NO_CTRL},
           [](W& w, int, int) { w.allChannelsOn(); }),
      item(CMD_VOICE_OUTPUT, NONE, nullptr, NO_KEY, [](W& w, int, int) { w.switchVoiceOutput(); }),
      item(CMD_REFRESH_PLAYLIST, NONE, nullptr, NO_KEY,
           [](W& w, int, int) { w.refreshPlaylistPanel(); }),
      item(CMD_DETAILS_DIALOG, NONE, nullptr, ctrl(Qt::Key_F2),
           [](W& w, int, int) { openDialog(dialogs::DLG_DETAILS, w); }),
      item(CMD_TEXT_INFO_DIALOG, NONE, nullptr, ctrl(Qt::Key_F3),
           [](W& w, int, int) { openDialog(dialogs::DLG_TEXT_INFO, w); }),
  };
  *count = int(sizeof ROWS / sizeof ROWS[0]);
  return ROWS;
}

const CommandRange* MainWindow::commandRanges(int* count) {
  static const CommandRange RANGES[] = {
      {CMD_CHANNEL_FIRST, 16, [](W& w, int n, int) { w.clickChannel(n); }, CHANNEL_KEYS,
       KeyMods::NO_CTRL},
      {CMD_PREV_POPUP_FIRST, 10, [](W& w, int n, int) { w.moveBy(-(n + 1)); }, nullptr,
       KeyMods::PLAIN},
      {CMD_NEXT_POPUP_FIRST, 10, [](W& w, int n, int) { w.moveBy(n + 1); }, nullptr,
       KeyMods::PLAIN},
      {CMD_HISTORY_FIRST, HISTORY_SLOTS, [](W& w, int n, int) { w.openHistory(n + 1); }, nullptr,
       KeyMods::PLAIN},
      {CMD_EXT_APP_FIRST, EXT_APPS, [](W& w, int n, int) { w.runExternalApp(n + 1); }, EXT_APP_KEYS,
       KeyMods::PLAIN},
  };
  *count = int(sizeof RANGES / sizeof RANGES[0]);
  return RANGES;
}

const OutputFormat* outputFormatOfCommand(int id) {
  int count = 0;
  const OutputFormat* formats = outputFormats(&count);
  for (int i = 0; i < count; ++i)
    if (formats[i].command == id) return &formats[i];
  return nullptr;
}

const CommandRow* findCommand(int id) {
  if (id == 0) return nullptr;
  int count = 0;
  const CommandRow* rows = MainWindow::commandTable(&count);
  for (int i = 0; i < count; ++i)
    if (rows[i].id == id && !(rows[i].flags & (MENU_POPUP | MENU_SEPARATOR | MENU_CONVERT_GROUP)))
      return &rows[i];
  return nullptr;
}

namespace {

bool keyMatches(int key, bool ctrlHeld, int wanted, KeyMods mods) {
  if (wanted == 0 || key != wanted) return false;
  if (mods == KeyMods::CTRL) return ctrlHeld;
  if (mods == KeyMods::NO_CTRL) return !ctrlHeld;
  return true;
}

}  // namespace

int commandOfKey(int key, Qt::KeyboardModifiers mods, bool playing) {
  const bool ctrlHeld = mods & Qt::ControlModifier;
  // Ctrl keys first, so that Ctrl+key finds its own row before a plain one.
  for (KeyMods pass : {KeyMods::CTRL, KeyMods::NO_CTRL, KeyMods::PLAIN}) {
    int count = 0;
    const CommandRow* rows = MainWindow::commandTable(&count);
    for (int i = 0; i < count; ++i) {
      if (rows[i].key.mods != pass || !keyMatches(key, ctrlHeld, rows[i].key.key, pass)) continue;
      if (rows[i].id == CMD_PLAY && playing) return CMD_PAUSE;
      return rows[i].id;
    }
  }
  int count = 0;
  const CommandRange* ranges = MainWindow::commandRanges(&count);
  for (int r = 0; r < count; ++r) {
    if (!ranges[r].keys) continue;
    for (int n = 0; n < ranges[r].count && ranges[r].keys[n]; ++n)
      if (keyMatches(key, ctrlHeld, ranges[r].keys[n], ranges[r].mods)) return ranges[r].first + n;
  }
  return 0;
}

std::string shortcutText(const Shortcut& key) {
  if (!key.key) return std::string();
  // The period key is named, as the menus have always shown it.
  QString name = key.key == Qt::Key_Period
                     ? QStringLiteral("Period")
                     : QKeySequence(key.key).toString(QKeySequence::PortableText);
  if (key.mods == KeyMods::CTRL) name.prepend(QStringLiteral("Ctrl+"));
  return name.toStdString();
}

std::string menuLabel(const CommandRow& row) {
  if (!row.label) return std::string();
  std::string text = MainWindow::tr(row.label).toStdString();
  if (row.key.key) text += "\t" + shortcutText(row.key);
  return text;
}

std::string plainMenuText(const std::string& text) {
  std::string t = text.substr(0, text.find('\t'));
  // "(&X)" at the end of a Japanese label is only the mnemonic.
  if (t.size() >= 4 && t.compare(t.size() - 4, 2, "(&") == 0 && t.back() == ')')
    t.resize(t.size() - 4);
  std::string out;
  for (char c : t)
    if (c != '&') out += c;
  return out;
}

std::string menuTextOf(int id) {
  if (const CommandRow* row = findCommand(id); row && row->level != MENU_NONE && row->label)
    return MainWindow::tr(row->label).toStdString();
  const OutputFormat* f = outputFormatOfCommand(id);
  return f && f->label ? MainWindow::tr(f->label).toStdString() : std::string();
}

}  // namespace vlm
