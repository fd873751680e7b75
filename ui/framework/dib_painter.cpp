#include "dib_painter.h"

namespace granulix::fw {

bool DibPainter::open(int32_t width, int32_t height) {
    close();
    header_ = BITMAPINFOHEADER{};
    header_.biSize = sizeof(BITMAPINFOHEADER);
    header_.biWidth = width;
    header_.biHeight = height;
    header_.biPlanes = 1;
    header_.biBitCount = 32;
    header_.biCompression = BI_RGB;
    handle_ = DrawDibOpen();
    return handle_ != nullptr;
}

void DibPainter::close() {
    if (handle_) DrawDibClose(handle_);
    handle_ = nullptr;
}

void DibPainter::draw(HWND window, const uint32_t* pixels, const PaintTarget& target) const {
    if (!handle_) return;
    HDC dc = GetDC(window);
    if (!dc) return;
    DrawDibDraw(handle_, dc, target.x, target.y, target.width, target.height,
                const_cast<BITMAPINFOHEADER*>(&header_), const_cast<uint32_t*>(pixels), 0, 0,
                header_.biWidth, header_.biHeight, 0);
    ReleaseDC(window, dc);
}

}  // namespace granulix::fw
