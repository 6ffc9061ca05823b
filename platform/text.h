// Conversion between the Shift-JIS (CP932) bytes that song texts keep and the UTF-8 that the
// terminal and Qt show. Used only where text meets the user.
#pragma once

#include <cstddef>
#include <string>

namespace vlm {

// Bytes that do not convert are replaced by '?'; conversion never fails.
std::string sjisToUtf8(const char* text, size_t length);
std::string sjisToUtf8(const std::string& text);
std::string utf8ToSjis(const std::string& text);

// The song text of a field as the player and the command line show it: from the file's own
// code when its reader kept one, else from Shift-JIS.
std::string songTextUtf8(int field);

}  // namespace vlm
