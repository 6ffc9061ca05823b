// The stage contract shared by every reader, the fade pass, the transform and every writer:
// (source image, source size, destination, destination size out, capacity). Stages never fail;
// limits shorten the output and raise a warning slot.
#pragma once

#include <cstdint>

namespace vlm {

using StageFn = void (*)(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
                         int32_t* destinationSize, uint32_t capacity);

// Readers: file image in, VStream out.
void readSmf(const uint8_t*, uint32_t, uint8_t*, int32_t*, uint32_t);       // 2, 13
void readMld(const uint8_t*, uint32_t, uint8_t*, int32_t*, uint32_t);       // 24, 61
void readSmaf(const uint8_t*, uint32_t, uint8_t*, int32_t*, uint32_t);      // 53, 57
void readMml(const uint8_t*, uint32_t, uint8_t*, int32_t*, uint32_t);       // 1
void readDat(const uint8_t*, uint32_t, uint8_t*, int32_t*, uint32_t);       // 11
void readAls(const uint8_t*, uint32_t, uint8_t*, int32_t*, uint32_t);       // 12
void readCmd(const uint8_t*, uint32_t, uint8_t*, int32_t*, uint32_t);       // 21
void readPmdRaw(const uint8_t*, uint32_t, uint8_t*, int32_t*, uint32_t);    // 22
void readMel(const uint8_t*, uint32_t, uint8_t*, int32_t*, uint32_t);       // 41
void readJskyText(const uint8_t*, uint32_t, uint8_t*, int32_t*, uint32_t);  // 51, 52
void readQcp(const uint8_t*, uint32_t, uint8_t*, int32_t*, uint32_t);       // 71
void readWave(const uint8_t*, uint32_t, uint8_t*, int32_t*, uint32_t);      // 72

// Passes: VStream in, VStream out.
void fadeStream(const uint8_t*, uint32_t, uint8_t*, int32_t*, uint32_t);
void transformStream(const uint8_t*, uint32_t, uint8_t*, int32_t*, uint32_t);

// Writers: VStream in, file image out.
void writeSmf(const uint8_t*, uint32_t, uint8_t*, int32_t*, uint32_t);     // 2
void writeDxm(const uint8_t*, uint32_t, uint8_t*, int32_t*, uint32_t);     // 13, 14
void writeMld(const uint8_t*, uint32_t, uint8_t*, int32_t*, uint32_t);     // 24..39, 61..63
void writeSmaf(const uint8_t*, uint32_t, uint8_t*, int32_t*, uint32_t);    // 53..56
void writeSmaf40(const uint8_t*, uint32_t, uint8_t*, int32_t*, uint32_t);  // 59

}  // namespace vlm
