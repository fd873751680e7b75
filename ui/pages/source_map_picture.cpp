#include "source_map_picture.h"

#include "source_map.h"

namespace granulix {

MapPlacement placeSourceMap(int boxWidth, int boxHeight) {
    MapPlacement p{};
    if (boxWidth > kSourceMapWidth) {
        p.left = (boxWidth - kSourceMapWidth) / 2;
        p.width = kSourceMapWidth;
    } else {
        p.left = 0;
        p.width = boxWidth;
    }
    if (boxHeight > kSourceMapHeight) {
        const int spare = boxHeight - kSourceMapHeight;
        if (spare / 2 > 10)
            p.top = (spare - 10) / 2 + 10;
        else if (spare > 2)
            p.top = spare - 2;
        else
            p.top = spare / 2;
        p.height = kSourceMapHeight;
    } else {
        p.top = 0;
        p.height = boxHeight;
    }
    return p;
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
            const double v = sourceValue(x, y, static_cast<uint32_t>(width),
                                         static_cast<uint32_t>(height), binding, job.pixelsA,
                                         job.pixelsB);
            const auto grey = static_cast<uint32_t>(static_cast<int32_t>(v)) & 0xFFu;
            row[i] = grey * 0x01010101u;
        }
    }
    return true;
}

}  // namespace granulix
