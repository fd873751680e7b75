// The fields of EffectSettings as the command line names them.
//
// One table row per 32-bit field, in the order of the block, drives `--set`,
// `settings set` and `settings show`. Names are those of the code; the fields
// of the three source bindings are `sourceBindings[i].kind` and so on, with
// i = 0 ("Moving X"), 1 ("Moving Y"), 2 ("Delay"). The 256 bytes at offset
// 168 have no row: nothing sets them, and they travel with the block.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "effect_settings.h"

namespace granulix::cli {

struct SettingsField {
    std::string name;
    uint32_t offset;        // bytes from the start of the block
    int32_t minimum;        // the range the editing controls produce
    int32_t maximum;
    bool settable;          // false for the reserved words
    bool isKind;            // a binding's source kind: accepts the kind's name
    std::string meaning;
};

const std::vector<SettingsField>& settingsFields();

// The row named `name` (exact, or ignoring case); null when there is none.
const SettingsField* findSettingsField(std::string_view name);

int32_t fieldValue(const EffectSettings& settings, const SettingsField& field);

// Applies "NAME=VALUE". Throws a usage error naming the field when the name
// is unknown, the field is reserved, the value is not a whole number (or a
// source kind's name) or lies outside the field's range; `settings` is then
// unchanged.
void applyAssignment(EffectSettings& settings, std::string_view assignment);

// Every field with its value, range and meaning, one line each.
std::string settingsTable(const EffectSettings& settings);
// The same as a JSON object.
std::string settingsJson(const EffectSettings& settings);

// "0 Red1, 1 Green1, ..." for help texts.
std::string sourceKindList();

}  // namespace granulix::cli
