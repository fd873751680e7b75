#include "transition_fields.h"

#include <cctype>
#include <cmath>

namespace granulix::obs {
namespace {

constexpr double kQuarterTurn = 1.5707963267948966;

// "speed-variance" reads "Speed variance", "moving-x-repeat-y" "Moving X repeat Y",
// "xy-balance" "XY balance": words of one or two axis letters stand in capitals.
std::string labelOf(const std::string& paramName) {
    std::string label, word;
    auto flush = [&] {
        const bool axes = word.find_first_not_of("xy") == std::string::npos;
        for (char& c : word) {
            if (axes || (label.empty() && &c == &word[0])) {
                c = char(std::toupper(static_cast<unsigned char>(c)));
            }
        }
        label += (label.empty() ? "" : " ") + word;
        word.clear();
    };
    for (char c : paramName) {
        if (c == '-') {
            flush();
        } else {
            word.push_back(c);
        }
    }
    flush();
    return label;
}

Control controlOf(const SettingsField& f) {
    if (f.isKind) return Control::kList;
    if (f.minimum == 0 && f.maximum == 1) return Control::kCheck;
    return Control::kSlider;
}

// A locale value in double quotes, with the quotes inside escaped.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

const std::vector<PropertyRow>& propertyRows() {
    static const std::vector<PropertyRow> rows = [] {
        std::vector<PropertyRow> list;
        for (const SettingsField& f : settingsFields()) {
            if (f.settable && !f.paramName.empty()) {
                list.push_back({&f, f.paramName, labelOf(f.paramName), controlOf(f)});
            }
        }
        return list;
    }();
    return rows;
}

std::string descriptionKey(const PropertyRow& row) { return row.key + ".Description"; }

int32_t heldToField(const SettingsField& field, long long value) {
    if (value < field.minimum) return field.minimum;
    if (value > field.maximum) return field.maximum;
    return int32_t(value);
}

std::string englishLocale() {
    std::string text =
        "Granulix=\"Granulix\"\n"
        "SettingsFile=\"Settings file\"\n"
        "SettingsFile.Description=\"A .qlb file or the JSON of 'granulix settings show --json'; "
        "choosing one sets every field below from it\"\n"
        "SettingsFile.Filter=\"Granulix settings\"\n"
        "AllFiles=\"All files\"\n"
        "ResetToDefaults=\"Reset to defaults\"\n";
    for (const PropertyRow& row : propertyRows()) {
        text += row.key + "=" + quoted(row.label) + "\n";
        text += descriptionKey(row) + "=" + quoted(row.field->meaning) + "\n";
    }
    return text;
}

float leavingGain(float t) { return float(std::cos(double(t) * kQuarterTurn)); }
float arrivingGain(float t) { return float(std::sin(double(t) * kQuarterTurn)); }

}  // namespace granulix::obs
