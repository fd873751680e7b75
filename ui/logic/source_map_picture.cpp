#include "source_map_picture.h"

#include "preview_geometry.h"
#include "source_map.h"

namespace granulix {

MapPlacement placeSourceMap(int boxWidth, int boxHeight) {
    // The map sits in its box as the preview picture sits in its own.
    const PreviewPlacement p = placePreview(kSourceMapWidth, kSourceMapHeight, boxWidth, boxHeight);
    return {p.x, p.y, p.width, p.height};
}

bool computeSourceMap(const SourceBinding& binding, const RenderJob& job, uint32_t* image) {
    if (image == nullptr || job.pixelsA == nullptr || job.pixelsB == nullptr) return false;
    if (job.width <= 0 || job.height <= 0) return false;
    const int64_t width = job.width;
    const int64_t height = job.height;
    for (int j = 0; j < kSourceMapHeight; ++j) {
        // i * width / 128 stays below width, but the product needs 64 bits.
        const auto y = static_cast<uint32_t>(j * height / kSourceMapHeight);
        uint32_t* row = image + j * kSourceMapWidth;
        for (int i = 0; i < kSourceMapWidth; ++i) {
            const auto x = static_cast<uint32_t>(i * width / kSourceMapWidth);
            const double v =
                sourceValue(x, y, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                            binding, job.pixelsA, job.pixelsB);
            const auto grey = static_cast<uint32_t>(static_cast<int32_t>(v)) & 0xFFu;
            row[i] = grey * 0x01010101u;
        }
    }
    return true;
}

}  // namespace granulix
