#include "renderer.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "checked_size.h"
#include "element_sampler.h"
#include "render_plan.h"
#include "render_traversal.h"
#include "render_traversals.h"
#include "source_map.h"
#include "wide_vectors.h"

namespace granulix {

namespace rendering {

namespace {

// The per-frame tables take at most this much for each column, row and ramp
// step of a frame.
constexpr uint64_t kTableBytesPerLine = 256;

// Whether a frame is worth sharing out: more than one thread, no binding
// that reads the drawing so far, a few rows of elements, pixel indices that
// fit the draws' 32 bits, and a clip A that is not the frame being drawn (a
// kept pixel takes its value from clip A while settling). A job whose frames
// are not there yet is taken to have them apart.
bool sharesOut(const RenderJob& job, uint32_t rows, bool late) {
    if (taskWidth(job.tasks) < 2 || rows < 2 || job.width < 1 || job.height < 1) return false;
    if (job.pixelsA && job.pixelsA == job.pixelsOut) return false;
    if (late) return false;
    return uint64_t(job.width) * uint64_t(job.height) < UINT32_MAX;
}

// Where the elements of a frame of values `f` sit.
ElementGrid gridOf(const RenderJob& job, const FrameValues& f) {
    ElementGrid grid;
    grid.width = static_cast<uint32_t>(job.width);
    grid.height = static_cast<uint32_t>(job.height);
    grid.cellWidth = static_cast<uint32_t>(f.cellWidth);
    grid.cellHeight = static_cast<uint32_t>(f.cellHeight);
    grid.columns = f.columns;
    grid.rows = f.rows;
    grid.columnsReversed = (job.settings->orderFlags & 2) != 0;
    return grid;
}

}  // namespace

FramePlan planFrame(const RenderJob& job, const FrameValues& f) {
    const EffectSettings& s = *job.settings;
    FramePlan p;
    p.perPixel = f.perPixel;
    for (const SourceBinding& b : s.sourceBindings) {
        p.late |= ElementSampler::familyOf(b) == ElementSampler::Family::kImage2;
    }
    p.delayBytes =
        ElementSampler::familyOf(s.sourceBindings[kDelay]) != ElementSampler::Family::kRamp;
    p.moveNoise = f.noiseMove != 0;
    p.accel = f.gravityAcceleration != 0 || f.windAcceleration != 0;
    const uint64_t pixels =
        job.width > 0 && job.height > 0 ? uint64_t(job.width) * uint64_t(job.height) : 0;
    p.fourWide = wideVectorsFor(job) && pixels <= INT32_MAX;
    // Drawing a pixel straight away is cheaper than a second pass, unless
    // four are settled at a time.
    p.fused = p.perPixel && !p.fourWide;
    p.sharedWith = sharesOut(job, f.rows, p.late) ? job.tasks : nullptr;
    return p;
}

namespace {

void renderWith(const RenderJob& job, std::pmr::memory_resource* memory) {
    if (job.width < 1 || job.height < 1) return;
    const int32_t W = job.width, H = job.height;
    const size_t pixels = static_cast<size_t>(W) * static_cast<size_t>(H);
    if (job.pixelsOut != job.pixelsB) {
        const int parts = taskWidth(job.tasks);
        runTasks(job.tasks, parts, [&](int i) {
            const auto first =
                static_cast<size_t>(uint64_t{pixels} * uint64_t(i) / uint64_t(parts));
            const auto end =
                static_cast<size_t>(uint64_t{pixels} * uint64_t(i + 1) / uint64_t(parts));
            std::memcpy(job.pixelsOut + first, job.pixelsB + first,
                        (end - first) * sizeof(uint32_t));
        });
    }

    const FrameValues f = computeFrameValues(*job.settings, job.duration, job.position, W, H);
    if (!f.scalesSolved) return;
    const EffectSettings& s = *job.settings;

    // The per-frame tables take well under 256 bytes per column, row and
    // ramp step; refuse a frame whose tables could not even be addressed.
    if (!checkedProduct(SIZE_MAX / 2, kTableBytesPerLine, uint64_t(W) + uint64_t(H) + 1)) {
        throw std::bad_alloc();
    }

    const FramePlan plan = planFrame(job, f);
    Traversal t(memory);
    t.f = &f;
    t.plan = &plan;
    t.W = W;
    t.H = H;
    t.a = job.pixelsA;
    t.out = job.pixelsOut;
    t.grid = gridOf(job, f);
    t.rowsReversed = (s.orderFlags & 1) != 0;
    for (int r = 0; r < kByteValues; ++r) {
        t.byRandom.startNoise[r] = f.noiseDelay * r;
        t.byRandom.life[r] = r * f.lifeSpread * kInv255 + f.lifeBase;
        t.byRandom.moveNoise[r] = (r - kMiddleByte) * f.noiseMove;
    }
    for (int k = 0; k < kSpeedTableSize; ++k) {
        t.speedY[k] = f.speed[k] * f.verticalShare;
        t.speedX[k] = f.speed[k] * f.horizontalShare;
    }
    t.rowBias = f.centerY + kRowSpeedBias;
    t.colBias = kColumnSpeedBias - f.centerX;

    ElementSampler samplers[kBindingCount] = {
        ElementSampler(s.sourceBindings[kMovingX], t.grid, job.pixelsA, job.pixelsOut, memory),
        ElementSampler(s.sourceBindings[kMovingY], t.grid, job.pixelsA, job.pixelsOut, memory),
        ElementSampler(s.sourceBindings[kDelay], t.grid, job.pixelsA, job.pixelsOut, memory),
    };
    const double keepDelay = f.keepDelay, keepMove = f.keepMove;
    samplers[kDelay].mapValues([=](double v) { return keepDelay * v; });
    if (plan.moveNoise) {
        samplers[kMovingY].mapValues([=](double v) { return (v - kMiddleByte) * keepMove; });
        samplers[kMovingX].mapValues([=](double v) { return (v - kMiddleByte) * keepMove; });
    } else {
        const double rowBias = t.rowBias, colBias = t.colBias;
        const double* speedY = t.speedY;
        const double* speedX = t.speedX;
        samplers[kMovingY].mapValues([=](double v) {
            return speedY[static_cast<int>((v - kMiddleByte) * keepMove + rowBias)];
        });
        samplers[kMovingX].mapValues([=](double v) {
            return speedX[static_cast<int>((v - kMiddleByte) * keepMove + colBias)];
        });
    }
    t.columns.resize(f.columns);
    for (uint32_t k = 0; k < f.columns; ++k) {
        Traversal::Column& col = t.columns[k];
        for (int b = 0; b < kBindingCount; ++b) col.key[b] = samplers[b].gatherKey(k);
        const uint32_t column = t.grid.columnsReversed ? f.columns - 1 - k : k;
        col.x = static_cast<int32_t>(column * t.grid.cellWidth);
        col.xd = col.x;
    }
    if (plan.perPixel) {
        t.rowStart.resize(static_cast<size_t>(H));
        for (int32_t y = 0; y < H; ++y) t.rowStart[y] = job.pixelsOut + static_cast<size_t>(y) * W;
    }
    traverse(t, samplers);
}

}  // namespace

}  // namespace rendering

void render(const RenderJob& job) { rendering::renderWith(job, std::pmr::new_delete_resource()); }

void render(const RenderJob& job, std::pmr::memory_resource* memory) {
    rendering::renderWith(job, memory);
}

void render(const RenderJob& job, RenderScratch& scratch) {
    struct Call {
        RenderScratch& scratch;
        explicit Call(RenderScratch& s) : scratch(s) { scratch.begin(); }
        ~Call() { scratch.end(); }
    } call(scratch);
    rendering::renderWith(job, &scratch);
}

uint64_t renderWorkspaceBytes(const RenderJob& job) {
    using namespace rendering;
    if (!job.settings) return 0;
    const FrameValues f =
        computeFrameValues(*job.settings, job.duration, job.position, job.width, job.height);
    const FramePlan plan = planFrame(job, f);
    if (!plan.sharedWith) return 0;
    // What renderWith() takes beside the traversal: the element columns, the
    // output rows of the per-pixel mode and the samplers' tables.
    const ElementGrid grid = gridOf(job, f);
    uint64_t bytes = arrayBytes<Traversal::Column>(f.columns);
    if (plan.perPixel) bytes += arrayBytes<uint32_t*>(grid.height);
    for (const SourceBinding& b : job.settings->sourceBindings) {
        bytes += ElementSampler::memoryBytes(b, grid);
    }
    return bytes + sharedOutBytes(plan, f, job.width, job.height);
}

}  // namespace granulix
