// Arbitrary text through the melody-mail decoder, from the first character and after the marker;
// the decoded bytes must encode back to text that decodes to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "writers/melody_mail.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const char* text = reinterpret_cast<const char*>(data);
  for (int start = 0; start <= 1; ++start) {
    std::vector<uint8_t> image(size);
    uint32_t n = vlm::decodeMelodyText(text, uint32_t(size), image.data(), uint32_t(size), start);
    if (n > size) __builtin_trap();
    std::vector<char> again(n * 2 + 16);
    uint32_t length =
        vlm::encodeMelodyText(image.data(), n, again.data(), uint32_t(again.size()), 1);
    std::vector<uint8_t> back(n + 1);
    uint32_t m = vlm::decodeMelodyText(again.data(), length, back.data(), n + 1, 0);
    if (m != n || std::memcmp(back.data(), image.data(), n) != 0) __builtin_trap();
  }
  return 0;
}
