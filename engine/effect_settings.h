// The settings block that shapes a Granulix transition.
//
// EffectSettings is a flat 424-byte record of little-endian 32-bit integers.
// The host stores it with each transition and hands it back on every call,
// the setup dialog edits a private copy, and the .qlb file carries it byte
// for byte, so its layout is a stored format: every offset below is pinned.
//
//   EffectSettings s;
//   fillDefaults(s);          // the look a fresh transition has
//   s.sourceBindings[2].kind  // which map drives the start times ("Delay")
#pragma once

#include <cstddef>
#include <cstdint>

namespace granulix {

// Which source map feeds one particle parameter, and how the map is tiled.
struct SourceBinding {
    int32_t kind;     // 0..14, see SourceKind; larger values are tolerated
    int32_t invert;   // non-zero: v becomes 255 - v
    int32_t repeatX;  // repeats of the map across the frame
    int32_t repeatY;  // repeats of the map down the frame
    int32_t oddX;     // non-zero: odd horizontal repeats are flipped
    int32_t oddY;     // non-zero: odd vertical repeats are flipped
};

// Indices into EffectSettings::sourceBindings.
enum BindingIndex : int { kMovingX = 0, kMovingY = 1, kDelay = 2, kBindingCount = 3 };

struct EffectSettings {
    int32_t size;       // 424, written by fillDefaults, never compared
    int32_t cellFlags;  // bit 0 "Bands": cellWidth/cellHeight count cells
    int32_t reserved8;
    int32_t reserved12;
    int32_t reserved16;
    int32_t orderFlags;  // bit 0: rows from the last; bit 1: columns from the last
    int32_t holdFlags;   // bit 0 "Clip 1", bit 1 "Clip 2"; stored only
    int32_t speedVariance;
    int32_t speedNoise;  // limit 0..255 (indexes the speed table)
    int32_t xyBalance;
    int32_t centerX;  // limit 0..256 (indexes the speed table)
    int32_t centerY;  // limit 0..256 (indexes the speed table)
    int32_t minimumSpeed;
    int32_t timeline;
    int32_t reserved56;
    int32_t reserved60;
    int32_t gravity;
    int32_t wind;
    int32_t delay;
    int32_t delayNoise;
    int32_t minimumLife;
    int32_t maximumLife;
    int32_t cellWidth;
    int32_t cellHeight;
    SourceBinding sourceBindings[kBindingCount];
    uint8_t reserved168[256];
};

constexpr std::size_t kSettingsSize = 424;

static_assert(sizeof(SourceBinding) == 24, "binding layout is stored");
static_assert(sizeof(EffectSettings) == kSettingsSize, "settings layout is stored");
static_assert(offsetof(EffectSettings, size) == 0);
static_assert(offsetof(EffectSettings, cellFlags) == 4);
static_assert(offsetof(EffectSettings, reserved8) == 8);
static_assert(offsetof(EffectSettings, reserved12) == 12);
static_assert(offsetof(EffectSettings, reserved16) == 16);
static_assert(offsetof(EffectSettings, orderFlags) == 20);
static_assert(offsetof(EffectSettings, holdFlags) == 24);
static_assert(offsetof(EffectSettings, speedVariance) == 28);
static_assert(offsetof(EffectSettings, speedNoise) == 32);
static_assert(offsetof(EffectSettings, xyBalance) == 36);
static_assert(offsetof(EffectSettings, centerX) == 40);
static_assert(offsetof(EffectSettings, centerY) == 44);
static_assert(offsetof(EffectSettings, minimumSpeed) == 48);
static_assert(offsetof(EffectSettings, timeline) == 52);
static_assert(offsetof(EffectSettings, reserved56) == 56);
static_assert(offsetof(EffectSettings, reserved60) == 60);
static_assert(offsetof(EffectSettings, gravity) == 64);
static_assert(offsetof(EffectSettings, wind) == 68);
static_assert(offsetof(EffectSettings, delay) == 72);
static_assert(offsetof(EffectSettings, delayNoise) == 76);
static_assert(offsetof(EffectSettings, minimumLife) == 80);
static_assert(offsetof(EffectSettings, maximumLife) == 84);
static_assert(offsetof(EffectSettings, cellWidth) == 88);
static_assert(offsetof(EffectSettings, cellHeight) == 92);
static_assert(offsetof(EffectSettings, sourceBindings) == 96);
static_assert(offsetof(EffectSettings, sourceBindings) + sizeof(SourceBinding) == 120);
static_assert(offsetof(EffectSettings, sourceBindings) + 2 * sizeof(SourceBinding) == 144);
static_assert(offsetof(EffectSettings, reserved168) == 168);
static_assert(offsetof(SourceBinding, kind) == 0);
static_assert(offsetof(SourceBinding, invert) == 4);
static_assert(offsetof(SourceBinding, repeatX) == 8);
static_assert(offsetof(SourceBinding, repeatY) == 12);
static_assert(offsetof(SourceBinding, oddX) == 16);
static_assert(offsetof(SourceBinding, oddY) == 20);

// Writes size and every default (bytes 0..55 and 64..167). Bytes 56..63 and
// 168..423 are left as they are: hosts and files carry them along.
void fillDefaults(EffectSettings& settings);

}  // namespace granulix
