#include "platform/text.h"

#include <cstring>

#include "core/vstream.h"
#include "util/text_codes.h"

namespace vlm {

std::string songTextUtf8(int field) {
  if (field < 0 || field >= INFO_FIELDS) return {};
  const uint8_t code = song.info.code[field];
  if (code != TEXT_SHIFT_JIS) {
    return textToUtf8(song.info.original[field], song.info.originalLength[field], code);
  }
  const char* text = song.info.text[field];
  return sjisToUtf8(text, strnlen(text, INFO_TEXT_SIZE));
}

std::string sjisToUtf8(const char* text, size_t length) {
  return convertText("UTF-8", "CP932", text, length);
}

std::string sjisToUtf8(const std::string& text) {
  return sjisToUtf8(text.data(), text.size());
}

std::string utf8ToSjis(const std::string& text) {
  return convertText("CP932", "UTF-8", text.data(), text.size());
}

}  // namespace vlm
