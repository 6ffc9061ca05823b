// Loader of the FluidSynth library: dlopen on first use, one pointer per function, and stand-ins
// that fail when the library, one of its functions or its major version is missing.
#define VLM_FLUID_LOADER
#include "platform/fluidsynth_api.h"

#ifdef VLM_HAVE_FLUIDSYNTH
#include <dlfcn.h>

#include <type_traits>

namespace vlm {

namespace {

// The names the library goes by, newest first; the last is the development link.
const char* const LIBRARY_NAMES[] = {"libfluidsynth.so.3", "libfluidsynth.so.2",
                                     "libfluidsynth.so"};

// A stand-in of the function type F: constructors give null, the others FLUID_FAILED.
template <typename F>
struct StandIn;
template <typename R, typename... A>
struct StandIn<R (*)(A...)> {
  static R call(A...) {
    if constexpr (std::is_pointer_v<R>)
      return nullptr;
    else if constexpr (std::is_integral_v<R>)
      return R(FLUID_FAILED);
    else if constexpr (!std::is_void_v<R>)
      return R{};
  }
};

struct Loaded {
  FluidApi api;
  bool ok = false;
  std::string error;
};

void useStandIns(FluidApi& api) {
#define VLM_FLUID_STAND_IN(name) api.name = &StandIn<decltype(&::name)>::call;
  VLM_FLUID_FUNCTIONS(VLM_FLUID_STAND_IN)
#undef VLM_FLUID_STAND_IN
}

Loaded load() {
  Loaded l;
  useStandIns(l.api);
  void* handle = nullptr;
  for (const char* name : LIBRARY_NAMES)
    if ((handle = ::dlopen(name, RTLD_NOW | RTLD_LOCAL))) break;
  if (!handle) {
    const char* why = ::dlerror();
    l.error = std::string("the FluidSynth library cannot be loaded") + (why ? ": " : "") +
              (why ? why : "");
    return l;
  }
  FluidApi api;
  bool complete = true;
#define VLM_FLUID_SYMBOL(name)                                            \
  api.name = reinterpret_cast<decltype(&::name)>(::dlsym(handle, #name)); \
  if (!api.name) {                                                        \
    complete = false;                                                     \
    l.error = "the FluidSynth library has no " #name;                     \
  }
  VLM_FLUID_FUNCTIONS(VLM_FLUID_SYMBOL)
#undef VLM_FLUID_SYMBOL
  if (complete) {
    int major = 0, minor = 0, micro = 0;
    api.fluid_version(&major, &minor, &micro);
    if (major != FLUIDSYNTH_VERSION_MAJOR) {
      complete = false;
      l.error = "the FluidSynth library is version " + std::to_string(major) + ", not " +
                std::to_string(FLUIDSYNTH_VERSION_MAJOR);
    }
  }
  if (!complete) {
    ::dlclose(handle);
    return l;
  }
  l.api = api;
  l.ok = true;
  return l;  // the library stays loaded for the life of the process
}

const Loaded& loaded() {
  static const Loaded l = load();
  return l;
}

}  // namespace

const FluidApi& fluidApi() {
  return loaded().api;
}

bool fluidLoaded(std::string* error) {
  const Loaded& l = loaded();
  if (!l.ok && error) *error = l.error;
  return l.ok;
}

}  // namespace vlm

#endif  // VLM_HAVE_FLUIDSYNTH
