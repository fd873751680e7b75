// The two ways an element is drawn: PixelMode (single pixels, each landing
// on one output pixel) and CellMode (cells copied as blocks, clipped to the
// frame). A mode turns a settled displacement into a landing, draws it, and
// for a frame shared out keeps it as a draw to replay by band of rows.
#pragma once

#include <emmintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "render_four_wide.h"
#include "render_traversal.h"

namespace granulix::rendering {

// Truncation towards zero; NaN and values outside the int32 range give
// INT32_MIN (the processor's answer).
inline int32_t truncate(double v) { return _mm_cvttsd_si32(_mm_set_sd(v)); }

// Single pixels: in place, or at the truncated new coordinate when that lies
// in 1..height-1 and 1..width-1. An element lands on one output pixel, or
// nowhere (nullptr).
class PixelMode {
public:
    // Whether an element may be drawn as it is settled; FramePlan::fused
    // says whether it is. A mode that never is leaves that path uncompiled.
    static constexpr bool kFusable = true;
    using Landing = uint32_t*;
    static Landing nowhere() { return nullptr; }

    // A landing kept for a later pass: the output pixel's index.
    // What the band pass of a shared-out frame replays: the pixel drawn to,
    // as an index into the output, and what is drawn there.
    struct Draw {
        uint32_t to, value;
    };

    explicit PixelMode(const Traversal& t)
        : a_(t.a),
          out_(t.out),
          rowStart_(t.rowStart.data()),
          W_(t.W),
          lastRow_(static_cast<uint32_t>(t.H - 1)),
          lastColumn_(static_cast<uint32_t>(t.W - 1)) {
#if GRANULIX_WIDE
        step_ = t.grid.columnsReversed ? _mm_set_epi32(-3, -2, -1, 0) : _mm_set_epi32(3, 2, 1, 0);
#endif
    }

    void startRow(uint32_t y) {
        yd_ = y;
        aRow_ = a_ + static_cast<size_t>(y) * W_;
        outRow_ = rowStart_[y];
    }

    Landing waiting(const Traversal::Column& c) const { return outRow_ + c.x; }

    Landing moving(const Traversal::Column& c, double dy, double dx) const {
        const int32_t ny = truncate(yd_ - dy);
        const int32_t nx = truncate(c.xd - dx);
        // Row and column 0 take no moving pixel. Bitwise &: one branch.
        const bool inside = (static_cast<uint32_t>(ny) - 1u < lastRow_) &
                            (static_cast<uint32_t>(nx) - 1u < lastColumn_);
        return inside ? rowStart_[ny] + nx : nullptr;
    }

    void draw(const Traversal::Column& c, Landing l) const {
        if (l) *l = aRow_[c.x];
    }

#if GRANULIX_WIDE
    // The landings of the elements c[0..3] into to[0..3], lane i being
    // element i's: in place where `moves` is clear, else displaced by
    // (dy, dx) if `alive` and inside, else nowhere. Returns bit i set when
    // element i lands.
    GRANULIX_AVX2 __attribute__((always_inline)) int landFour(const Traversal::Column* c,
                                                              __m256d moves, __m256d alive,
                                                              __m256d dy, __m256d dx,
                                                              Landing* to) const {
        const __m128i x = _mm_add_epi32(_mm_set1_epi32(c->x), step_);
        const __m128i ny = _mm256_cvttpd_epi32(_mm256_sub_pd(_mm256_set1_pd(yd_), dy));
        const __m128i nx = _mm256_cvttpd_epi32(_mm256_sub_pd(_mm256_cvtepi32_pd(x), dx));
        // n - 1 < last, unsigned: signed with the top bits flipped.
        const __m128i one = _mm_set1_epi32(1), top = _mm_set1_epi32(INT32_MIN);
        const __m128i inside = _mm_and_si128(
            _mm_cmpgt_epi32(_mm_xor_si128(_mm_set1_epi32(static_cast<int32_t>(lastRow_)), top),
                            _mm_xor_si128(_mm_sub_epi32(ny, one), top)),
            _mm_cmpgt_epi32(_mm_xor_si128(_mm_set1_epi32(static_cast<int32_t>(lastColumn_)), top),
                            _mm_xor_si128(_mm_sub_epi32(nx, one), top)));
        const __m256d lands = _mm256_and_pd(_mm256_and_pd(moves, alive),
                                            _mm256_castsi256_pd(_mm256_cvtepi32_epi64(inside)));
        // Inside, ny x W + nx is below W x H, which FramePlan::fourWide holds below 2^31.
        const __m128i pixel =
            _mm_and_si128(_mm_add_epi32(_mm_mullo_epi32(ny, _mm_set1_epi32(W_)), nx), inside);
        const __m256i moved = _mm256_add_epi64(_mm256_set1_epi64x(reinterpret_cast<intptr_t>(out_)),
                                               _mm256_slli_epi64(_mm256_cvtepi32_epi64(pixel), 2));
        const __m256i inPlace =
            _mm256_add_epi64(_mm256_set1_epi64x(reinterpret_cast<intptr_t>(outRow_)),
                             _mm256_slli_epi64(_mm256_cvtepi32_epi64(x), 2));
        const __m256d away = _mm256_and_pd(_mm256_castsi256_pd(moved), lands);
        _mm256_storeu_pd(reinterpret_cast<double*>(to),
                         _mm256_blendv_pd(_mm256_castsi256_pd(inPlace), away, moves));
        return _mm256_movemask_pd(lands) | (~_mm256_movemask_pd(moves) & 15);
    }
#endif

    bool lands(const Traversal::Column&, Landing l) const { return l != nullptr; }

    // Whether drawing `l` writes to pixel row y.
    bool touches(const Traversal::Column&, Landing l, uint32_t y) const {
        return l >= rowStart_[y] && l < rowStart_[y] + W_;
    }

    // Hands the draw of a landing element to put(band, draw), for the band
    // of output rows it writes to.
    template <class Put>
    void keep(const Traversal::Column& c, Landing l, const BandMap& bands, Put&& put) const {
        const uint32_t to = static_cast<uint32_t>(l - out_);
        put(bands.ofPixel(to), Draw{to, aRow_[c.x]});
    }
    void replay(const Draw& d) const { out_[d.to] = d.value; }
    // A pixel writes to one band only: its draws need no clipping to one.
    void keepTo(RowSpan) {}

private:
    const uint32_t* a_;
    uint32_t* out_;
    uint32_t* const* rowStart_;  // output rows: a landing pixel needs no multiply
    int32_t W_;
    uint32_t lastRow_, lastColumn_;
    double yd_ = 0;
    const uint32_t* aRow_ = nullptr;
    uint32_t* outRow_ = nullptr;
#if GRANULIX_WIDE
    __m128i step_;  // from the first pixel column of four elements to each one's
#endif
};

// Copies `w` words.
inline void copyRow(uint32_t* dst, const uint32_t* src, int64_t w) {
    std::memcpy(dst, src, static_cast<size_t>(w) * sizeof(uint32_t));
}

// Copies the h rows, `stride` words apart, of a cell Width words wide.
template <int Width>
inline void copyRows(uint32_t* dst, const uint32_t* src, int64_t h, int64_t stride) {
    for (int64_t b = 0; b < h; ++b, src += stride, dst += stride) {
        std::memcpy(dst, src, Width * sizeof(uint32_t));
    }
}

// Cells as blocks: in place, or shifted by the truncated displacement.
class CellMode {
public:
    static constexpr bool kFusable = false;
    // The shift of a cell (x, y); kNowhere in x: not drawn.
    struct Landing {
        int32_t x, y;
    };
    static constexpr int32_t kNowhere = INT32_MIN;
    static Landing nowhere() { return {kNowhere, 0}; }

    explicit CellMode(const Traversal& t)
        : a_(t.a),
          out_(t.out),
          W_(t.W),
          H_(t.H),
          w_(t.grid.cellWidth),
          h_(t.grid.cellHeight),
          lastOffsetX_(static_cast<uint32_t>(w_ - 1)),
          spanX_(static_cast<uint32_t>(W_ + w_ - 1)),
          spanY_(static_cast<uint32_t>(H_ + h_ - 1)),
          bandEnd_(H_) {}

    void startRow(uint32_t j) { startRowAt(static_cast<int64_t>(j) * h_); }
    // The same for the cell row whose first pixel row is y0.
    void startRowAt(int64_t y0) {
        y0_ = y0;
        lastRowY_ = static_cast<uint32_t>(y0_ + h_ - 1);
        aRow_ = a_ + y0_ * W_;
        rowInside_ = y0_ + h_ <= H_;
    }

    Landing waiting(const Traversal::Column&) const { return {0, 0}; }

    Landing moving(const Traversal::Column&, double dy, double dx) const {
        // Out-of-range values and NaN truncate to INT32_MIN, where no cell
        // of a frame reaches.
        const int32_t sx = truncate(dx), sy = truncate(dy);
        return {sy == kNowhere ? kNowhere : sx, sy};
    }

    // The cell at (x0, y0) of clip A to (x0 - sx, y0 - sy), the parts of
    // source and destination outside the frame left out.
    __attribute__((always_inline)) void draw(const Traversal::Column& c, Landing l) const {
        if (l.x == kNowhere) return;
        drawCell(c.x, int64_t{c.x} - l.x, y0_ - l.y);
    }
    // The cell of this row at column x0 to (tx, ty).
    __attribute__((always_inline)) void drawCell(int64_t x0, int64_t tx, int64_t ty) const {
        if (rowInside_ && x0 + w_ <= W_ &&
            static_cast<uint64_t>(tx) <= static_cast<uint64_t>(W_ - w_) && ty >= bandFirst_ &&
            ty <= bandEnd_ - h_) {
            copyCell(out_ + ty * W_ + tx, aRow_ + x0);
        } else if (tx < W_ && tx + w_ > 0 && ty < bandEnd_ && ty + h_ > bandFirst_) {
            copyClipped(x0, tx, ty);
        }
    }

#if GRANULIX_WIDE
    // The shifts of the cells c[0..3] into to[0..3], as waiting(), moving()
    // and nowhere() give them lane by lane: none where `moves` is clear,
    // the truncated (dx, dy) where it is set and the cell is `alive`, else
    // nowhere. Returns bit i set when lands() holds for cell i.
    GRANULIX_AVX2 __attribute__((always_inline)) int landFour(const Traversal::Column* c,
                                                              __m256d moves, __m256d alive,
                                                              __m256d dy, __m256d dx,
                                                              Landing* to) const {
        const __m128i movesW = wordMask(moves);
        const __m128i goes = _mm_and_si128(movesW, wordMask(alive));
        const __m128i sx = _mm256_cvttpd_epi32(dx), sy = _mm256_cvttpd_epi32(dy);
        const __m128i nowhere = _mm_set1_epi32(kNowhere);
        const __m128i shiftX = _mm_blendv_epi8(sx, nowhere, _mm_cmpeq_epi32(sy, nowhere));
        const __m128i x = _mm_or_si128(_mm_and_si128(goes, shiftX),
                                       _mm_andnot_si128(goes, _mm_and_si128(movesW, nowhere)));
        const __m128i y = _mm_and_si128(goes, sy);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_unpacklo_epi32(x, y));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 2), _mm_unpackhi_epi32(x, y));
        // lands(), modulo 2^32: unsigned comparisons as signed ones with the
        // top bits flipped.
        const __m128i top = _mm_set1_epi32(INT32_MIN);
        const __m128i cx = _mm_setr_epi32(c[0].x, c[1].x, c[2].x, c[3].x);
        const __m128i lastX =
            _mm_sub_epi32(_mm_add_epi32(cx, _mm_set1_epi32(static_cast<int32_t>(lastOffsetX_))), x);
        const __m128i lastY = _mm_sub_epi32(_mm_set1_epi32(static_cast<int32_t>(lastRowY_)), y);
        const __m128i inside = _mm_and_si128(
            _mm_cmpgt_epi32(_mm_set1_epi32(static_cast<int32_t>(spanX_ ^ 0x80000000u)),
                            _mm_xor_si128(lastX, top)),
            _mm_cmpgt_epi32(_mm_set1_epi32(static_cast<int32_t>(spanY_ ^ 0x80000000u)),
                            _mm_xor_si128(lastY, top)));
        return _mm_movemask_ps(_mm_castsi128_ps(inside));
    }
#endif

    // Draws no further than output rows [band.first, band.end).
    void keepTo(RowSpan band) {
        bandFirst_ = band.first;
        bandEnd_ = band.end;
    }

    // What the band pass of a shared-out frame replays: the cell's first
    // pixel in clip A and where it goes.
    struct Draw {
        int32_t x0, y0, tx, ty;
    };
    // Hands the draw of a landing cell to put(band, draw) once for each band
    // of output rows it may write to.
    template <class Put>
    void keep(const Traversal::Column& c, Landing l, const BandMap& bands, Put&& put) const {
        if (l.x == kNowhere) return;
        const int64_t tx = int64_t{c.x} - l.x, ty = y0_ - l.y;
        const int64_t first = std::max<int64_t>(ty, 0), end = std::min<int64_t>(ty + h_, H_);
        // Only a cell that meets the frame is kept: its shifts then fit 32 bits.
        if (tx >= W_ || tx + w_ <= 0 || first >= end) return;
        const Draw d{c.x, static_cast<int32_t>(y0_), static_cast<int32_t>(tx),
                     static_cast<int32_t>(ty)};
        const uint32_t last = bands.ofRow(static_cast<uint32_t>(end - 1));
        for (uint32_t b = bands.ofRow(static_cast<uint32_t>(first)); b <= last; ++b) put(b, d);
    }
    // Draws a kept cell, within the rows given to keepTo().
    void replay(const Draw& d) {
        startRowAt(d.y0);
        drawCell(d.x0, d.tx, d.ty);
    }

    // Whether the cell may land inside the frame: never false when some part
    // of it does, true at times when none does (draw() then finds nothing
    // to copy). Computed modulo 2^32, where a cell overlaps the frame when
    // its last column x0 + w - 1 - sx lies in 0..W + w - 2, and with bitwise
    // &: whether a cell lands follows the noise of the start times, and a
    // branch on it would be mispredicted as often.
    bool lands(const Traversal::Column& c, Landing l) const {
        const uint32_t lastX =
            static_cast<uint32_t>(c.x) + lastOffsetX_ - static_cast<uint32_t>(l.x);
        const uint32_t lastY = lastRowY_ - static_cast<uint32_t>(l.y);
        return (lastX < spanX_) & (lastY < spanY_);
    }

    // Whether drawing `l` writes to pixel row y.
    bool touches(const Traversal::Column&, Landing l, uint32_t y) const {
        const int64_t ty = y0_ - l.y;
        return l.x != kNowhere && static_cast<uint64_t>(y - ty) < static_cast<uint64_t>(h_);
    }

private:
    // The narrow cells that matter most are copied inline.
    __attribute__((always_inline)) void copyCell(uint32_t* dst, const uint32_t* src) const {
        switch (w_) {
            case 1: copyRows<1>(dst, src, h_, W_); break;
            case 2: copyRows<2>(dst, src, h_, W_); break;
            case 3: copyRows<3>(dst, src, h_, W_); break;
            case 4: copyRows<4>(dst, src, h_, W_); break;
            default: copyWide(dst, src); break;
        }
    }

    // Out of line, like copyClipped: it keeps the per-cell loop small.
    __attribute__((noinline)) void copyWide(uint32_t* dst, const uint32_t* src) const {
        for (int64_t b = 0; b < h_; ++b, src += W_, dst += W_) copyRow(dst, src, w_);
    }

    __attribute__((noinline)) void copyClipped(int64_t x0, int64_t tx, int64_t ty) const {
        const int64_t y0 = y0_;
        const int64_t aLo = std::max<int64_t>(0, -tx);
        const int64_t aHi = std::min({w_, W_ - x0, W_ - tx});
        const int64_t bLo = std::max<int64_t>(0, bandFirst_ - ty);
        const int64_t bHi = std::min({h_, H_ - y0, bandEnd_ - ty});
        if (aLo >= aHi) return;
        for (int64_t b = bLo; b < bHi; ++b) {
            copyRow(out_ + (ty + b) * W_ + (tx + aLo), a_ + (y0 + b) * W_ + (x0 + aLo), aHi - aLo);
        }
    }

    const uint32_t* a_;
    uint32_t* out_;
    const int64_t W_, H_, w_, h_;
    const uint32_t lastOffsetX_;       // w - 1
    const uint32_t spanX_, spanY_;     // W + w - 1 and H + h - 1 (each term below 2^31)
    int64_t bandFirst_ = 0, bandEnd_;  // the output rows drawn to
    int64_t y0_ = 0;
    uint32_t lastRowY_ = 0;           // y0 + h - 1, modulo 2^32
    const uint32_t* aRow_ = nullptr;  // clip A at the cell row's first pixel row
    bool rowInside_ = false;          // the cell row lies wholly inside the frame
};

}  // namespace granulix::rendering
