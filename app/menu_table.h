// The menu bar of the player as one static table: each row has its nesting level, flags, command
// id and text; a popup row's submenu is made of the rows that follow it at a deeper level. The
// convert items take their labels from the output format table.
#pragma once

#include <cstdint>
#include <string>

namespace vlm {

inline constexpr uint8_t MENU_POPUP = 0x01;
inline constexpr uint8_t MENU_SEPARATOR = 0x02;
inline constexpr uint8_t MENU_GRAYED = 0x04;
inline constexpr uint8_t MENU_CHECKABLE = 0x08;
inline constexpr uint8_t MENU_FORMAT_LABEL = 0x10;  // text comes from the output format table

struct MenuItem {
  uint8_t level;  // 0: a menu of the bar, 1: an item in it, 2: an item of a submenu
  uint8_t flags;
  int id;            // command id (0 for popups and separators)
  const char* text;  // UTF-8; null for separators and format-table labels
};

// Command ids that the menus and buttons share with onCommand.
inline constexpr int CMD_TOOLS_INSERT_BEFORE =
    135;  // external applications go before "Outlook送信"
inline constexpr int CMD_HISTORY_FIRST = 1201;
inline constexpr int CMD_EXT_APP_FIRST = 1401;
inline constexpr int CMD_PREV_POPUP_FIRST = 1001;
inline constexpr int CMD_NEXT_POPUP_FIRST = 1101;
inline constexpr int CMD_COLOUR_FIRST = 1300;

const MenuItem* menuTable(int* count);
// The text of a row (the format table's label for convert items), UTF-8.
std::string menuItemText(const MenuItem& item);
// Text of the menu item with this command id, without its "\t..." shortcut part; empty when no
// item has it (custom-button tooltips, the assignment question).
std::string menuTextOf(int id);
// A menu text as a tooltip shows it: no shortcut part, no mnemonic ("再生(&P)\tSpace" → "再生").
std::string plainMenuText(const std::string& text);
// The history is not in the bar: it pops up on the open button's right press.

}  // namespace vlm
