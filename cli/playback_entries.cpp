// render, play and extract-waves: handed to the playback commands.
#include "cli/commands.h"
#include "cli/playback_commands.h"

namespace vlm::cli {

int cmdRenderEntry(int argc, char** argv) {
  return cmdRender(argc, argv);
}

int cmdPlayEntry(int argc, char** argv) {
  return cmdPlay(argc, argv);
}

int cmdExtractWavesEntry(int argc, char** argv) {
  return cmdExtractWaves(argc, argv);
}

}  // namespace vlm::cli
