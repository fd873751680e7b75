// A contact sheet: frames of a transition side by side in a grid, each
// labelled with its progress ("0.000" to "1.000") beneath it.
#pragma once

#include <string>
#include <vector>

#include "host_frame.h"

namespace granulix::cli {

struct SheetTile {
    HostFrame picture;  // all tiles of one sheet share a size
    float progress;
};

HostFrame composeSheet(const std::vector<SheetTile>& tiles, int columns);

// The size of the sheet composeSheet makes of `count` tiles; throws a usage
// error when it would be too large.
void sheetSize(int32_t tileWidth, int32_t tileHeight, int count, int columns, int32_t& width,
               int32_t& height);

// The label drawn under a tile of this progress.
std::string progressLabel(float progress);

}  // namespace granulix::cli
