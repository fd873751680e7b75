// The records of one render call, filled as a host fills them: the header
// the three frames share and the RenderRequest that points at the frames.
// Every caller of ours that renders through the export (the granulix
// program, the test host, the benchmarks, the tests and the fuzz targets)
// builds its call here.
//
//   const abi::FrameHeader header = abi::hostFrameHeader(width, height);
//   abi::RenderRequest request =
//       abi::renderRequest(header, {clipA, clipB, output}, 0.5f, settings);
//   applyEffect(1, &request, fieldMode);
//
// The request renders the whole frame unless a region is given; its unread
// stretches are zero. The header must outlive the call.
#pragma once

#include <cstdint>
#include <cstring>

#include "plugin_abi.h"

namespace granulix::abi {

// The three frames of a call, host rows bottom-up; the output may be clip B.
struct RenderFrames {
    const uint8_t* clipA;
    const uint8_t* clipB;
    uint8_t* output;
};

// The processing rectangle, in memory row order.
struct RenderRegion {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// The header of a width x height frame of bitCount bits per pixel. The
// image size is filled for a 24-bit frame whose rows fit 32 bits, and left
// 0, as the platform allows for an uncompressed frame, otherwise.
inline FrameHeader hostFrameHeader(int32_t width, int32_t height, uint16_t bitCount = 24) {
    FrameHeader header;
    std::memset(&header, 0, sizeof header);
    header.size = sizeof header;
    header.width = width;
    header.height = height;
    header.planes = 1;
    header.bitCount = bitCount;
    if (bitCount == 24 && width > 0 && height > 0) {
        const uint64_t bytes = hostRowBytes(uint64_t(width)) * uint64_t(height);  // below 2^64
        if (bytes <= UINT32_MAX) header.sizeImage = uint32_t(bytes);
    }
    return header;
}

// A request for the frames at progress (0..1) over region, with the host's
// settings block (null for the defaults).
inline RenderRequest renderRequest(const FrameHeader& header, const RenderFrames& frames,
                                   float progress, uint8_t* settings, const RenderRegion& region) {
    RenderRequest request;
    std::memset(&request, 0, sizeof request);
    request.output = frames.output;
    request.header = &header;
    request.clipA = frames.clipA;
    request.clipB = frames.clipB;
    request.progress = progress;
    request.regionX = region.x;
    request.regionY = region.y;
    request.regionWidth = region.width;
    request.regionHeight = region.height;
    request.settings = settings;
    return request;
}

// The same over the whole frame.
inline RenderRequest renderRequest(const FrameHeader& header, const RenderFrames& frames,
                                   float progress, uint8_t* settings) {
    return renderRequest(header, frames, progress, settings,
                         RenderRegion{0, 0, header.width, header.height});
}

}  // namespace granulix::abi
