// The moveable memory layer (the platform's global memory on Windows, our own
// natively), its fault switch, and what the render path does when memory or
// the renderer fails: nothing written, nothing kept, nothing thrown.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>

#include "entry_points.h"
#include "export_guard.h"
#include "frame_conversion.h"
#include "module_host.h"
#include "moveable_memory.h"
#include "renderer.h"
#include "task_pool.h"
#include "work_block.h"
#include "work_frames.h"

namespace granulix::host {
namespace {

class MoveableMemory : public ::testing::Test {
protected:
    void SetUp() override {
        releaseHeldWorkBlocks();
        outstanding = outstandingBlocks();
    }
    void TearDown() override {
        failNthAllocation(0);
        failNthLock(0);
        releaseHeldWorkBlocks();
        EXPECT_EQ(outstandingBlocks(), outstanding) << "a block was not freed";
    }
    int64_t outstanding = 0;
};

TEST_F(MoveableMemory, AllocateLockUnlockFree) {
    MemoryHandle h = allocateMoveable(1000);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(outstandingBlocks(), outstanding + 1);
    auto* p = static_cast<unsigned char*>(lockMoveable(h));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(uint32_t), 0u);
    std::memset(p, 0xAB, 1000);
    // A second lock of a locked block yields the same address and content.
    auto* again = static_cast<unsigned char*>(lockMoveable(h));
    EXPECT_EQ(again, p);
    EXPECT_EQ(again[999], 0xAB);
    unlockMoveable(h);
    unlockMoveable(h);
    freeMoveable(h);
    EXPECT_EQ(outstandingBlocks(), outstanding);
}

TEST_F(MoveableMemory, RefusesWhatCannotBeHad) {
    EXPECT_EQ(allocateMoveable(0), nullptr);
    EXPECT_EQ(allocateMoveable(SIZE_MAX), nullptr);
    EXPECT_EQ(lockMoveable(nullptr), nullptr);
    unlockMoveable(nullptr);
    freeMoveable(nullptr);
}

TEST_F(MoveableMemory, SwitchFailsTheNthAllocationOnce) {
    failNthAllocation(3);
    MemoryHandle first = allocateMoveable(16), second = allocateMoveable(16);
    MemoryHandle third = allocateMoveable(16), fourth = allocateMoveable(16);
    EXPECT_NE(first, nullptr);
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(third, nullptr);
    EXPECT_NE(fourth, nullptr);
    for (MemoryHandle h : {first, second, fourth}) freeMoveable(h);
}

TEST_F(MoveableMemory, SwitchFailsTheNthLockOnce) {
    MemoryHandle h = allocateMoveable(16);
    ASSERT_NE(h, nullptr);
    failNthLock(2);
    EXPECT_NE(lockMoveable(h), nullptr);
    EXPECT_EQ(lockMoveable(h), nullptr);
    EXPECT_NE(lockMoveable(h), nullptr);
    unlockMoveable(h);
    unlockMoveable(h);
    freeMoveable(h);
}

TEST_F(MoveableMemory, LockedBlockReleasesWhatItGotOnEveryPath) {
    ModuleMemory memory;
    {
        LockedBlock block(memory);
        ASSERT_TRUE(block.acquire(64));
        EXPECT_NE(block.data(), nullptr);
        EXPECT_EQ(outstandingBlocks(), outstanding + 1);
    }
    EXPECT_EQ(outstandingBlocks(), outstanding);

    failNthLock(1);
    LockedBlock unlocked(memory);
    EXPECT_FALSE(unlocked.acquire(64)) << "allocated but could not lock";
    EXPECT_EQ(unlocked.data(), nullptr);
    EXPECT_EQ(outstandingBlocks(), outstanding);

    EXPECT_THROW(
        {
            LockedBlock block(memory);
            EXPECT_TRUE(block.acquire(64));
            throw std::bad_alloc();
        },
        std::bad_alloc);
    EXPECT_EQ(outstandingBlocks(), outstanding);
}

TEST_F(MoveableMemory, RenderPathWithoutMemoryWritesNothingAndKeepsNothing) {
    for (int32_t fieldMode : {0, 1}) {
        for (int fault = 0; fault < 2; ++fault) {
            testing::HostFrames frames(11, 7, 3);
            const std::vector<uint8_t> before = frames.out.storage;
            releaseHeldWorkBlocks();
            if (fault == 0) failNthAllocation(1);
            if (fault == 1) failNthLock(1);
            std::vector<uint8_t> record = frames.request(0.5f).encode();
            EXPECT_EQ(applyEffect(1, record.data(), fieldMode), 0);
            EXPECT_EQ(frames.out.storage, before) << "fault " << fault;
            EXPECT_EQ(outstandingBlocks(), outstanding) << "fault " << fault;
            // With the switch spent the same request renders.
            EXPECT_EQ(applyEffect(1, record.data(), fieldMode), 1);
            EXPECT_NE(frames.out.storage, before);
            // ... and keeps its block for the next call, and that block alone.
            EXPECT_EQ(heldWorkBlocks(), 1);
            // (The work frames, and where the renderer keeps its landings
            // when it shares the frame out among threads.)
            EffectSettings defaults{};
            fillDefaults(defaults);
            RenderJob job;
            job.duration = 65536;
            job.position = positionFromProgress(0.5f);
            job.width = 11;
            job.height = fieldMode == 0 ? 7 : 14;
            job.settings = &defaults;
            job.tasks = sharedTaskPool();
            EXPECT_EQ(heldWorkBytes(),
                      workBlockBytes(11, 7, fieldMode) + renderWorkspaceBytes(job));
            EXPECT_EQ(outstandingBlocks(), outstanding + 1);
        }
    }
}

TEST(ExportGuard, AnythingThrownBecomesZero) {
    EXPECT_EQ(guarded([] { return 1; }), 1);
    EXPECT_EQ(guarded([]() -> int32_t { throw std::bad_alloc(); }), 0);
    EXPECT_EQ(guarded([]() -> int32_t { throw std::runtime_error("no"); }), 0);
    EXPECT_EQ(guarded([]() -> int32_t { throw 7; }), 0);
}

}  // namespace
}  // namespace granulix::host
