// Writes the seed corpora of the fuzz targets: fuzz_seeds DIR makes
// DIR/<target>/<name> for every seed below. The seeds are committed under
// fuzz/corpus; run `make fuzz-seeds` after changing this file or a layout in
// fuzz_inputs.h.
//
// Each seed is an ordinary case of what the target takes from outside, or an
// edge a host or a file can bring: the fuzzer starts from them and mutates.
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "effect_settings.h"
#include "fuzz_inputs.h"
#include "settings_file.h"

namespace {

using namespace granulix;
namespace fs = std::filesystem;

fs::path root;

void write(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
    const fs::path dir = root / target;
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

template <typename Record>
std::vector<uint8_t> bytesOf(const Record& r, size_t noise = 0) {
    std::vector<uint8_t> b(sizeof r + noise);
    std::memcpy(b.data(), &r, sizeof r);
    for (size_t i = 0; i < noise; ++i) b[sizeof r + i] = uint8_t(i * 97 + 3);
    return b;
}

EffectSettings defaults() {
    EffectSettings s{};
    fillDefaults(s);
    return s;
}

// The defaults with fields at or past their limits, as only a file brings.
EffectSettings extremes() {
    EffectSettings s = defaults();
    s.speedNoise = INT_MAX;
    s.centerX = -1;
    s.centerY = 257;
    s.cellWidth = 0;
    s.cellHeight = INT_MIN;
    s.timeline = 255;
    s.gravity = 255;
    s.wind = 0;
    s.sourceBindings[0].kind = 20;
    s.sourceBindings[1].repeatX = -1;
    s.sourceBindings[2].kind = 4;  // "Red2": reads the output being drawn
    return s;
}

void renderEntrySeeds() {
    const auto seed = [](int32_t w, int32_t h, uint16_t bits, float progress, int32_t fieldMode,
                         const EffectSettings& s, uint8_t flags = 0) {
        fuzz::RenderEntryInput in{};
        in.kind = 1;
        in.width = w;
        in.height = h;
        in.bitCount = bits;
        in.progress = progress;
        in.regionWidth = w;
        in.regionHeight = h;
        in.fieldMode = fieldMode;
        in.flags = flags;
        std::memcpy(in.settings, &s, kSettingsSize);
        return in;
    };
    const std::string t = "render_entry";
    write(t, "whole-frame", bytesOf(seed(16, 9, 24, 0.5f, 0, defaults()), 64));
    write(t, "field-1", bytesOf(seed(5, 7, 24, 0.3f, 1, defaults()), 64));
    write(t, "field-2", bytesOf(seed(4, 3, 24, 0.9f, 2, defaults()), 64));
    write(t, "field-other", bytesOf(seed(9, 4, 24, 0.7f, -3, defaults()), 64));
    write(t, "no-settings", bytesOf(seed(6, 6, 24, 0.25f, 0, defaults(), fuzz::kRenderNoSettings)));
    write(t, "in-place",
          bytesOf(seed(8, 8, 24, 0.6f, 0, defaults(), fuzz::kRenderOutputIsClipB), 32));
    write(t, "extreme-settings", bytesOf(seed(12, 10, 24, 0.8f, 0, extremes()), 64));
    write(t, "bands", [&] {
        EffectSettings s = defaults();
        s.cellFlags = 1;
        s.cellWidth = 3;
        s.cellHeight = 2;
        s.orderFlags = 3;
        return bytesOf(seed(20, 11, 24, 0.4f, 0, s), 64);
    }());
    write(t, "bits-32", bytesOf(seed(4, 4, 32, 0.5f, 0, defaults())));
    write(t, "bits-16", bytesOf(seed(4, 4, 16, 0.5f, 0, defaults())));
    write(t, "height-0", bytesOf(seed(4, 0, 24, 0.5f, 0, defaults())));
    write(t, "width-negative", bytesOf(seed(-4, 4, 24, 0.5f, 0, defaults())));
    write(t, "too-many-pixels", bytesOf(seed(70000, 70000, 24, 0.5f, 0, defaults())));
    write(t, "wide-row", bytesOf(seed(5000, 2, 24, 0.5f, 0, defaults()), 16));
    write(t, "progress-nan", bytesOf(seed(6, 5, 24, NAN, 0, defaults())));
    write(t, "progress-huge", bytesOf(seed(6, 5, 24, FLT_MAX, 0, defaults())));
    write(t, "progress-negative", bytesOf(seed(6, 5, 24, -0.5f, 0, defaults())));
    auto region = seed(10, 10, 24, 0.5f, 1, defaults());
    region.regionX = -16;
    region.regionY = 3;
    region.regionWidth = INT_MAX;
    region.regionHeight = -1;
    write(t, "region-wraps", bytesOf(region, 16));
    auto inner = seed(10, 10, 24, 0.5f, 0, defaults());
    inner.regionX = 2;
    inner.regionY = 3;
    inner.regionWidth = 5;
    inner.regionHeight = 4;
    write(t, "region-inner", bytesOf(inner, 16));
}

void settingsFileSeeds() {
    const std::string t = "settings_file";
    const std::vector<uint8_t> good = serializeSettingsFile(defaults());
    write(t, "defaults", good);
    write(t, "extremes", serializeSettingsFile(extremes()));
    write(t, "twenty-bytes", std::vector<uint8_t>(good.begin(), good.begin() + 20));
    write(t, "header-only", std::vector<uint8_t>(good.begin(), good.begin() + 32));
    write(t, "block-cut-short", std::vector<uint8_t>(good.begin(), good.end() - 1));
    std::vector<uint8_t> longer = good;
    longer.resize(500, 0x5A);
    write(t, "five-hundred-bytes", longer);
    std::vector<uint8_t> noZero = good;
    noZero[31] = ' ';
    write(t, "header-without-zero", noZero);
    std::vector<uint8_t> other = good;
    other[0] = 'W';
    write(t, "other-header", other);
    write(t, "empty", {});
}

void previewHookSeeds() {
    const auto frame = [](int32_t w, int32_t h, uint16_t bits = 24, uint8_t padding = 0) {
        fuzz::FakeFrame f{};
        f.present = 1;
        f.bitCount = bits;
        f.width = w;
        f.height = h;
        f.extraPadding = padding;
        return f;
    };
    const auto seed = [&](bool whole, fuzz::FakeFrame a, fuzz::FakeFrame b) {
        fuzz::PreviewInput in{};
        in.wholeCall = whole;
        in.prepareResult = 1;
        in.jobWidth = 23;
        in.jobHeight = 17;
        in.frameCount = 75;
        in.baseUnits = 0x00100008;
        in.dialogAnswer = 1;
        in.hookCalls = 2;
        in.positions[0] = 0;
        in.positions[1] = 40;
        in.positions[2] = 74;
        in.clipA = a;
        in.clipB = b;
        const EffectSettings s = defaults();
        std::memcpy(in.settings, &s, kSettingsSize);
        return in;
    };
    const std::string t = "preview_hook";
    write(t, "hook-same-size", bytesOf(seed(false, frame(64, 48), frame(64, 48)), 64));
    write(t, "hook-different-sizes", bytesOf(seed(false, frame(30, 20), frame(7, 90, 24, 2)), 64));
    write(t, "hook-smaller-than-preview", bytesOf(seed(false, frame(3, 2), frame(1, 1)), 8));
    write(t, "hook-clip-b-32-bits", bytesOf(seed(false, frame(16, 16), frame(16, 16, 32))));
    write(t, "hook-clip-a-8-bits", bytesOf(seed(false, frame(16, 16, 8), frame(16, 16))));
    write(t, "hook-negative-height", bytesOf(seed(false, frame(16, -16), frame(16, 16))));
    write(t, "hook-huge", bytesOf(seed(false, frame(100000, 100000), frame(16, 16))));
    auto nullA = seed(false, frame(16, 16), frame(16, 16));
    nullA.clipA.present = 0;
    write(t, "hook-null-clip-a", bytesOf(nullA));
    auto noFrames = seed(false, frame(16, 16), frame(16, 16));
    noFrames.prepareResult = 0;
    write(t, "hook-no-frames", bytesOf(noFrames));
    write(t, "call-ok", bytesOf(seed(true, frame(48, 36), frame(48, 36)), 64));
    auto cancel = seed(true, frame(48, 36), frame(48, 36, 16));
    cancel.dialogAnswer = 2;
    cancel.baseUnits = 0x0014000A;
    write(t, "call-cancel-large-font", bytesOf(cancel, 64));
    auto noLength = seed(true, frame(10, 10), frame(10, 10));
    noLength.frameCount = -5;
    noLength.hookCalls = 3;
    write(t, "call-negative-length", bytesOf(noLength, 16));
}

void engineSeeds() {
    const std::string t = "engine";
    for (uint32_t kind = 0; kind <= 15; ++kind) {
        fuzz::EngineInput in{};
        in.x = 5 + kind;
        in.y = 3 * kind;
        in.width = 40 + kind;
        in.height = 30;
        in.kind = kind == 15 ? 20 : kind;
        in.repeatX = 1 + kind % 3;
        in.repeatY = 2;
        in.oddX = kind & 1;
        in.oddY = (kind >> 1) & 1;
        in.invert = (kind >> 2) & 1;
        in.frameWidth = uint8_t(7 + kind);
        in.frameHeight = uint8_t(5 + kind);
        in.duration = kind % 2 ? 65536 : 30;
        in.position = kind % 2 ? 40000 : 17;
        const EffectSettings s = kind == 7 ? extremes() : defaults();
        std::memcpy(in.settings, &s, kSettingsSize);
        write(t, "kind-" + std::to_string(in.kind), bytesOf(in, 32));
    }
}

void commandLineSeeds() {
    const auto words = [](std::initializer_list<const char*> list) {
        std::vector<uint8_t> b;
        for (const char* w : list) {
            if (!b.empty()) b.push_back(0);
            b.insert(b.end(), w, w + std::strlen(w));
        }
        return b;
    };
    const std::string t = "command_line";
    write(t, "assignments", words({"gravity=80", "wind=200", "sourceBindings[2].kind=Grad X"}));
    write(t, "bad-value", words({"delay=256"}));
    write(t, "unknown-field", words({"gravitation=1"}));
    write(t, "options",
          words({"--frames", "10", "--size", "64x48", "--region", "1,2,3,4", "--fps", "30000/1001",
                 "--set", "cellWidth=4", "-q"}));
    write(t, "missing-value", words({"--frames"}));
    write(t, "repeated", words({"--size=1x1", "--size=2x2"}));
    write(t, "huge-numbers", words({"--frames", "999999999999999999", "--fps", "1e308"}));
    write(t, "kind-by-name", words({"sourceBindings[0].kind=Diag 1 S", "reserved8=1"}));
    write(t, "spellings",
          words({"-qj2", "-n3", "-ox.mp4", "--region=0,0,0,0", "-o=x.mp4", "--quiet=1", "--",
                 "-a.png"}));
    write(t, "help", words({"--frames", "1", "-h"}));
}

void settingsJsonSeeds() {
    const std::string t = "settings_json";
    const auto text = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    std::string tail(512, '0');
    tail.replace(0, 8, "5a00ff7f");
    write(
        t, "fields-and-tail",
        text(
            "{\n  \"fields\": [\n    {\"name\": \"gravity\", \"offset\": 64, \"value\": 80, "
            "\"min\": 0, "
            "\"max\": 255, \"settable\": true, \"meaning\": \"pull \\u00e9 \\\"down\\\"\"},\n"
            "    {\"name\": \"sourceBindings[2].kind\", \"value\": 12, \"kindName\": \"Grad X\"},\n"
            "    {\"name\": \"reserved56\", \"value\": -2147483648}\n  ],\n  \"reserved168\": \"" +
            tail + "\"\n}\n"));
    write(t, "empty-object", text("  {}"));
    write(t, "fraction", text(R"({"fields": [{"name": "wind", "value": 1.5e3}]})"));
    write(t, "too-large", text(R"({"fields": [{"name": "wind", "value": 4294967296}]})"));
    write(t, "unknown-field", text(R"({"fields": [{"name": "colour", "value": 1}]})"));
    write(t, "cut-short", text(R"({"fields": [{"name": "wind", "val)"));
    write(t, "deep", text("{\"x\": " + std::string(80, '[') + std::string(80, ']') + "}"));
    write(t, "surrogates", text(R"({"x": "\ud83d\ude00 \ud800", "fields": []})"));
    write(t, "qlb", serializeSettingsFile(defaults()));
}

void frei0rSeeds() {
    const std::string t = "frei0r";
    const auto seed = [&](const char* name, uint8_t w, uint8_t h, uint8_t file,
                          std::initializer_list<fuzz::Frei0rSet> sets,
                          std::vector<uint8_t> tail = {}) {
        fuzz::Frei0rInput in{};
        in.width = w;
        in.height = h;
        in.file = file;
        in.setCount = uint8_t(sets.size());
        size_t i = 0;
        for (const fuzz::Frei0rSet& set : sets) in.sets[i++] = set;
        std::vector<uint8_t> bytes = bytesOf(in, 24);
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        write(t, name, bytes);
    };
    // Parameter 0 is progress, 1 the file, 2 "bands", 12 gravity, 13 wind,
    // 19 and 20 the cell size.
    seed("defaults-half-way", 16, 12, 0, {{0, 0.5}});
    seed("odd-size-fields", 13, 7, 0, {{0, 0.3}, {12, 0.6}, {13, 0.1}, {19, 0}, {20, 0}});
    seed("bad-values", 9, 5, 1,
         {{0, NAN}, {12, INFINITY}, {13, -INFINITY}, {14, 7.5}, {15, -2}, {0, 1e300}});
    seed("bad-indices", 4, 4, 0, {{-1, 0.5}, {120, 0.5}, {1, 0.5}, {0, 0.7}});
    seed("zero-size", 0, 9, 0, {{0, 0.5}});
    const std::vector<uint8_t> file = serializeSettingsFile(extremes());
    seed("file-then-default", 11, 9, 2, {{0, 0.6}, {12, 0}, {2, 1}}, file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
        return 2;
    }
    root = argv[1];
    renderEntrySeeds();
    settingsFileSeeds();
    previewHookSeeds();
    engineSeeds();
    commandLineSeeds();
    settingsJsonSeeds();
    frei0rSeeds();
    return 0;
}
