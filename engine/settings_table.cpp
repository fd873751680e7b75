#include "settings_table.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <stdexcept>

namespace granulix {

const char* const kSourceKindNames[kLastSourceKind + 1] = {
    "Red1",   "Green1",   "Blue1",  "Alpha1",   "Red2",   "Green2", "Blue2", "Alpha2",
    "Diag 1", "Diag 1 S", "Diag 2", "Diag 2 S", "Grad X", "Grad Y", "Black"};

const char* const kBindingNames[kBindingCount] = {"Moving X", "Moving Y", "Delay"};

namespace {

// Parameter-name prefixes of the bindings, in a host's spelling.
constexpr const char* kBindingParamPrefixes[kBindingCount] = {"moving-x-", "moving-y-", "delay-"};

#define GRANULIX_OFFSET(member) uint32_t(offsetof(EffectSettings, member))

struct Builder {
    EffectSettings defaults;
    std::vector<SettingsField> rows;

    Builder() {
        std::memset(&defaults, 0, sizeof defaults);
        fillDefaults(defaults);
    }

    int32_t defaultAt(uint32_t offset) const {
        int32_t v;
        std::memcpy(&v, reinterpret_cast<const uint8_t*>(&defaults) + offset, sizeof v);
        return v;
    }

    void word(const char* name, const char* paramName, uint32_t offset, int32_t minimum,
              int32_t maximum, const char* meaning) {
        rows.push_back(
            {name, paramName, offset, minimum, maximum, defaultAt(offset), true, false, meaning});
    }

    void reserved(const char* name, uint32_t offset) {
        rows.push_back({name, "", offset, 0, 0, defaultAt(offset), false, false,
                        "reserved; carried along, never read"});
    }

    void binding(int i) {
        const std::string name = "sourceBindings[" + std::to_string(i) + "].";
        const std::string param = kBindingParamPrefixes[i];
        const std::string of = std::string("\"") + kBindingNames[i] + "\"";
        const uint32_t base = uint32_t(offsetof(EffectSettings, sourceBindings) +
                                       std::size_t(i) * sizeof(SourceBinding));
        auto add = [&](const char* field, const char* paramField, std::size_t offset,
                       int32_t minimum, int32_t maximum, bool isKind, const std::string& meaning) {
            const uint32_t at = base + uint32_t(offset);
            rows.push_back({name + field, param + paramField, at, minimum, maximum, defaultAt(at),
                            true, isKind, meaning});
        };
        add("kind", "source", offsetof(SourceBinding, kind), 0, kLastSourceKind, true,
            "source map of " + of);
        add("invert", "invert", offsetof(SourceBinding, invert), 0, 1, false,
            "1: the " + of + " map is inverted");
        add("repeatX", "repeat-x", offsetof(SourceBinding, repeatX), 1, 16, false,
            "repeats of the " + of + " map across the frame");
        add("repeatY", "repeat-y", offsetof(SourceBinding, repeatY), 1, 16, false,
            "repeats of the " + of + " map down the frame");
        add("oddX", "odd-x", offsetof(SourceBinding, oddX), 0, 1, false,
            "1: every second repeat of the " + of + " map across is flipped");
        add("oddY", "odd-y", offsetof(SourceBinding, oddY), 0, 1, false,
            "1: every second repeat of the " + of + " map down is flipped");
    }
};

std::vector<SettingsField> buildTable() {
    Builder b;
    b.word("size", "", GRANULIX_OFFSET(size), 424, 424, "bytes in the block; always 424");
    b.word("cellFlags", "bands", GRANULIX_OFFSET(cellFlags), 0, 1,
           "1 \"Bands\": cell width and height count cells across and down instead of "
           "sizing one cell");
    b.reserved("reserved8", GRANULIX_OFFSET(reserved8));
    b.reserved("reserved12", GRANULIX_OFFSET(reserved12));
    b.reserved("reserved16", GRANULIX_OFFSET(reserved16));
    b.word("orderFlags", "order", GRANULIX_OFFSET(orderFlags), 0, 3,
           "drawing order: bit 0 starts at the top row (\"D->U\"), bit 1 at the right "
           "column (\"R->L\"); later particles lie on top");
    b.word("holdFlags", "hold", GRANULIX_OFFSET(holdFlags), 0, 3,
           "bit 0 \"Clip 1\", bit 1 \"Clip 2\"; kept, does not change the picture");
    b.word("speedVariance", "speed-variance", GRANULIX_OFFSET(speedVariance), 0, 255,
           "how much the movement source value adds to the speed");
    b.word("speedNoise", "speed-noise", GRANULIX_OFFSET(speedNoise), 0, 255,
           "share of random noise in the two movement sources");
    b.word("xyBalance", "xy-balance", GRANULIX_OFFSET(xyBalance), 0, 255,
           "0 moves only sideways, 255 only up and down");
    b.word("centerX", "center-x", GRANULIX_OFFSET(centerX), 0, 256,
           "sideways bias; higher sends particles to the right");
    b.word("centerY", "center-y", GRANULIX_OFFSET(centerY), 0, 256,
           "vertical bias; higher sends particles down");
    b.word("minimumSpeed", "minimum-speed", GRANULIX_OFFSET(minimumSpeed), 0, 255,
           "speed every moving particle has at least");
    b.word("timeline", "timeline", GRANULIX_OFFSET(timeline), 0, 255,
           "pace of the transition: 127 even, lower starts slow, higher starts fast");
    b.reserved("reserved56", GRANULIX_OFFSET(reserved56));
    b.reserved("reserved60", GRANULIX_OFFSET(reserved60));
    b.word("gravity", "gravity", GRANULIX_OFFSET(gravity), 0, 255,
           "steady pull towards the bottom of the picture");
    b.word("wind", "wind", GRANULIX_OFFSET(wind), 0, 255,
           "steady sideways push: 128 calm, above to the right, below to the left");
    b.word("delay", "delay", GRANULIX_OFFSET(delay), 0, 255,
           "how widely the start times spread over the transition");
    b.word("delayNoise", "delay-noise", GRANULIX_OFFSET(delayNoise), 0, 255,
           "share of random noise in the delay source");
    b.word("minimumLife", "minimum-life", GRANULIX_OFFSET(minimumLife), 0, 255,
           "fixed part of a particle's life");
    b.word("maximumLife", "maximum-life", GRANULIX_OFFSET(maximumLife), 0, 255,
           "random part of a particle's life");
    b.word("cellWidth", "cell-width", GRANULIX_OFFSET(cellWidth), 1, 4096,
           "cell width in pixels (with Bands: cells across)");
    b.word("cellHeight", "cell-height", GRANULIX_OFFSET(cellHeight), 1, 4096,
           "cell height in pixels (with Bands: cells down)");
    for (int i = 0; i < kBindingCount; ++i) b.binding(i);
    return b.rows;
}

#undef GRANULIX_OFFSET

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

const SettingsField& atOffset(std::size_t offset) {
    for (const SettingsField& f : settingsFields()) {
        if (f.offset == offset) return f;
    }
    throw std::logic_error("no settings field at that offset");
}

}  // namespace

const std::vector<SettingsField>& settingsFields() {
    static const std::vector<SettingsField> table = buildTable();
    return table;
}

const SettingsField* findSettingsField(std::string_view name) {
    for (const SettingsField& f : settingsFields()) {
        if (f.name == name) return &f;
    }
    for (const SettingsField& f : settingsFields()) {
        if (equalIgnoringCase(f.name, name)) return &f;
    }
    return nullptr;
}

const SettingsField& settingsField(int32_t EffectSettings::*member) {
    static const EffectSettings probe{};
    const auto* base = reinterpret_cast<const unsigned char*>(&probe);
    return atOffset(std::size_t(reinterpret_cast<const unsigned char*>(&(probe.*member)) - base));
}

const SettingsField& bindingField(int binding, int32_t SourceBinding::*member) {
    static const EffectSettings probe{};
    const auto* base = reinterpret_cast<const unsigned char*>(&probe);
    const int i = std::clamp(binding, 0, kBindingCount - 1);
    return atOffset(std::size_t(
        reinterpret_cast<const unsigned char*>(&(probe.sourceBindings[i].*member)) - base));
}

int32_t fieldValue(const EffectSettings& settings, const SettingsField& field) {
    int32_t v;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(&settings) + field.offset, sizeof v);
    return v;
}

void setFieldValue(EffectSettings& settings, const SettingsField& field, int32_t value) {
    std::memcpy(reinterpret_cast<uint8_t*>(&settings) + field.offset, &value, sizeof value);
}

}  // namespace granulix
