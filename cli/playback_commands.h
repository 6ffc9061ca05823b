// render, play and extract-waves: the playback side of vlmconv. argv[0] is the subcommand's name;
// each returns the exit status (0 success, 1 the input gave nothing or the device failed,
// 2 usage error).
#pragma once

namespace vlm {

int cmdRender(int argc, char** argv);
int cmdPlay(int argc, char** argv);
int cmdExtractWaves(int argc, char** argv);

}  // namespace vlm
