// What every element of a frame shares, settled before the traversal, and
// the bands of output rows a frame shared out among threads is drawn by.
#pragma once

#include <cstdint>
#include <memory_resource>
#include <vector>

#include "element_sampler.h"
#include "render_plan.h"
#include "renderer.h"
#include "source_map.h"

namespace granulix::rendering {

// The traversal visits cell rows (a row of pixels in the per-pixel mode) in
// the chosen order. Everything that does not depend on the element is
// settled before: the source maps as tables by column and row key
// (ElementSampler), whatever an element looks up by a random number, the
// speeds times their shares. An element then costs a few table reads, two
// or four draws of the stream and the multiplications of its formulas, in
// their order.
//
// Settling an element and drawing it are separate steps for cells: a row is
// settled first, then the cells that land in the frame are drawn in visiting
// order, so the long chains of arithmetic run free of the branches of
// clipping, which follow the noise of the start times. Pixels are drawn as
// they are settled (drawing one is too cheap to be worth a second pass),
// except where four are settled at a time.
// Byte kinds of image 2 ("late" bindings) read the output as the elements
// before have left it; traverseRows settles rows ahead only as far as that
// holds.

// Movement terms are taken from (v - kMiddleByte), v a source value or a
// draw of the stream, and lie in -128..127. A term t picks the vertical speed
// centerY + kRowSpeedBias + t, which spans centerY..centerY + 255, and the
// horizontal speed kColumnSpeedBias - centerX + t, which spans
// 256 - centerX..511 - centerX: both inside the speed table.
constexpr int kMiddleByte = 128;
constexpr int kRowSpeedBias = kMiddleByte;
constexpr int kColumnSpeedBias = kSpeedSteps + kMiddleByte;

// What every element of a frame shares, settled before the traversal.
struct Traversal {
    explicit Traversal(std::pmr::memory_resource* m) : memory(m), columns(m), rowStart(m) {}

    std::pmr::memory_resource* memory;  // of every per-frame table
    const FrameValues* f = nullptr;
    ElementGrid grid;
    int32_t W = 0, H = 0;
    const uint32_t* a = nullptr;
    uint32_t* out = nullptr;
    bool rowsReversed = false;
    const FramePlan* plan = nullptr;
    // Everything an element looks up by a random number, side by side.
    struct ByRandom {
        double startNoise[kByteValues];  // noiseDelay x r1
        double life[kByteValues];        // r2 x life spread x c + life base
        double moveNoise[kByteValues];   // (r - kMiddleByte) x noiseMove
    } byRandom;
    double speedY[kSpeedTableSize];   // speed x vertical share
    double speedX[kSpeedTableSize];   // speed x horizontal share
    double rowBias = 0, colBias = 0;  // centerY + kRowSpeedBias and kColumnSpeedBias - centerX
    // Everything about the element visited k-th in a row that is the same in
    // every row, in one record so the traversal keeps one pointer for it.
    struct Column {
        uint32_t key[kBindingCount];  // of each binding's values in a row
        int32_t x;                    // first pixel column
        double xd;                    // the same as a double
    };
    std::pmr::vector<Column> columns;
    std::pmr::vector<uint32_t*> rowStart;  // output rows, for the per-pixel traversal
};

// Output pixel rows [first, end).
struct RowSpan {
    uint32_t first = 0, end = 0;
};

// The output cut into bands of rows for the band pass: band b holds rows
// [H b / count, H (b + 1) / count). A pixel's band is looked up by its index
// in blocks of 2^shift pixels, none larger than the smallest band, so that
// a block holds at most the start of one band.
class BandMap {
public:
    BandMap(uint32_t W, uint32_t H, uint32_t count, std::pmr::memory_resource* memory)
        : W_(W), H_(H), count_(count), blocks_(memory) {
        shift_ = blockShift(W, H, count);
        blocks_.resize(static_cast<size_t>(blockCount(W, H, count)));
        uint32_t band = 0;
        for (size_t i = 0; i < blocks_.size(); ++i) {
            const uint64_t first = uint64_t{i} << shift_;
            while (band + 1 < count && first >= start(band + 1)) ++band;
            blocks_[i] = {band,
                          band + 1 < count ? static_cast<uint32_t>(start(band + 1)) : UINT32_MAX};
        }
    }

    // The blocks of a map of `count` bands over W x H pixels.
    static uint64_t blockCount(uint32_t W, uint32_t H, uint32_t count) {
        return ((uint64_t{W} * H - 1) >> blockShift(W, H, count)) + 1;
    }
    struct Block {
        uint32_t band;  // of the block's first pixel
        uint32_t next;  // the first pixel of the band after it
    };

    RowSpan rows(uint32_t b) const {
        return {static_cast<uint32_t>(uint64_t{H_} * b / count_),
                static_cast<uint32_t>(uint64_t{H_} * (b + 1) / count_)};
    }
    // The band of pixel p (below W x H) or of row y (below H).
    uint32_t ofPixel(uint32_t p) const {
        const Block& k = blocks_[p >> shift_];
        return k.band + (p >= k.next);
    }
    uint32_t ofRow(uint32_t y) const { return ofPixel(y * W_); }

private:
    uint64_t start(uint32_t b) const { return uint64_t{W_} * rows(b).first; }

    // Blocks of 2^shift pixels, none larger than the smallest band.
    static unsigned blockShift(uint32_t W, uint32_t H, uint32_t count) {
        const uint64_t fewest = uint64_t{W} * (H / count);
        unsigned shift = 0;
        while ((uint64_t{2} << shift) <= fewest) ++shift;
        return shift;
    }

    uint32_t W_, H_, count_;
    unsigned shift_ = 0;
    std::pmr::vector<Block> blocks_;
};

}  // namespace granulix::rendering
