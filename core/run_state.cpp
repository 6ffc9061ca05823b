#include "core/run_state.h"

namespace vlm {

thread_local RunState runState;

}  // namespace vlm
