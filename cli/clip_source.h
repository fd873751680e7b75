// Where the frames of clip A and clip B come from: a file that FFmpeg reads
// (media_input.h) or a pattern generated in code (builtin_clips.h).
#pragma once

#include "host_frame.h"

namespace granulix::cli {

class ClipSource {
public:
    virtual ~ClipSource() = default;
    // Writes the clip's next frame into `out`, scaled to out's size. A clip
    // that has run out repeats its last frame. Throws CliError when the clip
    // cannot be read or decoded.
    virtual void next(HostFrame& out) = 0;
    // Steps over one frame without producing it.
    virtual void skip() = 0;
};

}  // namespace granulix::cli
