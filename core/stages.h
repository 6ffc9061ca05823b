// The format codes and the stage contract shared by every reader, the fade pass, the transform and
// every writer: (source image, source size, destination, destination size out, capacity). Stages
// never fail; limits shorten the output and raise a warning slot.
#pragma once

#include <cstdint>

namespace vlm {

// A format's number: what detection returns for an input and what names an output. Codes above 0
// are formats; the values are kept from file to file (settings, the command line's --to).
using FormatCode = int32_t;

// Not formats: what detection says of a path that is no song file.
inline constexpr FormatCode FORMAT_DIRECTORY = -2;
inline constexpr FormatCode FORMAT_PLAYLIST = -1;
inline constexpr FormatCode FORMAT_UNSUPPORTED = 0;
// Outputs that keep the input's bytes: saved unchanged, or mailed.
inline constexpr FormatCode OUTPUT_COPY = -3;
inline constexpr FormatCode OUTPUT_MAIL = -4;

// Formats. Where an input and an output share a code, the output is the family's first variant.
inline constexpr FormatCode FORMAT_MML = 1;
inline constexpr FormatCode FORMAT_SMF = 2;
inline constexpr FormatCode FORMAT_VLM = 3;
inline constexpr FormatCode FORMAT_DAT = 11;
inline constexpr FormatCode FORMAT_ALS = 12;
inline constexpr FormatCode FORMAT_DXM = 13;  // feelsound, 12 voices
inline constexpr FormatCode FORMAT_DXM32 = 14;
inline constexpr FormatCode FORMAT_CMD = 21;
inline constexpr FormatCode FORMAT_PMD_RAW = 22;
inline constexpr FormatCode FORMAT_MLD = 24;  // i-melody; as an output FM 16 voices (N)
inline constexpr FormatCode FORMAT_MLD_PCM16 = 25;
inline constexpr FormatCode FORMAT_MLD_PCM24SO = 26;
inline constexpr FormatCode FORMAT_MLD_PCM32 = 27;
inline constexpr FormatCode FORMAT_MLD_FM16F = 28;
inline constexpr FormatCode FORMAT_MLD_PCM24D = 29;
inline constexpr FormatCode FORMAT_MLD_40 = 30;
inline constexpr FormatCode FORMAT_MLD_40SO = 31;
inline constexpr FormatCode FORMAT_MLD_3 = 35;
inline constexpr FormatCode FORMAT_MLD_3SH = 36;
inline constexpr FormatCode FORMAT_MLD_4S = 37;
inline constexpr FormatCode FORMAT_MLD_4 = 38;
inline constexpr FormatCode FORMAT_MLD_4P = 39;
inline constexpr FormatCode FORMAT_MEL = 41;
inline constexpr FormatCode FORMAT_SMD_TEXT = 51;
inline constexpr FormatCode FORMAT_SMZ_TEXT = 52;
inline constexpr FormatCode FORMAT_SMAF = 53;  // as an output 16 voices for J-SKY
inline constexpr FormatCode FORMAT_SMAF_EZWEB = 54;
inline constexpr FormatCode FORMAT_SMAF4 = 55;
inline constexpr FormatCode FORMAT_SMAF4_EZWEB = 56;
inline constexpr FormatCode FORMAT_SMZ_SMAF = 57;
inline constexpr FormatCode FORMAT_SMAF40 = 59;
inline constexpr FormatCode FORMAT_PMD = 61;  // EZweb PMD; as an output 16 voices
inline constexpr FormatCode FORMAT_PMD16B = 62;
inline constexpr FormatCode FORMAT_PMD3 = 63;
inline constexpr FormatCode FORMAT_QCP = 71;
inline constexpr FormatCode FORMAT_WAV = 72;

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
