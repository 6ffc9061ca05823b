// The subcommands of vlmconv. Each takes its own name as argv[0] and returns the exit status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/memblock.h"

namespace vlm::cli {

int cmdFormats(int argc, char** argv);
int cmdDetect(int argc, char** argv);
int cmdConvert(int argc, char** argv);
int cmdInfo(int argc, char** argv);
int cmdDump(int argc, char** argv);
int cmdRenderEntry(int argc, char** argv);
int cmdPlayEntry(int argc, char** argv);
int cmdExtractWavesEntry(int argc, char** argv);
int cmdCheck(int argc, char** argv);

// Options every converting command takes: --ini FILE, --set KEY=VALUE and the main-window
// values. Returns the arguments consumed at argv[i] (0 = not one of them, -1 = error, printed).
int parseCommonOption(int argc, char** argv, int i);

// One file named on the command line or found in a folder or list, with its format code.
struct InputFile {
  std::string path;
  int code = 0;   // FormatCode; 0 = not supported
  int error = 0;  // errno when the path itself cannot be used (a missing file), else 0
};

// Files, folders (recursively, sorted) and .m3u lists to a flat list. Files found in folders are
// kept only when supported, unless `keepUnsupported`; paths named directly and list entries are
// always kept, with their error when they do not exist.
std::vector<InputFile> expandInputFiles(const std::vector<std::string>& inputs,
                                        bool keepUnsupported = false);
std::vector<std::string> expandInputs(const std::vector<std::string>& inputs);

// Reads an input as the run does (see readInput), except that a .qcp is read from the wave the
// voice converter makes of it. 0 when nothing was read; when the file cannot be read here at all
// (no voice converter), `*unsupported` names the reason.
int readCommandInput(const std::string& input, int code, MemBlock* stream,
                     std::string* unsupported);

// What a .wav file's own "fmt " chunk says: its coding, rate and channels, and whether this
// program decodes the coding. false when the file is no RIFF WAVE with a format chunk.
struct WaveFileSummary {
  std::string coding;  // "pcm", "ima-adpcm", "ms-adpcm", "format 0x0055"
  uint32_t rate = 0;
  int channels = 0;
  int bits = 0;
  uint32_t dataBytes = 0;
  bool decodable = false;
};
bool summarizeWaveFile(const std::string& path, WaveFileSummary* summary);

// `utf8` as a JSON string literal: quotes and backslashes escaped, control characters as \u00XX.
std::string jsonString(const std::string& utf8);

// A usage error: the reason on standard error, exit status 2.
int usageError(const std::string& reason);
// "unknown output format: NAME (did you mean ...?)" with the names that come close.
std::string unknownFormatText(const std::string& name);
// The progress bar of a batch on standard error ("\r[####   ] done/total").
void drawProgress(size_t done, size_t total);

}  // namespace vlm::cli
