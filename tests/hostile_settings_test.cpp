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
        for (size_t i = 0; i < sizeof s / 4; ++i) words[i] = uint32_t(g());
        // Half the rounds keep the fields small, where the arithmetic is live.
        if (round % 2) {
            for (size_t i = 0; i < 42; ++i)
                words[i] = static_cast<uint32_t>(int32_t(g() % 600) - 100);
        }
        Frames f(int32_t(1 + g() % 23), int32_t(1 + g() % 17), uint32_t(round));
        const uint32_t N = round % 3 ? 65536 : uint32_t(g() % 100);
        render(f.job(s, N, N ? uint32_t(g() % (N + 1)) : 0));
        expectOnlyClipPixels(f);
    }
}

// The fields that index the renderer's tables or divide are held to their
// limits: a value beyond a limit renders exactly as the limit itself, in cell
// and in band layouts. Each row also names a value inside the limits that
// renders differently, so that a field the frame ignores cannot pass.
TEST(HostileSettings, ExtremeFieldsAreHeldToTheirLimits) {
    struct Row {
        int32_t EffectSettings::*field;
        int32_t extreme;
        int32_t heldTo;
        int32_t other;
    };
    const Row rows[] = {
        {&EffectSettings::speedNoise, INT_MIN, 0, 255},
        {&EffectSettings::speedNoise, -1, 0, 255},
        {&EffectSettings::speedNoise, 256, 255, 0},
        {&EffectSettings::speedNoise, INT_MAX, 255, 0},
        {&EffectSettings::centerX, INT_MIN, 0, 256},
        {&EffectSettings::centerX, -40, 0, 256},
        {&EffectSettings::centerX, 257, 256, 0},
        {&EffectSettings::centerX, INT_MAX, 256, 0},
        {&EffectSettings::centerY, INT_MIN, 0, 256},
        {&EffectSettings::centerY, 300, 256, 0},
        {&EffectSettings::centerY, INT_MAX, 256, 0},
        {&EffectSettings::cellWidth, 0, 1, 5},
        {&EffectSettings::cellWidth, INT_MIN, 1, 5},
        {&EffectSettings::cellHeight, 0, 1, 5},
        {&EffectSettings::cellHeight, -1, 1, 5},
    };
    for (const Row& row : rows) {
        for (int32_t bands : {0, 1}) {
            auto renderWith = [&](int32_t value) {
                EffectSettings s = testing::defaults();
                s.cellFlags = bands;
                s.*row.field = value;
                Frames f(48, 32);
                render(f.job(s, 65536, 12000));
                expectOnlyClipPixels(f);
                return f.out;
            };
            const auto held = renderWith(row.heldTo);
            EXPECT_EQ(renderWith(row.extreme), held) << row.extreme << " bands " << bands;
            EXPECT_NE(renderWith(row.other), held) << row.other << " bands " << bands;
        }
    }
}

}  // namespace
}  // namespace granulix
