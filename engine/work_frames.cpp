#include "work_frames.h"

#include "checked_size.h"

namespace granulix {

uint32_t positionFromProgress(float progress) {
    if (!(progress > 0.0f)) return 0;  // also NaN
    if (progress >= 1.0f) return 65536;
    return static_cast<uint32_t>(static_cast<double>(progress) * 65536.0);
}

uint64_t workFramePixels(int64_t width, int64_t rows) {
    if (width < 1 || rows < 1 || rows > INT32_MAX) return 0;
    return checkedProduct(UINT32_MAX, uint64_t(width), uint64_t(rows)).value_or(0);
}

}  // namespace granulix
