// Every choice the renderer makes for a frame, made once before it draws.
//
// planFrame() reads the job and the frame's values and settles how the
// frame is drawn: which mode, which of the settler's specialisations,
// four elements at a time or one, each element drawn as it is settled or a
// row settled first, on one thread or shared out. The traversal then only
// follows the plan; renderWorkspaceBytes() asks the same plan before any
// table exists.
#pragma once

#include <cstdint>

#include "render_job.h"
#include "renderer.h"
#include "task_runner.h"

namespace granulix::rendering {

struct FramePlan {
    bool perPixel = false;    // PixelMode; else CellMode
    bool late = false;        // a binding reads the drawing so far: one thread, drawLateRow
    bool delayBytes = false;  // the delay binding is a byte kind, read element by element
    bool moveNoise = false;   // movement noise has a weight: draws 3 and 4 pick the speeds
    bool accel = false;       // gravity or wind: the displacement has its a x t x t term
    bool fourWide = false;    // settleFours takes four elements at a time
    bool fused = false;       // each element drawn as it is settled, not a row settled first
    TaskRunner* sharedWith = nullptr;  // the threads the frame is shared out among; nullptr: one
};

// The plan of the frame `job` renders with values `f`. The job needs its
// settings; its frames need not be there yet.
FramePlan planFrame(const RenderJob& job, const FrameValues& f);

}  // namespace granulix::rendering
