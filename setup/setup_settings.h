// The settings the setup tool edits in vlmplay.ini: the playlist capacity `files`, the
// graphic-button switch `filebutton` and the eight external-application slots, and the reload
// request that running players get after every change.
#pragma once

#include <array>
#include <string>

namespace vlm {

inline constexpr int APP_SLOTS = 8;
inline constexpr int VISIBLE_APP_ROWS = 3;
inline constexpr int MAX_APP_OFFSET = APP_SLOTS - VISIBLE_APP_ROWS;  // 5
inline constexpr size_t APP_PATH_BYTES = 255;
inline constexpr size_t APP_NAME_BYTES = 31;
inline constexpr int FILES_MIN = 1;
inline constexpr int FILES_MAX = 1024;
inline constexpr int FILES_DEFAULT = 256;
inline constexpr int RELOAD_COMMAND = 351;
inline constexpr const char* SETTINGS_FILE = "vlmplay.ini";

struct AppSlot {
  std::string file;  // program path, the file system's bytes
  std::string name;  // menu name, Shift-JIS
};

struct SetupSettings {
  int files = FILES_DEFAULT;
  bool filebutton = false;
  std::array<AppSlot, APP_SLOTS> apps;
};

// The value shown for a stored `files`: itself inside 1..1024, else 1024.
int filesShown(int stored);
// The value written for a typed `files`: 1 for 0 or below, 1024 above 1024.
int filesCorrected(int typed);
// A typed number as a signed dialog value: optional sign and leading digits, 0 when there are
// none; saturates instead of overflowing.
int parseTypedNumber(const std::string& text);
// At most `maxBytes` bytes of Shift-JIS text, never ending inside a double-byte character.
std::string cutSjis(const std::string& text, size_t maxBytes);
// At most `maxBytes` bytes of UTF-8 text, never ending inside a character.
std::string cutUtf8(const std::string& text, size_t maxBytes);

SetupSettings loadSetupSettings(const char* file = SETTINGS_FILE);
// Writes `files` (corrected), `filebutton` and all eight slots in one atomic rewrite that keeps
// every other key of the file. False when the file could not be written.
bool saveSetupSettings(const SetupSettings& settings, const char* file = SETTINGS_FILE);

// Sends the reload command to every running player; returns how many took it.
int reloadRunningPlayers();

}  // namespace vlm
