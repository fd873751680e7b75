// The fast renderer against the literal reference, byte for byte, over
// randomised settings within the editing ranges.
#include <gtest/gtest.h>

#include <cstddef>
#include <iterator>
#include <memory_resource>
#include <random>
#include <string>
#include <vector>

#include "frames.h"
#include "reference_renderer.h"
#include "renderer.h"
#include "settings_table.h"
#include "source_map.h"
#include "task_pool.h"

namespace granulix {
namespace {

using testing::Frames;

// Every field drawn from its editing range, then a few drawn otherwise on
// purpose: the motions the renderer settles apart (no minimum speed, no
// gravity, calm wind) come often; cells are one pixel, small, bands or
// wide strips rather than mostly one cell over the whole frame; and source
// kinds go past the editing range, as a settings file may hold them.
EffectSettings randomSettings(std::mt19937& g) {
    auto in = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(g); };
    EffectSettings s{};
    fillDefaults(s);
    for (const SettingsField& field : settingsFields()) {
        if (field.settable) setFieldValue(s, field, in(field.minimum, field.maximum));
    }
    if (in(0, 3) == 0) s.minimumSpeed = 0;
    if (in(0, 2) == 0) s.gravity = 0;
    if (in(0, 2) == 0) s.wind = 128;
    s.cellFlags = 0;
    switch (in(0, 3)) {
        case 0: s.cellWidth = s.cellHeight = 1; break;
        case 1:
            s.cellWidth = in(1, 9);
            s.cellHeight = in(1, 9);
            break;
        case 2:
            s.cellFlags = 1;
            s.cellWidth = in(1, 40);
            s.cellHeight = in(1, 40);
            break;
        default:
            s.cellWidth = in(1, 4096);
            s.cellHeight = in(1, 3);
            break;
    }
    for (auto& b : s.sourceBindings) b.kind = in(0, 16);
    return s;
}

struct Size {
    int32_t width, height;
};

class RendererMatchesReference : public ::testing::TestWithParam<Size> {};

// Runs the tasks one after the other from the last: work shared out must
// not depend on which part runs first.
class BackwardsRunner final : public TaskRunner {
public:
    explicit BackwardsRunner(int width) : width_(width) {}
    int width() const override { return width_; }
    void run(int count, void (*task)(void*, int), void* context) override {
        for (int i = count - 1; i >= 0; --i) task(context, i);
    }

private:
    int width_;
};

// Also with the per-frame tables carved from one scratch kept from round to
// round, as a plug-in keeps it from frame to frame: the same bytes, and a
// second call of the same job allocates nothing. And shared out among
// threads, or among parts run backwards, or kept to the instructions of
// every x86: the same bytes.
TEST_P(RendererMatchesReference, OverRandomSettingsPositionsAndOrders) {
    const Size size = GetParam();
    std::mt19937 g(size.width * 1000 + size.height);
    RenderScratch scratch;
    const std::unique_ptr<TaskRunner> threads[] = {newTaskPool(2), newTaskPool(3)};
    BackwardsRunner backwards(5);
    TaskRunner* runners[] = {threads[0].get(), threads[1].get(), &backwards};
    for (int round = 0; round < 150; ++round) {
        EffectSettings s = randomSettings(g);
        // Host jobs count in 16.16 fixed point, preview jobs in frames.
        const bool preview = round % 3 == 0;
        const uint32_t N = preview ? std::uniform_int_distribution<uint32_t>(1, 200)(g) : 65536u;
        const uint32_t P = std::uniform_int_distribution<uint32_t>(0, preview ? N - 1 : N)(g);
        Frames fast(size.width, size.height, round), slow(size.width, size.height, round);
        render(fast.job(s, N, P));
        reference::render(slow.job(s, N, P));
        ASSERT_EQ(fast.out, slow.out)
            << "round " << round << " N " << N << " P " << P << " cells " << s.cellFlags << ":"
            << s.cellWidth << "x" << s.cellHeight << " order " << s.orderFlags;
        for (int call = 0; call < 2; ++call) {
            Frames kept(size.width, size.height, round);
            render(kept.job(s, N, P), scratch);
            ASSERT_EQ(kept.out, fast.out)
                << "round " << round << ", call " << call << " with a kept scratch";
        }
        EXPECT_EQ(scratch.heapAllocations(), 0u) << "round " << round;
        Frames narrow(size.width, size.height, round);
        RenderJob narrowJob = narrow.job(s, N, P);
        narrowJob.wideVectors = false;
        render(narrowJob);
        ASSERT_EQ(narrow.out, fast.out) << "round " << round << " without the wider vectors";
        // Shared out, the call fits the workspace it asks for beforehand:
        // the memory behind it refuses anything more.
        for (TaskRunner* runner : runners) {
            Frames shared(size.width, size.height, round);
            RenderJob job = shared.job(s, N, P);
            job.tasks = runner;
            std::vector<std::byte> workspace(static_cast<size_t>(renderWorkspaceBytes(job)));
            std::pmr::monotonic_buffer_resource bounded(workspace.data(), workspace.size(),
                                                        std::pmr::null_memory_resource());
            render(job, workspace.empty() ? std::pmr::new_delete_resource() : &bounded);
            ASSERT_EQ(shared.out, fast.out)
                << "round " << round << " on " << runner->width() << " parts";
        }
    }
}

// The default look has no movement noise, no gravity and no wind, which the
// renderer settles in fewer steps; cover every mix of the three.
TEST_P(RendererMatchesReference, WithoutMovementNoiseOrAcceleration) {
    const Size size = GetParam();
    std::mt19937 g(size.width * 7 + size.height * 1000);
    for (int round = 0; round < 80; ++round) {
        EffectSettings s = randomSettings(g);
        if (round & 1) s.speedNoise = 0;
        if (round & 2) s.gravity = 0;
        if (round & 4) s.wind = 128;
        const uint32_t P = std::uniform_int_distribution<uint32_t>(0, 65536)(g);
        Frames fast(size.width, size.height, round), slow(size.width, size.height, round);
        render(fast.job(s, 65536, P));
        reference::render(slow.job(s, 65536, P));
        ASSERT_EQ(fast.out, slow.out) << "round " << round << " P " << P << " cells " << s.cellFlags
                                      << ":" << s.cellWidth << "x" << s.cellHeight;
    }
}

// Byte kinds of image 2 read the output as the elements before left it: a
// pixel or cell that lands on the row such a binding reads changes what the
// elements after it read. Small frames make that happen all the time.
TEST_P(RendererMatchesReference, WhenBindingsReadTheFrameBeingDrawn) {
    const Size size = GetParam();
    std::mt19937 g(size.width * 13 + size.height * 101);
    auto in = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(g); };
    for (int round = 0; round < 120; ++round) {
        EffectSettings s = randomSettings(g);
        if (round % 2) {
            s.cellFlags = 0;
            s.cellWidth = s.cellHeight = 1;
        }
        for (auto& b : s.sourceBindings) {
            if (in(0, 2) != 0) {
                b = SourceBinding{in(kRed2, kAlpha2), in(0, 1), in(1, 2),
                                  in(1, 2),           in(0, 1), in(0, 1)};
            }
        }
        s.delay = in(0, 60);
        const uint32_t P = std::uniform_int_distribution<uint32_t>(0, 65536)(g);
        Frames fast(size.width, size.height, round), slow(size.width, size.height, round);
        render(fast.job(s, 65536, P));
        reference::render(slow.job(s, 65536, P));
        ASSERT_EQ(fast.out, slow.out) << "round " << round << " P " << P << " cells " << s.cellFlags
                                      << ":" << s.cellWidth << "x" << s.cellHeight;
    }
}

INSTANTIATE_TEST_SUITE_P(FrameSizes, RendererMatchesReference,
                         ::testing::Values(Size{1, 1}, Size{2, 3}, Size{7, 5}, Size{20, 15},
                                           Size{33, 17}, Size{64, 48}, Size{97, 31}),
                         [](const ::testing::TestParamInfo<Size>& tested) {
                             return std::to_string(tested.param.width) + "x" +
                                    std::to_string(tested.param.height);
                         });

// A call shared out fits the workspace it asks for beforehand whatever the
// mode, the frame's size and the number of parts: the memory behind it
// refuses anything more, and the bytes are those of one thread.
TEST(RenderWorkspace, HoldsEverySharedOutCall) {
    struct Look {
        int32_t cellFlags, cellWidth, cellHeight;
    };
    const Look looks[] = {{0, 1, 1}, {0, 3, 2}, {0, 1, 9}, {0, 4096, 3}, {1, 5, 3}, {1, 2, 40}};
    const int32_t extents[] = {1, 2, 15, 16, 31, 32, 97};
    const uint32_t kinds[] = {kRed1, kDiag1, kDiag2S, kGradX, kGradY, kBlack, 16};
    int shared = 0;
    for (const Look& look : looks) {
        for (int32_t width : extents) {
            for (int32_t height : extents) {
                EffectSettings s = testing::defaults();
                s.cellFlags = look.cellFlags;
                s.cellWidth = look.cellWidth;
                s.cellHeight = look.cellHeight;
                for (int b = 0; b < kBindingCount; ++b) {
                    s.sourceBindings[b].kind =
                        static_cast<int32_t>(kinds[size_t(width + height + b) % std::size(kinds)]);
                }
                Frames alone(width, height);
                render(alone.job(s, 65536, 40000));
                for (int parts : {2, 3, 4, 7, 16, 64}) {
                    Frames frames(width, height);
                    RenderJob job = frames.job(s, 65536, 40000);
                    BackwardsRunner runner(parts);
                    job.tasks = &runner;
                    std::vector<std::byte> workspace(
                        static_cast<size_t>(renderWorkspaceBytes(job)));
                    if (workspace.empty()) continue;
                    ++shared;
                    std::pmr::monotonic_buffer_resource bounded(workspace.data(), workspace.size(),
                                                                std::pmr::null_memory_resource());
                    ASSERT_NO_THROW(render(job, &bounded))
                        << width << "x" << height << " cells " << look.cellFlags << ":"
                        << look.cellWidth << "x" << look.cellHeight << " on " << parts << " parts";
                    ASSERT_EQ(frames.out, alone.out) << width << "x" << height;
                }
            }
        }
    }
    EXPECT_GT(shared, 1000);
}

}  // namespace
}  // namespace granulix
