// The command line's table of settings fields against the record itself.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <set>

#include "cli_error.h"
#include "settings_fields.h"

namespace granulix::cli {
namespace {

struct Expected {
    const char* name;
    std::size_t offset;
    int32_t minimum, maximum;
};

#define FIELD(member, lo, hi) Expected{#member, offsetof(EffectSettings, member), lo, hi}
#define BINDING(i, member, lo, hi)                                                            \
    Expected{"sourceBindings[" #i "]." #member,                                               \
             offsetof(EffectSettings, sourceBindings) + (i) * sizeof(SourceBinding) +         \
                 offsetof(SourceBinding, member),                                             \
             lo, hi}
#define BINDINGS(i)                                                                           \
    BINDING(i, kind, 0, 14), BINDING(i, invert, 0, 1), BINDING(i, repeatX, 1, 16),            \
        BINDING(i, repeatY, 1, 16), BINDING(i, oddX, 0, 1), BINDING(i, oddY, 0, 1)

const Expected kSettable[] = {
    FIELD(size, 424, 424),        FIELD(cellFlags, 0, 1),       FIELD(orderFlags, 0, 3),
    FIELD(holdFlags, 0, 3),       FIELD(speedVariance, 0, 255), FIELD(speedNoise, 0, 255),
    FIELD(xyBalance, 0, 255),     FIELD(centerX, 0, 256),       FIELD(centerY, 0, 256),
    FIELD(minimumSpeed, 0, 255),  FIELD(timeline, 0, 255),      FIELD(gravity, 0, 255),
    FIELD(wind, 0, 255),          FIELD(delay, 0, 255),         FIELD(delayNoise, 0, 255),
    FIELD(minimumLife, 0, 255),   FIELD(maximumLife, 0, 255),   FIELD(cellWidth, 1, 4096),
    FIELD(cellHeight, 1, 4096),   BINDINGS(0),                  BINDINGS(1),
    BINDINGS(2),
};
const Expected kReserved[] = {FIELD(reserved8, 0, 0), FIELD(reserved12, 0, 0), FIELD(reserved16, 0, 0),
                              FIELD(reserved56, 0, 0), FIELD(reserved60, 0, 0)};

TEST(SettingsFields, OneRowPerWordAtTheRecordsOwnOffsetsWithTheEditingRanges) {
    std::set<uint32_t> offsets;
    for (const SettingsField& f : settingsFields()) {
        EXPECT_TRUE(offsets.insert(f.offset).second) << f.name;
        EXPECT_EQ(f.offset % 4, 0u) << f.name;
    }
    // Every 32-bit word before the reserved tail, and nothing else.
    EXPECT_EQ(offsets.size(), 168u / 4);
    EXPECT_EQ(settingsFields().size(), std::size(kSettable) + std::size(kReserved));

    for (const Expected& e : kSettable) {
        const SettingsField* f = findSettingsField(e.name);
        ASSERT_NE(f, nullptr) << e.name;
        EXPECT_EQ(f->offset, e.offset) << e.name;
        EXPECT_TRUE(f->settable) << e.name;
        EXPECT_EQ(f->minimum, e.minimum) << e.name;
        EXPECT_EQ(f->maximum, e.maximum) << e.name;
    }
    for (const Expected& e : kReserved) {
        const SettingsField* f = findSettingsField(e.name);
        ASSERT_NE(f, nullptr) << e.name;
        EXPECT_EQ(f->offset, e.offset) << e.name;
        EXPECT_FALSE(f->settable) << e.name;
    }
}

TEST(SettingsFields, EveryEndOfEveryRangeIsAcceptedAndOneBeyondRefused) {
    for (const Expected& e : kSettable) {
        EffectSettings s{};
        for (int32_t v : {e.minimum, e.maximum}) {
            applyAssignment(s, std::string(e.name) + "=" + std::to_string(v));
            int32_t stored;
            std::memcpy(&stored, reinterpret_cast<const uint8_t*>(&s) + e.offset, 4);
            EXPECT_EQ(stored, v) << e.name;
        }
        const EffectSettings before = s;
        for (int64_t v : {int64_t(e.minimum) - 1, int64_t(e.maximum) + 1}) {
            try {
                applyAssignment(s, std::string(e.name) + "=" + std::to_string(v));
                ADD_FAILURE() << e.name << "=" << v << " was accepted";
            } catch (const CliError& error) {
                EXPECT_EQ(error.status(), kExitUsage);
                EXPECT_NE(std::string(error.what()).find(e.name), std::string::npos) << error.what();
            }
        }
        EXPECT_EQ(std::memcmp(&s, &before, sizeof s), 0) << e.name;
    }
}

TEST(SettingsFields, SourceKindsByNameIgnoringCaseAndSpaces) {
    EffectSettings s{};
    const std::pair<const char*, int32_t> names[] = {{"Red1", 0},     {"alpha2", 7},  {"Diag 1 S", 9},
                                                     {"diag2s", 11},  {"GRAD  X", 12}, {"Black", 14}};
    for (const auto& [name, kind] : names) {
        applyAssignment(s, std::string("sourceBindings[1].kind=") + name);
        EXPECT_EQ(s.sourceBindings[1].kind, kind) << name;
    }
    EXPECT_THROW(applyAssignment(s, "gravity=Black"), CliError);  // names only for kinds
}

}  // namespace
}  // namespace granulix::cli
