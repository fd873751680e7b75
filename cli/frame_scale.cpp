#include "frame_scale.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include "cli_error.h"
#include "ffmpeg_util.h"

namespace granulix::cli {

HostFrame scaleFrame(const HostFrame& frame, int32_t width, int32_t height) {
    HostFrame out(width, height);
    SwsContext* scaler =
        sws_getContext(frame.width, frame.height, AV_PIX_FMT_BGR24, width, height, AV_PIX_FMT_BGR24,
                       SWS_AREA | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    if (!scaler)
        throw CliError("cannot scale a frame to " + std::to_string(width) + "x" +
                       std::to_string(height));
    // Both frames are bottom-up; scaling row order as it is keeps them so.
    const uint8_t* source[4] = {frame.bytes.data(), nullptr, nullptr, nullptr};
    const int sourceStride[4] = {int(frame.stride), 0, 0, 0};
    uint8_t* destination[4] = {out.bytes.data(), nullptr, nullptr, nullptr};
    const int destinationStride[4] = {int(out.stride), 0, 0, 0};
    sws_scale(scaler, source, sourceStride, 0, frame.height, destination, destinationStride);
    sws_freeContext(scaler);
    return out;
}

}  // namespace granulix::cli
