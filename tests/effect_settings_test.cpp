#include <gtest/gtest.h>

#include <cstring>

#include "effect_settings.h"

namespace granulix {
namespace {

int32_t wordAt(const uint8_t* block, size_t offset) {
    int32_t v;
    std::memcpy(&v, block + offset, 4);
    return v;
}

TEST(EffectSettings, DefaultsReadFieldByFieldAsStored) {
    uint8_t block[kSettingsSize];
    std::memset(block, 0x5A, sizeof block);
    fillDefaults(*reinterpret_cast<EffectSettings*>(block));

    const int32_t head[] = {424, 0, 0, 0, 0, 0, 3, 105, 0, 118, 127, 127, 25, 127};
    for (size_t i = 0; i < std::size(head); ++i) EXPECT_EQ(wordAt(block, 4 * i), head[i]) << i;
    const int32_t tail[] = {0, 128, 65, 20, 255, 255, 2, 2,
                            8, 0, 1, 1, 0, 0, 10, 0, 1, 1, 0, 0, 9, 0, 2, 2, 1, 1};
    for (size_t i = 0; i < std::size(tail); ++i) EXPECT_EQ(wordAt(block, 64 + 4 * i), tail[i]) << i;
}

TEST(EffectSettings, DefaultsLeaveUnwrittenBytesAsTheyWere) {
    uint8_t block[kSettingsSize];
    for (size_t i = 0; i < sizeof block; ++i) block[i] = static_cast<uint8_t>(i * 7 + 3);
    uint8_t before[kSettingsSize];
    std::memcpy(before, block, sizeof block);
    fillDefaults(*reinterpret_cast<EffectSettings*>(block));
    for (size_t i = 56; i < 64; ++i) EXPECT_EQ(block[i], before[i]) << i;
    for (size_t i = 168; i < kSettingsSize; ++i) EXPECT_EQ(block[i], before[i]) << i;
}

}  // namespace
}  // namespace granulix
