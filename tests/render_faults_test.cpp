// Faults and long runs of the render path and the setup call, through the
// real export: every allocation fails in turn (moveable blocks, their locks,
// and operator new through failing_new.cpp), and thousands of calls in a row
// must leave nothing behind.
//
// A failed call returns 0, gives back every block it obtained, and leaves
// the host's frames and settings as they were; the sweep goes on with the
// next allocation until the call gets through and renders what an
// undisturbed call renders.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "effect_settings.h"
#include "export_guard.h"
#include "failing_new.h"
#include "module_host.h"
#include "moveable_memory.h"
#include "work_block.h"
#include "plugin_abi.h"
#include "setup_call.h"

#if defined(__SANITIZE_ADDRESS__)
#define GRANULIX_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GRANULIX_ASAN 1
#endif
#endif
#if defined(GRANULIX_ASAN)
#include <sanitizer/lsan_interface.h>
#endif

extern "C" int32_t vxDLLApplyEffect(int32_t kind, void* record, int32_t fieldMode);

namespace granulix {
namespace {

using testing::failNthNew;
using testing::liveNewBlocks;
using testing::newFaultPending;

constexpr int kMaxFaults = 500;  // a sweep that needs more has lost its way

enum class Fault { kMoveableAllocation, kMoveableLock, kNew };
const char* nameOf(Fault f) {
    switch (f) {
        case Fault::kMoveableAllocation: return "moveable allocation";
        case Fault::kMoveableLock: return "moveable lock";
        case Fault::kNew: return "operator new";
    }
    return "";
}

void arm(Fault f, uint32_t n) {
    switch (f) {
        case Fault::kMoveableAllocation: host::failNthAllocation(n); break;
        case Fault::kMoveableLock: host::failNthLock(n); break;
        case Fault::kNew: failNthNew(n); break;
    }
}
void disarmAll() {
    host::failNthAllocation(0);
    host::failNthLock(0);
    failNthNew(0);
}

// What the blocks and the heap hold, to compare before and after a call;
// the work blocks kept for the next call are counted apart.
struct Held {
    int64_t blocks = host::outstandingBlocks() - host::heldWorkBlocks();
    int64_t news = liveNewBlocks();
    bool operator==(const Held& o) const { return blocks == o.blocks && news == o.news; }
    friend std::ostream& operator<<(std::ostream& out, const Held& h) {
        return out << h.blocks << " moveable blocks, " << h.news << " blocks from new";
    }
};

EffectSettings settingsFor(int look) {
    EffectSettings s{};
    fillDefaults(s);
    if (look == 1) {  // cells, rows from the last
        s.cellWidth = 3;
        s.cellHeight = 2;
        s.orderFlags = 1;
    }
    if (look == 2) s.sourceBindings[1].kind = 5;  // "Green2": reads the output as drawn
    return s;
}

// One render request over frames of its own, with what an undisturbed call
// writes.
struct RenderScene {
    testing::HostFrames frames;
    EffectSettings settings;
    int32_t fieldMode;
    std::vector<uint8_t> record;
    std::vector<uint8_t> rendered;

    RenderScene(int look, int32_t mode)
        : frames(13, 9, 70 + look), settings(settingsFor(look)), fieldMode(mode) {
        record = frames.request(0.45f, &settings).encode();
        const std::vector<uint8_t> before = frames.out.storage;
        EXPECT_EQ(vxDLLApplyEffect(1, record.data(), fieldMode), 1);
        rendered = frames.out.storage;
        frames.out.storage = before;
    }
};

TEST(RenderFaults, EveryAllocationFailsInTurnAndTheCallGivesEverythingBack) {
    int survived = 0;
    for (const Fault fault : {Fault::kMoveableAllocation, Fault::kMoveableLock, Fault::kNew}) {
        for (int look = 0; look < 3; ++look) {
            for (const int32_t fieldMode : {0, 2}) {
                RenderScene scene(look, fieldMode);
                const std::vector<uint8_t> a = scene.frames.a.storage, b = scene.frames.b.storage,
                                           out = scene.frames.out.storage;
                const EffectSettings settings = scene.settings;
                bool through = false;
                for (uint32_t n = 1; n <= kMaxFaults && !through; ++n) {
                    SCOPED_TRACE(::testing::Message() << nameOf(fault) << " " << n << ", look "
                                                      << look << ", field mode " << fieldMode);
                    // Without a kept block the call allocates and locks anew.
                    host::releaseHeldWorkBlocks();
                    const Held before;
                    arm(fault, n);
                    const int32_t result = vxDLLApplyEffect(1, scene.record.data(), fieldMode);
                    const bool fired = fault == Fault::kNew ? !newFaultPending() : result == 0;
                    disarmAll();
                    EXPECT_EQ(Held(), before);
                    EXPECT_EQ(scene.frames.a.storage, a);
                    EXPECT_EQ(scene.frames.b.storage, b);
                    EXPECT_EQ(std::memcmp(&scene.settings, &settings, sizeof settings), 0);
                    if (fired) {
                        EXPECT_EQ(result, 0);
                        ASSERT_EQ(scene.frames.out.storage, out) << "a failed call wrote output";
                        ++survived;
                    } else {
                        EXPECT_EQ(result, 1);
                        EXPECT_EQ(scene.frames.out.storage, scene.rendered);
                        through = true;
                    }
                }
                EXPECT_TRUE(through) << nameOf(fault);
            }
        }
    }
    // Every moveable allocation and lock, and at least a few news per call.
    EXPECT_GE(survived, 6 + 6 + 3 * 6);
    RecordProperty("faults_survived", survived);
    std::printf("render path: %d injected allocation faults, each returned 0 and left nothing\n",
                survived);
}

// The host's side of a setup call: two frames made beforehand, handed out
// without allocating, so that a failing new hits the module alone.
struct FakeHost {
    std::vector<uint8_t> frames[2];
    int calls = 0;
};
FakeHost* fakeHost = nullptr;

intptr_t GRANULIX_STDCALL serve(int32_t track, uint32_t, int32_t, int32_t operation) {
    ++fakeHost->calls;
    if (operation == abi::kFetchPrepare) return 1;
    if (operation != abi::kFetchFrame) return 0;
    return reinterpret_cast<intptr_t>(fakeHost->frames[track == abi::kTrackClipB ? 1 : 0].data());
}

std::vector<uint8_t> packedFrame(int32_t w, int32_t h, uint32_t seed) {
    std::vector<uint8_t> f = testing::frameHeader(w, h, 24);
    f.resize(40 + abi::hostRowBytes(uint64_t(w)) * uint64_t(h));
    for (size_t i = 40; i < f.size(); ++i) f[i] = uint8_t(i * seed + (i >> 8));
    return f;
}

// Plays the user: looks at `previews` frames, edits a field, answers.
class PlayedDialog : public SetupDialogRunner {
public:
    int32_t answer = 1;
    int previews = 2;
    int runs = 0, previewsShown = 0;
    bool throwInside = false;
    int32_t run(void*, RenderJob& job) override {
        ++runs;
        for (int i = 0; i < previews; ++i) {
            job.position = uint32_t(i * 7) % job.duration;
            previewsShown += job.fetchPreview(job.position, &job);
        }
        job.settings->gravity = 77;
        if (throwInside) throw std::bad_alloc();
        return answer;
    }
};

struct SetupScene {
    FakeHost host;
    std::vector<uint8_t> hostSettings;
    abi::SetupRequest request{};
    host::ModuleMemory memory;
    PlayedDialog dialog;

    SetupScene() {
        host.frames[0] = packedFrame(320, 240, 3);
        host.frames[1] = packedFrame(200, 150, 5);
        EffectSettings s{};
        fillDefaults(s);
        hostSettings.assign(reinterpret_cast<uint8_t*>(&s),
                            reinterpret_cast<uint8_t*>(&s) + sizeof s);
        request.frameCount = 30;
        request.fetch = serve;
        request.settings = hostSettings.data();
        fakeHost = &host;
    }
    ~SetupScene() { fakeHost = nullptr; }
    // The setup call as the export makes it: guarded.
    int32_t run() {
        return host::guarded([&] { return runSetupCall(request, 0, {memory, 0, dialog}); });
    }
};

TEST(SetupFaults, NoMemoryForEitherBlockOpensNoDialogAndLeavesTheHostAlone) {
    int survived = 0;
    for (const Fault fault : {Fault::kMoveableAllocation, Fault::kMoveableLock}) {
        for (uint32_t n = 1;; ++n) {
            SCOPED_TRACE(::testing::Message() << nameOf(fault) << " " << n);
            SetupScene scene;
            const std::vector<uint8_t> settings = scene.hostSettings;
            const Held before;
            arm(fault, n);
            const int32_t result = scene.run();
            disarmAll();
            EXPECT_EQ(Held(), before);
            EXPECT_EQ(currentSetupJob, nullptr);
            if (scene.dialog.runs == 1) {
                EXPECT_EQ(result, 1);
                EXPECT_EQ(scene.hostSettings[64], 77);  // gravity, edited and committed
                break;
            }
            ++survived;
            EXPECT_EQ(result, 0);
            EXPECT_EQ(scene.hostSettings, settings);
            EXPECT_EQ(scene.host.calls, 0);
            ASSERT_LT(n, 10u);
        }
    }
    EXPECT_EQ(survived, 4);  // two blocks, each allocated and locked
    std::printf("setup call: %d injected block faults, each returned 0 and left nothing\n",
                survived);
}

// A new that fails inside the preview's render costs that preview, never the
// dialog: the hook says 0, nothing is kept, and OK still commits the edits.
TEST(SetupFaults, NewFailingInAPreviewCostsThatPreviewOnly) {
    int survived = 0;
    for (uint32_t n = 1; n <= kMaxFaults; ++n) {
        SCOPED_TRACE(::testing::Message() << "operator new " << n);
        SetupScene scene;
        scene.dialog.previews = 1;
        const std::vector<uint8_t> frameA = scene.host.frames[0], frameB = scene.host.frames[1];
        const Held before;
        arm(Fault::kNew, n);
        const int32_t result = scene.run();
        const bool fired = !newFaultPending();
        disarmAll();
        EXPECT_EQ(Held(), before);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(scene.hostSettings[64], 77);
        EXPECT_EQ(scene.host.frames[0], frameA);
        EXPECT_EQ(scene.host.frames[1], frameB);
        if (!fired) {
            EXPECT_EQ(scene.dialog.previewsShown, 1);
            break;
        }
        EXPECT_EQ(scene.dialog.previewsShown, 0);
        ++survived;
    }
    EXPECT_GT(survived, 3);
    std::printf("setup call: %d injected new faults in the preview, each cost only that preview\n",
                survived);
}

TEST(SetupFaults, ADialogThatThrowsReturnsZeroAndGivesEverythingBack) {
    SetupScene scene;
    scene.dialog.throwInside = true;
    const std::vector<uint8_t> settings = scene.hostSettings;
    const Held before;
    EXPECT_EQ(scene.run(), 0);
    EXPECT_EQ(Held(), before);
    EXPECT_EQ(currentSetupJob, nullptr);
    EXPECT_EQ(scene.hostSettings, settings);
}

// Resident pages of this process, from /proc/self/statm (Linux).
int64_t residentPages() {
    std::ifstream statm("/proc/self/statm");
    int64_t size = 0, resident = -1;
    statm >> size >> resident;
    return resident;
}

// AddressSanitizer keeps freed memory in quarantine, so there the resident
// set grows whatever the code does; LeakSanitizer judges instead, at once.
void expectNoGrowth(int64_t growthKiB, int64_t boundKiB) {
#if defined(GRANULIX_ASAN)
    (void)growthKiB;
    (void)boundKiB;
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "LeakSanitizer found a leak";
#else
    EXPECT_LE(growthKiB, boundKiB);
#endif
}

// Growth of the resident set over `calls`, after `warmUp` calls have let the
// allocator settle.
template <typename Call>
int64_t growthInKiB(int warmUp, int calls, Call&& call) {
    for (int i = 0; i < warmUp; ++i) call(i);
    const int64_t before = residentPages();
    for (int i = 0; i < calls; ++i) call(i);
    const int64_t after = residentPages();
    return (after - before) * int64_t(sysconf(_SC_PAGESIZE)) / 1024;
}

constexpr int64_t kGrowthBoundKiB = 1024;

TEST(Soak, TenThousandRendersKeepNothing) {
    testing::HostFrames frames(48, 27, 9);
    EffectSettings settings = settingsFor(0);
    const Held before;
    int failures = 0;
    const int64_t growth = growthInKiB(200, 10000, [&](int i) {
        std::vector<uint8_t> record = frames.request(float(i % 101) / 100, &settings).encode();
        failures += vxDLLApplyEffect(1, record.data(), i % 3) != 1;
    });
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(Held(), before);
    EXPECT_LE(host::heldWorkBlocks(), 1) << "one caller needs one kept block";
    std::printf("10200 renders: resident set grew by %lld KiB\n", static_cast<long long>(growth));
    expectNoGrowth(growth, kGrowthBoundKiB);
}

TEST(Soak, HundredSetupCallsKeepNothing) {
    SetupScene scene;
    scene.dialog.previews = 3;
    const Held before;
    const int64_t growth = growthInKiB(5, 100, [&](int i) {
        scene.dialog.answer = i % 2 ? 1 : 2;
        scene.run();
    });
    EXPECT_EQ(scene.dialog.previewsShown, 3 * 105);
    EXPECT_EQ(Held(), before);
    EXPECT_EQ(currentSetupJob, nullptr);
    std::printf("105 setup calls: resident set grew by %lld KiB\n", static_cast<long long>(growth));
    expectNoGrowth(growth, kGrowthBoundKiB);
}

}  // namespace
}  // namespace granulix
