// The one table of the settings fields: every 32-bit word of EffectSettings
// before its reserved tail, with its name in the code, its byte offset, the
// range the editing controls produce, its default, whether it is reserved,
// and what it does in a user's words. Every way into the settings reads it:
// the command line's `--set` and `settings show`, the parameter pages'
// slider and spin ranges, the frei0r plug-in's parameters, and the tests.
//
//   const SettingsField& g = settingsField(&EffectSettings::gravity);
//   setFieldValue(settings, g, g.maximum);
//   for (const SettingsField& f : settingsFields()) if (!f.paramName.empty()) ...
//
// The 256 bytes at offset 168 have no row: nothing sets them, and they
// travel with the block.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "effect_settings.h"
#include "source_map.h"

namespace granulix {

struct SettingsField {
    std::string name;       // as in the code: "gravity", "sourceBindings[2].kind"
    std::string paramName;  // as a host's parameter list shows it; empty for none
    uint32_t offset;        // bytes from the start of the block (offsetof)
    int32_t minimum;        // the range the editing controls produce
    int32_t maximum;
    int32_t defaultValue;  // what fillDefaults writes
    bool settable;         // false for the reserved words
    bool isKind;           // a binding's source kind: has a name per value
    std::string meaning;
};

// The names shown to the user, indexed by source kind (0..14).
extern const char* const kSourceKindNames[kLastSourceKind + 1];
// The names of the three bindings, indexed by BindingIndex.
extern const char* const kBindingNames[kBindingCount];

// In the order of the block.
const std::vector<SettingsField>& settingsFields();

// The row named `name` (exact, or ignoring case); null when there is none.
const SettingsField* findSettingsField(std::string_view name);

// The row of a field of the record, or of a field of binding `binding`.
const SettingsField& settingsField(int32_t EffectSettings::*member);
const SettingsField& bindingField(int binding, int32_t SourceBinding::*member);

int32_t fieldValue(const EffectSettings& settings, const SettingsField& field);
void setFieldValue(EffectSettings& settings, const SettingsField& field, int32_t value);

}  // namespace granulix
