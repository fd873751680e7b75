// The video encoders an output can use, one row each, and the choice among
// them by --codec and the output's name; shared by the checks on a video
// output's name, size and rate (video_encoding.cpp) and the sink that
// writes one (video_sink.cpp).
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "media_output.h"

namespace granulix::cli {

// The codecs --codec names and the encoders that make them, best first,
// each with the pixel format and options it starts from.
struct EncoderRow {
    const char* codec;
    const char* encoder;
    const char* pixelFormat;
    std::vector<std::pair<const char*, const char*>> defaults;
    // The stream cannot say its YUV pixels use the full range: they are
    // written in the limited one.
    bool limitedRangeOnly = false;
};

// The encoder chosen for an output and the pixel format it writes.
struct EncoderChoice {
    const EncoderRow& row;
    const AVCodec& codec;
    AVPixelFormat pixelFormat;
};

// The encoder for `encoding` of the video output `target`, whose name ends
// in `extension`, and the pixel format it writes; throws a usage error
// when the container cannot hold what it makes or the encoder lacks the
// pixel format, CliError when FFmpeg has no such encoder.
EncoderChoice chooseEncoding(const std::string& target, const std::string& extension,
                             const VideoEncoding& encoding);

// FFmpeg's name of the container for a video output's extension.
const char* containerOf(const std::string& extension);

// The extension of `name`, in lower case: ".mp4".
std::string lowerExtension(const std::string& name);
bool isVideoExtension(const std::string& ext);
bool isVideoTarget(const std::string& target);

// A size as messages write it: "1920x1080".
std::string sizeText(int64_t width, int64_t height);

}  // namespace granulix::cli
