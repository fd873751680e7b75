// Pictures for the command-line tests: random test pictures, PNG files read
// and written with libavcodec directly (not through the program's code), and
// frames rendered by calling the module's export directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "effect_settings.h"

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

// Decodes a video file; the number of pictures and their size.
struct VideoFacts {
    int frames = 0;
    int32_t width = 0, height = 0;
    std::string codec;
};
VideoFacts probeVideo(const std::string& path);

// Processing rectangle as the module takes it: rows counted from the bottom.
struct ModuleRegion {
    int32_t x, y, width, height;
};

// One vxDLLApplyEffect call of the built module, made here without the
// program. The output frame starts black.
Picture renderDirectly(const Picture& a, const Picture& b, float progress, int32_t fieldMode,
                       const ModuleRegion& region, const EffectSettings& settings);

// vxDLLGetDefault of the built module, over a zeroed block.
EffectSettings moduleDefaults();

}  // namespace granulix::testing
