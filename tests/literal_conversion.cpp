#include "literal_conversion.h"

#include "reference_renderer.h"

namespace granulix::testing {
namespace {

bool inside(uint32_t v, int32_t start, int32_t count) {
    const uint64_t s = static_cast<uint32_t>(start);
    return v >= s && v < s + static_cast<uint32_t>(count);
}

}  // namespace

// The rectangle clipped to the frame, clip pixels b2 * 65536 + b1 * 256 + b0,
// zero outside the rectangle, every host row twice in a field mode, then the
// field's rows written back.
std::vector<uint8_t> expectedOutput(const HostFrames& f, const RenderRecord& r,
                                    const EffectSettings& settings, int32_t fieldMode) {
    const uint32_t W = f.a.width, H = f.a.height;
    const uint32_t copies = fieldMode == 0 ? 1 : 2;
    const uint32_t workH = H * copies;
    std::vector<uint32_t> a(W * workH, 0), b(W * workH, 0), out(W * workH, 0x12345678);
    for (uint32_t y = 0; y < H; ++y) {
        for (uint32_t x = 0; x < W; ++x) {
            if (!inside(x, r.regionX, r.regionWidth) || !inside(y, r.regionY, r.regionHeight)) {
                continue;
            }
            const uint8_t* pa = f.a.pixel(x, y);
            const uint8_t* pb = f.b.pixel(x, y);
            for (uint32_t c = 0; c < copies; ++c) {
                a[(y * copies + c) * W + x] = pa[2] * 65536u + pa[1] * 256u + pa[0];
                b[(y * copies + c) * W + x] = pb[2] * 65536u + pb[1] * 256u + pb[0];
            }
        }
    }
    EffectSettings s = settings;
    reference::render(workFramesJob(
        65536, static_cast<uint32_t>(static_cast<double>(r.progress) * 65536.0),
        static_cast<int32_t>(W), static_cast<int32_t>(workH), {a.data(), b.data(), out.data()}, s));

    HostFrame result = f.out;
    for (uint32_t row = 0; row < workH; ++row) {
        if (fieldMode == 1 && row % 2 == 0) continue;
        if (fieldMode == 2 && row % 2 == 1) continue;
        const uint32_t y = row / copies;
        if (!inside(y, r.regionY, r.regionHeight)) continue;
        for (uint32_t x = 0; x < W; ++x) {
            if (!inside(x, r.regionX, r.regionWidth)) continue;
            const uint32_t word = out[row * W + x];
            uint8_t* p = result.pixel(x, y);
            p[0] = word & 255;
            p[1] = (word >> 8) & 255;
            p[2] = (word >> 16) & 255;
        }
    }
    return result.storage;
}

}  // namespace granulix::testing
