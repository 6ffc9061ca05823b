// A readable listing of a VStream, one line per event in merge order.
#pragma once

#include <cstdint>
#include <string>

namespace vlm {

// First line "timebase N", then per event: absolute time, track index, the status byte and the
// bytes stored after it, as two-digit upper-case hex separated by spaces.
std::string dumpStream(const uint8_t* image, uint32_t size);

}  // namespace vlm
