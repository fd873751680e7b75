// The pieces of the render path that a host cannot see directly: the work
// pixel's byte order, progress to fixed point, the work block's size
// arithmetic and the clipping of the processing rectangle.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

#include "frame_conversion.h"
#include "work_frames.h"

namespace granulix::host {
namespace {

TEST(WorkPixel, HostBytesBecomeTheLowThreeBytesOfTheWord) {
    const uint8_t host[3] = {10, 20, 30};  // blue, green, red
    const uint32_t word = workPixel(host);
    EXPECT_EQ(word, 30u * 65536 + 20u * 256 + 10u);
    uint8_t bytes[4];
    std::memcpy(bytes, &word, 4);  // little-endian, as every target is
    EXPECT_EQ(bytes[0], 10);
    EXPECT_EQ(bytes[1], 20);
    EXPECT_EQ(bytes[2], 30);
    EXPECT_EQ(bytes[3], 0);

    uint8_t back[4] = {0, 0, 0, 0xEE};
    storeHostPixel(word | 0xFF000000u, back);  // the top byte is dropped
    EXPECT_EQ(back[0], 10);
    EXPECT_EQ(back[1], 20);
    EXPECT_EQ(back[2], 30);
    EXPECT_EQ(back[3], 0xEE) << "wrote a fourth byte";

    for (uint32_t v : {0u, 0xFFu, 0xFF00u, 0xFF0000u, 0xFFFFFFu, 0x123456u}) {
        uint8_t p[3];
        storeHostPixel(v, p);
        EXPECT_EQ(workPixel(p), v);
    }
}

TEST(Progress, BecomesSixteenDotSixteenTruncated) {
    EXPECT_EQ(positionFromProgress(0.0f), 0u);
    EXPECT_EQ(positionFromProgress(0.5f), 32768u);
    EXPECT_EQ(positionFromProgress(0.99999f), 65535u);
    EXPECT_EQ(positionFromProgress(1.0f), 65536u);
    EXPECT_EQ(positionFromProgress(0.25f), 16384u);
    // 49152.9 truncates to 49152 where rounding would give 49153.
    EXPECT_EQ(positionFromProgress(0.75f + 0.9f / 65536), 49152u);
    EXPECT_EQ(positionFromProgress(1.0f / 65536 * 0.99f), 0u);
    EXPECT_EQ(positionFromProgress(std::nextafter(1.0f, 0.0f)), 65535u);
}

TEST(Progress, OutsideZeroToOneIsHeldToTheEnds) {
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(positionFromProgress(std::numeric_limits<float>::quiet_NaN()), 0u);
    EXPECT_EQ(positionFromProgress(-std::numeric_limits<float>::quiet_NaN()), 0u);
    EXPECT_EQ(positionFromProgress(-inf), 0u);
    EXPECT_EQ(positionFromProgress(-0.0f), 0u);
    EXPECT_EQ(positionFromProgress(-1e-30f), 0u);
    EXPECT_EQ(positionFromProgress(-3.0f), 0u);
    EXPECT_EQ(positionFromProgress(inf), 65536u);
    EXPECT_EQ(positionFromProgress(1.5f), 65536u);
    EXPECT_EQ(positionFromProgress(1e38f), 65536u);
}

TEST(WorkBlock, EightBytesAPixelOrSixteenInAFieldMode) {
    EXPECT_EQ(workBlockBytes(5, 3, 0), 8u * 15);
    EXPECT_EQ(workBlockBytes(5, 3, 1), 16u * 15);
    EXPECT_EQ(workBlockBytes(5, 3, 2), 16u * 15);
    EXPECT_EQ(workBlockBytes(5, 3, -9), 16u * 15);
    EXPECT_EQ(workBlockBytes(720, 576, 1), 16u * 720 * 576);
    for (int32_t bad : {0, -1, INT_MIN}) {
        EXPECT_EQ(workBlockBytes(bad, 3, 0), 0u);
        EXPECT_EQ(workBlockBytes(5, bad, 1), 0u);
    }
}

TEST(WorkBlock, SizesAreCheckedInSixtyFourBitsBeforeAllocating) {
    constexpr uint64_t k32 = UINT32_MAX;  // what a 32-bit build can allocate at most
    // 65536 x 4097 in a field mode: 16 x P is 4296015872, which a 32-bit
    // size wraps to 1048576. That block must be refused, not under-allocated.
    ASSERT_EQ(static_cast<uint32_t>(16u * 65536u * 4097u), 1048576u);
    EXPECT_EQ(workBlockBytes(65536, 4097, 1, k32), 0u);
    EXPECT_EQ(workBlockBytes(65536, 4097, 1, uint64_t{1} << 40), 16ull * 65536 * 4097);
    EXPECT_EQ(workBlockBytes(65536, 4097, 0, k32), 8ull * 65536 * 4097);
    EXPECT_EQ(workBlockBytes(16384, 32767, 0, k32), 8ull * 16384 * 32767);
    EXPECT_EQ(workBlockBytes(16384, 32768, 0, k32), 0u);
    // Beyond the engine's 32-bit pixel index, and beyond an int32 of rows.
    EXPECT_EQ(workBlockBytes(65536, 65535, 0, UINT64_MAX), 8ull * 65536 * 65535);
    EXPECT_EQ(workBlockBytes(65536, 65536, 0, UINT64_MAX), 0u);
    EXPECT_EQ(workBlockBytes(INT_MAX, INT_MAX, 0, UINT64_MAX), 0u);
    EXPECT_EQ(workBlockBytes(1, 0x3FFFFFFF, 1, UINT64_MAX), 8ull * 0x7FFFFFFE);
    EXPECT_EQ(workBlockBytes(1, 0x40000000, 1, UINT64_MAX), 0u);
}

TEST(Rectangle, IsClippedToTheFrameWithoutWrapping) {
    struct Case {
        uint32_t start, count;
        int32_t extent;
        uint32_t begin, end;
    };
    const Case cases[] = {
        {0, 10, 10, 0, 10},
        {2, 5, 10, 2, 7},
        {8, 5, 10, 8, 10},
        {10, 5, 10, 10, 10},
        {3, 0, 10, 3, 3},
        {20, 1, 10, 10, 10},
        {5, UINT32_MAX, 10, 5, 10},   // 32-bit start + count would wrap to 4
        {UINT32_MAX, 2, 10, 10, 10},  // -1 as a start lies beyond the frame
        {0, 1, 0, 0, 0},
        {0, 1, -5, 0, 0},
    };
    for (const Case& c : cases) {
        const Span s = clipSpan(c.start, c.count, c.extent);
        EXPECT_EQ(s.begin, c.begin) << c.start << "+" << c.count << " in " << c.extent;
        EXPECT_EQ(s.end, c.end) << c.start << "+" << c.count << " in " << c.extent;
    }
}

}  // namespace
}  // namespace granulix::host
