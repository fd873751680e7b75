// Draws a picture of 32-bit pixels, kept by the caller, into a rectangle of
// a window through the platform's DrawDib calls, stretched as needed.
//
// open() describes the picture (width x height words, bottom-up rows, as
// the host's frames) and opens the drawing handle; draw() paints it into a
// window's client area, as often as wanted; close(), or the destructor,
// releases the handle.
#pragma once

#include <windows.h>
#include <vfw.h>

#include <cstdint>

namespace granulix::fw {

// Where a picture goes in a window's client area.
struct PaintTarget {
    int x, y, width, height;
};

class DibPainter {
public:
    DibPainter() = default;
    ~DibPainter() { close(); }
    DibPainter(const DibPainter&) = delete;
    DibPainter& operator=(const DibPainter&) = delete;

    // False, leaving it closed, when the platform gives no drawing handle.
    bool open(int32_t width, int32_t height);
    void close();
    bool isOpen() const { return handle_ != nullptr; }

    // Paints `pixels` into `target` of `window`; nothing when closed or
    // when the window gives no device context.
    void draw(HWND window, const uint32_t* pixels, const PaintTarget& target) const;

private:
    HDRAWDIB handle_ = nullptr;
    BITMAPINFOHEADER header_{};
};

}  // namespace granulix::fw
