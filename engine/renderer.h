// The particle transition renderer.
//
// render(job) copies clip B into the output, settles the per-frame values
// (effective time, speed table, speed scale) and then walks over clip A, one
// pixel or one cell at a time, in the order the settings ask for, drawing each element in place,
// displaced, or not at all. The result is a pure function of the job: frames
// may be rendered in any order, on any thread, one job per thread.
#pragma once

#include <cstdint>
#include <memory_resource>

#include "effect_settings.h"
#include "render_job.h"
#include "render_scratch.h"

namespace granulix {

// 1/255 as every formula of the renderer multiplies by it.
constexpr double kInv255 = 0.00392156862745098;

// The speed table holds kSpeedSteps speeds each way from its middle.
constexpr int kSpeedSteps = 256;
constexpr int kSpeedTableSize = 2 * kSpeedSteps;

// Everything the traversal needs that does not depend on the element.
struct FrameValues {
    double keepMove = 0, noiseMove = 0;    // weights of source and noise in movement
    double keepDelay = 0, noiseDelay = 0;  // weights of source and noise in start time
    double delayScale = 0;                 // D: start time per unit of delay value
    double lifeSpread = 0, lifeBase = 0;
    double horizontalShare = 0, verticalShare = 0;
    double gravityAcceleration = 0, windAcceleration = 0;
    double exponent = 0;                            // E of the timeline curve
    double time = 0;                                // T, the effective time of this frame
    double timeWindow = 0;                          // A
    double latestLife = 0;                          // L
    double scaleX = 0, scaleY = 0, speedScale = 0;  // sX, sY, S
    double speed[kSpeedTableSize] = {};
    bool scalesSolved = false;  // false: the frame shows clip B alone
    bool perPixel = false;      // traversal mode
    int32_t cellWidth = 1;      // element size in pixels (1 x 1 per pixel)
    int32_t cellHeight = 1;
    uint32_t columns = 0;  // elements across and down the frame
    uint32_t rows = 0;
    int32_t centerX = 0, centerY = 0, speedNoise = 0;  // clamped to their limits
};

FrameValues computeFrameValues(const EffectSettings& settings, uint32_t duration, uint32_t position,
                               int32_t width, int32_t height);

// Renders job.pixelsOut from job.pixelsA and job.pixelsB (width x height
// work pixels each). Clip B is read only to start the output, so pixelsB may
// be pixelsOut itself with clip B already in place. A job with no pixels
// (width or height below 1) does nothing. May throw std::bad_alloc for its
// per-frame tables.
void render(const RenderJob& job);
// The same, with the per-frame tables carved from `scratch`: after the first
// frame of a size, no allocation (see render_scratch.h).
void render(const RenderJob& job, RenderScratch& scratch);
// The same, with the per-frame tables from `memory`.
void render(const RenderJob& job, std::pmr::memory_resource* memory);

// A render call shared out among job.tasks keeps the draws of most of its
// elements, by band of output rows, until it draws them: the bytes that
// takes, with the per-frame tables, for a caller that hands render() memory
// of its own. 0 when the call runs on one thread (no runner, or late
// bindings) and needs only small tables.
uint64_t renderWorkspaceBytes(const RenderJob& job);

}  // namespace granulix
