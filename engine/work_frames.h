// What every host that hands the engine whole frames needs besides the
// renderer: the transition's time as the engine counts it, and whether a
// frame of a given size can be rendered at all.
//
//   job.position = positionFromProgress(progress);   // with job.duration = 65536
//   if (workFramePixels(width, rows) == 0) refuse();
#pragma once

#include <cstdint>

namespace granulix {

// The transition's point in 16.16 fixed point: progress x 65536 truncated
// toward zero, with progress held to 0..1 (NaN counts as 0).
uint32_t positionFromProgress(float progress);

// Pixels of a work frame of width x rows. 0 when it has none, when it would
// have 2^32 pixels or more (source maps address pixels with 32-bit indices)
// or more rows than an int32 holds.
uint64_t workFramePixels(int64_t width, int64_t rows);

}  // namespace granulix
