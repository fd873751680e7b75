// Pictures for the command-line tests: random test pictures, PNG files read
// and written with libavcodec directly (not through the program's code), and
// frames rendered by calling the module's export directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "effect_settings.h"
#include "render_call.h"

namespace granulix::testing {

// 8-bit RGB, top line first, no padding.
struct Picture {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;

    bool operator==(const Picture& o) const {
        return width == o.width && height == o.height && rgb == o.rgb;
    }
};

Picture randomPicture(int32_t width, int32_t height, uint32_t seed);
void writePng(const std::string& path, const Picture& picture);
Picture readPng(const std::string& path);

// A clip of lossless pictures (PNG in MOV) at `rateNum`/`rateDen` frames per
// second, tagged to be shown turned `clockwiseTurn` degrees.
void writeClip(const std::string& path, const std::vector<Picture>& pictures, int rateNum,
               int rateDen, int clockwiseTurn = 0);
// The picture turned a quarter clockwise.
Picture turnedClockwise(const Picture& p);

// What ffprobe says of a video file's first video stream, every packet
// decoded: the number of pictures, their size and format, the stream's
// frame rate ("30000/1001"), its colour tags as "range/matrix/transfer/
// primaries" ("tv/bt709/bt709/bt709"), the file's duration in seconds and
// the rotation of its display matrix.
struct VideoFacts {
    int frames = 0;
    int32_t width = 0, height = 0;
    std::string codec, pixelFormat, rate, colour;
    double duration = 0;
    int rotation = 0;
};
VideoFacts probeVideo(const std::string& path);

// Processing rectangle as the module takes it: rows counted from the bottom.
using ModuleRegion = abi::RenderRegion;

// One vxDLLApplyEffect call of the built module, made here without the
// program. The output frame starts black.
Picture renderDirectly(const Picture& a, const Picture& b, float progress, int32_t fieldMode,
                       const ModuleRegion& region, const EffectSettings& settings);

// vxDLLGetDefault of the built module, over a zeroed block.
EffectSettings moduleDefaults();

}  // namespace granulix::testing
