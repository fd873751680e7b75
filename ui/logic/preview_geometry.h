// Where the preview picture sits in the "Preview" box, and the text of the
// time label under it. Plain arithmetic, free of any window system, so that
// it is tested on every platform.
#pragma once

#include <cstdint>
#include <string>

namespace granulix {

struct PreviewPlacement {
    int32_t x, y, width, height;  // in the box's client area, pixels
};

// Places a W x H picture in a box whose client area is CW x CH. Narrower
// than the box: centred across. Lower than the box: centred in the part
// below the box's top 10 pixels (its caption) when there is room for that,
// otherwise with its bottom 2 pixels above the box's bottom, or half-way on
// the last one or two spare pixels. A picture as large as the box or larger
// fills it in that direction, from 0, and is scaled down.
PreviewPlacement placePreview(int32_t pictureWidth, int32_t pictureHeight, int32_t clientWidth,
                              int32_t clientHeight);

// The two lines of the time label: "Duration: <n>" and "Preview:  <p>",
// each number at the start of a blank field (16 and 17 characters), the
// lines joined by a line feed; 54 characters in all.
std::string timeLabelText(int32_t duration, int32_t previewPosition);

}  // namespace granulix
