#include <gtest/gtest.h>

#include "frames.h"
#include "renderer.h"
#include "source_map.h"

namespace granulix {
namespace {

using testing::defaults;
using testing::Frames;

constexpr uint32_t kN = 65536;

TEST(Traversal, PositionZeroShowsClipAForEveryTimeline) {
    for (int timeline = 0; timeline <= 255; timeline += 17) {
        for (int cell : {1, 2, 7}) {
            EffectSettings s = defaults();
            s.timeline = timeline;
            s.cellWidth = s.cellHeight = cell;
            Frames f(19, 13, timeline);
            render(f.job(s, kN, 0));
            ASSERT_EQ(f.out, f.a) << "timeline " << timeline << " cell " << cell;
        }
    }
}

TEST(Traversal, NoLifeShowsClipAWhereWaitingAndClipBElsewhere) {
    EffectSettings s = defaults();
    s.minimumLife = s.maximumLife = 0;
    s.cellWidth = s.cellHeight = 1;
    Frames f(40, 30);
    render(f.job(s, kN, 30000));
    int fromA = 0, fromB = 0;
    for (size_t i = 0; i < f.out.size(); ++i) {
        ASSERT_TRUE(f.out[i] == f.a[i] || f.out[i] == f.b[i]) << i;
        (f.out[i] == f.a[i] ? fromA : fromB)++;
    }
    EXPECT_GT(fromA, 0);
    EXPECT_GT(fromB, 0);

    s.delay = s.delayNoise = 0;  // everything starts at once, and dies at once
    render(f.job(s, kN, 1));
    EXPECT_EQ(f.out, f.b);
}

// Lives of exactly the base (65280) end only in the last 256th of the
// transition: up to position 65280 the frame is the same as with the longest
// lives.
TEST(Traversal, DefaultLivesOutlastAllButTheLastStretch) {
    EffectSettings longest = defaults(), base = defaults();
    base.maximumLife = 0;
    Frames f(32, 24), g(32, 24);
    for (uint32_t p : {20000u, 65280u}) {
        render(f.job(longest, kN, p));
        render(g.job(base, kN, p));
        EXPECT_EQ(f.out, g.out) << p;
    }
}

// With no noise, everything moving, a moving pixel never lands on row 0 or
// column 0, whereas a moving cell may cover them.
TEST(Traversal, PixelsNeverLandOnRowOrColumnZeroButCellsDo) {
    EffectSettings s = defaults();
    s.delay = s.delayNoise = 0;
    s.gravity = 255;
    s.wind = 255;  // towards column 0
    s.cellWidth = s.cellHeight = 1;
    Frames f(48, 36);
    render(f.job(s, kN, 20000));
    for (int x = 0; x < f.width; ++x) ASSERT_EQ(f.outAt(x, 0), f.bAt(x, 0)) << x;
    for (int y = 0; y < f.height; ++y) ASSERT_EQ(f.outAt(0, y), f.bAt(0, y)) << y;

    s.cellWidth = s.cellHeight = 3;
    render(f.job(s, kN, 20000));
    int covered = 0;
    for (int x = 0; x < f.width; ++x) covered += f.outAt(x, 0) != f.bAt(x, 0);
    EXPECT_GT(covered, 0);
}

// Whether an element has started must not shift the random numbers of the
// elements after it: making the first element wait changes at most the two
// pixels it concerns.
TEST(Traversal, WaitingElementsStillUseFourRandomNumbers) {
    EffectSettings s = defaults();
    s.cellWidth = s.cellHeight = 1;
    s.delayNoise = 0;
    s.delay = 255;
    s.sourceBindings[kDelay] = SourceBinding{kRed1, 0, 1, 1, 0, 0};
    Frames early(30, 20), late(30, 20);
    late.a = early.a;
    early.a[0] &= ~0xFFu;  // red 0: starts at once
    late.a[0] |= 0xFFu;    // red 255: waits past mid-transition
    render(early.job(s, kN, 32768));
    render(late.job(s, kN, 32768));
    EXPECT_EQ(late.out[0], late.a[0]);
    int differing = 0;
    for (size_t i = 1; i < early.out.size(); ++i) differing += early.out[i] != late.out[i];
    EXPECT_LE(differing, 1);
}

TEST(Traversal, LastCellColumnReachingPastTheFrameMovesAsOneBlock) {
    EffectSettings s = defaults();
    s.cellWidth = s.cellHeight = 7;
    s.delay = s.delayNoise = 0;
    s.speedNoise = 0;
    s.sourceBindings[kMovingX] = SourceBinding{kBlack, 0, 1, 1, 0, 0};
    s.sourceBindings[kMovingY] = SourceBinding{kBlack, 0, 1, 1, 0, 0};
    Frames f(20, 15);
    // Every cell has the same speed, so the picture shifts as a whole; the
    // columns 14..19 of the last cell column move with it.
    render(f.job(s, kN, 3000));
    // A source value of 0 moves towards higher columns and rows: pixel
    // (x, y) of the output shows clip A at (x - sx, y - sy).
    int sx = -1, sy = -1;
    for (int dy = 0; dy < 8 && sx < 0; ++dy) {
        for (int dx = 0; dx < 11; ++dx) {
            if (f.outAt(10, 7) == f.aAt(10 - dx, 7 - dy)) {
                sx = dx;
                sy = dy;
                break;
            }
        }
    }
    ASSERT_GE(sx, 1);
    for (int y = sy; y < 15; ++y) {
        for (int x = sx; x < 20; ++x) {
            ASSERT_EQ(f.outAt(x, y), f.aAt(x - sx, y - sy)) << x << "," << y;
        }
    }
}

// Speeds that grow across the frame make pixels overtake each other. With
// everything started at once and long lives, the random numbers decide
// nothing, so reversing the column order can only change who wins where two
// pixels land on one position.
TEST(Traversal, ReversedColumnsChangeWhoWinsACollision) {
    EffectSettings s = defaults();
    s.cellWidth = s.cellHeight = 1;
    s.delay = s.delayNoise = 0;
    s.speedNoise = 0;
    s.speedVariance = 255;
    s.xyBalance = 0;
    s.sourceBindings[kMovingX] = SourceBinding{kGradX, 0, 1, 1, 0, 0};
    Frames f(64, 48);
    render(f.job(s, kN, 8000));
    const auto forward = f.out;
    s.orderFlags = 2;
    render(f.job(s, kN, 8000));
    int differing = 0;
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x)
            if (f.outAt(x, y) != forward[size_t(y) * f.width + x]) {
                ++differing;
                // Both winners come from the same row of clip A.
                bool inRow = false;
                for (int ax = 0; ax < f.width; ++ax) inRow |= f.aAt(ax, y) == f.outAt(x, y);
                EXPECT_TRUE(inRow);
            }
    EXPECT_GT(differing, 0);
}

}  // namespace
}  // namespace granulix
