#include "renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "random_stream.h"
#include "source_map.h"

namespace granulix {

namespace {

constexpr double c = kInv255;

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

}  // namespace

FrameValues computeFrameValues(const EffectSettings& s, uint32_t duration, uint32_t position,
                               int32_t width, int32_t height) {
    FrameValues f;
    const double N = duration;
    const double P = position;
    // These three index the speed table; holding them to their limits keeps
    // every index inside it whatever block a host or a file hands over.
    f.speedNoise = clampInt(s.speedNoise, 0, 255);
    f.centerX = clampInt(s.centerX, 0, 256);
    f.centerY = clampInt(s.centerY, 0, 256);

    // Integer fields become doubles before any arithmetic: exact within the
    // editing ranges, and free of integer overflow for any stored value.
    f.keepMove = (255.0 - f.speedNoise) * c;
    f.noiseMove = static_cast<double>(f.speedNoise) * c;
    f.keepDelay = (255.0 - s.delayNoise) * c;
    f.noiseDelay = static_cast<double>(s.delayNoise) * c;
    f.delayScale = static_cast<double>(s.delay) * N * c * 0.0035294117647058825;
    f.lifeSpread = static_cast<double>(s.maximumLife) * N * c;
    f.lifeBase = static_cast<double>(s.minimumLife) * N * 0.00390625;
    f.horizontalShare = (255.0 - s.xyBalance) * c;
    f.verticalShare = static_cast<double>(s.xyBalance) * c;
    f.gravityAcceleration = static_cast<double>(s.gravity) * 0.125;
    f.windAcceleration = (128.0 - s.wind) * 0.25;

    f.exponent = (127.0 - s.timeline) * 0.015625;
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

    const double V = s.speedVariance;
    const double m = (s.speedVariance == 0 && s.minimumSpeed == 0) ? 1.0 : s.minimumSpeed;
    for (int k = 1; k <= 256; ++k) {
        const double v = m - (k * V) * (-c);
        f.speed[255 + k] = v;
        f.speed[256 - k] = -v;
    }

    const double D = f.delayScale;
    double A = N - D * 255;
    if (A >= 1) A = A - 1;
    f.timeWindow = A;

    f.latestLife = f.lifeSpread + 255 * D + f.lifeBase + 1;
    const double L = f.latestLife;
    if (L < N) {
        double factor = L > 0 ? N / L : 8;
        factor = std::min(factor, 8.0);
        f.time = f.time / factor;
    }

    const double g = f.gravityAcceleration;
    const double w = f.windAcceleration;
    const double H = height;
    const double W = width;
    bool solved = true;
    if (g == 0) {
        f.scaleY = H / (f.verticalShare * A * f.speed[256] + 0.0001);
    } else {
        const double a = A * A * g;
        const double b = f.speed[f.centerY] * f.verticalShare * A;
        solved = solveScale(a, b, b * b + 4 * H * a, f.scaleY) && solved;
    }
    if (w == 0) {
        f.scaleX = W / (f.horizontalShare * A * f.speed[256] + 0.0001);
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
        f.columns = static_cast<uint32_t>((static_cast<int64_t>(width) + f.cellWidth - 1) / f.cellWidth);
        f.rows = static_cast<uint32_t>((static_cast<int64_t>(height) + f.cellHeight - 1) / f.cellHeight);
    }
    return f;
}

namespace {

// One binding, resolved for a frame: the value term of an element comes from
// a per-column key plus a per-row key, so the traversal needs no division,
// modulo or switch on the kind. "Term" is the value already multiplied into
// the weight its parameter uses (keepDelay x v, or (v - 128) x keepMove),
// exactly as the formulas multiply it.
struct Sampler {
    bool fromImage = false;       // byte kinds: read a frame at visit time
    const uint32_t* image = nullptr;
    unsigned shift = 0;
    std::vector<double> terms;    // ramps: by key; bytes: by byte value
    std::vector<uint32_t> colKey, rowKey;
    std::vector<uint8_t> colMask, rowMask;  // bytes only: 0 or 255

    double term(size_t col, size_t row) const {
        if (fromImage) {
            const uint32_t word = image[rowKey[row] + colKey[col]];
            return terms[((word >> shift) ^ colMask[col] ^ rowMask[row]) & 255u];
        }
        return terms[rowKey[row] + colKey[col]];
    }
};

// Tile geometry of one coordinate: position within the tile, odd flag.
struct TileCoord {
    uint32_t pos;
    bool odd;
};

TileCoord tileCoord(uint32_t v, uint32_t repeat, uint32_t extent, bool oddFlag) {
    const uint32_t r = v * repeat;
    return {r % extent, oddFlag && ((r / extent) & 1u) != 0};
}

// value -> term, for one parameter.
using TermOf = double (*)(double value, const FrameValues& f);

double delayTerm(double v, const FrameValues& f) { return f.keepDelay * v; }
double moveTerm(double v, const FrameValues& f) { return (v - 128) * f.keepMove; }

void buildSampler(Sampler& sp, const SourceBinding& b, uint32_t W, uint32_t H,
                  uint32_t cols, uint32_t cellW, uint32_t rows, uint32_t cellH,
                  const uint32_t* clipA, const uint32_t* out, const FrameValues& f, TermOf termOf) {
    const uint32_t kind = static_cast<uint32_t>(b.kind);
    const bool invert = b.invert != 0;
    sp.colKey.resize(cols);
    sp.rowKey.resize(rows);

    if (kind < kDiag1) {
        sp.fromImage = true;
        sp.image = kind < kRed2 ? clipA : out;
        sp.shift = 8 * (kind & 3u);
        sp.colMask.resize(cols);
        sp.rowMask.resize(rows);
        sp.terms.resize(256);
        for (int v = 0; v < 256; ++v) sp.terms[v] = termOf(v, f);
        for (uint32_t i = 0; i < cols; ++i) {
            const TileCoord t = tileCoord(i * cellW, b.repeatX, W, b.oddX != 0);
            sp.colKey[i] = t.pos;
            sp.colMask[i] = t.odd ? 255 : 0;
        }
        for (uint32_t j = 0; j < rows; ++j) {
            const TileCoord t = tileCoord(j * cellH, b.repeatY, H, b.oddY != 0);
            sp.rowKey[j] = t.pos * W;
            sp.rowMask[j] = (t.odd != invert) ? 255 : 0;
        }
        return;
    }

    // Every other kind is a function of (column part + row part) and of how
    // many of the tile flips apply; tabulate all of them once per frame.
    const double extent = static_cast<double>(W + H);
    const bool mirrored = kind == kDiag1S || kind == kDiag2S;
    uint32_t len;
    switch (kind) {
        case kGradX: len = W; break;
        case kGradY: len = H; break;
        case kBlack: len = 1; break;
        default: len = (kind > kBlack) ? 1 : W + H + 1; break;
    }
    const size_t stride = len;
    sp.terms.resize(3 * stride);
    for (uint32_t flips = 0; flips < 3; ++flips) {
        for (uint32_t s = 0; s < len; ++s) {
            double v;
            if (kind > kBlack) {
                uint32_t iv = H;
                if (flips >= 1) iv ^= 255u;
                if (flips >= 2) iv ^= 255u;
                if (invert) iv ^= 255u;
                v = static_cast<double>(iv & 255u);
            } else {
                switch (kind) {
                    case kGradX: v = static_cast<double>(s) * 255.0 / static_cast<double>(W); break;
                    case kGradY: v = static_cast<double>(s) * 255.0 / static_cast<double>(H); break;
                    case kBlack: v = 0.0; break;
                    default: v = static_cast<double>(s) * 255.0 / extent; break;
                }
                // Flips repeat 255 - v step by step: a double round trip
                // through 255 - v need not give v back.
                for (uint32_t k = 0; k < flips; ++k) v = 255.0 - v;
                if (invert) v = 255.0 - v;
            }
            sp.terms[flips * stride + s] = termOf(v, f);
        }
    }
    const bool mirrorFlips = !mirrored;  // mirrored kinds never flip the value
    for (uint32_t i = 0; i < cols; ++i) {
        const TileCoord t = tileCoord(i * cellW, b.repeatX, W, b.oddX != 0);
        uint32_t part = 0;
        switch (kind) {
            case kDiag1: case kGradX: part = t.pos; break;
            case kDiag2: part = W - t.pos; break;
            case kDiag1S: part = t.odd ? W - t.pos : t.pos; break;
            case kDiag2S: part = W - (t.odd ? W - t.pos : t.pos); break;
            default: part = 0; break;
        }
        sp.colKey[i] = part + ((t.odd && mirrorFlips) ? static_cast<uint32_t>(stride) : 0u);
    }
    for (uint32_t j = 0; j < rows; ++j) {
        const TileCoord t = tileCoord(j * cellH, b.repeatY, H, b.oddY != 0);
        uint32_t part = 0;
        switch (kind) {
            case kDiag1: case kDiag2: case kGradY: part = t.pos; break;
            case kDiag1S: case kDiag2S: part = t.odd ? H - t.pos : t.pos; break;
            default: part = 0; break;
        }
        sp.rowKey[j] = part + ((t.odd && mirrorFlips) ? static_cast<uint32_t>(stride) : 0u);
    }
}

// Per-frame state of the traversal shared by both modes.
struct Traversal {
    const FrameValues* f;
    int32_t W, H;
    uint32_t* out;
    const uint32_t* a;
    Sampler samplers[kBindingCount];
    double startNoise[256];   // noiseDelay x r1
    double lifeOf[256];       // r2 x life spread x c + life base
    double moveNoise[256];    // (r - 128) x noiseMove
    double speedY[512];       // speed x vertical share
    double speedX[512];       // speed x horizontal share
    double rowBias, colBias;  // centerY + 128 and 384 - centerX
    uint32_t rowOrder, colOrder;  // 1: from the last to 0
};

constexpr LcgJump kStep1 = lcgJump(1);
constexpr LcgJump kStep2 = lcgJump(2);
constexpr LcgJump kStep3 = lcgJump(3);
constexpr LcgJump kStep4 = lcgJump(4);

inline uint32_t drawByte(uint32_t state, LcgJump j) { return ((state * j.mul + j.add) >> 16) & 255u; }

// The state of one element: where it is drawn, if at all. Consumes exactly
// four draws from the element's stream position `state`.
enum class Fate { kInPlace, kMoving, kGone };

inline Fate elementFate(const Traversal& t, size_t col, size_t row, uint32_t state,
                        double& dx, double& dy) {
    const FrameValues& f = *t.f;
    const double T = f.time;
    const double start =
        f.delayScale * (t.samplers[kDelay].term(col, row) + t.startNoise[drawByte(state, kStep1)]);
    if (!(T > start)) return Fate::kInPlace;
    const double age = T - start;
    if (!(t.lifeOf[drawByte(state, kStep2)] >= age)) return Fate::kGone;
    const double time = f.speedScale * age;
    const int iy = static_cast<int>(t.samplers[kMovingY].term(col, row) +
                                    t.moveNoise[drawByte(state, kStep3)] + t.rowBias);
    const int ix = static_cast<int>(t.samplers[kMovingX].term(col, row) +
                                    t.moveNoise[drawByte(state, kStep4)] + t.colBias);
    dy = t.speedY[iy] * time + f.gravityAcceleration * time * time;
    dx = t.speedX[ix] * time + f.windAcceleration * time * time;
    return Fate::kMoving;
}

void traversePixels(const Traversal& t) {
    const int32_t W = t.W, H = t.H;
    const double dW = W, dH = H;
    uint32_t state = RandomStream::kSeed;
    for (int32_t n = 0; n < H; ++n) {
        const int32_t y = t.rowOrder ? H - 1 - n : n;
        const double dy0 = y;
        const uint32_t* aRow = t.a + static_cast<size_t>(y) * W;
        uint32_t* outRow = t.out + static_cast<size_t>(y) * W;
        const int32_t step = t.colOrder ? -1 : 1;
        int32_t x = t.colOrder ? W - 1 : 0;
        for (int32_t m = 0; m < W; ++m, x += step) {
            double dx, dy;
            const Fate fate = elementFate(t, x, y, state, dx, dy);
            state = state * kStep4.mul + kStep4.add;
            if (fate == Fate::kInPlace) {
                outRow[x] = aRow[x];
            } else if (fate == Fate::kMoving) {
                // The new coordinate is truncated; rows and columns 0 take
                // no moving pixel (trunc(v) > 0 means v >= 1).
                const double ny = dy0 - dy;
                const double nx = x - dx;
                if (ny >= 1.0 && ny < dH && nx >= 1.0 && nx < dW) {
                    t.out[static_cast<size_t>(static_cast<int32_t>(ny)) * W +
                          static_cast<int32_t>(nx)] = aRow[x];
                }
            }
        }
    }
}

// Copies the part of a w x h block at (x0, y0) of clip A that lies inside
// the frame to (x0 - sx, y0 - sy), clipped to the frame.
void copyBlock(const Traversal& t, int64_t x0, int64_t y0, int64_t w, int64_t h, int64_t sx,
               int64_t sy) {
    const int64_t W = t.W, H = t.H;
    const int64_t aLo = std::max<int64_t>(0, sx - x0);
    const int64_t aHi = std::min({w, W - x0, W - x0 + sx});
    const int64_t bLo = std::max<int64_t>(0, sy - y0);
    const int64_t bHi = std::min({h, H - y0, H - y0 + sy});
    if (aLo >= aHi) return;
    const size_t bytes = static_cast<size_t>(aHi - aLo) * sizeof(uint32_t);
    for (int64_t b = bLo; b < bHi; ++b) {
        std::memcpy(t.out + (y0 + b - sy) * W + (x0 + aLo - sx), t.a + (y0 + b) * W + (x0 + aLo),
                    bytes);
    }
}

// Whole-pixel shift of a cell; false when it is not a number or so large that
// the cell leaves the frame entirely.
bool cellShift(double d, int64_t& shift) {
    if (!(d > -2147483648.0 && d < 2147483648.0)) return false;
    shift = static_cast<int64_t>(d);
    return true;
}

void traverseCells(const Traversal& t, uint32_t cols, uint32_t rows) {
    const int64_t w = t.f->cellWidth, h = t.f->cellHeight;
    uint32_t state = RandomStream::kSeed;
    for (uint32_t n = 0; n < rows; ++n) {
        const uint32_t j = t.rowOrder ? rows - 1 - n : n;
        for (uint32_t m = 0; m < cols; ++m) {
            const uint32_t i = t.colOrder ? cols - 1 - m : m;
            double dx, dy;
            const Fate fate = elementFate(t, i, j, state, dx, dy);
            state = state * kStep4.mul + kStep4.add;
            const int64_t x0 = static_cast<int64_t>(i) * w, y0 = static_cast<int64_t>(j) * h;
            if (fate == Fate::kInPlace) {
                copyBlock(t, x0, y0, w, h, 0, 0);
            } else if (fate == Fate::kMoving) {
                int64_t sx, sy;
                if (cellShift(dx, sx) && cellShift(dy, sy)) copyBlock(t, x0, y0, w, h, sx, sy);
            }
        }
    }
}

}  // namespace

void render(const RenderJob& job) {
    if (job.width < 1 || job.height < 1) return;
    const int32_t W = job.width, H = job.height;
    const size_t pixels = static_cast<size_t>(W) * static_cast<size_t>(H);
    std::memcpy(job.pixelsOut, job.pixelsB, pixels * sizeof(uint32_t));

    Traversal t;
    const FrameValues f = computeFrameValues(*job.settings, job.duration, job.position, W, H);
    if (!f.scalesSolved) return;
    t.f = &f;
    t.W = W;
    t.H = H;
    t.out = job.pixelsOut;
    t.a = job.pixelsA;
    for (int r = 0; r < 256; ++r) {
        t.startNoise[r] = f.noiseDelay * r;
        t.lifeOf[r] = r * f.lifeSpread * c + f.lifeBase;
        t.moveNoise[r] = (r - 128) * f.noiseMove;
    }
    for (int k = 0; k < 512; ++k) {
        t.speedY[k] = f.speed[k] * f.verticalShare;
        t.speedX[k] = f.speed[k] * f.horizontalShare;
    }
    t.rowBias = f.centerY + 128;
    t.colBias = 384 - f.centerX;
    t.rowOrder = job.settings->orderFlags & 1;
    t.colOrder = (job.settings->orderFlags >> 1) & 1;

    const uint32_t cellW = static_cast<uint32_t>(f.cellWidth);
    const uint32_t cellH = static_cast<uint32_t>(f.cellHeight);
    const uint32_t cols = f.columns, rows = f.rows;
    const TermOf termOf[kBindingCount] = {moveTerm, moveTerm, delayTerm};
    for (int b = 0; b < kBindingCount; ++b) {
        buildSampler(t.samplers[b], job.settings->sourceBindings[b], W, H, cols, cellW, rows,
                     cellH, job.pixelsA, job.pixelsOut, f, termOf[b]);
    }
    if (f.perPixel) {
        traversePixels(t);
    } else {
        traverseCells(t, cols, rows);
    }
}

}  // namespace granulix
