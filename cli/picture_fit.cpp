#include "picture_fit.h"

#include <algorithm>
#include <cmath>

namespace granulix::cli {

namespace {

int32_t whole(double v, int32_t most) {
    return int32_t(std::clamp(double(std::llround(v)), 1.0, double(most)));
}

bool turnsSideways(int clockwiseTurn) { return clockwiseTurn % 180 != 0; }

}  // namespace

int32_t PicturePlacement::turnedWidth() const {
    return turnsSideways(clockwiseTurn) ? scaledHeight : scaledWidth;
}

int32_t PicturePlacement::turnedHeight() const {
    return turnsSideways(clockwiseTurn) ? scaledWidth : scaledHeight;
}

void displaySize(int32_t width, int32_t height, double pixelAspect, int clockwiseTurn,
                 int32_t& shownWidth, int32_t& shownHeight) {
    const int32_t w = int32_t(std::max<long long>(1, std::llround(width * pixelAspect)));
    shownWidth = turnsSideways(clockwiseTurn) ? height : w;
    shownHeight = turnsSideways(clockwiseTurn) ? w : height;
}

PicturePlacement placePicture(int32_t width, int32_t height, double pixelAspect, int clockwiseTurn,
                              FitMode mode, int32_t frameWidth, int32_t frameHeight) {
    const bool sideways = turnsSideways(clockwiseTurn);
    // The picture as shown, in square pixels.
    const double shownWidth = sideways ? height : width * pixelAspect;
    const double shownHeight = sideways ? width * pixelAspect : height;

    PicturePlacement p;
    p.clockwiseTurn = clockwiseTurn;
    p.cropWidth = width;
    p.cropHeight = height;
    int32_t placedWidth = frameWidth, placedHeight = frameHeight;
    if (mode == FitMode::kPad) {
        const double k = std::min(frameWidth / shownWidth, frameHeight / shownHeight);
        placedWidth = whole(shownWidth * k, frameWidth);
        placedHeight = whole(shownHeight * k, frameHeight);
        p.left = (frameWidth - placedWidth) / 2;
        p.top = (frameHeight - placedHeight) / 2;
    } else if (mode == FitMode::kCrop) {
        // The part of the shown picture that covers the frame, centred.
        const double k = std::max(frameWidth / shownWidth, frameHeight / shownHeight);
        const double visibleWidth = frameWidth / k, visibleHeight = frameHeight / k;
        p.cropWidth = whole((sideways ? visibleHeight : visibleWidth) / pixelAspect, width);
        p.cropHeight = whole(sideways ? visibleWidth : visibleHeight, height);
        p.cropX = (width - p.cropWidth) / 2;
        p.cropY = (height - p.cropHeight) / 2;
    }
    p.scaledWidth = sideways ? placedHeight : placedWidth;
    p.scaledHeight = sideways ? placedWidth : placedHeight;
    return p;
}

}  // namespace granulix::cli
