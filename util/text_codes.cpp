#include "util/text_codes.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vlm {

namespace {

// iconv names of the text codes, by TextCode.
constexpr const char* CODE_NAMES[TEXT_CODES] = {
    "CP932", "ISO-8859-1", "EUC-KR", "HZ-GB-2312", "BIG5", "KOI8-R", "TCVN5712-1",
    "UCS-2BE", "UCS-4BE", "UTF-7", "UTF-8", "UTF-16", "UTF-32"};

const char* codeName(uint8_t code) {
  return code < TEXT_CODES ? CODE_NAMES[code] : CODE_NAMES[TEXT_SHIFT_JIS];
}

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
size_t utf8Length(unsigned char lead) {
  return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
}

}  // namespace

std::string convertText(const char* to, const char* from, const char* text, size_t length) {
  iconv_t cd = iconv_open(to, from);
  if (cd == iconv_t(-1)) return std::string(text, length);
  std::string out;
  out.reserve(length * 3 / 2 + 4);
  char* in = const_cast<char*>(text);
  size_t inLeft = length;
  char buffer[1024];
  while (inLeft > 0) {
    char* o = buffer;
    size_t oLeft = sizeof buffer;
    size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
    out.append(buffer, size_t(o - buffer));
    if (r == size_t(-1) && errno != E2BIG) {
      // An invalid or incomplete sequence: show one '?' and go on after the byte.
      out += '?';
      ++in;
      --inLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

std::string textToUtf8(const char* text, size_t length, uint8_t code) {
  return convertText("UTF-8", codeName(code), text, length);
}

bool textToSjis(const char* text, size_t length, uint8_t code, std::string* out) {
  const std::string utf8 = textToUtf8(text, length, code);
  out->clear();
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == iconv_t(-1)) {
    *out = utf8;
    return false;
  }
  bool whole = true;
  // Character by character, so that one without a Shift-JIS form becomes one '?'.
  for (size_t i = 0; i < utf8.size();) {
    const size_t n = std::min(utf8Length(static_cast<unsigned char>(utf8[i])), utf8.size() - i);
    char* in = const_cast<char*>(utf8.data() + i);
    size_t inLeft = n;
    char buffer[8];
    char* o = buffer;
    size_t oLeft = sizeof buffer;
    if (iconv(cd, &in, &inLeft, &o, &oLeft) == size_t(-1) || inLeft) {
      out->push_back('?');
      whole = false;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    } else {
      out->append(buffer, size_t(o - buffer));
    }
    i += n;
  }
  iconv_close(cd);
  return whole;
}

}  // namespace vlm
