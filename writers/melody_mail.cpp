// Melody mail: the Base64 text form of a melody image (lines of 72 characters, optionally after
// a "--B:M" marker line), its decoder for clipboard input, and the mail message around it.
#include "writers/melody_mail.h"

#include <cstring>
#include <string>

#include "core/run_state.h"

namespace vlm {

namespace {

constexpr char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char FILL = '=';
constexpr char CRLF[] = "\r\n";
constexpr uint32_t MARKER_LENGTH = 5;

// Value of an alphabet character, -1 for every other byte.
int valueOf(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool markerAt(const char* text, uint32_t length, uint32_t i) {
  return length - i >= MARKER_LENGTH && std::memcmp(text + i, MELODY_MARKER, MARKER_LENGTH) == 0;
}

// Appends to a bounded text buffer; what does not fit is dropped.
struct TextOut {
  char* text;
  uint32_t capacity;
  uint32_t length = 0;

  void put(char c) {
    if (length < capacity) text[length++] = c;
  }
  void put(const char* s, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) put(s[i]);
  }
  void put(const char* s) { put(s, uint32_t(std::strlen(s))); }
  void line(const char* s) {
    put(s);
    put(CRLF);
  }
};

// One character of Base64 text, with the line break after every 72nd character of a line.
struct LineWriter {
  TextOut& out;
  int column = 0;

  void put(char c) {
    out.put(c);
    if (++column == MELODY_LINE_CHARS) {
      out.put(CRLF);
      column = 0;
    }
  }
};

}  // namespace

uint32_t encodeMelodyText(const uint8_t* image, uint32_t size, char* text, uint32_t capacity,
                          int marker) {
  TextOut out{text, capacity};
  if (marker) out.line(MELODY_MARKER);
  LineWriter line{out};
  uint32_t bits = 0;
  int bitCount = 0;
  uint32_t chars = 0;
  for (uint32_t i = 0; i < size; ++i) {
    bits = (bits << 8) | image[i];
    bitCount += 8;
    while (bitCount >= 6) {
      bitCount -= 6;
      line.put(ALPHABET[(bits >> bitCount) & 0x3F]);
      ++chars;
    }
  }
  if (bitCount > 0) {
    line.put(ALPHABET[(bits << (6 - bitCount)) & 0x3F]);
    ++chars;
  }
  while (chars % 4 != 0) {
    line.put(FILL);
    ++chars;
  }
  return out.length;
}

uint32_t decodeMelodyText(const char* text, uint32_t length, uint8_t* image, uint32_t capacity,
                          int start) {
  uint32_t produced = 0;
  auto emit = [&](uint32_t byte) {
    if (produced < capacity) image[produced++] = uint8_t(byte);
  };
  bool decoding = start != 0;
  uint32_t group = 0;
  int groupCount = 0;
  uint32_t i = 0;
  while (i < length) {
    if (text[i] == MELODY_MARKER[0] && markerAt(text, length, i)) {
      decoding = true;
      i += MARKER_LENGTH;
      continue;
    }
    int v = valueOf(uint8_t(text[i++]));
    if (!decoding || v < 0) continue;
    group = (group << 6) | uint32_t(v);
    if (++groupCount == 4) {
      emit(group >> 16);
      emit((group >> 8) & 0xFF);
      emit(group & 0xFF);
      group = 0;
      groupCount = 0;
    }
  }
  if (groupCount == 2) {
    emit(group / 16);
  } else if (groupCount == 3) {
    emit((group / 1024) & 0xFF);
    emit((group / 4) & 0xFF);
  }
  return produced;
}

uint32_t composeMelodyMail(const char* text, uint32_t textLength, char* message, uint32_t capacity,
                           int plain) {
  TextOut out{message, capacity};
  if (!runState.mailTo.empty()) {
    out.put("To: ");
    out.line(runState.mailTo.c_str());
  }
  if (!runState.mailSubject.empty()) {
    out.put("Subject: ");
    out.line(runState.mailSubject.c_str());
  }
  if (plain) {
    out.line("X-Unsent: 1");
    out.put(CRLF);
    out.put(text, textLength);
    return out.length;
  }
  out.line("Content-Type: multipart/mixed; boundary=\"mult\"");
  out.line("X-Unsent: 1");
  out.put(CRLF);
  out.line("--mult");
  out.line("Content-Type: text/plain; charset=\"iso-2022-jp\"");
  out.line("Content-Transfer-Encoding: 7bit");
  out.put(CRLF);
  out.line("melodymail");
  out.put(CRLF);
  out.line("--mult");
  out.put("Content-type: application/octet-stream; Name=\"");
  out.put(runState.mailAttachment.c_str());
  out.line("\"");
  out.line("Content-Transfer-Encoding: Base64");
  out.put(CRLF);
  out.put(text, textLength);
  out.put(CRLF);
  out.line("--mult--");
  return out.length;
}

}  // namespace vlm
