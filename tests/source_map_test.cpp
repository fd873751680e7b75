#include <gtest/gtest.h>

#include <vector>

#include "source_map.h"

namespace granulix {
namespace {

double value(uint32_t x, uint32_t y, uint32_t w, uint32_t h, SourceBinding b,
             const uint32_t* img1 = nullptr, const uint32_t* img2 = nullptr) {
    return sourceValue(x, y, w, h, b, img1, img2);
}

TEST(SourceMap, GradXRunsAcrossTheFrameAndMirrorsValuesOnOddTiles) {
    EXPECT_EQ(value(0, 0, 100, 50, {kGradX, 0, 1, 1, 0, 0}), 0.0);
    EXPECT_EQ(value(99, 0, 100, 50, {kGradX, 0, 1, 1, 0, 0}), 99 * 255.0 / 100);
    EXPECT_EQ(value(10, 0, 100, 50, {kGradX, 0, 2, 1, 1, 0}), 51.0);
    EXPECT_EQ(value(60, 0, 100, 50, {kGradX, 0, 2, 1, 1, 0}), 204.0);
    EXPECT_EQ(value(0, 30, 100, 50, {kGradY, 0, 1, 1, 0, 0}), 30 * 255.0 / 50);
}

TEST(SourceMap, MirroredDiagonalReflectsTheCoordinateFromTheFullWidth) {
    EXPECT_EQ(value(60, 0, 100, 100, {kDiag1S, 0, 2, 1, 1, 0}), 102.0);
    // Without the odd flag the second tile repeats the first.
    EXPECT_EQ(value(60, 0, 100, 100, {kDiag1S, 0, 2, 1, 0, 0}), 20 * 255.0 / 200);
    // An odd tile down starts at the full height: value 255 at its corner.
    EXPECT_EQ(value(0, 50, 100, 100, {kDiag2S, 0, 1, 2, 0, 1}), 255.0);
    EXPECT_EQ(value(100 - 1, 99, 100, 100, {kDiag1, 0, 1, 1, 0, 0}), 198 * 255.0 / 200);
    EXPECT_EQ(value(0, 0, 100, 100, {kDiag2, 0, 1, 1, 0, 0}), 127.5);
}

TEST(SourceMap, BlackIsACheckerboardOfRepeats) {
    EXPECT_EQ(value(3, 3, 10, 10, {kBlack, 1, 1, 1, 0, 0}), 255.0);
    const SourceBinding checker{kBlack, 0, 4, 4, 1, 1};
    for (uint32_t ty = 0; ty < 4; ++ty) {
        for (uint32_t tx = 0; tx < 4; ++tx) {
            const double expected = ((tx + ty) % 2) ? 255.0 : 0.0;
            EXPECT_EQ(value(tx * 40 + 5, ty * 30 + 5, 160, 120, checker), expected) << tx << ty;
        }
    }
}

TEST(SourceMap, ByteKindsReadTheirByteOfTheChosenImage) {
    const uint32_t img1[4] = {0x11223356u, 0, 0, 0xA0B0C0D0u};
    const uint32_t img2[4] = {0x01020304u, 0, 0, 0x0A0B0C0Du};
    EXPECT_EQ(value(0, 0, 2, 2, {kRed1, 0, 1, 1, 0, 0}, img1, img2), 0x56);
    EXPECT_EQ(value(0, 0, 2, 2, {kRed1, 1, 1, 1, 0, 0}, img1, img2), 169.0);  // 255 - 86
    EXPECT_EQ(value(1, 1, 2, 2, {kGreen1, 0, 1, 1, 0, 0}, img1, img2), 0xC0);
    EXPECT_EQ(value(1, 1, 2, 2, {kBlue1, 0, 1, 1, 0, 0}, img1, img2), 0xB0);
    EXPECT_EQ(value(1, 1, 2, 2, {kAlpha1, 0, 1, 1, 0, 0}, img1, img2), 0xA0);
    EXPECT_EQ(value(0, 0, 2, 2, {kRed2, 0, 1, 1, 0, 0}, img1, img2), 0x04);
    EXPECT_EQ(value(1, 1, 2, 2, {kAlpha2, 0, 1, 1, 0, 0}, img1, img2), 0x0A);
}

TEST(SourceMap, ByteKindsShrinkAndRepeatTheImageWithOddTilesInNegative) {
    std::vector<uint32_t> img(8 * 4);
    for (uint32_t i = 0; i < img.size(); ++i) img[i] = i * 5;
    // Repeat 2 across: column x samples column 2x mod 8; the second tile is odd.
    EXPECT_EQ(value(1, 0, 8, 4, {kRed1, 0, 2, 1, 1, 0}, img.data()), 10.0);
    EXPECT_EQ(value(5, 0, 8, 4, {kRed1, 0, 2, 1, 1, 0}, img.data()), 255.0 - 10);
    EXPECT_EQ(value(5, 0, 8, 4, {kRed1, 0, 2, 1, 1, 1}, img.data()), 255.0 - 10);
}

TEST(SourceMap, KindsBeyondTheListYieldTheLowByteOfTheHeight) {
    EXPECT_EQ(value(7, 9, 40, 300, {20, 0, 1, 1, 0, 0}), 44.0);
    EXPECT_EQ(value(7, 9, 40, 300, {20, 1, 1, 1, 0, 0}), 211.0);
    EXPECT_EQ(value(7, 9, 40, 300, {-1, 0, 1, 1, 0, 0}), 44.0);
}

TEST(SourceMap, HugeRepeatCountsWrapAndStayInsideTheImage) {
    const uint32_t img[6] = {1, 2, 3, 4, 5, 6};
    for (uint32_t x = 0; x < 3; ++x) {
        const double v = value(x, 1, 3, 2, {kRed1, 0, -7, 0x7FFFFFFF, 1, 1}, img);
        EXPECT_GE(v, 0.0);
        EXPECT_LE(v, 255.0);
    }
}

}  // namespace
}  // namespace granulix
