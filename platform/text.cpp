#include "platform/text.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace vlm {

namespace {

std::string convert(const char* to, const char* from, const char* text, size_t length) {
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

}  // namespace

std::string sjisToUtf8(const char* text, size_t length) {
  return convert("UTF-8", "CP932", text, length);
}

std::string sjisToUtf8(const std::string& text) {
  return sjisToUtf8(text.data(), text.size());
}

std::string utf8ToSjis(const std::string& text) {
  return convert("CP932", "UTF-8", text.data(), text.size());
}

}  // namespace vlm
