// One picture's worth of work for the transition renderer.
//
// A RenderJob says where the picture stands in the transition (position out
// of duration), how big it is, where the three frames are and which settings
// apply. The render path fills one per output frame (duration 65536, position
// in 16.16 fixed point); the setup call fills one for the whole dialog
// (duration and position in frames) and reaches the host's frames through
// fetchPreview. The job owns nothing it points at. Callers that render
// work frames they already hold, with no host behind them, build the job with
// workFramesJob.
#pragma once

#include <cstdint>

#include "effect_settings.h"
#include "task_runner.h"

namespace granulix {

struct RenderJob;

// Fetches both clips at a position into the job's frames and renders the
// output; returns 1 on success, 0 when the host could not supply frames.
using PreviewHook = int (*)(uint32_t position, RenderJob* job);

struct RenderJob {
    uint32_t duration = 0;
    uint32_t position = 0;
    int32_t fieldMode = 0;  // 0 whole frame, otherwise one interlaced field
    int32_t width = 0;      // pixels per row of every buffer
    int32_t height = 0;     // rows of every buffer (doubled in a field mode)
    uint32_t regionX = 0;   // processing rectangle, host coordinates
    uint32_t regionY = 0;
    uint32_t regionWidth = 0;
    uint32_t regionHeight = 0;
    int32_t bitCount = 0;  // host frames' bits per pixel; only 24 is served
    // While the renderer runs these address width x height work pixels,
    // one 32-bit word each, row 0 first (the bottom line of the picture).
    uint32_t* pixelsA = nullptr;    // clip A, whose pixels become particles
    uint32_t* pixelsB = nullptr;    // clip B, uncovered by the particles
    uint32_t* pixelsOut = nullptr;  // the picture being produced
    EffectSettings* settings = nullptr;
    void* host = nullptr;  // the host's apply record
    PreviewHook fetchPreview = nullptr;
    // Threads to share the call's work with; nullptr: the calling thread
    // alone. The result is the same bytes either way.
    TaskRunner* tasks = nullptr;
    // false: only the instructions every x86 has, not the wider ones that
    // the processor may offer. The result is the same bytes either way.
    bool wideVectors = true;
};

// Three width x height work frames of one size, as a job addresses them.
struct JobFrames {
    uint32_t* a;
    uint32_t* b;
    uint32_t* out;
};

// A job over whole work frames at position out of duration, with no host,
// region or preview behind it.
inline RenderJob workFramesJob(uint32_t duration, uint32_t position, int32_t width, int32_t height,
                               JobFrames frames, EffectSettings& settings) {
    RenderJob job;
    job.duration = duration;
    job.position = position;
    job.width = width;
    job.height = height;
    job.pixelsA = frames.a;
    job.pixelsB = frames.b;
    job.pixelsOut = frames.out;
    job.settings = &settings;
    return job;
}

}  // namespace granulix
