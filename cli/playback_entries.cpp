// render, play and extract-waves: handed to the playback commands.
#include <cstdio>

#include "cli/commands.h"

namespace vlm::cli {

namespace {
int notYet(const char* what) {
  std::fprintf(stderr, "vlmconv: %s is not supported yet\n", what);
  return 1;
}
}  // namespace

int cmdRenderEntry(int, char**) { return notYet("render"); }
int cmdPlayEntry(int, char**) { return notYet("play"); }
int cmdExtractWavesEntry(int, char**) { return notYet("extract-waves"); }

}  // namespace vlm::cli
