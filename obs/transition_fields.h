// The OBS transition's properties, one row per settings field a user can
// change, made from the engine's one table of the fields. Each row names the
// property's key in the transition's settings data (the field's parameter
// name, as the frei0r plug-in spells it), the control that shows it in the
// field's own whole values, and its label. Plain C++: the module turns the
// rows into OBS properties, and the build writes the locale file from them,
// so the names in data/locale/en-US.ini cannot drift from the table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings_table.h"

namespace granulix::obs {

// Keys of the properties that are not fields, and the transition's id.
constexpr const char* kTransitionId = "granulix_transition";
constexpr const char* kSettingsFileKey = "settings-file";
constexpr const char* kResetKey = "reset-to-defaults";

enum class Control {
    kSlider,  // whole values minimum..maximum
    kCheck,   // a 0..1 field
    kList,    // a source kind, by name
};

struct PropertyRow {
    const SettingsField* field;
    std::string key;    // the settings data key, and the label's locale key
    std::string label;  // English, as the locale file gives it
    Control control;
};

const std::vector<PropertyRow>& propertyRows();

// The locale key of a row's tooltip: the field's meaning.
std::string descriptionKey(const PropertyRow& row);

// A value from the settings data held to the field's range.
int32_t heldToField(const SettingsField& field, long long value);

// The whole of data/locale/en-US.ini.
std::string englishLocale();

// The gains of the two scenes' sound at transition time t (0..1): an equal
// power crossfade, so the sum of the squares is 1 throughout.
float leavingGain(float t);
float arrivingGain(float t);

}  // namespace granulix::obs
