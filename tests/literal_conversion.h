// The literal way from a host's request to its output frame, for checking
// the module: frames converted pixel by pixel as the formulas say, rendered
// by the reference renderer, and the chosen rows written back.
#pragma once

#include <vector>

#include "effect_settings.h"
#include "module_host.h"

namespace granulix::testing {

// The output frame storage (guards, padding and all) the module must leave
// after rendering request r over frames f with the given settings.
std::vector<uint8_t> expectedOutput(const HostFrames& f, const RenderRecord& r,
                                    const EffectSettings& settings, int32_t fieldMode);

}  // namespace granulix::testing
