#include "contact_sheet.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli_error.h"

namespace granulix::cli {

namespace {

constexpr int kMargin = 12;
constexpr int kGlyphWidth = 5, kGlyphHeight = 7, kGlyphScale = 2;
constexpr int kLabelHeight = kGlyphHeight * kGlyphScale + 10;
constexpr uint8_t kBackground = 28;

// 5 x 7 glyphs, one byte a row, the top row first, bit 4 the left column.
struct Glyph {
    char c;
    uint8_t rows[kGlyphHeight];
};
constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
};

const Glyph* glyphFor(char c) {
    for (const Glyph& g : kGlyphs) {
        if (g.c == c) return &g;
    }
    return nullptr;
}

// Draws `text` with its top left corner at picture position (left, top).
void drawText(HostFrame& sheet, const std::string& text, int left, int top) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const Glyph* g = glyphFor(text[i]);
        if (!g) continue;
        const int x0 = left + int(i) * (kGlyphWidth + 1) * kGlyphScale;
        for (int gy = 0; gy < kGlyphHeight * kGlyphScale; ++gy) {
            const uint8_t bits = g->rows[gy / kGlyphScale];
            uint8_t* line = sheet.lineFromTop(top + gy);
            for (int gx = 0; gx < kGlyphWidth * kGlyphScale; ++gx) {
                if (bits & (0x10 >> (gx / kGlyphScale))) std::memset(line + 3 * (x0 + gx), 235, 3);
            }
        }
    }
}

}  // namespace

std::string progressLabel(float progress) {
    char text[16];
    std::snprintf(text, sizeof text, "%.3f", double(progress));
    return text;
}

namespace {

struct SheetGrid {
    int columns, cellW, cellH;
    int32_t width, height;
};

SheetGrid sheetGrid(int32_t tileW, int32_t tileH, int count, int columns) {
    if (count < 1 || columns < 1) throw CliError("a contact sheet needs at least one frame");
    columns = std::min(columns, count);
    const int rows = (count + columns - 1) / columns;
    const int labelW = int(progressLabel(1).size()) * (kGlyphWidth + 1) * kGlyphScale;
    const int cellW = std::max(tileW, labelW), cellH = tileH + kLabelHeight;
    const int64_t width = int64_t(columns) * (cellW + kMargin) + kMargin;
    const int64_t height = int64_t(rows) * (cellH + kMargin) + kMargin;
    if (width > kMaxFrameSide || height > kMaxFrameSide) {
        throw usageError("the contact sheet would be " + std::to_string(width) + "x" +
                         std::to_string(height) + " pixels; use fewer or smaller tiles");
    }
    return {columns, cellW, cellH, int32_t(width), int32_t(height)};
}

}  // namespace

void sheetSize(int32_t tileWidth, int32_t tileHeight, int count, int columns, int32_t& width,
               int32_t& height) {
    const SheetGrid grid = sheetGrid(tileWidth, tileHeight, count, columns);
    width = grid.width;
    height = grid.height;
}

HostFrame composeSheet(const std::vector<SheetTile>& tiles, int columns) {
    if (tiles.empty()) throw CliError("a contact sheet needs at least one frame");
    const int32_t tileW = tiles.front().picture.width, tileH = tiles.front().picture.height;
    const SheetGrid grid = sheetGrid(tileW, tileH, int(tiles.size()), columns);
    columns = grid.columns;
    const int cellW = grid.cellW, cellH = grid.cellH;
    HostFrame sheet{grid.width, grid.height};
    std::fill(sheet.bytes.begin(), sheet.bytes.end(), kBackground);

    for (std::size_t i = 0; i < tiles.size(); ++i) {
        const int left = kMargin + int(i % std::size_t(columns)) * (cellW + kMargin);
        const int top = kMargin + int(i / std::size_t(columns)) * (cellH + kMargin);
        const int pictureLeft = left + (cellW - tileW) / 2;
        const HostFrame& picture = tiles[i].picture;
        for (int32_t line = 0; line < tileH; ++line) {
            std::memcpy(sheet.lineFromTop(top + line) + 3 * pictureLeft, picture.lineFromTop(line),
                        std::size_t(tileW) * 3);
        }
        const std::string label = progressLabel(tiles[i].progress);
        const int textW = int(label.size()) * (kGlyphWidth + 1) * kGlyphScale - kGlyphScale;
        drawText(sheet, label, left + (cellW - textW) / 2, top + tileH + 5);
    }
    return sheet;
}

}  // namespace granulix::cli
