// A plain, slow transcription of the transition's formulas, one element at
// a time with a sequential random stream and no tables. The fast renderer
// must match it byte for byte.
#pragma once

#include <cstdint>

#include "render_job.h"

namespace granulix::reference {

struct Values {
    double D, lifeSpread, lifeBase, L, T, A, sX, sY, S;
    double speed[512];
    bool solved;
};

Values frameValues(const EffectSettings& s, uint32_t N, uint32_t P, int32_t width, int32_t height);

void render(const RenderJob& job);

}  // namespace granulix::reference
