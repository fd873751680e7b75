// The Sources page's map picture: where it sits in its box and which grey
// values it holds.
#include "source_map_picture.h"

#include <gtest/gtest.h>

#include <vector>

#include "source_map.h"

namespace granulix {
namespace {

TEST(SourceMapPlacement, CentresAcrossBelowTheCaptionOrScalesDownToTheBox) {
    struct Case {
        int boxWidth, boxHeight;
        MapPlacement expected;
    };
    const Case cases[] = {
        {165, 126, {18, 20, 128, 96}},      // room below the caption: centred there
        {140, 110, {6, 12, 128, 96}},       // 14 spare rows: bottom 2 pixels up
        {120, 98, {0, 1, 120, 96}},         // narrower than the map: fills across
        {100, 80, {0, 0, 100, 80}},         // smaller both ways: scaled down
        {128, 96, {0, 0, 128, 96}},         // exactly the map's size
        {129, 97, {0, 0, 128, 96}},         // one spare pixel either way
        {131, 99, {1, 1, 128, 96}},         // three spare rows: the last rule but one
        {200, 96 + 22, {36, 16, 128, 96}},  // spare / 2 = 11: below the caption
        {200, 96 + 21, {36, 19, 128, 96}},  // spare / 2 = 10: bottom 2 pixels up
        {300, 50, {86, 0, 128, 50}},
    };
    for (const Case& c : cases) {
        const MapPlacement p = placeSourceMap(c.boxWidth, c.boxHeight);
        EXPECT_EQ(p.left, c.expected.left) << c.boxWidth << "x" << c.boxHeight;
        EXPECT_EQ(p.top, c.expected.top) << c.boxWidth << "x" << c.boxHeight;
        EXPECT_EQ(p.width, c.expected.width) << c.boxWidth << "x" << c.boxHeight;
        EXPECT_EQ(p.height, c.expected.height) << c.boxWidth << "x" << c.boxHeight;
    }
}

// Preview frames whose pixels tell where they were read: red = x, green = y
// in clip A, red = 255 - x in clip B.
struct PreviewFrames {
    int32_t width, height;
    std::vector<uint32_t> a, b;
    RenderJob job;

    PreviewFrames(int32_t w, int32_t h)
        : width(w), height(h), a(std::size_t(w) * h), b(std::size_t(w) * h) {
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                a[std::size_t(y) * w + x] = uint32_t(x & 255) | uint32_t(y & 255) << 8;
                b[std::size_t(y) * w + x] = uint32_t(255 - (x & 255));
            }
        }
        job.width = w;
        job.height = h;
        job.pixelsA = a.data();
        job.pixelsB = b.data();
    }
};

using MapImage = std::vector<uint32_t>;

MapImage blankImage(uint32_t fill = 0xDEADBEEFu) {
    return MapImage(std::size_t(kSourceMapWidth) * kSourceMapHeight, fill);
}

uint32_t grey(uint32_t v) { return v * 0x01010101u; }

TEST(SourceMapPicture, SamplesEveryColumnAndRowAtIndexTimesSizeOver128Or96) {
    PreviewFrames frames(240, 180);
    MapImage across = blankImage(), down = blankImage();
    ASSERT_TRUE(computeSourceMap({kRed1, 0, 1, 1, 0, 0}, frames.job, across.data()));
    ASSERT_TRUE(computeSourceMap({kGreen1, 0, 1, 1, 0, 0}, frames.job, down.data()));

    const uint32_t firstSamples[] = {0, 1, 3, 5, 7, 9, 11, 13, 15, 16, 18, 20};
    for (int k = 0; k < 12; ++k) {
        EXPECT_EQ(across[k], grey(firstSamples[k])) << "column " << k;
        EXPECT_EQ(down[std::size_t(k) * kSourceMapWidth], grey(firstSamples[k])) << "row " << k;
    }
    for (int j = 0; j < kSourceMapHeight; ++j) {
        for (int i = 0; i < kSourceMapWidth; ++i) {
            const std::size_t at = std::size_t(j) * kSourceMapWidth + i;
            ASSERT_EQ(across[at], grey(uint32_t(i * 240 / 128))) << i << "," << j;
            ASSERT_EQ(down[at], grey(uint32_t(j * 180 / 96))) << i << "," << j;
        }
    }
    EXPECT_EQ(across[127], grey(238));
    EXPECT_EQ(down[95 * kSourceMapWidth], grey(178));
}

TEST(SourceMapPicture, ImageTwoIsClipB) {
    PreviewFrames frames(240, 180);
    MapImage image = blankImage();
    ASSERT_TRUE(computeSourceMap({kRed2, 0, 1, 1, 0, 0}, frames.job, image.data()));
    EXPECT_EQ(image[0], grey(255));
    EXPECT_EQ(image[5], grey(255 - 9));
    EXPECT_EQ(image[127], grey(255 - 238));
}

TEST(SourceMapPicture, BlackWithOddFlipsAndFourRepeatsIsACheckerboardOf16Tiles) {
    PreviewFrames frames(240, 180);
    MapImage image = blankImage();
    ASSERT_TRUE(computeSourceMap({kBlack, 0, 4, 4, 1, 1}, frames.job, image.data()));
    // Each tile is 32 x 24 samples; the first is black.
    int whiteSamples = 0;
    for (int j = 0; j < kSourceMapHeight; ++j) {
        for (int i = 0; i < kSourceMapWidth; ++i) {
            const bool white = (i / 32 + j / 24) % 2 == 1;
            ASSERT_EQ(image[std::size_t(j) * kSourceMapWidth + i], white ? 0xFFFFFFFFu : 0u)
                << i << "," << j;
            whiteSamples += white;
        }
    }
    EXPECT_EQ(whiteSamples, kSourceMapWidth * kSourceMapHeight / 2);
}

TEST(SourceMapPicture, ValuesAreTruncatedTowardZero) {
    PreviewFrames frames(240, 180);
    MapImage plain = blankImage(), inverted = blankImage();
    ASSERT_TRUE(computeSourceMap({kGradX, 0, 1, 1, 0, 0}, frames.job, plain.data()));
    ASSERT_TRUE(computeSourceMap({kGradX, 1, 1, 1, 0, 0}, frames.job, inverted.data()));
    // Column 1 samples x = 1: 255 / 240 = 1.0625, inverted 253.9375.
    EXPECT_EQ(plain[1], grey(1));
    EXPECT_EQ(inverted[1], grey(253));
    EXPECT_EQ(inverted[0], grey(255));
}

TEST(SourceMapPicture, WideFramesAreSampledWithoutOverflow) {
    // A ramp reads no pixels, so a tiny buffer stands for a very wide frame.
    uint32_t pixel = 0;
    RenderJob job;
    job.width = 100000000;
    job.height = 1;
    job.pixelsA = job.pixelsB = &pixel;
    MapImage image = blankImage();
    ASSERT_TRUE(computeSourceMap({kGradX, 0, 1, 1, 0, 0}, job, image.data()));
    for (int i = 0; i < kSourceMapWidth; ++i)
        EXPECT_EQ(image[i], grey(uint32_t(i * 255 / 128))) << "column " << i;
}

TEST(SourceMapPicture, WithoutFramesOrSizeTheImageIsLeftAlone) {
    PreviewFrames frames(240, 180);
    const SourceBinding binding{kDiag1, 0, 1, 1, 0, 0};
    const MapImage untouched = blankImage();

    RenderJob noA = frames.job, noB = frames.job, noWidth = frames.job, negativeHeight = frames.job;
    noA.pixelsA = nullptr;
    noB.pixelsB = nullptr;
    noWidth.width = 0;
    negativeHeight.height = -180;
    for (const RenderJob* job : {&noA, &noB, &noWidth, &negativeHeight}) {
        MapImage image = untouched;
        EXPECT_FALSE(computeSourceMap(binding, *job, image.data()));
        EXPECT_EQ(image, untouched);
    }
    EXPECT_FALSE(computeSourceMap(binding, frames.job, nullptr));
}

}  // namespace
}  // namespace granulix
