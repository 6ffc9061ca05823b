// Conversion of text between character codes (glibc iconv): the codes song texts arrive in
// (TextCode) to UTF-8 and to the Shift-JIS (CP932) that song texts keep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vlm {

// Character codes of song texts.
enum TextCode : uint8_t {
  TEXT_SHIFT_JIS,
  TEXT_LATIN1,
  TEXT_EUC_KR,
  TEXT_HZ_GB2312,
  TEXT_BIG5,
  TEXT_KOI8_R,
  TEXT_TCVN,
  TEXT_UCS2,
  TEXT_UCS4,
  TEXT_UTF7,
  TEXT_UTF8,
  TEXT_UTF16,
  TEXT_UTF32,
  TEXT_CODES
};

// Text from one iconv code to another. Bytes that do not convert are replaced by '?';
// conversion never fails (an unknown code gives the bytes as they are).
std::string convertText(const char* to, const char* from, const char* text, size_t length);

std::string textToUtf8(const char* text, size_t length, uint8_t code);
// Text of `code` as Shift-JIS; false when a character has no Shift-JIS form ('?' stands in).
bool textToSjis(const char* text, size_t length, uint8_t code, std::string* out);

}  // namespace vlm
