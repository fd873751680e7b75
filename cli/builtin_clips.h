// Two moving patterns generated in code, so that the program can show the
// transition with no input files at all: clip A, warm rings drifting over a
// gradient; clip B, cool tiles sliding past a sweeping bar. Both are pure
// functions of size and frame number.
#pragma once

#include <memory>

#include "clip_source.h"

namespace granulix::cli {

enum class BuiltinPattern { kRings, kTiles };

// Size of the built-in clips when no --size is given.
constexpr int32_t kBuiltinWidth = 1280, kBuiltinHeight = 720;
constexpr FrameRate kBuiltinRate{25, 1};

std::unique_ptr<ClipSource> builtinClip(BuiltinPattern pattern);

// Draws frame `frame` of a pattern into `out`.
void drawPattern(BuiltinPattern pattern, int frame, HostFrame& out);

}  // namespace granulix::cli
