// The traversal of a frame as its plan says (render_plan.h).
#pragma once

#include <cstdint>

#include "element_sampler.h"
#include "render_plan.h"
#include "render_traversal.h"

namespace granulix::rendering {

// Draws the elements of `t` into t.out, by the traversal that t.plan chooses.
void traverse(const Traversal& t, const ElementSampler (&samplers)[kBindingCount]);

// The most that sharing out a frame of plan `p` and values `f`, W x H pixels,
// takes from a monotonic memory resource beyond the traversal's own tables.
uint64_t sharedOutBytes(const FramePlan& p, const FrameValues& f, int32_t W, int32_t H);

}  // namespace granulix::rendering
