#include "renderer.h"

#include <emmintrin.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <vector>

#include "element_sampler.h"
#include "source_map.h"
#include "random_stream.h"

// x86-64 Linux builds choose wider vector code at run time where the
// processor has it; every other build keeps to what every x86 runs.
#if defined(__x86_64__) && defined(__linux__)
#define GRANULIX_WIDE 1
#define GRANULIX_AVX2 __attribute__((target("avx2")))
#include <immintrin.h>
#else
#define GRANULIX_WIDE 0
#endif

namespace granulix {

namespace {

// The frame values' fixed factors. Each is the double the formulas have
// always multiplied by; the names say what it stands for.
constexpr double kDelayStep = 0.0035294117647058825;  // 0.9 / 255: start time per delay step
constexpr double kLifeBaseStep = 0.00390625;          // 1 / 256: shortest life per step
constexpr double kGravityStep = 0.125;                // 1 / 8: acceleration per gravity step
constexpr double kWindStep = 0.25;                    // 1 / 4: acceleration per wind step
constexpr double kTimelineStep = 0.015625;            // 1 / 64: timeline exponent per step
constexpr double kNeutralWind = 128;                  // the wind setting that blows nowhere
constexpr double kLinearTimeline = 127;               // the timeline setting of exponent 0
constexpr double kScaleGuard = 0.0001;                // keeps a scale's divisor off zero
constexpr double kMostCompression = 8;                // lives squeezed into at most 1/8 of the time

// The per-frame tables take at most this much for each column, row and ramp
// step of a frame.
constexpr uint64_t kTableBytesPerLine = 256;

int32_t clampInt(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Positive root of a*r^2 + b*r + k = 0 given its discriminant, the first root
// taken unless it is negative. False when no usable root exists.
bool solveScale(double a, double b, double disc, double& r) {
    if (disc < 0) return false;
    const double root = std::sqrt(disc);
    r = (-b + root) / (2 * a);
    if (r < 0) r = (-b - root) / (2 * a);
    return !(r < 0) && !std::isnan(r);
}

// The weights, spreads and accelerations taken straight from the settings.
// Integer fields become doubles before any arithmetic: exact within the
// editing ranges, and free of integer overflow for any stored value.
void settleWeights(const EffectSettings& s, double N, FrameValues& f) {
    // These three index the speed table; holding them to their limits keeps
    // every index inside it whatever block a host or a file hands over.
    f.speedNoise = clampInt(s.speedNoise, 0, 255);
    f.centerX = clampInt(s.centerX, 0, 256);
    f.centerY = clampInt(s.centerY, 0, 256);

    f.keepMove = (255.0 - f.speedNoise) * kInv255;
    f.noiseMove = static_cast<double>(f.speedNoise) * kInv255;
    f.keepDelay = (255.0 - s.delayNoise) * kInv255;
    f.noiseDelay = static_cast<double>(s.delayNoise) * kInv255;
    f.delayScale = static_cast<double>(s.delay) * N * kInv255 * kDelayStep;
    f.lifeSpread = static_cast<double>(s.maximumLife) * N * kInv255;
    f.lifeBase = static_cast<double>(s.minimumLife) * N * kLifeBaseStep;
    f.horizontalShare = (255.0 - s.xyBalance) * kInv255;
    f.verticalShare = static_cast<double>(s.xyBalance) * kInv255;
    f.gravityAcceleration = static_cast<double>(s.gravity) * kGravityStep;
    f.windAcceleration = (kNeutralWind - s.wind) * kWindStep;
}

// T before the lives are fitted in: the position bent by the timeline curve.
void settleTime(const EffectSettings& s, uint32_t duration, uint32_t position, FrameValues& f) {
    const double N = duration;
    const double P = position;
    f.exponent = (kLinearTimeline - s.timeline) * kTimelineStep;
    double ratio;
    if (duration > 1) {
        ratio = P / (N - 1);
    } else if (duration == 1) {
        ratio = P;
    } else {
        // No length at all: only position 0 is meaningful and it shows clip A.
        ratio = position == 0 ? 0.0 : HUGE_VAL;
    }
    f.time = std::pow(ratio, f.exponent) * P;
}

// The speed table: 256 speeds each way from the middle, minimum plus variance.
void settleSpeeds(const EffectSettings& s, FrameValues& f) {
    const double V = s.speedVariance;
    const double m = (s.speedVariance == 0 && s.minimumSpeed == 0) ? 1.0 : s.minimumSpeed;
    for (int k = 1; k <= 256; ++k) {
        const double v = m - (k * V) * (-kInv255);
        f.speed[255 + k] = v;
        f.speed[256 - k] = -v;
    }
}

// The time window A that the last element to start still has, and the
// latest end of a life L; when every life ends before the transition does,
// T is squeezed so that they end with it (at most kMostCompression times).
void settleWindow(double N, FrameValues& f) {
    const double D = f.delayScale;
    double A = N - D * 255;
    if (A >= 1) A = A - 1;
    f.timeWindow = A;

    f.latestLife = f.lifeSpread + 255 * D + f.lifeBase + 1;
    const double L = f.latestLife;
    if (L < N) {
        double factor = L > 0 ? N / L : kMostCompression;
        factor = std::min(factor, kMostCompression);
        f.time = f.time / factor;
    }
}

// The scales sX and sY that carry the fastest element just out of the
// frame over the time window, and S, the smaller. False when no scale
// solves (the frame then shows clip B alone).
void settleScales(int32_t width, int32_t height, FrameValues& f) {
    const double A = f.timeWindow;
    const double g = f.gravityAcceleration;
    const double w = f.windAcceleration;
    const double H = height;
    const double W = width;
    bool solved = true;
    if (g == 0) {
        f.scaleY = H / (f.verticalShare * A * f.speed[256] + kScaleGuard);
    } else {
        const double a = A * A * g;
        const double b = f.speed[f.centerY] * f.verticalShare * A;
        solved = solveScale(a, b, b * b + 4 * H * a, f.scaleY) && solved;
    }
    if (w == 0) {
        f.scaleX = W / (f.horizontalShare * A * f.speed[256] + kScaleGuard);
    } else if (w > 0) {
        const double a = A * A * w;
        const double b = f.speed[256 - f.centerX] * f.horizontalShare * A;
        solved = solveScale(a, b, b * b + 4 * W * a, f.scaleX) && solved;
    } else {
        const double a = A * A * w;
        const double b = f.speed[511 - f.centerX] * f.horizontalShare * A;
        solved = solveScale(a, b, b * b - 4 * W * a, f.scaleX) && solved;
    }
    f.scalesSolved = solved;
    f.speedScale = f.scaleX <= f.scaleY ? f.scaleX : f.scaleY;
}

// The traversal's mode and the element grid: single pixels, cells of a
// size, or a number of bands across and down.
void settleGrid(const EffectSettings& s, int32_t width, int32_t height, FrameValues& f) {
    const bool bands = (s.cellFlags & 1) != 0;
    f.perPixel = (!bands && s.cellWidth == 1 && s.cellHeight == 1) ||
                 (bands && s.cellWidth >= width / 2 && s.cellHeight >= height / 2);
    if (bands) {
        f.cellWidth = width / std::max(s.cellWidth, 1);
        f.cellHeight = height / std::max(s.cellHeight, 1);
    } else {
        f.cellWidth = s.cellWidth;
        f.cellHeight = s.cellHeight;
    }
    f.cellWidth = f.perPixel ? 1 : std::max(f.cellWidth, 1);
    f.cellHeight = f.perPixel ? 1 : std::max(f.cellHeight, 1);
    if (width > 0 && height > 0) {
        // Whole elements plus one for a remainder; the last may reach past the frame.
        f.columns =
            static_cast<uint32_t>((static_cast<int64_t>(width) + f.cellWidth - 1) / f.cellWidth);
        f.rows =
            static_cast<uint32_t>((static_cast<int64_t>(height) + f.cellHeight - 1) / f.cellHeight);
    }
}

}  // namespace

FrameValues computeFrameValues(const EffectSettings& s, uint32_t duration, uint32_t position,
                               int32_t width, int32_t height) {
    FrameValues f;
    settleWeights(s, duration, f);
    settleTime(s, duration, position, f);
    settleSpeeds(s, f);
    settleWindow(duration, f);
    settleScales(width, height, f);
    settleGrid(s, width, height, f);
    return f;
}

namespace {

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
    bool wide = false;  // the processor has the wider vectors that settleFours takes
    // Everything an element looks up by a random number, side by side.
    struct ByRandom {
        double startNoise[256];  // noiseDelay x r1
        double life[256];        // r2 x life spread x c + life base
        double moveNoise[256];   // (r - 128) x noiseMove
    } byRandom;
    double speedY[512];               // speed x vertical share
    double speedX[512];               // speed x horizontal share
    double rowBias = 0, colBias = 0;  // centerY + 128 and 384 - centerX
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
        const uint64_t fewest = uint64_t{W} * (H / count), pixels = uint64_t{W} * H;
        while ((uint64_t{2} << shift_) <= fewest) ++shift_;
        blocks_.resize(static_cast<size_t>(((pixels - 1) >> shift_) + 1));
        uint32_t band = 0;
        for (size_t i = 0; i < blocks_.size(); ++i) {
            const uint64_t first = uint64_t{i} << shift_;
            while (band + 1 < count && first >= start(band + 1)) ++band;
            blocks_[i] = {band,
                          band + 1 < count ? static_cast<uint32_t>(start(band + 1)) : UINT32_MAX};
        }
    }

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

    struct Block {
        uint32_t band;  // of the block's first pixel
        uint32_t next;  // the first pixel of the band after it
    };
    uint32_t W_, H_, count_;
    unsigned shift_ = 0;
    std::pmr::vector<Block> blocks_;
};

#if GRANULIX_WIDE
// The four 64-bit lane masks of a comparison as four 32-bit ones.
GRANULIX_AVX2 inline __m128i wordMask(__m256d mask) {
    const __m128 low = _mm_castpd_ps(_mm256_castpd256_pd128(mask));
    const __m128 high = _mm_castpd_ps(_mm256_extractf128_pd(mask, 1));
    return _mm_castps_si128(_mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0)));
}
#endif

// Truncation towards zero; NaN and values outside the int32 range give
// INT32_MIN (the processor's answer).
inline int32_t truncate(double v) { return _mm_cvttsd_si32(_mm_set_sd(v)); }

// Single pixels: in place, or at the truncated new coordinate when that lies
// in 1..height-1 and 1..width-1. An element lands on one output pixel, or
// nowhere (nullptr).
class PixelMode {
public:
    static constexpr bool kFused = true;     // drawing straight away is cheaper than a second pass
    static constexpr bool kFourWide = true;  // settleFours where the processor has the vectors
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
        // Inside, ny x W + nx is below W x H, which t.wide holds below 2^31.
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
    static constexpr bool kFused = false;
    static constexpr bool kFourWide = true;
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

// One binding as the traversal reads it in one cell row.
struct BindingRow {
    const ElementSampler* sampler;
    double* scratch;  // the row's values when they have to be read
    const double* base = nullptr;

    void read(uint32_t j, uint32_t begin, uint32_t end) {
        base = sampler->gatherRow(j, scratch, begin, end);
    }
};

// Draw `n` of the element whose draws start after `state`, AND 255: the
// generator's bits 16..23 moved to the top of the word by a jump whose
// multiplier and increment are pre-shifted by 8, so one shift extracts them.
template <unsigned N>
inline uint32_t randomByte(uint32_t state) {
    constexpr LcgJump j = lcgJump(N);
    return (state * (j.mul << 8) + (j.add << 8)) >> 24;
}
constexpr LcgJump kElement = lcgJump(4);

#if GRANULIX_WIDE
// The jumps from the state before element k's draws to draw `n` of
// elements k..k+3, pre-shifted by 8 as in randomByte.
struct FourJumps {
    alignas(16) uint32_t mul[4];
    alignas(16) uint32_t add[4];
};
constexpr FourJumps fourJumps(unsigned n) {
    FourJumps j{};
    for (unsigned lane = 0; lane < 4; ++lane) {
        j.mul[lane] = lcgJump(4 * lane + n).mul << 8;
        j.add[lane] = lcgJump(4 * lane + n).add << 8;
    }
    return j;
}

// Draw `N` of elements k..k+3, AND 255: randomByte on each lane.
template <unsigned N>
GRANULIX_AVX2 inline __m128i fourBytes(__m128i state) {
    static constexpr FourJumps j = fourJumps(N);
    const __m128i mul = _mm_load_si128(reinterpret_cast<const __m128i*>(j.mul));
    const __m128i add = _mm_load_si128(reinterpret_cast<const __m128i*>(j.add));
    return _mm_srli_epi32(_mm_add_epi32(_mm_mullo_epi32(state, mul), add), 24);
}
constexpr LcgJump kFourElements = lcgJump(16);

// table[index[i]] of lanes 0..3.
GRANULIX_AVX2 inline __m256d pick(const double* table, __m128i index) {
    alignas(16) uint32_t i[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(i), index);
    return _mm256_set_pd(table[i[3]], table[i[2]], table[i[1]], table[i[0]]);
}

// For each set of four lanes (bit i: lane i), the byte shuffle that moves
// the 32-bit lanes in the set to the front, in order, and their count.
struct LanePack {
    uint8_t shuffle[16][16];
    uint8_t count[16];
};
constexpr LanePack makeLanePack() {
    LanePack p{};
    for (int set = 0; set < 16; ++set) {
        int n = 0;
        for (int lane = 0; lane < 4; ++lane) {
            if (!((set >> lane) & 1)) continue;
            for (int b = 0; b < 4; ++b) {
                p.shuffle[set][4 * n + b] = static_cast<uint8_t>(4 * lane + b);
            }
            ++n;
        }
        for (int b = 4 * n; b < 16; ++b) p.shuffle[set][b] = 0x80;
        p.count[set] = static_cast<uint8_t>(n);
    }
    return p;
}
constexpr LanePack kLanePack = makeLanePack();

// table[c[i].key[b]] of the elements c[0..3].
GRANULIX_AVX2 inline __m256d pickByKey(const double* table, const Traversal::Column* c, int b) {
    const __m256d low = _mm256_blend_pd(_mm256_broadcast_sd(table + c[0].key[b]),
                                        _mm256_broadcast_sd(table + c[1].key[b]), 0b1010);
    const __m256d high = _mm256_blend_pd(_mm256_broadcast_sd(table + c[2].key[b]),
                                         _mm256_broadcast_sd(table + c[3].key[b]), 0b1000);
    return _mm256_blend_pd(low, high, 0b1100);
}

// The speeds that movement terms and draws `r` pick, as the scalar settling
// does: table[int(term + (r - 128) x noiseMove + bias)].
GRANULIX_AVX2 inline __m256d pickSpeed(const double* table, __m256d term, __m128i r,
                                       double noiseMove, double bias) {
    const __m256d noise = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_sub_epi32(r, _mm_set1_epi32(128))),
                                        _mm256_set1_pd(noiseMove));
    const __m256d index = _mm256_add_pd(_mm256_add_pd(term, noise), _mm256_set1_pd(bias));
    return pick(table, _mm256_cvttpd_epi32(index));
}
#endif

// The generator's state before the draws of element k of visiting row m.
inline uint32_t rowState(uint32_t m, uint32_t n) {
    return lcgJump(uint64_t(4) * n * m)(RandomStream::kSeed);
}

// Where each element of a cell row goes, one row at a time: the element
// waits in place, moves to a landing, or is gone. Each element takes four
// draws of the stream, so the draws of element n follow state 4n, which
// each row reaches by a jump. Specialised per frame:
// - DelayBytes: the delay binding is a byte kind, read as its element is
//   settled rather than gathered into a row first;
// - MoveNoise: with a noise weight of 0 the movement samplers hold the speed
//   of each source value (the noise term is a zero and cannot move an index),
//   and draws 3 and 4 are not needed;
// - Accel: with no gravity and no wind the term a x t x t is a zero (or NaN
//   along with t): leaving it out changes at most the sign of a zero
//   displacement, which neither truncation nor subtraction from a coordinate
//   can see, and a displacement that is not finite stays so.
// One settler serves one thread; `scratch` holds kBindingCount rows of
// values.
template <bool DelayBytes, bool MoveNoise, bool Accel, class Mode>
class ElementSettler {
public:
    using Landing = typename Mode::Landing;

    ElementSettler(const Traversal& t, const ElementSampler (&samplers)[kBindingCount],
                   double* scratch)
        : mode(t),
          columns(t.columns.data()),
          T_(t.f->time),
          D_(t.f->delayScale),
          S_(t.f->speedScale),
          g_(t.f->gravityAcceleration),
          w_(t.f->windAcceleration),
          rowBias_(t.rowBias),
          colBias_(t.colBias),
          f_(*t.f),
          r_(t.byRandom),
          speedY_(t.speedY),
          speedX_(t.speedX),
          delaySampler_(samplers[kDelay]),
          delay_{&samplers[kDelay], scratch},
          moveY_{&samplers[kMovingY], scratch + t.grid.columns},
          moveX_{&samplers[kMovingX], scratch + 2 * size_t{t.grid.columns}} {}

    void startRow(uint32_t j) {
        mode.startRow(j);
        if constexpr (DelayBytes) delayBytes_ = delaySampler_.byteRow(j);
    }

    // Reads the bindings of elements [begin, end) of cell row j.
    void read(uint32_t j, uint32_t begin, uint32_t end) {
        if constexpr (!DelayBytes) delay_.read(j, begin, end);
        moveY_.read(j, begin, end);
        moveX_.read(j, begin, end);
    }

    // Element k of the row, whose draws follow state s.
    Landing operator()(uint32_t k, uint32_t s) const {
        const Traversal::Column& c = columns[k];
        const double d = DelayBytes ? delayBytes_.at(k) : delay_.base[c.key[kDelay]];
        const double start = D_ * (d + r_.startNoise[randomByte<1>(s)]);
        if (!(T_ > start)) return mode.waiting(c);
        const double age = T_ - start;
        if (!(r_.life[randomByte<2>(s)] >= age)) return Mode::nowhere();
        const double time = S_ * age;
        // The speeds themselves, or with noise the terms that pick them.
        double vy = moveY_.base[c.key[kMovingY]], vx = moveX_.base[c.key[kMovingX]];
        if (MoveNoise) {
            vy = speedY_[static_cast<int>(vy + r_.moveNoise[randomByte<3>(s)] + rowBias_)];
            vx = speedX_[static_cast<int>(vx + r_.moveNoise[randomByte<4>(s)] + colBias_)];
        }
        if (Accel) {
            return mode.moving(c, vy * time + g_ * time * time, vx * time + w_ * time * time);
        }
        return mode.moving(c, vy * time, vx * time);
    }

#if GRANULIX_WIDE
    // The landings of elements [begin, end) into land[k], four side by side
    // while four are left: on every lane the double operations of
    // operator() in its order, with the values of Traversal::byRandom
    // computed as they were tabulated. Those that land are appended to
    // kept[count..], four words written at a time: kept has three to spare
    // beyond the row. Returns the first element not settled; `state` then
    // precedes its draws. For modes with kFourWide.
    GRANULIX_AVX2 uint32_t settleFours(uint32_t begin, uint32_t end, uint32_t& state, Landing* land,
                                       uint32_t* kept, uint32_t& count) const {
        const Mode local = this->mode;  // a copy that the stores to `land` cannot alias
        const double* const delay = delay_.base;
        const double* const moveY = moveY_.base;
        const double* const moveX = moveX_.base;
        const __m256d T = _mm256_set1_pd(T_), D = _mm256_set1_pd(D_), S = _mm256_set1_pd(S_);
        const __m256d noiseDelay = _mm256_set1_pd(f_.noiseDelay);
        const __m256d lifeSpread = _mm256_set1_pd(f_.lifeSpread);
        const __m256d lifeBase = _mm256_set1_pd(f_.lifeBase);
        const __m256d inv255 = _mm256_set1_pd(kInv255), g = _mm256_set1_pd(g_),
                      w = _mm256_set1_pd(w_);
        uint32_t k = begin, next = state, listed = count;  // kept local: no store in the chain
        for (; end - k >= 4; k += 4, next = kFourElements(next)) {
            const Traversal::Column* col = columns + k;
            const __m128i s = _mm_set1_epi32(static_cast<int32_t>(next));
            const __m256d d = DelayBytes
                                  ? _mm256_set_pd(delayBytes_.at(k + 3), delayBytes_.at(k + 2),
                                                  delayBytes_.at(k + 1), delayBytes_.at(k))
                                  : pickByKey(delay, col, kDelay);
            const __m256d r1 = _mm256_cvtepi32_pd(fourBytes<1>(s));
            const __m256d start = _mm256_mul_pd(D, _mm256_add_pd(d, _mm256_mul_pd(noiseDelay, r1)));
            const __m256d moves = _mm256_cmp_pd(T, start, _CMP_GT_OQ);
            const __m256d age = _mm256_sub_pd(T, start);
            const __m256d r2 = _mm256_cvtepi32_pd(fourBytes<2>(s));
            const __m256d life =
                _mm256_add_pd(_mm256_mul_pd(_mm256_mul_pd(r2, lifeSpread), inv255), lifeBase);
            const __m256d alive = _mm256_cmp_pd(life, age, _CMP_GE_OQ);
            const __m256d time = _mm256_mul_pd(S, age);
            __m256d vy = pickByKey(moveY, col, kMovingY), vx = pickByKey(moveX, col, kMovingX);
            if constexpr (MoveNoise) {
                // The indices do not depend on the element's time: whether
                // it moves or not, they stay inside the speed tables.
                vy = pickSpeed(speedY_, vy, fourBytes<3>(s), f_.noiseMove, rowBias_);
                vx = pickSpeed(speedX_, vx, fourBytes<4>(s), f_.noiseMove, colBias_);
            }
            __m256d dy = _mm256_mul_pd(vy, time), dx = _mm256_mul_pd(vx, time);
            if constexpr (Accel) {
                dy = _mm256_add_pd(dy, _mm256_mul_pd(_mm256_mul_pd(g, time), time));
                dx = _mm256_add_pd(dx, _mm256_mul_pd(_mm256_mul_pd(w, time), time));
            }
            const int lands = local.landFour(col, moves, alive, dy, dx, land + k);
            const __m128i ks =
                _mm_add_epi32(_mm_set1_epi32(static_cast<int32_t>(k)), _mm_setr_epi32(0, 1, 2, 3));
            const __m128i pack =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLanePack.shuffle[lands]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(kept + listed), _mm_shuffle_epi8(ks, pack));
            listed += kLanePack.count[lands];
        }
        state = next;
        count = listed;
        return k;
    }
#endif

    Mode mode;
    const Traversal::Column* const columns;

private:
    const double T_, D_, S_, g_, w_, rowBias_, colBias_;
    const FrameValues& f_;
    const Traversal::ByRandom& r_;
    const double* const speedY_;
    const double* const speedX_;
    const ElementSampler& delaySampler_;
    BindingRow delay_, moveY_, moveX_;
    ElementSampler::ByteRow delayBytes_{};
};

// A row's element that lands in the frame, as RowDrawing hands it out.
template <class Mode>
struct Pending {
    uint32_t k;
    typename Mode::Landing landing;
};

// Settles a stretch of a row and keeps the elements that land, in visiting
// order. Which of them land follows the noise of the start times as often
// as not, so the list is filled without a branch on it.
template <class Settler, class Mode>
class RowDrawing {
public:
    RowDrawing(const Traversal& t, uint32_t n, bool needed)
        : columns_(t.columns.data()),
          kept_(needed ? n + 3 : 0, t.memory),
          landings_(needed ? n : 0, t.memory),
          wide_(Mode::kFourWide && t.wide) {}

    // Settles elements [begin, end), the first of which draws after
    // `state`; returns how many of them land.
    uint32_t settle(Settler& settler, uint32_t begin, uint32_t end, uint32_t state) {
        typename Mode::Landing* land = landings_.data();
        uint32_t k = begin, count = 0;
#if GRANULIX_WIDE
        if constexpr (Mode::kFourWide) {
            if (wide_) k = settler.settleFours(begin, end, state, land, kept_.data(), count);
        }
#endif
        const uint32_t first = k;
        for (; k < end; ++k, state = kElement(state)) land[k] = settler(k, state);
        for (k = first; k < end; ++k) {
            kept_[count] = k;
            count += settler.mode.lands(columns_[k], land[k]);
        }
        return count;
    }

    Pending<Mode> operator[](uint32_t i) const {
        const uint32_t k = kept_[i];
        return {k, landings_[k]};
    }

private:
    const Traversal::Column* columns_;
    std::pmr::vector<uint32_t> kept_;  // three beyond the row for settleFours
    std::pmr::vector<typename Mode::Landing> landings_;
    bool wide_;
};

// One row j of a frame with late bindings. Settled ahead, an element has read
// the output before the elements of its row ahead of it were drawn. That
// holds until a draw touches a pixel row that late bindings read; from the
// element after such a draw the row is read and settled anew. The next
// stretch is twice the last one drawn, so even a row of touching draws costs
// at most twice the settling.
template <class Settler, class Mode>
void drawLateRow(Settler& settle, RowDrawing<Settler, Mode>& drawing, const Traversal& t,
                 const ElementSampler (&samplers)[kBindingCount], uint32_t j, uint32_t state0) {
    const uint32_t n = t.grid.columns;
    uint32_t readRows[kBindingCount];  // pixel rows of the output that they read
    int readCount = 0;
    for (const ElementSampler& b : samplers) {
        if (b.readsOutput()) readRows[readCount++] = b.imageRow(j);
    }
    uint32_t k = 0, stretch = n;
    while (k < n) {
        const uint32_t end = k + std::min(stretch, n - k);
        settle.read(j, k, end);
        const uint32_t count = drawing.settle(settle, k, end, lcgJump(uint64_t(4) * k)(state0));
        uint32_t next = end;
        for (uint32_t i = 0; i < count; ++i) {
            const Traversal::Column& c = t.columns[drawing[i].k];
            settle.mode.draw(c, drawing[i].landing);
            bool touched = false;
            for (int b = 0; b < readCount; ++b) {
                touched |= settle.mode.touches(c, drawing[i].landing, readRows[b]);
            }
            if (touched) {
                next = drawing[i].k + 1;
                stretch = 2 * (next - k);
                break;
            }
        }
        k = next;
    }
}

// Whether a traversal draws each element as it settles it, rather than a
// row settled first.
template <class Mode>
bool drawsAsSettled(const Traversal& t) {
    return Mode::kFused && !(Mode::kFourWide && t.wide);
}

// Settles row j of elements, whose draws follow state0, and draws it: each
// element as it is settled (`fused`), or the row settled first and then the
// elements that land drawn in visiting order.
template <class Settler, class Mode>
__attribute__((always_inline)) inline void drawRow(Settler& settle,
                                                   RowDrawing<Settler, Mode>& drawing,
                                                   const Traversal& t, bool fused, uint32_t j,
                                                   uint32_t state0) {
    const uint32_t n = t.grid.columns;
    const Traversal::Column* columns = t.columns.data();
    settle.read(j, 0, n);
    if (fused) {
        uint32_t state = state0;
        for (uint32_t k = 0; k < n; ++k, state = kElement(state)) {
            settle.mode.draw(columns[k], settle(k, state));
        }
    } else {
        const uint32_t count = drawing.settle(settle, 0, n, state0);
        for (uint32_t i = 0; i < count; ++i) {
            settle.mode.draw(columns[drawing[i].k], drawing[i].landing);
        }
    }
}

// The rows of elements in visiting order on one thread, drawn as they are
// settled. Late: some binding is a byte kind of image 2, which reads the
// output as the elements visited before have left it (drawLateRow).
//
// Each specialisation is kept a function of its own: inlined into the
// dispatch below, they ran measurably slower.
template <bool Late, bool DelayBytes, bool MoveNoise, bool Accel, class Mode>
__attribute__((noinline)) void traverseRows(const Traversal& t,
                                            const ElementSampler (&samplers)[kBindingCount]) {
    using Settler = ElementSettler<DelayBytes, MoveNoise, Accel, Mode>;
    const uint32_t n = t.grid.columns, rows = t.grid.rows;
    const LcgJump rowJump = lcgJump(uint64_t(4) * n);
    std::pmr::vector<double> scratch(kBindingCount * static_cast<size_t>(n), t.memory);
    Settler settle(t, samplers, scratch.data());
    const bool fused = drawsAsSettled<Mode>(t);
    RowDrawing<Settler, Mode> drawing(t, n, Late || !fused);

    uint32_t state0 = RandomStream::kSeed;
    for (uint32_t m = 0; m < rows; ++m, state0 = rowJump(state0)) {
        const uint32_t j = t.rowsReversed ? rows - 1 - m : m;
        settle.startRow(j);
        if constexpr (Late) {
            drawLateRow(settle, drawing, t, samplers, j, state0);
        } else {
            drawRow(settle, drawing, t, fused, j, state0);
        }
    }
}

// The traversal specialised on the flags, chosen one by one.
template <class Mode, bool... Chosen>
void traverseWith(const Traversal& t, const ElementSampler (&samplers)[kBindingCount]) {
    traverseRows<Chosen..., Mode>(t, samplers);
}
template <class Mode, bool... Chosen, class... Flags>
void traverseWith(const Traversal& t, const ElementSampler (&samplers)[kBindingCount], bool flag,
                  Flags... rest) {
    if (flag) {
        traverseWith<Mode, Chosen..., true>(t, samplers, rest...);
    } else {
        traverseWith<Mode, Chosen..., false>(t, samplers, rest...);
    }
}

// Storage from a memory resource for elements that are written before they
// are read: not cleared, unlike a vector's.
template <class T>
class UnclearedArray {
public:
    UnclearedArray(uint64_t count, std::pmr::memory_resource* memory) : memory_(memory) {
        static_assert(std::is_trivially_default_constructible_v<T>);
        if (count > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        bytes_ = static_cast<size_t>(count) * sizeof(T);
        data_ = static_cast<T*>(memory_->allocate(bytes_, alignof(T)));
    }
    ~UnclearedArray() { memory_->deallocate(data_, bytes_, alignof(T)); }
    UnclearedArray(const UnclearedArray&) = delete;
    UnclearedArray& operator=(const UnclearedArray&) = delete;
    T* data() const { return data_; }

private:
    std::pmr::memory_resource* memory_;
    size_t bytes_;
    T* data_;
};

// How a frame shared out among threads is laid out. Drawing order decides
// which element a pixel shows at last, so the work goes in two passes:
// 1. stretches of rows are settled side by side. One thread takes them from
//    the front of the visiting order and draws them straight away; the
//    others take them from the back and keep their draws by the band of
//    output rows they write to, first in the thread's staging area, then
//    moved to one store where every (stretch, band) pair is a segment;
// 2. each band is drawn on its own by replaying its kept segments in
//    stretch order: every pixel is written in the order of one thread's
//    traversal, and the bands never share a pixel.
// Stretches are small enough that a thread's staging stays in its cache.
struct SideBySidePlan {
    uint32_t bands = 0, stretches = 0, rowsPerStretch = 0;
    uint64_t stageRecords = 0;  // a thread's staging, per band: the elements of a stretch, and one
    uint64_t storeRecords = 0;  // every kept draw, at most
};

constexpr uint64_t kStageBytes = 256 * 1024;  // a thread's staging for all bands

SideBySidePlan planSideBySide(const FrameValues& f, int32_t height, int parts, uint64_t drawBytes) {
    SideBySidePlan p;
    const uint64_t H = static_cast<uint64_t>(height), n = f.columns, rows = f.rows;
    p.bands = static_cast<uint32_t>(std::min<uint64_t>(H, static_cast<uint64_t>(parts)));
    const uint64_t perStretch = std::max<uint64_t>(1, kStageBytes / (p.bands * drawBytes));
    const uint64_t fewest = (rows + 4 * static_cast<uint64_t>(parts) - 1) /
                            (4 * static_cast<uint64_t>(parts));  // stretches enough to share
    p.rowsPerStretch = static_cast<uint32_t>(
        std::max<uint64_t>(1, std::min(perStretch / std::max<uint64_t>(n, 1), fewest)));
    p.stretches = static_cast<uint32_t>((rows + p.rowsPerStretch - 1) / p.rowsPerStretch);
    // One to spare: with a few bands a draw is also written past a full band.
    p.stageRecords = uint64_t{p.rowsPerStretch} * n + 1;
    // A pixel writes to one band; a cell h rows high to at most
    // (h - 1) / (the fewest rows of a band) + 2 of them.
    const uint64_t fewestRows = H / p.bands;
    const uint64_t bandsACell =
        f.perPixel ? 1 : std::min<uint64_t>(p.bands, (uint64_t(f.cellHeight) - 1) / fewestRows + 2);
    p.storeRecords = n * rows * bandsACell;
    return p;
}

// The traversal of a frame without late bindings shared out among threads
// (SideBySidePlan says how).
template <bool DelayBytes, bool MoveNoise, bool Accel, class Mode>
class SideBySide {
public:
    using Settler = ElementSettler<DelayBytes, MoveNoise, Accel, Mode>;
    using Draw = typename Mode::Draw;

    SideBySide(const Traversal& t, const ElementSampler (&samplers)[kBindingCount],
               TaskRunner& tasks)
        : t_(t),
          samplers_(samplers),
          tasks_(tasks),
          parts_(tasks.width()),
          rowJump_(lcgJump(uint64_t(4) * t.grid.columns)),
          plan_(planSideBySide(*t.f, t.H, parts_, sizeof(Draw))),
          bands_(static_cast<uint32_t>(t.W), static_cast<uint32_t>(t.H), plan_.bands, t.memory),
          store_(plan_.storeRecords, t.memory),
          stages_(plan_.stageRecords * plan_.bands * static_cast<uint64_t>(parts_), t.memory),
          segments_(size_t{plan_.stretches} * plan_.bands, t.memory),
          fills_(size_t{plan_.bands} * static_cast<size_t>(parts_), t.memory),
          scratch_(size_t{kBindingCount} * t.grid.columns * static_cast<size_t>(parts_), t.memory),
          drawings_(t.memory) {
        drawings_.reserve(static_cast<size_t>(parts_));
        for (int i = 0; i < parts_; ++i) drawings_.emplace_back(t, t.grid.columns, true);
    }

    __attribute__((noinline)) void run() {
        runTasks(&tasks_, parts_, [this](int part) {
            if (part == 0) {
                drawFront();
            } else {
                settleStretches(part);
            }
        });
        firstKept_ = static_cast<uint32_t>(claims_.load());
        runTasks(&tasks_, static_cast<int>(plan_.bands),
                 [this](int b) { drawBand(static_cast<uint32_t>(b)); });
    }

private:
    struct Segment {
        uint64_t first;
        uint32_t count;
    };

    // Where a thread stages the draws of a stretch, by band. With a few
    // bands their counts stay in registers: each draw is written to every
    // band's staging and only its own band's count moves, which keeps a
    // chain of loads and stores on one count out of the loop.
    static constexpr uint32_t kFewBands = 4;
    struct FewBandStage {
        Draw* stage;
        uint64_t capacity;  // draws per band
        uint32_t bands;
        uint32_t counts[kFewBands] = {};

        void reset() { std::fill(counts, counts + kFewBands, 0u); }
        uint32_t count(uint32_t b) const { return counts[b]; }
        void operator()(uint32_t b, const Draw& d) {
            for (uint32_t i = 0; i < kFewBands; ++i) {
                if (i < bands) stage[i * capacity + counts[i]] = d;
                counts[i] += b == i;
            }
        }
    };
    struct ManyBandStage {
        Draw* stage;
        uint64_t capacity;
        uint32_t* counts;
        uint32_t bands;

        void reset() { std::fill(counts, counts + bands, 0u); }
        uint32_t count(uint32_t b) const { return counts[b]; }
        void operator()(uint32_t b, const Draw& d) { stage[b * capacity + counts[b]++] = d; }
    };

    void settleStretches(int part) {
        const uint32_t B = plan_.bands;
        Draw* const stage = stages_.data() + plan_.stageRecords * B * static_cast<uint64_t>(part);
        if (B <= kFewBands) {
            settleStretches(part, FewBandStage{stage, plan_.stageRecords, B});
        } else {
            uint32_t* const counts = fills_.data() + size_t{B} * static_cast<size_t>(part);
            settleStretches(part, ManyBandStage{stage, plan_.stageRecords, counts, B});
        }
    }

    // Calls f(j, state0) for the rows of elements of stretch i in visiting
    // order: the row j, and the state its draws follow.
    template <class F>
    void eachRow(uint32_t i, F&& f) const {
        const uint32_t n = t_.grid.columns, rows = t_.grid.rows;
        uint32_t m = i * plan_.rowsPerStretch;
        const uint32_t mEnd = std::min(rows, m + plan_.rowsPerStretch);
        for (uint32_t state0 = rowState(m, n); m < mEnd; ++m, state0 = rowJump_(state0)) {
            f(t_.rowsReversed ? rows - 1 - m : m, state0);
        }
    }

    // Claims the next stretch from the front, or from the back: false when
    // none is left. The front's stretches all come before the back's.
    bool claim(bool front, uint32_t& i) {
        uint64_t c = claims_.load(std::memory_order_relaxed);
        for (;;) {
            const uint32_t fronts = static_cast<uint32_t>(c),
                           backs = static_cast<uint32_t>(c >> 32);
            if (uint64_t{fronts} + backs >= plan_.stretches) return false;
            if (claims_.compare_exchange_weak(c, front ? c + 1 : c + (uint64_t{1} << 32))) {
                i = front ? fronts : plan_.stretches - 1 - backs;
                return true;
            }
        }
    }

    // The stretches from the front are drawn straight away, as on one
    // thread: they come before every stretch the other threads keep, and
    // nothing else draws until they are done.
    void drawFront() {
        Settler settle(t_, samplers_, scratch_.data());
        RowDrawing<Settler, Mode>& drawing = drawings_[0];
        const bool fused = drawsAsSettled<Mode>(t_);
        for (uint32_t i; claim(true, i);) {
            eachRow(i, [&](uint32_t j, uint32_t state0) {
                settle.startRow(j);
                drawRow(settle, drawing, t_, fused, j, state0);
            });
        }
    }

    // The other threads settle stretches from the back and keep their draws.
    template <class Stage>
    void settleStretches(int part, Stage keep) {
        const uint32_t n = t_.grid.columns, B = plan_.bands;
        Settler settle(t_, samplers_,
                       scratch_.data() + size_t{kBindingCount} * n * static_cast<size_t>(part));
        RowDrawing<Settler, Mode>& drawing = drawings_[static_cast<size_t>(part)];
        for (uint32_t i; claim(false, i);) {
            keep.reset();
            eachRow(i, [&](uint32_t j, uint32_t state0) {
                settle.startRow(j);
                settle.read(j, 0, n);
                const uint32_t count = drawing.settle(settle, 0, n, state0);
                for (uint32_t k = 0; k < count; ++k) {
                    const Pending<Mode> p = drawing[k];
                    settle.mode.keep(t_.columns[p.k], p.landing, bands_, keep);
                }
            });
            uint64_t total = 0;
            for (uint32_t b = 0; b < B; ++b) total += keep.count(b);
            uint64_t at = storeTop_.fetch_add(total);
            for (uint32_t b = 0; b < B; ++b) {
                segments_[size_t{i} * B + b] = {at, keep.count(b)};
                std::memcpy(store_.data() + at, keep.stage + b * plan_.stageRecords,
                            keep.count(b) * sizeof(Draw));
                at += keep.count(b);
            }
        }
    }

    void drawBand(uint32_t b) {
        Mode mode(t_);
        if constexpr (!Mode::kFused) mode.keepTo(bands_.rows(b));
        for (uint32_t i = firstKept_; i < plan_.stretches; ++i) {
            const Segment s = segments_[size_t{i} * plan_.bands + b];
            const Draw* d = store_.data() + s.first;
            for (uint32_t k = 0; k < s.count; ++k) mode.replay(d[k]);
        }
    }

    const Traversal& t_;
    const ElementSampler (&samplers_)[kBindingCount];
    TaskRunner& tasks_;
    const int parts_;
    const LcgJump rowJump_;  // from one row's draws to the next's
    const SideBySidePlan plan_;
    const BandMap bands_;
    const UnclearedArray<Draw> store_;
    const UnclearedArray<Draw> stages_;
    std::pmr::vector<Segment> segments_;
    std::pmr::vector<uint32_t> fills_;  // each thread's staged draws, by band
    std::pmr::vector<double> scratch_;  // each thread's row of binding values
    std::pmr::vector<RowDrawing<Settler, Mode>> drawings_;
    std::atomic<uint64_t> claims_{0};  // stretches taken: from the front, and (<< 32) the back
    uint32_t firstKept_ = 0;           // the first stretch taken from the back
    std::atomic<uint64_t> storeTop_{0};
};

template <class Mode, bool... Chosen>
void sideBySideWith(const Traversal& t, const ElementSampler (&samplers)[kBindingCount],
                    TaskRunner& tasks) {
    SideBySide<Chosen..., Mode>(t, samplers, tasks).run();
}
template <class Mode, bool... Chosen, class... Flags>
void sideBySideWith(const Traversal& t, const ElementSampler (&samplers)[kBindingCount],
                    TaskRunner& tasks, bool flag, Flags... rest) {
    if (flag) {
        sideBySideWith<Mode, Chosen..., true>(t, samplers, tasks, rest...);
    } else {
        sideBySideWith<Mode, Chosen..., false>(t, samplers, tasks, rest...);
    }
}

// Whether a frame is worth sharing out: more than one thread, no binding
// that reads the drawing so far, a few rows of elements, pixel indices that
// fit the draws' 32 bits, and a clip A that is not the frame being drawn (a
// kept pixel takes its value from clip A while settling). A job whose frames
// are not there yet is taken to have them apart.
// renderWorkspaceBytes() asks the same before any table exists.
bool sharesOut(const RenderJob& job, uint32_t rows) {
    if (taskWidth(job.tasks) < 2 || rows < 2 || job.width < 1 || job.height < 1) return false;
    if (job.pixelsA && job.pixelsA == job.pixelsOut) return false;
    for (const SourceBinding& b : job.settings->sourceBindings) {
        const auto kind = static_cast<uint32_t>(b.kind);
        if (kind >= kRed2 && kind <= kAlpha2) return false;  // image 2: the drawing so far
    }
    return uint64_t(job.width) * uint64_t(job.height) < UINT32_MAX;
}

template <class Mode>
// With `tasks`, the frame has been found to share out (sharesOut).
void traverse(const Traversal& t, const ElementSampler (&samplers)[kBindingCount],
              TaskRunner* tasks) {
    const bool late =
        samplers[0].readsOutput() || samplers[1].readsOutput() || samplers[2].readsOutput();
    const bool delayBytes = samplers[kDelay].bytes();
    const bool moveNoise = t.f->noiseMove != 0;
    const bool accel = t.f->gravityAcceleration != 0 || t.f->windAcceleration != 0;
    if (tasks) {
        sideBySideWith<Mode>(t, samplers, *tasks, delayBytes, moveNoise, accel);
    } else {
        traverseWith<Mode>(t, samplers, late, delayBytes, moveNoise, accel);
    }
}

bool haveWideVectors() {
#if GRANULIX_WIDE
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
#else
    return false;
#endif
}

void renderWith(const RenderJob& job, std::pmr::memory_resource* memory) {
    if (job.width < 1 || job.height < 1) return;
    const int32_t W = job.width, H = job.height;
    const size_t pixels = static_cast<size_t>(W) * static_cast<size_t>(H);
    if (job.pixelsOut != job.pixelsB) {
        const int parts = taskWidth(job.tasks);
        runTasks(job.tasks, parts, [&](int i) {
            const auto first =
                static_cast<size_t>(uint64_t{pixels} * uint64_t(i) / uint64_t(parts));
            const auto end =
                static_cast<size_t>(uint64_t{pixels} * uint64_t(i + 1) / uint64_t(parts));
            std::memcpy(job.pixelsOut + first, job.pixelsB + first,
                        (end - first) * sizeof(uint32_t));
        });
    }

    const FrameValues f = computeFrameValues(*job.settings, job.duration, job.position, W, H);
    if (!f.scalesSolved) return;
    const EffectSettings& s = *job.settings;

    // The per-frame tables take well under 256 bytes per column, row and
    // ramp step; refuse a frame whose tables could not even be addressed.
    const uint64_t tableBytes = kTableBytesPerLine * (uint64_t(W) + uint64_t(H) + 1);
    if (tableBytes > SIZE_MAX / 2) throw std::bad_alloc();

    Traversal t(memory);
    t.f = &f;
    t.W = W;
    t.H = H;
    t.a = job.pixelsA;
    t.out = job.pixelsOut;
    t.grid.width = static_cast<uint32_t>(W);
    t.grid.height = static_cast<uint32_t>(H);
    t.grid.cellWidth = static_cast<uint32_t>(f.cellWidth);
    t.grid.cellHeight = static_cast<uint32_t>(f.cellHeight);
    t.grid.columns = f.columns;
    t.grid.rows = f.rows;
    t.grid.columnsReversed = (s.orderFlags & 2) != 0;
    t.rowsReversed = (s.orderFlags & 1) != 0;
    t.wide = job.wideVectors && haveWideVectors() && pixels <= INT32_MAX;
    for (int r = 0; r < 256; ++r) {
        t.byRandom.startNoise[r] = f.noiseDelay * r;
        t.byRandom.life[r] = r * f.lifeSpread * kInv255 + f.lifeBase;
        t.byRandom.moveNoise[r] = (r - 128) * f.noiseMove;
    }
    for (int k = 0; k < 512; ++k) {
        t.speedY[k] = f.speed[k] * f.verticalShare;
        t.speedX[k] = f.speed[k] * f.horizontalShare;
    }
    t.rowBias = f.centerY + 128;
    t.colBias = 384 - f.centerX;

    ElementSampler samplers[kBindingCount] = {
        ElementSampler(s.sourceBindings[kMovingX], t.grid, job.pixelsA, job.pixelsOut, memory),
        ElementSampler(s.sourceBindings[kMovingY], t.grid, job.pixelsA, job.pixelsOut, memory),
        ElementSampler(s.sourceBindings[kDelay], t.grid, job.pixelsA, job.pixelsOut, memory),
    };
    const double keepDelay = f.keepDelay, keepMove = f.keepMove;
    samplers[kDelay].mapValues([=](double v) { return keepDelay * v; });
    if (f.noiseMove != 0) {
        samplers[kMovingY].mapValues([=](double v) { return (v - 128) * keepMove; });
        samplers[kMovingX].mapValues([=](double v) { return (v - 128) * keepMove; });
    } else {
        const double rowBias = t.rowBias, colBias = t.colBias;
        const double* speedY = t.speedY;
        const double* speedX = t.speedX;
        samplers[kMovingY].mapValues(
            [=](double v) { return speedY[static_cast<int>((v - 128) * keepMove + rowBias)]; });
        samplers[kMovingX].mapValues(
            [=](double v) { return speedX[static_cast<int>((v - 128) * keepMove + colBias)]; });
    }
    t.columns.resize(f.columns);
    for (uint32_t k = 0; k < f.columns; ++k) {
        Traversal::Column& col = t.columns[k];
        for (int b = 0; b < kBindingCount; ++b) col.key[b] = samplers[b].gatherKey(k);
        const uint32_t column = t.grid.columnsReversed ? f.columns - 1 - k : k;
        col.x = static_cast<int32_t>(column * t.grid.cellWidth);
        col.xd = col.x;
    }
    TaskRunner* const shareWith = sharesOut(job, f.rows) ? job.tasks : nullptr;
    if (f.perPixel) {
        t.rowStart.resize(static_cast<size_t>(H));
        for (int32_t y = 0; y < H; ++y) t.rowStart[y] = job.pixelsOut + static_cast<size_t>(y) * W;
        traverse<PixelMode>(t, samplers, shareWith);
    } else {
        traverse<CellMode>(t, samplers, shareWith);
    }
}

}  // namespace

void render(const RenderJob& job) { renderWith(job, std::pmr::new_delete_resource()); }

void render(const RenderJob& job, std::pmr::memory_resource* memory) { renderWith(job, memory); }

uint64_t renderWorkspaceBytes(const RenderJob& job) {
    const int parts = taskWidth(job.tasks);
    if (!job.settings) return 0;
    const FrameValues f =
        computeFrameValues(*job.settings, job.duration, job.position, job.width, job.height);
    if (!sharesOut(job, f.rows)) return 0;
    const uint64_t W = static_cast<uint64_t>(job.width), H = static_cast<uint64_t>(job.height);
    const uint64_t draw = f.perPixel ? sizeof(PixelMode::Draw) : sizeof(CellMode::Draw);
    const SideBySidePlan p = planSideBySide(f, job.height, parts, draw);
    // The store of kept draws, each thread's staging and fill counts, the
    // segments and the band map's blocks (at most four for each band and
    // one more).
    const uint64_t shared = p.storeRecords * draw + p.stretches * uint64_t{p.bands} * 16 +
                            (4 * uint64_t{p.bands} + 1) * 8;
    // Per thread: staging, a row of binding values, and the settler's row of
    // landings and kept elements.
    const uint64_t perThread = p.stageRecords * p.bands * draw + p.bands * sizeof(uint32_t) +
                               uint64_t(kBindingCount) * sizeof(double) * f.columns +
                               (sizeof(PixelMode::Landing) + sizeof(uint32_t)) * (f.columns + 3);
    // The per-frame tables: by column, row and ramp step, and each byte
    // kind's table of its 256 values.
    const uint64_t tables =
        kTableBytesPerLine * (W + H + 1) + uint64_t{kBindingCount} * 256 * sizeof(double);
    return shared + perThread * static_cast<uint64_t>(parts) + tables + 4096;
}

void render(const RenderJob& job, RenderScratch& scratch) {
    struct Call {
        RenderScratch& scratch;
        explicit Call(RenderScratch& s) : scratch(s) { scratch.begin(); }
        ~Call() { scratch.end(); }
    } call(scratch);
    renderWith(job, &scratch);
}

}  // namespace granulix
