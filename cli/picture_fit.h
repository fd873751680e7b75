// Where a decoded picture lands in an output frame: which part of it is
// used, the size it is scaled to, and where it is put after turning it the
// way its file says it is shown.
//
// Sizes of the source are in stored pixels; `pixelAspect` is the width of
// one stored pixel against its height, and `clockwiseTurn` is 0, 90, 180 or
// 270 degrees, the turn that makes the stored picture upright.
#pragma once

#include <cstdint>

#include "clip_source.h"

namespace granulix::cli {

struct PicturePlacement {
    int32_t cropX = 0, cropY = 0, cropWidth = 0, cropHeight = 0;  // part of the stored picture
    int32_t scaledWidth = 0, scaledHeight = 0;  // that part scaled, still unturned
    int32_t left = 0, top = 0;                  // the turned picture's place in the frame
    int32_t turnedWidth() const;
    int32_t turnedHeight() const;
    int clockwiseTurn = 0;
};

// The size a picture is shown at: turned, and with square pixels.
void displaySize(int32_t width, int32_t height, double pixelAspect, int clockwiseTurn,
                 int32_t& shownWidth, int32_t& shownHeight);

PicturePlacement placePicture(int32_t width, int32_t height, double pixelAspect, int clockwiseTurn,
                              FitMode mode, int32_t frameWidth, int32_t frameHeight);

}  // namespace granulix::cli
