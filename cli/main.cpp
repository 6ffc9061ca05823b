// vlmconv: the conversion pipeline on the command line, without windows.
#include <malloc.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"

namespace {

const char* const USAGE =
    "usage: vlmconv COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  formats                      list every input and output format code\n"
    "  detect PATH...               print the format code of each path\n"
    "  convert INPUT... --to CODE [-o OUTPUT | -d DIR] [--force] [-j N] [--sync batch|each]\n"
    "          [--ini FILE] [--set KEY=VALUE]... [--mail | --mail-text]\n"
    "                               convert files, folders and .m3u lists\n"
    "  info INPUT [--json]          song texts, protection and statistics\n"
    "  dump INPUT [--stage read|transform] [--to CODE]\n"
    "                               the event stream, one event per line\n"
    "  render INPUT -o OUT.wav      render to a WAVE file\n"
    "  play INPUT                   play through the audio output\n"
    "  extract-waves INPUT -d DIR   write the embedded voice samples as .wav files\n"
    "  check PATH... [--json] [-j N]\n"
    "                               read every file and say whether it is complete, damaged\n"
    "                               or unsupported\n"
    "\n"
    "Run 'vlmconv COMMAND --help' for the options of a command.\n"
    "Exit status: 0 every input delivered, 1 an input gave nothing, 2 usage error.\n";

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
};

const Command COMMANDS[] = {
    {"formats", vlm::cli::cmdFormats}, {"detect", vlm::cli::cmdDetect},
    {"convert", vlm::cli::cmdConvert}, {"info", vlm::cli::cmdInfo},
    {"dump", vlm::cli::cmdDump},       {"render", vlm::cli::cmdRenderEntry},
    {"play", vlm::cli::cmdPlayEntry},  {"extract-waves", vlm::cli::cmdExtractWavesEntry},
    {"check", vlm::cli::cmdCheck},
};

}  // namespace

int main(int argc, char** argv) {
  // Every conversion allocates and frees work blocks of its input size + 128 KiB. Kept in the
  // heap, a batch reuses them file after file instead of mapping, faulting in and returning
  // them to the system for each file (and, with -j, every thread waiting on the others' maps).
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  if (argc < 2) {
    std::fputs(USAGE, stderr);
    return 2;
  }
  const char* name = argv[1];
  if (!std::strcmp(name, "--help") || !std::strcmp(name, "-h") || !std::strcmp(name, "help")) {
    std::fputs(USAGE, stdout);
    return 0;
  }
  if (!std::strcmp(name, "--version")) {
    std::printf("vlmconv %s\n", VLM_VERSION);
    return 0;
  }
  for (const Command& command : COMMANDS)
    if (!std::strcmp(name, command.name)) return command.run(argc - 1, argv + 1);
  std::fprintf(stderr, "vlmconv: unknown command '%s' (see vlmconv --help)\n", name);
  return 2;
}
