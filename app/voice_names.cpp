#include "app/voice_names.h"

#include <cstring>

#include "util/files.h"

namespace vlm {

VoiceNames voiceNames;

namespace {

constexpr size_t MAX_NAME_BYTES = VOICE_NAME_SLOT - 1;

bool isSjisLead(uint8_t c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// The byte count of the longest prefix of at most `limit` bytes that ends between characters.
size_t cutLength(const uint8_t* s, size_t n, size_t limit) {
  size_t i = 0;
  while (i < n) {
    const size_t width = isSjisLead(s[i]) && i + 1 < n ? 2 : 1;
    if (i + width > limit) break;
    i += width;
  }
  return i;
}

const char* nameIn(const VoiceNameTable& table, int i) {
  return i >= 0 && i < VOICE_NAME_COUNT ? table[i] : "";
}

}  // namespace

void parseVoiceNames(const uint8_t* text, size_t size, VoiceNameTable& table) {
  std::memset(table, 0, sizeof(VoiceNameTable));
  if (!text) return;
  size_t i = 0;
  for (int line = 0; line < VOICE_NAME_COUNT && i < size; ++line) {
    size_t end = i;
    while (end < size && text[end] != '\r' && text[end] != '\n') ++end;
    const size_t n = cutLength(text + i, end - i, MAX_NAME_BYTES);
    std::memcpy(table[line], text + i, n);
    // A zero inside the line ends the name there, as it would in the slot.
    table[line][n] = '\0';
    i = end;
    if (i < size && text[i] == '\r') ++i;
    if (i < size && text[i] == '\n') ++i;
  }
}

int loadVoiceNames(const std::string& dataDir) {
  std::string folder = dataDir;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  int loaded = 0;
  struct Entry {
    const char* file;
    VoiceNameTable* table;
  } entries[] = {{MLD_NAME_FILE, &voiceNames.mld},
                 {DRUM_NAME_FILE, &voiceNames.drum},
                 {DXM_NAME_FILE, &voiceNames.dxm}};
  for (const Entry& e : entries) {
    MemBlock block;
    if (!folder.empty() && blockLoadFile(&block, (folder + e.file).c_str())) {
      parseVoiceNames(block.data, size_t(block.length), *e.table);
      blockFree(&block);
      ++loaded;
    } else {
      std::memset(*e.table, 0, sizeof(VoiceNameTable));
    }
  }
  return loaded;
}

const char* mldVoiceName(int program) {
  return nameIn(voiceNames.mld, program);
}
const char* drumName(int note) {
  return nameIn(voiceNames.drum, note);
}
const char* dxmVoiceName(int program) {
  return nameIn(voiceNames.dxm, program);
}

}  // namespace vlm
