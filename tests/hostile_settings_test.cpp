// Settings blocks come from hosts and files and may hold any bits. Whatever
// they hold, every output pixel is clip B's own or one of clip A's pixels.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <unordered_set>

#include "frames.h"
#include "renderer.h"

namespace granulix {
namespace {

using testing::Frames;

void expectOnlyClipPixels(const Frames& f) {
    const std::unordered_set<uint32_t> fromA(f.a.begin(), f.a.end());
    for (size_t i = 0; i < f.out.size(); ++i) {
        ASSERT_TRUE(f.out[i] == f.b[i] || fromA.count(f.out[i])) << "pixel " << i;
    }
}

TEST(HostileSettings, RandomBlocksRenderOnlyClipPixels) {
    std::mt19937 g(424);
    for (int round = 0; round < 400; ++round) {
        EffectSettings s;
        auto* words = reinterpret_cast<uint32_t*>(&s);
        for (size_t i = 0; i < sizeof s / 4; ++i) words[i] = g();
        // Half the rounds keep the fields small, where the arithmetic is live.
        if (round % 2) {
            for (size_t i = 0; i < 42; ++i) words[i] = static_cast<uint32_t>(int32_t(g() % 600) - 100);
        }
        Frames f(1 + g() % 23, 1 + g() % 17, round);
        const uint32_t N = round % 3 ? 65536 : g() % 100;
        render(f.job(s, N, N ? g() % (N + 1) : 0));
        expectOnlyClipPixels(f);
    }
}

TEST(HostileSettings, ExtremeFieldsAreHeldToTheirLimits) {
    const int32_t extremes[] = {INT_MIN, -1, 0, 257, 1000, INT_MAX};
    for (int32_t v : extremes) {
        for (int field : {0, 1, 2, 3, 4, 5}) {
            EffectSettings s{};
            fillDefaults(s);
            int32_t* targets[] = {&s.speedNoise, &s.centerX, &s.centerY, &s.cellWidth, &s.timeline,
                                  &s.delay};
            *targets[field] = v;
            for (int32_t flags : {0, 1}) {
                s.cellFlags = flags;
                Frames f(21, 13);
                render(f.job(s, 65536, 32768));
                expectOnlyClipPixels(f);
            }
        }
    }
}

// Within the limits nothing changes: a block at the edge of every limit
// renders as its clamped self.
TEST(HostileSettings, ClampingChangesNothingWithinTheLimits) {
    EffectSettings inside{};
    fillDefaults(inside);
    inside.speedNoise = 255;
    inside.centerX = 256;
    inside.centerY = 0;
    EffectSettings outside = inside;
    outside.speedNoise = 9999;
    outside.centerX = 300;
    outside.centerY = -40;
    Frames a(30, 20), b(30, 20);
    render(a.job(inside, 65536, 40000));
    render(b.job(outside, 65536, 40000));
    EXPECT_EQ(a.out, b.out);
}

}  // namespace
}  // namespace granulix
