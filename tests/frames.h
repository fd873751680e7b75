// Frames and jobs for engine tests.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "effect_settings.h"
#include "render_job.h"

namespace granulix::testing {

inline EffectSettings defaults() {
    EffectSettings s{};
    fillDefaults(s);
    return s;
}

// A clip pair and an output buffer of one size, with a job over them.
struct Frames {
    int32_t width, height;
    std::vector<uint32_t> a, b, out;

    Frames(int32_t w, int32_t h, uint32_t seed = 1)
        : width(w), height(h), a(size_t(w) * h), b(size_t(w) * h), out(size_t(w) * h, 0xDEADBEEF) {
        std::mt19937 gen(seed);
        for (auto& p : a) p = gen() & 0x00FFFFFFu;
        for (auto& p : b) p = gen() & 0x00FFFFFFu;
    }

    RenderJob job(EffectSettings& s, uint32_t duration, uint32_t position) {
        return workFramesJob(duration, position, width, height, {a.data(), b.data(), out.data()},
                             s);
    }
    uint32_t& outAt(int x, int y) { return out[size_t(y) * width + x]; }
    uint32_t aAt(int x, int y) const { return a[size_t(y) * width + x]; }
    uint32_t bAt(int x, int y) const { return b[size_t(y) * width + x]; }
};

}  // namespace granulix::testing
