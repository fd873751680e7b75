// Small helpers shared by the FFmpeg input and output code.
#pragma once

extern "C" {
#include <libavutil/error.h>
#include <libswscale/swscale.h>
}

#include <string>

namespace granulix::cli {

inline std::string ffmpegError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// Flags for every conversion: exact rounding, full chroma resolution.
constexpr int kScaleFlags = SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;

}  // namespace granulix::cli
