// Renders the frames of a transition through the module, several at once,
// alone or inside an edit that shows clip A before it and clip B after it.
//
// The calling thread reads the clips in order and hands frames out in
// order; `jobs` worker threads make the render calls, each of which stands
// alone, so frames can be rendered side by side. Frames of one clip alone
// are its pictures as read, with no render call; when the consumer takes
// them, those that fill the frame as they are go to it undrawn.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "clip_source.h"
#include "effect_settings.h"
#include "host_frame.h"
#include "media_output.h"
#include "module_host.h"
#include "progress_meter.h"

namespace granulix::cli {

struct TransitionPlan {
    int32_t width = 0, height = 0;
    int frameCount = 0;       // N: frame i of the transition has progress i / (N - 1)
    FrameRate rate;           // of the output: frame i shows the clips i / rate seconds in
    std::vector<int> frames;  // the frames to render, ascending, each below N
    int32_t fieldMode = 0;
    Region region;  // in the frames' memory order
    EffectSettings settings{};
    int jobs = 1;

    // Frame i renders with progress (i - progressOrigin) / progressSpan.
    double progressOrigin = 0, progressSpan = 1;
    // An edit: frames before `transitionStart` show clip A alone, frames from
    // `transitionEnd` on clip B alone, and clip B's first picture comes at
    // `transitionStart`. The plain transition has neither.
    int transitionStart = 0;
    int transitionEnd = INT32_MAX;

    float progressOf(int index) const { return float((index - progressOrigin) / progressSpan); }
};

// Progress of frame i of n (n >= 2): 0 for the first, 1 for the last.
float frameProgress(int index, int frameCount);

// Work on a finished frame that may run on a worker thread (e.g. PNG
// compression); may be empty.
using FramePreparer = std::function<PreparedFrame(const HostFrame&)>;
// Work on a frame of one clip alone given as the clip's decoded picture,
// on a worker thread, in place of drawing it; none when the picture is to
// be drawn after all. May be empty: every frame is then drawn.
using PicturePreparer = std::function<std::optional<PreparedFrame>(const AVFrame&)>;
// Receives every frame, in order, on the calling thread; a frame given to
// the PicturePreparer comes as what it made, beside a frame not drawn.
using FrameConsumer = std::function<void(int index, const HostFrame&, PreparedFrame&&)>;

// Throws CliError when a clip fails, a render call returns 0, a consumer
// throws, or `stop` becomes true (then with "interrupted").
void renderTransition(const Module& module, ClipSource& clipA, ClipSource& clipB,
                      const TransitionPlan& plan, const FramePreparer& prepare,
                      const FrameConsumer& consume, ProgressMeter& progress,
                      const std::atomic<bool>& stop,
                      const PicturePreparer& preparePicture = nullptr);

}  // namespace granulix::cli
