#include "source_map.h"

namespace granulix {

double sourceValue(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint32_t kind,
                   uint32_t repeatX, uint32_t repeatY, int32_t oddX, int32_t oddY, int32_t invert,
                   const uint32_t* image1, const uint32_t* image2) {
    const uint32_t xr = x * repeatX;  // wraps modulo 2^32, as stored maps expect
    const uint32_t yr = y * repeatY;
    const uint32_t xm = xr % width;
    const uint32_t ym = yr % height;
    const bool oddAcross = oddX != 0 && ((xr / width) & 1u) != 0;
    const bool oddDown = oddY != 0 && ((yr / height) & 1u) != 0;
    const double extent = static_cast<double>(width + height);

    if (kind < kDiag1 || kind > kBlack) {
        uint32_t v;
        if (kind < kRed2) {
            v = image1[ym * width + xm] >> (8 * kind);
        } else if (kind < kDiag1) {
            v = image2[ym * width + xm] >> (8 * (kind - kRed2));
        } else {
            v = height;
        }
        if (oddAcross) v ^= 255u;
        if (oddDown) v ^= 255u;
        if (invert != 0) v ^= 255u;
        return static_cast<double>(v & 255u);
    }

    double v = 0.0;
    switch (kind) {
        case kDiag1S:
        case kDiag2S: {
            // Mirrored tiles reflect the coordinates, not the value.
            const uint32_t xs = oddAcross ? width - xm : xm;
            const uint32_t ys = oddDown ? height - ym : ym;
            const uint32_t sum = kind == kDiag1S ? xs + ys : width - xs + ys;
            v = static_cast<double>(sum) * 255.0 / extent;
            return invert != 0 ? 255.0 - v : v;
        }
        case kDiag1: v = static_cast<double>(xm + ym) * 255.0 / extent; break;
        case kDiag2: v = static_cast<double>(width - xm + ym) * 255.0 / extent; break;
        case kGradX: v = static_cast<double>(xm) * 255.0 / static_cast<double>(width); break;
        case kGradY: v = static_cast<double>(ym) * 255.0 / static_cast<double>(height); break;
        default: v = 0.0; break;  // kBlack
    }
    if (oddAcross) v = 255.0 - v;
    if (oddDown) v = 255.0 - v;
    if (invert != 0) v = 255.0 - v;
    return v;
}

}  // namespace granulix
