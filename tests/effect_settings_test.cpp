#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "effect_settings.h"
#include "settings_table.h"

namespace granulix {
namespace {

bool written(size_t offset) { return offset < 56 || (offset >= 64 && offset < 168); }

// Whatever the block held before, the defaults leave the same bytes in every
// word they own and leave every other byte alone: a word the defaults forget
// shows up as the earlier contents showing through.
TEST(EffectSettings, DefaultsOwnTheirWordsWhateverTheBlockHeldAndNothingElse) {
    const std::function<uint8_t(size_t)> fills[] = {
        [](size_t) { return uint8_t(0x00); },
        [](size_t) { return uint8_t(0xFF); },
        [](size_t i) { return static_cast<uint8_t>(i * 7 + 3); },
    };
    uint8_t first[kSettingsSize];
    for (size_t f = 0; f < std::size(fills); ++f) {
        uint8_t block[kSettingsSize], before[kSettingsSize];
        for (size_t i = 0; i < sizeof block; ++i) block[i] = before[i] = fills[f](i);
        fillDefaults(*reinterpret_cast<EffectSettings*>(block));
        if (f == 0) std::memcpy(first, block, sizeof block);
        for (size_t i = 0; i < sizeof block; ++i) {
            EXPECT_EQ(block[i], written(i) ? first[i] : before[i]) << "fill " << f << " byte " << i;
        }
    }
    const EffectSettings& s = *reinterpret_cast<const EffectSettings*>(first);
    EXPECT_EQ(size_t(s.size), sizeof(EffectSettings));
}

// The defaults' sources, by the names the user sees on the Sources page: the
// kind numbers in the block and the order of the name table must agree.
TEST(EffectSettings, DefaultBindingsShowTheDiagonalRampsByName) {
    EffectSettings s{};
    fillDefaults(s);
    const std::pair<BindingIndex, std::string> expected[] = {
        {kMovingX, "Diag 1"}, {kMovingY, "Diag 2"}, {kDelay, "Diag 1 S"}};
    for (const auto& [binding, name] : expected) {
        const int32_t kind = s.sourceBindings[binding].kind;
        ASSERT_GE(kind, 0) << kBindingNames[binding];
        ASSERT_LE(kind, int32_t(kLastSourceKind)) << kBindingNames[binding];
        EXPECT_EQ(kSourceKindNames[kind], name) << kBindingNames[binding];
    }
}

}  // namespace
}  // namespace granulix
