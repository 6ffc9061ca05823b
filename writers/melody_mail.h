// Melody mail: the Base64 text form of a melody (with the "--B:M" marker line for i-melody mail)
// and the mail message built around it.
#pragma once

#include <cstdint>
#include <string>

namespace vlm {

inline constexpr const char* MELODY_MARKER = "--B:M";
inline constexpr int MELODY_LINE_CHARS = 72;

// Returns the characters written (never more than `capacity`).
uint32_t encodeMelodyText(const uint8_t* image, uint32_t size, char* text, uint32_t capacity,
                          int marker);
// start 1: decode at once; start 0: skip everything up to and including the first "--B:M".
// Never reads past `length`. Returns the bytes produced (never more than `capacity`).
uint32_t decodeMelodyText(const char* text, uint32_t length, uint8_t* image, uint32_t capacity,
                          int start);
// Shift-JIS header text as mail headers carry Japanese: RFC 2047 encoded words of ISO-2022-JP
// (folded with CR LF and a space); plain ASCII text is returned as it is.
std::string encodeHeaderText(const std::string& sjis);
// Recipient, subject and attachment name come from runState (the mail dialog's values).
uint32_t composeMelodyMail(const char* text, uint32_t textLength, char* message, uint32_t capacity,
                           int plain);

}  // namespace vlm
