#include "preview_geometry.h"

#include <cstdio>

namespace granulix {

PreviewPlacement placePreview(int32_t W, int32_t H, int32_t CW, int32_t CH) {
    PreviewPlacement p{};
    if (W < CW) {
        p.width = W;
        p.x = (CW - W) / 2;
    } else {
        p.width = CW;
        p.x = 0;
    }
    if (H < CH) {
        const int32_t spare = CH - H;
        if (spare / 2 > 10)
            p.y = (spare - 10) / 2 + 10;
        else if (spare > 2)
            p.y = spare - 2;
        else
            p.y = spare / 2;
        p.height = H;
    } else {
        p.height = CH;
        p.y = 0;
    }
    return p;
}

namespace {

// Writes a number at `at` without a terminator; the field keeps its blanks.
void writeField(std::string& text, std::size_t at, std::size_t width, int32_t value) {
    char digits[16];
    const int n = std::snprintf(digits, sizeof digits, "%i", static_cast<int>(value));
    for (int i = 0; i < n && std::size_t(i) < width; ++i) text[at + i] = digits[i];
}

}  // namespace

std::string timeLabelText(int32_t duration, int32_t previewPosition) {
    // "Duration:" blank [10..25] line feed "Preview:" two blanks [37..53]
    std::string text = "Duration:                 \nPreview:                   ";
    writeField(text, 10, 16, duration);
    writeField(text, 37, 17, previewPosition);
    return text;
}

}  // namespace granulix
