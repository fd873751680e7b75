// Source maps: the grey value (0..255) that drives one particle parameter
// at one position, read from a colour byte of a frame or from a ramp, and
// tiled, mirrored and inverted as a SourceBinding says.
#pragma once

#include <cstdint>

#include "effect_settings.h"

namespace granulix {

// The values of a byte: of a source map, or of one draw of the random stream.
constexpr int kByteValues = 256;

enum SourceKind : uint32_t {
    kRed1 = 0,
    kGreen1,
    kBlue1,
    kAlpha1,  // bytes of image 1 (clip A)
    kRed2,
    kGreen2,
    kBlue2,
    kAlpha2,  // bytes of image 2
    kDiag1,
    kDiag1S,
    kDiag2,
    kDiag2S,  // diagonal ramps, "S": mirrored tiles
    kGradX,
    kGradY,
    kBlack,
    kLastSourceKind = kBlack
};

// Value of the map at (x, y) of a width x height frame. width and height must
// not be 0; the byte kinds read image1/image2 at the tiled position, which
// always lies inside the frame. Kinds above 14 yield the low byte of height.
double sourceValue(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint32_t kind,
                   uint32_t repeatX, uint32_t repeatY, int32_t oddX, int32_t oddY, int32_t invert,
                   const uint32_t* image1, const uint32_t* image2);

// The same, with the binding's fields.
inline double sourceValue(uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                          const SourceBinding& b, const uint32_t* image1, const uint32_t* image2) {
    return sourceValue(x, y, width, height, static_cast<uint32_t>(b.kind),
                       static_cast<uint32_t>(b.repeatX), static_cast<uint32_t>(b.repeatY), b.oddX,
                       b.oddY, b.invert, image1, image2);
}

}  // namespace granulix
