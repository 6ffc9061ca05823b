// The subcommands of vlmconv. Each takes its own name as argv[0] and returns the exit status.
#pragma once

#include <string>
#include <vector>

namespace vlm::cli {

int cmdFormats(int argc, char** argv);
int cmdDetect(int argc, char** argv);
int cmdConvert(int argc, char** argv);
int cmdInfo(int argc, char** argv);
int cmdDump(int argc, char** argv);
int cmdRenderEntry(int argc, char** argv);
int cmdPlayEntry(int argc, char** argv);
int cmdExtractWavesEntry(int argc, char** argv);

// Options every converting command takes: --ini FILE, --set KEY=VALUE and the main-window
// values. Returns the arguments consumed at argv[i] (0 = not one of them, -1 = error, printed).
int parseCommonOption(int argc, char** argv, int i);

// Files, folders (recursively, supported files only, sorted) and .m3u lists to a flat list.
std::vector<std::string> expandInputs(const std::vector<std::string>& inputs);

// A usage error: the reason on standard error, exit status 2.
int usageError(const std::string& reason);

}  // namespace vlm::cli
