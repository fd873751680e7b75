// The values of a frame that every element shares: computeFrameValues.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "renderer.h"

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

// The speed table: kSpeedSteps speeds each way from the middle, minimum plus
// variance.
void settleSpeeds(const EffectSettings& s, FrameValues& f) {
    const double V = s.speedVariance;
    const double m = (s.speedVariance == 0 && s.minimumSpeed == 0) ? 1.0 : s.minimumSpeed;
    for (int k = 1; k <= kSpeedSteps; ++k) {
        const double v = m - (k * V) * (-kInv255);
        f.speed[kSpeedSteps - 1 + k] = v;
        f.speed[kSpeedSteps - k] = -v;
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
        f.scaleY = H / (f.verticalShare * A * f.speed[kSpeedSteps] + kScaleGuard);
    } else {
        const double a = A * A * g;
        const double b = f.speed[f.centerY] * f.verticalShare * A;
        solved = solveScale(a, b, b * b + 4 * H * a, f.scaleY) && solved;
    }
    if (w == 0) {
        f.scaleX = W / (f.horizontalShare * A * f.speed[kSpeedSteps] + kScaleGuard);
    } else if (w > 0) {
        const double a = A * A * w;
        const double b = f.speed[kSpeedSteps - f.centerX] * f.horizontalShare * A;
        solved = solveScale(a, b, b * b + 4 * W * a, f.scaleX) && solved;
    } else {
        const double a = A * A * w;
        const double b = f.speed[kSpeedTableSize - 1 - f.centerX] * f.horizontalShare * A;
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

}  // namespace granulix
