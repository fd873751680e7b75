// Random render requests for the module: settings within the editing
// ranges, processing rectangles of every kind, and the frame sizes and field
// modes that cover every row padding and odd field heights. Shared by the
// module's render tests and by the program that renders one fixed set of
// requests in every build, so that the builds can be compared byte for byte.
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "effect_settings.h"
#include "module_host.h"

namespace granulix::testing {

EffectSettings randomModuleSettings(std::mt19937& g);

// A processing rectangle: mostly the whole frame, else inside it, partly or
// wholly outside it, empty, or with counts that wrap in 32 bits.
void randomRegion(std::mt19937& g, RenderRecord& r, int32_t width, int32_t height);

struct RenderCase {
    int32_t width, height, fieldMode;
};

// Widths 1 to 7 cover every amount of row padding (3, 2, 1, 0, 3, 2, 1
// bytes); odd heights catch field rows that run past the frame.
inline constexpr RenderCase kRenderCases[] = {
    {1, 1, 0},   {2, 3, 0},  {3, 2, 0},   {4, 3, 0}, {5, 4, 0},   {6, 5, 0},   {7, 7, 0},
    {33, 17, 0}, {64, 9, 0}, {1, 1, 1},   {4, 3, 1}, {5, 5, 1},   {21, 11, 1}, {1, 1, 2},
    {4, 3, 2},   {5, 5, 2},  {21, 11, 2}, {5, 5, 3}, {21, 11, 3}, {7, 3, -1}};

// "33x17_field1", "7x3_fieldMinus1": a name for a case.
std::string renderCaseName(const RenderCase& c);

// Round `round` of a case: frames, settings, progress and rectangle drawn
// from `g`. Every fourth round sits at progress 0 or 1.
struct RandomRequest {
    HostFrames frames;
    EffectSettings settings;
    RenderRecord record;

    RandomRequest(const RenderCase& c, int round, std::mt19937& g);
    RandomRequest(const RandomRequest&) = delete;
    RandomRequest& operator=(const RandomRequest&) = delete;
};

}  // namespace granulix::testing
