#include "settings_fields.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <string>

#include "cli_error.h"

namespace granulix::cli {

namespace {

// Letters and digits only, lower case: "Diag 1 S" and "diag1s" both become "diag1s".
std::string squeezed(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            out.push_back(char(std::tolower(static_cast<unsigned char>(c))));
        }
    }
    return out;
}

bool parseWhole(std::string_view text, int64_t& value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i == text.size() || text.size() - i > 18) return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        v = v * 10 + (text[i] - '0');
    }
    value = negative ? -v : v;
    return true;
}

std::string rangeText(const SettingsField& f) {
    if (!f.settable) return "-";
    if (f.minimum == f.maximum) return std::to_string(f.minimum);
    return std::to_string(f.minimum) + ".." + std::to_string(f.maximum);
}

std::string jsonString(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[(c >> 4) & 15];
            out += hex[c & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

void applyAssignment(EffectSettings& settings, std::string_view assignment) {
    const std::size_t eq = assignment.find('=');
    if (eq == std::string_view::npos) {
        throw usageError("expected NAME=VALUE, got \"" + std::string(assignment) + "\"");
    }
    const std::string_view name = assignment.substr(0, eq);
    const std::string_view text = assignment.substr(eq + 1);
    const SettingsField* field = findSettingsField(name);
    if (!field) {
        throw usageError("unknown settings field \"" + std::string(name) +
                         "\" (granulix settings show lists them)");
    }
    if (!field->settable) throw usageError(field->name + " is reserved and cannot be set");

    int64_t value = 0;
    bool parsed = parseWhole(text, value);
    if (!parsed && field->isKind) {
        const std::string wanted = squeezed(text);
        for (uint32_t k = 0; k <= kLastSourceKind && !parsed; ++k) {
            if (!wanted.empty() && squeezed(kSourceKindNames[k]) == wanted) {
                value = k;
                parsed = true;
            }
        }
    }
    if (!parsed) {
        throw usageError(field->name + ": \"" + std::string(text) + "\" is not a whole number" +
                         (field->isKind ? " or a source kind name" : ""));
    }
    if (value < field->minimum || value > field->maximum) {
        if (field->minimum == field->maximum) {
            throw usageError(field->name + " must be " + rangeText(*field) + ", not " +
                             std::string(text));
        }
        throw usageError(field->name + " must lie in " + rangeText(*field) + ", not " +
                         std::string(text));
    }
    setFieldValue(settings, *field, static_cast<int32_t>(value));
}

std::string settingsTable(const EffectSettings& settings) {
    struct Line {
        std::string offset, name, value, range, meaning;
    };
    std::vector<Line> lines;
    lines.push_back({"offset", "field", "value", "range", "meaning"});
    for (const SettingsField& f : settingsFields()) {
        const int32_t v = fieldValue(settings, f);
        std::string value = std::to_string(v);
        std::string meaning = f.meaning;
        if (f.isKind && v >= 0 && v <= int32_t(kLastSourceKind)) {
            value += std::string(" ") + kSourceKindNames[v];
        }
        if (f.settable && (v < f.minimum || v > f.maximum)) meaning += " [outside its range]";
        lines.push_back({std::to_string(f.offset), f.name, value, rangeText(f), meaning});
    }
    const uint8_t* tail = settings.reserved168;
    const auto nonZero =
        std::count_if(tail, tail + sizeof settings.reserved168, [](uint8_t b) { return b != 0; });
    lines.push_back(
        {"168", "reserved168", std::to_string(sizeof settings.reserved168) + " bytes", "-",
         nonZero == 0 ? std::string("reserved; all zero")
                      : "reserved; " + std::to_string(nonZero) + " bytes not zero, carried along"});

    std::size_t w[4] = {};
    for (const Line& l : lines) {
        w[0] = std::max(w[0], l.offset.size());
        w[1] = std::max(w[1], l.name.size());
        w[2] = std::max(w[2], l.value.size());
        w[3] = std::max(w[3], l.range.size());
    }
    std::string out;
    for (const Line& l : lines) {
        out += std::string(w[0] - l.offset.size(), ' ') + l.offset + "  ";
        out += l.name + std::string(w[1] - l.name.size(), ' ') + "  ";
        out += l.value + std::string(w[2] - l.value.size(), ' ') + "  ";
        out += l.range + std::string(w[3] - l.range.size(), ' ') + "  ";
        out += l.meaning + "\n";
    }
    return out;
}

std::string settingsJson(const EffectSettings& settings) {
    std::string out = "{\n  \"fields\": [\n";
    const auto& fields = settingsFields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const SettingsField& f = fields[i];
        const int32_t v = fieldValue(settings, f);
        out += "    {\"name\": " + jsonString(f.name) +
               ", \"offset\": " + std::to_string(f.offset) + ", \"value\": " + std::to_string(v);
        if (f.settable) {
            out += ", \"min\": " + std::to_string(f.minimum) +
                   ", \"max\": " + std::to_string(f.maximum);
        }
        if (f.isKind && v >= 0 && v <= int32_t(kLastSourceKind)) {
            out += std::string(", \"kindName\": ") + jsonString(kSourceKindNames[v]);
        }
        out += ", \"settable\": " + std::string(f.settable ? "true" : "false") +
               ", \"meaning\": " + jsonString(f.meaning) + "}";
        out += i + 1 < fields.size() ? ",\n" : "\n";
    }
    static const char hex[] = "0123456789abcdef";
    std::string tail;
    for (uint8_t b : settings.reserved168) {
        tail += hex[b >> 4];
        tail += hex[b & 15];
    }
    out += "  ],\n  \"reserved168\": \"" + tail + "\"\n}\n";
    return out;
}

std::string sourceKindList() {
    std::string out;
    for (uint32_t k = 0; k <= kLastSourceKind; ++k) {
        if (k) out += ", ";
        out += std::to_string(k) + " " + kSourceKindNames[k];
    }
    return out;
}

}  // namespace granulix::cli
