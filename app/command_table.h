// The player's commands: a named id for every command, and one table row per command with its
// place in the menus, its label, its key, what it does and what its check mark shows. The menus,
// the keys, onCommand and the check marks are all read from the table, so a command is added by
// adding its constant and its row. The ids are those the settings file stores (`recmode`,
// `custmenu%d`) and other programs send, so they never change.
#pragma once

#include <QtCore/qnamespace.h>

#include <cstdint>
#include <string>
#include <vector>

#include "convert/format_table.h"
#include "convert/options.h"

namespace vlm {

class MainWindow;
struct OutputFormat;

// Commands that no menu shows.
inline constexpr int CMD_SAVE_SETTINGS = 53;
inline constexpr int CMD_SET_PLAYLIST = 54;
inline constexpr int CMD_OPEN_CURRENT = 55;
inline constexpr int CMD_APPLY = 56;
inline constexpr int CMD_SAVE_COPY = 132;
inline constexpr int CMD_PAUSE = 153;
inline constexpr int CMD_REPEAT_CONVERT = 165;
inline constexpr int CMD_VOLUME_70 = 231;
inline constexpr int CMD_RELOAD_SETTINGS = 351;
inline constexpr int CMD_REFRESH_PLAYLIST = 501;
// The adjustment buttons (a press changes the value, the release applies it).
inline constexpr int CMD_KEY_DOWN = 155;
inline constexpr int CMD_KEY_UP = 156;
inline constexpr int CMD_TEMPO_DOWN = 157;
inline constexpr int CMD_TEMPO_UP = 158;
inline constexpr int CMD_VOLUME_DOWN = 159;
inline constexpr int CMD_VOLUME_UP = 160;
// Keys only: the hidden dialogs (Ctrl+F2, Ctrl+F3). Outside the range other programs send.
inline constexpr int CMD_DETAILS_DIALOG = 2001;
inline constexpr int CMD_TEXT_INFO_DIALOG = 2002;

// File menu (the convert items take their ids from the output format table).
inline constexpr int CMD_OPEN = 154;
inline constexpr int CMD_OPEN_CREATED = 131;
inline constexpr int CMD_SAVE_WAVE = 125;
inline constexpr int CMD_SAVE_PLAYLIST = 133;
inline constexpr int CMD_AUTO_CONVERT = 134;
inline constexpr int CMD_PROPERTIES = 136;
inline constexpr int CMD_EXIT = 137;
// Settings menu.
inline constexpr int CMD_RESET = 201;
inline constexpr int CMD_VOLUME_DIALOG = 202;
inline constexpr int CMD_VOICE_DIALOG = 203;
inline constexpr int CMD_OCTAVE_DIALOG = 204;
inline constexpr int CMD_DRUM_DIALOG = 205;
inline constexpr int CMD_TOPMOST = 251;
inline constexpr int CMD_SHOW_EXTENDED_BUTTONS = 260;
inline constexpr int CMD_SHOW_CUSTOM_BUTTONS = 261;
inline constexpr int CMD_SHOW_SCROLL_BAR = 254;
inline constexpr int CMD_SHOW_DISPLAY = 253;
inline constexpr int CMD_SHOW_KARAOKE = 257;
inline constexpr int CMD_SHOW_MONITOR = 258;
inline constexpr int CMD_SHOW_CHANNEL_PANEL = 252;
inline constexpr int CMD_SHOW_PLAYLIST = 256;
inline constexpr int CMD_KARAOKE_SCROLL = 259;
inline constexpr int CMD_EFFECTS = 206;
inline constexpr int CMD_REAL_MODULATION = 275;
inline constexpr int CMD_REAL_STEREO = 274;
inline constexpr int CMD_REAL_HOLD = 272;
inline constexpr int CMD_REAL_PITCH_BEND = 271;
inline constexpr int CMD_REAL_BEND_RANGE = 276;
inline constexpr int CMD_REAL_OTHER = 277;
inline constexpr int CMD_PAN_LEFT = 229;
inline constexpr int CMD_HIGH_NOTE = 225;
inline constexpr int CMD_BEND_TO_NOTES = 278;
inline constexpr int CMD_BEND_ECONOMY = 279;
inline constexpr int CMD_TEMPO_TIME = 234;
inline constexpr int CMD_REST_CUT = 221;
inline constexpr int CMD_END_REST_CUT = 302;
inline constexpr int CMD_TOP_REST = 228;
inline constexpr int CMD_END_REST = 223;
inline constexpr int CMD_CHANNEL_DIALOG = 233;
inline constexpr int CMD_PREVIEW_FIRST = 280;  // 281..285: `midmono` = id - 280
inline constexpr int CMD_PREVIEW_16 = 281;
inline constexpr int CMD_PREVIEW_8 = 282;
inline constexpr int CMD_PREVIEW_4 = 283;
inline constexpr int CMD_PREVIEW_3 = 284;
inline constexpr int CMD_PREVIEW_12 = 285;
inline constexpr int CMD_GM_RESET = 305;
inline constexpr int CMD_GS_BANKS = 307;
inline constexpr int CMD_EXCLUSIVE = 301;
inline constexpr int CMD_PLAY_TOP_REST = 304;
inline constexpr int CMD_PLAY_END_REST = 222;
inline constexpr int CMD_AUTOPLAY = 303;
inline constexpr int CMD_HANDSET_SYNTH = 308;  // `synth`: handset (checked) or gm
// Play menu.
inline constexpr int CMD_PLAY = 151;
inline constexpr int CMD_STOP = 152;
inline constexpr int CMD_PREVIOUS = 161;
inline constexpr int CMD_NEXT = 162;
inline constexpr int CMD_FIRST = 163;
inline constexpr int CMD_RANGE = 164;
inline constexpr int CMD_LOOP_ONE = 362;
inline constexpr int CMD_LOOP_ALL = 363;
inline constexpr int CMD_PLAY_TWICE = 364;
inline constexpr int CMD_INTRO = 366;
inline constexpr int CMD_CUE_RANGE = 367;
inline constexpr int CMD_SHUFFLE = 361;
inline constexpr int CMD_CLIPBOARD_PLAY = 365;
// Tools and help menus.
inline constexpr int CMD_MAIL = 135;
inline constexpr int CMD_SETUP_TOOL = 255;
inline constexpr int CMD_HELP = 402;
inline constexpr int CMD_README = 404;
inline constexpr int CMD_HOME_PAGE = 403;
inline constexpr int CMD_ABOUT = 401;
// The display's colour menu: 1300..1307 the colours, 1308 random.
inline constexpr int CMD_COLOUR_FIRST = 1300;
// Numbered runs of commands (see CommandRange).
inline constexpr int CMD_PREV_POPUP_FIRST = 1001;
inline constexpr int CMD_NEXT_POPUP_FIRST = 1101;
inline constexpr int CMD_HISTORY_FIRST = 1201;
inline constexpr int CMD_EXT_APP_FIRST = 1401;

// Menu places and kinds of a row.
inline constexpr uint8_t MENU_NONE = 0xFF;  // level of a command no menu shows
inline constexpr uint8_t MENU_POPUP = 0x01;
inline constexpr uint8_t MENU_SEPARATOR = 0x02;
inline constexpr uint8_t MENU_GRAYED = 0x04;
inline constexpr uint8_t MENU_CHECKABLE = 0x08;
inline constexpr uint8_t MENU_CONVERT_GROUP = 0x10;  // the convert items of group `id`
inline constexpr uint8_t MENU_CONTEXT = 0x20;        // a popup of its own, not in the bar

// The groups of convert items (convertMenuCommands) are the CONVERT_GROUP_* of the format table.

// A key: with `CTRL` it needs Ctrl held; `PLAIN` keys work with Ctrl held too (Ctrl+F5 runs an
// application on the created file), `NO_CTRL` ones only without it.
enum class KeyMods : uint8_t { PLAIN, CTRL, NO_CTRL };
struct Shortcut {
  int key = 0;  // Qt::Key, 0 = none
  KeyMods mods = KeyMods::PLAIN;
};

// What a toggle row does after switching its setting.
enum class After : uint8_t { NOTHING, APPLY, RELAYOUT };

using CommandFn = void (*)(MainWindow& window, int id, int param);
using CheckFn = bool (*)(const MainWindow& window, int id);

struct CommandRow {
  int id = 0;                   // 0 for popups and separators; the group for MENU_CONVERT_GROUP
  uint8_t level = 0;            // 0 a menu (of the bar), 1 an item in it, 2 in a submenu; MENU_NONE
  uint8_t flags = 0;            // MENU_*
  const char* label = nullptr;  // Japanese UTF-8, translated in the context "vlm::MainWindow"
  Shortcut key;
  CommandFn run = nullptr;  // null: the row toggles `flag` or `realBit`
  CheckFn checked = nullptr;
  bool ConversionOptions::*flag = nullptr;  // a switch of the options
  int realBit = 0;                          // a bit of `options.real`
  After after = After::NOTHING;

  bool isCheckable() const { return checked || flag || realBit; }
};

// A numbered run of commands: FIRST + n for n = 0..count-1 runs `run` with n.
struct CommandRange {
  int first;
  int count;
  void (*run)(MainWindow& window, int n, int param);
  const int* keys;  // Qt keys of n = 0, 1, ... (null: none; 0 ends the list early)
  KeyMods mods;
};

// The output format a convert command makes, null for other ids.
const OutputFormat* outputFormatOfCommand(int id);
// The convert item ids of a group in menu order, 0 for a separator.
std::vector<int> convertMenuCommands(int group);
// The id a key sends, 0 for none. Space sends pause while a song plays.
int commandOfKey(int key, Qt::KeyboardModifiers mods, bool playing);
// The row of a command, null when it has none.
const CommandRow* findCommand(int id);
// The menu label of a command (translated, without its key), for tooltips and the custom
// button question; empty when no menu item has it.
std::string menuTextOf(int id);
// The label shown in the menu: the translated label, then a tab and the key.
std::string menuLabel(const CommandRow& row);
// A menu text as a tooltip shows it: no key part, no mnemonic ("再生(&P)\tSpace" → "再生").
std::string plainMenuText(const std::string& text);
// The name of a key as the menus show it ("Ctrl+O", "Space", "Period", "F1").
std::string shortcutText(const Shortcut& key);

}  // namespace vlm
