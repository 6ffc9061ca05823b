// The per-thread record of a stage. Readers and writers keep their state in one record per thread,
// so that the command line can convert several files at once. A record with members that have
// destructors, used directly as a thread_local, goes through the guarded initialiser at every use,
// many times per event; a stage therefore keeps a plain constinit pointer and points it at the
// record once per call:
//   thread_local constinit SmfState* state = nullptr;
//   ...  state = &threadRecord<SmfState>();
// A record without destructors is constant-initialised (the compiler checks it), so it needs no
// guard at all.
#pragma once

#include <type_traits>

namespace vlm {

template <typename Record>
Record& threadRecord() {
  if constexpr (std::is_trivially_destructible_v<Record>) {
    thread_local constinit Record record{};
    return record;
  } else {
    thread_local Record record;
    return record;
  }
}

}  // namespace vlm
