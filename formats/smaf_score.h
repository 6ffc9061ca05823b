// Score-track encodings of SMAF beyond the plain byte layouts: the Huffman-compressed Mobile
// Standard sequence (format type 1) and the status packing of MA-7 sequences (format type 3).
#pragma once

#include <cstdint>
#include <vector>

namespace vlm::smaf {

// Score track format types (first byte of an "MTR" body).
inline constexpr uint8_t FORMAT_TYPE_HANDY = 0x00;
inline constexpr uint8_t FORMAT_TYPE_COMPRESSED = 0x01;
inline constexpr uint8_t FORMAT_TYPE_MOBILE = 0x02;
inline constexpr uint8_t FORMAT_TYPE_MA7 = 0x03;

// Channel-status bytes after the four head bytes of a score track, by format type.
inline constexpr uint32_t channelStatusBytes(uint8_t formatType) {
  return formatType == FORMAT_TYPE_HANDY ? 2 : formatType == FORMAT_TYPE_MA7 ? 32 : 16;
}

// A compressed sequence never expands past this (the largest real ones hold some 35 KB).
inline constexpr uint32_t MAX_UNCOMPRESSED = 1u << 22;

// Decodes a compressed "Mtsq" body (32-bit uncompressed length, code tree, codes) into `out`.
// False when the stream is corrupt: a tree with too many nodes or a bare leaf as root, a
// length beyond MAX_UNCOMPRESSED, or codes that run out before the stated length.
bool decompressSequence(const uint8_t* body, uint32_t size, std::vector<uint8_t>* out);

// The Mobile Standard status of an MA-7 status byte (0xF0 and 0xFF stand as they are) and the
// channel (0-31) it addresses.
struct Ma7Status {
  uint8_t status;  // 0x80 | type << 4
  uint8_t channel;
};
inline constexpr Ma7Status unpackMa7Status(uint8_t s) {
  if (s == 0xF0 || s == 0xFF) return {s, 0};
  return {uint8_t(0x80 | ((s >> 4) & 7) << 4), uint8_t((s & 0x0F) + (s & 0x80 ? 16 : 0))};
}

}  // namespace vlm::smaf
