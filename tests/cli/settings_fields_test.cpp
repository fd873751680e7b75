// The command line against the engine's table of the settings fields.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cli_error.h"
#include "settings_fields.h"

namespace granulix::cli {
namespace {

// The command line's half of the agreement with the table: every field takes
// exactly the table's range. (The pages' half is in slider_pages_test.)
TEST(SettingsFields, EveryEndOfEveryRangeIsAcceptedAndOneBeyondRefused) {
    for (const SettingsField& f : settingsFields()) {
        if (!f.settable) continue;
        EffectSettings s{};
        for (int32_t v : {f.minimum, f.maximum}) {
            applyAssignment(s, f.name + "=" + std::to_string(v));
            EXPECT_EQ(fieldValue(s, f), v) << f.name;
            int32_t stored;
            std::memcpy(&stored, reinterpret_cast<const uint8_t*>(&s) + f.offset, 4);
            EXPECT_EQ(stored, v) << f.name;
        }
        const EffectSettings before = s;
        for (int64_t v : {int64_t(f.minimum) - 1, int64_t(f.maximum) + 1}) {
            try {
                applyAssignment(s, f.name + "=" + std::to_string(v));
                ADD_FAILURE() << f.name << "=" << v << " was accepted";
            } catch (const CliError& error) {
                EXPECT_EQ(error.status(), kExitUsage);
                EXPECT_NE(std::string(error.what()).find(f.name), std::string::npos)
                    << error.what();
            }
        }
        EXPECT_EQ(std::memcmp(&s, &before, sizeof s), 0) << f.name;
    }
    for (const SettingsField& f : settingsFields()) {
        if (f.settable) continue;
        EffectSettings s{};
        EXPECT_THROW(applyAssignment(s, f.name + "=0"), CliError) << f.name;
    }
}

TEST(SettingsFields, SourceKindsByNameIgnoringCaseAndSpaces) {
    EffectSettings s{};
    const std::pair<const char*, int32_t> names[] = {{"Red1", 0},     {"alpha2", 7},
                                                     {"Diag 1 S", 9}, {"diag2s", 11},
                                                     {"GRAD  X", 12}, {"Black", 14}};
    for (const auto& [name, kind] : names) {
        applyAssignment(s, std::string("sourceBindings[1].kind=") + name);
        EXPECT_EQ(s.sourceBindings[1].kind, kind) << name;
    }
    EXPECT_THROW(applyAssignment(s, "gravity=Black"), CliError);  // names only for kinds
}

}  // namespace
}  // namespace granulix::cli
