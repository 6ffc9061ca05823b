#include "core/conversion_options.h"

namespace vlm {

// One set per thread, so that parallel batch conversions never share settings.
thread_local ConversionOptions options;
thread_local ConversionWarnings warnings;

}  // namespace vlm
