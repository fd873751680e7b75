// Mixing two RGBA8888 pictures (red in the low byte, top line first) through
// the renderer, for the hosts that hand over such pictures: the frei0r
// plug-in and the OBS transition.
//
//   RgbaWork work;                       // keep it between frames
//   renderRgbaFrames({a, b, out, w, h, w, w}, progress, settings, work, sharedTaskPool());
//
// Each picture becomes a work frame (bottom line first, blue in the low byte,
// top byte 0) as the module's host frames do, so gravity pulls down and wind
// blows the same way; the output comes back with full alpha. progress 0..1
// becomes the module's position by the module's own mapping, so the bits are
// the module's for the same picture, settings and progress.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "effect_settings.h"
#include "large_pages.h"
#include "render_scratch.h"
#include "task_runner.h"

namespace granulix {

// Two pictures in and one out, width x height pixels each; a stride is the
// pixels from the start of one line to the start of the next (at least width).
struct RgbaFrames {
    const uint32_t* clipA;
    const uint32_t* clipB;
    uint32_t* output;
    uint32_t width;
    uint32_t height;
    std::size_t strideA;
    std::size_t strideB;
};

// The work frames and per-frame tables one call takes; kept between frames so
// that, after the first frame of a size, a call allocates nothing.
struct RgbaWork {
    using Frame = std::vector<uint32_t, LargePageAllocator<uint32_t>>;
    Frame a, out;
    RenderScratch scratch;

    // Gives the frames' memory back; the next call allocates it again.
    void releaseFrames() {
        Frame().swap(a);
        Frame().swap(out);
    }
};

// Whether the renderer can address a width x height picture.
bool rgbaSizeRenderable(uint32_t width, uint32_t height);

// Renders frames.output (stride width) from the two pictures. A size the
// renderer cannot address gets clip A copied through. May throw
// std::bad_alloc while `work` grows; the output is then unwritten.
void renderRgbaFrames(const RgbaFrames& frames, float progress, EffectSettings& settings,
                      RgbaWork& work, TaskRunner* tasks);

}  // namespace granulix
