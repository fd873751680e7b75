// Conversion of host frames (24 bits a pixel) to work frames (one word a
// pixel) and back.
//
// renderHostFrames gets a render job whose geometry, processing rectangle,
// field mode and bit count are the host's, and the host's three frames. It
// converts the rectangle of clip A and clip B into one locked work block
// (clip B into the output frame, where the renderer draws over it), runs the
// renderer over whole work frames and copies the rendered rectangle
// into the host's output rows. In a field mode every host row is
// present twice in the work frames, the renderer sees twice the height, and
// only the chosen field's rows go back.
//
// Host frames: 3 bytes a pixel (blue, green, red), rows padded to 4 bytes,
// in memory order. Work pixels: one word, blue in the low byte, top byte 0.
#pragma once

#include <cstdint>

#include "render_job.h"

namespace granulix::host {

struct HostFrames {
    const uint8_t* clipA;
    const uint8_t* clipB;
    uint8_t* output;
};

// The work word of the host pixel at p.
inline uint32_t workPixel(const uint8_t* p) {
    return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | uint32_t{p[0]};
}

// Writes a work word back as a host pixel; the top byte is dropped.
inline void storeHostPixel(uint32_t word, uint8_t* p) {
    p[0] = static_cast<uint8_t>(word);
    p[1] = static_cast<uint8_t>(word >> 8);
    p[2] = static_cast<uint8_t>(word >> 16);
}

// The work block holds clip A and the output, which starts as clip B.
constexpr uint64_t kWorkFrames = 2;

// Bytes of the work block for a frame: two buffers of 4 bytes a pixel,
// each twice as tall in a field mode. 0 when the frame has no pixels, when
// a work frame would have 2^32 pixels or more (the engine's source maps
// address pixels with 32-bit indices) or more rows than an int32 holds, or
// when the block would exceed `limit` bytes. Computed in 64 bits, so frames
// whose 32-bit block size wraps are refused, not under-allocated.
uint64_t workBlockBytes(int32_t width, int32_t height, int32_t fieldMode,
                        uint64_t limit = SIZE_MAX);

// The part [begin, end) of the range that starts at `start` and covers
// `count` items (both unsigned, without wrapping) that lies in 0..extent-1.
struct Span {
    uint32_t begin, end;
};
Span clipSpan(uint32_t start, uint32_t count, int32_t extent);

// Converts, renders and writes back as above. Returns 1 when it ran the
// renderer and wrote the rectangle back (an empty rectangle writes nothing
// and still counts), 0 when it wrote nothing: a bit count other than 24, a
// missing frame, a frame with no pixels or too many, or no work memory.
// Host pixels outside the clipped rectangle are never written. May throw
// std::bad_alloc from the renderer; the work block goes back to the pool
// (work_block.h) either way.
int32_t renderHostFrames(RenderJob& job, const HostFrames& frames);

}  // namespace granulix::host
