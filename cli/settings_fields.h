// The fields of EffectSettings as the command line takes and shows them.
//
// `--set`, `settings set` and `settings show` read the engine's table of the
// settings (settings_table.h): names are those of the code; the fields of the
// three source bindings are `sourceBindings[i].kind` and so on, with i = 0
// ("Moving X"), 1 ("Moving Y"), 2 ("Delay").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "effect_settings.h"
#include "settings_table.h"

namespace granulix::cli {

using granulix::fieldValue;
using granulix::findSettingsField;
using granulix::SettingsField;
using granulix::settingsFields;

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
