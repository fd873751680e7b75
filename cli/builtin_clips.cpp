#include "builtin_clips.h"

#include <algorithm>
#include <cmath>

namespace granulix::cli {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFramesPerSecond = double(kBuiltinRate.num) / kBuiltinRate.den;

// One period of a sine in 1024 steps, scaled to 0..1.
const float* sineTable() {
    static const auto table = [] {
        static float t[1024];
        for (int i = 0; i < 1024; ++i) t[i] = float(0.5 + 0.5 * std::sin(2 * kPi * i / 1024));
        return t;
    }();
    return table;
}

inline float wave(double phase) {
    return sineTable()[int64_t(std::floor(phase * (1024 / (2 * kPi)))) & 1023];
}

inline uint8_t clampByte(double v) { return uint8_t(std::clamp(v, 0.0, 255.0)); }

inline void put(uint8_t* p, double r, double g, double b) {
    p[0] = clampByte(b);
    p[1] = clampByte(g);
    p[2] = clampByte(r);
}

void drawRings(int frame, HostFrame& out) {
    const double t = frame / kFramesPerSecond;
    const double h = out.height, w = out.width;
    const double cx = 0.5 * w / h + 0.35 * std::sin(0.7 * t);
    const double cy = 0.5 + 0.2 * std::cos(0.9 * t);
    for (int32_t y = 0; y < out.height; ++y) {
        uint8_t* p = out.lineFromTop(y);
        const double v = y / h;
        const double dy = v - cy;
        // Deep red at the top to orange at the bottom.
        const double baseR = 150 + 90 * v, baseG = 30 + 90 * v, baseB = 50 - 30 * v;
        for (int32_t x = 0; x < out.width; ++x, p += 3) {
            const double u = x / h;
            const double dx = u - cx;
            const double d = std::sqrt(dx * dx + dy * dy);
            double ring = wave(d * 28 - t * 5);
            ring = ring * ring * ring;
            const double glow = wave(u * 9 + v * 4 + t * 1.3) * 0.25;
            put(p, baseR + (255 - baseR) * ring + 40 * glow,
                baseG + (225 - baseG) * ring + 60 * glow, baseB + (120 - baseB) * ring);
        }
    }
}

void drawTiles(int frame, HostFrame& out) {
    const double t = frame / kFramesPerSecond;
    const double h = out.height, w = out.width;
    const double tile = std::max(2.0, h / 6);
    const double ox = t * 0.12 * h, oy = t * 0.07 * h;
    const double barX = (std::fmod(t * 0.35, 1.4) - 0.2) * w;
    const double barHalf = 0.05 * w;
    for (int32_t y = 0; y < out.height; ++y) {
        uint8_t* p = out.lineFromTop(y);
        const double v = y / h;
        const double ty = (y + oy) / tile;
        const double fy = ty - std::floor(ty);
        const int64_t row = int64_t(std::floor(ty));
        for (int32_t x = 0; x < out.width; ++x, p += 3) {
            const double tx = (x + ox) / tile;
            const double fx = tx - std::floor(tx);
            const int64_t column = int64_t(std::floor(tx));
            double r, g, b;
            if (((row + column) & 1) == 0) {
                r = 20, g = 150 - 40 * v, b = 170;  // teal
            } else {
                r = 25, g = 45, b = 110 - 30 * v;  // navy
            }
            if (fx < 0.05 || fy < 0.05) r = 10, g = 20, b = 40;  // grout
            const double bar = std::abs(x - barX - 0.3 * (y - h / 2));
            if (bar < barHalf) {
                const double light = 0.6 * (1 - bar / barHalf);
                r += (255 - r) * light, g += (255 - g) * light, b += (255 - b) * light;
            }
            put(p, r, g, b);
        }
    }
}

class BuiltinClip : public ClipSource {
public:
    explicit BuiltinClip(BuiltinPattern pattern) : pattern_(pattern) {}
    PictureTask pictureAt(int64_t index, FrameRate rate) override {
        // The pattern's own frame on screen at that moment.
        const int64_t frame =
            index * kBuiltinRate.num * rate.den / (int64_t(kBuiltinRate.den) * rate.num);
        return [pattern = pattern_, frame = int(std::min<int64_t>(frame, INT32_MAX))](
                   HostFrame& out) { drawPattern(pattern, frame, out); };
    }
    std::optional<FrameRate> rate() const override { return kBuiltinRate; }

private:
    BuiltinPattern pattern_;
};

}  // namespace

void drawPattern(BuiltinPattern pattern, int frame, HostFrame& out) {
    if (pattern == BuiltinPattern::kRings) {
        drawRings(frame, out);
    } else {
        drawTiles(frame, out);
    }
}

std::unique_ptr<ClipSource> builtinClip(BuiltinPattern pattern) {
    return std::make_unique<BuiltinClip>(pattern);
}

}  // namespace granulix::cli
