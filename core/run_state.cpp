#include "core/run_state.h"

#include "core/codec.h"
#include "core/vstream.h"

namespace vlm {

thread_local RunState runState;

void resetRun(const ConversionOptions& base) {
  options = base;
  runState = RunState();
  warnings = ConversionWarnings();
  resetSongStats();
  song = SongRecord{};
  playRange = PlayRange{};
}

}  // namespace vlm
