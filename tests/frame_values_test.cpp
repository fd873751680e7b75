#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "frames.h"
#include "random_stream.h"
#include "reference_renderer.h"
#include "renderer.h"

namespace granulix {
namespace {

using testing::defaults;

constexpr uint32_t kN = 65536;

// The worked values are written with their digits cut off: the exact value
// lies between the written one and one unit of its last digit further out.
void expectNear(double actual, const char* written, const char* what) {
    const std::string text(written);
    const size_t point = text.find('.');
    const int decimals = point == std::string::npos ? 0 : int(text.size() - point - 1);
    const double expected = std::fabs(std::stod(text));
    EXPECT_GE(std::fabs(actual), expected) << what;
    EXPECT_LT(std::fabs(actual), expected + std::pow(10.0, -decimals)) << what;
}

TEST(FrameValues, WorkedValuesForTheDefaultLook) {
    EffectSettings s = defaults();
    const FrameValues f = computeFrameValues(s, kN, 32768, 320, 240);
    expectNear(f.delayScale, "58.95972318", "D");
    expectNear(f.lifeSpread, "65536", "life spread");
    EXPECT_EQ(f.lifeBase, 65280.0);
    expectNear(f.latestLife, "145851.729", "L");
    EXPECT_EQ(f.time, 32768.0);
    expectNear(f.timeWindow, "50500.2705882", "A");
    expectNear(f.speed[256], "25.4117647", "speed[256]");
    expectNear(f.speed[0], "-130.4117647", "speed[0]");
    expectNear(f.scaleX, "0.000464131", "sX");
    expectNear(f.scaleY, "0.000404148", "sY");
    EXPECT_EQ(f.speedScale, f.scaleY);
    EXPECT_TRUE(f.scalesSolved);
    EXPECT_FALSE(f.perPixel);

    s.gravity = 64;
    expectNear(computeFrameValues(s, kN, 32768, 320, 240).scaleY, "0.000162062", "sY, gravity 64");

    s = defaults();
    s.wind = 200;
    const FrameValues windy = computeFrameValues(s, kN, 32768, 320, 240);
    expectNear(windy.scaleX, "0.000109709", "sX, wind 200");
    EXPECT_EQ(windy.speedScale, windy.scaleX);
}

TEST(FrameValues, EngineAgreesWithTheLiteralFormulasToTheBit) {
    EffectSettings s = defaults();
    for (int gravity : {0, 64, 255}) {
        for (int wind : {0, 100, 128, 200, 255}) {
            for (uint32_t p : {0u, 1u, 20000u, 32768u, 65535u, 65536u}) {
                s.gravity = gravity;
                s.wind = wind;
                const FrameValues f = computeFrameValues(s, kN, p, 321, 239);
                const reference::Values r = reference::frameValues(s, kN, p, 321, 239);
                ASSERT_EQ(f.scalesSolved, r.solved);
                EXPECT_EQ(f.time, r.T);
                EXPECT_EQ(f.scaleX, r.sX);
                EXPECT_EQ(f.scaleY, r.sY);
                EXPECT_EQ(f.speedScale, r.S);
                for (int k = 0; k < 512; ++k) ASSERT_EQ(f.speed[k], r.speed[k]) << k;
            }
        }
    }
}

TEST(FrameValues, NoLifeCompressesTimeByEight) {
    EffectSettings s = defaults();
    s.delay = s.minimumLife = s.maximumLife = 0;
    const FrameValues f = computeFrameValues(s, kN, 32768, 320, 240);
    EXPECT_EQ(f.latestLife, 1.0);
    EXPECT_EQ(f.time, 4096.0);

    // L just under N / 8: the factor N / L exceeds 8 and is held to 8.
    s.maximumLife = 10;
    const FrameValues g = computeFrameValues(s, kN, 40000, 320, 240);
    EXPECT_LT(g.latestLife, kN / 8.0);
    EXPECT_EQ(g.time, 40000.0 / 8);
}

TEST(FrameValues, TimelineShapesTheEffectiveTime) {
    EffectSettings s = defaults();
    for (uint32_t p : {0u, 1u, 777u, 32768u, 65536u}) {
        EXPECT_EQ(computeFrameValues(s, kN, p, 64, 48).time, double(p)) << p;
    }
    s.timeline = 0;
    const FrameValues f = computeFrameValues(s, kN, 32768, 64, 48);
    EXPECT_EQ(f.exponent, 1.984375);
    EXPECT_EQ(f.time, std::pow(32768.0 / 65535.0, 1.984375) * 32768);
    EXPECT_LT(f.time, 32768.0);
}

TEST(FrameValues, CalmWindWithAllSpeedVerticalUsesTheGuard) {
    EffectSettings s = defaults();
    s.gravity = 0;
    s.wind = 128;
    s.xyBalance = 0;
    const FrameValues f = computeFrameValues(s, kN, 32768, 320, 240);
    EXPECT_EQ(f.scaleY, 240 / 0.0001);
    EXPECT_EQ(f.speedScale, f.scaleX);
}

TEST(FrameValues, NoVarianceAndNoMinimumGiveUnitSpeeds) {
    EffectSettings s = defaults();
    s.speedVariance = 0;
    s.minimumSpeed = 0;
    const FrameValues f = computeFrameValues(s, kN, 100, 64, 48);
    for (int k = 0; k < 256; ++k) ASSERT_EQ(f.speed[k], -1.0) << k;
    for (int k = 256; k < 512; ++k) ASSERT_EQ(f.speed[k], 1.0) << k;
}

TEST(FrameValues, TraversalModeAndCellGrid) {
    EffectSettings s = defaults();
    s.cellWidth = s.cellHeight = 7;
    FrameValues f = computeFrameValues(s, kN, 1, 20, 15);
    EXPECT_FALSE(f.perPixel);
    EXPECT_EQ(f.columns, 3u);
    EXPECT_EQ(f.rows, 3u);

    s.cellWidth = s.cellHeight = 1;
    EXPECT_TRUE(computeFrameValues(s, kN, 1, 20, 15).perPixel);

    s.cellFlags = 1;  // "Bands": counts of cells
    s.cellWidth = 1;
    s.cellHeight = 15;
    f = computeFrameValues(s, kN, 1, 20, 15);
    EXPECT_FALSE(f.perPixel);
    EXPECT_EQ(f.cellWidth, 20);
    EXPECT_EQ(f.cellHeight, 1);
    EXPECT_EQ(f.rows, 15u);

    s.cellWidth = 10;
    s.cellHeight = 7;  // at least half the frame both ways
    EXPECT_TRUE(computeFrameValues(s, kN, 1, 20, 15).perPixel);

    s.cellWidth = 0;  // a count of 0 is one cell spanning the frame
    s.cellHeight = 3;
    f = computeFrameValues(s, kN, 1, 20, 15);
    EXPECT_EQ(f.cellWidth, 20);
    EXPECT_EQ(f.cellHeight, 5);
    EXPECT_EQ(f.columns, 1u);
}

TEST(RandomStream, FirstValuesAfterSeeding) {
    RandomStream r;
    const uint32_t expected[] = {228, 213, 217, 54};
    for (uint32_t e : expected) EXPECT_EQ(r.next() & 255u, e);
}

TEST(RandomStream, JumpAheadMatchesSteppingOneByOne) {
    RandomStream r(99);
    uint64_t stepped = 0;
    for (uint64_t steps : {0u, 1u, 4u, 5u, 8u, 255u, 7680u, 4u * 4097u, 100003u}) {
        for (; stepped < steps; ++stepped) r.next();
        const LcgJump j = lcgJump(steps);
        EXPECT_EQ(r.state(), j(99u)) << steps;
    }
    // The generator's state repeats after 2^32 steps.
    EXPECT_EQ(lcgJump(uint64_t(1) << 32)(12345u), 12345u);
}

}  // namespace
}  // namespace granulix
