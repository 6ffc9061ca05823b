// When a song does not fit a writer's size limit, the writer spends fewer bytes on what the ear
// misses least before it cuts notes at the end: pitch bends are thinned to coarser steps in time
// and pitch, and controller and program repeats are dropped. Shared by the i-melody, PMD and
// SMAF writers.
#pragma once

#include <cstdint>
#include <vector>

#include "core/stages.h"

namespace vlm {

// Coarser steps, one level after another: at most one bend per 1/32, 1/16 and 1/8 note, and
// bends that move the pitch by less than 1/8, 1/4 and 1/2 semitone from the last one kept are
// left out.
inline constexpr int THINNING_LEVELS = 3;

// Rewrites a VStream image as one track with the bends of `level` (1..THINNING_LEVELS) and no
// repeated controller or program values. Returns false, leaving `out` unspecified, when nothing
// would change.
bool thinStream(const uint8_t* image, uint32_t size, int level, std::vector<uint8_t>& out);

// Runs `write` on the stream; when the size limit cut the song (warning slot 5 raised by this
// write), writes it again from thinner streams, level after level, until one fits or the levels
// are used up; the last write stands. A song that fits is written once, byte for byte as before.
void writeWithinLimit(StageFn write, const uint8_t* source, uint32_t sourceSize,
                      uint8_t* destination, int32_t* destinationSize, uint32_t capacity);

}  // namespace vlm
