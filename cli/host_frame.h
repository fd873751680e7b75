// A frame as the module's host records describe it: 24 bits per pixel (blue,
// green, red), every row padded to a multiple of 4 bytes, rows bottom-up
// (memory row 0 is the bottom line of the picture).
#pragma once

#include <cstdint>
#include <vector>

#include "plugin_abi.h"

namespace granulix::cli {

struct HostFrame {
    int32_t width = 0;
    int32_t height = 0;
    uint64_t stride = 0;  // bytes per row, a multiple of 4
    std::vector<uint8_t> bytes;

    HostFrame() = default;
    HostFrame(int32_t w, int32_t h);  // throws CliError when the size is unusable

    uint8_t* row(int32_t memoryRow) { return bytes.data() + stride * uint64_t(memoryRow); }
    const uint8_t* row(int32_t memoryRow) const {
        return bytes.data() + stride * uint64_t(memoryRow);
    }
    // The row that holds picture line `line`, counted from the top.
    uint8_t* lineFromTop(int32_t line) { return row(height - 1 - line); }
    const uint8_t* lineFromTop(int32_t line) const { return row(height - 1 - line); }
};

// Largest width or height the host accepts; keeps every size computation of
// the module (four bytes a pixel, twice the rows in a field mode) far inside
// 32 bits of pixels and 64 bits of bytes.
constexpr int32_t kMaxFrameSide = 16384;

}  // namespace granulix::cli
