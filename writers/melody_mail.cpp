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

// Header fields in Japanese: RFC 2047 encoded words of ISO-2022-JP text, which is what Japanese
// mail programs write and read; a raw Shift-JIS header is shown garbled elsewhere.
constexpr char ENCODED_WORD_START[] = "=?ISO-2022-JP?B?";
constexpr char ENCODED_WORD_END[] = "?=";
constexpr int ENCODED_WORD_MAX = 75;  // characters of one encoded word, start and end included
constexpr char TO_JIS[] = "\x1B$B";
constexpr char TO_ASCII[] = "\x1B(B";
constexpr uint16_t JIS_GETA = 0x222E;  // 〓, for a character JIS X 0208 does not have

// JIS X 0208 codes of the half-width katakana 0xA1..0xDF (ISO-2022-JP has no half-width kana).
constexpr uint16_t HALF_WIDTH_KANA[63] = {
    0x2123, 0x2156, 0x2157, 0x2122, 0x2126, 0x2572, 0x2521, 0x2523, 0x2525, 0x2527, 0x2529,
    0x2563, 0x2565, 0x2567, 0x2543, 0x213C, 0x2522, 0x2524, 0x2526, 0x2528, 0x252A, 0x252B,
    0x252D, 0x252F, 0x2531, 0x2533, 0x2535, 0x2537, 0x2539, 0x253B, 0x253D, 0x253F, 0x2541,
    0x2544, 0x2546, 0x2548, 0x254A, 0x254B, 0x254C, 0x254D, 0x254E, 0x254F, 0x2552, 0x2555,
    0x2558, 0x255B, 0x255E, 0x255F, 0x2560, 0x2561, 0x2562, 0x2564, 0x2566, 0x2568, 0x2569,
    0x256A, 0x256B, 0x256C, 0x256D, 0x256F, 0x2573, 0x212B, 0x212C};
constexpr uint8_t KANA_FIRST = 0xA1, KANA_LAST = 0xDF;
constexpr uint8_t VOICED_MARK = 0xDE, SEMI_VOICED_MARK = 0xDF;
constexpr uint8_t KANA_U = 0xB3, KANA_KA = 0xB6, KANA_TO = 0xC4, KANA_HA = 0xCA, KANA_HO = 0xCE;
constexpr uint16_t JIS_VU = 0x2574;

// One character of Shift-JIS text at `s[i]`: its JIS X 0208 code (0 for ASCII, then `*ascii`
// holds it) and the bytes it took.
uint16_t nextJisCode(const std::string& s, size_t i, char* ascii, size_t* used) {
  const uint8_t b1 = uint8_t(s[i]);
  *used = 1;
  if (b1 < 0x80) {
    *ascii = char(b1);
    return 0;
  }
  if (b1 >= KANA_FIRST && b1 <= KANA_LAST) {
    uint16_t code = HALF_WIDTH_KANA[b1 - KANA_FIRST];
    const uint8_t next = i + 1 < s.size() ? uint8_t(s[i + 1]) : 0;
    const bool voicable = (b1 >= KANA_KA && b1 <= KANA_TO) || (b1 >= KANA_HA && b1 <= KANA_HO);
    if (next == VOICED_MARK && b1 == KANA_U) {
      code = JIS_VU;
      *used = 2;
    } else if (next == VOICED_MARK && voicable) {
      code += 1;
      *used = 2;
    } else if (next == SEMI_VOICED_MARK && b1 >= KANA_HA && b1 <= KANA_HO) {
      code += 2;
      *used = 2;
    }
    return code;
  }
  const bool lead = (b1 >= 0x81 && b1 <= 0x9F) || (b1 >= 0xE0 && b1 <= 0xFC);
  if (!lead || i + 1 >= s.size()) return JIS_GETA;
  const uint8_t b2 = uint8_t(s[i + 1]);
  *used = 2;
  if (b2 < 0x40 || b2 == 0x7F || b2 > 0xFC || b1 >= 0xF0) return JIS_GETA;
  const int row = ((b1 >= 0xE0 ? b1 - 0x40 : b1) - 0x81) * 2 + (b2 >= 0x9F ? 1 : 0) + 0x21;
  const int column = b2 >= 0x9F ? b2 - 0x9F + 0x21 : b2 - 0x40 - (b2 >= 0x80 ? 1 : 0) + 0x21;
  if (row > 0x7E) return JIS_GETA;
  return uint16_t(row << 8 | column);
}

std::string base64(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = uint32_t(uint8_t(bytes[i])) << 16;
    if (i + 1 < bytes.size()) group |= uint32_t(uint8_t(bytes[i + 1])) << 8;
    if (i + 2 < bytes.size()) group |= uint8_t(bytes[i + 2]);
    out += ALPHABET[group >> 18];
    out += ALPHABET[(group >> 12) & 63];
    out += i + 1 < bytes.size() ? ALPHABET[(group >> 6) & 63] : FILL;
    out += i + 2 < bytes.size() ? ALPHABET[group & 63] : FILL;
  }
  return out;
}

size_t base64Length(size_t bytes) {
  return (bytes + 2) / 3 * 4;
}

}  // namespace

std::string encodeHeaderText(const std::string& sjis) {
  bool plain = true;
  for (char c : sjis) plain = plain && uint8_t(c) < 0x80;
  if (plain) return sjis;
  // Each encoded word holds whole characters and ends in ASCII mode; words are joined by a
  // folded line break.
  const size_t room =
      ENCODED_WORD_MAX - (sizeof ENCODED_WORD_START - 1) - (sizeof ENCODED_WORD_END - 1);
  std::string result, word;
  bool jis = false;
  auto finishWord = [&] {
    if (jis) word += TO_ASCII;
    if (!result.empty()) result += "\r\n ";
    result += ENCODED_WORD_START + base64(word) + ENCODED_WORD_END;
    word.clear();
    jis = false;
  };
  for (size_t i = 0; i < sjis.size();) {
    char ascii = 0;
    size_t used = 0;
    const uint16_t code = nextJisCode(sjis, i, &ascii, &used);
    std::string piece;
    if (code && !jis) piece += TO_JIS;
    if (!code && jis) piece += TO_ASCII;
    if (code) {
      piece += char(code >> 8);
      piece += char(code & 0xFF);
    } else {
      piece += ascii;
    }
    // The word must still close in ASCII mode within its room.
    if (!word.empty() && base64Length(word.size() + piece.size() + 3) > room) {
      finishWord();
      continue;
    }
    word += piece;
    jis = code != 0;
    i += used;
  }
  if (!word.empty()) finishWord();
  return result;
}

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
    out.line(encodeHeaderText(runState.mailTo).c_str());
  }
  if (!runState.mailSubject.empty()) {
    out.put("Subject: ");
    out.line(encodeHeaderText(runState.mailSubject).c_str());
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
  out.put(encodeHeaderText(runState.mailAttachment).c_str());
  out.line("\"");
  out.line("Content-Transfer-Encoding: Base64");
  out.put(CRLF);
  out.put(text, textLength);
  out.put(CRLF);
  out.line("--mult--");
  return out.length;
}

}  // namespace vlm
