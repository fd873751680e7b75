// The traversals compiled, and the choice among them that a frame's plan
// makes.
//
// Each is specialised on the mode and on the flags of FramePlan that change
// its inner loop: one thread (late bindings, delay bytes, movement noise,
// acceleration) or shared out (the same but late bindings, which never
// share out). Every other choice of the plan is read at run time.
#include "render_traversals.h"

#include <iterator>

#include "render_modes.h"
#include "render_settler.h"
#include "render_side_by_side.h"

namespace granulix::rendering {

namespace {

using Samplers = const ElementSampler (&)[kBindingCount];
using OneThread = void (*)(const Traversal&, Samplers);
using SharedOut = void (*)(const Traversal&, Samplers, TaskRunner&);

// By mode, then late << 3 | delayBytes << 2 | moveNoise << 1 | accel.
template <class Mode>
constexpr OneThread kOneThread[] = {
    traverseRows<false, false, false, false, Mode>, traverseRows<false, false, false, true, Mode>,
    traverseRows<false, false, true, false, Mode>,  traverseRows<false, false, true, true, Mode>,
    traverseRows<false, true, false, false, Mode>,  traverseRows<false, true, false, true, Mode>,
    traverseRows<false, true, true, false, Mode>,   traverseRows<false, true, true, true, Mode>,
    traverseRows<true, false, false, false, Mode>,  traverseRows<true, false, false, true, Mode>,
    traverseRows<true, false, true, false, Mode>,   traverseRows<true, false, true, true, Mode>,
    traverseRows<true, true, false, false, Mode>,   traverseRows<true, true, false, true, Mode>,
    traverseRows<true, true, true, false, Mode>,    traverseRows<true, true, true, true, Mode>,
};

// By mode, then delayBytes << 2 | moveNoise << 1 | accel.
template <class Mode>
constexpr SharedOut kSharedOut[] = {
    shareOut<false, false, false, Mode>, shareOut<false, false, true, Mode>,
    shareOut<false, true, false, Mode>,  shareOut<false, true, true, Mode>,
    shareOut<true, false, false, Mode>,  shareOut<true, false, true, Mode>,
    shareOut<true, true, false, Mode>,   shareOut<true, true, true, Mode>,
};

static_assert(2 * std::size(kOneThread<PixelMode>) == 32, "one-thread traversals compiled");
static_assert(2 * std::size(kSharedOut<PixelMode>) == 16, "shared-out traversals compiled");

unsigned flags(const FramePlan& p) {
    return unsigned{p.delayBytes} << 2 | unsigned{p.moveNoise} << 1 | unsigned{p.accel};
}

template <class Mode>
void traverseIn(const FramePlan& p, const Traversal& t, Samplers samplers) {
    if (p.sharedWith) {
        kSharedOut<Mode>[flags(p)](t, samplers, *p.sharedWith);
    } else {
        kOneThread<Mode>[unsigned{p.late} << 3 | flags(p)](t, samplers);
    }
}

}  // namespace

void traverse(const Traversal& t, const ElementSampler (&samplers)[kBindingCount]) {
    if (t.plan->perPixel) {
        traverseIn<PixelMode>(*t.plan, t, samplers);
    } else {
        traverseIn<CellMode>(*t.plan, t, samplers);
    }
}

uint64_t sharedOutBytes(const FramePlan& p, const FrameValues& f, int32_t W, int32_t H) {
    const int parts = taskWidth(p.sharedWith);
    // The flags change no table's size.
    if (p.perPixel) {
        return SideBySide<false, false, false, PixelMode>::workspaceBytes(f, W, H, parts);
    }
    return SideBySide<false, false, false, CellMode>::workspaceBytes(f, W, H, parts);
}

}  // namespace granulix::rendering
