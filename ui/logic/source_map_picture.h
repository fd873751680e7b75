// The small grey picture of a source map that the Sources page shows: where
// it sits in the page's "Source" box, and its pixels, sampled from the
// running setup call's preview frames. Plain arithmetic over the engine,
// free of any window system, so that it is tested on every platform; the
// page draws the image with DrawDib.
#pragma once

#include <cstdint>

#include "effect_settings.h"
#include "render_job.h"

namespace granulix {

// The picture is always computed at this size and stretched when drawn.
constexpr int kSourceMapWidth = 128, kSourceMapHeight = 96;

struct MapPlacement {
    int left, top, width, height;  // in the box's client area, pixels
};

// Places the map in a box whose client area is boxWidth x boxHeight. A wider
// box centres it across; a higher one puts it below the box's 10-pixel
// caption when there is room for that, otherwise 2 pixels above the bottom,
// or half-way on the last one or two spare rows. A box smaller than the map
// in either direction gets the map scaled down to fill that direction.
MapPlacement placeSourceMap(int boxWidth, int boxHeight);

// Fills image (kSourceMapWidth x kSourceMapHeight words, row 0 first) with the
// grey values of binding's map over the job's preview frames, clip A as
// image 1 and clip B as image 2: each pixel holds its value in all four
// bytes. Returns false, leaving image untouched, when the job has no frames
// or no positive size.
bool computeSourceMap(const SourceBinding& binding, const RenderJob& job, uint32_t* image);

}  // namespace granulix
