// The engine's table of the settings fields against the record itself.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <iterator>
#include <set>
#include <string>

#include "effect_settings.h"
#include "settings_table.h"

namespace granulix {
namespace {

struct Expected {
    const char* name;
    std::size_t offset;
};

#define FIELD(member) \
    Expected { #member, offsetof(EffectSettings, member) }
#define BINDING(i, member)                                                            \
    Expected {                                                                        \
        "sourceBindings[" #i "]." #member, offsetof(EffectSettings, sourceBindings) + \
                                               (i) * sizeof(SourceBinding) +          \
                                               offsetof(SourceBinding, member)        \
    }
#define BINDINGS(i)                                                                 \
    BINDING(i, kind), BINDING(i, invert), BINDING(i, repeatX), BINDING(i, repeatY), \
        BINDING(i, oddX), BINDING(i, oddY)

const Expected kSettable[] = {
    FIELD(size),          FIELD(cellFlags),    FIELD(orderFlags), FIELD(holdFlags),
    FIELD(speedVariance), FIELD(speedNoise),   FIELD(xyBalance),  FIELD(centerX),
    FIELD(centerY),       FIELD(minimumSpeed), FIELD(timeline),   FIELD(gravity),
    FIELD(wind),          FIELD(delay),        FIELD(delayNoise), FIELD(minimumLife),
    FIELD(maximumLife),   FIELD(cellWidth),    FIELD(cellHeight), BINDINGS(0),
    BINDINGS(1),          BINDINGS(2),
};
const Expected kReserved[] = {FIELD(reserved8), FIELD(reserved12), FIELD(reserved16),
                              FIELD(reserved56), FIELD(reserved60)};

// The engine's table against the record: one row per word, named as the
// member at that offset, with the defaults fillDefaults writes inside the range.
TEST(SettingsTable, OneRowPerWordOfTheRecordWithItsDefaultInsideItsRange) {
    std::set<uint32_t> offsets;
    std::set<std::string> paramNames;
    // Over a zeroed block and over a filled one: a field the defaults write
    // has its default in both.
    EffectSettings zeroed, filled;
    std::memset(&zeroed, 0, sizeof zeroed);
    std::memset(&filled, 0x5A, sizeof filled);
    fillDefaults(zeroed);
    fillDefaults(filled);
    for (const SettingsField& f : settingsFields()) {
        EXPECT_TRUE(offsets.insert(f.offset).second) << f.name;
        EXPECT_EQ(f.offset % 4, 0u) << f.name;
        EXPECT_EQ(f.defaultValue, fieldValue(zeroed, f)) << f.name;
        if (f.settable) {
            EXPECT_EQ(f.defaultValue, fieldValue(filled, f)) << f.name;
            EXPECT_LE(f.minimum, f.defaultValue) << f.name;
            EXPECT_GE(f.maximum, f.defaultValue) << f.name;
        }
        // Every field a user can change is a host parameter, named once.
        EXPECT_EQ(f.paramName.empty(), !f.settable || f.minimum == f.maximum) << f.name;
        if (!f.paramName.empty()) {
            EXPECT_TRUE(paramNames.insert(f.paramName).second) << f.paramName;
        }
    }
    EXPECT_EQ(offsets.size(), 168u / 4);
    EXPECT_EQ(settingsFields().size(), std::size(kSettable) + std::size(kReserved));

    for (const Expected& e : kSettable) {
        const SettingsField* f = findSettingsField(e.name);
        ASSERT_NE(f, nullptr) << e.name;
        EXPECT_EQ(f->offset, e.offset) << e.name;
        EXPECT_TRUE(f->settable) << e.name;
    }
    for (const Expected& e : kReserved) {
        const SettingsField* f = findSettingsField(e.name);
        ASSERT_NE(f, nullptr) << e.name;
        EXPECT_EQ(f->offset, e.offset) << e.name;
        EXPECT_FALSE(f->settable) << e.name;
    }
    EXPECT_EQ(&settingsField(&EffectSettings::wind), findSettingsField("wind"));
    EXPECT_EQ(&bindingField(2, &SourceBinding::repeatY),
              findSettingsField("sourceBindings[2].repeatY"));
}

}  // namespace
}  // namespace granulix
