#include "setup/setup_settings.h"

#include <climits>
#include <cstdio>

#include "platform/instance_channel.h"
#include "platform/profile.h"

namespace vlm {

namespace {

constexpr const char* SECTION = "section";
constexpr const char* CONTROL = "control";

std::string slotKey(const char* format, int n) {
  char key[16];
  std::snprintf(key, sizeof key, format, n);
  return key;
}

bool isSjisLead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

}  // namespace

int filesShown(int stored) {
  return stored >= FILES_MIN && stored <= FILES_MAX ? stored : FILES_MAX;
}

int filesCorrected(int typed) {
  if (typed < FILES_MIN) return FILES_MIN;
  if (typed > FILES_MAX) return FILES_MAX;
  return typed;
}

int parseTypedNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > INT_MAX) v = INT_MAX;
  }
  return int(negative ? -v : v);
}

std::string cutSjis(const std::string& text, size_t maxBytes) {
  size_t i = 0;
  while (i < text.size()) {
    const size_t width = isSjisLead(static_cast<unsigned char>(text[i])) ? 2 : 1;
    if (i + width > maxBytes || i + width > text.size()) break;
    i += width;
  }
  return text.substr(0, i);
}

std::string cutUtf8(const std::string& text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  size_t n = maxBytes;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return text.substr(0, n);
}

SetupSettings loadSetupSettings(const char* file) {
  SetupSettings s;
  s.files = filesShown(readProfileInt(SECTION, "files", FILES_DEFAULT, file));
  s.filebutton = readProfileInt(CONTROL, "filebutton", 0, file) == 1;
  for (int i = 1; i <= APP_SLOTS; ++i) {
    AppSlot& slot = s.apps[size_t(i - 1)];
    slot.file = cutUtf8(readProfileString(SECTION, slotKey("app%dfile", i).c_str(), "", file),
                        APP_PATH_BYTES);
    slot.name = cutSjis(readProfileString(SECTION, slotKey("app%dname", i).c_str(), "", file),
                        APP_NAME_BYTES);
  }
  return s;
}

bool saveSetupSettings(const SetupSettings& s, const char* file) {
  ProfileBatch batch(file);
  bool ok = writeProfileInt(SECTION, "files", filesCorrected(s.files), file);
  ok = writeProfileInt(CONTROL, "filebutton", s.filebutton ? 1 : 0, file) && ok;
  for (int i = 1; i <= APP_SLOTS; ++i) {
    const AppSlot& slot = s.apps[size_t(i - 1)];
    ok = writeProfileString(SECTION, slotKey("app%dfile", i).c_str(),
                            cutUtf8(slot.file, APP_PATH_BYTES).c_str(), file) &&
         ok;
    ok = writeProfileString(SECTION, slotKey("app%dname", i).c_str(),
                            cutSjis(slot.name, APP_NAME_BYTES).c_str(), file) &&
         ok;
  }
  return batch.flush() && ok;
}

int reloadRunningPlayers() {
  int reached = 0;
  for (int pid : runningInstances())
    if (sendInstanceMessage(pid, RELOAD_COMMAND, 0, "")) ++reached;
  return reached;
}

}  // namespace vlm
